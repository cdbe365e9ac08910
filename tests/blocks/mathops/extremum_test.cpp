// extremum: position and value of the maximum and minimum, ties, NaN, and
// modes that select no search.
#include <math.h>

#include "harness.h"

using namespace harness;

namespace {

double pick(axArray* mode, const std::vector<double>& u) {
  Block b("extremum", {mode});
  b.start(static_cast<int>(u.size()));
  return b.outputs(u)[0];
}
double pick(const char* mode, const std::vector<double>& u) { return pick(str(mode), u); }

TEST(Extremum, FirstOfEqualExtremesWins) {
  EXPECT_EQ(pick("max", {3, 7, 7, 1}), 1);
  EXPECT_EQ(pick("mav", {3, 7, 7, 1}), 7);
  EXPECT_EQ(pick("min", {3, 7, 1, 1}), 2);
  EXPECT_EQ(pick("miv", {3, 7, 1, 1}), 1);
  EXPECT_FALSE(signbit(pick("xiv", {0.0, -0.0})));  // -0 is not smaller than 0
}

TEST(Extremum, NaN) {
  EXPECT_EQ(pick("ma", {NAN, 5, 9}), 0);
  EXPECT_TRUE(isnan(pick("mav", {NAN, 5, 9})));
  EXPECT_EQ(pick("ma", {4, NAN, 9}), 2);
  EXPECT_EQ(pick("mi", {4, NAN, 9, -1, NAN}), 3);
}

TEST(Extremum, ModesWithoutSearch) {
  // Only the third character asks for the value; another second character,
  // or a single element, gives position 0 or u[0].
  EXPECT_EQ(pick("maxv", {1, 2}), 1);
  EXPECT_EQ(pick("mAv", {5, 9}), 5);
  EXPECT_EQ(pick("", {5, 9}), 0);
  EXPECT_EQ(pick("mav", {-3}), -3);
  EXPECT_EQ(pick("mi", {-3}), 0);
  // A parameter that is no character array selects no search: position 0.
  EXPECT_EQ(pick(row({109, 97, 118}), {5, 9}), 0);
}

TEST(Extremum, ModeChangesAtTheNextCall) {
  Block b("extremum", {str("mav")});
  b.start(3);
  EXPECT_EQ(b.outputs({2, 8, -4})[0], 8);
  b.setParam(0, str("miv"));
  EXPECT_EQ(b.outputs({2, 8, -4})[0], -4);
  // An empty input has nothing to select: y holds.
  Block e("extremum", {str("mav")});
  e.start(0);
  e.inst().y()[0] = 42;
  EXPECT_EQ(e.outputs({})[0], 42);
}

}  // namespace

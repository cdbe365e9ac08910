// wrapsum: the fold against one-width-at-a-time steps in extended precision,
// the bounds themselves, ranges that do not fold, empty parameters, and
// states that single steps would never fold.
#include <math.h>

#include "harness.h"

using namespace harness;

namespace {

typedef std::vector<double> Vec;

// The fold as defined: whole widths added, then subtracted, one at a time in
// extended precision, rounded once.
double steppedFold(double x, double lo, double hi) {
  const long double r = static_cast<long double>(hi) - lo;
  if (!(r > 0)) return x;
  long double v = x;
  while (v < lo) v += r;
  while (v > hi) v -= r;
  return static_cast<double>(v);
}

Block wrap(axArray* initial, axArray* lo, axArray* hi) { return Block("wrapsum", {initial, lo, hi}); }

// Starts the block, sets the state and runs one major-step update.
double fold(Block& b, double x) {
  b.setX({x});
  b.update({0});
  return b.x()[0];
}

TEST(Wrapsum, Interface) {
  Block b = wrap(num(0.5), num(0), num(1));
  Vec s = b.sizes();
  EXPECT_EQ(s[NumContStates], 1);
  EXPECT_EQ(s[NumDiscStates], 0);
  EXPECT_EQ(s[NumInputs], 1);
  EXPECT_EQ(s[NumOutputs], 1);
  EXPECT_EQ(s[DirFeedthrough], 0);
  EXPECT_EQ(s[NumSFcnParams], 3);
  EXPECT_EQ(s[NumPWork], 0);
  b.start();
  EXPECT_EQ(b.inst().sampleTimes()[0], 0.0);
  EXPECT_EQ(b.inst().offsetTimes()[0], 0.0);
  EXPECT_EQ(b.x(), Vec{0.5});
  // The output is the unfolded state; the derivative is the input.
  b.setX({1.75});
  EXPECT_EQ(b.outputs({-3}), Vec{1.75});
  b.setU({-3});
  ASSERT_TRUE(b.inst().derivatives().ok());
  EXPECT_EQ(b.inst().dx()[0], -3);
  b.update({-3});
  EXPECT_EQ(b.x(), Vec{0.75});
}

TEST(Wrapsum, FoldsLikeSingleSteps) {
  const struct {
    double lo, hi;
  } ranges[] = {{0, 1}, {0, 6.283185307179586}, {-3.141592653589793, 3.141592653589793}, {0.1, 0.7}, {-5, -4.9}};
  for (const auto& r : ranges) {
    Block b = wrap(num(0), num(r.lo), num(r.hi));
    b.start();
    const double w = r.hi - r.lo;
    for (int k = -400; k <= 400; ++k) {
      const double x = r.lo + w * (k / 37.0);  // up to about 11 widths away
      ASSERT_EQ(fold(b, x), steppedFold(x, r.lo, r.hi)) << x << " in [" << r.lo << ", " << r.hi << "]";
    }
  }
}

TEST(Wrapsum, CasesAtAndBeyondTheBounds) {
  Block b = wrap(num(0), num(0), num(1));
  b.start();
  EXPECT_EQ(fold(b, 1.25), 0.25);
  EXPECT_EQ(fold(b, -0.5), 0.5);
  EXPECT_EQ(fold(b, 3.5), 0.5);
  EXPECT_EQ(fold(b, 1.0), 1.0);  // both bounds belong to the range
  EXPECT_EQ(fold(b, 0.0), 0.0);
  EXPECT_EQ(fold(b, -1.0), 0.0);
  EXPECT_EQ(fold(b, 2.0), 1.0);
  EXPECT_EQ(fold(b, nextafter(1.0, 2.0)), 2.220446049250313e-16);
  EXPECT_EQ(fold(b, -1e-300), 1.0);  // the extended sum rounds to hi, not above

  Block two_pi = wrap(num(0), num(0), num(6.283185307179586));
  two_pi.start();
  EXPECT_NEAR(fold(two_pi, 7.0), 0.7168146928204138, 1e-15);

  // The width is exact in extended precision: the fold of −3 into
  // [0.1, 0.7] is −3 + 6·(hi − lo), rounded once.
  Block tenths = wrap(num(0), num(0.1), num(0.7));
  tenths.start();
  EXPECT_EQ(fold(tenths, -3), 0.59999999999999964);
}

TEST(Wrapsum, RangesThatDoNotFold) {
  const struct {
    axArray *lo, *hi;
  } cases[] = {{num(1), num(1)}, {num(2), num(1)}, {num(NAN), num(1)}, {num(0), num(NAN)}};
  for (const auto& c : cases) {
    Block b = wrap(num(0), c.lo, c.hi);
    b.start();
    EXPECT_EQ(fold(b, 123.5), 123.5);
    EXPECT_EQ(fold(b, -7), -7);
  }
}

TEST(Wrapsum, EmptyAndMissingParameters) {
  Block deg = wrap(empty(), empty(0, 3), num(360));
  deg.start();
  EXPECT_EQ(deg.x(), Vec{0.0});
  EXPECT_EQ(fold(deg, 370), 10);
  EXPECT_EQ(fold(deg, -10), 350);
  // No parameters at all: accepted, the state starts at 0 and never folds.
  Block none("wrapsum");
  EXPECT_EQ(none.sizes()[NumContStates], 1);
  none.start();
  EXPECT_EQ(none.x(), Vec{0.0});
  EXPECT_EQ(fold(none, 5), 5);
}

TEST(Wrapsum, BoundsEditedDuringRun) {
  Block b = wrap(num(0), num(0), num(1));
  b.start();
  EXPECT_EQ(fold(b, 2.5), 0.5);
  b.setParam(2, num(2));
  EXPECT_EQ(fold(b, 2.5), 0.5);  // now [0, 2]: one width of 2
}

TEST(Wrapsum, StatesSingleStepsWouldNeverFold) {
  Block b = wrap(num(0), num(0), num(1));
  b.start();
  // Far away but exact: the same result as the single steps would give.
  EXPECT_EQ(fold(b, 1e6 + 0.25), 0.25);
  EXPECT_EQ(fold(b, -1e6 - 0.25), 0.75);
  EXPECT_EQ(fold(b, 4e9), 1.0);
  EXPECT_EQ(fold(b, -4e9), 0.0);
  // So large that adding the width does not change it: folded into the range.
  for (double x : {1e300, -1e300, 1.7976931348623157e308, -1.7976931348623157e308}) {
    double v = fold(b, x);
    EXPECT_TRUE(v >= 0 && v <= 1) << x << " gave " << v;
  }
  Block tiny = wrap(num(0), num(0), num(1e-3));
  tiny.start();
  double v = fold(tiny, 1e20);
  EXPECT_TRUE(v >= 0 && v <= 1e-3) << v;
  // Infinite and NaN states stay as they are.
  EXPECT_EQ(fold(b, INFINITY), INFINITY);
  EXPECT_EQ(fold(b, -INFINITY), -INFINITY);
  EXPECT_TRUE(isnan(fold(b, NAN)));
}

}  // namespace

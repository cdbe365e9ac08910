// lookuprow: elementwise and row lookup with clamped indices, the shapes that
// choose the mode, and widths or tables that differ from what was sized.
#include <math.h>

#include "calls.h"

using namespace harness;

namespace {

const char* const kEmpty = "Input size must be a nonempty vector or matrix";

TEST(Lookuprow, VectorModeClampsEveryIndex) {
  Block b("lookuprow", {row({10, 20, 30})});
  std::vector<double> s = b.sizes();
  EXPECT_EQ(s[NumOutputs], -1);
  EXPECT_EQ(s[NumInputs], -1);
  EXPECT_EQ(s[NumIWork], 1);
  b.start(5);
  EXPECT_EQ(b.iwork(), (std::vector<int32_t>{1}));
  EXPECT_EQ(b.outputs({-1, 0, 1.9, 2, 7}), (Vec{10, 10, 20, 30, 30}));
  // NaN, -0.5 (truncates to 0), and values whose truncation does not fit in
  // an int, which count as negative whatever their sign.
  EXPECT_EQ(b.outputs({NAN, -0.5, 2147483647.0, 3e9, -INFINITY}), (Vec{10, 10, 30, 10, 10}));
}

TEST(Lookuprow, MatrixModeClampsTheRow) {
  Block b("lookuprow", {mat(3, 2, {1, 2, 3, 4, 5, 6})});
  std::vector<double> s = b.sizes();
  EXPECT_EQ(s[NumOutputs], 2);
  EXPECT_EQ(s[NumInputs], 1);
  b.start();
  EXPECT_EQ(b.iwork(), (std::vector<int32_t>{0}));
  struct Case {
    double index;
    Vec want;
  } cases[] = {{1.7, {3, 4}}, {-2, {1, 2}}, {9, {5, 6}}, {NAN, {1, 2}}, {2, {5, 6}}, {1e12, {1, 2}}};
  for (const Case& c : cases) EXPECT_EQ(b.outputs({c.index}), c.want) << c.index;
}

TEST(Lookuprow, VectorShapes) {
  // A single element, a row and a column are all vector tables.
  Block single("lookuprow", {num(4)});
  single.start(3);
  EXPECT_EQ(single.outputs({-5, 0, 5}), (Vec{4, 4, 4}));
  for (axArray* table : {row({1, 2, 3, 4, 5}), col({1, 2, 3, 4, 5})}) {
    Block b("lookuprow", {table});
    b.start(4);
    EXPECT_EQ(b.outputs({-1, 4, 3.5, 5}), (Vec{1, 5, 4, 5}));
  }
}

TEST(Lookuprow, ParameterMessages) {
  Block none("lookuprow");
  EXPECT_EQ(none.sizesError(), wrongCount(0, 1));
  for (axArray* table : {empty(), empty(0, 3), empty(3, 0)}) {
    Block b("lookuprow", {table});
    EXPECT_EQ(b.sizesError(), kEmpty);
  }
}

TEST(Lookuprow, OutputWidthOtherThanTheInputWidth) {
  // Narrower output: only the elements both vectors have are looked up.
  Block narrow("lookuprow", {row({10, 20, 30})});
  narrow.start(4, 2);
  EXPECT_EQ(narrow.outputs({2, 1, 0, 0}), (Vec{30, 20}));
  // Wider output: the outputs beyond the input width are left alone.
  Block wide("lookuprow", {row({10, 20, 30})});
  wide.start(2, 4);
  wide.inst().y()[2] = 42;
  EXPECT_EQ(wide.outputs({2, 1}), (Vec{30, 20, 42, 0}));
}

TEST(Lookuprow, TableEditedDuringTheRun) {
  Block vec("lookuprow", {row({10, 20, 30})});
  vec.start(2);
  vec.setParam(0, mat(2, 2, {1, 2, 3, 4}));  // the mode stays; 4 elements now
  EXPECT_EQ(vec.outputs({1, 9}), (Vec{3, 4}));
  vec.setParam(0, empty(1, 0));
  EXPECT_EQ(vec.outputsError({1, 9}), kEmpty);

  Block m("lookuprow", {mat(2, 2, {1, 2, 3, 4})});
  m.start();
  m.setParam(0, mat(2, 3, {1, 2, 3, 4, 5, 6}));  // a wider row is cut to the output
  EXPECT_EQ(m.outputs({1}), (Vec{4, 5}));
  m.setParam(0, mat(3, 1, {7, 8, 9}));  // a narrower row leaves the rest
  EXPECT_EQ(m.outputs({2}), (Vec{9, 5}));
  // A table sized as a vector but a matrix at start runs in matrix mode.
  Block late("lookuprow", {row({1, 2})});
  late.sizes();
  late.setParam(0, mat(2, 2, {1, 2, 3, 4}));
  late.start(0, 2);
  EXPECT_EQ(late.iwork(), (std::vector<int32_t>{0}));
  EXPECT_EQ(late.outputs({}), (Vec{0, 0}));  // no input element: no row number
}

}  // namespace

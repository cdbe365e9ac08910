// flatnoise: the listed sequence, (U − L)·u + L rounded once from extended
// precision, shared and per-element bounds, the parameter messages in order,
// the bound-order check at initialisation, and the draw condition (this
// source never raises ResetRequest).
#include <math.h>

#include "sourcetest.h"

using namespace harness;
using sourcetest::ReferenceUniform;

namespace {

typedef std::vector<double> Vec;

Block flatnoise(axArray* seeds, axArray* upper, axArray* lower, axArray* ts = num(1)) {
  return Block("flatnoise", {seeds, upper, lower, ts});
}

TEST(Flatnoise, ListedSequence) {
  Block b = flatnoise(num(1), num(1), num(-1));
  b.start();
  EXPECT_EQ(sourcetest::draws(b, 3),
            (std::vector<Vec>{{-0.9999843472614811}, {-0.7369244237136675}, {0.5112106443900664}}));
}

// Bounds for which rounding (U − L)·u to double before adding L would often
// give another result: the block must round once.
TEST(Flatnoise, RoundsOnceFromExtendedPrecision) {
  const double U = 1.0 / 3.0, L = -1e-3 / 7.0;
  Block b = flatnoise(row({17, 1e6}), num(U), num(L));
  b.start();
  ReferenceUniform refs[2] = {ReferenceUniform(17), ReferenceUniform(1000000)};
  double ahead[2] = {refs[0].next(), refs[1].next()};
  int doubleWouldDiffer = 0;
  for (int k = 0; k < 2000; ++k) {
    Vec y = b.outputs();
    for (int i = 0; i < 2; ++i) {
      const long double want = (static_cast<long double>(U) - L) * ahead[i] + L;
      ASSERT_EQ(y[i], static_cast<double>(want)) << "draw " << k;
      volatile double width = U - L;
      volatile double scaled = width * ahead[i];
      doubleWouldDiffer += scaled + L != y[i];
      ASSERT_GE(y[i], L);
      ASSERT_LE(y[i], U);
      ahead[i] = refs[i].next();
    }
  }
  EXPECT_GT(doubleWouldDiffer, 0);
}

TEST(Flatnoise, SharedAndPerElementBounds) {
  Block shared = flatnoise(row({1, 2, 3, 4}), num(10), num(5));
  shared.start();
  for (const Vec& y : sourcetest::draws(shared, 100))
    for (double v : y) {
      EXPECT_GT(v, 5.0);
      EXPECT_LT(v, 10.0);
    }
  Block own = flatnoise(row({1, 1}), row({1, 100}), row({0, 99}));
  own.start();
  for (const Vec& y : sourcetest::draws(own, 100)) EXPECT_NEAR(y[1] - 99.0, y[0], 1e-13);
  Block constant = flatnoise(row({3, 4}), num(-2.5), num(-2.5));
  constant.start();
  for (const Vec& y : sourcetest::draws(constant, 10)) EXPECT_EQ(y, (Vec{-2.5, -2.5}));
}

TEST(Flatnoise, ParameterMessagesInOrder) {
  EXPECT_EQ(Block("flatnoise", {num(1), num(1), num(0)}).sizesError(), wrongCount(3, 4));
  EXPECT_EQ(flatnoise(empty(), row({1, 2}), num(0), row({1, 1})).sizesError(), "Input variable is empty.");
  EXPECT_EQ(flatnoise(row({1, 2, 3}), row({1, 2}), num(0), row({1, 1})).sizesError(),
            "The dimension for the upbound and the low bound must be the same.");
  EXPECT_EQ(flatnoise(row({1, 2, 3}), row({1, 2}), row({0, 0}), row({1, 1})).sizesError(),
            "Dimension for boundaries must match the dimension for seeds.");
  EXPECT_EQ(flatnoise(row({1, 2, 3}), empty(), empty(), row({1, 1})).sizesError(),
            "Dimension for boundaries must match the dimension for seeds.");
  EXPECT_EQ(flatnoise(row({1, 2, 3}), col({1, 2, 3}), row({0, 0, 0}), row({1, 1})).sizesError(),
            "The sample time must be a scalar value.");
  // The bound order is checked after the seeds are set; a NaN passes.
  for (axArray* lower : {num(1), num(INFINITY)}) {
    Block b = flatnoise(row({1, 2}), num(0), lower);
    b.sizes();
    EXPECT_EQ(b.startError(), "Uniform random distribution lower bound cannot be larger than upper bound.");
    EXPECT_EQ(b.iwork(), (std::vector<int32_t>{16807, 33614}));
  }
  Block second = flatnoise(row({1, 2}), row({1, 1}), row({0, 2}));
  second.sizes();
  EXPECT_EQ(second.startError(), "Uniform random distribution lower bound cannot be larger than upper bound.");
  flatnoise(num(1), num(NAN), num(1)).start();
  flatnoise(num(1), num(0), num(NAN)).start();
}

TEST(Flatnoise, DrawConditionAndNoResetRequest) {
  Block b = flatnoise(num(1), num(1), num(-1));
  b.start();
  b.outputs();
  sourcetest::expectNoDraw(b, 0);
  EXPECT_EQ(b.outputs(), (Vec{-0.7369244237136675}));
  EXPECT_EQ(b.resetRequest(), 0);
}

// Bounds are read at every draw; a bound missing from an edited vector gives
// NaN for its element rather than a read past the parameter.
TEST(Flatnoise, BoundsEditedDuringRun) {
  Block b = flatnoise(row({1, 2}), row({1, 1}), row({0, 0}));
  b.start();
  b.outputs();
  b.setParam(1, num(200));
  b.setParam(2, num(100));
  for (double v : b.outputs()) {
    EXPECT_GT(v, 100.0);
    EXPECT_LT(v, 200.0);
  }
  b.setParam(1, row({1, 2}));
  b.setParam(2, num(0));
  Vec y = b.outputs();
  EXPECT_GT(y[0], 0.0);
  EXPECT_TRUE(isnan(y[1]));
}

}  // namespace

// diceroll: the listed sequences, per-element seeds and their fallbacks,
// agreement with an independent model (the standard engine and ⌊M·u⌋ in
// extended precision), the moments of the output, the parameter messages in
// order, the sample-time rule, the draw condition and ResetRequest.
#include <math.h>

#include "sourcetest.h"

using namespace harness;
using sourcetest::ReferenceUniform;

namespace {

typedef std::vector<double> Vec;

Block diceroll(axArray* seeds, axArray* m, axArray* ts = num(1)) { return Block("diceroll", {seeds, m, ts}); }

TEST(Diceroll, ListedSequences) {
  Block two = diceroll(row({1, 2}), num(6));
  two.start();
  EXPECT_EQ(sourcetest::draws(two, 4), (std::vector<Vec>{{0, 0}, {0, 1}, {4, 3}, {2, 5}}));

  Block fallback = diceroll(num(0), num(6));
  fallback.start();
  EXPECT_EQ(sourcetest::draws(fallback, 3), (std::vector<Vec>{{1}, {0}, {4}}));
}

TEST(Diceroll, SeedsPerElement) {
  Block same = diceroll(row({5, 5}), num(1000));
  same.start();
  for (const Vec& y : sourcetest::draws(same, 50)) EXPECT_EQ(y[0], y[1]);

  // Invalid seeds: each element gets the fallback seed plus its index.
  Block invalid = diceroll(mat(2, 3, {0, 2147483647, -3, 0.5, NAN, 2147483646.9}), num(1000));
  invalid.start();
  std::vector<int32_t> want;
  for (uint32_t i = 0; i < 5; ++i) {
    ReferenceUniform ref(sourcetest::kFallbackSeed + i);
    ref.next();
    want.push_back(ref.state());
  }
  want.push_back(2147466840);  // 2147483646.9 truncates to the largest seed
  // Storage order is column by column: 0, 0.5, 2147483647, NaN, -3, 2147483646.9.
  EXPECT_EQ(invalid.iwork(), (std::vector<int32_t>{want[0], want[1], want[2], want[3], want[4], want[5]}));

  Block zeros = diceroll(row({0, 0}), num(6));
  zeros.start();
  int differ = 0;
  for (const Vec& y : sourcetest::draws(zeros, 20)) differ += y[0] != y[1];
  EXPECT_GT(differ, 0);
}

// Multiple numbers per element, a fractional one, and a very large one,
// against the standard engine and ⌊M·u⌋ with a 64-bit significand.
TEST(Diceroll, AgreesWithIndependentModel) {
  const std::vector<double> seeds = {3, 7, 2147483000, 11};
  const std::vector<double> m = {6, 2.5, 1e15, 1e300};
  Block b = diceroll(row(seeds), row(m));
  b.start();
  std::vector<ReferenceUniform> refs;
  std::vector<double> ahead;
  for (double s : seeds) {
    refs.emplace_back(static_cast<uint32_t>(s));
    ahead.push_back(refs.back().next());
  }
  for (int k = 0; k < 2000; ++k) {
    Vec y = b.outputs();
    for (size_t i = 0; i < seeds.size(); ++i) {
      const long double product = static_cast<long double>(m[i]) * ahead[i];
      ASSERT_EQ(y[i], static_cast<double>(floorl(product))) << "draw " << k << " element " << i;
      ASSERT_LT(y[i], m[i]);
      ahead[i] = refs[i].next();
      ASSERT_EQ(b.iwork()[i], refs[i].state());
    }
  }
}

// 20000 draws of M = 6: mean 2.5 (standard error 0.012) and variance 35/12
// (standard error 0.018), each within about four standard errors.
TEST(Diceroll, MeanAndVariance) {
  Block b = diceroll(num(1), num(6));
  b.start();
  sourcetest::Moments mo = sourcetest::momentsOf(b, 20000);
  EXPECT_NEAR(mo.mean, 2.5, 0.05);
  EXPECT_NEAR(mo.variance, 35.0 / 12.0, 0.08);

  // M = 2.5: 0 and 1 each with probability 0.4, 2 with 0.2.
  Block frac = diceroll(num(9), num(2.5));
  frac.start();
  int counts[3] = {0, 0, 0};
  for (int k = 0; k < 20000; ++k) ++counts[static_cast<int>(frac.outputs()[0])];
  EXPECT_NEAR(counts[0] / 20000.0, 0.4, 0.015);
  EXPECT_NEAR(counts[1] / 20000.0, 0.4, 0.015);
  EXPECT_NEAR(counts[2] / 20000.0, 0.2, 0.015);
}

TEST(Diceroll, ParameterMessagesInOrder) {
  EXPECT_EQ(Block("diceroll", {num(1), num(6), num(1), num(1)}).sizesError(), wrongCount(4, 3));
  EXPECT_EQ(Block("diceroll").sizesError(), wrongCount(0, 3));
  EXPECT_EQ(diceroll(empty(0, 3), row({2, 3}), row({1, 1})).sizesError(), "Input variable is empty.");
  EXPECT_EQ(diceroll(row({1, 2, 3}), row({2, 3}), row({1, 1})).sizesError(),
            "Dimension for boundaries must match the dimension for seeds.");
  EXPECT_EQ(diceroll(row({1, 2, 3}), empty(), num(1)).sizesError(),
            "Dimension for boundaries must match the dimension for seeds.");
  EXPECT_EQ(diceroll(row({1, 2, 3}), col({2, 3, 4}), row({1, 1})).sizesError(),
            "The sample time must be a scalar value.");
  EXPECT_EQ(diceroll(row({1, 2, 3}), col({2, 3, 4}), empty()).sizesError(),
            "The sample time must be a scalar value.");
  // The multiple numbers are checked after the seeds are set.
  for (axArray* m : {num(1), num(0.5), row({6, 1}), row({-INFINITY, 6})}) {
    Block b = diceroll(row({1, 2}), m);
    b.sizes();
    EXPECT_EQ(b.startError(), "Multiple number must be greater than 1.");
    EXPECT_EQ(b.iwork()[1], 33614);
  }
  Block nan = diceroll(num(1), num(NAN));
  nan.start();
}

TEST(Diceroll, SizesAndSampleTimes) {
  Block b = diceroll(mat(2, 2, {1, 2, 3, 4}), num(6), num(-1));
  std::vector<double> s = b.sizes();
  EXPECT_EQ(s[NumOutputs], 4);
  EXPECT_EQ(s[NumInputs], 0);
  EXPECT_EQ(s[DirFeedthrough], 0);
  EXPECT_EQ(s[NumSampleTimes], 1);
  EXPECT_EQ(s[NumSFcnParams], 3);
  EXPECT_EQ(s[NumIWork], 4);
  EXPECT_EQ(s[NumRWork], 4);
  EXPECT_EQ(s[NumPWork], 0);
  b.start();
  EXPECT_EQ(b.inst().sampleTimes()[0], -1.0);
  EXPECT_EQ(b.inst().offsetTimes()[0], 1.0);
  for (double ts : {0.25, -2.0, 0.0}) {
    Block c = diceroll(num(1), num(6), num(ts));
    c.start();
    EXPECT_EQ(c.inst().sampleTimes()[0], ts);
    EXPECT_EQ(c.inst().offsetTimes()[0], 0.0);
  }
}

// No draw in a minor step or without a hit: y, seeds and the drawn-ahead
// samples stay, and ResetRequest is raised only by draws.
TEST(Diceroll, DrawConditionAndResetRequest) {
  Block b = diceroll(row({1, 2}), num(6));
  b.start();
  EXPECT_EQ(b.resetRequest(), 0);
  EXPECT_EQ(b.outputs(), (Vec{0, 0}));
  EXPECT_EQ(b.resetRequest(), 1);
  sourcetest::expectNoDraw(b, 0);
  EXPECT_EQ(sourcetest::draws(b, 3), (std::vector<Vec>{{0, 1}, {4, 3}, {2, 5}}));
}

// M is read at every draw. A value with no largest whole number below it
// (+∞), none at all (NaN, ≤ 0) or missing (an edited vector of the wrong
// length) leaves that output as it was; the element's sequence still
// advances.
TEST(Diceroll, MultipleNumbersEditedDuringRun) {
  Block b = diceroll(row({1, 2}), num(6));
  b.start();
  b.outputs();
  b.setParam(1, row({60, INFINITY}));
  EXPECT_EQ(b.outputs(), (Vec{7, 0}));  // ⌊60 · 0.1315…⌋; +∞ holds the 0
  for (axArray* m : {row({NAN, 6}), row({-1, 6}), row({0, 6}), row({6, 6, 6}), empty()}) {
    b.setParam(1, m);
    b.outputs();
  }
  b.setParam(1, num(6));
  // Seeds advanced once per call: the sequence resumes at the seventh draw.
  Block ref = diceroll(row({1, 2}), num(6));
  ref.start();
  std::vector<Vec> all = sourcetest::draws(ref, 8);
  EXPECT_EQ(b.outputs(), all[7]);
  EXPECT_EQ(b.iwork(), ref.iwork());
}

}  // namespace

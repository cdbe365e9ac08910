// coinflip: the listed draw sequences, the distribution of the number and the
// positions of the ones, how many generator numbers a draw consumes, the
// parameter checks through ErrorStatus (from the sizes call and the
// parameter-check flag), the sample-time attribute bit and the draw
// condition.
#include <math.h>

#include "sourcetest.h"

using namespace harness;
using sourcetest::ReferenceUniform;

namespace {

typedef std::vector<double> Vec;

Block coinflip(axArray* n, axArray* p, axArray* seed, axArray* ts = num(1)) {
  return Block("coinflip", {n, p, seed, ts});
}

int32_t seedOf(Block& b) { return b.iwork().back(); }

TEST(Coinflip, ListedSequences) {
  Block half = coinflip(num(2), num(0.5), num(1));
  half.start();
  EXPECT_EQ(sourcetest::draws(half, 4), (std::vector<Vec>{{1, 0}, {1, 0}, {0, 1}, {0, 0}}));

  Block three = coinflip(num(4), row({0, 0, 1}), num(1));
  three.start();
  EXPECT_EQ(sourcetest::draws(three, 3), (std::vector<Vec>{{1, 1, 1, 0}, {1, 1, 0, 1}, {1, 1, 1, 0}}));

  Block all = coinflip(num(3), col({0, 0, 1}), num(77));
  all.start();
  for (const Vec& y : sourcetest::draws(all, 20)) EXPECT_EQ(y, (Vec{1, 1, 1}));

  // What the three placement passes of the first draw above leave in the
  // work vectors (they set positions 0, 2 and 1): the last free list (1, 3)
  // with the slots the earlier, longer lists wrote after it, and the
  // thresholds i / k of each pass where no later pass wrote over them.
  Block work = coinflip(num(4), row({0, 0, 1}), num(1));
  work.start();
  work.outputs();
  const std::vector<int32_t> iw = work.iwork();
  EXPECT_EQ(std::vector<int32_t>(iw.begin() + 4, iw.begin() + 8), (std::vector<int32_t>{1, 3, 3, 3}));
  const Vec rw = work.rwork();
  EXPECT_EQ(Vec(rw.begin() + 5, rw.begin() + 9), (Vec{0.0, 1.0 / 2.0, 2.0 / 3.0, 3.0 / 4.0}));
}

// A draw with j ones takes j + 1 numbers; initialisation takes one.
TEST(Coinflip, DrawsConsumeOneNumberPerOnePlusOne) {
  struct Case {
    double n;
    std::vector<double> p;
    double seed;
  } cases[] = {{5, {0.2, 0.1, 0.3, 0.1, 0.2}, 12345}, {1, {0.5}, 2147483646}, {3, {0}, 7}, {2, {0, 0}, 99}};
  for (const Case& c : cases) {
    Block b = coinflip(num(c.n), row(c.p), num(c.seed));
    b.start();
    ReferenceUniform ref(static_cast<uint32_t>(c.seed));
    ref.next();
    ASSERT_EQ(seedOf(b), ref.state());
    for (int k = 0; k < 300; ++k) {
      Vec y = b.outputs();
      int ones = 0;
      for (double v : y) {
        ASSERT_TRUE(v == 0.0 || v == 1.0);
        ones += v == 1.0;
      }
      for (int j = 0; j <= ones; ++j) ref.next();
      ASSERT_EQ(seedOf(b), ref.state()) << "draw " << k;
    }
  }
}

// The count of ones follows p; a position is 1 equally often whatever the
// count. 20000 draws: the standard error of a frequency is below 0.0036, the
// tolerance about four times that.
TEST(Coinflip, CountAndPositionDistribution) {
  const Vec p = {0.1, 0.2, 0.3, 0.15};
  Block b = coinflip(num(4), row(p), num(2024));
  b.start();
  const int N = 20000;
  std::vector<int> byCount(5, 0);
  std::vector<std::vector<int>> positions(5, std::vector<int>(4, 0));
  for (int k = 0; k < N; ++k) {
    Vec y = b.outputs();
    int ones = 0;
    for (double v : y) ones += v == 1.0;
    ++byCount[ones];
    for (int l = 0; l < 4; ++l) positions[ones][l] += y[l] == 1.0;
  }
  EXPECT_NEAR(byCount[0] / static_cast<double>(N), 0.25, 0.015);
  for (int j = 1; j <= 4; ++j) {
    EXPECT_NEAR(byCount[j] / static_cast<double>(N), p[j - 1], 0.015) << j << " ones";
    for (int l = 0; l < 4; ++l)
      EXPECT_NEAR(positions[j][l] / static_cast<double>(byCount[j]), j / 4.0, 0.04)
          << j << " ones, position " << l;
  }
}

TEST(Coinflip, SizesAndSampleTime) {
  Block b = coinflip(num(3.9), row({0.25, 0.25}), num(5), num(0.125));
  std::vector<double> s = b.sizes();
  EXPECT_EQ(s[NumOutputs], 3);
  EXPECT_EQ(s[NumInputs], 0);
  EXPECT_EQ(s[DirFeedthrough], 0);
  EXPECT_EQ(s[NumSampleTimes], 1);
  EXPECT_EQ(s[NumSFcnParams], 4);
  EXPECT_EQ(s[NumIWork], 10);
  EXPECT_EQ(s[NumRWork], 8);
  EXPECT_EQ(s[NumPWork], 0);
  b.start();
  EXPECT_EQ(b.inst().sampleTimes()[0], 0.125);
  EXPECT_EQ(b.inst().offsetTimes()[0], 0.0);
}

// Every check in its order: each rung mends the failing parameter just enough
// for the next check to fail.
TEST(Coinflip, ParameterChecksInOrder) {
  Block b = coinflip(empty(), empty(), empty(), empty());
  struct Rung {
    size_t param;
    axArray* value;
    const char* message;
  } rungs[] = {
      {0, empty(), "Output vector length not defined"},
      {0, row({1, 2}), "Output vector length must be specified as a scalar"},
      {0, num(0.9), "Output vector length must be greater than zero"},
      {0, num(NAN), "Output vector length must be greater than zero"},
      {0, num(3e9), "Output vector length must be greater than zero"},
      {0, num(2.7), "Probability vector length not defined"},
      {1, mat(2, 2, {0.1, 0.1, 0.1, 0.1}), "Probability parameter may be a scalar or vector NOT a matrix"},
      {1, row({-0.1, 2}), "Elements of the probability vector must be >= 0"},
      {1, row({0.7, 0.6}), "Sum of probability vector must not be less than zero or greater than one"},
      {1, row({0.5, INFINITY}), "Sum of probability vector must not be less than zero or greater than one"},
      {1, col({0.5, 0.5}), "Seed not defined"},
      {2, row({1, 2}), "Seed must be specified as a scalar"},
      {2, num(0.5), "Seed must be > 0"},
      {2, num(-4), "Seed must be > 0"},
      {2, num(1), "Sample time not defined"},
      {3, col({1, 1}), "Sample time must be specified as a scalar"},
      {3, num(0), "Sample time must be > 0"},
      {3, num(-1), "Sample time must be > 0"},
      {3, num(0.5), ""},
      // Checks added beyond the others: a length whose work vectors would not
      // fit in an int, and more probabilities than outputs.
      {0, num(715827882), "Output vector length must not exceed 715827881"},
      {0, num(1), "Probability vector length must not exceed the output vector length"},
  };
  for (const Rung& r : rungs) {
    b.setParam(r.param, r.value);
    EXPECT_EQ(b.sizesStatus(), r.message);
    EXPECT_EQ(b.ctx().SizesVector[NumOutputs], *r.message ? 0 : 2) << r.message;
  }
  b.setParam(0, num(2));
  b.sizes();
  // The added checks come last: an earlier failure still wins.
  Block both = coinflip(num(1), row({0.5, 0.1}), num(0.5));
  EXPECT_EQ(both.sizesStatus(), "Seed must be > 0");
}

TEST(Coinflip, AcceptedEdgeValues) {
  for (axArray* p : {row({0.2, 0.3, 0.5}), col({0.2, 0.3, 0.5}), num(NAN), num(0)}) {
    Block b = coinflip(num(3), p, num(2147483647), num(NAN));
    EXPECT_EQ(b.sizes()[NumOutputs], 3);
    b.start();
    EXPECT_EQ(seedOf(b), 470211272);  // the fallback seed, advanced once
  }
  Block top = coinflip(num(2), num(0.5), num(2147483646));
  top.start();
  EXPECT_EQ(seedOf(top), 2147466840);
  // Above the largest seed by a fraction is above it all the same.
  Block above = coinflip(num(2), num(0.5), num(2147483646.5));
  above.start();
  EXPECT_EQ(seedOf(above), 470211272);
  // A NaN probability never counts a one.
  Block nan = coinflip(num(2), num(NAN), num(3));
  nan.start();
  for (const Vec& y : sourcetest::draws(nan, 10)) EXPECT_EQ(y, (Vec{0, 0}));
}

TEST(Coinflip, ParameterCheckFlagAfterHostSizes) {
  Block b = coinflip(num(2), num(0.5), num(1));
  b.start();
  expectOk(b.inst().direct(FlagCheckParameters));
  b.setParam(1, row({0.7, 0.6}));
  blocksim::CallResult r = b.inst().direct(FlagCheckParameters);
  EXPECT_FALSE(r.failed);
  ASSERT_NE(r.status, nullptr);
  EXPECT_STREQ(r.status, "Sum of probability vector must not be less than zero or greater than one");
  b.setParam(1, num(0.25));
  expectOk(b.inst().direct(FlagCheckParameters));

  // The other sources install no parameter check.
  Block other("diceroll", {num(1), num(6), num(1)});
  other.start();
  r = other.inst().direct(FlagCheckParameters);
  ASSERT_NE(r.status, nullptr);
  EXPECT_STREQ(r.status, "Unexpected call to mdlCheckParameters");
}

TEST(Coinflip, SampleTimeAttributeBit) {
  Block b = coinflip(num(2), num(0.5), num(1));
  b.ctx().SFcnParamAttributes[3] = 0x10;
  b.sizes();
  EXPECT_EQ(b.ctx().SFcnParamAttributes[3], 0x11u);
  EXPECT_EQ(b.ctx().SFcnParamAttributes[0] | b.ctx().SFcnParamAttributes[1] | b.ctx().SFcnParamAttributes[2], 0u);

  // A wrong count marks the word all the same, sets NumSFcnParams alone and
  // reports nothing.
  Block five("coinflip", {num(2), num(0.5), num(1), num(1), num(1)});
  EXPECT_EQ(five.sizesStatus(), "");
  EXPECT_EQ(five.ctx().SFcnParamAttributes[3], 1u);
  EXPECT_EQ(five.ctx().SFcnParamAttributes[4], 0u);
  for (int i = 0; i <= NumPWork; ++i) EXPECT_EQ(five.ctx().SizesVector[i], i == NumSFcnParams ? 4 : 0) << i;

  // Three parameters have three words: the fourth is not the block's.
  Block three("coinflip", {num(2), num(0.5), num(1)});
  uint32_t words[4] = {0, 0, 0, 0};
  three.ctx().SFcnParamAttributes = words;
  EXPECT_EQ(three.sizesStatus(), "");
  EXPECT_EQ(words[3], 0u);
  EXPECT_EQ(three.ctx().SizesVector[NumSFcnParams], 4);

  // A command-line call has no attribute array at all.
  Block cmd = coinflip(num(2), num(0.5), num(1));
  expectOk(cmd.inst().sizesCall(true));
  EXPECT_EQ(cmd.inst().sizes()[NumOutputs], 2);
  EXPECT_EQ(cmd.ctx().SFcnParamAttributes[3], 0u);  // the host's own array is untouched
}

// No draw in a minor step or without a hit: y, the seed and the work vectors
// stay, and ResetRequest is raised only by draws.
TEST(Coinflip, DrawConditionAndResetRequest) {
  Block b = coinflip(num(2), num(0.5), num(1));
  b.start();
  EXPECT_EQ(b.resetRequest(), 0);
  EXPECT_EQ(b.outputs(), (Vec{1, 0}));
  EXPECT_EQ(b.resetRequest(), 1);
  sourcetest::expectNoDraw(b, 0);
  EXPECT_EQ(sourcetest::draws(b, 3), (std::vector<Vec>{{1, 0}, {0, 1}, {0, 0}}));
  EXPECT_EQ(b.resetRequest(), 1);
}

// Probabilities edited during the run take effect at the next draw. A shorter
// vector starts its tail sums from 0, not from a tail sum of the longer one;
// a vector longer than n has its excess left out.
TEST(Coinflip, ProbabilitiesEditedDuringRun) {
  Block b = coinflip(num(2), row({0.5, 0.5}), num(3));
  b.start();
  for (const Vec& y : sourcetest::draws(b, 20)) EXPECT_GE(y[0] + y[1], 1.0);
  b.setParam(1, num(0));
  for (const Vec& y : sourcetest::draws(b, 50)) EXPECT_EQ(y, (Vec{0, 0}));
  b.setParam(1, row({0, 0, 1}));
  for (const Vec& y : sourcetest::draws(b, 20)) EXPECT_EQ(y, (Vec{0, 0}));
  b.setParam(1, row({0, 1}));
  for (const Vec& y : sourcetest::draws(b, 20)) EXPECT_EQ(y, (Vec{1, 1}));
}

}  // namespace

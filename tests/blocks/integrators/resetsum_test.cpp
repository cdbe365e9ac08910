// resetsum: the integrate-and-dump sequence, reset timing with an offset and
// with host times off the reset instant, the modulo with the sign of the
// integral, the sample times and every parameter message.
#include <math.h>
#include <stdint.h>

#include "harness.h"

using namespace harness;

namespace {

typedef std::vector<double> Vec;

// Runs outputs and update at each time with input u and returns the outputs:
// each shows the integral after the previous step's update.
std::vector<Vec> run(Block& b, const Vec& times, const Vec& u) {
  std::vector<Vec> ys;
  for (double t : times) {
    b.t(t);
    ys.push_back(b.outputs());
    b.update(u);
  }
  return ys;
}

Vec column(const std::vector<Vec>& ys, size_t i) {
  Vec c;
  for (const Vec& y : ys) c.push_back(y[i]);
  return c;
}

TEST(Resetsum, IntegrateAndDump) {
  Block b("resetsum", {num(1), num(0.25), num(INFINITY)});
  Vec s = b.sizes();
  EXPECT_EQ(s[NumInputs], -1);
  EXPECT_EQ(s[NumOutputs], -1);
  EXPECT_EQ(s[NumDiscStates], -1);
  EXPECT_EQ(s[DirFeedthrough], 0);
  EXPECT_EQ(s[NumSampleTimes], 2);
  EXPECT_EQ(s[NumIWork], 1);
  EXPECT_EQ(s[NumRWork], 2);
  b.start(2);
  EXPECT_EQ(b.inst().sampleTimes()[0], 0.25);
  EXPECT_EQ(b.inst().sampleTimes()[1], 1.0);
  Vec times;
  for (int k = 0; k <= 10; ++k) times.push_back(0.25 * k);
  std::vector<Vec> ys = run(b, times, {1, -2});
  EXPECT_EQ(column(ys, 0), (Vec{0, 0.25, 0.5, 0.75, 1.0, 0.25, 0.5, 0.75, 1.0, 0.25, 0.5}));
  EXPECT_EQ(column(ys, 1), (Vec{0, -0.5, -1, -1.5, -2, -0.5, -1, -1.5, -2, -0.5, -1}));
  EXPECT_EQ(b.iwork()[0], 3);  // resets at t = 0, 1 and 2
}

TEST(Resetsum, ResetOffsetDelaysTheStart) {
  Block b("resetsum", {row({1, 0.5}), num(0.25), num(INFINITY)});
  b.start(1);
  EXPECT_EQ(b.inst().offsetTimes()[1], 0.5);
  Vec times;
  for (int k = 0; k <= 9; ++k) times.push_back(0.25 * k);
  // Nothing before t = 0.5; resets at 0.5 and 1.5.
  EXPECT_EQ(column(run(b, times, {1}), 0), (Vec{0, 0, 0, 0.25, 0.5, 0.75, 1.0, 0.25, 0.5, 0.75}));
}

TEST(Resetsum, ResetTimingOffTheInstant) {
  Block b("resetsum", {num(1), num(0.25), num(INFINITY)});
  b.start(1);
  // A host time just short of the reset instant still resets, since the
  // integrated time (which starts at 1e-9 after a reset) reaches the reset
  // time; the integral restarts with that shorter step, and the time rule
  // does not reset again at t = 1.25.
  const double h = (1 - 5e-10) - 0.75;
  std::vector<Vec> ys = run(b, {0, 0.25, 0.5, 0.75, 1 - 5e-10, 1.25, 1.5}, {1});
  EXPECT_EQ(ys[4][0], 1.0);
  EXPECT_EQ(ys[5][0], h);
  EXPECT_EQ(ys[6][0], h + 0.25);
  EXPECT_EQ(b.iwork()[0], 2);
  // Updates missed for a while: the step is at most Ts, and every update
  // resets until the count catches up with the reset instants.
  ys = run(b, {3.1, 3.35, 3.6, 4.05, 4.3}, {1});
  EXPECT_EQ(b.iwork()[0], 5);  // resets at 3.1 (k = 2), 3.35 (k = 3) and 4.05
  EXPECT_EQ(ys[1][0], 0.25);
  EXPECT_EQ(ys[2][0], 0.25);
  EXPECT_EQ(ys[3][0], 0.5);
  EXPECT_EQ(ys[4][0], 0.25);  // 4.05 − 3.6 is cut to Ts
}

TEST(Resetsum, ModuloKeepsTheSignOfTheIntegral) {
  Block b("resetsum", {num(10), num(1), num(1)});
  Vec s = b.sizes();
  EXPECT_EQ(s[NumSampleTimes], 2);
  b.start(2);
  Vec times;
  for (int k = 0; k <= 11; ++k) times.push_back(k);
  std::vector<Vec> ys = run(b, times, {0.3, -0.3});
  double want = 0;
  for (int k = 1; k <= 11; ++k) {
    // Reset at t = 0 and t = 10: the integral restarts with one step.
    want = (k == 1 || k == 11) ? 0.3 : fmod(want + 0.3, 1.0);
    EXPECT_EQ(ys[k][0], want) << k;
    EXPECT_EQ(ys[k][1], -want) << k;
  }
  EXPECT_NEAR(ys[4][0], 0.2, 1e-15);
}

TEST(Resetsum, MinorStepsAndLateStartsLeaveThingsAlone) {
  Block b("resetsum", {num(1), num(0.5), num(INFINITY)});
  b.start(1);
  run(b, {0, 0.5}, {2});
  b.t(1);
  b.major(false);
  b.inst().y()[0] = -7;
  EXPECT_EQ(b.outputs()[0], -7);  // y is not written outside major steps
  b.major(true);
  EXPECT_EQ(b.outputs()[0], 2);
  // Initial conditions at a later time do nothing.
  Vec x = b.x();
  b.t(1.5);
  ASSERT_TRUE(b.inst().direct(FlagInitializeConditions).ok());
  EXPECT_EQ(b.x(), x);
  // The reset count stops at the largest int.
  b.inst().iwork()[0] = INT32_MAX;
  b.update({1});
  EXPECT_EQ(b.iwork()[0], INT32_MAX);
}

TEST(Resetsum, SampleTimes) {
  // Sample time 0: one sample time (0, 0) and a step h of 0.
  Block zero("resetsum", {num(1), num(0), num(INFINITY)});
  EXPECT_EQ(zero.sizes()[NumSampleTimes], 1);
  zero.start(1);
  EXPECT_EQ(zero.inst().numSampleTimes(), 1);
  EXPECT_EQ(zero.inst().sampleTimes()[0], 0.0);
  std::vector<Vec> ys = run(zero, {0, 0.5, 1, 1.5}, {3});
  EXPECT_EQ(column(ys, 0), (Vec{0, 0, 0, 0}));
  // Equal reset and sample times pass; a ratio of 1e-9 already needs two.
  Block equal("resetsum", {num(2), row({2, 0.5}), num(INFINITY)});
  EXPECT_EQ(equal.sizes()[NumSampleTimes], 2);
  equal.start(1);
  EXPECT_EQ(equal.inst().offsetTimes()[0], 0.5);
  EXPECT_EQ(Block("resetsum", {num(1), num(1e-9), num(INFINITY)}).sizes()[NumSampleTimes], 2);
  EXPECT_EQ(Block("resetsum", {num(1), num(0.99e-9), num(INFINITY)}).sizes()[NumSampleTimes], 1);
  // A reset time of 0 is not divided by: 0/0 counts as NaN (two), −1/0 as −∞.
  EXPECT_EQ(Block("resetsum", {num(0), num(0), num(INFINITY)}).sizes()[NumSampleTimes], 2);
  EXPECT_EQ(Block("resetsum", {num(0), num(-1), num(INFINITY)}).sizes()[NumSampleTimes], 1);
}

TEST(Resetsum, ParameterMessages) {
  Block two("resetsum", {num(1), num(1)});
  EXPECT_EQ(two.sizesError(), wrongCount(2, 3));
  struct Case {
    axArray *reset, *sample, *modulo;
    const char* message;
  } cases[] = {
      {row({1, 2, 3}), num(1), num(1), "The reset time must be a scalar or a vector of length 2"},
      {empty(), num(1), num(1), "The reset time must be a scalar or a vector of length 2"},
      {num(1), empty(), num(1), "The sample time must be a scalar or a vector of length 2"},
      {num(1), num(1), row({2, 3}), "The modulo number must be a scalar value."},
      {num(1), num(1), num(0), "The modulo number can be positive number only."},
      {num(1), num(1), num(-1), "The modulo number can be positive number only."},
      {num(1), num(1), num(NAN), "The modulo number can be positive number only."},
      {num(1), num(2), num(1), "The reset interval cannot be smaller than the sample time."},
  };
  for (const Case& c : cases) {
    Block b("resetsum", {c.reset, c.sample, c.modulo});
    EXPECT_EQ(b.sizesError(), c.message);
  }
}

TEST(Resetsum, WidthsAndEditedParameters) {
  Block b("resetsum", {num(1), num(0.5), num(INFINITY)});
  EXPECT_EQ(b.startError(3, 2), "The input, output and state widths must be equal (input 3, output 2, states 3).");
  Block c("resetsum", {num(1), num(0.5), num(INFINITY)});
  c.start(2);
  c.setParam(0, empty());
  EXPECT_EQ(c.inst().update().error, "The reset time must be a scalar or a vector of length 2");
}

}  // namespace

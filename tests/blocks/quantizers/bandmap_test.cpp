// bandmap and bandmaptimed: index and codebook value at and between
// boundaries, the running mean squared error against an extended-precision
// model, the enable input, the checks and the sample time.
#include <math.h>

#include "harness.h"

using namespace harness;

namespace {

typedef std::vector<double> V;

Block bandmap(double n, axArray* partition, axArray* codebook) {
  return Block("bandmap", {num(n), partition, codebook});
}

V slice(const V& v, size_t from, size_t count) { return V(v.begin() + from, v.begin() + from + count); }

TEST(Bandmap, IndexAndValueAtAndBetweenBoundaries) {
  Block b = bandmap(8, row({0, 1}), row({-1, 0.5, 2}));
  b.start();
  V y = b.outputs({-3, 0, 0.25, 1, 1.0001, NAN, -INFINITY, INFINITY, 1.0});
  // A value on a boundary takes the lower interval; NaN takes index 0.
  EXPECT_EQ(slice(y, 0, 8), (V{0, 0, 1, 1, 2, 0, 0, 2}));
  EXPECT_EQ(slice(y, 8, 8), (V{-1, -1, 0.5, 0.5, 2, -1, -1, 2}));
  // An unsorted partition: the search stops at the first boundary not exceeded.
  Block u = bandmap(1, row({1, 0}), row({10, 20, 30}));
  u.start();
  EXPECT_EQ(u.outputs({0.5, 1})[0], 0);
}

TEST(Bandmap, RunningMeanInExtendedPrecision) {
  // Errors 1 then 3 (squares 1 and 9): mean 5.
  Block b = bandmap(1, row({100}), row({0, 0}));
  b.start();
  EXPECT_EQ(b.outputs({1, 1})[2], 1);
  EXPECT_EQ(b.outputs({3, 1})[2], 5);
  // u - q = 2^53 + 1 is exact only in extended precision: its square rounds
  // to 2^106 + 2^54, a double difference would give 2^106.
  Block x = bandmap(1, row({0}), row({-1, -1}));
  x.start();
  EXPECT_EQ(x.outputs({9007199254740992.0, 1})[2], ldexp(1, 106) + ldexp(1, 54));

  // Many calls against a model of e = (u - q)^2, (e + K·mean) / (K + 1) in
  // extended precision, rounded once; a double evaluation differs somewhere.
  Block c = bandmap(3, row({0}), row({-0.1, 0.3}));
  c.start();
  V mean(3, 0.0), plain(3, 0.0);
  bool differs = false;
  unsigned seed = 12345;
  for (double K = 0; K < 200; ++K) {
    V u;
    for (int i = 0; i < 3; ++i) {
      seed = seed * 1103515245u + 12345u;
      u.push_back(((seed >> 8) % 100000) / 7919.0 - 6.3);
      const double q = u[i] > 0 ? 0.3 : -0.1;
      const long double d = static_cast<long double>(u[i]) - q;
      mean[i] = static_cast<double>(K == 0 ? d * d : (d * d + K * static_cast<long double>(mean[i])) / (K + 1));
      plain[i] = K == 0 ? (u[i] - q) * (u[i] - q) : ((u[i] - q) * (u[i] - q) + K * plain[i]) / (K + 1);
    }
    differs = differs || plain != mean;
    u.push_back(1);
    ASSERT_EQ(slice(c.outputs(u), 6, 3), mean) << "call " << K;
  }
  EXPECT_TRUE(differs);
}

TEST(Bandmap, EnableInput) {
  Block b = bandmap(2, row({0, 1}), row({-1, 0.5, 2}));
  b.start();
  V y = b.outputs({0.5, 5, 1});
  // Exactly zero (either sign) holds y and does not count the call.
  EXPECT_EQ(b.outputs({-3, -3, 0.0}), y);
  EXPECT_EQ(b.outputs({-3, -3, -0.0}), y);
  EXPECT_EQ(b.rwork()[0], 1);
  // Negative values and NaN enable.
  EXPECT_EQ(b.outputs({-3, -3, -1.0})[0], 0);
  EXPECT_EQ(b.outputs({5, 5, NAN})[0], 2);
  EXPECT_EQ(b.rwork()[0], 3);
}

TEST(Bandmap, SizesChecksInOrder) {
  EXPECT_EQ(Block("bandmap", {num(1), row({0})}).sizesError(), wrongCount(2, 3));
  for (axArray* size : {row({2, 2}), empty()})
    EXPECT_EQ(Block("bandmap", {size, row({}), row({5})}).sizesError(), "Input size must be a nonempty scalar.");
  EXPECT_EQ(bandmap(1, row({}), row({5})).sizesError(), "The vector PARTITION cannot be empty.");
  EXPECT_EQ(bandmap(1, row({0, 1}), row({1, 2})).sizesError(),
            "The vector size for PARTITION must be the size of CODEBOOK -1.");
  V s = bandmap(2.7, col({0, 1}), row({1, 2, 3})).sizes();  // any shapes
  EXPECT_EQ(slice(s, NumOutputs, 2), (V{6, 3}));
  EXPECT_EQ(slice(s, NumIWork, 3), (V{1, 3, 0}));
  // Sizes that give no sensible widths are refused.
  for (double n : {-1.0, static_cast<double>(NAN), 1e9})
    EXPECT_EQ(bandmap(n, row({0}), row({1, 2})).sizesError(), "Input size must be from 0 to 715827882.");
}

TEST(Bandmap, ParametersChangedDuringTheRun) {
  Block b = bandmap(1, row({0}), row({0, 1}));
  b.start();
  // Longer vectors: L stays the count taken at initialisation.
  b.setParam(1, row({0, 1}));
  b.setParam(2, row({0, 1, 2}));
  EXPECT_EQ(slice(b.outputs({5, 1}), 0, 2), (V{1, 1}));
  // Shorter vectors or a changed input size would lead past them or past y.
  const std::string shorter = "PARTITION and CODEBOOK must not get shorter during the simulation.";
  b.setParam(2, row({7}));
  EXPECT_EQ(b.outputsError({5, 1}), shorter);
  b.setParam(2, row({0, 1}));
  b.setParam(1, row({}));
  EXPECT_EQ(b.outputsError({5, 1}), shorter);
  b.setParam(1, row({0}));
  for (axArray* size : {num(2), empty()}) {
    b.setParam(0, size);
    EXPECT_EQ(b.outputsError({5, 1}), "Input size must not change during the simulation.");
  }
}

TEST(Bandmaptimed, CountAndSampleTime) {
  EXPECT_EQ(Block("bandmaptimed", {num(1), row({0}), row({1, 2})}).sizesError(), wrongCount(3, 4));
  EXPECT_EQ(Block("bandmaptimed", {num(1), row({0}), row({1, 2}), empty()}).sizesError(),
            "Sample time must not be empty.");
  struct {
    axArray* st;
    double period, offset;
  } cases[] = {{row({0.1, 0.05}), 0.1, 0.05}, {num(0.1), 0.1, 0.0}, {row({0.1, 0.05, 0.2}), 0.1, 0.0}};
  for (const auto& c : cases) {
    Block b("bandmaptimed", {num(2), row({0}), row({1, 2}), c.st});
    EXPECT_EQ(slice(b.sizes(), NumOutputs, 2), (V{6, 2}));
    b.start();
    EXPECT_EQ(b.inst().sampleTimes()[0], c.period);
    EXPECT_EQ(b.inst().offsetTimes()[0], c.offset);
  }
}

TEST(Bandmaptimed, EveryCallCounts) {
  // Squared errors 1, 4 and 7 give means 1, 2.5 and 4; a zero input counts.
  Block b("bandmaptimed", {num(1), row({100}), row({0, 0}), num(1)});
  b.start();
  EXPECT_EQ(b.outputs({1})[2], 1);
  EXPECT_EQ(b.outputs({2})[2], 2.5);
  EXPECT_NEAR(b.outputs({sqrt(7.0)})[2], 4, 1e-15);
  EXPECT_NEAR(b.outputs({0})[2], 3, 1e-15);
  EXPECT_EQ(b.rwork()[0], 4);
}

}  // namespace

// Helpers of the random-source tests: an independent model of the seeded
// generator and a way of drawing from a source block.
#ifndef TESTS_SOURCES_SOURCETEST_H
#define TESTS_SOURCES_SOURCETEST_H

#include <stdint.h>

#include <random>
#include <vector>

#include "harness.h"

namespace sourcetest {

// The minimal-standard generator as the standard library has it (multiplier
// 16807, modulus 2^31 − 1); a sample is the new state divided by the modulus,
// rounded to the nearest double. Seeds must lie in 1 … 2^31 − 2.
class ReferenceUniform {
 public:
  explicit ReferenceUniform(uint32_t seed) : engine_(seed), state_(seed) {}
  double next() {
    state_ = static_cast<uint32_t>(engine_());
    return static_cast<double>(state_) * (1.0 / 2147483647.0);
  }
  int32_t state() const { return static_cast<int32_t>(state_); }

 private:
  std::minstd_rand0 engine_;
  uint32_t state_;
};

const uint32_t kFallbackSeed = 1144108930;

// Calls mdlOutputs count times at major steps with a hit; returns the outputs.
inline std::vector<std::vector<double>> draws(harness::Block& b, int count) {
  std::vector<std::vector<double>> all;
  for (int k = 0; k < count; ++k) all.push_back(b.outputs());
  return all;
}

// Mean and (population) variance of one output element over many draws.
struct Moments {
  double mean;
  double variance;
};

inline Moments momentsOf(harness::Block& b, int count, size_t element = 0) {
  double sum = 0.0, squares = 0.0;
  for (int k = 0; k < count; ++k) {
    const double v = b.outputs()[element];
    sum += v;
    squares += v * v;
  }
  const double mean = sum / count;
  return {mean, squares / count - mean * mean};
}

// Calls mdlOutputs in a minor step with a hit and in a major step without
// one: neither may draw, so y and the work vectors stay; ResetRequest (cleared
// before each call) must read wantReset after it. Leaves a major step with a
// hit.
inline void expectNoDraw(harness::Block& b, int32_t wantReset) {
  const std::vector<double> y = b.y();
  const std::vector<int32_t> iw = b.iwork();
  const std::vector<double> rw = b.rwork();
  const bool majorAndHit[2][2] = {{false, true}, {true, false}};
  for (const bool* c : majorAndHit) {
    b.clearResetRequest();
    b.major(c[0]);
    b.hit(c[1]);
    EXPECT_EQ(b.outputs(), y);
    EXPECT_EQ(b.iwork(), iw);
    EXPECT_EQ(b.rwork(), rw);
    EXPECT_EQ(b.resetRequest(), wantReset);
  }
  b.major(true);
  b.hit(true);
}

}  // namespace sourcetest

#endif

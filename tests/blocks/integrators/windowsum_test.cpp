// windowsum: the three rules against direct sums over the recent samples,
// with repeated calls at the same time, the window-length rounding, the
// method strings and every parameter message.
#include <math.h>

#include "harness.h"

using namespace harness;

namespace {

typedef std::vector<double> Vec;

// The window integral straight from the samples u[0 … k] (older ones are 0).
double directSum(const char* method, const Vec& u, int m, double Ts) {
  const int k = static_cast<int>(u.size()) - 1;
  auto at = [&](int j) { return j >= 0 ? u[static_cast<size_t>(j)] : 0.0; };
  double s = 0;
  if (method[0] == 'f') {
    for (int j = k - m + 1; j <= k - 1; ++j) s += at(j);
  } else if (method[0] == 'b') {
    for (int j = k - m + 2; j <= k; ++j) s += at(j);
  } else {
    for (int j = k - m + 2; j <= k; ++j) s += (at(j - 1) + at(j)) / 2;
  }
  return Ts * s;
}

Block window(double n, double W, axArray* Ts, const char* method) {
  return Block("windowsum", {num(n), num(W), Ts, str(method)});
}

// Two elements (the second the negated first, plus 1), random integer
// samples, and every fifth step called again at the same time with another
// input, which replaces the newest sample.
void expectDirectSums(const char* method, double W, double Ts, int m) {
  Block b = window(2, W, num(Ts), method);
  EXPECT_EQ(b.sizes()[NumRWork], 2 + 2 * m + 1);
  b.start();
  Vec u0, u1;
  unsigned seed = 5;
  auto next = [&] {
    seed = seed * 1103515245u + 12345u;
    return static_cast<double>(static_cast<int>((seed >> 16) % 21) - 10);
  };
  for (int k = 0; k < 60; ++k) {
    b.t(Ts * k);
    int calls = k % 5 == 2 ? 3 : 1;
    for (int c = 0; c < calls; ++c) {
      double v = next();
      if (c == 0) {
        u0.push_back(v);
        u1.push_back(1 - v);
      } else {
        u0.back() = v;
        u1.back() = 1 - v;
      }
      Vec y = b.outputs({u0.back(), u1.back()});
      ASSERT_EQ(y[0], directSum(method, u0, m, Ts)) << method << " step " << k << " call " << c;
      ASSERT_EQ(y[1], directSum(method, u1, m, Ts)) << method << " step " << k << " call " << c;
    }
  }
}

TEST(Windowsum, RulesMatchDirectSums) {
  for (const char* method : {"forward", "backward", "trapezoidal"}) {
    expectDirectSums(method, 3, 1, 4);
    expectDirectSums(method, 2.5, 0.5, 6);   // 5 intervals
    expectDirectSums(method, 0.75, 0.25, 4);
  }
}

TEST(Windowsum, RepeatedCallReplacesTheNewestSample) {
  Block b = window(1, 2, num(1), "backward");  // m = 3
  b.start();
  for (int k = 0; k < 3; ++k) {
    b.t(k);
    b.outputs({10.0 * (k + 1)});
  }
  EXPECT_EQ(b.outputs({35})[0], 55);
  b.t(2 + 0.5e-6);  // within Ts / 1e6 of the last step: still the same time
  EXPECT_EQ(b.outputs({36})[0], 56);
  b.t(3);
  EXPECT_EQ(b.outputs({40})[0], 76);
}

TEST(Windowsum, WindowLengthRounding) {
  const struct {
    double W;
    int m;
  } cases[] = {{3, 4}, {2.4, 3}, {2.5, 3}, {1.51, 3}, {3.51, 5}, {3.5, 4}};
  for (const auto& c : cases) {
    Block b = window(1, c.W, num(1), "fo");
    Vec s = b.sizes();
    EXPECT_EQ(s[NumRWork], 1 + c.m + 1) << c.W;
    b.start();
    EXPECT_EQ(b.iwork()[0], c.m) << c.W;
  }
  Block b = window(1, 1.5, num(1), "fo");
  EXPECT_EQ(b.sizesError(), "The integration window length must be greater than sample time.");
}

TEST(Windowsum, MethodStrings) {
  // After inputs 1 and 2 (W = 3, Ts = 1): forward 1, backward 3, trapezoidal 2.
  auto second = [](axArray* method) {
    Block b("windowsum", {num(1), num(3), num(1), method});
    b.start();
    b.outputs({1});
    b.t(1);
    return b.outputs({2})[0];
  };
  for (const char* s : {"fo", "forward", "fox"}) EXPECT_EQ(second(str(s)), 1) << s;
  for (const char* s : {"ba", "backward"}) EXPECT_EQ(second(str(s)), 3) << s;
  for (const char* s : {"Forward", "BA", "f", "trapezoidal", "of"}) EXPECT_EQ(second(str(s)), 2) << s;
  // A numeric row names no rule, whatever its values: the trapezoidal one.
  EXPECT_EQ(second(row({'f', 'o'})), 2);
}

TEST(Windowsum, SampleTimeAndOffset) {
  Block b("windowsum", {num(3), num(2), row({0.5, 0.25}), str("ba")});
  Vec s = b.sizes();
  EXPECT_EQ(s[NumInputs], 3);
  EXPECT_EQ(s[NumOutputs], 3);
  EXPECT_EQ(s[DirFeedthrough], 1);
  EXPECT_EQ(s[NumIWork], 2);
  EXPECT_EQ(s[NumRWork], 3 + 3 * 5 + 1);
  b.start();
  EXPECT_EQ(b.inst().sampleTimes()[0], 0.5);
  EXPECT_EQ(b.inst().offsetTimes()[0], 0.25);
  EXPECT_EQ(b.rwork()[0], -1.0);
}

TEST(Windowsum, ParameterMessages) {
  Block three("windowsum", {num(1), num(3), num(1)});
  EXPECT_EQ(three.sizesError(), wrongCount(3, 4));
  struct Case {
    axArray *n, *W, *Ts, *method;
    const char* message;
  } cases[] = {
      {num(1), num(3), row({1, 0, 0}), str("fo"), "The sample time must be a scalar or a vector of length 2"},
      {num(1), row({3, 4}), num(1), str("fo"), "The integration window length must be a scalar value."},
      {col({1, 1}), num(3), num(1), str("fo"), "The input vector size must be a scalar value."},
      {empty(), num(3), num(1), str("fo"), "The input vector size must be a scalar value."},
      {num(1), num(3), num(1), str(""), "Integration method must be a string"},
      {num(1), num(3), num(1), mat(2, 1, {1, 2}), "Integration method must be a string"},
      {num(1), num(INFINITY), num(1), str("fo"), "The integration window length cannot be infinite."},
      {num(1), num(-INFINITY), num(1), str("fo"), "The integration window length cannot be infinite."},
      {num(1), num(NAN), num(1), str("fo"), "The integration window length must be greater than sample time."},
      {num(1), num(3), num(0), str("fo"), "The integration window length must be greater than sample time."},
      {num(0), num(1.5), num(1), str("fo"), "The integration window length must be greater than sample time."},
      {num(0), num(3), num(1), str("fo"), "The input vector length must be a positive number."},
      {num(NAN), num(3), num(1), str("fo"), "The input vector length must be a positive number."},
      {num(1048576), num(4096), num(1), str("fo"),
       "The integration window needs 4297064449 work elements, more than a block can have "
       "(input vector size 1048576, 4097 samples per element)."},
  };
  for (const Case& c : cases) {
    Block b("windowsum", {c.n, c.W, c.Ts, c.method});
    EXPECT_EQ(b.sizesError(), c.message);
  }
}

TEST(Windowsum, ParametersEditedDuringRun) {
  Block b = window(2, 3, num(1), "ba");
  b.sizes();
  b.setParam(1, num(5));  // edited before the start: the work vector is too short
  EXPECT_EQ(b.startError(), "The integration window length changed during the simulation.");

  Block c = window(2, 3, num(1), "ba");
  c.start();
  c.outputs({1, 2});
  c.setParam(1, num(1));  // the ring length stays the one of the start
  c.t(1);
  EXPECT_EQ(c.outputs({1, 2}), (Vec{2, 4}));
  c.setParam(0, num(3));
  c.t(2);
  EXPECT_EQ(c.outputsError({1, 2}), "The input vector size changed during the simulation.");
  c.setParam(0, num(2));
  c.setParam(2, empty());
  EXPECT_EQ(c.outputsError({1, 2}), "The sample time must be a scalar or a vector of length 2");
}

}  // namespace

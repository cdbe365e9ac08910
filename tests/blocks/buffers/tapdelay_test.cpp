// tapdelay against an edge-history model of a tapped delay line, plus the
// same-time and t <= 0 rules, the parameter checks and delays edited during
// the run.
#include <math.h>

#include "calls.h"

using namespace harness;

namespace {

// The delay line described by its history: at rising edge k, a delay d reads
// the value stored e edges earlier, e = d reduced modulo m into 1 .. m (0
// before the register has filled), and d = 0 reads the current value; the
// cycle-start output is 1 at every m-th edge from the first and 0 after a
// falling edge.
struct History {
  double thr;
  int m;
  std::vector<int> delays;
  Vec stored;
  bool high = false;
  Vec y;
  History(double threshold, int registerLength, std::vector<int> d)
      : thr(threshold), m(registerLength), delays(d), y(d.size() + 1, 0.0) {}
  void call(double data, double trig) {
    const size_t L = delays.size();
    if (!high && trig >= thr) {
      const long k = static_cast<long>(stored.size());
      for (size_t i = 0; i < L; ++i) {
        int e = ((delays[i] % m) + m) % m;
        if (e == 0) e = m;
        y[i] = delays[i] == 0 ? data : k - e >= 0 ? stored[k - e] : 0.0;
      }
      y[L] = k % m == 0 ? 1.0 : 0.0;
      stored.push_back(data);
      high = true;
    } else if (high && thr > trig) {
      high = false;
      y[L] = 0.0;
    }
  }
};

TEST(Tapdelay, MatchesEdgeHistory) {
  // Truncated delays 0, 1, 3, -1, 2, 0: m = 3.
  Block b("tapdelay", {row({0, 1, 3, -1, 2.9, 0.9}), num(0.5)});
  std::vector<double> s = b.sizes();
  EXPECT_EQ(s[NumOutputs], 7);
  EXPECT_EQ(s[NumInputs], 2);
  EXPECT_EQ(s[NumRWork], 4);
  EXPECT_EQ(s[NumIWork], 2);
  b.start();
  History ref(0.5, 3, {0, 1, 3, -1, 2, 0});
  const double triggers[] = {0, 0.5, 1, NAN, 0.25};
  uint32_t seed = 12345;
  for (int call = 1; call <= 400; ++call) {
    seed = seed * 1103515245u + 12345u;
    const double data = static_cast<double>((seed >> 8) % 1000);
    const double trig = triggers[(seed >> 20) % 5];
    b.t(call);
    Vec y = b.outputs({data, trig});
    ref.call(data, trig);
    ASSERT_EQ(y, ref.y) << "call " << call;
  }
  EXPECT_GT(ref.stored.size(), 50u);
}

TEST(Tapdelay, SingleSlotRegister) {
  // -2 and 0.9 truncate to -2 and 0: m = 1, and -2 reads the one slot.
  Block b("tapdelay", {row({-2, 0.9}), num(0.5)});
  EXPECT_EQ(b.sizes()[NumRWork], 2);
  b.start();
  expectCalls(b, {{1, {5, 1}, {0, 5, 1}}, {2, {5, 0}, {0, 5, 0}}, {3, {6, 1}, {5, 6, 1}}});
}

TEST(Tapdelay, RepeatedCallReplacesTheStoredValue) {
  Block b("tapdelay", {row({0, 1, 2}), num(0.5)});  // m = 2
  b.start();
  expectCalls(b, {{1, {10, 1}, {}},
                  {2, {10, 0}, {}},
                  {3, {20, 1}, {20, 10, 0, 0}},
                  {3 * (1 + 0.5e-8), {21, 1}, {21, 10, 0, 0}},  // same time: 21 replaces 20
                  {4, {22, 1}, {21, 10, 0, 0}},                 // later: nothing changes
                  {5, {0, 0}, {}},
                  {6, {30, 1}, {30, 21, 10, 1}},
                  {7, {0, 0}, {}},
                  {8, {40, 1}, {40, 30, 21, 0}},
                  {9, {0, 0}, {}},
                  {10, {50, 1}, {50, 40, 30, 1}},
                  {10, {51, 1}, {51, 40, 30, 1}},  // the edge wrote slot 0: mark raised again
                  {11, {0, 0}, {}},
                  {12, {60, 1}, {60, 51, 40, 0}}});
}

TEST(Tapdelay, NonPositiveTimeClearsAndNaNTimeHolds) {
  Block b("tapdelay", {row({0, 1}), num(0.5)});  // m = 1: every edge writes slot 0
  b.start();
  expectCalls(b, {{0, {10, 1}, {10, 0, 1}},  // a rising edge at t = 0
                  {0, {11, 1}, {0, 0, 1}},   // no edge: cleared, and no repeat at t = 0
                  {0, {11, 0}, {0, 0, 0}},
                  {1, {12, 1}, {12, 10, 1}},
                  {NAN, {13, 1}, {12, 10, 1}},
                  {NAN, {13, 0}, {12, 10, 0}}});
}

TEST(Tapdelay, ParameterMessages) {
  Block one("tapdelay", {row({0, 1})});
  EXPECT_EQ(one.sizesError(), wrongCount(1, 2));
  Block none("tapdelay", {empty(), num(0.5)});
  EXPECT_EQ(none.sizesError(), "Output buffer is empty");
  Block noThr("tapdelay", {num(1), empty(1, 0)});
  EXPECT_EQ(noThr.sizesError(), "The threshold must not be empty.");
  Block huge("tapdelay", {row({1, 2147483647}), num(0.5)});
  EXPECT_EQ(huge.sizesError(), "The delay vector holds a delay too large for the register.");
  // Delays that do not fit in an int truncate to the most negative int.
  Block beyond("tapdelay", {row({3e9, NAN}), row({0.5, 7})});
  EXPECT_EQ(beyond.sizes()[NumRWork], 2);
  beyond.start();
  beyond.t(1);
  EXPECT_EQ(beyond.outputs({4, 1}), (Vec{0, 0, 1}));
}

TEST(Tapdelay, DelaysEditedDuringTheRun) {
  Block b("tapdelay", {row({0, 2}), num(0.5)});
  b.start();
  expectCalls(b, {{1, {1, 1}, {}}, {2, {1, 0}, {}}, {3, {2, 1}, {}}, {4, {2, 0}, {}}, {5, {3, 1}, {}}});
  // Register [3 2], slot 1 the oldest. A delay beyond the register is clamped
  // to its length: the oldest value.
  b.setParam(0, row({1, 9}));
  expectCalls(b, {{6, {3, 0}, {}}, {7, {4, 1}, {3, 2, 0}}});
  b.setParam(0, row({0, 1, 2}));
  EXPECT_EQ(b.outputsError({4, 0}), "The delay vector changed its size during the simulation.");
  b.setParam(0, row({0, 1}));
  b.setParam(1, empty());
  EXPECT_EQ(b.outputsError({4, 0}), "The threshold must not be empty.");
}

}  // namespace

// slotpick: picks checked against the position arithmetic of a downsampler,
// the trigger and same-time rules, and the parameter checks.
#include <math.h>

#include "calls.h"

using namespace harness;

namespace {

// One slotpick with threshold 0.5 and a data part of n elements; load() and
// pick() each make one rising edge and let the trigger fall at a later time.
struct Picker {
  Block b;
  double t = 0.0;
  Vec data;
  Picker(axArray* index, axArray* inc, double cyclic, size_t n)
      : b("slotpick", {index, inc, num(0.5), num(cyclic)}), data(n, 0.0) {
    b.start(static_cast<int>(n + 2));
  }
  Vec call(double load, double pick) {
    Vec u = data;
    u.push_back(load);
    u.push_back(pick);
    b.t(t += 1);
    return b.outputs(u);
  }
  void load(const Vec& d) {
    data = d;
    call(1, 0);
    call(0, 0);
  }
  Vec pick() {
    Vec y = call(0, 1);
    call(0, 0);
    y.pop_back();  // the load flag
    return y;
  }
};

TEST(Slotpick, PickSequences) {
  const Vec want[2][5] = {{{10, 30}, {20, 40}, {30, 0}, {40, 0}, {0, 0}},
                          {{10, 30}, {20, 40}, {30, 10}, {40, 20}, {10, 30}}};
  for (int cyclic = 0; cyclic < 2; ++cyclic) {
    Picker p(row({0, 2}), num(1), cyclic, 4);
    p.load({10, 20, 30, 40});
    for (const Vec& w : want[cyclic]) EXPECT_EQ(p.pick(), w) << "cyclic " << cyclic;
  }
  // Per-output increments; a pick before any load reads the zeroed buffer.
  Picker p(row({0, 1, 2}), row({1, 0, -1}), 1, 3);
  EXPECT_EQ(p.pick(), (Vec{0, 0, 0}));
  p.load({1, 2, 3});
  for (const Vec& w : {Vec{1, 2, 3}, Vec{2, 2, 2}, Vec{3, 2, 1}}) EXPECT_EQ(p.pick(), w);
}

// Downsampling forwards and backwards against frame[(start + k·inc) mod n];
// the cyclic flags 2 and 0.9 truncate to cyclic and non-cyclic.
TEST(Slotpick, DownsamplingMatchesPositionArithmetic) {
  const int n = 12;
  Vec frame;
  for (int j = 0; j < n; ++j) frame.push_back(100 + j);
  const struct { int start, inc; double cyclic; } cases[] = {
      {0, 3, 1}, {1, 3, 0}, {0, -1, 1}, {5, -4, 2}, {2, -1, 0.9}, {11, 5, 1}};
  for (const auto& c : cases) {
    Picker p(num(c.start), num(c.inc), c.cyclic, n);
    p.load(frame);
    for (int k = 0, pos = c.start; k < 2 * n; ++k, pos += c.inc) {
      double want = c.cyclic >= 1 ? frame[((pos % n) + n) % n] : (pos >= 0 && pos < n) ? frame[pos] : 0.0;
      ASSERT_EQ(p.pick(), Vec{want}) << "start " << c.start << " inc " << c.inc << " pick " << k;
    }
  }
}

TEST(Slotpick, LoadAndPickAtOneTime) {
  Block b("slotpick", {row({0, 2}), num(1), num(0.5), num(0)});
  b.start(6);
  expectCalls(b, {{1, {1, 2, 3, 4, 1, 1}, {1, 3, 1}},           // load and pick: new snapshot
                  {1 + 0.5e-8, {5, 6, 7, 8, 1, 1}, {5, 7, 1}},  // same time: retaken, same positions
                  {2, {0, 0, 0, 0, 0, 0}, {5, 7, 0}},
                  {3, {0, 0, 0, 0, 0, 1}, {6, 8, 0}},           // advanced once
                  {4, {9, 9, 9, 9, 1, 0}, {6, 8, 1}},           // reload resets the positions
                  {4 + 1e-7, {8, 8, 8, 8, 1, 0}, {6, 8, 1}},    // a later call: no retake...
                  {5, {0, 0, 0, 0, 0, 0}, {6, 8, 0}},
                  {6, {0, 0, 0, 0, 0, 1}, {9, 9, 0}}});         // ...of the snapshot taken at 4
}

TEST(Slotpick, TimeAndTriggerLevels) {
  Block b("slotpick", {num(0), num(1), num(0.5), num(0)});
  b.start(3);
  b.inst().y()[1] = 42;  // the load flag is not written before the first load
  expectCalls(b, {{1, {7, 0.4999, NAN}, {0, 42}},
                  {2, {7, 0.5, 0}, {0, 1}},    // equal to the threshold: high
                  {3, {8, NAN, 0.5}, {7, 1}},  // NaN ends no high phase...
                  {4, {9, 1, NAN}, {7, 1}},    // ...so this is no new load...
                  {5, {9, 1, 1}, {7, 1}},      // ...and no new pick
                  {6, {9, 0, 0}, {7, 0}},
                  {0, {3, 1, 1}, {3, 1}},      // rising pick at t = 0: picked
                  {0, {4, 1, 1}, {0, 1}},      // no repeat at t = 0: cleared
                  {-1, {4, 0, 0}, {0, 0}},
                  {7, {5, 0, 1}, {0, 0}},      // position 1 is past the one-element buffer
                  {8, {5, 1, 0}, {0, 1}},
                  {9, {5, 0, 1}, {5, 0}},
                  {NAN, {5, 0, 0}, {5, 0}}});  // a NaN time clears nothing
}

TEST(Slotpick, ParameterMessages) {
  Block three("slotpick", {num(0), num(1), num(0.5)});
  EXPECT_EQ(three.sizesError(), wrongCount(3, 4));
  Block noIndex("slotpick", {empty(1, 0), num(1), num(0.5), num(0)});
  EXPECT_EQ(noIndex.sizesError(), "OutputIndex cannot be a empty vector.");
  Block inc("slotpick", {row({0, 1}), row({1, 1, 1}), num(0.5), num(0)});
  EXPECT_EQ(inc.sizesError(), "The vector size for OutputIndex and Increment must be the same.");
  Block thr("slotpick", {row({0, 1}), row({1, 1}), row({0.5, 0.5}), empty()});
  EXPECT_EQ(thr.sizesError(), "The threshold must be a scalar.");
  Block negative("slotpick", {row({0, -1}), num(1), num(0.5), num(0)});
  EXPECT_EQ(negative.startError(3), "Output Index must be positive integers.");
  for (int width : {0, 1}) {
    Block narrow("slotpick", {num(0), num(1), num(0.5), num(1)});
    EXPECT_EQ(narrow.startError(width), "The input vector must hold the load and pick triggers after the data.");
  }
  // Edited between sizing and start: held to the sized widths.
  Block index("slotpick", {row({0, 1}), num(1), num(0.5), num(0)});
  index.sizes();
  index.setParam(0, num(0));
  EXPECT_EQ(index.startError(4), "OutputIndex changed its size during the simulation.");
  Block inc2("slotpick", {row({0, 1}), num(1), num(0.5), num(0)});
  inc2.sizes();
  inc2.setParam(1, row({1, 1, 1}));
  EXPECT_EQ(inc2.startError(4), "The vector size for OutputIndex and Increment must be the same.");

  Block ok("slotpick", {row({0, 2.7}), num(1), num(0.5), num(0)});
  std::vector<double> s = ok.sizes();
  EXPECT_EQ(s[NumOutputs], 3);
  EXPECT_EQ(s[NumIWork], 6);
  EXPECT_EQ(s[NumRWork], -1);
  ok.start(5);
  EXPECT_EQ(ok.iwork(), (std::vector<int32_t>{0, 0, 0, 2, 1, 1}));
  EXPECT_EQ(ok.rwork(), (Vec{0, 0, 0, -1, -1}));
}

// Positions are unbounded: huge increments wrap as 32-bit integers, a NaN
// start truncates to the most negative int, and an empty data part in cyclic
// mode picks 0.0; all without leaving the buffer.
TEST(Slotpick, ExtremePositionsStayInsideTheBuffer) {
  const int n = 7;
  const Vec frame = {0, 1, 2, 3, 4, 5, 6};
  Picker p(row({NAN, 5}), num(2000000000), 1, n);
  p.load(frame);
  auto at = [&](uint32_t v) { return frame[(static_cast<int64_t>(static_cast<int32_t>(v)) % n + n) % n]; };
  for (uint32_t k = 0, pos0 = 0x80000000u, pos1 = 5; k < 6; ++k, pos0 += 2000000000u, pos1 += 2000000000u)
    ASSERT_EQ(p.pick(), (Vec{at(pos0), at(pos1)})) << k;
  Picker none(row({0, 3}), num(-1), 1, 0);
  none.load({});
  EXPECT_EQ(none.pick(), (Vec{0, 0}));
  EXPECT_EQ(none.pick(), (Vec{0, 0}));
}

TEST(Slotpick, ParametersEditedDuringTheRun) {
  Picker p(row({0, 1}), num(1), 1, 3);
  p.load({1, 2, 3});
  p.b.setParam(3, empty());         // an empty cyclic flag is non-cyclic
  p.b.setParam(0, row({2, 1}));     // start positions take effect at the next load
  for (const Vec& w : {Vec{1, 2}, Vec{2, 3}, Vec{3, 0}}) EXPECT_EQ(p.pick(), w);
  p.load({4, 5, 6});
  EXPECT_EQ(p.pick(), (Vec{6, 5}));
  p.b.setParam(0, row({0, 1, 2}));  // another count: refused at the next load
  EXPECT_EQ(p.pick(), (Vec{0, 6}));
  p.b.t(p.t += 1);
  EXPECT_EQ(p.b.outputsError({1, 2, 3, 1, 0}), "OutputIndex changed its size during the simulation.");
  p.b.setParam(0, row({0, 1}));
  p.b.setParam(2, empty());
  EXPECT_EQ(p.b.outputsError({1, 2, 3, 0, 0}), "The threshold must be a scalar.");
}

}  // namespace

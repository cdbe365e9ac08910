// slotweave: slot sequence, pass-through between edges, the three fallbacks,
// the range error, and parameters edited during the run.
#include <math.h>

#include "calls.h"

using namespace harness;

namespace {

const char* const kRange = "The index number in Switch_Box variable is larger than the signal input vector.";

Block weave(axArray* box, axArray* keep, axArray* ini, int width) {
  Block b("slotweave", {box, keep, ini, num(0.5)});
  b.start(width);
  return b;
}

TEST(Slotweave, SlotsAdvanceCyclicallyAndPassInputsThrough) {
  Block b = weave(mat(2, 2, {1, 0, 2, 3}), row({0, -1}), row({7, 9}), 4);
  EXPECT_EQ(b.iwork(), (std::vector<int32_t>{-1, 0, 0, 0}));
  expectCalls(b, {{1, {1, 2, 3, 1}, {1, 9}},   // slot 0
                   {2, {4, 5, 6, 0}, {4, 9}},   // u0 passes through in slot 0
                   {3, {1, 2, 3, 1}, {2, 3}},   // slot 1
                   {4, {4, 5, 6, 1}, {5, 6}},   // still high: same slot, following
                   {5, {4, 5, 6, 0}, {5, 6}},
                   {6, {8, 5, 6, 1}, {8, 9}}});  // slot 0 again
  EXPECT_EQ(b.iwork()[0], 0);
  EXPECT_EQ(b.rwork(), (Vec{6}));  // time of the last edge
}

TEST(Slotweave, FallbacksAndInitialValues) {
  // Slot 0 connects every output to u0, slot 1 none; Keep_Value -1, 0, 1, NaN.
  Block b = weave(mat(2, 4, {1, 1, 1, 1, 0, -3, 0.5, NAN}), row({-1, 0, 1, NAN}), row({7, 8, 9, 6}), 2);
  expectCalls(b, {{0, {5, 0}, {7, 8, 9, 6}},  // before the first edge: Ini_Value at t <= 0...
                   {1, {5, 0}, {7, 8, 9, 6}},  // ...held after
                   {2, {5, 1}, {5, 5, 5, 5}},
                   {3, {3, 0}, {3, 3, 3, 3}},
                   {4, {4, 1}, {7, 0, 3, 3}},
                   {5, {2, 0}, {7, 0, 3, 3}},  // held between edges
                   // At t <= 0 every call first shows Ini_Value, so a kept output keeps it.
                   {0, {2, 1}, {2, 2, 2, 2}},
                   {-1, {1, 0}, {1, 1, 1, 1}},
                   {-1, {1, 1}, {7, 0, 9, 6}}});
}

TEST(Slotweave, TriggerLevelsAndRangeError) {
  // Three data inputs; the last row names 4, the trigger itself.
  Block b = weave(col({1, 2, 4}), num(1), num(0), 4);
  expectCalls(b, {{1, {10, 20, 30, 0.5}, {10}},  // equal to the threshold: high
                   {2, {11, 20, 30, NAN}, {11}},  // NaN does not end the high phase
                   {3, {12, 20, 30, 1}, {12}},
                   {4, {13, 20, 30, 0.4999}, {13}},
                   {5, {14, 20, 30, NAN}, {14}},  // nor does it rise
                   {6, {14, 20, 30, 0.5}, {20}},
                   {7, {14, 20, 30, 0}, {20}}});
  EXPECT_EQ(b.outputsError({1, 2, 3, 1}), kRange);
}

TEST(Slotweave, ParameterMessages) {
  Block three("slotweave", {num(1), num(0), num(0)});
  EXPECT_EQ(three.sizesError(), wrongCount(3, 4));
  struct Case {
    axArray *box, *keep, *ini, *thr;
    const char* message;
  } cases[] = {
      {num(1), num(0), empty(0, 1), num(0.5), "Empty initial variable assignment."},
      {row({1, 1}), num(0), row({0, 0}), num(0.5), "Keep_Value should have the same vector size as Ini_Value."},
      {row({1, 1}), row({0, 0}), row({0, 0}), empty(), "Threshold must be a scalar."},
      {col({1, 1}), row({0, 0}), row({0, 0}), num(0.5),
       "The column number of Switch_Box must match the vector size of Ini_Value."},
      {empty(0, 2), row({0, 0}), row({0, 0}), num(0.5), "Switch_Box must have at least one row."},
  };
  for (const Case& c : cases) {
    Block b("slotweave", {c.box, c.keep, c.ini, c.thr});
    EXPECT_EQ(b.sizesError(), c.message);
  }
  Block ok("slotweave", {mat(3, 2, {1, 0, 0, 1, 2, 2}), row({0, 0}), col({0, 0}), num(0.5)});
  std::vector<double> s = ok.sizes();
  EXPECT_EQ(s[NumOutputs], 2);
  EXPECT_EQ(s[NumInputs], -1);
  EXPECT_EQ(s[NumIWork], 4);
  EXPECT_EQ(s[NumRWork], 1);
  EXPECT_EQ(ok.startError(0), "The input vector must hold at least the control input.");
}

TEST(Slotweave, ParametersEditedDuringTheRun) {
  Block b = weave(col({1, 2, 1}), num(0), num(0), 3);
  expectCalls(b, {{1, {1, 2, 1}, {1}}, {2, {1, 2, 0}, {1}}, {3, {1, 2, 1}, {2}}});
  // An element out of range is caught between edges too.
  b.setParam(0, col({1, 3, 1}));
  EXPECT_EQ(b.outputsError({1, 2, 0}), kRange);
  // A table that lost the current slot holds the outputs until the next
  // edge, which starts again at row 0.
  b.setParam(0, col({2}));
  expectCalls(b, {{4, {5, 6, 0}, {2}}, {5, {5, 6, 1}, {6}}});
  EXPECT_EQ(b.iwork()[0], 0);
  // Every parameter is checked again as at sizing.
  b.setParam(2, row({0, 0}));
  EXPECT_EQ(b.outputsError({5, 6, 1}), "Ini_Value changed its size during the simulation.");
  b.setParam(2, num(0));
  b.setParam(1, empty());
  EXPECT_EQ(b.outputsError({5, 6, 1}), "Keep_Value should have the same vector size as Ini_Value.");
  b.setParam(1, num(0));
  b.setParam(0, empty(0, 1));
  EXPECT_EQ(b.outputsError({5, 6, 1}), "Switch_Box must have at least one row.");
}

}  // namespace

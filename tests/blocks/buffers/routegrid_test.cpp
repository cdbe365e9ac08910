// routegrid: row selection by the rounded control input, fallbacks to
// Ini_Value, the range error, and parameters edited during the run.
#include <math.h>

#include "harness.h"

using namespace harness;

namespace {

typedef std::vector<double> Vec;

const char* const kRange = "The index number in Switch_Box variable is larger than the signal input vector.";

TEST(Routegrid, RowsAndFallbacks) {
  Block b("routegrid", {mat(2, 2, {1, 2, 2, 0}), row({5, 6})});
  b.start(3);
  EXPECT_EQ(b.outputs({10, 20, 1}), (Vec{10, 20}));
  EXPECT_EQ(b.outputs({10, 20, 2}), (Vec{20, 6}));  // every output rewritten
  for (double none : {0.0, 3.0, static_cast<double>(NAN), -1.0})
    EXPECT_EQ(b.outputs({10, 20, none}), (Vec{5, 6})) << none;
  EXPECT_EQ(b.outputs({11, 21, 1}), (Vec{11, 21}));  // no memory: follows u at once
}

TEST(Routegrid, ControlInputIsRoundedHalvesUpward) {
  // Three rows, each naming its own data input.
  Block b("routegrid", {col({1, 2, 3}), num(-1)});
  b.start(4);
  struct Case {
    double control, want;
  } cases[] = {
      {1.49, 10},  {1.5, 20},   {0.49, -1}, {0.5, 10},  {2.5, 30},   {-0.5, -1},
      {3.49, 30},  {3.5, -1},   {NAN, -1},  {INFINITY, -1}, {-INFINITY, -1},
      {1e10, -1},  {-1e10, -1}, {0.49999999999999994, 10},  // the sum rounds to 1.0
      {2.4999999999999996, 20},
  };
  for (const Case& c : cases) EXPECT_EQ(b.outputs({10, 20, 30, c.control}), Vec{c.want}) << c.control;
}

TEST(Routegrid, ElementBeyondTheDataInputsStopsWhenSelected) {
  // Two data inputs; row 2 names 3, the control input itself. More rows than
  // data inputs are fine while their elements are in range.
  Block b("routegrid", {mat(4, 2, {1, 2, 2, 3, 0, 1, 2, 2}), row({5, 6})});
  b.start(3);
  EXPECT_EQ(b.outputs({10, 20, 1}), (Vec{10, 20}));
  EXPECT_EQ(b.outputs({10, 20, 3}), (Vec{5, 10}));
  EXPECT_EQ(b.outputs({10, 20, 4}), (Vec{20, 20}));
  EXPECT_EQ(b.outputsError({10, 20, 2}), kRange);
}

TEST(Routegrid, ParameterMessages) {
  Block one("routegrid", {num(1)});
  EXPECT_EQ(one.sizesError(), wrongCount(1, 2));
  Block noIni("routegrid", {num(1), empty()});
  EXPECT_EQ(noIni.sizesError(), "Empty initial variable assignment.");
  Block columns("routegrid", {row({1, 2, 1}), row({0, 0})});
  EXPECT_EQ(columns.sizesError(), "The column number of Switch_Box must match the vector size of Ini_Value.");
  // A table of no rows is accepted: no control input selects a row.
  Block noRows("routegrid", {empty(0, 2), col({5, 6})});
  std::vector<double> s = noRows.sizes();
  EXPECT_EQ(s[NumOutputs], 2);
  EXPECT_EQ(s[NumInputs], -1);
  EXPECT_EQ(s[NumIWork] + s[NumRWork] + s[NumPWork], 0);
  noRows.start(1);
  EXPECT_EQ(noRows.outputs({1}), (Vec{5, 6}));
  Block noControl("routegrid", {num(1), num(0)});
  EXPECT_EQ(noControl.startError(0), "The input vector must hold at least the control input.");
}

TEST(Routegrid, ParametersEditedDuringTheRun) {
  Block b("routegrid", {row({1, 2}), row({5, 6})});
  b.start(3);
  b.setParam(0, mat(2, 2, {0, 0, 2, 1}));
  b.setParam(1, row({7, 8}));
  EXPECT_EQ(b.outputs({10, 20, 2}), (Vec{20, 10}));
  EXPECT_EQ(b.outputs({10, 20, 1}), (Vec{7, 8}));
  b.setParam(0, num(1));
  EXPECT_EQ(b.outputsError({10, 20, 1}),
            "The column number of Switch_Box must match the vector size of Ini_Value.");
  b.setParam(0, row({1, 2}));
  b.setParam(1, num(7));
  EXPECT_EQ(b.outputsError({10, 20, 1}), "Ini_Value changed its size during the simulation.");
}

}  // namespace

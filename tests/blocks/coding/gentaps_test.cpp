// gentaps against an independent shift-register encoder, in table and
// state-space form, plus the enable rule and the checks of the code matrix.
#include <math.h>

#include "harness.h"

using namespace harness;

namespace {

// The rate-1/2, constraint-length-3 code with generators 7 and 5 (octal):
// outputs b0^b1^b2 and b0^b2 of the register [b0 newest, b1, b2].
struct ShiftRegister75 {
  int b1 = 0, b2 = 0;
  std::pair<int, int> step(int b0) {
    std::pair<int, int> out{b0 ^ b1 ^ b2, b0 ^ b2};
    b2 = b1;
    b1 = b0;
    return out;
  }
};

// Table form: state s = b1 + 2·b2, input word d = b0, row s + 4·d.
axArray* table75() {
  std::vector<double> rows;  // 10 x 2, row by row
  rows.insert(rows.end(), {0, 2, 2, 1});  // [unused n; m k] = [0 2; 2 1]
  for (int d = 0; d < 2; ++d) {
    for (int s = 0; s < 4; ++s) {
      int b1 = s & 1, b2 = s >> 1;
      int next = d + 2 * b1;
      int word = (d ^ b1 ^ b2) | ((d ^ b2) << 1);
      rows.push_back(next);
      rows.push_back(word);
    }
  }
  axArray* a = axCreateDoubleMatrix(10, 2, 0);
  for (int r = 0; r < 10; ++r)
    for (int c = 0; c < 2; ++c) axGetPr(a)[r + 10 * c] = rows[2 * r + c];
  return a;
}

// State-space form: x = (b1, b2), [A B | 2 1 2; C D | -1].
axArray* stateSpace75() {
  return mat(4, 4, {0, 0, 1, 2,
                    1, 0, 0, 1,
                    1, 1, 1, 2,
                    0, 1, 1, -1});
}

std::vector<int> bits(size_t n, unsigned seed) {
  std::vector<int> v;
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    v.push_back((seed >> 16) & 1);
  }
  return v;
}

void expectEncodes(std::initializer_list<axArray*> params) {
  Block b("gentaps", params);
  std::vector<double> s = b.sizes();
  EXPECT_EQ(s[NumOutputs], 2);
  EXPECT_EQ(s[NumInputs], 2);
  EXPECT_EQ(s[DirFeedthrough], 1);
  b.start();
  ShiftRegister75 ref;
  for (int bit : bits(257, 7)) {  // an odd length
    std::vector<double> y = b.outputs({static_cast<double>(bit), 1.0});
    b.update({static_cast<double>(bit), 1.0});
    auto want = ref.step(bit);
    ASSERT_EQ(y[0], want.first);
    ASSERT_EQ(y[1], want.second);
  }
}

// Parameters after the code description are ignored.
TEST(Gentaps, TableFormMatchesShiftRegister) {
  expectEncodes({table75()});
  expectEncodes({table75(), str("ignored"), empty()});
}
TEST(Gentaps, StateSpaceFormMatchesShiftRegister) {
  expectEncodes({stateSpace75()});
  expectEncodes({stateSpace75(), num(1)});
}

TEST(Gentaps, SizesOfBothForms) {
  Block table("gentaps", {table75()});
  std::vector<double> s = table.sizes();
  EXPECT_EQ(s[NumDiscStates], 2);
  EXPECT_EQ(s[NumIWork], 8 * (2 + 2 + 2));
  EXPECT_EQ(s[NumSampleTimes], 1);
  Block ss("gentaps", {stateSpace75()});
  s = ss.sizes();
  EXPECT_EQ(s[NumDiscStates], 2);
  EXPECT_EQ(s[NumIWork], 2 + 4 * 3);
}

TEST(Gentaps, EnableThresholdHoldsOutputsAndState) {
  for (axArray* code : {table75(), stateSpace75()}) {
    Block b("gentaps", {code});
    b.start();
    std::vector<double> y = b.outputs({1, 0.2});  // exactly 0.2 enables
    EXPECT_EQ(y, (std::vector<double>{1, 1}));
    b.update({1, 0.2});
    std::vector<double> x = b.x();
    for (double enable : {0.19999, static_cast<double>(NAN), -1.0}) {
      EXPECT_EQ(b.outputs({0, enable}), y);
      b.update({0, enable});
      EXPECT_EQ(b.x(), x);
    }
  }
}

TEST(Gentaps, TableRowAndOutputBits) {
  // m = 2, k = 1, n = 2: state 3 with input 1 uses row 3 + 4 = 7, whose
  // output word 2 gives y = (0, 1); its next state 1.5 is copied unchanged.
  std::vector<double> rows = {0, 2, 2, 1};
  for (int r = 0; r < 8; ++r) {
    rows.push_back(r == 7 ? 1.5 : 0);
    rows.push_back(r == 7 ? 2 : 1);
  }
  axArray* a = axCreateDoubleMatrix(10, 2, 0);
  for (int r = 0; r < 10; ++r)
    for (int c = 0; c < 2; ++c) axGetPr(a)[r + 10 * c] = rows[2 * r + c];
  Block b("gentaps", {a});
  b.start();
  b.setX({3, 0});
  EXPECT_EQ(b.outputs({1, 1}), (std::vector<double>{0, 1}));
  b.update({1, 1});
  EXPECT_EQ(b.x(), (std::vector<double>{1.5, 0}));  // x[1] stays 0
}

TEST(Gentaps, InputElementsWeightedAsTheyAre) {
  // m = 1, k = 2: input (2, 0) is word 2, not 0; rows hold their own number
  // as output word so y shows the row that was read.
  const int R = 8;
  axArray* a = axCreateDoubleMatrix(2 + R, 2, 0);
  double* p = axGetPr(a);
  p[1] = 1;               // m
  p[2 + R] = 3;           // n (element (0, 1))
  p[1 + 2 + R] = 2;       // k
  for (int r = 0; r < R; ++r) p[2 + r + (2 + R)] = r;
  Block b("gentaps", {a});
  b.start();
  EXPECT_EQ(b.outputs({2, 0, 1}), (std::vector<double>{0, 0, 1}));  // row 0 + 2·2 = 4
  // An input word beyond the table holds the outputs, as a disabled step.
  EXPECT_EQ(b.outputs({7, 0, 1}), (std::vector<double>{0, 0, 1}));
}

TEST(Gentaps, StateSpaceSumKeepsItsSign) {
  // One state, one input bit, three outputs with D = (3, −3, 1).
  axArray* a = mat(4, 3, {0, 0, 3,   // A B | n_o = 3
                          1, 3, 1,   // C D | k = 1
                          1, -3, 1,  // C D | n_s = 1
                          0, 1, -1}); // C D | marker
  Block b("gentaps", {a});
  b.start();
  // x = 0: sums are D·u: 3·1 = 3 → 1, −3·1 = −3 → −1, 1·1 → 1.
  EXPECT_EQ(b.outputs({1, 1}), (std::vector<double>{1, -1, 1}));
}

TEST(Gentaps, MalformedDescriptionsAreRejected) {
  struct Case {
    axArray* code;
    const char* message;
  } cases[] = {
      {empty(), "The code description matrix is empty."},
      {mat(1, 2, {1, 1}), "The code description table needs at least 2 rows and 2 columns."},
      {mat(4, 2, {0, 2, 0, 1, 0, 0, 0, 0}), "The code description table needs from 1 to 24 memory bits (m = 0)."},
      {mat(5, 2, {0, 2, 1, 1, 0, 0, 0, 0, 0, 0}),
       "The code description table must have 2^(m+k) rows after its first two; it has 3 (m = 1, k = 1)."},
      {mat(6, 2, {0, 2, 1, 1, 0, 0, 2, 0, 0, 0, 0, 0}),
       "The next state in table row 1 is outside the states 0 to 1."},
      {mat(6, 2, {0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0}),
       "The code description table needs from 1 to 32 output bits (n = 0)."},
      {mat(3, 3, {0, 0, 1, 0, 0, 1, 0, 0, -1}), "The state-space code description needs at least 4 rows."},
      {mat(4, 3, {0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, -1}),
       "The state-space code description needs at least one state and one output (states 1, outputs 0, input bits 1)."},
      {mat(4, 4, {0, 0, 1, 2, 1, 0, 0, 1, 1, 1, 1, 1, 0, 1, 1, -1}),
       "The state-space code description must be (states + outputs) x (states + input bits + 1) = 3 x 3; it is 4 x 4."},
  };
  for (auto& c : cases) {
    Block b("gentaps", {c.code});
    EXPECT_EQ(b.sizesError(), c.message);
  }
  Block none("gentaps");
  EXPECT_EQ(none.sizesError(), "The code description matrix is missing.");
}

TEST(Gentaps, ParameterResizedDuringRunIsRefused) {
  Block b("gentaps", {table75()});
  b.start();
  b.outputs({1, 1});
  b.setParam(0, stateSpace75());  // same widths, but another work layout
  EXPECT_EQ(b.outputsError({1, 1}), "The code description matrix changed its sizes during the simulation.");
}

}  // namespace

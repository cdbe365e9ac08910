// polymix against an independent model of the scrambler (the register as a
// history of symbols, most recent first), a descrambler undoing it, and the
// trigger, same-time and t ≤ 0 rules.
#include <math.h>
#include <stdint.h>

#include <deque>

#include "harness.h"

using namespace harness;

namespace {

typedef std::vector<double> Vec;

// The scrambler as a history: each trigger sums the input symbol and the
// weighted past symbols, and pushes the output (feedback) or the input.
struct Model {
  int32_t N;
  std::vector<int32_t> p;
  bool takesInput;
  std::deque<int32_t> history;  // symbols of 1, 2, … triggers before

  int32_t trigger(int32_t v) {
    int64_t sum = p[0] != 0 ? v : 0;
    for (size_t i = 1; i < p.size(); ++i) sum += static_cast<int64_t>(p[i]) * history[i - 1];
    int32_t out = static_cast<int32_t>(sum % N);
    history.push_front(takesInput ? v : out);
    return out;
  }
};

axArray* rowOf(const std::vector<int32_t>& v) { return row(std::vector<double>(v.begin(), v.end())); }

unsigned nextRandom(unsigned& seed) {
  seed = seed * 1103515245u + 12345u;
  return (seed >> 16) & 0x7fff;
}

// A feedback scrambler and a feed-forward descrambler in series, triggered
// alike with the trigger held high for one to three steps between low ones.
void expectSeriesRecovers(int32_t N, const std::vector<int32_t>& p, const std::vector<int32_t>& q) {
  std::vector<int32_t> inverse = p;
  for (size_t i = 1; i < inverse.size(); ++i) inverse[i] = N == 2 ? p[i] : -p[i];
  Block scr("polymix", {num(N), rowOf(p), num(0), rowOf(q)});
  Block des("polymix", {num(N), rowOf(inverse), num(1), rowOf(q)});
  scr.start();
  des.start();
  Model model{N, p, false, {}};
  for (size_t i = 0; i + 1 < p.size(); ++i) model.history.push_back(q.size() + 1 < p.size() ? q[0] : q[i]);

  unsigned seed = 11;
  double t = 0.0;
  int triggers = 0;
  for (int k = 0; k < 300; ++k) {
    const int32_t sym = static_cast<int32_t>(nextRandom(seed) % static_cast<unsigned>(N));
    const int high = 1 + static_cast<int>(nextRandom(seed) % 3);
    for (int h = 0; h <= high; ++h) {
      t += 0.5;
      scr.t(t);
      des.t(t);
      const double trig = h < high ? 1.0 : 0.0;
      // Only the symbol at the rising edge counts; later ones are ignored.
      const double in = h == 0 ? sym : static_cast<double>(nextRandom(seed) % static_cast<unsigned>(N));
      Vec y = scr.outputs({in, trig});
      Vec d = des.outputs({y[0], trig});
      if (h == 0) {
        ++triggers;
        ASSERT_EQ(y[0], model.trigger(sym)) << "trigger " << triggers;
        for (size_t j = 1; j < p.size(); ++j) ASSERT_EQ(y[j], model.history[j]);
        ASSERT_EQ(((static_cast<int32_t>(d[0]) % N) + N) % N, sym) << "trigger " << triggers;
      }
    }
  }
}

TEST(Polymix, BinaryScramblerAndDescramblerInSeries) { expectSeriesRecovers(2, {1, 0, 1, 1}, {0, 0, 0}); }

TEST(Polymix, LargerAlphabetInSeries) {
  expectSeriesRecovers(7, {1, 2, 0, 3, 6}, {1, 5, 2, 4});
  expectSeriesRecovers(5, {1, 4, 1, 2}, {3});  // a short list: all cells take q[0]
}

TEST(Polymix, InputWeightAndNegativeSums) {
  // p[0] = 5 still adds the input once; p[0] = 0 leaves it out.
  Block five("polymix", {num(10), row({5, 1}), num(0), row({3})});
  five.start();
  five.t(1);
  EXPECT_EQ(five.outputs({4, 1}), (Vec{7, 3}));
  Block none("polymix", {num(10), row({0, 1}), num(0), row({3})});
  none.start();
  none.t(1);
  EXPECT_EQ(none.outputs({4, 1}), (Vec{3, 3}));
  // The remainder keeps the sign of the sum: −1 modulo 4 is −1, and a
  // negative modulus acts by its size.
  Block neg("polymix", {num(4), row({1, -1}), num(0), row({0})});
  neg.start();
  neg.t(1);
  EXPECT_EQ(neg.outputs({-1, 1})[0], -1);
  Block negMod("polymix", {num(-4), row({1}), num(0), row({0})});
  negMod.start();
  negMod.t(1);
  EXPECT_EQ(negMod.outputs({-7, 1})[0], -3);
}

TEST(Polymix, IntegerSumsWrap) {
  // 2147483647·2 wraps to −2; INT32_MIN modulo −1 is 0, not a trap.
  Block b("polymix", {num(1000), row({1, 2147483647}), num(0), row({2})});
  b.start();
  b.t(1);
  EXPECT_EQ(b.outputs({0, 1})[0], -2);
  Block m("polymix", {num(-1), row({1, -2147483648.0}), num(0), row({1})});
  m.start();
  m.t(1);
  EXPECT_EQ(m.outputs({0, 1})[0], 0);
}

TEST(Polymix, OneShiftPerRisingEdge) {
  Block b("polymix", {num(100), row({1, 1, 1}), num(1), row({0, 0})});
  b.start();
  b.t(1);
  EXPECT_EQ(b.outputs({5, 1e-7}), (Vec{5, 0, 0}));  // exactly 1e-7 fires
  for (int k = 2; k <= 11; ++k) {  // held high: no further shift
    b.t(k);
    EXPECT_EQ(b.outputs({9, 1.0}), (Vec{5, 0, 0}));
  }
  b.t(12);
  EXPECT_EQ(b.outputs({9, static_cast<double>(NAN)}), (Vec{5, 0, 0}));  // NaN neither fires nor re-arms
  b.t(13);
  EXPECT_EQ(b.outputs({9, 9.9e-8}), (Vec{5, 0, 0}));  // below the threshold re-arms
  b.t(14);
  EXPECT_EQ(b.outputs({7, 1}), (Vec{12, 5, 0}));
  b.t(15);
  b.outputs({0, 0.0});
  b.t(16);
  EXPECT_EQ(b.outputs({1, 1}), (Vec{13, 7, 5}));
}

TEST(Polymix, SameTimeCallRecomputesWithoutShift) {
  Block b("polymix", {num(100), row({1, 10, 1}), num(1), row({2, 3})});
  b.start();
  b.t(1);
  EXPECT_EQ(b.outputs({4, 1}), (Vec{27, 2, 3}));
  // The register is unchanged; the output and the staged symbol follow the
  // new input. Nearly the same time (relative difference below 1e-8) counts.
  EXPECT_EQ(b.outputs({6, 1}), (Vec{29, 2, 3}));
  b.t(1 + 5e-9);
  EXPECT_EQ(b.outputs({8, 0}), (Vec{31, 2, 3}));
  b.t(2);
  EXPECT_EQ(b.outputs({1, 0}), (Vec{31, 2, 3}));  // later, low: held
  b.t(3);
  EXPECT_EQ(b.outputs({0, 1}), (Vec{82, 8, 2}));  // 8 was staged last
}

TEST(Polymix, TimeZeroClearsOutputSymbol) {
  Block b("polymix", {num(10), row({1, 1}), num(0), row({4})});
  b.start();
  b.t(0);
  EXPECT_EQ(b.outputs({3, 0}), (Vec{0, 0}));
  EXPECT_EQ(b.outputs({3, 1}), (Vec{7, 4}));  // a trigger at t = 0 still fires
  EXPECT_EQ(b.outputs({3, 1}), (Vec{0, 4}));  // the t ≤ 0 rule comes first
}

TEST(Polymix, ParameterMessages) {
  Block three("polymix", {num(2), row({1, 1}), num(0)});
  EXPECT_EQ(three.sizesError(), wrongCount(3, 4));
  struct Case {
    axArray *N, *p, *flag, *q;
    const char* message;
  } cases[] = {
      {num(2), empty(1, 0), num(0), row({0}), "Generator polynomial is empty."},
      {num(0), row({1, 1}), num(0), row({0}), "The modulus must be a nonzero integer."},
      {num(0.9), row({1, 1}), num(0), row({0}), "The modulus must be a nonzero integer."},
      {empty(), row({1, 1}), num(0), row({0}), "The modulus must be a nonzero integer."},
      {num(2), row({1, 1}), empty(), row({0}), "The register input flag is empty."},
      {num(2), row({1, 1}), num(0), empty(), "Initial states are empty."},
  };
  for (const Case& c : cases) {
    Block b("polymix", {c.N, c.p, c.flag, c.q});
    EXPECT_EQ(b.sizesError(), c.message);
  }
  Block ok("polymix", {num(2), mat(2, 2, {1, 0, 1, 1}), num(0), row({0})});
  Vec s = ok.sizes();
  EXPECT_EQ(s[NumOutputs], 4);
  EXPECT_EQ(s[NumInputs], 2);
  EXPECT_EQ(s[NumIWork], 6);
  EXPECT_EQ(s[NumRWork], 1);
}

TEST(Polymix, ParametersEditedDuringRun) {
  Block b("polymix", {num(2), row({1, 1}), num(0), row({0})});
  b.start();
  b.t(1);
  b.outputs({1, 1});
  b.setParam(0, num(0));
  EXPECT_EQ(b.outputsError({1, 1}), "The modulus must be a nonzero integer.");
  b.setParam(0, num(2));
  b.setParam(1, row({1, 1, 1}));
  EXPECT_EQ(b.outputsError({1, 1}), "The generator polynomial changed its length during the simulation.");
}

}  // namespace

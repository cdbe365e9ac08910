// packframe and unpackframe: digits of an integer in a base and back, round
// trips in several bases and both orders, weights beyond 32 bits, missing or
// empty parameters, and an N changed after sizing.
#include <math.h>

#include "harness.h"

using namespace harness;

namespace {

typedef std::vector<double> V;

Block packer(double n, double b, double order) { return Block("packframe", {num(n), num(b), num(order)}); }
Block unpacker(double b, double order) { return Block("unpackframe", {num(b), num(order)}); }

V pack(double n, double b, double order, double v) {
  Block p = packer(n, b, order);
  p.start();
  return p.outputs({v});
}

double unpack(double b, double order, const V& digits) {
  Block u = unpacker(b, order);
  u.start(static_cast<int>(digits.size()));
  return u.outputs(digits)[0];
}

TEST(Packframe, Digits) {
  EXPECT_EQ(pack(3, 2, 0, 6), (V{0, 1, 1}));
  EXPECT_EQ(pack(3, 2, 1, 6), (V{1, 1, 0}));
  EXPECT_EQ(pack(3, 2, 0, 9), (V{1, 0, 0}));  // the fourth digit is dropped
  EXPECT_EQ(pack(3, 2, 0, 5.9), (V{1, 0, 1}));
  EXPECT_EQ(pack(3, 10, 1, 321), (V{3, 2, 1}));
  for (double b : {0.0, 1.0, -3.0}) EXPECT_EQ(pack(3, b, 0, 6), (V{0, 1, 1})) << b;
  // Non-positive inputs, NaN and values outside the int range: all zeros.
  for (double v : {0.0, -4.0, static_cast<double>(NAN), 3e9}) EXPECT_EQ(pack(3, 2, 0, v), (V{0, 0, 0})) << v;
}

TEST(Unpackframe, Digits) {
  EXPECT_EQ(unpack(2, 0, {0, 1, 1}), 6);
  EXPECT_EQ(unpack(2, 1, {0, 1, 1}), 3);
  EXPECT_EQ(unpack(2, 0, {3, 0}), 1);       // 3 contributes 3 mod 2
  EXPECT_EQ(unpack(10, 0, {-1.7, 2}), 21);  // -1.7 counts as 1
  EXPECT_EQ(unpack(1, 0, {1, 1}), 3);       // base 1 counts as 2
  EXPECT_EQ(unpack(7, 1, {5}), 5);
  // NaN truncates to INT32_MIN, whose magnitude 2^31 is 8 modulo 10.
  EXPECT_EQ(unpack(10, 0, {NAN}), 8);
}

TEST(Unpackframe, WeightsBeyondThirtyTwoBits) {
  EXPECT_EQ(unpack(2, 0, V(31, 1.0)), 2147483647.0);
  EXPECT_EQ(unpack(2, 1, V(40, 1.0)), 1099511627775.0);
  // A nonzero digit past the double range gives inf; zero digits add nothing.
  V huge(400, 0.0);
  huge[0] = 3;
  EXPECT_EQ(unpack(10, 0, huge), 3);
  huge[399] = 1;
  EXPECT_EQ(unpack(10, 0, huge), INFINITY);
}

TEST(Packframe, RoundTripsInSeveralBases) {
  struct {
    int base, n;
  } cases[] = {{2, 12}, {3, 7}, {7, 4}, {10, 5}, {16, 3}, {255, 2}, {2, 31}};
  for (const auto& c : cases) {
    for (double order : {0.0, 1.0}) {
      Block p = packer(c.n, c.base, order);
      p.start();
      Block u = unpacker(c.base, order);
      u.start(c.n);
      const double limit = fmin(pow(c.base, c.n), 2147483648.0);
      V values = {limit - 1};
      for (double v = 0; v < limit; v = v * 3 + 1) values.push_back(v);
      for (double v : values) {
        V digits = p.outputs({v});
        for (double d : digits) ASSERT_TRUE(d >= 0 && d < c.base && d == floor(d));
        ASSERT_EQ(u.outputs(digits)[0], v) << "base " << c.base << " order " << order;
      }
    }
  }
}

TEST(Packframe, ParameterChecks) {
  // A command-line sizes call without parameters, or a wrong count.
  Block bare("packframe");
  EXPECT_EQ(bare.inst().sizesCall(true).error, wrongCount(0, 3));
  Block ubare("unpackframe");
  EXPECT_EQ(ubare.inst().sizesCall(true).error, wrongCount(0, 2));
  EXPECT_EQ(Block("packframe", {num(3), num(2)}).sizesError(), wrongCount(2, 3));
  EXPECT_EQ(Block("packframe", {empty(), num(2), num(0)}).sizesError(), "Number of digits must not be empty.");
  EXPECT_EQ(Block("packframe", {num(3), empty(0, 3), num(0)}).sizesError(), "Base must not be empty.");
  EXPECT_EQ(Block("packframe", {num(3), num(2), str("")}).sizesError(), "Order flag must not be empty.");
  EXPECT_EQ(Block("unpackframe", {empty(), num(0)}).sizesError(), "Base must not be empty.");
  for (double n : {-1.0, static_cast<double>(NAN)})
    EXPECT_EQ(packer(n, 2, 0).sizesError(), "Number of digits must not be negative.") << n;
  EXPECT_EQ(packer(0, 2, 0).sizes()[NumOutputs], 0);
  EXPECT_EQ(packer(4.8, 2, 0).sizes()[NumOutputs], 4);
  Block cmd("packframe", {num(4), num(2), num(0)});
  expectOk(cmd.inst().sizesCall(true));
}

TEST(Packframe, ParametersChangedAfterSizing) {
  Block p = packer(3, 2, 1);
  p.start();
  // A larger N writes no more than the settled width (the host's guards
  // report any write past y); a smaller N writes only its own digits.
  p.setParam(0, num(5));
  EXPECT_EQ(p.outputs({6}), (V{1, 1, 0}));
  p.setParam(2, num(0));
  EXPECT_EQ(p.outputs({6}), (V{0, 1, 1}));
  p.setParam(0, num(2));
  EXPECT_EQ(p.outputs({1}), (V{1, 0, 1}));
  p.setParam(0, num(-2));
  EXPECT_EQ(p.outputs({7}), (V{1, 0, 1}));
  p.setParam(1, empty());
  EXPECT_EQ(p.outputsError({7}), "Base must not be empty.");

  Block u = unpacker(2, 0);
  u.start(2);
  u.setParam(1, row({}));
  EXPECT_EQ(u.outputsError({3, 4}), "Order flag must not be empty.");
}

}  // namespace

// mathmap: every function row (the library rows against the same functions
// within one ulp; the signed square root, sign and rounding exactly), the
// two-character name rule, and names that match no row.
#include <math.h>

#include "harness.h"

using namespace harness;

namespace {

typedef std::vector<double> V;

V apply(const char* name, const V& u) {
  Block b("mathmap", {str(name)});
  b.start(static_cast<int>(u.size()));
  return b.outputs(u);
}

// libm may differ by one ulp between the 32-bit and 64-bit builds.
bool withinUlp(double got, double want) {
  if (isnan(want)) return isnan(got);
  return got == want || nextafter(want, INFINITY) == got || nextafter(want, -INFINITY) == got;
}

TEST(Mathmap, LibraryRows) {
  const V u = {-2.5, -1, -0.5, -0.0, 0, 0.3, 1, 2, 7.25, 1e10, NAN, INFINITY, -INFINITY};
  struct {
    const char* name;
    double (*f)(double);
  } rows[] = {{"sin", sin},   {"cos", cos},   {"tan", tan},      {"exp", exp},      {"asin", asin}, {"acos", acos},
              {"atan", atan}, {"ln", log},    {"log10", log10},  {"floor", floor},  {"ceil", ceil}, {"abs", fabs}};
  for (const auto& r : rows) {
    V y = apply(r.name, u);
    for (size_t i = 0; i < u.size(); ++i)
      EXPECT_TRUE(withinUlp(y[i], r.f(u[i]))) << r.name << "(" << u[i] << ") = " << y[i];
  }
}

// Exact results, with the sign of zeros.
void expectExactly(const V& got, const V& want, const char* name) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    if (isnan(want[i]))
      EXPECT_TRUE(isnan(got[i])) << name << " element " << i;
    else
      EXPECT_TRUE(got[i] == want[i] && signbit(got[i]) == signbit(want[i]))
          << name << " element " << i << ": " << got[i];
  }
}

TEST(Mathmap, SignedSquareRootSignAndRounding) {
  expectExactly(apply("sqrt", {4, -9, 0, -0.0, NAN, -INFINITY}), {2, -3, 0, 0, 0, -INFINITY}, "sq");
  expectExactly(apply("sgn", {-0.5, 0, 3, -0.0, NAN}), {-1, 1, 1, 1, 1}, "sg");
  expectExactly(apply("round", {2.5, -2.5, 1.49, -0.5, -2.6, 0.49999999999999994, NAN, -INFINITY}),
                {3, -2, 1, -0.0, -3, 0, NAN, -INFINITY}, "ro");
}

TEST(Mathmap, OnlyTwoCharactersCount) {
  for (const char* name : {"si", "sine", "sign"}) expectExactly(apply(name, {0.5}), {sin(0.5)}, name);
}

TEST(Mathmap, NoMatchingRowKeepsOutputs) {
  Block b("mathmap", {str("abs")});
  b.start(2);
  EXPECT_EQ(b.outputs({-1, -2}), (V{1, 2}));
  // The name is read at every call; these match no row.
  for (axArray* a : {str("Sin"), str("s"), str(""), num(115), axCreateClassMatrix(1, 2, axCHAR_CLASS, false)}) {
    b.setParam(0, a);
    EXPECT_EQ(b.outputs({-5, -6}), (V{1, 2}));
  }
  b.setParam(0, str("fl"));
  EXPECT_EQ(b.outputs({-5.5, 6.5}), (V{-6, 6}));
}

TEST(Mathmap, OutputNarrowerThanInput) {
  Block b("mathmap", {str("ab")});
  b.start(3, 2);
  EXPECT_EQ(b.outputs({-1, -2, -3}), (V{1, 2}));
}

}  // namespace

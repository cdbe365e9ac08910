// The stand-in host: parameter values, number printing, and the guards that
// catch a block writing outside the vectors the host gave it.
#include <math.h>

#include "harness.h"
#include "values.h"

namespace {

struct Parsed {
  axArray* a;
  std::string err;
  explicit Parsed(const std::string& text) { a = blocksim::arrayFromText(text, err); }
  ~Parsed() { axDestroyArray(a); }
};

TEST(Values, ShapesAndClasses) {
  Parsed scalar("-0.5");
  ASSERT_NE(scalar.a, nullptr);
  EXPECT_EQ(axGetM(scalar.a), 1);
  EXPECT_EQ(axGetPr(scalar.a)[0], -0.5);

  Parsed matrix("[[1, 2, 3], [4, 5, 6]]");  // row by row in, column by column stored
  ASSERT_NE(matrix.a, nullptr);
  EXPECT_EQ(axGetM(matrix.a), 2);
  EXPECT_EQ(axGetN(matrix.a), 3);
  const double want[] = {1, 4, 2, 5, 3, 6};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(axGetPr(matrix.a)[i], want[i]);

  Parsed column("[[1], [2], [3]]");
  EXPECT_EQ(axGetM(column.a), 3);
  EXPECT_EQ(axGetN(column.a), 1);

  Parsed emptyArr("[]");
  EXPECT_EQ(axGetNumberOfElements(emptyArr.a), 0);

  Parsed text("'sin'");
  char buf[3];
  EXPECT_EQ(axGetString(text.a, buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "si");  // cut to the buffer
  EXPECT_FALSE(axIsNumeric(text.a));

  Parsed emptyText("\"\"");
  EXPECT_EQ(axGetM(emptyText.a), 0);
  EXPECT_EQ(axGetN(emptyText.a), 0);
  EXPECT_EQ(axGetString(emptyText.a, buf, sizeof buf), 0);

  Parsed table("{ rows = 2, cols = 2, data = [1, 2, 3, 4] }");  // column by column
  EXPECT_EQ(axGetPr(table.a)[1], 2);
  Parsed wide("{ rows = 0, cols = 3 }");
  EXPECT_EQ(axGetN(wide.a), 3);
  EXPECT_EQ(axGetNumberOfElements(wide.a), 0);

  Parsed special("[inf, -inf, nan]");
  EXPECT_TRUE(axIsInf(axGetPr(special.a)[0]));
  EXPECT_TRUE(isnan(axGetPr(special.a)[2]));

  Parsed logical("{ rows = 1, cols = 1, data = [1], class = 'logical' }");
  EXPECT_TRUE(axIsLogical(logical.a));
  EXPECT_EQ(axGetClassID(logical.a), axUINT8_CLASS);
  EXPECT_EQ(axGetString(scalar.a, buf, sizeof buf), 1);  // not a character array
  EXPECT_STREQ(buf, "");

  for (const char* bad : {"[[1, 2], [3]]", "[1, 'a']", "{ rows = 2 }", "[1,", "{ rows = 1, cols = 1, data = [1, 2] }"}) {
    Parsed p(bad);
    EXPECT_EQ(p.a, nullptr) << bad;
    EXPECT_FALSE(p.err.empty());
  }
}

// Text that would make the TOML parser classify a character outside ASCII
// as blank or not (undefined behaviour in it) never reaches it: outside a
// double-quoted string (also where a bare value runs on through quotes), in
// a literal string, right after a backslash, or not UTF-8, it is refused;
// in a double-quoted string it keeps its meaning.
TEST(Values, TextTheParserCannotTakeIsRefused) {
  for (const char* bad : {"[1, 2 \xc2\xb5]", "'\xc3\xa9'", "'''a\xc3\xa9'''", "\"\\\xc3\xa9\"",
                          "\"\"\"\\\xc3\xa9\"\"\"", "\"\xc3\"", "\"\xed\xa0\x80\""}) {
    Parsed p(bad);
    EXPECT_EQ(p.a, nullptr) << bad;
    EXPECT_NE(p.err.find("ASCII"), std::string::npos) << p.err;
  }
  // Quotes inside a bare value are no string to the parser: it is given the
  // escaped text and refuses it itself.
  for (const char* bad : {"-\"s5\xc2\xb5\" x", "1.\"\xc3\xa9\""}) {
    Parsed p(bad);
    EXPECT_EQ(p.a, nullptr) << bad;
  }
  struct Good {
    const char* text;
    const char* value;
  } goods[] = {{"\"caf\xc3\xa9\"", "caf\xc3\xa9"},
               {"\"\"\"a\\\n  \xc3\xa9\xe3\x80\x81\"\"\"", "a\xc3\xa9\xe3\x80\x81"},
               {"\"\xf0\x9f\x99\x82\" # \xc2\xb5", "\xf0\x9f\x99\x82"}};
  for (const Good& g : goods) {
    Parsed p(g.text);
    ASSERT_NE(p.a, nullptr) << g.text << ": " << p.err;
    std::string got;
    for (int i = 0; i < axGetNumberOfElements(p.a); ++i) got += static_cast<char>(axCharCode(axGetPr(p.a)[i]));
    EXPECT_EQ(got, g.value);
  }
}

TEST(Numbers, ShortestRoundTrip) {
  EXPECT_EQ(blocksim::formatNumber(0.1), "0.1");
  EXPECT_EQ(blocksim::formatNumber(5120214), "5120214");
  EXPECT_EQ(blocksim::formatNumber(1e-7), "1e-07");
  EXPECT_EQ(blocksim::formatNumber(-0.0), "-0");
  EXPECT_EQ(blocksim::formatNumber(INFINITY), "inf");
  EXPECT_EQ(blocksim::formatNumber(-INFINITY), "-inf");
  EXPECT_EQ(blocksim::formatNumber(-NAN), "nan");
  EXPECT_EQ(blocksim::formatNumber(4294967295.0), "4294967295");
}

TEST(Guards, WriteOutsideIsReported) {
  blocksim::GuardedBuffer b;
  b.allocate(3, sizeof(double));
  EXPECT_TRUE(b.intact());
  static_cast<double*>(b.data())[2] = 1.0;
  EXPECT_TRUE(b.intact());
#if !defined(KIVREL_ASAN)
  // Under AddressSanitizer the guard zones are poisoned and the write itself
  // is the report.
  static_cast<unsigned char*>(b.data())[3 * sizeof(double)] = 0;
  EXPECT_FALSE(b.intact());
#endif
}

}  // namespace

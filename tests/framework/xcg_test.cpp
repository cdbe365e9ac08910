// The code-generation services: argument checks and messages, the decoding of
// the variable argument lists, the host's .xcg writer, and the services as
// built into the plug-ins.
#include <stdio.h>
#include <string.h>

#include <fstream>
#include <sstream>
#include <tuple>

#include "harness.h"
#include "xcg.h"
#include "xcg_writer.h"

namespace {

const char kPairSize[] = "Invalid number of rows or columns passed to ssWriteXCGNameValuePair";
const char kPairValue[] = "Invalid value (NULL) passed to ssWriteXCGNameValuePair";
const char kPairType[] = "Invalid SSWRITE_VALUE_type passed to ssWriteXCGNameValuePair";
const char kPairName[] = "Invalid name passed to ssWriteXCGNameValuePair";
const char kParamsArgs[] = "Invalid arguments passed to ssWriteXCGParameters";
const char kWorkName[] =
    "Invalid work vector name (vectName) passed to ssWriteXCGWorkVect (must be RWork, IWork, or PWork";

const void* v(const void* p) { return p; }

// A host whose writer functions log each call (as the host writer shows it)
// and return scripted results: call i returns results[i], 1 beyond them.
struct Spy {
  std::vector<std::string> calls;
  std::vector<int32_t> results;
  static int32_t log(void* ctx, const std::string& line) {
    Spy* s = static_cast<Spy*>(ctx);
    s->calls.push_back(line);
    return s->calls.size() <= s->results.size() ? s->results[s->calls.size() - 1] : 1;
  }
  static int32_t record(void* ctx, const char* text) { return log(ctx, std::string("R ") + text); }
  static int32_t pair(void* ctx, int32_t type, const char* name, const void* value, int32_t id, int32_t rows,
                      int32_t cols) {
    std::string line = "V ";
    return log(ctx, blocksim::formatXcgNameValue(line, type, name, value, id, rows, cols) ? line : "unshowable");
  }
  static int32_t param(void* ctx, int32_t type, const char* name, const char* text, const void* value,
                       int32_t id, int32_t rows, int32_t cols) {
    std::string line;
    return log(ctx, blocksim::formatXcgParameter(line, type, name, text, value, id, rows, cols) ? line : "unshowable");
  }
};

class Xcg : public ::testing::Test {
 protected:
  Xcg() {
    S.RootContext = &S;
    S.SimInfo = &si;
    S.BlockPath = "model/sub/blk";
    si.WriteRecordFn = &Spy::record;
    si.WriteNameValueFn = &Spy::pair;
    si.WriteParameterFn = &Spy::param;
    si.WriterCtx = &spy;
  }
  std::string status() {
    std::string s = S.ErrorStatus != nullptr ? S.ErrorStatus : "";
    S.ErrorStatus = nullptr;
    return s;
  }
  BlockContext S{};
  SimInfo si{};
  Spy spy;
  const double d[6] = {1, 2, 3, 4, 5, 6};
  const int32_t n[2] = {7, -8};
  const char* texts[2] = {"a", "b"};
  const void* pair[2] = {d, d + 3};
};

TEST_F(Xcg, RecordLinePassesTheHostResultAndNeedsAWriter) {
  spy.results = {5};
  EXPECT_EQ(ssWriteXCGRecordLine(&S, "Block {"), 5);
  EXPECT_EQ(spy.calls, std::vector<std::string>{"R Block {"});
  si.WriteRecordFn = nullptr;  // as in a context made for a command-line call
  EXPECT_EQ(ssWriteXCGRecordLine(&S, "x"), 0);
  EXPECT_EQ(status(), "The host supplies no .xcg file writer");
}

// One pair of each value type, as the host shows them.
const std::vector<std::string> kEachType = {
    "V Q [type 0, text] = \"quoted\"", "V T [type 1, text] = \"plain\"",
    "V L [type 2, texts, 2x1] = [\"a\"; \"b\"]", "V D [type 3, double, 1x1] = 2.5",
    "V V [type 4, double, 3x1] = [1; 2; 3]", "V M [type 5, double, 2x3] = [1 3 5; 2 4 6]",
    "V I [type 6, int32, 1x1] = 7", "V J [type 7, int32, 2x1] = [7; -8]", "V K [type 8, int32, 1x2] = [7 -8]",
    "V C [type 9, complex double, 3x1] = [1+4i; 2+5i; 3+6i]",
    "V Z [type 10, complex double, 1x3] = [1+4i 2+5i 3+6i]"};

TEST_F(Xcg, NameValuePairDecodesTrailingArgumentsByType) {
  const double g = 2.5;
  const int results[] = {
      ssWriteXCGNameValuePair(&S, 0, "Q", "quoted"), ssWriteXCGNameValuePair(&S, 1, "T", "plain"),
      ssWriteXCGNameValuePair(&S, 2, "L", texts, 2), ssWriteXCGNameValuePair(&S, 3, "D", &g, 0),
      ssWriteXCGNameValuePair(&S, 4, "V", d, 0, 3), ssWriteXCGNameValuePair(&S, 5, "M", d, 0, 2, 3),
      ssWriteXCGNameValuePair(&S, 6, "I", n, 6), ssWriteXCGNameValuePair(&S, 7, "J", n, 6, 2),
      ssWriteXCGNameValuePair(&S, 8, "K", n, 6, 1, 2), ssWriteXCGNameValuePair(&S, 9, "C", pair, XcgComplexBit, 3),
      ssWriteXCGNameValuePair(&S, 10, "Z", pair, XcgComplexBit, 1, 3),
      ssWriteXCGComplexVector(&S, "C", d, d + 3, XcgComplexBit, 3),
      ssWriteXCGComplexMatrix(&S, "Z", d, nullptr, 0, 3, 1)};  // real data type: no imaginary part
  for (int r : results) EXPECT_EQ(r, 1);
  std::vector<std::string> want = kEachType;
  want.push_back(kEachType[9]);
  want.push_back("V Z [type 10, double, 3x1] = [1; 2; 3]");
  EXPECT_EQ(spy.calls, want);
  EXPECT_EQ(status(), "");
}

TEST_F(Xcg, NameValuePairChecksInOrder) {
  const void* noReal[2] = {nullptr, d};
  const void* noImag[2] = {d, nullptr};
  // Every case passes data-type id, rows and columns; types that take fewer
  // trailing arguments leave the rest unread.
  struct Case {
    int type; const char* name; const void* value; int id, rows, cols;
    const char* message;  // null: written
  } cases[] = {
      {11, "", nullptr, 0, -1, -1, kPairType},  // the type comes first
      {-1, "x", d, 0, 1, 1, kPairType},
      {5, "", nullptr, 0, -1, 0, kPairName},  // the name before the size
      {5, nullptr, d, 0, 1, 1, kPairName},
      {5, "x", nullptr, 0, -1, 2, kPairSize},  // the size before the value
      {5, "x", nullptr, 0, 0, 3, kPairSize},   // exactly one of them 0
      {8, "x", d, 0, 3, 0, kPairSize},
      {5, "x", nullptr, 0, 0, 0, nullptr},  // empty matrix: the value is not looked at
      {10, "x", nullptr, 0, 0, 0, nullptr},
      {4, "x", nullptr, 0, 0, 0, nullptr},  // empty vector
      {4, "x", nullptr, 0, 2, 0, kPairValue},
      {1, "x", nullptr, 0, 0, 0, kPairValue},  // a text is always 1 x 1
      {9, "x", nullptr, XcgComplexBit, 2, 0, kPairValue},  // no pair at all
      {9, "x", noReal, 0, 2, 0, kPairValue},
      {9, "x", noImag, XcgComplexBit, 2, 0, kPairValue},
      {9, "x", noImag, 0, 2, 0, nullptr},  // a real data type needs no imaginary part
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << " " << c.rows << "x" << c.cols);
    spy.calls.clear();
    EXPECT_EQ(ssWriteXCGNameValuePair(&S, c.type, c.name, c.value, c.id, c.rows, c.cols), c.message ? 0 : 1);
    EXPECT_EQ(status(), c.message ? c.message : "");
    EXPECT_EQ(spy.calls.size(), c.message ? 0u : 1u);
  }
}

TEST_F(Xcg, ParametersDecodeEachTypeAndDeriveColumns) {
  EXPECT_EQ(ssWriteXCGParameters(&S, 7, 4, "A", "a", v(d), 2, 5, "B", "b", v(d), 2, 3, 7, "C", "c", v(n), 2, 6,
                                 8, "D", "d", v(n), 1, 2, 6, 9, "E", "e", v(d), v(d + 3), 2, XcgComplexBit, 10,
                                 "F", "f", v(d), v(d + 3), 1, 2, XcgComplexBit, 4, "G", "g", nullptr, 0),
            1);
  const std::vector<std::string> want = {
      "parameter A [type 4, double, 2x1, text \"a\"] = [1; 2]",
      "parameter B [type 5, double, 2x3, text \"b\"] = [1 3 5; 2 4 6]",
      "parameter C [type 7, int32, 2x1, text \"c\"] = [7; -8]",
      "parameter D [type 8, int32, 1x2, text \"d\"] = [7 -8]",
      "parameter E [type 9, complex double, 2x1, text \"e\"] = [1+4i; 2+5i]",
      "parameter F [type 10, complex double, 1x2, text \"f\"] = [1+4i 2+5i]",
      "parameter G [type 4, double, 0x0, text \"g\"] = []",  // no rows: no columns
  };
  EXPECT_EQ(spy.calls, want);
}

TEST_F(Xcg, ParametersRefuseBadEntriesAndStopOnlyAtZero) {
  struct Case {
    int type; const char* name; const void* value; int rows, cols; const char* message;
  } cases[] = {
      {3, "x", d, 1, 1, "Invalid SSWRITE_VALUE_type passed to ssWriteXCGParameters"},
      {11, "x", d, 1, 1, "Invalid SSWRITE_VALUE_type passed to ssWriteXCGParameters"},
      {5, "", d, 1, 1, kParamsArgs},
      {5, nullptr, d, 1, 1, kParamsArgs},
      {5, "x", nullptr, 1, 1, kParamsArgs},
      {5, "x", d, -1, 1, kParamsArgs},
      {5, "x", d, 0, 3, kParamsArgs},
      {5, "x", d, 2, 0, kParamsArgs},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << " " << c.rows << "x" << c.cols);
    spy.calls.clear();
    // A first entry is written before the refused second one.
    EXPECT_EQ(ssWriteXCGParameters(&S, 2, 4, "ok", "", v(d), 1, c.type, c.name, "", c.value, c.rows, c.cols), 0);
    EXPECT_EQ(status(), c.message);
    EXPECT_EQ(spy.calls.size(), 1u);
  }
  // A complex data type needs its imaginary part here too.
  EXPECT_EQ(ssWriteXCGParameters(&S, 1, 9, "x", "", v(d), nullptr, 2, XcgComplexBit), 0);
  EXPECT_EQ(status(), kParamsArgs);

  // Only a host result of 0 ends the call; otherwise the last result counts.
  struct Run {
    std::vector<int32_t> results; int result; size_t calls;
  } runs[] = {{{0}, 0, 1}, {{2, -1}, 1, 3}, {{1, 1, 2}, 2, 3}, {{1, 0}, 0, 2}};
  for (const Run& run : runs) {
    spy.calls.clear();
    spy.results = run.results;
    EXPECT_EQ(ssWriteXCGParameters(&S, 3, 4, "a", "", v(d), 1, 4, "b", "", v(d), 1, 4, "c", "", v(d), 1),
              run.result);
    EXPECT_EQ(spy.calls.size(), run.calls);
  }
}

TEST_F(Xcg, ParamSettingsWritesARecordAroundEachType) {
  EXPECT_EQ(ssWriteXCGParameters(&S, 0), 1);  // nothing to write is success here...
  EXPECT_EQ(ssWriteXCGParamSettings(&S, 0), 0);  // ...and failure here
  EXPECT_EQ(ssWriteXCGParamSettings(&S, -2), 0);
  EXPECT_TRUE(spy.calls.empty());
  EXPECT_EQ(status(), "");

  EXPECT_EQ(ssWriteXCGParamSettings(&S, 11, 0, "Q", "quoted", 1, "T", "plain", 2, "L", v(texts), 2, 3, "D", 2.5,
                                    4, "V", v(d), 3, 5, "M", v(d), 2, 3, 6, "I", v(n), 6, 7, "J", v(n), 2, 6, 8,
                                    "K", v(n), 1, 2, 6, 9, "C", v(d), v(d + 3), 3, XcgComplexBit, 10, "Z", v(d),
                                    v(d + 3), 1, 3, XcgComplexBit),
            1);
  std::vector<std::string> want = {"R SFcnParamSettings {"};
  want.insert(want.end(), kEachType.begin(), kEachType.end());
  want.push_back("R }");
  EXPECT_EQ(spy.calls, want);
}

TEST_F(Xcg, ParamSettingsEndsEarlyWithoutClosing) {
  struct Run {
    std::vector<int32_t> results; int type /* of the second entry */; int result; const char* message; size_t calls;
  } runs[] = {
      {{3}, 3, 3, "", 1},  // the opening record failed: no entry
      {{}, 11, 0, "Invalid SSWRITE_VALUE_type passed to ssWriteXCGParamSettings", 2},
      {{}, -1, 0, "Invalid SSWRITE_VALUE_type passed to ssWriteXCGParamSettings", 2},
      {{}, 4, 0, kPairValue, 2},   // the pair's own check
      {{1, 4}, 3, 4, "", 2},       // a host result other than 1
      {{1, 1, 1, 7}, 3, 7, "", 4}, // the closing record's result
  };
  for (const Run& r : runs) {
    SCOPED_TRACE(testing::Message() << "second type " << r.type);
    spy.calls.clear();
    spy.results = r.results;
    // Type 4 gets a null value with 2 rows; type 3 a double.
    if (r.type == 4)
      EXPECT_EQ(ssWriteXCGParamSettings(&S, 2, 3, "a", 1.0, 4, "b", nullptr, 2), r.result);
    else
      EXPECT_EQ(ssWriteXCGParamSettings(&S, 2, 3, "a", 1.0, r.type, "b", 2.0), r.result);
    EXPECT_EQ(status(), r.message);
    EXPECT_EQ(spy.calls.size(), r.calls);
  }
}

TEST_F(Xcg, WorkVectChecksNameThenCount) {
  const char* names[] = {"rwork", "RWORK", "DWork", "RWork ", "", nullptr};
  for (const char* name : names) {
    EXPECT_EQ(ssWriteXCGWorkVect(&S, name, 0, "a", 1), 0);
    EXPECT_EQ(status(), kWorkName);
  }
  EXPECT_EQ(ssWriteXCGWorkVect(&S, "IWork", 0), 0);
  EXPECT_EQ(status(), "nNames argument to ssWriteXCGWorkVect must be greater than 0");
  EXPECT_EQ(ssWriteXCGWorkVect(&S, "PWork", -1), 0);
  EXPECT_EQ(status(), "nNames argument to ssWriteXCGWorkVect must be greater than 0");
  EXPECT_TRUE(spy.calls.empty());
}

TEST_F(Xcg, WorkVectWritesDefinesAgainstItsOwnVector) {
  S.SizesVector[NumRWork] = 1;
  S.SizesVector[NumIWork] = 5;
  S.SizesVector[NumPWork] = 2;
  EXPECT_EQ(ssWriteXCGWorkVect(&S, "IWork", 2, "mode", 2, "count", 3), 1);
  std::vector<std::string> want = {"V NumIWorkDefines [type 6, int32, 1x1] = 2"};
  for (auto [name, width, start] : {std::tuple("mode", 2, 0), std::tuple("count", 3, 2)}) {
    const std::vector<std::string> define = {
        "R IWorkDefine {", std::string("V Name [type 1, text] = \"") + name + "\"",
        "V Width [type 6, int32, 1x1] = " + std::to_string(width),
        "V StartIndex [type 6, int32, 1x1] = " + std::to_string(start), "R }"};
    want.insert(want.end(), define.begin(), define.end());
  }
  EXPECT_EQ(spy.calls, want);
  EXPECT_EQ(ssWriteXCGWorkVect(&S, "PWork", 1, "file", 2), 1);
  EXPECT_EQ(ssWriteXCGWorkVect(&S, "RWork", 1, "gain", 1), 1);
  EXPECT_EQ(status(), "");

  // Widths that miss the registered size: every define is written first.
  spy.calls.clear();
  EXPECT_EQ(ssWriteXCGWorkVect(&S, "RWork", 2, "gain", 1, "history", 2), 0);
  EXPECT_EQ(spy.calls.size(), 11u);
  EXPECT_EQ(spy.calls.back(), "R }");
  EXPECT_EQ(status(),
            "Error in ssWriteXCGWorkVect.  The total number of RWorkDefines written to the .xcg file (= 3), "
            "should be equal to number of RWork (= 1), registered in mdlInitializeSizes");
  S.SizesVector[NumPWork] = -2147483647 - 1;
  EXPECT_EQ(ssWriteXCGWorkVect(&S, "PWork", 1, "p", 2147483647), 0);
  EXPECT_EQ(status(),
            "Error in ssWriteXCGWorkVect.  The total number of PWorkDefines written to the .xcg file (= 2147483647), "
            "should be equal to number of PWork (= -2147483648), registered in mdlInitializeSizes");

  // Start indices add up with 32-bit wrap-around.
  spy.calls.clear();
  EXPECT_EQ(ssWriteXCGWorkVect(&S, "PWork", 2, "p", 2147483647, "q", 1), 1);
  EXPECT_EQ(spy.calls[9], "V StartIndex [type 6, int32, 1x1] = 2147483647");

  // A null define name is the pair's null value.
  EXPECT_EQ(ssWriteXCGWorkVect(&S, "RWork", 1, nullptr, 1), 0);
  EXPECT_EQ(status(), kPairValue);
}

TEST_F(Xcg, WorkVectEndsWithTheHostResultOfAFailingCall) {
  S.SizesVector[NumRWork] = 9;  // mismatched, yet a host failure comes first
  for (size_t k = 0; k < 11; ++k) {
    SCOPED_TRACE(k);
    spy.calls.clear();
    spy.results.assign(k + 1, 1);
    spy.results[k] = k % 2 == 0 ? 0 : -7;
    EXPECT_EQ(ssWriteXCGWorkVect(&S, "RWork", 2, "gain", 1, "history", 2), spy.results[k]);
    EXPECT_EQ(spy.calls.size(), k + 1);
    EXPECT_EQ(status(), "");
  }
}

void collectWarning(const char* msg, void* ctx) { static_cast<std::vector<std::string>*>(ctx)->push_back(msg); }

TEST_F(Xcg, BlockWarningPrefixesThePath) {
  std::vector<std::string> got;
  plgSetWarningHandler(&collectWarning, &got);
  BlockWarning(&S, "careful: 100%");
  BlockWarning(&S, nullptr);
  S.BlockPath = nullptr;
  BlockWarning(&S, "careful: 100%");
  plgSetWarningHandler(nullptr, nullptr);
  EXPECT_EQ(got, (std::vector<std::string>{"block 'model/sub/blk': careful: 100%", "block 'model/sub/blk': ",
                                           "careful: 100%"}));
}

TEST(XcgClassIds, EveryClassMapsToItsDataType) {
  for (int id = 0; id <= 16; ++id) {
    axArray* a = axCreateClassMatrix(1, 1, id, false);
    EXPECT_EQ(ClassIdToDataTypeId(a), id >= 6 && id <= 13 ? id - 6 : -10) << "class " << id;
    axDestroyArray(a);
  }
  axArray* logical = axCreateClassMatrix(1, 1, axUINT8_CLASS, true);
  EXPECT_EQ(ClassIdToDataTypeId(logical), XcgBoolean);
  axArray* logicalDouble = axCreateClassMatrix(1, 1, axDOUBLE_CLASS, true);  // only class 9 is boolean
  EXPECT_EQ(ClassIdToDataTypeId(logicalDouble), XcgDouble);
  axArray* text = axCreateCharArray("abc");
  EXPECT_EQ(ClassIdToDataTypeId(text), XcgInvalidDataType);
  EXPECT_EQ(ClassIdToDataTypeId(nullptr), XcgInvalidDataType);
  for (axArray* a : {logical, logicalDouble, text}) axDestroyArray(a);
}

// ---------------------------------------------------------------------------
// The host writer.

std::string readRest(FILE* f) {
  std::string text;
  char buf[4096];
  for (size_t got; (got = fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, got);
  return text;
}
std::string readAll(FILE* f) {
  rewind(f);
  return readRest(f);
}

TEST_F(Xcg, HostWriterWritesTheExampleFile) {
  FILE* f = tmpfile();
  ASSERT_NE(f, nullptr);
  blocksim::XcgWriter writer{f, 0};
  blocksim::attachXcgWriter(si, &writer);
  S.SizesVector[NumRWork] = 3;
  S.SizesVector[NumIWork] = 1;
  const float fl[4] = {0.1f, -2.5f, 3.0f, 1e-3f};  // complex single: two elements
  const int8_t i8[2] = {-128, 127};
  const uint8_t u8[3] = {0, 255, 1};
  const int16_t i16[2] = {-32768, 32767};
  const uint16_t u16[1] = {65535};
  const uint32_t u32[1] = {4294967295u};
  const double special[3] = {-0.0, 1e300, 0.1};
  const char* labels[3] = {"first", nullptr, "tab\there"};
  EXPECT_EQ(ssWriteXCGRecordLine(&S, "Block {"), 1);
  EXPECT_EQ(ssWriteXCGNameValuePair(&S, 0, "Type", "say \"hi\"\\\n"), 1);
  EXPECT_EQ(ssWriteXCGParamSettings(&S, 9, 1, "Method", "lookup", 2, "Labels", v(labels), 3, 3, "Gain", 2.5, 4,
                                    "Levels", v(special), 3, 5, "Empty", nullptr, 0, 0, 7, "Bytes", v(u8), 3,
                                    XcgUint8, 8, "Mask", v(u8), 1, 3, XcgBoolean, 9, "Roots", v(fl), v(fl + 2), 2,
                                    XcgSingle | XcgComplexBit, 6, "Odd", v(d), 99),
            1);
  EXPECT_EQ(ssWriteXCGParameters(&S, 4, 8, "Limits", "[-128 127]", v(i8), 1, 2, XcgInt8, 7, "Range", "r",
                                 v(i16), 2, XcgInt16, 8, "Top", "", v(u16), 1, 1, XcgUint16, 7, "Big", "2^32-1",
                                 v(u32), 1, XcgUint32),
            1);
  EXPECT_EQ(ssWriteXCGNameValuePair(&S, 8, "Pairs", fl, XcgSingle | XcgComplexBit, 1, 2), 1);
  EXPECT_EQ(ssWriteXCGWorkVect(&S, "RWork", 2, "gain", 1, "history", 2), 1);
  EXPECT_EQ(ssWriteXCGWorkVect(&S, "IWork", 1, "mode", 1), 1);
  EXPECT_EQ(ssWriteXCGRecordLine(&S, "}"), 1);
  EXPECT_EQ(ssWriteXCGRecordLine(&S, "}"), 1);  // one too many stays at the margin
  const std::string text = readAll(f);
  fclose(f);

  std::ifstream in(KIVREL_XCG_EXAMPLE, std::ios::binary);
  std::stringstream want;
  want << in.rdbuf();
  EXPECT_EQ(text, want.str()) << "written:\n" << text;
  if (text != want.str()) std::ofstream("example.xcg.written", std::ios::binary) << text;
}

TEST_F(Xcg, HostWriterFailureEndsTheWriter) {
  // A stream open for reading only: every write fails.
  FILE* f = fopen("/dev/null", "r");
  ASSERT_NE(f, nullptr);
  blocksim::XcgWriter writer{f, 0};
  blocksim::attachXcgWriter(si, &writer);
  S.SizesVector[NumRWork] = 99;
  EXPECT_EQ(ssWriteXCGWorkVect(&S, "RWork", 1, "gain", 1), 0);
  EXPECT_EQ(ssWriteXCGParamSettings(&S, 1, 3, "Gain", 1.0), 0);
  EXPECT_EQ(status(), "");  // the host's result, no message of the framework
  fclose(f);
  // No file, and arguments the writer cannot show.
  blocksim::XcgWriter none;
  EXPECT_EQ(blocksim::xcgWriteRecord(&none, "x"), 0);
  // Arguments the writer cannot show are refused without a line.
  blocksim::XcgWriter open{tmpfile(), 0};
  ASSERT_NE(open.file, nullptr);
  EXPECT_EQ(blocksim::xcgWriteNameValue(&open, 4, "x", d, 0, -1, 1), 0);
  EXPECT_EQ(blocksim::xcgWriteNameValue(&open, 4, "x", nullptr, 0, 2, 1), 0);
  EXPECT_EQ(readAll(open.file), "");
  fclose(open.file);
}

// ---------------------------------------------------------------------------
// The services as built into the plug-ins.

TEST(XcgPlugins, ServicesRunInBothFrameworkBuilds) {
  for (const char* name : {"xcgprobe", "xcgprobe2"}) {
    SCOPED_TRACE(name);
    std::string why;
    auto plugin = blocksim::Plugin::load(KIVREL_TEST_PLUGIN_DIR, name, why);
    ASSERT_TRUE(plugin) << why;
    blocksim::Instance inst(plugin, "model/probe");
    inst.addParam(harness::row({1, 2}));
    inst.addParam(axCreateClassMatrix(1, 1, axUINT8_CLASS, true));
    blocksim::CallResult r = inst.sizesCall();  // no writer yet
    EXPECT_STREQ(r.status, "The host supplies no .xcg file writer");

    FILE* f = tmpfile();
    ASSERT_NE(f, nullptr);
    blocksim::XcgWriter writer{f, 0};
    blocksim::attachXcgWriter(inst.simInfo(), &writer);
    r = inst.sizesCall();
    harness::expectOk(r);
    EXPECT_EQ(r.warnings, std::vector<std::string>{"block 'model/probe': sized"});
    EXPECT_EQ(inst.sizes()[11], 1);
    EXPECT_EQ(inst.sizes()[12], XcgBoolean);
    inst.setParam(0, harness::row({1, 1}));
    r = inst.sizesCall();
    EXPECT_STREQ(r.status,
                 "Error in ssWriteXCGWorkVect.  The total number of RWorkDefines written to the .xcg file (= 2), "
                 "should be equal to number of RWork (= 3), registered in mdlInitializeSizes");
    const std::string text = readAll(f);
    fclose(f);
    const std::string defines = "NumRWorkDefines [type 6, int32, 1x1] = 2\nRWorkDefine {\n  Name [type 1, text] = \"gain\"\n";
    EXPECT_EQ(text.substr(0, defines.size()), defines);
    EXPECT_EQ(text.rfind(defines), text.size() / 2);  // both calls wrote all their 11 lines
  }
}

// Every plug-in carries the services as local functions: readelf shows them
// in the symbol table, not among the exports.
TEST(XcgPlugins, EveryPluginCarriesTheServices) {
  const char* services[] = {"ssWriteXCGRecordLine",   "ssWriteXCGNameValuePair", "ssWriteXCGComplexVector",
                            "ssWriteXCGComplexMatrix", "ssWriteXCGParameters",    "ssWriteXCGParamSettings",
                            "ssWriteXCGWorkVect",      "BlockWarning",            "ClassIdToDataTypeId"};
  std::vector<std::string> files = {std::string(KIVREL_TEST_PLUGIN_DIR) + "/xcgprobe.plgglx",
                                    std::string(KIVREL_TEST_PLUGIN_DIR) + "/xcgprobe2.plgglx"};
  std::istringstream names(KIVREL_XCG_PLUGINS);
  for (std::string name; names >> name;) files.push_back(std::string(KIVREL_PLUGIN_DIR) + "/" + name + ".plgglx");
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    ASSERT_TRUE(std::ifstream(file).good()) << "not built";
    FILE* p = popen(("readelf -sW '" + file + "' | awk '$4 == \"FUNC\" && $5 == \"LOCAL\" && $7 != \"UND\"'").c_str(), "r");
    ASSERT_NE(p, nullptr);
    const std::string locals = readRest(p);
    EXPECT_EQ(pclose(p), 0);
    // The mangled name of a function at namespace level: _Z<length><name>.
    for (const char* service : services)
      EXPECT_NE(locals.find(" _Z" + std::to_string(strlen(service)) + service), std::string::npos)
          << service << " is not a local function";
  }
}

}  // namespace

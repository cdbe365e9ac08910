// The gateway of a level-1 plug-in, driven through plgFunction of the real
// files: argument checks of the sizes call in their order, the host-record
// marker, the command-line context, the returned sizes and the direct calls.
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "harness.h"

using namespace harness;

namespace {

const char kLabel[] = "PLG level1 S-function \"probe\"";

std::shared_ptr<blocksim::Plugin> probePlugin() {
  std::string why;
  auto p = blocksim::Plugin::load(KIVREL_TEST_PLUGIN_DIR, "probe", why);
  EXPECT_TRUE(p) << why;
  return p;
}

// The four fixed arguments of a sizes call, with the given FLAG and x.
void fixedArgs(RawCall& c, axArray* x, axArray* flag) {
  c.rhs = {num(0), x, empty(), flag};
}

TEST(SizesCall, ArgumentMessagesInOrderOfPrecedence) {
  auto p = probePlugin();
  {
    RawCall c;  // three arguments and too many left-hand ones: the count wins
    c.rhs = {num(0), empty(), empty()};
    c.run(*p, 2);
    EXPECT_EQ(c.error, std::string(kLabel) + " must be called with at least 4 right hand arguments");
  }
  {
    RawCall c;
    fixedArgs(c, empty(), num(0.5));  // a bad flag too, but left-hand count first
    c.run(*p, 2);
    EXPECT_EQ(c.error, std::string(kLabel) + " called with too many left hand arguments");
  }
  const std::string integerMsg = std::string("The 4th right hand argument, FLAG, passed to ") + kLabel +
                                 " must be an integer";
  axArray* complexFlag = axCreateDoubleMatrix(1, 1, 1);
  axArray* badFlags[] = {row({0, 0}), empty(), str("a"), complexFlag, num(0.5),
                         num(NAN),    num(INFINITY), num(3e9), num(-2147483649.0)};
  for (axArray* flag : badFlags) {
    RawCall c;
    fixedArgs(c, empty(), flag);
    c.run(*p, 1);
    EXPECT_EQ(c.error, integerMsg);
  }
  for (double v : {2.0, -1.0}) {
    RawCall c;
    fixedArgs(c, empty(), num(v));
    c.run(*p, 1);
    EXPECT_EQ(c.error, std::string("Invalid flag passed to ") + kLabel);
  }
}

TEST(SizesCall, HostRecordIsFoundOnlyBehindTheExactMarker) {
  auto p = probePlugin();
  blocksim::Instance inst(p, "probe");
  BlockContext& ctx = inst.context();
  auto addressArray = [&](int rows, int cols, double marker) {
    axArray* x = axCreateDoubleMatrix(rows, cols, 0);
    double* pr = axGetPr(x);
#if UINTPTR_MAX == 0xFFFFFFFFu
    pr[0] = static_cast<int32_t>(reinterpret_cast<uintptr_t>(&ctx));
#else
    pr[0] = static_cast<double>(reinterpret_cast<uintptr_t>(&ctx));
#endif
    if (rows * cols > 1) pr[1] = marker;
    return x;
  };
  struct Case {
    int rows, cols;
    double marker;
    bool host;
  } cases[] = {{2, 1, HostRecordMarker, true},         {2, 3, HostRecordMarker, true},
               {2, 1, HostRecordMarker + 0.5, false},  {1, 2, HostRecordMarker, false},
               {3, 1, HostRecordMarker, false},        {2, 1, 0.0, false}};
  for (const Case& k : cases) {
    memset(ctx.SizesVector, 0, sizeof ctx.SizesVector);
    ctx.Callbacks = CallbackTable{};
    RawCall c;
    fixedArgs(c, addressArray(k.rows, k.cols, k.marker), num(0));
    c.run(*p, 1);
    ASSERT_FALSE(c.failed) << c.error;
    // Entry 12: the callback table was filled (host record only); entry 14:
    // the run mode the block saw (2 in the host's record, 1 in its own).
    EXPECT_EQ(c.entry(12), k.host ? 1 : 0) << k.rows << "x" << k.cols;
    EXPECT_EQ(c.entry(14), k.host ? 2 : 1);
    EXPECT_EQ(ctx.SizesVector[VersionMarker], k.host ? Level1VersionMarker : 0);
    EXPECT_EQ(ctx.Callbacks.mdlGetInputPortWidth, nullptr);  // left as the host set it
  }
}

TEST(SizesCall, CommandLineContextTakesTheArgumentsAfterFlag) {
  auto p = probePlugin();
  for (int params : {0, 1, 3}) {
    RawCall c;
    fixedArgs(c, empty(), num(0));
    for (int i = 0; i < params; ++i) c.rhs.push_back(num(5));
    c.run(*p, 0);  // the result is stored even for a left-hand count of 0
    ASSERT_FALSE(c.failed) << c.error;
    ASSERT_NE(c.lhs[0], nullptr);
    EXPECT_EQ(axGetM(c.lhs[0]), 38);
    EXPECT_EQ(axGetN(c.lhs[0]), 1);
    EXPECT_EQ(c.entry(13), params);
    EXPECT_EQ(c.entry(14), 1);   // RunMode of its own record
    EXPECT_EQ(c.entry(11), 0);   // all entries zero but the marker at the start
    EXPECT_EQ(c.entry(12), 0);   // empty callback table
    EXPECT_EQ(c.entry(VersionMarker), Level1VersionMarker);
  }
#if UINTPTR_MAX == 0xFFFFFFFFu
  // An argument count whose parameter list does not fit the address space:
  // the context cannot be made, and the call says so before it reads any
  // parameter.
  RawCall huge;
  fixedArgs(huge, empty(), num(0));
  huge.run(*p, 1, INT32_MAX);
  EXPECT_EQ(huge.error, "Out of memory while making the context of a command-line call.");
#endif
  EXPECT_EQ(axPendingCallocs(), 0u);
}

TEST(SizesCall, ReturnedEntriesSignedUnsignedAndOptionBit) {
  auto p = probePlugin();
  blocksim::Instance inst(p, "probe");
  inst.addParam(num(1));  // probe stores -1 in entries 15, 20 and 23
  harness::expectOk(inst.sizesCall());
  const std::vector<double>& s = inst.sizes();
  ASSERT_EQ(s.size(), 38u);
  EXPECT_EQ(s[FirstUnsignedEntry], 4294967295.0);
  EXPECT_EQ(s[OptionFlags], 4294967295.0);
  EXPECT_EQ(s[20], -7.0);
  EXPECT_EQ(s[NumInputs], -1.0);
  EXPECT_EQ(s[VersionMarker], 5120214.0);

  blocksim::Instance plain(p, "probe");
  harness::expectOk(plain.sizesCall());
  EXPECT_EQ(plain.sizes()[OptionFlags], OptionSizesCallBit);
  EXPECT_EQ(plain.context().SizesVector[OptionFlags], OptionSizesCallBit);  // also in the record

  blocksim::Instance over(p, "probe");
  over.addParam(num(2));  // the block overwrites the version marker
  harness::expectOk(over.sizesCall());
  EXPECT_EQ(over.sizes()[VersionMarker], 42.0);
}

TEST(SizesCall, NameCheckOnlyInRunModeTwo) {
  // A copy of the probe under another file name.
  char dir[] = "/tmp/kivrel-name-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string copy = std::string(dir) + "/other.plgglx";
  {
    std::ifstream src(std::string(KIVREL_TEST_PLUGIN_DIR) + "/probe.plgglx", std::ios::binary);
    std::ofstream dst(copy, std::ios::binary);
    dst << src.rdbuf();
  }
  std::string why;
  auto p = blocksim::Plugin::load("", copy, why);
  ASSERT_TRUE(p) << why;
  blocksim::Instance inst(p, "other");
  blocksim::CallResult r = inst.sizesCall();
  EXPECT_EQ(r.error,
            "S-function name mismatch. Name in source is \"#define S_FUNCTION_NAME probe\", whereas name of "
            "the S-function PLG file is \"other\". The source needs to be updated");
  EXPECT_EQ(inst.context().SizesVector[VersionMarker], 0);  // nothing written before the check

  inst.simInfo().RunMode = RunModeOwnContext;
  harness::expectOk(inst.sizesCall());
  unlink(copy.c_str());
  rmdir(dir);
}

struct Direct : ::testing::Test {
  std::shared_ptr<blocksim::Plugin> p = probePlugin();
  blocksim::Instance inst{p, "probe"};
  void SetUp() override {
    harness::expectOk(inst.sizesCall());
    inst.settleInputWidth(1);
    inst.settleOutputWidth(1);
    harness::expectOk(inst.start());
  }
  double mark() { return inst.rwork()[0]; }
};

TEST_F(Direct, FlagsReachTheirCallbacksTruncated) {
  const double flags[][2] = {{101.9, FlagInitializeSampleTimes},
                             {FlagInitializeConditions, FlagInitializeConditions},
                             {FlagOutputs, FlagOutputs},
                             {104.5, FlagOutputs},
                             {FlagUpdate, FlagUpdate},
                             {FlagDerivatives, FlagDerivatives},
                             {FlagTerminate, FlagTerminate},
                             {FlagCheckParameters, FlagCheckParameters}};
  for (auto& f : flags) {
    inst.rwork()[0] = 0;
    harness::expectOk(inst.direct(f[0]));
    EXPECT_EQ(mark(), f[1]) << "flag " << f[0];
  }
  EXPECT_EQ(inst.y()[0], 0.0);  // task index 0
}

TEST_F(Direct, StubsMissingSlotsAndUnknownFlags) {
  const std::pair<double, const char*> cases[] = {
      {FlagGetTimeOfNextVarHit, "To have a variable sample time, you must define MDL_GET_TIME_OF_NEXT_VAR_HIT and add a "
            "mdlGetTimeOfNextVarHit routine"},
      {FlagZeroCrossings, "To have nonsampled zero crossings, you must define MDL_ZERO_CROSSINGS and have a mdlZeroCrossings "
            "routine"},
      {FlagGetInputPortWidth, "Unexpected call to mdlGetInputPortWidth"},
      {FlagGetOutputPortWidth, "Unexpected call to mdlGetOutputPortWidth"},
      {FlagSetWorkWidths, "Unexpected call to mdlSetWorkWidths"},
      {999, "Invalid flag encountered in kivrel"},
      {100, "Invalid flag encountered in kivrel"},
      {FlagSetInputPortDataType, "Invalid flag encountered in kivrel"},  // level 2 only
      {NAN, "Invalid flag encountered in kivrel"},
  };
  for (auto& c : cases) {
    inst.rwork()[0] = 0;
    blocksim::CallResult r = inst.direct(c.first);
    EXPECT_FALSE(r.failed);
    ASSERT_NE(r.status, nullptr) << c.first;
    EXPECT_STREQ(r.status, c.second);
    EXPECT_EQ(mark(), 0.0) << "block code ran for flag " << c.first;
  }
}

TEST_F(Direct, WidthSlotsInstalledByTheHostAnswerThroughExchangeArg) {
  inst.context().Callbacks.mdlGetInputPortWidth = reinterpret_cast<AnyCallback>(
      +[](BlockContext*, int32_t w) -> int32_t { return w * 2; });
  inst.context().SizesVector[ExchangeArg] = 21;
  harness::expectOk(inst.direct(FlagGetInputPortWidth));
  EXPECT_EQ(inst.context().SizesVector[ExchangeArg], 42);
}

TEST_F(Direct, CheckParametersGoesThroughTheTable) {
  inst.context().Callbacks.mdlCheckParameters = nullptr;
  blocksim::CallResult r = inst.direct(FlagCheckParameters);
  EXPECT_STREQ(r.status, "Unexpected call to mdlCheckParameters");
}

// The host's table after a sizes call is the same for every deliverable of a
// level, whatever callbacks its source leaves out: the framework fills a
// left-out slot with a no-op.
TEST(CallbackTable, EveryPluginFillsTheSameSlots) {
  std::istringstream names(KIVREL_ALL_PLUGIN_NAMES);
  for (std::string name; names >> name;) {
    blocksim::Instance inst(loadPlugin(name), name);
    inst.sizesCall();  // may refuse the missing parameters: the table is filled before
    const CallbackTable& t = inst.context().Callbacks;
    const bool level2 = inst.context().SizesVector[VersionMarker] == Level2VersionMarker;
    const AnyCallback level1Slots[] = {t.mdlInitializeConditions, t.mdlUpdate, t.mdlDerivatives};
    const AnyCallback level2Slots[] = {t.mdlSetInputPortWidth, t.mdlSetInputPortSampleTime,
                                       t.mdlSetOutputPortSampleTime, t.mdlSetInputPortComplexSignal};
    for (AnyCallback f : {t.mdlInitializeSizes, t.mdlInitializeSampleTimes, t.mdlGetTimeOfNextVarHit, t.mdlOutputs,
                          t.mdlZeroCrossings, t.mdlTerminate})
      EXPECT_NE(f, nullptr) << name;
    for (AnyCallback f : level1Slots) EXPECT_EQ(f != nullptr, !level2) << name;
    for (AnyCallback f : level2Slots) EXPECT_EQ(f != nullptr, level2) << name;
  }
}

TEST(CallbackTable, LeftOutCallbacksDoNothing) {
  Block b("extremum", {str("xav")});  // leaves out conditions, update, derivatives, terminate
  b.start(3);
  b.outputs({1, 5, 2});
  for (double flag : {FlagInitializeConditions, FlagUpdate, FlagDerivatives, FlagTerminate}) {
    expectOk(b.inst().direct(flag));
    EXPECT_EQ(b.y(), std::vector<double>{5}) << "flag " << flag;
  }
}

TEST(Version, TextIsStatic) {
  auto p = probePlugin();
  EXPECT_STREQ(p->version(), "Trelon R14 native");
  EXPECT_EQ(p->version(), p->version());
}

}  // namespace

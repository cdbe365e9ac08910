// The level-2 build of the gateway, driven through plgFunction of a real
// level-2 plug-in (probe2): its sizes call, its own context with the port
// counters, the flag table with its messages, and the dimension helpers and
// host queries it offers to blocks.
#include <math.h>
#include <string.h>
#include <unistd.h>

#include <fstream>

#include "harness.h"

using namespace harness;

namespace {

const char kLabel[] = "PLG level2 S-function \"probe2\"";

std::shared_ptr<blocksim::Plugin> probe2(const std::string& path = "") {
  std::string why;
  auto p = path.empty() ? blocksim::Plugin::load(KIVREL_TEST_PLUGIN_DIR, "probe2", why)
                        : blocksim::Plugin::load("", path, why);
  EXPECT_TRUE(p) << why;
  return p;
}

// A command-line sizes call with the given parameters.
std::vector<double> commandLineSizes(blocksim::Plugin& p, std::initializer_list<axArray*> params) {
  RawCall c;
  c.rhs = {num(0), empty(), empty(), num(0)};
  for (axArray* a : params) c.rhs.push_back(a);
  c.run(p, 1);
  EXPECT_FALSE(c.failed) << c.error;
  return c.result();
}

TEST(Level2Sizes, ArgumentMessagesCarryTheLevel2Label) {
  auto p = probe2();
  RawCall few;
  few.rhs = {num(0), empty(), empty()};
  few.run(*p, 1);
  EXPECT_EQ(few.error, std::string(kLabel) + " must be called with at least 4 right hand arguments");
  RawCall other;
  other.rhs = {num(0), empty(), empty(), num(3)};
  other.run(*p, 1);
  EXPECT_EQ(other.error, std::string("Invalid flag passed to ") + kLabel);
}

TEST(Level2Sizes, NameCheckedWhateverTheRunMode) {
  char dir[] = "/tmp/kivrel-level2-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string copy = std::string(dir) + "/renamed.plgglx";
  {
    std::ifstream src(std::string(KIVREL_TEST_PLUGIN_DIR) + "/probe2.plgglx", std::ios::binary);
    std::ofstream dst(copy, std::ios::binary);
    dst << src.rdbuf();
  }
  auto p = probe2(copy);
  ASSERT_TRUE(p);
  for (int32_t mode : {2, 1, 0, 7}) {
    blocksim::Instance inst(p, "renamed");
    inst.simInfo().RunMode = mode;
    blocksim::CallResult r = inst.sizesCall();
    EXPECT_EQ(r.error,
              "S-function name mismatch. Name in source is \"#define S_FUNCTION_NAME probe2\", whereas name of "
              "the S-function PLG file is \"renamed\". The source needs to be updated")
        << "run mode " << mode;
    EXPECT_EQ(inst.context().SizesVector[PortFlags], 0);  // nothing written before the check
    EXPECT_EQ(inst.context().Callbacks.mdlOutputs, nullptr);
  }
  unlink(copy.c_str());
  rmdir(dir);
}

TEST(Level2Sizes, HostRecordGetsTheLevel2CallbacksAndMarker) {
  auto p = probe2();
  blocksim::Instance inst(p, "probe2");
  harness::expectOk(inst.sizesCall());
  const std::vector<double>& s = inst.sizes();
  EXPECT_EQ(s[VersionMarker], Level2VersionMarker);
  EXPECT_EQ(s[OptionFlags], OptionSizesCallBit);
  EXPECT_EQ(s[12], 1);  // the table was filled before mdlInitializeSizes
  EXPECT_EQ(s[11], 0);
  EXPECT_EQ(s[14], 2);
  EXPECT_EQ(s[PortFlags], PortFlagDimsSetters | PortFlagCountsSet);
  EXPECT_EQ(s[NumInputs], 2);
  EXPECT_EQ(s[NumOutputs], 1);

  const CallbackTable& t = inst.context().Callbacks;
  for (AnyCallback f : {t.mdlInitializeSizes, t.mdlSetInputPortWidth, t.mdlSetInputPortSampleTime,
                        t.mdlSetOutputPortSampleTime, t.mdlSetInputPortComplexSignal, t.mdlInitializeSampleTimes,
                        t.mdlGetTimeOfNextVarHit, t.mdlOutputs, t.mdlZeroCrossings, t.mdlTerminate})
    EXPECT_NE(f, nullptr);
  for (AnyCallback f : {t.mdlGetInputPortWidth, t.mdlGetOutputPortWidth, t.mdlSetOutputPortWidth,
                        t.mdlSetInputPortDataType, t.mdlSetOutputPortDataType, t.mdlSetWorkWidths,
                        t.mdlInitializeConditions, t.mdlCheckParameters, t.mdlUpdate, t.mdlDerivatives,
                        t.mdlSetOutputPortComplexSignal})
    EXPECT_EQ(f, nullptr);
}

TEST(Level2Sizes, CommandLineContextDeclaresPortsThroughItsCounters) {
  auto p = probe2();
  // Three inputs and two outputs: both counters answer 1 and point at the
  // record, the counts land in entries 3 and 2, bit 1 of PortFlags is set
  // (bit 0 is not: no host record), and the records come zero-filled.
  std::vector<double> s = commandLineSizes(*p, {num(3), num(2)});
  ASSERT_EQ(s.size(), 38u);
  EXPECT_EQ(s[14], 1);
  EXPECT_EQ(s[12], 0);
  EXPECT_EQ(s[11], 0);
  EXPECT_EQ(s[VersionMarker], Level2VersionMarker);
  EXPECT_EQ(s[20], 1);
  EXPECT_EQ(s[21], 1);
  EXPECT_EQ(s[22], 3);
  EXPECT_EQ(s[NumInputs], 3);
  EXPECT_EQ(s[NumOutputs], 2);
  EXPECT_EQ(s[PortFlags], 2);
  EXPECT_EQ(s[24], 1);
  EXPECT_EQ(s[25], 1);
  EXPECT_EQ(s[26], 1);

  // Zero ports: counted, but no records.
  s = commandLineSizes(*p, {num(0), num(0)});
  EXPECT_EQ(s[20], 1);
  EXPECT_EQ(s[21], 1);
  EXPECT_EQ(s[PortFlags], 2);
  EXPECT_EQ(s[24], 0);
  EXPECT_EQ(s[25], 0);

  // Negative counts are refused and change nothing.
  s = commandLineSizes(*p, {num(-1), num(-5)});
  EXPECT_EQ(s[20], 0);
  EXPECT_EQ(s[21], 0);
  EXPECT_EQ(s[NumInputs], 0);
  EXPECT_EQ(s[NumOutputs], 0);
  EXPECT_EQ(s[PortFlags], 0);
  EXPECT_EQ(s[24], 0);

#if UINTPTR_MAX == 0xFFFFFFFFu
  // Records that cannot be allocated (more bytes than the address space)
  // are refused the same way.
  s = commandLineSizes(*p, {num(2147483647), num(1)});
  EXPECT_EQ(s[20], 0);
  EXPECT_EQ(s[NumInputs], 0);
  EXPECT_EQ(s[24], 0);
  EXPECT_EQ(s[21], 1);
#endif
  EXPECT_EQ(axPendingCallocs(), 0u);
}

// What the host-side functions below were called with.
struct Seen {
  int calls = 0;
  int32_t port = 0, value = 0;
  DimsInfo info{};
  int32_t dims[2] = {0, 0};
  int32_t request = 0, arg = 0;
  int32_t answer = 1;
};
Seen seen;

int32_t recordDims(BlockContext*, int32_t port, const DimsInfo* info) {
  ++seen.calls;
  seen.port = port;
  seen.info = *info;
  for (int i = 0; i < info->numDims && i < 2; ++i) seen.dims[i] = info->dims[i];
  return seen.answer;
}
void recordPortValue(BlockContext*, int32_t port, int32_t value) {
  ++seen.calls;
  seen.port = port;
  seen.value = value;
}
void recordPortDims(BlockContext* S, int32_t port, const DimsInfo* info) { recordDims(S, port, info); }
void recordContext(BlockContext*) { ++seen.calls; }
void answerQuery(BlockContext*, int32_t request, int32_t arg, void* result) {
  ++seen.calls;
  seen.request = request;
  seen.arg = arg;
  if (request == QueryIntRequest) *static_cast<int32_t*>(result) = arg * 3;
  if (request == QueryDoubleRequest) *static_cast<double*>(result) = 0.125;
}

template <typename Fn>
AnyCallback any(Fn f) {
  return reinterpret_cast<AnyCallback>(f);
}

struct Level2Direct : ::testing::Test {
  std::shared_ptr<blocksim::Plugin> p = probe2();
  blocksim::Instance inst{p, "probe2"};
  PortMethodTable methods{};  // a PortMethods record a test may install
  void SetUp() override {
    seen = Seen{};
    harness::expectOk(inst.sizesCall());
    ASSERT_EQ(inst.checkCounts(), "");
    harness::expectOk(inst.start());
  }
  BlockContext& ctx() { return inst.context(); }
  double* rw() { return inst.rwork(); }
  // A direct call after clearing the probe's marks.
  blocksim::CallResult call(double flag) {
    for (int i = 0; i < 7; ++i) rw()[i] = 0;
    return inst.direct(flag);
  }
  void expectMessage(double flag, const char* message) {
    blocksim::CallResult r = call(flag);
    EXPECT_FALSE(r.failed);
    ASSERT_NE(r.status, nullptr) << "flag " << flag;
    EXPECT_STREQ(r.status, message) << "flag " << flag;
    EXPECT_EQ(rw()[0], 0.0) << "block code ran for flag " << flag;
  }
};

TEST_F(Level2Direct, FlagsWithoutALevel2CaseAreInvalid) {
  // The level-1 flags, and numbers no level takes.
  const double flags[] = {FlagInitializeConditions, FlagUpdate, FlagDerivatives, FlagGetInputPortWidth,
                          FlagGetOutputPortWidth, 117, 118, 119, 124, 125, 129, 130, 100, 134, 0, -104, 999, NAN};
  for (double f : flags)
    expectMessage(f, "Invalid flag encountered in kivrel");
}

TEST_F(Level2Direct, BlockCallbacksAndStubs) {
  harness::expectOk(call(101.9));
  EXPECT_EQ(rw()[0], FlagInitializeSampleTimes);
  harness::expectOk(call(FlagTerminate));
  EXPECT_EQ(rw()[0], FlagTerminate);
  expectMessage(FlagGetTimeOfNextVarHit,
                "To have a variable sample time, you must define MDL_GET_TIME_OF_NEXT_VAR_HIT and add a "
                "mdlGetTimeOfNextVarHit routine");
  expectMessage(FlagZeroCrossings,
                "To have nonsampled zero crossings, you must define MDL_ZERO_CROSSINGS and have a mdlZeroCrossings "
                "routine");
}

TEST_F(Level2Direct, OutputsGetTaskIndexMinusTwoOnlyWhenExchangeArgSaysSo) {
  const std::pair<int32_t, double> cases[] = {{-2, -2}, {0, 0}, {1, 0}, {-1, 0}, {-3, 0}, {2, 0}, {INT32_MIN, 0}};
  for (auto& c : cases) {
    ctx().SizesVector[ExchangeArg] = c.first;
    rw()[1] = 99;
    harness::expectOk(call(104.7));
    EXPECT_EQ(rw()[0], FlagOutputs);
    EXPECT_EQ(rw()[1], c.second) << "ExchangeArg " << c.first;
  }
}

TEST_F(Level2Direct, EmptySlotsGiveTheirMessages) {
  const std::pair<double, const char*> cases[] = {
      {FlagSetWorkWidths, "Unexpected call to mdlSetWorkWidths"},
      {FlagCheckParameters, "Unexpected call to mdlCheckParameters"},
      {FlagSetInputPortDataType, "Unexpected call to mdlSetInputPortDataType"},
      {FlagSetOutputPortDataType, "Unexpected call to mdlSetOutputPortDataType"},
      {FlagSetOutputPortWidth, "Unexpected call to mdlSetOutputPortWidth"},
      {FlagSetOutputPortComplexSignal, "Unexpected call to mdlSetOutputPortComplexSignal"},
      {FlagSetOutputPortDimensionInfo, "Unexpected call to mdlSetOutputPortDimensionInfo"},
      {FlagSetInputPortFrameData, "Unexpected call to mdlSetInputPortFrameData"},
      {FlagSetDefaultPortDimensionInfo, "Unexpected call to mdlSetDefaultPortDimensionInfo"},
      {FlagSetDefaultPortDataTypes, "Unexpected call to mdlSetDefaultPortDataTypes"},
      {FlagSetDefaultPortComplexSignals, "Unexpected call to mdlSetDefaultPortComplexSignals"},
  };
  for (auto& c : cases) expectMessage(c.first, c.second);
  // A host without a PortMethods record at all.
  ctx().PortMethods = nullptr;
  expectMessage(FlagSetInputPortFrameData, "Unexpected call to mdlSetInputPortFrameData");
  expectMessage(FlagSetDefaultPortComplexSignals, "Unexpected call to mdlSetDefaultPortComplexSignals");
}

TEST_F(Level2Direct, WidthSlotsAnswerByPortFlagsBitZero) {
  // The bit set by the sizes call: the input dimension-info flag reaches the
  // block's setter with ExchangeArg and PortArgDims; the input width flag is
  // refused though its slot holds that very setter.
  ASSERT_NE(ctx().SizesVector[PortFlags] & PortFlagDimsSetters, 0);
  ASSERT_NE(ctx().Callbacks.mdlSetInputPortWidth, nullptr);
  int32_t dims[2] = {2, 3};
  DimsInfo info{6, 2, dims, 0};
  inst.simInfo().PortArgDims = &info;
  ctx().SizesVector[ExchangeArg] = 1;
  harness::expectOk(call(FlagSetInputPortDimensionInfo));
  EXPECT_EQ(rw()[0], FlagSetInputPortDimensionInfo);
  EXPECT_EQ(rw()[1], 1);
  EXPECT_EQ(rw()[2], 6);
  EXPECT_EQ(rw()[3], 2);
  expectMessage(FlagSetInputPortWidth, "Unexpected call to mdlSetInputPortWidth");
  expectMessage(FlagSetOutputPortWidth, "Unexpected call to mdlSetOutputPortWidth");

  // A host-installed output dimension setter is reached.
  ctx().Callbacks.mdlSetOutputPortWidth = any(recordPortDims);
  harness::expectOk(call(FlagSetOutputPortDimensionInfo));
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(seen.port, 1);
  EXPECT_EQ(seen.info.width, 6);
  EXPECT_EQ(seen.dims[1], 3);

  // The bit clear: the same slots are width setters, reached by the width
  // flags with PortArgValue, and the dimension-info flags are refused.
  seen = Seen{};
  ctx().SizesVector[PortFlags] &= ~PortFlagDimsSetters;
  ctx().Callbacks.mdlSetInputPortWidth = any(recordPortValue);
  ctx().Callbacks.mdlSetOutputPortWidth = any(recordPortValue);
  inst.simInfo().PortArgValue = 17;
  ctx().SizesVector[ExchangeArg] = 0;
  harness::expectOk(call(FlagSetInputPortWidth));
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(seen.value, 17);
  harness::expectOk(call(FlagSetOutputPortWidth));
  EXPECT_EQ(seen.calls, 2);
  expectMessage(FlagSetInputPortDimensionInfo, "Unexpected call to mdlSetInputPortDimensionInfo");
  expectMessage(FlagSetOutputPortDimensionInfo, "Unexpected call to mdlSetOutputPortDimensionInfo");
  EXPECT_EQ(seen.calls, 2);
}

TEST_F(Level2Direct, PortCallsPassTheirArguments) {
  ctx().SizesVector[ExchangeArg] = 1;
  inst.simInfo().PortArgValue = -1;
  inst.simInfo().PortArgTimes[0] = 0.25;
  inst.simInfo().PortArgTimes[1] = 0.125;
  harness::expectOk(call(FlagSetInputPortComplexSignal));
  EXPECT_EQ(rw()[0], FlagSetInputPortComplexSignal);
  EXPECT_EQ(rw()[1], 1);
  EXPECT_EQ(rw()[2], -1);
  harness::expectOk(call(FlagSetInputPortSampleTime));
  EXPECT_EQ(rw()[0], FlagSetInputPortSampleTime);
  EXPECT_EQ(rw()[2], 0.25);
  EXPECT_EQ(rw()[3], 0.125);
  harness::expectOk(call(FlagSetOutputPortSampleTime));
  EXPECT_EQ(rw()[0], FlagSetOutputPortSampleTime);
  EXPECT_EQ(rw()[1], 1);

  // Slots the host fills itself, and the PortMethods record.
  CallbackTable& t = ctx().Callbacks;
  t.mdlSetInputPortDataType = any(recordPortValue);
  t.mdlSetOutputPortDataType = any(recordPortValue);
  t.mdlSetOutputPortComplexSignal = any(recordPortValue);
  t.mdlSetWorkWidths = any(recordContext);
  t.mdlCheckParameters = any(recordContext);
  methods.mdlSetInputPortFrameData = recordPortValue;
  methods.mdlSetDefaultPortDimensionInfo = recordContext;
  methods.mdlSetDefaultPortDataTypes = recordContext;
  methods.mdlSetDefaultPortComplexSignals = recordContext;
  ctx().PortMethods = &methods;
  int expectedCalls = 0;
  for (int32_t f : {FlagSetInputPortDataType, FlagSetOutputPortDataType, FlagSetOutputPortComplexSignal,
                    FlagSetInputPortFrameData}) {
    inst.simInfo().PortArgValue = f;
    ctx().SizesVector[ExchangeArg] = f - 100;
    harness::expectOk(call(f));
    EXPECT_EQ(seen.calls, ++expectedCalls) << "flag " << f;
    EXPECT_EQ(seen.port, f - 100);
    EXPECT_EQ(seen.value, f);
  }
  for (double f : {FlagSetWorkWidths, FlagCheckParameters, FlagSetDefaultPortDimensionInfo,
                   FlagSetDefaultPortDataTypes, FlagSetDefaultPortComplexSignals}) {
    harness::expectOk(call(f));
    EXPECT_EQ(seen.calls, ++expectedCalls) << "flag " << f;
  }
}

// The framework's dimension helpers and host queries, run by the probe's
// mdlOutputs.
struct Services : Level2Direct {
  double run(double service, double a = 0, double b = 0, double c = 0) {
    for (int i = 0; i < 7; ++i) rw()[i] = 0;
    rw()[2] = service;
    rw()[3] = a;
    rw()[4] = b;
    rw()[5] = c;
    harness::expectOk(inst.direct(FlagOutputs));
    return rw()[6];
  }
};

TEST_F(Services, DimensionHelpersDescribeThePortToTheHost) {
  inst.simInfo().SetInputPortDimsFn = recordDims;
  inst.simInfo().SetOutputPortDimsFn = recordDims;
  struct Case {
    double service;
    int32_t rows, cols;
    int32_t width, numDims;
  } cases[] = {
      {1, 3, 4, 12, 2}, {1, -1, 4, -1, 2}, {1, 3, -1, -1, 2}, {2, 2, 5, 10, 2},
      {3, 7, 0, 7, 1},  {3, -1, 0, -1, 1}, {4, 9, 0, 9, 1},   {1, 0, 5, 0, 2},
  };
  for (const Case& k : cases) {
    seen = Seen{};
    EXPECT_EQ(run(k.service, 1, k.rows, k.cols), 1);
    ASSERT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.port, 1);
    EXPECT_EQ(seen.info.width, k.width) << k.rows << "x" << k.cols;
    EXPECT_EQ(seen.info.numDims, k.numDims);
    EXPECT_EQ(seen.dims[0], k.rows);
    if (k.numDims == 2) {
      EXPECT_EQ(seen.dims[1], k.cols);
    }
    EXPECT_EQ(seen.info.passThrough, 0);
  }
  // The host's answer is passed back.
  seen = Seen{};
  seen.answer = 0;
  EXPECT_EQ(run(1, 0, 2, 2), 0);
  seen.answer = 5;
  EXPECT_EQ(run(4, 0, 2), 5);
  // An element count beyond the width word is refused without asking.
  seen = Seen{};
  EXPECT_EQ(run(1, 0, 65536, 65536), 0);
  EXPECT_EQ(run(2, 0, -65536, 65536), 0);
  EXPECT_EQ(seen.calls, 0);
  EXPECT_EQ(run(1, 0, 46340, 46341), 1);
  EXPECT_EQ(seen.info.width, 46340 * 46341);

  // Without host functions every helper answers 1.
  inst.simInfo().SetInputPortDimsFn = nullptr;
  inst.simInfo().SetOutputPortDimsFn = nullptr;
  seen = Seen{};
  for (double service : {1.0, 2.0, 3.0, 4.0}) EXPECT_EQ(run(service, 0, 3, 3), 1);
  EXPECT_EQ(run(1, 0, 65536, 65536), 1);
  EXPECT_EQ(seen.calls, 0);
}

TEST_F(Services, HostQueriesStartAtZero) {
  inst.simInfo().HostQueryFn = nullptr;
  EXPECT_EQ(run(5, 4), 0);
  EXPECT_EQ(run(6), 0);
  inst.simInfo().HostQueryFn = answerQuery;
  EXPECT_EQ(run(5, 4), 12);
  EXPECT_EQ(seen.request, 20);
  EXPECT_EQ(seen.arg, 4);
  EXPECT_EQ(run(6), 0.125);
  EXPECT_EQ(seen.request, 21);
  EXPECT_EQ(seen.arg, 0);
}

}  // namespace

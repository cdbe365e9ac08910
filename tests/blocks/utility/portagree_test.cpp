// portagree through the real plug-in: what its sizes call declares (also
// when the host refuses), and how input 2 follows input 1 in dimensions,
// sample time, complexity and frame mode.
#include <math.h>

#include "harness.h"

using namespace harness;

namespace {

const char kSampleTimeMsg[] = "Input 2 should inherit its sample time, or its sample time should match input 1.";
const char kComplexityMsg[] = "Input 2 should inherit complexity, or its complexity should match input 1";
const char kFrameMsg[] = "If port 1 is sample based, port 2 must also be sample based.";

std::string statusOf(const blocksim::CallResult& r) {
  EXPECT_FALSE(r.failed) << r.error;
  return r.status != nullptr ? r.status : "";
}

struct Portagree : ::testing::Test {
  Block b{"portagree"};
  blocksim::Instance& inst() { return b.inst(); }
  BlockContext& ctx() { return b.ctx(); }
  InputPortRecord& port(int i) { return *inst().inputPort(i); }
  int32_t frame(int i) { return portFrameMode(&port(i)); }

  std::string call(double flag, int32_t portIndex) {
    ctx().SizesVector[ExchangeArg] = portIndex;
    return statusOf(inst().direct(flag));
  }
  std::string sampleTime(int32_t p, double t, double offset) {
    inst().simInfo().PortArgTimes[0] = t;
    inst().simInfo().PortArgTimes[1] = offset;
    return call(FlagSetInputPortSampleTime, p);
  }
  std::string complexity(int32_t p, int32_t c) {
    inst().simInfo().PortArgValue = c;
    return call(FlagSetInputPortComplexSignal, p);
  }
  DimsInfo dims{-1, -1, nullptr, 0};
  int32_t dimValues[2] = {0, 0};
  std::string setDims(int32_t p, int32_t width, int32_t rows, int32_t cols) {
    dimValues[0] = rows;
    dimValues[1] = cols;
    dims = DimsInfo{width, 2, dimValues, 0};
    inst().simInfo().PortArgDims = &dims;
    return call(FlagSetInputPortDimensionInfo, p);
  }
};

TEST_F(Portagree, SizesDeclareTwoOpenInputs) {
  std::vector<double> s = b.sizes();
  EXPECT_EQ(s[NumSFcnParams], 0);
  EXPECT_EQ(s[NumInputs], 2);
  EXPECT_EQ(s[NumOutputs], 0);
  EXPECT_EQ(s[NumSampleTimes], -1);
  EXPECT_EQ(s[OptionFlags], OptionPortBlockBit | OptionSizesCallBit);  // the block's word, the framework's bit
  EXPECT_EQ(s[VersionMarker], Level2VersionMarker);
  EXPECT_EQ(s[PortFlags], PortFlagDimsSetters | PortFlagCountsSet);
  ASSERT_EQ(inst().inputPortCount(), 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(frame(i), FrameUnsettled);
    EXPECT_EQ(port(i).Complexity, -1);
    EXPECT_EQ(port(i).PortSampleTime, -1.0);
    EXPECT_EQ(port(i).PortOffsetTime, 0.0);
    EXPECT_EQ(inst().portDims(i), std::make_pair(-1, -1));
  }
  // Start: the sample-time call sets the rate field of PortFlags to 1 and
  // leaves the other bits; no sample time is written.
  ctx().SizesVector[PortFlags] |= 0x1000 | 0x4000;
  harness::expectOk(inst().start());
  EXPECT_EQ(ctx().SizesVector[PortFlags], 0x4000 | PortFlagRateFieldOne | PortFlagDimsSetters | PortFlagCountsSet);
  EXPECT_EQ(inst().numSampleTimes(), 0);
  EXPECT_EQ(call(FlagOutputs, OutputsTaskIndexRequest), "");
  EXPECT_EQ(call(FlagTerminate, 0), "");
}

TEST_F(Portagree, CommandLineSizesDeclareThroughThePluginsOwnCounters) {
  blocksim::CallResult r = inst().sizesCall(true);
  harness::expectOk(r);
  const std::vector<double>& s = inst().sizes();
  EXPECT_EQ(s[NumInputs], 2);
  EXPECT_EQ(s[NumSampleTimes], -1);
  EXPECT_EQ(s[OptionFlags], OptionPortBlockBit | OptionSizesCallBit);
  EXPECT_EQ(s[PortFlags], PortFlagCountsSet);  // no dimension-info setters installed
  EXPECT_EQ(axPendingCallocs(), 0u);
}

TEST_F(Portagree, AParameterLeavesEverythingButTheCountUndeclared) {
  b.param(num(1));
  std::vector<double> s = b.sizes();
  for (int i = 0; i < SizesVectorLength; ++i) {
    double want = i == VersionMarker ? Level2VersionMarker
                  : i == OptionFlags ? OptionSizesCallBit
                  : i == PortFlags   ? PortFlagDimsSetters
                                     : 0;
    EXPECT_EQ(s[i], want) << "entry " << i;
  }
  EXPECT_EQ(inst().inputPortCount(), 0);
  // Port calls that reach a block without ports touch nothing.
  EXPECT_EQ(complexity(0, 1), "");
  EXPECT_EQ(sampleTime(1, 0.5, 0), "");
  EXPECT_EQ(setDims(0, 4, 2, 2), "");
}

TEST_F(Portagree, HostRefusingDimensionsStopsTheDeclaration) {
  inst().setAcceptDims(false);
  std::vector<double> s = b.sizes();
  EXPECT_EQ(s[NumInputs], 2);  // the ports were counted before
  EXPECT_EQ(s[NumSampleTimes], 0);
  EXPECT_EQ(s[OptionFlags], OptionSizesCallBit);
  for (int i = 0; i < 2; ++i) {  // nothing settled by the block
    EXPECT_EQ(frame(i), 0);
    EXPECT_EQ(port(i).Complexity, 0);
    EXPECT_EQ(port(i).PortSampleTime, 0.0);
  }
  // A refused dimension call returns before the frame-mode check.
  setPortFrameMode(&port(0), FrameSampleBased);
  setPortFrameMode(&port(1), FrameFrameBased);
  EXPECT_EQ(setDims(0, 6, 2, 3), "");
  EXPECT_EQ(inst().portDims(0), std::make_pair(-1, -1));
  // Port 1's call asks the host nothing, so its check still runs.
  EXPECT_EQ(setDims(1, 6, 2, 3), kFrameMsg);
  inst().setAcceptDims(true);
  EXPECT_EQ(setDims(0, 6, 2, 3), kFrameMsg);
  EXPECT_EQ(inst().portDims(1), std::make_pair(6, 2));
}

TEST_F(Portagree, Input2DimensionsFollowInput1Only) {
  b.sizes();
  EXPECT_EQ(setDims(0, 6, 2, 3), "");
  EXPECT_EQ(inst().portDims(0), std::make_pair(6, 2));
  EXPECT_EQ(inst().portDims(1), std::make_pair(6, 2));
  EXPECT_EQ(setDims(1, 4, 4, 1), "");
  EXPECT_EQ(inst().portDims(0), std::make_pair(6, 2));
  EXPECT_EQ(inst().portDims(1), std::make_pair(6, 2));
  EXPECT_EQ(setDims(7, 4, 4, 1), "");  // neither input: no dimensions either
  EXPECT_EQ(inst().portDims(1), std::make_pair(6, 2));
}

TEST_F(Portagree, FrameModesOnlySampleThenFrameIsRefused) {
  b.sizes();
  for (int m0 = 0; m0 < 4; ++m0) {
    for (int m1 = 0; m1 < 4; ++m1) {
      setPortFrameMode(&port(0), m0);
      setPortFrameMode(&port(1), m1);
      const std::string want = m0 == 0 && m1 == 1 ? kFrameMsg : "";
      for (int32_t p : {0, 1}) EXPECT_EQ(setDims(p, 1, 1, 1), want) << m0 << " " << m1 << " via port " << p;
      EXPECT_EQ(frame(0), m0);  // the check changes no mode
      EXPECT_EQ(frame(1), m1);
    }
  }
}

TEST_F(Portagree, Input2SampleTimeMustMatchInput1AtTheTimeItIsSet) {
  b.sizes();
  // Port 1 first: port 0 still inherits, so only inheriting passes.
  EXPECT_EQ(sampleTime(1, 0.5, 0), kSampleTimeMsg);
  EXPECT_EQ(port(1).PortSampleTime, -1.0);
  EXPECT_EQ(sampleTime(1, -1.0, 0.25), "");
  EXPECT_EQ(port(1).PortOffsetTime, 0.25);
  // Port 0 takes anything; port 1 then needs the same period (the offset is
  // not compared).
  EXPECT_EQ(sampleTime(0, 0.5, 0.1), "");
  EXPECT_EQ(port(0).PortSampleTime, 0.5);
  EXPECT_EQ(port(0).PortOffsetTime, 0.1);
  EXPECT_EQ(sampleTime(1, 0.5, 0.3), "");
  EXPECT_EQ(port(1).PortSampleTime, 0.5);
  EXPECT_EQ(port(1).PortOffsetTime, 0.3);
  EXPECT_EQ(sampleTime(1, -1.0, 0), kSampleTimeMsg);
  EXPECT_EQ(sampleTime(1, 0.25, 0), kSampleTimeMsg);
  EXPECT_EQ(port(1).PortSampleTime, 0.5);  // a refused time stores nothing
  EXPECT_EQ(port(1).PortOffsetTime, 0.3);
  // Any port index but 0 is input 2.
  EXPECT_EQ(sampleTime(5, 0.5, 0.4), "");
  EXPECT_EQ(port(1).PortOffsetTime, 0.4);
  // A NaN never matches, not even a NaN.
  EXPECT_EQ(sampleTime(0, NAN, 0), "");
  EXPECT_EQ(sampleTime(1, NAN, 0), kSampleTimeMsg);
}

TEST_F(Portagree, ComplexityIsStoredEvenWhenItConflicts) {
  b.sizes();
  EXPECT_EQ(complexity(1, 0), "");  // port 0 still open
  EXPECT_EQ(port(1).Complexity, 0);
  EXPECT_EQ(complexity(0, 1), kComplexityMsg);
  EXPECT_EQ(port(0).Complexity, 1);
  EXPECT_EQ(complexity(1, 1), "");
  EXPECT_EQ(complexity(1, 0), kComplexityMsg);
  EXPECT_EQ(port(1).Complexity, 0);
  // Only the other port's -1 counts as open: a -1 given for port 0 while
  // port 1 holds 0 is a conflict too (and is stored).
  EXPECT_EQ(complexity(0, -1), kComplexityMsg);
  EXPECT_EQ(complexity(1, 1), "");
  EXPECT_EQ(complexity(2, 0), "");  // no such input: ignored
  EXPECT_EQ(port(0).Complexity, -1);
  EXPECT_EQ(port(1).Complexity, 1);
}

TEST_F(Portagree, FlagTableOfTheLevel2Block) {
  b.sizes();
  for (double f : {FlagInitializeConditions, FlagUpdate, FlagDerivatives})
    EXPECT_EQ(call(f, 0), "Invalid flag encountered in kivrel");
  // The input width slot holds the dimension setter: the dimension-info flag
  // reaches it, the width flag does not.
  EXPECT_EQ(call(FlagSetInputPortWidth, 0), "Unexpected call to mdlSetInputPortWidth");
  EXPECT_EQ(call(FlagSetOutputPortDimensionInfo, 0), "Unexpected call to mdlSetOutputPortDimensionInfo");
  EXPECT_EQ(call(FlagSetOutputPortComplexSignal, 0), "Unexpected call to mdlSetOutputPortComplexSignal");
  EXPECT_EQ(call(FlagSetInputPortDataType, 0), "Unexpected call to mdlSetInputPortDataType");
  EXPECT_EQ(call(FlagSetInputPortFrameData, 0), "Unexpected call to mdlSetInputPortFrameData");
  inst().simInfo().PortArgTimes[0] = 3.0;
  EXPECT_EQ(call(FlagSetOutputPortSampleTime, 0), "");  // the output sample time is accepted and ignored
  EXPECT_EQ(port(0).PortSampleTime, -1.0);
}

// A record of the test's own, for the cases the stand-in host cannot set up:
// an error already pending, a port counter that refuses, a host that refuses
// only port 1's dimensions, or one without a dimension setter.
struct OwnHost : ::testing::Test {
  BlockContext root{};
  BlockContext ctx{};
  SimInfo sim{};
  InputPortRecord ports[2] = {};
  static int counts, dimsCalls, refusePort;
  static InputPortRecord* records;

  static int32_t countInputs(void* c, int32_t n) {
    ++counts;
    BlockContext* S = static_cast<BlockContext*>(c);
    if (refusePort == -2) return 0;
    S->SizesVector[NumInputs] = n;
    S->InputPorts = records;
    return 1;
  }
  static int32_t setDims(BlockContext*, int32_t port, const DimsInfo* info) {
    ++dimsCalls;
    EXPECT_EQ(info->width, -1);
    EXPECT_EQ(info->numDims, -1);
    EXPECT_EQ(info->dims, nullptr);
    EXPECT_EQ(info->passThrough, 0);
    return port == refusePort ? 0 : 1;
  }

  void SetUp() override {
    counts = dimsCalls = 0;
    refusePort = -1;
    records = ports;
    ports[1].Complexity = 5;
    ctx.PluginName = "portagree";
    ctx.RootContext = &root;
    ctx.SimInfo = &sim;
    ctx.InputPortCountFn = countInputs;
    ctx.InputPortCountCtx = &ctx;
    sim.SetInputPortDimsFn = setDims;
  }

  std::vector<double> sizes() {
    auto p = loadPlugin("portagree");
    axArray* x = axCreateDoubleMatrix(2, 1, 0);
#if UINTPTR_MAX == 0xFFFFFFFFu
    axGetPr(x)[0] = static_cast<int32_t>(reinterpret_cast<uintptr_t>(&ctx));
#else
    axGetPr(x)[0] = static_cast<double>(reinterpret_cast<uintptr_t>(&ctx));
#endif
    axGetPr(x)[1] = HostRecordMarker;
    axArray* t = num(0);
    axArray* u = empty();
    axArray* flag = num(0);
    const axArray* rhs[4] = {t, x, u, flag};
    axArray* lhs[1] = {nullptr};
    p->function()(1, lhs, 4, rhs);
    std::vector<double> s(axGetPr(lhs[0]), axGetPr(lhs[0]) + SizesVectorLength);
    for (axArray* a : {t, x, u, flag, lhs[0]}) axDestroyArray(a);
    return s;
  }
};
int OwnHost::counts, OwnHost::dimsCalls, OwnHost::refusePort;
InputPortRecord* OwnHost::records;

TEST_F(OwnHost, DynamicDimensionsForBothPortsWithoutADimensionSetterToo) {
  std::vector<double> s = sizes();
  EXPECT_EQ(counts, 1);
  EXPECT_EQ(dimsCalls, 2);
  EXPECT_EQ(s[NumSampleTimes], -1);
  EXPECT_EQ(ports[1].Complexity, -1);
  sim.SetInputPortDimsFn = nullptr;
  ports[1] = InputPortRecord{};
  s = sizes();
  EXPECT_EQ(dimsCalls, 2);
  EXPECT_EQ(s[NumSampleTimes], -1);
  EXPECT_EQ(portFrameMode(&ports[1]), FrameUnsettled);
  EXPECT_EQ(ports[1].PortSampleTime, -1.0);
}

TEST_F(OwnHost, PendingErrorDeclaresNoPorts) {
  root.ErrorStatus = "earlier";
  std::vector<double> s = sizes();
  EXPECT_EQ(counts, 0);
  EXPECT_EQ(s[NumInputs], 0);
  EXPECT_EQ(s[OptionFlags], OptionSizesCallBit);
  EXPECT_STREQ(root.ErrorStatus, "earlier");
}

TEST_F(OwnHost, RefusedCounterOrPort1DimensionsStopMidway) {
  refusePort = -2;
  std::vector<double> s = sizes();
  EXPECT_EQ(counts, 1);
  EXPECT_EQ(dimsCalls, 0);
  EXPECT_EQ(s[NumSampleTimes], 0);

  refusePort = 1;
  s = sizes();
  EXPECT_EQ(dimsCalls, 2);
  EXPECT_EQ(portFrameMode(&ports[0]), FrameUnsettled);  // port 0 was done
  EXPECT_EQ(ports[0].Complexity, -1);
  EXPECT_EQ(ports[1].Complexity, 5);  // port 1 and the rest were not
  EXPECT_EQ(ports[0].PortSampleTime, 0.0);
  EXPECT_EQ(s[NumSampleTimes], 0);
  EXPECT_EQ(s[OptionFlags], OptionSizesCallBit);
}

}  // namespace

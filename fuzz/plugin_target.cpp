// Fuzz target for one block plug-in (named by KIVREL_FUZZ_PLUGIN), driven
// through the real gateway as the host drives it: a parameter list of random
// count, shapes, classes and values, a sizes call (sometimes preceded by one
// from the command line), settled widths, start, then a random sequence of
// times, step kinds, hits, inputs, states, parameter edits and calls, and
// terminate at the end. A block error or an ErrorStatus text ends the run as
// the host ends a simulation (with terminate).
//
// Input layout: flags byte, parameter count byte, the parameters (input.h),
// input width byte, output width byte, then one operation per byte with its
// arguments (see run()).
//
// Besides what AddressSanitizer and UndefinedBehaviorSanitizer catch, the
// target aborts when the host finds a block wrote outside a host vector.
//
// With KIVREL_FUZZ_TRACE set (to anything) the target writes what every call
// left to standard output: the call's result and messages, the sizes, the
// signal, state and work vectors, sample times and port records, and at the
// end of an input the files the block wrote. Two builds that give the same
// trace for every input behave alike (tools/outputs.sh compares them). The
// run of an input then has no time budget, so that its trace does not depend
// on the speed of the machine.
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "input.h"
#include "instance.h"
#include "plugins.h"
#include "scratch.h"

namespace {

std::shared_ptr<blocksim::Plugin> plugin;
bool tracing = false;

// Largest vector the target lets a block have: the host would allocate up to
// blocksim::kMaxVectorLength, but vectors that long only slow the search.
const int32_t kMaxFuzzVector = 256;
const int kMaxOperations = 512;
// An input whose calls have taken this long in all ends its run (a block
// whose work grows with a parameter, as the Poisson source's with its mean,
// may take milliseconds per element and call). A single call that does not
// end is still reported by the fuzzer's timeout.
const double kRunBudgetSeconds = 3.0;

[[noreturn]] void fault(const std::string& what) {
  fprintf(stderr, "fuzz: %s: %s\n", plugin ? plugin->name().c_str() : "?", what.c_str());
  abort();
}

// ---------------------------------------------------------------------------
// The trace (KIVREL_FUZZ_TRACE). Doubles are written exactly (%a).

void traceDoubles(const char* name, const double* v, size_t n) {
  printf(" %s:", name);
  for (size_t i = 0; i < n; ++i) printf(" %a", v[i]);
  printf("\n");
}

void traceInts(const char* name, const int32_t* v, size_t n) {
  printf(" %s:", name);
  for (size_t i = 0; i < n; ++i) printf(" %d", v[i]);
  printf("\n");
}

void traceCall(blocksim::Instance& in, const char* what, const blocksim::CallResult& r) {
  printf("%s failed=%d error=\"%s\" status=\"%s\"\n", what, r.failed ? 1 : 0, r.error.c_str(),
         r.status != nullptr ? r.status : "");
  for (const std::string& w : r.warnings) printf(" warning: %s\n", w.c_str());
  BlockContext& ctx = in.context();
  // What a refused sizes call left in the record is not used by the host.
  const bool sizesCall = strstr(what, "sizes") != nullptr;
  if (!(sizesCall && r.failed)) traceInts("sizes", ctx.SizesVector, SizesVectorLength);
  if (sizesCall && !r.failed) traceDoubles("returned", in.sizes().data(), in.sizes().size());
  traceDoubles("y", in.y(), in.yLength());
  traceDoubles("x", in.x(), in.xLength());
  traceDoubles("dx", in.dx(), in.dxLength());
  traceInts("iwork", in.iwork(), in.iworkLength());
  traceDoubles("rwork", in.rwork(), in.rworkLength());
  printf(" pwork:");
  for (size_t i = 0; in.pwork() != nullptr && i < static_cast<size_t>(ctx.SizesVector[NumPWork]); ++i)
    printf(" %d", in.pwork()[i] != nullptr ? 1 : 0);
  printf("\n");
  if (in.started()) {
    const size_t n = static_cast<size_t>(in.numSampleTimes() > 0 ? in.numSampleTimes() : 0);
    traceDoubles("sample times", in.sampleTimes(), n);
    traceDoubles("offsets", in.offsetTimes(), n);
  }
  printf(" reset request: %d\n", in.simInfo().ResetRequest);
  for (int32_t p = 0; p < in.inputPortCount(); ++p) {
    const InputPortRecord* port = in.inputPort(p);
    printf(" port %d: complexity %d frame %d time %a offset %a dims %d %d\n", p, port->Complexity,
           portFrameMode(port), port->PortSampleTime, port->PortOffsetTime, in.portDims(p).first,
           in.portDims(p).second);
  }
}

// The files the block wrote in the working folder, in name order: name,
// length and an FNV-1a hash of the bytes.
// ---------------------------------------------------------------------------

// A call's result: false when the run must end (the block failed or left an
// ErrorStatus text, as the host then stops the simulation).
bool check(blocksim::Instance& in, const char* what, const blocksim::CallResult& r) {
  if (tracing) traceCall(in, what, r);
  if (r.wroteOutside != nullptr) fault(std::string("the block wrote outside ") + r.wroteOutside);
  return !r.failed && r.status == nullptr;
}

bool tooLong(const blocksim::Instance& in) {
  const int32_t* sv = const_cast<blocksim::Instance&>(in).context().SizesVector;
  for (int i = 0; i <= NumPWork; ++i)
    if (sv[i] > kMaxFuzzVector) return true;
  return false;
}

void run(fuzz::Reader& r) {
  blocksim::Instance in(plugin, plugin->name());
  const uint8_t flags = r.byte();
  const int count = r.byte() % 8;
  for (int i = 0; i < count; ++i) in.addParam(fuzz::parameter(r));

  if (flags & 1) {
    blocksim::CallResult cmd = in.sizesCall(true);
    check(in, "command-line sizes", cmd);
  }
  if (!check(in, "sizes", in.sizesCall(false)) || !in.sized()) return;
  if (!in.checkCounts().empty()) return;

  in.settleInputWidth(r.byte() % 65);
  in.settleOutputWidth(r.byte() % 65);
  int32_t* sv = in.context().SizesVector;
  if (!in.level2() && sv[NumOutputs] == -1) in.settleOutputWidth(sv[NumInputs]);
  if (!in.checkCounts().empty() || tooLong(in)) return;

  bool alive = check(in, "start", in.start());
  double dt = 0.1;
  const auto begin = std::chrono::steady_clock::now();
  for (int n = 0; alive && n < kMaxOperations && !r.done(); ++n) {
    if (!tracing &&
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count() > kRunBudgetSeconds)
      break;
    const uint8_t op = r.byte();
    switch (op % 16) {
      case 0: alive = check(in, "outputs", in.outputs()); break;
      case 1: alive = check(in, "update", in.update()); break;
      case 2:
        // The host's solver asks for derivatives only of continuous states.
        if (in.dxLength() > 0) alive = check(in, "derivatives", in.derivatives());
        break;
      case 3: in.setTime(r.value()); break;
      case 4: dt = r.value(); break;
      case 5: in.setStepKind(r.byte() & 1); break;
      case 6: {
        uint8_t b = r.byte();
        if (b & 0x80)
          in.setHit(b & 1);
        else
          in.hitFlags()[b % in.hitFlagCount()] = b & 1;
        break;
      }
      case 7:
        if (in.uLength() > 0) in.u()[r.byte() % in.uLength()] = r.value();
        break;
      case 8:
        for (size_t i = 0; i < in.uLength(); ++i) in.u()[i] = r.value();
        break;
      case 9:
        // A dialog edit between calls.
        if (in.paramCount() > 0) {
          size_t k = r.byte() % in.paramCount();
          in.setParam(k, fuzz::parameter(r));
        }
        break;
      case 10: {
        static const double kFlags[] = {
            FlagCheckParameters, FlagCheckParameters, FlagCheckParameters, FlagGetTimeOfNextVarHit,
            FlagZeroCrossings, FlagSetWorkWidths, FlagSetInputPortDataType, FlagSetOutputPortDataType,
            FlagSetInputPortWidth, FlagSetOutputPortWidth, FlagSetInputPortComplexSignal,
            FlagSetOutputPortComplexSignal, FlagSetInputPortSampleTime, FlagSetOutputPortSampleTime,
            FlagSetInputPortDimensionInfo, FlagSetOutputPortDimensionInfo, FlagSetInputPortFrameData,
            FlagSetDefaultPortDimensionInfo, FlagSetDefaultPortDataTypes, FlagSetDefaultPortComplexSignals,
            999, 100.5};
        double f = kFlags[r.byte() % (sizeof kFlags / sizeof kFlags[0])];
        // Level 1 has no port flags: they come back as the invalid-flag text.
        alive = check(in, "direct", in.direct(f));
        break;
      }
      case 11:
        // The host's solver writes the continuous states; a script may
        // write any state.
        if (in.xLength() > 0) in.x()[r.byte() % in.xLength()] = r.value();
        break;
      case 12: in.context().SizesVector[ExchangeArg] = static_cast<int32_t>(r.byte() % 4) - 1; break;
      case 13: {
        ::SimInfo& si = in.simInfo();
        si.PortArgValue = static_cast<int32_t>(r.byte() % 5) - 1;
        si.PortArgTimes[0] = r.value();
        si.PortArgTimes[1] = r.value();
        break;
      }
      case 14:
        if (in.inputPortCount() > 0) {
          uint8_t b = r.byte();
          setPortFrameMode(in.inputPort(b % in.inputPortCount()), (b >> 4) & 3);
        }
        break;
      case 15:
        // One major step of a host: outputs, update, time advance.
        alive = check(in, "step outputs", in.outputs()) && check(in, "step update", in.update());
        in.setTime(in.time() + dt);
        break;
    }
  }
  // The host terminates every started block, after a failure too.
  if (in.started()) check(in, "terminate", in.terminate());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* name = getenv("KIVREL_FUZZ_PLUGIN");
  if (name == nullptr || *name == '\0') {
    fprintf(stderr, "fuzz: set KIVREL_FUZZ_PLUGIN to the plug-in to fuzz\n");
    exit(2);
  }
  std::string why;
  plugin = blocksim::Plugin::load(fuzz::pluginDir(), name, why);
  if (!plugin) {
    fprintf(stderr, "fuzz: %s\n", why.c_str());
    exit(2);
  }
  // The file writer creates files named by its parameter: work in a folder
  // of our own, emptied after every input.
  fuzz::enterScratch();
  tracing = fuzz::tracing();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Reader r(data, size);
  run(r);
  if (tracing) {
    fuzz::traceFiles();
    fflush(stdout);
  }
  fuzz::removeScratchFiles();
  return 0;
}

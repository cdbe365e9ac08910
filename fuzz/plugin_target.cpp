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
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>

#include "input.h"
#include "instance.h"

#ifndef KIVREL_PLUGIN_DIR
#define KIVREL_PLUGIN_DIR "plugins"
#endif

namespace {

std::shared_ptr<blocksim::Plugin> plugin;
std::string scratch;

// Largest vector the target lets a block have: the host would allocate up to
// blocksim::kMaxVectorLength, but vectors that long only slow the search.
const int32_t kMaxFuzzVector = 256;
const int kMaxOperations = 512;
// An input whose calls have taken this long in all ends its run (a block
// whose work grows with a parameter, as the Poisson source's with its mean,
// may take milliseconds per element and call). A single call that does not
// end is still reported by the fuzzer's timeout.
const double kRunBudgetSeconds = 3.0;

void removeScratchFiles() {
  DIR* d = opendir(".");
  if (d == nullptr) return;
  while (dirent* e = readdir(d)) {
    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) unlink(e->d_name);
  }
  closedir(d);
}

void removeScratch() {
  removeScratchFiles();
  if (!scratch.empty() && chdir("/") == 0) rmdir(scratch.c_str());
}

[[noreturn]] void fault(const std::string& what) {
  fprintf(stderr, "fuzz: %s: %s\n", plugin ? plugin->name().c_str() : "?", what.c_str());
  abort();
}

// A call's result: false when the run must end (the block failed or left an
// ErrorStatus text, as the host then stops the simulation).
bool check(const blocksim::CallResult& r) {
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
    check(cmd);
  }
  if (!check(in.sizesCall(false)) || !in.sized()) return;
  if (!in.checkCounts().empty()) return;

  in.settleInputWidth(r.byte() % 65);
  in.settleOutputWidth(r.byte() % 65);
  int32_t* sv = in.context().SizesVector;
  if (!in.level2() && sv[NumOutputs] == -1) in.settleOutputWidth(sv[NumInputs]);
  if (!in.checkCounts().empty() || tooLong(in)) return;

  bool alive = check(in.start());
  double dt = 0.1;
  const auto begin = std::chrono::steady_clock::now();
  for (int n = 0; alive && n < kMaxOperations && !r.done(); ++n) {
    if (std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count() > kRunBudgetSeconds) break;
    const uint8_t op = r.byte();
    switch (op % 16) {
      case 0: alive = check(in.outputs()); break;
      case 1: alive = check(in.update()); break;
      case 2:
        // The host's solver asks for derivatives only of continuous states.
        if (in.dxLength() > 0) alive = check(in.derivatives());
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
        static const double kFlags[] = {112, 112, 112, 103, 108, 111, 113, 114, 115, 116, 120,
                                        121, 122, 123, 126, 127, 128, 131, 132, 133, 999, 100.5};
        double f = kFlags[r.byte() % (sizeof kFlags / sizeof kFlags[0])];
        // Level 1 has no port flags: they come back as the invalid-flag text.
        alive = check(in.direct(f));
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
        alive = check(in.outputs()) && check(in.update());
        in.setTime(in.time() + dt);
        break;
    }
  }
  // The host terminates every started block, after a failure too.
  if (in.started()) check(in.terminate());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* name = getenv("KIVREL_FUZZ_PLUGIN");
  if (name == nullptr || *name == '\0') {
    fprintf(stderr, "fuzz: set KIVREL_FUZZ_PLUGIN to the plug-in to fuzz\n");
    exit(2);
  }
  const char* dir = getenv("KIVREL_FUZZ_PLUGIN_DIR");
  std::string why;
  plugin = blocksim::Plugin::load(dir != nullptr ? dir : KIVREL_PLUGIN_DIR, name, why);
  if (!plugin) {
    fprintf(stderr, "fuzz: %s\n", why.c_str());
    exit(2);
  }
  // The file writer creates files named by its parameter: work in a folder
  // of our own, emptied after every input.
  char tmpl[] = "/tmp/kivrel-fuzz-XXXXXX";
  if (mkdtemp(tmpl) == nullptr || chdir(tmpl) != 0) {
    perror("fuzz: scratch folder");
    exit(2);
  }
  scratch = tmpl;
  atexit(removeScratch);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Reader r(data, size);
  run(r);
  removeScratchFiles();
  return 0;
}

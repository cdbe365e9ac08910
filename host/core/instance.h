// The host side of one block instance: the loaded plug-in, the host-owned
// record, parameters, guarded signal and work vectors, and the calls into the
// gateway. Shared by `blocksim step`, `blocksim run` and the tests.
#ifndef BLOCKSIM_INSTANCE_H
#define BLOCKSIM_INSTANCE_H

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "ax_host.h"
#include "budget.h"
#include "record.h"

namespace blocksim {

typedef void (*PlgFunctionPtr)(int nlhs, axArray* plhs[], int nrhs, const axArray* prhs[]);
typedef const char* (*PlgVersionPtr)(void);

// A plug-in file loaded with dlopen.
class Plugin {
 public:
  // Loads NAME.plgglx from dir, or the file at name when it contains '/'.
  // Returns null and sets err when it cannot be loaded.
  static std::shared_ptr<Plugin> load(const std::string& dir, const std::string& name, std::string& err);
  ~Plugin();
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  const std::string& name() const { return name_; }  // file name without extension
  const std::string& path() const { return path_; }
  PlgFunctionPtr function() const { return function_; }
  const char* version() const { return version_(); }

 private:
  Plugin() = default;
  void* handle_ = nullptr;
  std::string name_;
  std::string path_;
  PlgFunctionPtr function_ = nullptr;
  PlgVersionPtr version_ = nullptr;
};

// A host-allocated vector with guard zones on both sides, so that a block
// writing outside it is caught (and, under AddressSanitizer, also a block
// reading outside it).
class GuardedBuffer {
 public:
  GuardedBuffer() = default;
  ~GuardedBuffer();
  GuardedBuffer(const GuardedBuffer&) = delete;
  GuardedBuffer& operator=(const GuardedBuffer&) = delete;

  void allocate(size_t count, size_t elementSize);
  void* data() const { return data_; }
  size_t count() const { return count_; }
  bool intact() const;  // guard zones unchanged
  void rearm();         // writes the guard zones afresh after a reported overwrite

 private:
  void release();
  unsigned char* block_ = nullptr;
  void* data_ = nullptr;
  size_t count_ = 0;
  size_t used_ = 0;   // bytes of data
  size_t bytes_ = 0;  // whole block, guards included
};

// What a call into the plug-in left for the host.
struct CallResult {
  bool failed = false;          // the block called plgErrMsgTxt
  std::string error;            // its message
  const char* status = nullptr;  // text left in the root's ErrorStatus
  const char* wroteOutside = nullptr;  // name of a vector whose guard was overwritten
  std::vector<std::string> warnings;
  bool ok() const { return !failed && status == nullptr && wroteOutside == nullptr; }
};

// One block instance driven by the host.
class Instance {
 public:
  Instance(std::shared_ptr<Plugin> plugin, const std::string& blockPath);
  ~Instance();
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  Plugin& plugin() const { return *plugin_; }
  BlockContext& context() { return ctx_; }
  ::SimInfo& simInfo() { return sim_; }

  // Parameters: the instance owns them from the call on (also when the call
  // fails for want of memory).
  void addParam(axArray* a);
  bool setParam(size_t k, axArray* a);  // k counted from 0
  size_t paramCount() const { return params_.size(); }
  const axArray* param(size_t k) const { return params_[k].get(); }

  // The sizes call, with the host's record behind the marker or (commandLine)
  // without it. On success sizes() holds the 38 returned entries.
  CallResult sizesCall(bool commandLine = false);
  const std::vector<double>& sizes() const { return sizes_; }
  bool sized() const { return sized_; }
  bool level2() const { return sized_ && sizes_[VersionMarker] == Level2VersionMarker; }

  // Settles widths the block declared as -1. Entries it fixed itself stay.
  void settleInputWidth(int32_t width);
  void settleOutputWidth(int32_t width);
  // Checks the counts of the sizes vector; returns an empty text or why the
  // host refuses them (naming the entry).
  std::string checkCounts() const;

  // Allocates the vectors to the settled sizes and calls
  // mdlInitializeSampleTimes and (level 1) mdlInitializeConditions. Returns
  // the first failing call's result.
  CallResult start();
  bool started() const { return started_; }
  // Started and not terminated since: a block that holds something (an open
  // file) until its mdlTerminate.
  bool needsTerminate() const { return started_ && !terminated_; }
  // The bytes start() allocates for the settled sizes.
  uint64_t vectorBytes() const;

  // A direct call with the flag value as given.
  CallResult direct(double flag);
  CallResult outputs() { return direct(FlagOutputs); }
  CallResult update() { return direct(FlagUpdate); }
  CallResult derivatives() { return direct(FlagDerivatives); }
  // mdlTerminate, checking the guards. An instance discarded while
  // it needs one gets it from its destructor (its messages then go nowhere:
  // whoever can report them terminates first).
  CallResult terminate();

  // Whether every call compares the guard zones of the vectors (the default),
  // or the host compares them itself with guardViolation(): a run checks once
  // per step, which costs a fraction of checking after each call.
  // terminate() always checks.
  void setCheckGuardsEveryCall(bool every) { checkGuardsEveryCall_ = every; }
  // The name of a vector whose guard zone was overwritten, or null. The zone
  // is then written afresh, so each overwrite is reported once.
  const char* guardViolation();

  void setTime(double t) { time_ = t; }
  double time() const { return time_; }
  void setStepKind(int32_t kind) { sim_.StepKind = kind; }
  void setHit(bool hit);
  // The per-task sample-hit flags (valid after start()), one per task, so a
  // multi-rate run can set each task's flag on its own.
  int32_t* hitFlags() const { return static_cast<int32_t*>(hitFlags_.data()); }
  size_t hitFlagCount() const { return hitFlags_.count(); }

  // Signal and work vectors (valid after start()).
  double* u() const { return static_cast<double*>(u_.data()); }
  double* y() const { return static_cast<double*>(y_.data()); }
  double* x() const { return static_cast<double*>(x_.data()); }
  double* dx() const { return static_cast<double*>(dx_.data()); }
  int32_t* iwork() const { return static_cast<int32_t*>(iwork_.data()); }
  double* rwork() const { return static_cast<double*>(rwork_.data()); }
  void** pwork() const { return static_cast<void**>(pwork_.data()); }
  size_t uLength() const { return u_.count(); }
  size_t yLength() const { return y_.count(); }
  size_t xLength() const { return x_.count(); }
  size_t dxLength() const { return dx_.count(); }
  size_t iworkLength() const { return iwork_.count(); }
  size_t rworkLength() const { return rwork_.count(); }
  int32_t numSampleTimes() const;
  const double* sampleTimes() const { return static_cast<double*>(sampleTimes_.data()); }
  const double* offsetTimes() const { return static_cast<double*>(offsetTimes_.data()); }

  // Level-2 ports: the host's answer to SetInputPortDimsFn, and the
  // dimensions last set per input port (width, count; -1 -1 before).
  void setAcceptDims(bool accept) { acceptDims_ = accept; }
  int32_t inputPortCount() const { return static_cast<int32_t>(portDims_.size()); }
  InputPortRecord* inputPort(int32_t i) { return &ctx_.InputPorts[i]; }
  std::pair<int32_t, int32_t> portDims(int32_t i) const { return portDims_[i]; }

 private:
  template <typename Fn>
  CallResult call(Fn&& fn);
  static int32_t countInputPorts(void* ctx, int32_t count);
  static int32_t countOutputPorts(void* ctx, int32_t count);
  static int32_t setInputPortDims(BlockContext* S, int32_t port, const DimsInfo* info);
  static void installWarningHandler();

  BlockContext ctx_{};
  ::SimInfo sim_{};
  std::shared_ptr<Plugin> plugin_;
  std::string blockPath_;
  std::vector<axArrayPtr> params_;
  std::vector<const axArray*> paramPointers_;  // what SFcnParams points at
  std::vector<uint32_t> paramAttributes_;
  std::vector<double> sizes_;
  bool sized_ = false;
  bool checkGuardsEveryCall_ = true;
  bool started_ = false;
  bool terminated_ = false;
  double time_ = 0.0;
  int32_t hitFlag_ = 1;

  GuardedBuffer u_, y_, x_, dx_, iwork_, rwork_, pwork_;
  GuardedBuffer sampleTimes_, offsetTimes_, taskIndex_, hitFlags_;

  // Arguments of the direct calls, made once.
  axArrayPtr argT_, argX_, argU_, argFlag_;

  // Level-2 host port state.
  std::vector<InputPortRecord> inputPorts_;
  std::vector<OutputPortRecord> outputPorts_;
  std::vector<std::pair<int32_t, int32_t>> portDims_;
  PortMethodTable portMethods_{};
  bool acceptDims_ = true;
};

// Numbers as the host prints them: the shortest text that reads back as the
// same double ("0.1", "1e-07", "-0", "inf", "nan").
std::string formatNumber(double v);
void appendNumber(std::string& out, double v);

}  // namespace blocksim

#endif

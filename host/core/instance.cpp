#include "instance.h"

#include <dlfcn.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <charconv>
#include <new>

#if defined(KIVREL_ASAN)
#include <sanitizer/asan_interface.h>
#define GUARD_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define GUARD_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define GUARD_POISON(p, n) ((void)(p), (void)(n))
#define GUARD_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace blocksim {

// ---------------------------------------------------------------------------
// Plugin

std::shared_ptr<Plugin> Plugin::load(const std::string& dir, const std::string& name, std::string& err) {
  std::string path;
  std::string base;
  if (name.find('/') != std::string::npos) {
    path = name;
    base = name.substr(name.rfind('/') + 1);
    size_t dot = base.rfind('.');
    if (dot != std::string::npos && dot > 0) base.resize(dot);
  } else {
    path = (dir.empty() ? std::string(".") : dir) + "/" + name + ".plgglx";
    base = name;
  }
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    err = "cannot load " + path + ": " + (why != nullptr ? why : "unknown error");
    return nullptr;
  }
  std::shared_ptr<Plugin> p(new Plugin());
  p->handle_ = handle;
  p->name_ = base;
  p->path_ = path;
  p->function_ = reinterpret_cast<PlgFunctionPtr>(dlsym(handle, "plgFunction"));
  p->version_ = reinterpret_cast<PlgVersionPtr>(dlsym(handle, "plgVersion"));
  if (p->function_ == nullptr || p->version_ == nullptr) {
    err = path + " does not export plgFunction and plgVersion";
    return nullptr;
  }
  return p;
}

Plugin::~Plugin() {
  // Under LeakSanitizer a closed library cannot be symbolized in a report.
#if !defined(KIVREL_ASAN)
  if (handle_ != nullptr) dlclose(handle_);
#endif
}

// ---------------------------------------------------------------------------
// GuardedBuffer

namespace {
const size_t kGuardBytes = 64;
const unsigned char kGuardByte = 0xA5;
}  // namespace

GuardedBuffer::~GuardedBuffer() { release(); }

void GuardedBuffer::release() {
  if (block_ != nullptr) {
    GUARD_UNPOISON(block_, bytes_);
    free(block_);
  }
  block_ = nullptr;
  data_ = nullptr;
  count_ = 0;
  used_ = 0;
  bytes_ = 0;
}

void GuardedBuffer::allocate(size_t count, size_t elementSize) {
  release();
  used_ = count * elementSize;
  bytes_ = kGuardBytes + (used_ + 15) / 16 * 16 + kGuardBytes;
  block_ = axAllocationFails() ? nullptr : static_cast<unsigned char*>(malloc(bytes_));
  if (block_ == nullptr) {
    used_ = bytes_ = 0;
    throw std::bad_alloc();
  }
  memset(block_, kGuardByte, bytes_);
  data_ = block_ + kGuardBytes;
  memset(data_, 0, used_);
  count_ = count;
  GUARD_POISON(block_, kGuardBytes);
  GUARD_POISON(block_ + kGuardBytes + used_, bytes_ - kGuardBytes - used_);
}

void GuardedBuffer::rearm() {
  if (block_ == nullptr) return;
  GUARD_UNPOISON(block_, bytes_);
  memset(block_, kGuardByte, kGuardBytes);
  memset(block_ + kGuardBytes + used_, kGuardByte, bytes_ - kGuardBytes - used_);
  GUARD_POISON(block_, kGuardBytes);
  GUARD_POISON(block_ + kGuardBytes + used_, bytes_ - kGuardBytes - used_);
}

namespace {
// Whether n bytes all hold the guard byte: word by word, without a call, as a
// run checks every vector of its blocks at each step.
bool zoneIntact(const unsigned char* p, size_t n) {
  const uint64_t pattern = 0x0101010101010101ull * kGuardByte;
  uint64_t diff = 0;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    memcpy(&w, p + i, 8);
    diff |= w ^ pattern;
  }
  for (; i < n; ++i) diff |= static_cast<uint64_t>(p[i] ^ kGuardByte);
  return diff == 0;
}
}  // namespace

bool GuardedBuffer::intact() const {
  if (block_ == nullptr) return true;
  GUARD_UNPOISON(block_, bytes_);
  const size_t tail = bytes_ - kGuardBytes - used_;  // kGuardBytes plus up to 15 bytes of padding
  const bool ok = zoneIntact(block_, kGuardBytes) && zoneIntact(block_ + kGuardBytes + used_, tail);
  GUARD_POISON(block_, kGuardBytes);
  GUARD_POISON(block_ + kGuardBytes + used_, tail);
  return ok;
}

// ---------------------------------------------------------------------------
// Instance

namespace {

axArray* scalar(double v) {
  axArray* a = axCreateDoubleMatrix(1, 1, 0);
  axGetPr(a)[0] = v;
  return a;
}

const char* const kCountNames[] = {"NumContStates", "NumDiscStates", "NumOutputs", "NumInputs",
                                   "ExchangeArg",   "DirFeedthrough", "NumSampleTimes",
                                   "NumSFcnParams", "NumIWork",       "NumRWork", "NumPWork"};

}  // namespace

Instance::Instance(std::shared_ptr<Plugin> plugin, const std::string& blockPath)
    : plugin_(std::move(plugin)), blockPath_(blockPath) {
  ctx_.PluginName = plugin_->name().c_str();
  ctx_.BlockPath = blockPath_.c_str();
  installWarningHandler();
  ctx_.HostOwned0 = this;  // how the host's port services find the instance
  ctx_.RootContext = &ctx_;
  ctx_.SimInfo = &sim_;
  sim_.RunMode = RunModeNameCheck;
  sim_.StepKind = MajorTimeStep;
  sim_.TimePtr = &time_;
  argT_.reset(scalar(0.0));
  argX_.reset(axCreateDoubleMatrix(0, 0, 0));
  argU_.reset(axCreateDoubleMatrix(0, 0, 0));
  argFlag_.reset(scalar(0.0));
}

Instance::~Instance() {
  if (needsTerminate()) {
    try {
      terminate();
    } catch (...) {
    }
  }
}

void Instance::addParam(axArray* a) {
  axArrayPtr owned(a);
  params_.reserve(params_.size() + 1);
  paramPointers_.reserve(params_.size() + 1);
  paramAttributes_.reserve(params_.size() + 1);
  params_.push_back(std::move(owned));
  paramPointers_.push_back(a);
  paramAttributes_.push_back(0);
  ctx_.SFcnParams = paramPointers_.data();
  ctx_.SFcnParamsCount = static_cast<int32_t>(params_.size());
  ctx_.SFcnParamAttributes = paramAttributes_.data();
}

bool Instance::setParam(size_t k, axArray* a) {
  axArrayPtr owned(a);
  if (k >= params_.size()) return false;
  params_[k] = std::move(owned);
  paramPointers_[k] = a;
  return true;
}

namespace {

// Warnings of the call in progress. Each instance installs the handler when
// it is made (not around every call); a call hands what it collected to its
// result.
std::vector<std::string>& pendingWarnings() {
  static std::vector<std::string> pending;
  return pending;
}

void collectWarning(const char* msg, void*) { pendingWarnings().push_back(msg); }

}  // namespace

void Instance::installWarningHandler() { plgSetWarningHandler(&collectWarning, nullptr); }

template <typename Fn>
CallResult Instance::call(Fn&& fn) {
  CallResult r;
  ctx_.RootContext->ErrorStatus = nullptr;
  char message[4096];
  auto trampoline = [](void* arg) { (*static_cast<Fn*>(arg))(); };
  r.failed = plgProtectedCall(trampoline, &fn, message, sizeof message) != 0;
  if (!pendingWarnings().empty()) r.warnings.swap(pendingWarnings());
  if (r.failed) r.error = message;
  r.status = ctx_.RootContext->ErrorStatus;
  if (checkGuardsEveryCall_) r.wroteOutside = guardViolation();
  return r;
}

const char* Instance::guardViolation() {
  struct Named {
    GuardedBuffer* buffer;
    const char* name;
  };
  const Named all[] = {{&u_, "u"},         {&y_, "y"},
                       {&x_, "x"},         {&dx_, "dx"},
                       {&iwork_, "IWork"}, {&rwork_, "RWork"},
                       {&pwork_, "PWork"}, {&sampleTimes_, "SampleTimes"},
                       {&offsetTimes_, "OffsetTimes"}};
  for (const Named& n : all) {
    if (!n.buffer->intact()) {
      n.buffer->rearm();
      return n.name;
    }
  }
  return nullptr;
}

CallResult Instance::sizesCall(bool commandLine) {
  // A started block is terminated before it is sized afresh (a host that
  // wants its messages terminates it itself first).
  if (needsTerminate()) terminate();
  sized_ = false;
  started_ = false;
  axArrayPtr x;
  if (commandLine) {
    x.reset(axCreateDoubleMatrix(0, 0, 0));
  } else {
    x.reset(axCreateDoubleMatrix(2, 1, 0));
    // The record's address: as a 32-bit signed integer in a 32-bit host, in
    // full in a 64-bit one.
#if UINTPTR_MAX == 0xFFFFFFFFu
    axGetPr(x.get())[0] = static_cast<int32_t>(reinterpret_cast<uintptr_t>(&ctx_));
#else
    axGetPr(x.get())[0] = static_cast<double>(reinterpret_cast<uintptr_t>(&ctx_));
#endif
    axGetPr(x.get())[1] = HostRecordMarker;
    // A new sizes call starts from a clean sizes vector and callback table.
    memset(ctx_.SizesVector, 0, sizeof ctx_.SizesVector);
    ctx_.Callbacks = CallbackTable{};
    inputPorts_.clear();
    outputPorts_.clear();
    portDims_.clear();
    ctx_.InputPorts = nullptr;
    ctx_.OutputPorts = nullptr;
    ctx_.InputPortCountFn = &Instance::countInputPorts;
    ctx_.InputPortCountCtx = this;
    ctx_.OutputPortCountFn = &Instance::countOutputPorts;
    ctx_.OutputPortCountCtx = this;
    ctx_.PortMethods = &portMethods_;
    sim_.SetInputPortDimsFn = &Instance::setInputPortDims;
  }
  axArrayPtr t(scalar(time_));
  axArrayPtr u(axCreateDoubleMatrix(0, 0, 0));
  axArrayPtr flag(scalar(0.0));
  std::vector<const axArray*> rhs{t.get(), x.get(), u.get(), flag.get()};
  rhs.insert(rhs.end(), paramPointers_.begin(), paramPointers_.end());
  axArray* lhs[2] = {nullptr, nullptr};
  PlgFunctionPtr fn = plugin_->function();
  int nrhs = static_cast<int>(rhs.size());
  CallResult r = call([&] { fn(1, lhs, nrhs, rhs.data()); });
  axArrayPtr result(lhs[0]);
  if (commandLine) axReleaseCallocs();
  if (!r.failed && result && axGetNumberOfElements(result.get()) == SizesVectorLength) {
    const double* pr = axGetPr(result.get());
    sizes_.assign(pr, pr + SizesVectorLength);
    sized_ = true;
  }
  if (commandLine) sized_ = false;  // nothing to start from a command-line call
  return r;
}

void Instance::settleInputWidth(int32_t width) {
  int32_t* sv = ctx_.SizesVector;
  if (sv[NumInputs] != -1) return;
  sv[NumInputs] = width;
  if (sv[NumDiscStates] == -1) sv[NumDiscStates] = width;
  if (sv[NumRWork] == -1) sv[NumRWork] = width;
}

void Instance::settleOutputWidth(int32_t width) {
  if (ctx_.SizesVector[NumOutputs] == -1) ctx_.SizesVector[NumOutputs] = width;
}

std::string Instance::checkCounts() const {
  const int32_t* sv = ctx_.SizesVector;
  for (int i = 0; i <= NumPWork; ++i) {
    if (i == ExchangeArg || i == DirFeedthrough || i == NumSFcnParams) continue;
    int32_t v = sv[i];
    bool levelTwoTimes = i == NumSampleTimes && v == -1 && level2();
    if (v < -1 || (v == -1 && !levelTwoTimes && i != NumInputs && i != NumOutputs &&
                   i != NumDiscStates && i != NumRWork))
      return std::string("sizes entry ") + kCountNames[i] + " is " + std::to_string(v);
    if (v > kMaxVectorLength)
      return std::string("sizes entry ") + kCountNames[i] + " is " + std::to_string(v) +
             ", more than this host allocates";
  }
  int64_t states = static_cast<int64_t>(sv[NumContStates]) + sv[NumDiscStates];
  if (states > kMaxVectorLength)
    return "sizes entries NumContStates + NumDiscStates are " + std::to_string(states) +
           ", more than this host allocates";
  return std::string();
}

int32_t Instance::numSampleTimes() const {
  return static_cast<int32_t>(sampleTimes_.count());
}

void Instance::setHit(bool hit) {
  hitFlag_ = hit ? 1 : 0;
  int32_t* flags = static_cast<int32_t*>(hitFlags_.data());
  for (size_t i = 0; i < hitFlags_.count(); ++i) flags[i] = hitFlag_;
}

uint64_t Instance::vectorBytes() const {
  const int32_t* sv = ctx_.SizesVector;
  auto count = [&](int i) -> uint64_t { return sv[i] > 0 ? static_cast<uint64_t>(sv[i]) : 0; };
  const bool two = level2();
  const uint64_t times = count(NumSampleTimes) > 0 ? count(NumSampleTimes) : 1;
  const uint64_t doubles = (two ? 0 : count(NumInputs) + count(NumOutputs)) + 2 * count(NumContStates) +
                           count(NumDiscStates) + count(NumRWork) + 2 * times;
  // Each of the eleven vectors has its guard zones and padding besides.
  return doubles * sizeof(double) + count(NumIWork) * sizeof(int32_t) + count(NumPWork) * sizeof(void*) +
         2 * times * sizeof(int32_t) + 11 * 160;
}

CallResult Instance::start() {
  if (needsTerminate()) terminate();
  int32_t* sv = ctx_.SizesVector;
  auto count = [&](int i) { return sv[i] > 0 ? static_cast<size_t>(sv[i]) : 0; };
  const bool two = level2();
  u_.allocate(two ? 0 : count(NumInputs), sizeof(double));
  y_.allocate(two ? 0 : count(NumOutputs), sizeof(double));
  x_.allocate(count(NumContStates) + count(NumDiscStates), sizeof(double));
  dx_.allocate(count(NumContStates), sizeof(double));
  iwork_.allocate(count(NumIWork), sizeof(int32_t));
  rwork_.allocate(count(NumRWork), sizeof(double));
  pwork_.allocate(count(NumPWork), sizeof(void*));
  size_t times = count(NumSampleTimes);
  sampleTimes_.allocate(times, sizeof(double));
  offsetTimes_.allocate(times, sizeof(double));
  // At least one task, so a block reading its first hit flag finds one.
  taskIndex_.allocate(times > 0 ? times : 1, sizeof(int32_t));
  hitFlags_.allocate(times > 0 ? times : 1, sizeof(int32_t));
  int32_t* tasks = static_cast<int32_t*>(taskIndex_.data());
  for (size_t i = 0; i < taskIndex_.count(); ++i) tasks[i] = static_cast<int32_t>(i);
  setHit(hitFlag_ != 0);
  ctx_.InputVector = u();
  ctx_.OutputVector = y();
  ctx_.StateVector = x();
  ctx_.DerivVector = dx();
  ctx_.IWork = iwork();
  ctx_.RWork = rwork();
  ctx_.PWork = pwork();
  ctx_.SampleTimes = static_cast<double*>(sampleTimes_.data());
  ctx_.OffsetTimes = static_cast<double*>(offsetTimes_.data());
  ctx_.SampleTaskIndex = tasks;
  sim_.SampleHitFlags = static_cast<int32_t*>(hitFlags_.data());
  started_ = true;
  terminated_ = false;
  CallResult r = direct(FlagInitializeSampleTimes);
  if (!r.ok() || two) return r;
  return direct(FlagInitializeConditions);
}

CallResult Instance::direct(double flag) {
  axArray* lhs[2] = {nullptr, reinterpret_cast<axArray*>(&ctx_)};
  axGetPr(argT_.get())[0] = time_;
  axGetPr(argFlag_.get())[0] = flag;
  const axArray* rhs[4] = {argT_.get(), argX_.get(), argU_.get(), argFlag_.get()};
  PlgFunctionPtr fn = plugin_->function();
  return call([&] { fn(-1, lhs, 4, rhs); });
}

CallResult Instance::terminate() {
  terminated_ = true;
  const bool every = checkGuardsEveryCall_;
  checkGuardsEveryCall_ = true;
  CallResult r = direct(FlagTerminate);
  checkGuardsEveryCall_ = every;
  return r;
}

// Level-2 host port services.

int32_t Instance::countInputPorts(void* ctx, int32_t count) {
  Instance* self = static_cast<Instance*>(ctx);
  if (count < 0) return 0;
  if (count > 1024) return 0;  // more ports than a block can sensibly have
  self->ctx_.SizesVector[NumInputs] = count;
  self->ctx_.SizesVector[PortFlags] |= PortFlagCountsSet;
  // Zero-filled records: what a port shows after the sizes call is what the
  // block itself settled there.
  self->inputPorts_.assign(static_cast<size_t>(count), InputPortRecord{});
  self->portDims_.assign(static_cast<size_t>(count), {-1, -1});
  self->ctx_.InputPorts = self->inputPorts_.empty() ? nullptr : self->inputPorts_.data();
  return 1;
}

int32_t Instance::countOutputPorts(void* ctx, int32_t count) {
  Instance* self = static_cast<Instance*>(ctx);
  if (count < 0 || count > 1024) return 0;
  self->ctx_.SizesVector[NumOutputs] = count;
  self->ctx_.SizesVector[PortFlags] |= PortFlagCountsSet;
  self->outputPorts_.assign(static_cast<size_t>(count), OutputPortRecord{});
  self->ctx_.OutputPorts = self->outputPorts_.empty() ? nullptr : self->outputPorts_.data();
  return 1;
}

int32_t Instance::setInputPortDims(BlockContext* S, int32_t port, const DimsInfo* info) {
  Instance* self = static_cast<Instance*>(S->HostOwned0);
  if (!self->acceptDims_) return 0;
  if (port < 0 || static_cast<size_t>(port) >= self->portDims_.size() || info == nullptr) return 0;
  self->portDims_[static_cast<size_t>(port)] = {info->width, info->numDims};
  return 1;
}

// ---------------------------------------------------------------------------
// Numbers

void appendNumber(std::string& out, double v) {
  if (isnan(v)) {
    out += "nan";
    return;
  }
  char buf[32];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, res.ptr);
}

std::string formatNumber(double v) {
  std::string s;
  appendNumber(s, v);
  return s;
}

}  // namespace blocksim

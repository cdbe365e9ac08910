#include "simulation.h"

#include <limits.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <map>
#include <ostream>

#include "interrupt.h"
#include "sources.h"
#include "step.h"

namespace blocksim {

namespace {

axArray* cloneArray(const axArray* a) {
  int m = axGetM(a), n = axGetN(a);
  bool complex = axIsComplex(a);
  axArray* c = complex ? axCreateDoubleMatrix(m, n, 1) : axCreateClassMatrix(m, n, axGetClassID(a), axIsLogical(a));
  size_t count = static_cast<size_t>(axGetNumberOfElements(a));
  if (count > 0) {
    memcpy(axGetPr(c), axGetPr(a), count * sizeof(double));
    if (complex) memcpy(axGetPi(c), axGetPi(a), count * sizeof(double));
  }
  return c;
}

double monotonicSeconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace

// ---------------------------------------------------------------------------
// The blocks as the simulation holds them.

struct Simulation::Node {
  int index = 0;
  const BlockSpec* spec = nullptr;
  std::shared_ptr<Plugin> plugin;
  std::unique_ptr<Instance> inst;  // null for a host source
  bool level2 = false;
  bool feedthrough = false;
  std::vector<int32_t> entryWidths;  // width of each `inputs` entry
  std::vector<double> sourceY;       // a host source's outputs
  double* y = nullptr;
  int32_t contStates = 0;
  size_t stateOffset = 0;  // into the solver's arrays
  std::vector<Task> tasks;
  Entry* entry = nullptr;
  // Argument of the level-2 dimension calls.
  DimsInfo dims{-1, -1, nullptr, 0};
  int32_t dimsValue = 0;
};

// One block in the flat schedule of a step.
struct Simulation::Entry {
  Node* node = nullptr;
  Instance* inst = nullptr;  // null for a host source
  size_t copyBegin = 0, copyEnd = 0;
  size_t taskBegin = 0, taskEnd = 0;
  bool update = false;  // a level-1 plug-in: mdlUpdate at its hits
  bool hit = false;     // at the current major step
};

Simulation::Simulation(const Model& model, const RunOptions& options, std::ostream& err)
    : model_(model), options_(options), err_(err) {}

Simulation::~Simulation() {
  // A run left early (by an exception such as std::bad_alloc) still
  // terminates every block it started; nothing may escape a destructor.
  try {
    terminate();
  } catch (...) {
  }
}

std::string Simulation::label(const Node& node) const { return blockLabel(*node.spec); }

void Simulation::warnings(const Node& node, const CallResult& r) {
  for (const std::string& w : r.warnings) err_ << "blocksim: " << label(node) << ": warning: " << escapeMessage(w) << "\n";
}

int Simulation::blockFailure(const Node& node, const CallResult& r) {
  warnings(node, r);
  if (r.wroteOutside != nullptr) {
    err_ << "blocksim: " << label(node) << ": the block wrote outside " << r.wroteOutside << "\n";
    return ExitWroteOutside;
  }
  if (r.failed) {
    err_ << "blocksim: " << label(node) << ": " << escapeMessage(r.error) << "\n";
    return ExitBlockError;
  }
  if (r.status != nullptr) {
    err_ << "blocksim: " << label(node) << ": " << escapeMessage(r.status) << "\n";
    return ExitBlockError;
  }
  return ExitOk;
}

int Simulation::modelMistake(int line, const std::string& what) {
  err_ << "blocksim: " << model_.where(line) << what << "\n";
  return ExitMistake;
}

double Simulation::timeAt(int64_t n) const {
  // With a step of 1/N the times are n/N, correctly rounded (0.3, not
  // 0.30000000000000004 as 3 * 0.1 gives).
  if (stepsPerSecond_ > 0.0) return static_cast<double>(n) / stepsPerSecond_;
  return static_cast<double>(n) * model_.step;
}

Instance* Simulation::instance(int block) const { return nodes_[static_cast<size_t>(block)]->inst.get(); }
const double* Simulation::outputs(int block) const { return nodes_[static_cast<size_t>(block)]->y; }

// ---------------------------------------------------------------------------
// Preparation

int Simulation::prepare() {
  const double step = model_.step;
  if (options_.hasStop) {
    stop_ = options_.stop;
    if (!(stop_ >= 0.0 && isfinite(stop_))) {
      err_ << "blocksim: --stop must be a finite time of at least 0\n";
      return ExitMistake;
    }
  } else if (model_.hasStopTime) {
    stop_ = model_.stopTime;
  } else {
    return modelMistake(1, "the model has no stop_time (or give --stop)");
  }
  const double ratio = stop_ / step;
  if (!(ratio <= kMaxSteps)) return modelMistake(1, "the stop time is more than 1e12 steps away");
  // The last step at or just below the stop time (within the tolerance).
  lastStep_ = static_cast<int64_t>(floor(ratio + kTimeTolerance * std::max(1.0, ratio)));
  double n = nearbyint(1.0 / step);
  stepsPerSecond_ = n >= 1.0 && n <= 2147483647.0 && 1.0 / n == step ? n : 0.0;

  int rc;
  if ((rc = load()) != ExitOk) return rc;
  if ((rc = sizeAll()) != ExitOk) return rc;
  std::vector<bool> feedthrough;
  for (const auto& np : nodes_) feedthrough.push_back(np->feedthrough);
  GraphMistake mistake;
  if (!orderBlocks(model_, feedthrough, order_, mistake)) return graphMistake(mistake);
  rc = settleWidths(
      model_, order_, outWidth_, settled_,
      [this](int b, const std::vector<int32_t>& widths, int64_t total) { return settleBlock(b, widths, total); },
      mistake);
  if (rc == ExitMistake && !mistake.what.empty()) return graphMistake(mistake);
  if (rc != ExitOk) return rc;
  // The logged signals, as the inputs, stay within the outputs they name.
  for (const SignalRef& r : model_.signals)
    if (!refFits(model_, r, outWidth_, mistake)) return graphMistake(mistake);
  if ((rc = checkMemory()) != ExitOk) return rc;
  if ((rc = startAll()) != ExitOk) return rc;
  buildSchedule();
  return ExitOk;
}

int Simulation::load() {
  std::map<std::string, std::shared_ptr<Plugin>> loaded;
  const size_t n = model_.blocks.size();
  outWidth_.assign(n, -1);
  settled_.assign(n, false);
  rates_.assign(n, SignalRate());
  rateKnown_.assign(n, false);
  minor_.assign(n, false);
  for (size_t i = 0; i < n; ++i) {
    const BlockSpec& spec = model_.blocks[i];
    auto node = std::make_unique<Node>();
    node->index = static_cast<int>(i);
    node->spec = &spec;
    if (spec.isSource) {
      outWidth_[i] = spec.source.outputs;
      node->sourceY.assign(static_cast<size_t>(spec.source.outputs), 0.0);
      node->y = node->sourceY.data();
      settled_[i] = true;
      if (options_.verbose)
        err_ << "blocksim: block '" << spec.name << "': host " << sourceName(spec.source.kind) << " source\n";
    } else {
      std::shared_ptr<Plugin>& p = loaded[spec.pluginPath];
      if (!p) {
        std::string why;
        p = Plugin::load(std::string(), spec.pluginPath, why);
        if (!p) return modelMistake(spec.pluginLine, why);
      }
      node->plugin = p;
      node->inst = std::make_unique<Instance>(p, spec.name);
      for (const ArrayPtr& a : spec.params) node->inst->addParam(cloneArray(a.get()));
      if (options_.verbose) {
        char resolved[PATH_MAX];
        const char* path = realpath(p->path().c_str(), resolved) != nullptr ? resolved : p->path().c_str();
        err_ << "blocksim: " << label(*node) << ": " << path << ", version \"" << p->version() << "\"\n";
      }
    }
    nodes_.push_back(std::move(node));
  }
  return ExitOk;
}

int Simulation::sizeAll() {
  for (auto& np : nodes_) {
    Node& node = *np;
    if (!node.inst) continue;
    Instance& inst = *node.inst;
    CallResult r = inst.sizesCall();
    if (!r.ok() || !inst.sized()) {
      int rc = blockFailure(node, r);
      if (rc == ExitOk) {
        err_ << "blocksim: " << label(node) << ": the sizes call returned no sizes\n";
        rc = ExitBlockError;
      }
      return rc;
    }
    warnings(node, r);
    const int32_t* sv = inst.context().SizesVector;
    // A block that finds the wrong number of parameters may leave the check
    // to the host (and its other sizes unset).
    if (sv[NumSFcnParams] != inst.context().SFcnParamsCount)
      return modelMistake(node.spec->line, label(node) + " takes " + std::to_string(sv[NumSFcnParams]) +
                                               " parameter(s), the model gives " +
                                               std::to_string(inst.context().SFcnParamsCount));
    std::string why = inst.checkCounts();
    if (!why.empty()) {
      err_ << "blocksim: " << label(node) << ": " << why << "\n";
      return ExitBlockError;
    }
    node.level2 = inst.level2();
    node.feedthrough = sv[DirFeedthrough] != 0;
    node.contStates = node.level2 ? 0 : sv[NumContStates];
    outWidth_[static_cast<size_t>(node.index)] = node.level2 ? 0 : sv[NumOutputs];
    if (node.level2) {
      const int32_t ports = sv[NumInputs];
      if (ports != inst.inputPortCount()) {
        err_ << "blocksim: " << label(node) << ": declares " << ports << " input port(s) but has "
             << inst.inputPortCount() << " port record(s)\n";
        return ExitBlockError;
      }
      if (static_cast<size_t>(ports) != node.spec->inputs.size())
        return modelMistake(node.spec->inputsLine > 0 ? node.spec->inputsLine : node.spec->line,
                            label(node) + " has " + std::to_string(ports) +
                                " input port(s); inputs gives one entry per port and has " +
                                std::to_string(node.spec->inputs.size()));
    }
  }
  return ExitOk;
}

// The widths of one block, once its references are known: a level-1 block
// takes the total as its input width (or must have declared that width),
// and its -1 outputs, discrete states and real work follow.
int Simulation::settleBlock(int block, const std::vector<int32_t>& entryWidths, int64_t total) {
  Node& node = *nodes_[static_cast<size_t>(block)];
  node.entryWidths = entryWidths;
  if (node.level2) return ExitOk;
  Instance& inst = *node.inst;
  int32_t* sv = inst.context().SizesVector;
  const int32_t w = static_cast<int32_t>(total);
  const int line = node.spec->inputsLine > 0 ? node.spec->inputsLine : node.spec->line;
  if (sv[NumInputs] == -1)
    inst.settleInputWidth(w);
  else if (sv[NumInputs] != w)
    return modelMistake(line, label(node) + " takes " + std::to_string(sv[NumInputs]) +
                                  " input(s), its references give " + std::to_string(w));
  // Discrete states and real work declared -1 follow the input width also
  // when the block fixed that width itself.
  if (sv[NumDiscStates] == -1) sv[NumDiscStates] = w;
  if (sv[NumRWork] == -1) sv[NumRWork] = w;
  if (sv[NumOutputs] == -1) inst.settleOutputWidth(sv[NumInputs]);
  outWidth_[static_cast<size_t>(block)] = sv[NumOutputs];
  std::string why = inst.checkCounts();
  if (!why.empty()) {
    err_ << "blocksim: " << label(node) << ": " << why << "\n";
    return ExitBlockError;
  }
  return ExitOk;
}

int Simulation::readSampleTimes(Node& node) {
  Instance& inst = *node.inst;
  node.tasks.clear();
  const int32_t count = node.level2 ? 0 : inst.numSampleTimes();
  for (int32_t i = 0; i < count; ++i) {
    const double p = inst.sampleTimes()[i], o = inst.offsetTimes()[i];
    Task task;
    const std::string why = taskOf(p, o, model_.step, task);
    if (why == "not a multiple")
      return modelMistake(node.spec->line, label(node) + ": sample time " + formatNumber(p) + " (offset " +
                                               formatNumber(o) + ") is not a multiple of the step " +
                                               formatNumber(model_.step));
    if (!why.empty()) {
      err_ << "blocksim: " << label(node) << ": sample time " << formatNumber(p) << " (offset " << formatNumber(o)
           << ") is neither inherited (-1), continuous (0) nor a positive period\n";
      return ExitBlockError;
    }
    node.tasks.push_back(task);
  }
  // A block without sample times of its own (and the level-2 block, whose
  // times are per port) runs at every step.
  if (node.tasks.empty()) node.tasks.push_back(Task());
  const size_t flags = inst.hitFlagCount();
  for (size_t i = 0; i < node.tasks.size(); ++i) {
    int32_t t = inst.context().SampleTaskIndex[i];
    if (t < 0 || static_cast<size_t>(t) >= flags) {
      err_ << "blocksim: " << label(node) << ": task index " << t << " is outside the host's hit flags\n";
      return ExitBlockError;
    }
  }
  return ExitOk;
}

// The rate of each block's outputs: a source's own, the first sample time
// of a started level-1 block, or (inherited) the rate of what it reads; a
// level-2 block or one not started yet runs at the base rate.
void Simulation::propagate() {
  std::vector<SignalRate> own(nodes_.size());
  std::vector<bool> inherits(nodes_.size(), false);
  for (size_t i = 0; i < nodes_.size(); ++i) {
    const Node& node = *nodes_[i];
    if (!node.inst) {
      own[i].kind = node.spec->source.kind == SourceKind::Constant ? SignalRate::Constant : SignalRate::Continuous;
    } else if (node.level2 || !node.inst->started()) {
      own[i].kind = SignalRate::Base;
    } else if (node.tasks[0].kind == Task::Discrete) {
      own[i].kind = SignalRate::Discrete;
      own[i].period = node.inst->sampleTimes()[0];
      own[i].offset = node.inst->offsetTimes()[0];
    } else if (node.tasks[0].kind == Task::Continuous) {
      own[i].kind = SignalRate::Continuous;
    } else {
      inherits[i] = true;
    }
  }
  propagateRates(model_, order_, own, inherits, rates_, rateKnown_);
}

int Simulation::negotiatePorts(Node& node) {
  Instance& inst = *node.inst;
  BlockContext& ctx = inst.context();
  ::SimInfo& si = inst.simInfo();
  const int32_t ports = inst.inputPortCount();
  // The host's signals are real and sample based.
  for (int32_t p = 0; p < ports; ++p) setPortFrameMode(inst.inputPort(p), FrameSampleBased);
  for (int32_t p = 0; p < ports; ++p) {
    node.dimsValue = node.entryWidths[static_cast<size_t>(p)];
    node.dims = DimsInfo{node.dimsValue, 1, &node.dimsValue, 0};
    si.PortArgDims = &node.dims;
    ctx.SizesVector[ExchangeArg] = p;
    CallResult r = inst.direct(FlagSetInputPortDimensionInfo);
    if (!r.ok()) return blockFailure(node, r);
    warnings(node, r);
  }
  for (int32_t p = 0; p < ports; ++p) {
    SignalRate rate = combineRates(node.spec->inputs[static_cast<size_t>(p)], rates_, rateKnown_);
    double period = model_.step, offset = 0.0;
    if (rate.kind == SignalRate::Constant) period = INFINITY;
    if (rate.kind == SignalRate::Continuous) period = 0.0;
    if (rate.kind == SignalRate::Discrete) period = rate.period, offset = rate.offset;
    si.PortArgTimes[0] = period;
    si.PortArgTimes[1] = offset;
    ctx.SizesVector[ExchangeArg] = p;
    CallResult r = inst.direct(FlagSetInputPortSampleTime);
    if (!r.ok()) return blockFailure(node, r);
    warnings(node, r);
  }
  for (int32_t p = 0; p < ports; ++p) {
    si.PortArgValue = 0;  // real
    ctx.SizesVector[ExchangeArg] = p;
    CallResult r = inst.direct(FlagSetInputPortComplexSignal);
    if (!r.ok()) return blockFailure(node, r);
    warnings(node, r);
  }
  ctx.SizesVector[ExchangeArg] = 0;
  si.PortArgDims = nullptr;
  // The block may have tied a port's dimensions to another port's.
  for (int32_t p = 0; p < ports; ++p) {
    const int32_t set = inst.portDims(p).first, given = node.entryWidths[static_cast<size_t>(p)];
    if (set != -1 && set != given)
      return modelMistake(node.spec->inputsLine > 0 ? node.spec->inputsLine : node.spec->line,
                          label(node) + ": input port " + std::to_string(p + 1) + " is connected to " +
                              std::to_string(given) + " value(s), the block settled its width to " +
                              std::to_string(set));
  }
  return ExitOk;
}

// Everything the run will hold counted against the memory limit before any
// block starts: what the model holds already (parameters, source data), the
// vectors of each block in order, and the CSV row.
int Simulation::checkMemory() {
  MemoryBudget budget(options_.memoryLimit);
  budget.take(model_.memoryUsed);
  for (int b : order_) {
    const Node& node = *nodes_[static_cast<size_t>(b)];
    if (!node.inst) continue;
    const uint64_t bytes = node.inst->vectorBytes();
    if (!budget.take(bytes))
      return modelMistake(node.spec->line, label(node) + ": its vectors need " + MemoryBudget::mebibytes(bytes) +
                                               " MiB, more than is left of " + budget.describe());
  }
  uint64_t values = 1;
  if (model_.signalsGiven) {
    for (const SignalRef& r : model_.signals) values += static_cast<uint64_t>(std::max(refWidth(r, outWidth_), 0));
  } else {
    for (int32_t w : outWidth_) values += static_cast<uint64_t>(std::max(w, 0));
  }
  const uint64_t rowBytes = values * 25;
  if (!budget.take(rowBytes))
    return modelMistake(model_.signalsGiven ? model_.signalsLine : 1,
                        "a CSV row of " + std::to_string(values) + " values needs " + MemoryBudget::mebibytes(rowBytes) +
                            " MiB, more than is left of " + budget.describe());
  return ExitOk;
}

int Simulation::startAll() {
  // Level-1 blocks first: a level-2 block's ports learn the sample times of
  // the blocks that feed them.
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 1) propagate();
    for (int b : order_) {
      Node& node = *nodes_[static_cast<size_t>(b)];
      if (!node.inst || node.level2 != (pass == 1)) continue;
      if (node.level2) {
        int rc = negotiatePorts(node);
        if (rc != ExitOk) return rc;
      }
      CallResult r = node.inst->start();
      if (!r.ok()) return blockFailure(node, r);
      warnings(node, r);
      // From here the run compares the guard zones once per step.
      node.inst->setCheckGuardsEveryCall(false);
      int rc = readSampleTimes(node);
      if (rc != ExitOk) return rc;
      node.y = node.inst->y();
    }
  }
  propagate();
  return ExitOk;
}

void Simulation::buildSchedule() {
  std::vector<int32_t> contStates;
  for (const auto& np : nodes_) contStates.push_back(np->contStates);
  minor_ = minorStepBlocks(model_, contStates, rates_);

  schedule_.assign(order_.size(), Entry());
  copies_.clear();
  tasks_.clear();
  minorSchedule_.clear();
  contNodes_.clear();
  size_t states = 0;
  for (size_t i = 0; i < order_.size(); ++i) {
    Node& node = *nodes_[static_cast<size_t>(order_[i])];
    Entry& e = schedule_[i];
    e.node = &node;
    e.inst = node.inst.get();
    e.update = node.inst && !node.level2;
    node.entry = &e;
    e.copyBegin = copies_.size();
    if (node.inst && !node.level2) {
      double* dst = node.inst->u();
      for (const auto& entry : node.spec->inputs) {
        for (const SignalRef& r : entry) {
          const Node& src = *nodes_[static_cast<size_t>(r.source)];
          const size_t begin = r.whole ? 0 : static_cast<size_t>(r.begin);
          const size_t count = static_cast<size_t>(refWidth(r, outWidth_));
          if (count == 0) continue;
          const double* from = src.y + begin;
          if (!copies_.empty() && copies_.size() > e.copyBegin && copies_.back().src + copies_.back().count == from &&
              copies_.back().dst + copies_.back().count == dst)
            copies_.back().count += count;  // contiguous with the previous piece
          else
            copies_.push_back(Copy{from, dst, count});
          dst += count;
        }
      }
    }
    e.copyEnd = copies_.size();
    e.taskBegin = tasks_.size();
    if (node.inst) {
      tasks_.insert(tasks_.end(), node.tasks.begin(), node.tasks.end());
    } else {
      Task t;
      t.kind = node.spec->source.kind == SourceKind::Constant ? Task::EveryStep : Task::Continuous;
      tasks_.push_back(t);
    }
    e.taskEnd = tasks_.size();
    if (node.contStates > 0) {
      node.stateOffset = states;
      states += static_cast<size_t>(node.contStates);
      contNodes_.push_back(&node);
    }
  }
  for (Entry& e : schedule_)
    if (minor_[static_cast<size_t>(e.node->index)]) minorSchedule_.push_back(&e);
  x0_.assign(states, 0.0);
  k1_.assign(states, 0.0);
  k2_.assign(states, 0.0);
  k3_.assign(states, 0.0);
  k4_.assign(states, 0.0);
}

std::vector<CsvColumns> Simulation::logColumns() const {
  std::vector<CsvColumns> cols;
  if (model_.signalsGiven) {
    for (const SignalRef& r : model_.signals) {
      const Node& src = *nodes_[static_cast<size_t>(r.source)];
      CsvColumns c;
      c.name = src.spec->name;
      c.first = r.whole ? 0 : static_cast<size_t>(r.begin);
      c.count = static_cast<size_t>(std::max<int32_t>(refWidth(r, outWidth_), 0));
      c.values = src.y + c.first;
      cols.push_back(c);
    }
  } else {
    for (const auto& np : nodes_) {
      const int32_t w = outWidth_[static_cast<size_t>(np->index)];
      if (w <= 0) continue;
      CsvColumns c;
      c.name = np->spec->name;
      c.count = static_cast<size_t>(w);
      c.values = np->y;
      cols.push_back(c);
    }
  }
  return cols;
}

// ---------------------------------------------------------------------------
// Running

bool Simulation::setHits(Entry& e, int64_t n) {
  bool any = false;
  int32_t* flags = e.inst != nullptr ? e.inst->hitFlags() : nullptr;
  const int32_t* index = e.inst != nullptr ? e.inst->context().SampleTaskIndex : nullptr;
  for (size_t i = e.taskBegin; i < e.taskEnd; ++i) {
    const bool hit = taskHit(tasks_[i], n);
    if (flags != nullptr) flags[index[i - e.taskBegin]] = hit ? 1 : 0;
    any = any || hit;
  }
  e.hit = any;
  return any;
}

void Simulation::setMinorHits(Entry& e) {
  if (e.inst == nullptr) return;
  int32_t* flags = e.inst->hitFlags();
  const int32_t* index = e.inst->context().SampleTaskIndex;
  for (size_t i = e.taskBegin; i < e.taskEnd; ++i)
    flags[index[i - e.taskBegin]] = tasks_[i].kind == Task::Discrete ? 0 : 1;
}

void Simulation::copyInputs(const Entry& e) {
  for (size_t i = e.copyBegin; i < e.copyEnd; ++i) {
    const Copy& c = copies_[i];
    memcpy(c.dst, c.src, c.count * sizeof(double));
  }
}

int Simulation::callOutputs(Entry& e, double t, bool major) {
  if (e.inst == nullptr) {
    evalSource(e.node->spec->source, model_.step, t, e.node->y);
    return ExitOk;
  }
  copyInputs(e);
  e.inst->setTime(t);
  e.inst->setStepKind(major ? 1 : 0);
  CallResult r = e.inst->outputs();
  ++calls_;
  if (!r.ok()) return blockFailure(*e.node, r);
  if (!r.warnings.empty()) warnings(*e.node, r);
  return ExitOk;
}

int Simulation::derivatives(double t, bool major, double* k) {
  for (Node* node : contNodes_) {
    Instance& inst = *node->inst;
    copyInputs(*node->entry);
    inst.setTime(t);
    inst.setStepKind(major ? 1 : 0);
    CallResult r = inst.derivatives();
    ++calls_;
    if (!r.ok()) return blockFailure(*node, r);
    if (!r.warnings.empty()) warnings(*node, r);
    memcpy(k + node->stateOffset, inst.dx(), static_cast<size_t>(node->contStates) * sizeof(double));
  }
  return ExitOk;
}

int Simulation::integrate(int64_t n) {
  const double h = model_.step;
  const double t0 = timeAt(n), t1 = timeAt(n + 1), tm = t0 + h / 2.0;
  const size_t count = x0_.size();
  for (Node* node : contNodes_)
    memcpy(x0_.data() + node->stateOffset, node->inst->x(), static_cast<size_t>(node->contStates) * sizeof(double));
  // Sets every continuous state to x0 + a·k.
  auto setStates = [&](double a, const double* k) {
    for (Node* node : contNodes_) {
      double* x = node->inst->x();
      const size_t off = node->stateOffset;
      for (int32_t i = 0; i < node->contStates; ++i) x[i] = x0_[off + i] + a * k[off + i];
    }
  };
  // Outputs of the minor-step blocks at time t, then the derivatives.
  auto stage = [&](double t, double* k) {
    for (Entry* e : minorSchedule_) {
      setMinorHits(*e);
      int rc = callOutputs(*e, t, false);
      if (rc != ExitOk) return rc;
    }
    return derivatives(t, false, k);
  };
  int rc = derivatives(t0, true, k1_.data());
  if (rc != ExitOk) return rc;
  if (model_.solver == Solver::Euler) {
    setStates(h, k1_.data());
    return ExitOk;
  }
  setStates(h / 2.0, k1_.data());
  if ((rc = stage(tm, k2_.data())) != ExitOk) return rc;
  setStates(h / 2.0, k2_.data());
  if ((rc = stage(tm, k3_.data())) != ExitOk) return rc;
  setStates(h, k3_.data());
  if ((rc = stage(t1, k4_.data())) != ExitOk) return rc;
  for (size_t i = 0; i < count; ++i) k1_[i] = k1_[i] + 2.0 * k2_[i] + 2.0 * k3_[i] + k4_[i];
  setStates(h / 6.0, k1_.data());
  return ExitOk;
}

void Simulation::progress(int64_t n, bool last) {
  if (!options_.progress) return;
  if (last) {
    if (progressShown_) err_ << "\r\033[K" << std::flush;
    return;
  }
  if ((n & 15) != 0) return;
  const double now = monotonicSeconds();
  if (now - startClock_ < 1.0 || now - lastShown_ < 0.25) return;
  lastShown_ = now;
  progressShown_ = true;
  const double percent = lastStep_ > 0 ? 100.0 * static_cast<double>(n) / static_cast<double>(lastStep_) : 100.0;
  char line[96];
  snprintf(line, sizeof line, "\rblocksim: t = %.10g of %.10g (%.0f%%)", timeAt(n), stop_, percent);
  err_ << line << std::flush;
}

int Simulation::run(CsvWriter* csv, CsvWriter* plotData) {
  startClock_ = monotonicSeconds();
  lastShown_ = startClock_;
  int rc = ExitOk;
  for (int64_t n = 0; n <= lastStep_ && rc == ExitOk; ++n) {
    if (const int sig = interruptSignal()) {
      progress(0, true);
      err_ << "blocksim: " << signalName(sig) << ": the run stopped "
           << (n == 0 ? std::string("before its first step") : "after the step at t = " + formatNumber(timeAt(n - 1)))
           << "\n";
      rc = ExitSignalBase + sig;
      break;
    }
    const double t = timeAt(n);
    for (Entry& e : schedule_) {
      if (!setHits(e, n)) continue;
      if ((rc = callOutputs(e, t, true)) != ExitOk) break;
    }
    if (rc != ExitOk) break;
    if (csv != nullptr) {
      csv->writeRow(t);
      // A log nobody reads any more (a closed pipe, a full disk) ends the run.
      if (!csv->good()) {
        rc = ExitOutputFailed;
        break;
      }
    }
    if (plotData != nullptr) plotData->writeRow(t);
    for (Entry& e : schedule_) {
      if (!e.hit || !e.update) continue;
      copyInputs(e);
      e.inst->setStepKind(1);
      CallResult r = e.inst->update();
      ++calls_;
      if (!r.ok()) {
        rc = blockFailure(*e.node, r);
        break;
      }
      if (!r.warnings.empty()) warnings(*e.node, r);
    }
    if (rc != ExitOk) break;
    if (n < lastStep_ && !contNodes_.empty()) rc = integrate(n);
    if (rc == ExitOk) rc = checkGuards();
    progress(n, false);
  }
  progress(0, true);
  if (csv != nullptr) csv->flush();
  if (plotData != nullptr) plotData->flush();
  return rc;
}

int Simulation::checkGuards() {
  // Every block called in this step: those with a hit, and those whose
  // continuous states the solver called between steps.
  for (Entry& e : schedule_) {
    if (e.inst == nullptr || !(e.hit || e.node->contStates > 0)) continue;
    if (const char* vector = e.inst->guardViolation()) {
      CallResult r;
      r.wroteOutside = vector;
      return blockFailure(*e.node, r);
    }
  }
  return ExitOk;
}

int Simulation::terminate() {
  int rc = ExitOk;
  for (auto& np : nodes_) {
    if (!np->inst || !np->inst->needsTerminate()) continue;
    CallResult r = np->inst->terminate();
    if (!r.ok()) {
      int failed = blockFailure(*np, r);
      if (rc == ExitOk) rc = failed;
    } else {
      warnings(*np, r);
    }
  }
  return rc;
}

}  // namespace blocksim

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
  // Argument of the level-2 dimension calls.
  DimsInfo dims{-1, -1, nullptr, 0};
  int32_t dimsValue = 0;
};

// One block in the flat schedule of a step, with what a call writes cached.
struct Simulation::Entry {
  Node* node = nullptr;
  Instance* inst = nullptr;  // null for a host source
  PlgFunctionPtr function = nullptr;
  BlockContext* ctx = nullptr;
  double* time = nullptr;  // the time the block reads
  int32_t* stepKind = nullptr;
  int32_t* flags = nullptr;  // its hit flags
  bool discrete = false;     // a task without a hit at some steps
  const Copy* copyBegin = nullptr;  // its input pieces in copies_
  const Copy* copyEnd = nullptr;
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

double Simulation::timeAt(int64_t n) const { return timeOf(static_cast<double>(n)); }

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
  flagIndex_.clear();
  all_.clear();
  minorSchedule_.clear();
  contEntries_.clear();
  std::vector<std::pair<size_t, size_t>> copyRanges;  // of each entry, in copies_
  size_t states = 0;
  for (size_t i = 0; i < order_.size(); ++i) {
    Node& node = *nodes_[static_cast<size_t>(order_[i])];
    Entry& e = schedule_[i];
    e.node = &node;
    e.inst = node.inst.get();
    e.update = node.inst && !node.level2;
    if (e.inst != nullptr) {
      e.function = e.inst->plugin().function();
      e.ctx = &e.inst->context();
      e.time = e.inst->timeSlot();
      e.stepKind = &e.inst->simInfo().StepKind;
      e.flags = e.inst->hitFlags();
    }
    all_.push_back(&e);
    const size_t copyBegin = copies_.size();
    if (node.inst && !node.level2) {
      double* dst = node.inst->u();
      for (const auto& entry : node.spec->inputs) {
        for (const SignalRef& r : entry) {
          const Node& src = *nodes_[static_cast<size_t>(r.source)];
          const size_t begin = r.whole ? 0 : static_cast<size_t>(r.begin);
          const size_t count = static_cast<size_t>(refWidth(r, outWidth_));
          if (count == 0) continue;
          const double* from = src.y + begin;
          if (copies_.size() > copyBegin && copies_.back().src + copies_.back().count == from &&
              copies_.back().dst + copies_.back().count == dst)
            copies_.back().count += count;  // contiguous with the previous piece
          else
            copies_.push_back(Copy{from, dst, count});
          dst += count;
        }
      }
    }
    copyRanges.push_back({copyBegin, copies_.size()});
    e.taskBegin = tasks_.size();
    if (node.inst) {
      tasks_.insert(tasks_.end(), node.tasks.begin(), node.tasks.end());
      // The flag of each task, as checked when the block was started: the
      // host writes through its own copy, whatever the block does to its
      // task indices later.
      for (size_t k = 0; k < node.tasks.size(); ++k) flagIndex_.push_back(node.inst->context().SampleTaskIndex[k]);
    } else {
      Task t;
      t.kind = node.spec->source.kind == SourceKind::Constant ? Task::EveryStep : Task::Continuous;
      tasks_.push_back(t);
      flagIndex_.push_back(0);
    }
    e.taskEnd = tasks_.size();
    // A discrete task of period 1 from step 0 or before has a hit at every
    // step, as a task without a period.
    for (size_t k = e.taskBegin; k < e.taskEnd; ++k) {
      const Task& t = tasks_[k];
      e.discrete = e.discrete || (t.kind == Task::Discrete && (t.period != 1 || t.offset > 0));
    }
    if (node.contStates > 0) {
      node.stateOffset = states;
      states += static_cast<size_t>(node.contStates);
      contEntries_.push_back(&e);
    }
  }
  nextHit_.assign(tasks_.size(), 0);
  for (size_t i = 0; i < schedule_.size(); ++i) {
    schedule_[i].copyBegin = copies_.data() + copyRanges[i].first;
    schedule_[i].copyEnd = copies_.data() + copyRanges[i].second;
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
//
// The calls of a step are made in passes over a list of schedule entries:
// the outputs of every block with a hit, the updates, and the solver's
// minor-step outputs and derivatives. A pass runs inside one protected
// region (plgProtectedCall), not one per call: a block's plgErrMsgTxt
// unwinds to it, and pass_.at names the block whose call was in progress.
// A call that leaves an error status or warnings ends the region early;
// the host reports them outside it and goes on with the next entry. A
// successful call builds nothing.

inline bool Simulation::setHits(Entry& e, int64_t n) {
  if (!e.discrete) {
    // Hits at every step.
    if (e.flags != nullptr)
      for (size_t i = e.taskBegin; i < e.taskEnd; ++i) e.flags[flagIndex_[i]] = 1;
    e.hit = true;
    return true;
  }
  bool any = false;
  for (size_t i = e.taskBegin; i < e.taskEnd; ++i) {
    const Task& task = tasks_[i];
    // Discrete hits counted down from the first one, without a division.
    bool hit = true;
    if (task.kind == Task::Discrete) {
      hit = n == nextHit_[i];
      if (hit) nextHit_[i] += task.period;
    }
    if (e.flags != nullptr) e.flags[flagIndex_[i]] = hit ? 1 : 0;
    any = any || hit;
  }
  e.hit = any;
  return any;
}

void Simulation::setMinorHits(Entry& e) {
  if (e.flags == nullptr) return;
  for (size_t i = e.taskBegin; i < e.taskEnd; ++i) e.flags[flagIndex_[i]] = tasks_[i].kind == Task::Discrete ? 0 : 1;
}

inline void Simulation::copyInputs(const Entry& e) {
  for (const Copy* p = e.copyBegin; p != e.copyEnd; ++p) {
    const Copy& c = *p;
    if (c.count == 1)
      memcpy(c.dst, c.src, sizeof(double));  // inline, the bits as they are
    else
      memcpy(c.dst, c.src, c.count * sizeof(double));
  }
}

template <Simulation::PassKind kind>
void Simulation::passBody(void* self) {
  static_cast<Simulation*>(self)->passCalls<kind>();
}

template <Simulation::PassKind kind>
void Simulation::passCalls() {
  Pass& p = pass_;
  const std::vector<std::string>& warned = pendingWarnings();
  const int32_t stepKind = kind == PassUpdates || (kind != PassMinorOutputs && p.major) ? MajorTimeStep : MinorTimeStep;
  // The arguments of every call of the pass: the same host arrays for all
  // blocks (the gateway reads the flag; the time goes in as well, as in a
  // single call).
  *argTimePr_ = p.t;
  *argFlagPr_ = kind == PassUpdates ? FlagUpdate : kind == PassDerivatives ? FlagDerivatives : FlagOutputs;
  const axArray* rhs[4] = {argT_.get(), argEmpty_.get(), argEmpty_.get(), argFlag_.get()};
  for (size_t i = p.at; i < p.count; ++i) {
    Entry& e = *p.list[i];
    if (kind == PassOutputs && !setHits(e, p.n)) continue;
    if (kind == PassUpdates && !(e.hit && e.update)) continue;
    if (kind == PassMinorOutputs) setMinorHits(e);
    if (e.inst == nullptr) {
      evalSource(e.node->spec->source, model_.step, p.t, e.node->y);
      continue;
    }
    copyInputs(e);
    if (kind != PassUpdates) *e.time = p.t;
    // (An update leaves the time of the step's outputs call, the same t.)
    *e.stepKind = stepKind;
    p.at = i;
    ++calls_;
    // (Every error status is clear here: the run cleared them at its start,
    // and one a call leaves ends the run.)
    BlockContext* ctx = e.ctx;
    axArray* lhs[2] = {nullptr, reinterpret_cast<axArray*>(ctx)};
    e.function(-1, lhs, 4, rhs);
    if (kind == PassDerivatives)
      memcpy(p.k + e.node->stateOffset, e.inst->dx(), static_cast<size_t>(e.node->contStates) * sizeof(double));
    if (ctx->RootContext->ErrorStatus != nullptr || !warned.empty()) return;
  }
  p.at = p.count;
}

template <Simulation::PassKind kind>
int Simulation::runPass(const std::vector<Entry*>& list, double t, bool major, double* k) {
  pass_.list = list.data();
  pass_.count = list.size();
  pass_.at = 0;
  pass_.t = t;
  pass_.major = major;
  pass_.k = k;
  for (;;) {
    char message[4096];
    const bool failed = plgProtectedCall(&Simulation::passBody<kind>, this, message, sizeof message) != 0;
    if (!failed && pass_.at == pass_.count) return ExitOk;
    // A call failed, left an error status or gave warnings.
    Entry& e = *list[pass_.at];
    CallResult r;
    r.failed = failed;
    if (failed) r.error = message;
    r.status = e.ctx->RootContext->ErrorStatus;
    r.warnings.swap(pendingWarnings());
    if (!r.ok()) return blockFailure(*e.node, r);
    warnings(*e.node, r);
    ++pass_.at;
  }
}

int Simulation::integrate(int64_t n) {
  const double h = model_.step;
  const double t0 = timeAt(n), t1 = timeAt(n + 1), tm = t0 + h / 2.0;
  const size_t count = x0_.size();
  for (Entry* e : contEntries_)
    memcpy(x0_.data() + e->node->stateOffset, e->inst->x(), static_cast<size_t>(e->node->contStates) * sizeof(double));
  // Sets every continuous state to x0 + a·k.
  auto setStates = [&](double a, const double* k) {
    for (Entry* e : contEntries_) {
      double* x = e->inst->x();
      const size_t off = e->node->stateOffset;
      for (int32_t i = 0; i < e->node->contStates; ++i) x[i] = x0_[off + i] + a * k[off + i];
    }
  };
  // Outputs of the minor-step blocks at time t, then the derivatives.
  auto stage = [&](double t, double* k) {
    int rc = runPass<PassMinorOutputs>(minorSchedule_, t, false, nullptr);
    if (rc != ExitOk) return rc;
    return runPass<PassDerivatives>(contEntries_, t, false, k);
  };
  int rc = runPass<PassDerivatives>(contEntries_, t0, true, k1_.data());
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

int Simulation::run(LogWriter* log, LogWriter* plotData) {
  startClock_ = monotonicSeconds();
  lastShown_ = startClock_;
  // The first hit of every discrete task: the first n >= 0 with n >= offset
  // and n - offset a multiple of the period.
  for (size_t i = 0; i < tasks_.size(); ++i) {
    const Task& task = tasks_[i];
    if (task.kind != Task::Discrete) continue;
    int64_t first = task.offset;
    if (first < 0) first = (first % task.period + task.period) % task.period;
    nextHit_[i] = first;
  }
  for (const Entry& e : schedule_)
    if (e.ctx != nullptr) e.ctx->RootContext->ErrorStatus = nullptr;
  int rc = ExitOk;
  double steps = 0.0;  // n as a double (exact: n < 2^53), without a conversion per step
  int64_t guardCountdown = kGuardCheckSteps;
  const int64_t stride = this->stride();
  int64_t logCountdown = 1;  // steps to the next logged one
  for (int64_t n = 0; n <= lastStep_ && rc == ExitOk; ++n) {
    if (const int sig = interruptSignal()) {
      progress(0, true);
      // A write outside a vector in the steps so far is reported first.
      if ((rc = checkGuards()) != ExitOk) break;
      err_ << "blocksim: " << signalName(sig) << ": the run stopped "
           << (n == 0 ? std::string("before its first step") : "after the step at t = " + formatNumber(timeAt(n - 1)))
           << "\n";
      rc = ExitSignalBase + sig;
      break;
    }
    const double t = timeOf(steps);
    steps += 1.0;
    pass_.n = n;
    if ((rc = runPass<PassOutputs>(all_, t, true, nullptr)) != ExitOk) break;
    if (--logCountdown == 0) {
      logCountdown = stride;
      if (log != nullptr) {
        log->writeRow(t);
        // A log nobody reads any more (a closed pipe, a full disk) ends the run.
        if (!log->good()) {
          rc = ExitOutputFailed;
          break;
        }
      }
      if (plotData != nullptr) plotData->writeRow(t);
    }
    if ((rc = runPass<PassUpdates>(all_, t, true, nullptr)) != ExitOk) break;
    if (n < lastStep_ && !contEntries_.empty()) rc = integrate(n);
    if (rc == ExitOk && (--guardCountdown == 0 || n == lastStep_)) {
      guardCountdown = kGuardCheckSteps;
      rc = checkGuards();
    }
    progress(n, false);
  }
  progress(0, true);
  if (log != nullptr) log->flush();
  if (plotData != nullptr) plotData->flush();
  return rc;
}

int Simulation::checkGuards() {
  // The zones of every plug-in block in block order: the first overwritten
  // one names the block and the vector. (A block that was not called since
  // the last check has intact zones, unless another block wrote there.)
  for (Entry& e : schedule_) {
    if (e.inst == nullptr) continue;
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

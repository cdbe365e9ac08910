#include "runner.h"

#include <limits.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <ostream>

#include "interrupt.h"
#include "outfile.h"
#include "plot.h"
#include "step.h"

namespace blocksim {

namespace {

// Relative tolerance of sample hits and of the source functions' switching
// times, in base steps.
const double kTimeTolerance = 1e-9;
const double kTwoPi = 6.283185307179586;

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

const char* sourceName(SourceKind k) {
  switch (k) {
    case SourceKind::Constant: return "constant";
    case SourceKind::Pulse: return "pulse";
    case SourceKind::Step: return "step";
    case SourceKind::Sine: return "sine";
    case SourceKind::Ramp: return "ramp";
    case SourceKind::File: return "file";
  }
  return "source";
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
  int32_t outWidth = -1;  // -1 until settled
  bool widthsSettled = false;
  std::vector<int32_t> entryWidths;  // width of each `inputs` entry
  std::vector<double> sourceY;       // a host source's outputs
  double* y = nullptr;
  int32_t contStates = 0;
  size_t stateOffset = 0;  // into the solver's arrays
  std::vector<Task> tasks;
  SignalRate rate;
  bool rateKnown = false;
  bool minor = false;  // evaluated in minor steps
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

std::string Simulation::label(const Node& node) const {
  if (node.inst) return "block '" + node.spec->name + "' (" + node.plugin->name() + ")";
  return "block '" + node.spec->name + "' (" + sourceName(node.spec->source.kind) + " source)";
}

void Simulation::warnings(const Node& node, const CallResult& r) {
  for (const std::string& w : r.warnings) err_ << "blocksim: " << label(node) << ": warning: " << escapeMessage(w) << "\n";
}

int Simulation::blockFailure(const Node& node, const CallResult& r) {
  warnings(node, r);
  if (r.wroteOutside != nullptr) {
    err_ << "blocksim: " << label(node) << ": the block wrote outside " << r.wroteOutside << "\n";
    return RunWroteOutside;
  }
  if (r.failed) {
    err_ << "blocksim: " << label(node) << ": " << escapeMessage(r.error) << "\n";
    return RunBlockError;
  }
  if (r.status != nullptr) {
    err_ << "blocksim: " << label(node) << ": " << escapeMessage(r.status) << "\n";
    return RunBlockError;
  }
  return RunOk;
}

int Simulation::modelMistake(int line, const std::string& what) {
  err_ << "blocksim: " << model_.where(line) << what << "\n";
  return RunModelMistake;
}

double Simulation::timeAt(int64_t n) const {
  // With a step of 1/N the times are n/N, correctly rounded (0.3, not
  // 0.30000000000000004 as 3 * 0.1 gives).
  if (stepsPerSecond_ > 0.0) return static_cast<double>(n) / stepsPerSecond_;
  return static_cast<double>(n) * model_.step;
}

Instance* Simulation::instance(int block) const { return nodes_[static_cast<size_t>(block)]->inst.get(); }
const double* Simulation::outputs(int block) const { return nodes_[static_cast<size_t>(block)]->y; }
int32_t Simulation::outputWidth(int block) const { return nodes_[static_cast<size_t>(block)]->outWidth; }
SignalRate Simulation::rate(int block) const { return nodes_[static_cast<size_t>(block)]->rate; }
bool Simulation::evaluatedInMinorSteps(int block) const { return nodes_[static_cast<size_t>(block)]->minor; }

// ---------------------------------------------------------------------------
// Preparation

int Simulation::prepare() {
  const double step = model_.step;
  if (options_.hasStop) {
    stop_ = options_.stop;
    if (!(stop_ >= 0.0 && isfinite(stop_))) {
      err_ << "blocksim: --stop must be a finite time of at least 0\n";
      return RunModelMistake;
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
  if ((rc = load()) != RunOk) return rc;
  if ((rc = sizeAll()) != RunOk) return rc;
  if ((rc = orderBlocks()) != RunOk) return rc;
  if ((rc = settleWidths()) != RunOk) return rc;
  if ((rc = checkMemory()) != RunOk) return rc;
  if ((rc = startAll()) != RunOk) return rc;
  buildSchedule();
  return RunOk;
}

int Simulation::load() {
  std::map<std::string, std::shared_ptr<Plugin>> loaded;
  for (size_t i = 0; i < model_.blocks.size(); ++i) {
    const BlockSpec& spec = model_.blocks[i];
    auto node = std::make_unique<Node>();
    node->index = static_cast<int>(i);
    node->spec = &spec;
    if (spec.isSource) {
      node->outWidth = spec.source.outputs;
      node->sourceY.assign(static_cast<size_t>(spec.source.outputs), 0.0);
      node->y = node->sourceY.data();
      node->widthsSettled = true;
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
  return RunOk;
}

int Simulation::sizeAll() {
  for (auto& np : nodes_) {
    Node& node = *np;
    if (!node.inst) continue;
    Instance& inst = *node.inst;
    CallResult r = inst.sizesCall();
    if (!r.ok() || !inst.sized()) {
      int rc = blockFailure(node, r);
      if (rc == RunOk) {
        err_ << "blocksim: " << label(node) << ": the sizes call returned no sizes\n";
        rc = RunBlockError;
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
      return RunBlockError;
    }
    node.level2 = inst.level2();
    node.feedthrough = sv[DirFeedthrough] != 0;
    node.contStates = node.level2 ? 0 : sv[NumContStates];
    node.outWidth = node.level2 ? 0 : sv[NumOutputs];
    if (node.level2) {
      const int32_t ports = sv[NumInputs];
      if (ports != inst.inputPortCount()) {
        err_ << "blocksim: " << label(node) << ": declares " << ports << " input port(s) but has "
             << inst.inputPortCount() << " port record(s)\n";
        return RunBlockError;
      }
      if (static_cast<size_t>(ports) != node.spec->inputs.size())
        return modelMistake(node.spec->inputsLine > 0 ? node.spec->inputsLine : node.spec->line,
                            label(node) + " has " + std::to_string(ports) +
                                " input port(s); inputs gives one entry per port and has " +
                                std::to_string(node.spec->inputs.size()));
    }
  }
  return RunOk;
}

// Block order: a block with direct feedthrough runs after every block it
// reads from; the others may run before their sources, which is what makes a
// loop through them computable. Among the blocks free to run, those without
// inputs come first, then those whose sources have all run, in file order.
int Simulation::orderBlocks() {
  const size_t n = nodes_.size();
  std::vector<bool> placed(n, false);
  std::vector<std::vector<int>> sources(n);
  for (size_t i = 0; i < n; ++i)
    for (const auto& entry : nodes_[i]->spec->inputs)
      for (const SignalRef& r : entry) sources[i].push_back(r.source);
  auto hardReady = [&](size_t i) {
    if (!nodes_[i]->feedthrough) return true;
    for (int s : sources[i])
      if (!placed[static_cast<size_t>(s)]) return false;
    return true;
  };
  auto allReady = [&](size_t i) {
    for (int s : sources[i])
      if (!placed[static_cast<size_t>(s)]) return false;
    return true;
  };
  order_.clear();
  while (order_.size() < n) {
    int pick = -1;
    for (int pass = 0; pass < 3 && pick < 0; ++pass) {
      for (size_t i = 0; i < n && pick < 0; ++i) {
        if (placed[i] || !hardReady(i)) continue;
        if ((pass == 0 && sources[i].empty()) || (pass == 1 && allReady(i)) || pass == 2)
          pick = static_cast<int>(i);
      }
    }
    if (pick < 0) {
      // Every block left waits for another one left: walk back along the
      // waits from the first of them until a block repeats.
      size_t start = 0;
      while (placed[start]) ++start;
      std::vector<int> path;
      std::vector<int> seen(n, -1);
      int cur = static_cast<int>(start);
      while (seen[static_cast<size_t>(cur)] < 0) {
        seen[static_cast<size_t>(cur)] = static_cast<int>(path.size());
        path.push_back(cur);
        int next = -1;
        for (int s : sources[static_cast<size_t>(cur)])
          if (!placed[static_cast<size_t>(s)]) {
            next = s;
            break;
          }
        cur = next;
      }
      std::vector<int> cycle(path.begin() + seen[static_cast<size_t>(cur)], path.end());
      std::reverse(cycle.begin(), cycle.end());  // in the direction of the data
      auto first = std::min_element(cycle.begin(), cycle.end());
      std::rotate(cycle.begin(), first, cycle.end());
      std::string names;
      for (int b : cycle) names += (names.empty() ? "" : ", ") + nodes_[static_cast<size_t>(b)]->spec->name;
      return modelMistake(nodes_[static_cast<size_t>(cycle[0])]->spec->line, "algebraic loop through blocks " + names);
    }
    placed[static_cast<size_t>(pick)] = true;
    order_.push_back(pick);
  }
  return RunOk;
}

int32_t Simulation::refWidth(const SignalRef& r) const {
  const Node& src = *nodes_[static_cast<size_t>(r.source)];
  if (src.outWidth < 0) return -1;
  return r.whole ? src.outWidth : static_cast<int32_t>(r.end - r.begin);
}

int Simulation::settleWidths() {
  // A width follows from the widths of the references, which may follow
  // from other blocks settled later in the order (through a loop): repeat
  // until nothing changes.
  bool changed = true;
  while (changed) {
    changed = false;
    for (int b : order_) {
      Node& node = *nodes_[static_cast<size_t>(b)];
      if (node.widthsSettled) continue;
      std::vector<int32_t> widths;
      int64_t total = 0;
      bool known = true;
      for (const auto& entry : node.spec->inputs) {
        int64_t w = 0;
        for (const SignalRef& r : entry) {
          const Node& src = *nodes_[static_cast<size_t>(r.source)];
          if (src.outWidth < 0) {
            known = false;
            break;
          }
          if (!r.whole && r.end > src.outWidth)
            return modelMistake(r.line, "'" + r.text + "' reaches beyond the " + std::to_string(src.outWidth) +
                                            " output(s) of '" + src.spec->name + "'");
          w += refWidth(r);
        }
        if (!known) break;
        widths.push_back(static_cast<int32_t>(std::min<int64_t>(w, INT32_MAX)));
        total += w;
      }
      if (!known) continue;
      const int line = node.spec->inputsLine > 0 ? node.spec->inputsLine : node.spec->line;
      if (total > kMaxVectorLength)
        return modelMistake(line, label(node) + ": the input width " + std::to_string(total) +
                                      " is more than this host allocates");
      node.entryWidths = widths;
      Instance& inst = *node.inst;
      int32_t* sv = inst.context().SizesVector;
      if (!node.level2) {
        const int32_t w = static_cast<int32_t>(total);
        if (sv[NumInputs] == -1)
          inst.settleInputWidth(w);
        else if (sv[NumInputs] != w)
          return modelMistake(line, label(node) + " takes " + std::to_string(sv[NumInputs]) +
                                        " input(s), its references give " + std::to_string(w));
        // Discrete states and real work declared -1 follow the input width
        // also when the block fixed that width itself.
        if (sv[NumDiscStates] == -1) sv[NumDiscStates] = w;
        if (sv[NumRWork] == -1) sv[NumRWork] = w;
        if (sv[NumOutputs] == -1) inst.settleOutputWidth(sv[NumInputs]);
        node.outWidth = sv[NumOutputs];
        std::string why = inst.checkCounts();
        if (!why.empty()) {
          err_ << "blocksim: " << label(node) << ": " << why << "\n";
          return RunBlockError;
        }
      }
      node.widthsSettled = true;
      changed = true;
    }
  }
  std::string names;
  int line = 0;
  for (int b : order_) {
    const Node& node = *nodes_[static_cast<size_t>(b)];
    if (node.widthsSettled) continue;
    if (line == 0) line = node.spec->line;
    names += (names.empty() ? "" : ", ") + node.spec->name;
  }
  if (!names.empty())
    return modelMistake(line, "cannot settle the widths of blocks " + names +
                                  ": each takes its width from the others (give one of them a fixed width)");
  return RunOk;
}

namespace {

// Whether v is a whole number k of base steps (within the tolerance).
bool stepMultiple(double v, double step, int64_t& k) {
  double q = v / step;
  if (!(fabs(q) < 1e15)) return false;
  double r = nearbyint(q);
  if (fabs(q - r) > kTimeTolerance * std::max(1.0, fabs(r))) return false;
  k = static_cast<int64_t>(r);
  return true;
}

}  // namespace

int Simulation::readSampleTimes(Node& node) {
  Instance& inst = *node.inst;
  node.tasks.clear();
  const int32_t count = node.level2 ? 0 : inst.numSampleTimes();
  for (int32_t i = 0; i < count; ++i) {
    const double p = inst.sampleTimes()[i], o = inst.offsetTimes()[i];
    Task task;
    if (p == -1.0) {
      task.kind = Task::EveryStep;
    } else if (p == 0.0) {
      task.kind = Task::Continuous;
    } else if (p > 0.0 && isfinite(p) && isfinite(o)) {
      task.kind = Task::Discrete;
      if (!stepMultiple(p, model_.step, task.period) || task.period < 1 ||
          !stepMultiple(o, model_.step, task.offset))
        return modelMistake(node.spec->line, label(node) + ": sample time " + formatNumber(p) + " (offset " +
                                                 formatNumber(o) + ") is not a multiple of the step " +
                                                 formatNumber(model_.step));
    } else {
      err_ << "blocksim: " << label(node) << ": sample time " << formatNumber(p) << " (offset " << formatNumber(o)
           << ") is neither inherited (-1), continuous (0) nor a positive period\n";
      return RunBlockError;
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
      return RunBlockError;
    }
  }
  return RunOk;
}

SignalRate Simulation::combine(const std::vector<SignalRef>& refs) const {
  bool continuous = false, constant = false, base = false;
  std::vector<std::pair<double, double>> discrete;
  for (const SignalRef& r : refs) {
    const Node& src = *nodes_[static_cast<size_t>(r.source)];
    if (!src.rateKnown) continue;  // behind in a loop
    switch (src.rate.kind) {
      case SignalRate::Continuous: continuous = true; break;
      case SignalRate::Constant: constant = true; break;
      case SignalRate::Base: base = true; break;
      case SignalRate::Discrete: {
        std::pair<double, double> d(src.rate.period, src.rate.offset);
        if (std::find(discrete.begin(), discrete.end(), d) == discrete.end()) discrete.push_back(d);
        break;
      }
    }
  }
  SignalRate rate;
  if (continuous) {
    rate.kind = SignalRate::Continuous;
  } else if (discrete.size() == 1 && !base) {
    rate.kind = SignalRate::Discrete;
    rate.period = discrete[0].first;
    rate.offset = discrete[0].second;
  } else if (!discrete.empty() || base) {
    rate.kind = SignalRate::Base;
  } else {
    rate.kind = constant ? SignalRate::Constant : SignalRate::Base;
  }
  return rate;
}

// The rate of each block's outputs: its own sample time, or for an
// inherited block the rate of what it reads.
void Simulation::propagateRates() {
  for (int b : order_) {
    Node& node = *nodes_[static_cast<size_t>(b)];
    if (!node.inst) {
      node.rate.kind = node.spec->source.kind == SourceKind::Constant ? SignalRate::Constant : SignalRate::Continuous;
    } else if (node.level2 || !node.inst->started()) {
      node.rate.kind = SignalRate::Base;
    } else {
      const Task& first = node.tasks[0];
      if (first.kind == Task::Discrete) {
        node.rate.kind = SignalRate::Discrete;
        node.rate.period = node.inst->sampleTimes()[0];
        node.rate.offset = node.inst->offsetTimes()[0];
      } else if (first.kind == Task::Continuous) {
        node.rate.kind = SignalRate::Continuous;
      } else {
        std::vector<SignalRef> all;
        for (const auto& entry : node.spec->inputs) all.insert(all.end(), entry.begin(), entry.end());
        node.rate = combine(all);
      }
    }
    node.rateKnown = true;
  }
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
    CallResult r = inst.direct(126);
    if (!r.ok()) return blockFailure(node, r);
    warnings(node, r);
  }
  for (int32_t p = 0; p < ports; ++p) {
    SignalRate rate = combine(node.spec->inputs[static_cast<size_t>(p)]);
    double period = model_.step, offset = 0.0;
    if (rate.kind == SignalRate::Constant) period = INFINITY;
    if (rate.kind == SignalRate::Continuous) period = 0.0;
    if (rate.kind == SignalRate::Discrete) period = rate.period, offset = rate.offset;
    si.PortArgTimes[0] = period;
    si.PortArgTimes[1] = offset;
    ctx.SizesVector[ExchangeArg] = p;
    CallResult r = inst.direct(122);
    if (!r.ok()) return blockFailure(node, r);
    warnings(node, r);
  }
  for (int32_t p = 0; p < ports; ++p) {
    si.PortArgValue = 0;  // real
    ctx.SizesVector[ExchangeArg] = p;
    CallResult r = inst.direct(120);
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
  return RunOk;
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
  for (const CsvColumns& c : logColumns()) values += c.count;
  const uint64_t rowBytes = values * 25;
  if (!budget.take(rowBytes))
    return modelMistake(model_.signalsGiven ? model_.signalsLine : 1,
                        "a CSV row of " + std::to_string(values) + " values needs " + MemoryBudget::mebibytes(rowBytes) +
                            " MiB, more than is left of " + budget.describe());
  return RunOk;
}

int Simulation::startAll() {
  // Level-1 blocks first: a level-2 block's ports learn the sample times of
  // the blocks that feed them.
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 1) propagateRates();
    for (int b : order_) {
      Node& node = *nodes_[static_cast<size_t>(b)];
      if (!node.inst || node.level2 != (pass == 1)) continue;
      if (node.level2) {
        int rc = negotiatePorts(node);
        if (rc != RunOk) return rc;
      }
      CallResult r = node.inst->start();
      if (!r.ok()) return blockFailure(node, r);
      warnings(node, r);
      // From here the run compares the guard zones once per step.
      node.inst->setCheckGuardsEveryCall(false);
      int rc = readSampleTimes(node);
      if (rc != RunOk) return rc;
      node.y = node.inst->y();
    }
  }
  propagateRates();
  return RunOk;
}

void Simulation::buildSchedule() {
  // Minor steps recompute what the continuous states depend on: the blocks
  // upstream of a block with continuous states whose outputs change
  // continuously. Discrete blocks hold their outputs between their hits.
  std::vector<bool> upstream(nodes_.size(), false);
  std::vector<int> work;
  for (auto& np : nodes_)
    if (np->contStates > 0) {
      upstream[static_cast<size_t>(np->index)] = true;
      work.push_back(np->index);
    }
  while (!work.empty()) {
    int b = work.back();
    work.pop_back();
    for (const auto& entry : nodes_[static_cast<size_t>(b)]->spec->inputs)
      for (const SignalRef& r : entry)
        if (!upstream[static_cast<size_t>(r.source)]) {
          upstream[static_cast<size_t>(r.source)] = true;
          work.push_back(r.source);
        }
  }
  for (auto& np : nodes_)
    np->minor = upstream[static_cast<size_t>(np->index)] &&
                (np->contStates > 0 || np->rate.kind == SignalRate::Continuous);

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
          const size_t count = static_cast<size_t>(refWidth(r));
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
    if (e.node->minor) minorSchedule_.push_back(&e);
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
      c.count = static_cast<size_t>(std::max<int32_t>(refWidth(r), 0));
      c.values = src.y + c.first;
      cols.push_back(c);
    }
  } else {
    for (const auto& np : nodes_) {
      if (np->outWidth <= 0) continue;
      CsvColumns c;
      c.name = np->spec->name;
      c.count = static_cast<size_t>(np->outWidth);
      c.values = np->y;
      cols.push_back(c);
    }
  }
  return cols;
}

// ---------------------------------------------------------------------------
// Running

void Simulation::evalSource(Node& node, double t) {
  const SourceSpec& s = node.spec->source;
  double* y = node.y;
  const double tol = kTimeTolerance * model_.step;
  switch (s.kind) {
    case SourceKind::Constant:
      for (size_t i = 0; i < s.value.size(); ++i) y[i] = s.value[i];
      break;
    case SourceKind::Pulse: {
      // High from the start of each period for `width`, counted in periods
      // so that a time on a period boundary starts the pulse.
      const double q = (t - s.delay) / s.period;
      const double eps = kTimeTolerance * std::max(1.0, fabs(q));
      double out = 0.0;
      if (q >= -eps) {
        const double frac = q - floor(q + eps);
        if (frac < s.width / s.period - eps) out = s.amplitude;
      }
      y[0] = out;
      break;
    }
    case SourceKind::Step:
      y[0] = t >= s.time - tol ? s.after : s.before;
      break;
    case SourceKind::Sine:
      y[0] = s.amplitude * sin(kTwoPi * s.frequency * t + s.phase) + s.bias;
      break;
    case SourceKind::Ramp:
      y[0] = t >= s.start ? s.slope * (t - s.start) : 0.0;
      break;
    case SourceKind::File: {
      // The last row at or before t; nothing (zeros) before the first row.
      auto it = std::upper_bound(s.times.begin(), s.times.end(), t + tol);
      const size_t w = static_cast<size_t>(s.outputs);
      if (it == s.times.begin()) {
        for (size_t i = 0; i < w; ++i) y[i] = 0.0;
      } else {
        const double* row = s.rows.data() + static_cast<size_t>(it - s.times.begin() - 1) * w;
        for (size_t i = 0; i < w; ++i) y[i] = row[i];
      }
      break;
    }
  }
}

bool Simulation::setHits(Entry& e, int64_t n) {
  bool any = false;
  int32_t* flags = e.inst != nullptr ? e.inst->hitFlags() : nullptr;
  const int32_t* index = e.inst != nullptr ? e.inst->context().SampleTaskIndex : nullptr;
  for (size_t i = e.taskBegin; i < e.taskEnd; ++i) {
    const Task& task = tasks_[i];
    bool hit = task.kind != Task::Discrete || (n >= task.offset && (n - task.offset) % task.period == 0);
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
    evalSource(*e.node, t);
    return RunOk;
  }
  copyInputs(e);
  e.inst->setTime(t);
  e.inst->setStepKind(major ? 1 : 0);
  CallResult r = e.inst->outputs();
  ++calls_;
  if (!r.ok()) return blockFailure(*e.node, r);
  if (!r.warnings.empty()) warnings(*e.node, r);
  return RunOk;
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
  return RunOk;
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
      if (rc != RunOk) return rc;
    }
    return derivatives(t, false, k);
  };
  int rc = derivatives(t0, true, k1_.data());
  if (rc != RunOk) return rc;
  if (model_.solver == Solver::Euler) {
    setStates(h, k1_.data());
    return RunOk;
  }
  setStates(h / 2.0, k1_.data());
  if ((rc = stage(tm, k2_.data())) != RunOk) return rc;
  setStates(h / 2.0, k2_.data());
  if ((rc = stage(tm, k3_.data())) != RunOk) return rc;
  setStates(h, k3_.data());
  if ((rc = stage(t1, k4_.data())) != RunOk) return rc;
  for (size_t i = 0; i < count; ++i) k1_[i] = k1_[i] + 2.0 * k2_[i] + 2.0 * k3_[i] + k4_[i];
  setStates(h / 6.0, k1_.data());
  return RunOk;
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
  int rc = RunOk;
  for (int64_t n = 0; n <= lastStep_ && rc == RunOk; ++n) {
    if (const int sig = interruptSignal()) {
      progress(0, true);
      err_ << "blocksim: " << signalName(sig) << ": the run stopped "
           << (n == 0 ? std::string("before its first step") : "after the step at t = " + formatNumber(timeAt(n - 1)))
           << "\n";
      rc = RunInterruptedBase + sig;
      break;
    }
    const double t = timeAt(n);
    for (Entry& e : schedule_) {
      if (!setHits(e, n)) continue;
      if ((rc = callOutputs(e, t, true)) != RunOk) break;
    }
    if (rc != RunOk) break;
    if (csv != nullptr) {
      csv->writeRow(t);
      // A log nobody reads any more (a closed pipe, a full disk) ends the run.
      if (!csv->good()) {
        rc = RunOutputFailed;
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
    if (rc != RunOk) break;
    if (n < lastStep_ && !contNodes_.empty()) rc = integrate(n);
    if (rc == RunOk) rc = checkGuards();
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
  return RunOk;
}

int Simulation::terminate() {
  int rc = RunOk;
  for (auto& np : nodes_) {
    if (!np->inst || !np->inst->needsTerminate()) continue;
    CallResult r = np->inst->terminate();
    if (!r.ok()) {
      int failed = blockFailure(*np, r);
      if (rc == RunOk) rc = failed;
    } else {
      warnings(*np, r);
    }
  }
  return rc;
}

// ---------------------------------------------------------------------------

namespace {

// The checks of where the outputs go, made before anything runs: never onto
// the model, never both outputs into one file, the picture only into a
// regular (or new) file, and no control character in a path gnuplot reads.
std::string checkOutputPaths(const std::string& modelPath, const RunOptions& options) {
  const std::string model = fileIdentity(modelPath);
  const std::string csv = options.outputPath.empty() ? std::string() : fileIdentity(options.outputPath);
  if (!csv.empty() && csv == model) return "--output " + options.outputPath + " is the model file";
  if (options.plotPath.empty()) return std::string();
  const std::string plot = fileIdentity(options.plotPath);
  if (!plot.empty() && plot == model) return "--plot " + options.plotPath + " is the model file";
  if (!plot.empty() && plot == csv) return "--plot and --output name the same file";
  struct stat st;
  if (stat(options.plotPath.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
    return "--plot " + options.plotPath + " is not a regular file";
  if (hasControlCharacter(options.plotPath)) return "the --plot path holds a control character";
  return std::string();
}

// The outputs drawn: a panel per logged block, within the picture's bounds;
// what is left out is said on err.
std::vector<CsvColumns> plotColumns(const std::vector<CsvColumns>& logged, std::ostream& err) {
  std::vector<CsvColumns> drawn;
  size_t curves = 0, blocks = 0;
  for (const CsvColumns& c : logged) {
    if (c.count == 0) continue;
    ++blocks;
    if (drawn.size() == kMaxPlotPanels || curves == kMaxPlotCurves) continue;
    CsvColumns d = c;
    d.count = std::min({c.count, kMaxPlotCurvesPerPanel, kMaxPlotCurves - curves});
    if (d.count < c.count)
      err << "blocksim: --plot: the panel of '" << c.name << "' draws " << d.count << " of its " << c.count
          << " outputs\n";
    curves += d.count;
    drawn.push_back(d);
  }
  if (drawn.size() < blocks)
    err << "blocksim: --plot: draws the first " << drawn.size() << " of the " << blocks << " logged blocks\n";
  return drawn;
}

int runChecked(const std::string& modelPath, const RunOptions& options, std::ostream& out, std::ostream& err) {
  std::string why = checkOutputPaths(modelPath, options);
  if (!why.empty()) {
    err << "blocksim: " << why << "\n";
    return RunModelMistake;
  }
  Model model;
  std::vector<std::string> mistakes;
  ReadOptions read;
  read.pluginDir = options.pluginDir;
  read.writeAnywhere = options.writeAnywhere;
  read.memoryLimit = options.memoryLimit;
  read.sets = options.sets;
  if (!readModel(modelPath, read, model, mistakes)) {
    for (const std::string& m : mistakes) err << "blocksim: " << m << "\n";
    return RunModelMistake;
  }
  for (const std::string& w : model.warnings) err << "blocksim: " << w << "\n";
  Simulation sim(model, options, err);
  int rc = sim.prepare();
  if (rc != RunOk) {
    sim.terminate();
    return rc;
  }
  OutputFile file;
  std::ostream* log = &out;
  if (!options.outputPath.empty()) {
    why = file.open(options.outputPath);
    if (!why.empty()) {
      err << "blocksim: cannot write " << options.outputPath << ": " << why << "\n";
      sim.terminate();
      return RunOutputFailed;
    }
    log = &file.stream();
  }
  CsvWriter csv({log});
  csv.setColumns(sim.logColumns());
  csv.writeHeader();
  // The plot reads a copy of its own, with only the outputs it draws.
  TempDir plotDir;
  std::ofstream plotStream;
  std::unique_ptr<CsvWriter> plotData;
  std::vector<PlotPanel> panels;
  if (!options.plotPath.empty()) {
    if (!plotDir.path().empty()) plotStream.open(plotDir.path() + "/data.csv", std::ios::binary | std::ios::trunc);
    if (!plotStream) {
      err << "blocksim: --plot: cannot make a temporary file\n";
      sim.terminate();
      return RunPlotFailed;
    }
    std::vector<CsvColumns> drawn = plotColumns(csv.columns(), err);
    size_t column = 2;
    for (const CsvColumns& c : drawn) {
      panels.push_back(PlotPanel{c.name, column, c.count});
      column += c.count;
    }
    plotData = std::make_unique<CsvWriter>(std::vector<std::ostream*>{&plotStream});
    plotData->setColumns(drawn);
    plotData->writeHeader();
  }
  rc = sim.run(&csv, plotData.get());
  csv.flush();
  int trc = sim.terminate();
  if (rc == RunOk) rc = trc;
  if (!csv.good()) {
    err << "blocksim: cannot write the CSV" << (options.outputPath.empty() ? "" : " to " + options.outputPath) << "\n";
    if (rc == RunOk) rc = RunOutputFailed;
  }
  // The rows written so far are kept, also after an error or an interrupt.
  if (!options.outputPath.empty() && !file.commit(why)) {
    err << "blocksim: cannot write " << options.outputPath << ": " << why << "\n";
    if (rc == RunOk) rc = RunOutputFailed;
  }
  if (rc == RunOk && plotData) {
    plotStream.close();
    if (!plotData->good() || !plotStream) {
      err << "blocksim: --plot: cannot write the data of the picture\n";
      rc = RunPlotFailed;
    } else if (!drawPlot(plotDir.path() + "/data.csv", options.plotPath, panels, why)) {
      err << "blocksim: --plot: " << why << "\n";
      rc = RunPlotFailed;
    }
  }
  return rc;
}

}  // namespace

int runModel(const std::string& modelPath, const RunOptions& options, std::ostream& out, std::ostream& err) {
  try {
    return runChecked(modelPath, options, out, err);
  } catch (const std::bad_alloc&) {
    // Whatever was made is gone with the unwinding (the simulation terminates
    // the blocks it started); what is left is to say so.
    err << "blocksim: out of memory\n";
    return RunOutOfMemory;
  }
}

}  // namespace blocksim

// `blocksim run`: simulates a model file. The blocks are loaded and sized,
// put in order (refusing algebraic loops), their -1 widths settled from the
// connections, started, and then run step by step on a fixed base step: the
// outputs of every block with a sample hit in block order, a CSV row, the
// updates, and the integration of continuous states by the chosen solver.
#ifndef BLOCKSIM_RUNNER_H
#define BLOCKSIM_RUNNER_H

#include <stdint.h>

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "budget.h"
#include "csv.h"
#include "instance.h"
#include "model.h"

namespace blocksim {

// Exit statuses of `blocksim run`.
enum RunStatus {
  RunOk = 0,
  RunBlockError = 1,     // a block's message or ErrorStatus stopped the run
  RunModelMistake = 2,   // the model (or a command-line option) is wrong
  RunWroteOutside = 3,   // a block wrote outside a host vector
  RunPlotFailed = 4,     // the run completed but --plot could not be drawn
  RunOutputFailed = 5,   // the CSV could not be written
  RunOutOfMemory = 6,    // an allocation failed
  // 128 + the signal: SIGINT (130) or SIGTERM (143) stopped the run.
  RunInterruptedBase = 128,
};

struct RunOptions {
  std::string pluginDir;
  std::string outputPath;  // empty: the output stream given to runModel
  std::string plotPath;    // empty: no plot
  bool verbose = false;
  bool hasStop = false;  // --stop overrides stop_time
  double stop = 0.0;
  bool progress = false;  // show progress on the error stream (a terminal)
  bool writeAnywhere = false;  // blocks may write files outside the current folder
  uint64_t memoryLimit = kDefaultMemoryLimit;
  std::vector<std::string> sets;  // --set NAME.params[K]=VALUE, NAME.KEY=VALUE
};

// Reads and runs the model; messages go to err. Returns a RunStatus.
int runModel(const std::string& modelPath, const RunOptions& options, std::ostream& out, std::ostream& err);

// How a sample time of a block is hit.
struct Task {
  enum Kind : int32_t { EveryStep, Continuous, Discrete };
  Kind kind = EveryStep;
  int64_t period = 1;  // in base steps (Discrete)
  int64_t offset = 0;  // in base steps (Discrete)
};

// The rate of a signal, as a level-2 block is told it and as inherited
// blocks pass it on.
struct SignalRate {
  enum Kind { Constant, Continuous, Discrete, Base } kind = Base;
  double period = 0.0, offset = 0.0;  // Discrete
};

// A prepared simulation of one model.
class Simulation {
 public:
  Simulation(const Model& model, const RunOptions& options, std::ostream& err);
  ~Simulation();
  Simulation(const Simulation&) = delete;
  Simulation& operator=(const Simulation&) = delete;

  // Loads the plug-ins, makes the sizes calls, orders the blocks, settles
  // the widths and starts every block. Returns RunOk, or the status of the
  // reported failure (the blocks started so far are terminated).
  int prepare();
  // Runs the major steps 0 ... lastStep(), writing a row per step to csv (may
  // be null) and to plotData (the plot's copy, may be null; its failure does
  // not stop the run). Stops at a step boundary when SIGINT or SIGTERM asked
  // it to (status 128 + the signal). Returns RunOk or the status of the
  // reported failure; the caller terminates.
  int run(CsvWriter* csv, CsvWriter* plotData = nullptr);
  // mdlTerminate for every started block, once. Returns RunOk or the status
  // of a failure it reported.
  int terminate();

  // The CSV columns of the logged signals (valid after prepare()).
  std::vector<CsvColumns> logColumns() const;
  const std::vector<int>& order() const { return order_; }
  int64_t lastStep() const { return lastStep_; }
  double timeAt(int64_t n) const;
  uint64_t blockCalls() const { return calls_; }
  Instance* instance(int block) const;
  const double* outputs(int block) const;
  int32_t outputWidth(int block) const;
  SignalRate rate(int block) const;
  bool evaluatedInMinorSteps(int block) const;

 private:
  struct Node;
  struct Entry;
  struct Copy {
    const double* src;
    double* dst;
    size_t count;
  };

  int load();
  int sizeAll();
  int orderBlocks();
  int settleWidths();
  int checkMemory();
  int startAll();
  int negotiatePorts(Node& node);
  int readSampleTimes(Node& node);
  void propagateRates();
  void buildSchedule();

  // Reporting: each returns the status to pass on.
  int blockFailure(const Node& node, const CallResult& r);
  int checkGuards();  // after each step: a vector's guard zone overwritten
  int modelMistake(int line, const std::string& what);
  void warnings(const Node& node, const CallResult& r);
  std::string label(const Node& node) const;

  int32_t refWidth(const SignalRef& r) const;
  SignalRate combine(const std::vector<SignalRef>& refs) const;
  void evalSource(Node& node, double t);
  bool setHits(Entry& e, int64_t n);
  void setMinorHits(Entry& e);
  void copyInputs(const Entry& e);
  int callOutputs(Entry& e, double t, bool major);
  int integrate(int64_t n);
  int derivatives(double t, bool major, double* k);
  void progress(int64_t n, bool last);

  const Model& model_;
  RunOptions options_;
  std::ostream& err_;
  std::vector<std::unique_ptr<Node>> nodes_;
  std::vector<int> order_;
  std::vector<Entry> schedule_;
  std::vector<Entry*> minorSchedule_;
  std::vector<Node*> contNodes_;
  std::vector<Copy> copies_;
  std::vector<Task> tasks_;
  // Solver work: all continuous states side by side.
  std::vector<double> x0_, k1_, k2_, k3_, k4_;
  double stop_ = 0.0;
  int64_t lastStep_ = 0;
  double stepsPerSecond_ = 0.0;  // 1/step when that is a whole number
  uint64_t calls_ = 0;
  // Progress display.
  double startClock_ = 0.0, lastShown_ = 0.0;
  bool progressShown_ = false;
};

}  // namespace blocksim

#endif

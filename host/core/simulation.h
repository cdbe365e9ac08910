// The step loop of `blocksim run`: a prepared simulation of one model. The
// blocks are loaded and sized, put in order (refusing algebraic loops),
// their -1 widths settled from the connections, checked against the memory
// budget, started, and then run step by step on a fixed base step: the
// outputs of every block with a sample hit in block order, a CSV row, the
// updates, and the integration of continuous states by the chosen solver.
#ifndef BLOCKSIM_SIMULATION_H
#define BLOCKSIM_SIMULATION_H

#include <stdint.h>

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "budget.h"
#include "csv.h"
#include "graph.h"
#include "instance.h"
#include "model.h"
#include "status.h"

namespace blocksim {

struct RunOptions {
  std::string pluginDir;
  std::string outputPath;  // empty: the output stream given to runModel
  std::string plotPath;    // empty: no plot
  bool verbose = false;
  bool hasStop = false;  // --stop overrides stop_time
  double stop = 0.0;
  bool progress = false;       // show progress on the error stream (a terminal)
  bool writeAnywhere = false;  // blocks may write files outside the current folder
  uint64_t memoryLimit = kDefaultMemoryLimit;
  std::vector<std::string> sets;  // --set NAME.params[K]=VALUE, NAME.KEY=VALUE
  int64_t stride = 0;             // --stride N: log every Nth step (0: as the model says)
};

class Simulation {
 public:
  // A run compares the guard zones of the blocks' vectors after every
  // kGuardCheckSteps-th step, after its last step and before it stops for a
  // signal: comparing every zone after every step would cost more than the
  // calls of light blocks. A write outside a vector is then reported up to
  // kGuardCheckSteps - 1 steps late, still naming the block and the vector.
  static const int64_t kGuardCheckSteps = 128;

  Simulation(const Model& model, const RunOptions& options, std::ostream& err);
  ~Simulation();
  Simulation(const Simulation&) = delete;
  Simulation& operator=(const Simulation&) = delete;

  // Loads the plug-ins, makes the sizes calls, orders the blocks, settles
  // the widths and starts every block. Returns ExitOk, or the status of the
  // reported failure (the blocks started so far are terminated).
  int prepare();
  // Runs the major steps 0 ... lastStep(), writing a row to log (may be
  // null) and to plotData (the plot's copy, may be null; its failure does
  // not stop the run) at every stride()-th step from step 0. Stops at a step
  // boundary when SIGINT or SIGTERM asked it to (status 128 + the signal).
  // Returns ExitOk or the status of the reported failure; the caller
  // terminates.
  int run(LogWriter* log, LogWriter* plotData = nullptr);
  // mdlTerminate for every started block that has not had it. Returns ExitOk
  // or the status of a failure it reported.
  int terminate();

  // The CSV columns of the logged signals (valid after prepare()).
  std::vector<CsvColumns> logColumns() const;
  const std::vector<int>& order() const { return order_; }
  int64_t lastStep() const { return lastStep_; }
  // Rows are logged at steps 0, stride(), 2 stride(), ...: loggedRows() of
  // them in a complete run.
  int64_t stride() const { return options_.stride > 0 ? options_.stride : model_.stride; }
  int64_t loggedRows() const { return lastStep_ / stride() + 1; }
  double timeAt(int64_t n) const;
  uint64_t blockCalls() const { return calls_; }
  Instance* instance(int block) const;
  const double* outputs(int block) const;
  int32_t outputWidth(int block) const { return outWidth_[static_cast<size_t>(block)]; }
  SignalRate rate(int block) const { return rates_[static_cast<size_t>(block)]; }
  bool evaluatedInMinorSteps(int block) const { return minor_[static_cast<size_t>(block)]; }

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
  int settleBlock(int block, const std::vector<int32_t>& entryWidths, int64_t total);
  int checkMemory();
  int startAll();
  int negotiatePorts(Node& node);
  int readSampleTimes(Node& node);
  void propagate();
  void buildSchedule();

  // Reporting: each returns the status to pass on.
  int blockFailure(const Node& node, const CallResult& r);
  // A vector's guard zone overwritten since the last check (kGuardCheckSteps).
  int checkGuards();
  int modelMistake(int line, const std::string& what);
  int graphMistake(const GraphMistake& m) { return modelMistake(m.line, m.what); }
  void warnings(const Node& node, const CallResult& r);
  std::string label(const Node& node) const;

  // The calls of a pass over schedule entries, in one protected region.
  enum PassKind { PassOutputs, PassUpdates, PassMinorOutputs, PassDerivatives };
  struct Pass {
    Entry* const* list = nullptr;
    size_t count = 0;
    size_t at = 0;  // the entry being called; count once all are done
    int64_t n = 0;  // the major step
    double t = 0.0;
    bool major = true;
    double* k = nullptr;  // derivatives: where they go
  };
  template <PassKind kind>
  int runPass(const std::vector<Entry*>& list, double t, bool major, double* k);
  template <PassKind kind>
  static void passBody(void* self);
  template <PassKind kind>
  void passCalls();

  bool setHits(Entry& e, int64_t n);
  void setMinorHits(Entry& e);
  void copyInputs(const Entry& e);
  int integrate(int64_t n);
  void progress(int64_t n, bool last);
  // The time of step n, given as a double: n/N, correctly rounded, when the
  // step is 1/N for a whole N (0.3, not 0.30000000000000004 as 3 * 0.1
  // gives); else n * step.
  double timeOf(double n) const { return stepsPerSecond_ > 0.0 ? n / stepsPerSecond_ : n * model_.step; }

  const Model& model_;
  RunOptions options_;
  std::ostream& err_;
  std::vector<std::unique_ptr<Node>> nodes_;
  // The graph's view of the blocks, by block index.
  std::vector<int> order_;
  std::vector<int32_t> outWidth_;  // -1 until settled
  std::vector<bool> settled_;      // input widths settled
  std::vector<SignalRate> rates_;
  std::vector<bool> rateKnown_;
  std::vector<bool> minor_;  // evaluated in minor steps
  // The flat schedule of a step.
  std::vector<Entry> schedule_;
  std::vector<Entry*> all_;  // every entry of schedule_
  std::vector<Entry*> minorSchedule_;
  std::vector<Entry*> contEntries_;  // the blocks with continuous states
  std::vector<Copy> copies_;
  std::vector<Task> tasks_;
  std::vector<int32_t> flagIndex_;  // the hit flag of each task
  std::vector<int64_t> nextHit_;    // the next hit of each discrete task
  // The gateway's arguments in a run: time, empty x and u, flag.
  axArrayPtr argT_{axCreateDoubleMatrix(1, 1, 0)}, argEmpty_{axCreateDoubleMatrix(0, 0, 0)},
      argFlag_{axCreateDoubleMatrix(1, 1, 0)};
  double* argTimePr_ = axGetPr(argT_.get());
  double* argFlagPr_ = axGetPr(argFlag_.get());
  Pass pass_;
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

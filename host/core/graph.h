// The model graph: what follows from a model's blocks and connections alone,
// with no plug-in involved — the block order and its algebraic loops, the
// widths of the inputs, the rates of the signals, and the hits of sample
// times in base steps. The simulation feeds it what the blocks declared.
#ifndef BLOCKSIM_GRAPH_H
#define BLOCKSIM_GRAPH_H

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "model.h"

namespace blocksim {

// Relative tolerance of sample hits and of the source functions' switching
// times, in base steps.
const double kTimeTolerance = 1e-9;

// A mistake found in the graph, at a line of the model.
struct GraphMistake {
  int line = 0;
  std::string what;
};

// "block 'NAME' (PLUGIN)" or "block 'NAME' (KIND source)".
std::string blockLabel(const BlockSpec& b);
const char* sourceName(SourceKind k);

// Block order. A block with direct feedthrough runs after every block it
// reads from; the others may run before their sources, which is what makes a
// loop through them computable. Among the blocks free to run, those without
// inputs come first, then those whose sources have all run, in file order.
// False with the mistake naming the blocks of an algebraic loop.
bool orderBlocks(const Model& model, const std::vector<bool>& feedthrough, std::vector<int>& order,
                 GraphMistake& mistake);

// Input widths. outWidth[b] is a block's output width, -1 while unknown;
// settled[b] tells the blocks done (the host sources from the start). A
// block whose references all have known widths is handed to settle() with
// the width of each inputs entry; settle() records its output width (or
// reports a failure itself and returns that status). Blocks are visited in
// order, again and again, until nothing changes (a width may come through a
// loop). Returns ExitOk; ExitMistake with the mistake (a reference beyond
// its block, an input wider than the host allocates, blocks that can only
// take their widths from each other); or settle()'s status.
using SettleFn = std::function<int(int block, const std::vector<int32_t>& entryWidths, int64_t total)>;
int settleWidths(const Model& model, const std::vector<int>& order, std::vector<int32_t>& outWidth,
                 std::vector<bool>& settled, const SettleFn& settle, GraphMistake& mistake);

// The width a reference takes of its block's outputs (-1 while unknown).
int32_t refWidth(const SignalRef& r, const std::vector<int32_t>& outWidth);
// Whether a reference stays within its block's settled outputs; false with
// the mistake otherwise.
bool refFits(const Model& model, const SignalRef& r, const std::vector<int32_t>& outWidth, GraphMistake& mistake);

// How a sample time of a block is hit.
struct Task {
  enum Kind : int32_t { EveryStep, Continuous, Discrete };
  Kind kind = EveryStep;
  int64_t period = 1;  // in base steps (Discrete)
  int64_t offset = 0;  // in base steps (Discrete)
};

// The task of a sample time (period, offset): -1 every step, 0 continuous, a
// positive period a discrete task in whole base steps. "" or why not.
std::string taskOf(double period, double offset, double step, Task& task);
// Whether the task has a hit at major step n.
inline bool taskHit(const Task& t, int64_t n) {
  return t.kind != Task::Discrete || (n >= t.offset && (n - t.offset) % t.period == 0);
}

// The rate of a signal, as a level-2 block is told it and as inherited
// blocks pass it on.
struct SignalRate {
  enum Kind { Constant, Continuous, Discrete, Base } kind = Base;
  double period = 0.0, offset = 0.0;  // Discrete
};

// The rate of the signals the references carry: continuous if any is; the
// one discrete rate if all are that rate; the base rate for a mix; constant
// when all are constant. Blocks not yet known (behind in a loop) are passed
// over.
SignalRate combineRates(const std::vector<SignalRef>& refs, const std::vector<SignalRate>& rates,
                        const std::vector<bool>& known);
// The rate of each block's outputs, in order: own[b] when it has a rate of
// its own (inherits false), else the rate of what it reads. rates and known
// carry over from an earlier pass (a block behind in a loop then counts with
// the rate that pass gave it); both start sized to the blocks.
void propagateRates(const Model& model, const std::vector<int>& order, const std::vector<SignalRate>& own,
                    const std::vector<bool>& inherits, std::vector<SignalRate>& rates, std::vector<bool>& known);

// The blocks a solver's minor steps recompute: those upstream of a block
// with continuous states whose outputs change continuously (discrete blocks
// hold their outputs between hits).
std::vector<bool> minorStepBlocks(const Model& model, const std::vector<int32_t>& contStates,
                                  const std::vector<SignalRate>& rates);

}  // namespace blocksim

#endif

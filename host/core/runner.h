// `blocksim run`: reads a model file, simulates it and writes its outputs —
// the CSV (to a file renamed into place at the end, or a stream) and the
// picture. The outputs are checked before anything runs: never onto the
// model, never both into one file, the picture only into a regular file.
#ifndef BLOCKSIM_RUNNER_H
#define BLOCKSIM_RUNNER_H

#include <iosfwd>
#include <string>

#include "simulation.h"

namespace blocksim {

// Reads and runs the model; messages go to err. Returns an ExitStatus
// (ExitOutOfMemory when an allocation failed: what was made is given back,
// every started block terminated).
int runModel(const std::string& modelPath, const RunOptions& options, std::ostream& out, std::ostream& err);

}  // namespace blocksim

#endif

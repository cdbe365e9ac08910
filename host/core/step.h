// `blocksim step`: drives one plug-in call by call from a script.
#ifndef BLOCKSIM_STEP_H
#define BLOCKSIM_STEP_H

#include <stdint.h>

#include <iosfwd>
#include <string>
#include <vector>

#include "budget.h"

namespace blocksim {

// Runs the script; returns the exit status (0 ran to its end, 1 a block
// error, 2 a script mistake, 3 a block wrote outside a host vector).
// The parameters and vectors of the block are counted against memoryLimit
// (a script asking for more is a mistake, status 2); an allocation that fails
// all the same ends the script with status 6.
int runStepScript(std::istream& script, std::ostream& out, std::ostream& err, const std::string& pluginDir,
                  uint64_t memoryLimit = kDefaultMemoryLimit);

// A command-line sizes call of the plug-in with the given parameter texts:
// prints the sizes line, or the error line with status 1.
int runSizesCommand(const std::string& name, const std::vector<std::string>& params, std::ostream& out,
                    std::ostream& err, const std::string& pluginDir);

// Message text with each line feed written as the two characters \n.
std::string escapeMessage(const std::string& msg);

}  // namespace blocksim

#endif

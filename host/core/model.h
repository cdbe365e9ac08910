// Model files of `blocksim run`: a TOML description of the blocks of a
// diagram (plug-in blocks and host signal sources), their connections, the
// run settings and the logged signals. Reading a model checks everything that
// can be checked without loading a plug-in; every mistake is reported with
// the file and line it comes from.
#ifndef BLOCKSIM_MODEL_H
#define BLOCKSIM_MODEL_H

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "ax_host.h"
#include "budget.h"

namespace blocksim {

typedef axArrayPtr ArrayPtr;

// A reference to outputs of a block: "name" (all of them), "name[i]" (one) or
// "name[i:j]" (elements i to j-1).
struct SignalRef {
  std::string text;   // as written
  std::string block;  // the name
  int source = -1;    // index of the named block in Model::blocks
  bool whole = true;  // "name": the width is known only once the block is sized
  int64_t begin = 0;  // first element
  int64_t end = 0;    // one past the last element (when !whole)
  int line = 0;
};

enum class SourceKind { Constant, Pulse, Step, Sine, Ramp, File };

// A host signal source: a function of time computed by the host.
struct SourceSpec {
  SourceKind kind = SourceKind::Constant;
  std::vector<double> value;  // constant
  double amplitude = 1.0;     // pulse, sine
  double period = 0.0;        // pulse
  double width = 0.0;         // pulse: time high
  double delay = 0.0;         // pulse
  double time = 0.0;          // step
  double before = 0.0;        // step
  double after = 1.0;         // step
  double frequency = 0.0;     // sine, in Hz
  double phase = 0.0;         // sine, in radians
  double bias = 0.0;          // sine
  double slope = 1.0;         // ramp
  double start = 0.0;         // ramp
  std::string path;           // file, resolved
  std::vector<double> times;  // file: the first column
  std::vector<double> rows;   // file: the other columns, row by row
  int outputs = 1;            // number of outputs
};

struct BlockSpec {
  std::string name;
  int line = 0;  // of the block's table
  bool isSource = false;
  SourceSpec source;
  std::string plugin;      // as written
  std::string pluginPath;  // the file that will be loaded
  int pluginLine = 0;
  std::vector<ArrayPtr> params;
  // The entries of `inputs`: each a list of references (a string is one; an
  // array of strings is their concatenation). A level-1 block reads all of
  // them concatenated; a level-2 block has one entry per input port.
  std::vector<std::vector<SignalRef>> inputs;
  int inputsLine = 0;
};

enum class Solver { Euler, Rk4 };

// What a model may ask for, from the command line.
struct ReadOptions {
  std::string pluginDir;
  // Blocks may write files outside the folder the run was started in
  // (--allow-outside-writes); otherwise such a file name is a mistake.
  bool writeAnywhere = false;
  uint64_t memoryLimit = kDefaultMemoryLimit;
  // --set texts (overrides.h): values of the document replaced before it is
  // read, so that they pass every check a value in the file does.
  std::vector<std::string> sets;
};

struct Model {
  std::string path;  // as given
  std::string dir;   // folder of the model file, for relative paths in it
  double stopTime = 0.0;
  bool hasStopTime = false;
  double step = 0.0;
  Solver solver = Solver::Rk4;
  std::vector<BlockSpec> blocks;
  bool signalsGiven = false;  // [output] signals; otherwise every block with outputs
  std::vector<SignalRef> signals;
  int signalsLine = 0;
  int64_t stride = 1;  // [output] stride: a row every stride-th step
  // Bytes the parameters and host source data take, counted against the
  // memory limit; the run counts the blocks' vectors after them.
  uint64_t memoryUsed = 0;
  // Things a user should know before the run ("FILE:LINE: what"), such as a
  // file name a block will cut.
  std::vector<std::string> warnings;
  int textLines = 0;              // lines of the file; the --set values count on after them
  std::vector<std::string> sets;  // as given, one line each

  int find(const std::string& name) const;
  // "FILE:LINE: " for messages about a place in the model ("--set TEXT: "
  // for a value given with --set).
  std::string where(int line) const;
};

// Reads and checks the model. Plug-in names are resolved in the plug-in
// folder and must name readable files. On failure returns false with one
// "FILE:LINE: WHAT" text per mistake.
bool readModel(const std::string& path, const ReadOptions& options, Model& model,
               std::vector<std::string>& mistakes);
// The same from text already in memory (path is used in messages and for
// relative paths).
bool readModelText(const std::string& text, const std::string& path, const ReadOptions& options, Model& model,
                   std::vector<std::string>& mistakes);

// Reads a model or study file: a regular file of at most kMaxModelBytes.
// Returns "" or why it cannot be read.
std::string readTomlFile(const std::string& path, std::string& text);

// The largest model file and the longest line of a data file or step script
// the host reads.
const size_t kMaxModelBytes = size_t(16) << 20;
const size_t kMaxLineBytes = size_t(16) << 20;

// Parses "name", "name[i]" or "name[i:j]"; false with why on a malformed text.
bool parseSignalRef(const std::string& text, SignalRef& ref, std::string& why);

// The largest number of major steps a run may have.
const double kMaxSteps = 1e12;

}  // namespace blocksim

#endif

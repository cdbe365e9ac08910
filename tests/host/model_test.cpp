// Model files: every mistake is reported with the file and line, with exit
// status 2, before any plug-in is loaded.
#include <sys/stat.h>

#include "run_support.h"
#include "values.h"

using namespace runtest;
using blocksim::RunOptions;

namespace {

class ModelMistakes : public RunTest {
 protected:
  // Runs the model and expects exactly these messages ("LINE: WHAT" each,
  // about m.toml unless they name another file).
  void expectMistakes(const std::string& model, const std::vector<std::string>& mistakes) {
    Result r = run(model);
    EXPECT_EQ(r.status, 2) << model;
    std::string want;
    for (const std::string& m : mistakes)
      want += "blocksim: " + (m[0] >= '0' && m[0] <= '9' ? path("m.toml") + ":" : std::string()) + m + "\n";
    EXPECT_EQ(r.err, want) << model;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(log().empty()) << "a plug-in was called";
  }
};

// A probe that logs its sizes call: it must not be reached.
const std::string kProbe = "[[block]]\nname = \"p\"\nplugin = \"runprobe\"\nparams = [[0, 1, 0, 0], 0, [0], \"@LOG@\"]\n";

TEST_F(ModelMistakes, TomlSyntaxAndUnknownKeys) {
  Result r = run("stop_time = 1\nstep = 0.1\n[[block]]\nname = \"a\nsource = 'constant'\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("blocksim: " + path("m.toml") + ":4: ", 0), 0u) << r.err;

  // Characters other than ASCII outside strings and comments are refused
  // before the parser sees them (some of them reach undefined behaviour in
  // it); inside a string they are fine.
  expectMistakes("stop_time = 1\nstep = 0.1 \xc2\xa1\n" + kProbe,
                 {std::string("2: ") + blocksim::kTomlTextRefused});
  expectMistakes("stop_time = 1\nstep = 0.1\nsolvr = 'rk4'\n" + kProbe,
                 {"3: unknown key 'solvr' (stop_time, step, solver, block, output)"});
  expectMistakes("stop_time = 1\nstep = 0.1\n" + kProbe + "param = [1]\n",
                 {"7: unknown key 'param' in a plug-in block (name, plugin, params, inputs)"});
  expectMistakes("stop_time = 1\nstep = 0.1\n" + kProbe + "[output]\nsignal = ['p']\n",
                 {"8: unknown key 'signal' in [output] (signals)"});
  expectMistakes("stop_time = 1\nstep = 0.1\n" + kProbe + "[[block]]\nname = 's'\nsource = 'sine'\nfrequency = 1\n"
                 "inputs = ['p']\nperiod = 2\n",
                 {"11: a host source takes no inputs",
                  "12: unknown key 'period' in a sine source (amplitude frequency phase bias)"});
}

TEST_F(ModelMistakes, WrongTypesAndValues) {
  expectMistakes("stop_time = -1\nstep = 'x'\nsolver = 'heun'\n" + kProbe,
                 {"1: stop_time must be a finite number of at least 0", "2: step must be a number",
                  "3: solver must be \"euler\" or \"rk4\", not \"heun\""});
  expectMistakes("stop_time = 1\n" + kProbe, {"1: the model has no step (the base step of the simulation)"});
  expectMistakes("step = 0\nblock = 3\n[output]\nsignals = 'p'\n",
                 {"1: step must be a finite number greater than 0", "2: blocks are written as [[block]] tables",
                  "4: signals must be an array of block names"});
  expectMistakes("step = 0.1\n[[block]]\nname = 5\nplugin = 'runprobe'\nparams = 3\ninputs = 'q'\n",
                 {"3: name must be a string", "5: params must be an array of parameter values",
                  "6: inputs must be an array of references such as \"name\" or \"name[0]\""});
  expectMistakes("step = 0.1\n[[block]]\nname = 'a'\nplugin = 'runprobe'\nparams = [1, [1, 'x'], {rows = -1}]\n",
                 {"5: parameter 2: an array must hold numbers only (or arrays of numbers for a matrix)",
                  "5: parameter 3: an array table needs rows and cols between 0 and 2^20 (at most 2^22 elements)"});
}

TEST_F(ModelMistakes, BlocksAndSources) {
  expectMistakes("step = 0.1\n" + kProbe + "[[block]]\nname = 'p'\nsource = 'ramp'\n[[block]]\nname = 'a b'\n"
                 "source = 'ramp'\nplugin = 'runprobe'\n[[block]]\nsource = 'noise'\n[[block]]\nname = 'n'\n",
                 {"7: block name 'p' is used twice (first at line 2)",
                  "9: a block has either plugin or source, not both",
                  "10: block name 'a b' may use letters, digits, '_' and '-' only", "13: the block has no name",
                  "14: unknown source 'noise' (constant, pulse, step, sine, ramp, file)",
                  "15: the block has neither plugin nor source"});
  expectMistakes("step = 0.1\n[[block]]\nname = 'a'\nsource = 'pulse'\n[[block]]\nname = 'b'\nsource = 'pulse'\n"
                 "period = 1\nwidth = 2\n[[block]]\nname = 'c'\nsource = 'constant'\nvalue = []\n",
                 {"2: a pulse source needs period", "9: the pulse width must be from 0 to the period",
                  "13: value must have at least one element"});
  // A path is refused even where it names a real plug-in: loading it would
  // run its code before the model is checked.
  const std::string real = std::string(KIVREL_TEST_PLUGIN_DIR) + "/runprobe.plgglx";
  expectMistakes("step = 0.1\n[[block]]\nname = 'x'\nplugin = 'nosuch'\n[[block]]\nname = 'y'\nplugin = '" + real +
                     "'\n",
                 {"4: no plug-in " + path("plugins/nosuch.plgglx"),
                  "7: plugin '" + real + "' is a path: a model names its plug-ins, which are looked up in the plug-in "
                  "folder (--plugin-dir)"});
}

TEST_F(ModelMistakes, References) {
  std::string c = "step = 0.1\n[[block]]\nname = 'c'\nsource = 'constant'\nvalue = [1, 2, 3]\n";
  expectMistakes(c + kProbe + "inputs = ['c[3]', 'zz', 'c[1', 'c[2:2]', ['c', 'c[0:4]']]\n",
                 {"10: 'c[1' is no reference (\"name\", \"name[i]\" or \"name[i:j]\")",
                  "10: 'c[2:2]': the range [i:j] needs j greater than i",
                  "10: 'c[3]' reaches beyond the 3 output(s) of 'c'", "10: no block 'zz'",
                  "10: 'c[0:4]' reaches beyond the 3 output(s) of 'c'"});
  expectMistakes(c + kProbe + "[output]\nsignals = ['c', 'd']\n", {"11: no block 'd'"});

  blocksim::SignalRef ref;
  std::string why;
  ASSERT_TRUE(blocksim::parseSignalRef("a-1_b[12:345]", ref, why));
  EXPECT_EQ(ref.block, "a-1_b");
  EXPECT_FALSE(ref.whole);
  EXPECT_EQ(ref.begin, 12);
  EXPECT_EQ(ref.end, 345);
  ASSERT_TRUE(blocksim::parseSignalRef("a[7]", ref, why));
  EXPECT_EQ(ref.end, 8);
  for (const char* bad : {"", "[1]", "a[", "a[]", "a[-1]", "a[1:x]", "a[1]x", "a[1:2:3]", "a[+1]", "a[1234567890]"})
    EXPECT_FALSE(blocksim::parseSignalRef(bad, ref, why)) << bad;
}

TEST_F(ModelMistakes, SourceDataFiles) {
  write("bad.csv", "time,a\n0,1\n0.1,x\n");
  write("short.csv", "0,1,2\n0.1,3\n");
  write("back.csv", "0.5,1\n0.1,2\n");
  // A line without end (as /dev/zero gives, in a regular file here) stops at
  // the bound; a folder, a pipe, a device and a file that tells no size (as
  // /proc's do) are not read at all (a pipe would keep the run waiting).
  std::ofstream(path("long.csv")) << std::string(blocksim::kMaxLineBytes + 1, '0');
  std::filesystem::create_directory(path("folder.csv"));
  ASSERT_EQ(mkfifo(path("fifo.csv").c_str(), 0600), 0);
  std::string model = "step = 0.1\n";
  write("empty.csv", "");
  for (const char* f : {"bad", "short", "back", "none", "long", "folder", "fifo", "empty"})
    model += std::string("[[block]]\nname = '") + f + "'\nsource = 'file'\npath = '" + f + ".csv'\n";
  model += "[[block]]\nname = 'zero'\nsource = 'file'\npath = '/dev/zero'\n";
  expectMistakes(model, {path("bad.csv") + ":3: 'x' is no number",
                         path("short.csv") + ":2: the row has 2 fields, the first row 3",
                         path("back.csv") + ":2: the times must not decrease",
                         "17: cannot read the data file " + dir_ + "/none.csv: No such file or directory",
                         path("long.csv") + ":1: the line is longer than 16 MiB",
                         "25: cannot read the data file " + dir_ + "/folder.csv: not a regular file",
                         "29: cannot read the data file " + dir_ + "/fifo.csv: not a regular file",
                         "33: cannot read the data file " + dir_ + "/empty.csv: it is empty",
                         "37: cannot read the data file /dev/zero: not a regular file"});
}

// What a model may ask the host to hold is bounded: a block's parameters,
// a constant's values and a data file are counted against the memory limit
// (the first request beyond it is named), and a host source has at most as
// many outputs as the host allocates for a vector.
TEST_F(ModelMistakes, MemoryBudgetAndHostLimits) {
  RunOptions small;
  small.memoryLimit = 64 << 20;
  Result r = run("step = 0.1\n" + kProbe + "[[block]]\nname = 'big'\nplugin = 'runprobe'\nparams = [" +
                     "{ rows = 1048576, cols = 4 }, { rows = 1048576, cols = 4 }, { rows = 1048576, cols = 4 }]\n",
                 small);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "blocksim: " + path("m.toml") +
                       ":9: block 'big': parameter 2 needs 32 MiB, more than is left of the memory budget of 64 MiB "
                       "(--memory-limit MIB raises it)\n");
  std::ofstream(path("wide.csv")) << "0" << std::string(4194305, ',') << "\n";
  expectMistakes("step = 0.1\n[[block]]\nname = 'f'\nsource = 'file'\npath = 'wide.csv'\n",
                 {path("wide.csv") + ":1: the row has more than 4194304 values, more than the host allocates"});
  std::string values;
  for (int i = 0; i < 70000; ++i) values += "1, ";
  small.memoryLimit = 1 << 20;
  r = run("step = 0.1\n[[block]]\nname = 'c'\nsource = 'constant'\nvalue = [" + values + "]\n", small);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find(":5: the constant needs 1.1 MiB, more than is left of the memory budget of 1.0 MiB"),
            std::string::npos)
      << r.err;
}

}  // namespace

// A block that writes a file may write only inside the folder the run was
// started in, unless the user allows more; a name the block will cut is
// announced with the file the data go to.
TEST_F(ModelMistakes, FilesBlocksWriteStayInTheRunFolder) {
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir_);
  std::filesystem::create_directory(path("sub"));
  std::filesystem::create_directory_symlink("/tmp", path("sub/away"));
  auto sink = [](const std::string& name, const std::string& file) {
    return "[[block]]\nname = '" + name + "'\nplugin = 'sinkdump'\nparams = ['" + file +
           "', 'float', [0], 0.5]\ninputs = ['c']\n";
  };
  const std::string head = "stop_time = 0\nstep = 0.1\n[[block]]\nname = 'c'\nsource = 'constant'\nvalue = [1, 1]\n";
  const std::string tail = " (--allow-outside-writes lets blocks write anywhere)";
  expectMistakes(head + sink("a", "/tmp/x") + sink("b", "sub/../../x") + sink("c2", "sub/away/x"),
                 {"10: block 'a' (sinkdump) would write '/tmp/x', an absolute path outside the folder the run "
                  "started in" + tail,
                  "15: block 'b' (sinkdump) would write 'sub/../../x', outside the folder the run started in" + tail,
                  "20: block 'c2' (sinkdump) would write 'sub/away/x', outside the folder the run started in "
                  "(through the link sub/away)" + tail});
  // Inside the folder, and anywhere when allowed.
  const std::string longName = "sub/../a-name-longer-than-thirty-one-characters.txt";
  Result r = run(head + sink("a", longName));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "blocksim: " + path("m.toml") + ":10: warning: block 'a' (sinkdump): the file name '" + longName +
                       "' is longer than 31 characters; the data go to 'sub/../a-name-longer-than-thirt'\n");
  EXPECT_TRUE(std::filesystem::exists(path("a-name-longer-than-thirt")));
  RunOptions anywhere;
  anywhere.writeAnywhere = true;
  EXPECT_EQ(run(head + sink("b", "sub/away/blocksim-test-x"), anywhere).status, 0);
  std::filesystem::remove("/tmp/blocksim-test-x");
  std::filesystem::current_path(before);
}

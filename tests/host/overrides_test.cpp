// --set: one value of a model replaced from the command line, checked by the
// model reader like a written one; a target that does not exist is a model
// mistake naming it.
#include "run_support.h"

using namespace runtest;

namespace {

// c feeds p; p computes 1 + the sum of its inputs (mode 4).
const char* kModel =
    "stop_time = 0.1\nstep = 0.1\n\n"
    "[[block]]\nname = \"c\"\nsource = \"constant\"\nvalue = 1\n\n"
    "[[block]]\nname = \"k\"\nsource = \"pulse\"\nperiod = 0.4\n\n"
    "[[block]]\nname = \"p\"\nplugin = \"runprobe\"\nparams = [[-1, 1, 1, 0], 4, [0], \"\"]\ninputs = [\"c\"]\n";

struct Case {
  std::vector<std::string> sets;
  int status;
  std::string expected;  // the CSV, or the messages
};

class Overrides : public RunTest {};

TEST_F(Overrides, ReplaceValuesOrNameTheMistake) {
  const std::string head = "time,c[0],k[0],p[0]\n";
  const Case cases[] = {
      {{}, 0, head + "0,1,1,2\n0.1,1,1,2\n"},
      // A parameter, a source value (its width follows), a key the model
      // does not write (the pulse width), and the last of two sets winning.
      {{"p.params[1]=0"}, 0, head + "0,1,1,1\n0.1,1,1,1\n"},
      {{"c.value=[2, 3.5]"}, 0, "time,c[0],c[1],k[0],p[0]\n0,2,3.5,1,6.5\n0.1,2,3.5,1,6.5\n"},
      {{"k.width=0.1", "c.value=5", "c.value=7"}, 0, head + "0,7,1,8\n0.1,7,0,8\n"},
      // Targets that do not exist, and texts of another shape.
      {{"x.params[0]=1"}, 2, "--set x.params[0]=1: no block 'x' in the model"},
      {{"p.params[4]=1"}, 2,
       "--set p.params[4]=1: block 'p' has no parameter params[4] (it has 4: params[0] to params[3])"},
      {{"p.period=1"}, 2, "--set p.period=1: block 'p' is a plug-in block: set its parameters as p.params[K]"},
      {{"c.params[0]=1"}, 2, "--set c.params[0]=1: block 'c' is a host source: set its keys as c.KEY"},
      {{"p.inputs=['k']"}, 2,
       "--set p.inputs=['k']: 'inputs' cannot be set: only one parameter (params[K]) or one setting of a host source"},
      {{"p.params[-1]=1", "p.params[1]=", "p=1"}, 2,
       "--set p.params[-1]=1: the index in 'params[-1]' must be a whole number from 0\n"
       "--set p.params[1]=: no value after '='\n"
       "--set p=1: write NAME.params[K]=VALUE or NAME.KEY=VALUE"},
      {{"c.value=1 2"}, 2, "--set c.value=1 2: Error while parsing key-value pair: expected a comment or whitespace, saw '2'"},
      // Values the model reader refuses, reported as the --set they came from.
      {{"k.period=0", "c.value='x'", "c.colour=1"}, 2,
       "--set k.period=0: the pulse period must be greater than 0\n"
       "--set c.value='x': value must be a number or an array of numbers\n"
       "--set c.colour=1: unknown key 'colour' in a constant source (value)"},
  };
  for (const Case& c : cases) {
    blocksim::RunOptions options;
    options.sets = c.sets;
    Result r = run(kModel, options);
    EXPECT_EQ(r.status, c.status) << c.sets.size() << " " << r.err;
    if (c.status == 0) {
      EXPECT_EQ(r.out, c.expected);
      EXPECT_EQ(r.err, "");
    } else {
      std::string want;
      std::stringstream lines(c.expected);
      for (std::string line; std::getline(lines, line);) want += "blocksim: " + line + "\n";
      EXPECT_EQ(r.err, want);
      EXPECT_EQ(r.out, "");
    }
  }
}

}  // namespace

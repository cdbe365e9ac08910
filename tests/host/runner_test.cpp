// The runner through the test block runprobe and real plug-ins: block order
// and loops, width settlement, multi-rate hits, inherited rates, the solvers,
// errors stopping a run, level-2 port negotiation, CSV and plots.
#include <fcntl.h>
#include <math.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "run_support.h"
#include "step.h"

using namespace runtest;
using blocksim::RunOptions;

namespace {

const char* kHead = "stop_time = 1\nstep = 0.1\n\n";  // blocks start at line 4

class Runner : public RunTest {};

TEST_F(Runner, OrdersBlocksAfterTheirSourcesWithSourcesFirst) {
  // Written last-to-first: a chain a -> b -> c of feedthrough blocks.
  std::string model = std::string("stop_time = 0.2\nstep = 0.1\n\n") + probe("c", "[-1, -1, 1, 0]", 4, "\"b\"") +
                      probe("b", "[-1, -1, 1, 0]", 4, "\"a\"") +
                      "[[block]]\nname = \"a\"\nsource = \"constant\"\nvalue = 5\n";
  Result r = run(model);
  ASSERT_EQ(r.status, 0) << r.err;
  Csv csv = parseCsv(r.out);
  EXPECT_EQ(csv.header, "time,c[0],b[0],a[0]");
  // Each block sees its source's output of the same step.
  for (const auto& row : csv.rows) EXPECT_EQ(row, (std::vector<double>{row[0], 7, 6, 5}));
  EXPECT_EQ(csv.rows.size(), 3u);
}

TEST_F(Runner, RefusesAnAlgebraicLoopNamingItsBlocks) {
  // x -> y -> z -> x, all with direct feedthrough, and w outside the loop.
  std::string model = kHead + probe("w", "[-1, -1, 1, 0]", 0, "\"x\"") + probe("x", "[-1, -1, 1, 0]", 0, "\"z\"") +
                      probe("y", "[-1, -1, 1, 0]", 0, "\"x\"") + probe("z", "[-1, -1, 1, 0]", 0, "\"y\"");
  Result r = run(model);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "blocksim: " + path("m.toml") + ":10: algebraic loop through blocks x, y, z\n");
  EXPECT_EQ(logged("x 101"), 0u) << "nothing may start";
  EXPECT_EQ(r.out, "");
}

TEST_F(Runner, RunsALoopThroughABlockWithoutFeedthrough) {
  // a = 1 + d and d a unit delay of a: a counts 1, 2, 3, ...
  std::string model = kHead + probe("a", "[1, 1, 1, 0]", 4, "\"d\"") + probe("d", "[1, 1, 0, 0]", 2, "\"a\"");
  Result r = run(model);
  ASSERT_EQ(r.status, 0) << r.err;
  Csv csv = parseCsv(r.out);
  ASSERT_EQ(csv.rows.size(), 11u);
  for (size_t n = 0; n < csv.rows.size(); ++n) {
    EXPECT_EQ(csv.column("a[0]")[n], n + 1.0);
    EXPECT_EQ(csv.column("d[0]")[n], static_cast<double>(n));
  }
}

TEST_F(Runner, SettlesWidthsFromTheReferences) {
  std::string model = std::string(kHead) + "[[block]]\nname = \"c\"\nsource = \"constant\"\nvalue = [1, 2, 3]\n\n" +
                      probe("p", "[-1, -1, 1, 0]", 0, "\"c\", \"c[0:2]\", \"q[1]\"") +
                      probe("q", "[0, 2, 0, 0]", 3) +
                      // A fixed input width with its states (-1) following it.
                      probe("d", "[2, -1, 0, 0]", 2, "\"c[1:3]\"");
  Result r = run(model);
  ASSERT_EQ(r.status, 0) << r.err;
  Csv csv = parseCsv(r.out);
  EXPECT_EQ(csv.header, "time,c[0],c[1],c[2],p[0],p[1],p[2],p[3],p[4],p[5],q[0],q[1],d[0],d[1]");
  // q[1] is q's StepKind output, 1 in every major step; d delays c[1:3].
  EXPECT_EQ(csv.rows[0], (std::vector<double>{0, 1, 2, 3, 1, 2, 3, 1, 2, 1, 0, 1, 0, 0}));
  EXPECT_EQ(csv.rows[4], (std::vector<double>{0.4, 1, 2, 3, 1, 2, 3, 1, 2, 1, 0.4, 1, 2, 3}));
}

TEST_F(Runner, ReportsWidthMistakesWithTheirLines) {
  std::string head = std::string(kHead) + "[[block]]\nname = \"c\"\nsource = \"constant\"\nvalue = [1, 2, 3]\n\n";
  // A fixed input width that the references do not give (inputs at line 12).
  Result r = run(head + probe("p", "[2, 1, 1, 0]", 0, "\"c\""));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "blocksim: " + path("m.toml") + ":13: block 'p' (runprobe) takes 2 input(s), its references give 3\n");
  // An element beyond a plug-in's outputs, known only once it is sized.
  r = run(head + probe("p", "[-1, -1, 1, 0]", 0, "\"q[2]\"") + probe("q", "[0, 2, 0, 0]", 3));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "blocksim: " + path("m.toml") + ":13: 'q[2]' reaches beyond the 2 output(s) of 'q'\n");
  // Likewise a logged signal (it would read past the block's outputs).
  r = run(head + probe("q", "[0, 2, 0, 0]", 3) + "[output]\nsignals = [\"c\", \"q[1:3]\"]\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "blocksim: " + path("m.toml") + ":15: 'q[1:3]' reaches beyond the 2 output(s) of 'q'\n");
  // Widths that only follow from each other.
  r = run(head + probe("a", "[-1, -1, 1, 0]", 4, "\"d\"") + probe("d", "[-1, -1, 0, 0]", 2, "\"a\""));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("cannot settle the widths of blocks d, a"), std::string::npos) << r.err;
  // The host checks the parameter count that the block declares.
  r = run(head + "[[block]]\nname = \"p\"\nplugin = \"runprobe\"\nparams = [[0, 1, 0, 0], 3, [0]]\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "blocksim: " + path("m.toml") + ":9: block 'p' (runprobe) takes 4 parameter(s), the model gives 3\n");
}

TEST_F(Runner, HitsEachSampleTimeOfAMultiRateBlockAtItsOffset) {
  // Sample times (0.2, 0.1) and (0.3, 0): y holds the hit flags of both.
  Result r = run(std::string("stop_time = 1.2\nstep = 0.1\n\n") + probe("m", "[0, 2, 0, 0, 0.2, 0.1, 0.3, 0]", 1));
  ASSERT_EQ(r.status, 0) << r.err;
  Csv csv = parseCsv(r.out);
  ASSERT_EQ(csv.rows.size(), 13u);
  double y0 = 0, y1 = 0;
  size_t calls = 0;
  for (int n = 0; n <= 12; ++n) {
    bool h0 = n >= 1 && (n - 1) % 2 == 0, h1 = n % 3 == 0;
    if (h0 || h1) {
      y0 = h0, y1 = h1;
      ++calls;
    }
    EXPECT_EQ(csv.rows[static_cast<size_t>(n)], (std::vector<double>{n / 10.0, y0, y1})) << "step " << n;
  }
  // Called only at its hits, outputs and update alike.
  EXPECT_EQ(logged("m 104 "), calls);
  EXPECT_EQ(logged("m 105 "), calls);
}

TEST_F(Runner, RefusesASampleTimeOffTheBaseStep) {
  Result r = run(kHead + probe("m", "[0, 1, 0, 0, 0.15, 0]", 1));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "blocksim: " + path("m.toml") +
                       ":4: block 'm' (runprobe): sample time 0.15 (offset 0) is not a multiple of the step 0.1\n");
  EXPECT_EQ(logged("m 107 "), 1u) << "a started block is terminated";
}

TEST_F(Runner, RunsAnInheritedBlockAtEveryStepBehindADiscreteSource) {
  // src outputs its time at its hits 0.1, 0.4, 0.7, 1.0; inh copies it.
  std::string model = kHead + probe("src", "[0, 2, 0, 0, 0.3, 0.1]", 3) +
                      probe("inh", "[-1, -1, 1, 0, -1, 1]", 0, "\"src[0]\"");
  Result r = run(model);
  ASSERT_EQ(r.status, 0) << r.err;
  Csv csv = parseCsv(r.out);
  std::vector<double> inh = csv.column("inh[0]");
  ASSERT_EQ(inh.size(), 11u);
  for (int n = 0; n <= 10; ++n) {
    double lastHit = n < 1 ? 0.0 : ((n - 1) / 3 * 3 + 1) / 10.0;
    EXPECT_EQ(inh[static_cast<size_t>(n)], lastHit) << "step " << n;
  }
  EXPECT_EQ(logged("inh 104 "), 11u);
  EXPECT_EQ(logged("src 104 "), 4u);

  // The inherited block passes its source's rate on.
  blocksim::Model m;
  std::vector<std::string> mistakes;
  ASSERT_TRUE(blocksim::readModel(path("m.toml"), readOptions(), m, mistakes));
  std::ostringstream err;
  blocksim::Simulation sim(m, RunOptions(), err);
  ASSERT_EQ(sim.prepare(), 0) << err.str();
  blocksim::SignalRate rate = sim.rate(1);
  EXPECT_EQ(rate.kind, blocksim::SignalRate::Discrete);
  EXPECT_EQ(rate.period, 0.3);
  EXPECT_EQ(rate.offset, 0.1);
}

std::string integrators(const char* solver) {
  return std::string("stop_time = 2\nstep = 0.1\nsolver = \"") + solver + "\"\n\n" +
         "[[block]]\nname = \"r\"\nsource = \"ramp\"\n\n" + probe("i1", "[1, 1, 0, 1, 0, 0]", 0, "\"r\"") +
         probe("i2", "[1, 1, 0, 1, 0, 0]", 0, "\"i1\"") + probe("d", "[0, 2, 0, 0, 0.1, 0]", 3);
}

TEST_F(Runner, IntegratesContinuousStatesWithRk4AndEuler) {
  // i1' = t and i2' = i1: t^2/2 and t^3/6, which rk4 follows exactly.
  Result r = run(integrators("rk4"));
  ASSERT_EQ(r.status, 0) << r.err;
  Csv csv = parseCsv(r.out);
  ASSERT_EQ(csv.rows.size(), 21u);
  std::vector<double> i1 = csv.column("i1[0]"), i2 = csv.column("i2[0]");
  for (size_t n = 0; n < csv.rows.size(); ++n) {
    double t = csv.rows[n][0];
    EXPECT_NEAR(i1[n], t * t / 2, 1e-12) << t;
    EXPECT_NEAR(i2[n], t * t * t / 6, 1e-12) << t;
  }
  // Three minor stages per step recompute the chain (StepKind 0, the
  // continuous task hit); the discrete block holds its outputs.
  size_t minor = 0;
  for (const std::string& l : log()) {
    if (l.compare(0, 7, "i2 104 ") == 0 && l.substr(l.size() - 4) == " 0 1") ++minor;
    if (l.compare(0, 6, "d 104 ") == 0) {
      EXPECT_EQ(l.substr(l.size() - 4), " 1 1") << l;
    }
  }
  EXPECT_EQ(minor, 60u);
  EXPECT_EQ(logged("d 106 "), 0u);

  // Euler: i1(t_n) = h^2 n (n - 1) / 2 = t^2/2 - h t/2.
  std::filesystem::remove(path("log.txt"));
  r = run(integrators("euler"));
  ASSERT_EQ(r.status, 0) << r.err;
  csv = parseCsv(r.out);
  for (size_t n = 0; n < csv.rows.size(); ++n) {
    double t = csv.rows[n][0];
    EXPECT_NEAR(csv.column("i1[0]")[n], t * t / 2 - 0.05 * t, 1e-12);
  }
  EXPECT_EQ(logged("i1 104 "), 21u) << "Euler needs no minor steps";
}

TEST_F(Runner, IntegratesARampWithWrapsum) {
  // x' = 2t from 0.5 within bounds that never fold: x = 0.5 + t^2.
  std::string model = "stop_time = 3\nstep = 0.05\n\n[[block]]\nname = \"r\"\nsource = \"ramp\"\nslope = 2\n\n"
                      "[[block]]\nname = \"w\"\nplugin = \"wrapsum\"\nparams = [0.5, -1e9, 1e9]\n"
                      "inputs = [\"r\"]\n";
  Result r = run(model);
  ASSERT_EQ(r.status, 0) << r.err;
  Csv csv = parseCsv(r.out);
  ASSERT_EQ(csv.rows.size(), 61u);
  for (const auto& row : csv.rows) EXPECT_NEAR(row[2], 0.5 + row[0] * row[0], 1e-9) << "t = " << row[0];
}

std::string chain(const std::string& fail) {
  return std::string(kHead) + "[[block]]\nname = \"c\"\nsource = \"constant\"\nvalue = 2\n\n" +
         probe("p1", "[-1, -1, 1, 0]", 0, "\"c\"") + probe("p2", "[-1, -1, 1, 0]", 0, "\"p1\"", fail) +
         probe("p3", "[-1, -1, 1, 0]", 0, "\"p2\"");
}

TEST_F(Runner, ABlockErrorStopsTheRunKeepingTheCsvAndTerminatingEveryBlock) {
  RunOptions options;
  options.outputPath = path("out.csv");
  // plgErrMsgTxt in p2's mdlOutputs from t = 0.3 on.
  Result r = run(chain("[1, 0.3, 2]"), options);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "blocksim: block 'p2' (runprobe): probe failure at 2\n");
  std::ifstream in(path("out.csv"));
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "time,c[0],p1[0],p2[0],p3[0]\n0,2,2,2,2\n0.1,2,2,2,2\n0.2,2,2,2,2\n");
  for (const char* b : {"p1", "p2", "p3"}) EXPECT_EQ(logged(std::string(b) + " 107 "), 1u) << b;

  // An ErrorStatus text left by mdlUpdate at t = 0.5: that row is written.
  std::filesystem::remove(path("log.txt"));
  r = run(chain("[2, 0.5, 3]"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "blocksim: block 'p2' (runprobe): probe status\n");
  EXPECT_EQ(parseCsv(r.out).rows.size(), 6u);
  for (const char* b : {"p1", "p2", "p3"}) EXPECT_EQ(logged(std::string(b) + " 107 "), 1u) << b;

  // A failure in mdlTerminate is reported after the whole run.
  std::filesystem::remove(path("log.txt"));
  r = run(chain("[1, 0, 5]"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(parseCsv(r.out).rows.size(), 11u);
  for (const char* b : {"p1", "p2", "p3"}) EXPECT_EQ(logged(std::string(b) + " 107 "), 1u) << b;
}

#if !defined(KIVREL_ASAN)
// (Under AddressSanitizer the guard zones are poisoned and the write itself
// is the report.)
TEST_F(Runner, AWriteOutsideAVectorStopsTheRunAtTheEndOfItsStep) {
  // p2 writes one element past y in mdlOutputs from t = 0.3 on.
  Result r = run(chain("[3, 0.3, 2]"));
  EXPECT_EQ(r.status, blocksim::ExitWroteOutside);
  EXPECT_EQ(r.err, "blocksim: block 'p2' (runprobe): the block wrote outside y\n");
  EXPECT_EQ(parseCsv(r.out).rows.size(), 4u);  // rows 0 to 0.3
  for (const char* b : {"p1", "p2", "p3"}) EXPECT_EQ(logged(std::string(b) + " 107 "), 1u) << b;
}
#endif

TEST_F(Runner, AFailingLogStopsTheRun) {
  // Writes to a stream without a buffer fail, as to a closed pipe.
  std::ostream broken(nullptr);
  std::ostringstream err;
  RunOptions options;
  options.pluginDir = path("plugins");
  EXPECT_EQ(blocksim::runModel(write("m.toml", chain("[0]")), options, broken, err), blocksim::ExitOutputFailed);
  EXPECT_EQ(err.str(), "blocksim: cannot write the CSV\n");
  EXPECT_EQ(logged("p1 104 "), 1u) << "the run stops at its first row";
  for (const char* b : {"p1", "p2", "p3"}) EXPECT_EQ(logged(std::string(b) + " 107 "), 1u) << b;
}

TEST_F(Runner, AnErrorWhileStartingTerminatesOnlyTheStartedBlocks) {
  RunOptions options;
  options.outputPath = path("out.csv");
  // p2's mdlInitializeConditions fails: p1 and p2 were started, p3 not.
  Result r = run(chain("[1, 0, 1]"), options);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "blocksim: block 'p2' (runprobe): probe failure at 1\n");
  EXPECT_EQ(logged("p1 107 "), 1u);
  EXPECT_EQ(logged("p2 107 "), 1u);
  EXPECT_EQ(logged("p3 101 "), 0u);
  EXPECT_EQ(logged("p3 107 "), 0u);
  EXPECT_FALSE(std::filesystem::exists(path("out.csv")));

  // A failing sizes call: nothing was started.
  std::filesystem::remove(path("log.txt"));
  r = run(chain("[1, 0, 0]"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "blocksim: block 'p2' (runprobe): probe failure at 0\n");
  EXPECT_EQ(logged("p1 101 ") + logged("p1 107 "), 0u);
}

TEST_F(Runner, NegotiatesTheLevel2BlocksPortsFromItsConnections) {
  std::string head = std::string(kHead) + "[[block]]\nname = \"c2\"\nsource = \"constant\"\nvalue = [1, 2]\n\n" +
                     "[[block]]\nname = \"c3\"\nsource = \"constant\"\nvalue = [1, 2, 3]\n\n" +
                     probe("d", "[0, 2, 0, 0, 0.2, 0]", 3);
  auto level2 = [](const std::string& inputs) {
    return "[[block]]\nname = \"pa\"\nplugin = \"portagree\"\ninputs = [" + inputs + "]\n";
  };
  // Equal widths and rates: the run completes; input 2 follows input 1.
  Result r = run(head + level2("\"c2\", [\"c3[0]\", \"c3[2]\"]"));
  ASSERT_EQ(r.status, 0) << r.err;
  blocksim::Model m;
  std::vector<std::string> mistakes;
  ASSERT_TRUE(blocksim::readModel(path("m.toml"), readOptions(), m, mistakes));
  std::ostringstream err;
  blocksim::Simulation sim(m, RunOptions(), err);
  ASSERT_EQ(sim.prepare(), 0) << err.str();
  blocksim::Instance* pa = sim.instance(3);
  EXPECT_EQ(pa->portDims(0), std::make_pair(2, 1));
  EXPECT_EQ(pa->portDims(1), std::make_pair(2, 1));
  EXPECT_EQ(portFrameMode(pa->inputPort(1)), FrameSampleBased);
  EXPECT_EQ(pa->inputPort(1)->Complexity, 0);
  EXPECT_TRUE(isinf(pa->inputPort(0)->PortSampleTime)) << "a constant signal";
  EXPECT_EQ(sim.terminate(), 0);

  // Input 2 wider than input 1: the block ties it to input 1's width.
  r = run(head + level2("\"c2\", \"c3\""));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "blocksim: " + path("m.toml") + ":22: block 'pa' (portagree): input port 2 is connected to 3 "
                                                  "value(s), the block settled its width to 2\n");
  // Different sample times: the block's own message stops the run, and the
  // started blocks are terminated.
  std::filesystem::remove(path("log.txt"));
  r = run(head + level2("\"c2\", \"d\""));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "blocksim: block 'pa' (portagree): Input 2 should inherit its sample time, or its sample time "
                   "should match input 1.\n");
  EXPECT_EQ(logged("d 107 "), 1u);
}

TEST_F(Runner, WritesShortestNumbersAndTheChosenSignals) {
  std::string model = "stop_time = 0.3\nstep = 0.1\n\n[[block]]\nname = \"c\"\nsource = \"constant\"\n"
                      "value = [0.1, -2.5e-7]\n\n[output]\nsignals = [\"c[1]\", \"c\"]\n";
  Result r = run(model);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "time,c[1],c[0],c[1]\n0,-2.5e-07,0.1,-2.5e-07\n0.1,-2.5e-07,0.1,-2.5e-07\n"
            "0.2,-2.5e-07,0.1,-2.5e-07\n0.3,-2.5e-07,0.1,-2.5e-07\n");
  // --stop replaces stop_time; a step that is no 1/N gives times k * step.
  RunOptions options;
  options.hasStop = true;
  options.stop = 0.9;
  r = run("stop_time = 5\nstep = 0.3\n\n[[block]]\nname = \"c\"\nsource = \"constant\"\nvalue = 1\n", options);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "time,c[0]\n0,1\n0.3,1\n0.6,1\n0.8999999999999999,1\n");
}

TEST_F(Runner, ComputesTheHostSources) {
  write("data.csv", "time,a,b\n0.15, 1, 2\n# a comment\n0.3,3,4\n");
  std::string model =
      "stop_time = 1\nstep = 0.1\n\n"
      "[[block]]\nname = \"pulse\"\nsource = \"pulse\"\nperiod = 0.3\nwidth = 0.1\ndelay = 0.1\namplitude = 2\n\n"
      "[[block]]\nname = \"step\"\nsource = \"step\"\ntime = 0.3\nbefore = -1\nafter = 4\n\n"
      "[[block]]\nname = \"sine\"\nsource = \"sine\"\nfrequency = 0.5\namplitude = 2\nphase = 0.25\nbias = 1\n\n"
      "[[block]]\nname = \"ramp\"\nsource = \"ramp\"\nslope = -2\nstart = 0.5\n\n"
      "[[block]]\nname = \"file\"\nsource = \"file\"\npath = \"data.csv\"\n";
  Result r = run(model);
  ASSERT_EQ(r.status, 0) << r.err;
  Csv csv = parseCsv(r.out);
  ASSERT_EQ(csv.rows.size(), 11u);
  for (size_t n = 0; n < 11; ++n) {
    double t = csv.rows[n][0];
    EXPECT_EQ(csv.column("pulse[0]")[n], n % 3 == 1 ? 2.0 : 0.0) << t;
    EXPECT_EQ(csv.column("step[0]")[n], n >= 3 ? 4.0 : -1.0) << t;
    EXPECT_NEAR(csv.column("sine[0]")[n], 2 * sin(2 * M_PI * 0.5 * t + 0.25) + 1, 4e-15) << t;
    EXPECT_EQ(csv.column("ramp[0]")[n], n >= 5 ? -2 * (t - 0.5) : 0.0) << t;
    EXPECT_EQ(csv.column("file[0]")[n], n < 2 ? 0.0 : n < 3 ? 1.0 : 3.0) << t;
    EXPECT_EQ(csv.column("file[1]")[n], n < 2 ? 0.0 : n < 3 ? 2.0 : 4.0) << t;
  }
}

TEST_F(Runner, DrawsAPanelPerLoggedBlock) {
  RunOptions options;
  options.plotPath = path("out.png");
  Result r = run(std::string(kHead) + "[[block]]\nname = \"s\"\nsource = \"pulse\"\nperiod = 0.4\n\n" +
                     probe("q", "[0, 2, 0, 0]", 3),
                 options);
  ASSERT_EQ(r.status, 0) << r.err;
  std::ifstream png(path("out.png"), std::ios::binary);
  char magic[8] = {};
  png.read(magic, 8);
  EXPECT_EQ(std::string(magic + 1, 3), "PNG");
  std::string script = blocksim::plotScript("d.csv", "o.png", {{"s", 2, 1}, {"q", 3, 2}});
  EXPECT_NE(script.find("set multiplot layout 2,1"), std::string::npos);
  EXPECT_NE(script.find("set title 'q'\nplot for [c=3:4] 'd.csv' using 1:c with steps"), std::string::npos);

  // A picture of many outputs draws a bounded part of them and says so.
  std::string many;
  for (int i = 0; i < 200; ++i) many += "1, ";
  r = run(std::string(kHead) + "[[block]]\nname = \"w\"\nsource = \"constant\"\nvalue = [" + many + "]\n", options);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "blocksim: --plot: the panel of 'w' draws 16 of its 200 outputs\n");
}

// The outputs of a run never replace the model, each other or a device, are
// renamed into place when the run ends (leaving nothing behind), and a path
// gnuplot reads may hold no control character.
TEST_F(Runner, OutputsGoOnlyWhereTheyMay) {
  const std::string model = std::string(kHead) + "[[block]]\nname = \"c\"\nsource = \"constant\"\nvalue = 1\n";
  auto with = [&](const std::string& output, const std::string& plot) {
    RunOptions o;
    o.outputPath = output;
    o.plotPath = plot;
    return o;
  };
  struct Case {
    std::string output, plot, err;
  } cases[] = {
      {path("m.toml"), "", "--output " + path("m.toml") + " is the model file"},
      {"", path("m.toml"), "--plot " + path("m.toml") + " is the model file"},
      {path("x.csv"), path("x.csv"), "--plot and --output name the same file"},
      {"", "/dev/full", "--plot /dev/full is not a regular file"},
      {"", path("a\nset output 'b'"), "the --plot path holds a control character"},
  };
  for (const Case& c : cases) {
    Result r = run(model, with(c.output, c.plot));
    EXPECT_EQ(r.status, 2) << c.err;
    EXPECT_EQ(r.err, "blocksim: " + c.err + "\n");
  }
  std::ifstream in(path("m.toml"));
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), model) << "the model is untouched";

  // An existing CSV is replaced as a whole, keeping its mode; nothing else
  // stays in the folder.
  write("out.csv", "old\n");
  chmod(path("out.csv").c_str(), 0640);
  Result r = run(model, with(path("out.csv"), path("out.png")));
  ASSERT_EQ(r.status, 0) << r.err;
  struct stat st;
  ASSERT_EQ(stat(path("out.csv").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir_)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"m.toml", "out.csv", "out.png", "plugins"}));
}

// SIGINT in the middle of a run: it stops at a step boundary, terminates
// every block (the file writer's file ends on a whole record), keeps the CSV
// up to a whole row, removes its temporary files and exits with 130.
TEST_F(Runner, AnInterruptStopsAtAStepBoundaryLosingNothing) {
  std::filesystem::create_directory(path("tmp"));
  write("m.toml", "stop_time = 1e9\nstep = 1\n\n"
                  "[[block]]\nname = \"c\"\nsource = \"constant\"\nvalue = [1.25, 7]\n\n"
                  "[[block]]\nname = \"clock\"\nsource = \"pulse\"\nperiod = 2\n\n"
                  "[[block]]\nname = \"d\"\nplugin = \"sinkdump\"\nparams = ['rec.txt', 'float', [0], 0.5]\n"
                  "inputs = [\"c\", \"clock\"]\n\n" +
                      probe("p", "[0, 1, 0, 0, 1000, 0]", 0));
  const std::string emulator = KIVREL_EMULATOR;
  std::vector<std::string> args;
  if (!emulator.empty()) args.push_back(emulator);
  for (const char* a : {KIVREL_BLOCKSIM, "run", "m.toml", "-o", "out.csv", "--plot", "out.png", "--plugin-dir",
                        "plugins"})
    args.push_back(a);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  const std::string tmpdir = "TMPDIR=" + path("tmp");
  std::vector<char*> env{const_cast<char*>(tmpdir.c_str()), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, path("err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir_);
  pid_t pid;
  ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), env.data()), 0);
  std::filesystem::current_path(before);
  posix_spawn_file_actions_destroy(&actions);
  // Deep in the run once the writer has flushed its first buffer.
  for (int i = 0; i < 2000 && !(std::filesystem::exists(path("rec.txt")) && std::filesystem::file_size(path("rec.txt")) > 0); ++i)
    usleep(10000);
  kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 130);
  std::ifstream errIn(path("err.txt"));
  const std::string err((std::istreambuf_iterator<char>(errIn)), {});
  EXPECT_EQ(err.rfind("blocksim: SIGINT: the run stopped after the step at t = ", 0), 0u) << err;
  std::ifstream recIn(path("rec.txt"));
  const std::string rec((std::istreambuf_iterator<char>(recIn)), {});
  ASSERT_FALSE(rec.empty());
  EXPECT_EQ(rec.back(), '\n');
  EXPECT_EQ(rec.size() % std::string(" 1.25 7\n").size(), 0u);
  std::ifstream csvIn(path("out.csv"));
  const std::string csv((std::istreambuf_iterator<char>(csvIn)), {});
  ASSERT_FALSE(csv.empty());
  EXPECT_EQ(csv.back(), '\n');
  EXPECT_EQ(csv.substr(csv.rfind('\n', csv.size() - 2) + 1).find(",1.25,7,"), csv.substr(csv.rfind('\n', csv.size() - 2) + 1).find(','))
      << "the last row is whole";
  EXPECT_EQ(logged("p 107 "), 1u) << "the probe was terminated";
  EXPECT_TRUE(std::filesystem::is_empty(path("tmp"))) << "the plot's temporary files are gone";
  EXPECT_FALSE(std::filesystem::exists(path("out.png"))) << "an interrupted run draws nothing";
}

}  // namespace

namespace {

size_t openFiles() {
  size_t n = 0;
  for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) (void)e, ++n;
  return n;
}

class StepSession : public RunTest {};

// A started block that a script discards (loading, sizing or starting
// again) gets its mdlTerminate first: the file writer's file is closed each
// time, so cycles do not use up the process's files.
TEST_F(StepSession, ADiscardedStartedBlockIsTerminatedFirst) {
  const std::string cycle = "param '" + path("rec.txt") +
                            "'\nparam 'float'\nparam [0]\nparam 0.5\nsizes\nwidth in 2\nstart\nu 4 1\noutputs\n";
  std::string script = "load sinkdump\n" + cycle;
  for (int i = 0; i < 20; ++i)
    script += "start\nu 4 0\noutputs\nu 4 1\noutputs\nsizes\nwidth in 2\nstart\nu 4 1\noutputs\nload sinkdump\n" + cycle;
  const size_t before = openFiles();
  std::istringstream in(script);
  std::ostringstream out, err;
  EXPECT_EQ(blocksim::runStepScript(in, out, err, path("plugins")), 0) << err.str();
  // The last instance still holds its file until the process ends: one more
  // at most.
  EXPECT_LE(openFiles(), before + 1);
  std::ifstream rec(path("rec.txt"));
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(rec), {}), " 4\n") << "the last run's one record";
}

}  // namespace

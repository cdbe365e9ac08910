// blocksim sweep: every point a run of its own (the real blocksim), the rows
// in point order whatever -j is, failures recorded per point, and the
// cluster path (--point, --gather) giving the same table.
#include <sys/stat.h>

#include "run_support.h"
#include "study.h"
#include "sweep.h"

using namespace runtest;

namespace {

// A ramp through the probe (y = u). Point 0 runs at slope 1 and point 5 at
// slope 2; point 1 fails with a block message, 2 crashes, 3 hangs and 4 sets
// a value the model reader refuses.
const char* kModel =
    "stop_time = 1\nstep = 0.1\n\n"
    "[[block]]\nname = \"r\"\nsource = \"ramp\"\n\n"
    "[[block]]\nname = \"p\"\nplugin = \"runprobe\"\nparams = [[-1, -1, 1, 0], 0, [0], \"\"]\ninputs = [\"r\"]\n";
const char* kStudy =
    "model = \"m.toml\"\ntime_limit = 2\n\n"
    "[[vary]]\nname = \"fault\"\nvalues = { from = 0, to = 5, step = 1 }\n"
    "[vary.set]\n\"p.params[2]\" = [[0], [1, 0.2, 2], [4, 0, 2], [5, 0, 2], [0], [0]]\n"
    "\"r.start\" = [0, 0, 0, 0, inf, 0]\n\"r.slope\" = [1, 1, 1, 1, 1, 2]\n\n"
    "[statistics]\nsignals = [\"p[0]\"]\nsettle = 0.5\n";

class Sweep : public RunTest {
 protected:
  void SetUp() override {
    RunTest::SetUp();
    write("m.toml", kModel);
    study_ = write("s.toml", kStudy);
  }

  Result sweep(blocksim::SweepOptions o, const std::string& results) {
    o.study = study_;
    o.results = path(results);
    o.blocksim = KIVREL_BLOCKSIM;
    o.pluginDir = KIVREL_TEST_PLUGIN_DIR;
    std::ostringstream out, err;
    Result r;
    r.status = blocksim::runSweep(o, out, err);
    r.out = out.str();
    r.err = err.str();
    return r;
  }

  std::string table(const std::string& results) const {
    std::ifstream in(path(results + "/table.csv"));
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  std::string study_;
};

TEST_F(Sweep, SameRowsForOneOrTwoJobsAndFromClusterPoints) {
  blocksim::SweepOptions o;
  o.jobs = 1;
  Result one = sweep(o, "one");
  o.jobs = 2;
  o.plot = path("s.png");
  Result two = sweep(o, "two");
  EXPECT_EQ(one.status, blocksim::ExitBlockError) << one.err;
  EXPECT_EQ(two.err, "blocksim: 6 points (4 failed) into " + path("two") + "/table.csv\n");
  const std::string t = table("two");
  EXPECT_EQ(table("one"), t);
  struct stat st;
  EXPECT_TRUE(stat(o.plot.c_str(), &st) == 0 && st.st_size > 0) << "no plot";

  // The rows t = 0.5 ... 1 count.
  std::vector<std::string> rows;
  std::stringstream lines(t);
  for (std::string line; std::getline(lines, line);) rows.push_back(line);
  ASSERT_EQ(rows.size(), 7u) << t;
  EXPECT_EQ(rows[0], "point,fault,p[0].final,p[0].mean,p[0].mean_square,p[0].min,p[0].max,status,message");
  EXPECT_EQ(rows[1], "0,0,1,0.75,0.5916666666666667,0.5,1,0,");
  EXPECT_EQ(rows[2], "1,1,,,,,,1,block 'p' (runprobe): probe failure at 2");
  // A crash: a signal, or the sanitizer's report and status.
  EXPECT_EQ(rows[3].rfind("2,2,,,,,,", 0), 0u) << rows[3];
  EXPECT_EQ(rows[3].find(",0,"), std::string::npos) << rows[3];
  EXPECT_EQ(rows[4], "3,3,,,,,,124,stopped at the time limit of 2 s");
  EXPECT_EQ(rows[5], "4,4,,,,,,2,--set r.start=inf: start must be finite");
  EXPECT_EQ(rows[6], "5,5,2,1.5,2.3666666666666667,1,2,0,");

  // The cluster path: each point alone, its row kept; the gathered table
  // says which points are missing, and refuses rows of another version of
  // the study.
  o = blocksim::SweepOptions();
  o.count = true;
  EXPECT_EQ(sweep(o, "c").out, "6\n");
  o = blocksim::SweepOptions();
  o.slurm = true;
  Result script = sweep(o, "c");
  EXPECT_NE(script.out.find("#SBATCH --array=0-5\n"), std::string::npos) << script.out;
  EXPECT_NE(script.out.find(" --point \"$SLURM_ARRAY_TASK_ID\"\n"), std::string::npos) << script.out;
  o = blocksim::SweepOptions();
  o.hasPoint = true;
  for (o.point = 0; o.point < 6; ++o.point) {
    if (o.point == 4 || o.point == 5) continue;
    EXPECT_EQ(sweep(o, "c").status, o.point == 0 ? 0 : 1) << o.point;
  }
  blocksim::SweepOptions gather;
  gather.gather = true;
  Result partial = sweep(gather, "c");
  EXPECT_EQ(partial.status, blocksim::ExitBlockError);
  EXPECT_EQ(partial.err, "blocksim: gathered 4 of 6 points (3 failed) into " + path("c") + "/table.csv\n"
                         "blocksim: missing points (no row of this study in " + path("c") + "/rows): 4-5\n");
  write("s.toml", std::string(kStudy) + "# changed\n");
  o.point = 4;
  sweep(o, "c");
  partial = sweep(gather, "c");
  EXPECT_NE(partial.err.find("/rows): 0-3, 5\n"), std::string::npos) << partial.err;
  write("s.toml", kStudy);
  for (o.point = 4; o.point < 6; ++o.point) sweep(o, "c");
  EXPECT_EQ(sweep(gather, "c").status, blocksim::ExitBlockError);
  EXPECT_EQ(table("c"), t);
}

TEST_F(Sweep, StudyMistakesNameTheirLine) {
  const std::string head = "model = \"m.toml\"\n[statistics]\nsignals = [\"p[0]\"]\n";
  const std::pair<std::string, std::string> cases[] = {
      {"model = \"none.toml\"\n", "1: cannot read the model " + path("none.toml")},
      {head + "colour = 1\n", "4: unknown key 'colour' in [statistics] (signals, collect, settle)"},
      {head + "[[vary]]\nset = \"q.params[0]\"\nvalues = [1]\n", "5: 'q.params[0]': no block 'q' in the model"},
      {head + "[[vary]]\nset = \"p.params[4]\"\nvalues = [1]\n",
       "5: 'p.params[4]': block 'p' has no parameter params[4] (it has 4: params[0] to params[3])"},
      {head + "[[vary]]\nset = \"r.slope\"\nvalues = ['a']\n", "6: values must be numbers (arrays go in a set table)"},
      {head + "[[vary]]\nset = { \"r.slope\" = [1, 2] }\nvalues = [1]\nname = 'n'\n",
       "5: 'r.slope' needs a list of 1 values, one for each of values"},
      {head + "[seeds]\nset = [\"p.params[3]\"]\ncount = 2\n",
       "5: 'p.params[3]' must be a number or a row of numbers in the model to take seeds"},
      {"model = \"m.toml\"\n[statistics]\nsignals = [\"p\"]\n", "3: a signal is one output of a block, written \"NAME[i]\""},
      {"model = \"m.toml\"\n", "1: the study collects no statistics ([statistics] signals = [\"NAME[i]\"])"},
  };
  for (const auto& c : cases) {
    write("bad.toml", c.first);
    blocksim::SweepOptions o;
    o.study = path("bad.toml");
    o.count = true;
    std::ostringstream out, err;
    EXPECT_EQ(blocksim::runSweep(o, out, err), blocksim::ExitMistake) << c.first;
    EXPECT_EQ(err.str(), "blocksim: " + path("bad.toml") + ":" + c.second + "\n");
  }
}

TEST_F(Sweep, SeedsGiveEveryElementOfEveryRepetitionItsOwnSeed) {
  write("m2.toml", std::string(kModel) + "\n[[block]]\nname = \"n\"\nplugin = \"runprobe\"\n"
                                         "params = [[0, 1, 0, 0], 0, [0, 0], \"\"]\n");
  write("s2.toml", "model = \"m2.toml\"\n[seeds]\nset = [\"r.start\", \"n.params[2]\"]\nfirst = 10\ncount = 3\n"
                   "[statistics]\nsignals = [\"p[0]\"]\n");
  blocksim::Study study;
  std::vector<std::string> mistakes;
  ASSERT_TRUE(blocksim::readStudy(path("s2.toml"), study, mistakes)) << mistakes[0];
  ASSERT_EQ(study.points(), 3u);
  EXPECT_EQ(study.sets(0), (std::vector<std::string>{"r.start=10", "n.params[2]=[13, 16]"}));
  EXPECT_EQ(study.sets(2), (std::vector<std::string>{"r.start=12", "n.params[2]=[15, 18]"}));
  EXPECT_EQ(study.leadingCells(2), "2,12");
}

}  // namespace

// Out of memory anywhere: with the allocation-failure switch, each single
// allocation of a run (and of a step script) is made to fail in turn, from
// the first to the last. Every such run must end — with its status and a
// message, or unharmed where the failure was absorbed — and give back what it
// took (LeakSanitizer checks the process at its end in the x86_64 build).
#include <dirent.h>

#include <sstream>

#include "run_support.h"
#include "step.h"

using namespace runtest;

namespace {

class OutOfMemory : public RunTest {
 protected:
  // Runs f with allocation n (counted from where f arms the switch) failing,
  // for n = 1, 2, ... until a run no longer reaches the failing allocation;
  // f returns the status and fills the error text.
  template <typename F>
  void sweep(F f) {
    int reached = 0;
    for (unsigned long long n = 1;; ++n) {
      std::string err;
      bool failed = false;
      const int status = f(n, failed, err);
      if (!failed) {
        EXPECT_EQ(status, 0) << err;
        break;
      }
      ++reached;
      EXPECT_EQ(axPendingCallocs(), 0u) << "allocation " << n;
      if (status != 0) {
        EXPECT_NE(err, "") << "allocation " << n << " failed without a message";
      }
      EXPECT_TRUE(status == 0 || status == 1 || status == 2 || status == 5 || status == 6)
          << "allocation " << n << ": status " << status << "\n" << err;
    }
    EXPECT_GT(reached, 100) << "the sweep reached few allocations";
  }
};

TEST_F(OutOfMemory, EveryAllocationOfARunCanFail) {
  const std::string model = write("m.toml",
                                  "stop_time = 0.3\nstep = 0.1\n"
                                  "[[block]]\nname = 'c'\nsource = 'constant'\nvalue = [2, 3]\n"
                                  "[[block]]\nname = 'clock'\nsource = 'pulse'\nperiod = 0.2\n"
                                  "[[block]]\nname = 'w'\nplugin = 'windowsum'\nparams = [2, 0.3, 0.1, 'trapezoidal']\n"
                                  "inputs = ['c']\n"
                                  "[[block]]\nname = 'd'\nplugin = 'sinkdump'\nparams = ['" + path("rec.txt") +
                                      "', 'float', [0], 0.5]\ninputs = ['w', 'clock']\n");
  blocksim::RunOptions options;
  options.pluginDir = path("plugins");
  options.outputPath = path("out.csv");
  options.writeAnywhere = true;
  sweep([&](unsigned long long n, bool& failed, std::string& err) {
    std::ostringstream out, e;
    axFailAllocationAt(n);
    const int status = blocksim::runModel(model, options, out, e);
    failed = axAllocationCount() >= n;
    axFailAllocationAt(0);
    err = e.str();
    return status;
  });
}

TEST_F(OutOfMemory, EveryAllocationOfAStepScriptCanFail) {
  const std::string script =
      "load packframe\nparam 4\nparam 2\nparam 0\nsizes\nstart\nu 11\noutputs\nprint y\n"
      "setparam 2 3\nstart\nu 11\noutputs\nprint y\nload polymix\nparam 2\nparam [1, 0, 1, 1]\nparam 0\n"
      "param [0, 0, 0]\nsizes\nstart\nt 1\nu 1 1\noutputs\nprint y\nterminate\n";
  const std::string plugins = path("plugins");
  sweep([&](unsigned long long n, bool& failed, std::string& err) {
    std::istringstream in(script);
    std::ostringstream out, e;
    axFailAllocationAt(n);
    const int status = blocksim::runStepScript(in, out, e, plugins);
    failed = axAllocationCount() >= n;
    axFailAllocationAt(0);
    err = e.str() + out.str();
    return status;
  });
}

}  // namespace

// Helpers of the runner tests: a private folder per test, model files written
// into it, runs of `blocksim run` in this process, and the CSV read back.
#ifndef TESTS_HOST_RUN_SUPPORT_H
#define TESTS_HOST_RUN_SUPPORT_H

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "plot.h"
#include "runner.h"

namespace runtest {

struct Result {
  int status = -1;
  std::string out, err;
};

struct Csv {
  std::string header;
  std::vector<std::vector<double>> rows;
  // The column headed `name`, or an empty vector.
  std::vector<double> column(const std::string& name) const {
    std::vector<std::string> names;
    std::stringstream h(header);
    std::string n;
    while (std::getline(h, n, ',')) names.push_back(n);
    std::vector<double> v;
    for (size_t c = 0; c < names.size(); ++c)
      if (names[c] == name)
        for (const auto& r : rows) v.push_back(r[c]);
    return v;
  }
};

inline Csv parseCsv(const std::string& text) {
  Csv csv;
  std::stringstream in(text);
  std::getline(in, csv.header);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<double> row;
    std::stringstream fields(line);
    std::string f;
    while (std::getline(fields, f, ',')) row.push_back(strtod(f.c_str(), nullptr));
    csv.rows.push_back(row);
  }
  return csv;
}

class RunTest : public ::testing::Test {
 protected:
  // The test plug-ins and the deliverables side by side in one plug-in
  // folder of the test's own (a model names plug-ins, it gives no paths).
  void SetUp() override {
    dir_ = blocksim::makeTempDir();
    std::filesystem::create_directory(path("plugins"));
    for (const char* from : {KIVREL_TEST_PLUGIN_DIR, KIVREL_PLUGIN_DIR})
      for (const auto& e : std::filesystem::directory_iterator(from))
        if (e.path().extension() == ".plgglx")
          std::filesystem::create_symlink(e.path(), path("plugins/" + e.path().filename().string()));
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  blocksim::ReadOptions readOptions() const {
    blocksim::ReadOptions o;
    o.pluginDir = path("plugins");
    return o;
  }

  // Writes a file; in the text, @LOG@ is replaced by the probe log's path.
  std::string write(const std::string& name, std::string text) const {
    replace(text, "@LOG@", path("log.txt"));
    std::ofstream(path(name)) << text;
    return path(name);
  }

  Result run(const std::string& model, blocksim::RunOptions options = blocksim::RunOptions()) {
    std::string file = write("m.toml", model);
    if (options.pluginDir.empty()) options.pluginDir = path("plugins");
    std::ostringstream out, err;
    Result r;
    r.status = blocksim::runModel(file, options, out, err);
    r.out = out.str();
    r.err = err.str();
    return r;
  }

  // The lines the probe blocks logged.
  std::vector<std::string> log() const {
    std::vector<std::string> lines;
    std::ifstream in(path("log.txt"));
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
  }
  // How many logged lines start with the prefix ("p 104 ").
  size_t logged(const std::string& prefix) const {
    size_t n = 0;
    for (const std::string& l : log())
      if (l.compare(0, prefix.size(), prefix) == 0) ++n;
    return n;
  }

  static void replace(std::string& s, const std::string& from, const std::string& to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
      s.replace(at, from.size(), to);
  }

  std::string dir_;
};

// A runprobe block (see runprobe.cpp for its parameters).
inline std::string probe(const std::string& name, const std::string& config, int mode,
                         const std::string& inputs = "", const std::string& fail = "[0]") {
  std::string s = "[[block]]\nname = \"" + name + "\"\nplugin = \"runprobe\"\nparams = [" + config + ", " +
                  std::to_string(mode) + ", " + fail + ", \"@LOG@\"]\n";
  if (!inputs.empty()) s += "inputs = [" + inputs + "]\n";
  return s + "\n";
}

}  // namespace runtest

#endif

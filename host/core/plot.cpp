#include "plot.h"

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "outfile.h"

extern char** environ;

namespace blocksim {

namespace {

const int kPanelHeight = 240;
const int kMaxHeight = 30000;  // what a PNG viewer can still open

}  // namespace

std::string plotScript(const std::string& csvPath, const std::string& pngPath,
                       const std::vector<PlotPanel>& panels) {
  int height = 60 + kPanelHeight * static_cast<int>(panels.size());
  if (height > kMaxHeight) height = kMaxHeight;
  // One right margin for all panels, wide enough for the longest key entry
  // ("NAME[i]" beside its line sample), so the time axes line up.
  size_t longest = 0;
  for (const PlotPanel& p : panels)
    longest = std::max(longest, p.title.size() + 2 + std::to_string(p.first + p.count).size());
  std::ostringstream s;
  s << "set terminal pngcairo size 1000," << height << " noenhanced font ',9'\n"
    << "set output " << gnuplotQuoted(pngPath) << "\n"
    << "set datafile separator ','\n"
    << "set multiplot layout " << panels.size() << ",1\n"
    << "set grid\n"
    << "set lmargin 10\n"
    << "set rmargin " << longest + 8 << "\n"
    << "set autoscale xfix\n"
    << "set offsets graph 0, 0, 0.08, 0.08\n"
    << "set key outside right top\n"
    << "set xlabel 'time'\n";
  for (const PlotPanel& p : panels) {
    // Many outputs in one panel would leave no room for the key.
    s << (p.count > 12 ? "unset key\n" : "set key outside right top\n");
    s << "set title " << gnuplotQuoted(p.title) << "\n";
    s << "plot for [c=" << p.first << ":" << p.first + p.count - 1 << "] " << gnuplotQuoted(csvPath)
      << " using 1:c with steps linewidth 1.5 title columnheader(c)\n";
  }
  s << "unset multiplot\n";
  return s.str();
}

std::string gnuplotQuoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

bool runGnuplot(const std::string& pngPath, const std::function<std::string(const std::string&)>& script,
                std::string& why) {
  TempDir dir;
  if (dir.path().empty()) {
    why = "cannot make a temporary folder";
    return false;
  }
  // gnuplot draws into a file of ours beside the picture, which replaces the
  // picture only when it is complete.
  TempBeside png(pngPath);
  if (png.path().empty()) {
    why = "cannot make a file beside " + pngPath;
    return false;
  }
  if (hasControlCharacter(png.path())) {
    why = "the path " + pngPath + " holds a control character";
    return false;
  }
  const std::string text = script(png.path());
  if (text.empty()) {
    why = "a path of the picture's data holds a control character";
    return false;
  }
  const std::string scriptPath = dir.path() + "/plot.gp", log = dir.path() + "/gnuplot.log";
  {
    std::ofstream out(scriptPath);
    out << text;
    if (!out) {
      why = "cannot write " + scriptPath;
      return false;
    }
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  char arg0[] = "gnuplot";
  std::vector<char> arg1(scriptPath.begin(), scriptPath.end());
  arg1.push_back('\0');
  char* argv[] = {arg0, arg1.data(), nullptr};
  pid_t pid;
  int rc = posix_spawnp(&pid, "gnuplot", &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    why = "cannot run gnuplot (install gnuplot-nox)";
    return false;
  }
  int status = 0;
  pid_t done;
  do {
    done = waitpid(pid, &status, 0);
  } while (done < 0 && errno == EINTR);
  if (done < 0) status = -1;
  std::ifstream in(log);
  std::stringstream messages;
  messages << in.rdbuf();
  struct stat st;
  if (!(WIFEXITED(status) && WEXITSTATUS(status) == 0 && stat(png.path().c_str(), &st) == 0 && st.st_size > 0)) {
    why = "gnuplot failed";
    std::string m = messages.str();
    while (!m.empty() && (m.back() == '\n' || m.back() == ' ')) m.pop_back();
    if (!m.empty()) why += ":\n" + m;
    return false;
  }
  std::string moveWhy;
  if (!png.moveIntoPlace(moveWhy)) {
    why = "cannot write " + pngPath + ": " + moveWhy;
    return false;
  }
  return true;
}

bool drawPlot(const std::string& csvPath, const std::string& pngPath, const std::vector<PlotPanel>& panels,
              std::string& why) {
  if (panels.empty()) {
    why = "nothing to draw: no block with outputs is logged";
    return false;
  }
  return runGnuplot(
      pngPath,
      [&](const std::string& png) {
        return hasControlCharacter(csvPath) ? std::string() : plotScript(csvPath, png, panels);
      },
      why);
}

std::string makeTempDir() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/blocksim-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) return std::string();
  return std::string(buf.data());
}


}  // namespace blocksim

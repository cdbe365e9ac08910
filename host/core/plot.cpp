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

// A gnuplot string in single quotes (a quote inside is doubled).
std::string quoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

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
    << "set output " << quoted(pngPath) << "\n"
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
    s << "set title " << quoted(p.title) << "\n";
    s << "plot for [c=" << p.first << ":" << p.first + p.count - 1 << "] " << quoted(csvPath)
      << " using 1:c with steps linewidth 1.5 title columnheader(c)\n";
  }
  s << "unset multiplot\n";
  return s.str();
}

bool drawPlot(const std::string& csvPath, const std::string& pngPath, const std::vector<PlotPanel>& panels,
              std::string& why) {
  if (panels.empty()) {
    why = "nothing to draw: no block with outputs is logged";
    return false;
  }
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
  // Every text gnuplot reads is quoted; a control character would end the
  // quoted text and be read as commands, so none may reach it.
  for (const std::string* text : {&csvPath, &png.path()})
    if (hasControlCharacter(*text)) {
      why = "the path " + *text + " holds a control character";
      return false;
    }
  std::string script = dir.path() + "/plot.gp", log = dir.path() + "/gnuplot.log";
  {
    std::ofstream out(script);
    out << plotScript(csvPath, png.path(), panels);
    if (!out) {
      why = "cannot write " + script;
      return false;
    }
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  char arg0[] = "gnuplot";
  std::vector<char> arg1(script.begin(), script.end());
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
  std::stringstream text;
  text << in.rdbuf();
  struct stat st;
  bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && stat(png.path().c_str(), &st) == 0 && st.st_size > 0;
  if (!ok) {
    why = "gnuplot failed";
    std::string messages = text.str();
    while (!messages.empty() && (messages.back() == '\n' || messages.back() == ' ')) messages.pop_back();
    if (!messages.empty()) why += ":\n" + messages;
    return false;
  }
  std::string moveWhy;
  if (!png.moveIntoPlace(moveWhy)) {
    why = "cannot write " + pngPath + ": " + moveWhy;
    return false;
  }
  return true;
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

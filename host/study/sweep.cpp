#include "sweep.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <math.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <sstream>
#include <system_error>
#include <vector>

#include "instance.h"
#include "study.h"
#include "study_plot.h"

extern char** environ;

namespace blocksim {

namespace {

double monotonicSeconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::string selfPath() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

std::string absolute(const std::string& path) {
  char buf[PATH_MAX];
  return realpath(path.c_str(), buf) != nullptr ? std::string(buf) : path;
}

int cores() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
}

bool makeDir(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  return std::filesystem::is_directory(path, ec);
}

// Written beside its place and renamed into it, so that a reader never sees
// half a file.
bool writeFile(const std::string& path, const std::string& text) {
  const std::string temp = path + ".tmp" + std::to_string(getpid());
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
      unlink(temp.c_str());
      return false;
    }
  }
  if (rename(temp.c_str(), path.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  return true;
}

bool readFile(const std::string& path, std::string& text, size_t limit) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::vector<char> buf(limit);
  in.read(buf.data(), static_cast<std::streamsize>(limit));
  text.assign(buf.data(), static_cast<size_t>(in.gcount()));
  return true;
}

// A shell word in single quotes.
std::string shellQuoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string fingerprintLine(const Study& study) {
  char buf[40];
  snprintf(buf, sizeof buf, "# study %016llx\n", static_cast<unsigned long long>(study.fingerprint));
  return buf;
}

// "3, 5-7, 9" for the listed numbers (in order), at most 40 runs of them.
std::string listRanges(const std::vector<size_t>& n) {
  std::string out;
  size_t runs = 0;
  for (size_t i = 0; i < n.size();) {
    size_t j = i;
    while (j + 1 < n.size() && n[j + 1] == n[j] + 1) ++j;
    if (++runs > 40) return out + ", ...";
    if (!out.empty()) out += ", ";
    out += std::to_string(n[i]);
    if (j > i) out += "-" + std::to_string(n[j]);
    i = j + 1;
  }
  return out;
}

// One point being run.
struct Job {
  size_t point = 0;
  pid_t pid = -1;
  double deadline = 0.0;
  bool killed = false;
  std::string dir;  // its scratch folder: the run's working folder
};

class Sweeper {
 public:
  Sweeper(const Study& study, const SweepOptions& options, std::ostream& err)
      : study_(study), options_(options), err_(err) {
    exe_ = options.blocksim.empty() ? selfPath() : options.blocksim;
    limit_ = options.hasTimeLimit ? options.timeLimit : study.hasTimeLimit ? study.timeLimit : kDefaultTimeLimit;
    results_ = options.results.empty() ? study.name + "-results" : options.results;
    if (!options.pluginDir.empty()) pluginDir_ = absolute(options.pluginDir);
  }

  const std::string& results() const { return results_; }
  double limit() const { return limit_; }
  std::string tablePath() const { return results_ + "/table.csv"; }
  std::string rowPath(size_t k) const { return results_ + "/rows/" + std::to_string(k) + ".csv"; }

  // Runs the points, `jobs` at a time; rows_[k] holds the row of each. The
  // scratch folders' parent is removed afterwards only when `alone`: array
  // tasks share it.
  bool run(const std::vector<size_t>& points, int jobs, bool alone) {
    rows_.assign(study_.points(), std::string());
    if (!makeDir(results_ + "/work")) {
      err_ << "blocksim: cannot make the folder " << results_ << "/work\n";
      return false;
    }
    // Children are waited for with sigtimedwait: SIGCHLD stays blocked (and
    // pending) while this runs, and is not ignored.
    sigset_t chld, old;
    sigemptyset(&chld);
    sigaddset(&chld, SIGCHLD);
    pthread_sigmask(SIG_BLOCK, &chld, &old);
    struct sigaction dfl, oldAction;
    memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    sigaction(SIGCHLD, &dfl, &oldAction);

    std::vector<Job> running;
    size_t next = 0;
    while (next < points.size() || !running.empty()) {
      while (running.size() < static_cast<size_t>(jobs) && next < points.size()) {
        Job job;
        if (start(points[next++], job)) running.push_back(job);
      }
      bool reaped = false;
      for (size_t i = 0; i < running.size();) {
        int status = 0;
        pid_t r = waitpid(running[i].pid, &status, WNOHANG);
        if (r == running[i].pid || (r < 0 && errno == ECHILD)) {
          finish(running[i], r == running[i].pid ? status : -1);
          running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
          reaped = true;
        } else {
          ++i;
        }
      }
      // Deadlines are checked on every round, also while other points keep
      // ending.
      const double now = monotonicSeconds();
      double wait = 1.0;
      for (Job& job : running) {
        if (job.killed) continue;
        if (now >= job.deadline) {
          kill(job.pid, SIGKILL);
          job.killed = true;
        } else {
          wait = std::min(wait, job.deadline - now);
        }
      }
      if (reaped || running.empty()) continue;
      timespec ts;
      ts.tv_sec = static_cast<time_t>(wait);
      ts.tv_nsec = static_cast<long>((wait - static_cast<double>(ts.tv_sec)) * 1e9) + 1000000;
      if (ts.tv_nsec >= 1000000000L) ts.tv_nsec = 999999999L;
      sigtimedwait(&chld, nullptr, &ts);
    }
    sigaction(SIGCHLD, &oldAction, nullptr);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    if (alone) rmdir((results_ + "/work").c_str());
    if (options_.progress && done_ > 0) err_ << "\n";
    return true;
  }

  const std::string& row(size_t k) const { return rows_[k]; }
  size_t failed() const { return failed_; }

 private:
  bool start(size_t k, Job& job) {
    job.point = k;
    // Of this process too: a point run twice at once (a task started again)
    // does not share its folder.
    job.dir = results_ + "/work/" + std::to_string(k) + "-" + std::to_string(getpid());
    std::error_code ec;
    std::filesystem::remove_all(job.dir, ec);
    if (!makeDir(job.dir)) {
      record(k, ExitCannotStart, "cannot make the folder " + job.dir, {});
      return false;
    }
    std::unique_ptr<RunOutput> output = csvRunOutput();
    std::vector<std::string> args = {exe_, "run", study_.modelFile};
    for (const std::string& s : study_.sets(k)) {
      args.push_back("--set");
      args.push_back(s);
    }
    args.push_back("--output");
    args.push_back(output->fileName());
    if (study_.hasStop) {
      args.push_back("--stop");
      args.push_back(formatNumber(study_.stop));
    }
    if (!pluginDir_.empty()) {
      args.push_back("--plugin-dir");
      args.push_back(pluginDir_);
    }
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, job.dir.c_str());
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "err.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGCHLD);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    int rc = posix_spawn(&job.pid, exe_.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
      record(k, ExitCannotStart, "cannot start " + exe_ + ": " + strerror(rc), {});
      std::filesystem::remove_all(job.dir, ec);
      return false;
    }
    job.deadline = monotonicSeconds() + limit_;
    return true;
  }

  // The row of a point whose run has ended with the wait status (-1: lost).
  void finish(const Job& job, int status) {
    int code;
    std::string message;
    std::vector<std::string> cells;
    if (job.killed) {
      code = ExitTimeLimit;
      message = "stopped at the time limit of " + formatNumber(limit_) + " s";
    } else if (status >= 0 && WIFSIGNALED(status)) {
      const int sig = WTERMSIG(status);
      const char* abbrev = sigabbrev_np(sig);
      code = ExitSignalBase + sig;
      message = "killed by signal " + std::to_string(sig) + (abbrev != nullptr ? std::string(" (SIG") + abbrev + ")" : "");
    } else if (status >= 0 && WIFEXITED(status)) {
      code = WEXITSTATUS(status);
      if (code != 0) {
        message = firstError(job.dir + "/err.txt");
        if (message.empty()) message = "exit status " + std::to_string(code);
      } else {
        std::unique_ptr<RunOutput> output = csvRunOutput();
        std::string why;
        if (!output->open(job.dir + "/" + output->fileName(), why) || !pointStatistics(*output, study_.stats, cells, why))
          message = why;
      }
    } else {
      code = ExitCannotStart;
      message = "the run's end was not seen";
    }
    record(job.point, code, message, cells);
    std::error_code ec;
    std::filesystem::remove_all(job.dir, ec);
  }

  // The run's first line on its error stream that is no warning, without
  // the program's prefix, with the model named as the study names it.
  std::string firstError(const std::string& path) const {
    std::string text;
    if (!readFile(path, text, 65536)) return std::string();
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
      if (line.empty() || line.find(": warning: ") != std::string::npos) continue;
      if (line.compare(0, 10, "blocksim: ") == 0) line.erase(0, 10);
      for (size_t at = line.find(study_.modelFile); at != std::string::npos;
           at = line.find(study_.modelFile, at + study_.modelPath.size()))
        line.replace(at, study_.modelFile.size(), study_.modelPath);
      for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
      if (line.size() > 500) line = line.substr(0, 500) + "...";
      return line;
    }
    return std::string();
  }

  void record(size_t k, int code, const std::string& message, const std::vector<std::string>& cells) {
    std::string row = study_.leadingCells(k);
    const size_t count = study_.stats.signals.size() * study_.stats.stats.size();
    for (size_t i = 0; i < count; ++i) row += "," + (i < cells.size() ? cells[i] : std::string());
    row += "," + std::to_string(code) + "," + csvField(message) + "\n";
    rows_[k] = row;
    ++done_;
    if (!message.empty()) ++failed_;
    if (options_.progress)
      err_ << "\rblocksim: sweep " << study_.name << ": " << done_ << " of " << study_.points() << " points done, "
           << failed_ << " failed" << std::flush;
  }

  const Study& study_;
  const SweepOptions& options_;
  std::ostream& err_;
  std::string exe_, results_, pluginDir_;
  double limit_ = kDefaultTimeLimit;
  std::vector<std::string> rows_;
  size_t done_ = 0, failed_ = 0;
};

// Whether a row reports a complete point (status 0, no message), with its
// statistics.
bool rowStatistics(const Study& study, const std::string& row, std::vector<double>& stats) {
  const size_t lead = 1 + study.axes.size() + (study.seeds.given ? 1 : 0);
  const size_t count = study.stats.signals.size() * study.stats.stats.size();
  std::vector<std::string> fields;
  size_t begin = 0;
  while (fields.size() < lead + count + 1) {
    size_t comma = row.find(',', begin);
    if (comma == std::string::npos) return false;
    fields.push_back(row.substr(begin, comma - begin));
    begin = comma + 1;
  }
  if (fields.back() != "0" || row.compare(begin, std::string::npos, "\n") != 0) return false;
  stats.clear();
  for (size_t i = lead; i < lead + count; ++i) stats.push_back(strtod(fields[i].c_str(), nullptr));
  return true;
}

int writeTable(const Study& study, const SweepOptions& options, const std::string& path,
               const std::vector<std::string>& rows, std::ostream& err) {
  std::string table = study.header() + "\n";
  std::vector<StudyPlotPoint> plotted;
  for (size_t k = 0; k < rows.size(); ++k) {
    table += rows[k];
    StudyPlotPoint p;
    p.point = k;
    if (!rows[k].empty() && rowStatistics(study, rows[k], p.stats)) plotted.push_back(p);
  }
  if (!writeFile(path, table)) {
    err << "blocksim: cannot write " << path << "\n";
    return ExitOutputFailed;
  }
  if (!options.plot.empty()) {
    std::string why;
    if (!drawStudyPlot(study, plotted, options.plot, why)) {
      err << "blocksim: --plot: " << why << "\n";
      return ExitPlotFailed;
    }
  }
  return ExitOk;
}

// The sbatch script of the array; empty when a path holds a line break or
// another control character (the paths stand in comments and on one
// command line of the script).
std::string slurmScript(const Study& study, const Sweeper& sweeper, const SweepOptions& options) {
  const std::string results = absolute(sweeper.results());
  const std::string program = options.blocksim.empty() ? selfPath() : absolute(options.blocksim);
  const std::string plugins = options.pluginDir.empty() ? std::string() : absolute(options.pluginDir);
  for (const std::string* path : {&results, &program, &plugins, &study.path})
    for (char c : *path)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return std::string();
  std::string command = shellQuoted(program) + " sweep " + shellQuoted(absolute(study.path)) + " --results " +
                        shellQuoted(results);
  if (!plugins.empty()) command += " --plugin-dir " + shellQuoted(plugins);
  command += " --time-limit " + formatNumber(sweeper.limit());
  std::string job;
  for (char c : study.name) job += isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.' ? c : '_';
  std::ostringstream s;
  s << "#!/bin/sh\n"
    << "# " << job << ": " << study.points() << " points, one array task each. When the array has\n"
    << "# ended, the table is written by\n"
    << "#   " << command << " --gather\n"
    << "#SBATCH --job-name=" << job << "\n"
    << "#SBATCH --array=0-" << study.points() - 1 << "\n"
    << "#SBATCH --ntasks=1\n"
    << "#SBATCH --cpus-per-task=1\n"
    << "#SBATCH --time=" << static_cast<long long>(ceil(sweeper.limit() / 60.0)) + 1 << "\n";
  // sbatch reads the line up to a blank; '%' would be one of its patterns.
  if (results.find_first_of(" \t\"'%\\") == std::string::npos)
    s << "#SBATCH --output=" << results << "/slurm/%a.out\n";
  s << "exec " << command << " --point \"$SLURM_ARRAY_TASK_ID\"\n";
  return s.str();
}

int spawnWait(const std::vector<std::string>& args, std::ostream& err) {
  std::vector<char*> argv;
  std::vector<std::string> copy = args;
  for (std::string& a : copy) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  pid_t pid;
  int rc = posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
  if (rc != 0) {
    err << "blocksim: cannot run " << args[0] << ": " << strerror(rc) << "\n";
    return ExitCannotStart;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : ExitSignalBase + WTERMSIG(status);
}

}  // namespace

int runSweep(const SweepOptions& options, std::ostream& out, std::ostream& err) {
  const int modes = options.count + options.hasPoint + options.gather + options.slurm;
  if (modes > 1 || (options.submit && !options.slurm)) {
    err << "blocksim: --count, --point, --gather and --slurm go alone (--submit with --slurm)\n";
    return ExitMistake;
  }
  if (options.hasTimeLimit && !(options.timeLimit >= 1e-3 && options.timeLimit <= 1e6)) {
    err << "blocksim: --time-limit must be from 0.001 to 1e6 seconds\n";
    return ExitMistake;
  }
  if (options.jobs < 0 || options.jobs > 1024) {
    err << "blocksim: -j must be from 1 to 1024\n";
    return ExitMistake;
  }
  Study study;
  std::vector<std::string> mistakes;
  if (!readStudy(options.study, study, mistakes)) {
    for (const std::string& m : mistakes) err << "blocksim: " << m << "\n";
    return ExitMistake;
  }
  if (!options.plot.empty() && study.axes.empty()) {
    err << "blocksim: --plot draws against the first varied value: the study has no [[vary]]\n";
    return ExitMistake;
  }
  const size_t points = study.points();
  if (options.count) {
    out << points << "\n";
    return ExitOk;
  }
  Sweeper sweeper(study, options, err);
  if (options.slurm) {
    // The folder of the tasks' logs must exist before sbatch reads the script.
    if (!makeDir(sweeper.results() + "/slurm")) {
      err << "blocksim: cannot make the folder " << sweeper.results() << "/slurm\n";
      return ExitOutputFailed;
    }
    const std::string script = slurmScript(study, sweeper, options);
    if (script.empty()) {
      err << "blocksim: --slurm: a path holds a line break or another control character\n";
      return ExitMistake;
    }
    if (!options.submit) {
      out << script;
      return ExitOk;
    }
    const std::string file = sweeper.results() + "/sweep.sbatch";
    if (!writeFile(file, script)) {
      err << "blocksim: cannot write " << file << "\n";
      return ExitOutputFailed;
    }
    return spawnWait({"sbatch", file}, err);
  }
  if (options.gather) {
    std::vector<std::string> rows(points);
    std::vector<size_t> missing;
    size_t failed = 0;
    const std::string expected = fingerprintLine(study);
    for (size_t k = 0; k < points; ++k) {
      std::string text;
      const std::string lead = std::to_string(k) + ",";
      // A row file is the study's fingerprint and one row of this point.
      if (readFile(sweeper.rowPath(k), text, 1 << 16) && text.compare(0, expected.size(), expected) == 0 &&
          text.compare(expected.size(), lead.size(), lead) == 0 && text.back() == '\n' &&
          text.find('\n', expected.size()) == text.size() - 1) {
        rows[k] = text.substr(expected.size());
        std::vector<double> stats;
        if (!rowStatistics(study, rows[k], stats)) ++failed;
      } else {
        missing.push_back(k);
      }
    }
    int rc = writeTable(study, options, sweeper.tablePath(), rows, err);
    err << "blocksim: gathered " << points - missing.size() << " of " << points << " points (" << failed
        << " failed) into " << sweeper.tablePath() << "\n";
    if (!missing.empty())
      err << "blocksim: missing points (no row of this study in " << sweeper.results() << "/rows): "
          << listRanges(missing) << "\n";
    return rc != ExitOk ? rc : (missing.empty() && failed == 0 ? ExitOk : ExitBlockError);
  }
  if (options.hasPoint) {
    if (options.point < 0 || static_cast<size_t>(options.point) >= points) {
      err << "blocksim: --point must be from 0 to " << points - 1 << "\n";
      return ExitMistake;
    }
    const size_t k = static_cast<size_t>(options.point);
    if (!makeDir(sweeper.results() + "/rows") || !sweeper.run({k}, 1, false)) return ExitOutputFailed;
    if (!writeFile(sweeper.rowPath(k), fingerprintLine(study) + sweeper.row(k))) {
      err << "blocksim: cannot write " << sweeper.rowPath(k) << "\n";
      return ExitOutputFailed;
    }
    return sweeper.failed() == 0 ? ExitOk : ExitBlockError;
  }
  std::vector<size_t> all(points);
  for (size_t k = 0; k < points; ++k) all[k] = k;
  int jobs = options.jobs > 0 ? options.jobs : cores();
  if (!sweeper.run(all, jobs, true)) return ExitOutputFailed;
  std::vector<std::string> rows(points);
  for (size_t k = 0; k < points; ++k) rows[k] = sweeper.row(k);
  int rc = writeTable(study, options, sweeper.tablePath(), rows, err);
  err << "blocksim: " << points << " points (" << sweeper.failed() << " failed) into " << sweeper.tablePath() << "\n";
  return rc != ExitOk ? rc : (sweeper.failed() == 0 ? ExitOk : ExitBlockError);
}

}  // namespace blocksim

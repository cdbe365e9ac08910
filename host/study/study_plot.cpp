#include "study_plot.h"

#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "outfile.h"
#include "plot.h"

extern char** environ;

namespace blocksim {

namespace {

void appendValue(std::string& out, double v) {
  char buf[40];
  snprintf(buf, sizeof buf, isfinite(v) ? " %.17g" : " NaN", v);
  out += buf;
}

const int kPanelHeight = 300;
const int kMaxHeight = 30000;
const size_t kMaxKeyed = 12;  // more series than this draw without a key


}  // namespace

bool drawStudyPlot(const Study& study, const std::vector<StudyPlotPoint>& points, const std::string& png,
                   std::string& why) {
  const size_t statCount = study.stats.signals.size() * study.stats.stats.size();
  const Axis& first = study.axes[0];
  // The series: one per combination of the other varied values.
  size_t groups = 1;
  for (size_t a = 1; a < study.axes.size(); ++a) groups *= study.axes[a].cells.size();
  const size_t xs = first.cells.size();
  std::vector<double> sums(groups * xs * statCount, 0.0);
  std::vector<size_t> counts(groups * xs, 0);
  std::string dots;
  for (const StudyPlotPoint& p : points) {
    std::vector<size_t> index;
    int64_t repetition;
    study.decompose(p.point, index, repetition);
    size_t g = 0;
    for (size_t a = 1; a < study.axes.size(); ++a) g = g * study.axes[a].cells.size() + index[a];
    const size_t cell = g * xs + index[0];
    ++counts[cell];
    appendValue(dots, first.numbers[index[0]]);
    for (size_t j = 0; j < statCount && j < p.stats.size(); ++j) {
      sums[cell * statCount + j] += p.stats[j];
      appendValue(dots, p.stats[j]);
    }
    dots += '\n';
  }
  std::string means;
  std::vector<std::string> titles;
  for (size_t g = 0; g < groups; ++g) {
    for (size_t i = 0; i < xs; ++i) {
      const size_t cell = g * xs + i;
      if (counts[cell] == 0) continue;
      appendValue(means, first.numbers[i]);
      for (size_t j = 0; j < statCount; ++j)
        appendValue(means, sums[cell * statCount + j] / static_cast<double>(counts[cell]));
      means += '\n';
    }
    means += "\n\n";
    // "name=value, ..." of the other varied values.
    std::string title;
    size_t rest = g;
    for (size_t a = study.axes.size(); a-- > 1;) {
      const Axis& axis = study.axes[a];
      title = axis.name + "=" + axis.cells[rest % axis.cells.size()] + (title.empty() ? "" : ", ") + title;
      rest /= axis.cells.size();
    }
    if (title.empty()) title = study.seeds.count > 1 ? "mean over the seeds" : "value";
    titles.push_back(title);
  }
  TempDir dir;
  if (dir.path().empty()) {
    why = "cannot make a temporary folder";
    return false;
  }
  const std::string dotsFile = dir.path() + "/points.dat", meansFile = dir.path() + "/means.dat";
  {
    std::ofstream d(dotsFile), m(meansFile);
    d << dots;
    m << means;
    if (!d.good() || !m.good()) {
      why = "cannot write the plot's files in " + dir.path();
      return false;
    }
  }
  if (hasControlCharacter(dir.path())) {
    why = "the temporary folder " + dir.path() + " holds a control character";
    return false;
  }
  return runGnuplot(
      png,
      [&](const std::string& output) {
        std::ostringstream s;
        int height = 60 + kPanelHeight * static_cast<int>(statCount);
        if (height > kMaxHeight) height = kMaxHeight;
        s << "set terminal pngcairo size 900," << height << " noenhanced font ',9'\n"
          << "set output " << gnuplotQuoted(output) << "\n"
          << "set datafile missing 'NaN'\n"
          << "set multiplot layout " << statCount << ",1\n"
          << "set grid\n"
          << "set lmargin 12\n"
          << "set offsets graph 0.03, 0.03, 0.08, 0.08\n"
          << (groups > kMaxKeyed ? "unset key\n" : "set key outside right top\n")
          << "set xlabel " << gnuplotQuoted(first.name) << "\n";
        size_t j = 0;
        for (const std::string& signal : study.stats.signals) {
          for (Stat st : study.stats.stats) {
            const std::string column = std::to_string(j + 2);
            s << "set title " << gnuplotQuoted(signal + " " + statName(st)) << "\n" << "plot ";
            if (study.seeds.count > 1)
              s << gnuplotQuoted(dotsFile) << " using 1:" << column
                << " with points pt 7 ps 0.4 lc rgb '#b0b0b0' title 'each seed', ";
            for (size_t g = 0; g < groups; ++g)
              s << (g > 0 ? ", " : "") << gnuplotQuoted(meansFile) << " index " << g << " using 1:" << column
                << " with linespoints pt 7 ps 0.6 lw 1.5 title " << gnuplotQuoted(titles[g]);
            s << "\n";
            ++j;
          }
        }
        s << "unset multiplot\n";
        return s.str();
      },
      why);
}

}  // namespace blocksim

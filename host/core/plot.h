// --plot: draws the logged signals of a run with gnuplot, one panel per
// logged block, each output as stair steps against time.
#ifndef BLOCKSIM_PLOT_H
#define BLOCKSIM_PLOT_H

#include <stddef.h>

#include <string>
#include <vector>

namespace blocksim {

// One panel: the CSV columns first ... first+count-1 (counted from 1, column
// 1 being the time) under the title.
struct PlotPanel {
  std::string title;
  size_t first = 0;
  size_t count = 0;
};

// The gnuplot script that draws the CSV file into the PNG file.
std::string plotScript(const std::string& csvPath, const std::string& pngPath,
                       const std::vector<PlotPanel>& panels);

// Runs gnuplot on the script, drawing into a temporary file beside the
// picture that is renamed into place when gnuplot succeeds. False with why
// when gnuplot cannot be run or fails (its messages are kept in why), or a
// path holds a control character (gnuplot would read the rest as commands).
bool drawPlot(const std::string& csvPath, const std::string& pngPath, const std::vector<PlotPanel>& panels,
              std::string& why);

// The most a picture draws: so many panels, so many outputs in one panel and
// in all (gnuplot reads the data once per curve; thousands of curves would
// take it minutes). What is left out is said when the run plots.
const size_t kMaxPlotPanels = 16;
const size_t kMaxPlotCurvesPerPanel = 16;
const size_t kMaxPlotCurves = 64;

// A fresh private folder for temporary files ("" when none can be made).
std::string makeTempDir();

}  // namespace blocksim

#endif

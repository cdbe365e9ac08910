// --plot: draws the logged signals of a run with gnuplot, one panel per
// logged block, each output as stair steps against time.
#ifndef BLOCKSIM_PLOT_H
#define BLOCKSIM_PLOT_H

#include <stddef.h>

#include <functional>
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

// A gnuplot string in single quotes (a quote inside is doubled). A control
// character would end it: texts that may hold one are refused before.
std::string gnuplotQuoted(const std::string& s);

// Runs gnuplot on the script that script(OUTPUT) returns, where OUTPUT is a
// temporary file beside pngPath that is renamed to pngPath when gnuplot
// succeeds (the picture is never half written, nor replaced by a failed one).
// script returns "" when a path it would name holds a control character.
// False with why (gnuplot's messages included) otherwise.
bool runGnuplot(const std::string& pngPath, const std::function<std::string(const std::string&)>& script,
                std::string& why);

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

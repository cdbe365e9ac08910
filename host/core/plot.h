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

// Runs gnuplot on the script. False with why when gnuplot cannot be run or
// fails (its messages are kept in why).
bool drawPlot(const std::string& csvPath, const std::string& pngPath, const std::vector<PlotPanel>& panels,
              std::string& why);

// A fresh private folder for temporary files ("" when none can be made), and
// its removal together with the files named.
std::string makeTempDir();
void removeTempDir(const std::string& dir, const std::vector<std::string>& files);

}  // namespace blocksim

#endif

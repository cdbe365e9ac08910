// --plot of `blocksim sweep`: each statistic against the first varied value,
// one panel per statistic, drawn by gnuplot.
#ifndef BLOCKSIM_STUDY_PLOT_H
#define BLOCKSIM_STUDY_PLOT_H

#include <stddef.h>

#include <string>
#include <vector>

#include "study.h"

namespace blocksim {

// A complete point and its statistics, in the table's order.
struct StudyPlotPoint {
  size_t point = 0;
  std::vector<double> stats;
};

// Draws the points into the PNG: every point as a dot (when seeds repeat
// them), and for each combination of the other varied values a line through
// the mean over the seeds. False with why when gnuplot fails.
bool drawStudyPlot(const Study& study, const std::vector<StudyPlotPoint>& points, const std::string& png,
                   std::string& why);

}  // namespace blocksim

#endif

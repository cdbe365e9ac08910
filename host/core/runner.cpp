#include "runner.h"

#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <ostream>

#include "npy.h"
#include "outfile.h"
#include "plot.h"

namespace blocksim {

namespace {

bool isNpy(const std::string& path) { return path.size() > 4 && path.compare(path.size() - 4, 4, ".npy") == 0; }

// The file beside a .npy log that names its columns.
std::string columnsPath(const std::string& npy) { return npy + ".columns.txt"; }

// The checks of where the outputs go, made before anything runs: never onto
// the model, never both outputs into one file, the picture only into a
// regular (or new) file, and no control character in a path gnuplot reads.
std::string checkOutputPaths(const std::string& modelPath, const RunOptions& options) {
  const std::string model = fileIdentity(modelPath);
  const std::string csv = options.outputPath.empty() ? std::string() : fileIdentity(options.outputPath);
  if (!csv.empty() && csv == model) return "--output " + options.outputPath + " is the model file";
  std::string names;
  if (isNpy(options.outputPath)) {
    // Its header holds the row count, written afresh when the run ends.
    struct stat st;
    if (stat(options.outputPath.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
      return "--output " + options.outputPath + ": a .npy file is written to a regular file, not a pipe or device";
    names = fileIdentity(columnsPath(options.outputPath));
    if (!names.empty() && names == model) return "--output: " + columnsPath(options.outputPath) + " is the model file";
  }
  if (options.plotPath.empty()) return std::string();
  const std::string plot = fileIdentity(options.plotPath);
  if (!plot.empty() && plot == model) return "--plot " + options.plotPath + " is the model file";
  if (!plot.empty() && plot == csv) return "--plot and --output name the same file";
  if (!plot.empty() && plot == names) return "--plot names the column file of --output";
  struct stat st;
  if (stat(options.plotPath.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
    return "--plot " + options.plotPath + " is not a regular file";
  if (hasControlCharacter(options.plotPath)) return "the --plot path holds a control character";
  return std::string();
}

// The outputs drawn: a panel per logged block, within the picture's bounds;
// what is left out is said on err.
std::vector<CsvColumns> plotColumns(const std::vector<CsvColumns>& logged, std::ostream& err) {
  std::vector<CsvColumns> drawn;
  size_t curves = 0, blocks = 0;
  for (const CsvColumns& c : logged) {
    if (c.count == 0) continue;
    ++blocks;
    if (drawn.size() == kMaxPlotPanels || curves == kMaxPlotCurves) continue;
    CsvColumns d = c;
    d.count = std::min({c.count, kMaxPlotCurvesPerPanel, kMaxPlotCurves - curves});
    if (d.count < c.count)
      err << "blocksim: --plot: the panel of '" << c.name << "' draws " << d.count << " of its " << c.count
          << " outputs\n";
    curves += d.count;
    drawn.push_back(d);
  }
  if (drawn.size() < blocks)
    err << "blocksim: --plot: draws the first " << drawn.size() << " of the " << blocks << " logged blocks\n";
  return drawn;
}

int runChecked(const std::string& modelPath, const RunOptions& options, std::ostream& out, std::ostream& err) {
  std::string why = checkOutputPaths(modelPath, options);
  if (!why.empty()) {
    err << "blocksim: " << why << "\n";
    return ExitMistake;
  }
  Model model;
  std::vector<std::string> mistakes;
  ReadOptions read;
  read.pluginDir = options.pluginDir;
  read.writeAnywhere = options.writeAnywhere;
  read.memoryLimit = options.memoryLimit;
  read.sets = options.sets;
  if (!readModel(modelPath, read, model, mistakes)) {
    for (const std::string& m : mistakes) err << "blocksim: " << m << "\n";
    return ExitMistake;
  }
  for (const std::string& w : model.warnings) err << "blocksim: " << w << "\n";
  Simulation sim(model, options, err);
  int rc = sim.prepare();
  if (rc != ExitOk) {
    sim.terminate();
    return rc;
  }
  // The log: CSV, or a .npy file with its column names beside it.
  const bool npy = isNpy(options.outputPath);
  OutputFile file, namesFile;
  auto open = [&](OutputFile& f, const std::string& path) {
    why = f.open(path);
    if (!why.empty()) err << "blocksim: cannot write " << path << ": " << why << "\n";
    return why.empty();
  };
  if (!options.outputPath.empty() &&
      (!open(file, options.outputPath) || (npy && !open(namesFile, columnsPath(options.outputPath))))) {
    sim.terminate();
    return ExitOutputFailed;
  }
  std::ostream* stream = options.outputPath.empty() ? &out : &file.stream();
  const std::vector<CsvColumns> logged = sim.logColumns();
  std::unique_ptr<LogWriter> log;
  if (npy) {
    auto writer = std::make_unique<NpyWriter>(*stream);
    writer->setColumns(logged);
    writer->writeHeader(static_cast<uint64_t>(sim.loggedRows()));
    namesFile.stream() << writer->columnNames();
    log = std::move(writer);
  } else {
    auto writer = std::make_unique<CsvWriter>(std::vector<std::ostream*>{stream});
    writer->setColumns(logged);
    writer->writeHeader();
    log = std::move(writer);
  }
  // The plot reads a copy of its own, with only the outputs it draws.
  TempDir plotDir;
  std::ofstream plotStream;
  std::unique_ptr<CsvWriter> plotData;
  std::vector<PlotPanel> panels;
  if (!options.plotPath.empty()) {
    if (!plotDir.path().empty()) plotStream.open(plotDir.path() + "/data.csv", std::ios::binary | std::ios::trunc);
    if (!plotStream) {
      err << "blocksim: --plot: cannot make a temporary file\n";
      sim.terminate();
      return ExitPlotFailed;
    }
    std::vector<CsvColumns> drawn = plotColumns(logged, err);
    size_t column = 2;
    for (const CsvColumns& c : drawn) {
      panels.push_back(PlotPanel{c.name, column, c.count});
      column += c.count;
    }
    plotData = std::make_unique<CsvWriter>(std::vector<std::ostream*>{&plotStream});
    plotData->setColumns(drawn);
    plotData->writeHeader();
  }
  rc = sim.run(log.get(), plotData.get());
  log->flush();
  int trc = sim.terminate();
  if (rc == ExitOk) rc = trc;
  if (!log->good() || (npy && !namesFile.stream().good())) {
    err << "blocksim: cannot write " << (npy ? options.outputPath : "the CSV")
        << (options.outputPath.empty() || npy ? "" : " to " + options.outputPath) << "\n";
    if (rc == ExitOk) rc = ExitOutputFailed;
  }
  // The rows written so far are kept, also after an error or an interrupt.
  if (!options.outputPath.empty() && !file.commit(why)) {
    err << "blocksim: cannot write " << options.outputPath << ": " << why << "\n";
    if (rc == ExitOk) rc = ExitOutputFailed;
  } else if (npy && !namesFile.commit(why)) {
    err << "blocksim: cannot write " << columnsPath(options.outputPath) << ": " << why << "\n";
    if (rc == ExitOk) rc = ExitOutputFailed;
  }
  if (rc == ExitOk && plotData) {
    plotStream.close();
    if (!plotData->good() || !plotStream) {
      err << "blocksim: --plot: cannot write the data of the picture\n";
      rc = ExitPlotFailed;
    } else if (!drawPlot(plotDir.path() + "/data.csv", options.plotPath, panels, why)) {
      err << "blocksim: --plot: " << why << "\n";
      rc = ExitPlotFailed;
    }
  }
  return rc;
}

}  // namespace

int runModel(const std::string& modelPath, const RunOptions& options, std::ostream& out, std::ostream& err) {
  try {
    return runChecked(modelPath, options, out, err);
  } catch (const std::bad_alloc&) {
    // Whatever was made is gone with the unwinding (the simulation terminates
    // the blocks it started); what is left is to say so.
    err << "blocksim: out of memory\n";
    return ExitOutOfMemory;
  }
}

}  // namespace blocksim

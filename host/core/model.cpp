#include "model.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <sstream>
#include <utility>

#include "overrides.h"
#include "values_toml.h"

namespace blocksim {

int Model::find(const std::string& name) const {
  for (size_t i = 0; i < blocks.size(); ++i)
    if (blocks[i].name == name) return static_cast<int>(i);
  return -1;
}

std::string Model::where(int line) const {
  const size_t set = static_cast<size_t>(line - textLines - 1);
  if (line > textLines && set < sets.size()) return "--set " + sets[set] + ": ";
  return path + ":" + std::to_string(line) + ": ";
}

namespace {

bool nameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

bool validName(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!nameChar(c)) return false;
  return true;
}

// Reads a decimal index of at most nine digits.
bool parseIndex(const std::string& s, int64_t& v) {
  if (s.empty() || s.size() > 9) return false;
  v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  return true;
}

std::string joinPath(const std::string& dir, const std::string& p) {
  if (p.empty() || p[0] == '/' || dir.empty()) return p;
  return dir + "/" + p;
}

int lineOf(const toml::node& n) { return static_cast<int>(n.source().begin.line); }

// What a value is, for a message about a value of the wrong kind.
std::string describe(const toml::node& n) {
  switch (n.type()) {
    case toml::node_type::string: return "a string";
    case toml::node_type::integer:
    case toml::node_type::floating_point: return "a number";
    case toml::node_type::boolean: return "a boolean";
    case toml::node_type::array: return "an array";
    case toml::node_type::table: return "a table";
    default: return "a date or time";
  }
}

// The plug-in parameters that name a file the block writes: the plug-in, the
// parameter (counted from 1) and how many characters of it the block uses.
struct FileParameter {
  const char* plugin;
  size_t param;
  size_t maxChars;
};
const FileParameter kFileParameters[] = {{"sinkdump", 1, 31}};

const FileParameter* fileParameter(const std::string& plugin, size_t k) {
  for (const FileParameter& f : kFileParameters)
    if (plugin == f.plugin && k == f.param) return &f;
  return nullptr;
}

// Why a file name (relative to the current folder, as a block opens it) would
// be written outside the current folder, or "" when it stays inside: an
// absolute name, a ".." that climbs out, or a folder or file on the way that
// is a link to somewhere else.
std::string outsideRunFolder(const std::string& name) {
  if (name[0] == '/') return "an absolute path outside the folder the run started in";
  int depth = 0;
  size_t at = 0;
  while (at <= name.size()) {
    size_t slash = name.find('/', at);
    if (slash == std::string::npos) slash = name.size();
    const std::string part = name.substr(at, slash - at);
    if (part == "..") {
      if (--depth < 0) return "outside the folder the run started in";
    } else if (!part.empty() && part != ".") {
      ++depth;
    }
    at = slash + 1;
  }
  // Links: the deepest part of the path that exists must resolve inside.
  char here[PATH_MAX], cwd[PATH_MAX], real[PATH_MAX];
  if (getcwd(here, sizeof here) == nullptr || realpath(here, cwd) == nullptr) return std::string();
  std::string probe = name;
  while (!probe.empty() && realpath(probe.c_str(), real) == nullptr) {
    size_t slash = probe.find_last_of('/');
    probe = slash == std::string::npos ? std::string() : probe.substr(0, slash);
  }
  if (probe.empty()) return std::string();
  const std::string inside = std::string(cwd) == "/" ? std::string("/") : std::string(cwd) + "/";
  if (std::string(real) != cwd && std::string(real).compare(0, inside.size(), inside) != 0)
    return "outside the folder the run started in (through the link " + probe + ")";
  return std::string();
}

// Opens a file only when it is a regular file, without waiting on a pipe;
// returns why not, or "". With withSize, a file that tells no size is
// refused too: a data file has at least one row, and the files of /proc
// (/proc/kmsg, which waits for the kernel's messages, among them) say 0.
std::string openRegularFile(const std::string& path, std::ifstream& in, bool withSize = false) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return strerror(errno);
  struct stat st;
  const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  close(fd);
  if (!regular) return "not a regular file";
  if (withSize && st.st_size == 0) return "it is empty";
  in.open(path, std::ios::binary);
  if (!in) return "cannot open it";
  return std::string();
}

// Collects the mistakes of one model, each tied to a model line so that they
// can be listed in file order.
class Reader {
 public:
  Reader(Model& model, const ReadOptions& options)
      : m_(model), pluginDir_(options.pluginDir), writeAnywhere_(options.writeAnywhere), budget_(options.memoryLimit) {}

  void mistake(int line, const std::string& what) { mistakes_.push_back({line, m_.where(line) + what}); }
  // A mistake in another file (a source's data file), listed at the model
  // line that names it.
  void mistakeIn(const std::string& file, int fileLine, int modelLine, const std::string& what) {
    mistakes_.push_back({modelLine, file + ":" + std::to_string(fileLine) + ": " + what});
  }

  void read(const toml::table& doc) {
    for (auto&& [key, value] : doc) {
      std::string k(key.str());
      int line = static_cast<int>(key.source().begin.line);
      if (k == "stop_time") {
        m_.hasStopTime = number(value, "stop_time", m_.stopTime);
        if (m_.hasStopTime && !(m_.stopTime >= 0.0 && isfinite(m_.stopTime))) {
          mistake(line, "stop_time must be a finite number of at least 0");
          m_.hasStopTime = false;
        }
      } else if (k == "step") {
        stepGiven_ = number(value, "step", m_.step);
        if (stepGiven_ && !(m_.step > 0.0 && isfinite(m_.step))) {
          mistake(line, "step must be a finite number greater than 0");
          stepGiven_ = false;
        }
      } else if (k == "solver") {
        std::optional<std::string> s = value.value<std::string>();
        if (s && *s == "euler")
          m_.solver = Solver::Euler;
        else if (s && *s == "rk4")
          m_.solver = Solver::Rk4;
        else
          mistake(line, "solver must be \"euler\" or \"rk4\", not " + (s ? "\"" + *s + "\"" : describe(value)));
      } else if (k == "block") {
        const toml::array* blocks = value.as_array();
        if (blocks == nullptr || !blocks->is_array_of_tables()) {
          mistake(line, "blocks are written as [[block]] tables");
          continue;
        }
        for (const toml::node& b : *blocks) readBlock(*b.as_table());
      } else if (k == "output") {
        const toml::table* out = value.as_table();
        if (out == nullptr) {
          mistake(line, "output must be a table ([output])");
          continue;
        }
        readOutput(*out);
      } else {
        mistake(line, "unknown key '" + k + "' (stop_time, step, solver, block, output)");
      }
    }
    if (!stepGiven_) {
      if (!doc.contains("step")) mistake(1, "the model has no step (the base step of the simulation)");
    } else if (m_.hasStopTime && m_.stopTime / m_.step > kMaxSteps) {
      mistake(lineOf(*doc.get("stop_time")), "stop_time / step is more than 1e12 steps");
    }
    resolveReferences();
    m_.memoryUsed = budget_.used();
  }

  bool finish(std::vector<std::string>& out) {
    std::stable_sort(mistakes_.begin(), mistakes_.end(),
                     [](const std::pair<int, std::string>& a, const std::pair<int, std::string>& b) {
                       return a.first < b.first;
                     });
    for (auto& m : mistakes_) out.push_back(m.second);
    return mistakes_.empty();
  }

 private:
  bool number(const toml::node& n, const std::string& what, double& out) {
    if (auto i = n.as_integer()) {
      out = static_cast<double>(i->get());
      return true;
    }
    if (auto f = n.as_floating_point()) {
      out = f->get();
      return true;
    }
    mistake(lineOf(n), what + " must be a number");
    return false;
  }

  bool finiteNumber(const toml::node& n, const std::string& what, double& out) {
    if (!number(n, what, out)) return false;
    if (!isfinite(out)) {
      mistake(lineOf(n), what + " must be finite");
      return false;
    }
    return true;
  }

  bool string(const toml::node& n, const std::string& what, std::string& out) {
    if (auto s = n.as_string()) {
      out = s->get();
      return true;
    }
    mistake(lineOf(n), what + " must be a string");
    return false;
  }

  void refList(const toml::node& n, std::vector<SignalRef>& into) {
    std::string text;
    if (!string(n, "a reference", text)) return;
    SignalRef ref;
    std::string why;
    ref.line = lineOf(n);
    if (!parseSignalRef(text, ref, why)) {
      mistake(ref.line, why);
      return;
    }
    into.push_back(ref);
  }

  void readBlock(const toml::table& t) {
    BlockSpec b;
    b.line = lineOf(t);
    const toml::node* name = t.get("name");
    if (name == nullptr) {
      mistake(b.line, "the block has no name");
    } else if (string(*name, "name", b.name) && !validName(b.name)) {
      mistake(lineOf(*name), "block name '" + b.name + "' may use letters, digits, '_' and '-' only");
    } else if (!b.name.empty()) {
      int first = m_.find(b.name);
      if (first >= 0)
        mistake(lineOf(*name), "block name '" + b.name + "' is used twice (first at line " +
                                   std::to_string(m_.blocks[static_cast<size_t>(first)].line) + ")");
    }
    const toml::node* plugin = t.get("plugin");
    const toml::node* source = t.get("source");
    if (plugin != nullptr && source != nullptr) {
      mistake(b.line, "a block has either plugin or source, not both");
    } else if (plugin == nullptr && source == nullptr) {
      mistake(b.line, "the block has neither plugin nor source");
    } else if (plugin != nullptr) {
      readPluginBlock(t, b, *plugin);
    } else {
      b.isSource = true;
      readSourceBlock(t, b, *source);
    }
    m_.blocks.push_back(std::move(b));
  }

  void readPluginBlock(const toml::table& t, BlockSpec& b, const toml::node& plugin) {
    b.pluginLine = lineOf(plugin);
    if (string(plugin, "plugin", b.plugin)) {
      // A model only names its plug-ins: a path would load (and so run) a
      // library of the model's choosing before any mistake is reported.
      if (validName(b.plugin)) {
        b.pluginPath = (pluginDir_.empty() ? std::string(".") : pluginDir_) + "/" + b.plugin + ".plgglx";
      } else if (b.plugin.find('/') != std::string::npos) {
        mistake(b.pluginLine, "plugin '" + b.plugin +
                                  "' is a path: a model names its plug-ins, which are looked up in the plug-in "
                                  "folder (--plugin-dir)");
      } else {
        mistake(b.pluginLine, "plugin '" + b.plugin + "' is no plug-in name (letters, digits, '_' and '-')");
      }
      if (!b.pluginPath.empty() && access(b.pluginPath.c_str(), R_OK) != 0)
        mistake(b.pluginLine, "no plug-in " + b.pluginPath);
    }
    for (auto&& [key, value] : t) {
      std::string k(key.str());
      if (k == "name" || k == "plugin") continue;
      if (k == "params") {
        const toml::array* params = value.as_array();
        if (params == nullptr) {
          mistake(lineOf(value), "params must be an array of parameter values");
          continue;
        }
        size_t k = 0;
        for (const toml::node& p : *params) {
          ++k;
          const uint64_t bytes = tomlValueBytes(p);
          if (!charge(lineOf(p), "block '" + b.name + "': parameter " + std::to_string(k), bytes)) continue;
          std::string why;
          ArrayPtr a(arrayFromToml(p, why));
          if (!a) {
            mistake(lineOf(p), "parameter " + std::to_string(k) + ": " + why);
            budget_.give(bytes);
          } else {
            b.params.push_back(std::move(a));
            checkFileName(b, k, lineOf(p));
          }
        }
      } else if (k == "inputs") {
        b.inputsLine = lineOf(value);
        const toml::array* inputs = value.as_array();
        if (inputs == nullptr) {
          mistake(b.inputsLine, "inputs must be an array of references such as \"name\" or \"name[0]\"");
          continue;
        }
        for (const toml::node& in : *inputs) {
          std::vector<SignalRef> entry;
          if (const toml::array* group = in.as_array()) {
            // One port fed by the concatenation of several references.
            for (const toml::node& r : *group) refList(r, entry);
            if (group->empty()) mistake(lineOf(in), "an input entry needs at least one reference");
          } else {
            refList(in, entry);
          }
          b.inputs.push_back(std::move(entry));
        }
      } else {
        mistake(static_cast<int>(key.source().begin.line),
                "unknown key '" + k + "' in a plug-in block (name, plugin, params, inputs)");
      }
    }
  }

  void readSourceBlock(const toml::table& t, BlockSpec& b, const toml::node& source) {
    SourceSpec& s = b.source;
    std::string kind;
    if (!string(source, "source", kind)) return;
    struct Kind {
      const char* name;
      SourceKind kind;
      const char* keys;      // allowed, separated by blanks
      const char* required;  // likewise
    };
    static const Kind kinds[] = {
        {"constant", SourceKind::Constant, "value", "value"},
        {"pulse", SourceKind::Pulse, "amplitude period width delay", "period"},
        {"step", SourceKind::Step, "time before after", "time"},
        {"sine", SourceKind::Sine, "amplitude frequency phase bias", "frequency"},
        {"ramp", SourceKind::Ramp, "slope start", ""},
        {"file", SourceKind::File, "path", "path"},
    };
    const Kind* found = nullptr;
    for (const Kind& k : kinds)
      if (kind == k.name) found = &k;
    if (found == nullptr) {
      mistake(lineOf(source), "unknown source '" + kind + "' (constant, pulse, step, sine, ramp, file)");
      return;
    }
    s.kind = found->kind;
    auto listed = [](const char* list, const std::string& key) {
      std::istringstream words(list);
      std::string w;
      while (words >> w)
        if (w == key) return true;
      return false;
    };
    bool widthGiven = false;
    bool periodBad = false;  // reported already
    for (auto&& [key, value] : t) {
      std::string k(key.str());
      if (k == "name" || k == "source") continue;
      int keyLine = static_cast<int>(key.source().begin.line);
      if (!listed(found->keys, k)) {
        std::string why = k == "inputs" ? "a host source takes no inputs"
                                        : "unknown key '" + k + "' in a " + kind + " source (" + found->keys + ")";
        mistake(keyLine, why);
        continue;
      }
      if (k == "value") {
        readConstant(value, s);
      } else if (k == "path") {
        std::string p;
        if (string(value, "path", p)) readDataFile(joinPath(m_.dir, p), lineOf(value), s);
      } else {
        double v;
        if (!finiteNumber(value, k, v)) {
          if (k == "period") periodBad = true;
          continue;
        }
        if (k == "amplitude") s.amplitude = v;
        else if (k == "period") s.period = v;
        else if (k == "width") s.width = v, widthGiven = true;
        else if (k == "delay") s.delay = v;
        else if (k == "time") s.time = v;
        else if (k == "before") s.before = v;
        else if (k == "after") s.after = v;
        else if (k == "frequency") s.frequency = v;
        else if (k == "phase") s.phase = v;
        else if (k == "bias") s.bias = v;
        else if (k == "slope") s.slope = v;
        else if (k == "start") s.start = v;
      }
    }
    std::istringstream required(found->required);
    std::string r;
    while (required >> r)
      if (!t.contains(r)) mistake(b.line, "a " + kind + " source needs " + r);
    if (s.kind == SourceKind::Pulse && t.contains("period") && !periodBad) {
      if (!(s.period > 0.0)) mistake(lineOf(*t.get("period")), "the pulse period must be greater than 0");
      if (!widthGiven) s.width = s.period / 2.0;
      if (widthGiven && !(s.width >= 0.0 && s.width <= s.period))
        mistake(lineOf(*t.get("width")), "the pulse width must be from 0 to the period");
    }
  }

  void readConstant(const toml::node& value, SourceSpec& s) {
    s.value.clear();
    if (value.is_number()) {
      s.value.push_back(value.as_integer() != nullptr ? static_cast<double>(value.as_integer()->get())
                                                      : value.as_floating_point()->get());
    } else if (const toml::array* a = value.as_array()) {
      if (a->size() > static_cast<size_t>(kMaxVectorLength)) {
        mistake(lineOf(value), "value has " + std::to_string(a->size()) + " elements, more than the host allocates (" +
                                   std::to_string(kMaxVectorLength) + ")");
        return;
      }
      // The values, and the source's outputs beside them.
      if (!charge(lineOf(value), "the constant", 2 * arrayBytes(a->size()))) return;
      for (const toml::node& e : *a) {
        double v;
        if (!number(e, "every element of value", v)) return;
        s.value.push_back(v);
      }
      if (s.value.empty()) mistake(lineOf(value), "value must have at least one element");
    } else {
      mistake(lineOf(value), "value must be a number or an array of numbers");
      return;
    }
    s.outputs = static_cast<int>(s.value.size());
  }

  // A CSV of rows "time, out0, out1, ...": blank lines and lines starting
  // with '#' are skipped, and a first line whose first field is no number is
  // a header. The file is data from elsewhere: only a regular file is read
  // (a folder, a pipe or a device is refused: a pipe could keep the run
  // waiting, /dev/zero would never end), a line of at most kMaxLineBytes,
  // at most kMaxVectorLength outputs, and every row is counted against the
  // memory budget as it is read.
  void readDataFile(const std::string& file, int modelLine, SourceSpec& s) {
    s.path = file;
    std::ifstream in;
    std::string why = openRegularFile(file, in, true);
    if (!why.empty()) {
      mistake(modelLine, "cannot read the data file " + file + ": " + why);
      return;
    }
    std::string line;
    int lineNo = 0;
    size_t columns = 0;
    bool first = true, tooLong = false;
    const size_t kMaxValues = size_t(1) << 24;
    std::vector<double> row;
    while (readLine(in, line, kMaxLineBytes, tooLong)) {
      ++lineNo;
      if (tooLong) {
        mistakeIn(file, lineNo, modelLine, "the line is longer than " + std::to_string(kMaxLineBytes >> 20) + " MiB");
        return;
      }
      if (!line.empty() && line.back() == '\r') line.pop_back();
      size_t b = line.find_first_not_of(" \t");
      if (b == std::string::npos || line[b] == '#') continue;
      // The fields, parsed one by one; a first row that does not start with
      // a number is a header.
      row.clear();
      size_t fieldCount = 0;
      std::string bad;
      for (size_t at = 0;;) {
        size_t comma = line.find(',', at);
        size_t end = comma == std::string::npos ? line.size() : comma;
        if (++fieldCount > static_cast<size_t>(kMaxVectorLength) + 1) {
          mistakeIn(file, lineNo, modelLine,
                    "the row has more than " + std::to_string(kMaxVectorLength) + " values, more than the host allocates");
          return;
        }
        size_t fb = line.find_first_not_of(" \t", at);
        size_t fe = line.find_last_not_of(" \t", end == 0 ? 0 : end - 1);
        std::string f = fb == std::string::npos || fb >= end || fe < fb ? std::string() : line.substr(fb, fe - fb + 1);
        double v = 0.0;
        if (bad.empty() && !parseNumber(f, v)) bad = f.empty() ? std::string("''") : "'" + f + "'";
        if (bad.empty()) row.push_back(v);
        if (comma == std::string::npos) break;
        at = comma + 1;
      }
      if (first && row.empty()) {
        first = false;
        continue;  // header
      }
      first = false;
      if (columns == 0) {
        columns = fieldCount;
        if (columns < 2) {
          mistakeIn(file, lineNo, modelLine, "a row needs a time and at least one value");
          return;
        }
      } else if (fieldCount != columns) {
        mistakeIn(file, lineNo, modelLine,
                  "the row has " + std::to_string(fieldCount) + " fields, the first row " + std::to_string(columns));
        return;
      }
      if (!bad.empty()) {
        mistakeIn(file, lineNo, modelLine, bad + " is no number");
        return;
      }
      if (!isfinite(row[0])) {
        mistakeIn(file, lineNo, modelLine, "the time must be finite");
        return;
      }
      if (!s.times.empty() && row[0] < s.times.back()) {
        mistakeIn(file, lineNo, modelLine, "the times must not decrease");
        return;
      }
      if (s.rows.size() + columns > kMaxValues) {
        mistakeIn(file, lineNo, modelLine, "the data file has more than 2^24 values");
        return;
      }
      // The row, and (with the first row) the source's outputs.
      if (!charge(modelLine, "the data file " + file, 8 * columns * (s.times.empty() ? 2 : 1))) return;
      s.times.push_back(row[0]);
      s.rows.insert(s.rows.end(), row.begin() + 1, row.end());
    }
    if (s.times.empty()) {
      mistake(modelLine, "the data file " + file + " has no rows");
      return;
    }
    s.outputs = static_cast<int>(columns - 1);
  }

  // A block that writes a file named by a parameter may only write inside
  // the folder the run was started in: a model from someone else must not
  // reach a shell start-up file or anything else of the user's.
  void checkFileName(const BlockSpec& b, size_t k, int line) {
    const FileParameter* fp = fileParameter(b.plugin, k);
    if (fp == nullptr) return;
    const axArray* a = b.params.back().get();
    if (axGetClassID(a) != axCHAR_CLASS) return;  // the block refuses it itself
    // The name as the block reads it: up to the first zero code, at most
    // fp->maxChars characters.
    std::string full;
    for (int i = 0; i < axGetNumberOfElements(a); ++i) {
      const unsigned char c = axCharCode(axGetPr(a)[i]);
      if (c == 0) break;
      full += static_cast<char>(c);
    }
    const std::string used = full.substr(0, fp->maxChars);
    const std::string who = "block '" + b.name + "' (" + b.plugin + ")";
    if (used.size() < full.size())
      m_.warnings.push_back(m_.where(line) + "warning: " + who + ": the file name '" + full + "' is longer than " +
                            std::to_string(fp->maxChars) + " characters; the data go to '" + used + "'");
    if (writeAnywhere_ || used.empty()) return;
    std::string why = outsideRunFolder(used);
    if (!why.empty())
      mistake(line, who + " would write '" + used + "', " + why +
                        " (--allow-outside-writes lets blocks write anywhere)");
  }
  void readOutput(const toml::table& out) {
    for (auto&& [key, value] : out) {
      std::string k(key.str());
      if (k != "signals") {
        mistake(static_cast<int>(key.source().begin.line), "unknown key '" + k + "' in [output] (signals)");
        continue;
      }
      m_.signalsGiven = true;
      m_.signalsLine = lineOf(value);
      const toml::array* a = value.as_array();
      if (a == nullptr) {
        mistake(m_.signalsLine, "signals must be an array of block names");
        continue;
      }
      for (const toml::node& n : *a) refList(n, m_.signals);
    }
  }

  void checkRef(SignalRef& r) {
    r.source = m_.find(r.block);
    if (r.source < 0) {
      mistake(r.line, "no block '" + r.block + "'" + (r.text == r.block ? std::string() : " (in '" + r.text + "')"));
      return;
    }
    const BlockSpec& src = m_.blocks[static_cast<size_t>(r.source)];
    // A source's width is known now; a plug-in's once it is sized.
    if (src.isSource && !r.whole && r.end > src.source.outputs)
      mistake(r.line, "'" + r.text + "' reaches beyond the " + std::to_string(src.source.outputs) +
                          " output(s) of '" + src.name + "'");
  }

  void resolveReferences() {
    for (BlockSpec& b : m_.blocks)
      for (std::vector<SignalRef>& entry : b.inputs)
        for (SignalRef& r : entry) checkRef(r);
    for (SignalRef& r : m_.signals) checkRef(r);
  }

  // Counts what a block or source asks the host to hold; the first request
  // beyond the budget is reported (naming it) and nothing more is made.
  bool charge(int line, const std::string& who, uint64_t bytes) {
    if (budgetSpent_) return false;
    if (budget_.take(bytes)) return true;
    budgetSpent_ = true;
    mistake(line, who + " needs " + MemoryBudget::mebibytes(bytes) + " MiB, more than is left of " + budget_.describe());
    return false;
  }

  Model& m_;
  std::string pluginDir_;
  bool writeAnywhere_ = false;
  MemoryBudget budget_;
  bool budgetSpent_ = false;
  bool stepGiven_ = false;
  std::vector<std::pair<int, std::string>> mistakes_;
};

}  // namespace

bool parseSignalRef(const std::string& text, SignalRef& ref, std::string& why) {
  ref.text = text;
  size_t open = text.find('[');
  ref.block = text.substr(0, open);
  if (!validName(ref.block)) {
    why = "'" + text + "' is no reference (\"name\", \"name[i]\" or \"name[i:j]\")";
    return false;
  }
  if (open == std::string::npos) {
    ref.whole = true;
    return true;
  }
  if (text.back() != ']') {
    why = "'" + text + "' is no reference (\"name\", \"name[i]\" or \"name[i:j]\")";
    return false;
  }
  std::string inside = text.substr(open + 1, text.size() - open - 2);
  size_t colon = inside.find(':');
  ref.whole = false;
  if (colon == std::string::npos) {
    if (!parseIndex(inside, ref.begin)) {
      why = "'" + text + "': the index must be a whole number from 0";
      return false;
    }
    ref.end = ref.begin + 1;
    return true;
  }
  if (!parseIndex(inside.substr(0, colon), ref.begin) || !parseIndex(inside.substr(colon + 1), ref.end)) {
    why = "'" + text + "': a range is written [i:j] with whole numbers from 0";
    return false;
  }
  if (ref.end <= ref.begin) {
    why = "'" + text + "': the range [i:j] needs j greater than i";
    return false;
  }
  return true;
}

bool readModelText(const std::string& text, const std::string& path, const ReadOptions& options, Model& model,
                   std::vector<std::string>& mistakes) {
  model = Model();
  model.path = path;
  size_t slash = path.rfind('/');
  model.dir = slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
  size_t bad = 0;
  if (!tomlTextIsSafe(text, bad)) {
    const int line = 1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(bad), '\n'));
    mistakes.push_back(model.where(line) + kTomlTextRefused);
    return false;
  }
  toml::table doc;
  try {
    doc = parseToml(text, path);
  } catch (const toml::parse_error& e) {
    const toml::source_position at = e.source().begin;
    std::string what(e.description());
    // A string left open runs into the line feed that ends its line, which
    // the parser reports as a control character.
    if (what.find("control characters") != std::string::npos) {
      size_t lineStart = 0;
      for (uint32_t l = 1; l < at.line && lineStart != std::string::npos; ++l) {
        lineStart = text.find('\n', lineStart);
        if (lineStart != std::string::npos) ++lineStart;
      }
      const size_t offset = lineStart == std::string::npos ? text.size() : lineStart + at.column - 1;
      if (offset >= text.size() || text[offset] == '\n' || text[offset] == '\r')
        what = "a string is not closed on its line (a closing quote is missing)";
    }
    mistakes.push_back(model.where(static_cast<int>(at.line)) + what);
    return false;
  }
  model.textLines = 1 + static_cast<int>(std::count(text.begin(), text.end(), '\n'));
  model.sets = options.sets;
  if (!applySets(doc, options.sets, model.textLines + 1, mistakes)) return false;
  Reader reader(model, options);
  reader.read(doc);
  return reader.finish(mistakes);
}

std::string readTomlFile(const std::string& path, std::string& text) {
  std::ifstream in;
  std::string why = openRegularFile(path, in);
  if (!why.empty()) return why;
  text.clear();
  char chunk[1 << 16];
  while (text.size() <= kMaxModelBytes && in.read(chunk, sizeof chunk).gcount() > 0)
    text.append(chunk, static_cast<size_t>(in.gcount()));
  if (in.bad()) return "cannot read it";
  if (text.size() > kMaxModelBytes)
    return "larger than " + std::to_string(kMaxModelBytes >> 20) + " MiB (data belong in data files)";
  return std::string();
}

bool readModel(const std::string& path, const ReadOptions& options, Model& model,
               std::vector<std::string>& mistakes) {
  std::string text;
  std::string why = readTomlFile(path, text);
  if (!why.empty()) {
    mistakes.push_back(path + ": cannot read the model file: " + why);
    return false;
  }
  return readModelText(text, path, options, model, mistakes);
}

}  // namespace blocksim

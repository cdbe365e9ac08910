#include "model.h"

#include <math.h>
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

// Collects the mistakes of one model, each tied to a model line so that they
// can be listed in file order.
class Reader {
 public:
  Reader(Model& model, const std::string& pluginDir) : m_(model), pluginDir_(pluginDir) {}

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
          mistake(line, "solver must be \"euler\" or \"rk4\"");
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
      if (b.plugin.find('/') != std::string::npos) {
        b.pluginPath = joinPath(m_.dir, b.plugin);
      } else if (validName(b.plugin)) {
        b.pluginPath = (pluginDir_.empty() ? std::string(".") : pluginDir_) + "/" + b.plugin + ".plgglx";
      } else {
        mistake(b.pluginLine, "plugin '" + b.plugin + "' is no plug-in name (or a path with '/')");
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
          std::string why;
          axArray* a = arrayFromToml(p, why);
          ++k;
          if (a == nullptr)
            mistake(lineOf(p), "parameter " + std::to_string(k) + ": " + why);
          else
            b.params.emplace_back(a);
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
        if (!finiteNumber(value, k, v)) continue;
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
    if (s.kind == SourceKind::Pulse && t.contains("period")) {
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
  // a header.
  void readDataFile(const std::string& file, int modelLine, SourceSpec& s) {
    s.path = file;
    std::ifstream in(file);
    if (!in) {
      mistake(modelLine, "cannot read the data file " + file);
      return;
    }
    std::string line;
    int lineNo = 0;
    size_t columns = 0;
    bool first = true;
    const size_t kMaxValues = size_t(1) << 24;
    while (std::getline(in, line)) {
      ++lineNo;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      size_t b = line.find_first_not_of(" \t");
      if (b == std::string::npos || line[b] == '#') continue;
      std::vector<std::string> fields;
      std::stringstream ss(line);
      std::string f;
      while (std::getline(ss, f, ',')) {
        size_t fb = f.find_first_not_of(" \t"), fe = f.find_last_not_of(" \t");
        fields.push_back(fb == std::string::npos ? std::string() : f.substr(fb, fe - fb + 1));
      }
      if (!line.empty() && line.back() == ',') fields.push_back(std::string());
      double t;
      if (first && !parseNumber(fields[0], t)) {
        first = false;
        continue;  // header
      }
      first = false;
      if (columns == 0) {
        columns = fields.size();
        if (columns < 2) {
          mistakeIn(file, lineNo, modelLine, "a row needs a time and at least one value");
          return;
        }
      } else if (fields.size() != columns) {
        mistakeIn(file, lineNo, modelLine,
                  "the row has " + std::to_string(fields.size()) + " fields, the first row " +
                      std::to_string(columns));
        return;
      }
      std::vector<double> row(columns);
      for (size_t c = 0; c < columns; ++c) {
        if (!parseNumber(fields[c], row[c])) {
          mistakeIn(file, lineNo, modelLine, "'" + fields[c] + "' is no number");
          return;
        }
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
      s.times.push_back(row[0]);
      s.rows.insert(s.rows.end(), row.begin() + 1, row.end());
    }
    if (s.times.empty()) {
      mistake(modelLine, "the data file " + file + " has no rows");
      return;
    }
    s.outputs = static_cast<int>(columns - 1);
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
      mistake(r.line, "no block '" + r.block + "' (in '" + r.text + "')");
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

  Model& m_;
  std::string pluginDir_;
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

bool readModelText(const std::string& text, const std::string& path, const std::string& pluginDir,
                   Model& model, std::vector<std::string>& mistakes, const std::vector<std::string>& sets) {
  model = Model();
  model.path = path;
  size_t slash = path.rfind('/');
  model.dir = slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
  size_t bad = 0;
  if (!tomlTextIsSafe(text, bad)) {
    const int line = 1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(bad), '\n'));
    mistakes.push_back(model.where(line) + "a character other than ASCII outside a string or comment");
    return false;
  }
  toml::parse_result doc = toml::parse(std::string_view(text), std::string_view(path));
  if (!doc) {
    mistakes.push_back(model.where(static_cast<int>(doc.error().source().begin.line)) +
                       std::string(doc.error().description()));
    return false;
  }
  model.textLines = 1 + static_cast<int>(std::count(text.begin(), text.end(), '\n'));
  model.sets = sets;
  if (!applySets(doc.table(), sets, model.textLines + 1, mistakes)) return false;
  Reader reader(model, pluginDir);
  reader.read(doc.table());
  return reader.finish(mistakes);
}

bool readModel(const std::string& path, const std::string& pluginDir, Model& model,
               std::vector<std::string>& mistakes, const std::vector<std::string>& sets) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    mistakes.push_back(path + ": cannot read the model file");
    return false;
  }
  std::stringstream text;
  text << in.rdbuf();
  return readModelText(text.str(), path, pluginDir, model, mistakes, sets);
}

}  // namespace blocksim

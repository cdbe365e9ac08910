#include "study.h"

#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "instance.h"
#include "model.h"
#include "overrides.h"
#include "values.h"
#include "values_toml.h"

namespace blocksim {

namespace {

// A study or model file, held to the bounds of a model file.
bool readText(const std::string& path, std::string& text) { return readTomlFile(path, text).empty(); }

int lineOf(const toml::node& n) { return static_cast<int>(n.source().begin.line); }

uint64_t fnv1a(uint64_t h, const std::string& s) {
  for (char c : s) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ull;
  }
  return h;
}

// A number rounded to 15 significant digits: range values computed as
// from + i*step read as the decimals they are meant to be (0.3, not
// 0.30000000000000004).
double rounded(double v) {
  char buf[40];
  snprintf(buf, sizeof buf, "%.15g", v);
  return strtod(buf, nullptr);
}

// A value of the study as a TOML text and a plain number: integers stay
// integers, other numbers are written in their shortest exact form.
struct Number {
  bool integer = false;
  int64_t i = 0;
  double d = 0.0;
  std::string text() const { return integer ? std::to_string(i) : formatNumber(d); }
};

bool numberOf(const toml::node& n, Number& out) {
  if (auto i = n.as_integer()) {
    out.integer = true;
    out.i = i->get();
    out.d = static_cast<double>(out.i);
    return true;
  }
  if (auto f = n.as_floating_point()) {
    out.integer = false;
    out.d = f->get();
    return true;
  }
  return false;
}

// A number or an array of numbers (or of such arrays) as TOML text.
bool valueText(const toml::node& n, std::string& out) {
  Number num;
  if (numberOf(n, num)) {
    out += num.text();
    return true;
  }
  const toml::array* a = n.as_array();
  if (a == nullptr) return false;
  out += '[';
  for (size_t i = 0; i < a->size(); ++i) {
    if (i > 0) out += ", ";
    if (!valueText(*a->get(i), out)) return false;
  }
  out += ']';
  return true;
}

class StudyReader {
 public:
  StudyReader(Study& s, std::vector<std::string>& mistakes) : s_(s), mistakes_(mistakes) {}

  void mistake(int line, const std::string& what) {
    mistakes_.push_back(s_.path + ":" + std::to_string(line) + ": " + what);
  }

  void read(const toml::table& doc) {
    const toml::node* model = nullptr;
    const toml::node* vary = nullptr;
    const toml::node* seeds = nullptr;
    const toml::node* stats = nullptr;
    for (auto&& [key, value] : doc) {
      std::string k(key.str());
      int line = static_cast<int>(key.source().begin.line);
      if (k == "model") {
        model = &value;
      } else if (k == "stop_time") {
        s_.hasStop = number(value, "stop_time", s_.stop) && atLeast(value, "stop_time", s_.stop, 0.0, 1e300);
      } else if (k == "time_limit") {
        s_.hasTimeLimit =
            number(value, "time_limit", s_.timeLimit) && atLeast(value, "time_limit", s_.timeLimit, 1e-3, 1e6);
      } else if (k == "vary") {
        vary = &value;
      } else if (k == "seeds") {
        seeds = &value;
      } else if (k == "statistics") {
        stats = &value;
      } else {
        mistake(line, "unknown key '" + k + "' (model, stop_time, time_limit, vary, seeds, statistics)");
      }
    }
    if (model == nullptr) {
      mistake(1, "the study names no model (model = \"FILE.toml\")");
      return;
    }
    if (!readModel(*model)) return;
    if (vary != nullptr) {
      const toml::array* a = vary->as_array();
      if (a == nullptr || !a->is_array_of_tables())
        mistake(lineOf(*vary), "the values to vary are written as [[vary]] tables");
      else
        for (const toml::node& v : *a) readAxis(*v.as_table());
    }
    if (seeds != nullptr) readSeeds(*seeds);
    if (stats == nullptr)
      mistake(1, "the study collects no statistics ([statistics] signals = [\"NAME[i]\"])");
    else
      readStats(*stats);
    checkColumns();
    if (s_.points() > kMaxPoints)
      mistake(1, "the study has more than " + std::to_string(kMaxPoints) + " points");
  }

 private:
  bool number(const toml::node& n, const std::string& what, double& out) {
    Number num;
    if (!numberOf(n, num)) {
      mistake(lineOf(n), what + " must be a number");
      return false;
    }
    out = num.d;
    return true;
  }

  bool atLeast(const toml::node& n, const std::string& what, double v, double lo, double hi) {
    if (v >= lo && v <= hi) return true;
    mistake(lineOf(n), what + " must be from " + formatNumber(lo) + " to " + formatNumber(hi));
    return false;
  }

  bool integer(const toml::node& n, const std::string& what, int64_t lo, int64_t hi, int64_t& out) {
    auto i = n.as_integer();
    if (i == nullptr || i->get() < lo || i->get() > hi) {
      mistake(lineOf(n), what + " must be a whole number from " + std::to_string(lo) + " to " + std::to_string(hi));
      return false;
    }
    out = i->get();
    return true;
  }

  bool readModel(const toml::node& n) {
    const toml::value<std::string>* p = n.as_string();
    if (p == nullptr || p->get().empty()) {
      mistake(lineOf(n), "model must be the path of a model file");
      return false;
    }
    s_.modelPath = p->get();
    std::string file = s_.modelPath;
    if (file[0] != '/') {
      size_t slash = s_.path.rfind('/');
      if (slash != std::string::npos) file = s_.path.substr(0, slash + 1) + file;
    }
    char resolved[PATH_MAX];
    std::string text;
    if (realpath(file.c_str(), resolved) == nullptr || !readText(resolved, text)) {
      mistake(lineOf(n), "cannot read the model " + file);
      return false;
    }
    s_.modelFile = resolved;
    modelText_ = text;
    size_t bad = 0;
    if (!tomlTextIsSafe(text, bad)) {
      mistakes_.push_back(s_.modelPath + ": " + kTomlTextRefused);
      return false;
    }
    try {
      model_ = parseToml(text, s_.modelPath);
    } catch (const toml::parse_error& e) {
      mistakes_.push_back(s_.modelPath + ":" + std::to_string(e.source().begin.line) + ": " +
                          std::string(e.description()));
      return false;
    }
    return true;
  }

  // A --set target of the model: "NAME.params[K]" or "NAME.KEY". The node it
  // names now (null for a source key not written) goes to node.
  bool target(const toml::node& n, std::string& out, const toml::node** node = nullptr) {
    const toml::value<std::string>* t = n.as_string();
    if (t == nullptr) {
      mistake(lineOf(n), "a target must be a string \"NAME.params[K]\" or \"NAME.KEY\"");
      return false;
    }
    return target(t->get(), lineOf(n), out, node);
  }

  bool target(const std::string& text, int line, std::string& out, const toml::node** node = nullptr) {
    out = text;
    SetTarget parsed;
    std::string value, why;
    const toml::node* found = nullptr;
    if (!parseSet(out + "=0", parsed, value, why) || !findTarget(model_, parsed, found, why)) {
      mistake(line, "'" + out + "': " + why);
      return false;
    }
    if (std::find(targets_.begin(), targets_.end(), out) != targets_.end()) {
      mistake(line, "'" + out + "' is set twice in the study");
      return false;
    }
    targets_.push_back(out);
    if (node != nullptr) *node = found;
    return true;
  }

  void readAxis(const toml::table& t) {
    Axis axis;
    const toml::node* set = nullptr;
    const toml::node* values = nullptr;
    for (auto&& [key, value] : t) {
      std::string k(key.str());
      if (k == "name") {
        if (auto n = value.as_string()) axis.name = n->get();
        // The name heads a column and titles the plot: one line of plain text.
        bool plain = !axis.name.empty() && axis.name.size() <= 200;
        for (char c : axis.name) plain = plain && c >= 0x20 && c <= 0x7e;
        if (!plain) mistake(lineOf(value), "name must be 1 to 200 printable ASCII characters");
      } else if (k == "set") {
        set = &value;
      } else if (k == "values") {
        values = &value;
      } else {
        mistake(static_cast<int>(key.source().begin.line), "unknown key '" + k + "' in [[vary]] (name, set, values)");
      }
    }
    if (set == nullptr || values == nullptr) {
      mistake(lineOf(t), "a [[vary]] needs set and values");
      return;
    }
    std::vector<Number> numbers;
    if (!readValues(*values, numbers)) return;
    for (const Number& v : numbers) {
      axis.numbers.push_back(v.d);
      axis.cells.push_back(v.text());
    }
    if (set->as_string() != nullptr) {
      // The values themselves are set.
      std::string name;
      if (!target(*set, name)) return;
      axis.targets.push_back(name);
      axis.texts.push_back(axis.cells);
      if (axis.name.empty()) axis.name = name;
    } else if (const toml::table* joint = set->as_table()) {
      // Several model values varied together, one list each.
      if (axis.name.empty()) mistake(lineOf(t), "a [[vary]] that sets several values needs a name for its column");
      if (joint->empty()) mistake(lineOf(*set), "set names no value to vary");
      for (auto&& [key, list] : *joint) {
        std::string name;
        if (!target(std::string(key.str()), static_cast<int>(key.source().begin.line), name)) continue;
        const toml::array* a = list.as_array();
        if (a == nullptr || a->size() != numbers.size()) {
          mistake(lineOf(list), "'" + name + "' needs a list of " + std::to_string(numbers.size()) +
                                    " values, one for each of values");
          continue;
        }
        std::vector<std::string> texts;
        for (const toml::node& e : *a) {
          std::string text;
          if (!valueText(e, text)) {
            mistake(lineOf(e), "the values of '" + name + "' must be numbers or arrays of numbers");
            break;
          }
          texts.push_back(text);
        }
        if (texts.size() != numbers.size()) continue;
        axis.targets.push_back(name);
        axis.texts.push_back(std::move(texts));
      }
    } else {
      mistake(lineOf(*set), "set must be a target \"NAME.params[K]\" or a table of targets and their lists");
      return;
    }
    s_.axes.push_back(std::move(axis));
  }

  // values = [numbers] or a range { from, to, step } / { from, to, count }.
  bool readValues(const toml::node& n, std::vector<Number>& out) {
    if (const toml::array* a = n.as_array()) {
      for (const toml::node& e : *a) {
        Number v;
        if (!numberOf(e, v)) {
          mistake(lineOf(e), "values must be numbers (arrays go in a set table)");
          return false;
        }
        out.push_back(v);
      }
      if (out.empty() || out.size() > kMaxPoints) {
        mistake(lineOf(n), "values must list 1 to " + std::to_string(kMaxPoints) + " numbers");
        return false;
      }
      return true;
    }
    const toml::table* r = n.as_table();
    if (r == nullptr) {
      mistake(lineOf(n), "values must be a list of numbers or a range { from, to, step } or { from, to, count }");
      return false;
    }
    Number from, to, step;
    int64_t count = 0;
    bool ok = true;
    for (auto&& [key, value] : *r) {
      std::string k(key.str());
      if (k != "from" && k != "to" && k != "step" && k != "count") {
        mistake(lineOf(value), "unknown key '" + k + "' in a range (from, to, step, count)");
        ok = false;
      }
    }
    const toml::node *f = r->get("from"), *t = r->get("to"), *s = r->get("step"), *c = r->get("count");
    if (f == nullptr || t == nullptr || (s == nullptr) == (c == nullptr)) {
      mistake(lineOf(n), "a range needs from, to and either step or count");
      return false;
    }
    if (!numberOf(*f, from) || !numberOf(*t, to) || !isfinite(from.d) || !isfinite(to.d)) {
      mistake(lineOf(n), "from and to of a range must be finite numbers");
      return false;
    }
    if (!ok) return false;
    if (c != nullptr) {
      if (!integer(*c, "count", 1, static_cast<int64_t>(kMaxPoints), count)) return false;
      for (int64_t i = 0; i < count; ++i) {
        Number v;
        v.d = i == count - 1 ? to.d : rounded(from.d + (to.d - from.d) * static_cast<double>(i) / static_cast<double>(count - 1));
        if (count == 1) v.d = from.d;
        out.push_back(v);
      }
      return true;
    }
    if (!numberOf(*s, step) || !(step.d > 0.0) || !isfinite(step.d) || !(to.d >= from.d)) {
      mistake(lineOf(*s), "a range needs a finite step greater than 0 and to at least from");
      return false;
    }
    const double steps = floor((to.d - from.d) / step.d + 1e-9);
    if (!(steps < static_cast<double>(kMaxPoints))) {
      mistake(lineOf(n), "the range has more than " + std::to_string(kMaxPoints) + " values");
      return false;
    }
    const bool integers = from.integer && step.integer;
    for (int64_t i = 0; i <= static_cast<int64_t>(steps); ++i) {
      Number v;
      v.integer = integers;
      v.i = integers ? from.i + i * step.i : 0;
      v.d = integers ? static_cast<double>(v.i) : rounded(from.d + static_cast<double>(i) * step.d);
      out.push_back(v);
    }
    return true;
  }

  void readSeeds(const toml::node& n) {
    const toml::table* t = n.as_table();
    if (t == nullptr) {
      mistake(lineOf(n), "seeds must be a table ([seeds])");
      return;
    }
    Seeds& seeds = s_.seeds;
    const toml::node* set = nullptr;
    for (auto&& [key, value] : *t) {
      std::string k(key.str());
      if (k == "set") {
        set = &value;
      } else if (k == "first") {
        integer(value, "first", -(int64_t(1) << 53), int64_t(1) << 53, seeds.first);
      } else if (k == "count") {
        integer(value, "count", 1, static_cast<int64_t>(kMaxPoints), seeds.count);
      } else {
        mistake(static_cast<int>(key.source().begin.line), "unknown key '" + k + "' in [seeds] (set, first, count)");
      }
    }
    const toml::array* list = set == nullptr ? nullptr : set->as_array();
    if (list == nullptr || list->empty()) {
      mistake(lineOf(*t), "[seeds] needs set, a list of the seed parameters (\"NAME.params[K]\")");
      return;
    }
    size_t elements = 0;
    for (const toml::node& e : *list) {
      std::string name;
      const toml::node* now = nullptr;
      if (!target(e, name, &now)) continue;
      // The seed parameter keeps its shape: a number or a row of numbers.
      size_t width = 0;
      Number dummy;
      const toml::array* row = now == nullptr ? nullptr : now->as_array();
      bool ok = now == nullptr || numberOf(*now, dummy);
      if (row != nullptr) {
        ok = !row->empty();
        for (const toml::node& x : *row) ok = ok && numberOf(x, dummy);
        width = row->size();
      }
      if (!ok) {
        mistake(lineOf(e), "'" + name + "' must be a number or a row of numbers in the model to take seeds");
        continue;
      }
      seeds.targets.push_back(name);
      seeds.widths.push_back(width);
      elements += std::max<size_t>(width, 1);
    }
    // Every seed is exact as a double.
    if (static_cast<double>(seeds.first) + static_cast<double>(seeds.count) * static_cast<double>(elements) >
        9007199254740992.0)
      mistake(lineOf(*t), "the seeds reach beyond 2^53");
    seeds.given = true;
  }

  void readStats(const toml::node& n) {
    const toml::table* t = n.as_table();
    if (t == nullptr) {
      mistake(lineOf(n), "statistics must be a table ([statistics])");
      return;
    }
    StatSpec& spec = s_.stats;
    bool collectGiven = false;
    for (auto&& [key, value] : *t) {
      std::string k(key.str());
      if (k == "signals") {
        const toml::array* a = value.as_array();
        if (a == nullptr || a->empty()) {
          mistake(lineOf(value), "signals must list the signals, each one output \"NAME[i]\"");
          continue;
        }
        for (const toml::node& e : *a) signal(e);
      } else if (k == "collect") {
        collectGiven = true;
        const toml::array* a = value.as_array();
        if (a == nullptr || a->empty()) {
          mistake(lineOf(value), "collect must list statistics (final, mean, mean_square, min, max)");
          continue;
        }
        for (const toml::node& e : *a) {
          Stat s;
          auto name = e.value<std::string>();
          if (!name || !statFromName(*name, s)) {
            mistake(lineOf(e), "unknown statistic (final, mean, mean_square, min, max)");
          } else if (std::find(spec.stats.begin(), spec.stats.end(), s) != spec.stats.end()) {
            mistake(lineOf(e), "statistic '" + *name + "' is listed twice");
          } else {
            spec.stats.push_back(s);
          }
        }
      } else if (k == "settle") {
        spec.hasSettle = number(value, "settle", spec.settle) && atLeast(value, "settle", spec.settle, -1e300, 1e300);
      } else {
        mistake(static_cast<int>(key.source().begin.line),
                "unknown key '" + k + "' in [statistics] (signals, collect, settle)");
      }
    }
    if (spec.signals.empty() && !t->contains("signals")) mistake(lineOf(*t), "[statistics] needs signals");
    if (!collectGiven)
      for (int i = 0; i < kStatCount; ++i) spec.stats.push_back(static_cast<Stat>(i));
  }

  // One logged output "NAME[i]", written as the run's CSV heads its column.
  void signal(const toml::node& e) {
    auto text = e.value<std::string>();
    SignalRef ref;
    std::string why;
    if (!text || !parseSignalRef(*text, ref, why) || ref.whole || ref.end != ref.begin + 1) {
      mistake(lineOf(e), "a signal is one output of a block, written \"NAME[i]\"");
      return;
    }
    bool known = false;
    if (const toml::array* blocks = model_["block"].as_array())
      for (const toml::node& b : *blocks)
        if (const toml::table* bt = b.as_table()) known = known || (*bt)["name"].value<std::string>() == ref.block;
    if (!known) {
      mistake(lineOf(e), "no block '" + ref.block + "' in the model");
      return;
    }
    s_.stats.signals.push_back(ref.block + "[" + std::to_string(ref.begin) + "]");
  }

  void checkColumns() {
    std::vector<std::string> names = {"point", "seed", "status", "message"};
    for (const Axis& a : s_.axes) {
      if (std::find(names.begin(), names.end(), a.name) != names.end())
        mistake(1, "two columns of the table would be named '" + a.name + "'");
      names.push_back(a.name);
    }
  }

  Study& s_;
  std::vector<std::string>& mistakes_;
  toml::table model_;
  std::string modelText_;
  std::vector<std::string> targets_;

 public:
  const std::string& modelText() const { return modelText_; }
};

}  // namespace

size_t Study::points() const {
  size_t n = static_cast<size_t>(seeds.count);
  for (const Axis& a : axes) {
    if (a.cells.empty() || n > kMaxPoints) return kMaxPoints + 1;
    n *= a.cells.size();
  }
  return n;
}

void Study::decompose(size_t k, std::vector<size_t>& valueIndex, int64_t& repetition) const {
  repetition = static_cast<int64_t>(k % static_cast<size_t>(seeds.count));
  k /= static_cast<size_t>(seeds.count);
  valueIndex.assign(axes.size(), 0);
  for (size_t a = axes.size(); a-- > 0;) {
    valueIndex[a] = k % axes[a].cells.size();
    k /= axes[a].cells.size();
  }
}

std::vector<std::string> Study::sets(size_t k) const {
  std::vector<size_t> index;
  int64_t repetition;
  decompose(k, index, repetition);
  std::vector<std::string> out;
  for (size_t a = 0; a < axes.size(); ++a)
    for (size_t t = 0; t < axes[a].targets.size(); ++t)
      out.push_back(axes[a].targets[t] + "=" + axes[a].texts[t][index[a]]);
  if (!seeds.given) return out;
  const int64_t seed = seeds.first + repetition;
  int64_t element = 0;
  for (size_t t = 0; t < seeds.targets.size(); ++t) {
    std::string text;
    if (seeds.widths[t] == 0) text = std::to_string(seed + element++ * seeds.count);
    for (size_t j = 0; j < seeds.widths[t]; ++j)
      text += (j == 0 ? "[" : ", ") + std::to_string(seed + element++ * seeds.count);
    if (seeds.widths[t] > 0) text += "]";
    out.push_back(seeds.targets[t] + "=" + text);
  }
  return out;
}

std::string Study::header() const {
  std::string h = "point";
  for (const Axis& a : axes) h += "," + csvField(a.name);
  if (seeds.given) h += ",seed";
  for (const std::string& s : stats.signals)
    for (Stat st : stats.stats) h += "," + csvField(s + "." + statName(st));
  return h + ",status,message";
}

std::string Study::leadingCells(size_t k) const {
  std::vector<size_t> index;
  int64_t repetition;
  decompose(k, index, repetition);
  std::string row = std::to_string(k);
  for (size_t a = 0; a < axes.size(); ++a) row += "," + axes[a].cells[index[a]];
  if (seeds.given) row += "," + std::to_string(seeds.first + repetition);
  return row;
}

std::string csvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

bool readStudy(const std::string& path, Study& study, std::vector<std::string>& mistakes) {
  study = Study();
  study.path = path;
  size_t slash = path.rfind('/');
  study.name = path.substr(slash == std::string::npos ? 0 : slash + 1);
  if (study.name.size() > 5 && study.name.compare(study.name.size() - 5, 5, ".toml") == 0)
    study.name.resize(study.name.size() - 5);
  std::string text;
  if (!readText(path, text)) {
    mistakes.push_back(path + ": cannot read the study file");
    return false;
  }
  size_t bad = 0;
  if (!tomlTextIsSafe(text, bad)) {
    const int line = 1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(bad), '\n'));
    mistakes.push_back(path + ":" + std::to_string(line) + ": " + kTomlTextRefused);
    return false;
  }
  toml::table doc;
  try {
    doc = parseToml(text, path);
  } catch (const toml::parse_error& e) {
    mistakes.push_back(path + ":" + std::to_string(e.source().begin.line) + ": " + std::string(e.description()));
    return false;
  }
  const size_t before = mistakes.size();
  StudyReader reader(study, mistakes);
  reader.read(doc);
  study.fingerprint = fnv1a(fnv1a(14695981039346656037ull, text) ^ 0x5a, reader.modelText());
  return mistakes.size() == before;
}

}  // namespace blocksim

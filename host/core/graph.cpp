#include "graph.h"

#include <math.h>

#include <algorithm>

#include "budget.h"
#include "status.h"

namespace blocksim {

const char* sourceName(SourceKind k) {
  switch (k) {
    case SourceKind::Constant: return "constant";
    case SourceKind::Pulse: return "pulse";
    case SourceKind::Step: return "step";
    case SourceKind::Sine: return "sine";
    case SourceKind::Ramp: return "ramp";
    case SourceKind::File: return "file";
  }
  return "source";
}

std::string blockLabel(const BlockSpec& b) {
  if (b.isSource) return "block '" + b.name + "' (" + sourceName(b.source.kind) + " source)";
  return "block '" + b.name + "' (" + b.plugin + ")";
}

bool orderBlocks(const Model& model, const std::vector<bool>& feedthrough, std::vector<int>& order,
                 GraphMistake& mistake) {
  const size_t n = model.blocks.size();
  std::vector<bool> placed(n, false);
  std::vector<std::vector<int>> sources(n);
  for (size_t i = 0; i < n; ++i)
    for (const auto& entry : model.blocks[i].inputs)
      for (const SignalRef& r : entry) sources[i].push_back(r.source);
  auto allPlaced = [&](size_t i) {
    for (int s : sources[i])
      if (!placed[static_cast<size_t>(s)]) return false;
    return true;
  };
  order.clear();
  while (order.size() < n) {
    int pick = -1;
    for (int pass = 0; pass < 3 && pick < 0; ++pass) {
      for (size_t i = 0; i < n && pick < 0; ++i) {
        if (placed[i] || (feedthrough[i] && !allPlaced(i))) continue;
        if ((pass == 0 && sources[i].empty()) || (pass == 1 && allPlaced(i)) || pass == 2) pick = static_cast<int>(i);
      }
    }
    if (pick < 0) {
      // Every block left waits for another one left: walk back along the
      // waits from the first of them until a block repeats.
      size_t start = 0;
      while (placed[start]) ++start;
      std::vector<int> path;
      std::vector<int> seen(n, -1);
      int cur = static_cast<int>(start);
      while (seen[static_cast<size_t>(cur)] < 0) {
        seen[static_cast<size_t>(cur)] = static_cast<int>(path.size());
        path.push_back(cur);
        int next = -1;
        for (int s : sources[static_cast<size_t>(cur)])
          if (!placed[static_cast<size_t>(s)]) {
            next = s;
            break;
          }
        cur = next;
      }
      std::vector<int> cycle(path.begin() + seen[static_cast<size_t>(cur)], path.end());
      std::reverse(cycle.begin(), cycle.end());  // in the direction of the data
      std::rotate(cycle.begin(), std::min_element(cycle.begin(), cycle.end()), cycle.end());
      std::string names;
      for (int b : cycle) names += (names.empty() ? "" : ", ") + model.blocks[static_cast<size_t>(b)].name;
      mistake = {model.blocks[static_cast<size_t>(cycle[0])].line, "algebraic loop through blocks " + names};
      return false;
    }
    placed[static_cast<size_t>(pick)] = true;
    order.push_back(pick);
  }
  return true;
}

int32_t refWidth(const SignalRef& r, const std::vector<int32_t>& outWidth) {
  const int32_t w = outWidth[static_cast<size_t>(r.source)];
  if (w < 0) return -1;
  return r.whole ? w : static_cast<int32_t>(r.end - r.begin);
}

bool refFits(const Model& model, const SignalRef& r, const std::vector<int32_t>& outWidth, GraphMistake& mistake) {
  const int32_t srcWidth = outWidth[static_cast<size_t>(r.source)];
  if (r.whole || r.end <= srcWidth) return true;
  mistake = {r.line, "'" + r.text + "' reaches beyond the " + std::to_string(srcWidth) + " output(s) of '" +
                         model.blocks[static_cast<size_t>(r.source)].name + "'"};
  return false;
}

int settleWidths(const Model& model, const std::vector<int>& order, std::vector<int32_t>& outWidth,
                 std::vector<bool>& settled, const SettleFn& settle, GraphMistake& mistake) {
  bool changed = true;
  while (changed) {
    changed = false;
    for (int b : order) {
      if (settled[static_cast<size_t>(b)]) continue;
      const BlockSpec& spec = model.blocks[static_cast<size_t>(b)];
      std::vector<int32_t> widths;
      int64_t total = 0;
      bool known = true;
      for (const auto& entry : spec.inputs) {
        int64_t w = 0;
        for (const SignalRef& r : entry) {
          const int32_t srcWidth = outWidth[static_cast<size_t>(r.source)];
          if (srcWidth < 0) {
            known = false;
            break;
          }
          if (!refFits(model, r, outWidth, mistake)) return ExitMistake;
          w += refWidth(r, outWidth);
        }
        if (!known) break;
        widths.push_back(static_cast<int32_t>(std::min<int64_t>(w, INT32_MAX)));
        total += w;
      }
      if (!known) continue;
      if (total > kMaxVectorLength) {
        mistake = {spec.inputsLine > 0 ? spec.inputsLine : spec.line,
                   blockLabel(spec) + ": the input width " + std::to_string(total) + " is more than this host allocates"};
        return ExitMistake;
      }
      const int rc = settle(b, widths, total);
      if (rc != ExitOk) return rc;
      settled[static_cast<size_t>(b)] = true;
      changed = true;
    }
  }
  std::string names;
  int line = 0;
  for (int b : order) {
    if (settled[static_cast<size_t>(b)]) continue;
    const BlockSpec& spec = model.blocks[static_cast<size_t>(b)];
    if (line == 0) line = spec.line;
    names += (names.empty() ? "" : ", ") + spec.name;
  }
  if (names.empty()) return ExitOk;
  mistake = {line, "cannot settle the widths of blocks " + names +
                       ": each takes its width from the others (give one of them a fixed width)"};
  return ExitMistake;
}

namespace {

// Whether v is a whole number k of base steps (within the tolerance).
bool stepMultiple(double v, double step, int64_t& k) {
  double q = v / step;
  if (!(fabs(q) < 1e15)) return false;
  double r = nearbyint(q);
  if (fabs(q - r) > kTimeTolerance * std::max(1.0, fabs(r))) return false;
  k = static_cast<int64_t>(r);
  return true;
}

}  // namespace

std::string taskOf(double period, double offset, double step, Task& task) {
  task = Task();
  if (period == -1.0) {
    task.kind = Task::EveryStep;
  } else if (period == 0.0) {
    task.kind = Task::Continuous;
  } else if (period > 0.0 && isfinite(period) && isfinite(offset)) {
    task.kind = Task::Discrete;
    if (!stepMultiple(period, step, task.period) || task.period < 1 || !stepMultiple(offset, step, task.offset))
      return "not a multiple";
  } else {
    return "invalid";
  }
  return std::string();
}

SignalRate combineRates(const std::vector<SignalRef>& refs, const std::vector<SignalRate>& rates,
                        const std::vector<bool>& known) {
  bool continuous = false, constant = false, base = false;
  std::vector<std::pair<double, double>> discrete;
  for (const SignalRef& r : refs) {
    if (!known[static_cast<size_t>(r.source)]) continue;  // behind in a loop
    const SignalRate& src = rates[static_cast<size_t>(r.source)];
    switch (src.kind) {
      case SignalRate::Continuous: continuous = true; break;
      case SignalRate::Constant: constant = true; break;
      case SignalRate::Base: base = true; break;
      case SignalRate::Discrete: {
        std::pair<double, double> d(src.period, src.offset);
        if (std::find(discrete.begin(), discrete.end(), d) == discrete.end()) discrete.push_back(d);
        break;
      }
    }
  }
  SignalRate rate;
  if (continuous) {
    rate.kind = SignalRate::Continuous;
  } else if (discrete.size() == 1 && !base) {
    rate.kind = SignalRate::Discrete;
    rate.period = discrete[0].first;
    rate.offset = discrete[0].second;
  } else if (!discrete.empty() || base) {
    rate.kind = SignalRate::Base;
  } else {
    rate.kind = constant ? SignalRate::Constant : SignalRate::Base;
  }
  return rate;
}

void propagateRates(const Model& model, const std::vector<int>& order, const std::vector<SignalRate>& own,
                    const std::vector<bool>& inherits, std::vector<SignalRate>& rates, std::vector<bool>& known) {
  for (int b : order) {
    const size_t i = static_cast<size_t>(b);
    if (!inherits[i]) {
      rates[i] = own[i];
    } else {
      std::vector<SignalRef> all;
      for (const auto& entry : model.blocks[i].inputs) all.insert(all.end(), entry.begin(), entry.end());
      rates[i] = combineRates(all, rates, known);
    }
    known[i] = true;
  }
}

std::vector<bool> minorStepBlocks(const Model& model, const std::vector<int32_t>& contStates,
                                  const std::vector<SignalRate>& rates) {
  const size_t n = model.blocks.size();
  std::vector<bool> upstream(n, false);
  std::vector<int> work;
  for (size_t i = 0; i < n; ++i)
    if (contStates[i] > 0) {
      upstream[i] = true;
      work.push_back(static_cast<int>(i));
    }
  while (!work.empty()) {
    const int b = work.back();
    work.pop_back();
    for (const auto& entry : model.blocks[static_cast<size_t>(b)].inputs)
      for (const SignalRef& r : entry)
        if (!upstream[static_cast<size_t>(r.source)]) {
          upstream[static_cast<size_t>(r.source)] = true;
          work.push_back(r.source);
        }
  }
  std::vector<bool> minor(n, false);
  for (size_t i = 0; i < n; ++i)
    minor[i] = upstream[i] && (contStates[i] > 0 || rates[i].kind == SignalRate::Continuous);
  return minor;
}

}  // namespace blocksim

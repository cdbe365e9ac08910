// The model graph on its own, from models made in memory: no plug-in is
// loaded. Order and loops, widths, rates and hits.
#include <gtest/gtest.h>

#include <sstream>

#include "graph.h"
#include "status.h"

namespace {

using blocksim::SignalRate;

// A model of blocks given as "name: ref ref ...", each ref one inputs entry
// ("b", "b[1]", "b[0:2]"); a block without inputs is a constant source of
// three outputs, the others plug-in blocks.
blocksim::Model graph(const std::vector<std::string>& lines) {
  blocksim::Model m;
  m.path = "m.toml";
  for (const std::string& l : lines) {
    blocksim::BlockSpec b;
    b.name = l.substr(0, l.find(':'));
    b.line = static_cast<int>(m.blocks.size()) + 1;
    m.blocks.push_back(std::move(b));
  }
  for (size_t i = 0; i < lines.size(); ++i) {
    std::istringstream refs(lines[i].substr(lines[i].find(':') + 1));
    std::string text, why;
    blocksim::BlockSpec& b = m.blocks[i];
    while (refs >> text) {
      blocksim::SignalRef r;
      EXPECT_TRUE(blocksim::parseSignalRef(text, r, why)) << why;
      r.source = m.find(r.block);
      r.line = b.line;
      b.inputs.push_back({r});
    }
    b.isSource = b.inputs.empty();
    b.source.outputs = 3;
    b.plugin = "p";
  }
  return m;
}

std::vector<std::string> names(const blocksim::Model& m, const std::vector<int>& order) {
  std::vector<std::string> n;
  for (int b : order) n.push_back(m.blocks[static_cast<size_t>(b)].name);
  return n;
}

TEST(Graph, OrderPutsSourcesFirstAndRefusesAlgebraicLoops) {
  struct Case {
    std::vector<std::string> model;
    std::vector<bool> feedthrough;
    std::vector<std::string> order;  // empty: the loop below
    std::string loop;
  } cases[] = {
      {{"c: b", "b: a", "a:"}, {true, true, false}, {"a", "b", "c"}, ""},
      // A loop through a block without feedthrough (d) is computable.
      {{"s:", "d: e", "e: d s"}, {false, false, true}, {"s", "d", "e"}, ""},
      {{"w: x", "x: z", "y: x", "z: y"}, {true, true, true, true}, {}, "2: algebraic loop through blocks x, y, z"},
  };
  for (const Case& c : cases) {
    blocksim::Model m = graph(c.model);
    std::vector<int> order;
    blocksim::GraphMistake mistake;
    const bool ok = blocksim::orderBlocks(m, c.feedthrough, order, mistake);
    EXPECT_EQ(ok, c.loop.empty());
    if (ok) EXPECT_EQ(names(m, order), c.order);
    else EXPECT_EQ(std::to_string(mistake.line) + ": " + mistake.what, c.loop);
  }
}

TEST(Graph, WidthsComeFromTheReferencesAndThroughLoops) {
  // b takes two outputs of a; c sums b and a[2]; d and e only feed each
  // other until d is given a width of its own.
  blocksim::Model m = graph({"a:", "b: a[0:2]", "c: b a[2]", "d: e", "e: d"});
  std::vector<int> order{0, 1, 2, 3, 4};
  std::vector<int32_t> out{3, -1, -1, -1, -1};
  std::vector<bool> settled{true, false, false, false, false};
  std::vector<int64_t> totals(5, -1);
  auto settle = [&](int b, const std::vector<int32_t>& entries, int64_t total) {
    totals[static_cast<size_t>(b)] = total;
    out[static_cast<size_t>(b)] = static_cast<int32_t>(total) + static_cast<int32_t>(entries.size());
    return 0;
  };
  blocksim::GraphMistake mistake;
  EXPECT_EQ(blocksim::settleWidths(m, order, out, settled, settle, mistake), blocksim::ExitMistake);
  EXPECT_EQ(mistake.what, "cannot settle the widths of blocks d, e: each takes its width from the others "
                          "(give one of them a fixed width)");
  EXPECT_EQ(totals, (std::vector<int64_t>{-1, 2, 4, -1, -1}));
  out[3] = 1;  // d fixed its output width itself
  EXPECT_EQ(blocksim::settleWidths(m, order, out, settled, settle, mistake), blocksim::ExitOk);
  EXPECT_EQ(totals[4], 1);
  EXPECT_EQ(totals[3], 2);  // e's width, known only after e, reaches d in a later round

  blocksim::Model beyond = graph({"a:", "b: a[3]"});
  std::vector<int32_t> w{3, -1};
  std::vector<bool> s{true, false};
  EXPECT_EQ(blocksim::settleWidths(beyond, {0, 1}, w, s, settle, mistake), blocksim::ExitMistake);
  EXPECT_EQ(mistake.what, "'a[3]' reaches beyond the 3 output(s) of 'a'");
}

TEST(Graph, RatesPassThroughInheritingBlocksAndMix) {
  // Sources: c constant; p continuous. d has a discrete rate of its own.
  blocksim::Model m = graph({"c:", "p:", "d: c", "i1: d", "i2: d c", "i3: d p", "i4: c c"});
  std::vector<SignalRate> own(7);
  own[0].kind = SignalRate::Constant;
  own[1].kind = SignalRate::Continuous;
  own[2] = {SignalRate::Discrete, 0.5, 0.1};
  std::vector<bool> inherits{false, false, false, true, true, true, true};
  std::vector<SignalRate> rates(7);
  std::vector<bool> known(7, false);
  blocksim::propagateRates(m, {0, 1, 2, 3, 4, 5, 6}, own, inherits, rates, known);
  EXPECT_EQ(rates[3].kind, SignalRate::Discrete);
  EXPECT_EQ(rates[3].period, 0.5);
  EXPECT_EQ(rates[4].kind, SignalRate::Discrete) << "a constant does not change the rate";
  EXPECT_EQ(rates[5].kind, SignalRate::Continuous);
  EXPECT_EQ(rates[6].kind, SignalRate::Constant);
  // Only what feeds a block with continuous states, and changes
  // continuously, is recomputed in minor steps.
  std::vector<bool> minor = blocksim::minorStepBlocks(m, {0, 0, 0, 0, 0, 2, 0}, rates);
  EXPECT_EQ(minor, (std::vector<bool>{false, true, false, false, false, true, false}));
}

TEST(Graph, SampleTimesBecomeTasksInWholeBaseSteps) {
  blocksim::Task t;
  EXPECT_EQ(blocksim::taskOf(0.3, 0.1, 0.1, t), "");
  EXPECT_EQ(t.period, 3);
  EXPECT_EQ(t.offset, 1);
  std::string hits;
  for (int64_t n = 0; n < 8; ++n) hits += blocksim::taskHit(t, n) ? '1' : '0';
  EXPECT_EQ(hits, "01001001");
  EXPECT_EQ(blocksim::taskOf(0.25, 0, 0.1, t), "not a multiple");
  EXPECT_EQ(blocksim::taskOf(-2, 0, 0.1, t), "invalid");
  EXPECT_EQ(blocksim::taskOf(0, 0, 0.1, t), "");
  EXPECT_EQ(t.kind, blocksim::Task::Continuous);
}

}  // namespace

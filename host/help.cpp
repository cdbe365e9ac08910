// `blocksim help`: prints a block's page, or the list of blocks, from the
// pages built into the program. The Markdown is rendered lightly: headings
// underlined (bold on a terminal), tables aligned or, when too wide, one
// record per row, fences indented under a caption saying what they hold,
// paragraphs and list items wrapped to the width, links reduced to their text.
#include "help.h"

#include <ctype.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <ostream>
#include <sstream>
#include <vector>

namespace blocksim {

namespace {

const char* const kGroupOrder[] = {"sources",  "mathops",      "buffers",    "fileio",
                                   "coding",   "integrators",  "quantizers", "utility"};

// Columns a UTF-8 text takes: one per code point.
size_t displayWidth(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// What a link adds after its text: where to read on (another block's page by
// `blocksim help`, a document by its path); nothing for an anchor.
std::string linkNote(const std::string& target) {
  if (target.empty() || target[0] == '#') return "";
  if (startsWith(target, "http://") || startsWith(target, "https://")) return " (" + target + ")";
  std::string path = target.substr(0, target.find('#'));
  if (path.size() > 3 && path.find('/') == std::string::npos && path.compare(path.size() - 3, 3, ".md") == 0)
    return " (blocksim help " + path.substr(0, path.size() - 3) + ")";
  if (startsWith(path, "../")) return " (docs/" + path.substr(3) + ")";
  return " (docs/blocks/" + path + ")";
}

// Finds "[text](target)" starting at s[i] == '['; returns the index after it.
size_t parseLink(const std::string& s, size_t i, std::string& text, std::string& target) {
  int depth = 0;
  size_t j = i;
  for (; j < s.size(); ++j) {
    if (s[j] == '[') ++depth;
    if (s[j] == ']' && --depth == 0) break;
  }
  if (j + 1 >= s.size() || s[j + 1] != '(') return std::string::npos;
  size_t close = s.find(')', j + 2);
  if (close == std::string::npos) return std::string::npos;
  text = s.substr(i + 1, j - i - 1);
  target = s.substr(j + 2, close - j - 2);
  return close + 1;
}

// Inline markup as plain text: code spans without their backticks, links as
// their text (with a note on where they lead), pictures as a note, strong
// emphasis and backslash escapes dropped.
std::string inlineText(const std::string& s) {
  std::string r;
  size_t i = 0;
  while (i < s.size()) {
    const char c = s[i];
    if (c == '`') {
      size_t run = s.find_first_not_of('`', i);
      if (run == std::string::npos) run = s.size();
      const std::string fence(run - i, '`');
      size_t close = s.find(fence, run);
      if (close != std::string::npos) {
        std::string code = s.substr(run, close - run);
        if (code.size() >= 2 && code.front() == ' ' && code.back() == ' ') code = code.substr(1, code.size() - 2);
        r += code;
        i = close + fence.size();
        continue;
      }
      r += fence;
      i = run;
      continue;
    }
    if (c == '\\' && i + 1 < s.size() && ispunct(static_cast<unsigned char>(s[i + 1]))) {
      r += s[i + 1];
      i += 2;
      continue;
    }
    if ((c == '[' || (c == '!' && i + 1 < s.size() && s[i + 1] == '['))) {
      std::string text, target;
      const bool picture = c == '!';
      size_t end = parseLink(s, picture ? i + 1 : i, text, target);
      if (end != std::string::npos) {
        if (picture)
          r += "(picture: " + inlineText(text) + ", docs/blocks/" + target + ")";
        else
          r += inlineText(text) + linkNote(target);
        i = end;
        continue;
      }
    }
    if (c == '*' && i + 1 < s.size() && s[i + 1] == '*') {
      i += 2;
      continue;
    }
    r += c;
    ++i;
  }
  return r;
}

// Appends text wrapped to width: the first line after `first`, the others
// after `rest` (both counted in the width).
void wrap(std::string& out, const std::string& text, const std::string& first, const std::string& rest,
          size_t width) {
  std::istringstream words(text);
  std::string word, line = first;
  size_t lineWidth = displayWidth(first);
  bool empty = true;
  while (words >> word) {
    const size_t w = displayWidth(word);
    if (!empty && lineWidth + 1 + w > width) {
      out += line + "\n";
      line = rest;
      lineWidth = displayWidth(rest);
      empty = true;
    }
    if (!empty) {
      line += ' ';
      ++lineWidth;
    }
    line += word;
    lineWidth += w;
    empty = false;
  }
  out += line + "\n";
}

// The cells of a table row "| a | b |"; "\|" is a bar inside a cell.
std::vector<std::string> tableCells(const std::string& row) {
  std::string s = trim(row);
  if (!s.empty() && s.front() == '|') s.erase(0, 1);
  if (!s.empty() && s.back() == '|' && (s.size() < 2 || s[s.size() - 2] != '\\')) s.pop_back();
  std::vector<std::string> cells;
  std::string cell;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size() && s[i + 1] == '|') {
      cell += '|';
      ++i;
    } else if (s[i] == '|') {
      cells.push_back(inlineText(trim(cell)));
      cell.clear();
    } else {
      cell += s[i];
    }
  }
  cells.push_back(inlineText(trim(cell)));
  return cells;
}

bool isRuleRow(const std::vector<std::string>& cells) {
  for (const std::string& c : cells)
    if (c.empty() || c.find_first_not_of("-: ") != std::string::npos) return false;
  return true;
}

// A table: aligned columns when it fits the width, else one record per row
// (its first cell as the title, the other cells under their headers).
void renderTable(std::string& out, const std::vector<std::string>& lines, size_t width) {
  std::vector<std::vector<std::string>> rows;
  for (const std::string& l : lines) {
    std::vector<std::string> cells = tableCells(l);
    if (!isRuleRow(cells)) rows.push_back(cells);
  }
  if (rows.empty()) return;
  size_t cols = 0;
  for (auto& r : rows) cols = std::max(cols, r.size());
  for (auto& r : rows) r.resize(cols);
  std::vector<size_t> w(cols, 0);
  for (auto& r : rows)
    for (size_t c = 0; c < cols; ++c) w[c] = std::max(w[c], displayWidth(r[c]));
  // Aligned columns, the last one wrapped when it is too wide, as long as it
  // keeps a useful width; otherwise one record per row.
  size_t fixed = 2;
  for (size_t c = 0; c + 1 < cols; ++c) fixed += w[c] + 2;
  const size_t lastWidth = width > fixed ? width - fixed : 0;
  if (fixed + w[cols - 1] <= width || (cols > 1 && lastWidth >= 24)) {
    for (size_t i = 0; i < rows.size(); ++i) {
      std::string prefix = "  ";
      for (size_t c = 0; c + 1 < cols; ++c)
        prefix += rows[i][c] + std::string(w[c] - displayWidth(rows[i][c]) + 2, ' ');
      if (rows[i][cols - 1].empty())
        out += prefix.substr(0, prefix.find_last_not_of(' ') + 1) + "\n";
      else
        wrap(out, rows[i][cols - 1], prefix, std::string(fixed, ' '), width);
      if (i == 0) {
        std::string rule = "  ";
        for (size_t c = 0; c + 1 < cols; ++c) rule += std::string(w[c], '-') + "  ";
        out += rule + std::string(std::min(w[cols - 1], lastWidth), '-') + "\n";
      }
    }
    return;
  }
  const std::vector<std::string>& head = rows[0];
  for (size_t i = 1; i < rows.size(); ++i) {
    if (i > 1) out += "\n";
    size_t c = 1;
    std::string title = rows[i][0];
    // A numbered table ("#" first) reads best as "1. name".
    if (head[0] == "#" && cols > 1) {
      title += ". " + rows[i][1];
      c = 2;
    }
    wrap(out, title, "  - ", "    ", width);
    for (; c < cols; ++c)
      if (!rows[i][c].empty()) wrap(out, head[c] + ": " + rows[i][c], "    ", "      ", width);
  }
}

// The caption over a fence, from its info string.
std::string fenceCaption(const std::string& info) {
  std::string status;
  std::string kind = info;
  size_t exit = info.find(" exit=");
  if (exit != std::string::npos) {
    kind = info.substr(0, exit);
    status = " (exit status " + info.substr(exit + 6) + ")";
  }
  if (kind == "step") return "step script:";
  if (kind == "output") return "prints" + status + ":";
  if (kind == "toml model") return "model file:";
  if (kind == "csv") return "prints (CSV)" + status + ":";
  if (startsWith(kind, "file ")) return "file " + kind.substr(5) + ":";
  if (startsWith(kind, "written ")) return "writes " + kind.substr(8) + ":";
  return "";
}

size_t terminalWidth() {
  winsize ws;
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0)
    return std::min<size_t>(std::max<size_t>(ws.ws_col, 40), 120);
  return 80;
}

// "# NAME: SUMMARY" gives SUMMARY.
std::string summaryOf(const HelpPage& p) {
  std::string first(p.text, strcspn(p.text, "\n"));
  const size_t colon = first.find(": ");
  return colon == std::string::npos ? "" : trim(first.substr(colon + 2));
}

}  // namespace

std::string renderPage(const std::string& markdown, size_t width, bool bold) {
  std::string out;
  std::istringstream in(markdown);
  std::string line;
  std::string paragraph, first, rest;  // the open paragraph and its indents
  std::vector<std::string> table;
  std::string fence;  // the open fence's marker
  // One blank line between blocks of text, none at the top.
  auto blank = [&out] {
    if (out.empty() || (out.size() >= 2 && out.compare(out.size() - 2, 2, "\n\n") == 0)) return;
    out += "\n";
  };
  auto flush = [&] {
    if (!paragraph.empty()) wrap(out, paragraph, first, rest, width);
    paragraph.clear();
    if (!table.empty()) renderTable(out, table, width);
    table.clear();
  };

  while (std::getline(in, line)) {
    if (!fence.empty()) {
      if (startsWith(trim(line), fence.c_str()) && trim(line).find_first_not_of(fence[0]) == std::string::npos)
        fence.clear();
      else
        out += line.empty() ? "\n" : "    " + line + "\n";
      continue;
    }
    const std::string t = trim(line);
    if (startsWith(t, "```") || startsWith(t, "~~~")) {
      flush();
      const size_t n = t.find_first_not_of(t[0]);
      fence = t.substr(0, n);
      const std::string caption = fenceCaption(n == std::string::npos ? "" : trim(t.substr(n)));
      if (!caption.empty()) out += "  " + caption + "\n";
      continue;
    }
    if (t.empty()) {
      flush();
      blank();
      continue;
    }
    if (t[0] == '|') {
      if (!paragraph.empty()) flush();
      table.push_back(t);
      continue;
    }
    if (!table.empty()) flush();
    if (t[0] == '#') {
      const size_t level = t.find_first_not_of('#');
      if (level != std::string::npos && t[level] == ' ') {
        flush();
        blank();
        const std::string text = inlineText(trim(t.substr(level)));
        if (bold) {
          out += "\033[1m" + text + "\033[0m\n";
        } else {
          out += text + "\n";
          if (level <= 2) out += std::string(displayWidth(text), level == 1 ? '=' : '-') + "\n";
        }
        continue;
      }
    }
    const size_t indent = line.find_first_not_of(' ');
    size_t marker = 0;
    if (startsWith(t, "- ") || startsWith(t, "* ")) {
      marker = 2;
    } else {
      // A numbered line continues a paragraph of plain text unless it is "1.".
      size_t digits = t.find_first_not_of("0123456789");
      if (digits > 0 && digits != std::string::npos && t.compare(digits, 2, ". ") == 0 &&
          (paragraph.empty() || !first.empty() || t.compare(0, 2, "1.") == 0))
        marker = digits + 2;
    }
    if (marker > 0) {
      flush();
      first = std::string(2 + indent, ' ') + t.substr(0, marker);
      rest = std::string(2 + indent + marker, ' ');
      paragraph = inlineText(t.substr(marker));
      continue;
    }
    if (paragraph.empty()) {
      first = rest = "";
      paragraph = inlineText(t);
    } else {
      paragraph += " " + inlineText(t);
    }
  }
  flush();
  while (out.size() >= 2 && out.compare(out.size() - 2, 2, "\n\n") == 0) out.pop_back();
  return out;
}

int printHelp(const std::string& name, std::ostream& out, std::ostream& err) {
  const HelpPage* pages = kHelpPages;
  const HelpPage* end = kHelpPages + kHelpPageCount;
  if (!name.empty()) {
    const HelpPage* p = std::find_if(pages, end, [&name](const HelpPage& h) { return name == h.name; });
    if (p != end) {
      const bool terminal = isatty(STDOUT_FILENO) != 0;
      out << renderPage(p->text, terminal ? terminalWidth() : 80, terminal);
      return 0;
    }
    err << "blocksim: no block '" << name << "'; the blocks are:";
    for (const HelpPage* h = pages; h != end; ++h) err << (h == pages ? " " : ", ") << h->name;
    err << "\n";
    return 2;
  }

  // The groups in their usual order, then any other group as found.
  std::vector<std::string> groups(std::begin(kGroupOrder), std::end(kGroupOrder));
  size_t nameWidth = 0;
  for (const HelpPage* h = pages; h != end; ++h) {
    if (std::find(groups.begin(), groups.end(), h->group) == groups.end()) groups.push_back(h->group);
    nameWidth = std::max(nameWidth, strlen(h->name));
  }
  out << "The blocks (blocksim help NAME prints a block's page):\n";
  for (const std::string& g : groups) {
    bool heading = false;
    for (const HelpPage* h = pages; h != end; ++h) {
      if (g != h->group) continue;
      if (!heading) out << "\n" << g << "\n";
      heading = true;
      out << "  " << h->name << std::string(nameWidth - strlen(h->name) + 2, ' ') << summaryOf(*h) << "\n";
    }
  }
  return 0;
}

}  // namespace blocksim

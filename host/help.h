// `blocksim help`: the block pages (docs/blocks/NAME.md), built into the
// program, printed as plain text.
#ifndef BLOCKSIM_HELP_H
#define BLOCKSIM_HELP_H

#include <stddef.h>

#include <iosfwd>
#include <string>

namespace blocksim {

struct HelpPage {
  const char* name;   // the plug-in
  const char* group;  // its folder under blocks/
  const char* text;   // the page, Markdown
};

// Generated from the pages at build time (help_pages.cpp).
extern const HelpPage kHelpPages[];
extern const size_t kHelpPageCount;

// With a NAME: prints its page to standard output (out); without one: lists
// the blocks by group with their one-line summaries. Returns the exit status:
// 0, or 2 for an unknown name (the names are listed on err).
int printHelp(const std::string& name, std::ostream& out, std::ostream& err);

// A page as text for a terminal `width` columns wide: headings, tables and
// fences readable as plain text; `bold` marks headings with escape codes.
std::string renderPage(const std::string& markdown, size_t width, bool bold);

}  // namespace blocksim

#endif

// Block parameter values written as TOML values (numbers, arrays, matrices,
// strings, and inline tables for any other shape), turned into host arrays.
#ifndef BLOCKSIM_VALUES_H
#define BLOCKSIM_VALUES_H

#include <stddef.h>

#include <istream>
#include <string>

#include "ax_host.h"
#include "budget.h"

namespace blocksim {

// Parses the text of one TOML value ("[1, 2]", "'sin'", "nan") into a new
// host array; null with err set when it is no valid value.
// With a budget, the array's memory is counted against it first: a value
// that does not fit is refused (null, err saying so) before it is made.
axArray* arrayFromText(const std::string& text, std::string& err, MemoryBudget* budget = nullptr);
// Whether TOML text is fit for the parser: outside ASCII only valid UTF-8,
// and only in double-quoted strings (not right after a backslash) and in
// comments. The parser in use (toml++ 3.3) reaches __builtin_unreachable()
// when it asks whether some characters outside ASCII are blank, which it
// does wherever it scans a bare value or key; the text it is given has every
// such character written as an escape (parseToml), which keeps its meaning
// in a double-quoted string only. offset tells where the first refused byte
// is.
bool tomlTextIsSafe(const std::string& text, size_t& offset);
// What the guard refuses, for messages.
extern const char kTomlTextRefused[];
// The text with every character outside ASCII written as a \u or \U escape.
std::string escapeNonAscii(const std::string& text);
// Reads one line (without its line feed) of at most maxBytes bytes: false at
// the end of the input. A longer line sets tooLong and stops there (the
// caller gives up on the input), so that no input — not even one without a
// line feed, such as /dev/zero — makes the host hold more than that.
bool readLine(std::istream& in, std::string& line, size_t maxBytes, bool& tooLong);
// Parses one plain number ("1", "-0.5", "1e-7", "inf", "nan").
bool parseNumber(const std::string& text, double& out);

}  // namespace blocksim

#endif

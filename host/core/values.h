// Block parameter values written as TOML values (numbers, arrays, matrices,
// strings, and inline tables for any other shape), turned into host arrays.
#ifndef BLOCKSIM_VALUES_H
#define BLOCKSIM_VALUES_H

#include <stddef.h>

#include <string>

#include "ax_host.h"

namespace blocksim {

// Parses the text of one TOML value ("[1, 2]", "'sin'", "nan") into a new
// host array; null with err set when it is no valid value.
axArray* arrayFromText(const std::string& text, std::string& err);
// Whether TOML text may be handed to the parser: outside strings and comments
// it must be ASCII. The parser in use (toml++ 3.3) reaches
// __builtin_unreachable() when it classifies some other characters there
// (U+00A1 to U+0499, U+2C0E to U+3007), so such text is refused before it is
// parsed; offset tells where the first such byte is.
bool tomlTextIsSafe(const std::string& text, size_t& offset);
// Parses one plain number ("1", "-0.5", "1e-7", "inf", "nan").
bool parseNumber(const std::string& text, double& out);

}  // namespace blocksim

#endif

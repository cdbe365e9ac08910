// Block parameter values written as TOML values (numbers, arrays, matrices,
// strings, and inline tables for any other shape), turned into host arrays.
#ifndef BLOCKSIM_VALUES_H
#define BLOCKSIM_VALUES_H

#include <string>

#include "ax_host.h"

namespace blocksim {

// Parses the text of one TOML value ("[1, 2]", "'sin'", "nan") into a new
// host array; null with err set when it is no valid value.
axArray* arrayFromText(const std::string& text, std::string& err);
// Parses one plain number ("1", "-0.5", "1e-7", "inf", "nan").
bool parseNumber(const std::string& text, double& out);

}  // namespace blocksim

#endif

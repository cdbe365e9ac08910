// Block parameter values taken from a parsed TOML document (model files).
#ifndef BLOCKSIM_VALUES_TOML_H
#define BLOCKSIM_VALUES_TOML_H

#include <toml++/toml.h>

#include "values.h"

namespace blocksim {

// Parses TOML text (throws toml::parse_error). The parser cannot unwind from
// a failed allocation (it allocates inside functions it declares noexcept),
// so such a failure ends the process through std::terminate; while it
// parses, tomlParserRunning() is true, so that blocksim's terminate handler
// can say what happened.
toml::table parseToml(std::string_view text, std::string_view path = {});
bool tomlParserRunning();

// Returns a new host array, or null with err set.
axArray* arrayFromToml(const toml::node& value, std::string& err);
// The bytes the array of a value would take (arrayBytes of its element
// count), found without making it; a value that is no array counts as empty.
uint64_t tomlValueBytes(const toml::node& value);

}  // namespace blocksim

#endif

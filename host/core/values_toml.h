// Block parameter values taken from a parsed TOML document (model files).
#ifndef BLOCKSIM_VALUES_TOML_H
#define BLOCKSIM_VALUES_TOML_H

#include <toml++/toml.h>

#include "values.h"

namespace blocksim {

// Returns a new host array, or null with err set.
axArray* arrayFromToml(const toml::node& value, std::string& err);

}  // namespace blocksim

#endif

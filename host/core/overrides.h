// `--set NAME.params[K]=VALUE` and `--set NAME.KEY=VALUE`: one value of a
// model replaced from the command line before the model reader checks the
// document, so that an overridden value passes every check a written one
// does. VALUE is written as in the model file (a TOML value).
#ifndef BLOCKSIM_OVERRIDES_H
#define BLOCKSIM_OVERRIDES_H

#include <stddef.h>

#include <string>
#include <vector>

#include "values_toml.h"

namespace blocksim {

// What one --set text names.
struct SetTarget {
  std::string block;
  bool param = false;  // params[index]; otherwise key
  size_t index = 0;    // counted from 0, as the elements in references are
  std::string key;
};

// Splits "NAME.params[K]=VALUE" or "NAME.KEY=VALUE" (without checking the
// value); false with why when the text has another shape.
bool parseSet(const std::string& text, SetTarget& target, std::string& value, std::string& why);

// The node a target names in a model document: a block's parameter K or a
// host source's key (null when the key is not written). False with why when
// the block, the parameter or the kind of key does not exist in the model.
bool findTarget(const toml::table& doc, const SetTarget& target, const toml::node*& node, std::string& why);

// Applies the --set texts in order to the parsed model. The values are parsed
// as though they stood on lines firstLine, firstLine + 1, ... of the model
// (one line each, after its last line), so that a mistake the model reader
// finds in them can be told apart from a mistake in the file. On failure
// returns false with one "--set TEXT: WHAT" per mistake.
bool applySets(toml::table& doc, const std::vector<std::string>& sets, int firstLine,
               std::vector<std::string>& mistakes);

}  // namespace blocksim

#endif

#include "overrides.h"

#include "values.h"
#include "values_toml.h"

namespace blocksim {

namespace {

bool nameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

const char kShape[] = "write NAME.params[K]=VALUE or NAME.KEY=VALUE";

// The [[block]] table named `name` (the first one: a second one is a mistake
// the model reader reports).
toml::table* findBlock(toml::table& doc, const std::string& name) {
  toml::array* blocks = doc["block"].as_array();
  if (blocks == nullptr) return nullptr;
  for (toml::node& b : *blocks) {
    toml::table* t = b.as_table();
    if (t == nullptr) continue;
    std::optional<std::string_view> n = (*t)["name"].value<std::string_view>();
    if (n && *n == name) return t;
  }
  return nullptr;
}

// The table of the target's block, checked for the kind of target: params of
// a plug-in block, keys of a host source.
toml::table* targetBlock(toml::table& doc, const SetTarget& target, std::string& why) {
  toml::table* block = findBlock(doc, target.block);
  if (block == nullptr) {
    why = "no block '" + target.block + "' in the model";
    return nullptr;
  }
  const bool plugin = block->contains("plugin");
  if (!plugin && !block->contains("source")) {
    why = "block '" + target.block + "' has neither plugin nor source";
    return nullptr;
  }
  if (plugin && !target.param) {
    why = "block '" + target.block + "' is a plug-in block: set its parameters as " + target.block + ".params[K]";
    return nullptr;
  }
  if (!plugin && target.param) {
    why = "block '" + target.block + "' is a host source: set its keys as " + target.block + ".KEY";
    return nullptr;
  }
  if (target.param) {
    const toml::array* params = (*block)["params"].as_array();
    const size_t count = params == nullptr ? 0 : params->size();
    if (target.index >= count) {
      why = "block '" + target.block + "' has no parameter params[" + std::to_string(target.index) + "] (" +
            (count == 0 ? std::string("it has no parameters")
                        : "it has " + std::to_string(count) + ": params[0] to params[" + std::to_string(count - 1) + "]") +
            ")";
      return nullptr;
    }
  }
  return block;
}

}  // namespace

bool parseSet(const std::string& text, SetTarget& target, std::string& value, std::string& why) {
  target = SetTarget();
  size_t dot = text.find('.');
  size_t eq = text.find('=');
  if (dot == std::string::npos || eq == std::string::npos || dot > eq) {
    why = kShape;
    return false;
  }
  target.block = text.substr(0, dot);
  std::string what = text.substr(dot + 1, eq - dot - 1);
  value = text.substr(eq + 1);
  bool nameOk = !target.block.empty();
  for (char c : target.block) nameOk = nameOk && nameChar(c);
  if (!nameOk) {
    why = "'" + target.block + "' is no block name (" + kShape + ")";
    return false;
  }
  if (what.compare(0, 7, "params[") == 0 && what.size() > 8 && what.back() == ']') {
    std::string digits = what.substr(7, what.size() - 8);
    if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) {
      why = "the index in '" + what + "' must be a whole number from 0";
      return false;
    }
    target.param = true;
    target.index = static_cast<size_t>(std::stoul(digits));
  } else {
    bool keyOk = !what.empty();
    for (char c : what) keyOk = keyOk && nameChar(c);
    if (!keyOk) {
      why = "'" + what + "' is no key (" + kShape + ")";
      return false;
    }
    // The block's identity and connections stay as the model has them.
    if (what == "name" || what == "plugin" || what == "source" || what == "inputs" || what == "params") {
      why = "'" + what + "' cannot be set: only one parameter (params[K]) or one setting of a host source";
      return false;
    }
    target.key = what;
  }
  if (value.empty()) {
    why = "no value after '='";
    return false;
  }
  for (char c : value) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      why = "the value must be one line without control characters";
      return false;
    }
  }
  return true;
}

bool findTarget(const toml::table& doc, const SetTarget& target, const toml::node*& node, std::string& why) {
  // Only looked at: the lookup needs the mutable form for applySets.
  toml::table* block = targetBlock(const_cast<toml::table&>(doc), target, why);
  if (block == nullptr) return false;
  node = target.param ? (*block)["params"].as_array()->get(target.index) : block->get(target.key);
  return true;
}

bool applySets(toml::table& doc, const std::vector<std::string>& sets, int firstLine,
               std::vector<std::string>& mistakes) {
  const size_t before = mistakes.size();
  for (size_t i = 0; i < sets.size(); ++i) {
    const std::string& text = sets[i];
    SetTarget target;
    std::string value, why;
    if (!parseSet(text, target, value, why)) {
      mistakes.push_back("--set " + text + ": " + why);
      continue;
    }
    toml::table* block = targetBlock(doc, target, why);
    if (block == nullptr) {
      mistakes.push_back("--set " + text + ": " + why);
      continue;
    }
    size_t offset;
    if (!tomlTextIsSafe(value, offset)) {
      mistakes.push_back("--set " + text + ": " + kTomlTextRefused);
      continue;
    }
    // Parsed on the line this --set stands for, after the model's own lines.
    const int line = firstLine + static_cast<int>(i);
    toml::table parsed;
    try {
      parsed = parseToml(std::string(static_cast<size_t>(line - 1), '\n') + "v = " + value);
    } catch (const toml::parse_error& e) {
      mistakes.push_back("--set " + text + ": " + std::string(e.description()));
      continue;
    }
    if (parsed.size() != 1) {
      mistakes.push_back("--set " + text + ": the value must be one TOML value");
      continue;
    }
    toml::node& node = *parsed.get("v");
    // Moved, not copied: a moved node keeps its place for the messages.
    if (target.param) {
      toml::array& params = *(*block)["params"].as_array();
      params.replace(params.cbegin() + static_cast<std::ptrdiff_t>(target.index), std::move(node));
    } else {
      toml::source_region where;
      where.begin = {static_cast<toml::source_index>(line), 1};
      where.end = where.begin;
      block->insert_or_assign(toml::key(target.key, std::move(where)), std::move(node));
    }
  }
  return mistakes.size() == before;
}

}  // namespace blocksim

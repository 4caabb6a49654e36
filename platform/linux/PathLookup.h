// A path looked up component by component, from the root or the current
// directory, each component found by its name or else by its alias.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/linux/Directory.h"

namespace Platform::Linux {

struct LookedUpPath {
  // Reached through the components that a separator follows; the last
  // component, when nothing follows it, is looked up in here.
  Directory directory;
  // The path with every component that names an entry replaced by its short
  // name; separators, ".", ".." and empty components as typed.
  std::string shortForm;
};

// Nothing when a component names no entry, or one that a separator follows is
// not a directory.
std::optional<LookedUpPath> lookUpPath(std::string_view path);

}  // namespace Platform::Linux

// A path looked up component by component, from the root or the current
// directory, each component found by its exact name, else by a name equal
// to it without regard to case, else by its alias, as Windows finds it.
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
  // The path with every long component replaced by its entry's alias; valid
  // 8.3 names, separators, ".", ".." and empty components as typed.
  std::string shortForm;
};

// Nothing when a component names no entry, or one that a separator follows is
// not a directory.
std::optional<LookedUpPath> lookUpPath(std::string_view path);

}  // namespace Platform::Linux

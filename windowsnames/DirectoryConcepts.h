// What the alias assignment and the ordered search need of a directory. The
// real one (platform/linux) and the tests' stand-in both provide it; the
// rules themselves never touch a file system.
#pragma once

#include <concepts>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "windowsnames/CreationKey.h"

namespace WindowsNames {

// The shape of what forEachName is handed: called with each name, it says
// whether to go on. forEachName is a template over any callable of it.
struct NameVisitor {
  bool operator()(std::string_view name) const;
};

// A directory whose entries can be streamed and asked when they were made:
//   forEachName(visit): one pass over every entry but "." and "..", as long
//       as visit(name) returns true; false if the directory cannot be read.
//   creationKeys(names): the creation key of each entry named, in order;
//       nothing for an entry that is gone (it is then left out). Asked for
//       many names at once, so that the directory may look them up side by
//       side.
template <class Directory>
concept ListableDirectory = requires(Directory& directory, NameVisitor visit, const std::vector<std::string>& names) {
  { directory.forEachName(visit) } -> std::same_as<bool>;
  { directory.creationKeys(names) } -> std::same_as<std::vector<std::optional<CreationKey>>>;
};

// What the ordered search needs on top: whether the entries can be listed at
// all, and whether it is the root, which lists no "." and "..".
template <class Directory>
concept SearchableDirectory = ListableDirectory<Directory> && requires(Directory& directory) {
  { directory.readable() } -> std::same_as<bool>;
  { directory.isRoot() } -> std::same_as<bool>;
};

}  // namespace WindowsNames

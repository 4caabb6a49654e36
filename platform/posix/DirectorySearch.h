// The first entry of a directory that a pattern matches, in the order NTFS
// lists a directory: "." and ".." first (except in the root), then every
// entry by name compared byte by byte with ASCII letters upper-cased. A name
// matches when its long name or its alias does. One streaming pass finds it:
// the directory is never sorted nor held in memory.
//
// `Directory` is as for AliasAssignment, and also provides
//   bool readable();  whether its entries can be listed
//   bool isRoot();
#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/AliasAssignment.h"
#include "platform/posix/ShortName.h"
#include "platform/posix/Wildcard.h"

namespace platform::posix {

bool listedBefore(std::string_view name, std::string_view other);

// Whether any alias `name` could be given matches: a cheap test that spares
// working out the aliases of names that cannot match.
bool aliasMayMatch(const WildcardPattern& pattern, std::string_view name);

template <class Directory>
std::optional<std::string> findFirstMatch(Directory& directory, std::string_view pattern) {
  if (!directory.readable()) return std::nullopt;
  const WildcardPattern wildcards = translateWildcards(pattern);
  if (!directory.isRoot()) {
    for (const std::string_view dots : {".", ".."})
      if (matchesWildcards(wildcards, dots)) return std::string(dots);
  }

  std::optional<std::string> first;
  std::vector<std::string> byAlias;  // listed before `first`, matching only through an alias perhaps
  const bool read = directory.forEachName([&](std::string_view name) {
    if (first && !listedBefore(name, *first)) return;
    if (matchesWildcards(wildcards, name))
      first = name;
    else if (!isShortName(name) && aliasMayMatch(wildcards, name))
      byAlias.emplace_back(name);
  });
  if (!read) return std::nullopt;

  std::sort(byAlias.begin(), byAlias.end(), listedBefore);
  AliasAssignment<Directory> aliases(directory);
  for (const std::string& name : byAlias) {
    if (first && !listedBefore(name, *first)) break;
    const std::optional<std::string> alias = aliases.aliasOf(name);
    if (alias && matchesWildcards(wildcards, *alias)) return name;
  }
  return first;
}

}  // namespace platform::posix

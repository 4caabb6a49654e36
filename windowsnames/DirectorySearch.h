// The first entry of a directory that a pattern matches, in the order NTFS
// lists a directory: "." and ".." first (except in the root), then every
// entry by name, compared by upper-cased UTF-16 code units. A name matches
// when its long name or its alias does. One streaming pass finds it:
// the directory is never sorted nor held in memory.
//
// `Directory` is as for AliasAssignment, and also provides
//   bool readable();  whether its entries can be listed
//   bool isRoot();
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "windowsnames/AliasAssignment.h"
#include "windowsnames/CodeUnits.h"
#include "windowsnames/ShortName.h"
#include "windowsnames/Wildcard.h"

namespace WindowsNames {

bool listedBefore(std::string_view name, std::string_view other);

// NTFS lists "." and ".." (outside the root) when the pattern matches "." or
// the empty name, and then before every other entry.
bool reportsDotEntries(const WildcardPattern& pattern);

// Whether an alias that `name` could be given matches the pattern: cheap
// tests that spare working out the aliases of names that cannot match. The
// first covers numbers below 10; the second, numbers from 10 to
// `highestNumber`.
bool aliasBelowTenMayMatch(const WildcardPattern& pattern, const AliasBasis& basis, std::uint16_t checksum);
bool aliasFromTenMayMatch(const WildcardPattern& pattern, const AliasBasis& basis, std::uint16_t checksum,
                          std::size_t highestNumber);

// A checksum alias numbered 10 or more needs nine other names that could
// hold PREFIX~1 to PREFIX~9 of its checksum prefix. Counting those names per
// prefix, in a fixed table where prefixes may share a count, tells which
// names cannot have such an alias.
class CrowdedPrefixes {
 public:
  void countShortName(std::string_view name);
  void countLongName(const AliasBasis& basis, std::uint16_t checksum);
  bool mayBeCrowded(const AliasBasis& basis, std::uint16_t checksum) const;
  bool any() const { return any_; }

 private:
  static std::size_t slot(std::string_view head, std::uint16_t checksum, std::string_view extension);
  static std::optional<std::uint16_t> checksumIn(std::string_view prefix);
  void bump(std::size_t slot);
  void bumpPrefix(std::string_view prefix, std::string_view extension);

  std::vector<unsigned char> counts_ = std::vector<unsigned char>(1u << 16);
  bool any_ = false;
};

template <class Directory>
std::optional<std::string> findFirstMatch(Directory& directory, std::string_view pattern) {
  if (!directory.readable()) return std::nullopt;
  const WildcardPattern wildcards = translateWildcards(pattern);
  if (!directory.isRoot() && reportsDotEntries(wildcards)) return ".";

  std::optional<std::string> first;
  std::vector<std::string> byAlias;  // listed before `first`, matching only through an alias perhaps
  CrowdedPrefixes crowded;
  const auto listedFirst = [&](std::string_view name) { return !first || listedBefore(name, *first); };
  const bool read = directory.forEachName([&](std::string_view name) {
    if (isShortName(name)) {
      crowded.countShortName(name);
      if (listedFirst(name) && matchesWildcards(wildcards, name)) first = name;
      return true;
    }
    const AliasBasis basis = aliasBasis(name);
    const std::uint16_t checksum = aliasChecksum(name);
    crowded.countLongName(basis, checksum);
    if (!listedFirst(name)) return true;
    if (matchesWildcards(wildcards, name))
      first = name;
    else if (aliasBelowTenMayMatch(wildcards, basis, checksum))
      byAlias.emplace_back(name);
    return true;
  });
  if (!read) return std::nullopt;
  if (crowded.any()) {
    // A number N from 10 on needs 10 to N-1 held by other entries, each a
    // valid 8.3 name numbered so or a long name whose prefix is crowded:
    // counting those bounds the numbers worth trying.
    std::size_t mayHoldFromTen = 0;
    std::vector<std::string> crowdedBefore;
    directory.forEachName([&](std::string_view name) {
      if (isShortName(name)) {
        if (const std::optional<AliasParts> alias = parseAlias(name); alias && alias->number >= 10) ++mayHoldFromTen;
        return true;
      }
      if (!crowded.mayBeCrowded(aliasBasis(name), aliasChecksum(name))) return true;
      ++mayHoldFromTen;
      if (listedFirst(name) && !matchesWildcards(wildcards, name)) crowdedBefore.emplace_back(name);
      return true;
    });
    for (std::string& name : crowdedBefore)
      if (aliasFromTenMayMatch(wildcards, aliasBasis(name), aliasChecksum(name), 10 + mayHoldFromTen))
        byAlias.push_back(std::move(name));
  }

  std::sort(byAlias.begin(), byAlias.end(), listedBefore);
  AliasAssignment<Directory> aliases(directory);
  for (const std::string& name : byAlias) {
    if (!listedFirst(name)) break;
    const std::optional<std::string> alias = aliases.aliasOf(name);
    if (alias && matchesWildcards(wildcards, *alias)) return name;
  }
  return first;
}

}  // namespace WindowsNames

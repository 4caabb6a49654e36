// The first entry of a directory that a pattern matches, in the order NTFS
// lists a directory: "." and ".." first (except in the root), then every
// entry by name, compared by upper-cased UTF-16 code units. A name matches
// when its long name or its alias does. A streaming pass finds the first
// match by long name; names listed before it that may match only through
// their aliases are then worked through in listing order, a bounded batch at
// a time. The directory is never sorted nor held in memory.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "windowsnames/AliasAssignment.h"
#include "windowsnames/CodeUnits.h"
#include "windowsnames/DirectoryConcepts.h"
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

// The first-listed names after a point that may match only through their
// aliases, at most `capacity` of them: the search works through them a batch
// at a time, so that however many names could match that way, few are held.
class AliasCandidates {
 public:
  static constexpr std::size_t capacity = 256;

  explicit AliasCandidates(std::optional<std::string> after = std::nullopt) : after_(std::move(after)) {}

  void offer(std::string_view name);
  // In listing order.
  const std::vector<std::string>& names() const { return names_; }
  // Whether every name offered is held, none having been left for a later batch.
  bool complete() const { return !dropped_; }

 private:
  std::optional<std::string> after_;
  std::vector<std::string> names_;
  bool dropped_ = false;
};

template <SearchableDirectory Directory>
std::optional<std::string> findFirstMatch(Directory& directory, std::string_view pattern) {
  if (!directory.readable()) return std::nullopt;
  const WildcardPattern wildcards = translateWildcards(pattern);
  if (!directory.isRoot() && reportsDotEntries(wildcards)) return ".";

  std::optional<std::string> first;  // matched by its own name
  // Of the long names seen before `first` was, the first-listed that the
  // pattern may match through its alias but not by its own name: only such a
  // name can come first through its alias.
  std::optional<std::string> unmatched;
  // Whether an alias numbered 10 or more with an extension may match, for the
  // few extensions a directory holds; past a handful, taken to be so.
  std::vector<std::pair<std::string, bool>> fromTenByExtension;
  const auto fromTenMayMatchWith = [&](const std::string& extension) {
    for (const auto& [known, may] : fromTenByExtension)
      if (known == extension) return may;
    constexpr std::size_t handful = 16;
    if (fromTenByExtension.size() == handful) return true;
    const bool may = mayMatchAliasFromTen(wildcards, maxAliasNumber, extension);
    fromTenByExtension.emplace_back(extension, may);
    return may;
  };
  AliasCandidates candidates;
  CrowdedPrefixes crowded;
  const auto listedFirst = [&](std::string_view name) { return !first || listedBefore(name, *first); };
  std::size_t entries = 0;
  const bool read = directory.forEachName([&](std::string_view name) {
    ++entries;
    if (isShortName(name)) {
      crowded.countShortName(name);
      if (listedFirst(name) && matchesWildcards(wildcards, name)) first = name;
      return true;
    }
    const AliasBasis basis = aliasBasis(name);
    const std::uint16_t checksum = aliasChecksum(name);
    crowded.countLongName(basis, checksum);
    if (!listedFirst(name)) return true;
    if (matchesWildcards(wildcards, name)) {
      first = name;
      return true;
    }
    const bool belowTen = aliasBelowTenMayMatch(wildcards, basis, checksum);
    if (belowTen) candidates.offer(name);
    if ((belowTen || fromTenMayMatchWith(basis.extension)) && (!unmatched || listedBefore(name, *unmatched)))
      unmatched = name;
    return true;
  });
  if (!read) return std::nullopt;
  if (!unmatched || !listedFirst(*unmatched)) return first;

  // A number N from 10 on needs 10 to N-1 held by other entries, each a valid
  // 8.3 name numbered so or a long name whose prefix is crowded: counting
  // those, once every name has been counted, bounds the numbers worth trying.
  // No number can pass the count of entries by more than the nine below 10.
  const bool fromTenMayMatch = crowded.any() && mayMatchAliasFromTen(wildcards, entries + 10);
  std::size_t mayHoldFromTen = 0;
  if (fromTenMayMatch) {
    const bool counted = directory.forEachName([&](std::string_view name) {
      if (isShortName(name)) {
        if (const std::optional<AliasParts> alias = parseAlias(name); alias && alias->number >= 10) ++mayHoldFromTen;
      } else if (crowded.mayBeCrowded(aliasBasis(name), aliasChecksum(name))) {
        ++mayHoldFromTen;
      }
      return true;
    });
    if (!counted) return std::nullopt;
  }
  const auto offerCandidates = [&](AliasCandidates& batch, bool belowTenOffered) {
    return directory.forEachName([&](std::string_view name) {
      if (!listedFirst(name) || isShortName(name) || matchesWildcards(wildcards, name)) return true;
      const AliasBasis basis = aliasBasis(name);
      const std::uint16_t checksum = aliasChecksum(name);
      if ((!belowTenOffered && aliasBelowTenMayMatch(wildcards, basis, checksum)) ||
          (fromTenMayMatch && crowded.mayBeCrowded(basis, checksum) &&
           aliasFromTenMayMatch(wildcards, basis, checksum, 10 + mayHoldFromTen)))
        batch.offer(name);
      return true;
    });
  };
  if (fromTenMayMatch && !offerCandidates(candidates, true)) return std::nullopt;

  AliasAssignment<Directory> aliases(directory);
  for (;;) {
    std::vector<std::string> names;
    for (const std::string& name : candidates.names())
      if (listedFirst(name)) names.push_back(name);
    if (const auto found = aliases.aliasesOf(names)) {
      for (std::size_t at = 0; at < names.size(); ++at) {
        const std::optional<std::string>& alias = (*found)[at];
        if (alias && matchesWildcards(wildcards, *alias)) return names[at];
      }
    }
    if (candidates.complete() || names.size() < candidates.names().size()) return first;
    candidates = AliasCandidates(names.back());
    if (!offerCandidates(candidates, false)) return std::nullopt;
  }
}

}  // namespace WindowsNames

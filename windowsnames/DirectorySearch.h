// The first entry of a directory that a pattern matches, in the order NTFS
// lists a directory: "." and ".." first (except in the root), then every
// entry by name, compared by upper-cased UTF-16 code units. A name matches
// when its long name or its alias does. A streaming pass finds the first
// match by long name; names listed before it that may match only through
// their aliases are then worked through in listing order, a bounded batch at
// a time. The directory is never sorted nor held in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "windowsnames/AliasAssignment.h"
#include "windowsnames/DirectoryListing.h"
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

// Whether some alias of a long name can begin as the pattern's literal start
// does, told from the first two characters of the name's base: every alias
// is its checksum prefix (those two, or hex digits where the base is
// shorter) or its base, cut to fit beside its number, and a number of six
// digits keeps one character of the prefix, of seven none. Most names of a
// directory are ruled out so before their aliases are worked out.
class AliasStart {
 public:
  explicit AliasStart(const WildcardPattern& pattern);
  bool mayBegin(std::string_view longName) const;
  // Whether some long name could be ruled out at all.
  bool rulesOut() const { return !literals_.empty() && literals_[0] != u'~'; }

 private:
  bool fits(std::size_t at, const std::string& head) const;

  std::u16string literals_;  // the pattern's first two units, where both are literal
};

// aliasBelowTenMayMatch for the names of one search, which spares trying a
// name's own prefix where the pattern matches every alias of a prefix of its
// length ("*~*" matches all): known for the few lengths and extensions a
// directory holds.
class BelowTenTest {
 public:
  explicit BelowTenTest(const WildcardPattern& pattern);
  bool mayMatch(const AliasBasis& basis, std::uint16_t checksum);

 private:
  bool matchesAnyPrefix(std::size_t length, char highestDigit, const std::string& extension);

  struct Shape {
    std::size_t length;
    char highestDigit;
    std::string extension;
    bool matchesAny;
  };
  const WildcardPattern& pattern_;
  std::optional<char> blank_;  // a character no literal of the pattern is
  std::vector<Shape> shapes_;
};

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

// `aliases` is over the same directory, and is kept by the caller for later
// questions about it: what it works out here is not worked out again.
std::optional<std::string> findFirstMatch(DirectoryListing& directory, AliasAssignment& aliases,
                                          std::string_view pattern);

}  // namespace WindowsNames

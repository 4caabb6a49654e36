// The 8.3 name rules: which names are already short, and the pieces an alias
// is made of, as NTFS makes them. Which number an alias gets depends on the
// other entries of its directory: see AliasAssignment.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace WindowsNames {

inline char asciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
std::string asciiUpper(std::string_view text);

// 1 to 8 characters, optionally "." and 1 to 3 more, all from the 8.3 set.
bool isShortName(std::string_view name);

// Upper-cased base (0 to 6 characters) and extension (0 to 3) of a long name.
struct AliasBasis {
  std::string base;
  std::string extension;
};
AliasBasis aliasBasis(std::string_view longName);

// The first two characters of aliasBasis(longName).base (fewer where it is
// shorter), read without the rest: every name of a search's pass is asked.
std::string aliasBaseHead(std::string_view longName);

// Whether a long name's alias may be BASE~1 to BASE~4 of its basis: not
// when the base has two characters or fewer, which take the checksum form
// from the start.
bool takesBasisNumbers(const AliasBasis& basis);

// Windows' checksum of the long name's UTF-16 code units (as CodeUnits.h
// reads them), so that a checksum alias is the one Windows gives.
std::uint16_t aliasChecksum(std::string_view longName);

// The first two characters of the base (as many as it has) and the checksum
// as four upper-case hex digits.
std::string checksumPrefix(const AliasBasis& basis, std::uint16_t checksum);

// The checksum a prefix carries when it has the shape of a checksum form's
// (a head of up to two characters, then four hex digits); nothing otherwise.
std::optional<std::uint16_t> checksumInPrefix(std::string_view prefix);

// PREFIX~N.EXT, the prefix cut so that the name part stays within 8.
struct AliasParts {
  std::string prefix;
  unsigned number;
  std::string extension;

  std::string text() const;
};
// Seven digits beside the "~" fill the eight characters of a name.
inline constexpr unsigned maxAliasNumber = 9999999;
AliasParts numberedAlias(std::string_view prefix, unsigned number, std::string_view extension);
std::size_t aliasPrefixLength(unsigned number);  // the most of a prefix that fits beside ~N

// The parts of a text that has the shape of an alias, upper-cased; nothing
// for any other text.
std::optional<AliasParts> parseAlias(std::string_view text);

}  // namespace WindowsNames

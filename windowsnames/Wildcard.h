// Windows' wildcard rules: the translation that FindFirstFile applies to a
// pattern, and the matching of a name against the translated pattern, one
// UTF-16 code unit at a time and without regard to case (see CodeUnits.h).
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace WindowsNames {

struct WildcardToken {
  enum class Kind : unsigned char {
    Literal,
    Star,     // any run of characters
    DosStar,  // any run that holds the name's last "." only as its end
    DosQm,    // one character, or none at a "." or at the end of the name
    DosDot,   // a ".", or nothing at the end of the name
  };
  Kind kind;
  char16_t literal;  // upper-cased
};

using WildcardPattern = std::vector<WildcardToken>;

WildcardPattern translateWildcards(std::string_view pattern);
bool matchesWildcards(const WildcardPattern& pattern, std::string_view name);

// Whether the pattern matches any of the aliases PREFIX~N.EXT whose number N
// has `digits` digits, the first from `firstDigitLow` to `firstDigitHigh`.
bool matchesNumberedAliases(const WildcardPattern& pattern, std::string_view prefix, std::size_t digits,
                            char firstDigitLow, char firstDigitHigh, std::string_view extension);

// Whether the pattern could match some alias numbered from 10 to
// `highestNumber`, whatever its prefix, and with `extension` when it is
// given, else with any. When it cannot (`*050000.txt` cannot below
// 1,000,000, `*.c` cannot with the extension TXT), no name needs to be asked
// whether its alias is one.
bool mayMatchAliasFromTen(const WildcardPattern& pattern, std::size_t highestNumber,
                          std::optional<std::string_view> extension = std::nullopt);

// Whether the pattern could match any alias numbered up to `highestNumber`.
// When it cannot (`dir 00*` holds a space, which no alias does), a search
// compares long names alone.
bool mayMatchAlias(const WildcardPattern& pattern, std::size_t highestNumber);

// Whether the pattern could match some short name a disk holds: 1 to 8
// characters, then optionally "." and 1 to 3 more. When it cannot
// (`*.html`, `long*name`), no entry's short name needs to be read.
bool mayMatchShortName(const WildcardPattern& pattern);

}  // namespace WindowsNames

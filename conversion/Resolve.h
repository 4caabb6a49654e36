// Wildcard resolution: turns argument text holding "?" or "*" into a long
// path holding neither, one component at a time, each wildcard component
// replaced by the first entry the directory search reports for it.
#pragma once

#include <concepts>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "conversion/Outcome.h"
#include "conversion/PathSyntax.h"

namespace GetVEK {

// The directory search: `search(pattern)` gives the name of the first entry
// that the platform's search reports for `pattern`, nothing, or the failure
// that kept it from finding out.
template <class Search>
concept FirstEntrySearch = requires(Search& search, const std::string& pattern) {
  { search(pattern) } -> std::same_as<Found>;
};

inline constexpr std::size_t notFound = std::string_view::npos;

inline bool isWildcard(char c) { return c == '?' || c == '*'; }

// Where the first wildcard character of `text` stands, and the last
// separator and first drive colon before it; notFound for any that is not
// there. Only the first byte of each character is looked at.
struct WildcardScan {
  std::size_t wildcard = notFound;
  std::size_t lastSeparator = notFound;
  std::size_t firstDriveColon = notFound;
};

template <PathSyntax Syntax>
WildcardScan scanToWildcard(std::string_view text, const Syntax& syntax) {
  WildcardScan scan;
  for (std::size_t at = 0; at < text.size(); at += syntax.characterLength(text.substr(at))) {
    if (isWildcard(text[at])) {
      scan.wildcard = at;
      break;
    }
    if (syntax.isSeparator(text[at]))
      scan.lastSeparator = at;
    else if (syntax.isDriveColon(text[at]) && scan.firstDriveColon == notFound)
      scan.firstDriveColon = at;
  }
  return scan;
}

template <PathSyntax Syntax>
std::size_t findSeparator(std::string_view text, const Syntax& syntax) {
  for (std::size_t at = 0; at < text.size(); at += syntax.characterLength(text.substr(at)))
    if (syntax.isSeparator(text[at])) return at;
  return notFound;
}

template <PathSyntax Syntax>
bool holdsWildcard(std::string_view text, const Syntax& syntax) {
  return scanToWildcard(text.substr(syntax.prefixLength(text)), syntax).wildcard != notFound;
}

// Text outside the replaced components, separators included, is kept as
// typed.
template <PathSyntax Syntax, FirstEntrySearch Search>
Found resolve(std::string_view argumentText, const Syntax& syntax, Search&& findFirstEntry) {
  // The device prefix, then each resolved component with the separator typed
  // after it: empty or ending with a separator while text remains.
  std::string resolved(argumentText.substr(0, syntax.prefixLength(argumentText)));
  // Always a tail of the argument text, so it is never copied.
  std::string_view remaining = argumentText.substr(resolved.size());
  for (;;) {
    const WildcardScan scan = scanToWildcard(remaining, syntax);
    if (scan.wildcard == notFound) break;
    // Wildcard characters are single bytes in every code page.
    const std::size_t separatorAfter = findSeparator(remaining.substr(scan.wildcard + 1), syntax);
    const std::size_t componentEnd = separatorAfter == notFound ? remaining.size() : scan.wildcard + 1 + separatorAfter;

    std::string pattern = resolved;
    pattern += remaining.substr(0, componentEnd);
    const Found found = findFirstEntry(pattern);
    if (!found.hasName()) return found;

    // The directory searched: up to the last separator, else what is
    // resolved already, else up to a drive colon, else nothing.
    if (scan.lastSeparator != notFound)
      resolved += remaining.substr(0, scan.lastSeparator + 1);
    else if (resolved.empty() && scan.firstDriveColon != notFound)
      resolved += remaining.substr(0, scan.firstDriveColon + 1);
    resolved += found.name();

    if (separatorAfter == notFound) return Found::name(std::move(resolved));
    // The separator as typed; one that ends the text is dropped.
    const char separator = remaining[componentEnd];
    remaining.remove_prefix(componentEnd + 1);
    if (!remaining.empty()) resolved += separator;
  }
  resolved += remaining;
  return Found::name(std::move(resolved));
}

}  // namespace GetVEK

// Wildcard resolution: turns argument text holding "?" or "*" into a long
// path holding neither, one component at a time, each wildcard component
// replaced by the first entry the directory search reports for it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/Platform.h"

namespace GetVEK {

inline bool holdsWildcard(std::string_view text) { return text.find_first_of("?*") != std::string_view::npos; }

// The part of `head` that names the directory being searched: up to its last
// separator, else up to its drive colon, else nothing.
inline std::string_view directoryPrefix(std::string_view head, const Platform::PathSyntax& syntax) {
  if (const auto separator = head.rfind(syntax.separator); separator != std::string_view::npos)
    return head.substr(0, separator + 1);
  if (syntax.driveColon != '\0') {
    if (const auto colon = head.find(syntax.driveColon); colon != std::string_view::npos)
      return head.substr(0, colon + 1);
  }
  return {};
}

// `findFirstEntry(pattern)` gives the long name of the first entry that the
// platform's search reports for `pattern`, or nothing.
template <class FindFirstEntry>
std::optional<std::string> resolve(std::string_view argumentText, const Platform::PathSyntax& syntax,
                                   FindFirstEntry&& findFirstEntry) {
  std::string resolved;
  // Always a tail of the argument text, so it is never copied.
  std::string_view remaining = argumentText;
  while (holdsWildcard(remaining)) {
    // Whichever wildcard character comes first decides the component.
    const auto wildcard = remaining.find_first_of("?*");
    std::string head = resolved;
    head += remaining.substr(0, wildcard + 1);
    const std::string_view after = remaining.substr(wildcard + 1);
    const auto separator = after.find(syntax.separator);
    std::string pattern = head;
    pattern += after.substr(0, separator);
    const std::string_view next =
        separator == std::string_view::npos ? std::string_view() : after.substr(separator + 1);

    const std::optional<std::string> found = findFirstEntry(pattern);
    if (!found) return std::nullopt;
    resolved.assign(directoryPrefix(head, syntax));
    resolved += *found;
    if (!next.empty()) resolved += syntax.separator;
    remaining = next;
  }
  resolved += remaining;
  return resolved;
}

// Resolution against the platform's own directory search and path syntax.
std::optional<std::string> resolve(std::string_view argumentText);

}  // namespace GetVEK

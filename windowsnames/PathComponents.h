// A path taken apart at its separators, as the lookup walks it, and the shape
// of a short form.
#pragma once

#include <algorithm>
#include <concepts>
#include <string_view>

namespace WindowsNames {

// Called with each component and whether a separator follows it; says
// whether to go on.
template <class Visit>
concept ComponentVisitor = std::predicate<Visit&, std::string_view, bool>;

// Visits the texts between separators in order, empty ones included (before
// a leading separator, between two in a row, after a trailing one), so that
// joined again with the separator they give the path back. Nothing is
// copied: a lookup walks every path this way. False when a visit stopped it.
template <ComponentVisitor Visit>
bool forEachComponent(std::string_view path, char separator, Visit&& visit) {
  for (std::size_t at = 0;;) {
    const std::size_t end = std::min(path.find(separator, at), path.size());
    const bool separatorFollows = end < path.size();
    if (!visit(path.substr(at, end - at), separatorFollows)) return false;
    if (!separatorFollows) return true;
    at = end + 1;
  }
}

// Whether `path` has the shape of a short form: not empty, and every
// component a valid 8.3 name, "." or "..", or empty where separators stand
// as typed.
bool isShortPath(std::string_view path, char separator);

}  // namespace WindowsNames

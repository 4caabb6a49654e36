#include "windowsnames/PathComponents.h"

#include <algorithm>

#include "windowsnames/ShortName.h"

namespace WindowsNames {

std::vector<std::string_view> pathComponents(std::string_view path, char separator) {
  std::vector<std::string_view> components;
  components.reserve(static_cast<std::size_t>(std::count(path.begin(), path.end(), separator)) + 1);
  for (std::size_t at = 0;;) {
    const std::size_t end = std::min(path.find(separator, at), path.size());
    components.push_back(path.substr(at, end - at));
    if (end == path.size()) return components;
    at = end + 1;
  }
}

bool isShortPath(std::string_view path, char separator) {
  if (path.empty()) return false;
  for (const std::string_view component : pathComponents(path, separator)) {
    if (!component.empty() && component != "." && component != ".." && !isShortName(component)) return false;
  }
  return true;
}

}  // namespace WindowsNames

#include "windowsnames/PathComponents.h"

#include "windowsnames/ShortName.h"

namespace WindowsNames {

bool isShortPath(std::string_view path, char separator) {
  return !path.empty() && forEachComponent(path, separator, [](std::string_view component, bool) {
    return component.empty() || component == "." || component == ".." || isShortName(component);
  });
}

}  // namespace WindowsNames

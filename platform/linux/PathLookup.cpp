#include "platform/linux/PathLookup.h"

#include "windowsnames/AliasAssignment.h"
#include "windowsnames/PathComponents.h"
#include "windowsnames/ShortName.h"

namespace Platform::Linux {
namespace {

using WindowsNames::AliasAssignment;
using WindowsNames::isShortName;

// The entry's name on disk and its short name.
struct Found {
  std::string name;
  std::string shortName;
};

std::optional<Found> findComponent(Directory& directory, std::string_view component) {
  if (component == "." || component == "..") return Found{std::string(component), std::string(component)};
  AliasAssignment<Directory> aliases(directory);
  std::optional<std::string> name;
  if (directory.hasEntry(component))
    name.emplace(component);
  else
    name = aliases.entryWithAlias(component);
  if (!name) return std::nullopt;
  if (isShortName(*name)) return Found{*name, *name};
  std::optional<std::string> alias = aliases.aliasOf(*name);
  if (!alias) return std::nullopt;
  return Found{std::move(*name), std::move(*alias)};
}

}  // namespace

std::optional<LookedUpPath> lookUpPath(std::string_view path) {
  std::optional<Directory> directory = Directory::openStart(!path.empty() && path.front() == '/');
  if (!directory) return std::nullopt;
  std::string shortForm;
  const bool found = WindowsNames::forEachComponent(path, '/', [&](std::string_view component, bool separatorFollows) {
    if (!component.empty()) {
      const std::optional<Found> entry = findComponent(*directory, component);
      if (!entry) return false;
      shortForm += entry->shortName;
      if (separatorFollows && entry->name != ".") {
        directory = directory->openSubdirectory(entry->name);
        if (!directory) return false;
      }
    }
    if (separatorFollows) shortForm += '/';
    return true;
  });
  if (!found) return std::nullopt;
  return LookedUpPath{std::move(*directory), std::move(shortForm)};
}

}  // namespace Platform::Linux

#include "platform/linux/PathLookup.h"

#include "windowsnames/AliasAssignment.h"
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
  std::size_t at = 0;
  while (at < path.size()) {
    if (path[at] == '/') {
      shortForm += '/';
      ++at;
      continue;
    }
    const std::size_t end = std::min(path.find('/', at), path.size());
    const std::optional<Found> found = findComponent(*directory, path.substr(at, end - at));
    if (!found) return std::nullopt;
    shortForm += found->shortName;
    if (end < path.size() && found->name != ".") {
      directory = directory->openSubdirectory(found->name);
      if (!directory) return std::nullopt;
    }
    at = end;
  }
  return LookedUpPath{std::move(*directory), std::move(shortForm)};
}

}  // namespace Platform::Linux

#include "platform/linux/PathLookup.h"

#include "windowsnames/AliasAssignment.h"
#include "windowsnames/CodeUnits.h"
#include "windowsnames/DirectorySearch.h"
#include "windowsnames/PathComponents.h"
#include "windowsnames/ShortName.h"

namespace Platform::Linux {
namespace {

using WindowsNames::AliasAssignment;
using WindowsNames::equalWithoutCase;
using WindowsNames::isShortName;
using WindowsNames::listedBefore;

// The entry's name on disk and its short name.
struct Found {
  std::string name;
  std::string shortName;
};

// Of the names equal to `component` without regard to case, the first that
// NTFS would list; a file system that tells case apart may hold several.
std::optional<std::string> firstEqualWithoutCase(Directory& directory, std::string_view component) {
  std::optional<std::string> first;
  directory.forEachName([&](std::string_view name) {
    if (equalWithoutCase(name, component) && (!first || listedBefore(name, *first))) first = name;
    return true;
  });
  return first;
}

// Found by its exact spelling, else as an alias, else without regard to
// case. Windows asks for the case before the alias; the answers are the
// same, since no name is equal to another entry's alias but for case: an
// alias is ASCII, no unit beyond ASCII upper-cases to ASCII in Windows'
// table, and an ASCII name equal to an alias but for case is a valid 8.3
// name, which no alias may equal. The alias goes first because it costs no
// pass over the directory when the component cannot be one. A component
// that is a valid 8.3 name is its own short name, as typed.
std::optional<Found> findComponent(Directory& directory, std::string_view component) {
  if (component == "." || component == "..") return Found{std::string(component), std::string(component)};
  AliasAssignment<Directory> aliases(directory);
  std::optional<std::string> name;
  if (directory.hasEntry(component)) name.emplace(component);
  if (!name) name = aliases.entryWithAlias(component);
  if (!name) name = firstEqualWithoutCase(directory, component);
  if (!name) return std::nullopt;
  if (isShortName(component)) return Found{std::move(*name), std::string(component)};
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

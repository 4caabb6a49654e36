// Alias making on arbitrary names, created in the order given: every alias
// is the one a plain simulation of the whole directory gives (every entry in
// creation order, each taking the first number not yet taken), is a valid
// 8.3 name equal to no other entry's short name, and leads back to its
// entry. The ordered search agrees with the plainest reading of it: sort
// the whole directory, take the first entry whose name or alias matches.
// Input: a pattern, then names, separated by "/" (NUL bytes too, as a
// directory cannot hold either in a name).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tests/windowsnames/AliasSimulation.h"
#include "tests/windowsnames/FakeDirectory.h"
#include "windowsnames/AliasAssignment.h"
#include "windowsnames/DirectorySearch.h"
#include "windowsnames/PathComponents.h"
#include "windowsnames/ShortName.h"

using TestSupport::FakeDirectory;
using TestSupport::simulateAliases;
using WindowsNames::AliasAssignment;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A NUL byte separates as "/" does.
  std::string input(reinterpret_cast<const char*>(data), size);
  std::replace(input.begin(), input.end(), '\0', '/');
  const std::size_t patternEnd = std::min(input.find('/'), input.size());
  const std::string pattern = input.substr(0, patternEnd);
  FakeDirectory directory;
  std::set<std::string> names;
  if (patternEnd < input.size()) {
    WindowsNames::forEachComponent(
        std::string_view(input).substr(patternEnd + 1), '/', [&](std::string_view piece, bool) {
          const std::string name(piece);
          if (!name.empty() && name != "." && name != ".." && name.size() <= 255 && names.insert(name).second)
            directory.add(name);
          return names.size() < 24;
        });
  }

  // Valid 8.3 names may repeat one another in another case; aliases may not
  // repeat anything.
  std::set<std::string> shortNames;
  for (const auto& entry : directory.entries)
    if (WindowsNames::isShortName(entry.name)) shortNames.insert(WindowsNames::asciiUpper(entry.name));
  const std::map<std::string, std::string> expected = simulateAliases(directory);
  AliasAssignment aliases(directory);
  for (const auto& entry : directory.entries) {
    if (WindowsNames::isShortName(entry.name)) continue;
    const std::optional<std::string> alias = aliases.aliasOf(entry.name);
    if (alias != expected.at(entry.name)) std::abort();
    if (!WindowsNames::isShortName(*alias)) std::abort();
    if (!shortNames.insert(*alias).second) std::abort();
    if (AliasAssignment(directory).aliasOf(entry.name) != alias) std::abort();
    if (AliasAssignment(directory).entryWithAlias(*alias) != entry.name) std::abort();
  }

  if (pattern.empty()) return 0;
  using namespace WindowsNames;
  const WildcardPattern wildcards = translateWildcards(pattern);
  std::vector<std::string> listed(names.begin(), names.end());
  std::sort(listed.begin(), listed.end(), listedBefore);
  // "." and ".." come first, and only, when the pattern matches "." or nothing.
  std::optional<std::string> first;
  if (matchesWildcards(wildcards, ".") || matchesWildcards(wildcards, "")) first = ".";
  for (const std::string& name : listed) {
    if (first) break;
    const auto alias = expected.find(name);
    if (matchesWildcards(wildcards, name) || (alias != expected.end() && matchesWildcards(wildcards, alias->second))) {
      first = name;
      break;
    }
  }
  // Answered alike by aliases worked out before and by fresh ones.
  if (findFirstMatch(directory, aliases, pattern) != first) std::abort();
  AliasAssignment fresh(directory);
  if (findFirstMatch(directory, fresh, pattern) != first) std::abort();
  return 0;
}

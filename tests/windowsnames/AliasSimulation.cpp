#include "tests/windowsnames/AliasSimulation.h"

#include <set>

#include "windowsnames/ShortName.h"

namespace TestSupport {

std::map<std::string, std::string> simulateAliases(const FakeDirectory& directory) {
  using namespace WindowsNames;
  std::set<std::string> taken;
  for (const auto& entry : directory.entries)
    if (isShortName(entry.name)) taken.insert(asciiUpper(entry.name));
  std::map<std::string, std::string> aliases;
  for (const auto& entry : directory.entries) {
    if (isShortName(entry.name)) continue;
    const AliasBasis basis = aliasBasis(entry.name);
    std::string alias;
    for (unsigned number = 1; number <= 4 && alias.empty() && takesBasisNumbers(basis); ++number) {
      const std::string candidate = numberedAlias(basis.base, number, basis.extension).text();
      if (taken.count(candidate) == 0) alias = candidate;
    }
    const std::string prefix = checksumPrefix(basis, aliasChecksum(entry.name));
    for (unsigned number = 1; alias.empty(); ++number) {
      const std::string candidate = numberedAlias(prefix, number, basis.extension).text();
      if (taken.count(candidate) == 0) alias = candidate;
    }
    taken.insert(alias);
    aliases[entry.name] = alias;
  }
  return aliases;
}

}  // namespace TestSupport

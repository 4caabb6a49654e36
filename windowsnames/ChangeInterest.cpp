#include "windowsnames/ChangeInterest.h"

#include <optional>

#include "windowsnames/CodeUnits.h"
#include "windowsnames/DirectorySearch.h"
#include "windowsnames/ShortName.h"

namespace WindowsNames {
namespace {

// Numbers from 10 on cut the prefix, so only its head is compared.
bool prefixesMeet(std::string_view prefix, std::string_view other) {
  const std::size_t shorter = std::min(prefix.size(), other.size());
  return prefix.substr(0, shorter) == other.substr(0, shorter);
}

}  // namespace

void ChangeInterest::addPattern(std::string_view pattern) { patterns_.push_back(translateWildcards(pattern)); }

void ChangeInterest::addComponent(std::string_view component) {
  components_.emplace_back(component);
  if (const std::optional<AliasParts> alias = parseAlias(component)) {
    aliasPrefixes_.insert({alias->prefix, alias->extension});
    if (const std::optional<std::uint16_t> checksum = checksumInPrefix(alias->prefix))
      checksums_.insert({*checksum, alias->extension});
  }
}

void ChangeInterest::addAliasOf(std::string_view longName) {
  AliasBasis basis = aliasBasis(longName);
  const std::uint16_t checksum = aliasChecksum(longName);
  checksums_.insert({checksum, basis.extension});
  aliasPrefixes_.insert({checksumPrefix(basis, checksum), basis.extension});
  aliasPrefixes_.insert({basis.base, basis.extension});
  bases_.insert({std::move(basis.base), std::move(basis.extension)});
}

bool ChangeInterest::sharesAnAlias(std::string_view name) const {
  if (isShortName(name)) {
    const std::optional<AliasParts> alias = parseAlias(name);
    if (!alias) return false;
    for (const auto& [prefix, extension] : aliasPrefixes_)
      if (extension == alias->extension && prefixesMeet(prefix, alias->prefix)) return true;
    return false;
  }
  const AliasBasis basis = aliasBasis(name);
  return bases_.count({basis.base, basis.extension}) != 0 ||
         checksums_.count({aliasChecksum(name), basis.extension}) != 0;
}

bool ChangeInterest::concerns(std::string_view name) const {
  for (const WildcardPattern& pattern : patterns_) {
    if (matchesWildcards(pattern, name)) return true;
    // A long name may match through its alias, whatever number it holds.
    if (!isShortName(name)) {
      const AliasBasis basis = aliasBasis(name);
      const std::uint16_t checksum = aliasChecksum(name);
      if (aliasBelowTenMayMatch(pattern, basis, checksum) ||
          aliasFromTenMayMatch(pattern, basis, checksum, maxAliasNumber))
        return true;
    }
  }
  for (const std::string& component : components_)
    if (equalWithoutCase(name, component)) return true;
  return sharesAnAlias(name);
}

}  // namespace WindowsNames

#include "platform/posix/DirectorySearch.h"

namespace platform::posix {

bool listedBefore(std::string_view name, std::string_view other) {
  const std::size_t common = std::min(name.size(), other.size());
  for (std::size_t at = 0; at < common; ++at) {
    const auto a = static_cast<unsigned char>(asciiUpper(name[at]));
    const auto b = static_cast<unsigned char>(asciiUpper(other[at]));
    if (a != b) return a < b;
  }
  if (name.size() != other.size()) return name.size() < other.size();
  return name < other;
}

bool aliasBelowTenMayMatch(const WildcardPattern& pattern, std::string_view name) {
  const AliasBasis basis = aliasBasis(name);
  return matchesNumberedAliases(pattern, basis.base, 1, '1', '4', basis.extension) ||
         matchesNumberedAliases(pattern, checksumPrefix(basis, aliasChecksum(name)), 1, '1', '9', basis.extension);
}

bool aliasFromTenMayMatch(const WildcardPattern& pattern, std::string_view name) {
  const AliasBasis basis = aliasBasis(name);
  const std::string prefix = checksumPrefix(basis, aliasChecksum(name));
  // Each further digit cuts the prefix by one; numbers go up to 9,999,999.
  unsigned smallest = 10;
  for (std::size_t digits = 2; digits <= 7; ++digits, smallest *= 10) {
    const std::string_view kept = std::string_view(prefix).substr(0, aliasPrefixLength(smallest));
    if (matchesNumberedAliases(pattern, kept, digits, '1', '9', basis.extension)) return true;
  }
  return false;
}

// A checksum prefix ends in the checksum's hex digits, already well spread:
// they pick the slot, so that prefixes share a count only by chance.
std::size_t CrowdedPrefixes::slot(std::string_view prefix, std::string_view extension) {
  constexpr std::size_t hexDigits = 4;
  std::size_t checksum = 0;
  std::string_view head = prefix;
  if (prefix.size() >= hexDigits) {
    std::size_t value = 0;
    bool hex = true;
    for (const char c : prefix.substr(prefix.size() - hexDigits)) {
      const bool digit = c >= '0' && c <= '9';
      hex = hex && (digit || (c >= 'A' && c <= 'F'));
      value = value * 16 + static_cast<std::size_t>(digit ? c - '0' : c - 'A' + 10);
    }
    if (hex) {
      checksum = value;
      head = prefix.substr(0, prefix.size() - hexDigits);
    }
  }
  std::string key(head);
  key += '.';
  key += extension;
  return checksum ^ aliasChecksum(key);
}

// Counted for a checksum prefix: the names it is the checksum prefix of, and
// the names that could hold one of its numbers otherwise: those whose basis
// it is, and valid 8.3 names of the form PREFIX~1 to PREFIX~9.
void CrowdedPrefixes::count(std::string_view name) {
  constexpr unsigned char crowd = 10;
  const auto bump = [&](std::string_view prefix, std::string_view extension) {
    unsigned char& counted = counts_[slot(prefix, extension)];
    if (counted < crowd && ++counted == crowd) any_ = true;
  };
  // One or two characters and four hex digits.
  const auto mayBeChecksumPrefix = [](std::string_view prefix) {
    return (prefix.size() == 5 || prefix.size() == 6) &&
           prefix.substr(prefix.size() - 4).find_first_not_of("0123456789ABCDEF") == std::string_view::npos;
  };
  if (isShortName(name)) {
    if (const std::optional<AliasParts> alias = parseAlias(name);
        alias && alias->number < 10 && mayBeChecksumPrefix(alias->prefix))
      bump(alias->prefix, alias->extension);
    return;
  }
  const AliasBasis basis = aliasBasis(name);
  bump(checksumPrefix(basis, aliasChecksum(name)), basis.extension);
  if (mayBeChecksumPrefix(basis.base)) bump(basis.base, basis.extension);
}

bool CrowdedPrefixes::mayBeCrowded(std::string_view name) const {
  const AliasBasis basis = aliasBasis(name);
  return counts_[slot(checksumPrefix(basis, aliasChecksum(name)), basis.extension)] >= 10;
}

}  // namespace platform::posix

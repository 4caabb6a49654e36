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

// Checksum aliases numbered 10 and above need ten names sharing a checksum
// prefix; they are not looked for here.
bool aliasMayMatch(const WildcardPattern& pattern, std::string_view name) {
  constexpr unsigned basisNumbers = 4;
  constexpr unsigned checksumNumbers = 9;
  const AliasBasis basis = aliasBasis(name);
  for (unsigned number = 1; number <= basisNumbers; ++number)
    if (matchesWildcards(pattern, numberedAlias(basis.base, number, basis.extension).text())) return true;
  const std::string prefix = checksumPrefix(basis, aliasChecksum(name));
  for (unsigned number = 1; number <= checksumNumbers; ++number)
    if (matchesWildcards(pattern, numberedAlias(prefix, number, basis.extension).text())) return true;
  return false;
}

}  // namespace platform::posix

// Resolve on arbitrary argument text, in both path syntaxes, against a
// stand-in search whose answers follow from the pattern: it never crashes,
// and every long path it gives is free of wildcard characters.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "conversion/Resolve.h"
#include "windowsnames/Fnv1a.h"

namespace {

// Found or not, and which name, as a hash of the pattern decides; names are
// as a platform reports them: no wildcard characters, no separators.
std::optional<std::string> standInSearch(const std::string& pattern) {
  const std::uint32_t hash = WindowsNames::fnv1a(pattern);
  if (hash % 7 == 0) return std::nullopt;
  static const char* const names[] = {".", "..", "a", "Long Name.txt", "X:Y", "back\\slash", "sl/ash"};
  std::string name = names[hash % 7];
  if (hash % 3 == 0) name += std::to_string(hash % 1000);
  return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const Platform::PathSyntax syntax = data[0] % 2 == 0 ? Platform::windowsPathSyntax : Platform::posixPathSyntax;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::optional<std::string> longPath = GetVEK::resolve(text, syntax, [&](const std::string& pattern) {
    std::optional<std::string> found = standInSearch(pattern);
    // A platform never reports a name holding its own separator.
    if (found && found->find(syntax.separator) != std::string::npos) found.reset();
    return found;
  });
  if (longPath && GetVEK::holdsWildcard(*longPath)) std::abort();
  if (!GetVEK::holdsWildcard(text) && longPath != std::string(text)) std::abort();
  return 0;
}

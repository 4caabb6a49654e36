// Resolve on arbitrary argument text, in the path syntaxes of POSIX and of
// Windows in a single-byte and a double-byte code page, against a stand-in
// search whose answers follow from the pattern: it never crashes, every long
// path it gives is free of wildcard characters and keeps a device prefix as
// typed, and text without wildcards comes back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "conversion/Resolve.h"
#include "tests/conversion/CodePage932.h"
#include "windowsnames/Fnv1a.h"

namespace {

// Found or not, and which name, as a hash of the pattern decides; names are
// as a platform reports them: no wildcard characters.
std::optional<std::string> standInSearch(const std::string& pattern) {
  const std::uint32_t hash = WindowsNames::fnv1a(pattern);
  if (hash % 7 == 0) return std::nullopt;
  // The last is 表 and "x" in code page 932: a name holding the byte of "\".
  static const char* const names[] = {".", "..", "a", "Long Name.txt", "X:Y", "back\\slash", "sl/ash", "\x95\x5Cx"};
  std::string name = names[hash % 8];
  if (hash % 3 == 0) name += std::to_string(hash % 1000);
  return name;
}

template <GetVEK::PathSyntax Syntax>
void resolveAndCheck(std::string_view text, const Syntax& syntax) {
  const std::optional<std::string> longPath = GetVEK::resolve(text, syntax, [&](const std::string& pattern) {
    std::optional<std::string> found = standInSearch(pattern);
    // A platform never reports a name holding one of its separators.
    if (found && GetVEK::findSeparator(*found, syntax) != GetVEK::notFound) found.reset();
    return GetVEK::Found::nameOrNone(std::move(found));
  }).nameIfAny();
  if (!longPath) return;
  if (GetVEK::holdsWildcard(*longPath, syntax)) std::abort();
  if (!longPath->starts_with(text.substr(0, syntax.prefixLength(text)))) std::abort();
  if (!GetVEK::holdsWildcard(text, syntax) && *longPath != text) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (data[0] % 3) {
    case 0:
      resolveAndCheck(text, GetVEK::WindowsPathSyntax{});
      break;
    case 1:
      resolveAndCheck(text, TestSupport::codePage932Syntax);
      break;
    default:
      resolveAndCheck(text, GetVEK::PosixPathSyntax{});
  }
  return 0;
}

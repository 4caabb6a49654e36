#include "conversion/Resolve.h"

#include <cstring>

namespace GetVEK {
namespace {

// One search, closed straight after its first entry has been read.
std::optional<std::string> findFirstEntry(const std::string& pattern) {
  Platform::WIN32_FIND_DATAA found{};
  const Platform::SearchHandle handle = Platform::FindFirstFileA(pattern.c_str(), &found);
  std::optional<std::string> name;
  if (handle > 0) name.emplace(found.cFileName, strnlen(found.cFileName, sizeof found.cFileName));
  Platform::FindClose(handle);
  return name;
}

}  // namespace

std::optional<std::string> resolve(std::string_view argumentText) {
  return resolve(argumentText, Platform::nativePathSyntax, findFirstEntry);
}

}  // namespace GetVEK

#include "conversion/Resolve.h"

#include <cstring>

namespace GetVEK {
namespace {

// One search, closed straight after its first entry has been read.
std::optional<std::string> findFirstEntry(const std::string& pattern) {
  platform::WIN32_FIND_DATAA found{};
  const platform::SearchHandle handle = platform::FindFirstFileA(pattern.c_str(), &found);
  std::optional<std::string> name;
  if (handle > 0) name.emplace(found.cFileName, strnlen(found.cFileName, sizeof found.cFileName));
  platform::FindClose(handle);
  return name;
}

}  // namespace

std::optional<std::string> Resolve(std::string_view argumentText) {
  return Resolve(argumentText, platform::nativePathSyntax, findFirstEntry);
}

}  // namespace GetVEK

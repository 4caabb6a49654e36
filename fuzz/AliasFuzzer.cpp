// Alias making on arbitrary names, created in the order given: every alias
// is a valid 8.3 name, equal to no other entry's short name, the same when
// worked out again, and leads back to its entry. Input: names separated by
// "/" (NUL bytes too, as a directory cannot hold either in a name).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "platform/posix/AliasAssignment.h"
#include "platform/posix/ShortName.h"
#include "tests/posix/FakeDirectory.h"

using platform::posix::AliasAssignment;
using testing_support::FakeDirectory;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  FakeDirectory directory;
  std::set<std::string> names;
  for (std::size_t at = 0; at <= input.size() && names.size() < 24;) {
    const std::size_t end = std::min(input.find_first_of(std::string_view("/\0", 2), at), input.size());
    const std::string name(input.substr(at, end - at));
    if (!name.empty() && name != "." && name != ".." && name.size() <= 255 && names.insert(name).second)
      directory.add(name);
    at = end + 1;
  }

  // Valid 8.3 names may repeat one another in another case; aliases may not
  // repeat anything.
  std::set<std::string> shortNames;
  for (const auto& entry : directory.entries)
    if (platform::posix::isShortName(entry.name)) shortNames.insert(platform::posix::asciiUpper(entry.name));
  AliasAssignment<FakeDirectory> aliases(directory);
  for (const auto& entry : directory.entries) {
    if (platform::posix::isShortName(entry.name)) continue;
    const std::optional<std::string> alias = aliases.aliasOf(entry.name);
    if (!alias || !platform::posix::isShortName(*alias)) std::abort();
    if (!shortNames.insert(*alias).second) std::abort();
    if (AliasAssignment<FakeDirectory>(directory).aliasOf(entry.name) != alias) std::abort();
    if (AliasAssignment<FakeDirectory>(directory).entryWithAlias(*alias) != entry.name) std::abort();
  }
  return 0;
}

// When an entry was made, as far as the file system can tell: the order in
// which NTFS would have handed out aliases.
#pragma once

#include <compare>
#include <cstdint>

namespace WindowsNames {

// Birth time where the file system records it (else zero), then inode.
struct CreationKey {
  std::int64_t seconds = 0;
  std::uint32_t nanoseconds = 0;
  std::uint64_t inode = 0;

  auto operator<=>(const CreationKey&) const = default;
};

}  // namespace WindowsNames

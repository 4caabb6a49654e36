// An open directory of the real file system: its entries looked up by name
// or streamed, one pass at a time, in the order the file system keeps them.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "windowsnames/CreationKey.h"

namespace Platform::Linux {

using WindowsNames::CreationKey;

class Directory {
 public:
  // The root for an absolute path, else the current directory.
  static std::optional<Directory> openStart(bool atRoot);
  // A subdirectory, symbolic links followed.
  std::optional<Directory> openSubdirectory(std::string_view name) const;

  Directory(Directory&& other) noexcept;
  Directory& operator=(Directory&& other) noexcept;
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;
  ~Directory();

  // For the calls that take a directory by its descriptor (NameSource.h).
  int descriptor() const { return handle_; }

  bool hasEntry(std::string_view name) const;
  bool isRoot() const;
  bool readable();
  // The creation key of each of `names`, in order; nothing for an entry
  // that is gone.
  std::vector<std::optional<CreationKey>> creationKeys(const std::vector<std::string>& names) const;

  // Streams the entries but "." and ".." while visit(name) returns true.
  template <class Visit>
  bool forEachName(Visit&& visit) {
    if (!readable() || lseek(listing_, 0, SEEK_SET) != 0) return false;
    alignas(dirent64) char buffer[32768];
    for (;;) {
      const ssize_t filled = getdents64(listing_, buffer, sizeof buffer);
      if (filled < 0) return false;
      if (filled == 0) return true;
      for (std::size_t at = 0; at < static_cast<std::size_t>(filled);) {
        unsigned short length = 0;
        std::memcpy(&length, buffer + at + offsetof(dirent64, d_reclen), sizeof length);
        const std::string_view name(buffer + at + offsetof(dirent64, d_name));
        at += length;
        if (name != "." && name != ".." && !visit(name)) return true;
      }
    }
  }

 private:
  explicit Directory(int handle) : handle_(handle) {}
  std::optional<CreationKey> creationKeyOf(const char* name) const;

  int handle_ = -1;   // for lookups: needs only search permission
  int listing_ = -1;  // for listing: opened when first needed
};

}  // namespace Platform::Linux

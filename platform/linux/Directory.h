// An open directory of the real file system: its entries looked up by name
// or streamed, one pass at a time, in the order the file system keeps them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "windowsnames/CreationKey.h"
#include "windowsnames/DirectoryListing.h"

namespace Platform::Linux {

using WindowsNames::CreationKey;

class Directory final : public WindowsNames::DirectoryListing {
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

  bool hasEntry(std::string_view name) const;
  bool isRoot() override;
  bool readable() override;
  std::vector<std::optional<CreationKey>> creationKeys(const std::vector<std::string>& names) override;
  // One getdents64 pass, a buffer at a time, in the order the file system
  // keeps the entries.
  bool forEachName(WindowsNames::NameVisitor visit) override;

 private:
  explicit Directory(int handle) : handle_(handle) {}
  std::optional<CreationKey> creationKeyOf(const char* name) const;

  int handle_ = -1;   // for lookups: needs only search permission
  int listing_ = -1;  // for listing: opened when first needed
};

}  // namespace Platform::Linux

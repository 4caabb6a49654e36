// An open directory of the real file system: its entries looked up by name
// or streamed, one pass at a time, in the order the file system keeps them.
#pragma once

#include <sys/types.h>
#include <time.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "windowsnames/CreationKey.h"
#include "windowsnames/DirectoryListing.h"

namespace Platform::Linux {

using WindowsNames::CreationKey;

class Directory final : public WindowsNames::DirectoryListing {
 public:
  // Which directory it is, however it was reached.
  using Identity = std::pair<dev_t, ino_t>;

  // The root for an absolute path, else the current directory; nothing, with
  // the reason in `error`, when it cannot be opened.
  static std::optional<Directory> openStart(bool atRoot, int& error);
  // A subdirectory, symbolic links followed.
  std::optional<Directory> openSubdirectory(std::string_view name, int& error) const;

  Directory(Directory&& other) noexcept;
  Directory& operator=(Directory&& other) noexcept;
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;
  ~Directory();

  std::optional<Identity> identity(int& error) const;
  // Which directory `entry` leads to now, symbolic links followed.
  std::optional<Identity> identityOf(std::string_view entry, int& error) const;

  // When the directory's entries last changed: a name made, removed or
  // renamed moves it.
  struct ChangeStamp {
    struct timespec modified;
    struct timespec changed;

    // Within the last few seconds: a change in the same tick of the file
    // system's clock (two seconds on FAT) could leave it as it is.
    bool recent() const;
    bool operator==(const ChangeStamp& other) const;
  };
  // A rename sets the times a moment before lookups see it: where they are
  // recent, one may still be under way, and this returns once it is over (a
  // listing waits for the directory's lock, which a rename holds till then),
  // so that lookups made after it are at least as new as the times.
  std::optional<ChangeStamp> changeStamp();
  // 0 when an entry of exactly this name is there, else the reason it is not.
  int entryError(std::string_view name) const;
  // The descriptor for looking entries up; needs only search permission.
  int descriptor() const { return handle_; }

  // The first error a listing or a creation key met since the last
  // clearError() that was not "no such entry" (an entry gone meanwhile).
  int lastError() const { return lastError_; }
  void clearError() { lastError_ = 0; }

  bool isRoot() override;
  bool readable() override;
  std::uint64_t reportedSize() override;
  std::vector<std::optional<CreationKey>> creationKeys(const std::vector<std::string>& names) override;
  // One getdents64 pass, a buffer at a time, in the order the file system
  // keeps the entries.
  bool forEachName(WindowsNames::NameVisitor visit) override;

  // Called with the directory's inode as each pass over it begins: the tests
  // count passes with it, and change a directory under one.
  static inline std::function<void(ino_t)> passBeginning;

 private:
  explicit Directory(int handle) : handle_(handle) {}
  std::optional<CreationKey> creationKeyOf(const char* name) const;

  void noteError(int error) const;

  int handle_ = -1;   // for lookups: needs only search permission
  int listing_ = -1;  // for listing: opened when first needed
  mutable std::atomic<int> lastError_{0};  // creation keys are looked up on several threads
};

}  // namespace Platform::Linux

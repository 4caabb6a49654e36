#include "platform/linux/Directory.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <string>
#include <utility>

namespace Platform::Linux {
namespace {

constexpr int lookupFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

void closeHandle(int& handle) {
  if (handle >= 0) ::close(handle);
  handle = -1;
}

}  // namespace

std::optional<Directory> Directory::openStart(bool atRoot) {
  const int handle = ::open(atRoot ? "/" : ".", lookupFlags);
  if (handle < 0) return std::nullopt;
  return Directory(handle);
}

std::optional<Directory> Directory::openSubdirectory(std::string_view name) const {
  const int handle = ::openat(handle_, std::string(name).c_str(), lookupFlags);
  if (handle < 0) return std::nullopt;
  return Directory(handle);
}

Directory::Directory(Directory&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)), listing_(std::exchange(other.listing_, -1)) {}

Directory& Directory::operator=(Directory&& other) noexcept {
  if (this != &other) {
    closeHandle(handle_);
    closeHandle(listing_);
    handle_ = std::exchange(other.handle_, -1);
    listing_ = std::exchange(other.listing_, -1);
  }
  return *this;
}

Directory::~Directory() {
  closeHandle(handle_);
  closeHandle(listing_);
}

bool Directory::hasEntry(std::string_view name) const {
  struct stat status {};
  return ::fstatat(handle_, std::string(name).c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
}

bool Directory::isRoot() const {
  struct stat here {};
  struct stat root {};
  return ::fstat(handle_, &here) == 0 && ::stat("/", &root) == 0 && here.st_dev == root.st_dev &&
         here.st_ino == root.st_ino;
}

bool Directory::readable() {
  if (listing_ < 0) listing_ = ::openat(handle_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return listing_ >= 0;
}

std::vector<std::optional<CreationKey>> Directory::creationKeys(const std::vector<std::string>& names) const {
  std::vector<std::optional<CreationKey>> keys;
  keys.reserve(names.size());
  for (const std::string& name : names) keys.push_back(creationKeyOf(name.c_str()));
  return keys;
}

std::optional<CreationKey> Directory::creationKeyOf(const char* name) const {
  struct statx status {};
  CreationKey key;
  if (::statx(handle_, name, AT_SYMLINK_NOFOLLOW | AT_STATX_DONT_SYNC, STATX_BTIME | STATX_INO, &status) != 0)
    return std::nullopt;
  if ((status.stx_mask & STATX_BTIME) != 0) {
    key.seconds = status.stx_btime.tv_sec;
    key.nanoseconds = status.stx_btime.tv_nsec;
  }
  key.inode = status.stx_ino;
  return key;
}

}  // namespace Platform::Linux

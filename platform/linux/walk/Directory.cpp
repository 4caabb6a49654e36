#include "platform/linux/walk/Directory.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

namespace Platform::Linux {

namespace {

constexpr int lookupFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

void closeHandle(int& handle) {
  if (handle >= 0) ::close(handle);
  handle = -1;
}

// Each key is a system call that walks the name and reads the inode, and
// the few bases that many names share need one for every member: a large
// batch is split over the cores. Below a few dozen names a thread costs more
// than it saves.
std::size_t partsFor(std::size_t names) {
  constexpr std::size_t namesPerPart = 64;
  constexpr std::size_t mostParts = 4;
  if (names < 2 * namesPerPart) return 1;
  const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
  return std::min({cores, mostParts, names / namesPerPart});
}

}  // namespace

std::optional<Directory> Directory::openStart(bool atRoot, int& error) {
  const int handle = ::open(atRoot ? "/" : ".", lookupFlags);
  if (handle < 0) {
    error = errno;
    return std::nullopt;
  }
  return Directory(handle);
}

std::optional<Directory> Directory::openSubdirectory(std::string_view name, int& error) const {
  const int handle = ::openat(handle_, std::string(name).c_str(), lookupFlags);
  if (handle < 0) {
    error = errno;
    return std::nullopt;
  }
  return Directory(handle);
}

Directory::Directory(Directory&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)),
      listing_(std::exchange(other.listing_, -1)),
      lastError_(other.lastError_.load()) {}

Directory& Directory::operator=(Directory&& other) noexcept {
  if (this != &other) {
    closeHandle(handle_);
    closeHandle(listing_);
    handle_ = std::exchange(other.handle_, -1);
    listing_ = std::exchange(other.listing_, -1);
    lastError_ = other.lastError_.load();
  }
  return *this;
}

Directory::~Directory() {
  closeHandle(handle_);
  closeHandle(listing_);
}

std::optional<Directory::Identity> Directory::identity(int& error) const { return identityOf("", error); }

std::optional<Directory::Identity> Directory::identityOf(std::string_view entry, int& error) const {
  struct stat status {};
  if (::fstatat(handle_, std::string(entry).c_str(), &status, entry.empty() ? AT_EMPTY_PATH : 0) != 0) {
    error = errno;
    return std::nullopt;
  }
  return Identity{status.st_dev, status.st_ino};
}

std::optional<Directory::ChangeStamp> Directory::changeStamp() {
  struct stat status {};
  if (::fstat(handle_, &status) != 0) return std::nullopt;
  const ChangeStamp stamp{status.st_mtim, status.st_ctim};
  if (stamp.recent() && readable()) {
    char tooSmall = 0;  // for any entry: the listing ends at once
    (void)getdents64(listing_, &tooSmall, sizeof tooSmall);
  }
  return stamp;
}

bool Directory::ChangeStamp::recent() const {
  constexpr time_t settled = 3;  // seconds, past FAT's two-second clock
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
  return modified.tv_sec + settled >= now.tv_sec;
}

bool Directory::ChangeStamp::operator==(const ChangeStamp& other) const {
  return modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
         changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
}

int Directory::entryError(std::string_view name) const {
  struct stat status {};
  return ::fstatat(handle_, std::string(name).c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

// An entry gone since it was listed is no error: the listing is what it is.
void Directory::noteError(int error) const {
  int none = 0;
  if (error != ENOENT) lastError_.compare_exchange_strong(none, error);
}

bool Directory::isRoot() {
  struct stat here {};
  struct stat root {};
  return ::fstat(handle_, &here) == 0 && ::stat("/", &root) == 0 && here.st_dev == root.st_dev &&
         here.st_ino == root.st_ino;
}

// Only a hint of the cost ahead: where it cannot be had, none is given.
std::uint64_t Directory::reportedSize() {
  struct stat status {};
  return ::fstat(handle_, &status) == 0 && status.st_size > 0 ? static_cast<std::uint64_t>(status.st_size) : 0;
}

bool Directory::readable() {
  if (listing_ < 0) listing_ = ::openat(handle_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing_ < 0) noteError(errno);
  return listing_ >= 0;
}

std::vector<std::optional<CreationKey>> Directory::creationKeys(const std::vector<std::string>& names) {
  std::vector<std::optional<CreationKey>> keys(names.size());
  const auto lookUp = [&](std::size_t begin, std::size_t end) {
    for (std::size_t at = begin; at < end; ++at) keys[at] = creationKeyOf(names[at].c_str());
  };
  const std::size_t parts = partsFor(names.size());
  const std::size_t share = (names.size() + parts - 1) / parts;
  std::vector<std::thread> helpers;
  for (std::size_t begin = share; begin < names.size(); begin += share) {
    const std::size_t end = std::min(names.size(), begin + share);
    try {
      helpers.emplace_back(lookUp, begin, end);
    } catch (const std::system_error&) {
      lookUp(begin, end);  // no thread to be had: done here instead
    }
  }
  lookUp(0, std::min(share, names.size()));
  for (std::thread& helper : helpers) helper.join();
  return keys;
}

bool Directory::forEachName(WindowsNames::NameVisitor visit) {
  if (!readable()) return false;
  if (passBeginning) {
    struct stat status {};
    if (::fstat(listing_, &status) == 0) passBeginning(status.st_ino);
  }
  if (lseek(listing_, 0, SEEK_SET) != 0) {
    noteError(errno);
    return false;
  }
  alignas(dirent64) char buffer[32768];
  for (;;) {
    const ssize_t filled = getdents64(listing_, buffer, sizeof buffer);
    if (filled < 0) {
      noteError(errno);
      return false;
    }
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

std::optional<CreationKey> Directory::creationKeyOf(const char* name) const {
  struct statx status {};
  CreationKey key;
  if (::statx(handle_, name, AT_SYMLINK_NOFOLLOW | AT_STATX_DONT_SYNC, STATX_BTIME | STATX_INO, &status) != 0) {
    noteError(errno);
    return std::nullopt;
  }
  if ((status.stx_mask & STATX_BTIME) != 0) {
    key.seconds = status.stx_btime.tv_sec;
    key.nanoseconds = status.stx_btime.tv_nsec;
  }
  key.inode = status.stx_ino;
  return key;
}

}  // namespace Platform::Linux

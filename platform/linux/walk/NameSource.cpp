#include "platform/linux/walk/NameSource.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <string>

#include "platform/ErrorPolicy.h"
#include "windowsnames/CodeUnits.h"
#include "windowsnames/ShortName.h"

namespace Platform::Linux {
namespace {

std::string descriptorPath(int descriptor) { return "/proc/self/fd/" + std::to_string(descriptor); }

// A small file of /proc, whole; nothing when it cannot be read.
std::optional<std::string> readProcFile(const std::string& path) {
  const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) return std::nullopt;
  std::string text;
  char buffer[4096];
  ssize_t got = 0;
  while ((got = ::read(file, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(got));
  ::close(file);
  if (got < 0) return std::nullopt;
  return text;
}

// The mount a descriptor is on, by the ID that /proc/self/mountinfo uses.
std::optional<std::uint64_t> mountIdOf(int descriptor) {
  const std::optional<std::string> info = readProcFile("/proc/self/fdinfo/" + std::to_string(descriptor));
  if (!info) return std::nullopt;
  const auto field = info->find("mnt_id:");
  if (field == std::string::npos) return std::nullopt;
  return std::strtoull(info->c_str() + field + 7, nullptr, 10);
}

}  // namespace

std::int64_t NameCalls::fileSystemType(int directory) const {
  struct statfs status {};
  if (::fstatfs(directory, &status) != 0) return -errno;
  return static_cast<std::int64_t>(status.f_type);
}

std::optional<std::uint64_t> NameCalls::inodeNumber(int directory) const {
  struct stat status {};
  if (::fstat(directory, &status) != 0) return std::nullopt;
  return status.st_ino;
}

// Through /proc/self/fd, which names the directory for the path-based calls:
// fgetxattr refuses an O_PATH descriptor, and opening each entry would cost
// a call of its own.
ssize_t NameCalls::attribute(int directory, std::string_view name, const char* attribute, char* value,
                             std::size_t size) const {
  std::string path = descriptorPath(directory);
  ssize_t length = 0;
  if (name.empty()) {
    length = ::getxattr(path.c_str(), attribute, value, size);
  } else {
    path += '/';
    path += name;
    length = ::lgetxattr(path.c_str(), attribute, value, size);
  }
  return length < 0 ? -errno : length;
}

int NameCalls::forEachFatRecord(int directory, const std::function<bool(const FatRecordPair&)>& visit) const {
  const int listing = ::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return errno;
  FatRecordPair records{};
  int read = 0;
  // One entry a call; 0 at the end of the directory.
  while ((read = ::ioctl(listing, VFAT_IOCTL_READDIR_BOTH, &records)) > 0)
    if (!visit(records)) break;
  const int error = read < 0 ? errno : 0;
  ::close(listing);
  return error;
}

FatDisplay NameCalls::fatDisplay(int directory) const {
  const std::optional<std::uint64_t> mountId = mountIdOf(directory);
  const std::optional<std::string> mountInfo = readProcFile("/proc/self/mountinfo");
  if (!mountId || !mountInfo) return {};
  const std::optional<MountLine> mount = mountLineOf(*mountInfo, *mountId);
  if (!mount) return {};
  return fatDisplayOf(mount->fileSystemType, mount->superOptions);
}

const NameCalls& NameCalls::system() {
  static const NameCalls calls;
  return calls;
}

bool isStoredShortName(std::string_view text) {
  // 8.3 characters take at most four bytes each in UTF-8.
  constexpr std::size_t longest = 12;
  if (text.size() > 4 * longest) return false;
  std::string shape;
  WindowsNames::forEachCodeUnit(text, [&](char16_t unit) { shape += unit < 0x80 ? static_cast<char>(unit) : '_'; });
  return WindowsNames::isShortName(shape);
}

NameSource nameSourceOf(int directory, const NameCalls& calls, int* error) {
  const auto unknown = [&](int failed) {
    if (error) *error = failed;
    return NameSource::unknown;
  };
  const std::int64_t type = calls.fileSystemType(directory);
  if (type < 0) return unknown(static_cast<int>(-type));
  if (type == MSDOS_SUPER_MAGIC) return NameSource::fat;
  if (type != FUSE_SUPER_MAGIC) return NameSource::rule;
  constexpr std::size_t attributeFlags = 4;
  char flags[attributeFlags];
  const ssize_t answer = calls.attribute(directory, {}, "system.ntfs_attrib", flags, sizeof flags);
  if (answer == static_cast<ssize_t>(attributeFlags)) return NameSource::ntfs3g;
  switch (-answer) {
    case ENODATA:
    case EOPNOTSUPP:
    case ENOSYS:
    case ERANGE:  // longer than ntfs-3g's flags
      return NameSource::rule;
    default:
      // A probe refused to the user asks for the read permission a listing
      // needs, without which the rule answers only names already 8.3.
      return answer >= 0 || !leavesAnswerUnknown(static_cast<int>(-answer)) ? NameSource::rule
                                                                             : unknown(static_cast<int>(-answer));
  }
}

}  // namespace Platform::Linux

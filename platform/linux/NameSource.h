// What holds a directory's short names. Most Linux file systems hold none,
// and the rule makes them (windowsnames/). Two kinds of mount hold Windows'
// own: an NTFS volume read through ntfs-3g keeps each entry's DOS name, and
// a FAT volume read by the kernel's fat driver keeps an 8.3 entry for every
// file. Where the disk holds the answer, it is given (StoredNames.h).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "platform/linux/FatRecords.h"

namespace Platform::Linux {

enum class NameSource : unsigned char { rule, ntfs3g, fat };

// The kernel calls that tell a directory's source and read its short names;
// the tests put a stand-in in their place. Each takes the directory's
// descriptor (O_PATH is enough).
class NameCalls {
 public:
  virtual ~NameCalls() = default;

  // fstatfs's f_type; nothing when the call fails.
  virtual std::optional<std::int64_t> fileSystemType(int directory) const;
  // The directory's inode number.
  virtual std::optional<std::uint64_t> inodeNumber(int directory) const;
  // An extended attribute of the entry `name` (the directory itself when
  // empty), symbolic links not followed: the value's length, or -errno.
  virtual ssize_t attribute(int directory, std::string_view name, const char* attribute, char* value,
                            std::size_t size) const;
  // Streams VFAT_IOCTL_READDIR_BOTH's record pairs in directory order while
  // visit returns true; false when the directory cannot be opened or a call
  // fails.
  virtual bool forEachFatRecord(int directory, const std::function<bool(const FatRecordPair&)>& visit) const;
  // How the directory's mount shows short names.
  virtual FatDisplay fatDisplay(int directory) const;

  static const NameCalls& system();
};

// One fstatfs, and for a FUSE mount one extended attribute: only ntfs-3g
// answers "system.ntfs_attrib" (a directory's NTFS attribute flags, four
// bytes), where other file systems fail. No failure is taken for an answer:
// whatever cannot be told keeps the rule.
NameSource nameSourceOf(int directory, const NameCalls& calls = NameCalls::system());

}  // namespace Platform::Linux

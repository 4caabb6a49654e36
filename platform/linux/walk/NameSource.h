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

#include "platform/linux/walk/FatRecords.h"

namespace Platform::Linux {

// unknown: the calls that tell failed in a way that tells nothing (an I/O
// error, no memory): the answer is then unknown too.
enum class NameSource : unsigned char { rule, ntfs3g, fat, unknown };

// Whether a disk's stored text is a short name the disk may hold: a valid
// 8.3 name (windowsnames/ShortName.h), in which a character beyond ASCII
// (a letter of the volume's code page, which a name typed on Windows may
// hold) counts as one character. Anything else ("..", ".", "A/B", "*",
// "A B") comes from a damaged or hostile disk, and answering from it could
// name another file.
bool isStoredShortName(std::string_view text);

// The kernel calls that tell a directory's source and read its short names;
// the tests put a stand-in in their place. Each takes the directory's
// descriptor (O_PATH is enough).
class NameCalls {
 public:
  virtual ~NameCalls() = default;

  // fstatfs's f_type, or -errno.
  virtual std::int64_t fileSystemType(int directory) const;
  // The directory's inode number.
  virtual std::optional<std::uint64_t> inodeNumber(int directory) const;
  // An extended attribute of the entry `name` (the directory itself when
  // empty), symbolic links not followed: the value's length, or -errno.
  virtual ssize_t attribute(int directory, std::string_view name, const char* attribute, char* value,
                            std::size_t size) const;
  // Streams VFAT_IOCTL_READDIR_BOTH's record pairs in directory order while
  // visit returns true: 0, or the errno of the open or the call that failed.
  virtual int forEachFatRecord(int directory, const std::function<bool(const FatRecordPair&)>& visit) const;
  // How the directory's mount shows short names.
  virtual FatDisplay fatDisplay(int directory) const;

  static const NameCalls& system();
};

// One fstatfs, and for a FUSE mount one extended attribute: only ntfs-3g
// answers "system.ntfs_attrib" (a directory's NTFS attribute flags, four
// bytes), where other file systems say they hold no such attribute. A
// refusal (EACCES, EPERM) keeps the rule too: ntfs-3g asks for the same
// read permission on the directory as its listing does, and without the
// listing the rule answers only names that are already 8.3, as in any
// directory the user may not read. Any other failure is unknown, its errno
// in `error`.
NameSource nameSourceOf(int directory, const NameCalls& calls = NameCalls::system(), int* error = nullptr);

}  // namespace Platform::Linux

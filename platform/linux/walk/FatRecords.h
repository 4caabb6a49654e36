// The short names a FAT volume holds, as Linux's fat driver hands them out:
// VFAT_IOCTL_READDIR_BOTH gives each entry as a pair of records, and the
// mount's options shape the short name's text. Decoding them is pure, so
// that it can be checked without a FAT volume.
#pragma once

#include <linux/msdos_fs.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Platform::Linux {

// How a mount shows the short names it lists.
struct FatDisplay {
  enum class Case : unsigned char {
    asStored,      // vfat with shortname=win95, msdos with nocase
    asciiLowered,  // msdos: ASCII letters lowered, other bytes as stored
    lowered,       // vfat with shortname=lower, winnt or mixed (the default)
  };
  Case shortNameCase = Case::lowered;
  // msdos with the option "dots": a hidden file is shown with a leading ".".
  bool hiddenMarkedWithDot = false;
};

// From the file system type and the super options of /proc/self/mountinfo.
// Anything not known to show short names as stored is taken to lower them,
// which only ever makes more short names unknown.
FatDisplay fatDisplayOf(std::string_view fileSystemType, std::string_view superOptions);

// The line of /proc/self/mountinfo for a mount ID, taken apart; nothing when
// there is no such line.
struct MountLine {
  std::string fileSystemType;
  std::string superOptions;
};
std::optional<MountLine> mountLineOf(std::string_view mountInfo, std::uint64_t mountId);

using FatRecordPair = __fat_dirent[2];

// One entry as the ioctl gives it: its name as Linux lists it, and its short
// name as Windows holds it, upper-cased; nothing for a short name the mount
// could not show faithfully (a character its code page or charset lacks
// comes as "?", or as ":" and hex digits with uni_xlate; a lower-case letter
// outside ASCII may have been lowered or stored so).
struct FatEntry {
  std::string name;
  std::optional<std::string> shortName;
  // The records hold something no disk of Windows' may: a short name that is
  // no 8.3 name ("..", "A/B", "*", "A B"), or a long name with a "/". Such an
  // entry is never answered from, nor by the rule.
  bool damaged = false;
};

struct DecodedFatRecord {
  enum class Kind : unsigned char {
    entry,
    dots,  // "." or "..": no entry of its own
    cut,   // a long name the ioctl cut to its 255-byte field: it names nothing
  };
  Kind kind;
  FatEntry entry;
};

DecodedFatRecord decodeFatRecords(const FatRecordPair& records, const FatDisplay& display);

}  // namespace Platform::Linux

// Lookups and searches in a directory whose disk holds Windows' own short
// names (NameSource.h): there the stored name is the answer, and a search
// is one streaming pass that takes the first entry, in the order Windows
// lists that disk, matching by its long or its stored short name. Each
// answers nothing at all for a directory whose short names are made by rule:
// the caller then applies the rule.
//
// What the disk holds of one entry:
//   - a short name: the answer;
//   - none (ntfs-3g: no DOS name, as for every name made from Linux): the
//     long name stands in the answer, and only it matches a wildcard;
//   - nothing readable (ntfs-3g: a file with several hard links, a mount's
//     root; FAT: a character the mount could not show): that entry takes the
//     rule's alias, unless that alias names another entry on the disk, when
//     its long name stands;
//   - a name refused to this user (ntfs-3g asks for read permission on the
//     file itself): the path has no short form for this user, as under a
//     directory it may not read. The rule's alias is no answer there: the
//     disk may hold another (LONGDI~5 where the rule says LONGDI~1);
//   - something that is no short name (isStoredShortName): the disk is
//     damaged or hostile, and the answer is a fault;
//   - a failure that tells nothing (an I/O error, no memory): a fault too.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "platform/linux/walk/Directory.h"
#include "platform/linux/walk/NameSource.h"

namespace Platform::Linux {

// Why an answer is unknown: the disk's short name of `entry` (none: of the
// directory, whose source could not be told) could not be had. The caller
// names the path.
struct StoredNameFault {
  std::string entry;
  std::string reason;
};

// An answer, nothing when the rule makes the directory's short names, or a
// fault.
template <class T>
using StoredAnswer = std::variant<std::optional<T>, StoredNameFault>;

struct StoredEntry {
  std::string name;       // to open it by
  std::string shortName;  // for the answer
};

// A component found as Windows finds it: by its exact name (ntfs-3g also
// finds a DOS name so), else as an entry's short name without regard to
// case, else by a long name equal to it without regard to case, the first
// listed. A valid 8.3 name is its own short name, as typed. Nothing inside
// when no entry has that name.
StoredAnswer<std::optional<StoredEntry>> lookUpStored(Directory& directory, std::string_view component,
                                                      const NameCalls& calls = NameCalls::system());

// The first entry that the pattern matches by its long or its short name,
// as FindFirstFile reports it (its long name), in the order Windows lists
// the disk: NTFS's collation of the long names (WindowsNames::listedBefore),
// FAT's directory order. "." first outside the volume's root when the
// pattern matches it. Nothing inside when none does.
StoredAnswer<std::optional<std::string>> findFirstStoredMatch(Directory& directory, std::string_view pattern,
                                                              const NameCalls& calls = NameCalls::system());

}  // namespace Platform::Linux

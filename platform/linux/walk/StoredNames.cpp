#include "platform/linux/walk/StoredNames.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>

#include <vector>

#include "platform/ErrorPolicy.h"
#include "windowsnames/AliasAssignment.h"
#include "windowsnames/CodeUnits.h"
#include "windowsnames/DirectorySearch.h"
#include "windowsnames/ShortName.h"
#include "windowsnames/Wildcard.h"

namespace Platform::Linux {
namespace {

using WindowsNames::AliasAssignment;
using WindowsNames::isShortName;
using WindowsNames::listedBefore;
using WindowsNames::matchesWildcards;
using WindowsNames::WildcardPattern;

// What the disk says of one entry's short name (StoredNames.h).
struct StoredAlias {
  enum class State : unsigned char { held, none, unknown, refused, faulty };
  State state;
  std::string text;  // when held
};

// What stopped a lookup or search short of the disk's answer, kept until its
// end: the records could not be read (left to the rule), a short name was
// refused to this user (no answer), or a fault.
class NameTrouble {
 public:
  bool stopped() const { return abandoned_ || refused_ || fault_; }

  template <class T>
  StoredAnswer<T> verdict(T answer) const {
    if (fault_) return *fault_;
    if (abandoned_) return std::nullopt;
    if (refused_) return std::optional<T>(T());
    return std::optional<T>(std::move(answer));
  }

 protected:
  StoredAlias refuse() {
    refused_ = true;
    return {StoredAlias::State::refused, {}};
  }
  StoredAlias fail(std::string_view entry, std::string reason) {
    if (!fault_) fault_ = StoredNameFault{std::string(entry), std::move(reason)};
    return {StoredAlias::State::faulty, {}};
  }
  StoredAlias damaged(std::string_view entry) { return fail(entry, "the disk holds no valid short name for it"); }

  bool abandoned_ = false;
  bool refused_ = false;
  std::optional<StoredNameFault> fault_;
};

// Whether the entry is the root of another mount: there ntfs-3g answers
// EPERM, since the name it was asked for stands in another volume.
bool isMountRoot(const Directory& directory, std::string_view name) {
  struct stat own {};
  struct stat entry {};
  return ::fstat(directory.descriptor(), &own) == 0 &&
         ::fstatat(directory.descriptor(), std::string(name).c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
         entry.st_dev != own.st_dev;
}

// ntfs-3g: each entry's DOS name is an extended attribute, read only when an
// answer needs it. Its listing is the NTFS index, whose blocks come in the
// order they are stored in: a search orders the entries itself.
class NtfsNames : public NameTrouble {
 public:
  static constexpr bool collated = true;

  NtfsNames(Directory& directory, const NameCalls& calls) : directory_(directory), calls_(calls) {}

  // The value is upper-case, without a terminator. Only ENODATA says that
  // the entry has none. EMLINK: several hard links, of which ntfs-3g cannot
  // tell which one the DOS name belongs to; EPERM on a mount's root: the
  // name stands in another volume; both leave the rule. EACCES, and EPERM
  // elsewhere: refused to this user. ERANGE: longer than any short name.
  // Otherwise the one error policy: an error about the entry (gone since it
  // was listed, which the walk sees as a change; refused to this user) gives
  // no short form, any other leaves it unknown.
  StoredAlias aliasOf(std::string_view name) {
    char value[64];
    const ssize_t length = calls_.attribute(directory_.descriptor(), name, "system.ntfs_dos_name", value, sizeof value);
    if (length >= 0) {
      const std::string_view text(value, static_cast<std::size_t>(length));
      if (!isStoredShortName(text)) return damaged(name);
      return {StoredAlias::State::held, std::string(text)};
    }
    switch (const int error = static_cast<int>(-length)) {
      case ENODATA:
        return {StoredAlias::State::none, {}};
      case EMLINK:
        return {StoredAlias::State::unknown, {}};
      case EPERM:
        if (isMountRoot(directory_, name)) return {StoredAlias::State::unknown, {}};
        return refuse();
      case ERANGE:
        return damaged(name);
      default:
        return leavesAnswerUnknown(error) ? fail(name, strerror(error)) : refuse();
    }
  }

  template <class Visit>
  bool forEachEntry(Visit&& visit) {
    return directory_.forEachName([&](std::string_view name) { return visit(name, [&] { return aliasOf(name); }); });
  }

  std::optional<std::string> entryNamed(std::string_view component) {
    if (directory_.entryError(component) != 0) return std::nullopt;
    return std::string(component);
  }

  // ntfs-3g finds an entry by its DOS name too, spelt as stored: in upper
  // case.
  std::optional<std::string> entryWithShortName(std::string_view component) {
    const std::string upper = WindowsNames::asciiUpper(component);
    if (upper == component || directory_.entryError(upper) != 0) return std::nullopt;
    return upper;
  }

  // Record 5 of the MFT, which ntfs-3g gives as the inode number.
  bool isVolumeRoot() const { return calls_.inodeNumber(directory_.descriptor()) == 5; }

 private:
  Directory& directory_;
  const NameCalls& calls_;
};

// FAT: each entry's short name comes with its long name, in directory order,
// which is the order Windows lists it in. A directory whose records cannot
// be read, or hold a long name cut short, is left to the rule.
class FatNames : public NameTrouble {
 public:
  static constexpr bool collated = false;

  FatNames(Directory& directory, const NameCalls& calls)
      : directory_(directory), calls_(calls), display_(calls.fatDisplay(directory.descriptor())) {}

  template <class Visit>
  bool forEachEntry(Visit&& visit) {
    return forEachRecord(
        [&](const FatEntry& entry) { return visit(std::string_view(entry.name), [&] { return storedAliasOf(entry); }); });
  }

  std::optional<std::string> entryNamed(std::string_view component) {
    return firstWhere([&](const FatEntry& entry) { return entry.name == component; });
  }

  std::optional<std::string> entryWithShortName(std::string_view component) {
    return firstWhere([&](const FatEntry& entry) {
      return entry.shortName && WindowsNames::equalWithoutCase(*entry.shortName, component);
    });
  }

  // The entry a lookup has just found is at hand; any other is looked for.
  StoredAlias aliasOf(std::string_view name) {
    if (!found_ || found_->name != name) firstWhere([&](const FatEntry& entry) { return entry.name == name; });
    if (!found_) return {StoredAlias::State::unknown, {}};
    return storedAliasOf(*found_);
  }

  // The fat driver numbers the root 1.
  bool isVolumeRoot() const { return calls_.inodeNumber(directory_.descriptor()) == 1; }

 private:
  StoredAlias storedAliasOf(const FatEntry& entry) {
    if (entry.damaged) return damaged(entry.name);
    if (!entry.shortName) return {StoredAlias::State::unknown, {}};
    return {StoredAlias::State::held, *entry.shortName};
  }

  // A directory whose records the user may not read, or this mount cannot
  // give (ENOTTY), is left to the rule, which cannot list it either; any
  // error that leaves the answer unknown is a fault. A long name holding "/"
  // names no entry: a fault too.
  template <class Visit>
  bool forEachRecord(Visit&& visit) {
    bool cut = false;
    const int error = calls_.forEachFatRecord(directory_.descriptor(), [&](const FatRecordPair& records) {
      const DecodedFatRecord decoded = decodeFatRecords(records, display_);
      if (decoded.kind == DecodedFatRecord::Kind::cut) cut = true;
      if (decoded.kind != DecodedFatRecord::Kind::entry) return !cut;
      if (decoded.entry.name.find('/') == std::string::npos) return visit(decoded.entry);
      damaged(decoded.entry.name);
      return false;
    });
    if (error != ENOTTY && leavesAnswerUnknown(error)) fail({}, strerror(error));
    abandoned_ = abandoned_ || error != 0 || cut;
    return !stopped();
  }

  // The first entry listed that `wanted` accepts, kept at hand.
  template <class Wanted>
  std::optional<std::string> firstWhere(Wanted&& wanted) {
    found_.reset();
    forEachRecord([&](const FatEntry& entry) {
      if (!wanted(entry)) return true;
      found_ = entry;
      return false;
    });
    if (!found_) return std::nullopt;
    return found_->name;
  }

  Directory& directory_;
  const NameCalls& calls_;
  FatDisplay display_;
  std::optional<FatEntry> found_;
};

// Whether `text` names an entry of the directory other than `name`: the
// file system finds an entry by its short name as well.
bool namesAnotherEntry(const Directory& directory, const std::string& text, std::string_view name) {
  struct stat other {};
  struct stat own {};
  if (::fstatat(directory.descriptor(), text.c_str(), &other, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (::fstatat(directory.descriptor(), std::string(name).c_str(), &own, AT_SYMLINK_NOFOLLOW) != 0) return true;
  return other.st_dev != own.st_dev || other.st_ino != own.st_ino;
}

// The rule's alias for an entry the disk says nothing readable of. An alias
// must never name another file: where the rule's does (it knows nothing of
// the short names the disk holds), the entry's long name stands instead.
std::optional<std::string> ruleAliasOf(const Directory& directory, const std::string& name,
                                       const std::optional<std::string>& alias) {
  if (!alias) return std::nullopt;
  if (namesAnotherEntry(directory, *alias, name)) return name;
  return alias;
}

template <class Names>
std::optional<std::string> shortNameOf(Names& names, Directory& directory, const std::string& name) {
  StoredAlias alias = names.aliasOf(name);
  switch (alias.state) {
    case StoredAlias::State::held:
      return std::move(alias.text);
    case StoredAlias::State::none:
      return name;
    case StoredAlias::State::unknown:
      break;
    case StoredAlias::State::refused:
    case StoredAlias::State::faulty:
      return std::nullopt;
  }
  AliasAssignment aliases(directory);
  return ruleAliasOf(directory, name, aliases.aliasOf(name));
}

template <class Names>
std::optional<std::string> firstEqualWithoutCase(Names& names, std::string_view component) {
  std::optional<std::string> first;
  names.forEachEntry([&](std::string_view name, auto&&) {
    if (!WindowsNames::equalWithoutCase(name, component)) return true;
    first = name;
    return false;
  });
  return first;
}

// An alias the rule gave to an entry the disk says nothing readable of,
// typed back.
template <class Names>
std::optional<std::string> entryWithRuleAlias(Names& names, Directory& directory, std::string_view component) {
  if (!WindowsNames::parseAlias(component)) return std::nullopt;
  AliasAssignment aliases(directory);
  std::optional<std::string> name = aliases.entryWithAlias(component);
  if (!name || names.aliasOf(*name).state != StoredAlias::State::unknown) return std::nullopt;
  return name;
}

template <class Names>
StoredAnswer<std::optional<StoredEntry>> lookUp(Names& names, Directory& directory, std::string_view component) {
  const auto answer = [&](std::optional<StoredEntry> entry) { return names.verdict(std::move(entry)); };
  std::optional<std::string> name = names.entryNamed(component);
  if (!name && isShortName(component)) name = names.entryWithShortName(component);
  if (!name) name = firstEqualWithoutCase(names, component);
  if (!name) name = entryWithRuleAlias(names, directory, component);
  if (!name) return answer(std::nullopt);
  if (isShortName(component)) return answer(StoredEntry{std::move(*name), std::string(component)});
  if (isShortName(*name)) return answer(StoredEntry{*name, *name});
  std::optional<std::string> shortName = shortNameOf(names, directory, *name);
  if (!shortName) return answer(std::nullopt);
  return answer(StoredEntry{std::move(*name), std::move(*shortName)});
}

// Of the entries whose short names the disk could not tell, in listing
// order, the first that the pattern matches through the rule's alias.
std::optional<std::string> firstMatchingByRule(Directory& directory, const std::vector<std::string>& names,
                                               const WildcardPattern& wildcards) {
  if (names.empty()) return std::nullopt;
  AliasAssignment aliases(directory);
  const auto found = aliases.aliasesOf(names);
  if (!found) return std::nullopt;
  for (std::size_t at = 0; at < names.size(); ++at) {
    const std::optional<std::string> alias = ruleAliasOf(directory, names[at], (*found)[at]);
    if (alias && matchesWildcards(wildcards, *alias)) return names[at];
  }
  return std::nullopt;
}

// FAT lists a directory in the order Windows does: one streaming pass,
// stopped at the first match. Entries whose short names cannot be read are
// worked out by rule after it, a bounded batch at a time: one listed before
// the first match may come first.
template <class Names>
StoredAnswer<std::optional<std::string>> findFirstListed(Names& names, Directory& directory,
                                                         const WildcardPattern& wildcards) {
  using Entry = std::optional<std::string>;
  const bool shortNamesMayMatch = WindowsNames::mayMatchShortName(wildcards);
  constexpr std::size_t batch = 256;
  for (std::size_t skip = 0;;) {
    std::optional<std::string> first;
    std::vector<std::string> unknown;
    std::size_t listed = 0;
    const bool read = names.forEachEntry([&](std::string_view name, auto&& storedAlias) {
      if (listed++ < skip) return true;
      if (matchesWildcards(wildcards, name)) {
        first = name;
        return false;
      }
      if (!shortNamesMayMatch || isShortName(name)) return true;
      const StoredAlias alias = storedAlias();
      if (names.stopped()) return false;
      if (alias.state == StoredAlias::State::held && matchesWildcards(wildcards, alias.text)) {
        first = name;
        return false;
      }
      if (alias.state == StoredAlias::State::unknown) unknown.emplace_back(name);
      return unknown.size() < batch;
    });
    if (names.stopped()) return names.verdict(Entry());
    if (!read) return Entry();
    if (Entry byRule = firstMatchingByRule(directory, unknown, wildcards)) return byRule;
    if (first || unknown.size() < batch) return first;
    skip = listed;
  }
}

// ntfs-3g hands a large directory over in the storage order of its index
// blocks, not in the collation order Windows lists it in: the whole
// directory is passed, and the match that collates first is kept, placed by
// its long name even where only its short name matched, as the rule's
// search places it. An entry that collates after the best match so far
// cannot win, so its DOS name is never read. Entries whose short names
// cannot be read are worked out by rule, the first-collated batch at a time.
template <class Names>
StoredAnswer<std::optional<std::string>> findFirstCollated(Names& names, Directory& directory,
                                                           const WildcardPattern& wildcards) {
  using Entry = std::optional<std::string>;
  const bool shortNamesMayMatch = WindowsNames::mayMatchShortName(wildcards);
  std::optional<std::string> first;
  std::optional<std::string> after;  // where this batch of unknown ones begins
  WindowsNames::AliasCandidates unknown;
  const auto mayComeFirst = [&](std::string_view name) { return !first || listedBefore(name, *first); };
  for (;;) {
    // A later pass meets no new match by long or stored name: every entry
    // before `first` was weighed in the first.
    const bool read = names.forEachEntry([&](std::string_view name, auto&& storedAlias) {
      // Where no short name can match, an entry's own name decides, and the
      // many that do not match are never weighed against the best match.
      if (!shortNamesMayMatch && !matchesWildcards(wildcards, name)) return true;
      if (!mayComeFirst(name) || (after && !listedBefore(*after, name))) return true;
      if (matchesWildcards(wildcards, name)) {
        first = name;
        return true;
      }
      if (isShortName(name)) return true;
      const StoredAlias alias = storedAlias();
      if (names.stopped()) return false;
      if (alias.state == StoredAlias::State::held && matchesWildcards(wildcards, alias.text))
        first = name;
      else if (alias.state == StoredAlias::State::unknown)
        unknown.offer(name);
      return true;
    });
    if (names.stopped()) return names.verdict(Entry());
    if (!read) return Entry();
    std::vector<std::string> before;
    for (const std::string& name : unknown.names())
      if (mayComeFirst(name)) before.push_back(name);
    if (Entry byRule = firstMatchingByRule(directory, before, wildcards)) return byRule;
    if (unknown.complete() || before.size() < unknown.names().size()) return first;
    after = before.back();
    unknown = WindowsNames::AliasCandidates(after);
  }
}

template <class Names>
StoredAnswer<std::optional<std::string>> findFirst(Names& names, Directory& directory, std::string_view pattern) {
  using Entry = std::optional<std::string>;
  if (!directory.readable()) return Entry();
  const WildcardPattern wildcards = WindowsNames::translateWildcards(pattern);
  if (WindowsNames::reportsDotEntries(wildcards) && !names.isVolumeRoot()) return Entry(".");
  if constexpr (Names::collated)
    return findFirstCollated(names, directory, wildcards);
  else
    return findFirstListed(names, directory, wildcards);
}

// Calls `answer` with the directory's stored names; nothing when the rule
// makes them.
template <class Answer>
auto withStoredNames(Directory& directory, const NameCalls& calls, Answer&& answer)
    -> decltype(answer(std::declval<NtfsNames&>())) {
  int error = 0;
  switch (nameSourceOf(directory.descriptor(), calls, &error)) {
    case NameSource::ntfs3g: {
      NtfsNames names(directory, calls);
      return answer(names);
    }
    case NameSource::fat: {
      FatNames names(directory, calls);
      return answer(names);
    }
    case NameSource::unknown:
      return StoredNameFault{{}, strerror(error)};
    case NameSource::rule:
      break;
  }
  return std::nullopt;
}

}  // namespace

StoredAnswer<std::optional<StoredEntry>> lookUpStored(Directory& directory, std::string_view component,
                                                      const NameCalls& calls) {
  return withStoredNames(directory, calls, [&](auto& names) { return lookUp(names, directory, component); });
}

StoredAnswer<std::optional<std::string>> findFirstStoredMatch(Directory& directory, std::string_view pattern,
                                                              const NameCalls& calls) {
  return withStoredNames(directory, calls, [&](auto& names) { return findFirst(names, directory, pattern); });
}

}  // namespace Platform::Linux

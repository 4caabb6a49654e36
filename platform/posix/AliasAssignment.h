// Which alias each long name of a directory holds, as NTFS hands them out:
// in creation order, each entry takes BASE~N.EXT with the lowest N of 1 to 4
// not yet taken, else the checksum form with the lowest N free from 1. Taken
// are the directory's valid 8.3 names and the aliases of entries created
// before it, without regard to case.
//
// An alias depends only on the few entries whose aliases could equal it, so
// those are gathered in streaming passes over the directory, a group at a
// time, rather than the whole directory being held and sorted:
//   - the earliest four entries of each basis (BASE, EXT): once four entries
//     of a basis exist, its numbers 1 to 4 are all taken for every later one;
//   - every entry whose checksum prefix, cut as a number's digits cut it,
//     equals a prefix being asked about.
//
// `Directory` provides:
//   template <class Visit> bool forEachName(Visit&& visit);
//       one pass over every entry but "." and "..", false if it cannot be read
//   CreationKey creationKey(std::string_view name);
#pragma once

#include <algorithm>
#include <compare>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/ShortName.h"

namespace platform::posix {

// Birth time where the file system records it (else zero), then inode.
struct CreationKey {
  std::int64_t seconds = 0;
  std::uint32_t nanoseconds = 0;
  std::uint64_t inode = 0;

  auto operator<=>(const CreationKey&) const = default;
};

template <class Directory>
class AliasAssignment {
 public:
  explicit AliasAssignment(Directory& directory) : directory_(directory) {}

  // The alias of `name`, an entry of the directory that is not a valid 8.3
  // name; nothing when the directory cannot be read.
  std::optional<std::string> aliasOf(std::string_view name) {
    const Member target = member(name);
    return untilGathered([&] { return aliasOf(target); });
  }

  // The long name of the entry whose alias is `text` without regard to case.
  std::optional<std::string> entryWithAlias(std::string_view text) {
    const std::optional<AliasParts> alias = parseAlias(text);
    if (!alias) return std::nullopt;
    const std::optional<std::optional<std::string>> holder =
        untilGathered([&] { return holderOf(*alias, nullptr); });
    return holder ? *holder : std::nullopt;
  }

 private:
  struct Member {
    std::string name;
    CreationKey key;
    AliasBasis basis;
    std::string checksumPrefix;

    bool createdBefore(const Member& other) const {
      if (key != other.key) return key < other.key;
      return name < other.name;
    }
  };

  // A basis group has length 0; a checksum group holds the entries whose
  // checksum prefix, cut to `length`, is `prefix`.
  struct GroupKey {
    std::string prefix;
    std::string extension;
    std::size_t length = 0;

    auto operator<=>(const GroupKey&) const = default;
  };
  using Groups = std::map<GroupKey, std::vector<Member>>;

  static constexpr unsigned basisNumbers = 4;
  static constexpr int maxPasses = 16;  // a directory changing under us must not keep us here

  Member member(std::string_view name) {
    Member made{std::string(name), directory_.creationKey(name), aliasBasis(name), {}};
    made.checksumPrefix = checksumPrefix(made.basis, aliasChecksum(name));
    return made;
  }

  // Runs `compute` until it no longer asks for a group that has not been
  // gathered, gathering what it asked for in between.
  template <class Compute>
  auto untilGathered(Compute compute) -> std::optional<decltype(compute())> {
    for (int pass = 0; pass <= maxPasses; ++pass) {
      missing_ = false;
      auto result = compute();
      if (!missing_) return result;
      if (!gatherPass()) return std::nullopt;
    }
    return std::nullopt;
  }

  const std::vector<Member>* group(const Groups& gathered, std::set<GroupKey>& wanted, const GroupKey& key) {
    if (const auto found = gathered.find(key); found != gathered.end()) return &found->second;
    wanted.insert(key);
    missing_ = true;
    return nullptr;
  }

  std::string aliasOf(const Member& entry) {
    if (const auto known = aliases_.find(entry.name); known != aliases_.end()) return known->second;
    std::string alias = assignAlias(entry);
    if (!missing_) aliases_.emplace(entry.name, alias);
    return alias;
  }

  std::string assignAlias(const Member& entry) {
    const auto* peers = group(byBasis_, wantedBases_, {entry.basis.base, entry.basis.extension, 0});
    if (peers == nullptr) return {};
    const bool amongEarliest = std::any_of(peers->begin(), peers->end(),
                                           [&](const Member& peer) { return peer.name == entry.name; });
    if (amongEarliest) {
      for (unsigned number = 1; number <= basisNumbers; ++number) {
        const AliasParts candidate = numberedAlias(entry.basis.base, number, entry.basis.extension);
        const bool taken = isTaken(candidate, entry);
        if (missing_) return {};
        if (!taken) return candidate.text();
      }
    }
    for (unsigned number = 1;; ++number) {
      const AliasParts candidate = numberedAlias(entry.checksumPrefix, number, entry.basis.extension);
      const bool taken = isTaken(candidate, entry);
      if (missing_) return {};
      if (!taken) return candidate.text();
    }
  }

  // Whether `candidate` is a valid 8.3 name here or the alias of an entry
  // created before `entry`.
  bool isTaken(const AliasParts& candidate, const Member& entry) {
    if (!shortNamesGathered_) {
      missing_ = true;
      return false;
    }
    if (shortNames_.count(candidate.text()) != 0) return true;
    return holderOf(candidate, &entry).has_value();
  }

  // The entry that holds `alias`, among those created before `before` when
  // it is given.
  std::optional<std::string> holderOf(const AliasParts& alias, const Member* before) {
    const std::string text = alias.text();
    const auto heldIn = [&](const std::vector<Member>* members) -> std::optional<std::string> {
      if (members == nullptr) return std::nullopt;
      for (const Member& other : *members) {
        if (before != nullptr && !other.createdBefore(*before)) continue;
        const bool holds = aliasOf(other) == text;
        if (missing_) return std::nullopt;
        if (holds) return other.name;
      }
      return std::nullopt;
    };
    if (alias.number <= basisNumbers) {
      if (auto holder = heldIn(group(byBasis_, wantedBases_, {alias.prefix, alias.extension, 0}))) return holder;
    }
    return heldIn(
        group(byChecksum_, wantedChecksums_, {alias.prefix, alias.extension, aliasPrefixLength(alias.number)}));
  }

  // One pass over the directory that fills every group asked for since the
  // last one, and the first time also the valid 8.3 names that could clash
  // with an alias (every alias holds a "~").
  bool gatherPass() {
    Groups bases;
    Groups checksums;
    for (const GroupKey& key : wantedBases_) bases[key];
    for (const GroupKey& key : wantedChecksums_) checksums[key];
    std::set<std::size_t> lengths;
    for (const GroupKey& key : wantedChecksums_) lengths.insert(key.length);
    const bool wantShortNames = !shortNamesGathered_;

    const bool read = directory_.forEachName([&](std::string_view name) {
      if (isShortName(name)) {
        if (wantShortNames && name.find('~') != std::string_view::npos) shortNames_.insert(asciiUpper(name));
        return;
      }
      if (bases.empty() && checksums.empty()) return;
      std::optional<Member> entry;
      const auto made = [&]() -> const Member& {
        if (!entry) entry = member(name);
        return *entry;
      };
      const AliasBasis basis = aliasBasis(name);
      if (const auto found = bases.find({basis.base, basis.extension, 0}); found != bases.end())
        keepEarliest(found->second, made());
      if (checksums.empty()) return;
      const std::string prefix = checksumPrefix(basis, aliasChecksum(name));
      for (const std::size_t length : lengths) {
        if (const auto found = checksums.find({prefix.substr(0, length), basis.extension, length});
            found != checksums.end())
          found->second.push_back(made());
      }
    });
    if (!read) return false;

    shortNamesGathered_ = true;
    wantedBases_.clear();
    wantedChecksums_.clear();
    byBasis_.merge(bases);
    byChecksum_.merge(checksums);
    return true;
  }

  static void keepEarliest(std::vector<Member>& earliest, const Member& entry) {
    const auto at = std::find_if(earliest.begin(), earliest.end(),
                                 [&](const Member& kept) { return entry.createdBefore(kept); });
    if (earliest.size() == basisNumbers && at == earliest.end()) return;
    earliest.insert(at, entry);
    if (earliest.size() > basisNumbers) earliest.pop_back();
  }

  Directory& directory_;
  bool missing_ = false;
  bool shortNamesGathered_ = false;
  std::set<std::string> shortNames_;
  Groups byBasis_;
  Groups byChecksum_;
  std::set<GroupKey> wantedBases_;
  std::set<GroupKey> wantedChecksums_;
  std::map<std::string, std::string, std::less<>> aliases_;
};

}  // namespace platform::posix

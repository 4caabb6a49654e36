// Which alias each long name of a directory holds, as NTFS hands them out:
// in creation order, each entry takes BASE~N.EXT with the lowest N of 1 to 4
// not yet taken, else (and always when its base is short: takesBasisNumbers)
// the checksum form with the lowest N free from 1. Taken
// are the directory's valid 8.3 names and the aliases of entries created
// before it, without regard to case.
//
// An alias depends only on the few entries whose aliases could equal it, so
// only those are gathered, in streaming passes over the directory, rather
// than the whole directory being held and sorted:
//   - of an entry's basis (BASE, EXT), the members created before it, up to
//     four: once four exist, numbers 1 to 4 of the basis are all taken for
//     it. Counting stops at four, so a large basis costs few birth times;
//   - rarely, the earliest four members of a basis, when an alias typed by a
//     user or a checksum prefix equal to a basis asks which hold its numbers;
//   - every entry whose checksum prefix, cut as the number's digits cut it,
//     equals a prefix being asked about.
// What one question needs is asked for together, so that a pass brings it.
//
// `Directory` provides:
//   template <class Visit> bool forEachName(Visit&& visit);
//       one pass over every entry but "." and "..", as long as visit(name)
//       returns true; false if the directory cannot be read
//   std::optional<CreationKey> creationKey(std::string_view name);
//       nothing when the entry is gone: it is then left out
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

#include "windowsnames/CreationKey.h"
#include "windowsnames/ShortName.h"

namespace WindowsNames {

template <class Directory>
class AliasAssignment {
 public:
  explicit AliasAssignment(Directory& directory) : directory_(directory) {}

  // The alias of `name`, an entry of the directory that is not a valid 8.3
  // name; nothing when the directory cannot be read.
  std::optional<std::string> aliasOf(std::string_view name) {
    const std::optional<Member> target = member(name);
    if (!target) return std::nullopt;
    return untilGathered([&] { return aliasOf(*target); });
  }

  // The long name of the entry whose alias is `text` without regard to case.
  std::optional<std::string> entryWithAlias(std::string_view text) {
    const std::optional<AliasParts> alias = parseAlias(text);
    if (!alias) return std::nullopt;
    const std::optional<std::optional<std::string>> holder = untilGathered([&] { return holderOf(*alias); });
    return holder ? *holder : std::nullopt;
  }

 private:
  static constexpr std::size_t basisNumbers = 4;
  static constexpr int maxPasses = 16;  // a directory changing under us must not keep us here

  // Creation order: birth time, inode, then the name's bytes.
  struct Order {
    CreationKey key;
    std::string name;

    auto operator<=>(const Order&) const = default;
  };

  struct Member {
    Order order;
    AliasBasis basis;
    std::string checksumPrefix;

    const std::string& name() const { return order.name; }
  };

  struct BasisKey {
    std::string base;
    std::string extension;

    auto operator<=>(const BasisKey&) const = default;
  };

  // The members of a basis created before an entry, up to four; `full` once
  // four were found, the members then being any four.
  struct EarlierKey {
    BasisKey basis;
    Order before;

    auto operator<=>(const EarlierKey&) const = default;
  };
  struct Earlier {
    std::vector<Member> members;
    bool full = false;
  };

  // The entries whose checksum prefix, cut to `length`, is `prefix`.
  struct ChecksumKey {
    std::string prefix;
    std::string extension;
    std::size_t length;

    auto operator<=>(const ChecksumKey&) const = default;
  };

  template <class Key, class Value>
  struct Groups {
    std::map<Key, Value> gathered;
    std::set<Key> wanted;
  };

  std::optional<Member> member(std::string_view name) {
    const std::optional<CreationKey> key = directory_.creationKey(name);
    if (!key) return std::nullopt;
    Member made{{*key, std::string(name)}, aliasBasis(name), {}};
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

  template <class Key, class Value>
  const Value* group(Groups<Key, Value>& groups, const Key& key) {
    if (const auto found = groups.gathered.find(key); found != groups.gathered.end()) return &found->second;
    groups.wanted.insert(key);
    missing_ = true;
    return nullptr;
  }

  const Earlier* earlierIn(const BasisKey& basis, const Member& entry) { return group(earlier_, {basis, entry.order}); }
  const std::vector<Member>* earliestIn(const BasisKey& basis) { return group(earliest_, basis); }
  const std::vector<Member>* checksumGroupOf(const AliasParts& alias) {
    return group(checksums_, ChecksumKey{alias.prefix, alias.extension, aliasPrefixLength(alias.number)});
  }

  std::string aliasOf(const Member& entry) {
    if (const auto known = aliases_.find(entry.name()); known != aliases_.end()) return known->second;
    std::string alias = assignAlias(entry);
    if (!missing_) aliases_.emplace(entry.name(), alias);
    return alias;
  }

  std::string assignAlias(const Member& entry) {
    const std::string& extension = entry.basis.extension;
    const Earlier* peers = earlierIn({entry.basis.base, extension}, entry);
    // Asked for now, though only needed when the basis numbers are all taken,
    // so that the usual case needs no further pass.
    checksumGroupOf(numberedAlias(entry.checksumPrefix, 1, extension));
    earlierIn({entry.checksumPrefix, extension}, entry);
    if (peers == nullptr) return {};

    if (takesBasisNumbers(entry.basis) && !peers->full) {
      for (unsigned number = 1; number <= basisNumbers; ++number) {
        const AliasParts candidate = numberedAlias(entry.basis.base, number, extension);
        const bool taken = isTaken(candidate, entry);
        if (missing_) return {};
        if (!taken) return candidate.text();
      }
    }
    for (unsigned number = 1;; ++number) {
      const AliasParts candidate = numberedAlias(entry.checksumPrefix, number, extension);
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
    const std::string text = candidate.text();
    if (shortNames_.count(text) != 0) return true;
    if (candidate.number <= basisNumbers) {
      // Only the earliest four of a basis can hold one of its numbers.
      const BasisKey basis{candidate.prefix, candidate.extension};
      const Earlier* earlier = earlierIn(basis, entry);
      const std::vector<Member>* holders = earlier == nullptr ? nullptr
                                           : earlier->full    ? earliestIn(basis)
                                                              : &earlier->members;
      if (holderAmong(holders, text, &entry)) return true;
    }
    return holderAmong(checksumGroupOf(candidate), text, &entry).has_value();
  }

  std::optional<std::string> holderOf(const AliasParts& alias) {
    if (!shortNamesGathered_) {
      missing_ = true;
      return std::nullopt;
    }
    if (alias.number <= basisNumbers) {
      if (auto holder = holderAmong(earliestIn({alias.prefix, alias.extension}), alias.text(), nullptr)) return holder;
    }
    return holderAmong(checksumGroupOf(alias), alias.text(), nullptr);
  }

  // The member holding `alias`, among those created before `before` when it
  // is given. Goes on past a member whose alias needs more gathering, so
  // that one pass gathers for all of them.
  std::optional<std::string> holderAmong(const std::vector<Member>* members, const std::string& alias,
                                         const Member* before) {
    if (members == nullptr) return std::nullopt;
    for (const Member& other : *members) {
      if (before != nullptr && !(other.order < before->order)) continue;
      const std::string held = aliasOf(other);
      if (!missing_ && held == alias) return other.name();
    }
    return std::nullopt;
  }

  // One pass over the directory that fills every group asked for since the
  // last one, and the first time also the valid 8.3 names that could clash
  // with an alias (every alias holds a "~"). It stops early when all that is
  // left to gather is counts of earlier members that have reached four.
  bool gatherPass() {
    // Few groups are wanted at a time: plain lists are quicker to search
    // for every name than maps.
    std::vector<std::pair<EarlierKey, Earlier>> earlier;
    for (const EarlierKey& key : earlier_.wanted) earlier.push_back({key, {}});
    std::vector<std::pair<BasisKey, std::vector<Member>>> earliest;
    for (const BasisKey& key : earliest_.wanted) earliest.push_back({key, {}});
    std::vector<std::pair<ChecksumKey, std::vector<Member>>> checksums;
    for (const ChecksumKey& key : checksums_.wanted) checksums.push_back({key, {}});
    const bool wantShortNames = !shortNamesGathered_;
    const bool wholePass = wantShortNames || !earliest.empty() || !checksums.empty();
    std::size_t countsOpen = earlier.size();

    const bool read = directory_.forEachName([&](std::string_view name) {
      if (isShortName(name)) {
        if (wantShortNames && name.find('~') != std::string_view::npos) shortNames_.insert(asciiUpper(name));
        return wholePass || countsOpen > 0;
      }
      // Its birth time is asked for once, and only when a group wants it; an
      // entry gone by then is left out.
      std::optional<std::optional<Member>> entry;
      const auto made = [&]() -> const std::optional<Member>& {
        if (!entry) entry = member(name);
        return *entry;
      };
      const AliasBasis basis = aliasBasis(name);
      const auto ofBasis = [&](const BasisKey& key) {
        return key.base == basis.base && key.extension == basis.extension;
      };
      for (auto& [key, counted] : earlier) {
        if (counted.full || !ofBasis(key.basis) || !made() || !(made()->order < key.before)) continue;
        counted.members.push_back(*made());
        if (counted.members.size() == basisNumbers) {
          counted.full = true;
          --countsOpen;
        }
      }
      for (auto& [key, members] : earliest)
        if (ofBasis(key) && made()) keepEarliest(members, *made());
      if (!checksums.empty()) {
        const std::string prefix = checksumPrefix(basis, aliasChecksum(name));
        for (auto& [key, members] : checksums)
          if (key.extension == basis.extension && prefix.compare(0, key.length, key.prefix) == 0 && made())
            members.push_back(*made());
      }
      return wholePass || countsOpen > 0;
    });
    if (!read) return false;

    shortNamesGathered_ = true;
    for (auto& [key, counted] : earlier) {
      std::sort(counted.members.begin(), counted.members.end(),
                [](const Member& a, const Member& b) { return a.order < b.order; });
      earlier_.gathered.emplace(std::move(key), std::move(counted));
    }
    for (auto& [key, members] : earliest) earliest_.gathered.emplace(std::move(key), std::move(members));
    for (auto& [key, members] : checksums) checksums_.gathered.emplace(std::move(key), std::move(members));
    earlier_.wanted.clear();
    earliest_.wanted.clear();
    checksums_.wanted.clear();
    return true;
  }

  static void keepEarliest(std::vector<Member>& earliest, const Member& entry) {
    const auto at =
        std::find_if(earliest.begin(), earliest.end(), [&](const Member& kept) { return entry.order < kept.order; });
    if (earliest.size() == basisNumbers && at == earliest.end()) return;
    earliest.insert(at, entry);
    if (earliest.size() > basisNumbers) earliest.pop_back();
  }

  Directory& directory_;
  bool missing_ = false;
  bool shortNamesGathered_ = false;
  std::set<std::string> shortNames_;
  Groups<EarlierKey, Earlier> earlier_;
  Groups<BasisKey, std::vector<Member>> earliest_;
  Groups<ChecksumKey, std::vector<Member>> checksums_;
  std::map<std::string, std::string, std::less<>> aliases_;
};

}  // namespace WindowsNames

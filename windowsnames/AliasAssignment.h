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
//   - the earliest four members of a basis, when an alias typed by a user, a
//     checksum prefix equal to a basis or several entries of one basis ask
//     which hold its numbers. They also tell, for every entry, which members
//     came before it, so one pass serves all of the basis;
//   - every entry whose checksum prefix, cut as the number's digits cut it,
//     equals a prefix being asked about.
// A question is worked out from what has been gathered so far. When it needs
// more, its answer is `pending` and what it needs is noted as wanted; the
// next pass gathers everything wanted at once, and the question is asked
// again. So that a pass brings all a question needs, the working goes on
// past pending parts and notes their wants too.

#pragma once

#include <algorithm>
#include <compare>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "windowsnames/CreationKey.h"
#include "windowsnames/DirectoryConcepts.h"
#include "windowsnames/ShortName.h"

namespace WindowsNames {

// The answer to a question about aliases, or `pending` when it needs entries
// not gathered yet.
struct Pending {};
inline constexpr Pending pending{};

template <class T>
class Gathered {
 public:
  Gathered(Pending) {}
  Gathered(T value) : value_(std::move(value)) {}

  bool isPending() const { return !value_.has_value(); }
  const T& operator*() const { return *value_; }
  const T* operator->() const { return &*value_; }

 private:
  std::optional<T> value_;
};

template <ListableDirectory Directory>
class AliasAssignment {
 public:
  explicit AliasAssignment(Directory& directory) : directory_(directory) {}

  // The alias of `name`, an entry of the directory that is not a valid 8.3
  // name; nothing when the entry is gone or the directory cannot be read.
  std::optional<std::string> aliasOf(std::string_view name) {
    std::optional<std::vector<std::optional<std::string>>> aliases = aliasesOf({std::string(name)});
    if (!aliases) return std::nullopt;
    return std::move(aliases->front());
  }

  // The aliases of several such entries, in order, worked out together so
  // that each pass gathers for all of them; nothing for an entry that is
  // gone, and nothing at all when the directory cannot be read.
  std::optional<std::vector<std::optional<std::string>>> aliasesOf(const std::vector<std::string>& names) {
    const std::vector<std::optional<Member>> members = membersNamed(names);
    // Entries of one basis are worked out from its earliest four, one pass
    // for all of them, rather than one count of earlier members each.
    if (members.size() > 1) {
      for (const std::optional<Member>& entry : members)
        if (entry) wanted_.earliest.insert({entry->basis.base, entry->basis.extension});
    }
    return untilGathered([&]() -> Gathered<std::vector<std::optional<std::string>>> {
      std::vector<std::optional<std::string>> aliases;
      bool waiting = false;
      for (const std::optional<Member>& entry : members) {
        if (!entry) {
          aliases.emplace_back();
          continue;
        }
        const Gathered<std::string> alias = aliasOf(*entry);
        if (alias.isPending())
          waiting = true;
        else
          aliases.emplace_back(*alias);
      }
      if (waiting) return pending;
      return aliases;
    });
  }

  // The long name of the entry whose alias is `text` without regard to case.
  std::optional<std::string> entryWithAlias(std::string_view text) {
    const std::optional<AliasParts> alias = parseAlias(text);
    if (!alias) return std::nullopt;
    const std::optional<std::optional<std::string>> holder =
        untilGathered([&]() -> Gathered<std::optional<std::string>> {
          const Gathered<const Member*> found = holderOf(*alias);
          if (found.isPending()) return pending;
          if (*found == nullptr) return std::optional<std::string>();
          return std::optional<std::string>((*found)->name());
        });
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

  // The entries whose checksum prefix, cut to `length`, is `prefix`.
  struct ChecksumKey {
    std::string prefix;
    std::string extension;
    std::size_t length;

    auto operator<=>(const ChecksumKey&) const = default;
  };

  // Members of a basis created before an entry, in creation order: all of
  // them, or four of them when there are more. They point into the records,
  // which stay put until the next pass.
  struct Earlier {
    std::vector<const Member*> members;
    bool all;

    bool fewerThanFour() const { return members.size() < basisNumbers; }
  };

  // What a pass found of a basis: its members created before `before` (all
  // its members when there is no bound), in creation order.
  struct BasisRecord {
    enum class Holds { all, earliestFour, anyFour };

    std::optional<Order> before;
    std::vector<Member> members;
    Holds holds;
  };

  // What the next pass is to gather.
  struct Wanted {
    std::set<BasisKey> earliest;                   // a basis's earliest four members
    std::set<std::pair<BasisKey, Order>> earlier;  // members created before an entry, up to four
    std::set<ChecksumKey> checksums;               // entries of a checksum prefix

    bool empty() const { return earliest.empty() && earlier.empty() && checksums.empty(); }
  };

  Member makeMember(std::string name, const CreationKey& key) const {
    AliasBasis basis = aliasBasis(name);
    std::string prefix = checksumPrefix(basis, aliasChecksum(name));
    return {{key, std::move(name)}, std::move(basis), std::move(prefix)};
  }

  std::vector<std::optional<Member>> membersNamed(const std::vector<std::string>& names) {
    const std::vector<std::optional<CreationKey>> keys = directory_.creationKeys(names);
    std::vector<std::optional<Member>> members;
    for (std::size_t at = 0; at < names.size(); ++at) {
      if (keys[at])
        members.push_back(makeMember(names[at], *keys[at]));
      else
        members.emplace_back();
    }
    return members;
  }

  // Asks `compute` until its answer is no longer pending, gathering what it
  // wanted in between; nothing when the directory cannot be read.
  template <class Compute>
  auto untilGathered(Compute compute) -> std::optional<std::remove_cvref_t<decltype(*compute())>> {
    for (int pass = 0; pass <= maxPasses; ++pass) {
      const auto answer = compute();
      if (!answer.isPending()) return *answer;
      if (!gatherPass()) return std::nullopt;
    }
    return std::nullopt;
  }

  // Of `basis`, the members created before `entry`: worked out from any
  // record that holds them, else wanted as a count up to four, unless the
  // earliest four are wanted already and will tell.
  Gathered<Earlier> earlierIn(const BasisKey& basis, const Order& entry) {
    if (std::optional<Earlier> known = recordedEarlier(basis, entry)) return std::move(*known);
    if (wanted_.earliest.count(basis) == 0) wanted_.earlier.insert({basis, entry});
    return pending;
  }

  // The earliest four members of `basis`, or all when there are fewer.
  Gathered<const std::vector<Member>*> earliestIn(const BasisKey& basis) {
    if (const auto records = bases_.find(basis); records != bases_.end()) {
      for (const BasisRecord& record : records->second)
        if (!record.before && record.holds != BasisRecord::Holds::anyFour) return &record.members;
    }
    wanted_.earliest.insert(basis);
    return pending;
  }

  std::optional<Earlier> recordedEarlier(const BasisKey& basis, const Order& entry) const {
    const auto records = bases_.find(basis);
    if (records == bases_.end()) return std::nullopt;
    for (const BasisRecord& record : records->second) {
      if (record.holds == BasisRecord::Holds::anyFour) {
        if (record.before != entry) continue;
        Earlier earlier{{}, false};
        for (const Member& member : record.members) earlier.members.push_back(&member);
        return earlier;
      }
      if (record.before && *record.before < entry) continue;
      // A record of the earliest members before a later bound holds every
      // member before `entry` when fewer than four of its own are, and the
      // earliest four otherwise.
      Earlier earlier{{}, record.holds == BasisRecord::Holds::all};
      for (const Member& member : record.members)
        if (member.order < entry) earlier.members.push_back(&member);
      earlier.all = earlier.all || earlier.fewerThanFour();
      return earlier;
    }
    return std::nullopt;
  }

  Gathered<const std::vector<Member>*> checksumGroupOf(const AliasParts& alias) {
    const ChecksumKey key{alias.prefix, alias.extension, aliasPrefixLength(alias.number)};
    if (const auto found = checksums_.find(key); found != checksums_.end()) return &found->second;
    wanted_.checksums.insert(key);
    return pending;
  }

  Gathered<std::string> aliasOf(const Member& entry) {
    if (const auto known = aliases_.find(entry.name()); known != aliases_.end()) return known->second;
    Gathered<std::string> alias = assignAlias(entry);
    if (!alias.isPending()) aliases_.emplace(entry.name(), *alias);
    return alias;
  }

  Gathered<std::string> assignAlias(const Member& entry) {
    const std::string& extension = entry.basis.extension;
    const Gathered<Earlier> peers = earlierIn({entry.basis.base, extension}, entry.order);
    // Asked for now, though only needed when the numbers are worked through,
    // so that the usual case needs no further pass: the checksum forms that
    // could hold numbers 1 to 9 of the basis, then of the checksum prefix.
    checksumGroupOf(numberedAlias(entry.basis.base, 1, extension));
    checksumGroupOf(numberedAlias(entry.checksumPrefix, 1, extension));
    earlierIn({entry.checksumPrefix, extension}, entry.order);
    if (peers.isPending()) return pending;

    if (takesBasisNumbers(entry.basis) && peers->fewerThanFour()) {
      for (unsigned number = 1; number <= basisNumbers; ++number) {
        const AliasParts candidate = numberedAlias(entry.basis.base, number, extension);
        const Gathered<bool> taken = isTaken(candidate, entry);
        if (taken.isPending()) return pending;
        if (!*taken) return candidate.text();
      }
    }
    for (unsigned number = 1;; ++number) {
      const AliasParts candidate = numberedAlias(entry.checksumPrefix, number, extension);
      const Gathered<bool> taken = isTaken(candidate, entry);
      if (taken.isPending()) return pending;
      if (!*taken) return candidate.text();
    }
  }

  // Whether `candidate` is a valid 8.3 name here or the alias of an entry
  // created before `entry`.
  Gathered<bool> isTaken(const AliasParts& candidate, const Member& entry) {
    if (!shortNames_) return pending;  // every first pass gathers them
    const std::string text = candidate.text();
    if (shortNames_->count(text) != 0) return true;
    bool waiting = false;
    if (candidate.number <= basisNumbers) {
      // Only the earliest four of a basis can hold one of its numbers.
      const Gathered<const Member*> holder = basisHolderBefore(candidate, text, entry);
      if (holder.isPending())
        waiting = true;
      else if (*holder != nullptr)
        return true;
    }
    const Gathered<const Member*> holder = checksumHolder(candidate, text, &entry);
    if (!holder.isPending() && *holder != nullptr) return true;
    if (waiting || holder.isPending()) return pending;
    return false;
  }

  Gathered<const Member*> basisHolderBefore(const AliasParts& candidate, const std::string& text, const Member& entry) {
    const BasisKey basis{candidate.prefix, candidate.extension};
    const Gathered<Earlier> earlier = earlierIn(basis, entry.order);
    if (earlier.isPending()) return pending;
    if (earlier->all) return holderAmong(earlier->members, text, &entry);
    const Gathered<const std::vector<Member>*> earliest = earliestIn(basis);
    if (earliest.isPending()) return pending;
    return holderAmong(**earliest, text, &entry);
  }

  Gathered<const Member*> checksumHolder(const AliasParts& alias, const std::string& text, const Member* before) {
    const Gathered<const std::vector<Member>*> group = checksumGroupOf(alias);
    if (group.isPending()) return pending;
    return holderAmong(**group, text, before);
  }

  // The entry holding `alias`, or none.
  Gathered<const Member*> holderOf(const AliasParts& alias) {
    const std::string text = alias.text();
    bool waiting = false;
    if (alias.number <= basisNumbers) {
      const Gathered<const std::vector<Member>*> earliest = earliestIn({alias.prefix, alias.extension});
      if (earliest.isPending()) {
        waiting = true;
      } else {
        const Gathered<const Member*> holder = holderAmong(**earliest, text, nullptr);
        if (holder.isPending())
          waiting = true;
        else if (*holder != nullptr)
          return *holder;
      }
    }
    const Gathered<const Member*> holder = checksumHolder(alias, text, nullptr);
    if (waiting && !holder.isPending() && *holder == nullptr) return pending;
    return holder;
  }

  // The member holding `alias`, among those created before `before` when it
  // is given, or none. Goes on past a member whose alias is pending, so that
  // one pass gathers for all of them.
  template <class Members>
  Gathered<const Member*> holderAmong(const Members& members, const std::string& alias, const Member* before) {
    bool waiting = false;
    for (const auto& each : members) {
      const Member& other = memberOf(each);
      if (before != nullptr && !(other.order < before->order)) continue;
      const Gathered<std::string> held = aliasOf(other);
      if (held.isPending())
        waiting = true;
      else if (*held == alias)
        return &other;
    }
    if (waiting) return pending;
    return static_cast<const Member*>(nullptr);
  }

  static const Member& memberOf(const Member& member) { return member; }
  static const Member& memberOf(const Member* member) { return *member; }

  // The groups one pass fills: what was wanted when it began.
  class Gathering {
   public:
    Gathering(const Wanted& wanted, bool wantShortNames) : wantShortNames_(wantShortNames) {
      for (const BasisKey& basis : wanted.earliest) bases_[basis].earliest.emplace();
      for (const auto& [basis, before] : wanted.earlier) bases_[basis].earlier.push_back({before, {}});
      countsOpen_ = wanted.earlier.size();
      for (const ChecksumKey& key : wanted.checksums) {
        checksums_[key];
        checksumLengths_.insert(key.length);
      }
      wholePass_ = wantShortNames || !wanted.earliest.empty() || !wanted.checksums.empty();
    }

    // Whether the rest of the directory can still add to a group.
    bool open() const { return wholePass_ || countsOpen_ > 0; }

    void offerShortName(std::string_view name, std::set<std::string>& shortNames) const {
      // Every alias holds a "~": no other valid 8.3 name can clash with one.
      if (wantShortNames_ && name.find('~') != std::string_view::npos) shortNames.insert(asciiUpper(name));
    }

    // Whether some group may want the long name `name`, of `basis`: then its
    // creation key is looked up and it is added with add().
    bool wants(std::string_view name, const AliasBasis& basis) const {
      if (const auto found = findGroup(bases_, BasisView{basis.base, basis.extension}); found != bases_.end()) {
        const Groups& groups = found->second;
        if (groups.earliest) return true;
        for (const Counted& counted : groups.earlier)
          if (counted.members.size() < basisNumbers) return true;
      }
      if (checksums_.empty()) return false;
      const std::string prefix = checksumPrefix(basis, aliasChecksum(name));
      for (const std::size_t length : checksumLengths_)
        if (findGroup(checksums_, ChecksumView{std::string_view(prefix).substr(0, length), basis.extension, length}) !=
            checksums_.end())
          return true;
      return false;
    }

    void add(const Member& member) {
      if (const auto found = findGroup(bases_, BasisView{member.basis.base, member.basis.extension});
          found != bases_.end()) {
        Groups& groups = found->second;
        if (groups.earliest) keepEarliest(*groups.earliest, member);
        for (Counted& counted : groups.earlier) {
          if (counted.members.size() == basisNumbers || !(member.order < counted.before)) continue;
          counted.members.push_back(member);
          if (counted.members.size() == basisNumbers) --countsOpen_;
        }
      }
      for (const std::size_t length : checksumLengths_) {
        const auto group = findGroup(checksums_, ChecksumView{std::string_view(member.checksumPrefix).substr(0, length),
                                                              member.basis.extension, length});
        if (group != checksums_.end()) group->second.push_back(member);
      }
    }

    // Hands what was gathered over to the records.
    void record(std::map<BasisKey, std::vector<BasisRecord>>& bases,
                std::map<ChecksumKey, std::vector<Member>>& checksums) {
      const auto holds = [](const std::vector<Member>& members, typename BasisRecord::Holds fourOrMore) {
        return members.size() < basisNumbers ? BasisRecord::Holds::all : fourOrMore;
      };
      for (auto& [basis, groups] : bases_) {
        std::vector<BasisRecord>& records = bases[basis];
        if (groups.earliest) {
          const auto kind = holds(*groups.earliest, BasisRecord::Holds::earliestFour);
          records.push_back({std::nullopt, std::move(*groups.earliest), kind});
        }
        for (Counted& counted : groups.earlier) {
          std::sort(counted.members.begin(), counted.members.end(),
                    [](const Member& a, const Member& b) { return a.order < b.order; });
          const auto kind = holds(counted.members, BasisRecord::Holds::anyFour);
          records.push_back({std::move(counted.before), std::move(counted.members), kind});
        }
      }
      for (auto& [key, members] : checksums_) checksums.emplace(key, std::move(members));
    }

   private:
    // Every listed name is looked up in the groups: by views of its basis
    // and checksum prefix, with nothing copied.
    struct BasisView {
      std::string_view base;
      std::string_view extension;
    };
    struct ChecksumView {
      std::string_view prefix;
      std::string_view extension;
      std::size_t length;
    };
    struct ByView {
      using is_transparent = void;

      using BasisTuple = std::tuple<std::string_view, std::string_view>;
      using ChecksumTuple = std::tuple<std::size_t, std::string_view, std::string_view>;
      static BasisTuple view(const BasisKey& key) { return {key.base, key.extension}; }
      static BasisTuple view(const BasisView& key) { return {key.base, key.extension}; }
      static ChecksumTuple view(const ChecksumKey& key) { return {key.length, key.prefix, key.extension}; }
      static ChecksumTuple view(const ChecksumView& key) { return {key.length, key.prefix, key.extension}; }

      template <class A, class B>
      requires requires(const A& a, const B& b) { view(a) < view(b); }
      bool operator()(const A& a, const B& b) const { return view(a) < view(b); }
    };

    // Few groups are wanted at a time, mostly: then a plain look at each is
    // quicker than the map's search.
    template <class Map, class View>
    static auto findGroup(Map& groups, const View& view) {
      constexpr std::size_t few = 8;
      if (groups.size() > few) return groups.find(view);
      auto group = groups.begin();
      while (group != groups.end() && ByView::view(group->first) != ByView::view(view)) ++group;
      return group;
    }

    struct Counted {
      Order before;
      std::vector<Member> members;
    };
    struct Groups {
      std::optional<std::vector<Member>> earliest;
      std::vector<Counted> earlier;
    };

    static void keepEarliest(std::vector<Member>& earliest, const Member& entry) {
      const auto at =
          std::find_if(earliest.begin(), earliest.end(), [&](const Member& kept) { return entry.order < kept.order; });
      if (earliest.size() == basisNumbers && at == earliest.end()) return;
      earliest.insert(at, entry);
      if (earliest.size() > basisNumbers) earliest.pop_back();
    }

    bool wantShortNames_;
    bool wholePass_;
    std::size_t countsOpen_ = 0;
    std::map<BasisKey, Groups, ByView> bases_;
    std::map<ChecksumKey, std::vector<Member>, ByView> checksums_;
    std::set<std::size_t> checksumLengths_;
  };

  // One pass over the directory that fills every group wanted since the last
  // one, and the first time also the valid 8.3 names that could clash with
  // an alias. The entries a group may want are looked up in batches, growing
  // from a few, so that a count that four entries settle looks up few more.
  bool gatherPass() {
    Gathering gathering(wanted_, !shortNames_);
    wanted_ = {};
    std::set<std::string> shortNames;
    std::vector<std::string> batch;
    std::size_t batchSize = 8;
    const auto lookUpBatch = [&] {
      const std::vector<std::optional<CreationKey>> keys = directory_.creationKeys(batch);
      for (std::size_t at = 0; at < batch.size(); ++at)
        if (keys[at]) gathering.add(makeMember(std::move(batch[at]), *keys[at]));
      batch.clear();
      batchSize = std::min<std::size_t>(batchSize * 2, 1024);
    };
    const bool read = directory_.forEachName([&](std::string_view name) {
      if (isShortName(name)) {
        gathering.offerShortName(name, shortNames);
      } else if (gathering.wants(name, aliasBasis(name))) {
        batch.emplace_back(name);
        if (batch.size() == batchSize) lookUpBatch();
      }
      return gathering.open();
    });
    if (!read) return false;
    lookUpBatch();
    if (!shortNames_) shortNames_ = std::move(shortNames);
    gathering.record(bases_, checksums_);
    return true;
  }

  Directory& directory_;
  Wanted wanted_;
  std::optional<std::set<std::string>> shortNames_;  // upper-cased, those holding a "~"; nothing before the first pass
  std::map<BasisKey, std::vector<BasisRecord>> bases_;
  std::map<ChecksumKey, std::vector<Member>> checksums_;
  std::map<std::string, std::string, std::less<>> aliases_;
};

}  // namespace WindowsNames

#include "windowsnames/AliasAssignment.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "windowsnames/AliasGathering.h"

namespace WindowsNames {

namespace {

const Member& memberOf(const Member& member) { return member; }
const Member& memberOf(const Member* member) { return *member; }

}  // namespace

std::optional<std::string> AliasAssignment::aliasOf(std::string_view name) {
  std::optional<std::vector<std::optional<std::string>>> aliases = aliasesOf({std::string(name)});
  if (!aliases) return std::nullopt;
  return std::move(aliases->front());
}

std::optional<std::vector<std::optional<std::string>>> AliasAssignment::aliasesOf(
    const std::vector<std::string>& names) {
  return aliasesOf(names, directory_);
}

std::optional<std::vector<std::optional<std::string>>> AliasAssignment::aliasesOf(
    const std::vector<std::string>& names, DirectoryListing& held) {
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
  }, held);
}

std::optional<std::string> AliasAssignment::entryWithAlias(std::string_view text) {
  const std::optional<AliasParts> alias = parseAlias(text);
  if (!alias) return std::nullopt;
  const std::optional<std::optional<std::string>> holder =
      untilGathered([&]() -> Gathered<std::optional<std::string>> {
        const Gathered<const Member*> found = holderOf(*alias);
        if (found.isPending()) return pending;
        if (*found == nullptr) return std::optional<std::string>();
        return std::optional<std::string>((*found)->name());
      }, directory_);
  return holder ? *holder : std::nullopt;
}

std::vector<std::string> AliasAssignment::namesWorkedOut() const {
  std::vector<std::string> names;
  names.reserve(aliases_.size());
  for (const auto& [name, alias] : aliases_) names.push_back(name);
  return names;
}

Member AliasAssignment::makeMember(std::string name, const CreationKey& key, AliasBasis basis) {
  std::string prefix = checksumPrefix(basis, aliasChecksum(name));
  return {{key, std::move(name)}, std::move(basis), std::move(prefix)};
}

std::vector<std::optional<Member>> AliasAssignment::membersNamed(const std::vector<std::string>& names) {
  const std::vector<std::optional<CreationKey>> keys = directory_.creationKeys(names);
  std::vector<std::optional<Member>> members;
  for (std::size_t at = 0; at < names.size(); ++at) {
    if (keys[at])
      members.push_back(makeMember(names[at], *keys[at], aliasBasis(names[at])));
    else
      members.emplace_back();
  }
  return members;
}

template <class Compute>
auto AliasAssignment::untilGathered(Compute compute, DirectoryListing& listing)
    -> std::optional<std::remove_cvref_t<decltype(*compute())>> {
  for (int pass = 0; pass <= maxPasses; ++pass) {
    const auto answer = compute();
    if (!answer.isPending()) return *answer;
    if (!gatherPass(listing)) return std::nullopt;
  }
  return std::nullopt;
}

Gathered<Earlier> AliasAssignment::earlierIn(const BasisKey& basis, const Order& entry) {
  if (std::optional<Earlier> known = recordedEarlier(basis, entry)) return std::move(*known);
  if (wanted_.earliest.count(basis) == 0) wanted_.earlier.insert({basis, entry});
  return pending;
}

Gathered<const std::vector<Member>*> AliasAssignment::earliestIn(const BasisKey& basis) {
  if (const auto records = bases_.find(basis); records != bases_.end()) {
    for (const BasisRecord& record : records->second)
      if (!record.before && record.holds != BasisRecord::Holds::anyFour) return &record.members;
  }
  wanted_.earliest.insert(basis);
  return pending;
}

std::optional<Earlier> AliasAssignment::recordedEarlier(const BasisKey& basis, const Order& entry) const {
  const auto records = bases_.find(basis);
  if (records == bases_.end()) return fourGatheredBefore(basis, entry);
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
  return fourGatheredBefore(basis, entry);
}

// Four members created before `entry` are all a count would tell, and the
// entries gathered for other questions (a crowded checksum prefix holds
// hundreds of one basis) mostly hold them: then no count is wanted.
std::optional<Earlier> AliasAssignment::fourGatheredBefore(const BasisKey& basis, const Order& entry) const {
  Earlier earlier{{}, false};
  const auto take = [&](const std::vector<Member>& members) {
    for (const Member& member : members) {
      if (!earlier.fewerThanFour()) return;
      if (!(member.order < entry) || member.basis.base != basis.base || member.basis.extension != basis.extension)
        continue;
      // Groups overlap: a member may be met in several.
      if (std::none_of(earlier.members.begin(), earlier.members.end(),
                       [&](const Member* taken) { return taken->order == member.order; }))
        earlier.members.push_back(&member);
    }
  };
  if (const auto records = bases_.find(basis); records != bases_.end())
    for (const BasisRecord& record : records->second) take(record.members);
  // A group holds members of its own extension only.
  for (const auto& [key, members] : checksums_)
    if (key.extension == basis.extension) take(members);
  if (earlier.fewerThanFour()) return std::nullopt;
  return earlier;
}

Gathered<const std::vector<Member>*> AliasAssignment::checksumGroupOf(const AliasParts& alias) {
  const ChecksumKey key{alias.prefix, alias.extension, aliasPrefixLength(alias.number)};
  if (const auto found = checksums_.find(key); found != checksums_.end()) return &found->second;
  if (const std::vector<Member>* cut = groupWithinWider(key)) return cut;
  wanted_.checksums.insert(key);
  return pending;
}

// A gathered group of a shorter prefix holds every entry of the longer
// prefixes that begin as it does, so those need no pass of their own.
const std::vector<Member>* AliasAssignment::groupWithinWider(const ChecksumKey& key) {
  for (std::size_t length = key.length; length-- > 0;) {
    const auto wider = checksums_.find({key.prefix.substr(0, length), key.extension, length});
    if (wider == checksums_.end()) continue;
    std::vector<Member> members;
    for (const Member& member : wider->second)
      if (std::string_view(member.checksumPrefix).substr(0, key.length) == key.prefix) members.push_back(member);
    return &checksums_.emplace(key, std::move(members)).first->second;
  }
  return nullptr;
}

// Asked for with the entry's first question, though needed only when its
// numbers are worked through, so that the usual case needs no further pass:
// the checksum forms that could hold numbers 1 to 4 of the basis, and those
// of its checksum prefix. Where prefixes may crowd, that prefix cut as
// numbers 10 to 99 cut it: a crowded prefix numbers past 9, and the entries
// before this one that its aliases rest on take their own numbers from the
// groups that cut prefix covers, and from the bases those groups' first
// numbers could belong to: all of them in this one pass.
void AliasAssignment::wantWhatNumbersRestOn(const Member& entry) {
  const std::string& extension = entry.basis.extension;
  checksumGroupOf(numberedAlias(entry.basis.base, 1, extension));
  earlierIn({entry.checksumPrefix, extension}, entry.order);
  if (!prefixesMayCrowd()) {
    checksumGroupOf(numberedAlias(entry.checksumPrefix, 1, extension));
    return;
  }
  const AliasParts cut = numberedAlias(entry.checksumPrefix, 10, extension);
  checksumGroupOf(cut);
  if (cut.prefix.size() == entry.checksumPrefix.size()) return;
  for (const char digit : std::string_view("0123456789ABCDEF")) earlierIn({cut.prefix + digit, extension}, entry.order);
}

// Ten entries of one checksum prefix are many times the 65,536 checksums
// apart from a crafted few: some 300,000 names of one extension and first
// two characters. Anticipating them costs every smaller directory a group
// of each prefix sixteen times wider and sixteen more questions per entry,
// so they are gathered at once only where the directory is reported as
// large as that (16 MiB on ext4); elsewhere a crowded prefix costs the
// passes that it turns out to need.
bool AliasAssignment::prefixesMayCrowd() {
  constexpr std::uint64_t crowdingSize = std::uint64_t{16} << 20;
  if (!prefixesMayCrowd_) prefixesMayCrowd_ = directory_.reportedSize() >= crowdingSize;
  return *prefixesMayCrowd_;
}

Gathered<std::string> AliasAssignment::aliasOf(const Member& entry) {
  if (const auto known = aliases_.find(entry.name()); known != aliases_.end()) return known->second;
  // Its wants are noted already; working it out again would cost as much
  // again for every later entry that asks, over and over down a crowded
  // prefix.
  if (waiting_.count(entry.name()) != 0) return pending;
  Gathered<std::string> alias = assignAlias(entry);
  if (alias.isPending())
    waiting_.insert(entry.name());
  else
    aliases_.emplace(entry.name(), *alias);
  return alias;
}

Gathered<std::string> AliasAssignment::assignAlias(const Member& entry) {
  const std::string& extension = entry.basis.extension;
  const Gathered<Earlier> peers = earlierIn({entry.basis.base, extension}, entry.order);
  wantWhatNumbersRestOn(entry);
  if (peers.isPending()) return pending;

  HeldInGroup held;
  if (takesBasisNumbers(entry.basis) && peers->fewerThanFour()) {
    for (unsigned number = 1; number <= basisNumbers; ++number) {
      const AliasParts candidate = numberedAlias(entry.basis.base, number, extension);
      const Gathered<bool> taken = isTaken(candidate, entry, held);
      if (taken.isPending()) return pending;
      if (!*taken) return candidate.text();
    }
  }
  // What is taken for a member is taken for every member created after it,
  // so the numbers below the one the latest member before it took need no
  // trying: a crowded prefix would otherwise try them all for each member.
  std::pair<Order, unsigned>* latest = nullptr;
  const auto known = latestNumbers_.find({entry.checksumPrefix, extension});
  if (known != latestNumbers_.end()) latest = &known->second;
  for (unsigned number = latest != nullptr && latest->first < entry.order ? latest->second : 1;; ++number) {
    const AliasParts candidate = numberedAlias(entry.checksumPrefix, number, extension);
    const Gathered<bool> taken = isTaken(candidate, entry, held);
    if (taken.isPending()) return pending;
    if (*taken) continue;
    if (latest == nullptr)
      latestNumbers_.emplace(BasisKey{entry.checksumPrefix, extension}, std::pair(entry.order, number));
    else if (latest->first < entry.order)
      *latest = {entry.order, number};
    return candidate.text();
  }
}

Gathered<bool> AliasAssignment::isTaken(const AliasParts& candidate, const Member& entry, HeldInGroup& held) {
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
  const Gathered<const std::vector<Member>*> group = checksumGroupOf(candidate);
  if (group.isPending()) return pending;
  if (held.group != *group) collectHeld(**group, entry, held);
  if (held.aliases->count(text) != 0) return true;
  if (waiting || held.waiting) return pending;
  return false;
}

// Once for all the numbers tried in a group, not once a number, and grown
// from what the members before asked, not gone through again for each: a
// crowded prefix tries hundreds of numbers for each of its members (crafted
// names, 1,024 of one checksum, took seconds, 4,096 minutes). A member's
// alias rests only on entries created before it, so the members are asked
// in creation order, each once; one still pending leaves the progress where
// it is until the next pass. Every later member is then pending too, and is
// told so at once, but every member is still asked once in the pass, so
// that the next pass gathers what all of them want.
void AliasAssignment::collectHeld(const std::vector<Member>& group, const Member& entry, HeldInGroup& held) {
  GroupProgress& progress = progressOf(group);
  const auto& members = progress.byCreation;
  const std::size_t before = static_cast<std::size_t>(
      std::lower_bound(members.begin(), members.end(), entry.order,
                       [](const Member* member, const Order& order) { return member->order < order; }) -
      members.begin());
  held.group = &group;
  held.waiting = false;
  if (progress.known > before) {
    // Asked out of creation order: every member before is known already.
    held.own.clear();
    for (std::size_t at = 0; at < before; ++at) {
      const Gathered<std::string> alias = aliasOf(*members[at]);
      if (alias.isPending())
        held.waiting = true;
      else
        held.own.insert(*alias);
    }
    held.aliases = &held.own;
    return;
  }
  held.aliases = &progress.aliases;
  if (progress.stuck && before > progress.known) {
    held.waiting = true;
    for (std::size_t at = std::max(progress.asked, progress.known); at < before; ++at) (void)aliasOf(*members[at]);
    progress.asked = std::max(progress.asked, before);
    return;
  }
  for (std::size_t at = progress.known; at < before; ++at) {
    const Gathered<std::string> alias = aliasOf(*members[at]);
    if (alias.isPending()) {
      if (at == progress.known) progress.stuck = true;
      held.waiting = true;
    } else if (!held.waiting && at == progress.known) {
      progress.aliases.insert(*alias);
      ++progress.known;
    }
  }
  progress.asked = std::max(progress.asked, before);
}

AliasAssignment::GroupProgress& AliasAssignment::progressOf(const std::vector<Member>& group) {
  const auto [found, made] = progress_.try_emplace(&group);
  GroupProgress& progress = found->second;
  if (made) {
    progress.byCreation.reserve(group.size());
    for (const Member& member : group) progress.byCreation.push_back(&member);
    std::sort(progress.byCreation.begin(), progress.byCreation.end(),
              [](const Member* a, const Member* b) { return a->order < b->order; });
  }
  return progress;
}

Gathered<const Member*> AliasAssignment::basisHolderBefore(const AliasParts& candidate, const std::string& text,
                                                           const Member& entry) {
  const BasisKey basis{candidate.prefix, candidate.extension};
  const Gathered<Earlier> earlier = earlierIn(basis, entry.order);
  if (earlier.isPending()) return pending;
  if (earlier->all) return holderAmong(earlier->members, text, &entry);
  const Gathered<const std::vector<Member>*> earliest = earliestIn(basis);
  if (earliest.isPending()) return pending;
  return holderAmong(**earliest, text, &entry);
}

Gathered<const Member*> AliasAssignment::checksumHolder(const AliasParts& alias, const std::string& text,
                                                        const Member* before) {
  const Gathered<const std::vector<Member>*> group = checksumGroupOf(alias);
  if (group.isPending()) return pending;
  return holderAmong(**group, text, before);
}

Gathered<const Member*> AliasAssignment::holderOf(const AliasParts& alias) {
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

template <class Members>
Gathered<const Member*> AliasAssignment::holderAmong(const Members& members, const std::string& alias,
                                                     const Member* before) {
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

// The entries a group may want are looked up in batches, growing from a
// few, so that a count that four entries settle looks up few more.
bool AliasAssignment::gatherPass(DirectoryListing& listing) {
  AliasGathering gathering(wanted_, !shortNames_);
  wanted_ = {};
  waiting_.clear();
  progress_.clear();  // the groups are filled afresh
  std::set<std::string> shortNames;
  std::vector<std::string> batch;
  std::vector<AliasBasis> bases;  // of the names in the batch, worked out once
  std::size_t batchSize = 8;
  const auto lookUpBatch = [&] {
    const std::vector<std::optional<CreationKey>> keys = directory_.creationKeys(batch);
    for (std::size_t at = 0; at < batch.size(); ++at)
      if (keys[at]) gathering.add(makeMember(std::move(batch[at]), *keys[at], std::move(bases[at])));
    batch.clear();
    bases.clear();
    batchSize = std::min<std::size_t>(batchSize * 2, 1024);
  };
  const bool read = listing.forEachName([&](std::string_view name) {
    if (isShortName(name)) {
      gathering.offerShortName(name, shortNames);
    } else if (AliasBasis basis = aliasBasis(name); gathering.wants(name, basis)) {
      batch.emplace_back(name);
      bases.push_back(std::move(basis));
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

}  // namespace WindowsNames

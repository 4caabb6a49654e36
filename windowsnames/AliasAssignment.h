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
//
// What has been gathered and worked out is kept for later questions about
// the same directory.

#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_set>
#include <vector>

#include "windowsnames/AliasRecords.h"
#include "windowsnames/DirectoryListing.h"
#include "windowsnames/ShortName.h"

namespace WindowsNames {

class AliasAssignment {
 public:
  explicit AliasAssignment(DirectoryListing& directory) : directory_(directory) {}

  // The alias of `name`, an entry of the directory that is not a valid 8.3
  // name; nothing when the entry is gone or the directory cannot be read.
  std::optional<std::string> aliasOf(std::string_view name);

  // The aliases of several such entries, in order, worked out together so
  // that each pass gathers for all of them; nothing for an entry that is
  // gone, and nothing at all when the directory cannot be read.
  std::optional<std::vector<std::optional<std::string>>> aliasesOf(const std::vector<std::string>& names);
  // The same, gathered from `held` instead of the directory: names kept from
  // a pass just made, among them every entry these aliases can rest on (the
  // valid 8.3 names holding a "~" and every long name whose alias begins as
  // theirs may). What is gathered so is whole, and kept as any other.
  std::optional<std::vector<std::optional<std::string>>> aliasesOf(const std::vector<std::string>& names,
                                                                   DirectoryListing& held);

  // The long name of the entry whose alias is `text` without regard to case.
  std::optional<std::string> entryWithAlias(std::string_view text);

  // The long names whose aliases have been worked out so far (what the
  // answers given rest on, besides the valid 8.3 names).
  std::vector<std::string> namesWorkedOut() const;

 private:
  static constexpr int maxPasses = 16;  // a directory changing under us must not keep us here

  static Member makeMember(std::string name, const CreationKey& key, AliasBasis basis);
  std::vector<std::optional<Member>> membersNamed(const std::vector<std::string>& names);

  // Asks `compute` until its answer is no longer pending, gathering what it
  // wanted in between; nothing when the directory cannot be read.
  template <class Compute>
  auto untilGathered(Compute compute, DirectoryListing& listing)
      -> std::optional<std::remove_cvref_t<decltype(*compute())>>;

  // Of `basis`, the members created before `entry`: worked out from any
  // record that holds them, else wanted as a count up to four, unless the
  // earliest four are wanted already and will tell.
  Gathered<Earlier> earlierIn(const BasisKey& basis, const Order& entry);
  // The earliest four members of `basis`, or all when there are fewer.
  Gathered<const std::vector<Member>*> earliestIn(const BasisKey& basis);
  std::optional<Earlier> recordedEarlier(const BasisKey& basis, const Order& entry) const;
  std::optional<Earlier> fourGatheredBefore(const BasisKey& basis, const Order& entry) const;
  Gathered<const std::vector<Member>*> checksumGroupOf(const AliasParts& alias);
  const std::vector<Member>* groupWithinWider(const ChecksumKey& key);
  void wantWhatNumbersRestOn(const Member& entry);
  bool prefixesMayCrowd();

  Gathered<std::string> aliasOf(const Member& entry);
  Gathered<std::string> assignAlias(const Member& entry);
  // The aliases that the members of one checksum group created before an
  // entry hold, pending while one of them is.
  struct HeldInGroup {
    const std::vector<Member>* group = nullptr;
    const std::unordered_set<std::string>* aliases = nullptr;  // the group's progress, or `own`
    std::unordered_set<std::string> own;
    bool waiting = false;
  };
  // Of a checksum group, the aliases of its earliest members, grown in
  // creation order as later members ask: in a crowded prefix each member
  // asks what every earlier one holds.
  struct GroupProgress {
    std::vector<const Member*> byCreation;
    std::size_t known = 0;  // byCreation[0, known) have their aliases in `aliases`
    std::unordered_set<std::string> aliases;
    bool stuck = false;     // byCreation[known] is pending until the next pass
    std::size_t asked = 0;  // byCreation[0, asked) asked for their aliases in this pass
  };
  // Whether `candidate` is a valid 8.3 name here or the alias of an entry
  // created before `entry`; `held` keeps what its checksum group holds for
  // the next number tried in the same group.
  Gathered<bool> isTaken(const AliasParts& candidate, const Member& entry, HeldInGroup& held);
  void collectHeld(const std::vector<Member>& group, const Member& entry, HeldInGroup& held);
  GroupProgress& progressOf(const std::vector<Member>& group);
  Gathered<const Member*> basisHolderBefore(const AliasParts& candidate, const std::string& text, const Member& entry);
  Gathered<const Member*> checksumHolder(const AliasParts& alias, const std::string& text, const Member* before);
  // The entry holding `alias`, or none.
  Gathered<const Member*> holderOf(const AliasParts& alias);
  // The member holding `alias`, among those created before `before` when it
  // is given, or none. Goes on past a member whose alias is pending, so that
  // one pass gathers for all of them.
  template <class Members>
  Gathered<const Member*> holderAmong(const Members& members, const std::string& alias, const Member* before);

  // One pass over the directory that fills every group wanted since the last
  // one, and the first time also the valid 8.3 names that could clash with
  // an alias.
  bool gatherPass(DirectoryListing& listing);

  DirectoryListing& directory_;
  Wanted wanted_;
  std::optional<std::set<std::string>> shortNames_;  // upper-cased, those holding a "~"; nothing before the first pass
  std::map<BasisKey, std::vector<BasisRecord>> bases_;
  std::map<ChecksumKey, std::vector<Member>> checksums_;
  std::map<std::string, std::string, std::less<>> aliases_;
  std::set<std::string, std::less<>> waiting_;  // pending until the next pass
  std::map<const std::vector<Member>*, GroupProgress> progress_;  // until the next pass
  // Of each checksum prefix, the latest-created member whose alias is known,
  // and the number it took.
  std::map<BasisKey, std::pair<Order, unsigned>> latestNumbers_;
  std::optional<bool> prefixesMayCrowd_;        // asked of the directory once
};

}  // namespace WindowsNames

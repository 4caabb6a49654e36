#include "windowsnames/AliasGathering.h"

#include <algorithm>

namespace WindowsNames {

AliasGathering::AliasGathering(const Wanted& wanted, bool wantShortNames) : wantShortNames_(wantShortNames) {
  for (const BasisKey& basis : wanted.earliest) bases_[basis].earliest.emplace();
  for (const auto& [basis, before] : wanted.earlier) bases_[basis].earlier.push_back({before, {}});
  countsOpen_ = wanted.earlier.size();
  for (const ChecksumKey& key : wanted.checksums) {
    checksums_[key];
    checksumLengths_.insert(key.length);
  }
  wholePass_ = wantShortNames || !wanted.earliest.empty() || !wanted.checksums.empty();
}

// Few groups are wanted at a time, mostly: then a plain look at each is
// quicker than the map's search.
template <class Map, class View>
auto AliasGathering::findGroup(Map& groups, const View& view) {
  constexpr std::size_t few = 8;
  if (groups.size() > few) return groups.find(view);
  auto group = groups.begin();
  while (group != groups.end() && ByView::view(group->first) != ByView::view(view)) ++group;
  return group;
}

void AliasGathering::offerShortName(std::string_view name, std::set<std::string>& shortNames) const {
  // Every alias holds a "~": no other valid 8.3 name can clash with one.
  if (wantShortNames_ && name.find('~') != std::string_view::npos) shortNames.insert(asciiUpper(name));
}

bool AliasGathering::wants(std::string_view name, const AliasBasis& basis) const {
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

void AliasGathering::add(const Member& member) {
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

void AliasGathering::record(std::map<BasisKey, std::vector<BasisRecord>>& bases,
                            std::map<ChecksumKey, std::vector<Member>>& checksums) {
  const auto holds = [](const std::vector<Member>& members, BasisRecord::Holds fourOrMore) {
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

void AliasGathering::keepEarliest(std::vector<Member>& earliest, const Member& entry) {
  const auto at =
      std::find_if(earliest.begin(), earliest.end(), [&](const Member& kept) { return entry.order < kept.order; });
  if (earliest.size() == basisNumbers && at == earliest.end()) return;
  earliest.insert(at, entry);
  if (earliest.size() > basisNumbers) earliest.pop_back();
}

}  // namespace WindowsNames

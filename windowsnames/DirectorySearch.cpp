#include "windowsnames/DirectorySearch.h"

#include <algorithm>

#include "windowsnames/CodeUnits.h"
#include "windowsnames/Fnv1a.h"

namespace WindowsNames {

namespace {

// Upper-cased units first, a shorter name before a longer one it begins;
// names equal without regard to case (a file system that tells case apart
// may hold several) by their own units.
template <CodeUnitSource Reader>
bool unitsListedBefore(std::string_view name, std::string_view other) {
  Reader a(name);
  Reader b(other);
  while (!a.done() && !b.done()) {
    const char16_t mine = upperCase(a.next());
    const char16_t theirs = upperCase(b.next());
    if (mine != theirs) return mine < theirs;
  }
  if (a.done() != b.done()) return a.done();
  Reader rawA(name);
  Reader rawB(other);
  while (!rawA.done()) {
    const char16_t mine = rawA.next();
    const char16_t theirs = rawB.next();
    if (mine != theirs) return mine < theirs;
  }
  return false;
}

}  // namespace

bool listedBefore(std::string_view name, std::string_view other) {
  if (isAscii(name) && isAscii(other)) {
    // Bytes alike are alike upper-cased too: names of a large directory
    // often share a long start, which is passed over at memory speed.
    const bool sameStart = !name.empty() && !other.empty() && name[0] == other[0];
    const std::size_t shared =
        sameStart ? static_cast<std::size_t>(std::mismatch(name.begin(), name.end(), other.begin(), other.end()).first -
                                             name.begin())
                  : 0;
    return unitsListedBefore<AsciiReader>(name.substr(shared), other.substr(shared));
  }
  return unitsListedBefore<CodeUnitReader>(name, other);
}

bool reportsDotEntries(const WildcardPattern& pattern) {
  return matchesWildcards(pattern, ".") || matchesWildcards(pattern, "");
}

void AliasCandidates::offer(std::string_view name) {
  if (after_ && !listedBefore(*after_, name)) return;
  // Most names offered to a full batch come after all it holds.
  if (names_.size() == capacity && !listedBefore(name, names_.back())) {
    dropped_ = true;
    return;
  }
  const auto at = std::upper_bound(names_.begin(), names_.end(), name, listedBefore) - names_.begin();
  if (names_.size() == capacity) {
    dropped_ = true;
    if (static_cast<std::size_t>(at) == capacity) return;
    names_.pop_back();
  }
  names_.emplace(names_.begin() + at, name);
}

AliasStart::AliasStart(const WildcardPattern& pattern) {
  for (const WildcardToken& token : pattern) {
    if (token.kind != WildcardToken::Kind::Literal || literals_.size() == 2) break;
    literals_ += token.literal;
  }
}

namespace {

bool isHexDigit(char16_t c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

}  // namespace

// A hex digit of the head is taken to fit any: a base such as "A1A2B" holds
// numbers of the checksum prefix "A1A2B" of other names, whose second
// character is a checksum digit, so a name is ruled out only where the names
// whose numbers it could take are too.
bool AliasStart::fits(std::size_t at, const std::string& head) const {
  const char16_t wanted = literals_[at];
  if (at >= head.size()) return isHexDigit(wanted);
  const auto mine = static_cast<char16_t>(static_cast<unsigned char>(head[at]));
  return mine == wanted || (isHexDigit(mine) && isHexDigit(wanted));
}

bool AliasStart::mayBegin(std::string_view longName) const {
  if (!rulesOut()) return true;
  const std::string head = aliasBaseHead(longName);
  if (!fits(0, head)) return false;
  if (literals_.size() == 1) return true;
  // Numbers up to five digits keep both characters; six digits keep one, then "~".
  return literals_[1] == u'~' || fits(1, head);
}

bool aliasBelowTenMayMatch(const WildcardPattern& pattern, const AliasBasis& basis, std::uint16_t checksum) {
  return matchesNumberedAliases(pattern, basis.base, 1, '1', '4', basis.extension) ||
         matchesNumberedAliases(pattern, checksumPrefix(basis, checksum), 1, '1', '9', basis.extension);
}

BelowTenTest::BelowTenTest(const WildcardPattern& pattern) : pattern_(pattern) {
  // Only a literal looks at which character a prefix holds, and no prefix
  // holds a ".": a character that no literal is stands for any other.
  for (const char blank : {'\x01', '\x02'}) {
    if (std::none_of(pattern.begin(), pattern.end(), [&](const WildcardToken& token) {
          return token.kind == WildcardToken::Kind::Literal &&
                 token.literal == char16_t{static_cast<unsigned char>(blank)};
        })) {
      blank_ = blank;
      break;
    }
  }
}

bool BelowTenTest::matchesAnyPrefix(std::size_t length, char highestDigit, const std::string& extension) {
  for (const Shape& shape : shapes_)
    if (shape.length == length && shape.highestDigit == highestDigit && shape.extension == extension)
      return shape.matchesAny;
  constexpr std::size_t handful = 16;
  if (!blank_ || shapes_.size() == handful) return false;
  const bool matchesAny =
      matchesNumberedAliases(pattern_, std::string(length, *blank_), 1, '1', highestDigit, extension);
  shapes_.push_back({length, highestDigit, extension, matchesAny});
  return matchesAny;
}

bool BelowTenTest::mayMatch(const AliasBasis& basis, std::uint16_t checksum) {
  const std::size_t checksumLength = std::min<std::size_t>(basis.base.size(), 2) + 4;
  return matchesAnyPrefix(checksumLength, '9', basis.extension) ||
         matchesAnyPrefix(basis.base.size(), '4', basis.extension) || aliasBelowTenMayMatch(pattern_, basis, checksum);
}

bool aliasFromTenMayMatch(const WildcardPattern& pattern, const AliasBasis& basis, std::uint16_t checksum,
                          std::size_t highestNumber) {
  const std::string prefix = checksumPrefix(basis, checksum);
  // Each further digit cuts the prefix by one; numbers go up to 9,999,999.
  unsigned smallest = 10;
  for (std::size_t digits = 2; digits <= 7 && smallest <= highestNumber; ++digits, smallest *= 10) {
    const std::string_view kept = std::string_view(prefix).substr(0, aliasPrefixLength(smallest));
    if (matchesNumberedAliases(pattern, kept, digits, '1', '9', basis.extension)) return true;
  }
  return false;
}

// A checksum prefix is a head of one or two characters and the checksum's
// four hex digits, already well spread: they pick the slot, so that prefixes
// share a count only by chance.
std::size_t CrowdedPrefixes::slot(std::string_view head, std::uint16_t checksum, std::string_view extension) {
  const std::uint32_t hash = fnv1a(extension, fnv1a(".", fnv1a(head)));
  return (checksum ^ hash ^ (hash >> 16)) & 0xFFFFu;
}

// Counted for a checksum prefix: the names it is the checksum prefix of, and
// the names that could hold one of its numbers otherwise: those whose basis
// it is, and valid 8.3 names of the form PREFIX~1 to PREFIX~9.
void CrowdedPrefixes::countShortName(std::string_view name) {
  if (const std::optional<AliasParts> alias = parseAlias(name); alias && alias->number < 10)
    bumpPrefix(alias->prefix, alias->extension);
}

void CrowdedPrefixes::countLongName(const AliasBasis& basis, std::uint16_t checksum) {
  bump(slot(std::string_view(basis.base).substr(0, 2), checksum, basis.extension));
  bumpPrefix(basis.base, basis.extension);
}

void CrowdedPrefixes::bump(std::size_t slot) {
  constexpr unsigned char crowd = 10;
  unsigned char& counted = counts_[slot];
  if (counted < crowd && ++counted == crowd) any_ = true;
}

void CrowdedPrefixes::bumpPrefix(std::string_view prefix, std::string_view extension) {
  if (const auto checksum = checksumInPrefix(prefix))
    bump(slot(prefix.substr(0, prefix.size() - 4), *checksum, extension));
}

bool CrowdedPrefixes::mayBeCrowded(const AliasBasis& basis, std::uint16_t checksum) const {
  return counts_[slot(std::string_view(basis.base).substr(0, 2), checksum, basis.extension)] >= 10;
}

namespace {

// The names of a search's first pass that the passes after it could use: the
// valid 8.3 names holding a "~" (only those can clash with an alias) and the
// long names whose aliases may begin as the pattern does. Every name an
// alias of those rests on is among them (its basis and checksum prefix begin
// as its own), so while they are few, they stand for the directory and the
// search passes over it no more. Where the pattern's start rules out no
// name, they would be the directory itself, and none are held.
class HeldNames final : public DirectoryListing {
 public:
  static constexpr std::size_t capacity = 1024;

  HeldNames(DirectoryListing& directory, const AliasStart& start) : directory_(directory), whole_(start.rulesOut()) {}

  void hold(std::string_view name) {
    if (!whole_) return;
    if (names_.size() == capacity) {
      whole_ = false;
      names_ = {};
      return;
    }
    names_.emplace_back(name);
  }
  bool whole() const { return whole_; }

  bool forEachName(NameVisitor visit) override {
    for (const std::string& name : names_)
      if (!visit(name)) break;
    return true;
  }
  std::vector<std::optional<CreationKey>> creationKeys(const std::vector<std::string>& names) override {
    return directory_.creationKeys(names);
  }
  bool readable() override { return true; }
  bool isRoot() override { return directory_.isRoot(); }
  std::uint64_t reportedSize() override { return directory_.reportedSize(); }

 private:
  DirectoryListing& directory_;
  std::vector<std::string> names_;
  bool whole_;
};

// One search: a first pass over every name, which finds the first that
// matches by its own name and notes those that may match through an alias;
// then, only where such a name comes before that match, the passes that
// prove which alias it holds.
class FirstMatchSearch {
 public:
  FirstMatchSearch(DirectoryListing& directory, std::string_view pattern)
      : directory_(directory),
        wildcards_(translateWildcards(pattern)),
        aliasStart_(wildcards_),
        belowTen_(wildcards_),
        held_(directory, aliasStart_) {}

  std::optional<std::string> run(AliasAssignment& aliases) {
    if (!directory_.readable()) return std::nullopt;
    if (!directory_.isRoot() && reportsDotEntries(wildcards_)) return ".";
    if (!firstPass()) return std::nullopt;
    const bool fromTenOnlyFirst = fromTenOnly_ && listedFirst(*fromTenOnly_);
    if (!fromTenOnlyFirst && (candidates_.names().empty() || !listedFirst(candidates_.names().front()))) return first_;
    DirectoryListing& rest = held_.whole() ? static_cast<DirectoryListing&>(held_) : directory_;
    fromTenMayMatch_ = fromTenOnlyFirst && crowded_.any() && mayMatchAliasFromTen(wildcards_, entries_ + 10);
    if (fromTenMayMatch_ && (!countMayHoldFromTen(rest) || !offerCandidates(rest, candidates_, true)))
      return std::nullopt;
    return proveThroughAliases(aliases, rest);
  }

 private:
  bool listedFirst(std::string_view name) const { return !first_ || listedBefore(name, *first_); }

  bool matchOwnName(std::string_view name) {
    if (listedFirst(name) && matchesWildcards(wildcards_, name)) first_ = name;
    return true;
  }

  // Where no alias could match, the pass compares names alone, kept apart so
  // that it stays as lean as a plain pass allows.
  bool firstPass() {
    if (!mayMatchAlias(wildcards_, maxAliasNumber))
      return directory_.forEachName([&](std::string_view name) {
        ++entries_;
        return matchOwnName(name);
      });
    return directory_.forEachName([&](std::string_view name) {
      ++entries_;
      return weigh(name);
    });
  }

  bool weigh(std::string_view name) {
    if (isShortName(name)) {
      if (name.find('~') != std::string_view::npos) held_.hold(name);
      crowded_.countShortName(name);
      return matchOwnName(name);
    }
    // A name no alias of which begins as the pattern may matches by its own
    // name alone, and crowds no prefix whose aliases could match.
    if (!aliasStart_.mayBegin(name)) return matchOwnName(name);
    held_.hold(name);
    const AliasBasis basis = aliasBasis(name);
    const std::uint16_t checksum = aliasChecksum(name);
    crowded_.countLongName(basis, checksum);
    if (!listedFirst(name)) return true;
    if (matchesWildcards(wildcards_, name)) {
      first_ = name;
      return true;
    }
    if (belowTen_.mayMatch(basis, checksum)) {
      candidates_.offer(name);
      return true;
    }
    // The test by extension spares most names the one by their own prefix,
    // which keeps out those no alias of theirs could match ("dir 00 long"
    // for "l*").
    if ((!fromTenOnly_ || listedBefore(name, *fromTenOnly_)) && fromTenMayMatchWith(basis.extension) &&
        aliasFromTenMayMatch(wildcards_, basis, checksum, maxAliasNumber))
      fromTenOnly_ = name;
    return true;
  }

  // Whether an alias numbered 10 or more with an extension may match, for the
  // few extensions a directory holds; past a handful, taken to be so.
  bool fromTenMayMatchWith(const std::string& extension) {
    for (const auto& [known, may] : fromTenByExtension_)
      if (known == extension) return may;
    constexpr std::size_t handful = 16;
    if (fromTenByExtension_.size() == handful) return true;
    const bool may = mayMatchAliasFromTen(wildcards_, maxAliasNumber, extension);
    fromTenByExtension_.emplace_back(extension, may);
    return may;
  }

  // A number N from 10 on needs 10 to N-1 held by other entries, each a valid
  // 8.3 name numbered so or a long name whose prefix is crowded: counting
  // those, once every name has been counted, bounds the numbers worth trying.
  // No number can pass the count of entries by more than the nine below 10.
  bool countMayHoldFromTen(DirectoryListing& rest) {
    return rest.forEachName([&](std::string_view name) {
      if (isShortName(name)) {
        if (const std::optional<AliasParts> alias = parseAlias(name); alias && alias->number >= 10) ++mayHoldFromTen_;
      } else if (aliasStart_.mayBegin(name) && crowded_.mayBeCrowded(aliasBasis(name), aliasChecksum(name))) {
        ++mayHoldFromTen_;
      }
      return true;
    });
  }

  bool offerCandidates(DirectoryListing& rest, AliasCandidates& batch, bool belowTenOffered) {
    return rest.forEachName([&](std::string_view name) {
      if (!listedFirst(name) || isShortName(name) || !aliasStart_.mayBegin(name) || matchesWildcards(wildcards_, name))
        return true;
      const AliasBasis basis = aliasBasis(name);
      const std::uint16_t checksum = aliasChecksum(name);
      if ((!belowTenOffered && belowTen_.mayMatch(basis, checksum)) ||
          (fromTenMayMatch_ && crowded_.mayBeCrowded(basis, checksum) &&
           aliasFromTenMayMatch(wildcards_, basis, checksum, 10 + mayHoldFromTen_)))
        batch.offer(name);
      return true;
    });
  }

  // The candidates listed before the match, a bounded batch at a time, in
  // listing order: the first whose alias matches comes first.
  std::optional<std::string> proveThroughAliases(AliasAssignment& aliases, DirectoryListing& rest) {
    for (;;) {
      std::vector<std::string> names;
      for (const std::string& name : candidates_.names())
        if (listedFirst(name)) names.push_back(name);
      if (const auto found = aliases.aliasesOf(names, rest)) {
        for (std::size_t at = 0; at < names.size(); ++at) {
          const std::optional<std::string>& alias = (*found)[at];
          if (alias && matchesWildcards(wildcards_, *alias)) return names[at];
        }
      }
      if (candidates_.complete() || names.size() < candidates_.names().size()) return first_;
      candidates_ = AliasCandidates(names.back());
      if (!offerCandidates(rest, candidates_, false)) return std::nullopt;
    }
  }

  DirectoryListing& directory_;
  const WildcardPattern wildcards_;
  const AliasStart aliasStart_;
  BelowTenTest belowTen_;
  HeldNames held_;
  CrowdedPrefixes crowded_;
  AliasCandidates candidates_;
  std::optional<std::string> first_;  // matched by its own name
  // Of the long names seen before `first_` was, the first-listed that the
  // pattern may match through an alias numbered 10 or more but neither by its
  // own name nor below 10: only where such a name comes first are the
  // numbers from 10 worth a pass.
  std::optional<std::string> fromTenOnly_;
  std::vector<std::pair<std::string, bool>> fromTenByExtension_;
  std::size_t entries_ = 0;
  bool fromTenMayMatch_ = false;
  std::size_t mayHoldFromTen_ = 0;
};

}  // namespace

std::optional<std::string> findFirstMatch(DirectoryListing& directory, AliasAssignment& aliases,
                                          std::string_view pattern) {
  return FirstMatchSearch(directory, pattern).run(aliases);
}

}  // namespace WindowsNames

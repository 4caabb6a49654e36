#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#include "tests/windowsnames/FakeDirectory.h"
#include "windowsnames/AliasAssignment.h"
#include "windowsnames/DirectorySearch.h"

namespace {

using TestSupport::FakeDirectory;
using WindowsNames::AliasAssignment;
using WindowsNames::findFirstMatch;
using WindowsNames::listedBefore;

std::optional<std::string> firstMatch(FakeDirectory& directory, std::string_view pattern) {
  AliasAssignment aliases(directory);
  return findFirstMatch(directory, aliases, pattern);
}

TEST(ListedBeforeTest, ComparesUpperCasedCodeUnitsThenTheUnits) {
  EXPECT_TRUE(listedBefore("A", "b"));
  EXPECT_TRUE(listedBefore("Z", "_"));  // "_" sorts after the letters
  EXPECT_TRUE(listedBefore("Za", "_a"));
  EXPECT_TRUE(listedBefore("A", "a"));  // a tie goes by the raw bytes
  EXPECT_FALSE(listedBefore("a", "A"));
  EXPECT_TRUE(listedBefore("ab", "abc"));
  EXPECT_TRUE(listedBefore("z", "\xC3\xA9"));
  EXPECT_TRUE(
      listedBefore("\xC3\xA9"
                   "a",
                   "\xC3\x89"
                   "b"));                                         // "é" is "É"
  EXPECT_TRUE(listedBefore("\xC3\x89", "\xC3\xA9"));              // a tie goes by the units
  EXPECT_TRUE(listedBefore("\xF0\x9F\x98\x80", "\xEF\xBC\xA1"));  // surrogates before U+FF21
  EXPECT_TRUE(listedBefore("\xFF", "\xEF\xBC\xA1"));              // a stray byte is 0xDC00 plus it
  EXPECT_FALSE(listedBefore("\xEF\xBC\xA1", "\xFF"));
}

struct SearchCase {
  const char* name;
  std::vector<std::string> entries;  // in creation order, which is also the order listed
  bool root;
  const char* pattern;
  std::optional<std::string> first;
};

// Names of one basis, more than a batch of candidates holds; the one listed
// last is the third created, so the only one whose alias is numbered 3.
std::vector<std::string> oneBasisListedLastCreatedThird() {
  std::vector<std::string> names;
  for (int index = 0; index < 600; ++index) names.push_back("shared basis " + std::to_string(1000 + index));
  std::swap(names[2], names.back());
  return names;
}

void PrintTo(const SearchCase& c, std::ostream* out) { *out << c.name; }

class DirectorySearchTest : public testing::TestWithParam<SearchCase> {};

TEST_P(DirectorySearchTest, FindsTheFirstInNtfsOrder) {
  const SearchCase& c = GetParam();
  FakeDirectory directory = FakeDirectory::createdInOrder(c.entries);
  directory.root = c.root;
  EXPECT_EQ(firstMatch(directory, c.pattern), c.first);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DirectorySearchTest,
    testing::Values(SearchCase{"DotFirst", {"a", "b"}, false, "*", "."},
                    SearchCase{"NoDotsInTheRoot", {"b", "a"}, true, "*", "a"},
                    SearchCase{"QuestionMarksDoNotMatchDots", {"ab"}, true, "??", "ab"},
                    // "." and ".." come when the pattern matches "." or the empty name.
                    SearchCase{"QuestionMarkGivesTheDot", {"a"}, false, "?", "."},
                    SearchCase{"QuestionMarkDotGivesTheDot", {"a"}, false, "?.", "."},
                    SearchCase{"ThreeQuestionMarksDotGiveTheDot", {"abc"}, false, "???.", "."},
                    SearchCase{"StarDotGivesTheDot", {"..a"}, false, "*.", "."},
                    SearchCase{"NoDotsWhenTheyDoNotMatch", {"ab"}, false, "a?", "ab"},
                    SearchCase{"CaseFoldedOrder", {"beta", "Alpha", "alpha"}, true, "*a", "Alpha"},
                    SearchCase{"UnicodeCaseFoldedOrder",
                               {"\xC3\xA9"
                                "b",
                                "\xC3\xA9"
                                "a",
                                "\xC3\x89"
                                "a"},
                               true,
                               "*",
                               "\xC3\x89"
                               "a"},
                    SearchCase{"FoundWithoutRegardToUnicodeCase",
                               {"x", "r\xC3\xA9sum\xC3\xA9.txt"},
                               true,
                               "R\xC3\x89SUM\xC3\x89.TXT",
                               "r\xC3\xA9sum\xC3\xA9.txt"},
                    SearchCase{"TrailingDotsAndStarDotStar", {"b.c", "a"}, true, "*.*.", "a"},
                    SearchCase{"UnderscoreAfterLetters", {"_x", "Zx"}, false, "*x", "Zx"},
                    SearchCase{"NoMatch", {"a.txt"}, false, "*.doc", std::nullopt},
                    SearchCase{"MatchedThroughItsAlias", {"My Documents", "Music"}, false, "MYDOCU~1", "My Documents"},
                    SearchCase{"AliasWildcard", {"zeta", "My Documents"}, false, "mydoc*", "My Documents"},
                    SearchCase{
                        "AliasMatchListedFirstWins", {"MYDOCS", "My Documents"}, false, "MYDOC*", "My Documents"},
                    SearchCase{"ExtensionRulesOnAliases", {"report final.text"}, false, "*.tex", "report final.text"},
                    SearchCase{"AliasMatchBeyondTheFirstBatch", oneBasisListedLastCreatedThird(), false, "*~3",
                               "shared basis 1599"}),
    [](const testing::TestParamInfo<SearchCase>& instance) { return std::string(instance.param.name); });

TEST(DirectorySearchTest, UnreadableDirectoryHasNoEntries) {
  FakeDirectory directory = FakeDirectory::createdInOrder({"a"});
  directory.canRead = false;
  EXPECT_EQ(firstMatch(directory, "*"), std::nullopt);
}

// Nine valid 8.3 names take numbers 1 to 9 of a long name's checksum prefix
// (and four more its basis numbers): its alias is numbered 10, with the
// prefix cut to fit.
FakeDirectory aliasNumberedTen(const std::string& longName) {
  using namespace WindowsNames;
  const std::string prefix = checksumPrefix(aliasBasis(longName), aliasChecksum(longName));
  std::vector<std::string> names = {"zzz", "LONGFI~1.TXT", "LONGFI~2.TXT", "LONGFI~3.TXT", "LONGFI~4.TXT"};
  for (int number = 1; number <= 9; ++number) names.push_back(prefix + "~" + std::to_string(number) + ".TXT");
  names.push_back(longName);
  return FakeDirectory::createdInOrder(names);
}

// A search finds it by that alias, with the aliases worked out before or
// afresh.
TEST(DirectorySearchTest, FindsAnAliasNumberedTenOrMore) {
  using namespace WindowsNames;
  const std::string longName = "long file name.txt";
  const std::string prefix = checksumPrefix(aliasBasis(longName), aliasChecksum(longName));
  FakeDirectory directory = aliasNumberedTen(longName);

  const std::string alias = prefix.substr(0, 5) + "~10.TXT";
  AliasAssignment aliases(directory);
  EXPECT_EQ(aliases.aliasOf(longName), alias);
  EXPECT_EQ(findFirstMatch(directory, aliases, "*~10.t?t"), longName);
  EXPECT_EQ(findFirstMatch(directory, aliases, alias), longName);
  EXPECT_EQ(firstMatch(directory, alias), longName);
}

// A name listed before the first match costs further passes only when one
// of its own aliases could match: "z*" could match an alias numbered 10 or
// more, but none of "long file name.txt", which all begin with "LO".
TEST(DirectorySearchTest, PassesAgainOnlyForANameWhoseAliasCouldMatch) {
  FakeDirectory directory = aliasNumberedTen("long file name.txt");
  EXPECT_EQ(firstMatch(directory, "z*"), "zzz");
  EXPECT_EQ(directory.passes, 1);
  directory.passes = 0;
  EXPECT_EQ(firstMatch(directory, "*~10*"), "long file name.txt");
  EXPECT_GT(directory.passes, 1);
  // Any alias could match "*~*" below 10: a crowded prefix costs no count of
  // the numbers from 10, only the passes that work out the alias.
  FakeDirectory crowded = aliasNumberedTen("a long file.txt");
  EXPECT_EQ(firstMatch(crowded, "*~*"), "a long file.txt");
  EXPECT_EQ(crowded.passes, 2);
}

// A name is ruled out by its aliases' start only where none of its aliases,
// of any number, matches; hex digits fit each other, since a base that
// looks like a checksum prefix holds numbers of other names' prefixes.
struct AliasStartCase {
  const char* name;
  const char* longName;
  const char* pattern;
  bool mayBegin;
};

void PrintTo(const AliasStartCase& c, std::ostream* out) { *out << c.name; }

class AliasStartTest : public testing::TestWithParam<AliasStartCase> {};

TEST_P(AliasStartTest, RulesOutOnlyNamesNoAliasOfWhichMatches) {
  using namespace WindowsNames;
  const AliasStartCase& c = GetParam();
  const WildcardPattern pattern = translateWildcards(c.pattern);
  EXPECT_EQ(AliasStart(pattern).mayBegin(c.longName), c.mayBegin);
  if (c.mayBegin) return;
  const AliasBasis basis = aliasBasis(c.longName);
  const std::string prefix = checksumPrefix(basis, aliasChecksum(c.longName));
  for (unsigned number = 1; number <= 4; ++number)
    EXPECT_FALSE(matchesWildcards(pattern, numberedAlias(basis.base, number, basis.extension).text()));
  // The smallest and largest number of each width, where the prefix is cut.
  for (unsigned smallest = 1; smallest < maxAliasNumber; smallest *= 10)
    for (const unsigned number : {smallest, smallest * 10 - 1})
      EXPECT_FALSE(matchesWildcards(pattern, numberedAlias(prefix, number, basis.extension).text())) << number;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AliasStartTest,
    testing::Values(AliasStartCase{"OtherFirstCharacter", "long entry name 5.txt", "d05*", false},
                    AliasStartCase{"OtherSecondCharacter", "long entry name 5.txt", "LX*", false},
                    AliasStartCase{"SameStart", "d05 long", "d05*", true},
                    AliasStartCase{"HexDigitsFitEachOther", "d17 long", "d05*", true},
                    AliasStartCase{"ShortBaseThenChecksumDigits", "a .txt", "A5*", true},
                    AliasStartCase{"ShortBaseThenNoChecksumDigit", "a .txt", "AX*", false},
                    AliasStartCase{"BaseLikeAChecksumPrefix", "a1 a2b.txt", "A2*", true},
                    AliasStartCase{"SixDigitsKeepOneCharacter", "long entry.txt", "L~*", true},
                    AliasStartCase{"SevenDigitsKeepNone", "long entry.txt", "~1*", true},
                    AliasStartCase{"NoLiteralStart", "long entry.txt", "*~1*", true},
                    AliasStartCase{"OneLiteralThenAny", "long entry.txt", "L?X*", true},
                    AliasStartCase{"LeadingPeriodsAndSpacesSkipped", "..  x y.txt", "XY*", true},
                    AliasStartCase{"PeriodsOfTheBaseDropped", "a.x.c.txt", "AY*", false},
                    AliasStartCase{"NoAliasBeginsWithAPeriod", "long entry.txt", ".L*", false}),
    [](const testing::TestParamInfo<AliasStartCase>& instance) { return std::string(instance.param.name); });

}  // namespace

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/windowsnames/AliasSimulation.h"
#include "tests/windowsnames/FakeDirectory.h"
#include "windowsnames/AliasAssignment.h"
#include "windowsnames/ShortName.h"

namespace {

using TestSupport::FakeDirectory;
using WindowsNames::AliasAssignment;
using WindowsNames::asciiUpper;
using WindowsNames::isShortName;

std::string aliasOf(FakeDirectory& directory, const std::string& name) {
  AliasAssignment aliases(directory);
  return aliases.aliasOf(name).value_or("<none>");
}

// As large as a directory where checksum prefixes crowd by chance.
constexpr std::uint64_t largeDirectory = std::uint64_t{1} << 30;

// Each pair of characters adds the same to the checksum: the names `base`
// + `pairs` pairs + ".txt" share one.
std::vector<std::string> sharingAChecksum(const std::string& base, int pairs) {
  std::vector<std::string> names;
  for (int bits = 0; bits < 1 << pairs; ++bits) {
    std::string name = base;
    for (int pair = 0; pair < pairs; ++pair) name += (bits >> pair & 1) != 0 ? "c5" : "bZ";
    names.push_back(name + ".txt");
  }
  return names;
}

TEST(AliasAssignmentTest, NumbersFollowCreationNotListingOrder) {
  FakeDirectory directory =
      FakeDirectory::createdInOrder({"report 3.txt", "report 1.txt", "report 5.txt", "report 2.txt", "report 4.txt"});
  EXPECT_EQ(aliasOf(directory, "report 3.txt"), "REPORT~1.TXT");
  EXPECT_EQ(aliasOf(directory, "report 1.txt"), "REPORT~2.TXT");
  EXPECT_EQ(aliasOf(directory, "report 5.txt"), "REPORT~3.TXT");
  EXPECT_EQ(aliasOf(directory, "report 2.txt"), "REPORT~4.TXT");
  const std::string fifth = aliasOf(directory, "report 4.txt");
  EXPECT_TRUE(std::regex_match(fifth, std::regex("RE[0-9A-F]{4}~1\\.TXT"))) << fifth;
}

// An alias rests on the aliases of the entries created before it that could
// hold its numbers, and on nothing else of the directory.
TEST(AliasAssignmentTest, NamesWorkedOutAreThoseAnAnswerRestsOn) {
  FakeDirectory directory =
      FakeDirectory::createdInOrder({"report 3.txt", "other name.txt", "report 1.txt", "report 5.txt"});
  AliasAssignment aliases(directory);
  EXPECT_TRUE(aliases.namesWorkedOut().empty());
  EXPECT_EQ(aliases.aliasOf("report 5.txt"), "REPORT~3.TXT");
  EXPECT_EQ(aliases.namesWorkedOut(), (std::vector<std::string>{"report 1.txt", "report 3.txt", "report 5.txt"}));
}

TEST(AliasAssignmentTest, ValidShortNamesTakeTheirNumbersWhateverTheirAge) {
  FakeDirectory directory = FakeDirectory::createdInOrder({"report one.txt", "report~1.txt", "REPORT~3.TXT"});
  EXPECT_EQ(aliasOf(directory, "report one.txt"), "REPORT~2.TXT");
}

// Aliases Windows gave, for the same entries made in the same order.
TEST(AliasAssignmentTest, ChecksumFormAsWindowsMakesIt) {
  FakeDirectory directory = FakeDirectory::createdInOrder(
      {"SomeStuff1.aspx", "SomeStuff2.aspx", "SomeStuff3.aspx", "SomeStuff4.aspx", "SomeStuff.aspx", "a.a.a"});
  EXPECT_EQ(aliasOf(directory, "SomeStuff4.aspx"), "SOMEST~4.ASP");
  EXPECT_EQ(aliasOf(directory, "SomeStuff.aspx"), "SOBC84~1.ASP");
  EXPECT_EQ(aliasOf(directory, "a.a.a"), "AA6BF5~1.A");  // a base of two characters or fewer
}

TEST(AliasAssignmentTest, BaseWithNothingLeftIsTheChecksumAlone) {
  FakeDirectory directory = FakeDirectory::createdInOrder({"\xC3\xA9\xC3\xA9.txt"});
  const std::string alias = aliasOf(directory, "\xC3\xA9\xC3\xA9.txt");
  EXPECT_TRUE(std::regex_match(alias, std::regex("[0-9A-F]{4}~1\\.TXT"))) << alias;
}

TEST(AliasAssignmentTest, ChecksumFormsClimbPastEachOther) {
  // Four short names fill 1 to 4 of the basis; the long names then share one
  // checksum prefix only by chance, so look at their shape and uniqueness.
  FakeDirectory directory = FakeDirectory::createdInOrder(
      {"LONGNA~1", "LONGNA~2", "LONGNA~3", "LONGNA~4", "long name a", "long name b", "long name c"});
  std::set<std::string> seen;
  for (const char* name : {"long name a", "long name b", "long name c"}) {
    const std::string alias = aliasOf(directory, name);
    EXPECT_TRUE(std::regex_match(alias, std::regex("LO[0-9A-F]{4}~1"))) << alias;
    EXPECT_TRUE(seen.insert(alias).second) << alias;
  }
}

// These names share one checksum: past ~9 their prefix is cut by a
// character, and the aliases below and above the cut are worked out in one
// pass, once four earlier members of the basis have taken its numbers.
TEST(AliasAssignmentTest, CrowdedChecksumPrefixNumbersPastTheCutInOnePass) {
  std::vector<std::string> names{"long shared prefix 1.txt", "long shared prefix 2.txt", "long shared prefix 3.txt",
                                 "long shared prefix 4.txt"};
  for (const std::string& name : sharingAChecksum("long shared prefix ", 4)) names.push_back(name);
  FakeDirectory directory = FakeDirectory::createdInOrder(names);
  directory.size = largeDirectory;
  const std::string prefix =
      WindowsNames::checksumPrefix(WindowsNames::aliasBasis(names[4]), WindowsNames::aliasChecksum(names[4]));
  for (unsigned number = 1; number <= 16; ++number) {
    directory.passes = 0;
    EXPECT_EQ(aliasOf(directory, names[3 + number]), WindowsNames::numberedAlias(prefix, number, "TXT").text());
    EXPECT_EQ(directory.passes, 1) << names[3 + number];
  }
}

// Two crowds whose checksum prefixes differ but cut to the same five
// characters, as numbers from 10 cut them: their members number past 9 in
// one group, each crowd in its own order.
std::vector<std::string> twoCrowdsSharingTheCut() {
  const std::vector<std::string> first = sharingAChecksum("long shared prefix ", 4);
  const auto cut = [](const std::string& name) {
    return WindowsNames::checksumPrefix(WindowsNames::aliasBasis(name), WindowsNames::aliasChecksum(name));
  };
  for (int number = 0;; ++number) {
    const std::vector<std::string> second = sharingAChecksum("long shared prefix " + std::to_string(number), 4);
    if (cut(second[0]) == cut(first[0]) || cut(second[0]).substr(0, 5) != cut(first[0]).substr(0, 5)) continue;
    std::vector<std::string> names;  // created in turn
    for (std::size_t at = 0; at < first.size(); ++at) names.insert(names.end(), {first[at], second[at]});
    return names;
  }
}

// Crowds of one checksum, listed in the reverse of their creation order,
// number their checksum forms past the cuts of the prefix (~10, ~100) as
// the plain simulation does, whichever order they are asked in and whether
// or not the directory is large enough for the crowding to be gathered up
// front.
struct CrowdCase {
  const char* name;
  std::vector<std::string> names;  // in creation order
  std::uint64_t reportedSize;
  bool askedLatestFirst;
};

class CrowdedPrefixTest : public testing::TestWithParam<CrowdCase> {};

TEST_P(CrowdedPrefixTest, NumbersAsTheSimulation) {
  std::vector<std::string> names = GetParam().names;
  FakeDirectory directory = FakeDirectory::createdInOrder(names);
  const std::map<std::string, std::string> expected = TestSupport::simulateAliases(directory);
  std::reverse(directory.entries.begin(), directory.entries.end());
  directory.size = GetParam().reportedSize;
  if (GetParam().askedLatestFirst) std::reverse(names.begin(), names.end());
  AliasAssignment aliases(directory);
  for (const std::string& name : names) EXPECT_EQ(aliases.aliasOf(name), expected.at(name)) << name;
}

INSTANTIATE_TEST_SUITE_P(
    Orders, CrowdedPrefixTest,
    testing::Values(CrowdCase{"EarliestFirst", sharingAChecksum("long shared prefix ", 8), 0, false},
                    CrowdCase{"LatestFirst", sharingAChecksum("long shared prefix ", 8), 0, true},
                    CrowdCase{"LatestFirstInALargeDirectory", sharingAChecksum("long shared prefix ", 8),
                              largeDirectory, true},
                    CrowdCase{"TwoCrowdsEarliestFirst", twoCrowdsSharingTheCut(), 0, false},
                    CrowdCase{"TwoCrowdsLatestFirstInALargeDirectory", twoCrowdsSharingTheCut(), largeDirectory, true}),
    [](const testing::TestParamInfo<CrowdCase>& instance) { return std::string(instance.param.name); });

TEST(AliasAssignmentTest, AddingAnEntryNeverChangesAnExistingAlias) {
  FakeDirectory directory;
  std::vector<std::string> names;
  std::vector<std::string> aliases;
  for (int i = 0; i < 8; ++i) {
    names.push_back("quarterly report " + std::to_string(i) + ".xlsx");
    directory.add(names.back());
    aliases.push_back(aliasOf(directory, names.back()));
    for (std::size_t earlier = 0; earlier < names.size(); ++earlier)
      EXPECT_EQ(aliasOf(directory, names[earlier]), aliases[earlier]) << names[earlier];
  }
}

TEST(AliasAssignmentTest, NoAliasEqualsAnotherEntrysShortName) {
  // Many names over few bases and extensions, with short names among them
  // that have the shape of aliases.
  FakeDirectory directory;
  const char* stems[] = {"data file", "data", "Data Fil", "da", "d"};
  const char* extensions[] = {".txt", ".TXT", ".text", ""};
  for (int round = 0; round < 6; ++round)
    for (const char* stem : stems)
      for (const char* extension : extensions)
        directory.add(std::string(stem) + " " + std::to_string(round) + extension);
  for (const char* taken : {"DATAFI~2.TXT", "DA~1", "D0~3.TEX", "datafi~1"}) directory.add(taken);

  std::set<std::string> shortNames;
  AliasAssignment aliases(directory);
  for (const auto& entry : directory.entries) {
    const std::string shortName =
        isShortName(entry.name) ? asciiUpper(entry.name) : aliases.aliasOf(entry.name).value();
    EXPECT_TRUE(isShortName(shortName)) << entry.name << " -> " << shortName;
    EXPECT_TRUE(shortNames.insert(shortName).second) << entry.name << " -> " << shortName;
  }
}

TEST(AliasAssignmentTest, FindsTheEntryHoldingAnAliasWithoutRegardToCase) {
  FakeDirectory directory = FakeDirectory::createdInOrder({"My Documents", "My Downloads", "My Music"});
  AliasAssignment aliases(directory);
  EXPECT_EQ(aliases.entryWithAlias("mydocu~1"), "My Documents");
  EXPECT_EQ(aliases.entryWithAlias("MYDOWN~1"), "My Downloads");
  EXPECT_EQ(aliases.entryWithAlias("MYDOCU~2"), std::nullopt);
  EXPECT_EQ(aliases.entryWithAlias("MYMUSI~1.TXT"), std::nullopt);
}

TEST(AliasAssignmentTest, TextsNotShapedLikeAnAliasNameNoEntry) {
  FakeDirectory directory = FakeDirectory::createdInOrder({"My Documents"});
  AliasAssignment aliases(directory);
  EXPECT_EQ(aliases.entryWithAlias("My Documents"), std::nullopt);
  EXPECT_EQ(aliases.entryWithAlias("MYDOCUMENTS~1"), std::nullopt);
}

TEST(AliasAssignmentTest, LateMembersOfALargeBasisTakeTheChecksumForm) {
  FakeDirectory directory;
  for (int i = 0; i < 2000; ++i) directory.add("shared prefix " + std::to_string(i) + ".log");
  AliasAssignment aliases(directory);
  EXPECT_EQ(aliases.aliasOf("shared prefix 2.log"), "SHARED~3.LOG");
  const std::string late = aliases.aliasOf("shared prefix 1999.log").value();
  EXPECT_TRUE(std::regex_match(late, std::regex("SH[0-9A-F]{4}~[1-9]\\.LOG"))) << late;
}

TEST(AliasAssignmentTest, EntriesGoneSinceTheyWereListedAreLeftOut) {
  FakeDirectory directory = FakeDirectory::createdInOrder({"report one.txt", "report two.txt"});
  directory.vanished.push_back("report one.txt");
  EXPECT_EQ(aliasOf(directory, "report two.txt"), "REPORT~1.TXT");
  EXPECT_EQ(aliasOf(directory, "report one.txt"), "<none>");
}

TEST(AliasAssignmentTest, UnreadableDirectoryGivesNoAlias) {
  FakeDirectory directory = FakeDirectory::createdInOrder({"My Documents"});
  directory.canRead = false;
  EXPECT_EQ(aliasOf(directory, "My Documents"), "<none>");
}

}  // namespace

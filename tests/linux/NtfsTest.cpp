// The built tool on an NTFS volume read through ntfs-3g, whose entries hold
// DOS names where Windows would have given them: the answers are those the
// disk holds, not the rule's.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tests/Placeholders.h"
#include "tests/linux/NtfsVolume.h"
#include "tests/linux/TestTree.h"
#include "tests/windowsnames/FakeDirectory.h"
#include "windowsnames/AliasAssignment.h"
#include "windowsnames/DirectorySearch.h"

namespace {

using namespace TestSupport;

struct NtfsCase {
  const char* name;
  std::string argument;  // "{T}" stands for the volume's root
  std::optional<std::string> result;
  std::string standardError = {};  // a failed run's line, "{T}" as above
};

void PrintTo(const NtfsCase& c, std::ostream* out) { *out << c.name; }

class NtfsConversionTest : public testing::TestWithParam<NtfsCase> {
 protected:
  void SetUp() override {
    if (const std::optional<std::string> reason = NtfsVolume::whyNotAvailable()) GTEST_SKIP() << *reason;
    volume.emplace(tree / "volume.img", tree.makeDirectory("NTFS"));
    const NtfsVolume& v = *volume;
    // Made from Linux: no DOS name.
    makeFile(v / "Program Files/report final.txt");
    v.setDosName("Program Files/report final.txt", "REPORT~1.TXT");
    // Numbers the rule cannot know: ~5, and a hole left by a deleted sibling
    // ("data dir 2", once DATADI~2) that a later entry took.
    makeFile(v / "long folder name/FIVE.TXT");
    v.setDosName("long folder name", "LONGFO~5");
    makeDirectories(v / "data dir 1");
    makeDirectories(v / "data dir 3");
    makeFile(v / "data dir 4/FOUR.TXT");
    v.setDosName("data dir 1", "DATADI~1");
    v.setDosName("data dir 3", "DATADI~3");
    v.setDosName("data dir 4", "DATADI~2");
    makeFile(v / "ABC.TXT");
    makeFile(v / "readme.txt");
    // Hard links: without DOS names, as Linux makes them; and of a file that
    // had one, which ntfs-3g then cannot tell (EMLINK), so the rule answers
    // unless its alias is another entry's DOS name.
    makeFile(v / "shared file.txt");
    link("shared file.txt", "shared link.txt");
    makeFile(v / "linked file.txt");
    makeFile(v / "linked note.txt");
    v.setDosName("linked file.txt", "LINKED~3.TXT");
    v.setDosName("linked note.txt", "LINKED~1.TXT");
    link("linked file.txt", "link of it.txt");
    // DOS names that no Windows would store, which ntfs-3g takes: a damaged
    // or hostile disk.
    makeFile(v / "hostile/spaced dir/report.txt");
    makeFile(v / "hostile/nine chars dir/report.txt");
    v.setDosName("hostile/spaced dir", "A B");
    v.setDosName("hostile/nine chars dir", "ABCDEFGHI");
  }

  void link(const std::string& from, const std::string& to) const {
    checkSystemCall(::link((*volume / from).c_str(), (*volume / to).c_str()) == 0, "link " + to);
  }

  TempTree tree;
  std::optional<NtfsVolume> volume;  // unmounted before the tree goes
};

// Or, where the disk holds something that is no short name, the run fails
// naming the entry, rather than answer from it or from the rule.
TEST_P(NtfsConversionTest, AnswersWithTheStoredNames) {
  const NtfsCase& c = GetParam();
  const RunOutcome run = runFresh({substituteTree(c.argument, volume->path())});
  const std::optional<std::string> expected =
      c.result ? std::optional(substituteTree(*c.result, volume->path())) : std::nullopt;
  EXPECT_EQ(run.result, expected);
  EXPECT_EQ(run.exitStatus, c.result ? 0 : 1);
  EXPECT_EQ(run.standardError, substituteTree(c.standardError, volume->path()));
  EXPECT_FALSE(run.workFile);
}

const std::string noValidShortName = ": the disk holds no valid short name for it\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, NtfsConversionTest,
    testing::Values(NtfsCase{"DosNameUnderADirectoryWithout", "{T}/Program Files/report final.txt",
                             "{T}/Program Files/REPORT~1.TXT"},
                    NtfsCase{"FoundWithoutCaseSpeltAsOnDisk", "{T}/program files/REPORT FINAL.TXT",
                             "{T}/Program Files/REPORT~1.TXT"},
                    NtfsCase{"NoDosNameNoAlias", "{T}/PROGRA~1", "bAd"},
                    NtfsCase{"DosNameFromFiveOn", "{T}/long folder name/FIVE.TXT", "{T}/LONGFO~5/FIVE.TXT"},
                    NtfsCase{"DosNameTypedBack", "{T}/longfo~5/five.txt", "{T}/longfo~5/five.txt"},
                    NtfsCase{"HoleLeftByADeletedSibling", "{T}/data dir 4/FOUR.TXT", "{T}/DATADI~2/FOUR.TXT"},
                    NtfsCase{"NumberBeyondTheHole", "{T}/data dir 3", "{T}/DATADI~3"},
                    NtfsCase{"HoleTypedBack", "{T}/datadi~2/FOUR.TXT", "{T}/datadi~2/FOUR.TXT"},
                    NtfsCase{"WildcardOnlyThroughADosName", "{T}/*~5/FIVE.TXT", "{T}/LONGFO~5/FIVE.TXT"},
                    NtfsCase{"WildcardThroughTheHole", "{T}/DATADI~2*/FOUR.TXT", "{T}/DATADI~2/FOUR.TXT"},
                    NtfsCase{"WildcardNotThroughAMissingAlias", "{T}/PROGRA~?", "bAd"},
                    NtfsCase{"ValidShortNamesAsTyped", "{T}/abc.txt", "{T}/abc.txt"},
                    NtfsCase{"LowerCaseValidShortName", "{T}/readme.txt", "{T}/readme.txt"},
                    NtfsCase{"NoDotsInTheVolumeRoot", "{T}/*", "{T}/ABC.TXT"},
                    NtfsCase{"DotsInADirectory", "{T}/data dir 1/*", "{T}/DATADI~1/."},
                    NtfsCase{"HardLinksWithoutDosNames", "{T}/shared link.txt", "{T}/shared link.txt"},
                    NtfsCase{"HardLinkOfADosNamedFileByRule", "{T}/link of it.txt", "{T}/LINKOF~1.TXT"},
                    NtfsCase{"RuleAliasTypedBack", "{T}/linkof~1.txt", "{T}/linkof~1.txt"},
                    NtfsCase{"RuleAliasTakenOnDiskLongNameStands", "{T}/linked file.txt", "{T}/linked file.txt"},
                    NtfsCase{"SpaceInADosName", "{T}/hostile/spaced dir/report.txt", std::nullopt,
                             "getvek: cannot search {T}/hostile/spaced dir" + noValidShortName},
                    NtfsCase{"NineCharacterDosName", "{T}/hostile/nine chars dir", std::nullopt,
                             "getvek: cannot search {T}/hostile/nine chars dir" + noValidShortName},
                    // A search rests on every short name listed before its match.
                    NtfsCase{"DamagedListedBeforeAMatch", "{T}/hostile/spaced*/report.txt", std::nullopt,
                             "getvek: cannot search {T}/hostile/nine chars dir" + noValidShortName},
                    NtfsCase{"DamagedReadInASearch", "{T}/hostile/*~1", std::nullopt,
                             "getvek: cannot search {T}/hostile/nine chars dir" + noValidShortName}),
    [](const testing::TestParamInfo<NtfsCase>& instance) { return std::string(instance.param.name); });

// Directories whose index outgrows its file record, their entries made in a
// shuffled order: ntfs-3g hands them over in the order their index blocks
// are stored, yet a search answers with the first in NTFS's collation, the
// entry the rule's search takes for the same names and short names.
struct ShuffledDirectory {
  const char* name;
  const char* format;  // of entry N
  int entries;
  bool dosNames;  // each the alias Windows gives it in creation order
};

const ShuffledDirectory shuffledDirectories[] = {{"forty", "Project plan %03d.docx", 40, false},
                                                 {"sixty4", "Project plan %03d.docx", 64, false},
                                                 {"hundreds", "Quarterly report %03d.xlsx", 300, true}};

std::vector<std::string> creationOrder(const ShuffledDirectory& directory) {
  std::vector<std::string> names;
  for (int number = 0; number < directory.entries; ++number) {
    char name[64];
    std::snprintf(name, sizeof name, directory.format, number);
    names.emplace_back(name);
  }
  std::shuffle(names.begin(), names.end(), std::mt19937(24));
  return names;
}

// What the rule's search answers for the same names made in the same order:
// the alias of its match where the disk holds aliases, else the long name.
std::string emulationAnswer(const ShuffledDirectory& directory, const std::string& pattern) {
  TestSupport::FakeDirectory fake = TestSupport::FakeDirectory::createdInOrder(creationOrder(directory));
  WindowsNames::AliasAssignment aliases(fake);
  const std::optional<std::string> first = WindowsNames::findFirstMatch(fake, aliases, pattern);
  if (!first) return "bAd";
  const std::optional<std::string> alias = directory.dosNames ? aliases.aliasOf(*first) : first;
  return std::string("{T}/") + directory.name + "/" + alias.value_or("no alias");
}

struct OrderCase {
  const char* name;
  const ShuffledDirectory& directory;
  std::string pattern;
  std::string result;  // "{T}" stands for the volume's root
};

void PrintTo(const OrderCase& c, std::ostream* out) { *out << c.name; }

// One volume for every case: mounting is slow.
class NtfsOrderTest : public testing::TestWithParam<OrderCase> {
 protected:
  static void SetUpTestSuite() {
    if (NtfsVolume::whyNotAvailable()) return;
    tree = new TempTree();
    volume = new NtfsVolume(*tree / "volume.img", tree->makeDirectory("NTFS"));
    for (const ShuffledDirectory& directory : shuffledDirectories) {
      const std::vector<std::string> names = creationOrder(directory);
      TestSupport::FakeDirectory fake = TestSupport::FakeDirectory::createdInOrder(names);
      WindowsNames::AliasAssignment aliases(fake);
      for (const std::string& name : names) {
        const std::string entry = std::string(directory.name) + "/" + name;
        makeFile(*volume / entry);
        if (directory.dosNames) volume->setDosName(entry, aliases.aliasOf(name).value());
      }
    }
  }
  static void TearDownTestSuite() {
    delete volume;
    delete tree;
  }
  void SetUp() override {
    if (const std::optional<std::string> reason = NtfsVolume::whyNotAvailable()) GTEST_SKIP() << *reason;
    ASSERT_NE(volume, nullptr) << "the volume could not be made";
  }

  static TempTree* tree;
  static NtfsVolume* volume;  // unmounted before the tree goes
};
TempTree* NtfsOrderTest::tree = nullptr;
NtfsVolume* NtfsOrderTest::volume = nullptr;

TEST_P(NtfsOrderTest, FirstMatchInCollationOrder) {
  const OrderCase& c = GetParam();
  EXPECT_EQ(emulationAnswer(c.directory, c.pattern), c.result);
  const RunOutcome run = runFresh({*volume / c.directory.name + "/" + c.pattern});
  EXPECT_EQ(run.result, substituteTree(c.result, volume->path()));
  EXPECT_EQ(run.exitStatus, 0);
}

const ShuffledDirectory& forty = shuffledDirectories[0];
const ShuffledDirectory& sixtyFour = shuffledDirectories[1];
const ShuffledDirectory& hundreds = shuffledDirectories[2];

INSTANTIATE_TEST_SUITE_P(
    Cases, NtfsOrderTest,
    testing::Values(OrderCase{"FortyByLongName", forty, "Project*", "{T}/forty/Project plan 000.docx"},
                    OrderCase{"FortyByExtension", forty, "*.docx", "{T}/forty/Project plan 000.docx"},
                    OrderCase{"FortyEndingInNine", forty, "*9.docx", "{T}/forty/Project plan 009.docx"},
                    OrderCase{"SixtyFourByLongName", sixtyFour, "Project*", "{T}/sixty4/Project plan 000.docx"},
                    OrderCase{"SixtyFourQuestionMark", sixtyFour, "project plan 05?.docx",
                              "{T}/sixty4/Project plan 050.docx"},
                    OrderCase{"HundredsByLongName", hundreds, "Quarterly*", "{T}/hundreds/QU6006~1.XLS"},
                    OrderCase{"HundredsByExtension", hundreds, "*.xlsx", "{T}/hundreds/QU6006~1.XLS"},
                    OrderCase{"HundredsOnlyThroughDosNames", hundreds, "QU*~1.XLS", "{T}/hundreds/QU6006~1.XLS"},
                    OrderCase{"HundredsAmongDosNamesOnly", hundreds, "QUARTE~?.XLS", "{T}/hundreds/QUARTE~3.XLS"},
                    OrderCase{"HundredsNoneFromFive", hundreds, "QUARTE~5*", "bAd"}),
    [](const testing::TestParamInfo<OrderCase>& instance) { return std::string(instance.param.name); });

}  // namespace

// The choice of a directory's short-name source, and lookups and searches
// with stored names, on real directories whose kernel answers are made up:
// a stand-in says which file system they are on and what names it holds.
#include <errno.h>
#include <gtest/gtest.h>
#include <linux/magic.h>

#include <cstring>
#include <map>
#include <variant>
#include <vector>

#include "platform/linux/walk/StoredNames.h"
#include "tests/linux/Files.h"

namespace {

using namespace Platform::Linux;
using TestSupport::TempTree;

class FakeNameCalls : public NameCalls {
 public:
  std::int64_t type = FUSE_SUPER_MAGIC;  // or -errno
  ssize_t attributeFlags = 4;  // what system.ntfs_attrib answers: a length, or -errno
  // system.ntfs_dos_name of an entry: its value, or its errno; ENODATA for
  // any other.
  std::map<std::string, std::variant<std::string, int>> dosNames;
  // Short name and long name of each FAT entry, in directory order; nothing
  // when the ioctl fails with fatError.
  std::optional<std::vector<std::pair<std::string, std::string>>> fatRecords;
  int fatError = EACCES;
  std::uint64_t inode = 1000;
  mutable int dosNameReads = 0;

  std::int64_t fileSystemType(int) const override { return type; }
  std::optional<std::uint64_t> inodeNumber(int) const override { return inode; }
  FatDisplay fatDisplay(int) const override { return {FatDisplay::Case::asStored, false}; }

  ssize_t attribute(int, std::string_view name, const char* attribute, char* value, std::size_t) const override {
    if (name.empty()) return std::strcmp(attribute, "system.ntfs_attrib") == 0 ? attributeFlags : -ENODATA;
    ++dosNameReads;
    const auto found = dosNames.find(std::string(name));
    if (found == dosNames.end()) return -ENODATA;
    if (const int* error = std::get_if<int>(&found->second)) return -*error;
    const std::string& held = std::get<std::string>(found->second);
    std::memcpy(value, held.data(), held.size());
    return static_cast<ssize_t>(held.size());
  }

  int forEachFatRecord(int, const std::function<bool(const FatRecordPair&)>& visit) const override {
    if (!fatRecords) return fatError;
    for (const auto& [shortName, longName] : *fatRecords) {
      FatRecordPair records{};
      std::memcpy(records[0].d_name, shortName.c_str(), shortName.size() + 1);
      records[0].d_reclen = static_cast<unsigned short>(shortName.size());
      std::memcpy(records[1].d_name, longName.c_str(), longName.size() + 1);
      records[1].d_reclen = static_cast<unsigned short>(longName.size());
      if (!visit(records)) break;
    }
    return 0;
  }
};

struct SourceCase {
  const char* name;
  std::int64_t type;
  ssize_t attributeFlags;
  NameSource source;
  int error = 0;
};

class NameSourceTest : public testing::TestWithParam<SourceCase> {};

// A refusal is read as for a directory the user may not read; a failure
// that tells nothing leaves the source unknown, with its errno.
TEST_P(NameSourceTest, TakesOnlyAPositiveAnswer) {
  FakeNameCalls calls;
  calls.type = GetParam().type;
  calls.attributeFlags = GetParam().attributeFlags;
  int error = 0;
  EXPECT_EQ(nameSourceOf(0, calls, &error), GetParam().source);
  EXPECT_EQ(error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    FileSystems, NameSourceTest,
    testing::Values(SourceCase{"Ext4", EXT4_SUPER_MAGIC, 4, NameSource::rule},
                    SourceCase{"Ntfs3g", FUSE_SUPER_MAGIC, 4, NameSource::ntfs3g},
                    SourceCase{"OtherFuse", FUSE_SUPER_MAGIC, -EOPNOTSUPP, NameSource::rule},
                    SourceCase{"FuseWithoutTheAttribute", FUSE_SUPER_MAGIC, -ENODATA, NameSource::rule},
                    SourceCase{"FuseWithAnotherValue", FUSE_SUPER_MAGIC, 2, NameSource::rule},
                    SourceCase{"Fat", MSDOS_SUPER_MAGIC, -ENOTTY, NameSource::fat},
                    SourceCase{"StatfsFails", -EIO, 4, NameSource::unknown, EIO},
                    SourceCase{"ProbeFails", FUSE_SUPER_MAGIC, -EIO, NameSource::unknown, EIO},
                    SourceCase{"ProbeOutOfMemory", FUSE_SUPER_MAGIC, -ENOMEM, NameSource::unknown, ENOMEM},
                    SourceCase{"DaemonGone", FUSE_SUPER_MAGIC, -ENOTCONN, NameSource::unknown, ENOTCONN},
                    SourceCase{"ProbeRefused", FUSE_SUPER_MAGIC, -EACCES, NameSource::rule},
                    SourceCase{"ProbeNotPermitted", FUSE_SUPER_MAGIC, -EPERM, NameSource::rule}),
    [](const testing::TestParamInfo<SourceCase>& instance) { return std::string(instance.param.name); });

// A directory that ntfs-3g says holds "long file name.txt", "Program Files",
// "ABC.TXT" and "hard link.txt", with DOS names as each case sets them.
class NtfsNamesTest : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"long file name.txt", "Program Files", "ABC.TXT", "hard link.txt"}) tree.makeFile(name);
    int error = 0;
    directory = Directory::openStart(true, error)->openSubdirectory(tree.path().substr(1), error);
    ASSERT_TRUE(directory);
  }

  // The short name, or the entry; a fault as "fault <entry>: <reason>".
  std::optional<std::string> shortNameOf(std::string_view component) {
    return described(lookUpStored(*directory, component, calls), [](const StoredEntry& e) { return e.shortName; });
  }

  std::optional<std::string> firstMatch(std::string_view pattern) {
    return described(findFirstStoredMatch(*directory, pattern, calls), [](const std::string& e) { return e; });
  }

  template <class T, class Show>
  static std::optional<std::string> described(const StoredAnswer<T>& stored, Show show) {
    if (const auto* fault = std::get_if<StoredNameFault>(&stored)) return "fault " + fault->entry + ": " + fault->reason;
    const std::optional<T>& answer = std::get<0>(stored);
    EXPECT_TRUE(answer) << "left to the rule";
    if (!answer || !*answer) return std::nullopt;
    return show(**answer);
  }

  TempTree tree;
  std::optional<Directory> directory;
  FakeNameCalls calls;
};

const std::string damaged = "fault long file name.txt: the disk holds no valid short name for it";
const std::string ioError = "Input/output error";

struct DosNameCase {
  const char* name;
  const char* component;
  std::variant<std::string, int> dosName;  // of "long file name.txt"
  std::optional<std::string> shortName;
  int reads;
};

class NtfsLookupTest : public NtfsNamesTest, public testing::WithParamInterface<DosNameCase> {};

TEST_P(NtfsLookupTest, AnswersWithWhatTheDiskHolds) {
  calls.dosNames["long file name.txt"] = GetParam().dosName;
  EXPECT_EQ(shortNameOf(GetParam().component), GetParam().shortName);
  EXPECT_EQ(calls.dosNameReads, GetParam().reads);
}

INSTANTIATE_TEST_SUITE_P(
    DosNames, NtfsLookupTest,
    testing::Values(DosNameCase{"Held", "long file name.txt", "LONGFI~5.TXT", "LONGFI~5.TXT", 1},
                    DosNameCase{"HeldFoundWithoutCase", "LONG FILE NAME.TXT", "LONGFI~5.TXT", "LONGFI~5.TXT", 1},
                    DosNameCase{"NoneTheLongNameStands", "long file name.txt", ENODATA, "long file name.txt", 1},
                    DosNameCase{"SeveralHardLinksTheRule", "long file name.txt", EMLINK, "LONGFI~1.TXT", 1},
                    // Refused to this user, and not a mount's root: the disk
                    // may hold another name than the rule's.
                    DosNameCase{"NotPermittedNoShortForm", "long file name.txt", EPERM, std::nullopt, 1},
                    DosNameCase{"RefusedNoShortForm", "long file name.txt", EACCES, std::nullopt, 1},
                    DosNameCase{"ReadFails", "long file name.txt", EIO, "fault long file name.txt: " + ioError, 1},
                    DosNameCase{"NoMemory", "long file name.txt", ENOMEM,
                                "fault long file name.txt: Cannot allocate memory", 1},
                    DosNameCase{"LongerThanAnyShortName", "long file name.txt", ERANGE, damaged, 1},
                    DosNameCase{"DotDot", "long file name.txt", "..", damaged, 1},
                    DosNameCase{"Dot", "long file name.txt", ".", damaged, 1},
                    DosNameCase{"Slash", "long file name.txt", "A/B", damaged, 1},
                    DosNameCase{"UpAndOver", "long file name.txt", "../X", damaged, 1},
                    DosNameCase{"Star", "long file name.txt", "*", damaged, 1},
                    DosNameCase{"Space", "long file name.txt", "A B", damaged, 1},
                    DosNameCase{"Empty", "long file name.txt", "", damaged, 1},
                    DosNameCase{"NulInside", "long file name.txt", std::string("A\0B", 3), damaged, 1},
                    DosNameCase{"NineCharacters", "long file name.txt", "LONGFIL~1", damaged, 1},
                    DosNameCase{"OemLetter", "long file name.txt", "CAF\xC3\x89~1.TXT", "CAF\xC3\x89~1.TXT", 1},
                    DosNameCase{"ValidShortNameNotRead", "abc.txt", "LONGFI~5.TXT", "abc.txt", 0},
                    DosNameCase{"Missing", "no such file", "LONGFI~5.TXT", std::nullopt, 0}),
    [](const testing::TestParamInfo<DosNameCase>& instance) { return std::string(instance.param.name); });

// Every long name listed before the first match is read once, valid 8.3
// names never, and none at all when no short name can match.
TEST_F(NtfsNamesTest, SearchesReadEachShortNameOnceAtMost) {
  calls.dosNames = {{"long file name.txt", "LONGFI~5.TXT"}, {"hard link.txt", EMLINK}};
  EXPECT_EQ(firstMatch("*~9*"), std::nullopt);
  EXPECT_EQ(calls.dosNameReads, 3);
  EXPECT_EQ(firstMatch("*~5*"), "long file name.txt");
  EXPECT_EQ(firstMatch("PROGRA~?"), std::nullopt);         // it holds none
  EXPECT_EQ(firstMatch("HARDLI~?.TXT"), "hard link.txt");  // unreadable: by rule
  calls.dosNameReads = 0;
  EXPECT_EQ(firstMatch("*.html"), std::nullopt);
  EXPECT_EQ(firstMatch("*"), ".");
  EXPECT_EQ(calls.dosNameReads, 0);
}

// A search stops at a name the disk should not hold, or one refused to this
// user, before a later entry or the rule could answer in its place; a
// failure to tell the directory's source is the directory's fault.
TEST_F(NtfsNamesTest, SearchesStopWhereTheDiskCannotAnswer) {
  calls.dosNames = {{"long file name.txt", ".."}};
  EXPECT_EQ(firstMatch("*~5*"), damaged);
  calls.dosNames = {{"long file name.txt", EACCES}};
  EXPECT_EQ(firstMatch("*~5*"), std::nullopt);
  calls.dosNames = {{"long file name.txt", EIO}};
  EXPECT_EQ(firstMatch("*~5*"), "fault long file name.txt: " + ioError);
  calls.attributeFlags = -EIO;
  EXPECT_EQ(firstMatch("*"), "fault : " + ioError);
  EXPECT_EQ(shortNameOf("ABC.TXT"), "fault : " + ioError);
}

// ntfs-3g lists in whatever order its index blocks are stored: the match
// that collates first wins, one found through its DOS name at its long
// name's place, and no DOS name of an entry collating after the best match
// found is read, whatever the listing order.
TEST_F(NtfsNamesTest, SearchesTakeTheFirstInCollationOrder) {
  calls.dosNames = {{"long file name.txt", "PLONGF~1.TXT"}, {"Program Files", "HPROGR~1"}};
  EXPECT_EQ(firstMatch("H*"), "hard link.txt");
  EXPECT_EQ(calls.dosNameReads, 0);
  EXPECT_EQ(firstMatch("P*"), "long file name.txt");
  EXPECT_EQ(calls.dosNameReads, 2);  // "hard link.txt" and "long file name.txt"
}

TEST_F(NtfsNamesTest, NoDotsInTheVolumeRoot) {
  calls.inode = 5;
  EXPECT_NE(firstMatch("*"), ".");
}

// FAT: the records, in this order, for a directory holding the same names.
class FatNamesTest : public NtfsNamesTest {
 protected:
  void SetUp() override {
    NtfsNamesTest::SetUp();
    calls.type = MSDOS_SUPER_MAGIC;
    calls.fatRecords = {{{"LONGFI~2.TXT", "long file name.txt"},
                         {"PROGRA~1", "Program Files"},
                         {"ABC.TXT", ""},
                         {"HARD?~1.TXT", "hard link.txt"}}};
  }
};

TEST_F(FatNamesTest, AnswersWithTheRecords) {
  EXPECT_EQ(shortNameOf("long file name.txt"), "LONGFI~2.TXT");
  EXPECT_EQ(shortNameOf("hard link.txt"), "HARDLI~1.TXT");  // "?": by rule
  EXPECT_EQ(shortNameOf("progra~1"), "progra~1");
  EXPECT_EQ(firstMatch("*~2*"), "long file name.txt");
  EXPECT_EQ(firstMatch("*~1*"), "Program Files");
  EXPECT_EQ(firstMatch("HARDLI~1*"), "hard link.txt");
}

// Neither answered from nor by the rule: the entry is named, and its
// neighbours still answer.
TEST_F(FatNamesTest, RecordsThatHoldNoShortNameAreFaults) {
  for (const char* held : {".", "..", "A/B", "../X", "*", "A B", "ABCDEFGHI"}) {
    SCOPED_TRACE(held);
    calls.fatRecords->front().first = held;
    EXPECT_EQ(shortNameOf("long file name.txt"), damaged);
    EXPECT_EQ(firstMatch("*~2*"), damaged);
    EXPECT_EQ(shortNameOf("Program Files"), "PROGRA~1");
  }
  calls.fatRecords->front() = {"LONGFI~2.TXT", "../long file name.txt"};
  EXPECT_EQ(firstMatch("*.txt"), "fault ../long file name.txt: the disk holds no valid short name for it");
}

// Records this user may not read, or cut short, leave the rule, which cannot
// list them either; a failure that tells nothing is the directory's fault.
TEST_F(FatNamesTest, LeftToTheRuleOnlyWhereTheRecordsTellNothing) {
  const auto leftToTheRule = [](const auto& stored) {
    const auto* answer = std::get_if<0>(&stored);
    return answer && !*answer;
  };
  calls.fatRecords.reset();
  EXPECT_TRUE(leftToTheRule(lookUpStored(*directory, "long file name.txt", calls)));
  EXPECT_TRUE(leftToTheRule(findFirstStoredMatch(*directory, "*~2*", calls)));
  calls.fatError = EIO;
  EXPECT_EQ(shortNameOf("long file name.txt"), "fault : " + ioError);
  calls.fatRecords = {{{"ABCDEF~1", std::string(255, 'a')}}};
  EXPECT_TRUE(leftToTheRule(lookUpStored(*directory, "ABC.TXT", calls)));
}

}  // namespace

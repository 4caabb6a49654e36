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

#include "platform/linux/StoredNames.h"
#include "tests/linux/Files.h"

namespace {

using namespace Platform::Linux;
using TestSupport::TempTree;

class FakeNameCalls : public NameCalls {
 public:
  std::optional<std::int64_t> type = FUSE_SUPER_MAGIC;
  ssize_t attributeFlags = 4;  // what system.ntfs_attrib answers: a length, or -errno
  // system.ntfs_dos_name of an entry: its value, or its errno; ENODATA for
  // any other.
  std::map<std::string, std::variant<std::string, int>> dosNames;
  // Short name and long name of each FAT entry, in directory order; nothing
  // when the ioctl fails.
  std::optional<std::vector<std::pair<std::string, std::string>>> fatRecords;
  std::uint64_t inode = 1000;
  mutable int dosNameReads = 0;

  std::optional<std::int64_t> fileSystemType(int) const override { return type; }
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

  bool forEachFatRecord(int, const std::function<bool(const FatRecordPair&)>& visit) const override {
    if (!fatRecords) return false;
    for (const auto& [shortName, longName] : *fatRecords) {
      FatRecordPair records{};
      std::memcpy(records[0].d_name, shortName.c_str(), shortName.size() + 1);
      records[0].d_reclen = static_cast<unsigned short>(shortName.size());
      std::memcpy(records[1].d_name, longName.c_str(), longName.size() + 1);
      records[1].d_reclen = static_cast<unsigned short>(longName.size());
      if (!visit(records)) break;
    }
    return true;
  }
};

struct SourceCase {
  const char* name;
  std::optional<std::int64_t> type;
  ssize_t attributeFlags;
  NameSource source;
};

class NameSourceTest : public testing::TestWithParam<SourceCase> {};

TEST_P(NameSourceTest, TakesOnlyAPositiveAnswer) {
  FakeNameCalls calls;
  calls.type = GetParam().type;
  calls.attributeFlags = GetParam().attributeFlags;
  EXPECT_EQ(nameSourceOf(0, calls), GetParam().source);
}

INSTANTIATE_TEST_SUITE_P(
    FileSystems, NameSourceTest,
    testing::Values(SourceCase{"Ext4", EXT4_SUPER_MAGIC, 4, NameSource::rule},
                    SourceCase{"Ntfs3g", FUSE_SUPER_MAGIC, 4, NameSource::ntfs3g},
                    SourceCase{"OtherFuse", FUSE_SUPER_MAGIC, -EOPNOTSUPP, NameSource::rule},
                    SourceCase{"FuseWithoutTheAttribute", FUSE_SUPER_MAGIC, -ENODATA, NameSource::rule},
                    SourceCase{"FuseWithAnotherValue", FUSE_SUPER_MAGIC, 2, NameSource::rule},
                    SourceCase{"Fat", MSDOS_SUPER_MAGIC, -ENOTTY, NameSource::fat},
                    SourceCase{"StatfsFails", std::nullopt, 4, NameSource::rule}),
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

  std::optional<std::string> shortNameOf(std::string_view component) {
    const auto stored = lookUpStored(*directory, component, calls);
    EXPECT_TRUE(stored);
    if (!stored || !*stored) return std::nullopt;
    return (*stored)->shortName;
  }

  std::optional<std::string> firstMatch(std::string_view pattern) {
    const auto stored = findFirstStoredMatch(*directory, pattern, calls);
    EXPECT_TRUE(stored);
    return stored ? *stored : std::nullopt;
  }

  TempTree tree;
  std::optional<Directory> directory;
  FakeNameCalls calls;
};

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
                    DosNameCase{"MountRootTheRule", "long file name.txt", EPERM, "LONGFI~1.TXT", 1},
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

TEST_F(FatNamesTest, LeftToTheRuleWhenTheRecordsCannotBeRead) {
  calls.fatRecords.reset();
  EXPECT_FALSE(lookUpStored(*directory, "long file name.txt", calls));
  EXPECT_FALSE(findFirstStoredMatch(*directory, "*~2*", calls));
  calls.fatRecords = {{{"ABCDEF~1", std::string(255, 'a')}}};
  EXPECT_FALSE(lookUpStored(*directory, "ABC.TXT", calls));
}

}  // namespace

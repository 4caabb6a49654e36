#include <gtest/gtest.h>

#include <cstring>

#include "platform/linux/walk/FatRecords.h"

namespace {

using namespace Platform::Linux;
using Case = FatDisplay::Case;
using Kind = DecodedFatRecord::Kind;

// The pair the ioctl fills: the short name, or the only one, first; the long
// name second, with length 0 when there is none.
void fill(__fat_dirent& record, std::string_view name, std::size_t length) {
  std::memcpy(record.d_name, name.data(), name.size());
  record.d_name[name.size()] = '\0';
  record.d_reclen = static_cast<unsigned short>(length);
}

struct RecordCase {
  const char* name;
  std::string shown;
  std::string longName;
  FatDisplay display;
  Kind kind;
  std::string entryName = {};
  std::optional<std::string> shortName = {};
  bool damaged = false;
};

void PrintTo(const RecordCase& c, std::ostream* out) { *out << c.name; }

class FatRecordsTest : public testing::TestWithParam<RecordCase> {};

TEST_P(FatRecordsTest, DecodesAsTheMountShowsThem) {
  const RecordCase& c = GetParam();
  FatRecordPair records{};
  fill(records[0], c.shown, c.shown.size());
  fill(records[1], c.longName, c.longName.size());
  const DecodedFatRecord decoded = decodeFatRecords(records, c.display);
  EXPECT_EQ(decoded.kind, c.kind);
  if (c.kind != Kind::entry) return;
  EXPECT_EQ(decoded.entry.name, c.entryName);
  EXPECT_EQ(decoded.entry.shortName, c.shortName);
  EXPECT_EQ(decoded.entry.damaged, c.damaged);
}

const FatDisplay win95{Case::asStored, false};
const FatDisplay mixed{Case::lowered, false};
const FatDisplay msdos{Case::asciiLowered, true};

INSTANTIATE_TEST_SUITE_P(
    Records, FatRecordsTest,
    testing::Values(
        RecordCase{"LongAndShort", "PROGRA~1", "Program Files", win95, Kind::entry, "Program Files", "PROGRA~1"},
        RecordCase{"ShortOnlyShownLowered", "readme.txt", "", mixed, Kind::entry, "readme.txt", "README.TXT"},
        RecordCase{"OemLetterKept", "CAF\xC3\x89~1.TXT", "caf\xC3\xA9 au lait.txt", mixed, Kind::entry,
                   "caf\xC3\xA9 au lait.txt", "CAF\xC3\x89~1.TXT"},
        // "à" may be lowered from "À" or stored so (code page 437 has no "À").
        RecordCase{"LoweredLetterBeyondAsciiUnknown", "\xC3\xA0", "", mixed, Kind::entry, "\xC3\xA0", std::nullopt},
        RecordCase{"StoredLetterBeyondAsciiKept", "\xC3\xA0", "", win95, Kind::entry, "\xC3\xA0", "\xC3\xA0"},
        RecordCase{"CharsetCouldNotShowIt", "CAF?~1.TXT", "caf\xC3\xA9.txt", win95, Kind::entry, "caf\xC3\xA9.txt",
                   std::nullopt},
        RecordCase{"UniXlateEscape", "CAF:00e9.TXT", "", win95, Kind::entry, "CAF:00e9.TXT", std::nullopt},
        RecordCase{"MsdosHiddenMarkedWithADot", ".secret", "", msdos, Kind::entry, ".secret", "SECRET"},
        RecordCase{"Dot", ".", "", mixed, Kind::dots}, RecordCase{"DotDot", "..", "", mixed, Kind::dots},
        RecordCase{"LongNameCutToItsField", "ABCDEF~1", std::string(255, 'a'), mixed, Kind::cut},
        // What no disk of Windows' holds for a short name, or a long name.
        RecordCase{"DotDotBesideALongName", "..", "x", win95, Kind::entry, "x", std::nullopt, true},
        RecordCase{"DotBesideALongName", ".", "x", mixed, Kind::entry, "x", std::nullopt, true},
        RecordCase{"Slash", "A/B", "", win95, Kind::entry, "A/B", std::nullopt, true},
        RecordCase{"UpAndOver", "../X", "x", win95, Kind::entry, "x", std::nullopt, true},
        RecordCase{"Star", "*", "x", mixed, Kind::entry, "x", std::nullopt, true},
        RecordCase{"Space", "A B", "", win95, Kind::entry, "A B", std::nullopt, true},
        RecordCase{"HiddenDotDot", "...", "", msdos, Kind::entry, "...", std::nullopt, true},
        RecordCase{"SlashInTheLongName", "LONGFI~1", "../long", win95, Kind::entry, "../long", std::nullopt, true}),
    [](const testing::TestParamInfo<RecordCase>& instance) { return std::string(instance.param.name); });

TEST(FatDisplayTest, FollowsTheMountOptions) {
  const auto caseOf = [](std::string_view type, std::string_view options) {
    return fatDisplayOf(type, options).shortNameCase;
  };
  EXPECT_EQ(caseOf("vfat", "rw,fmask=0022,codepage=437,iocharset=utf8,shortname=mixed,errors=remount-ro"),
            Case::lowered);
  EXPECT_EQ(caseOf("vfat", "rw,codepage=850,shortname=win95,utf8"), Case::asStored);
  EXPECT_EQ(caseOf("vfat", "rw,shortname=lower"), Case::lowered);
  EXPECT_EQ(caseOf("msdos", "rw,nocase"), Case::asStored);
  EXPECT_EQ(caseOf("msdos", "rw,dots"), Case::asciiLowered);
  EXPECT_EQ(caseOf("fuse", ""), Case::lowered);
}

TEST(FatDisplayTest, FindsTheMountLineById) {
  const std::string info =
      "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
      "221 22 8:17 / /media/usb rw,nosuid master:2 - vfat /dev/sdb1 rw,codepage=437,shortname=win95\n";
  const std::optional<MountLine> line = mountLineOf(info, 221);
  ASSERT_TRUE(line);
  EXPECT_EQ(line->fileSystemType, "vfat");
  EXPECT_EQ(line->superOptions, "rw,codepage=437,shortname=win95");
  EXPECT_FALSE(mountLineOf(info, 2));
}

}  // namespace

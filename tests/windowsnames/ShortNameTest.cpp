#include <gtest/gtest.h>

#include "windowsnames/ShortName.h"

namespace {

using namespace WindowsNames;

struct ShortNameCase {
  const char* name;
  bool isShort;
};

class IsShortNameTest : public testing::TestWithParam<ShortNameCase> {};

TEST_P(IsShortNameTest, Classifies) { EXPECT_EQ(isShortName(GetParam().name), GetParam().isShort) << GetParam().name; }

INSTANTIATE_TEST_SUITE_P(
    Names, IsShortNameTest,
    testing::Values(ShortNameCase{"README.TXT", true}, ShortNameCase{"readme.txt", true}, ShortNameCase{"A", true},
                    ShortNameCase{"ABCDEFGH.ABC", true}, ShortNameCase{"$%'`-@{}.~!#", true},
                    ShortNameCase{"()&_^", true}, ShortNameCase{"ABCDEFGHI", false}, ShortNameCase{"A.ABCD", false},
                    ShortNameCase{"A.B.C", false}, ShortNameCase{"A.", false}, ShortNameCase{".A", false},
                    ShortNameCase{"", false}, ShortNameCase{"A B", false}, ShortNameCase{"A+B", false},
                    ShortNameCase{"caf\xC3\xA9", false}, ShortNameCase{".", false}, ShortNameCase{"..", false},
                    // DEL is a legal 8.3 character.
                    ShortNameCase{"\x7F", true}, ShortNameCase{"ab\x7F.txt", true}));

struct BasisCase {
  const char* longName;
  const char* base;
  const char* extension;
};

class AliasBasisTest : public testing::TestWithParam<BasisCase> {};

TEST_P(AliasBasisTest, MadeAsNtfsMakesIt) {
  const AliasBasis basis = aliasBasis(GetParam().longName);
  EXPECT_EQ(basis.base, GetParam().base) << GetParam().longName;
  EXPECT_EQ(basis.extension, GetParam().extension) << GetParam().longName;
}

INSTANTIATE_TEST_SUITE_P(
    Names, AliasBasisTest,
    testing::Values(BasisCase{"report final.txt", "REPORT", "TXT"}, BasisCase{"My Documents", "MYDOCU", ""},
                    BasisCase{".bashrc", "BASHRC", ""}, BasisCase{"...x.tar.gz", "XTAR", "GZ"},
                    BasisCase{"a.b.c.d", "ABC", "D"}, BasisCase{"archive.jpeg", "ARCHIV", "JPE"},
                    BasisCase{"a+b,c;d=e[f]g", "A_B_C_", ""}, BasisCase{"x.+y", "X", "_Y"},
                    BasisCase{".txt", "TXT", ""}, BasisCase{"...", "", ""}, BasisCase{" .ab", "", "AB"},
                    // Characters outside ASCII, and stray bytes, are dropped.
                    BasisCase{"ca\xC3\xA9t\xC3\xA9.txt", "CAT", "TXT"}, BasisCase{"Menu D\xC3\xA9marrer", "MENUDM", ""},
                    BasisCase{"\xF0\x9F\x98\x80 smile", "SMILE", ""}, BasisCase{"bad\xFF\xFE byte", "BADBYT", ""},
                    BasisCase{"a.a.a", "AA", "A"}, BasisCase{"\xC3\xA9t\xC3\xA9.\xC3\xA9", "T", ""},
                    BasisCase{"tab\tname.t\x01x", "TAB_NA", "T_X"}, BasisCase{"name.", "NAME", ""},
                    // An alias holds no DEL.
                    BasisCase{"ab\x7Fxyzuvw.txt", "ABXYZU", "TXT"}, BasisCase{"a\x7F.t\x7Fxt", "A", "TXT"}));

struct ChecksumCase {
  const char* longName;
  const char* prefix;
};

class ChecksumPrefixTest : public testing::TestWithParam<ChecksumCase> {};

// Prefixes Windows gives; the head is as much of the base as there is, up to two.
TEST_P(ChecksumPrefixTest, IsWindowsOwn) {
  const AliasBasis basis = aliasBasis(GetParam().longName);
  EXPECT_EQ(checksumPrefix(basis, aliasChecksum(GetParam().longName)), GetParam().prefix) << GetParam().longName;
}

INSTANTIATE_TEST_SUITE_P(Names, ChecksumPrefixTest,
                         testing::Values(ChecksumCase{"SomeStuff.aspx", "SOBC84"}, ChecksumCase{"a.a.a", "AA6BF5"}));

TEST(ChecksumPrefixTest, HeadIsWhatTheBaseHas) {
  EXPECT_EQ(checksumPrefix(aliasBasis("x.long"), 0x00AF), "X00AF");
  EXPECT_EQ(checksumPrefix(aliasBasis("\xC3\xA9.txt"), 0xBC84), "BC84");
  EXPECT_FALSE(takesBasisNumbers(aliasBasis("a b.txt")));
  EXPECT_TRUE(takesBasisNumbers(aliasBasis("a b c.txt")));
}

TEST(NumberedAliasTest, CutsThePrefixToKeepEightCharacters) {
  EXPECT_EQ(numberedAlias("REPORT", 1, "TXT").text(), "REPORT~1.TXT");
  EXPECT_EQ(numberedAlias("AB12CD", 9, "").text(), "AB12CD~9");
  EXPECT_EQ(numberedAlias("AB12CD", 10, "").text(), "AB12C~10");
  EXPECT_EQ(numberedAlias("AB12CD", 100, "C").text(), "AB12~100.C");
  EXPECT_EQ(numberedAlias("_", 2, "").text(), "_~2");
}

TEST(ParseAliasTest, ReadsOnlyTheShapeOfAnAlias) {
  const auto parsed = parseAlias("mydoc~12.txt");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->prefix, "MYDOC");
  EXPECT_EQ(parsed->number, 12u);
  EXPECT_EQ(parsed->extension, "TXT");
  EXPECT_EQ(parsed->text(), "MYDOC~12.TXT");
  for (const char* notAlias : {"MYDOCU", "MYDOCU~", "~1", "AB~01", "AB~1X", "TOOLONGNAME~1", "A~1.ABCD", "A B~1"})
    EXPECT_FALSE(parseAlias(notAlias)) << notAlias;
}

}  // namespace

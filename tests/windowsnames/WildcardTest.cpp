#include <gtest/gtest.h>

#include "windowsnames/Wildcard.h"

namespace {

using WindowsNames::matchesWildcards;
using WindowsNames::mayMatchAliasFromTen;
using WindowsNames::translateWildcards;

struct MatchCase {
  const char* pattern;
  const char* name;
  bool matches;
};

void PrintTo(const MatchCase& c, std::ostream* out) { *out << '"' << c.pattern << "\" on \"" << c.name << '"'; }

class WildcardTest : public testing::TestWithParam<MatchCase> {};

TEST_P(WildcardTest, MatchesAsWindowsDoes) {
  const MatchCase& c = GetParam();
  EXPECT_EQ(matchesWildcards(translateWildcards(c.pattern), c.name), c.matches);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, WildcardTest,
    testing::Values(
        // "*.*" is "*": names without a dot, and the dot entries, match.
        MatchCase{"*.*", "abc", true}, MatchCase{"*.*", "a.b.c", true}, MatchCase{"*", ".", true},
        MatchCase{"*", "..", true}, MatchCase{"*.*", "..", true},
        // "?" is one character, or none before a dot or at the end.
        MatchCase{"ab??", "ab", true}, MatchCase{"ab??", "abc", true}, MatchCase{"ab??", "abcd", true},
        MatchCase{"ab??", "abcde", false}, MatchCase{"file?.txt", "file.txt", true},
        MatchCase{"file?.txt", "file1.txt", true}, MatchCase{"file?.txt", "file12.txt", false},
        MatchCase{"?", ".", false}, MatchCase{"a?c", "a.c", false},
        // "*." keeps names without an extension.
        MatchCase{"*.", "abc", true}, MatchCase{"*.", "abc.d", false}, MatchCase{"a*.", "abc", true},
        // A star before a dot stops at the name's last dot.
        MatchCase{"*.txt", "a.b.txt", true}, MatchCase{"*.txt", "a.txt.bak", false}, MatchCase{"*.txt", ".txt", true},
        // A dot before a wildcard may stand for the end of the name.
        MatchCase{"a.*", "a", true}, MatchCase{"a.*", "a.txt", true}, MatchCase{"a.?", "a", true},
        MatchCase{"a.?", "ab", false},
        // A final star is a plain star.
        MatchCase{"ab*", "abc.txt", true}, MatchCase{"*b", "a.b", true},
        // A DOS star may end on the last dot, and go on past it.
        MatchCase{"*.*.*", "a.a", true}, MatchCase{".*.*", ".a", true}, MatchCase{".*.*", ".aaa", true},
        MatchCase{"*.", ".", true}, MatchCase{"*.", "..", true}, MatchCase{"*.", "..a", false},
        // The whole run of trailing dots goes, and trailing spaces with it; a
        // star before it stays a DOS star only when the run ends in a dot.
        MatchCase{"*.*.", "abc.d", true}, MatchCase{"*.*.", "abc", true}, MatchCase{"*..", "abc", true},
        MatchCase{"*..", "abc.d", false}, MatchCase{"*.txt  ", "a.txt", true}, MatchCase{"* .", "abc.d", false},
        MatchCase{"* .", "abc", true}, MatchCase{"*. .", "abc.d", false}, MatchCase{"* ..", "a.a.a", false},
        MatchCase{"*. ", "abc.d", true}, MatchCase{"*. ", "a..a", true}, MatchCase{"* . ", "abc.d", true},
        MatchCase{"*.. ", "a.a.a", true}, MatchCase{"a* .", "aaa", true}, MatchCase{"a* .", "a.a", false},
        MatchCase{"..* ", "..a.a", true}, MatchCase{"..* ", ".a", false}, MatchCase{"?. ", "a", true},
        MatchCase{"?. ", "aa", false}, MatchCase{"aa? ", "aaa", true}, MatchCase{"aa? ", "aaaa", false},
        // Letters without regard to case, through Windows' upper-case table.
        MatchCase{"REP*", "report.doc", true}, MatchCase{"\xC3\xA9*", "\xC3\x89t\xC3\xA9", true},
        MatchCase{"*\xC3\xA9", "caf\xC3\xA9", true}, MatchCase{"*~1*", "MYDOCU~1", true},
        MatchCase{"R\xC3\x89SUM\xC3\x89.TXT", "r\xC3\xA9sum\xC3\xA9.txt", true},
        MatchCase{"r*\xC3\x89.txt", "r\xC3\xA9sum\xC3\xA9.txt", true}, MatchCase{"\xC3\x9F", "SS", false},
        // "?" is one UTF-16 code unit: a character beyond the BMP is two, a stray byte one.
        MatchCase{"r?sum?.txt", "r\xC3\xA9sum\xC3\xA9.txt", true},
        MatchCase{"a?b",
                  "a\xE2\x82\xAC"
                  "b",
                  true},
        MatchCase{"a?b",
                  "a\xF0\x9F\x98\x80"
                  "b",
                  false},
        MatchCase{"a??b",
                  "a\xF0\x9F\x98\x80"
                  "b",
                  true},
        MatchCase{"a?b",
                  "a\xFF"
                  "b",
                  true},
        MatchCase{"a?b",
                  "a\xC3"
                  "b",
                  true},
        MatchCase{"a?b",
                  "a\xC3\xFF"
                  "b",
                  false},
        // Runs of stars change nothing.
        MatchCase{"a**********b", "ab", true}, MatchCase{"a**********b", "axxb.c", false}));

TEST(WildcardTest, RunsOfAnyLengthMatchAsShortRunsDo) {
  const std::string stars(100000, '*');
  EXPECT_TRUE(matchesWildcards(translateWildcards(stars + ".txt"), "a.b.txt"));
  EXPECT_FALSE(matchesWildcards(translateWildcards(stars + ".txt"), "a.txt.bak"));
  const std::string marks(100000, '?');
  EXPECT_TRUE(matchesWildcards(translateWildcards(marks), "anything"));
  EXPECT_FALSE(matchesWildcards(translateWildcards(marks), "anything.txt"));
}

struct FromTenCase {
  const char* pattern;
  bool mayMatch;
  std::size_t highestNumber = 9999999;
  const char* extension = nullptr;  // any, when not given
};

class AliasFromTenTest : public testing::TestWithParam<FromTenCase> {};

TEST_P(AliasFromTenTest, SaysWhetherAnyAliasNumberedTenOrMoreCanMatch) {
  EXPECT_EQ(
      mayMatchAliasFromTen(translateWildcards(GetParam().pattern), GetParam().highestNumber,
                           GetParam().extension ? std::optional<std::string_view>(GetParam().extension) : std::nullopt),
      GetParam().mayMatch)
      << GetParam().pattern;
}

INSTANTIATE_TEST_SUITE_P(Patterns, AliasFromTenTest,
                         testing::Values(FromTenCase{"*", true}, FromTenCase{"*~*", true}, FromTenCase{"*~3*", true},
                                         FromTenCase{"*.c", true}, FromTenCase{"*.c", true, 9999999, "C"},
                                         FromTenCase{"*.c", false, 9999999, "TXT"}, FromTenCase{"*~1*", true, 99, ""},
                                         FromTenCase{"*1", true}, FromTenCase{"AB12~10.TXT", true},
                                         FromTenCase{"~1234567", true}, FromTenCase{"*~10", false, 9},
                                         // Too long for eight characters, or no room for two digits.
                                         FromTenCase{"*050000.txt", true}, FromTenCase{"*050000.txt", false, 999999},
                                         FromTenCase{"AB~12345678", false}, FromTenCase{"A~1234567", false},
                                         FromTenCase{"*~1.txt", false}, FromTenCase{"report*", false},
                                         FromTenCase{"*.text", false}));

TEST(AliasPatternTest, SaysWhetherAnyAliasCanMatch) {
  for (const char* pattern : {"*", "l*", "*~1", "LONGNA~1", "*.txt", "*~1234567", "dir00l*"})
    EXPECT_TRUE(WindowsNames::mayMatchAlias(translateWildcards(pattern), 9999999)) << pattern;
  // A space, four characters after the dot, no room for "~" and a digit, or
  // for the number.
  for (const char* pattern : {"dir 00*", "*.html", "longer*name", "*~12345678"})
    EXPECT_FALSE(WindowsNames::mayMatchAlias(translateWildcards(pattern), 9999999)) << pattern;
  EXPECT_FALSE(WindowsNames::mayMatchAlias(translateWildcards("AB~10"), 9));
  EXPECT_TRUE(WindowsNames::mayMatchAlias(translateWildcards("AB~10"), 10));
}

TEST(ShortNamePatternTest, SaysWhetherAnyShortNameCanMatch) {
  for (const char* pattern : {"*", "*~5*", "*.txt", "PROGRA~?", "?????????*", "long*name.*", "a b*", "\xC3\x89*"})
    EXPECT_TRUE(WindowsNames::mayMatchShortName(translateWildcards(pattern))) << pattern;
  for (const char* pattern : {"*.html", "report final*", "?????????x*", "*.a.b", "longer*name.*", "*.txt?x"})
    EXPECT_FALSE(WindowsNames::mayMatchShortName(translateWildcards(pattern))) << pattern;
}

}  // namespace

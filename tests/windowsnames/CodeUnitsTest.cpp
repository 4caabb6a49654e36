#include <gtest/gtest.h>

#include <string>

#include "windowsnames/CodeUnits.h"

namespace {

using namespace WindowsNames;

struct ReadingCase {
  const char* text;
  std::u16string units;
};

void PrintTo(const ReadingCase& c, std::ostream* out) { *out << testing::PrintToString(std::string(c.text)); }

class CodeUnitReaderTest : public testing::TestWithParam<ReadingCase> {};

TEST_P(CodeUnitReaderTest, ReadsTheUnitsWindowsHolds) {
  std::u16string units;
  for (CodeUnitReader reader(GetParam().text); !reader.done();) units += reader.next();
  EXPECT_EQ(units, GetParam().units);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CodeUnitReaderTest,
    testing::Values(ReadingCase{"a.B", u"a.B"}, ReadingCase{"\xC3\xA9", u"\u00E9"},
                    ReadingCase{"\xE2\x82\xAC", u"\u20AC"}, ReadingCase{"\xF0\x9F\x98\x80", u"\xD83D\xDE00"},
                    ReadingCase{"\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"},
                    // Each byte outside well-formed UTF-8 is 0xDC00 plus the byte.
                    ReadingCase{"\xFF", u"\xDCFF"}, ReadingCase{"\xC3", u"\xDCC3"},
                    ReadingCase{"\xC0\x80", u"\xDCC0\xDC80"},                      // overlong
                    ReadingCase{"\xED\xA0\x80", u"\xDCED\xDCA0\xDC80"},            // a surrogate
                    ReadingCase{"\xF4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80"},  // beyond U+10FFFF
                    ReadingCase{"\xE2\x82x", u"\xDCE2\xDC82x"}));

// Rows of Microsoft's UpperCaseTable (MS-UCODEREF, Windows 8), and units it
// leaves alone though Unicode upper-cases them.
TEST(UpperCaseTest, FollowsWindowsTable) {
  const std::pair<char16_t, char16_t> cases[] = {{u'a', u'A'},
                                                 {u'Z', u'Z'},
                                                 {u'_', u'_'},
                                                 {u'\u00E9', u'\u00C9'},
                                                 {u'\u00FF', u'\u0178'},
                                                 {u'\u01C6', u'\u01C4'},
                                                 {u'\u01C9', u'\u01C7'},
                                                 {u'\u03C9', u'\u03A9'},
                                                 {u'\u03C3', u'\u03A3'},
                                                 {u'\u0436', u'\u0416'},
                                                 {u'\u0450', u'\u0400'},
                                                 {u'\u0561', u'\u0531'},
                                                 {u'\u24D0', u'\u24B6'},
                                                 {u'\uFF41', u'\uFF21'},
                                                 {u'\u2C30', u'\u2C00'},
                                                 {u'\u2D00', u'\u10A0'},
                                                 {u'\u1E01', u'\u1E00'},
                                                 {u'\u1F00', u'\u1F08'},
                                                 {u'\uA641', u'\uA640'},
                                                 {u'\u2C65', u'\u023A'},
                                                 // Left alone by Windows.
                                                 {u'\u0131', u'\u0131'},
                                                 {u'\u017F', u'\u017F'},
                                                 {u'\u00B5', u'\u00B5'},
                                                 {u'\u03C2', u'\u03C2'},
                                                 {u'\u01C5', u'\u01C5'},
                                                 {u'\u01C8', u'\u01C8'},
                                                 {u'\u01CB', u'\u01CB'},
                                                 {u'\u01F2', u'\u01F2'},
                                                 {u'\u03D0', u'\u03D0'},
                                                 {u'\u03D1', u'\u03D1'},
                                                 {u'\u03D5', u'\u03D5'},
                                                 {u'\u03D6', u'\u03D6'},
                                                 {u'\u03F0', u'\u03F0'},
                                                 {u'\u03F1', u'\u03F1'},
                                                 {u'\u03F5', u'\u03F5'},
                                                 {u'\u1E9B', u'\u1E9B'},
                                                 {u'\u1FBE', u'\u1FBE'},
                                                 {u'\u0345', u'\u0345'},
                                                 {u'\u10D0', u'\u10D0'},
                                                 {u'\u10FF', u'\u10FF'},
                                                 {u'\uAB70', u'\uAB70'},
                                                 {u'\uABBF', u'\uABBF'},
                                                 {u'\uA7A1', u'\uA7A1'},
                                                 {u'\u00DF', u'\u00DF'},
                                                 {u'\u1E9E', u'\u1E9E'},
                                                 {0xD83D, 0xD83D},
                                                 {0xDCFF, 0xDCFF},
                                                 {u'\uFFFF', u'\uFFFF'}};
  for (const auto& [unit, upper] : cases)
    EXPECT_EQ(static_cast<int>(upperCase(unit)), static_cast<int>(upper)) << std::hex << static_cast<int>(unit);
}

TEST(EqualWithoutCaseTest, ComparesUpperCasedUnits) {
  EXPECT_TRUE(equalWithoutCase("Foo", "FOO"));
  EXPECT_TRUE(equalWithoutCase("r\xC3\xA9sum\xC3\xA9", "R\xC3\x89SUM\xC3\x89"));
  EXPECT_TRUE(equalWithoutCase("\xC7\x86", "\xC7\x84"));  // dz with caron
  EXPECT_FALSE(equalWithoutCase("\xC5\xBF", "s"));        // long s stays itself
  EXPECT_FALSE(equalWithoutCase("\xC4\xB1", "I"));        // so does dotless i
  EXPECT_FALSE(
      equalWithoutCase("\xCE\xBF\xCE\xB4\xCE\xBF\xCF\x82", "\xCE\x9F\xCE\x94\xCE\x9F\xCE\xA3"));  // final sigma
  EXPECT_FALSE(equalWithoutCase("Foo", "Fo"));
  EXPECT_FALSE(equalWithoutCase("\xC3\x9F", "SS"));
  EXPECT_FALSE(equalWithoutCase("\xFF", "\xC3\xBF"));  // a stray byte is not the character
}

}  // namespace

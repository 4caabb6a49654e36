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

TEST(UpperCaseTest, FollowsUnicodesSimpleMapping) {
  const std::pair<char16_t, char16_t> cases[] = {
      {u'a', u'A'},           {u'Z', u'Z'},           {u'_', u'_'},           {u'\u00E9', u'\u00C9'},
      {u'\u00FF', u'\u0178'}, {u'\u0131', u'I'},      {u'\u017F', u'S'},      {u'\u03C2', u'\u03A3'},
      {u'\u0450', u'\u0400'}, {u'\uFF41', u'\uFF21'}, {u'\u00DF', u'\u00DF'}, {u'\u00B5', u'\u039C'},
      {u'\u1E9E', u'\u1E9E'}, {0xD83D, 0xD83D},       {0xDCFF, 0xDCFF},       {u'\uFFFF', u'\uFFFF'}};
  for (const auto& [unit, upper] : cases)
    EXPECT_EQ(static_cast<int>(upperCase(unit)), static_cast<int>(upper)) << std::hex << static_cast<int>(unit);
}

TEST(EqualWithoutCaseTest, ComparesUpperCasedUnits) {
  EXPECT_TRUE(equalWithoutCase("Foo", "FOO"));
  EXPECT_TRUE(equalWithoutCase("r\xC3\xA9sum\xC3\xA9", "R\xC3\x89SUM\xC3\x89"));
  EXPECT_TRUE(equalWithoutCase("\xC5\xBF", "s"));  // long s upper-cases to "S"
  EXPECT_FALSE(equalWithoutCase("Foo", "Fo"));
  EXPECT_FALSE(equalWithoutCase("\xC3\x9F", "SS"));
  EXPECT_FALSE(equalWithoutCase("\xFF", "\xC3\xBF"));  // a stray byte is not the character
}

}  // namespace

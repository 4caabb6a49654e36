// The resolution against a scripted directory search, mostly in Windows
// syntax, so that it is proven for Windows on every build.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "conversion/Resolve.h"
#include "tests/conversion/CodePage932.h"

namespace {

struct ScriptedSearch {
  std::map<std::string, std::string> firstEntries;  // pattern -> first entry reported
  std::vector<std::string> asked;

  GetVEK::Found operator()(const std::string& pattern) {
    asked.push_back(pattern);
    const auto found = firstEntries.find(pattern);
    if (found == firstEntries.end()) return GetVEK::Found::none();
    return GetVEK::Found::name(found->second);
  }
};

struct ResolveCase {
  const char* name;
  std::variant<GetVEK::WindowsPathSyntax, GetVEK::PosixPathSyntax> syntax;
  std::string argumentText;
  std::map<std::string, std::string> firstEntries;
  std::optional<std::string> longPath;
  std::vector<std::string> asked;
};

void PrintTo(const ResolveCase& c, std::ostream* out) { *out << c.name; }

class ResolveTest : public testing::TestWithParam<ResolveCase> {};

TEST_P(ResolveTest, ResolvesComponentByComponent) {
  const ResolveCase& c = GetParam();
  ScriptedSearch search{c.firstEntries, {}};
  std::visit(
      [&](const auto& syntax) {
        EXPECT_EQ(GetVEK::resolve(c.argumentText, syntax, std::ref(search)).nameIfAny(), c.longPath);
        EXPECT_EQ(GetVEK::holdsWildcard(c.argumentText, syntax), !c.asked.empty());
      },
      c.syntax);
  EXPECT_EQ(search.asked, c.asked);
}

constexpr GetVEK::WindowsPathSyntax windows{};
constexpr GetVEK::PosixPathSyntax posix{};
constexpr GetVEK::WindowsPathSyntax codePage932 = TestSupport::codePage932Syntax;

// 表 and 予 in code page 932: their second byte is the byte of "\".
using namespace std::string_literals;
const std::string hyou = "\x95\x5C";
const std::string yo = "\x97\x5C";

INSTANTIATE_TEST_SUITE_P(
    Cases, ResolveTest,
    testing::Values(
        ResolveCase{"WorkedExample",
                    windows,
                    R"(D:\Docs\Rep?rts\Summar?.txt)",
                    {{R"(D:\Docs\Rep?rts)", "Reports"}, {R"(D:\Docs\Reports\Summar?.txt)", "Summary.txt"}},
                    R"(D:\Docs\Reports\Summary.txt)",
                    {R"(D:\Docs\Rep?rts)", R"(D:\Docs\Reports\Summar?.txt)"}},
        ResolveCase{"PlainTailAppendedUnchanged",
                    windows,
                    R"(D:\Docs\Rep?rts\Summary.txt)",
                    {{R"(D:\Docs\Rep?rts)", "Reports"}},
                    R"(D:\Docs\Reports\Summary.txt)",
                    {R"(D:\Docs\Rep?rts)"}},
        ResolveCase{"BareNameHasNoDirectoryPrefix", windows, "*.txt", {{"*.txt", "notes.txt"}}, "notes.txt", {"*.txt"}},
        ResolveCase{"DriveRelative",
                    windows,
                    "C:rep?rt.doc",
                    {{"C:rep?rt.doc", "report.doc"}},
                    "C:report.doc",
                    {"C:rep?rt.doc"}},
        ResolveCase{"SeparatorEndingTheTextIsDropped",
                    windows,
                    R"(D:\Rep?rts\)",
                    {{R"(D:\Rep?rts)", "Reports"}},
                    R"(D:\Reports)",
                    {R"(D:\Rep?rts)"}},
        ResolveCase{
            "DirectoryMatchEndsThePath", windows, R"(D:\Do*)", {{R"(D:\Do*)", "Docs"}}, R"(D:\Docs)", {R"(D:\Do*)"}},
        ResolveCase{"DotEntryTakenWhenReportedFirst",
                    windows,
                    R"(D:\Docs\*\x.txt)",
                    {{R"(D:\Docs\*)", "."}},
                    R"(D:\Docs\.\x.txt)",
                    {R"(D:\Docs\*)"}},
        ResolveCase{"BothKindsInOneComponentSearchedTogether",
                    windows,
                    R"(D:\a*b?c\x?)",
                    {{R"(D:\a*b?c)", "aXbYc"}, {R"(D:\aXbYc\x?)", "x1"}},
                    R"(D:\aXbYc\x1)",
                    {R"(D:\a*b?c)", R"(D:\aXbYc\x?)"}},
        ResolveCase{"QuestionMarkFirst", windows, R"(D:\a?b*)", {{R"(D:\a?b*)", "aXbY"}}, R"(D:\aXbY)", {R"(D:\a?b*)"}},
        ResolveCase{"OnlyTheFirstMatchIsTried",
                    windows,
                    R"(D:\Dir?\f*.txt)",
                    {{R"(D:\Dir?)", "Dir1"}, {R"(D:\Dir2\f*.txt)", "file.txt"}},
                    std::nullopt,
                    {R"(D:\Dir?)", R"(D:\Dir1\f*.txt)"}},
        ResolveCase{"FirstComponentWithoutMatchEndsAll",
                    windows,
                    R"(D:\No?\Rep?rts)",
                    {{R"(D:\No\Rep?rts)", "Reports"}},
                    std::nullopt,
                    {R"(D:\No?)"}},
        ResolveCase{"SlashSeparatesAndIsKept",
                    windows,
                    "D:/Docs/Rep?rts/Summar?.txt",
                    {{"D:/Docs/Rep?rts", "Reports"}, {"D:/Docs/Reports/Summar?.txt", "Summary.txt"}},
                    "D:/Docs/Reports/Summary.txt",
                    {"D:/Docs/Rep?rts", "D:/Docs/Reports/Summar?.txt"}},
        ResolveCase{"MixedSeparatorsKeptAsTyped",
                    windows,
                    R"(D:\Docs/Rep?rts\x/y?)",
                    {{R"(D:\Docs/Rep?rts)", "Reports"}, {R"(D:\Docs/Reports\x/y?)", "y1"}},
                    R"(D:\Docs/Reports\x/y1)",
                    {R"(D:\Docs/Rep?rts)", R"(D:\Docs/Reports\x/y?)"}},
        ResolveCase{"SlashAfterTheDriveIsNoDriveRelativePath",
                    windows,
                    "Z:/tmp/base/rep*",
                    {{"Z:/tmp/base/rep*", "report final.txt"}},
                    "Z:/tmp/base/report final.txt",
                    {"Z:/tmp/base/rep*"}},
        ResolveCase{"VerbatimPrefixIsNoWildcard",
                    windows,
                    R"(\\?\D:\Docs\Rep?rts\x.txt)",
                    {{R"(\\?\D:\Docs\Rep?rts)", "Reports"}},
                    R"(\\?\D:\Docs\Reports\x.txt)",
                    {R"(\\?\D:\Docs\Rep?rts)"}},
        ResolveCase{
            "VerbatimPrefixAloneNeedsNoSearch", windows, R"(\\?\D:\Docs\x.txt)", {}, R"(\\?\D:\Docs\x.txt)", {}},
        ResolveCase{"VerbatimUncPrefix",
                    windows,
                    R"(\\?\UNC\server\share\Rep*)",
                    {{R"(\\?\UNC\server\share\Rep*)", "Reports"}},
                    R"(\\?\UNC\server\share\Reports)",
                    {R"(\\?\UNC\server\share\Rep*)"}},
        ResolveCase{"DevicePrefix",
                    windows,
                    R"(\\.\D:\Rep*)",
                    {{R"(\\.\D:\Rep*)", "Reports"}},
                    R"(\\.\D:\Reports)",
                    {R"(\\.\D:\Rep*)"}},
        ResolveCase{"PrefixWithSlashes",
                    windows,
                    "//?/D:/Rep*",
                    {{"//?/D:/Rep*", "Reports"}},
                    "//?/D:/Reports",
                    {"//?/D:/Rep*"}},
        ResolveCase{"PrefixIsTheDirectoryOfItsFirstComponent",
                    windows,
                    R"(\\?\*)",
                    {{R"(\\?\*)", "GLOBALROOT"}},
                    R"(\\?\GLOBALROOT)",
                    {R"(\\?\*)"}},
        ResolveCase{"DoubleByteNameBeforeTheWildcard",
                    codePage932,
                    "D:\\"s + hyou + "*\\rep?rt",
                    {{"D:\\"s + hyou + "*", hyou + "x"}, {"D:\\"s + hyou + "x\\rep?rt", "report"}},
                    "D:\\"s + hyou + "x\\report",
                    {"D:\\"s + hyou + "*", "D:\\"s + hyou + "x\\rep?rt"}},
        ResolveCase{"DoubleByteNameAfterTheWildcard",
                    codePage932,
                    "D:\\*"s + yo + "\\rep?rt",
                    {{"D:\\*"s + yo, "a"s + yo}, {"D:\\a"s + yo + "\\rep?rt", "report"}},
                    "D:\\a"s + yo + "\\report",
                    {"D:\\*"s + yo, "D:\\a"s + yo + "\\rep?rt"}},
        ResolveCase{"DoubleByteDirectoryBeforeTheWildcardComponent",
                    codePage932,
                    "D:\\"s + hyou + "\\rep*",
                    {{"D:\\"s + hyou + "\\rep*", "report"}},
                    "D:\\"s + hyou + "\\report",
                    {"D:\\"s + hyou + "\\rep*"}},
        ResolveCase{"SingleByteCodePageSplitsAtTheSameByte",
                    windows,
                    "D:\\"s + hyou + "*",
                    {{"D:\\\x95\\*", "x"}},
                    "D:\\\x95\\x",
                    {"D:\\\x95\\*"}},
        ResolveCase{"Utf8ReadAByteAtATime",
                    GetVEK::WindowsPathSyntax::utf8(),
                    "D:\\\xC4\x81\\rep?rt",
                    {{"D:\\\xC4\x81\\rep?rt", "report"}},
                    "D:\\\xC4\x81\\report",
                    {"D:\\\xC4\x81\\rep?rt"}},
        ResolveCase{"PosixSeparator",
                    posix,
                    "/home/r?p/in*/x",
                    {{"/home/r?p", "rep"}, {"/home/rep/in*", "inbox"}},
                    "/home/rep/inbox/x",
                    {"/home/r?p", "/home/rep/in*"}},
        ResolveCase{"PosixHasNoDriveColon", posix, "C:rep?rt", {{"C:rep?rt", "C:report"}}, "C:report", {"C:rep?rt"}},
        ResolveCase{
            "PosixBackslashIsOrdinary", posix, R"(a\b?\c)", {{R"(a\b?\c)", R"(a\bX\c)"}}, R"(a\bX\c)", {R"(a\b?\c)"}}),
    [](const testing::TestParamInfo<ResolveCase>& instance) { return std::string(instance.param.name); });

}  // namespace

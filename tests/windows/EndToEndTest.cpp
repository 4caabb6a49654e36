// The built getvek.exe started as a Windows host starts it: CreateProcessA
// (or CreateProcessW) with an exact command line, then VEK.TXT read from the
// executable's directory. Expected short forms come from the platform
// itself, so nothing here depends on how a file system spells its aliases.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/windows/WideShortForm.h"
#include "tests/windows/TestTree.h"

namespace {

using namespace TestSupport;

struct ConversionCase {
  const char* name;
  const char* commandLine;                 // "{EXE}" the tool, "{T}" the tree, "{T/}" the tree written with "/"
  const char* shortFormOf;                 // the long path whose short form is expected; nullptr: "bAd"
  const char* currentDirectory = nullptr;  // the host's own when none
};

void PrintTo(const ConversionCase& c, std::ostream* out) { *out << c.name; }

// What a table's command line gives the tool to convert: the text after the
// program's name and the blanks after it.
template <class Char>
std::basic_string<Char> argumentOf(std::basic_string_view<Char> commandLine) {
  constexpr Char program[] = {'{', 'E', 'X', 'E', '}', '"'};
  commandLine.remove_prefix(commandLine.find(std::basic_string_view<Char>(program, 5)) + 5);
  if (commandLine.starts_with(program[5])) commandLine.remove_prefix(1);
  constexpr Char blanks[] = {' ', '\t', '\0'};
  return std::basic_string<Char>(commandLine.substr(std::min(commandLine.find_first_not_of(blanks), commandLine.size())));
}

class ConversionTest : public testing::TestWithParam<ConversionCase> {
 protected:
  void SetUp() override {
    tree.makeFile("My Documents\\report final.txt");
    tree.makeFile("Docs\\Reports\\Summary.txt");
    tree.makeFile("Elsewhere\\Summary.txt");
    tree.makeFile("abc.txt");
    tree.makeFile("console.txt");
  }
  std::string placed(const char* text) const {
    std::string slashed = tree.path();
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    return substitute(substituteTree(text, tree.path()), "{T/}", slashed);
  }
  TempTree tree;
};

TEST_P(ConversionTest, LeavesTheAnswerInTheResultFile) {
  const ConversionCase& c = GetParam();
  const RunOutcome outcome =
      ProgramDirectory().run(placed(c.commandLine), c.currentDirectory ? placed(c.currentDirectory) : "");
  const std::string expected = c.shortFormOf ? shortPathOf(placed(c.shortFormOf)) : "bAd";
  EXPECT_EQ(outcome.result, expected);
  EXPECT_EQ(outcome.workFile, std::nullopt);
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_EQ(outcome.standardError, "");
}

// The library's wide entry, in-process, on the same paths: the tool's answer.
TEST_P(ConversionTest, WideEntryAnswersAsTheTool) {
  const ConversionCase& c = GetParam();
  const std::wstring previous = currentDirectory();
  if (c.currentDirectory) {
    ASSERT_TRUE(SetCurrentDirectoryA(placed(c.currentDirectory).c_str()));
  }
  const Platform::Windows::WideAnswer answer =
      Platform::Windows::shortFormOfWide(widen(argumentOf<char>(placed(c.commandLine))));
  SetCurrentDirectoryW(previous.c_str());
  EXPECT_FALSE(answer.failed);
  EXPECT_EQ(answer.text, c.shortFormOf ? wideShortPathOf(widen(placed(c.shortFormOf))) : L"bAd");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConversionTest,
    testing::Values(
        ConversionCase{"SpacesAround", "\"{EXE}\"    {T}\\My Documents\\report final.txt   ",
                       "{T}\\My Documents\\report final.txt"},
        ConversionCase{"SpacesInsideNeedNoQuotes", "\"{EXE}\" {T}\\My Documents\\report final.txt",
                       "{T}\\My Documents\\report final.txt"},
        ConversionCase{"TabsSeparateTheProgramName", "\"{EXE}\"\t \t{T}\\Docs\\Reports\\Summary.txt",
                       "{T}\\Docs\\Reports\\Summary.txt"},
        ConversionCase{"UnquotedProgramName", "{EXE} {T}\\Docs\\Reports\\Summary.txt",
                       "{T}\\Docs\\Reports\\Summary.txt"},
        ConversionCase{"QuotedPathKeepsItsQuotes", "\"{EXE}\" \"{T}\\My Documents\\report final.txt\"", nullptr},
        ConversionCase{"TrailingTabKept", "\"{EXE}\" {T}\\Docs\\Reports\\Summary.txt\t", nullptr},
        ConversionCase{"NoArgumentText", "\"{EXE}\"", nullptr},
        ConversionCase{"OnlySpaces", "\"{EXE}\"      ", nullptr},
        ConversionCase{"MissingPath", "\"{EXE}\" {T}\\nothing here.txt", nullptr},
        ConversionCase{"WildcardsInSeveralComponents", "\"{EXE}\" {T}\\Docs\\Rep?rts\\Summar?.txt",
                       "{T}\\Docs\\Reports\\Summary.txt"},
        ConversionCase{"WildcardWithoutMatch", "\"{EXE}\" {T}\\Docs\\X*\\Summary.txt", nullptr},
        ConversionCase{"StarFindsDotFirst", "\"{EXE}\" {T}\\Docs\\*", "{T}\\Docs\\."},
        ConversionCase{"SlashesSeparate", "\"{EXE}\" {T/}/Docs/Rep?rts/Summar?.txt", "{T/}/Docs/Reports/Summary.txt"},
        ConversionCase{"SlashesNeverMakeADriveRelativePath", "\"{EXE}\" {T/}/Docs/Reports/Sum*",
                       "{T/}/Docs/Reports/Summary.txt", "{T}\\Elsewhere"},
        ConversionCase{"SlashAfterAWildcardDirectory", "\"{EXE}\" {T/}/Do*/Reports/Summary.txt",
                       "{T/}/Docs/Reports/Summary.txt"},
        ConversionCase{"VerbatimPrefix", "\"{EXE}\" \\\\?\\{T}\\Docs\\Reports\\Summary.txt",
                       "\\\\?\\{T}\\Docs\\Reports\\Summary.txt"},
        ConversionCase{"VerbatimPrefixWithWildcards", "\"{EXE}\" \\\\?\\{T}\\Docs\\Rep?rts\\Summar?.txt",
                       "\\\\?\\{T}\\Docs\\Reports\\Summary.txt"},
        // No Windows name holds "<", ">" or '"': they are no wildcards here.
        ConversionCase{"GreaterThanIsNoWildcard", "\"{EXE}\" {T}\\>>>.txt", nullptr},
        ConversionCase{"GreaterThanInALongName", "\"{EXE}\" {T}\\My Documents\\report fina>.txt", nullptr},
        ConversionCase{"LessThanIsNoWildcard", "\"{EXE}\" {T}\\<.txt", nullptr},
        ConversionCase{"QuoteIsNoDot", "\"{EXE}\" {T}\\abc\"txt", nullptr},
        // Paths that Windows opens as devices.
        ConversionCase{"DeviceWithAnExtension", "\"{EXE}\" {T}\\nul.txt", nullptr},
        ConversionCase{"DeviceInADirectory", "\"{EXE}\" {T}\\Docs\\con", nullptr},
        ConversionCase{"DeviceBeforeSpacesAndADot", "\"{EXE}\" {T}\\Docs\\Lpt1 .txt", nullptr},
        ConversionCase{"Console", "\"{EXE}\" CON", nullptr}, ConversionCase{"Null", "\"{EXE}\" NUL", nullptr},
        ConversionCase{"SerialPort", "\"{EXE}\" COM1", nullptr},
        ConversionCase{"ConsoleInput", "\"{EXE}\" CONIN$", nullptr},
        ConversionCase{"DevicePrefix", "\"{EXE}\" \\\\.\\NUL", nullptr},
        ConversionCase{"DeviceAfterTheVerbatimPrefix", "\"{EXE}\" \\\\?\\nul", nullptr},
        ConversionCase{"DeviceInARelativePath", "\"{EXE}\" Docs\\aux.c", nullptr, "{T}"},
        ConversionCase{"DeviceBeforeTrailingDots", "\"{EXE}\" {T}\\NUL..", nullptr},
        ConversionCase{"NameBeginningLikeADevice", "\"{EXE}\" {T}\\console.txt", "{T}\\console.txt"}),
    [](const testing::TestParamInfo<ConversionCase>& instance) { return std::string(instance.param.name); });

// Names that a code page may lack, where Windows' narrow functions put a
// look-alike in place of a character ("best fit"), and names holding a
// two-byte character whose second byte is the byte of "\\". Each case runs in
// the system's code page; the suite runs again in code page 932.
enum class Start { narrow, wide };

struct ForeignNameCase {
  const char* name;
  Start start;  // narrow: CreateProcessA, in the code page, which must be able to write the command line
  const wchar_t* commandLine;
  const wchar_t* shortFormOf;  // nullptr: "bAd"
  // The tool answers "bAd": the code page cannot carry the path that far.
  // The wide entry, which needs no code page, still answers.
  bool lostToTheCodePage = false;
};

void PrintTo(const ForeignNameCase& c, std::ostream* out) { *out << c.name; }

class ForeignNameTest : public testing::TestWithParam<ForeignNameCase> {
 protected:
  void SetUp() override {
    // Each name beside its look-alike, so that an answer for the look-alike
    // is an answer for a file that exists.
    for (const wchar_t* name :
         {L"x／y report.txt", L"x\\y report.txt", L"Ωmega.txt", L"Omega.txt", L"Oslo.txt", L"Ωdir\\report final.txt",
          L"café\\report final.txt", L"cafe\\report final.txt", L"表示\\report final.txt", L"予定表.txt",
          L"COM\u00B9.txt", L"中文\\report final.txt", L"\u0101\\report final.txt", L"\u0101\\\u0101.txt"})
      tree.makeFile(std::wstring(name));
  }
  TempTree tree;
};

TEST_P(ForeignNameTest, AnswersOnlyForTheFileNamed) {
  const ForeignNameCase& c = GetParam();
  const std::wstring treePath = widen(tree.path());
  const std::wstring commandLine = substituteTree(std::wstring(c.commandLine), treePath);
  RunOutcome outcome;
  if (c.start == Start::narrow) {
    const std::optional<std::string> narrow = narrowExactly(commandLine);
    if (!narrow) GTEST_SKIP() << "code page " << GetACP() << " cannot write the command line";
    outcome = ProgramDirectory().run(*narrow);
  } else {
    outcome = ProgramDirectory().run(commandLine);
  }
  const std::string expected = c.shortFormOf && !c.lostToTheCodePage
                                   ? shortPathOf(substituteTree(std::wstring(c.shortFormOf), treePath))
                                   : "bAd";
  EXPECT_EQ(outcome.result, expected);
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_EQ(outcome.standardError, "");
}

// The library's wide entry on the same paths, in-process: the UTF-16 short
// form, whatever the code page lacks, so that where the tool answers (the
// test above), both give the same short form.
TEST_P(ForeignNameTest, WideEntryAnswersInUtf16) {
  const ForeignNameCase& c = GetParam();
  const std::wstring treePath = widen(tree.path());
  const Platform::Windows::WideAnswer answer =
      Platform::Windows::shortFormOfWide(substituteTree(argumentOf<wchar_t>(c.commandLine), treePath));
  EXPECT_FALSE(answer.failed);
  EXPECT_EQ(answer.text, c.shortFormOf ? wideShortPathOf(substituteTree(std::wstring(c.shortFormOf), treePath)) : L"bAd");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ForeignNameTest,
    testing::Values(
        ForeignNameCase{"FullWidthSolidusIsNoSeparator", Start::narrow, L"\"{EXE}\" {T}\\x?y*",
                        L"{T}\\x／y report.txt"},
        ForeignNameCase{"OmegaMatchedByItsShortNameIsNoO", Start::narrow, L"\"{EXE}\" {T}\\_MEG*", L"{T}\\Ωmega.txt"},
        ForeignNameCase{"DoubleByteNameBeforeTheWildcard", Start::narrow, L"\"{EXE}\" {T}\\表*\\report final.txt",
                        L"{T}\\表示\\report final.txt"},
        ForeignNameCase{"DoubleByteCharacterRightBeforeTheWildcard", Start::narrow, L"\"{EXE}\" {T}\\予*",
                        L"{T}\\予定表.txt"},
        ForeignNameCase{"DoubleByteNameAfterTheWildcard", Start::narrow, L"\"{EXE}\" {T}\\*表.txt", L"{T}\\予定表.txt"},
        ForeignNameCase{"DoubleByteDirectory", Start::narrow, L"\"{EXE}\" {T}\\表示\\rep*",
                        L"{T}\\表示\\report final.txt"},
        ForeignNameCase{"WideFileName", Start::wide, L"\"{EXE}\" {T}\\Ωmega.txt", L"{T}\\Ωmega.txt"},
        ForeignNameCase{"WideFileNameInSpaces", Start::wide, L"\"{EXE}\"   {T}\\Ωmega.txt  ", L"{T}\\Ωmega.txt"},
        ForeignNameCase{"WideDirectoryThenWildcard", Start::wide, L"\"{EXE}\" {T}\\Ωdir\\rep*",
                        L"{T}\\Ωdir\\report final.txt"},
        ForeignNameCase{"WideAccentedDirectoryThenWildcard", Start::wide, L"\"{EXE}\" {T}\\café\\rep*",
                        L"{T}\\café\\report final.txt"},
        ForeignNameCase{"WideWildcardComponent", Start::wide, L"\"{EXE}\" {T}\\Ωme*", L"{T}\\Ωmega.txt"},
        ForeignNameCase{"WideHanDirectoryThenWildcard", Start::wide, L"\"{EXE}\" {T}\\中文\\rep*",
                        L"{T}\\中文\\report final.txt"},
        // Its last byte in UTF-8 (0xC4 0x81) leads a character in code page
        // 932: read by that code page's rule, it would swallow the "\".
        ForeignNameCase{"WideLatinDirectoryThenWildcard", Start::wide, L"\"{EXE}\" {T}\\\u0101\\rep*",
                        L"{T}\\\u0101\\report final.txt"},
        ForeignNameCase{"WideNameAfterAWildcardDirectory", Start::wide, L"\"{EXE}\" {T}\\\u0101*\\\u0101.txt",
                        L"{T}\\\u0101\\\u0101.txt", true},
        ForeignNameCase{"WideNameOfAMissingFileBesideItsLookAlike", Start::wide, L"\"{EXE}\" {T}\\Ωslo.txt", nullptr},
        // Windows 10 would open it as COM1; Wine, like Windows 11, makes it a
        // file, and the running system is the one asked.
        ForeignNameCase{"SuperscriptPortNameThatTheSystemMakesAFile", Start::wide, L"\"{EXE}\" {T}\\COM\u00B9.txt",
                        L"{T}\\COM\u00B9.txt"}),
    [](const testing::TestParamInfo<ForeignNameCase>& instance) { return std::string(instance.param.name); });

TEST(EndToEndTest, ExistingResultIsNeitherReplacedNorTouched) {
  TempTree tree;
  tree.makeFile("Docs\\Reports\\Summary.txt");
  const ProgramDirectory program;
  writeFile(program.resultPath(), "earlier answer");
  const RunOutcome outcome = program.run("\"{EXE}\" " + (tree / "Docs\\Reports\\Summary.txt"));
  EXPECT_EQ(outcome.exitCode, 75u);  // worth retrying once the caller has read the result
  EXPECT_EQ(outcome.standardError.rfind(
                "getvek: cannot rename " + program.workPath() + " to " + program.resultPath() + ": ", 0),
            0u)
      << outcome.standardError;
  EXPECT_EQ(outcome.result, "earlier answer");
  EXPECT_EQ(outcome.workFile, shortPathOf(tree / "Docs\\Reports\\Summary.txt"));
}

TEST(EndToEndTest, WorkFileLeftByAnEarlierRunIsMadeAnew) {
  TempTree tree;
  tree.makeFile("Docs\\Reports\\Summary.txt");
  const ProgramDirectory program;
  writeFile(program.workPath(), std::string(4000, 'x'));
  const RunOutcome outcome = program.run("\"{EXE}\" " + (tree / "Docs\\Reports\\Summary.txt"));
  EXPECT_EQ(outcome.result, shortPathOf(tree / "Docs\\Reports\\Summary.txt"));
  EXPECT_EQ(outcome.workFile, std::nullopt);
  EXPECT_EQ(outcome.exitCode, 0u);
}

}  // namespace

// The built getvek.exe started as a Windows host starts it: CreateProcessA
// with an exact command line, then VEK.TXT read from the executable's
// directory. Expected short forms come from the platform itself, so nothing
// here depends on how a file system spells its aliases.
#include <gtest/gtest.h>

#include "tests/windows/TestTree.h"

namespace {

using namespace TestSupport;

struct ConversionCase {
  const char* name;
  const char* commandLine;  // "{EXE}" the tool, "{T}" the tree
  const char* shortFormOf;  // the long path whose short form is expected; nullptr: "bAd"
};

void PrintTo(const ConversionCase& c, std::ostream* out) { *out << c.name; }

class ConversionTest : public testing::TestWithParam<ConversionCase> {
 protected:
  void SetUp() override {
    tree.makeFile("My Documents\\report final.txt");
    tree.makeFile("Docs\\Reports\\Summary.txt");
  }
  TempTree tree;
};

TEST_P(ConversionTest, LeavesTheAnswerInTheResultFile) {
  const ConversionCase& c = GetParam();
  const RunOutcome outcome = ProgramDirectory().run(substituteTree(c.commandLine, tree.path()));
  const std::string expected = c.shortFormOf ? shortPathOf(substituteTree(c.shortFormOf, tree.path())) : "bAd";
  EXPECT_EQ(outcome.result, expected);
  EXPECT_EQ(outcome.workFile, std::nullopt);
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_EQ(outcome.standardError, "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConversionTest,
    testing::Values(ConversionCase{"SpacesAround", "\"{EXE}\"    {T}\\My Documents\\report final.txt   ",
                                   "{T}\\My Documents\\report final.txt"},
                    ConversionCase{"SpacesInsideNeedNoQuotes", "\"{EXE}\" {T}\\My Documents\\report final.txt",
                                   "{T}\\My Documents\\report final.txt"},
                    ConversionCase{"TabsSeparateTheProgramName", "\"{EXE}\"\t \t{T}\\Docs\\Reports\\Summary.txt",
                                   "{T}\\Docs\\Reports\\Summary.txt"},
                    ConversionCase{"UnquotedProgramName", "{EXE} {T}\\Docs\\Reports\\Summary.txt",
                                   "{T}\\Docs\\Reports\\Summary.txt"},
                    ConversionCase{"QuotedPathKeepsItsQuotes", "\"{EXE}\" \"{T}\\My Documents\\report final.txt\"",
                                   nullptr},
                    ConversionCase{"TrailingTabKept", "\"{EXE}\" {T}\\Docs\\Reports\\Summary.txt\t", nullptr},
                    ConversionCase{"NoArgumentText", "\"{EXE}\"", nullptr},
                    ConversionCase{"OnlySpaces", "\"{EXE}\"      ", nullptr},
                    ConversionCase{"MissingPath", "\"{EXE}\" {T}\\nothing here.txt", nullptr},
                    ConversionCase{"WildcardsInSeveralComponents", "\"{EXE}\" {T}\\Docs\\Rep?rts\\Summar?.txt",
                                   "{T}\\Docs\\Reports\\Summary.txt"},
                    ConversionCase{"WildcardWithoutMatch", "\"{EXE}\" {T}\\Docs\\X*\\Summary.txt", nullptr},
                    ConversionCase{"StarFindsDotFirst", "\"{EXE}\" {T}\\Docs\\*", "{T}\\Docs\\."}),
    [](const testing::TestParamInfo<ConversionCase>& instance) { return std::string(instance.param.name); });

TEST(EndToEndTest, ExistingResultIsNeitherReplacedNorTouched) {
  TempTree tree;
  tree.makeFile("Docs\\Reports\\Summary.txt");
  const ProgramDirectory program;
  writeFile(program.resultPath(), "earlier answer");
  const RunOutcome outcome = program.run("\"{EXE}\" " + (tree / "Docs\\Reports\\Summary.txt"));
  EXPECT_EQ(outcome.exitCode, 1u);
  EXPECT_EQ(outcome.standardError.rfind(
                "getvek: cannot rename " + program.workPath() + " to " + program.resultPath() + ": ", 0),
            0u)
      << outcome.standardError;
  EXPECT_EQ(outcome.result, "earlier answer");
  EXPECT_EQ(outcome.workFile, shortPathOf(tree / "Docs\\Reports\\Summary.txt"));
}

TEST(EndToEndTest, StaleLongerWorkFileIsEmptiedFirst) {
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

// The built tool run as its caller runs it, on real trees.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/Placeholders.h"
#include "tests/linux/TestTree.h"

namespace {

using namespace TestSupport;

struct ConversionCase {
  const char* name;
  std::vector<std::string> arguments;  // "{T}" stands for the tree
  std::string result;
};

void PrintTo(const ConversionCase& c, std::ostream* out) { *out << c.name; }

class ConversionTest : public testing::TestWithParam<ConversionCase> {
 protected:
  void SetUp() override {
    tree.makeFile("My Documents/report final.txt", "report");
    tree.makeFile("Docs/Reports/Summary.txt", "summary");
    tree.makeFile("ABCDEFG.TXT");
    tree.makeFile("Menu D\xC3\xA9marrer/r\xC3\xA9sum\xC3\xA9.txt");
    tree.makeFile("a.a.a");
    tree.makeFile("TWIN/b.txt");  // names equal without regard to case
    tree.makeFile("twin/a.txt");
    tree.makeFile("My Disc Files/inside.txt");  // alias MYDISC~1
    tree.makeFile("myd\xC4\xB1sc~1");           // equal to it but for case
  }
  TempTree tree;
};

TEST_P(ConversionTest, LeavesTheAnswerInTheResultFile) {
  std::vector<std::string> arguments;
  for (const std::string& argument : GetParam().arguments) arguments.push_back(substituteTree(argument, tree.path()));
  const RunOutcome run = runFresh(arguments);
  EXPECT_EQ(run.result, substituteTree(GetParam().result, tree.path()));
  EXPECT_EQ(run.workFile, std::nullopt);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.standardOutput, "");
  EXPECT_EQ(run.standardError, "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConversionTest,
    testing::Values(
        ConversionCase{"LongNamesShortened", {"{T}/My Documents/report final.txt"}, "{T}/MYDOCU~1/REPORT~1.TXT"},
        ConversionCase{"SpacesAroundRemoved", {"   {T}/My Documents/report final.txt  "}, "{T}/MYDOCU~1/REPORT~1.TXT"},
        ConversionCase{
            "ArgumentsJoinedWithOneSpace", {"{T}/My", "Documents/report", "final.txt"}, "{T}/MYDOCU~1/REPORT~1.TXT"},
        ConversionCase{"ShortNamesStayAsOnDisk", {"{T}/Docs/Reports/Summary.txt"}, "{T}/Docs/Reports/Summary.txt"},
        ConversionCase{"AnswerFedBackAsTyped", {"{T}/mydocu~1/REPORT~1.txt"}, "{T}/mydocu~1/REPORT~1.txt"},
        ConversionCase{"LongNamesInAnotherCase", {"{T}/my documents/REPORT FINAL.TXT"}, "{T}/MYDOCU~1/REPORT~1.TXT"},
        ConversionCase{
            "ShortNamesInAnotherCaseAsTyped", {"{T}/docs/REPORTS/summary.TXT"}, "{T}/docs/REPORTS/summary.TXT"},
        ConversionCase{
            "NonAsciiNames", {"{T}/Menu D\xC3\xA9marrer/r\xC3\xA9sum\xC3\xA9.txt"}, "{T}/MENUDM~1/RSUM~1.TXT"},
        ConversionCase{"NonAsciiNamesInAnotherCase",
                       {"{T}/MENU D\xC3\x89MARRER/R\xC3\x89SUM\xC3\x89.TXT"},
                       "{T}/MENUDM~1/RSUM~1.TXT"},
        ConversionCase{"WildcardsOverNonAsciiNames", {"{T}/menu*/r?sum?.txt"}, "{T}/MENUDM~1/RSUM~1.TXT"},
        ConversionCase{"ExactSpellingFirst", {"{T}/twin/a.txt"}, "{T}/twin/a.txt"},
        ConversionCase{"OfSeveralInAnotherCaseTheFirstListed", {"{T}/tWIN/b.txt"}, "{T}/tWIN/b.txt"},
        ConversionCase{"OfSeveralInAnotherCaseOnlyTheFirst", {"{T}/tWIN/a.txt"}, "bAd"},
        ConversionCase{"AliasBeforeALongNameEqualButForCase", {"{T}/MYDISC~1/inside.txt"}, "{T}/MYDISC~1/inside.txt"},
        ConversionCase{"ChecksumAliasOfAShortBase", {"{T}/a.a.a"}, "{T}/AA6BF5~1.A"},
        ConversionCase{"QuotesKept", {"\"{T}/ABCDEFG.TXT\""}, "bAd"},
        ConversionCase{"TabsKept", {"\t{T}/ABCDEFG.TXT"}, "bAd"}, ConversionCase{"NoArgumentText", {}, "bAd"},
        ConversionCase{"OnlySpaces", {"    "}, "bAd"}, ConversionCase{"MissingPath", {"{T}/nothing here.txt"}, "bAd"},
        ConversionCase{"FileUsedAsDirectory", {"{T}/ABCDEFG.TXT/x"}, "bAd"},
        ConversionCase{
            "WildcardsInSeveralComponents", {"{T}/Docs/Rep?rts/Summar?.txt"}, "{T}/Docs/Reports/Summary.txt"},
        ConversionCase{"WildcardWithoutMatch", {"{T}/Docs/X*/Summary.txt"}, "bAd"},
        ConversionCase{"StarFindsDotFirst", {"{T}/Docs/*"}, "{T}/Docs/."},
        ConversionCase{"StarDotFindsDotFirst", {"{T}/Docs/*."}, "{T}/Docs/."},
        ConversionCase{"WildcardMatchesAnAlias", {"{T}/MYDOC*/report~1.txt"}, "{T}/MYDOCU~1/report~1.txt"},
        ConversionCase{"WildcardBeforeSeparatorAtEnd", {"{T}/My Doc*/"}, "{T}/MYDOCU~1"}),
    [](const testing::TestParamInfo<ConversionCase>& instance) { return std::string(instance.param.name); });

TEST(EndToEndTest, AnswerOfElevenCharactersIsElevenBytes) {
  TempTree tree;
  tree.makeFile("ABCDEFG.TXT");
  EXPECT_EQ(runFresh({"ABCDEFG.TXT"}, inDirectory(tree.path())).result, "ABCDEFG.TXT");
}

TEST(EndToEndTest, AnswerMustFitTheBufferWithItsTerminator) {
  TempTree tree;
  std::string directories;
  for (int i = 0; i < 110; ++i) directories += "AAAAAAAA/";  // 990 characters
  tree.makeFile(directories + "ABCDEFG.T");
  tree.makeFile(directories + "ABCDEFGH.T");
  EXPECT_EQ(runFresh({directories + "ABCDEFG.T"}, inDirectory(tree.path())).result, directories + "ABCDEFG.T");  // 999
  EXPECT_EQ(runFresh({directories + "ABCDEFGH.T"}, inDirectory(tree.path())).result, "bAd");                     // 1000
}

TEST(EndToEndTest, ExistingResultIsNeitherReplacedNorTouched) {
  TempTree tree;
  const std::string file = tree.makeFile("ABCDEFG.TXT");
  const ProgramDirectory program;
  const std::string earlier = "earlier answer";
  makeFile(program.resultPath(), earlier);
  const RunOutcome run = program.run({file});
  EXPECT_EQ(run.exitStatus, 75);
  EXPECT_EQ(run.standardError,
            "getvek: cannot rename " + program.workPath() + " to " + program.resultPath() + ": File exists\n");
  EXPECT_EQ(run.result, earlier);
  EXPECT_EQ(run.workFile, file);
}

TEST(EndToEndTest, StaleLongerWorkFileIsEmptiedFirst) {
  TempTree tree;
  const std::string file = tree.makeFile("ABCDEFG.TXT");
  const ProgramDirectory program;
  makeFile(program.workPath(), std::string(4000, 'x'));
  const RunOutcome run = program.run({file});
  EXPECT_EQ(run.result, file);
  EXPECT_EQ(run.workFile, std::nullopt);
}

TEST(EndToEndTest, AliasesNumberedInCreationOrder) {
  TempTree tree;
  const std::vector<std::string> created = {"long file name 3.txt", "long file name 1.txt", "long file name 6.txt",
                                            "long file name 2.txt", "long file name 5.txt", "long file name 4.txt"};
  // Apart by more than the file system's clock tick, so that birth times
  // rather than inode numbers decide the order.
  for (const std::string& name : created) {
    tree.makeFile(name);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }

  std::set<std::string> answers;
  for (std::size_t i = 0; i < created.size(); ++i) {
    const std::string answer = runFresh({tree / created[i]}).result.value_or("<none>");
    const std::string alias = answer.substr(tree.path().size() + 1);
    if (i < 4)
      EXPECT_EQ(alias, "LONGFI~" + std::to_string(i + 1) + ".TXT") << created[i];
    else
      EXPECT_TRUE(std::regex_match(alias, std::regex("LO[0-9A-F]{4}~1\\.TXT"))) << created[i] << " -> " << alias;
    EXPECT_TRUE(answers.insert(answer).second) << answer;
    EXPECT_EQ(runFresh({answer}).result, answer) << "fed back";
  }

  // A later file changes no earlier alias.
  tree.makeFile("long file name 0.txt");
  EXPECT_EQ(runFresh({tree / created[0]}).result, tree / "LONGFI~1.TXT");
}

}  // namespace

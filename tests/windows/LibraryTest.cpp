// The library's narrow function (library/getvek.h) against the built tool
// on the same tree: in the ANSI code page both, every answer the tool's.
#include <gtest/gtest.h>

#include <string>

#include "getvek.h"
#include "tests/windows/TestTree.h"

namespace {

using namespace TestSupport;

TEST(LibraryTest, AnswersAsTheTool) {
  TempTree tree;
  tree.makeFile("My Documents\\report final.txt");
  tree.makeFile("Docs\\Reports\\Summary.txt");
  tree.makeFile("Long Folder Name\\abc.txt");
  for (const char* text : {"{T}\\My Documents\\report final.txt", "  {T}\\My*\\rep*  ", "{T}/Docs/Reports/Summary.txt",
                           "{T}\\Long Folder Name\\..\\My Documents", "{T}\\missing\\x.txt", "{T}\\nothing*"}) {
    const std::string argument = substituteTree(text, tree.path());
    const RunOutcome tool = ProgramDirectory().run("\"{EXE}\" " + argument);
    char answer[1000];
    ASSERT_EQ(getvek_short_form(argument.c_str(), answer, sizeof answer), 0) << argument << ": " << answer;
    EXPECT_EQ(tool.result, std::string(answer)) << argument;
  }
  // Answers of the system's own, not merely the tool's.
  const std::string longPath = tree.path() + "\\My Documents\\report final.txt";
  char answer[1000];
  ASSERT_EQ(getvek_short_form(longPath.c_str(), answer, sizeof answer), 0);
  EXPECT_EQ(std::string(answer), shortPathOf(longPath));
}

}  // namespace

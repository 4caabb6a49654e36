// The library (library/getvek.h) against the built tool on the same tree:
// the narrow function in the ANSI code page, every answer the tool's; the
// wide one the same answers in UTF-16, and exact where the code page lacks
// a name's characters.
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
    wchar_t wide[1000];
    ASSERT_EQ(getvek_short_formW(widen(argument).c_str(), wide, 1000), 0) << argument;
    EXPECT_EQ(tool.result, narrowExactly(wide)) << argument;
  }
  // Answers of the system's own, not merely the tool's.
  const std::string longPath = tree.path() + "\\My Documents\\report final.txt";
  char answer[1000];
  ASSERT_EQ(getvek_short_form(longPath.c_str(), answer, sizeof answer), 0);
  EXPECT_EQ(std::string(answer), shortPathOf(longPath));
}

// A directory whose name code page 1252 cannot write, with a wildcard after
// it: the wide answer is the system's own short path, read and written in
// UTF-16, and a buffer one unit short is refused.
TEST(LibraryTest, WideAnswersWhatTheCodePageLacks) {
  TempTree tree;
  tree.makeFile(L"\u03A9mega folder\\report final.txt");
  const std::wstring pattern = widen(tree.path()) + L"\\\u03A9mega folder\\rep*";
  const std::wstring longPath = widen(tree.path()) + L"\\\u03A9mega folder\\report final.txt";
  wchar_t expected[1000];
  const DWORD length = GetShortPathNameW(longPath.c_str(), expected, 1000);
  ASSERT_GT(length, 0u);
  wchar_t answer[1000];
  ASSERT_EQ(getvek_short_formW(pattern.c_str(), answer, 1000), 0);
  EXPECT_EQ(std::wstring(answer), std::wstring(expected, length));
  EXPECT_EQ(getvek_short_formW(pattern.c_str(), answer, length), GETVEK_TOO_SMALL);
  EXPECT_EQ(answer[0], L'\0');
}

}  // namespace

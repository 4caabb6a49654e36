// The built getvek.exe where its result file is at risk: something not its
// own under the work file's name, another run holding the program directory,
// runs started together, and a program directory whose name the ANSI code
// page cannot hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/windows/RunLock.h"
#include "tests/windows/TestTree.h"

namespace {

using namespace TestSupport;

// Something planted under the work file's name beside a file elsewhere that
// holds somebody's data.
struct ForeignWorkFileCase {
  const char* name;
  void (*plant)(const std::wstring& workPath, const std::wstring& elsewhere);
  const char* reason;  // what the run reports after the path; nullptr: the system's message
};

void PrintTo(const ForeignWorkFileCase& c, std::ostream* out) { *out << c.name; }

constexpr const char* refusal = "not a plain, writable file with a single link";

class ForeignWorkFileTest : public testing::TestWithParam<ForeignWorkFileCase> {
 protected:
  TempTree tree;
  ProgramDirectory program;
};

TEST_P(ForeignWorkFileTest, EndsTheRunTouchingNothing) {
  const std::string precious = "not the tool's to write";
  tree.makeFile("ABCDEFG.TXT");
  writeFile(tree / "precious.dat", precious);
  GetParam().plant(program.workPathW(), widen(tree / "precious.dat", CP_ACP));
  const std::optional<std::string> planted = readFile(program.workPathW());
  const RunOutcome outcome = program.run("\"{EXE}\" " + (tree / "ABCDEFG.TXT"));
  EXPECT_EQ(outcome.exitCode, 1u);
  const std::string failure = "getvek: cannot open " + program.workPath() + ": ";
  if (GetParam().reason != nullptr)
    EXPECT_EQ(outcome.standardError, failure + GetParam().reason + "\r\n");
  else
    EXPECT_EQ(outcome.standardError.rfind(failure, 0), 0u) << outcome.standardError;
  EXPECT_EQ(outcome.result, std::nullopt);
  EXPECT_EQ(readFile(tree / "precious.dat"), precious);
  EXPECT_EQ(readFile(program.workPathW()), planted);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ForeignWorkFileTest,
    testing::Values(ForeignWorkFileCase{"HardLink",
                                        [](const std::wstring& work, const std::wstring& elsewhere) {
                                          ASSERT_TRUE(CreateHardLinkW(work.c_str(), elsewhere.c_str(), nullptr));
                                        },
                                        refusal},
                    ForeignWorkFileCase{"HiddenFile",
                                        [](const std::wstring& work, const std::wstring&) {
                                          writeFile(toAnsi(work), "hidden");
                                          ASSERT_TRUE(SetFileAttributesW(work.c_str(), FILE_ATTRIBUTE_HIDDEN));
                                        },
                                        refusal},
                    ForeignWorkFileCase{"ReadOnlyFile",
                                        [](const std::wstring& work, const std::wstring&) {
                                          writeFile(toAnsi(work), "read-only");
                                          ASSERT_TRUE(SetFileAttributesW(work.c_str(), FILE_ATTRIBUTE_READONLY));
                                        },
                                        refusal},
                    ForeignWorkFileCase{"Directory",
                                        [](const std::wstring& work, const std::wstring&) {
                                          ASSERT_TRUE(CreateDirectoryW(work.c_str(), nullptr));
                                        },
                                        nullptr}),
    [](const testing::TestParamInfo<ForeignWorkFileCase>& instance) { return std::string(instance.param.name); });

TEST(RunLockTest, AnotherRunHoldingTheDirectoryTouchesNeitherFile) {
  TempTree tree;
  tree.makeFile("ABCDEFG.TXT");
  const ProgramDirectory program;
  writeFile(program.workPath(), "an earlier run's answer, left behind");
  writeFile(program.resultPath(), "an earlier result");
  const HANDLE held = CreateMutexW(nullptr, TRUE, Platform::Windows::runLockName(program.directory()).c_str());
  ASSERT_NE(held, nullptr);
  const RunOutcome outcome = program.run("\"{EXE}\" " + (tree / "ABCDEFG.TXT"));
  ReleaseMutex(held);
  CloseHandle(held);
  EXPECT_EQ(outcome.exitCode, 75u);
  EXPECT_EQ(outcome.standardError,
            "getvek: cannot lock " + toAnsi(program.directory()) + ": another run is using it\r\n");
  EXPECT_EQ(outcome.workFile, "an earlier run's answer, left behind");
  EXPECT_EQ(outcome.result, "an earlier result");
}

// Runs started together from one program directory, each converting its own
// path: exactly one leaves its answer. A run that found the directory taken
// touched nothing; one that started after the winner had finished wrote its
// own work file and failed at the rename, which never replaces the result.
// Both exit with status 75: worth retrying.
TEST(ConcurrentRunsTest, ExactlyOneAnswersAndTheOthersTouchNothing) {
  constexpr int rounds = 20;
  constexpr int runsAtOnce = 16;
  TempTree tree;
  std::vector<std::string> answers;
  for (int i = 0; i < runsAtOnce; ++i) {
    // Of different lengths, so that a mix of two could not pass for one.
    const std::string name = std::string(static_cast<std::size_t>(i % 8 + 1), 'A') + "." + std::to_string(i % 10);
    tree.makeFile(name);
    answers.push_back(shortPathOf(tree / name));
  }
  const ProgramDirectory program;
  int answered = 0;
  int refusedAtTheLock = 0;
  int failedAtTheRename = 0;
  for (int round = 0; round < rounds; ++round) {
    DeleteFileW(program.resultPathW().c_str());
    DeleteFileW(program.workPathW().c_str());
    std::vector<StartedRun> started;
    for (const std::string& answer : answers) started.push_back(program.start(widen(answer, CP_ACP), true));
    for (const StartedRun& run : started) ResumeThread(run.process.hThread);
    std::vector<RunOutcome> outcomes;
    // The files are read only once every run has ended: a reader holding the
    // work file open would make a run's open fail.
    for (const StartedRun& run : started) finishProcess(run, outcomes.emplace_back());

    const std::optional<std::string> result = readFile(program.resultPathW());
    const std::optional<std::string> workLeft = readFile(program.workPathW());
    const std::string lockRefusal =
        "getvek: cannot lock " + toAnsi(program.directory()) + ": another run is using it\r\n";
    const std::string renameFailure =
        "getvek: cannot rename " + program.workPath() + " to " + program.resultPath() + ": ";
    int winners = 0;
    std::vector<std::string> renameFailers;
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
      const RunOutcome& outcome = outcomes[i];
      if (outcome.exitCode == 0) {
        ++winners;
        EXPECT_EQ(outcome.standardError, "");
        EXPECT_EQ(result, answers[i]) << "round " << round;
      } else if (outcome.standardError == lockRefusal) {
        EXPECT_EQ(outcome.exitCode, 75u);
        ++refusedAtTheLock;
      } else {
        EXPECT_EQ(outcome.exitCode, 75u);
        EXPECT_EQ(outcome.standardError.rfind(renameFailure, 0), 0u) << outcome.standardError;
        renameFailers.push_back(answers[i]);
        ++failedAtTheRename;
      }
    }
    EXPECT_EQ(winners, 1) << "round " << round;
    answered += winners;
    // A work file is left only by a run that failed at the rename, and holds
    // that run's own answer.
    if (renameFailers.empty()) {
      EXPECT_EQ(workLeft, std::nullopt) << "round " << round;
    } else {
      ASSERT_TRUE(workLeft.has_value()) << "round " << round;
      EXPECT_NE(std::find(renameFailers.begin(), renameFailers.end(), *workLeft), renameFailers.end()) << *workLeft;
    }
  }
  EXPECT_EQ(answered, rounds);
  std::printf("%d rounds of %d runs: %d answered, %d refused at the lock, %d failed at the rename\n", rounds,
              runsAtOnce, answered, refusedAtTheLock, failedAtTheRename);
}

// A program directory whose name the ANSI code page cannot hold exactly: the
// result still lands beside the executable, and nowhere else, not even in a
// sibling directory named like the look-alike that best fit would make of it.
struct DirectoryNameCase {
  const char* name;
  const wchar_t* directoryName;
  const wchar_t* lookAlike;  // nullptr: none
  const char* shown;         // in an error line, in code page 1252
};

void PrintTo(const DirectoryNameCase& c, std::ostream* out) { *out << c.name; }

std::vector<std::wstring> entriesOf(const std::wstring& directory) {
  std::vector<std::wstring> entries;
  WIN32_FIND_DATAW entry;
  const HANDLE search = FindFirstFileW((directory + L"\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return entries;
  do {
    entries.push_back(entry.cFileName);
  } while (FindNextFileW(search, &entry));
  FindClose(search);
  std::sort(entries.begin(), entries.end());
  return entries;
}

class ProgramDirectoryNameTest : public testing::TestWithParam<DirectoryNameCase> {};

TEST_P(ProgramDirectoryNameTest, ResultLandsBesideTheExecutable) {
  TempTree tree;
  tree.makeFile("My Documents\\report final.txt");
  const ProgramDirectory program(GetParam().directoryName);
  const std::wstring parent = program.directory().substr(0, program.directory().rfind(L'\\'));
  std::vector<std::wstring> siblings{L".", L"..", GetParam().directoryName};
  if (GetParam().lookAlike != nullptr) {
    ASSERT_TRUE(CreateDirectoryW((parent + L"\\" + GetParam().lookAlike).c_str(), nullptr));
    siblings.push_back(GetParam().lookAlike);
    std::sort(siblings.begin(), siblings.end());
  }
  const std::string longPath = tree / "My Documents\\report final.txt";
  const RunOutcome outcome = program.finish(program.start(widen(longPath, CP_ACP)));
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_EQ(outcome.standardError, "");
  EXPECT_EQ(outcome.result, shortPathOf(longPath));
  EXPECT_EQ(entriesOf(parent), siblings);
  if (GetParam().lookAlike != nullptr) {
    EXPECT_EQ(entriesOf(parent + L"\\" + GetParam().lookAlike), (std::vector<std::wstring>{L".", L".."}));
  }
}

// Each character the code page lacks is one "?" in the line, whether it
// takes one UTF-16 unit or two.
TEST_P(ProgramDirectoryNameTest, ErrorLineShowsEachMissingCharacterOnce) {
  if (GetACP() != 1252) GTEST_SKIP() << "the expected lines are written for code page 1252";
  TempTree tree;
  tree.makeFile("ABCDEFG.TXT");
  const ProgramDirectory program(GetParam().directoryName);
  ASSERT_TRUE(CreateDirectoryW(program.resultPathW().c_str(), nullptr));  // the result's name is taken
  const RunOutcome outcome = program.finish(program.start(widen(tree / "ABCDEFG.TXT", CP_ACP)));
  const std::string shown = toAnsi(program.directory().substr(0, program.directory().rfind(L'\\'))) + "\\" +
                            GetParam().shown;
  EXPECT_EQ(outcome.exitCode, 75u);
  EXPECT_EQ(outcome.standardError.rfind("getvek: cannot rename " + shown + "\\VEK.TX to " + shown + "\\VEK.TXT: ", 0),
            0u)
      << outcome.standardError;
}

INSTANTIATE_TEST_SUITE_P(Names, ProgramDirectoryNameTest,
                         testing::Values(DirectoryNameCase{"Greek", L"\u03A9mega", L"Omega", "?mega"},
                                         DirectoryNameCase{"Chinese", L"\u4E2D\u6587", nullptr, "??"},
                                         DirectoryNameCase{"Emoji", L"\U0001F600app", nullptr, "?app"}),
                         [](const testing::TestParamInfo<DirectoryNameCase>& instance) {
                           return std::string(instance.param.name);
                         });

}  // namespace

// The real binary under faults: each failure ends the run with exit status 1,
// one line naming the operation, the path and the reason, no result file,
// and nothing of anybody else's touched.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "tests/linux/TestTree.h"

namespace {

using namespace TestSupport;

void expectFailure(const RunOutcome& run, const std::string& message) {
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.standardError, message);
  EXPECT_EQ(run.standardOutput, "");
  EXPECT_EQ(run.result, std::nullopt);
}

class FaultTest : public testing::Test {
 protected:
  void SetUp() override { file = tree.makeFile("ABCDEFG.TXT"); }
  TempTree tree;
  std::string file;
  ProgramDirectory program;
};

TEST_F(FaultTest, ProgramDirectoryNotWritable) {
  ASSERT_EQ(::chmod(program.path().c_str(), 0555), 0);
  RunOptions options;
  options.unprivileged = true;
  const RunOutcome run = program.run({file}, options);
  expectFailure(run, "getvek: cannot open " + program.workPath() + ": Permission denied\n");
  EXPECT_FALSE(exists(program.workPath()));
}

TEST_F(FaultTest, WorkFileNameTakenByADirectory) {
  ASSERT_EQ(::mkdir(program.workPath().c_str(), 0755), 0);
  expectFailure(program.run({file}), "getvek: cannot open " + program.workPath() + ": Is a directory\n");
  EXPECT_TRUE(isDirectory(program.workPath()));
}

TEST_F(FaultTest, WorkFileNameIsASymbolicLinkToAFileElsewhere) {
  const std::string elsewhere = tree.makeFile("precious.dat", "not the tool's to write");
  ASSERT_EQ(::symlink(elsewhere.c_str(), program.workPath().c_str()), 0);
  expectFailure(program.run({file}),
                "getvek: cannot open " + program.workPath() + ": Too many levels of symbolic links\n");
  EXPECT_EQ(readFile(elsewhere), "not the tool's to write");
}

TEST_F(FaultTest, FileSizeLimitReachedWhileWriting) {
  RunOptions options;
  options.fileSizeLimit = 0;
  expectFailure(program.run({file}, options), "getvek: cannot write " + program.workPath() + ": File too large\n");
}

TEST_F(FaultTest, AnotherRunHoldingTheDirectoryTouchesNeitherFile) {
  const std::string workLeft = "an earlier run's answer, left behind";
  const std::string earlier = "an earlier result";
  makeFile(program.workPath(), workLeft);
  makeFile(program.resultPath(), earlier);
  const int held = ::open(program.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  const RunOutcome run = program.run({file});
  ::close(held);
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.standardError, "getvek: cannot lock " + program.path() + ": another run is using it\n");
  EXPECT_EQ(run.workFile, workLeft);
  EXPECT_EQ(run.result, earlier);
}

// Runs started together in one program directory: every result file that
// appears holds one run's whole answer, and every other run says why it
// gave way.
TEST(ConcurrentRunsTest, NeverLeaveATornResult) {
  constexpr int rounds = 200;
  constexpr int runsAtOnce = 16;
  TempTree tree;
  std::vector<std::string> answers;
  for (int i = 0; i < runsAtOnce; ++i) {
    // Of different lengths, so that a mix of two could not pass for one.
    answers.push_back(
        tree.makeFile(std::string(static_cast<std::size_t>(i % 8 + 1), 'A') + "." + std::to_string(i % 10)));
  }
  const ProgramDirectory program;
  int succeeded = 0;
  for (int round = 0; round < rounds; ++round) {
    ::unlink(program.resultPath().c_str());
    ::unlink(program.workPath().c_str());
    std::vector<StartedRun> started;
    for (const std::string& answer : answers) started.push_back(program.start({answer}));
    std::vector<RunOutcome> outcomes;
    for (const StartedRun& run : started) outcomes.push_back(program.finish(run));

    const std::optional<std::string> result =
        exists(program.resultPath()) ? std::optional(readFile(program.resultPath())) : std::nullopt;
    int zeros = 0;
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
      const RunOutcome& outcome = outcomes[i];
      ASSERT_FALSE(outcome.timedOut) << "round " << round;
      if (outcome.exitStatus == 0) {
        ++zeros;
        EXPECT_EQ(result, answers[i]) << "round " << round;
      } else {
        EXPECT_EQ(outcome.exitStatus, 1) << "round " << round;
        EXPECT_EQ(outcome.standardError.rfind("getvek: cannot ", 0), 0u) << outcome.standardError;
      }
    }
    EXPECT_EQ(zeros, 1) << "round " << round;
    if (exists(program.workPath())) {
      const std::string left = readFile(program.workPath());
      EXPECT_TRUE(std::find(answers.begin(), answers.end(), left) != answers.end())
          << "round " << round << ": " << left;
    }
    succeeded += zeros;
  }
  EXPECT_EQ(succeeded, rounds);
}

}  // namespace

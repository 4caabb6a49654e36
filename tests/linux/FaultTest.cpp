// The real binary under faults: each failure ends the run with exit status 1,
// one line naming the operation, the path and the reason, no result file,
// and nothing of anybody else's touched; a run that gave way to another ends
// with exit status 75 instead.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
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

// The program directory without the permission a run needs. The lock opens
// the directory for reading, which a directory that can only be written and
// searched does not allow.
struct PermissionCase {
  const char* name;
  mode_t mode;
  const char* failedOperation;  // the path follows it: the directory's, or the work file's
  bool onWorkFile;
  const char* reason;
};

class ProgramDirectoryPermissionTest : public FaultTest, public testing::WithParamInterface<PermissionCase> {};

TEST_P(ProgramDirectoryPermissionTest, EndsTheRunTouchingNothing) {
  const PermissionCase& c = GetParam();
  ASSERT_EQ(::chmod(program.path().c_str(), c.mode), 0);
  RunOptions options;
  options.unprivileged = true;
  const RunOutcome run = program.run({file}, options);
  expectFailure(run, std::string("getvek: cannot ") + c.failedOperation + " " +
                         (c.onWorkFile ? program.workPath() : program.path()) + ": " + c.reason + "\n");
  EXPECT_FALSE(exists(program.workPath()));
}

INSTANTIATE_TEST_SUITE_P(Modes, ProgramDirectoryPermissionTest,
                         testing::Values(PermissionCase{"NotWritable", 0555, "open", true, "Permission denied"},
                                         PermissionCase{"NotReadable", 0333, "open", false, "Permission denied"}),
                         [](const testing::TestParamInfo<PermissionCase>& instance) {
                           return std::string(instance.param.name);
                         });

// Something other than a plain file of the tool's own under the work file's
// name, planted by `plant` given the work file's path and a file elsewhere
// that holds somebody's data.
struct ForeignWorkFileCase {
  const char* name;
  void (*plant)(const std::string& workPath, const std::string& elsewhere);
};

class ForeignWorkFileTest : public FaultTest, public testing::WithParamInterface<ForeignWorkFileCase> {};

// Refused promptly, before anything is written or emptied: every file on
// either side stays byte for byte as it was, and no result appears.
TEST_P(ForeignWorkFileTest, EndsTheRunTouchingNothing) {
  const std::string elsewhere = tree.makeFile("elsewhere/precious.dat", "not the tool's to write");
  GetParam().plant(program.workPath(), elsewhere);
  const auto programBefore = snapshot(program.path());
  const auto treeBefore = snapshot(tree.path());
  RunOptions options;
  options.timeoutSeconds = 1;
  expectFailure(program.run({file}, options),
                "getvek: cannot open " + program.workPath() + ": not a plain file of this user with a single link\n");
  EXPECT_EQ(snapshot(program.path()), programBefore);
  EXPECT_EQ(snapshot(tree.path()), treeBefore);
}

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ForeignWorkFileTest,
    testing::Values(
        ForeignWorkFileCase{"HardLink",
                            [](const std::string& work, const std::string& elsewhere) {
                              check(::link(elsewhere.c_str(), work.c_str()) == 0, "link");
                            }},
        // Moved in by a user who may rename in both directories but not write the file.
        ForeignWorkFileCase{"FileOfAnotherUser",
                            [](const std::string& work, const std::string& elsewhere) {
                              const std::string moved = elsewhere + ".theirs";
                              makeFile(moved, "somebody else's");
                              check(::chown(moved.c_str(), 65534, 65534) == 0, "chown");
                              check(::rename(moved.c_str(), work.c_str()) == 0, "rename");
                            }},
        ForeignWorkFileCase{"SymbolicLink",
                            [](const std::string& work, const std::string& elsewhere) {
                              check(::symlink(elsewhere.c_str(), work.c_str()) == 0, "symlink");
                            }},
        ForeignWorkFileCase{"DanglingSymbolicLink",
                            [](const std::string& work, const std::string& elsewhere) {
                              check(::symlink((elsewhere + ".new").c_str(), work.c_str()) == 0, "symlink");
                            }},
        ForeignWorkFileCase{"Fifo", [](const std::string& work,
                                       const std::string&) { check(::mkfifo(work.c_str(), 0666) == 0, "mkfifo"); }},
        ForeignWorkFileCase{"Socket",
                            [](const std::string& work, const std::string&) {
                              const int server = ::socket(AF_UNIX, SOCK_STREAM, 0);
                              struct sockaddr_un address {};
                              address.sun_family = AF_UNIX;
                              check(work.size() < sizeof address.sun_path, "socket path length");
                              std::memcpy(address.sun_path, work.c_str(), work.size() + 1);
                              check(::bind(server, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0,
                                    "bind");
                              ::close(server);
                            }},
        ForeignWorkFileCase{"Directory", [](const std::string& work,
                                            const std::string&) { check(::mkdir(work.c_str(), 0755) == 0, "mkdir"); }}),
    [](const testing::TestParamInfo<ForeignWorkFileCase>& instance) { return std::string(instance.param.name); });

// A racer that keeps putting another user's file under the work file's name
// and taking it away again, while runs go on: whatever a run saw, the file
// is never written nor published as the result. A racer that moves the file
// itself there may find it removed: a check fooled by the race removes a
// name, as the racer, who may rename the file, could remove it too. Bounded
// rounds; nothing is asserted of timing.
struct RacerCase {
  const char* name;
  void (*put)(const std::string& victim, const std::string& work);
  void (*takeBack)(const std::string& victim, const std::string& work);
  bool mayBeRemoved;
};

class WorkFileRaceTest : public FaultTest, public testing::WithParamInterface<RacerCase> {};

TEST_P(WorkFileRaceTest, NeverWritesTheRacersFile) {
  const std::string precious = "not the tool's to write";
  const std::string victim = tree.makeFile("elsewhere/precious.dat", precious);
  ASSERT_EQ(::chown(victim.c_str(), 65534, 65534), 0);
  std::atomic<bool> done{false};
  std::thread racer([&] {
    while (!done) {
      GetParam().put(victim, program.workPath());
      GetParam().takeBack(victim, program.workPath());
    }
  });
  for (int round = 0; round < 300; ++round) {
    const RunOutcome run = program.run({file});
    ::unlink(program.resultPath().c_str());
    EXPECT_TRUE(run.exitStatus == 0 || run.exitStatus == 1) << run.standardError;
    EXPECT_NE(run.result, precious);
  }
  done = true;
  racer.join();
  GetParam().takeBack(victim, program.workPath());
  const std::optional<std::string> left = readFileIfThere(victim);
  if (left || !GetParam().mayBeRemoved) {
    EXPECT_EQ(left, precious);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Racers, WorkFileRaceTest,
    testing::Values(RacerCase{"LinkedAndUnlinked",
                              [](const std::string& victim, const std::string& work) {
                                ::link(victim.c_str(), work.c_str());
                              },
                              [](const std::string&, const std::string& work) { ::unlink(work.c_str()); }, false},
                    RacerCase{"RenamedOntoAndBack",
                              [](const std::string& victim, const std::string& work) {
                                ::rename(victim.c_str(), work.c_str());
                              },
                              [](const std::string& victim, const std::string& work) {
                                struct stat status {};
                                // Only the victim itself goes back, never a work file of the tool's.
                                if (::lstat(work.c_str(), &status) == 0 && status.st_uid == 65534)
                                  ::rename(work.c_str(), victim.c_str());
                              },
                              true}),
    [](const testing::TestParamInfo<RacerCase>& instance) { return std::string(instance.param.name); });

// Too few descriptors to look the path up: the run cannot find out, which is
// no "bAd". Below five the process cannot even take its directory.
TEST_F(FaultTest, TooFewOpenFilesIsAFailureNotAnAnswer) {
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(undefined_behavior_sanitizer)
  GTEST_SKIP() << "the sanitizers' own checks need descriptors of their own (/proc/self/maps)";
#endif
#endif
  const std::string deep = tree.makeFile("Long Directory/Long Directory/Long Directory/report final.txt");
  for (unsigned long limit = 5; limit <= 7; ++limit) {
    RunOptions options;
    options.openFileLimit = limit;
    const RunOutcome run = program.run({deep}, options);
    ::unlink(program.resultPath().c_str());
    if (run.exitStatus == 0) {
      EXPECT_NE(run.result, "bAd") << limit;
    } else {
      EXPECT_EQ(run.exitStatus, 1) << limit;
      EXPECT_NE(run.standardError.find(": Too many open files\n"), std::string::npos) << run.standardError;
      EXPECT_FALSE(exists(program.workPath())) << limit;
    }
  }
}

// Not ignored by the caller: the tool itself must not end by the signal.
TEST_F(FaultTest, FileSizeLimitReachedWhileWriting) {
  RunOptions options;
  options.fileSizeLimit = 0;
  expectFailure(program.run({file}, options), "getvek: cannot write " + program.workPath() + ": File too large\n");
}

// An append-only program directory lets the result be linked but not the
// work name be removed: the answer is published, so the run has answered.
TEST_F(FaultTest, WorkNameLeftAfterThePublishedAnswer) {
  const int directory = ::open(program.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(directory, 0);
  int flags = 0;
  if (::ioctl(directory, FS_IOC_GETFLAGS, &flags) != 0) {
    const int error = errno;
    ::close(directory);
    GTEST_SKIP() << "the file system keeps no inode flags: " << std::strerror(error);
  }
  const int appendOnly = flags | FS_APPEND_FL;
  if (::ioctl(directory, FS_IOC_SETFLAGS, &appendOnly) != 0) {
    const int error = errno;
    ::close(directory);
    GTEST_SKIP() << "cannot make the program directory append-only: " << std::strerror(error);
  }
  const RunOutcome run = program.run({file});
  EXPECT_EQ(::ioctl(directory, FS_IOC_SETFLAGS, &flags), 0);
  ::close(directory);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.standardError, "");
  EXPECT_EQ(run.result, file);
  EXPECT_EQ(run.workFile, file);
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
  EXPECT_EQ(run.exitStatus, 75);
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
        EXPECT_EQ(outcome.exitStatus, 75) << "round " << round << ": " << outcome.standardError;
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

// The host library (host/getvek_call.h) calling the built tool in a fresh
// program directory, as a host application does: its answers are the tool's
// own, also from many threads and processes at once; a refused run is
// repeated; a run past the timeout is ended; a missing tool is reported.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "getvek_call.h"
#include "tests/Placeholders.h"

#ifdef _WIN32
#include "platform/windows/RunLock.h"
#include "tests/windows/TestTree.h"
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tests/linux/TestTree.h"
#endif

namespace {

using namespace TestSupport;

constexpr unsigned ampleMs = 60000;

// What each platform's harness spells differently.
#ifdef _WIN32
constexpr int rounds = 1;  // a run under Wine costs some forty times a Linux run

std::string native(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}
std::string toolIn(const ProgramDirectory& program) { return program.executable(); }
std::string besideTheTests(const std::string& name) { return directoryOfThisProgram() + "\\" + name + ".exe"; }
std::string copiedInto(const TempTree& tree, const std::string& program) {
  const std::string copy = tree / "getvek.exe";
  if (!CopyFileA(program.c_str(), copy.c_str(), TRUE)) throw std::runtime_error("copy " + program);
  return copy;
}
void leave(const std::string& path, const std::string& content) { writeFile(path, content); }
std::optional<std::string> contentOf(const std::string& path) { return readFile(path); }
std::optional<std::string> directAnswer(const std::string& path) {
  return ProgramDirectory().run("\"{EXE}\" " + path).result;
}
std::string refusalLine(const ProgramDirectory& program) {
  return "getvek: cannot lock " + toAnsi(program.directory()) + ": another run is using it";
}
std::string fileNotFound() {
  char message[512];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                ERROR_FILE_NOT_FOUND, 0, message, sizeof message, nullptr);
  while (length > 0 && (message[length - 1] == '\n' || message[length - 1] == '\r' || message[length - 1] == ' '))
    --length;
  return std::string(message, length);
}
bool isRunning(unsigned long processId) {
  const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
  if (process == nullptr) return false;
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}
// cmd.exe takes the command between an outer pair of quotes.
std::string shellCommand(const std::string& command) { return "\"" + command + "\""; }

// The tool's own lock on its program directory, held in a run's place.
class ToolLock {
 public:
  explicit ToolLock(const ProgramDirectory& program)
      : mutex_(CreateMutexW(nullptr, TRUE, Platform::Windows::runLockName(program.directory()).c_str())) {
    if (mutex_ == nullptr) throw std::runtime_error("CreateMutexW");
  }
  ~ToolLock() { release(); }
  void release() {
    if (mutex_ == nullptr) return;
    ReleaseMutex(mutex_);
    CloseHandle(mutex_);
    mutex_ = nullptr;
  }

 private:
  HANDLE mutex_;
};
#else
constexpr int rounds = 10;

std::string native(std::string path) { return path; }
std::string toolIn(const ProgramDirectory& program) { return program.path() + "/getvek"; }
std::string besideTheTests(const std::string& name) { return std::string(GETVEK_TEST_PROGRAMS) + "/" + name; }
std::string copiedInto(const TempTree& tree, const std::string& program) {
  return makeFile(tree / "getvek", readFile(program), 0755);
}
void leave(const std::string& path, const std::string& content) { makeFile(path, content); }
std::optional<std::string> contentOf(const std::string& path) {
  return exists(path) ? std::optional(readFile(path)) : std::nullopt;
}
std::optional<std::string> directAnswer(const std::string& path) { return runFresh({path}).result; }
std::string refusalLine(const ProgramDirectory& program) {
  return "getvek: cannot lock " + program.path() + ": another run is using it";
}
std::string fileNotFound() { return std::strerror(ENOENT); }
// A child the library left unreaped would still answer.
bool isRunning(unsigned long processId) { return ::kill(static_cast<pid_t>(processId), 0) == 0; }
std::string shellCommand(const std::string& command) { return command; }

class ToolLock {
 public:
  explicit ToolLock(const ProgramDirectory& program)
      : directory_(::open(program.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    checkSystemCall(directory_ >= 0 && ::flock(directory_, LOCK_EX) == 0, "lock " + program.path());
  }
  ~ToolLock() { release(); }
  void release() {
    if (directory_ >= 0) ::close(directory_);
    directory_ = -1;
  }

 private:
  int directory_;
};
#endif

struct Call {
  int status;
  std::string answer;
};

// Through the wide entry, where there is one, when asked.
Call call(const std::string& tool, const std::string& path, unsigned timeoutMs = ampleMs, bool wide = false) {
  char answer[1000];
#ifdef _WIN32
  if (wide) return {getvek_callW(widen(tool).c_str(), widen(path).c_str(), answer, sizeof answer, timeoutMs), answer};
#else
  (void)wide;
#endif
  const int status = getvek_call(tool.c_str(), path.c_str(), answer, sizeof answer, timeoutMs);
  return {status, answer};
}

constexpr const char* reportFinal = "My Documents/report final.txt";

struct CallCase {
  const char* name;
  const char* path;        // "{T}" the tree; "/" the platform's separator
  const char* expected;    // nullptr: what the tool answers when started directly, not "bAd"
  const char* resultLeft;  // a VEK.TXT an earlier call left behind; nullptr: none
};

void PrintTo(const CallCase& c, std::ostream* out) { *out << c.name; }

class CallTest : public testing::TestWithParam<CallCase> {};

TEST_P(CallTest, AnswersAsTheToolDoes) {
  const CallCase& c = GetParam();
  TempTree tree;
  tree.makeFile(native(reportFinal));
  const ProgramDirectory program;
  if (c.resultLeft != nullptr) leave(program.resultPath(), c.resultLeft);
  const std::string path = native(substituteTree(c.path, tree.path()));
  const Call result = call(toolIn(program), path);
  EXPECT_EQ(result.status, 0) << result.answer;
  if (c.expected != nullptr) {
    EXPECT_EQ(result.answer, c.expected);
  } else {
    EXPECT_NE(result.answer, "bAd");
    EXPECT_EQ(result.answer, directAnswer(path));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CallTest,
    testing::Values(CallCase{"LongNames", "{T}/My Documents/report final.txt", nullptr, nullptr},
                    CallCase{"SpacesAround", "   {T}/My Documents/report final.txt  ", nullptr, nullptr},
                    CallCase{"WildcardsReachTheToolUnexpanded", "{T}/My Doc*/rep*", nullptr, nullptr},
                    CallCase{"QuotesArePartOfThePath", "\"{T}/My Documents/report final.txt\"", "bAd", nullptr},
                    CallCase{"HelpIsAPath", "--help", "bAd", nullptr},
                    CallCase{"StaleResultRemoved", "{T}/My Documents/report final.txt", nullptr, "stale answer"}),
    [](const testing::TestParamInfo<CallCase>& instance) { return std::string(instance.param.name); });

// Eight threads of this process and two host processes convert the same
// paths at once from one program directory, each starting at its own place
// in the list: every answer is the one that path got alone.
TEST(ConcurrentCallsTest, EveryAnswerIsTheSequentialOne) {
  constexpr int threads = 8;
  constexpr int processes = 2;
  TempTree tree;
  std::vector<std::string> paths{"--help"};
  for (int i = 1; i <= 12; ++i) {
    const std::string file = native("Folder Number " + std::to_string(i) + "/long file name " + std::to_string(i) + ".txt");
    tree.makeFile(file);
    paths.push_back(tree / file);
  }
  const ProgramDirectory program;
  const std::string tool = toolIn(program);
  std::vector<std::string> alone;
  for (const std::string& path : paths) {
    const Call result = call(tool, path);
    ASSERT_EQ(result.status, 0) << result.answer;
    alone.push_back(result.answer);
  }
  // Distinct, so that another path's answer could not pass for a path's own.
  ASSERT_EQ(std::set<std::string>(alone.begin(), alone.end()).size(), paths.size());

  const std::string list = tree / "paths.txt";
  {
    std::ofstream out(list, std::ios::binary);
    for (int round = 0; round < rounds; ++round)
      for (const std::string& path : paths) out << path << '\n';
  }
  std::atomic<int> differences = 0;
  std::vector<std::thread> callers;
  for (int host = 0; host < processes; ++host) {
    callers.emplace_back([&, host] {
      const std::string output = tree / ("answers" + std::to_string(host) + ".txt");
      const std::string command =
          "\"" + besideTheTests("getvek_calling_host") + "\" \"" + tool + "\" \"" + list + "\" > \"" + output + "\"";
      if (std::system(shellCommand(command).c_str()) != 0) ++differences;
      std::ifstream answers(output);
      std::string answer;
      std::size_t at = 0;
      for (; std::getline(answers, answer); ++at) {
        if (!answer.empty() && answer.back() == '\r') answer.pop_back();
        if (answer != alone[at % paths.size()]) ++differences;
      }
      // An answer missing is one that differs.
      if (at != rounds * paths.size()) ++differences;
    });
  }
  for (int thread = 0; thread < threads; ++thread) {
    callers.emplace_back([&, thread] {
      for (std::size_t at = 0; at < rounds * paths.size(); ++at) {
        const std::size_t path = (at + static_cast<std::size_t>(thread)) % paths.size();
        const Call result = call(tool, paths[path], ampleMs, thread % 2 == 1);
        if (result.status != 0 || result.answer != alone[path]) ++differences;
      }
    });
  }
  for (std::thread& caller : callers) caller.join();
  EXPECT_EQ(differences, 0);
}

TEST(RefusalTest, RetriedUntilTheToolsLockIsFree) {
  TempTree tree;
  tree.makeFile(native(reportFinal));
  const std::string path = tree / native(reportFinal);
  const ProgramDirectory program;
  ToolLock lock(program);
  auto pending = std::async(std::launch::async, [&] { return call(toolIn(program), path); });
  // Long enough to turn the first runs away, well within the second that the
  // retries span.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  lock.release();
  const Call result = pending.get();
  EXPECT_EQ(result.status, 0) << result.answer;
  EXPECT_EQ(result.answer, directAnswer(path));
}

// After its last retry, the call gives the tool's own line.
TEST(RefusalTest, ReportedWhileTheToolsLockStaysTaken) {
  const ProgramDirectory program;
  ToolLock lock(program);
  const Call result = call(toolIn(program), "--help");
  EXPECT_EQ(result.status, -1);
  EXPECT_EQ(result.answer, refusalLine(program));
}

TEST(TimeoutTest, EndsTheToolsRun) {
  TempTree tree;
  const std::string tool = copiedInto(tree, besideTheTests("getvek_sleeping_tool"));
  const std::string started = tree / "started";
  const Call result = call(tool, started, 1000);
  EXPECT_EQ(result.status, -1);
  EXPECT_EQ(result.answer, "getvek_call: timed out; the tool's run was ended");
  const std::optional<std::string> processId = contentOf(started);
  ASSERT_TRUE(processId.has_value()) << "the stand-in did not start within the timeout";
  EXPECT_FALSE(isRunning(std::stoul(*processId)));
}

TEST(MissingToolTest, IsReported) {
  TempTree tree;
  const Call result = call(tree / "getvek-not-here", "--help");
  EXPECT_EQ(result.status, -1);
  EXPECT_EQ(result.answer, "getvek_call: cannot start the tool: " + fileNotFound());
}

}  // namespace

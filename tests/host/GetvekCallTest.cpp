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
#include <functional>
#include <future>
#include <mutex>
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
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

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
// A process ended by TerminateProcess is gone at once.
bool isGoneSoon(unsigned long processId) { return !isRunning(processId); }
void makeDirectoryAt(const std::string& path) {
  if (!CreateDirectoryA(path.c_str(), nullptr)) throw std::runtime_error("create " + path);
}
std::string notAProgram(const TempTree& tree) {
  writeFile(tree / "notaprogram.exe", "not a program");
  return tree / "notaprogram.exe";
}
// Windows does not let a running image be replaced; Wine may.
bool replaceByRename(const std::string& tool) {
  const std::string copy = tool + ".new";
  return CopyFileA(tool.c_str(), copy.c_str(), FALSE) &&
         MoveFileExA(copy.c_str(), tool.c_str(), MOVEFILE_REPLACE_EXISTING);
}

// The library's turn at a program directory, held as another host would.
class HostTurn {
 public:
  explicit HostTurn(const std::string& tool) {
    std::wstring name = Platform::Windows::runLockName(widen(tool.substr(0, tool.rfind('\\'))));
    name.replace(name.find(L"-run-"), 5, L"-host-");
    mutex_ = CreateMutexW(nullptr, TRUE, name.c_str());
    if (mutex_ == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) throw std::runtime_error("take the host turn");
  }
  ~HostTurn() {
    ReleaseMutex(mutex_);
    CloseHandle(mutex_);
  }
  HostTurn(const HostTurn&) = delete;
  HostTurn& operator=(const HostTurn&) = delete;

 private:
  HANDLE mutex_;
};

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
std::string shellCommand(const std::string& command) { return command; }
// A zombie answers kill() until whoever inherited it reaps it.
bool isGoneSoon(unsigned long processId) {
  for (int wait = 0; wait < 200; ++wait) {
    const std::optional<std::string> stat = readFileIfThere("/proc/" + std::to_string(processId) + "/stat");
    if (!stat || stat->find(") Z ") != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}
void makeDirectoryAt(const std::string& path) { makeDirectories(path); }
std::string notAProgram(const TempTree& tree) { return makeFile(tree / "notaprogram", "not a program", 0755); }
// By another process, as an installer: a copy written here would be open for
// writing in the tools this process starts meanwhile ("Text file busy").
bool replaceByRename(const std::string& tool) {
  return std::system(("cp '" + tool + "' '" + tool + ".new' && mv -f '" + tool + ".new' '" + tool + "'").c_str()) == 0;
}

// The turn as docs/hosts.md has every caller take it.
class HostTurn {
 public:
  explicit HostTurn(const std::string& tool) : file_(::open(tool.c_str(), O_RDONLY | O_CLOEXEC)) {
    checkSystemCall(file_ >= 0 && ::flock(file_, LOCK_EX) == 0, "lock " + tool);
  }
  ~HostTurn() { ::close(file_); }
  HostTurn(const HostTurn&) = delete;
  HostTurn& operator=(const HostTurn&) = delete;

 private:
  int file_;
};

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
  // What differed, said in full: a difference is rare and must be told apart
  // (another path's answer, a failure, an answer missing).
  std::mutex lock;
  std::vector<std::string> differences;
  const auto differs = [&](const std::string& what) {
    const std::lock_guard<std::mutex> held(lock);
    differences.push_back(what);
  };
  std::vector<std::thread> callers;
  for (int host = 0; host < processes; ++host) {
    callers.emplace_back([&, host] {
      const std::string output = tree / ("answers" + std::to_string(host) + ".txt");
      const std::string command =
          "\"" + besideTheTests("getvek_calling_host") + "\" \"" + tool + "\" \"" + list + "\" > \"" + output + "\"";
      if (const int status = std::system(shellCommand(command).c_str()); status != 0)
        differs("host " + std::to_string(host) + " exited with " + std::to_string(status));
      std::ifstream answers(output);
      std::string answer;
      std::size_t at = 0;
      for (; std::getline(answers, answer); ++at) {
        if (!answer.empty() && answer.back() == '\r') answer.pop_back();
        if (answer != alone[at % paths.size()])
          differs("host " + std::to_string(host) + ": " + paths[at % paths.size()] + " -> " + answer);
      }
      if (at != rounds * paths.size()) differs("host " + std::to_string(host) + ": " + std::to_string(at) + " answers");
    });
  }
  for (int thread = 0; thread < threads; ++thread) {
    callers.emplace_back([&, thread] {
      for (std::size_t at = 0; at < rounds * paths.size(); ++at) {
        const std::size_t path = (at + static_cast<std::size_t>(thread)) % paths.size();
        const Call result = call(tool, paths[path], ampleMs, thread % 2 == 1);
        if (result.status != 0 || result.answer != alone[path])
          differs("thread " + std::to_string(thread) + ": " + paths[path] + " -> " + std::to_string(result.status) +
                  " " + result.answer);
      }
    });
  }
  for (std::thread& caller : callers) caller.join();
  EXPECT_EQ(differences, std::vector<std::string>{});
}

TEST(RefusalTest, RetriedUntilTheToolsLockIsFree) {
  TempTree tree;
  tree.makeFile(native(reportFinal));
  const std::string path = tree / native(reportFinal);
  const ProgramDirectory program;
  ToolLock lock(program);
  auto pending = std::async(std::launch::async, [&] { return call(toolIn(program), path, 10000); });
  // Longer than a host killed mid-call leaves its tool running: retries go on
  // until the timeout, not for a fixed count.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  lock.release();
  const Call result = pending.get();
  EXPECT_EQ(result.status, 0) << result.answer;
  EXPECT_EQ(result.answer, directAnswer(path));
}

// At the timeout, the call gives the tool's own line.
TEST(RefusalTest, ReportedWhileTheToolsLockStaysTaken) {
  const ProgramDirectory program;
  ToolLock lock(program);
  const Call result = call(toolIn(program), "--help", 1500);
  EXPECT_EQ(result.status, GETVEK_CALL_TIMEOUT);
  EXPECT_EQ(result.answer, refusalLine(program));
}

struct StandInCase {
  const char* name;
  const char* program;  // beside the tests; "grandparent-tool" leaves the sleeping to its grandchild
};

void PrintTo(const StandInCase& c, std::ostream* out) { *out << c.name; }

std::vector<StandInCase> standIns() {
#ifdef _WIN32
  return {{"Program", "getvek_sleeping_tool"}};
#else
  return {{"Program", "getvek_sleeping_tool"}, {"ScriptsGrandchild", "grandparent-tool"}};
#endif
}

class TimeoutTest : public testing::TestWithParam<StandInCase> {};

// Whatever the stand-in started is gone too when the call returns.
TEST_P(TimeoutTest, EndsTheToolsRun) {
  TempTree tree;
  const std::string tool = copiedInto(tree, besideTheTests(GetParam().program));
  const std::string started = tree / "started";
  const Call result = call(tool, started, 1000);
  EXPECT_EQ(result.status, GETVEK_CALL_TIMEOUT);
  EXPECT_EQ(result.answer, "getvek_call: timed out; the tool's run was ended");
  const std::optional<std::string> processId = contentOf(started);
  ASSERT_TRUE(processId.has_value()) << "the stand-in did not start within the timeout";
  EXPECT_TRUE(isGoneSoon(std::stoul(*processId)));
}

INSTANTIATE_TEST_SUITE_P(StandIns, TimeoutTest, testing::ValuesIn(standIns()),
                         [](const testing::TestParamInfo<StandInCase>& instance) {
                           return std::string(instance.param.name);
                         });

// Each code a call returns, with the message beside it.
struct CodeCase {
  const char* name;
  std::function<std::string(const TempTree&, const ProgramDirectory&)> prepare;  // gives the tool
  const char* path;
  unsigned timeoutMs;
  int status;
  std::function<bool(const std::string&)> message;
};

void PrintTo(const CodeCase& c, std::ostream* out) { *out << c.name; }

class ReturnCodeTest : public testing::TestWithParam<CodeCase> {};

TEST_P(ReturnCodeTest, NamesTheFailure) {
  const CodeCase& c = GetParam();
  TempTree tree;
  const ProgramDirectory program;
  const std::string tool = c.prepare(tree, program);
  const Call result = call(tool, c.path, c.timeoutMs);
  EXPECT_EQ(result.status, c.status);
  EXPECT_TRUE(c.message(result.answer)) << result.answer;
}

bool beginsWith(const std::string& text, const std::string& start) { return text.rfind(start, 0) == 0; }

INSTANTIATE_TEST_SUITE_P(
    Codes, ReturnCodeTest,
    testing::Values(
        CodeCase{"Answered", [](const TempTree&, const ProgramDirectory& p) { return toolIn(p); }, "--help", ampleMs,
                 GETVEK_CALL_ANSWERED, [](const std::string& m) { return m == "bAd"; }},
        CodeCase{"ToolsOwnFailure",
                 [](const TempTree&, const ProgramDirectory& p) {
                   makeDirectoryAt(p.workPath());
                   return toolIn(p);
                 },
                 "--help", ampleMs, GETVEK_CALL_FAILED,
                 [](const std::string& m) { return beginsWith(m, "getvek: cannot "); }},
        CodeCase{"TimeoutOfZeroStartsNothing",
                 [](const TempTree& tree, const ProgramDirectory&) {
                   return copiedInto(tree, besideTheTests("getvek_sleeping_tool"));
                 },
                 "started-file-never-made", 0, GETVEK_CALL_TIMEOUT,
                 [](const std::string& m) { return m == "getvek_call: a timeout of 0 starts nothing"; }},
        CodeCase{"MissingTool", [](const TempTree& tree, const ProgramDirectory&) { return tree / "getvek-not-here"; },
                 "--help", ampleMs, GETVEK_CALL_CANNOT_START,
                 [](const std::string& m) { return m == "getvek_call: cannot start the tool: " + fileNotFound(); }},
        // Windows' message for it names its file by an insert the library fills in.
        CodeCase{"NotAProgram",
                 [](const TempTree& tree, const ProgramDirectory&) { return notAProgram(tree); },
                 "--help", ampleMs, GETVEK_CALL_CANNOT_START,
                 [](const std::string& m) {
                   return beginsWith(m, "getvek_call: cannot start the tool: ") && m.find('%') == std::string::npos;
                 }}),
    [](const testing::TestParamInfo<CodeCase>& instance) { return std::string(instance.param.name); });

// Callers of other program directories never wait for this one's turn.
TEST(TurnTest, SeparateDirectoriesAreIndependent) {
  const ProgramDirectory held;
  const ProgramDirectory other;
  HostTurn turn(toolIn(held));
  // From another thread: a Windows mutex lets its holder in again.
  const auto elsewhere = [](const std::string& tool, unsigned timeoutMs) {
    return std::async(std::launch::async, [=] { return call(tool, "--help", timeoutMs); }).get();
  };
  EXPECT_EQ(elsewhere(toolIn(held), 300).status, GETVEK_CALL_TIMEOUT);
  EXPECT_EQ(elsewhere(toolIn(other), 5000).answer, "bAd");
}

// Installers replace a running tool by renaming a new copy over it: the calls
// going on meanwhile still take turns, and none takes another's answer.
TEST(TurnTest, HoldsWhileTheToolIsReplaced) {
  constexpr int threads = 8;
  TempTree tree;
  std::vector<std::string> paths;
  for (int i = 1; i <= 8; ++i) {
    const std::string file = native("Long Folder " + std::to_string(i) + "/name.txt");
    tree.makeFile(file);
    paths.push_back(tree / file);
  }
  const ProgramDirectory program;
  const std::string tool = toolIn(program);
  std::vector<std::string> alone;
  for (const std::string& path : paths) alone.push_back(call(tool, path).answer);
  ASSERT_EQ(std::set<std::string>(alone.begin(), alone.end()).size(), paths.size());

  std::atomic<bool> calling = true;
  std::atomic<int> replacements = 0;
  std::thread installer([&] {
    while (calling) {
      replacements += replaceByRename(tool);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  std::atomic<int> differences = 0;
  std::vector<std::thread> callers;
  for (int thread = 0; thread < threads; ++thread)
    callers.emplace_back([&, thread] {
      for (int at = 0; at < rounds * 25; ++at) {
        const std::size_t path = static_cast<std::size_t>(at + thread) % paths.size();
        const Call result = call(tool, paths[path]);
        if (result.status != 0 || result.answer != alone[path]) ++differences;
      }
    });
  for (std::thread& caller : callers) caller.join();
  calling = false;
  installer.join();
  if (replacements == 0) GTEST_SKIP() << "the platform let no copy be renamed over the tool";
  EXPECT_EQ(differences, 0) << "with " << replacements << " replacements";
}

#ifndef _WIN32
std::size_t entriesIn(const std::string& directory) {
  return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(directory), {}));
}

// Calls that timed out waiting for their turn leave no thread or descriptor
// in the host; the library can be unloaded after them, before that turn is
// let go; and a call leaves only VEK.TXT on disk.
TEST(LeftBehindTest, NothingButTheLastResult) {
  const ProgramDirectory program;
  const std::string tool = toolIn(program);
  void* library = dlopen(GETVEK_CALL_SHARED, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  const auto loaded = reinterpret_cast<decltype(&getvek_call)>(dlsym(library, "getvek_call"));
  ASSERT_NE(loaded, nullptr);
  std::optional<HostTurn> turn(std::in_place, tool);
  const std::size_t threads = entriesIn("/proc/self/task");
  const std::size_t descriptors = entriesIn("/proc/self/fd");
  char answer[1000];
  for (int timedOut = 0; timedOut < 10; ++timedOut)
    EXPECT_EQ(loaded(tool.c_str(), "--help", answer, sizeof answer, 30), GETVEK_CALL_TIMEOUT);
  EXPECT_EQ(entriesIn("/proc/self/task"), threads);
  EXPECT_EQ(entriesIn("/proc/self/fd"), descriptors);
  EXPECT_EQ(dlclose(library), 0);
  // A thread left waiting for the turn would wake here, in code unloaded.
  turn.reset();
  EXPECT_EQ(call(tool, "--help").answer, "bAd");
  EXPECT_EQ(entriesIn(program.path()), 2u) << "the tool and VEK.TXT";
}

// The turn needs the tool open for reading: a tool its caller may run but
// not read is reported so, at once. Root reads everything, so the caller is
// a child that gave root up.
TEST(TurnTest, NeedsTheToolReadable) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root, to call as another user";
  const ProgramDirectory program;
  const std::string tool = toolIn(program);
  checkSystemCall(::chmod(program.path().c_str(), 0711) == 0 && ::chmod(tool.c_str(), 0711) == 0, "chmod");
  const pid_t id = ::fork();
  ASSERT_GE(id, 0);
  if (id == 0) {
    char answer[1000];
    const bool reported = ::setgid(65534) == 0 && ::setuid(65534) == 0 &&
                          getvek_call(tool.c_str(), "--help", answer, sizeof answer, 5000) == GETVEK_CALL_CANNOT_START &&
                          std::string(answer) == "getvek_call: cannot open the tool for its turn: " + std::string(std::strerror(EACCES));
    ::_exit(reported ? 0 : 1);
  }
  int status = 0;
  ::waitpid(id, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// A child that a threaded host forks while one of its threads holds the turn
// takes the turn once that thread lets go.
TEST(ForkTest, ChildOfAThreadedHostCalls) {
  constexpr int children = 20;
  const ProgramDirectory program;
  const std::string tool = toolIn(program);
  std::atomic<bool> calling = true;
  std::thread caller([&] {
    while (calling) call(tool, "--help");
  });
  int answered = 0;
  for (int child = 0; child < children; ++child) {
    const pid_t id = ::fork();
    ASSERT_GE(id, 0);
    if (id == 0) {
      char answer[1000];
      const int status = getvek_call(tool.c_str(), "--help", answer, sizeof answer, 10000);
      ::_exit(status == GETVEK_CALL_ANSWERED && std::strcmp(answer, "bAd") == 0 ? 0 : 1);
    }
    int status = 0;
    ::waitpid(id, &status, 0);
    answered += WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  calling = false;
  caller.join();
  EXPECT_EQ(answered, children);
}
#endif

}  // namespace

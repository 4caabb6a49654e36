// The library (library/getvek.h) against the built tool on the same trees:
// every answer, and every failure's line, must be the tool's.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "getvek.h"
#include "tests/Placeholders.h"
#include "tests/linux/NtfsVolume.h"
#include "tests/linux/TestTree.h"

namespace {

using namespace TestSupport;

// What the tool or the library made of one argument text: the answer, or
// the failure's line without the program's name.
struct Answer {
  int status = 0;
  std::string text;
  bool operator==(const Answer&) const = default;
};

void PrintTo(const Answer& a, std::ostream* out) { *out << a.status << " \"" << a.text << '"'; }

Answer fromLibrary(const std::string& argument) {
  char answer[1000];
  const int status = getvek_short_form(argument.c_str(), answer, sizeof answer);
  return {status, answer};
}

Answer fromTool(const std::string& argument, const std::string& workingDirectory) {
  const RunOutcome run = runFresh({argument}, inDirectory(workingDirectory));
  if (run.exitStatus == 0 && run.result) return {0, *run.result};
  const std::string prefix = "getvek: ";
  const std::string& line = run.standardError;
  if (line.rfind(prefix, 0) != 0 || line.empty() || line.back() != '\n') return {-100 - run.exitStatus, line};
  return {GETVEK_FAILED, line.substr(prefix.size(), line.size() - prefix.size() - 1)};
}

// A short form of `length` characters: "./" repeated in front of a name.
std::string shortFormOfLength(const std::string& tree, std::size_t length) {
  const std::string name = "/ABCDEFG.TXT";
  std::string text = tree;
  while (text.size() + name.size() + 2 <= length) text += "/.";
  if (text.size() + name.size() < length) text += "/";
  return text + name;
}

class LibraryTest : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* file : {"My Documents/report final.txt", "Docs/Reports/Summary.txt", "ABCDEFG.TXT",
                             "Menu D\xC3\xA9marrer/r\xC3\xA9sum\xC3\xA9.txt", "a.a.a", "long name one.txt",
                             "long name two.txt", "TWIN/b.txt", "twin/a.txt", "d/ab\x7Fxyzuvw.txt"})
      tree.makeFile(file);
    for (const char* text : {
             "{T}/My Documents/report final.txt", "   {T}/My Documents/report final.txt  ",
             "{T}/Docs/Reports/Summary.txt", "{T}/My Documents/../long name two.txt", "{T}/My*/rep*",
             "{T}/long name t*", "{T}/*/Summary.txt", "{T}/tw?n/*", "{T}/?????????*", "{T}/missing/report final.txt",
             "{T}/nothing*", "{T}/Menu D\xC3\xA9marrer/r\xC3\xA9sum\xC3\xA9.txt", "{T}/d/ab\x7Fxyzuvw.txt",
             "{T}/a.a.a", "My Documents/report final.txt", "./long name one.txt", "../", "", "   ", "\t",
             "{T}/ABCDEFG.TXT/x"})
      arguments.push_back(substituteTree(text, tree.path()));
    // The 1,000-character rule: 999 characters are an answer, 1,000 are none.
    arguments.push_back(shortFormOfLength(tree.path(), 999));
    arguments.push_back(shortFormOfLength(tree.path(), 1000));
    ASSERT_EQ(shortFormOfLength(tree.path(), 1000).size(), 1000u);
  }
  TempTree tree;
  std::vector<std::string> arguments;
};

// Relative paths follow the current directory: the library's is the test
// process's, the tool's is given the same.
class InTree {
 public:
  explicit InTree(const std::string& path) : previous_(::getcwd(nullptr, 0)) { EXPECT_EQ(::chdir(path.c_str()), 0); }
  ~InTree() {
    EXPECT_EQ(::chdir(previous_), 0);
    std::free(previous_);
  }

 private:
  char* previous_;
};

std::vector<Answer> toolAnswers(const std::vector<std::string>& arguments, const std::string& directory) {
  std::vector<Answer> answers;
  for (const std::string& argument : arguments) answers.push_back(fromTool(argument, directory));
  return answers;
}

TEST_F(LibraryTest, AnswersAsTheTool) {
  const std::vector<Answer> expected = toolAnswers(arguments, tree.path());
  const InTree inTree(tree.path());
  for (std::size_t at = 0; at < arguments.size(); ++at) EXPECT_EQ(fromLibrary(arguments[at]), expected[at]) << arguments[at];
  EXPECT_EQ(expected[arguments.size() - 2].text.size(), 999u);
  EXPECT_EQ(expected.back().text, "bAd");
}

TEST_F(LibraryTest, AnswersAsTheToolFromEightThreadsAtOnce) {
  const std::vector<Answer> expected = toolAnswers(arguments, tree.path());
  const InTree inTree(tree.path());
  std::vector<std::vector<std::string>> differing(8);
  std::vector<std::thread> threads;
  for (std::size_t thread = 0; thread < differing.size(); ++thread)
    threads.emplace_back([&, thread] {
      for (int round = 0; round < 20; ++round)
        for (std::size_t at = (thread + round) % arguments.size(), n = 0; n < arguments.size();
             ++n, at = (at + 1) % arguments.size())
          if (!(fromLibrary(arguments[at]) == expected[at])) differing[thread].push_back(arguments[at]);
    });
  for (std::thread& thread : threads) thread.join();
  for (const std::vector<std::string>& differed : differing) EXPECT_EQ(differed, std::vector<std::string>{});
}

TEST_F(LibraryTest, TooSmallLeavesTheEmptyString) {
  const std::string argument = tree / "My Documents/report final.txt";
  const std::string answer = fromLibrary(argument).text;
  std::vector<char> buffer(answer.size() + 1, 'x');
  for (const std::size_t capacity : {std::size_t{1}, answer.size()}) {
    EXPECT_EQ(getvek_short_form(argument.c_str(), buffer.data(), capacity), GETVEK_TOO_SMALL) << capacity;
    EXPECT_EQ(buffer[0], '\0');
  }
  EXPECT_EQ(getvek_short_form(argument.c_str(), nullptr, 0), GETVEK_TOO_SMALL);
  EXPECT_EQ(getvek_short_form(argument.c_str(), buffer.data(), buffer.size()), 0);
  EXPECT_EQ(std::string(buffer.data()), answer);
}

// No descriptor left: the call fails with the tool's line, and the next one,
// with descriptors again, answers (no state kept from the failure).
TEST_F(LibraryTest, FailsWithTheLineTheToolPrints) {
  const std::string argument = tree / "My Documents/report final.txt";
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  const int lowestFree = ::dup(0);
  ASSERT_GE(lowestFree, 0);
  ::close(lowestFree);
  struct rlimit none = saved;
  none.rlim_cur = static_cast<rlim_t>(lowestFree);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
  const Answer failed = fromLibrary(argument);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
  EXPECT_EQ(failed.status, GETVEK_FAILED);
  EXPECT_EQ(failed.text.rfind("cannot ", 0), 0u) << failed.text;
  EXPECT_NE(failed.text.find(std::string(": ") + std::strerror(EMFILE)), std::string::npos) << failed.text;
  EXPECT_EQ(fromLibrary(argument), fromTool(argument, "/"));
}

// Windows' own short names, read where ntfs-3g shows them.
TEST_F(LibraryTest, ReadsStoredNamesAsTheTool) {
  if (const std::optional<std::string> reason = NtfsVolume::whyNotAvailable()) GTEST_SKIP() << *reason;
  const NtfsVolume volume(tree / "volume.img", tree.makeDirectory("NTFS"));
  makeFile(volume / "Program Files/report final.txt");
  volume.setDosName("Program Files", "PROGRA~3");
  volume.setDosName("Program Files/report final.txt", "REPORT~7.TXT");
  for (const std::string& argument : {volume / "Program Files/report final.txt", volume / "Prog*/rep*"}) {
    const Answer expected = fromTool(argument, "/");
    EXPECT_EQ(expected.text, volume / "PROGRA~3/REPORT~7.TXT");
    EXPECT_EQ(fromLibrary(argument), expected);
  }
}

}  // namespace

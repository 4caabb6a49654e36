// Argument text and trees made to hurt: every run ends, promptly, with exit
// status 0 and a short form or "bAd" in its result file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/linux/TestTree.h"
#include "windowsnames/PathComponents.h"

namespace {

using namespace TestSupport;

bool isAnswer(const std::string& text) { return text == "bAd" || WindowsNames::isShortPath(text, '/'); }

std::string answerOf(const std::vector<std::string>& arguments, const RunOptions& options = {}) {
  const RunOutcome run = runFresh(arguments, options);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitStatus, 0) << run.standardError;
  EXPECT_EQ(run.standardError, "");
  const std::string answer = run.result.value_or("<no result>");
  EXPECT_TRUE(isAnswer(answer)) << answer;
  return answer;
}

std::string repeated(const std::string& piece, std::size_t times) {
  std::string text;
  for (std::size_t i = 0; i < times; ++i) text += piece;
  return text;
}

TEST(HostileInputTest, OneMebibyteOfText) {
  // One argument may hold 128 KiB at most: sixteen of 64 KiB are joined.
  for (const std::string piece : {"x", "?/", "*", "/"}) {
    const std::vector<std::string> arguments(16, repeated(piece, 65536 / piece.size()));
    // Far longer than the system takes in a path: no short form.
    EXPECT_EQ(answerOf(arguments), "bAd") << piece;
  }
}

TEST(HostileInputTest, EveryByteValueAndBrokenText) {
  std::string everyByte;
  for (int c = 1; c < 256; ++c) everyByte += static_cast<char>(c);
  EXPECT_EQ(answerOf({everyByte}), "bAd");
  EXPECT_EQ(answerOf({"/tmp/\xff\xfe\xc3/\x01\x7f*?"}), "bAd");
}

TEST(HostileInputTest, TenThousandWildcardComponents) {
  TempTree tree;
  tree.makeFile("a/a/a");
  EXPECT_EQ(answerOf({repeated("*/", 10000)}, inDirectory(tree.path())), "bAd");
  EXPECT_EQ(answerOf({repeated("?/", 10000)}, inDirectory(tree.path())), "bAd");
}

TEST(HostileInputTest, SeparatorRuns) {
  TempTree tree;
  tree.makeFile("ABCDEFG.TXT");
  EXPECT_EQ(answerOf({"//" + tree.path() + "///ABCDEFG.TXT"}), "//" + tree.path() + "///ABCDEFG.TXT");
  EXPECT_EQ(answerOf({repeated("\\", 5000)}), "bAd");
  EXPECT_EQ(answerOf({tree.path() + "\\\\ABCDEFG.TXT"}), "bAd");
}

TEST(HostileInputTest, NamesOnDiskThatWindowsForbids) {
  TempTree tree;
  for (const char* name : {"a:b", "c\\d", "e?f", "g*h", "tab\there.txt", "bad\xff name.txt", "new\nline"})
    tree.makeFile(name);
  EXPECT_EQ(answerOf({tree / "a:b"}), tree / "A_B~1");
  EXPECT_EQ(answerOf({tree / "c\\d"}), tree / "C_D~1");
  EXPECT_EQ(answerOf({tree / "tab\there.txt"}), tree / "TAB_HE~1.TXT");
  EXPECT_EQ(answerOf({tree / "bad\xff name.txt"}), tree / "BADNAM~1.TXT");
  EXPECT_EQ(answerOf({tree / "new\nline"}), tree / "NEW_LI~1");
  // A "?" or "*" in the path is a wildcard, never part of a name: it finds
  // the entry, whose name then holds a character no short form can.
  EXPECT_EQ(answerOf({tree / "e?f"}), "bAd");
  EXPECT_EQ(answerOf({tree / "g*h"}), "bAd");
}

TEST(HostileInputTest, DirectoriesWithoutReadOrSearchPermission) {
  TempTree tree;
  tree.makeFile("noread/My File.txt");
  tree.makeFile("nosearch/My File.txt");
  tree.makeFile("noread/PLAIN.TXT");
  ASSERT_EQ(::chmod(tree.path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod((tree / "noread").c_str(), 0311), 0);
  ASSERT_EQ(::chmod((tree / "nosearch").c_str(), 0644), 0);
  RunOptions options;
  options.unprivileged = true;
  // Looking a name up needs search permission; making its alias needs the listing.
  EXPECT_EQ(answerOf({tree / "noread/PLAIN.TXT"}, options), tree / "noread/PLAIN.TXT");
  EXPECT_EQ(answerOf({tree / "noread/My File.txt"}, options), "bAd");
  EXPECT_EQ(answerOf({tree / "noread/*"}, options), "bAd");
  EXPECT_EQ(answerOf({tree / "nosearch/My File.txt"}, options), "bAd");
}

TEST(HostileInputTest, SymbolicLinkLoops) {
  TempTree tree;
  ASSERT_EQ(::symlink("loop", (tree / "loop").c_str()), 0);
  ASSERT_EQ(::symlink("pong", (tree / "ping").c_str()), 0);
  ASSERT_EQ(::symlink("ping", (tree / "pong").c_str()), 0);
  EXPECT_EQ(answerOf({tree / "loop/x"}), "bAd");
  EXPECT_EQ(answerOf({tree / "ping/pong/x"}), "bAd");
  EXPECT_EQ(answerOf({tree / "lo*/x"}), "bAd");
  EXPECT_EQ(answerOf({tree / "loop"}), tree / "loop");
}

TEST(HostileInputTest, EntriesComingAndGoingDuringRuns) {
  TempTree tree;
  const std::string stable = tree.makeFile("churn/stable long name.txt");
  // A clock tick later, so that its birth time, not inode numbers, puts it first.
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  std::atomic<bool> done{false};
  std::thread churn([&] {
    for (unsigned i = 0; !done; ++i) {
      const std::string name = tree / ("churn/stable long name " + std::to_string(i % 50) + ".txt");
      if (i % 100 < 50)
        tree.makeFile("churn/stable long name " + std::to_string(i % 50) + ".txt");
      else
        ::unlink(name.c_str());
    }
  });
  // Every entry that comes or goes shares the basis the answers rest on, so
  // a run passes again, and may give up, saying so, rather than answer from a
  // listing torn by them. A pattern finds the stable entry or one of its
  // basis; one found may be gone, or made again under another alias, by the
  // time its short form is asked for.
  const std::string directory = tree / "churn/";
  const std::string gaveUp = "getvek: cannot search " + tree / "churn: it kept changing while it was read\n";
  const auto answerOrGiveUp = [&](const std::string& argument) -> std::optional<std::string> {
    const RunOutcome run = runFresh({argument});
    EXPECT_FALSE(run.timedOut);
    if (run.exitStatus == 1 && run.standardError == gaveUp && !run.result) return std::nullopt;
    EXPECT_EQ(run.exitStatus, 0) << run.standardError;
    return run.result.value_or("<no result>");
  };
  const std::regex aliasOfTheBasis("(STABLE~[1-4]|ST[0-9A-F]{4}~[1-9])\\.TXT");
  for (int run = 0; run < 60; ++run) {
    // The first of its basis keeps ~1 whatever comes and goes after it.
    if (const auto answer = answerOrGiveUp(stable)) {
      EXPECT_EQ(*answer, tree / "churn/STABLE~1.TXT");
    }
    for (const char* pattern : {"churn/stable*", "churn/STABLE~?.TXT"}) {
      const std::optional<std::string> answer = answerOrGiveUp(tree / pattern);
      if (!answer) continue;
      const bool ofTheBasis =
          answer->rfind(directory, 0) == 0 && std::regex_match(answer->substr(directory.size()), aliasOfTheBasis);
      EXPECT_TRUE(*answer == "bAd" || ofTheBasis) << pattern << " -> " << *answer;
    }
  }
  done = true;
  churn.join();
}

// A sibling of the same basis renamed back and forth during the runs, in a
// directory large enough that a pass takes a while: a listing torn by it may
// miss an entry or show it twice, so a run answers with the entry's own
// alias or says that it could not, never with another's.
TEST(HostileInputTest, SiblingRenamedDuringRuns) {
  TempTree tree;
  const std::string first = tree.makeFile("d/long name a.txt");
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  tree.makeFile("d/long name b.txt");
  for (int i = 0; i < 1000; ++i) tree.makeFile("d/other " + std::to_string(i));
  const std::string renamed = tree / "d/long name c.txt";
  std::atomic<bool> done{false};
  std::thread racer([&] {
    while (!done) {
      ::rename(first.c_str(), renamed.c_str());
      ::rename(renamed.c_str(), first.c_str());
    }
  });
  const std::string gaveUp = "getvek: cannot search " + tree / "d: it kept changing while it was read\n";
  int answered = 0;
  for (int run = 0; run < 10; ++run) {
    for (const char* argument : {"d/long name b.txt", "d/long name b*"}) {
      const RunOutcome outcome = runFresh({tree / argument});
      if (outcome.exitStatus == 0) {
        ++answered;
        EXPECT_EQ(outcome.result, tree / "d/LONGNA~2.TXT") << argument;
      } else {
        EXPECT_EQ(outcome.exitStatus, 1);
        EXPECT_EQ(outcome.standardError, gaveUp);
      }
    }
  }
  done = true;
  racer.join();
  std::printf("%d of 20 runs answered, the others gave up\n", answered);
}

}  // namespace

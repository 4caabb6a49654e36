// The Linux walk in-process: how many passes each directory costs a run, and
// what a change made during a pass does to it, scripted through the hook
// that every pass calls as it begins.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <thread>
#include <map>
#include <string>
#include <vector>

#include "conversion/GetVEK.h"
#include "platform/Platform.h"
#include "tests/linux/Files.h"

namespace {

using namespace TestSupport;
using Platform::Linux::Directory;

ino_t inodeOf(const std::string& path) {
  struct stat status {};
  checkSystemCall(::stat(path.c_str(), &status) == 0, "stat " + path);
  return status.st_ino;
}

// Counts the passes over each directory while it lives; `during` runs as
// each pass over `watched` begins.
class PassCounter {
 public:
  explicit PassCounter(std::function<void(int pass)> during = {}, ino_t watched = 0)
      : during_(std::move(during)), watched_(watched) {
    Directory::passBeginning = [this](ino_t directory) {
      const int pass = ++passes_[directory];
      if (during_ && directory == watched_) during_(pass);
    };
  }
  ~PassCounter() { Directory::passBeginning = nullptr; }
  int over(const std::string& path) { return passes_[inodeOf(path)]; }

 private:
  std::function<void(int)> during_;
  ino_t watched_;
  std::map<ino_t, int> passes_;
};

GetVEK::Found shortFormOf(const std::string& argumentText) {
  Platform::NativeServices platform;
  return GetVEK::shortFormOf(platform, argumentText);
}

std::string twoDigits(int number) { return std::string(1, char('0' + number / 10)) + char('0' + number % 10); }

// A directory of many long names, each taking a checksum alias, and the
// names the cases walk through.
class WalkTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    tree = new TempTree();
    for (int i = 0; i < 2000; ++i) tree->makeFile("T/long entry name " + std::to_string(i) + ".txt");
    for (int i = 0; i < 50; ++i) tree->makeDirectory("T/dir " + twoDigits(i) + " long");
    // A clock tick apart, so that birth times, not inode numbers, order them.
    for (const char* name : {"long name a.txt", "long name b.txt", "unrelated.txt"}) {
      tree->makeFile(std::string("D/") + name);
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    tree->makeFile("T/Long Named Directory/below/report final.txt");
  }
  static void TearDownTestSuite() { delete tree; }
  static TempTree* tree;
};
TempTree* WalkTest::tree = nullptr;

// Each directory is passed once for all a run asks of it, whatever the
// number of wildcard components below it or of times the path comes back.
struct PassCase {
  const char* name;
  std::string below;  // the argument text, after the tree's path
  std::string answer;
  int passesOverT;
};

void PrintTo(const PassCase& c, std::ostream* out) { *out << c.name; }

class PassCountTest : public WalkTest, public testing::WithParamInterface<PassCase> {};

TEST_P(PassCountTest, PassesEachDirectoryOnce) {
  const PassCase& c = GetParam();
  PassCounter counter;
  const GetVEK::Found found = shortFormOf(tree->path() + c.below);
  ASSERT_FALSE(found.failed()) << found.failure().reason;
  EXPECT_EQ(*found, tree->path() + c.answer);
  EXPECT_EQ(counter.over(*tree / "T"), c.passesOverT);
}

std::string backAndForth(const std::string& pattern, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += "/" + pattern + "/..";
  return text;
}

// "/dir 00*/../dir 01*/..", each pattern another, or its answer; without
// the spaces, each pattern matches its directory through its alias alone.
std::string throughEachDirectory(bool answer, const std::string& separator = " ") {
  std::string text;
  for (int i = 0; i < 50; ++i)
    text += "/" + (answer ? "DIR" + twoDigits(i) + "L~1" : "dir" + separator + twoDigits(i) + "*") + "/..";
  return text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PassCountTest,
    testing::Values(
        PassCase{"NoWildcardBelow", "/T/Long Named Directory/below/report final.txt", "/T/LONGNA~1/below/REPORT~1.TXT", 1},
        PassCase{"OneWildcardBelow", "/T/Long Named Directory/bel*/report final.txt", "/T/LONGNA~1/below/REPORT~1.TXT", 1},
        PassCase{"ThreeWildcardsBelow", "/T/Long Named Directory/b*/rep*", "/T/LONGNA~1/below/REPORT~1.TXT", 1},
        PassCase{"FiftyPatternsThroughDotDot", "/T" + throughEachDirectory(false) + "/Long Named Directory",
                 "/T" + throughEachDirectory(true) + "/LONGNA~1", 51},
        // Only the directories' aliases could begin "DIR": their first pass holds all the search needs.
        PassCase{"FiftyPatternsWithoutSpacesThroughDotDot",
                 "/T" + throughEachDirectory(false, "") + "/Long Named Directory",
                 "/T" + throughEachDirectory(true) + "/LONGNA~1", 51},
        // The search proves the entry's alias, and the short form asks nothing more.
        PassCase{"MatchOnlyThroughAliases", "/T/*~*", "/T/DIR00L~1", 2},
        PassCase{"SamePatternAgainThroughDotDot", "/T" + backAndForth("Long N*", 50) + "/Long Named Directory",
                 "/T" + backAndForth("LONGNA~1", 50) + "/LONGNA~1", 2}),
    [](const testing::TestParamInfo<PassCase>& instance) { return std::string(instance.param.name); });

// A change made while a pass is under way: one that the answer rests on
// makes the walk pass again; one that it does not changes nothing.
struct ChangeCase {
  const char* name;
  const char* renamedFrom;
  const char* renamedTo;
  int passesDisturbed;  // how many passes, from the first, see the rename
  std::string argument;
  std::optional<std::string> answer;  // nothing: the run fails
  int passes;
  bool changedLately = true;  // else its modification time is set an hour back: it is not watched at first
};

void PrintTo(const ChangeCase& c, std::ostream* out) { *out << c.name; }

class ChangeDuringPassTest : public WalkTest, public testing::WithParamInterface<ChangeCase> {};

TEST_P(ChangeDuringPassTest, PassesAgainOnlyForAChangeThatConcernsTheAnswer) {
  const ChangeCase& c = GetParam();
  const std::string from = *tree / (std::string("D/") + c.renamedFrom);
  const std::string to = *tree / (std::string("D/") + c.renamedTo);
  PassCounter counter(
      [&](int pass) {
        if (pass > c.passesDisturbed) return;
        checkSystemCall(::rename(pass % 2 == 1 ? from.c_str() : to.c_str(), pass % 2 == 1 ? to.c_str() : from.c_str()) == 0,
                        "rename");
      },
      inodeOf(*tree / "D"));
  if (!c.changedLately) {
    const struct timespec anHourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (*tree / "D").c_str(), anHourAgo, 0), 0);
  }
  const GetVEK::Found found = shortFormOf(*tree / "D/" + c.argument);
  if (std::min(c.passesDisturbed, counter.over(*tree / "D")) % 2 == 1) checkSystemCall(::rename(to.c_str(), from.c_str()) == 0, "rename back");
  if (c.answer) {
    ASSERT_FALSE(found.failed()) << found.failure().reason;
    EXPECT_EQ(*found, *tree / "D/" + *c.answer);
  } else {
    ASSERT_TRUE(found.failed());
    EXPECT_EQ(found.failure().reason, "it kept changing while it was read");
  }
  EXPECT_EQ(counter.over(*tree / "D"), c.passes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChangeDuringPassTest,
    testing::Values(ChangeCase{"QuietDirectory", "unrelated.txt", "unrelated.txt", 0, "long name b.txt", "LONGNA~2.TXT", 1},
                    ChangeCase{"UnrelatedNameChanged", "unrelated.txt", "other.txt", 1, "long name b.txt",
                               "LONGNA~2.TXT", 1},
                    ChangeCase{"SiblingOfTheBasisRenamed", "long name a.txt", "long name c.txt", 1, "long name b.txt",
                               "LONGNA~2.TXT", 2},
                    ChangeCase{"PatternsFirstMatchRenamed", "long name a.txt", "long name c.txt", 1, "long name *",
                               "LONGNA~2.TXT", 3},
                    ChangeCase{"OtherNameOfTheBasisForAPattern", "long name a.txt", "long name c.txt", 1,
                               "long name b*", "LONGNA~2.TXT", 2},
                    ChangeCase{"QuietDirectoryNotWatched", "unrelated.txt", "unrelated.txt", 0, "long name b.txt",
                               "LONGNA~2.TXT", 1, false},
                    // Seen by its modification time, which tells no names: watched from then on.
                    ChangeCase{"UnrelatedNameChangedUnwatched", "unrelated.txt", "other.txt", 1, "long name b.txt",
                               "LONGNA~2.TXT", 2, false},
                    ChangeCase{"SiblingRenamedUnwatched", "long name a.txt", "long name c.txt", 1, "long name b.txt",
                               "LONGNA~2.TXT", 2, false},
                    ChangeCase{"ChangedUnderEveryPass", "long name a.txt", "long name c.txt", 100, "long name b.txt",
                               std::nullopt, 8}),
    [](const testing::TestParamInfo<ChangeCase>& instance) { return std::string(instance.param.name); });

}  // namespace

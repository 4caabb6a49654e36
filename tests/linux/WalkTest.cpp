// The Linux walk in-process: how many passes each directory costs a run, and
// what a change made during a pass does to it, scripted through the hook
// that every pass calls as it begins.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
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
using Platform::Linux::ChangeWatch;
using Platform::Linux::Directory;

ino_t inodeOf(const std::string& path) {
  struct stat status {};
  checkSystemCall(::stat(path.c_str(), &status) == 0, "stat " + path);
  return status.st_ino;
}

// Counts the passes over each directory while it lives; `during` runs as
// each pass begins, with its directory and how many it has had.
class PassCounter {
 public:
  explicit PassCounter(std::function<void(ino_t directory, int pass)> during = {}) : during_(std::move(during)) {
    Directory::passBeginning = [this](ino_t directory) {
      const int pass = ++passes_[directory];
      if (during_) during_(directory, pass);
    };
  }
  ~PassCounter() { Directory::passBeginning = nullptr; }
  int over(const std::string& path) { return passes_[inodeOf(path)]; }

 private:
  std::function<void(ino_t, int)> during_;
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
    // Each pair of characters adds the same to the checksum: 16 names of one
    // checksum prefix, the last numbered past the cut at ~9. A clock tick
    // apart, so that birth times, not inode numbers, order them.
    for (int bits = 0; bits < 16; ++bits) {
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      std::string name = "T/long entry name ";
      for (int pair = 0; pair < 4; ++pair) name += (bits >> pair & 1) != 0 ? "c5" : "bZ";
      tree->makeFile(name + ".txt");
    }
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
  EXPECT_EQ(found.nameIfAny(), tree->path() + c.answer);
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
        // A directory this small is not expected to crowd a prefix: what numbers past 9 rest on is gathered
        // once a pass has shown the prefix crowded.
        PassCase{"CrowdedChecksumPrefix", "/T/long entry name c5c5c5c5.txt", "/T/LO498~16.TXT", 3},
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

// A directory opened again by name, as each "D/.." does, holds no further
// descriptor once the walk has opened a few dozen: 300 opens fit 128.
TEST_F(WalkTest, DirectoryReachedAgainHoldsNoSecondDescriptor) {
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  struct rlimit few = saved;
  few.rlim_cur = 128;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &few), 0);
  const std::string argument = tree->path() + backAndForth("D", 150) + "/D";
  const GetVEK::Found found = shortFormOf(argument);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
  ASSERT_FALSE(found.failed()) << found.failure().reason;
  EXPECT_EQ(found.nameIfAny(), argument);
}

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
  bool watchRefused = false;  // as when the user's inotify instances are used up
};

void PrintTo(const ChangeCase& c, std::ostream* out) { *out << c.name; }

class ChangeDuringPassTest : public WalkTest, public testing::WithParamInterface<ChangeCase> {};

TEST_P(ChangeDuringPassTest, PassesAgainOnlyForAChangeThatConcernsTheAnswer) {
  const ChangeCase& c = GetParam();
  const std::string from = *tree / (std::string("D/") + c.renamedFrom);
  const std::string to = *tree / (std::string("D/") + c.renamedTo);
  PassCounter counter([&, disturbed = inodeOf(*tree / "D")](ino_t directory, int pass) {
    if (directory != disturbed || pass > c.passesDisturbed) return;
    checkSystemCall(::rename(pass % 2 == 1 ? from.c_str() : to.c_str(), pass % 2 == 1 ? to.c_str() : from.c_str()) == 0,
                    "rename");
  });
  if (!c.changedLately) {
    const struct timespec anHourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (*tree / "D").c_str(), anHourAgo, 0), 0);
  }
  ChangeWatch::refused = c.watchRefused;
  const GetVEK::Found found = shortFormOf(*tree / "D/" + c.argument);
  ChangeWatch::refused = false;
  if (std::min(c.passesDisturbed, counter.over(*tree / "D")) % 2 == 1) checkSystemCall(::rename(to.c_str(), from.c_str()) == 0, "rename back");
  if (c.answer) {
    ASSERT_FALSE(found.failed()) << found.failure().reason;
    EXPECT_EQ(found.nameIfAny(), *tree / "D/" + *c.answer);
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
                               std::nullopt, 8},
                    // Changed lately, yet without a watch: seen by its times all the same.
                    ChangeCase{"UnrelatedNameChangedWatchRefused", "unrelated.txt", "other.txt", 1, "long name b.txt",
                               "LONGNA~2.TXT", 2, true, true},
                    ChangeCase{"SiblingRenamedWatchRefused", "long name a.txt", "long name c.txt", 2, "long name b.txt",
                               "LONGNA~2.TXT", 3, true, true},
                    ChangeCase{"ChangedUnderEveryPassWatchRefused", "long name a.txt", "long name c.txt", 100,
                               "long name b.txt", std::nullopt, 8, true, true}),
    [](const testing::TestParamInfo<ChangeCase>& instance) { return std::string(instance.param.name); });

// Two directories of one name, A in t and B in spare, exchanged while a run
// walks through one of them: each answer describes one state of the tree,
// A's or B's, never a mix of both; or the run gives up on a tree that kept
// changing. Birth times a clock tick apart give the aliases: A, then
// "Dir Longer", then B; in A "one" is older than "two", in B younger.
class ExchangeTest : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* path : {"t/Dir Long/report final one.txt", "t/Dir Long/report final two.txt", "t/Dir Longer/x",
                             "spare/Dir Long/report final two.txt", "spare/Dir Long/report final one.txt",
                             "d/report final a/x", "d/report final b/x"}) {
      tree.makeFile(path);
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
  }
  void TearDown() override { ChangeWatch::refused = false; }

  // The answer, or what a run that gave up says.
  std::string answerFor(const std::string& argument) {
    const GetVEK::Found found = shortFormOf(tree / argument);
    if (found.failed()) return found.failure().reason;
    return found.hasName() ? found.name().substr(tree.path().size() + 1) : "bAd";
  }
  void exchange(const std::string& one, const std::string& other) {
    checkSystemCall(::renameat2(AT_FDCWD, (tree / one).c_str(), AT_FDCWD, (tree / other).c_str(), RENAME_EXCHANGE) == 0,
                    "renameat2 " + one);
  }

  TempTree tree;
};

const std::string answerA = "t/DIRLON~1/REPORT~1.TXT";
const std::string answerB = "t/DIRLON~2/REPORT~2.TXT";
const std::string keptChanging = "it kept changing while it was read";

struct ExchangeCase {
  const char* name;
  std::string argument;
  const char* exchangedDuring;  // the passes over "t" or "A" (the directory first under "t/Dir Long")
  int every;                    // every so many passes over it, from the first; 0: the first only
  std::string answer;
  bool watchRefused = false;
};

void PrintTo(const ExchangeCase& c, std::ostream* out) { *out << c.name; }

class ScriptedExchangeTest : public ExchangeTest, public testing::WithParamInterface<ExchangeCase> {};

TEST_P(ScriptedExchangeTest, AnswersForOneStateOfTheTree) {
  const ExchangeCase& c = GetParam();
  const ino_t parent = inodeOf(tree / "t");
  const ino_t a = inodeOf(tree / "t/Dir Long");
  const std::string during = c.exchangedDuring;
  PassCounter counter([&](ino_t directory, int pass) {
    if (directory == (during == "t" ? parent : a) && (c.every == 0 ? pass == 1 : (pass - 1) % c.every == 0))
      exchange("t/Dir Long", "spare/Dir Long");
  });
  ChangeWatch::refused = c.watchRefused;
  EXPECT_EQ(answerFor(c.argument), c.answer);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScriptedExchangeTest,
    testing::Values(
        // t's aliases are worked out after A was entered.
        ExchangeCase{"WhileItsParentIsPassed", "t/Dir Long/report final one.txt", "t", 0, answerB},
        ExchangeCase{"WhileItsParentIsPassedWatchRefused", "t/Dir Long/report final one.txt", "t", 0, answerB, true},
        ExchangeCase{"WhileItIsPassed", "t/Dir Long/report final one.txt", "A", 0, answerB},
        ExchangeCase{"WhileItIsSearched", "t/Dir Long/report*", "A", 0, answerB},
        // The parent passes once a walk: every walk ends on a directory that has left.
        ExchangeCase{"OnEveryWalk", "t/Dir Long/report final one.txt", "t", 1, keptChanging}),
    [](const testing::TestParamInfo<ExchangeCase>& instance) { return std::string(instance.param.name); });

// A racer exchanging two directories as fast as it can, for a fixed number
// of runs: every answer is one of the two consistent ones, or the run gave up.
struct RaceCase {
  const char* name;
  std::string argument;
  const char* exchanged[2];
  std::string answers[2];
  bool watchRefused = false;
};

void PrintTo(const RaceCase& c, std::ostream* out) { *out << c.name; }

class ExchangeRaceTest : public ExchangeTest, public testing::WithParamInterface<RaceCase> {};

TEST_P(ExchangeRaceTest, NeverMixesTwoStates) {
  const RaceCase& c = GetParam();
  std::atomic<bool> stop = false;
  std::thread racer([&] {
    while (!stop) exchange(c.exchanged[0], c.exchanged[1]);
  });
  ChangeWatch::refused = c.watchRefused;
  std::map<std::string, int> answers;
  for (int run = 0; run < 200; ++run) ++answers[answerFor(c.argument)];
  stop = true;
  racer.join();
  for (const auto& [answer, times] : answers)
    EXPECT_TRUE(answer == c.answers[0] || answer == c.answers[1] || answer == keptChanging)
        << answer << " (" << times << " of 200)";
}

const RaceCase acrossParents{"", "", {"t/Dir Long", "spare/Dir Long"}, {answerA, answerB}};
const RaceCase withinParent{"", "", {"d/report final a", "d/report final b"},
                            {"d/REPORT~1/../REPORT~2", "d/REPORT~2/../REPORT~1"}};

RaceCase racing(const char* name, std::string argument, RaceCase race, bool watchRefused = false) {
  race.name = name;
  race.argument = std::move(argument);
  race.watchRefused = watchRefused;
  return race;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExchangeRaceTest,
    testing::Values(racing("Entered", "t/Dir Long/report final one.txt", acrossParents),
                    racing("EnteredWatchRefused", "t/Dir Long/report final one.txt", acrossParents, true),
                    racing("FoundByPattern", "t/Dir L*/report final one.txt", acrossParents),
                    racing("SearchedIn", "t/Dir Long/report*", acrossParents),
                    racing("BackThroughDotDot", "d/report final a/../report final b", withinParent),
                    racing("BackThroughDotDotWatchRefused", "d/report final a/../report final b", withinParent, true)),
    [](const testing::TestParamInfo<RaceCase>& instance) { return std::string(instance.param.name); });

}  // namespace

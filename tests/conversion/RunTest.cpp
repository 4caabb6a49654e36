// The whole run against a scripted platform: the order of its steps, the
// answers it leaves, and every failure with its line and exit status.
#include <gtest/gtest.h>

#include <map>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "conversion/GetVEK.h"

namespace {

using GetVEK::Failure;
using GetVEK::Found;
using GetVEK::Status;

// Records each step it is asked to take; fails those named in `failing`.
struct ScriptedPlatform {
  ScriptedPlatform(std::map<std::string, std::string> entries = {}, std::map<std::string, std::string> forms = {},
                   std::set<std::string> failingSteps = {}, bool failureRetryable = false)
      : firstEntries(std::move(entries)),
        shortForms(std::move(forms)),
        failing(std::move(failingSteps)),
        retryable(failureRetryable) {}

  std::map<std::string, std::string> firstEntries;  // pattern -> first entry
  std::map<std::string, std::string> shortForms;    // long path -> short form
  std::set<std::string> failing;                    // steps' names
  bool retryable;
  bool outOfMemory = false;  // the short-form query cannot get memory

  std::vector<std::string> steps;
  std::string written;
  std::vector<std::string> reported;

  static GetVEK::WindowsPathSyntax pathSyntax() { return {}; }

  Status step(std::string name) {
    steps.push_back(name);
    if (!failing.contains(name)) return {};
    return Failure{name + " X:\\App\\VEK.TX", "Access is denied.", retryable};
  }
  Status takeProgramDirectory() { return step("lock"); }
  Status createWorkFile(std::string_view name) { return step(std::string("create ") += name); }
  Status writeWorkFile(std::string_view bytes) {
    written = bytes;
    return step("write");
  }
  Status closeWorkFile() { return step("close"); }
  Status publishWorkFile(std::string_view name) { return step(std::string("rename to ") += name); }
  Status discardWorkFile() { return step("discard"); }
  Found findFirstEntry(const std::string& pattern) {
    if (Status failed = step("search " + pattern)) return *failed;
    const auto found = firstEntries.find(pattern);
    return found == firstEntries.end() ? Found::none() : Found::name(found->second);
  }
  Found shortForm(std::string_view path) {
    if (Status failed = step("short form of " + std::string(path))) return *failed;
    if (outOfMemory) throw std::bad_alloc();
    const auto found = shortForms.find(std::string(path));
    return found == shortForms.end() ? Found::none() : Found::name(found->second);
  }
  void report(std::string_view line) { reported.emplace_back(line); }
};

static_assert(GetVEK::ConversionPlatform<ScriptedPlatform>);

struct RunCase {
  const char* name;
  std::string commandText;
  ScriptedPlatform platform;
  int exitStatus;
  std::string written;  // what reached the work file
  std::vector<std::string> steps;
  std::vector<std::string> reported;
};

void PrintTo(const RunCase& c, std::ostream* out) { *out << c.name; }

class RunTest : public testing::TestWithParam<RunCase> {};

TEST_P(RunTest, TakesItsStepsInOrder) {
  RunCase c = GetParam();
  EXPECT_EQ(GetVEK::convert(c.platform, c.commandText), c.exitStatus);
  EXPECT_EQ(c.platform.steps, c.steps);
  EXPECT_EQ(c.platform.written, c.written);
  EXPECT_EQ(c.platform.reported, c.reported);
}

const std::string longPath = R"(C:\Program Files\report final.txt)";
const std::string shortPath = R"(C:\PROGRA~1\REPORT~1.TXT)";
const std::map<std::string, std::string> known{{longPath, shortPath}};
const std::vector<std::string> answered{
    "lock", "create VEK.TX", "short form of " + longPath, "write", "close", "rename to VEK.TXT"};
const std::string denied = ": Access is denied.";

ScriptedPlatform failingAt(std::string step, bool retryable = false) {
  return {{}, known, {std::move(step)}, retryable};
}

std::vector<std::string> firstSteps(std::size_t count) { return {answered.begin(), answered.begin() + count}; }

INSTANTIATE_TEST_SUITE_P(
    Cases, RunTest,
    testing::Values(
        RunCase{"SpacesAtTheEndsRemoved", "  " + longPath + "  ", {{}, known}, 0, shortPath, answered, {}},
        RunCase{"NoShortFormGivesTheMarker",
                "C:\\nothing",
                {},
                0,
                "bAd",
                {"lock", "create VEK.TX", "short form of C:\\nothing", "write", "close", "rename to VEK.TXT"},
                {}},
        RunCase{"OnlySpacesAskNothing",
                "   ",
                {},
                0,
                "bAd",
                {"lock", "create VEK.TX", "write", "close", "rename to VEK.TXT"},
                {}},
        RunCase{"WildcardsResolvedBeforeTheQuery",
                R"(C:\Program Files\rep*)",
                {{{R"(C:\Program Files\rep*)", "report final.txt"}}, known},
                0,
                shortPath,
                {"lock", "create VEK.TX", R"(search C:\Program Files\rep*)", "short form of " + longPath, "write",
                 "close", "rename to VEK.TXT"},
                {}},
        RunCase{"NoMatchAsksNoQuery",
                R"(C:\none*\x)",
                {},
                0,
                "bAd",
                {"lock", "create VEK.TX", R"(search C:\none*)", "write", "close", "rename to VEK.TXT"},
                {}},
        RunCase{"AnswerTooLongForTheBufferIsNone",
                "C:\\x",
                {{}, {{"C:\\x", std::string(1000, 'A')}}},
                0,
                "bAd",
                {"lock", "create VEK.TX", "short form of C:\\x", "write", "close", "rename to VEK.TXT"},
                {}},
        RunCase{"AnswerFillingTheBufferButItsTerminator",
                "C:\\x",
                {{}, {{"C:\\x", std::string(999, 'A')}}},
                0,
                std::string(999, 'A'),
                {"lock", "create VEK.TX", "short form of C:\\x", "write", "close", "rename to VEK.TXT"},
                {}},
        RunCase{"AnotherRunHoldsTheDirectory",
                longPath,
                failingAt("lock", true),
                75,
                "",
                firstSteps(1),
                {"getvek: cannot lock X:\\App\\VEK.TX" + denied}},
        RunCase{"WorkFileRefused", longPath, failingAt("create VEK.TX"), 1, "", firstSteps(2),
                {"getvek: cannot create VEK.TX X:\\App\\VEK.TX" + denied}},
        RunCase{"SearchCouldNotFindOut",
                R"(C:\Program Files\rep*)",
                failingAt(R"(search C:\Program Files\rep*)"),
                1,
                "",
                {"lock", "create VEK.TX", R"(search C:\Program Files\rep*)", "discard"},
                {R"(getvek: cannot search C:\Program Files\rep* X:\App\VEK.TX)" + denied}},
        RunCase{"QueryCouldNotFindOut",
                longPath,
                failingAt("short form of " + longPath),
                1,
                "",
                {"lock", "create VEK.TX", "short form of " + longPath, "discard"},
                {"getvek: cannot short form of " + longPath + " X:\\App\\VEK.TX" + denied}},
        RunCase{"WorkFileLeftAfterAnUnknownAnswer",
                longPath,
                {{}, known, {"short form of " + longPath, "discard"}},
                1,
                "",
                {"lock", "create VEK.TX", "short form of " + longPath, "discard"},
                {"getvek: cannot short form of " + longPath + " X:\\App\\VEK.TX" + denied,
                 "getvek: cannot discard X:\\App\\VEK.TX" + denied}},
        RunCase{"WriteFails", longPath, failingAt("write"), 1, shortPath, firstSteps(4),
                {"getvek: cannot write X:\\App\\VEK.TX" + denied}},
        RunCase{"CloseFails", longPath, failingAt("close"), 1, shortPath, firstSteps(5),
                {"getvek: cannot close X:\\App\\VEK.TX" + denied}},
        RunCase{"ResultStillThere", longPath, failingAt("rename to VEK.TXT", true), 75, shortPath, answered,
                {"getvek: cannot rename to VEK.TXT X:\\App\\VEK.TX" + denied}}),
    [](const testing::TestParamInfo<RunCase>& instance) { return std::string(instance.param.name); });

TEST(RunTest, OutOfMemoryIsAFailureNotAnAnswer) {
  ScriptedPlatform platform{{}, known};
  platform.outOfMemory = true;
  EXPECT_EQ(GetVEK::convert(platform, longPath), 1);
  EXPECT_EQ(platform.steps.back(), "discard");
  EXPECT_EQ(platform.reported, std::vector<std::string>{"getvek: cannot find the short form: out of memory"});
}

}  // namespace

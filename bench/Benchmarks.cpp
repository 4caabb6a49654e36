// In-process costs of the Linux build. Directories of 1,000 to 100,000
// entries are generated once under /tmp/gvbench and kept for later runs:
//   shared:   "long shared prefix 000123.txt", one basis for all, so aliases
//             clash and most take the checksum form;
//   distinct: names with nothing in common;
//   words:    "delta kilo 004711.txt", two words of the spelling alphabet and
//             a number, so a few hundred bases of a few hundred names each.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <iterator>
#include <optional>
#include <string>

#include "conversion/GetVEK.h"
#include "platform/Platform.h"
#include "platform/linux/walk/Walk.h"
#include "tests/linux/Files.h"
#include "windowsnames/ShortName.h"
#include "windowsnames/Wildcard.h"

namespace {

const std::string root = "/tmp/gvbench";

std::string sharedName(long index) {
  char name[64];
  std::snprintf(name, sizeof name, "long shared prefix %06ld.txt", index);
  return name;
}

// Letters spread by a multiplicative hash: no two names share much.
std::string distinctName(long index) {
  std::uint64_t mixed = static_cast<std::uint64_t>(index + 1) * 0x9E3779B97F4A7C15ull;
  std::string name;
  for (int i = 0; i < 10; ++i, mixed >>= 5) name += static_cast<char>('a' + mixed % 26);
  return name + " " + std::to_string(index) + ".data";
}

// The words picked by the same hash, so that creation order and listing
// order have nothing to do with each other.
std::string wordsName(long index) {
  static const char* const words[] = {"alfa",   "bravo",   "charlie", "delta",  "echo",   "foxtrot", "golf",
                                      "hotel",  "india",   "juliett", "kilo",   "lima",   "mike",    "november",
                                      "oscar",  "papa",    "quebec",  "romeo",  "sierra", "tango",   "uniform",
                                      "victor", "whiskey", "xray",    "yankee", "zulu"};
  const std::uint64_t mixed = static_cast<std::uint64_t>(index + 1) * 0x9E3779B97F4A7C15ull;
  char name[64];
  std::snprintf(name, sizeof name, "%s %s %06ld.txt", words[(mixed >> 40) % 26], words[(mixed >> 50) % 26], index);
  return name;
}

enum class Names : char { shared = 'S', distinct = 'D', words = 'W' };

std::string nameOf(Names kind, long index) {
  switch (kind) {
    case Names::shared:
      return sharedName(index);
    case Names::distinct:
      return distinctName(index);
    case Names::words:
      return wordsName(index);
  }
  return {};
}
std::string nameOf(bool shared, long index) { return nameOf(shared ? Names::shared : Names::distinct, index); }

// The directory of `entries` names, made once; a marker beside it, not in
// it, says it is complete.
std::string directoryOf(Names kind, long entries) {
  const std::string directory = root + "/" + static_cast<char>(kind) + std::to_string(entries);
  if (TestSupport::exists(directory + ".complete")) return directory;
  TestSupport::makeDirectories(directory);
  for (long index = 0; index < entries; ++index) TestSupport::makeFile(directory + "/" + nameOf(kind, index));
  TestSupport::makeFile(directory + ".complete");
  return directory;
}
std::string directoryOf(bool shared, long entries) {
  return directoryOf(shared ? Names::shared : Names::distinct, entries);
}

void translatingWildcards(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(WindowsNames::translateWildcards("Rep?rt*final.d?c"));
}
BENCHMARK(translatingWildcards);

void matchingWildcards(benchmark::State& state) {
  const auto pattern = WindowsNames::translateWildcards("*050000.t?t");
  for (auto _ : state)
    benchmark::DoNotOptimize(WindowsNames::matchesWildcards(pattern, "long shared prefix 050000.txt"));
}
BENCHMARK(matchingWildcards);

void aliasBasisAndChecksum(benchmark::State& state) {
  for (auto _ : state) {
    const auto basis = WindowsNames::aliasBasis("long shared prefix 050000.txt");
    benchmark::DoNotOptimize(
        WindowsNames::checksumPrefix(basis, WindowsNames::aliasChecksum("long shared prefix 050000.txt")));
  }
}
BENCHMARK(aliasBasisAndChecksum);

// Args: shared (1) or distinct (0), entries. The target is the entry made
// halfway, so half the directory was created before it.
void findFirstFile(benchmark::State& state) {
  const bool shared = state.range(0) != 0;
  const long entries = state.range(1);
  const std::string target = nameOf(shared, entries / 2);
  const std::string pattern = directoryOf(shared, entries) + "/*" + target.substr(target.size() - 9);
  for (auto _ : state) {
    Platform::Linux::Walk walk;
    const GetVEK::Found found = walk.findFirstEntry(pattern);
    if (found.nameIfAny() != target) state.SkipWithError("wrong entry");
  }
  state.SetComplexityN(entries);
}

void getShortPathName(benchmark::State& state) {
  const bool shared = state.range(0) != 0;
  const long entries = state.range(1);
  const std::string path = directoryOf(shared, entries) + "/" + nameOf(shared, entries / 2);
  for (auto _ : state) {
    Platform::Linux::Walk walk;
    const GetVEK::Found found = walk.shortForm(path);
    if (!found.hasName()) state.SkipWithError("no short form");
  }
  state.SetComplexityN(entries);
}

void directorySizes(benchmark::internal::Benchmark* benchmark) {
  for (const long shared : {1, 0})
    for (const long entries : {1000, 10000, 100000}) benchmark->Args({shared, entries});
  benchmark->ArgNames({"shared", "entries"})->Unit(benchmark::kMillisecond);
}
BENCHMARK(findFirstFile)->Apply(directorySizes);
BENCHMARK(getShortPathName)->Apply(directorySizes);

void resolvingWildcards(benchmark::State& state) {
  const std::string tree = root + "/tree";
  TestSupport::makeFile(tree + "/Documents/Quarterly Reports/Summary 2026.txt");
  const std::string text = tree + "/Doc?ments/Quarterly*/Summ*2026.t?t";
  for (auto _ : state) {
    Platform::NativeServices platform;
    const GetVEK::Found found = GetVEK::shortFormOf(platform, text);
    if (!found.hasName()) state.SkipWithError("no match");
  }
}
BENCHMARK(resolvingWildcards)->Unit(benchmark::kMicrosecond);

// The cases that cost most: entries among the first four of a basis shared by
// every name, and patterns that match through aliases only. Each is the
// argument text a caller gives, relative to its directory, resolved and
// shortened as a run does.
struct WorstCase {
  const char* label;
  Names kind;
  const char* argument;
};
const WorstCase worstCases[] = {
    {"first created", Names::shared, "long shared prefix 000000.txt"},
    {"third created", Names::shared, "long shared prefix 000002.txt"},
    {"alias typed back", Names::shared, "LONGSH~1.TXT"},
    {"LO*", Names::shared, "LO*"},
    {"*~*", Names::shared, "*~*"},
    {"*~3* among words", Names::words, "*~3*"},
    {"*.c among words", Names::words, "*.c"},
};

void worstCase(benchmark::State& state) {
  const WorstCase& worst = worstCases[state.range(0)];
  const long entries = state.range(1);
  const std::string text = directoryOf(worst.kind, entries) + "/" + worst.argument;
  state.SetLabel(worst.label);
  for (auto _ : state) {
    Platform::NativeServices platform;
    const GetVEK::Found found = GetVEK::shortFormOf(platform, text);
    benchmark::DoNotOptimize(found.hasName());
  }
}
void worstCaseSizes(benchmark::internal::Benchmark* benchmark) {
  for (long at = 0; at < static_cast<long>(std::size(worstCases)); ++at)
    for (const long entries : {1000, 100000}) benchmark->Args({at, entries});
  benchmark->ArgNames({"case", "entries"})->Unit(benchmark::kMillisecond);
}
BENCHMARK(worstCase)->Apply(worstCaseSizes);

}  // namespace

BENCHMARK_MAIN();

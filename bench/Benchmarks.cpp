// In-process costs of the Linux build. Directories of 1,000 to 100,000
// entries are generated once under /tmp/gvbench and kept for later runs:
//   shared:   "long shared prefix 000123.txt", one basis for all, so aliases
//             clash and most take the checksum form;
//   distinct: names with nothing in common.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "conversion/Resolve.h"
#include "platform/Platform.h"
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

std::string nameOf(bool shared, long index) { return shared ? sharedName(index) : distinctName(index); }

// The directory of `entries` names, made once; a marker beside it, not in
// it, says it is complete.
std::string directoryOf(bool shared, long entries) {
  const std::string directory = root + "/" + (shared ? "S" : "D") + std::to_string(entries);
  if (TestSupport::exists(directory + ".complete")) return directory;
  TestSupport::makeDirectories(directory);
  for (long index = 0; index < entries; ++index) TestSupport::makeFile(directory + "/" + nameOf(shared, index));
  TestSupport::makeFile(directory + ".complete");
  return directory;
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
  Platform::WIN32_FIND_DATAA found;
  for (auto _ : state) {
    const auto handle = Platform::FindFirstFileA(pattern.c_str(), &found);
    if (handle <= 0 || target != found.cFileName) state.SkipWithError("wrong entry");
    Platform::FindClose(handle);
  }
  state.SetComplexityN(entries);
}

void getShortPathName(benchmark::State& state) {
  const bool shared = state.range(0) != 0;
  const long entries = state.range(1);
  const std::string path = directoryOf(shared, entries) + "/" + nameOf(shared, entries / 2);
  char buffer[1000];
  for (auto _ : state) {
    if (Platform::GetShortPathNameA(path.c_str(), buffer, sizeof buffer) == 0) state.SkipWithError("no short form");
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
    if (!GetVEK::resolve(text)) state.SkipWithError("no match");
  }
}
BENCHMARK(resolvingWildcards)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

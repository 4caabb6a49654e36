// The run's file steps on Windows, taken one by one in a directory of the
// test's own, so that another file can be put under the work name at the one
// moment that matters: after the answer is written, before it is published.
#include <gtest/gtest.h>

#include "platform/windows/Services.h"
#include "tests/windows/TestTree.h"

namespace {

using namespace TestSupport;

// The Unix path of a Windows one, where Wine runs the test; nothing elsewhere.
std::optional<std::string> unixPathOf(const std::wstring& path) {
  using UnixName = char*(CDECL*)(const wchar_t*);
  const auto unixName =
      reinterpret_cast<UnixName>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (unixName == nullptr) return std::nullopt;
  char* const name = unixName(path.c_str());
  if (name == nullptr) return std::nullopt;
  std::string text(name);
  HeapFree(GetProcessHeap(), 0, name);
  return text;
}

// Whether the file took the work name. `skipped` says why a way cannot be
// tried here.
using Swap = bool (*)(const std::wstring& decoy, const std::wstring& work, std::string& skipped);

struct SwapCase {
  const char* name;
  Swap swap;
  bool nameTaken;  // expected: only a process that no share mode holds can
};

void PrintTo(const SwapCase& c, std::ostream* out) { *out << c.name; }

bool renameOnto(const std::wstring& decoy, const std::wstring& work, std::string&) {
  return MoveFileExW(decoy.c_str(), work.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool removeThenRename(const std::wstring& decoy, const std::wstring& work, std::string&) {
  DeleteFileW(work.c_str());
  return MoveFileW(decoy.c_str(), work.c_str()) != FALSE;
}

// Under Wine a Unix process renames past every share mode, as any user on
// the Linux side who may write the directory can.
bool renameFromTheUnixSide(const std::wstring& decoy, const std::wstring& work, std::string& skipped) {
  const std::optional<std::string> from = unixPathOf(decoy);
  const std::optional<std::string> to = unixPathOf(work);
  if (!from || !to || GetFileAttributesW(L"Z:\\bin\\mv") == INVALID_FILE_ATTRIBUTES) {
    skipped = "no Unix side to rename from: not under Wine";
    return false;
  }
  std::wstring commandLine = widen("mv -f \"" + *from + "\" \"" + *to + "\"", CP_UTF8);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(L"Z:\\bin\\mv", commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return false;
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  // Wine's wait on a Unix process may return before the rename is seen: the
  // decoy's old name going is what tells that it is done.
  for (int wait = 0; wait < 500 && GetFileAttributesW(decoy.c_str()) != INVALID_FILE_ATTRIBUTES; ++wait) Sleep(10);
  return GetFileAttributesW(decoy.c_str()) == INVALID_FILE_ATTRIBUTES;
}

class PublishTest : public testing::TestWithParam<SwapCase> {};

TEST_P(PublishTest, PublishesOnlyTheRunsOwnFile) {
  const TempTree tree;
  const std::wstring directory = widen(tree.path());
  const std::wstring work = directory + L"\\VEK.TX";
  const std::wstring decoy = directory + L"\\decoy.txt";
  Platform::Windows::Services services;
  const auto done = [](const GetVEK::Status& status) { return status ? status->action + ": " + status->reason : ""; };
  ASSERT_EQ(done(services.takeDirectory(directory)), "");
  ASSERT_EQ(done(services.createWorkFile("VEK.TX")), "");
  ASSERT_EQ(done(services.writeWorkFile("ours")), "");
  ASSERT_EQ(done(services.closeWorkFile()), "");
  writeFile(toAnsi(decoy), "decoy");

  std::string skipped;
  const bool taken = GetParam().swap(decoy, work, skipped);
  if (!skipped.empty()) GTEST_SKIP() << skipped;
  ASSERT_EQ(taken, GetParam().nameTaken);
  if (taken) {
    ASSERT_EQ(readFile(work), "decoy");
  }

  const GetVEK::Status published = services.publishWorkFile("VEK.TXT");
  if (taken) {
    // The run cannot give its own file the name any more: it fails, and does
    // not answer with somebody else's bytes.
    ASSERT_TRUE(published.has_value());
    EXPECT_EQ(published->action, toAnsi(L"rename " + work + L" to " + directory + L"\\VEK.TXT"));
    EXPECT_FALSE(published->worthRetrying);
  } else {
    EXPECT_EQ(done(published), "");
    EXPECT_EQ(readFile(directory + L"\\VEK.TXT"), "ours");
    EXPECT_EQ(readFile(decoy), "decoy");
    EXPECT_EQ(readFile(work), std::nullopt);
  }
}

INSTANTIATE_TEST_SUITE_P(Swaps, PublishTest,
                         testing::Values(SwapCase{"RenamedOntoTheWorkName", renameOnto, false},
                                         SwapCase{"WorkNameRemovedThenTaken", removeThenRename, false},
                                         SwapCase{"RenamedFromTheUnixSide", renameFromTheUnixSide, true}),
                         [](const testing::TestParamInfo<SwapCase>& instance) {
                           return std::string(instance.param.name);
                         });

}  // namespace

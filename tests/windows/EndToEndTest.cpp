// The built getvek.exe started as a Windows host starts it: CreateProcessA
// with an exact command line, then VEK.TXT read from the executable's
// directory. Expected short forms come from the platform itself, so nothing
// here depends on how a file system spells its aliases.
#define WIN32_LEAN_AND_MEAN
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <stdexcept>
#include <string>

#include "tests/Placeholders.h"

namespace {

std::string directoryOfThisProgram() {
  char path[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  if (length == 0 || length == sizeof path) throw std::runtime_error("GetModuleFileNameA");
  const std::string full(path, length);
  return full.substr(0, full.rfind('\\'));
}

std::optional<std::string> readFile(const std::string& path) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string content;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) content.append(buffer, got);
  CloseHandle(file);
  return content;
}

void writeFile(const std::string& path, const std::string& content) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("create " + path);
  DWORD written = 0;
  WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  CloseHandle(file);
}

void removeTree(const std::string& path) {
  WIN32_FIND_DATAA entry;
  const HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = entry.cFileName;
      if (name == "." || name == "..") continue;
      const std::string child = path + "\\" + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        removeTree(child);
      else
        DeleteFileA(child.c_str());
    } while (FindNextFileA(search, &entry));
    FindClose(search);
  }
  RemoveDirectoryA(path.c_str());
}

// A fresh directory under the temporary directory, removed at the end.
class TempTree {
 public:
  TempTree() {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    static unsigned counter = 0;
    path_ = std::string(temp) + "gv" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++counter);
    if (!CreateDirectoryA(path_.c_str(), nullptr)) throw std::runtime_error("create " + path_);
  }
  ~TempTree() { removeTree(path_); }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& relative) const { return path_ + "\\" + relative; }

  void makeFile(const std::string& relative) const {
    std::size_t at = 0;
    while ((at = relative.find('\\', at)) != std::string::npos)
      CreateDirectoryA((*this / relative.substr(0, at++)).c_str(), nullptr);
    writeFile(*this / relative, "content");
  }

 private:
  std::string path_;
};

std::string shortPathOf(const std::string& longPath) {
  char buffer[1000];
  const DWORD length = GetShortPathNameA(longPath.c_str(), buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) throw std::runtime_error("no short form for " + longPath);
  return std::string(buffer, length);
}

struct RunOutcome {
  DWORD exitCode = 0;
  std::string standardError;
  std::optional<std::string> result;
  std::optional<std::string> workFile;
};

class ProgramDirectory {
 public:
  ProgramDirectory() {
    if (!CopyFileA((directoryOfThisProgram() + "\\getvek.exe").c_str(), executable().c_str(), TRUE))
      throw std::runtime_error("copy getvek.exe");
  }

  std::string executable() const { return tree_ / "getvek.exe"; }
  std::string resultPath() const { return tree_ / "VEK.TXT"; }
  std::string workPath() const { return tree_ / "VEK.TX"; }

  // Starts the tool with `commandLine` exactly, "{EXE}" standing for its path.
  RunOutcome run(std::string commandLine) const {
    commandLine = TestSupport::substitute(std::move(commandLine), "{EXE}", executable());
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE errorRead = nullptr;
    HANDLE errorWrite = nullptr;
    if (!CreatePipe(&errorRead, &errorWrite, &inherit, 0)) throw std::runtime_error("CreatePipe");
    SetHandleInformation(errorRead, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = errorWrite;
    startup.hStdError = errorWrite;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(executable().c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process))
      throw std::runtime_error("CreateProcessA " + commandLine);
    CloseHandle(errorWrite);

    RunOutcome outcome;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(errorRead, buffer, sizeof buffer, &got, nullptr) && got > 0)
      outcome.standardError.append(buffer, got);
    CloseHandle(errorRead);
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &outcome.exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    outcome.result = readFile(resultPath());
    outcome.workFile = readFile(workPath());
    return outcome;
  }

 private:
  TempTree tree_;
};

struct ConversionCase {
  const char* name;
  const char* commandLine;  // "{EXE}" the tool, "{T}" the tree
  const char* shortFormOf;  // the long path whose short form is expected; nullptr: "bAd"
};

void PrintTo(const ConversionCase& c, std::ostream* out) { *out << c.name; }

class ConversionTest : public testing::TestWithParam<ConversionCase> {
 protected:
  void SetUp() override {
    tree.makeFile("My Documents\\report final.txt");
    tree.makeFile("Docs\\Reports\\Summary.txt");
  }
  TempTree tree;
};

TEST_P(ConversionTest, LeavesTheAnswerInTheResultFile) {
  const ConversionCase& c = GetParam();
  const RunOutcome outcome = ProgramDirectory().run(TestSupport::substituteTree(c.commandLine, tree.path()));
  const std::string expected =
      c.shortFormOf ? shortPathOf(TestSupport::substituteTree(c.shortFormOf, tree.path())) : "bAd";
  EXPECT_EQ(outcome.result, expected);
  EXPECT_EQ(outcome.workFile, std::nullopt);
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_EQ(outcome.standardError, "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConversionTest,
    testing::Values(ConversionCase{"SpacesAround", "\"{EXE}\"    {T}\\My Documents\\report final.txt   ",
                                   "{T}\\My Documents\\report final.txt"},
                    ConversionCase{"SpacesInsideNeedNoQuotes", "\"{EXE}\" {T}\\My Documents\\report final.txt",
                                   "{T}\\My Documents\\report final.txt"},
                    ConversionCase{"TabsSeparateTheProgramName", "\"{EXE}\"\t \t{T}\\Docs\\Reports\\Summary.txt",
                                   "{T}\\Docs\\Reports\\Summary.txt"},
                    ConversionCase{"UnquotedProgramName", "{EXE} {T}\\Docs\\Reports\\Summary.txt",
                                   "{T}\\Docs\\Reports\\Summary.txt"},
                    ConversionCase{"QuotedPathKeepsItsQuotes", "\"{EXE}\" \"{T}\\My Documents\\report final.txt\"",
                                   nullptr},
                    ConversionCase{"TrailingTabKept", "\"{EXE}\" {T}\\Docs\\Reports\\Summary.txt\t", nullptr},
                    ConversionCase{"NoArgumentText", "\"{EXE}\"", nullptr},
                    ConversionCase{"OnlySpaces", "\"{EXE}\"      ", nullptr},
                    ConversionCase{"MissingPath", "\"{EXE}\" {T}\\nothing here.txt", nullptr},
                    ConversionCase{"WildcardsInSeveralComponents", "\"{EXE}\" {T}\\Docs\\Rep?rts\\Summar?.txt",
                                   "{T}\\Docs\\Reports\\Summary.txt"},
                    ConversionCase{"WildcardWithoutMatch", "\"{EXE}\" {T}\\Docs\\X*\\Summary.txt", nullptr},
                    ConversionCase{"StarFindsDotFirst", "\"{EXE}\" {T}\\Docs\\*", "{T}\\Docs\\."}),
    [](const testing::TestParamInfo<ConversionCase>& instance) { return std::string(instance.param.name); });

TEST(EndToEndTest, ExistingResultIsNeitherReplacedNorTouched) {
  TempTree tree;
  tree.makeFile("Docs\\Reports\\Summary.txt");
  const ProgramDirectory program;
  writeFile(program.resultPath(), "earlier answer");
  const RunOutcome outcome = program.run("\"{EXE}\" " + (tree / "Docs\\Reports\\Summary.txt"));
  EXPECT_EQ(outcome.exitCode, 1u);
  EXPECT_EQ(outcome.standardError.rfind(
                "getvek: cannot rename " + program.workPath() + " to " + program.resultPath() + ": ", 0),
            0u)
      << outcome.standardError;
  EXPECT_EQ(outcome.result, "earlier answer");
  EXPECT_EQ(outcome.workFile, shortPathOf(tree / "Docs\\Reports\\Summary.txt"));
}

TEST(EndToEndTest, StaleLongerWorkFileIsEmptiedFirst) {
  TempTree tree;
  tree.makeFile("Docs\\Reports\\Summary.txt");
  const ProgramDirectory program;
  writeFile(program.workPath(), std::string(4000, 'x'));
  const RunOutcome outcome = program.run("\"{EXE}\" " + (tree / "Docs\\Reports\\Summary.txt"));
  EXPECT_EQ(outcome.result, shortPathOf(tree / "Docs\\Reports\\Summary.txt"));
  EXPECT_EQ(outcome.workFile, std::nullopt);
  EXPECT_EQ(outcome.exitCode, 0u);
}

}  // namespace

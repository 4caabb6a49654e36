// Real directory trees and real runs of the built getvek.exe, as a Windows
// host makes them: the executable copied into a fresh program directory,
// started with CreateProcessA (or CreateProcessW) and an exact command line,
// VEK.TXT read back.
#pragma once
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <optional>
#include <stdexcept>
#include <string>

#include "tests/Placeholders.h"

namespace TestSupport {

inline std::string directoryOfThisProgram() {
  char path[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  if (length == 0 || length == sizeof path) throw std::runtime_error("GetModuleFileNameA");
  const std::string full(path, length);
  return full.substr(0, full.rfind('\\'));
}

// Texts for the wide functions: the tests' own literals are UTF-8, paths the
// system gave in narrow form are in the ANSI code page.
inline std::wstring widen(const std::string& text, UINT codePage = CP_ACP) {
  if (text.empty()) return {};
  const int size = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

inline std::string toAnsi(const std::wstring& text) {
  if (text.empty()) return {};
  const int size =
      WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), narrow.data(), size, nullptr, nullptr);
  return narrow;
}

// The text in the system's code page, when it holds every character.
inline std::optional<std::string> narrowExactly(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  BOOL usedDefault = FALSE;
  const int size = static_cast<int>(wide.size());
  const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, narrow.data(), length, nullptr, &usedDefault);
  if (length <= 0 || usedDefault) return std::nullopt;
  return narrow;
}

inline std::optional<std::string> readFile(const std::wstring& path) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string content;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) content.append(buffer, got);
  CloseHandle(file);
  return content;
}

inline std::optional<std::string> readFile(const std::string& path) { return readFile(widen(path, CP_ACP)); }

inline void writeFile(const std::string& path, const std::string& content) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("create " + path);
  DWORD written = 0;
  WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  CloseHandle(file);
}

// Wide, so that names the ANSI code page cannot hold go too.
inline void removeTree(const std::wstring& path) {
  WIN32_FIND_DATAW entry;
  const HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = path + L"\\" + name;
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
          !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        removeTree(child);
      else if (!DeleteFileW(child.c_str()))
        RemoveDirectoryW(child.c_str());  // a link to a directory
    } while (FindNextFileW(search, &entry));
    FindClose(search);
  }
  RemoveDirectoryW(path.c_str());
}

inline void removeTree(const std::string& path) { removeTree(widen(path, CP_ACP)); }

// A fresh directory under the temporary directory, removed at the end.
class TempTree {
 public:
  TempTree() {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    // Wine reuses process numbers, and a test killed before its clean-up
    // leaves its tree: a name taken is passed over.
    static unsigned counter = 0;
    do {
      path_ = std::string(temp) + "gv" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++counter);
    } while (!CreateDirectoryA(path_.c_str(), nullptr) && GetLastError() == ERROR_ALREADY_EXISTS);
    if (GetFileAttributesA(path_.c_str()) == INVALID_FILE_ATTRIBUTES) throw std::runtime_error("create " + path_);
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

  // Named in UTF-16, for names that the code page may lack.
  void makeFile(const std::wstring& relative) const {
    const std::wstring tree = widen(path_) + L"\\";
    std::size_t at = 0;
    while ((at = relative.find(L'\\', at)) != std::wstring::npos)
      CreateDirectoryW((tree + relative.substr(0, at++)).c_str(), nullptr);
    const HANDLE file = CreateFileW((tree + relative).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("create a file with a UTF-16 name");
    CloseHandle(file);
  }

 private:
  std::string path_;
};

inline std::string shortPathOf(const std::string& longPath) {
  char buffer[1000];
  const DWORD length = GetShortPathNameA(longPath.c_str(), buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) throw std::runtime_error("no short form for " + longPath);
  return std::string(buffer, length);
}

inline std::wstring currentDirectory() {
  wchar_t buffer[MAX_PATH * 4];
  const DWORD length = GetCurrentDirectoryW(MAX_PATH * 4, buffer);
  if (length == 0 || length >= MAX_PATH * 4) throw std::runtime_error("GetCurrentDirectoryW");
  return std::wstring(buffer, length);
}

// The short form as the wide query gives it.
inline std::wstring wideShortPathOf(const std::wstring& longPath) {
  wchar_t buffer[1000];
  const DWORD length = GetShortPathNameW(longPath.c_str(), buffer, 1000);
  if (length == 0 || length >= 1000) throw std::runtime_error("no short form for a UTF-16 path");
  return std::wstring(buffer, length);
}

// The same in the code page.
inline std::string shortPathOf(const std::wstring& longPath) {
  const std::optional<std::string> narrow = narrowExactly(wideShortPathOf(longPath));
  if (!narrow) throw std::runtime_error("a short form that the code page lacks");
  return *narrow;
}

struct RunOutcome {
  DWORD exitCode = 0;
  std::string standardError;
  std::optional<std::string> result;
  std::optional<std::string> workFile;
};

// A run started and not yet waited for: its process, and the read end of the
// pipe that its standard output and error go to.
struct StartedRun {
  PROCESS_INFORMATION process{};
  HANDLE errorRead = nullptr;
};

// The pipe for a run's standard output and error, its write end inheritable,
// in the startup record of the CreateProcess variant at hand.
template <typename StartupInfo>
HANDLE startupWithErrorPipe(StartupInfo& startup, HANDLE& errorWrite) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE errorRead = nullptr;
  if (!CreatePipe(&errorRead, &errorWrite, &inherit, 0)) throw std::runtime_error("CreatePipe");
  SetHandleInformation(errorRead, HANDLE_FLAG_INHERIT, 0);
  startup = StartupInfo{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = errorWrite;
  startup.hStdError = errorWrite;
  return errorRead;
}

// Waits for the run to end: its exit code and all it wrote.
inline void finishProcess(StartedRun run, RunOutcome& outcome) {
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(run.errorRead, buffer, sizeof buffer, &got, nullptr) && got > 0)
    outcome.standardError.append(buffer, got);
  CloseHandle(run.errorRead);
  WaitForSingleObject(run.process.hProcess, INFINITE);
  GetExitCodeProcess(run.process.hProcess, &outcome.exitCode);
  CloseHandle(run.process.hProcess);
  CloseHandle(run.process.hThread);
}

class ProgramDirectory {
 public:
  ProgramDirectory() : ProgramDirectory(L"") {}

  // In a subdirectory of the fresh tree named `name`, which the ANSI code
  // page need not be able to hold.
  explicit ProgramDirectory(const std::wstring& name)
      : directory_(name.empty() ? widen(tree_.path(), CP_ACP) : widen(tree_.path(), CP_ACP) + L"\\" + name) {
    if (!name.empty() && !CreateDirectoryW(directory_.c_str(), nullptr)) throw std::runtime_error("create directory");
    if (!CopyFileW((widen(directoryOfThisProgram(), CP_ACP) + L"\\getvek.exe").c_str(), executableW().c_str(), TRUE))
      throw std::runtime_error("copy getvek.exe");
  }

  // In narrow form: exact for a program directory the ANSI code page holds.
  std::string executable() const { return toAnsi(executableW()); }
  std::string resultPath() const { return toAnsi(resultPathW()); }
  std::string workPath() const { return toAnsi(workPathW()); }

  const std::wstring& directory() const { return directory_; }
  std::wstring executableW() const { return directory_ + L"\\getvek.exe"; }
  std::wstring resultPathW() const { return directory_ + L"\\VEK.TXT"; }
  std::wstring workPathW() const { return directory_ + L"\\VEK.TX"; }

  // Starts the tool with `commandLine` exactly, "{EXE}" standing for its path,
  // in the host's current directory or in `currentDirectory`.
  RunOutcome run(std::string commandLine, const std::string& currentDirectory = {}) const {
    commandLine = substitute(std::move(commandLine), "{EXE}", executable());
    STARTUPINFOA startup;
    HANDLE errorWrite = nullptr;
    StartedRun started;
    started.errorRead = startupWithErrorPipe(startup, errorWrite);
    if (!CreateProcessA(executable().c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        currentDirectory.empty() ? nullptr : currentDirectory.c_str(), &startup, &started.process))
      throw std::runtime_error("CreateProcessA " + commandLine);
    CloseHandle(errorWrite);
    return finish(started);
  }

  // The same with a UTF-16 command line, as a host started in another code
  // page, or one that calls the wide functions, passes it.
  RunOutcome run(std::wstring commandLine) const {
    return finish(startCommandLine(substitute(std::move(commandLine), L"{EXE}", executableW())));
  }

  // Starts the tool with the wide command line `arguments` after its quoted
  // path, suspended when asked, so that many runs can be let go at once.
  StartedRun start(const std::wstring& arguments, bool suspended = false) const {
    return startCommandLine(L"\"" + executableW() + L"\" " + arguments, suspended);
  }

  RunOutcome finish(StartedRun started) const {
    RunOutcome outcome;
    finishProcess(started, outcome);
    outcome.result = readFile(resultPathW());
    outcome.workFile = readFile(workPathW());
    return outcome;
  }

 private:
  StartedRun startCommandLine(std::wstring commandLine, bool suspended = false) const {
    STARTUPINFOW startup;
    HANDLE errorWrite = nullptr;
    StartedRun started;
    started.errorRead = startupWithErrorPipe(startup, errorWrite);
    if (!CreateProcessW(executableW().c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                        suspended ? CREATE_SUSPENDED : 0, nullptr, nullptr, &startup, &started.process))
      throw std::runtime_error("CreateProcessW");
    CloseHandle(errorWrite);
    return started;
  }

  TempTree tree_;
  std::wstring directory_;
};

}  // namespace TestSupport

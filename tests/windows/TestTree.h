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

inline std::wstring widen(const std::string& narrow) {
  std::wstring wide(narrow.size(), L'\0');
  const int length = MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()), wide.data(),
                                         static_cast<int>(wide.size()));
  wide.resize(static_cast<std::size_t>(length));
  return wide;
}

inline std::optional<std::string> readFile(const std::string& path) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string content;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) content.append(buffer, got);
  CloseHandle(file);
  return content;
}

inline void writeFile(const std::string& path, const std::string& content) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("create " + path);
  DWORD written = 0;
  WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  CloseHandle(file);
}

// Wide, so that names the code page lacks go too.
inline void removeTree(const std::wstring& path) {
  WIN32_FIND_DATAW entry;
  const HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = path + L"\\" + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        removeTree(child);
      else
        DeleteFileW(child.c_str());
    } while (FindNextFileW(search, &entry));
    FindClose(search);
  }
  RemoveDirectoryW(path.c_str());
}

inline void removeTree(const std::string& path) { removeTree(widen(path)); }

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

// The short form as the wide query gives it, in the code page.
inline std::string shortPathOf(const std::wstring& longPath) {
  wchar_t buffer[1000];
  const DWORD length = GetShortPathNameW(longPath.c_str(), buffer, 1000);
  if (length == 0 || length >= 1000) throw std::runtime_error("no short form for a UTF-16 path");
  const std::optional<std::string> narrow = narrowExactly(std::wstring(buffer, length));
  if (!narrow) throw std::runtime_error("a short form that the code page lacks");
  return *narrow;
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

  // Starts the tool with `commandLine` exactly, "{EXE}" standing for its path,
  // in the host's current directory or in `currentDirectory`.
  RunOutcome run(std::string commandLine, const std::string& currentDirectory = {}) const {
    commandLine = substitute(std::move(commandLine), "{EXE}", executable());
    return collect<STARTUPINFOA>([&](STARTUPINFOA& startup, PROCESS_INFORMATION& process) {
      return CreateProcessA(executable().c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                            currentDirectory.empty() ? nullptr : currentDirectory.c_str(), &startup, &process);
    });
  }

  // The same with a UTF-16 command line, as a host started in another code
  // page, or one that calls the wide functions, passes it.
  RunOutcome run(std::wstring commandLine) const {
    commandLine = substitute(std::move(commandLine), L"{EXE}", widen(executable()));
    return collect<STARTUPINFOW>([&](STARTUPINFOW& startup, PROCESS_INFORMATION& process) {
      return CreateProcessW(widen(executable()).c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                            nullptr, &startup, &process);
    });
  }

 private:
  // Runs what `start` starts with its standard output and error on one pipe,
  // waits for its end and reads back both files.
  template <class StartupInfo, class Start>
  RunOutcome collect(Start start) const {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE errorRead = nullptr;
    HANDLE errorWrite = nullptr;
    if (!CreatePipe(&errorRead, &errorWrite, &inherit, 0)) throw std::runtime_error("CreatePipe");
    SetHandleInformation(errorRead, HANDLE_FLAG_INHERIT, 0);
    StartupInfo startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = errorWrite;
    startup.hStdError = errorWrite;
    PROCESS_INFORMATION process{};
    if (!start(startup, process)) throw std::runtime_error("CreateProcess");
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

  TempTree tree_;
};

}  // namespace TestSupport

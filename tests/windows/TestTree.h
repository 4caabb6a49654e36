// Real directory trees and real runs of the built getvek.exe, as a Windows
// host makes them: the executable copied into a fresh program directory,
// started with CreateProcessA and an exact command line, VEK.TXT read back.
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

inline void removeTree(const std::string& path) {
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

inline std::string shortPathOf(const std::string& longPath) {
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
    commandLine = substitute(std::move(commandLine), "{EXE}", executable());
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

}  // namespace TestSupport

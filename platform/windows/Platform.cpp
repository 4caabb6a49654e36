// The platform services on Windows: kernel32 itself.
#define WIN32_LEAN_AND_MEAN
#include "platform/Platform.h"

#include <windows.h>

#include <cstring>

namespace Platform {
namespace {

std::string systemMessage(DWORD error) {
  char* text = nullptr;
  const DWORD length =
      ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  if (length == 0) return "error " + std::to_string(error);
  std::string message(text, length);
  ::LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
    message.pop_back();
  return message;
}

// The unhandled-error path: one line, exit status 1, nothing more done.
[[noreturn]] void endRun(const std::string& what, DWORD error) {
  const std::string line = "getvek: cannot " + what + ": " + systemMessage(error) + "\r\n";
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  ::ExitProcess(1);
}

HANDLE fileHandle(OutputFile file) { return reinterpret_cast<HANDLE>(file.handle); }

}  // namespace

// The program's name ends at its closing quote when it starts with one, else
// at the first space or tab; the blanks after it separate it from the text.
std::string argumentText(int, char**) {
  const char* line = ::GetCommandLineA();
  if (*line == '"') {
    ++line;
    while (*line != '\0' && *line != '"') ++line;
    if (*line == '"') ++line;
  } else {
    while (*line != '\0' && *line != ' ' && *line != '\t') ++line;
  }
  while (*line == ' ' || *line == '\t') ++line;
  return line;
}

std::string programDirectory() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) endRun("find the program directory", ::GetLastError());
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);  // cut short: a directory longer than MAX_PATH
  }
  path.resize(path.rfind('\\'));
  return path;
}

bool isSystemLeadByte(unsigned char byte) { return ::IsDBCSLeadByte(byte) != FALSE; }

SearchHandle FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* found) {
  ::WIN32_FIND_DATAA data;
  const auto handle = reinterpret_cast<SearchHandle>(::FindFirstFileA(pattern, &data));
  if (handle > 0) std::memcpy(found->cFileName, data.cFileName, sizeof found->cFileName);
  return handle;
}

void FindClose(SearchHandle handle) { ::FindClose(reinterpret_cast<HANDLE>(handle)); }

std::uint32_t GetShortPathNameA(const char* longPath, char* buffer, std::uint32_t capacity) {
  return ::GetShortPathNameA(longPath, buffer, capacity);
}

// Share mode 0: no other run can open the work file while this one holds it.
OutputFile openFileForWriting(const std::string& path) {
  const HANDLE handle =
      ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) endRun("open " + path, ::GetLastError());
  return {reinterpret_cast<std::intptr_t>(handle), &path};
}

void writeFile(OutputFile file, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    if (!::WriteFile(fileHandle(file), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
      endRun("write " + *file.path, ::GetLastError());
    if (written == 0) endRun("write " + *file.path, ERROR_WRITE_FAULT);
    bytes.remove_prefix(written);
  }
}

void closeFile(OutputFile file) {
  if (!::CloseHandle(fileHandle(file))) endRun("close " + *file.path, ::GetLastError());
}

void renameFile(const std::string& from, const std::string& to) {
  if (!::MoveFileA(from.c_str(), to.c_str())) endRun("rename " + from + " to " + to, ::GetLastError());
}

}  // namespace Platform

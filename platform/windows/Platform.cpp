// The platform services on Windows: kernel32 itself.
#define WIN32_LEAN_AND_MEAN
#include "platform/Platform.h"

#include <windows.h>

#include <cstring>

#include "platform/windows/RunLock.h"

namespace Platform {
namespace {

std::wstring systemMessage(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length =
      ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (length == 0) return L"error " + std::to_wstring(error);
  std::wstring message(text, length);
  ::LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
    message.pop_back();
  return message;
}

// The report is in the ANSI code page, like every other text the tool
// gives. A character the code page lacks is shown as "?", never as a
// look-alike that would name another file ("Ωmega" is not "Omega").
std::string forDisplay(const std::wstring& text) {
  if (text.empty()) return {};
  const bool utf8 = ::GetACP() == CP_UTF8;  // takes neither flag nor default character
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const char* unknown = utf8 ? nullptr : "?";
  const int units = static_cast<int>(text.size());
  const int size = ::WideCharToMultiByte(CP_ACP, flags, text.data(), units, nullptr, 0, unknown, nullptr);
  std::string shown(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_ACP, flags, text.data(), units, shown.data(), size, unknown, nullptr);
  return shown;
}

// The unhandled-error path: one line, exit status 1, nothing more done.
[[noreturn]] void endRun(const std::wstring& what, const std::wstring& reason) {
  const std::string line = forDisplay(L"getvek: cannot " + what + L": " + reason) + "\r\n";
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  ::ExitProcess(1);
}

[[noreturn]] void endRun(const std::wstring& what, DWORD error) { endRun(what, systemMessage(error)); }

// Runs started together from one program directory would share its two file
// names. The first holds the directory's mutex until its process ends, when
// the system releases it; any other run fails at once, before it touches
// either file.
void lockProgramDirectory(const std::wstring& workPath) {
  const std::wstring directory = workPath.substr(0, workPath.rfind(L'\\'));
  const std::wstring name = Windows::runLockName(directory);
  if (name.empty()) endRun(L"lock " + directory, ::GetLastError());
  const HANDLE mutex = ::CreateMutexW(nullptr, FALSE, name.c_str());
  if (mutex == nullptr) endRun(L"lock " + directory, ::GetLastError());
  // WAIT_ABANDONED: a run that held it ended on the way; this one takes over
  // and empties its work file like any left behind.
  switch (::WaitForSingleObject(mutex, 0)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:
      return;  // held until the process ends
    case WAIT_TIMEOUT:
      endRun(L"lock " + directory, L"another run is using it");
    default:
      endRun(L"lock " + directory, ::GetLastError());
  }
}

// A hard link, a symbolic link, a junction or another reparse point, a
// directory or a device under the work file's name is somebody else's.
// Hidden and system files are not the tool's either: it never makes one.
bool isPlainFileWithOneLink(HANDLE handle) {
  constexpr DWORD foreign = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE |
                            FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  BY_HANDLE_FILE_INFORMATION information{};
  return ::GetFileType(handle) == FILE_TYPE_DISK && ::GetFileInformationByHandle(handle, &information) &&
         (information.dwFileAttributes & foreign) == 0 && information.nNumberOfLinks == 1;
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

ExactPath programDirectory() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) endRun(L"find the program directory", ::GetLastError());
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);  // cut short: a directory longer than MAX_PATH
  }
  path.resize(path.rfind(L'\\'));
  return path;
}

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

// Opened, not created afresh, and without following a reparse point, so
// that the handle shows what stands under the name before anything is
// emptied. Share mode 0 keeps anybody else from opening it meanwhile.
OutputFile openFileForWriting(const ExactPath& path) {
  lockProgramDirectory(path);
  const HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) endRun(L"open " + path, ::GetLastError());
  if (!isPlainFileWithOneLink(handle)) endRun(L"open " + path, L"not a plain file with a single link");
  if (!::SetEndOfFile(handle)) endRun(L"open " + path, ::GetLastError());
  return {reinterpret_cast<std::intptr_t>(handle), &path};
}

void writeFile(OutputFile file, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    if (!::WriteFile(fileHandle(file), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
      endRun(L"write " + *file.path, ::GetLastError());
    if (written == 0) endRun(L"write " + *file.path, ERROR_WRITE_FAULT);
    bytes.remove_prefix(written);
  }
}

void closeFile(OutputFile file) {
  if (!::CloseHandle(fileHandle(file))) endRun(L"close " + *file.path, ::GetLastError());
}

void renameFile(const ExactPath& from, const ExactPath& to) {
  if (!::MoveFileW(from.c_str(), to.c_str())) endRun(L"rename " + from + L" to " + to, ::GetLastError());
}

}  // namespace Platform

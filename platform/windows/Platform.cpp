// The platform services on Windows: kernel32 itself.
#define WIN32_LEAN_AND_MEAN
#include "platform/Platform.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

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

// Text in the ANSI code page, a character it lacks written as "?" and
// reported in `lossy`, never as a look-alike ("best fit": "Ωmega" is not
// "Omega"). UTF-8 writes every character but a lone surrogate, and takes
// neither the flag nor a default character.
std::string inCodePage(std::wstring_view text, bool& lossy) {
  lossy = false;
  if (text.empty()) return {};
  const bool utf8 = ::GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  const char* unknown = utf8 ? nullptr : "?";
  BOOL usedDefault = FALSE;
  BOOL* const reportDefault = utf8 ? nullptr : &usedDefault;
  const int units = static_cast<int>(text.size());
  const int size = ::WideCharToMultiByte(CP_ACP, flags, text.data(), units, nullptr, 0, unknown, reportDefault);
  if (size <= 0) {
    lossy = true;
    return {};
  }
  std::string narrow(static_cast<std::size_t>(size), '\0');
  if (::WideCharToMultiByte(CP_ACP, flags, text.data(), units, narrow.data(), size, unknown, reportDefault) != size)
    lossy = true;
  lossy = lossy || usedDefault;
  return narrow;
}

// The report is in the ANSI code page, like every other text the tool gives.
std::string forDisplay(const std::wstring& text) {
  bool lossy = false;
  return inCodePage(text, lossy);
}

// Exit statuses: 75 (EX_TEMPFAIL, as BSD's sysexits.h names it) for a run
// that gave way to another and is worth repeating, 1 for any other failure.
constexpr UINT failed = 1;
constexpr UINT worthRetrying = 75;

// The unhandled-error path: one line, the exit status, nothing more done.
[[noreturn]] void endRun(const std::wstring& what, const std::wstring& reason, UINT status = failed) {
  const std::string line = forDisplay(L"getvek: cannot " + what + L": " + reason) + "\r\n";
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  ::ExitProcess(status);
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
      endRun(L"lock " + directory, L"another run is using it", worthRetrying);
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

// Text crosses to the conversion in the system's narrow code page, but only
// exactly: Windows' own narrow functions would put a look-alike or "?" where
// the code page lacks a character, and the answer would then name another
// file. So the wide functions are called, and their text is let through only
// when the code page writes every character of it.
std::optional<std::string> exactNarrow(std::wstring_view text) {
  bool lossy = false;
  std::string narrow = inCodePage(text, lossy);
  if (lossy) return std::nullopt;
  return narrow;
}

// Narrow text the conversion made is exact already; only a byte sequence that
// is no text in the code page fails.
std::optional<std::wstring> exactWide(std::string_view text) {
  if (text.empty()) return std::wstring();
  const int narrowLength = static_cast<int>(text.size());
  const int length = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), narrowLength, nullptr, 0);
  if (length <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  if (::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), narrowLength, wide.data(), length) != length)
    return std::nullopt;
  return wide;
}

// An entry's long name when the code page writes it exactly, else its short
// name, which Windows takes for the same entry; nothing when the code page
// writes neither, or the name would not fit a search record.
std::optional<std::string> narrowNameOf(const WIN32_FIND_DATAW& entry) {
  std::optional<std::string> name = exactNarrow(entry.cFileName);
  if (!name && entry.cAlternateFileName[0] != L'\0') name = exactNarrow(entry.cAlternateFileName);
  if (name && name->size() >= maxPath) name.reset();
  return name;
}

// The search for `pattern`, open at its first entry that has a narrow name
// (given in `name`), or closed and INVALID_HANDLE_VALUE when none has.
HANDLE findNamedEntry(const std::wstring& pattern, std::string& name) {
  WIN32_FIND_DATAW entry;
  const HANDLE search = ::FindFirstFileW(pattern.c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return search;
  do {
    if (std::optional<std::string> found = narrowNameOf(entry)) {
      name = *std::move(found);
      return search;
    }
  } while (::FindNextFileW(search, &entry));
  ::FindClose(search);
  return INVALID_HANDLE_VALUE;
}

std::optional<std::wstring> shortPathOf(const std::wstring& longPath) {
  std::wstring shortPath(std::max<std::size_t>(longPath.size() + 1, MAX_PATH), L'\0');
  for (;;) {
    const DWORD length = ::GetShortPathNameW(longPath.c_str(), shortPath.data(), static_cast<DWORD>(shortPath.size()));
    if (length == 0) return std::nullopt;
    if (length < shortPath.size()) {
      shortPath.resize(length);
      return shortPath;
    }
    shortPath.resize(length);  // the size it needs, NUL included
  }
}

bool isWideSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Whether looking `component` up as the last component of the text typed so
// far reaches the entry that the whole path reaches through it. Windows takes
// "<", ">" and '"' for wildcards in a search, which the tool does not do
// where it does not search; and it drops the dots and spaces that end the
// last component of a path, but not those of a directory.
bool lookupReachesTheSameEntry(std::wstring_view component, bool isLast) {
  const bool searched = component.find_first_of(L"?*") != std::wstring_view::npos;
  if (!searched && component.find_first_of(L"<>\"") != std::wstring_view::npos) return false;
  return isLast || (component.back() != L'.' && component.back() != L' ');
}

// A command line that the code page cannot hold, made narrow: each component
// it cannot write is replaced by the narrow name of the entry that the text
// typed up to there names (the first entry with a narrow name, for a
// component with wildcards, as the conversion's own search takes it).
// Nothing when a component cannot be replaced so; the wide text is looked up
// as typed, so a wildcard in an earlier component makes the lookup fail.
std::optional<std::string> narrowedByShortNames(std::wstring_view line) {
  // Trimmed as the conversion trims it, so that the path looked up is the
  // path it asks about.
  while (!line.empty() && line.front() == L' ') line.remove_prefix(1);
  while (!line.empty() && line.back() == L' ') line.remove_suffix(1);
  std::string narrow;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = start;
    while (end < line.size() && !isWideSeparator(line[end])) ++end;
    // A drive is no part of the name after it.
    if (start == 0 && end > 2 && line[1] == L':') end = 2;
    const std::wstring_view component = line.substr(start, end - start);
    if (std::optional<std::string> exact = exactNarrow(component)) {
      narrow += *exact;
    } else {
      if (!lookupReachesTheSameEntry(component, end == line.size())) return std::nullopt;
      std::string name;
      const HANDLE search = findNamedEntry(std::wstring(line.substr(0, end)), name);
      if (search == INVALID_HANDLE_VALUE) return std::nullopt;
      ::FindClose(search);
      narrow += name;
    }
    if (end == line.size()) return narrow;
    if (isWideSeparator(line[end])) narrow += static_cast<char>(line[end++]);
    start = end;
  }
}

HANDLE fileHandle(OutputFile file) { return reinterpret_cast<HANDLE>(file.handle); }

}  // namespace

// The program's name ends at its closing quote when it starts with one, else
// at the first space or tab; the blanks after it separate it from the text.
// Read wide, so that no character of the text is lost to the code page.
std::string argumentText(int, char**) {
  const wchar_t* line = ::GetCommandLineW();
  if (*line == L'"') {
    ++line;
    while (*line != L'\0' && *line != L'"') ++line;
    if (*line == L'"') ++line;
  } else {
    while (*line != L'\0' && *line != L' ' && *line != L'\t') ++line;
  }
  while (*line == L' ' || *line == L'\t') ++line;
  if (std::optional<std::string> exact = exactNarrow(line)) return *std::move(exact);
  return narrowedByShortNames(line).value_or(std::string());
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

bool isSystemLeadByte(unsigned char byte) { return ::IsDBCSLeadByte(byte) != FALSE; }

// Searched wide; an entry that the code page can name neither by its long
// name nor by its short name is passed over, as if it did not match.
SearchHandle FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* found) {
  const std::optional<std::wstring> widePattern = exactWide(pattern);
  if (!widePattern) return reinterpret_cast<SearchHandle>(INVALID_HANDLE_VALUE);
  std::string name;
  const HANDLE search = findNamedEntry(*widePattern, name);
  if (search != INVALID_HANDLE_VALUE) std::memcpy(found->cFileName, name.c_str(), name.size() + 1);
  return reinterpret_cast<SearchHandle>(search);
}

void FindClose(SearchHandle handle) { ::FindClose(reinterpret_cast<HANDLE>(handle)); }

std::uint32_t GetShortPathNameA(const char* longPath, char* buffer, std::uint32_t capacity) {
  const std::optional<std::wstring> wideLongPath = exactWide(longPath);
  if (!wideLongPath) return 0;
  const std::optional<std::wstring> wideShortPath = shortPathOf(*wideLongPath);
  if (!wideShortPath) return 0;
  const std::optional<std::string> shortPath = exactNarrow(*wideShortPath);
  if (!shortPath || shortPath->empty()) return 0;
  const auto needed = static_cast<std::uint32_t>(shortPath->size() + 1);
  if (needed > capacity) return needed;
  std::memcpy(buffer, shortPath->c_str(), needed);
  return needed - 1;
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
  if (::MoveFileW(from.c_str(), to.c_str())) return;
  const DWORD error = ::GetLastError();
  // The result still there: the run gave way to another.
  const bool resultThere = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
  endRun(L"rename " + from + L" to " + to, systemMessage(error), resultThere ? worthRetrying : failed);
}

}  // namespace Platform

// The platform services on Windows: kernel32 itself.
#define WIN32_LEAN_AND_MEAN
#include "platform/Platform.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

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

// Text crosses to the conversion in the system's narrow code page, but only
// exactly: Windows' own narrow functions would put a look-alike ("best
// fit") or "?" where the code page lacks a character, and the answer would
// then name another file. So the wide functions are called, and their text
// is let through only when the code page writes every character of it.
std::optional<std::string> exactNarrow(std::wstring_view text) {
  if (text.empty()) return std::string();
  // UTF-8 writes every character, and takes neither flag nor report.
  const bool utf8 = ::GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* const reportDefault = utf8 ? nullptr : &usedDefault;
  const int wideLength = static_cast<int>(text.size());
  const int length = ::WideCharToMultiByte(CP_ACP, flags, text.data(), wideLength, nullptr, 0, nullptr, reportDefault);
  if (length <= 0 || usedDefault) return std::nullopt;
  std::string narrow(static_cast<std::size_t>(length), '\0');
  if (::WideCharToMultiByte(CP_ACP, flags, text.data(), wideLength, narrow.data(), length, nullptr, reportDefault) !=
          length ||
      usedDefault)
    return std::nullopt;
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

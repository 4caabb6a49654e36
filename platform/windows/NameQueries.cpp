#include "platform/windows/NameQueries.h"

#include "platform/ErrorPolicy.h"
#include "windowsnames/DosDeviceName.h"

namespace Platform::Windows {
namespace {

using GetVEK::Found;

// An entry's long name when the encoding writes it exactly, else its short
// name, which Windows takes for the same entry; nothing when it writes
// neither, or the name would not fit a search record. The code page's
// record is the narrow one, MAX_PATH bytes; UTF-8 stands for the wide one,
// which holds every name.
std::optional<std::string> narrowNameOf(const WIN32_FIND_DATAW& entry, Narrow narrow) {
  std::optional<std::string> name = exactNarrow(entry.cFileName, narrow);
  if (!name && entry.cAlternateFileName[0] != L'\0') name = exactNarrow(entry.cAlternateFileName, narrow);
  if (name && narrow == Narrow::systemCodePage && name->size() >= MAX_PATH) name.reset();
  return name;
}

// The search for `pattern`, open at its first entry that has a narrow name
// (given in `name`), or closed and INVALID_HANDLE_VALUE when none has.
HANDLE findNamedEntry(const std::wstring& pattern, Narrow narrow, std::string& name) {
  WIN32_FIND_DATAW entry;
  const HANDLE search = ::FindFirstFileW(pattern.c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return search;
  do {
    if (std::optional<std::string> found = narrowNameOf(entry, narrow)) {
      name = *std::move(found);
      return search;
    }
  } while (::FindNextFileW(search, &entry));
  ::FindClose(search);
  return INVALID_HANDLE_VALUE;
}

bool isWideSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Whether the running Windows opens `path` as a device. GetFullPathNameW
// gives "\\.\NAME" for such a path, by the rule of the Windows it runs on:
// Windows 10 takes "C:\t2\nul.txt" for NUL, Windows 11 for a file. A path
// that begins with two separators (a prefix, or a server's share) it gives
// back as typed, and one it cannot take it does not answer: there the fixed
// rule decides.
bool opensAsDevice(const std::wstring& path) {
  const bool givenBackAsTyped = path.size() >= 2 && isWideSeparator(path[0]) && isWideSeparator(path[1]);
  if (!givenBackAsTyped) {
    const std::optional<std::wstring> full = answerOf(MAX_PATH, [&](wchar_t* buffer, DWORD size) {
      return ::GetFullPathNameW(path.c_str(), size, buffer, nullptr);
    });
    constexpr std::wstring_view device = L"\\\\.\\";
    if (full) return full->starts_with(device) && full->find_first_of(L"\\/", device.size()) == std::wstring::npos;
  }
  return WindowsNames::opensAsDosDevice(path);
}

// No Windows name holds "<", ">" or '"', which GetShortPathNameW would take
// for wildcards, and a path Windows opens as a device names no file.
bool namesNoFile(const std::wstring& path) {
  return path.find_first_of(L"<>\"") != std::wstring::npos || opensAsDevice(path);
}

std::optional<std::wstring> shortPathOf(const std::wstring& longPath) {
  return answerOf(std::max<std::size_t>(longPath.size() + 1, MAX_PATH), [&](wchar_t* buffer, DWORD size) {
    return ::GetShortPathNameW(longPath.c_str(), buffer, size);
  });
}

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

// A path the encoding cannot write, made narrow: each component it cannot
// write is replaced by the narrow name of the entry that the text typed up
// to there names (the first entry with a narrow name, for a component with
// wildcards, as the conversion's own search takes it). Nothing when a
// component cannot be replaced so; the wide text is looked up as typed, so a
// wildcard in an earlier component makes the lookup fail.
std::optional<std::string> narrowedByShortNames(std::wstring_view line, Narrow narrow) {
  // Trimmed as the conversion trims it, so that the path looked up is the
  // path it asks about.
  while (!line.empty() && line.front() == L' ') line.remove_prefix(1);
  while (!line.empty() && line.back() == L' ') line.remove_suffix(1);
  std::string narrowed;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = start;
    while (end < line.size() && !isWideSeparator(line[end])) ++end;
    // A drive is no part of the name after it.
    if (start == 0 && end > 2 && line[1] == L':') end = 2;
    const std::wstring_view component = line.substr(start, end - start);
    if (std::optional<std::string> exact = exactNarrow(component, narrow)) {
      narrowed += *exact;
    } else {
      if (!lookupReachesTheSameEntry(component, end == line.size())) return std::nullopt;
      std::string name;
      const HANDLE search = findNamedEntry(std::wstring(line.substr(0, end)), narrow, name);
      if (search == INVALID_HANDLE_VALUE) return std::nullopt;
      ::FindClose(search);
      narrowed += name;
    }
    if (end == line.size()) return narrowed;
    if (isWideSeparator(line[end])) narrowed += static_cast<char>(line[end++]);
    start = end;
  }
}

}  // namespace

GetVEK::WindowsPathSyntax NameQueries::pathSyntax() const {
  if (narrow_ == Narrow::utf8) return GetVEK::WindowsPathSyntax::utf8();
  return {[](unsigned char byte) { return ::IsDBCSLeadByte(byte) != FALSE; }};
}

Found NameQueries::findFirstEntry(const std::string& pattern) const {
  const std::optional<std::wstring> widePattern = exactWide(pattern, narrow_);
  if (!widePattern) return Found::none();
  std::string name;
  const HANDLE search = findNamedEntry(*widePattern, narrow_, name);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (leavesAnswerUnknown(error)) return failure(L"search " + *widePattern, error, narrow_);
    return Found::none();
  }
  ::FindClose(search);
  return Found::name(std::move(name));
}

Found NameQueries::shortForm(std::string_view path) const {
  const std::optional<std::wstring> wideLongPath = exactWide(path, narrow_);
  if (!wideLongPath || namesNoFile(*wideLongPath)) return Found::none();
  const std::optional<std::wstring> wideShortPath = shortPathOf(*wideLongPath);
  if (!wideShortPath) {
    const DWORD error = ::GetLastError();
    if (leavesAnswerUnknown(error)) return failure(L"find the short form of " + *wideLongPath, error, narrow_);
    return Found::none();
  }
  std::optional<std::string> shortPath = exactNarrow(*wideShortPath, narrow_);
  if (!shortPath || shortPath->empty()) return Found::none();
  return Found::name(std::move(*shortPath));
}

std::optional<std::string> NameQueries::narrowPath(std::wstring_view path) const {
  if (std::optional<std::string> exact = exactNarrow(path, narrow_)) return exact;
  return narrowedByShortNames(path, narrow_);
}

}  // namespace Platform::Windows

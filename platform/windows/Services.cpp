#define WIN32_LEAN_AND_MEAN
#include "platform/windows/Services.h"

#include <windows.h>


#include <algorithm>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ErrorPolicy.h"
#include "platform/windows/RunLock.h"
#include "windowsnames/DosDeviceName.h"

namespace Platform::Windows {
namespace {

using GetVEK::Failure;
using GetVEK::Found;
using GetVEK::Status;

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

// The report is in the ANSI code page, like every other text the tool gives:
// a character the code page lacks is one "?", whether it takes one UTF-16
// unit or two (an emoji).
std::string forDisplay(std::wstring_view text) {
  std::string shown;
  for (std::size_t at = 0; at < text.size();) {
    const bool pair = IS_HIGH_SURROGATE(text[at]) && at + 1 < text.size() && IS_LOW_SURROGATE(text[at + 1]);
    const std::size_t length = pair ? 2 : 1;
    bool lossy = false;
    const std::string character = inCodePage(text.substr(at, length), lossy);
    shown += lossy ? "?" : character;
    at += length;
  }
  return shown;
}

Failure failure(const std::wstring& action, DWORD error) { return Failure{forDisplay(action), forDisplay(systemMessage(error))}; }

// Runs started together from one program directory would share its two file
// names. The first holds the directory's mutex until its process ends, when
// the system releases it; any other run fails at once, before it touches
// either file.
Status lockProgramDirectory(const std::wstring& directory) {
  const std::wstring name = runLockName(directory);
  if (name.empty()) return failure(L"lock " + directory, ::GetLastError());
  const HANDLE mutex = ::CreateMutexW(nullptr, FALSE, name.c_str());
  if (mutex == nullptr) return failure(L"lock " + directory, ::GetLastError());
  // WAIT_ABANDONED: a run that held it ended on the way; this one takes over
  // and removes its work file like any left behind.
  switch (::WaitForSingleObject(mutex, 0)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:
      return {};  // held until the process ends
    case WAIT_TIMEOUT:
      return Failure{forDisplay(L"lock " + directory), "another run is using it", true};
    default:
      return failure(L"lock " + directory, ::GetLastError());
  }
}

// The text a call writes into a buffer it is given, the buffer grown until
// it fits; nothing when the call fails (GetLastError says why). `call` gives
// the length it wrote, or the size it needs (its terminator included) when
// the buffer is too small.
template <typename Call>
std::optional<std::wstring> answerOf(std::size_t initialSize, Call call) {
  std::wstring text(initialSize, L'\0');
  for (;;) {
    const DWORD length = call(text.data(), static_cast<DWORD>(text.size()));
    if (length == 0) return std::nullopt;
    if (length < text.size()) {
      text.resize(length);
      return text;
    }
    text.resize(std::max<std::size_t>(length, text.size() + 1));
  }
}

// The path a handle's file stands under, as the system resolves it.
std::wstring finalPathOf(HANDLE handle) {
  return answerOf(MAX_PATH, [&](wchar_t* buffer, DWORD size) {
           return ::GetFinalPathNameByHandleW(handle, buffer, size, 0);
         }).value_or(std::wstring());
}

// Whether the file open at `handle` is the entry `name` of `directory`
// itself. Under Wine a Unix symbolic link is opened as the file it points
// to, with nothing to tell it apart but where the file really is. The name is
// compared exactly: the tool always creates "VEK.TX", and NTFS keeps a name
// as it was made, so a final name that differs only in case ("vek.tx", a
// link's target beside it under Wine) is some other file.
bool standsUnderItsName(HANDLE handle, const std::wstring& directory, std::wstring_view name) {
  const HANDLE opened = ::CreateFileW(directory.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return false;
  std::wstring expected = finalPathOf(opened);
  ::CloseHandle(opened);
  if (expected.empty()) return false;
  if (expected.back() != L'\\') expected += L'\\';
  expected += name;
  return finalPathOf(handle) == expected;
}

// A work file left by an earlier run: a plain disk file with this name
// alone, as the tool makes it. A hard link, a symbolic link, a junction or
// another reparse point, a directory or a device is somebody else's, and so
// are hidden, system and read-only files: the tool never makes one.
bool isLeftWorkFile(HANDLE handle) {
  constexpr DWORD foreign = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE |
                            FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY;
  BY_HANDLE_FILE_INFORMATION information{};
  return ::GetFileType(handle) == FILE_TYPE_DISK && ::GetFileInformationByHandle(handle, &information) &&
         (information.dwFileAttributes & foreign) == 0 && information.nNumberOfLinks == 1;
}

// The file a name stands for, by its volume and its index there: where the
// run's own file is.
struct FileIdentity {
  DWORD volume = 0, indexHigh = 0, indexLow = 0;
  bool operator==(const FileIdentity&) const = default;
};

std::optional<FileIdentity> identityOf(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(handle, &information)) return std::nullopt;
  return FileIdentity{information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow};
}

// 0 when `path` names the file open at `handle`, else why not:
// ERROR_FILE_INVALID when it names another file.
DWORD whyNotTheFileOf(const std::wstring& path, HANDLE handle) {
  const HANDLE named = ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (named == INVALID_HANDLE_VALUE) return ::GetLastError();
  const std::optional<FileIdentity> own = identityOf(handle);
  const std::optional<FileIdentity> other = identityOf(named);
  const DWORD error = own && other ? 0 : ::GetLastError();
  ::CloseHandle(named);
  if (error != 0) return error;
  return *own == *other ? 0 : ERROR_FILE_INVALID;
}

// The file open at `handle` given the name `path`, never replacing a file
// under it. FILE_RENAME_INFO ends in the name it carries.
bool renameThrough(HANDLE handle, const std::wstring& path) {
  const std::size_t nameBytes = path.size() * sizeof(wchar_t);
  std::vector<std::byte> buffer(offsetof(FILE_RENAME_INFO, FileName) + nameBytes + sizeof(wchar_t));
  auto* const rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = FALSE;
  rename->RootDirectory = nullptr;  // a full path, as kernel32 documents it
  rename->FileNameLength = static_cast<DWORD>(nameBytes);
  std::memcpy(rename->FileName, path.c_str(), nameBytes + sizeof(wchar_t));
  return ::SetFileInformationByHandle(handle, FileRenameInfo, rename, static_cast<DWORD>(buffer.size())) != FALSE;
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
  if (name && name->size() >= MAX_PATH) name.reset();
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

HANDLE handleOf(void* file) { return static_cast<HANDLE>(file); }

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

Services::~Services() {
  if (workFile_ != nullptr) ::CloseHandle(handleOf(workFile_));
}

GetVEK::WindowsPathSyntax Services::pathSyntax() {
  return {[](unsigned char byte) { return ::IsDBCSLeadByte(byte) != FALSE; }};
}

std::wstring Services::pathOf(std::string_view name) const {
  std::wstring path = directory_;
  path += L'\\';
  path.append(name.begin(), name.end());  // the file names are ASCII
  return path;
}

// The program directory exactly as the system names it, whatever the code
// page can write.
Status Services::takeProgramDirectory() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return failure(L"find the program directory", ::GetLastError());
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);  // cut short: a directory longer than MAX_PATH
  }
  return takeDirectory(path.substr(0, path.rfind(L'\\')));
}

Status Services::takeDirectory(std::wstring directory) {
  directory_ = std::move(directory);
  return lockProgramDirectory(directory_);
}

// Made new (CREATE_NEW), so that nothing that stood under the name is ever
// written. Share mode 0 keeps anybody else from opening it while the run
// holds it, and so from renaming or deleting it, which needs it open: its
// name stays its own. DELETE: it is given its final name, or removed,
// through this handle.
Status Services::createWorkFile(std::string_view name) {
  workPath_ = pathOf(name);
  const auto create = [&] {
    return ::CreateFileW(workPath_.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  };
  HANDLE handle = create();
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return failure(L"open " + workPath_, error);
    if (Status refused = removeLeftWorkFile(workPath_)) return refused;
    handle = create();
    if (handle == INVALID_HANDLE_VALUE) return failure(L"open " + workPath_, ::GetLastError());
  }
  workFile_ = handle;
  return {};
}

// Opened without following a reparse point, looked at on the handle, and
// deleted through that same handle: a check fooled by a race removes a name,
// never writes anybody's data.
Status Services::removeLeftWorkFile(const std::wstring& path) {
  const HANDLE handle = ::CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return failure(L"open " + path, ::GetLastError());
  Status status;
  FILE_DISPOSITION_INFO disposition{TRUE};
  if (!isLeftWorkFile(handle) || !standsUnderItsName(handle, directory_, path.substr(directory_.size() + 1)))
    status = Failure{forDisplay(L"open " + path), "not a plain, writable file with a single link"};
  else if (!::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition))
    status = failure(L"remove " + path, ::GetLastError());
  ::CloseHandle(handle);
  return status;
}

Status Services::writeWorkFile(std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    if (!::WriteFile(handleOf(workFile_), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
      return failure(L"write " + workPath_, ::GetLastError());
    if (written == 0) return failure(L"write " + workPath_, ERROR_WRITE_FAULT);
    bytes.remove_prefix(written);
  }
  return {};
}

// The handle stays open until the result has its name: closed here, it
// would leave the work name free for anybody to put another file under
// before the rename. What was written through it is in the file already;
// publishWorkFile closes it.
Status Services::closeWorkFile() { return {}; }

// Never replaces a result that is still there: the caller has not read it.
// The run's own file is renamed through its own handle, so nothing put under
// the work name can be published. Under Wine a process on the Unix side is
// held by no share mode, and Wine renames whatever the name the file was
// opened under stands for: a final name that then stands for another file
// fails the run rather than answer.
Status Services::publishWorkFile(std::string_view name) {
  const std::wstring finalPath = pathOf(name);
  const std::wstring action = L"rename " + workPath_ + L" to " + finalPath;
  const HANDLE handle = handleOf(workFile_);
  workFile_ = nullptr;
  Status status;
  if (!renameThrough(handle, finalPath)) {
    const DWORD error = ::GetLastError();
    status = failure(action, error);
    status->worthRetrying = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
  } else if (const DWORD error = whyNotTheFileOf(finalPath, handle)) {
    status = failure(action, error);
  }
  if (!::CloseHandle(handle) && !status) status = failure(L"close " + workPath_, ::GetLastError());
  return status;
}

// Removed through the run's own handle: never a file that took the name.
Status Services::discardWorkFile() {
  const HANDLE handle = handleOf(workFile_);
  workFile_ = nullptr;
  FILE_DISPOSITION_INFO disposition{TRUE};
  Status status;
  if (!::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition))
    status = failure(L"remove " + workPath_, ::GetLastError());
  ::CloseHandle(handle);
  return status;
}

// Searched wide; an entry that the code page can name neither by its long
// name nor by its short name is passed over, as if it did not match.
Found Services::findFirstEntry(const std::string& pattern) {
  const std::optional<std::wstring> widePattern = exactWide(pattern);
  if (!widePattern) return Found::none();
  std::string name;
  const HANDLE search = findNamedEntry(*widePattern, name);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (leavesAnswerUnknown(error)) return failure(L"search " + *widePattern, error);
    return Found::none();
  }
  ::FindClose(search);
  return Found::name(std::move(name));
}

Found Services::shortForm(std::string_view path) {
  const std::optional<std::wstring> wideLongPath = exactWide(path);
  if (!wideLongPath || namesNoFile(*wideLongPath)) return Found::none();
  const std::optional<std::wstring> wideShortPath = shortPathOf(*wideLongPath);
  if (!wideShortPath) {
    const DWORD error = ::GetLastError();
    if (leavesAnswerUnknown(error)) return failure(L"find the short form of " + *wideLongPath, error);
    return Found::none();
  }
  std::optional<std::string> shortPath = exactNarrow(*wideShortPath);
  if (!shortPath || shortPath->empty()) return Found::none();
  return Found::name(std::move(*shortPath));
}

void Services::report(std::string_view line) {
  std::string text(line);
  text += "\r\n";
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace Platform::Windows

#include "platform/windows/Services.h"

#include <cstddef>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/windows/RunLock.h"

namespace Platform::Windows {
namespace {

using GetVEK::Failure;
using GetVEK::Status;

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

HANDLE handleOf(void* file) { return static_cast<HANDLE>(file); }

}  // namespace

Services::~Services() {
  if (workFile_ != nullptr) ::CloseHandle(handleOf(workFile_));
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

void Services::report(std::string_view line) {
  std::string text(line);
  text += "\r\n";
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace Platform::Windows

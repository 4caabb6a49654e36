// The name of the mutex that keeps runs from one program directory apart,
// shared by the tool and the tests that hold it in a run's place.
#pragma once
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>

namespace Platform::Windows {

// Named after the directory's identity, its volume serial number and file
// index, rather than its path, so that every spelling of one directory
// (letter case, short names, a second drive letter or a link on the way)
// meets the same mutex. "Global\" puts it where every session sees it.
// Empty when the directory cannot be looked at; GetLastError says why.
inline std::wstring runLockName(const std::wstring& directory) {
  // "C:" alone would name the drive's current directory.
  const std::wstring opened = !directory.empty() && directory.back() == L':' ? directory + L'\\' : directory;
  const HANDLE handle =
      ::CreateFileW(opened.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return {};
  BY_HANDLE_FILE_INFORMATION identity{};
  const bool known = ::GetFileInformationByHandle(handle, &identity);
  const DWORD error = ::GetLastError();
  ::CloseHandle(handle);
  if (!known) {
    ::SetLastError(error);
    return {};
  }
  std::wstring name = L"Global\\getvek-run-";
  for (const DWORD part : {identity.dwVolumeSerialNumber, identity.nFileIndexHigh, identity.nFileIndexLow})
    for (int shift = 28; shift >= 0; shift -= 4) name += L"0123456789ABCDEF"[(part >> shift) & 0xF];
  return name;
}

}  // namespace Platform::Windows

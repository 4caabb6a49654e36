// The platform services on Windows: kernel32 itself, called through its
// wide functions, with text let through to the run only where the system's
// narrow code page writes it exactly.
#pragma once

#include <string>
#include <string_view>

#include "conversion/Outcome.h"
#include "conversion/PathSyntax.h"

namespace Platform::Windows {

class Services {
 public:
  Services() = default;
  ~Services();
  Services(const Services&) = delete;
  Services& operator=(const Services&) = delete;

  // "\" and "/", read a character at a time in the system's code page.
  static GetVEK::WindowsPathSyntax pathSyntax();

  GetVEK::Status takeProgramDirectory();
  // The same for a directory given rather than the executable's: the steps
  // of a run against a directory of the tests' own.
  GetVEK::Status takeDirectory(std::wstring directory);
  GetVEK::Status createWorkFile(std::string_view name);
  GetVEK::Status writeWorkFile(std::string_view bytes);
  GetVEK::Status closeWorkFile();
  GetVEK::Status publishWorkFile(std::string_view name);
  GetVEK::Status discardWorkFile();

  GetVEK::Found findFirstEntry(const std::string& pattern);
  GetVEK::Found shortForm(std::string_view path);

  static void report(std::string_view line);

 private:
  std::wstring pathOf(std::string_view name) const;
  GetVEK::Status removeLeftWorkFile(const std::wstring& path);

  std::wstring directory_;  // exactly as the system names it
  std::wstring workPath_;
  void* workFile_ = nullptr;  // a HANDLE while the work file is open
};

// The text after the program's own name, read from the raw command line
// (argc and argv are not used): not split into words, quotes kept, and
// exact in the system's code page. A component the code page cannot write
// comes through as that entry's short name; the text is empty when that is
// impossible.
std::string argumentText(int argc, char** argv);

}  // namespace Platform::Windows

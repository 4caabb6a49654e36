// The platform services on Windows: the program directory's lock, the work
// file and the report, beside the name queries (NameQueries.h), which answer
// in the system's ANSI code page as the tool's caller writes its path.
#pragma once

#include <string>
#include <string_view>

#include "conversion/Outcome.h"
#include "conversion/PathSyntax.h"
#include "platform/windows/NameQueries.h"

namespace Platform::Windows {

class Services {
 public:
  Services() = default;
  ~Services();
  Services(const Services&) = delete;
  Services& operator=(const Services&) = delete;

  GetVEK::WindowsPathSyntax pathSyntax() const { return names_.pathSyntax(); }

  GetVEK::Status takeProgramDirectory();
  // The same for a directory given rather than the executable's: the steps
  // of a run against a directory of the tests' own.
  GetVEK::Status takeDirectory(std::wstring directory);
  GetVEK::Status createWorkFile(std::string_view name);
  GetVEK::Status writeWorkFile(std::string_view bytes);
  GetVEK::Status closeWorkFile();
  GetVEK::Status publishWorkFile(std::string_view name);
  GetVEK::Status discardWorkFile();

  GetVEK::Found findFirstEntry(const std::string& pattern) const { return names_.findFirstEntry(pattern); }
  GetVEK::Found shortForm(std::string_view path) const { return names_.shortForm(path); }

  static void report(std::string_view line);

 private:
  std::wstring pathOf(std::string_view name) const;
  GetVEK::Status removeLeftWorkFile(const std::wstring& path);

  NameQueries names_;
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

// The platform services on Linux, where most file systems keep no short
// names: the search and the short form emulate Windows' on NTFS (see
// windowsnames/), and the result file is written through the program
// directory, opened once.
#pragma once

#include <string>
#include <string_view>

#include "conversion/Outcome.h"
#include "conversion/PathSyntax.h"
#include "platform/linux/walk/Walk.h"

namespace Platform::Linux {

class Services {
 public:
  Services();
  ~Services();
  Services(const Services&) = delete;
  Services& operator=(const Services&) = delete;

  static GetVEK::PosixPathSyntax pathSyntax() { return Walk::pathSyntax(); }

  GetVEK::Status takeProgramDirectory();
  GetVEK::Status createWorkFile(std::string_view name);
  GetVEK::Status writeWorkFile(std::string_view bytes);
  GetVEK::Status closeWorkFile();
  GetVEK::Status publishWorkFile(std::string_view name);
  GetVEK::Status discardWorkFile();

  GetVEK::Found findFirstEntry(const std::string& pattern) { return walk_.findFirstEntry(pattern); }
  GetVEK::Found shortForm(std::string_view path) { return walk_.shortForm(path); }

  static void report(std::string_view line);

 private:
  std::string pathOf(std::string_view name) const;
  GetVEK::Failure failure(std::string action, int error) const;
  GetVEK::Status removeLeftWorkFile(std::string_view name);
  void removeOwnWorkName();

  std::string directoryPath_;  // as the system names it, for reports
  int directory_ = -1;         // every file operation is relative to it
  std::string workName_;
  int workFile_ = -1;
  int ownWorkFile_ = -1;  // the work file itself (O_PATH), whatever its name
  Walk walk_;
};

// The text after the program's own name: POSIX has only argv, which it
// joins with single spaces.
std::string argumentText(int argc, char** argv);

}  // namespace Platform::Linux

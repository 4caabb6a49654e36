// Real runs of the built tool, as its caller makes them: the executable
// copied into a fresh program directory, started with argument text, its
// result file read back. The trees they run on: Files.h.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tests/linux/Files.h"

namespace TestSupport {

struct RunOutcome {
  int exitStatus = -1;  // 128 + the signal for a run ended by one
  bool timedOut = false;
  std::string standardOutput;
  std::string standardError;
  std::optional<std::string> result;    // VEK.TXT, when there is one
  std::optional<std::string> workFile;  // VEK.TX, when one was left
};

struct RunOptions {
  std::string workingDirectory = "/";
  std::optional<unsigned long> fileSizeLimit;  // RLIMIT_FSIZE
  std::optional<unsigned long> openFileLimit;  // RLIMIT_NOFILE
  bool unprivileged = false;                   // as user and group nobody when the tests run as root
                                               // (the directories it needs must let nobody in)
  int timeoutSeconds = 30;                     // then the run is killed and marked timed out
};

inline RunOptions inDirectory(std::string workingDirectory) {
  RunOptions options;
  options.workingDirectory = std::move(workingDirectory);
  return options;
}

// A run started and not yet waited for.
struct StartedRun {
  int pid = -1;
  int output = -1;
  int error = -1;
};

// A program directory holding a copy of the tool.
class ProgramDirectory {
 public:
  ProgramDirectory();

  const std::string& path() const { return tree_.path(); }
  std::string resultPath() const { return tree_ / "VEK.TXT"; }
  std::string workPath() const { return tree_ / "VEK.TX"; }

  StartedRun start(const std::vector<std::string>& arguments, const RunOptions& options = {}) const;
  RunOutcome finish(StartedRun run, int timeoutSeconds = 30) const;
  RunOutcome run(const std::vector<std::string>& arguments, const RunOptions& options = {}) const {
    return finish(start(arguments, options), options.timeoutSeconds);
  }

 private:
  TempTree tree_;
};

// Each run in a program directory of its own.
RunOutcome runFresh(const std::vector<std::string>& arguments, const RunOptions& options = {});

}  // namespace TestSupport

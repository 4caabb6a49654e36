// Real directory trees and real runs of the built tool, as its caller makes
// them: the executable copied into a fresh program directory, started with
// argument text, its result file read back.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace TestSupport {

// A fresh directory under /tmp, removed with everything in it at the end.
// Its name is a valid 8.3 name, so it stands unchanged in short forms.
class TempTree {
 public:
  TempTree();
  ~TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

  // Parents are made as needed.
  std::string makeDirectory(const std::string& relative) const;
  std::string makeFile(const std::string& relative, const std::string& content = "") const;

 private:
  std::string path_;
};

std::string readFile(const std::string& path);
bool exists(const std::string& path);
bool isRegularFile(const std::string& path);  // not through a symbolic link

// Every entry under `root`, the root included, mapped to what a run must not
// change about it: its kind, link count, modification time, and the content
// of a file (by its hash when large) or the target of a symbolic link. Nothing but files is opened.
std::map<std::string, std::string> snapshot(const std::string& root);

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
  std::optional<unsigned long> fileSizeLimit;  // RLIMIT_FSIZE, with SIGXFSZ ignored
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

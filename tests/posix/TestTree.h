// Real directory trees and real runs of the built tool, as its caller makes
// them: the executable copied into a fresh program directory, started with
// argument text, its result file read back.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace testing_support {

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

struct RunOutcome {
  int exitStatus = -1;
  std::string standardOutput;
  std::string standardError;
  std::optional<std::string> result;    // VEK.TXT, when there is one
  std::optional<std::string> workFile;  // VEK.TX, when one was left
};

// A program directory holding a copy of the tool.
class ProgramDirectory {
 public:
  ProgramDirectory();

  const std::string& path() const { return tree_.path(); }
  std::string resultPath() const { return tree_ / "VEK.TXT"; }
  std::string workPath() const { return tree_ / "VEK.TX"; }

  // Runs the tool with `arguments` from the current directory `workingDirectory`.
  RunOutcome run(const std::vector<std::string>& arguments, const std::string& workingDirectory = "/") const;

 private:
  TempTree tree_;
};

// Each run in a program directory of its own.
RunOutcome runFresh(const std::vector<std::string>& arguments, const std::string& workingDirectory = "/");

}  // namespace testing_support

// Real files and directories for the tests and the benchmarks. A failed
// system call throws, naming the call, the path and the reason.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace TestSupport {

// Throws unless `ok`, with `what` and errno's reason.
void checkSystemCall(bool ok, const std::string& what);

// Every directory along `path` that does not exist yet.
void makeDirectories(const std::string& path);
// Created or emptied, its parents made as needed.
std::string makeFile(const std::string& path, const std::string& content = "", unsigned mode = 0644);
std::string readFile(const std::string& path);
// Nothing when there is no such file (another process may remove it).
std::optional<std::string> readFileIfThere(const std::string& path);
bool exists(const std::string& path);
// Not through a symbolic link; reading a FIFO would block.
bool isRegularFile(const std::string& path);
// Every entry under `root`, `root` included, with its kind, link count,
// modification time and content or link target: equal snapshots mean that
// nothing there was touched.
std::map<std::string, std::string> snapshot(const std::string& root);
// `path` and everything in it, gone; nothing when it was not there.
void removeTree(const std::string& path);

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

  std::string makeDirectory(const std::string& relative) const;
  std::string makeFile(const std::string& relative, const std::string& content = "") const;

 private:
  std::string path_;
};

}  // namespace TestSupport

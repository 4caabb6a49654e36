#include "tests/linux/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "windowsnames/PathComponents.h"

namespace TestSupport {
namespace {

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
  // Directories the tests made unreadable still have to go.
  ::chmod(path, 0700);
  return ::remove(path);
}

}  // namespace

void checkSystemCall(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what + ": " + std::strerror(errno));
}

void makeDirectories(const std::string& path) {
  std::string made;
  WindowsNames::forEachComponent(path, '/', [&](std::string_view component, bool separatorFollows) {
    made += component;
    if (!component.empty()) checkSystemCall(::mkdir(made.c_str(), 0755) == 0 || errno == EEXIST, "mkdir " + made);
    if (separatorFollows) made += '/';
    return true;
  });
}

std::string makeFile(const std::string& path, const std::string& content, unsigned mode) {
  if (const auto slash = path.rfind('/'); slash != std::string::npos && slash > 0)
    makeDirectories(path.substr(0, slash));
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, static_cast<mode_t>(mode));
  checkSystemCall(fd >= 0, "create " + path);
  const bool written = ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
  ::close(fd);
  checkSystemCall(written, "write " + path);
  return path;
}

std::string readFile(const std::string& path) {
  std::optional<std::string> content = readFileIfThere(path);
  checkSystemCall(content.has_value(), "open " + path);
  return *content;
}

std::optional<std::string> readFileIfThere(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0 && errno == ENOENT) return std::nullopt;
  checkSystemCall(fd >= 0, "open " + path);
  std::string content;
  char buffer[4096];
  ssize_t got = 0;
  while ((got = ::read(fd, buffer, sizeof buffer)) > 0) content.append(buffer, static_cast<std::size_t>(got));
  ::close(fd);
  return content;
}

bool exists(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0;
}

bool isRegularFile(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

std::map<std::string, std::string> snapshot(const std::string& root) {
  std::map<std::string, std::string> entries;
  std::vector<std::string> pending{root};
  while (!pending.empty()) {
    const std::string path = pending.back();
    pending.pop_back();
    struct stat status {};
    checkSystemCall(::lstat(path.c_str(), &status) == 0, "lstat " + path);
    std::string& entry = entries[path];
    entry = std::to_string(status.st_mode & S_IFMT) + " links " + std::to_string(status.st_nlink) + " modified " +
            std::to_string(status.st_mtim.tv_sec) + "." + std::to_string(status.st_mtim.tv_nsec) + ": ";
    if (S_ISREG(status.st_mode)) {
      // Large files (the tool itself) by their hash, to keep failure reports readable.
      const std::string content = readFile(path);
      entry += content.size() <= 4096 ? content : "hash " + std::to_string(std::hash<std::string>{}(content));
    }
    if (S_ISLNK(status.st_mode)) {
      char target[PATH_MAX];
      const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
      checkSystemCall(length >= 0, "readlink " + path);
      entry.append(target, static_cast<std::size_t>(length));
    }
    if (!S_ISDIR(status.st_mode)) continue;
    DIR* directory = ::opendir(path.c_str());
    checkSystemCall(directory != nullptr, "opendir " + path);
    while (const struct dirent* child = ::readdir(directory)) {
      const std::string name = child->d_name;
      if (name != "." && name != "..") pending.push_back(path + "/" + name);
    }
    ::closedir(directory);
  }
  return entries;
}

void removeTree(const std::string& path) { ::nftw(path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS); }

TempTree::TempTree() {
  char pattern[] = "/tmp/gvXXXXXX";
  checkSystemCall(::mkdtemp(pattern) != nullptr, "mkdtemp");
  path_ = pattern;
}

TempTree::~TempTree() { removeTree(path_); }

std::string TempTree::makeDirectory(const std::string& relative) const {
  makeDirectories(*this / relative);
  return *this / relative;
}

std::string TempTree::makeFile(const std::string& relative, const std::string& content) const {
  return TestSupport::makeFile(*this / relative, content);
}

}  // namespace TestSupport

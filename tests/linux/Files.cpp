#include "tests/linux/Files.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string_view>

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
  const int fd = ::open(path.c_str(), O_RDONLY);
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

bool isDirectory(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
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

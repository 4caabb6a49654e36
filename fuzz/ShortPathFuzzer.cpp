// The short-name query on small trees made from the input: every answer is
// made of valid 8.3 components, asking again with the answer gives the same
// answer, and the answer names the same file as the long path. Input: names
// separated by "/"; a name ending in "." becomes a directory that the names
// after it go into.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/walk/Walk.h"
#include "platform/linux/walk/Directory.h"
#include "tests/linux/Files.h"
#include "windowsnames/AliasAssignment.h"
#include "windowsnames/PathComponents.h"

namespace {

const std::string root = "/tmp/gvfuzz";

// Each in a walk of its own, as each run makes one.
std::string shortPathOf(const std::string& path) {
  Platform::Linux::Walk walk;
  const GetVEK::Found found = walk.shortForm(path);
  if (!found.hasName()) std::abort();
  return found.name();
}

// The path on disk that a short form stands for, each alias looked up
// among its directory's entries as the emulation assigns them.
std::string longPathOf(const std::string& shortForm) {
  std::string path = root;
  int error = 0;
  std::optional<Platform::Linux::Directory> directory = Platform::Linux::Directory::openStart(true, error);
  for (std::string_view component : {std::string_view("tmp"), std::string_view("gvfuzz")})
    directory = directory->openSubdirectory(component, error);
  const std::string_view below = std::string_view(shortForm).substr(root.size() + 1);
  WindowsNames::forEachComponent(below, '/', [&](std::string_view component, bool separatorFollows) {
    std::string name(component);
    if (directory->entryError(name) != 0)
      name = WindowsNames::AliasAssignment(*directory).entryWithAlias(name).value();
    path += "/" + name;
    if (separatorFollows) directory = directory->openSubdirectory(name, error);
    return true;
  });
  return path;
}

bool sameFile(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  return ::lstat(a.c_str(), &first) == 0 && ::lstat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TestSupport::removeTree(root);
  TestSupport::makeDirectories(root);
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  std::vector<std::string> made;
  std::string directory = root;
  WindowsNames::forEachComponent(input, '/', [&](std::string_view piece, bool) {
    std::string name(piece);
    if (name.find('\0') != std::string::npos || name.find_first_of("?*") != std::string::npos) return true;
    const bool isDirectory = !name.empty() && name.back() == '.';
    if (isDirectory) name.pop_back();
    if (name.empty() || name == "." || name == ".." || name.size() > 200) return true;
    const std::string path = directory + "/" + name;
    if (isDirectory) {
      if (::mkdir(path.c_str(), 0755) != 0) return true;
      directory = path;
    } else {
      const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
      if (fd < 0) return true;
      ::close(fd);
    }
    made.push_back(path);
    return made.size() < 8;
  });

  for (const std::string& path : made) {
    const std::string answer = shortPathOf(path);
    if (!WindowsNames::isShortPath(answer, '/')) std::abort();
    if (shortPathOf(answer) != answer) std::abort();
    if (!sameFile(longPathOf(answer), path)) std::abort();
  }
  return 0;
}

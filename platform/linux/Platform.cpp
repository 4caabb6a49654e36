// The platform services on Linux, where file systems keep no short names:
// the search and the short-name query emulate Windows' with aliases made by
// its rules (see windowsnames/).
#include "platform/Platform.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/linux/PathLookup.h"
#include "windowsnames/DirectorySearch.h"

namespace Platform {
namespace {

// Exit statuses: 75 (EX_TEMPFAIL, as BSD's sysexits.h names it) for a run
// that gave way to another and is worth repeating, 1 for any other failure.
constexpr int failed = 1;
constexpr int worthRetrying = 75;

// The unhandled-error path: one line, the exit status, nothing more done.
[[noreturn]] void endRun(const std::string& what, const std::string& reason, int status = failed) {
  std::string line = "getvek: cannot " + what + ": " + reason + '\n';
  const char* data = line.data();
  std::size_t left = line.size();
  while (left > 0) {
    const ssize_t written = ::write(STDERR_FILENO, data, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) break;
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  _exit(status);
}

[[noreturn]] void endRun(const std::string& what, int error) { endRun(what, strerror(error)); }

// A rename that found the result still there gave way to another run.
[[noreturn]] void endRename(const std::string& from, const std::string& to, int error) {
  endRun("rename " + from + " to " + to, strerror(error), error == EEXIST ? worthRetrying : failed);
}

// Runs started together in one program directory would share its two file
// names. The first holds the directory locked until it ends; any other
// fails at once, before touching either file.
void lockProgramDirectory(const std::string& workPath) {
  const auto slash = workPath.rfind('/');
  const std::string directory = slash == 0 ? "/" : workPath.substr(0, slash);
  const int handle = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (handle < 0) endRun("open " + directory, errno);
  if (::flock(handle, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) endRun("lock " + directory, "another run is using it", worthRetrying);
    endRun("lock " + directory, errno);
  }
  // The descriptor stays open, and the lock held, until the process ends.
}

int descriptor(OutputFile file) { return static_cast<int>(file.handle); }

// Another name of the same file (a hard link), a FIFO, a socket, a device, a
// directory or a symbolic link under the work file's name is somebody
// else's: writing it would change their data or wait for a reader forever.
bool isPlainFileWithOneLink(const struct stat& status) { return S_ISREG(status.st_mode) && status.st_nlink == 1; }

[[noreturn]] void refuseWorkFile(const std::string& path) {
  endRun("open " + path, "not a plain file with a single link");
}

// A new file is the run's own. An existing one, left by an earlier run, is
// looked at before it is opened, so that nothing else is ever opened, and
// again on the open descriptor, in case the name changed in between; only
// then is it emptied. O_NONBLOCK keeps even that open from waiting, and
// O_NOFOLLOW from going through a symbolic link.
int openWorkFile(const std::string& path) {
  constexpr int flags = O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  const int created = ::open(path.c_str(), flags | O_CREAT | O_EXCL, 0666);
  if (created >= 0) return created;
  if (errno != EEXIST) endRun("open " + path, errno);

  struct stat named {};
  if (::lstat(path.c_str(), &named) != 0) endRun("open " + path, errno);
  if (!isPlainFileWithOneLink(named)) refuseWorkFile(path);
  const int handle = ::open(path.c_str(), flags);
  if (handle < 0) endRun("open " + path, errno);
  struct stat opened {};
  if (::fstat(handle, &opened) != 0) endRun("open " + path, errno);
  if (!isPlainFileWithOneLink(opened) || opened.st_ino != named.st_ino || opened.st_dev != named.st_dev)
    refuseWorkFile(path);
  if (::ftruncate(handle, 0) != 0) endRun("open " + path, errno);
  return handle;
}

}  // namespace

std::string argumentText(int argc, char** argv) {
  std::string text;
  for (int at = 1; at < argc; ++at) {
    if (at > 1) text += ' ';
    text += argv[at];
  }
  return text;
}

std::string programDirectory() {
  std::string path(PATH_MAX, '\0');
  for (;;) {
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length < 0) endRun("find the program directory", errno);
    if (static_cast<std::size_t>(length) < path.size()) {
      path.resize(static_cast<std::size_t>(length));
      break;
    }
    path.resize(path.size() * 2);
  }
  path.resize(path.rfind('/'));
  return path;
}

SearchHandle FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* found) {
  constexpr SearchHandle noEntry = -1;
  const std::string_view text(pattern);
  const auto slash = text.rfind('/');
  const std::string_view directoryPart =
      slash == std::string_view::npos ? std::string_view() : text.substr(0, slash + 1);
  const std::string_view namePattern = text.substr(directoryPart.size());
  if (text.size() >= PATH_MAX || directoryPart.find_first_of("?*") != std::string_view::npos) return noEntry;
  if (namePattern.empty() || namePattern.size() >= sizeof found->cFileName) return noEntry;

  std::optional<Linux::LookedUpPath> directory = Linux::lookUpPath(directoryPart);
  if (!directory) return noEntry;
  const std::optional<std::string> first = WindowsNames::findFirstMatch(directory->directory, namePattern);
  if (!first || first->size() >= sizeof found->cFileName) return noEntry;
  std::memcpy(found->cFileName, first->c_str(), first->size() + 1);
  return 1;
}

// Nothing stays open between the search and its closing.
void FindClose(SearchHandle) {}

std::uint32_t GetShortPathNameA(const char* longPath, char* buffer, std::uint32_t capacity) {
  const std::string_view path(longPath);
  // Nothing longer than the system takes in a path has a short form.
  if (path.empty() || path.size() >= PATH_MAX || path.find_first_of("?*") != std::string_view::npos) return 0;
  const std::optional<Linux::LookedUpPath> found = Linux::lookUpPath(path);
  if (!found) return 0;
  const std::string& shortForm = found->shortForm;
  if (shortForm.size() + 1 > capacity) return static_cast<std::uint32_t>(shortForm.size() + 1);
  std::memcpy(buffer, shortForm.c_str(), shortForm.size() + 1);
  return static_cast<std::uint32_t>(shortForm.size());
}

OutputFile openFileForWriting(const std::string& path) {
  lockProgramDirectory(path);
  const int handle = openWorkFile(path);
  return {handle, &path};
}

void writeFile(OutputFile file, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(descriptor(file), bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) endRun("write " + *file.path, errno);
    if (written == 0) endRun("write " + *file.path, EIO);
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

void closeFile(OutputFile file) {
  // Linux releases the descriptor even when close is interrupted.
  if (::close(descriptor(file)) != 0 && errno != EINTR) endRun("close " + *file.path, errno);
}

void renameFile(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return;
  const int error = errno;
  const bool flagRefused = error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
  if (!flagRefused) endRename(from, to, error);
  // A link never replaces an existing name either.
  if (::link(from.c_str(), to.c_str()) != 0) endRename(from, to, errno);
  if (::unlink(from.c_str()) != 0) endRun("remove " + from, errno);
}

}  // namespace Platform

#include "platform/linux/Services.h"

#include "platform/Platform.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <malloc.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace Platform::Linux {
namespace {

using GetVEK::Failure;
using GetVEK::Status;

// Only a file this run has just made is ever written: never one that stood
// under the name already (somebody's data moved or linked there), and the
// open never follows a link, waits for a reader or takes a terminal.
constexpr int workFileFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

std::string executablePath(int& error) {
  std::string path(PATH_MAX, '\0');
  for (;;) {
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length < 0) {
      error = errno;
      return {};
    }
    if (static_cast<std::size_t>(length) < path.size()) {
      path.resize(static_cast<std::size_t>(length));
      return path;
    }
    path.resize(path.size() * 2);
  }
}

// A work file left by an earlier run of this user: a plain file with this
// name alone. Anything else (a hard link to a file elsewhere, a symbolic
// link, a FIFO, a device, a directory, a file of another user) is somebody
// else's.
std::string descriptorPath(int descriptor) { return "/proc/self/fd/" + std::to_string(descriptor); }

bool isLeftWorkFile(const struct stat& status) {
  return S_ISREG(status.st_mode) && status.st_nlink == 1 && status.st_uid == ::geteuid();
}

}  // namespace

// Settings of the whole process, the tool's to make and never the walk's,
// which the library runs inside its caller's process:
// - A file size limit would otherwise end the run by signal in the middle
//   of its write; ignored, the write fails with EFBIG and the run says so.
// - A thread's first free (libstdc++ frees its start record in the new
//   thread) makes glibc reserve a heap arena of its own, 64 MiB of address
//   space or more, up to eight a core: under an address-space limit that,
//   not the little memory the run uses, would end it. The walk's birth-time
//   helpers allocate nothing else, so they share the one arena.
Services::Services() {
  ::signal(SIGXFSZ, SIG_IGN);
  (void)::mallopt(M_ARENA_MAX, 1);
}

Services::~Services() {
  if (workFile_ >= 0) ::close(workFile_);
  if (ownWorkFile_ >= 0) ::close(ownWorkFile_);
  if (directory_ >= 0) ::close(directory_);
}

std::string Services::pathOf(std::string_view name) const {
  std::string path = directoryPath_;
  path += '/';
  path += name;
  return path;
}

Failure Services::failure(std::string action, int error) const { return Failure{std::move(action), strerror(error)}; }

// The directory is opened once: every file operation is made relative to
// it, so that the run keeps to one directory even when its name is given to
// another meanwhile. Runs from one directory would share its two file names:
// the first holds the directory locked until it ends, and any other fails
// at once, before it touches either file.
Status Services::takeProgramDirectory() {
  int error = 0;
  const std::string executable = executablePath(error);
  if (executable.empty()) return failure("find the program directory", error);
  directoryPath_ = executable.substr(0, executable.rfind('/'));
  const char* const opened = directoryPath_.empty() ? "/" : directoryPath_.c_str();
  const std::string shown = directoryPath_.empty() ? "/" : directoryPath_;
  directory_ = ::open(opened, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory_ < 0) return failure("open " + shown, errno);
  if (::flock(directory_, LOCK_EX | LOCK_NB) == 0) return {};  // held until the process ends
  if (errno == EWOULDBLOCK) return Failure{"lock " + shown, "another run is using it", true};
  return failure("lock " + shown, errno);
}

// A check fooled by a race removes a name, never writes anybody's data.
Status Services::removeLeftWorkFile(std::string_view name) {
  const std::string path = pathOf(name);
  struct stat status {};
  if (::fstatat(directory_, std::string(name).c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
    return errno == ENOENT ? Status() : failure("open " + path, errno);
  if (!isLeftWorkFile(status)) return Failure{"open " + path, "not a plain file of this user with a single link"};
  if (::unlinkat(directory_, std::string(name).c_str(), 0) != 0 && errno != ENOENT)
    return failure("remove " + path, errno);
  return {};
}

Status Services::createWorkFile(std::string_view name) {
  workName_ = name;
  workFile_ = ::openat(directory_, workName_.c_str(), workFileFlags, 0666);
  if (workFile_ < 0) {
    if (errno != EEXIST) return failure("open " + pathOf(name), errno);
    if (Status refused = removeLeftWorkFile(name)) return refused;
    workFile_ = ::openat(directory_, workName_.c_str(), workFileFlags, 0666);
    if (workFile_ < 0) return failure("open " + pathOf(name), errno);
  }
  // The file itself, whatever its name comes to stand for meanwhile: the
  // result is linked from it (publishWorkFile). Without /proc, none.
  ownWorkFile_ = ::open(descriptorPath(workFile_).c_str(), O_PATH | O_CLOEXEC);
  return {};
}

Status Services::writeWorkFile(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(workFile_, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return failure("write " + pathOf(workName_), written < 0 ? errno : EIO);
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return {};
}

Status Services::closeWorkFile() {
  const int file = workFile_;
  workFile_ = -1;
  // Linux releases the descriptor even when close is interrupted.
  if (::close(file) != 0 && errno != EINTR) return failure("close " + pathOf(workName_), errno);
  return {};
}

// Never replaces a result that is still there: the caller has not read it.
// The result is the file this run made and wrote, linked under its final
// name from the run's own descriptor: a file somebody renamed onto the work
// name meanwhile is neither given the result's name nor removed. Once the
// result has its name the run has answered: a work name that cannot be
// removed then stays, as after a run ended there, for the next run to
// remove as any leftover.
Status Services::publishWorkFile(std::string_view name) {
  const std::string finalName(name);
  const auto refused = [&](int error) {
    Failure failed = failure("rename " + pathOf(workName_) + " to " + pathOf(name), error);
    failed.worthRetrying = error == EEXIST;
    return failed;
  };
  if (ownWorkFile_ >= 0) {
    const std::string ownFile = descriptorPath(ownWorkFile_);
    if (::linkat(AT_FDCWD, ownFile.c_str(), directory_, finalName.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      removeOwnWorkName();
      return {};
    }
    // A file system without hard links is given the name by a rename.
    if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK && errno != EXDEV) return refused(errno);
  }
  if (::renameat2(directory_, workName_.c_str(), directory_, finalName.c_str(), RENAME_NOREPLACE) == 0) return {};
  const int error = errno;
  if (error != EINVAL && error != ENOSYS && error != EOPNOTSUPP) return refused(error);
  // A file system that refuses the flag: a link never replaces a name either.
  if (::linkat(directory_, workName_.c_str(), directory_, finalName.c_str(), 0) != 0) return refused(errno);
  ::unlinkat(directory_, workName_.c_str(), 0);
  return {};
}

// The work name is removed only while it still names this run's file.
void Services::removeOwnWorkName() {
  struct stat own {};
  struct stat named {};
  if (::fstat(ownWorkFile_, &own) == 0 && ::fstatat(directory_, workName_.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
      named.st_dev == own.st_dev && named.st_ino == own.st_ino)
    ::unlinkat(directory_, workName_.c_str(), 0);
}

Status Services::discardWorkFile() {
  if (workFile_ >= 0) ::close(workFile_);
  workFile_ = -1;
  if (::unlinkat(directory_, workName_.c_str(), 0) != 0) return failure("remove " + pathOf(workName_), errno);
  return {};
}

void Services::report(std::string_view line) {
  std::string text(line);
  text += '\n';
  std::string_view left = text;
  while (!left.empty()) {
    const ssize_t written = ::write(STDERR_FILENO, left.data(), left.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    left.remove_prefix(static_cast<std::size_t>(written));
  }
}

std::string argumentText(int argc, char** argv) {
  std::string text;
  for (int at = 1; at < argc; ++at) {
    if (at > 1) text += ' ';
    text += argv[at];
  }
  return text;
}

}  // namespace Platform::Linux

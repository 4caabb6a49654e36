#include "tests/linux/NtfsVolume.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

#include "tests/linux/Files.h"

namespace TestSupport {
namespace {

// Where Debian's ntfs-3g puts them.
constexpr const char* mkntfs = "/usr/sbin/mkntfs";
constexpr const char* ntfs3g = "/usr/bin/ntfs-3g";

// A child running the program that `arguments` name, its output thrown
// away, killed when the test process ends.
pid_t startQuietly(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const pid_t parent = ::getpid();
  const pid_t child = ::fork();
  checkSystemCall(child >= 0, "fork");
  if (child == 0) {
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) ::_exit(126);
    const int nothing = ::open("/dev/null", O_RDWR);
    ::dup2(nothing, STDIN_FILENO);
    ::dup2(nothing, STDOUT_FILENO);
    ::dup2(nothing, STDERR_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return child;
}

// Whether the child has ended, waiting up to `patience` for it.
bool ended(pid_t child, std::chrono::milliseconds patience) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  for (;;) {
    int status = 0;
    if (::waitpid(child, &status, WNOHANG) == child) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool isFuseMount(const std::string& path) {
  struct statfs status {};
  return ::statfs(path.c_str(), &status) == 0 && status.f_type == FUSE_SUPER_MAGIC;
}

}  // namespace

std::optional<std::string> NtfsVolume::whyNotAvailable() {
  static const std::optional<std::string> reason = []() -> std::optional<std::string> {
    if (::geteuid() != 0) return "mounting an NTFS image with ntfs-3g needs root";
    if (::access("/dev/fuse", R_OK | W_OK) != 0) return "no /dev/fuse: FUSE cannot mount here";
    if (::access(mkntfs, X_OK) != 0 || ::access(ntfs3g, X_OK) != 0)
      return "ntfs-3g is not installed (scripts/setup installs it)";
    // Mounts made from here on are this process's alone, and go with it.
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
      return std::string("no mount namespace of the test's own: ") + std::strerror(errno);
    return std::nullopt;
  }();
  return reason;
}

NtfsVolume::NtfsVolume(const std::string& image, const std::string& mountPoint) : mountPoint_(mountPoint) {
  constexpr off_t size = 32 << 20;
  makeFile(image);
  checkSystemCall(::truncate(image.c_str(), size) == 0, "truncate " + image);
  const pid_t format = startQuietly({mkntfs, "-F", "-f", "-q", image});
  int status = 0;
  checkSystemCall(::waitpid(format, &status, 0) == format, "waitpid");
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("mkntfs " + image + " failed");

  // In the foreground, so that it is this process's child and dies with it.
  driver_ = startQuietly({ntfs3g, "-o", "no_detach", image, mountPoint});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!isFuseMount(mountPoint)) {
    if (ended(driver_, std::chrono::milliseconds(10)) || std::chrono::steady_clock::now() > deadline) {
      ::kill(driver_, SIGKILL);
      ::waitpid(driver_, nullptr, 0);
      throw std::runtime_error("ntfs-3g could not mount " + image);
    }
  }
}

NtfsVolume::~NtfsVolume() {
  if (::umount2(mountPoint_.c_str(), 0) != 0) ::umount2(mountPoint_.c_str(), MNT_DETACH);
  if (!ended(driver_, std::chrono::seconds(10))) {
    ::kill(driver_, SIGKILL);
    ::waitpid(driver_, nullptr, 0);
  }
}

void NtfsVolume::setDosName(const std::string& relative, const std::string& dosName) const {
  const std::string path = *this / relative;
  checkSystemCall(::setxattr(path.c_str(), "system.ntfs_dos_name", dosName.data(), dosName.size(), 0) == 0,
                  "set the DOS name of " + path);
}

}  // namespace TestSupport

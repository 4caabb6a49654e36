#include "tests/linux/TestTree.h"

#include <fcntl.h>
#include <ftw.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "windowsnames/PathComponents.h"

extern char** environ;

namespace TestSupport {
namespace {

void check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what + ": " + std::strerror(errno));
}

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
  // Directories the tests made unreadable still have to go.
  ::chmod(path, 0700);
  return ::remove(path);
}

void writeFile(const std::string& path, const std::string& content, mode_t mode) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
  check(fd >= 0, "create " + path);
  check(::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size()), "write " + path);
  ::close(fd);
}

// Both pipes drained together, so that neither can fill up and stall the
// child; false when they are still open after `timeoutSeconds`.
bool drain(int outFd, int errFd, std::string& out, std::string& err, int timeoutSeconds) {
  struct pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string* sinks[2] = {&out, &err};
  int open = 2;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  while (open > 0) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    if (::poll(fds, 2, static_cast<int>(left.count())) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(got));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (const struct pollfd& fd : fds)
    if (fd.fd >= 0) ::close(fd.fd);
  return open == 0;
}

}  // namespace

TempTree::TempTree() {
  char pattern[] = "/tmp/gvXXXXXX";
  check(::mkdtemp(pattern) != nullptr, "mkdtemp");
  path_ = pattern;
}

TempTree::~TempTree() { ::nftw(path_.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS); }

std::string TempTree::makeDirectory(const std::string& relative) const {
  std::string path = path_;
  for (const std::string_view component : WindowsNames::pathComponents(relative, '/')) {
    path += '/';
    path += component;
    check(::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST, "mkdir " + path);
  }
  return path;
}

std::string TempTree::makeFile(const std::string& relative, const std::string& content) const {
  if (const auto slash = relative.rfind('/'); slash != std::string::npos) makeDirectory(relative.substr(0, slash));
  const std::string path = *this / relative;
  writeFile(path, content, 0644);
  return path;
}

std::string readFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  check(fd >= 0, "open " + path);
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

ProgramDirectory::ProgramDirectory() {
  check(::chmod(tree_.path().c_str(), 0755) == 0, "chmod " + tree_.path());
  writeFile(tree_ / "getvek", readFile(GETVEK_BINARY), 0755);
}

StartedRun ProgramDirectory::start(const std::vector<std::string>& arguments, const RunOptions& options) const {
  const std::string program = tree_ / "getvek";
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const bool dropPrivileges = options.unprivileged && ::geteuid() == 0;
  // The program directory is the user's own, as an installed program's is.
  if (dropPrivileges) check(::chown(tree_.path().c_str(), 65534, 65534) == 0, "chown " + tree_.path());

  int out[2];
  int err[2];
  check(::pipe2(out, O_CLOEXEC) == 0 && ::pipe2(err, O_CLOEXEC) == 0, "pipe");
  const pid_t child = ::fork();
  check(child >= 0, "fork");
  if (child == 0) {
    // Only async-signal-safe calls until the program replaces this one.
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    if (::chdir(options.workingDirectory.c_str()) != 0) ::_exit(126);
    if (options.fileSizeLimit) {
      ::signal(SIGXFSZ, SIG_IGN);
      const struct rlimit limit = {*options.fileSizeLimit, *options.fileSizeLimit};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
    }
    if (dropPrivileges && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(126);
    ::execve(program.c_str(), argv.data(), environ);
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  return {child, out[0], err[0]};
}

RunOutcome ProgramDirectory::finish(StartedRun started, int timeoutSeconds) const {
  RunOutcome run;
  run.timedOut = !drain(started.output, started.error, run.standardOutput, run.standardError, timeoutSeconds);
  if (run.timedOut) ::kill(started.pid, SIGKILL);
  int status = 0;
  check(::waitpid(started.pid, &status, 0) == started.pid, "waitpid");
  run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  if (exists(resultPath())) run.result = readFile(resultPath());
  if (exists(workPath()) && !isDirectory(workPath())) run.workFile = readFile(workPath());
  return run;
}

RunOutcome runFresh(const std::vector<std::string>& arguments, const RunOptions& options) {
  return ProgramDirectory().run(arguments, options);
}

}  // namespace TestSupport

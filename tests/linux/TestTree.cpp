#include "tests/linux/TestTree.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

extern char** environ;

namespace TestSupport {
namespace {

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

ProgramDirectory::ProgramDirectory() {
  checkSystemCall(::chmod(tree_.path().c_str(), 0755) == 0, "chmod " + tree_.path());
  makeFile(tree_ / "getvek", readFile(GETVEK_BINARY), 0755);
}

StartedRun ProgramDirectory::start(const std::vector<std::string>& arguments, const RunOptions& options) const {
  const std::string program = tree_ / "getvek";
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const bool dropPrivileges = options.unprivileged && ::geteuid() == 0;
  // The program directory is the user's own, as an installed program's is.
  if (dropPrivileges) checkSystemCall(::chown(tree_.path().c_str(), 65534, 65534) == 0, "chown " + tree_.path());

  int out[2];
  int err[2];
  checkSystemCall(::pipe2(out, O_CLOEXEC) == 0 && ::pipe2(err, O_CLOEXEC) == 0, "pipe");
  const pid_t child = ::fork();
  checkSystemCall(child >= 0, "fork");
  if (child == 0) {
    // Only async-signal-safe calls until the program replaces this one.
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    if (::chdir(options.workingDirectory.c_str()) != 0) ::_exit(126);
    if (options.fileSizeLimit) {
      const struct rlimit limit = {*options.fileSizeLimit, *options.fileSizeLimit};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
    }
    if (options.openFileLimit) {
      const struct rlimit limit = {*options.openFileLimit, *options.openFileLimit};
      if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) ::_exit(126);
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
  checkSystemCall(::waitpid(started.pid, &status, 0) == started.pid, "waitpid");
  run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  // Another run may be removing a work file left behind meanwhile.
  run.result = readFileIfThere(resultPath());
  if (isRegularFile(workPath())) run.workFile = readFileIfThere(workPath());
  return run;
}

RunOutcome runFresh(const std::vector<std::string>& arguments, const RunOptions& options) {
  return ProgramDirectory().run(arguments, options);
}

}  // namespace TestSupport

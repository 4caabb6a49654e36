#include "platform/linux/walk/ChangeWatch.h"

#include <errno.h>
#include <unistd.h>

#include <string>

namespace Platform::Linux {

ChangeWatch::ChangeWatch() = default;

ChangeWatch::~ChangeWatch() {
  if (queue_ >= 0) ::close(queue_);
}

// The queue is made with the first watch, so that a run that lists no
// directory spends no descriptor on it. Without one (too many inotify
// instances) nothing is seen, and the caller compares the directory's times
// instead.
int ChangeWatch::watch(int descriptor) {
  if (refused) return -1;
  if (queue_ < 0) queue_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (queue_ < 0) return -1;
  constexpr std::uint32_t changes = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR;
  const std::string path = "/proc/self/fd/" + std::to_string(descriptor);
  return ::inotify_add_watch(queue_, path.c_str(), changes);
}

bool ChangeWatch::readEvents() {
  filled_ = 0;
  if (queue_ < 0) return false;
  for (;;) {
    const ssize_t read = ::read(queue_, buffer_, sizeof buffer_);
    if (read < 0 && errno == EINTR) continue;
    if (read <= 0) return false;  // EAGAIN: nothing more
    filled_ = static_cast<std::size_t>(read);
    return true;
  }
}

}  // namespace Platform::Linux

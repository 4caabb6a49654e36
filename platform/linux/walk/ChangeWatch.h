// Changes made to directories while a run reads them, seen through inotify:
// which names were created, removed or renamed in a watched directory.
// What it cannot see: changes made on another machine to a network file
// system, and any change once the kernel's event queue has overflowed (which
// it reports, and which counts as a change to every directory watched).
#pragma once

#include <sys/inotify.h>

#include <cstddef>
#include <cstring>
#include <string_view>

namespace Platform::Linux {

class ChangeWatch {
 public:
  // A watch that sees every directory: a change it cannot name.
  static constexpr int everyDirectory = -1;

  ChangeWatch();
  ~ChangeWatch();
  ChangeWatch(const ChangeWatch&) = delete;
  ChangeWatch& operator=(const ChangeWatch&) = delete;

  // Starts watching the directory open at `descriptor`; the watch's number,
  // or -1 when it cannot be watched (no inotify instance or watch left).
  int watch(int descriptor);

  // Set by the tests to refuse every watch, as a user's inotify instances
  // used up by another process do.
  static inline bool refused = false;

  // Calls changed(watch, name) for every change seen since the last call,
  // with everyDirectory and an empty name when some were lost.
  template <class Changed>
  void forEachChange(Changed&& changed) {
    while (readEvents()) {
      for (std::size_t at = 0; at < filled_;) at += visitEvent(at, changed);
    }
  }

 private:
  bool readEvents();
  template <class Changed>
  std::size_t visitEvent(std::size_t at, Changed& changed);

  int queue_ = -1;
  alignas(8) char buffer_[4096];
  std::size_t filled_ = 0;
};

template <class Changed>
std::size_t ChangeWatch::visitEvent(std::size_t at, Changed& changed) {
  inotify_event event;
  std::memcpy(&event, buffer_ + at, sizeof event);
  if ((event.mask & IN_Q_OVERFLOW) != 0)
    changed(everyDirectory, std::string_view());
  else if (event.len > 0)
    changed(event.wd, std::string_view(buffer_ + at + sizeof event));
  return sizeof event + event.len;
}

}  // namespace Platform::Linux

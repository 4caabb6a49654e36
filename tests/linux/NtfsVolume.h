// A small NTFS volume, made with mkntfs in an image file and mounted with
// ntfs-3g, as a user with an NTFS disk reads it. The mount is made in the
// test process's own mount namespace, and ntfs-3g runs in the foreground as
// its child, killed when the test process ends: however a test ends (a
// failure, a kill, ctest -j), no mount and no ntfs-3g outlive it.
#pragma once

#include <optional>
#include <string>

namespace TestSupport {

class NtfsVolume {
 public:
  // Why no volume can be mounted here (not root, no /dev/fuse, ntfs-3g not
  // installed, no private mount namespace to be had); nothing when one can,
  // the test process then being in a mount namespace of its own.
  static std::optional<std::string> whyNotAvailable();

  // Made in `image` (a file of 32 MiB) and mounted at `mountPoint`, an empty
  // directory.
  NtfsVolume(const std::string& image, const std::string& mountPoint);
  ~NtfsVolume();  // unmounted, and ntfs-3g waited for
  NtfsVolume(const NtfsVolume&) = delete;
  NtfsVolume& operator=(const NtfsVolume&) = delete;

  const std::string& path() const { return mountPoint_; }
  std::string operator/(const std::string& relative) const { return mountPoint_ + "/" + relative; }

  // The DOS name Windows would have given the entry, as it stores it.
  void setDosName(const std::string& relative, const std::string& dosName) const;

 private:
  std::string mountPoint_;
  int driver_ = -1;  // ntfs-3g's process
};

}  // namespace TestSupport

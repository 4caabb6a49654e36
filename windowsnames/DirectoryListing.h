// What the alias assignment and the ordered search need of a directory. The
// real one (platform/linux) and the tests' stand-in both provide it; the
// rules themselves never touch a file system.
#pragma once

#include <concepts>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "windowsnames/CreationKey.h"

namespace WindowsNames {

// A callable taking each name and saying whether to go on, referred to
// without copying (a function_ref): it must outlive the call it is passed to.
class NameVisitor {
 public:
  template <class Visit>
  requires(!std::same_as<std::remove_cvref_t<Visit>, NameVisitor>) && std::predicate<Visit&, std::string_view>
  // Not explicit: forEachName is handed a lambda as it stands.
  NameVisitor(Visit&& visit)
      : visit_(const_cast<void*>(static_cast<const void*>(std::addressof(visit)))),
        call_([](void* target, std::string_view name) -> bool {
          return (*static_cast<std::remove_reference_t<Visit>*>(target))(name);
        }) {}

  bool operator()(std::string_view name) const { return call_(visit_, name); }

 private:
  void* visit_;
  bool (*call_)(void*, std::string_view);
};

class DirectoryListing {
 public:
  // One pass over every entry but "." and "..", as long as visit(name)
  // returns true; false if the directory cannot be read.
  virtual bool forEachName(NameVisitor visit) = 0;
  // The creation key of each entry named, in order; nothing for an entry
  // that is gone (it is then left out). Asked for many names at once, so
  // that the directory may look them up side by side.
  virtual std::vector<std::optional<CreationKey>> creationKeys(const std::vector<std::string>& names) = 0;
  // Whether the entries can be listed at all.
  virtual bool readable() = 0;
  // Whether it is the root, which lists no "." and "..".
  virtual bool isRoot() = 0;
  // The size the file system gives the directory, in bytes, 0 where it
  // gives none: on most it grows with the entries (ext4: some 60 bytes an
  // entry), which tells a very large directory before a pass over it.
  virtual std::uint64_t reportedSize() = 0;

 protected:
  // Never owned through the interface.
  ~DirectoryListing() = default;
};

}  // namespace WindowsNames

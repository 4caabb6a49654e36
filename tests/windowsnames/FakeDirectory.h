// A directory held in memory, its entries listed in the order given, for the
// emulation's tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "windowsnames/CreationKey.h"
#include "windowsnames/DirectoryListing.h"

namespace TestSupport {

struct FakeDirectory final : WindowsNames::DirectoryListing {
  struct Entry {
    std::string name;
    WindowsNames::CreationKey key;
  };

  std::vector<Entry> entries;
  std::vector<std::string> vanished;  // still listed, but gone when looked at
  bool root = false;
  bool canRead = true;
  int passes = 0;
  std::uint64_t size = 0;  // what the file system would report

  // Entries created one after another, in the order of `names`.
  static FakeDirectory createdInOrder(const std::vector<std::string>& names) {
    FakeDirectory directory;
    for (const std::string& name : names) directory.add(name);
    return directory;
  }

  void add(std::string name) {
    const auto created = static_cast<std::int64_t>(entries.size()) + 1;
    entries.push_back({std::move(name), {1700000000 + created, 0, 1000 + static_cast<std::uint64_t>(created)}});
  }

  std::uint64_t reportedSize() override { return size; }

  bool forEachName(WindowsNames::NameVisitor visit) override {
    if (!canRead) return false;
    ++passes;
    for (const Entry& entry : entries)
      if (!visit(std::string_view(entry.name))) break;
    return true;
  }

  std::optional<WindowsNames::CreationKey> creationKey(std::string_view name) const {
    for (const std::string& gone : vanished)
      if (gone == name) return std::nullopt;
    for (const Entry& entry : entries)
      if (entry.name == name) return entry.key;
    return std::nullopt;
  }

  std::vector<std::optional<WindowsNames::CreationKey>> creationKeys(const std::vector<std::string>& names) override {
    std::vector<std::optional<WindowsNames::CreationKey>> keys;
    for (const std::string& name : names) keys.push_back(creationKey(name));
    return keys;
  }

  bool readable() override { return canRead; }
  bool isRoot() override { return root; }
};

}  // namespace TestSupport

// The pieces the alias assignment is worked out from: the entries gathered
// in passes over a directory, the keys they are grouped by, what the next
// pass is to gather, and the answer that may have to wait for it.
#pragma once

#include <compare>
#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "windowsnames/CreationKey.h"
#include "windowsnames/ShortName.h"

namespace WindowsNames {

// Numbers 1 to 4 of a basis go to its earliest members.
inline constexpr std::size_t basisNumbers = 4;

// The answer to a question about aliases, or `pending` when it needs entries
// not gathered yet.
struct Pending {};
inline constexpr Pending pending{};

template <class T>
class Gathered {
 public:
  Gathered(Pending) {}
  Gathered(T value) : value_(std::move(value)) {}

  bool isPending() const { return !value_.has_value(); }
  const T& operator*() const { return *value_; }
  const T* operator->() const { return &*value_; }

 private:
  std::optional<T> value_;
};

// Creation order: birth time, inode, then the name's bytes.
struct Order {
  CreationKey key;
  std::string name;

  auto operator<=>(const Order&) const = default;
};

struct Member {
  Order order;
  AliasBasis basis;
  std::string checksumPrefix;

  const std::string& name() const { return order.name; }
};

struct BasisKey {
  std::string base;
  std::string extension;

  auto operator<=>(const BasisKey&) const = default;
};

// The entries whose checksum prefix, cut to `length`, is `prefix`.
struct ChecksumKey {
  std::string prefix;
  std::string extension;
  std::size_t length;

  auto operator<=>(const ChecksumKey&) const = default;
};

// Members of a basis created before an entry, in creation order: all of
// them, or four of them when there are more. They point into the records,
// which stay put until the next pass.
struct Earlier {
  std::vector<const Member*> members;
  bool all;

  bool fewerThanFour() const { return members.size() < basisNumbers; }
};

// What a pass found of a basis: its members created before `before` (all
// its members when there is no bound), in creation order.
struct BasisRecord {
  enum class Holds { all, earliestFour, anyFour };

  std::optional<Order> before;
  std::vector<Member> members;
  Holds holds;
};

// What the next pass is to gather.
struct Wanted {
  std::set<BasisKey> earliest;                   // a basis's earliest four members
  std::set<std::pair<BasisKey, Order>> earlier;  // members created before an entry, up to four
  std::set<ChecksumKey> checksums;               // entries of a checksum prefix

  bool empty() const { return earliest.empty() && earlier.empty() && checksums.empty(); }
};

}  // namespace WindowsNames

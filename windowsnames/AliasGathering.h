// One pass over a directory for the alias assignment: the groups of entries
// wanted when it began, filled as the names stream by, then handed over to
// the records that the questions are worked out from.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "windowsnames/AliasRecords.h"
#include "windowsnames/ShortName.h"

namespace WindowsNames {

class AliasGathering {
 public:
  AliasGathering(const Wanted& wanted, bool wantShortNames);

  // Whether the rest of the directory can still add to a group.
  bool open() const { return wholePass_ || countsOpen_ > 0; }

  void offerShortName(std::string_view name, std::set<std::string>& shortNames) const;

  // Whether some group may want the long name `name`, of `basis`: then its
  // creation key is looked up and it is added with add().
  bool wants(std::string_view name, const AliasBasis& basis) const;

  void add(const Member& member);

  // Hands what was gathered over to the records.
  void record(std::map<BasisKey, std::vector<BasisRecord>>& bases,
              std::map<ChecksumKey, std::vector<Member>>& checksums);

 private:
  // Every listed name is looked up in the groups: by views of its basis
  // and checksum prefix, with nothing copied.
  struct BasisView {
    std::string_view base;
    std::string_view extension;
  };
  struct ChecksumView {
    std::string_view prefix;
    std::string_view extension;
    std::size_t length;
  };
  struct ByView {
    using is_transparent = void;

    using BasisTuple = std::tuple<std::string_view, std::string_view>;
    using ChecksumTuple = std::tuple<std::size_t, std::string_view, std::string_view>;
    static BasisTuple view(const BasisKey& key) { return {key.base, key.extension}; }
    static BasisTuple view(const BasisView& key) { return {key.base, key.extension}; }
    static ChecksumTuple view(const ChecksumKey& key) { return {key.length, key.prefix, key.extension}; }
    static ChecksumTuple view(const ChecksumView& key) { return {key.length, key.prefix, key.extension}; }

    template <class A, class B>
    requires requires(const A& a, const B& b) { view(a) < view(b); }
    bool operator()(const A& a, const B& b) const { return view(a) < view(b); }
  };

  template <class Map, class View>
  static auto findGroup(Map& groups, const View& view);

  struct Counted {
    Order before;
    std::vector<Member> members;
  };
  struct Groups {
    std::optional<std::vector<Member>> earliest;
    std::vector<Counted> earlier;
  };

  static void keepEarliest(std::vector<Member>& earliest, const Member& entry);

  bool wantShortNames_;
  bool wholePass_;
  std::size_t countsOpen_ = 0;
  std::map<BasisKey, Groups, ByView> bases_;
  std::map<ChecksumKey, std::vector<Member>, ByView> checksums_;
  std::set<std::size_t> checksumLengths_;
};

}  // namespace WindowsNames

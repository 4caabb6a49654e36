// Which changes to a directory can alter an answer already worked out from
// it. A listing taken while entries are renamed may miss an entry or show it
// twice, so a change made during a pass that touches a name the answer rests
// on means the pass must be made again; names of no concern (files of
// unrelated names coming and going) change nothing.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "windowsnames/Wildcard.h"

namespace WindowsNames {

class ChangeInterest {
 public:
  // A search for the first entry that `pattern` matches.
  void addPattern(std::string_view pattern);
  // A lookup of a component by its name, without regard to case, or as an
  // alias.
  void addComponent(std::string_view component);
  // An entry whose alias was worked out: it rests on the entries that share
  // its basis or checksum, and on valid 8.3 names of the same shape.
  void addAliasOf(std::string_view longName);

  // Whether an entry of this name appearing or going away may change one of
  // those answers.
  bool concerns(std::string_view name) const;

 private:
  bool sharesAnAlias(std::string_view name) const;

  std::vector<WildcardPattern> patterns_;
  std::vector<std::string> components_;
  std::set<std::pair<std::string, std::string>> bases_;               // base and extension
  std::set<std::pair<std::uint16_t, std::string>> checksums_;         // checksum and extension
  std::set<std::pair<std::string, std::string>> aliasPrefixes_;       // of valid 8.3 names shaped as aliases
};

}  // namespace WindowsNames

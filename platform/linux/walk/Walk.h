// The run's walk through the file system: each directory of the path found
// once, left to right, and what is learnt about it (the entries its
// components name, their aliases, the first entry each pattern matches) kept
// for the rest of the run, so that a later question about the same directory,
// reached again by the same text or through "..", makes no further pass over
// it. A directory's knowledge is dropped and its pass made again when it
// changed meanwhile in a way that concerns the answer (ChangeWatch).
#pragma once

#include <compare>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "conversion/Outcome.h"
#include "conversion/PathSyntax.h"
#include "platform/linux/walk/ChangeWatch.h"
#include "platform/linux/walk/Directory.h"
#include "platform/linux/walk/StoredNames.h"

namespace Platform::Linux {

class Walk {
 public:
  // Paths are POSIX paths: "/" alone separates.
  static GetVEK::PosixPathSyntax pathSyntax() { return {}; }

  Walk();
  ~Walk();
  Walk(const Walk&) = delete;
  Walk& operator=(const Walk&) = delete;

  // The first entry that the name after the last "/" of `pattern` matches in
  // the directory before it, as Windows lists it on NTFS.
  GetVEK::Found findFirstEntry(std::string_view pattern);
  // `path` with every long component replaced by its entry's alias; valid
  // 8.3 names, separators, ".", ".." and empty components as typed.
  GetVEK::Found shortForm(std::string_view path);

 private:
  struct Place;
  // An entry a component names, and its short name where already known.
  struct Named {
    std::string entry;
    std::optional<std::string> shortName;
  };
  // A component of a path, the directory it was looked up in and the one it
  // leads to (none for the last component of a short form's path).
  struct Step {
    std::string component;
    Place* parent;
    Place* place;
    std::string entry;
    std::optional<std::string> shortName;
    // What the parent knew when the entry and its short name were taken
    // from it (Place::knowledge).
    unsigned parentKnowledge = 0;
  };
  template <class T>
  using Outcome = GetVEK::Outcome<T>;
  // What a question asked of a place gives, or why it could not be had: a
  // name found is already one of the run's answers.
  template <class T>
  using Settled = std::conditional_t<std::is_same_v<T, GetVEK::Found>, GetVEK::Found, Outcome<T>>;

  GetVEK::Found shortFormOnce(std::string_view directoryPart, std::string_view last, const Place*& movedIn);
  Outcome<const Step*> stepThatMoved(const std::vector<Step*>& steps);
  Outcome<Place*> walkTo(std::string_view directoryPart);
  Outcome<bool> follow(Step& step);
  static Outcome<bool> entered(Step& step, const Outcome<Place*>& place);
  Outcome<Place*> startAt(bool atRoot);
  Outcome<Place*> enter(Place& parent, const std::string& entry);
  Outcome<Place*> placeFor(Directory directory, const Place* above, std::string name);
  Outcome<Place*> known(Place& place);
  Outcome<std::optional<Named>> componentIn(Place*& place, std::string_view component);
  GetVEK::Found entryNamed(Place& place, std::string_view component, int error);
  GetVEK::Status workOutAliases(const std::vector<Step*>& steps);
  template <class Compute>
  auto settled(Place& place, Compute compute, bool checkedAtTheEnd = false) -> Settled<decltype(compute())>;
  bool changedUnder(Place& place);
  void forgetConcerned();
  void startWatching(Place& place);
  void renew(Place& place, std::optional<Directory::ChangeStamp> stamp);

  ChangeWatch changes_;
  // Every place opened; those whose knowledge was asked for by identity,
  // each the one place of its directory that holds what is known of it.
  std::vector<std::unique_ptr<Place>> opened_;
  std::map<Directory::Identity, Place*> places_;
  std::map<int, Place*> watched_;
  Place* root_ = nullptr;
  Place* current_ = nullptr;
  // The directory walked last: one step a component, the root's empty one
  // first for an absolute path.
  std::vector<Step> trail_;
};

}  // namespace Platform::Linux

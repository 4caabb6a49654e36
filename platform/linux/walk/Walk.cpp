#include "platform/linux/walk/Walk.h"

#include <errno.h>
#include <limits.h>
#include <string.h>

#include <algorithm>
#include <optional>
#include <utility>

#include "conversion/Resolve.h"
#include "platform/ErrorPolicy.h"
#include "platform/linux/walk/Directory.h"
#include "windowsnames/AliasAssignment.h"
#include "windowsnames/ChangeInterest.h"
#include "windowsnames/CodeUnits.h"
#include "windowsnames/DirectorySearch.h"
#include "windowsnames/PathComponents.h"
#include "windowsnames/ShortName.h"

namespace Platform::Linux {

using GetVEK::Failure;
using GetVEK::Found;
using GetVEK::Status;
using WindowsNames::isShortName;

namespace {

// A directory that changes under every pass, or under every walk through
// it, this many times running is reported rather than answered from a view
// known to be torn.
constexpr int maxPasses = 8;

bool isDotEntry(std::string_view component) { return component == "." || component == ".."; }

std::string joined(const std::string& directory, const std::string& entry) {
  return directory == "/" ? "/" + entry : directory + "/" + entry;
}

// Of the names equal to `component` without regard to case, the first that
// NTFS would list; a file system that tells case apart may hold several.
std::optional<std::string> firstEqualWithoutCase(Directory& directory, std::string_view component) {
  std::optional<std::string> first;
  directory.forEachName([&](std::string_view name) {
    if (WindowsNames::equalWithoutCase(name, component) && (!first || WindowsNames::listedBefore(name, *first)))
      first = name;
    return true;
  });
  return first;
}

}  // namespace

// A directory met on the way, open for the rest of the run, with what has
// been learnt of it.
struct Walk::Place {
  Place(Directory opened, const Place* reachedFrom, std::string entry)
      : directory(std::move(opened)),
        above(reachedFrom),
        entryName(std::move(entry)) {}

  // The path it was first reached by, for reports: made only for one.
  std::string shown() const { return shownPath(above, entryName); }
  static std::string shownPath(const Place* from, const std::string& entry) {
    return from == nullptr ? entry : joined(from->shown(), entry);
  }

  // The line for a stored short name that could not be had.
  Failure failure(const StoredNameFault& fault) const {
    return Failure{"search " + (fault.entry.empty() ? shown() : shownPath(this, fault.entry)), fault.reason};
  }

  // Dropped when the directory changed in a way that concerns it.
  void forget() {
    ++knowledge;
    if (aliases) aliases.emplace(directory);
    entries.clear();
    firstMatches.clear();
    interest = {};
  }

  // Which directory it is: the open descriptor keeps it, so it can be asked
  // for as late as it is first needed.
  Outcome<Directory::Identity> identified() {
    if (!identity) {
      int error = 0;
      identity = directory.identity(error);
      if (!identity) return Failure{"search " + shown(), strerror(error)};
    }
    return *identity;
  }

  // Whether an answer took anything from the directory beyond the open of an
  // entry typed as it stands: a pass, or a name the disk stores.
  bool answerRestsOnIt() const { return passed || storedNames.value_or(false); }

  // Whether the disk holds the directory's short names (ntfs-3g, FAT),
  // which then answer instead of the rule; asked once.
  bool holdsStoredNames() {
    if (!storedNames) storedNames = nameSourceOf(directory.descriptor()) != NameSource::rule;
    return *storedNames;
  }

  // What the answers just given rest on, besides the patterns and names asked.
  void noteAliasesWorkedOut() {
    for (const std::string& name : aliases->namesWorkedOut()) interest.addAliasOf(name);
  }

  Directory directory;
  std::optional<Directory::Identity> identity;
  // The place that holds what is known of this directory, once anything is
  // to be known of it (Walk::known): itself, or one reached before by
  // another way.
  Place* canonical = nullptr;
  const Place* above;     // the place it was first reached from; none for "/" or "."
  std::string entryName;  // its name there, or "/" or "."
  std::optional<WindowsNames::AliasAssignment> aliases;  // once it is known (Walk::known)
  std::map<std::string, std::optional<std::string>, std::less<>> entries;       // component -> entry
  std::map<std::string, std::optional<std::string>, std::less<>> firstMatches;  // pattern -> entry
  WindowsNames::ChangeInterest interest;
  std::optional<bool> storedNames;
  // When the directory last changed, taken before its first pass and
  // whenever it is seen to change, while it is not watched.
  std::optional<Directory::ChangeStamp> stamp;
  bool watched = false;
  bool changed = false;
  bool passed = false;  // its answers rest on what a pass saw, not on a lookup alone
  // Moves on each time it forgets: a step answered from what it knew before
  // rests on a state that is gone.
  unsigned knowledge = 0;
};

Walk::Walk() = default;
Walk::~Walk() = default;

Found Walk::findFirstEntry(std::string_view pattern) {
  const std::size_t slash = pattern.rfind('/');
  const std::size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
  const std::string_view directoryPart = pattern.substr(0, nameStart);
  const std::string_view namePattern = pattern.substr(nameStart);
  // Nothing longer than the system takes, and no wildcard but in the last
  // component, can be searched; a name must fit a search record.
  constexpr std::size_t maxName = 260;
  if (pattern.size() >= PATH_MAX || GetVEK::holdsWildcard(directoryPart, pathSyntax()) ||
      namePattern.empty() || namePattern.size() >= maxName)
    return Found::none();

  const Outcome<Place*> reached = walkTo(directoryPart);
  if (reached.failed()) return reached.failure();
  if (*reached == nullptr) return Found::none();
  const Outcome<Place*> searched = known(**reached);
  if (searched.failed()) return searched.failure();
  Place& place = **searched;
  if (const auto known = place.firstMatches.find(namePattern); known != place.firstMatches.end())
    return Found::nameOrNone(known->second);

  Found first = settled(place, [&] {
    place.interest.addPattern(namePattern);
    if (place.holdsStoredNames()) {
      StoredAnswer<std::optional<std::string>> stored = findFirstStoredMatch(place.directory, namePattern);
      if (const auto* fault = std::get_if<StoredNameFault>(&stored)) return Found(place.failure(*fault));
      if (std::optional<std::optional<std::string>>& found = std::get<0>(stored)) return Found::nameOrNone(*found);
    }
    return Found::nameOrNone(WindowsNames::findFirstMatch(place.directory, *place.aliases, namePattern));
  });
  if (first.failed()) return first;
  if (first.hasName() && first.name().size() >= maxName) return Found::none();
  place.firstMatches.emplace(namePattern, first.nameIfAny());
  return first;
}

Found Walk::shortForm(std::string_view path) {
  if (path.empty() || path.size() >= PATH_MAX || GetVEK::holdsWildcard(path, pathSyntax()))
    return Found::none();
  const std::size_t slash = path.rfind('/');
  const std::size_t lastStart = slash == std::string_view::npos ? 0 : slash + 1;
  for (int walk = 1;; ++walk) {
    const Place* movedIn = nullptr;
    Found answer = shortFormOnce(path.substr(0, lastStart), path.substr(lastStart), movedIn);
    if (movedIn == nullptr) return answer;
    if (walk == maxPasses) return Failure{"search " + movedIn->shown(), "it kept changing while it was read"};
    trail_.clear();
  }
}

// One walk's answer, unless a directory it went through no longer holds
// what the walk found there when the answer is ready (`movedIn`).
Found Walk::shortFormOnce(std::string_view directoryPart, std::string_view last, const Place*& movedIn) {
  const Outcome<Place*> reached = walkTo(directoryPart);
  if (reached.failed()) return reached.failure();
  if (*reached == nullptr) return Found::none();

  std::optional<Step> lastStep;
  if (!last.empty()) {
    Place* directory = *reached;
    const Outcome<std::optional<Named>> named = componentIn(directory, last);
    if (named.failed()) return named.failure();
    if (!*named) return Found::none();
    lastStep = Step{std::string(last), directory, nullptr, std::move((*named)->entry), std::move((*named)->shortName),
                    directory->knowledge};
  }
  std::vector<Step*> steps;
  steps.reserve(trail_.size() + 1);
  for (Step& step : trail_) steps.push_back(&step);
  if (lastStep) steps.push_back(&*lastStep);
  if (const Status failed = workOutAliases(steps)) return *failed;
  const Outcome<const Step*> moved = stepThatMoved(steps);
  if (moved.failed()) return moved.failure();
  if (*moved != nullptr) {
    movedIn = (*moved)->parent;
    return Found::none();
  }

  // Every component but a last one after the final "/" is followed by one.
  std::string shortText;
  shortText.reserve(directoryPart.size() + last.size());
  for (std::size_t at = 0; at < steps.size(); ++at) {
    if (!steps[at]->shortName) return Found::none();  // an entry gone meanwhile
    shortText += *steps[at]->shortName;
    if (at < trail_.size()) shortText += '/';
  }
  return Found::name(std::move(shortText));
}

// The aliases the steps still lack, worked out together for each directory,
// so that its passes serve all of them.
GetVEK::Status Walk::workOutAliases(const std::vector<Step*>& steps) {
  std::map<Place*, std::vector<Step*>> pending;
  for (Step* step : steps) {
    if (step->shortName) continue;
    const Outcome<Place*> parent = known(*step->parent);
    if (parent.failed()) return parent.failure();
    step->parent = *parent;
    pending[*parent].push_back(step);
  }
  for (const auto& [directory, waiting] : pending) {
    Place& place = *directory;
    std::vector<std::string> names;
    for (const Step* step : waiting) names.push_back(step->entry);
    const auto aliases = settled(place, [&] { return place.aliases->aliasesOf(names); }, true);
    if (aliases.failed()) return aliases.failure();
    if (!*aliases) continue;  // the directory cannot be read: no short form
    for (std::size_t at = 0; at < waiting.size(); ++at) {
      waiting[at]->shortName = (**aliases)[at];
      waiting[at]->parentKnowledge = place.knowledge;
    }
  }
  return {};
}

// The directory `directoryPart` names (the text up to and with its last
// "/", or empty for the current directory), walked from where the last walk
// went as far as the two share their components.
Walk::Outcome<Walk::Place*> Walk::walkTo(std::string_view directoryPart) {
  const bool atRoot = !directoryPart.empty() && directoryPart.front() == '/';
  const Outcome<Place*> start = startAt(atRoot);
  if (start.failed() || *start == nullptr) return start;
  // An absolute path's first component is the empty one before its "/": the
  // root itself.
  std::vector<std::string_view> components;
  components.reserve(std::count(directoryPart.begin(), directoryPart.end(), '/'));
  if (!directoryPart.empty())
    WindowsNames::forEachComponent(directoryPart.substr(0, directoryPart.size() - 1), '/',
                                   [&](std::string_view component, bool) {
                                     components.push_back(component);
                                     return true;
                                   });
  std::size_t kept = 0;
  while (kept < trail_.size() && kept < components.size() && trail_[kept].component == components[kept]) ++kept;
  trail_.resize(kept);
  trail_.reserve(components.size());

  for (std::size_t at = trail_.size(); at < components.size(); ++at) {
    const std::string_view component = components[at];
    Place& parent = at == 0 ? **start : *trail_.back().place;
    Step step{std::string(component), &parent, &parent, std::string(component), std::string(component)};
    if (!component.empty()) {
      const Outcome<bool> entered = follow(step);
      if (entered.failed()) return entered.failure();
      if (!*entered) return nullptr;
      step.parentKnowledge = step.parent->knowledge;
    }
    trail_.push_back(std::move(step));
  }
  return components.empty() ? *start : trail_.back().place;
}

// The directory a step's component names in its parent, entered; whether
// there is one. An entry of exactly that name is opened at once: the open is
// its lookup, which leaves the end of the walk a lookup to spare for making
// sure that it still leads there (stepThatMoved). A valid 8.3 name that opens
// stays as typed whatever the disk stores, so nothing else is asked of its
// parent, not even its name source: a path of such names costs one open a
// directory.
Walk::Outcome<bool> Walk::follow(Step& step) {
  const bool asTyped = isShortName(step.component);
  const bool dotEntry = isDotEntry(step.component);
  if (!asTyped && !dotEntry) {
    const Outcome<Place*> parent = known(*step.parent);
    if (parent.failed()) return parent.failure();
    step.parent = *parent;
  }
  int error = 0;
  if (asTyped || (!dotEntry && !step.parent->holdsStoredNames()))
    if (std::optional<Directory> opened = step.parent->directory.openSubdirectory(step.component, error)) {
      if (!asTyped) step.shortName.reset();
      return entered(step, placeFor(std::move(*opened), step.parent, step.component));
    }
  Outcome<std::optional<Named>> named = componentIn(step.parent, step.component);
  if (named.failed()) return named.failure();
  if (!*named) return false;
  step.entry = std::move((*named)->entry);
  step.shortName = std::move((*named)->shortName);
  return entered(step, enter(*step.parent, step.entry));
}

// Whether the step entered a directory, which it then leads to.
Walk::Outcome<bool> Walk::entered(Step& step, const Outcome<Place*>& place) {
  if (place.failed()) return place.failure();
  step.place = *place;
  return step.place != nullptr;
}

Walk::Outcome<Walk::Place*> Walk::startAt(bool atRoot) {
  Place*& start = atRoot ? root_ : current_;
  if (start != nullptr) return start;
  int error = 0;
  std::optional<Directory> opened = Directory::openStart(atRoot, error);
  if (!opened) {
    if (leavesAnswerUnknown(error)) return Failure{std::string("search ") + (atRoot ? "/" : "."), strerror(error)};
    return nullptr;
  }
  const Outcome<Place*> place = placeFor(std::move(*opened), nullptr, atRoot ? "/" : ".");
  if (!place.failed()) start = *place;
  return place;
}

// The subdirectory `entry` of `parent`, symbolic links followed; ".." is
// the parent's parent, whatever the text before it.
Walk::Outcome<Walk::Place*> Walk::enter(Place& parent, const std::string& entry) {
  if (entry == ".") return &parent;
  int error = 0;
  std::optional<Directory> opened = parent.directory.openSubdirectory(entry, error);
  if (!opened) {
    if (leavesAnswerUnknown(error)) return Failure{"search " + Place::shownPath(&parent, entry), strerror(error)};
    return nullptr;
  }
  return placeFor(std::move(*opened), &parent, entry);
}

// A directory just opened: not yet told apart from those met before, which
// costs a system call and is needed only once something is to be known of
// it (known). Past a few dozen, a path is deep or keeps coming back through
// ".."; each is then told apart at once, so that a directory reached again
// holds no second descriptor and a path of 2,000 "a/.." needs but two.
Walk::Outcome<Walk::Place*> Walk::placeFor(Directory directory, const Place* above, std::string name) {
  constexpr std::size_t placesUntold = 32;
  if (opened_.empty()) opened_.reserve(placesUntold);
  opened_.push_back(std::make_unique<Place>(std::move(directory), above, std::move(name)));
  Place& place = *opened_.back();
  if (opened_.size() <= placesUntold) return &place;
  const Outcome<Place*> canonical = known(place);
  if (canonical.failed() || *canonical != &place) opened_.pop_back();
  return canonical;
}

// The same directory reached again is the same place, with all that is known
// of it.
Walk::Outcome<Walk::Place*> Walk::known(Place& place) {
  if (place.canonical == nullptr) {
    const Outcome<Directory::Identity> identity = place.identified();
    if (identity.failed()) return identity.failure();
    place.canonical = places_.try_emplace(*identity, &place).first->second;
    if (place.canonical == &place) place.aliases.emplace(place.directory);
  }
  return place.canonical;
}

// The entry a component names, and the short name that stands for it where
// that costs no pass: a disk's own, or the component or entry itself when it
// is a valid 8.3 name. A long one's alias is worked out later, together
// with the others of its directory (workOutAliases). `place` becomes the one
// that holds what is known of the directory, unless the component stands
// as typed: a dot entry, or a valid 8.3 name of an entry there.
Walk::Outcome<std::optional<Walk::Named>> Walk::componentIn(Place*& place, std::string_view component) {
  const auto asTyped = [&] { return std::optional<Named>(Named{std::string(component), std::string(component)}); };
  if (isDotEntry(component)) return asTyped();
  int error = -1;  // not looked up yet
  if (isShortName(component)) {
    error = place->directory.entryError(component);
    if (error == 0) return asTyped();
  }
  const Outcome<Place*> canonical = known(*place);
  if (canonical.failed()) return canonical.failure();
  place = *canonical;
  if (place->holdsStoredNames()) {
    StoredAnswer<std::optional<StoredEntry>> stored = lookUpStored(place->directory, component);
    if (const auto* fault = std::get_if<StoredNameFault>(&stored)) return place->failure(*fault);
    if (std::optional<std::optional<StoredEntry>>& found = std::get<0>(stored)) {
      if (!*found) return std::optional<Named>();
      return std::optional<Named>(Named{std::move((*found)->name), std::move((*found)->shortName)});
    }
  }
  const Found entry = entryNamed(*place, component, error);
  if (entry.failed()) return entry.failure();
  if (entry.isNone()) return std::optional<Named>();
  std::optional<std::string> shortName;
  if (isShortName(component))
    shortName = component;
  else if (isShortName(entry.name()))
    shortName = entry.name();
  return std::optional<Named>(Named{entry.name(), std::move(shortName)});
}

// The entry a component names: by its exact spelling, else as an alias,
// else without regard to case. Windows asks for the case before the alias;
// the answers are the same, since no name is equal to another entry's alias
// but for case: an alias is ASCII, no unit beyond ASCII upper-cases to ASCII
// in Windows' table, and an ASCII name equal to an alias but for case is a
// valid 8.3 name, which no alias may equal. The alias goes first because it
// costs no pass over the directory when the component cannot be one.
// `error` is what the lookup of its exact spelling gave, negative when it was
// not made yet.
Found Walk::entryNamed(Place& place, std::string_view component, int error) {
  if (const auto known = place.entries.find(component); known != place.entries.end())
    return Found::nameOrNone(known->second);
  if (error < 0) error = place.directory.entryError(component);
  if (leavesAnswerUnknown(error)) return Failure{"search " + place.shown(), strerror(error)};
  // Asking again costs one lookup, less than keeping the answer.
  if (error == 0) return Found::name(std::string(component));
  Found entry = settled(place, [&] {
    place.interest.addComponent(component);
    std::optional<std::string> name = place.aliases->entryWithAlias(component);
    return Found::nameOrNone(name ? name : firstEqualWithoutCase(place.directory, component));
  });
  if (entry.failed()) return entry;
  place.entries.emplace(component, entry.nameIfAny());
  return entry;
}

// `compute` asked of the place until no change that concerns its answer
// came while it was worked out. It notes what it asks in the place's
// interest; the aliases it worked out are noted here. Where the end of the
// walk checks the answer anyway (`checkedAtTheEnd`: the aliases a short form
// takes), an unwatched place's times are compared there only, once.
template <class Compute>
auto Walk::settled(Place& place, Compute compute, bool checkedAtTheEnd) -> Settled<decltype(compute())> {
  if (!place.watched && !place.stamp) {
    place.stamp = place.directory.changeStamp();
    if (!place.stamp || place.stamp->recent()) startWatching(place);
  }
  place.passed = true;
  for (int pass = 1;; ++pass) {
    place.directory.clearError();
    auto answer = compute();
    if (const int error = place.directory.lastError(); leavesAnswerUnknown(error))
      return Failure{"search " + place.shown(), strerror(error)};
    place.noteAliasesWorkedOut();
    if ((checkedAtTheEnd && !place.watched) || !changedUnder(place)) return answer;
    if (pass == maxPasses) return Failure{"search " + place.shown(), "it kept changing while it was read"};
  }
}

// An inotify watch costs its run the time the kernel takes to free it when
// the run ends (a grace period of its read-copy-update, milliseconds), so a
// directory that has not changed for a while is only looked at before and
// after its passes; the watch is started where it was changed lately, or
// once it changes under a pass. Where no watch can be had the place stays
// unwatched, and its times are compared around each pass instead: a place
// counted as watched with no watch behind it would never be seen to change.
void Walk::startWatching(Place& place) {
  if (place.watched) return;
  const int watch = changes_.watch(place.directory.descriptor());
  if (watch < 0) return;
  place.watched = true;
  watched_[watch] = &place;
}

// A place seen to change forgets all it knew and is watched from then on;
// the times it changed at stand for the next comparison, should no watch be
// had.
void Walk::renew(Place& place, std::optional<Directory::ChangeStamp> stamp) {
  place.forget();
  place.stamp = std::move(stamp);
  startWatching(place);
}

// Whether `place` changed since it was last looked at, in a way that
// concerns its answers, which it then forgets.
bool Walk::changedUnder(Place& place) {
  if (!place.watched) {
    std::optional<Directory::ChangeStamp> now = place.directory.changeStamp();
    if (now == place.stamp) return false;
    // Which names changed is not known: the place forgets all it knew.
    renew(place, std::move(now));
    return true;
  }
  // A rename is seen by lookups a moment before its events are queued;
  // waiting for one under way to end lets them all be weighed.
  (void)place.directory.changeStamp();
  const unsigned knew = place.knowledge;
  forgetConcerned();
  return place.knowledge != knew;
}

// Every change seen so far is weighed against what each place's answers
// rest on; the places it concerns forget them.
void Walk::forgetConcerned() {
  changes_.forEachChange([&](int watch, std::string_view name) {
    // Lost events were the watched places' own: the others are compared by
    // their times, and the steps through them by their entries' identity.
    if (watch == ChangeWatch::everyDirectory) {
      for (const auto& [each, place] : watched_) place->changed = true;
      return;
    }
    // A place known to have changed needs no more weighing.
    if (const auto found = watched_.find(watch);
        found != watched_.end() && !found->second->changed && found->second->interest.concerns(name))
      found->second->changed = true;
  });
  // Only watched places are marked.
  for (const auto& [watch, place] : watched_)
    if (std::exchange(place->changed, false)) place->forget();
}

// An answer rests on every step at once: each component's entry, as the
// walk looked it up, must still be the directory it entered, and what its
// parent answered must still stand, when the answer is given. A directory
// exchanged for another after it was entered would otherwise lend its
// contents to an alias worked out in its parent as it is now. The first step
// that no longer holds (nothing when all do), its parent made to forget what
// it knew. Past the last directory that an answer took more from than the
// open of a name typed as it stands, every step is such a name: where it led
// decides only that the rest of the path was there, which its own opens
// found, so those steps are not looked up again.
Walk::Outcome<const Walk::Step*> Walk::stepThatMoved(const std::vector<Step*>& steps) {
  std::size_t resting = 0;
  for (std::size_t at = 0; at < steps.size(); ++at)
    if (steps[at]->parent->answerRestsOnIt()) resting = at + 1;
  // The lookups first, the times after: a rename moves the times before
  // lookups see it, so that one seen here shows in them.
  for (std::size_t at = 0; at < resting; ++at) {
    const Step* step = steps[at];
    // The root, "." and the last component lead nowhere else.
    if (step->place == nullptr || step->entry.empty() || step->entry == ".") continue;
    const Outcome<Directory::Identity> entered = step->place->identified();
    if (entered.failed()) return entered.failure();
    int error = 0;
    const std::optional<Directory::Identity> now = step->parent->directory.identityOf(step->entry, error);
    if (!now && leavesAnswerUnknown(error))
      return Failure{"search " + Place::shownPath(step->parent, step->entry), strerror(error)};
    if (now != *entered) renew(*step->parent, step->parent->directory.changeStamp());
  }
  std::vector<Place*> compared;
  for (const Step* step : steps) {
    Place& parent = *step->parent;
    if (!parent.passed || std::find(compared.begin(), compared.end(), &parent) != compared.end()) continue;
    compared.push_back(&parent);
    (void)changedUnder(parent);
  }
  for (const Step* step : steps)
    if (step->parent->knowledge != step->parentKnowledge) return step;
  return nullptr;
}

}  // namespace Platform::Linux

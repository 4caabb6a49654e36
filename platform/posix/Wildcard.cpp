#include "platform/posix/Wildcard.h"

#include <cstddef>

#include "platform/posix/ShortName.h"

namespace platform::posix {
namespace {

using Kind = WildcardToken::Kind;

Kind kindAt(std::string_view pattern, std::size_t at) {
  const char next = at + 1 < pattern.size() ? pattern[at + 1] : '\0';
  switch (pattern[at]) {
    case '?':
      return Kind::DosQm;
    case '*':
      return next == '.' ? Kind::DosStar : Kind::Star;
    case '.':
      return next == '?' || next == '*' ? Kind::DosDot : Kind::Literal;
    default:
      return Kind::Literal;
  }
}

// Two stars in a row match what one does; folding them keeps long runs of
// them from costing time.
void append(WildcardPattern& pattern, WildcardToken token) {
  const bool star = token.kind == Kind::Star || token.kind == Kind::DosStar;
  if (star && !pattern.empty() && pattern.back().kind == token.kind) return;
  pattern.push_back(token);
}

// Whether the token may be passed over without consuming the name's
// character at `at` (or the name's end).
bool skipsAt(const WildcardToken& token, std::string_view name, std::size_t at) {
  const bool atEnd = at == name.size();
  switch (token.kind) {
    case Kind::Star:
    case Kind::DosStar:
      return true;
    case Kind::DosQm:
      return atEnd || name[at] == '.';
    case Kind::DosDot:
      return atEnd;
    case Kind::Literal:
      return false;
  }
  return false;
}

enum class Step { Fails, Stays, Advances };

// What the token does with the name's character at `at`: a star swallows it
// and stays, every other token takes it and moves on, or the match fails.
Step stepAt(const WildcardToken& token, std::string_view name, std::size_t at, std::size_t lastDot) {
  const char c = name[at];
  switch (token.kind) {
    case Kind::Star:
      return Step::Stays;
    case Kind::DosStar:
      return lastDot == std::string_view::npos || at < lastDot ? Step::Stays : Step::Fails;
    case Kind::DosQm:
      return c != '.' ? Step::Advances : Step::Fails;
    case Kind::DosDot:
      return c == '.' ? Step::Advances : Step::Fails;
    case Kind::Literal:
      return asciiUpper(c) == asciiUpper(token.literal) ? Step::Advances : Step::Fails;
  }
  return Step::Fails;
}

}  // namespace

WildcardPattern translateWildcards(std::string_view pattern) {
  WildcardPattern translated;
  if (pattern == "*.*") {
    translated.push_back({Kind::Star, '*'});
    return translated;
  }
  const bool trailingDot = !pattern.empty() && pattern.back() == '.';
  if (trailingDot) pattern.remove_suffix(1);
  for (std::size_t at = 0; at < pattern.size(); ++at) {
    // The dropped dot still makes a star before it a DOS star.
    Kind kind = kindAt(pattern, at);
    if (trailingDot && at + 1 == pattern.size() && kind == Kind::Star) kind = Kind::DosStar;
    append(translated, {kind, pattern[at]});
  }
  return translated;
}

// A set of pattern positions advanced over the name one character at a time,
// so that no pattern costs more than its length times the name's.
bool matchesWildcards(const WildcardPattern& pattern, std::string_view name) {
  const std::size_t states = pattern.size() + 1;
  std::vector<bool> active(states, false);
  std::vector<bool> next(states, false);
  const std::size_t lastDot = name.rfind('.');

  const auto closeOver = [&](std::vector<bool>& set, std::size_t at) {
    for (std::size_t state = 0; state + 1 < states; ++state)
      if (set[state] && skipsAt(pattern[state], name, at)) set[state + 1] = true;
  };

  active[0] = true;
  closeOver(active, 0);
  for (std::size_t at = 0; at < name.size(); ++at) {
    next.assign(states, false);
    bool any = false;
    for (std::size_t state = 0; state + 1 < states; ++state) {
      if (!active[state]) continue;
      const Step step = stepAt(pattern[state], name, at, lastDot);
      if (step == Step::Fails) continue;
      next[step == Step::Advances ? state + 1 : state] = true;
      any = true;
    }
    if (!any) return false;
    active.swap(next);
    closeOver(active, at + 1);
  }
  return active[states - 1];
}

}  // namespace platform::posix

#include "windowsnames/Wildcard.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <string>

#include "windowsnames/CodeUnits.h"
#include "windowsnames/ShortName.h"

namespace WindowsNames {
namespace {

using Kind = WildcardToken::Kind;

Kind kindAt(std::u16string_view pattern, std::size_t at) {
  const char16_t next = at + 1 < pattern.size() ? pattern[at + 1] : u'\0';
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

// One position of a name: a code unit (upper-cased), or a range standing for
// any character of a name's part there, such as any digit of an alias
// number. A range never stands for the dot between the parts.
struct Symbol {
  char16_t low;
  char16_t high;

  bool is(char16_t c) const { return low == c && high == c; }
  bool holds(char16_t c) const { return c >= low && c <= high && (c != u'.' || low == high); }
};

// Whether the token may be passed over without consuming the symbol at `at`
// (or the name's end, at `length`).
bool skipsAt(const WildcardToken& token, bool atEnd, bool atDot) {
  switch (token.kind) {
    case Kind::Star:
    case Kind::DosStar:
      return true;
    case Kind::DosQm:
      return atEnd || atDot;
    case Kind::DosDot:
      return atEnd;
    case Kind::Literal:
      return false;
  }
  return false;
}

enum class Step { Fails, Stays, Advances };

// What the token does with the symbol at `at`: a star swallows it and stays,
// every other token takes it and moves on, or the match fails. A DOS star
// swallows the name's last dot only as the last it takes.
Step stepAt(const WildcardToken& token, Symbol symbol, bool atLastDot) {
  switch (token.kind) {
    case Kind::Star:
      return Step::Stays;
    case Kind::DosStar:
      return atLastDot ? Step::Advances : Step::Stays;
    case Kind::DosQm:
      return !symbol.is('.') ? Step::Advances : Step::Fails;
    case Kind::DosDot:
      return symbol.is('.') ? Step::Advances : Step::Fails;
    case Kind::Literal:
      return symbol.holds(token.literal) ? Step::Advances : Step::Fails;
  }
  return Step::Fails;
}

// The literals of the pattern, checked before the sets of positions are run:
// those at either end must meet the name's ends, and each literal between
// takes one symbol, in order. Most names fail here, in one look at each
// symbol ("*~*" turns down every name without a "~").
template <class SymbolAt>
bool literalsMayMatch(const WildcardPattern& pattern, std::size_t length, SymbolAt symbolAt) {
  const auto literalAt = [&](std::size_t state, std::size_t at) {
    return stepAt(pattern[state], symbolAt(at), false) == Step::Advances;
  };
  std::size_t leading = 0;
  while (leading < pattern.size() && pattern[leading].kind == Kind::Literal) {
    if (leading >= length || !literalAt(leading, leading)) return false;
    ++leading;
  }
  for (std::size_t trailing = 1; trailing <= pattern.size() - leading; ++trailing) {
    const std::size_t state = pattern.size() - trailing;
    if (pattern[state].kind != Kind::Literal) break;
    if (trailing > length || !literalAt(state, length - trailing)) return false;
  }
  for (std::size_t state = leading, at = leading; state < pattern.size(); ++state) {
    if (pattern[state].kind != Kind::Literal) continue;
    while (at < length && !symbolAt(at).holds(pattern[state].literal)) ++at;
    if (at++ == length) return false;
  }
  return true;
}

// A set of pattern positions advanced over the name one symbol at a time,
// so that no pattern costs more than its length times the name's. Names are
// short: the sets live on the stack unless the pattern is long.
template <class SymbolAt>
bool matchSymbols(const WildcardPattern& pattern, std::size_t length, SymbolAt symbolAt) {
  if (!literalsMayMatch(pattern, length, symbolAt)) return false;

  std::size_t lastDot = length;
  for (std::size_t at = 0; at < length; ++at)
    if (symbolAt(at).is('.')) lastDot = at;

  const std::size_t states = pattern.size() + 1;
  constexpr std::size_t inlineStates = 128;
  std::array<unsigned char, 2 * inlineStates> inlineSets;
  std::vector<unsigned char> largeSets;
  unsigned char* active = inlineSets.data();
  if (states > inlineStates) {
    largeSets.resize(2 * states);
    active = largeSets.data();
  }
  unsigned char* next = active + states;

  const auto closeOver = [&](unsigned char* set, std::size_t at) {
    const bool atEnd = at == length;
    const bool atDot = !atEnd && symbolAt(at).is('.');
    for (std::size_t state = 0; state + 1 < states; ++state)
      if (set[state] != 0 && skipsAt(pattern[state], atEnd, atDot)) set[state + 1] = 1;
  };

  std::fill(active, active + states, 0);
  active[0] = 1;
  closeOver(active, 0);
  for (std::size_t at = 0; at < length; ++at) {
    const Symbol symbol = symbolAt(at);
    std::fill(next, next + states, 0);
    bool any = false;
    for (std::size_t state = 0; state + 1 < states; ++state) {
      if (active[state] == 0) continue;
      const Step step = stepAt(pattern[state], symbol, at == lastDot);
      if (step == Step::Fails) continue;
      next[step == Step::Advances ? state + 1 : state] = 1;
      any = true;
    }
    if (!any) return false;
    std::swap(active, next);
    closeOver(active, at + 1);
  }
  return active[states - 1] != 0;
}

}  // namespace

WildcardPattern translateWildcards(std::string_view pattern) {
  std::u16string units;
  forEachCodeUnit(pattern, [&](char16_t unit) { units += unit; });
  // Windows drops the dots and spaces that end the last component of a path;
  // when the text it was given ends in a dot, a star before them is still a
  // DOS star ("* ." is "*.", while "*. " is "*").
  const bool endsInDot = !units.empty() && units.back() == u'.';
  while (!units.empty() && (units.back() == u'.' || units.back() == u' ')) units.pop_back();
  WildcardPattern translated;
  if (units == u"*.*") {
    translated.push_back({Kind::Star, u'*'});
    return translated;
  }
  for (std::size_t at = 0; at < units.size(); ++at) {
    Kind kind = kindAt(units, at);
    if (endsInDot && at + 1 == units.size() && kind == Kind::Star) kind = Kind::DosStar;
    append(translated, {kind, upperCase(units[at])});
  }
  return translated;
}

bool matchesWildcards(const WildcardPattern& pattern, std::string_view name) {
  if (isAscii(name)) {
    return matchSymbols(pattern, name.size(), [&](std::size_t at) {
      const auto c = static_cast<unsigned char>(asciiUpper(name[at]));
      return Symbol{c, c};
    });
  }
  const UpperCodeUnits units(name);
  return matchSymbols(pattern, units.size(), [&](std::size_t at) { return Symbol{units[at], units[at]}; });
}

bool matchesNumberedAliases(const WildcardPattern& pattern, std::string_view prefix, std::size_t digits,
                            char firstDigitLow, char firstDigitHigh, std::string_view extension) {
  const std::size_t tilde = prefix.size();
  const std::size_t length = tilde + 1 + digits + (extension.empty() ? 0 : 1 + extension.size());
  // Aliases are ASCII: a byte is a code unit.
  return matchSymbols(pattern, length, [&](std::size_t at) {
    char16_t c = u'.';
    if (at < tilde)
      c = static_cast<unsigned char>(asciiUpper(prefix[at]));
    else if (at == tilde)
      c = u'~';
    else if (at == tilde + 1)
      return Symbol{static_cast<char16_t>(firstDigitLow), static_cast<char16_t>(firstDigitHigh)};
    else if (at <= tilde + digits)
      return Symbol{u'0', u'9'};
    else if (at > tilde + digits + 1)
      c = static_cast<unsigned char>(asciiUpper(extension[at - tilde - digits - 2]));
    return Symbol{c, c};
  });
}

namespace {

// Whether the pattern could match some alias whose number has `fewestDigits`
// digits or more, up to `highestNumber`, whatever its prefix, and with
// `extension` when it is given, else with any.
bool mayMatchNumberedAlias(const WildcardPattern& pattern, std::size_t fewestDigits, std::size_t highestNumber,
                           std::optional<std::string_view> extension) {
  // Any character an alias may hold outside its "~", digits and ".".
  constexpr Symbol anyCharacter{u'!', u'~'};
  const std::size_t fewestExtension = extension ? extension->size() : 0;
  const std::size_t mostExtension = extension ? extension->size() : 3;
  std::size_t smallest = 1;
  for (std::size_t digits = 1; digits < fewestDigits; ++digits) smallest *= 10;
  for (std::size_t digits = fewestDigits; digits <= 7 && smallest <= highestNumber; ++digits, smallest *= 10) {
    for (std::size_t prefix = 0; prefix + 1 + digits <= 8; ++prefix) {
      for (std::size_t extensionLength = fewestExtension; extensionLength <= mostExtension; ++extensionLength) {
        const std::size_t tilde = prefix;
        const std::size_t dot = tilde + 1 + digits;
        const std::size_t length = dot + (extensionLength == 0 ? 0 : 1 + extensionLength);
        const bool matches = matchSymbols(pattern, length, [&](std::size_t at) {
          if (at > dot && extension) {
            const auto c = static_cast<char16_t>(static_cast<unsigned char>(asciiUpper((*extension)[at - dot - 1])));
            return Symbol{c, c};
          }
          if (at < tilde || at > dot) return anyCharacter;
          if (at == tilde) return Symbol{u'~', u'~'};
          if (at == tilde + 1) return Symbol{u'1', u'9'};
          if (at < dot) return Symbol{u'0', u'9'};
          return Symbol{u'.', u'.'};
        });
        if (matches) return true;
      }
    }
  }
  return false;
}

}  // namespace

bool mayMatchAliasFromTen(const WildcardPattern& pattern, std::size_t highestNumber,
                          std::optional<std::string_view> extension) {
  return mayMatchNumberedAlias(pattern, 2, highestNumber, extension);
}

bool mayMatchAlias(const WildcardPattern& pattern, std::size_t highestNumber) {
  return mayMatchNumberedAlias(pattern, 1, highestNumber, std::nullopt);
}

bool mayMatchShortName(const WildcardPattern& pattern) {
  // Short names on FAT may hold more than the 8.3 set (a space, an OEM
  // letter): any code unit is let through.
  constexpr Symbol anyCharacter{u' ', u'\xFFFF'};
  constexpr std::size_t maxBase = 8;
  constexpr std::size_t maxExtension = 3;
  for (std::size_t base = 1; base <= maxBase; ++base) {
    for (std::size_t extension = 0; extension <= maxExtension; ++extension) {
      const std::size_t length = base + (extension == 0 ? 0 : 1 + extension);
      if (matchSymbols(pattern, length, [&](std::size_t at) { return at == base ? Symbol{u'.', u'.'} : anyCharacter; }))
        return true;
    }
  }
  return false;
}

}  // namespace WindowsNames

// The wildcard translation and matching against a plain reference written
// here from the rules, one recursive step per rule, over the names' upper-
// cased code units: they must always agree.
// Input: pattern, a NUL byte, name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "windowsnames/CodeUnits.h"
#include "windowsnames/Wildcard.h"

namespace {

enum class Rule { Literal, Star, DosStar, DosQm, DosDot };

struct Token {
  Rule rule;
  char16_t c;
};

std::u16string upperUnits(std::string_view text) {
  std::u16string units;
  for (WindowsNames::CodeUnitReader reader(text); !reader.done();) units += WindowsNames::upperCase(reader.next());
  return units;
}

std::vector<Token> translate(std::string_view text) {
  std::u16string pattern = upperUnits(text);
  const bool endsInDot = !pattern.empty() && pattern.back() == u'.';
  while (!pattern.empty() && (pattern.back() == u'.' || pattern.back() == u' ')) pattern.pop_back();
  if (pattern == u"*.*") return {{Rule::Star, u'*'}};
  std::vector<Token> tokens;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char16_t c = pattern[i];
    const char16_t next = i + 1 < pattern.size() ? pattern[i + 1] : u'\0';
    if (c == '?')
      tokens.push_back({Rule::DosQm, c});
    else if (c == '.' && (next == '?' || next == '*'))
      tokens.push_back({Rule::DosDot, c});
    else if (c == '*' && next == '.')
      tokens.push_back({Rule::DosStar, c});
    else if (c == '*')
      tokens.push_back({Rule::Star, c});
    else
      tokens.push_back({Rule::Literal, c});
  }
  if (endsInDot && !tokens.empty() && tokens.back().rule == Rule::Star) tokens.back().rule = Rule::DosStar;
  return tokens;
}

struct Reference {
  const std::vector<Token>& tokens;
  std::u16string_view name;
  std::size_t lastDot;
  std::map<std::pair<std::size_t, std::size_t>, bool> known;

  bool match(std::size_t p, std::size_t n) {
    if (p == tokens.size()) return n == name.size();
    const auto key = std::make_pair(p, n);
    if (const auto found = known.find(key); found != known.end()) return found->second;
    const bool atEnd = n == name.size();
    bool result = false;
    switch (tokens[p].rule) {
      case Rule::Literal:
        result = !atEnd && name[n] == tokens[p].c && match(p + 1, n + 1);
        break;
      case Rule::Star:
        result = match(p + 1, n) || (!atEnd && match(p, n + 1));
        break;
      case Rule::DosStar:  // the last dot only as the last it takes
        result = match(p + 1, n) || (!atEnd && match(n == lastDot ? p + 1 : p, n + 1));
        break;
      case Rule::DosQm:
        result = atEnd || name[n] == '.' ? match(p + 1, n) : match(p + 1, n + 1);
        break;
      case Rule::DosDot:
        result = atEnd ? match(p + 1, n) : name[n] == '.' && match(p + 1, n + 1);
        break;
    }
    known[key] = result;
    return result;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto split = input.find('\0');
  if (split == std::string_view::npos || split > 64 || size - split > 300) return 0;
  const std::string_view pattern = input.substr(0, split);
  const std::string_view name = input.substr(split + 1);

  const std::vector<Token> tokens = translate(pattern);
  const std::u16string units = upperUnits(name);
  Reference reference{tokens, units, units.rfind(u'.'), {}};
  const bool expected = reference.match(0, 0);
  const bool actual = WindowsNames::matchesWildcards(WindowsNames::translateWildcards(pattern), name);
  if (expected != actual) std::abort();
  return 0;
}

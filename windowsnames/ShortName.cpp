#include "windowsnames/ShortName.h"

#include <array>
#include <cstddef>

#include "windowsnames/Fnv1a.h"

namespace WindowsNames {
namespace {

constexpr std::size_t maxBase = 8;
constexpr std::size_t maxExtension = 3;
constexpr std::size_t aliasBase = 6;

// Every name of a large directory goes through these: a table keeps it cheap.
constexpr std::array<bool, 256> shortNameCharacters = [] {
  std::array<bool, 256> table{};
  for (int c = 'A'; c <= 'Z'; ++c)
    table[static_cast<std::size_t>(c)] = table[static_cast<std::size_t>(c - 'A' + 'a')] = true;
  for (int c = '0'; c <= '9'; ++c) table[static_cast<std::size_t>(c)] = true;
  for (const char c : std::string_view("$%'`-@{}~!#()&_^")) table[static_cast<unsigned char>(c)] = true;
  return table;
}();

bool isShortNameCharacter(char c) { return shortNameCharacters[static_cast<unsigned char>(c)]; }

// The length of the well-formed UTF-8 sequence at the start of `text`, or 0.
std::size_t utf8SequenceLength(std::string_view text) {
  const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t at = 2; at < length; ++at)
    if (byte(at) < 0x80 || byte(at) > 0xBF) return 0;
  return length;
}

// Upper-cased, with spaces (and, for the base, periods) dropped and every
// character outside the 8.3 set, a whole UTF-8 sequence or a stray byte,
// turned into "_"; at most `limit` characters.
std::string aliasCharacters(std::string_view text, bool dropPeriods, std::size_t limit) {
  char out[maxBase];
  std::size_t length = 0;
  for (std::size_t at = 0; at < text.size() && length < limit;) {
    const char c = text[at];
    if (c == ' ' || (dropPeriods && c == '.')) {
      ++at;
    } else if (static_cast<unsigned char>(c) < 0x80) {
      out[length++] = isShortNameCharacter(c) ? asciiUpper(c) : '_';
      ++at;
    } else {
      const std::size_t sequence = utf8SequenceLength(text.substr(at));
      out[length++] = '_';
      at += sequence == 0 ? 1 : sequence;
    }
  }
  return std::string(out, length);
}

bool allShortNameCharacters(std::string_view text) {
  for (const char c : text)
    if (!isShortNameCharacter(c)) return false;
  return true;
}

}  // namespace

std::string asciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = asciiUpper(c);
  return out;
}

bool isShortName(std::string_view name) {
  const auto dot = name.find('.');
  const std::string_view base = name.substr(0, dot);
  const std::string_view extension = dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
  if (base.empty() || base.size() > maxBase || extension.size() > maxExtension) return false;
  if (dot != std::string_view::npos && extension.empty()) return false;
  return allShortNameCharacters(base) && allShortNameCharacters(extension);
}

AliasBasis aliasBasis(std::string_view longName) {
  const auto first = longName.find_first_not_of('.');
  const std::string_view name = first == std::string_view::npos ? std::string_view() : longName.substr(first);
  const auto lastDot = name.rfind('.');
  AliasBasis basis;
  basis.base = aliasCharacters(name.substr(0, lastDot), true, aliasBase);
  if (lastDot != std::string_view::npos)
    basis.extension = aliasCharacters(name.substr(lastDot + 1), false, maxExtension);
  if (basis.base.empty()) basis.base.push_back('_');
  return basis;
}

std::uint16_t aliasChecksum(std::string_view longName) {
  const std::uint32_t hash = fnv1a(longName);
  return static_cast<std::uint16_t>((hash >> 16) ^ (hash & 0xFFFFu));
}

std::string checksumPrefix(const AliasBasis& basis, std::uint16_t checksum) {
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string prefix = basis.base.substr(0, 2);
  for (int shift = 12; shift >= 0; shift -= 4) prefix += hex[(checksum >> shift) & 0xF];
  return prefix;
}

std::string AliasParts::text() const {
  std::string out = prefix;
  out += '~';
  out += std::to_string(number);
  if (!extension.empty()) {
    out += '.';
    out += extension;
  }
  return out;
}

std::size_t aliasPrefixLength(unsigned number) {
  const std::size_t digits = std::to_string(number).size();
  return maxBase > digits + 1 ? maxBase - digits - 1 : 0;
}

AliasParts numberedAlias(std::string_view prefix, unsigned number, std::string_view extension) {
  return {std::string(prefix.substr(0, aliasPrefixLength(number))), number, std::string(extension)};
}

std::optional<AliasParts> parseAlias(std::string_view text) {
  if (!isShortName(text)) return std::nullopt;
  const std::string upper = asciiUpper(text);
  const auto dot = upper.find('.');
  const std::string stem = upper.substr(0, dot);
  const auto tilde = stem.rfind('~');
  if (tilde == std::string::npos || tilde == 0) return std::nullopt;
  const std::string digits = stem.substr(tilde + 1);
  if (digits.empty() || digits[0] == '0' || digits.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  return AliasParts{stem.substr(0, tilde), static_cast<unsigned>(std::stoul(digits)),
                    dot == std::string::npos ? std::string() : upper.substr(dot + 1)};
}

}  // namespace WindowsNames

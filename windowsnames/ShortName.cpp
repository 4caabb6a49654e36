#include "windowsnames/ShortName.h"

#include <array>
#include <cstddef>

#include "windowsnames/CodeUnits.h"

namespace WindowsNames {
namespace {

constexpr std::size_t maxBase = 8;
constexpr std::size_t maxExtension = 3;
constexpr std::size_t aliasBase = 6;

constexpr unsigned char del = 0x7F;

// Every name of a large directory goes through these: a table keeps it cheap.
constexpr std::array<bool, 256> shortNameCharacters = [] {
  std::array<bool, 256> table{};
  for (int c = 'A'; c <= 'Z'; ++c)
    table[static_cast<std::size_t>(c)] = table[static_cast<std::size_t>(c - 'A' + 'a')] = true;
  for (int c = '0'; c <= '9'; ++c) table[static_cast<std::size_t>(c)] = true;
  for (const char c : std::string_view("$%'`-@{}~!#()&_^")) table[static_cast<unsigned char>(c)] = true;
  table[del] = true;  // legal in a FAT name, by FsRtl's table of legal characters
  return table;
}();

bool isShortNameCharacter(char c) { return shortNameCharacters[static_cast<unsigned char>(c)]; }

// Upper-cased, with spaces (and, for the base, periods) dropped, and DEL and
// every byte outside ASCII dropped too: Windows takes no character above
// "~" into an alias, as it keeps no extended characters in one. Any other
// character outside the 8.3 set becomes "_". At most `limit` characters.
std::string aliasCharacters(std::string_view text, bool dropPeriods, std::size_t limit) {
  char out[maxBase];
  std::size_t length = 0;
  for (std::size_t at = 0; at < text.size() && length < limit; ++at) {
    const char c = text[at];
    if (c == ' ' || (dropPeriods && c == '.') || static_cast<unsigned char>(c) >= del) continue;
    out[length++] = isShortNameCharacter(c) ? asciiUpper(c) : '_';
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

namespace {

// A long name as its alias is made from it: leading periods skipped, the
// base up to the last period, the extension after it.
struct AliasSources {
  std::string_view base;
  std::optional<std::string_view> extension;
};

AliasSources aliasSources(std::string_view longName) {
  const auto first = longName.find_first_not_of('.');
  const std::string_view name = first == std::string_view::npos ? std::string_view() : longName.substr(first);
  const auto lastDot = name.rfind('.');
  if (lastDot == std::string_view::npos) return {name, std::nullopt};
  return {name.substr(0, lastDot), name.substr(lastDot + 1)};
}

}  // namespace

AliasBasis aliasBasis(std::string_view longName) {
  const AliasSources sources = aliasSources(longName);
  AliasBasis basis;
  basis.base = aliasCharacters(sources.base, true, aliasBase);
  if (sources.extension) basis.extension = aliasCharacters(*sources.extension, false, maxExtension);
  return basis;
}

std::string aliasBaseHead(std::string_view longName) { return aliasCharacters(aliasSources(longName).base, true, 2); }

bool takesBasisNumbers(const AliasBasis& basis) { return basis.base.size() > 2; }

std::uint16_t aliasChecksum(std::string_view longName) {
  std::uint16_t sum = 0;
  forEachCodeUnit(longName, [&](char16_t unit) { sum = static_cast<std::uint16_t>(sum * 37 + unit); });
  // Spread: the product's magnitude as a signed 32-bit number, modulo the
  // prime 1,000,000,007, of which the low 16 bits are kept...
  const auto product = static_cast<std::int32_t>(sum * 314159269u);
  const std::uint32_t magnitude =
      static_cast<std::uint32_t>(product < 0 ? -static_cast<std::int64_t>(product) : product);
  const auto spread = static_cast<std::uint16_t>(magnitude % 1000000007u);
  // ...and their four hex digits written in the reverse order.
  return static_cast<std::uint16_t>((spread & 0xF) << 12 | (spread & 0xF0) << 4 | (spread & 0xF00) >> 4 |
                                    (spread & 0xF000) >> 12);
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

std::optional<std::uint16_t> checksumInPrefix(std::string_view prefix) {
  if (prefix.size() < 4 || prefix.size() > 6) return std::nullopt;
  std::uint16_t value = 0;
  for (const char c : prefix.substr(prefix.size() - 4)) {
    const bool digit = c >= '0' && c <= '9';
    if (!digit && !(c >= 'A' && c <= 'F')) return std::nullopt;
    value = static_cast<std::uint16_t>(value * 16 + (digit ? c - '0' : c - 'A' + 10));
  }
  return value;
}

}  // namespace WindowsNames

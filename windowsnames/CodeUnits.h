// Names as NTFS holds and compares them: UTF-16 code units, compared through
// an upper-case table. A Linux name is bytes, read here as UTF-8; the one
// reading below serves matching, ordering, lookups and the alias checksum.
#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

namespace WindowsNames {

inline bool isAscii(std::string_view text) {
  std::size_t at = 0;
  for (; at + 8 <= text.size(); at += 8) {
    std::uint64_t eight;
    std::memcpy(&eight, text.data() + at, sizeof eight);
    if ((eight & 0x8080808080808080ull) != 0) return false;
  }
  for (; at < text.size(); ++at)
    if ((static_cast<unsigned char>(text[at]) & 0x80) != 0) return false;
  return true;
}

// The length of the well-formed UTF-8 sequence that `text` starts with, or 0
// (overlong forms, surrogates and code points beyond U+10FFFF are not).
std::size_t utf8SequenceLength(std::string_view text);

// UTF-8 read as the code units Windows would hold for the same name: a
// character beyond the Basic Multilingual Plane is two (a surrogate pair),
// as on Windows. A byte that is not part of well-formed UTF-8 is one unit,
// 0xDC00 plus the byte: a low surrogate standing alone, which no well-formed
// text gives, so that two different names never read alike.
class CodeUnitReader {
 public:
  explicit CodeUnitReader(std::string_view text) : text_(text) {}

  bool done() const { return pending_ == 0 && at_ == text_.size(); }

  char16_t next() {
    if (pending_ != 0) return std::exchange(pending_, 0);
    const auto lead = static_cast<unsigned char>(text_[at_]);
    if (lead < 0x80) {
      ++at_;
      return lead;
    }
    return nextBeyondAscii();
  }

 private:
  char16_t nextBeyondAscii();

  std::string_view text_;
  std::size_t at_ = 0;
  char16_t pending_ = 0;  // the second half of a surrogate pair
};

// The same for text known to be ASCII, where a byte is a unit: most names
// are, and this costs far less.
class AsciiReader {
 public:
  explicit AsciiReader(std::string_view text) : text_(text) {}

  bool done() const { return at_ == text_.size(); }
  char16_t next() { return static_cast<unsigned char>(text_[at_++]); }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
};

template <class Reader>
concept CodeUnitSource = requires(Reader reader, const Reader constReader) {
  { constReader.done() } -> std::same_as<bool>;
  { reader.next() } -> std::same_as<char16_t>;
};

// Calls `visit` with each code unit of `text`, byte by byte where it is
// ASCII.
template <class Visit>
void forEachCodeUnit(std::string_view text, Visit&& visit) {
  if (isAscii(text)) {
    for (const char c : text) visit(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return;
  }
  for (CodeUnitReader reader(text); !reader.done();) visit(reader.next());
}

char16_t upperCaseBeyondAscii(char16_t unit);  // Microsoft's table, generated

// The unit NTFS compares in place of `unit`: its upper case in Windows' table.
inline char16_t upperCase(char16_t unit) {
  if (unit >= 0x80) return upperCaseBeyondAscii(unit);
  return unit >= 'a' && unit <= 'z' ? static_cast<char16_t>(unit - 'a' + 'A') : unit;
}

// A name's upper-cased code units, on the stack unless the name is long.
class UpperCodeUnits {
 public:
  explicit UpperCodeUnits(std::string_view text);
  UpperCodeUnits(const UpperCodeUnits&) = delete;
  UpperCodeUnits& operator=(const UpperCodeUnits&) = delete;

  std::size_t size() const { return size_; }
  char16_t operator[](std::size_t at) const { return units_[at]; }

 private:
  std::array<char16_t, 256> inline_;
  std::vector<char16_t> large_;
  char16_t* units_ = inline_.data();
  std::size_t size_ = 0;
};

// Whether NTFS takes the two names for the same name.
bool equalWithoutCase(std::string_view name, std::string_view other);

}  // namespace WindowsNames

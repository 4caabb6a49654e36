#include "windowsnames/CodeUnits.h"

namespace WindowsNames {

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

char16_t CodeUnitReader::nextBeyondAscii() {
  const std::size_t length = utf8SequenceLength(text_.substr(at_));
  const auto byte = [&](std::size_t offset) { return static_cast<unsigned char>(text_[at_ + offset]); };
  if (length == 0) {
    const auto stray = static_cast<char16_t>(0xDC00 | byte(0));
    ++at_;
    return stray;
  }
  static constexpr unsigned char leadBits[] = {0, 0, 0x1F, 0x0F, 0x07};
  std::uint32_t codePoint = byte(0) & leadBits[length];
  for (std::size_t offset = 1; offset < length; ++offset) codePoint = codePoint << 6 | (byte(offset) & 0x3F);
  at_ += length;
  if (codePoint < 0x10000) return static_cast<char16_t>(codePoint);
  codePoint -= 0x10000;
  pending_ = static_cast<char16_t>(0xDC00 | (codePoint & 0x3FF));
  return static_cast<char16_t>(0xD800 | codePoint >> 10);
}

UpperCodeUnits::UpperCodeUnits(std::string_view text) {
  // No byte gives more than one unit; a four-byte sequence gives two.
  if (text.size() > inline_.size()) {
    large_.resize(text.size());
    units_ = large_.data();
  }
  forEachCodeUnit(text, [&](char16_t unit) { units_[size_++] = upperCase(unit); });
}

namespace {

bool equalUpperCased(CodeUnitSource auto a, CodeUnitSource auto b) {
  while (!a.done() && !b.done())
    if (upperCase(a.next()) != upperCase(b.next())) return false;
  return a.done() && b.done();
}

}  // namespace

bool equalWithoutCase(std::string_view name, std::string_view other) {
  if (isAscii(name) && isAscii(other))
    return name.size() == other.size() && equalUpperCased(AsciiReader(name), AsciiReader(other));
  return equalUpperCased(CodeUnitReader(name), CodeUnitReader(other));
}

}  // namespace WindowsNames

// How the conversion reads a path. Only the separators, the drive colon, the
// wildcard characters "?" and "*" and a device prefix mean anything to it,
// and each of them is one byte that counts only where a character begins.
#pragma once

#include <concepts>
#include <cstddef>
#include <string_view>

namespace GetVEK {

// What the conversion needs to know of a path's syntax: how long each
// character is, which characters separate components or end a drive, and
// how long a device prefix is that no wildcard can stand in.
template <class Syntax>
concept PathSyntax = requires(const Syntax& syntax, std::string_view text, char c) {
  { syntax.characterLength(text) } -> std::same_as<std::size_t>;
  { syntax.isSeparator(c) } -> std::same_as<bool>;
  { syntax.isDriveColon(c) } -> std::same_as<bool>;
  { syntax.prefixLength(text) } -> std::same_as<std::size_t>;
};

// Windows: "\" and "/" both separate components (the tool itself writes "\"),
// ":" ends a drive, and a device prefix ("\\?\" or "\\.\", with either
// separator) is no part of the path's components, so its "?" is no wildcard.
// In a double-byte code page the second byte of a character may be the byte
// of "\" (表 is 0x95 0x5C in code page 932), so text is read a character at
// a time.
struct WindowsPathSyntax {
  // Whether a byte begins a two-byte character in the text's code page; none
  // for a code page of one byte a character.
  bool (*isLeadByte)(unsigned char) = nullptr;

  static constexpr char separator = '\\';

  // UTF-8 is read a byte at a time: every byte of a longer character is 0x80
  // or above, so none is ever "\", "/", ":", "?" or "*". A lead-byte rule
  // would be wrong here: the last byte of "ā" (0xC4 0x81) leads a character in
  // code page 932 and would swallow a "\" after it.
  static constexpr WindowsPathSyntax utf8() { return {}; }

  // In bytes, of the character that begins `text` (not empty).
  std::size_t characterLength(std::string_view text) const {
    return isLeadByte && text.size() > 1 && isLeadByte(static_cast<unsigned char>(text[0])) ? 2 : 1;
  }
  static constexpr bool isSeparator(char c) { return c == '\\' || c == '/'; }
  static constexpr bool isDriveColon(char c) { return c == ':'; }
  // In bytes, of the device prefix that begins `text`; 0 when there is none.
  static constexpr std::size_t prefixLength(std::string_view text) {
    const bool device = text.size() >= 4 && isSeparator(text[0]) && isSeparator(text[1]) &&
                        (text[2] == '?' || text[2] == '.') && isSeparator(text[3]);
    return device ? 4 : 0;
  }
};

// POSIX: "/" alone separates; no drives, no prefixes, and every byte stands
// for itself as far as the conversion is concerned (UTF-8 never uses an
// ASCII byte inside a longer character).
struct PosixPathSyntax {
  static constexpr char separator = '/';

  static constexpr std::size_t characterLength(std::string_view) { return 1; }
  static constexpr bool isSeparator(char c) { return c == '/'; }
  static constexpr bool isDriveColon(char) { return false; }
  static constexpr std::size_t prefixLength(std::string_view) { return 0; }
};

}  // namespace GetVEK

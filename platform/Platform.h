// The operating-system services that the conversion calls. One header for
// every platform; the sources under windows/ or linux/ are chosen at build
// time. The search and short-name operations carry the kernel32 names and
// meaning they have on Windows, so the conversion code reads the same on both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace Platform {

// How the conversion reads a path. Only the separators, the drive colon, the
// wildcard characters "?" and "*" and a device prefix mean anything to it,
// and each of them is one byte that counts only where a character begins.

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

#ifdef _WIN32
// Whether `byte` begins a two-byte character in the system's narrow code page.
bool isSystemLeadByte(unsigned char byte);
inline constexpr WindowsPathSyntax nativePathSyntax{isSystemLeadByte};
#else
inline constexpr PosixPathSyntax nativePathSyntax{};
#endif

// The text after the program's own name, as one string: not split into
// words, quotes kept. Windows reads its raw command line and ignores argc and
// argv; POSIX has only argv, which it joins with single spaces.
// All text that crosses this boundary is narrow, and on Windows exact in the
// system's code page: a character the code page lacks never comes through as
// a look-alike. A command line that the code page cannot hold comes through
// with each component that it cannot write replaced by that entry's short
// name, and empty (no path at all) when that is impossible.
std::string argumentText(int argc, char** argv);

// A path exactly as the system's file operations take it. Windows names files
// in UTF-16, which the narrow code page may not hold (a directory named
// "Ωmega" or "中文"); POSIX names them with bytes.
#ifdef _WIN32
using ExactPath = std::wstring;
#else
using ExactPath = std::string;
#endif

// The directory that holds the running executable, exactly as the system
// names it, without a trailing separator.
ExactPath programDirectory();

inline constexpr std::size_t maxPath = 260;

// Of the search record only the entry's name is used: its long name, or on
// Windows its short name when the code page cannot write the long one.
// Entries the code page can name neither way are not reported.
struct WIN32_FIND_DATAA {
  char cFileName[maxPath];
};

// Pointer-sized and signed: an entry was found when the handle is above 0.
using SearchHandle = std::intptr_t;

SearchHandle FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* found);
void FindClose(SearchHandle handle);

// The short form's length without its NUL when it fits `capacity`; the size
// needed, NUL included, when it does not; 0 when the path has no short form,
// or one that the code page cannot write.
std::uint32_t GetShortPathNameA(const char* longPath, char* buffer, std::uint32_t capacity);

// File operations. None of them returns a failure: a failed operation ends
// the process at once with one line on standard error naming the operation,
// the path and the reason, and exit status 1.
struct OutputFile {
  std::intptr_t handle;
  const ExactPath* path;  // for the report; owned by the caller
};

// Created, or taken over and emptied when it is a plain file with a single
// link; anything else under that name ends the run untouched. Opening never
// blocks. Before the file is opened, the run takes its directory for itself
// until the process ends (a lock on POSIX, a named mutex on Windows): a run
// that finds it taken ends at once.
OutputFile openFileForWriting(const ExactPath& path);
void writeFile(OutputFile file, std::string_view bytes);
void closeFile(OutputFile file);
void renameFile(const ExactPath& from, const ExactPath& to);  // never replaces

}  // namespace Platform

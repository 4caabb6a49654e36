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

// The characters a path gives special meaning to. A driveColon of '\0' means
// the platform has no drive letters.
struct PathSyntax {
  char separator;
  char driveColon;
};

inline constexpr PathSyntax windowsPathSyntax{'\\', ':'};
inline constexpr PathSyntax posixPathSyntax{'/', '\0'};
#ifdef _WIN32
inline constexpr PathSyntax nativePathSyntax = windowsPathSyntax;
#else
inline constexpr PathSyntax nativePathSyntax = posixPathSyntax;
#endif

// The text after the program's own name, as one string: not split into
// words, quotes kept. Windows reads its raw command line and ignores argc and
// argv; POSIX has only argv, which it joins with single spaces.
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

// Of the search record only the entry's long name is used.
struct WIN32_FIND_DATAA {
  char cFileName[maxPath];
};

// Pointer-sized and signed: an entry was found when the handle is above 0.
using SearchHandle = std::intptr_t;

SearchHandle FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* found);
void FindClose(SearchHandle handle);

// The short form's length without its NUL when it fits `capacity`; the size
// needed, NUL included, when it does not; 0 when the path has no short form.
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

// The questions a short form takes, put to kernel32 through its wide
// functions, with their text in a narrow encoding of the caller's choice:
// the system's ANSI code page, as the tool is given its path, or UTF-8.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "conversion/Outcome.h"
#include "conversion/PathSyntax.h"
#include "platform/windows/Text.h"

namespace Platform::Windows {

class NameQueries {
 public:
  explicit NameQueries(Narrow narrow = Narrow::systemCodePage) : narrow_(narrow) {}

  // "\" and "/", read a character at a time in the narrow encoding.
  GetVEK::WindowsPathSyntax pathSyntax() const;
  // Searched wide; an entry that the narrow encoding can name neither by its
  // long name nor by its short name is passed over, as if it did not match.
  GetVEK::Found findFirstEntry(const std::string& pattern) const;
  GetVEK::Found shortForm(std::string_view path) const;

  // A path given in UTF-16, in the narrow encoding: exactly where it writes
  // every character, else each component it cannot write replaced by the
  // narrow name of the entry that the path up to there names. Nothing when a
  // component cannot be replaced so.
  std::optional<std::string> narrowPath(std::wstring_view path) const;

 private:
  Narrow narrow_;
};

}  // namespace Platform::Windows

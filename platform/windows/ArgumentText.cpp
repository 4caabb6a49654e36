#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "platform/windows/NameQueries.h"
#include "platform/windows/Services.h"

namespace Platform::Windows {

// The program's name ends at its closing quote when it starts with one, else
// at the first space or tab; the blanks after it separate it from the text.
// Read wide, so that no character of the text is lost to the code page.
std::string argumentText(int, char**) {
  const wchar_t* line = ::GetCommandLineW();
  if (*line == L'"') {
    ++line;
    while (*line != L'\0' && *line != L'"') ++line;
    if (*line == L'"') ++line;
  } else {
    while (*line != L'\0' && *line != L' ' && *line != L'\t') ++line;
  }
  while (*line == L' ' || *line == L'\t') ++line;
  return NameQueries().narrowPath(line).value_or(std::string());
}

}  // namespace Platform::Windows

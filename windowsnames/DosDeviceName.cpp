#include "windowsnames/DosDeviceName.h"

#include <algorithm>
#include <array>

namespace WindowsNames {
namespace {

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

wchar_t asciiUpper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

bool equalsIgnoringAsciiCase(std::wstring_view text, std::wstring_view upper) {
  return text.size() == upper.size() &&
         std::equal(text.begin(), text.end(), upper.begin(), [](wchar_t a, wchar_t b) { return asciiUpper(a) == b; });
}

// COM and LPT take one digit from 1 to 9, or a superscript one, two or three.
bool isPortDigit(wchar_t c) { return (c >= L'1' && c <= L'9') || c == L'\u00B9' || c == L'\u00B2' || c == L'\u00B3'; }

bool isDeviceStem(std::wstring_view stem) {
  constexpr std::array<std::wstring_view, 6> named = {L"AUX", L"CON", L"NUL", L"PRN", L"CONIN$", L"CONOUT$"};
  if (std::any_of(named.begin(), named.end(),
                  [&](std::wstring_view name) { return equalsIgnoringAsciiCase(stem, name); }))
    return true;
  if (stem.size() != 4 || !isPortDigit(stem.back())) return false;
  const std::wstring_view port = stem.substr(0, 3);
  return equalsIgnoringAsciiCase(port, L"COM") || equalsIgnoringAsciiCase(port, L"LPT");
}

bool startsWithPrefix(std::wstring_view path, wchar_t third) {
  return path.size() >= 4 && isSeparator(path[0]) && isSeparator(path[1]) && path[2] == third && isSeparator(path[3]);
}

}  // namespace

bool isDosDeviceName(std::wstring_view component) {
  std::wstring_view stem = component.substr(0, std::min(component.find_first_of(L".:"), component.size()));
  while (!stem.empty() && stem.back() == L' ') stem.remove_suffix(1);
  return isDeviceStem(stem);
}

bool opensAsDosDevice(std::wstring_view path) {
  if (startsWithPrefix(path, L'.') || startsWithPrefix(path, L'?')) return isDeviceStem(path.substr(4));
  if (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1])) return false;  // a server's share
  if (path.size() >= 2 && path[1] == L':') path.remove_prefix(2);                      // a drive
  const std::size_t lastSeparator = path.find_last_of(L"\\/");
  return isDosDeviceName(lastSeparator == std::wstring_view::npos ? path : path.substr(lastSeparator + 1));
}

}  // namespace WindowsNames

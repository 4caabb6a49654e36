#include "platform/windows/Text.h"

namespace Platform::Windows {
namespace {

UINT codePageOf(Narrow narrow) { return narrow == Narrow::utf8 ? CP_UTF8 : CP_ACP; }

// Text in `narrow`, a character it lacks written as "?" and reported in
// `lossy`, never as a look-alike ("best fit": "Ωmega" is not "Omega"). UTF-8
// writes every character but a lone surrogate, and takes neither the flag
// nor a default character.
std::string inCodePage(std::wstring_view text, Narrow narrow, bool& lossy) {
  lossy = false;
  if (text.empty()) return {};
  const UINT codePage = codePageOf(narrow);
  const bool utf8 = narrow == Narrow::utf8 || ::GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  const char* unknown = utf8 ? nullptr : "?";
  BOOL usedDefault = FALSE;
  BOOL* const reportDefault = utf8 ? nullptr : &usedDefault;
  const int units = static_cast<int>(text.size());
  const int size = ::WideCharToMultiByte(codePage, flags, text.data(), units, nullptr, 0, unknown, reportDefault);
  if (size <= 0) {
    lossy = true;
    return {};
  }
  std::string converted(static_cast<std::size_t>(size), '\0');
  if (::WideCharToMultiByte(codePage, flags, text.data(), units, converted.data(), size, unknown, reportDefault) !=
      size)
    lossy = true;
  lossy = lossy || usedDefault;
  return converted;
}

}  // namespace

std::optional<std::string> exactNarrow(std::wstring_view text, Narrow narrow) {
  bool lossy = false;
  std::string converted = inCodePage(text, narrow, lossy);
  if (lossy) return std::nullopt;
  return converted;
}

std::optional<std::wstring> exactWide(std::string_view text, Narrow narrow) {
  if (text.empty()) return std::wstring();
  const UINT codePage = codePageOf(narrow);
  const int narrowLength = static_cast<int>(text.size());
  const int length = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), narrowLength, nullptr, 0);
  if (length <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  if (::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), narrowLength, wide.data(), length) != length)
    return std::nullopt;
  return wide;
}

std::string forDisplay(std::wstring_view text, Narrow narrow) {
  std::string shown;
  for (std::size_t at = 0; at < text.size();) {
    const bool pair = IS_HIGH_SURROGATE(text[at]) && at + 1 < text.size() && IS_LOW_SURROGATE(text[at + 1]);
    const std::size_t length = pair ? 2 : 1;
    bool lossy = false;
    const std::string character = inCodePage(text.substr(at, length), narrow, lossy);
    shown += lossy ? "?" : character;
    at += length;
  }
  return shown;
}

std::wstring systemMessage(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length =
      ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (length == 0) return L"error " + std::to_wstring(error);
  std::wstring message(text, length);
  ::LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
    message.pop_back();
  return message;
}

GetVEK::Failure failure(std::wstring_view action, DWORD error, Narrow narrow) {
  return GetVEK::Failure{forDisplay(action, narrow), forDisplay(systemMessage(error), narrow)};
}

}  // namespace Platform::Windows

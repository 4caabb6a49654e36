// Text between kernel32's UTF-16 and the narrow text the conversion reads:
// converted exactly or not at all, since a look-alike in a path names another
// file.
#pragma once
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "conversion/Outcome.h"

namespace Platform::Windows {

// The narrow encoding paths cross to the conversion in: the system's ANSI
// code page, as the tool's caller writes them, or UTF-8, which writes every
// UTF-16 text but one holding an unpaired surrogate.
enum class Narrow { systemCodePage, utf8 };

// `text` in `narrow` when it writes every character, else nothing.
std::optional<std::string> exactNarrow(std::wstring_view text, Narrow narrow);
// Only a byte sequence that is no text in `narrow` fails.
std::optional<std::wstring> exactWide(std::string_view text, Narrow narrow);

// As a message shows it: a character that `narrow` lacks is one "?",
// whether it takes one UTF-16 unit or two (an emoji). The tool's own lines
// are in the ANSI code page, like every other text it gives.
std::string forDisplay(std::wstring_view text, Narrow narrow = Narrow::systemCodePage);

// The system's message for an error, without its line break.
std::wstring systemMessage(DWORD error);

// The failure to do `action`, with the system's message for `error`, in `narrow`.
GetVEK::Failure failure(std::wstring_view action, DWORD error, Narrow narrow = Narrow::systemCodePage);

// The text a call writes into a buffer it is given, the buffer grown until
// it fits; nothing when the call fails (GetLastError says why). `call` gives
// the length it wrote, or the size it needs (its terminator included) when
// the buffer is too small.
template <typename Call>
std::optional<std::wstring> answerOf(std::size_t initialSize, Call call) {
  std::wstring text(initialSize, L'\0');
  for (;;) {
    const DWORD length = call(text.data(), static_cast<DWORD>(text.size()));
    if (length == 0) return std::nullopt;
    if (length < text.size()) {
      text.resize(length);
      return text;
    }
    text.resize(std::max<std::size_t>(length, text.size() + 1));
  }
}

}  // namespace Platform::Windows

// Test texts with a placeholder such as "{T}" for a path known only when the
// test runs.
#pragma once

#include <string>
#include <string_view>
#include <type_traits>

namespace TestSupport {

// Narrow or wide: the placeholder and value take the text's character type.
template <class Char>
std::basic_string<Char> substitute(std::basic_string<Char> text,
                                   std::type_identity_t<std::basic_string_view<Char>> placeholder,
                                   const std::type_identity_t<std::basic_string<Char>>& value) {
  for (auto at = text.find(placeholder); at != std::basic_string<Char>::npos;
       at = text.find(placeholder, at + value.size()))
    text.replace(at, placeholder.size(), value);
  return text;
}

inline std::string substituteTree(std::string text, const std::string& tree) {
  return substitute(std::move(text), "{T}", tree);
}

inline std::wstring substituteTree(std::wstring text, const std::wstring& tree) {
  return substitute(std::move(text), L"{T}", tree);
}

}  // namespace TestSupport

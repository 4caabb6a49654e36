// Test texts with a placeholder such as "{T}" for a path known only when the
// test runs.
#pragma once

#include <string>
#include <string_view>

namespace TestSupport {

inline std::string substitute(std::string text, std::string_view placeholder, const std::string& value) {
  for (auto at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder, at + value.size()))
    text.replace(at, placeholder.size(), value);
  return text;
}

inline std::string substituteTree(std::string text, const std::string& tree) {
  return substitute(std::move(text), "{T}", tree);
}

}  // namespace TestSupport

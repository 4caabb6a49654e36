// FNV-1a (32-bit): a cheap hash whose every bit depends on every byte. A
// hash carried on from an earlier call goes on as if the pieces were one
// text, so that pieces need not be joined first.
#pragma once

#include <cstdint>
#include <string_view>

namespace WindowsNames {

inline constexpr std::uint32_t fnv1aOffsetBasis = 2166136261u;

constexpr std::uint32_t fnv1a(std::string_view bytes, std::uint32_t hash = fnv1aOffsetBasis) {
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 16777619u;
  }
  return hash;
}

static_assert(fnv1a("hello") == 0x4F9F2CABu);
static_assert(fnv1a("lo", fnv1a("hel")) == fnv1a("hello"));

}  // namespace WindowsNames

// Windows' path syntax in code page 932 (Shift JIS), whose two-byte
// characters may end with the byte of "\": for reading such text on any
// build.
#pragma once

#include "conversion/PathSyntax.h"

namespace TestSupport {

inline bool isCodePage932LeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

inline constexpr GetVEK::WindowsPathSyntax codePage932Syntax{isCodePage932LeadByte};

}  // namespace TestSupport

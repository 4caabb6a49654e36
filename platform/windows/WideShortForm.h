// The conversion for a caller that holds its path in UTF-16, as Windows
// names files: no character is lost to the ANSI code page on the way.
#pragma once

#include <string>
#include <string_view>

namespace Platform::Windows {

// What one run of the tool would leave in VEK.TXT (the short form, or "bAd"),
// or, when `failed`, the line it would print without its program name.
struct WideAnswer {
  std::wstring text;
  bool failed = false;
};

// Read and answered in UTF-8 between the UTF-16 ends, which writes every
// path but one holding an unpaired surrogate: there, as for the tool's own
// command line, each component that cannot be written stands for the entry
// it names by that entry's short name, and the answer is "bAd" where that
// is impossible. Where the ANSI code page writes the path, the answer is the
// one the tool gives in it. Running out of memory on the way throws.
WideAnswer shortFormOfWide(std::wstring_view path);

}  // namespace Platform::Windows

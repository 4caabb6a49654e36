// The platform services the run is given: one class per platform, chosen at
// build time, each providing what conversion/ConversionPlatform.h asks for.
#pragma once

#include <string>

#ifdef _WIN32
#include "platform/windows/Services.h"
#else
#include "platform/linux/Services.h"
#endif

namespace Platform {

#ifdef _WIN32
using NativeServices = Windows::Services;
#else
using NativeServices = Linux::Services;
#endif

// The text after the program's own name, as one string: not split into
// words, quotes kept. Windows reads its raw command line and ignores argc and
// argv; POSIX has only argv, which it joins with single spaces.
// All text that crosses to the run is narrow, and on Windows exact in the
// system's code page: a character the code page lacks never comes through as
// a look-alike. A command line that the code page cannot hold comes through
// with each component that it cannot write replaced by that entry's short
// name, and empty (no path at all) when that is impossible.
std::string argumentText(int argc, char** argv);

}  // namespace Platform

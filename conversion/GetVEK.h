// The run driver: one conversion per run, its answer left in the result file
// in the program directory.
#pragma once

#include <string_view>

#include "platform/Platform.h"

namespace GetVEK {

inline constexpr std::string_view failureMarker = "bAd";
inline constexpr std::string_view workFileName = "VEK.TX";  // the result file is this name plus "T"

// Converts `commandText` and leaves the short form, or the failure marker, in
// VEK.TXT in `programDirectory`, written as VEK.TX first and renamed once
// complete. A failed file operation ends the process (see platform/Platform.h).
void convert(std::string_view commandText, const Platform::ExactPath& programDirectory);

// The whole run, with the argument text and program directory the platform
// supplies.
void run(int argc, char** argv);

}  // namespace GetVEK

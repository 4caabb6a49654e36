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
using Windows::argumentText;
#else
using NativeServices = Linux::Services;
using Linux::argumentText;
#endif

}  // namespace Platform

#include "conversion/GetVEK.h"
#include "platform/Platform.h"

int main(int argc, char** argv) {
  Platform::NativeServices platform;
  return GetVEK::convert(platform, Platform::argumentText(argc, argv));
}

#include <gtest/gtest.h>

#include <string>

#include "windowsnames/DosDeviceName.h"

namespace {

using WindowsNames::isDosDeviceName;
using WindowsNames::opensAsDosDevice;

struct DeviceCase {
  const wchar_t* text;
  bool device;
};

void PrintTo(const DeviceCase& c, std::ostream* out) { *out << testing::PrintToString(std::wstring(c.text)); }

class DosDeviceNameTest : public testing::TestWithParam<DeviceCase> {};

TEST_P(DosDeviceNameTest, TellsDevicesFromFiles) { EXPECT_EQ(isDosDeviceName(GetParam().text), GetParam().device); }

INSTANTIATE_TEST_SUITE_P(Components, DosDeviceNameTest,
                         testing::Values(DeviceCase{L"CON", true}, DeviceCase{L"nul", true}, DeviceCase{L"Aux", true},
                                         DeviceCase{L"prn", true}, DeviceCase{L"COM1", true}, DeviceCase{L"lpt9", true},
                                         DeviceCase{L"CONIN$", true}, DeviceCase{L"conout$", true},
                                         DeviceCase{L"COM\u00B9", true}, DeviceCase{L"LPT\u00B3", true},
                                         // An extension, a ":" and trailing spaces are dropped first.
                                         DeviceCase{L"nul.txt", true}, DeviceCase{L"con.tar.gz", true},
                                         DeviceCase{L"Con .log", true}, DeviceCase{L"COM1:", true},
                                         DeviceCase{L"nul   ", true}, DeviceCase{L"NUL..", true},
                                         // Not devices.
                                         DeviceCase{L"COM0", false}, DeviceCase{L"COM10", false},
                                         DeviceCase{L"LPT\u00B4", false}, DeviceCase{L"nul_", false},
                                         DeviceCase{L"nulls.txt", false}, DeviceCase{L" nul", false},
                                         DeviceCase{L".nul", false}, DeviceCase{L"CONIN", false},
                                         DeviceCase{L"", false}, DeviceCase{L"\u0131con", false}));

class OpensAsDosDeviceTest : public testing::TestWithParam<DeviceCase> {};

TEST_P(OpensAsDosDeviceTest, LooksAtTheLastComponentOfAPlainPath) {
  EXPECT_EQ(opensAsDosDevice(GetParam().text), GetParam().device);
}

INSTANTIATE_TEST_SUITE_P(Paths, OpensAsDosDeviceTest,
                         testing::Values(DeviceCase{L"CON", true}, DeviceCase{L"C:\\t2\\nul.txt", true},
                                         DeviceCase{L"C:/t2/Com1", true}, DeviceCase{L"C:nul", true},
                                         DeviceCase{L"\\t2\\aux.c", true}, DeviceCase{L"..\\prn", true},
                                         DeviceCase{L"\\\\.\\CON", true}, DeviceCase{L"\\\\?\\nul", true},
                                         // A device name before the last component names a directory.
                                         DeviceCase{L"C:\\nul\\a.txt", false}, DeviceCase{L"C:\\t2\\", false},
                                         // Prefixed paths and shares are looked up as typed.
                                         DeviceCase{L"\\\\?\\C:\\t2\\nul.txt", false},
                                         DeviceCase{L"\\\\.\\C:\\t2\\nul", false}, DeviceCase{L"\\\\.\\nul.txt", false},
                                         DeviceCase{L"\\\\server\\share\\nul", false},
                                         DeviceCase{L"C:\\t2\\report final.txt", false}));

}  // namespace

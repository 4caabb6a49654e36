// Names that Windows opens as a device (the console, NUL, a serial or
// parallel port) rather than looking them up as files: such a path has no
// short form. The Windows build asks the running system first
// (GetFullPathNameW); this fixed rule decides only where that call cannot
// tell: a path after "\\.\" or "\\?\", which it gives back as typed, and a
// path it fails on.
#pragma once

#include <string_view>

namespace WindowsNames {

// Whether Windows takes `component`, the last of a path, for a DOS device:
// AUX, CON, NUL, PRN, COM1 to COM9, LPT1 to LPT9 (with ¹ ² ³ for digits too),
// CONIN$ or CONOUT$, without regard to ASCII case, once whatever follows its
// first "." or ":" and then its trailing spaces are dropped. So "nul.txt",
// "Con .log" and "COM1:" are devices, "COM10" and "nul_" are not. This is
// Windows 10's rule; Windows 11 takes fewer names for devices ("nul.txt" is a
// file there), and every one of them is among these.
bool isDosDeviceName(std::wstring_view component);

// Whether Windows opens `path` as a DOS device: a path on a drive, rooted or
// relative whose last component is a DOS device name, or a device name alone
// after the prefix "\\.\" or "\\?\". A path on a server ("\\server\share\")
// and any other prefixed path are looked up as typed.
bool opensAsDosDevice(std::wstring_view path);

}  // namespace WindowsNames

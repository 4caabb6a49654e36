#include "platform/linux/walk/FatRecords.h"

#include <cstring>

#include "platform/linux/walk/NameSource.h"
#include "windowsnames/CodeUnits.h"
#include "windowsnames/ShortName.h"

namespace Platform::Linux {
namespace {

bool hasOption(std::string_view options, std::string_view wanted) {
  while (!options.empty()) {
    const auto comma = options.find(',');
    if (options.substr(0, comma) == wanted) return true;
    if (comma == std::string_view::npos) break;
    options.remove_prefix(comma + 1);
  }
  return false;
}

// The name a record holds: its length, and never past the field or a NUL.
std::string_view textOf(const __fat_dirent& record) {
  const std::size_t length = std::min<std::size_t>(record.d_reclen, sizeof record.d_name);
  const void* end = std::memchr(record.d_name, '\0', length);
  return {record.d_name, end ? static_cast<std::size_t>(static_cast<const char*>(end) - record.d_name) : length};
}

// A lower-case letter beyond ASCII may have been lowered for the display or
// stored so (code page 437 holds "à" but no "À"): there is no telling.
bool holdsLowerCaseBeyondAscii(std::string_view text) {
  bool found = false;
  WindowsNames::forEachCodeUnit(
      text, [&](char16_t unit) { found = found || (unit >= 0x80 && WindowsNames::upperCase(unit) != unit); });
  return found;
}

std::optional<std::string> shortNameOf(std::string_view shown, const FatDisplay& display) {
  // Neither can stand in a short name: they stand for a character the code
  // page or the charset could not show.
  if (shown.find_first_of("?:") != std::string_view::npos) return std::nullopt;
  if (display.hiddenMarkedWithDot && shown.size() > 1 && shown.front() == '.') shown.remove_prefix(1);
  if (shown.empty()) return std::nullopt;
  switch (display.shortNameCase) {
    case FatDisplay::Case::asStored:
      return std::string(shown);
    case FatDisplay::Case::lowered:
      if (holdsLowerCaseBeyondAscii(shown)) return std::nullopt;
      [[fallthrough]];
    case FatDisplay::Case::asciiLowered:
      return WindowsNames::asciiUpper(shown);
  }
  return std::nullopt;
}

}  // namespace

FatDisplay fatDisplayOf(std::string_view fileSystemType, std::string_view superOptions) {
  FatDisplay display;
  if (fileSystemType == "msdos") {
    display.shortNameCase =
        hasOption(superOptions, "nocase") ? FatDisplay::Case::asStored : FatDisplay::Case::asciiLowered;
    // No short name begins with ".": one shown so was marked hidden.
    display.hiddenMarkedWithDot = true;
  } else if (fileSystemType == "vfat" && hasOption(superOptions, "shortname=win95")) {
    display.shortNameCase = FatDisplay::Case::asStored;
  }
  return display;
}

std::optional<MountLine> mountLineOf(std::string_view mountInfo, std::uint64_t mountId) {
  const std::string id = std::to_string(mountId) + ' ';
  while (!mountInfo.empty()) {
    const auto end = mountInfo.find('\n');
    const std::string_view line = mountInfo.substr(0, end);
    mountInfo.remove_prefix(end == std::string_view::npos ? mountInfo.size() : end + 1);
    // ID, parent, device, root, mount point, options, optional fields, "-",
    // then type, source and super options.
    const auto separator = line.find(" - ");
    if (!line.starts_with(id) || separator == std::string_view::npos) continue;
    std::string_view rest = line.substr(separator + 3);
    const auto typeEnd = rest.find(' ');
    if (typeEnd == std::string_view::npos) return std::nullopt;
    MountLine found{std::string(rest.substr(0, typeEnd)), {}};
    rest.remove_prefix(typeEnd + 1);
    if (const auto sourceEnd = rest.find(' '); sourceEnd != std::string_view::npos)
      found.superOptions = rest.substr(sourceEnd + 1);
    return found;
  }
  return std::nullopt;
}

DecodedFatRecord decodeFatRecords(const FatRecordPair& records, const FatDisplay& display) {
  const std::string_view first = textOf(records[0]);
  const std::string_view longName = textOf(records[1]);
  if (records[1].d_reclen >= sizeof records[1].d_name - 1) return {DecodedFatRecord::Kind::cut, {}};
  // With no long name, the first record holds the only name: the short name
  // as the mount shows it, which is also the name Linux lists.
  const std::string_view name = longName.empty() ? first : longName;
  if (name == "." || name == "..") return {DecodedFatRecord::Kind::dots, {}};
  DecodedFatRecord decoded{DecodedFatRecord::Kind::entry, {std::string(name), shortNameOf(first, display)}};
  if ((decoded.entry.shortName && !isStoredShortName(*decoded.entry.shortName)) ||
      name.find('/') != std::string_view::npos) {
    decoded.entry.shortName.reset();
    decoded.entry.damaged = true;
  }
  return decoded;
}

}  // namespace Platform::Linux

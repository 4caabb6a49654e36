// The FAT records a disk hands over, decoded from whatever the ioctl could
// give: every short name that comes back is one a disk may hold (a valid 8.3
// name), no entry is "." or ".." or holds a "/", and an entry found damaged
// carries no short name, so that nothing a hostile disk stores reaches an
// answer. Input: a byte of mount options (the case shown, bit 2 the hidden
// files' dot), then the short name as shown, a NUL byte, the long name.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/linux/walk/FatRecords.h"
#include "platform/linux/walk/NameSource.h"

namespace {

using Platform::Linux::DecodedFatRecord;
using Platform::Linux::FatDisplay;

// As the ioctl fills a record: the text cut to its field, its length as given.
void fill(__fat_dirent& record, std::string_view text) {
  const std::size_t kept = std::min(text.size(), sizeof record.d_name);
  std::memcpy(record.d_name, text.data(), kept);
  record.d_reclen = static_cast<unsigned short>(std::min<std::size_t>(text.size(), 0xFFFF));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  FatDisplay display;
  display.shortNameCase = static_cast<FatDisplay::Case>(data[0] % 3);
  display.hiddenMarkedWithDot = (data[0] & 4) != 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::size_t separator = text.find('\0');
  Platform::Linux::FatRecordPair records{};
  fill(records[0], text.substr(0, separator));
  if (separator != std::string_view::npos) fill(records[1], text.substr(separator + 1));

  const DecodedFatRecord decoded = Platform::Linux::decodeFatRecords(records, display);
  if (decoded.kind != DecodedFatRecord::Kind::entry) return 0;
  const auto& entry = decoded.entry;
  if (entry.name == "." || entry.name == "..") std::abort();
  if (entry.damaged) {
    if (entry.shortName) std::abort();
    return 0;
  }
  if (entry.name.find('/') != std::string::npos) std::abort();
  if (entry.shortName && !Platform::Linux::isStoredShortName(*entry.shortName)) std::abort();
  return 0;
}

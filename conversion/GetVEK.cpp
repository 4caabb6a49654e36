#include "conversion/GetVEK.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "conversion/Resolve.h"
#include "platform/Platform.h"

namespace GetVEK {
namespace {

constexpr std::uint32_t shortNameCapacity = 1000;

// Only spaces: tabs and other white space are part of the path.
std::string_view trimSpaces(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

void convert(std::string_view commandText, const Platform::ExactPath& programDirectory) {
  const std::string_view argumentText = trimSpaces(commandText);
  // The file names are ASCII, one unit per character in either form of path.
  Platform::ExactPath workPath = programDirectory;
  workPath += Platform::nativePathSyntax.separator;
  workPath.append(workFileName.begin(), workFileName.end());
  const Platform::ExactPath finalPath = workPath + Platform::ExactPath::value_type{'T'};

  const Platform::OutputFile work = Platform::openFileForWriting(workPath);

  const std::optional<std::string> longPath = holdsWildcard(argumentText, Platform::nativePathSyntax)
                                                  ? resolve(argumentText)
                                                  : std::optional<std::string>(argumentText);

  std::array<char, shortNameCapacity> buffer;
  buffer.fill(' ');
  std::int32_t count = 0;
  if (longPath && !longPath->empty())
    count = static_cast<std::int32_t>(Platform::GetShortPathNameA(longPath->c_str(), buffer.data(), shortNameCapacity));

  // A count above the capacity is the size the platform would need: the
  // buffer then holds no answer.
  const bool answered = count > 0 && count <= static_cast<std::int32_t>(shortNameCapacity);
  const std::string_view result =
      answered ? std::string_view(buffer.data(), static_cast<std::size_t>(count)) : failureMarker;

  Platform::writeFile(work, result);
  Platform::closeFile(work);
  Platform::renameFile(workPath, finalPath);
}

void run(int argc, char** argv) { convert(Platform::argumentText(argc, argv), Platform::programDirectory()); }

}  // namespace GetVEK

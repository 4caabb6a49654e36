// The run driver: one conversion per run, its answer left in the result file
// in the program directory.
#pragma once

#include <cstddef>
#include <new>
#include <string>
#include <string_view>

#include "conversion/ConversionPlatform.h"
#include "conversion/Resolve.h"

namespace GetVEK {

inline constexpr std::string_view failureMarker = "bAd";
inline constexpr std::string_view workFileName = "VEK.TX";
inline constexpr std::string_view resultFileName = "VEK.TXT";  // the work file's name plus "T"

// The short form must fit a buffer of this many characters with its
// terminator; a longer one is no answer.
inline constexpr std::size_t shortFormCapacity = 1000;

// The exit status carries no result: 0 whenever the result file was made,
// `bAd` included.
inline constexpr int exitAnswered = 0;
inline constexpr int exitFailed = 1;
inline constexpr int exitWorthRetrying = 75;  // EX_TEMPFAIL

// Only spaces: tabs and other white space are part of the path.
inline std::string_view trimSpaces(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The short form of the argument text, nothing when it has none, or why it
// could not be found out.
template <NameQueries Names>
Found shortFormOf(Names& names, std::string_view argumentText) {
  const auto syntax = names.pathSyntax();
  const Found longPath =
      holdsWildcard(argumentText, syntax)
          ? resolve(argumentText, syntax, [&](const std::string& pattern) { return names.findFirstEntry(pattern); })
          : Found::name(std::string(argumentText));
  if (!longPath.hasName()) return longPath;
  // An empty path asks nothing.
  if (longPath.name().empty()) return Found::none();
  Found shortForm = names.shortForm(longPath.name());
  if (shortForm.hasName() && shortForm.name().size() >= shortFormCapacity) return Found::none();
  return shortForm;
}

// What a conversion that ran out of memory could not do, and why: in words
// that need no memory of their own to be said.
inline constexpr std::string_view findingAction = "find the short form";
inline constexpr std::string_view outOfMemory = "out of memory";

// The same, with running out of memory as a failure like any other.
template <NameQueries Names>
Found shortFormWithin(Names& names, std::string_view argumentText) {
  try {
    return shortFormOf(names, argumentText);
  } catch (const std::bad_alloc&) {
    return Failure{std::string(findingAction), std::string(outOfMemory)};
  }
}

// What the result file holds for an answer that was found out.
inline std::string_view answerText(const Found& shortForm) {
  return shortForm.hasName() ? std::string_view(shortForm.name()) : failureMarker;
}

// The line a failure is reported in, without the program's name: the tool
// prints it, the library hands it to its caller.
inline std::string failureLine(const Failure& failure) { return "cannot " + failure.action + ": " + failure.reason; }

template <ConversionPlatform Platform>
int reportFailure(Platform& platform, const Failure& failure) {
  platform.report("getvek: " + failureLine(failure));
  return failure.worthRetrying ? exitWorthRetrying : exitFailed;
}

// The cause comes first, as the line a caller reports; a work file that could
// not be removed follows on a line of its own, since a failed run is
// promised to leave no VEK.TX and the caller must hear when one stays.
template <ConversionPlatform Platform>
int reportUnknownAnswer(Platform& platform, const Failure& cause) {
  const Status discarded = platform.discardWorkFile();
  const int status = reportFailure(platform, cause);
  if (discarded) reportFailure(platform, *discarded);
  return status;
}

// Converts the text after the program's name and leaves the short form, or
// the failure marker, in VEK.TXT in the program directory: written as VEK.TX
// first and renamed once complete. A step that fails ends the run there, with
// one line reported (two when the work file of an unknown answer stays); the
// exit status tells a failure worth retrying (another run had the directory,
// or a result was still there) from any other.
template <ConversionPlatform Platform>
int convert(Platform& platform, std::string_view commandText) {
  const std::string_view argumentText = trimSpaces(commandText);
  if (Status failed = platform.takeProgramDirectory()) return reportFailure(platform, *failed);
  if (Status failed = platform.createWorkFile(workFileName)) return reportFailure(platform, *failed);

  const Found shortForm = shortFormWithin(platform, argumentText);
  if (shortForm.failed()) return reportUnknownAnswer(platform, shortForm.failure());

  if (Status failed = platform.writeWorkFile(answerText(shortForm))) return reportFailure(platform, *failed);
  if (Status failed = platform.closeWorkFile()) return reportFailure(platform, *failed);
  if (Status failed = platform.publishWorkFile(resultFileName)) return reportFailure(platform, *failed);
  return exitAnswered;
}

}  // namespace GetVEK

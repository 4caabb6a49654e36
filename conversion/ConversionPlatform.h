// What one run asks of the system it runs on, in the run's own words. Each
// operation gives its failure back; the run reports it and decides the exit
// status. The real platforms are in platform/; the run's tests script one.
#pragma once

#include <concepts>
#include <string>
#include <string_view>

#include "conversion/Outcome.h"
#include "conversion/PathSyntax.h"

namespace GetVEK {

// The questions a short form takes, which need no file of the run's own.
template <class Names>
concept NameQueries = requires(Names& names, std::string_view text, const std::string& pattern) {
  // How the platform's paths are written.
  { names.pathSyntax() } -> PathSyntax;
  // The name of the first entry that `pattern` (a directory's path and a
  // name holding wildcards) matches, in the order the platform lists it.
  { names.findFirstEntry(pattern) } -> std::same_as<Found>;
  // The short form of a path that holds no wildcards.
  { names.shortForm(text) } -> std::same_as<Found>;
};

// What a whole run asks: the questions, and the program directory's files.
template <class Platform>
concept ConversionPlatform = NameQueries<Platform> && requires(Platform& platform, std::string_view text) {
  // Takes the directory that holds the executable for this run, so that no
  // other run uses its file names until this one ends.
  { platform.takeProgramDirectory() } -> std::same_as<Status>;
  // The work file, named `text` in the program directory: made new, never
  // opened where something stands under the name already (an earlier run's
  // own work file is removed first).
  { platform.createWorkFile(text) } -> std::same_as<Status>;
  { platform.writeWorkFile(text) } -> std::same_as<Status>;
  { platform.closeWorkFile() } -> std::same_as<Status>;
  // Gives the closed work file the name `text`, never replacing a file.
  { platform.publishWorkFile(text) } -> std::same_as<Status>;
  // Closes and removes the work file of a run that could not find its answer.
  { platform.discardWorkFile() } -> std::same_as<Status>;
  // One line for whoever started the run.
  platform.report(text);
};

}  // namespace GetVEK

#pragma once

// What a run leaves besides the files it measured and the copies it wrote: its reports and its
// session, each never in place of an audio file or a path named to be checked.

#include "Commands.h"
#include "Output.h"
#include "tavrin/core/AudioTypes.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::cli {

/// Whether the reports and the session leave every audio file and every path named to be checked
/// as it is; false after saying which one a report would replace.
bool reportsReplaceNothing(const Options& options, const AudioTypes::Selection& selection,
                           Context& context);

/// Saves one report or picture to `path`, or to standard output for "-"; false after saying why
/// it can't.
bool saveReport(const std::string& path, std::string_view bytes, Context& context);

/// Writes the reports and the session asked for, with the fix run's `fixes` when there was one
/// (empty for check), each whatever became of the others; false when one could not be written.
bool writeRecords(const std::vector<std::filesystem::path>& files,
                  const std::vector<Reading>& readings, const std::vector<FileFix>& fixes,
                  const Options& options, const DeliverySpec& spec, Context& context);

} // namespace tavrin::cli

#pragma once

#include "Commands.h"
#include "Output.h"

#include <filesystem>
#include <string>
#include <vector>

namespace tavrin::cli {

/// Saves the session of a run at `path`: every file with its stamp and reading, and with `fixes`
/// the copies written, each stamped too. False after saying why it can't be saved.
bool saveSession(const std::string& path, const std::vector<std::filesystem::path>& files,
                 const std::vector<Reading>& readings, const std::vector<FileFix>* fixes,
                 const Options& options, const DeliverySpec& spec, Context& context);

/// Checks every file and copy of the session at `path` against the disk: a line (a JSON line with
/// `options.json`) for each file that changed or went missing, or whose copy did, then a summary.
/// 0 when everything is as saved, 1 when something isn't, 3 when the session can't be read.
int verify(const std::filesystem::path& path, const Options& options, Context& context);

} // namespace tavrin::cli

#pragma once

#include "tavrin/core/Cancellation.h"
#include "tavrin/workflow/Workflow.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <ostream>
#include <vector>

namespace tavrin::cli {

using Workflow::Reading;

/// With timelines, how far ahead of the file being handed over a file may start: a long file then
/// holds up a few finished readings, not the rest of the list.
inline std::size_t timelinesAhead(int jobs) {
    return 2 * static_cast<std::size_t>(std::max(jobs, 1));
}

/// Measures `files` with `jobs` files at once. `onReading` is called on the calling thread for
/// each file in list order, as soon as it and every file before it are done; the reading is
/// released when it returns. When `progress` is given, one updating line on it shows files done
/// and the current file's percentage. Throws Cancelled when `isCancelled` stops the work; the
/// files still running stop at their next chunk. With `withTimeline`, each reading carries its
/// file's loudness over time, and no file starts timelinesAhead(`jobs`) or more places after the
/// one being handed over.
void measureFiles(const std::vector<std::filesystem::path>& files, bool dualMono, int jobs,
                  const std::function<void(std::size_t index, const Reading&)>& onReading,
                  std::ostream* progress, const CancelCheck& isCancelled,
                  bool withTimeline = false);

} // namespace tavrin::cli

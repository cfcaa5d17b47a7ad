#pragma once

#include "tavrin/Cancellation.h"

#include <ostream>
#include <string>
#include <vector>

namespace tavrin::cli {

/// What the streams are connected to, as main() finds out.
struct Terminal {
    bool colour = false;   ///< stdout is a terminal and NO_COLOR is unset
    bool progress = false; ///< stderr is a terminal: show one updating progress line
};

/// Runs tavrin-cli with `args` (without the program name), writing results to `out` and notices,
/// errors and progress to `err`. Returns the exit status: for check, 0 when every file passes, 1
/// when one fails or has no reading, 3 when one can't be read (or a report can't be written);
/// for fix, 0 when every file passes or now has a passing copy, 1 when one is left without, 3
/// when a file can't be read or a copy or report can't be written; 2 for a usage error or when
/// no audio file is found; 130 when `isCancelled` stopped the work.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        const Terminal& terminal = {}, const CancelCheck& isCancelled = {});

} // namespace tavrin::cli

#pragma once

#include "tavrin/core/Cancellation.h"

#include <ostream>
#include <string>
#include <vector>

namespace tavrin::cli {

/// What the streams are connected to, as main() finds out.
struct Terminal {
    bool colour = false;           ///< stdout is a terminal and NO_COLOR is unset
    bool progress = false;         ///< stderr is a terminal: show one updating progress line
    bool outputIsTerminal = false; ///< stdout is a terminal: no PDF bytes there
};

/// Runs tavrin-cli with `args` (without the program name), writing results to `out` (one format:
/// the table, JSON lines, the CSV or the PDF) and errors, progress and, when `out` carries data,
/// every other sentence to `err`. Returns the exit status: 0 when every file passes (for fix: or
/// now has a passing copy), 1 when one fails or has no reading (for fix: is left without a
/// passing copy), 3 when a named path gave no audio file, a file can't be read, or a copy or
/// report can't be written; 2 for a usage error or when no audio file is found; 130 when
/// `isCancelled` stopped the work.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        const Terminal& terminal = {}, const CancelCheck& isCancelled = {});

} // namespace tavrin::cli

#pragma once

#include "Cli.h"
#include "Measuring.h"
#include "tavrin/copies/GainWriter.h"
#include "tavrin/core/Finding.h"
#include "tavrin/reports/Report.h"
#include "tavrin/rules/DeliverySpec.h"

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace tavrin::cli {

inline constexpr int exitPass = 0, exitFail = 1, exitUsage = 2, exitUnreadable = 3,
                     exitCancelled = 130;

/// What the user asked for, checked: at most one format goes to standard output.
struct Options {
    bool dualMono = false;
    int jobs = 1;
    std::string csv, pdf; ///< "-" for standard output
    Report::Paper paper = Report::Paper::letter;
    bool json = false;
    bool timeline = false;        ///< JSON lines carry each file's loudness over time
    bool graphs = false;          ///< the PDF report adds a graph page per file
    bool dark = false;            ///< graph: the dark palette
    std::optional<TimeSpan> span; ///< graph: the stretch to draw (its end may be ∞)
    std::optional<std::filesystem::path> drawnCopy; ///< graph: a copy drawn over the file
    bool quiet = false;
    bool limiter = false; ///< fix: limit the files gain alone can't fix fully
    GainWriter::CopyFormat copyFormat = GainWriter::CopyFormat::wav; ///< fix
    DamagePolicy damage = DamagePolicy::fail; ///< whether damaged audio fails its file
    bool fixDamaged = false;                  ///< fix: write copies of damaged files too
    std::optional<std::filesystem::path> out;
    std::vector<std::filesystem::path> paths;
    std::string session;     ///< check, fix: where to save the run's session
    Report::SignOff signOff; ///< printed on the PDF report

    /// JSON lines, the CSV or the PDF take standard output instead of the table.
    bool dataOnStdout() const { return json || csv == "-" || pdf == "-"; }
};

struct Context {
    std::ostream& out;
    std::ostream& err;
    const Terminal& terminal;
    const CancelCheck& isCancelled;

    /// Where sentences for people go: standard error whenever standard output carries data.
    std::ostream& notes(const Options& options) const { return options.dataOnStdout() ? err : out; }
};

int check(const Options& options, const DeliverySpec& spec, Context& context);
int fix(const Options& options, const DeliverySpec& spec, Context& context);
/// Draws one file's loudness over time into `options.out` (SVG, PNG or PDF by its extension) and
/// prints the graph's description: 0 when written, 3 when the file can't be read or the image
/// can't be written.
int graph(const Options& options, const DeliverySpec& spec, Context& context);

} // namespace tavrin::cli

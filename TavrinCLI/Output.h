#pragma once

#include "Measuring.h"
#include "tavrin/rules/DeliverySpec.h"
#include "tavrin/rules/FixPlan.h"
#include "tavrin/rules/Verdict.h"
#include "tavrin/workflow/Workflow.h"

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace tavrin::cli {

/// What fix did for one file: nothing (no plan: it passes or has no reading), or a plan and,
/// for a gain or a limited copy, the copy written or the sentence saying why not.
struct FileFix {
    std::optional<FixPlan> plan;
    std::optional<Workflow::CopyOutcome> copy;
    std::optional<std::string> notLimited{}; ///< why the limiter refused the file
    std::optional<std::string> damaged{};    ///< why a damaged file was left alone

    /// The copy, when one was written.
    const Workflow::CopyOutcome::Written* written() const;
    /// A copy was to be written and could not be.
    bool copyFailed() const { return copy && !written(); }
    /// The reports' Fix column for this file against `spec`, as the app fills it; absent when
    /// there is no fix.
    std::optional<std::string> text(const DeliverySpec& spec) const;
};

/// The results table for people: a header, then one line per file as it is added, with the
/// verdict's problems, a refused fix's reason and the findings' sentences on lines under it.
class Table {
public:
    /// Column widths fit the longest of `files`' names (up to a limit; longer names are
    /// shortened in the middle). With `colour`, results and out-of-spec numbers are coloured.
    Table(const std::vector<std::filesystem::path>& files, const DeliverySpec& spec,
          DamagePolicy damage, bool colour);

    void printHeader(std::ostream& out) const;
    /// One file's line. The Fix column shows `fix`, or when absent what a fix would do; `note`
    /// is one more line under the row.
    void printRow(std::ostream& out, const std::filesystem::path& file, const Reading& reading,
                  const std::optional<std::string>& fix = std::nullopt,
                  std::string_view note = {}) const;

private:
    /// Result, file name and the numbers, coloured where they break the spec.
    std::string numbersLine(const std::string& name, const LoudnessResult& result,
                            const Verdict& verdict) const;

    const DeliverySpec& m_spec;
    DamagePolicy m_damage;
    std::size_t m_fileWidth;
    bool m_colour;
};

/// One line of JSON Lines output for a file (without the line end): its "findings", and its
/// "provenance" when it is a copy Tavrin wrote; with `fix`, its "outcome"; with `withTimeline`,
/// its "timeline" (null when the file has no reading).
std::string jsonLine(const std::filesystem::path& file, const Reading& reading,
                     const DeliverySpec& spec, DamagePolicy damage, bool dualMono,
                     const FileFix* fix = nullptr, bool withTimeline = false);

/// "3 files: 1 pass, 1 fail, 1 without a reading", then "; 2 other files skipped" when folders
/// held files that are not audio, and with `dualMono` "; " and the dual-mono note.
std::string tallyLine(const std::vector<Reading>& readings, const DeliverySpec& spec,
                      DamagePolicy damage, std::size_t otherFiles, bool dualMono);

/// The verdict on a reading's result and findings; absent without a result.
std::optional<Verdict> verdictOf(const Reading& reading, const DeliverySpec& spec,
                                 DamagePolicy damage);

/// Display width of UTF-8 text in a terminal, counting one column per code point.
std::size_t displayWidth(std::string_view text);

/// `text` cut in the middle with "…" to at most `width` columns.
std::string shortenMiddle(std::string_view text, std::size_t width);

} // namespace tavrin::cli

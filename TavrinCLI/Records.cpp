#include "Records.h"

#include "CliTexts.h"
#include "Sessions.h"
#include "tavrin/reports/Report.h"
#include "tavrin/workflow/Workflow.h"

#include <chrono>
#include <system_error>

namespace tavrin::cli {

namespace fs = std::filesystem;

namespace {

/// Why the report `option` names would replace a file that must stay: any audio, or a file named
/// to be checked; absent when it replaces neither (or goes to standard output).
std::optional<std::string> replacedByReport(std::string_view option, const std::string& report,
                                            const Options& options,
                                            const AudioTypes::Selection& selection) {
    if (report.empty() || report == "-")
        return std::nullopt;
    const std::string named = std::string(option) + " " + report;
    if (AudioTypes::isExistingAudio(report) || AudioTypes::isAmong(report, selection.files))
        return Workflow::reportReplacesAudioMessage(named);
    if (AudioTypes::isAmong(report, options.paths))
        return CliTexts::reportIsAPath(named);
    return std::nullopt;
}

} // namespace

bool reportsReplaceNothing(const Options& options, const AudioTypes::Selection& selection,
                           Context& context) {
    for (const auto& [option, report] : {std::pair{"--csv", &options.csv},
                                         {"--pdf", &options.pdf},
                                         {"--session", &options.session}})
        if (const auto replaced = replacedByReport(option, *report, options, selection)) {
            context.err << *replaced << "\n";
            return false;
        }
    return true;
}

bool saveReport(const std::string& path, std::string_view bytes, Context& context) {
    if (path == "-") {
        context.out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return static_cast<bool>(context.out.flush());
    }
    try {
        Report::save(path, bytes);
        return true;
    } catch (const std::system_error& e) {
        context.err << Workflow::cantSaveReportMessage(path, e.code()) << "\n";
        return false;
    }
}

namespace {

/// Writes the requested reports, with the fix run's `fixes` when there was one; false (after
/// saying why) when one could not be written.
bool writeReports(const std::vector<fs::path>& files, const std::vector<Reading>& readings,
                  const std::vector<FileFix>& fixes, const Options& options,
                  const DeliverySpec& spec, Context& context) {
    std::vector<ReportRow> rows;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const Reading& reading = readings[i];
        const FileFix* fix = fixes.empty() ? nullptr : &fixes[i];
        rows.push_back(Workflow::reportRow(files[i], reading.format, reading.result, reading.error,
                                           fix ? fix->text(spec) : std::nullopt, reading.findings,
                                           options.damage, reading.timeline));
        if (const auto* written = fix ? fix->written() : nullptr)
            rows.back().copy =
                ReportRow::Copy{written->limiting.has_value(), written->encoding.has_value()};
    }
    bool written = true;
    if (!options.csv.empty())
        written &= saveReport(options.csv, Report::csv(rows, spec), context);
    if (!options.pdf.empty()) {
        const auto pdf =
            Report::pdf(rows, spec, CliTexts::reportTitle(spec.name), "Tavrin",
                        std::chrono::system_clock::now(),
                        {options.paper, options.dualMono, options.graphs, options.signOff});
        if (pdf.empty())
            context.err << Workflow::reportNotDrawn << "\n";
        written &= !pdf.empty() &&
                   saveReport(options.pdf, {reinterpret_cast<const char*>(pdf.data()), pdf.size()},
                              context);
    }
    return written;
}

} // namespace

bool writeRecords(const std::vector<fs::path>& files, const std::vector<Reading>& readings,
                  const std::vector<FileFix>& fixes, const Options& options,
                  const DeliverySpec& spec, Context& context) {
    const bool reports = writeReports(files, readings, fixes, options, spec, context);
    const bool session = options.session.empty() ||
                         saveSession(options.session, files, readings,
                                     fixes.empty() ? nullptr : &fixes, options, spec, context);
    return reports && session;
}

} // namespace tavrin::cli

#include "Cli.h"

#include "Measuring.h"
#include "Output.h"
#include "tavrin/AudioTypes.h"
#include "tavrin/DeliverySpec.h"
#include "tavrin/FixPlan.h"
#include "tavrin/Fmt.h"
#include "tavrin/Report.h"
#include "tavrin/Verdict.h"
#include "tavrin/Workflow.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>

namespace tavrin::cli {
namespace {

namespace fs = std::filesystem;

constexpr int exitPass = 0, exitFail = 1, exitUsage = 2, exitUnreadable = 3, exitCancelled = 130;

/// Options shared by check and fix.
struct Options {
    std::string presetID = DeliverySpec::ebuR128().id;
    bool dualMono = false;
    int jobs = 0;
    std::string csv, pdf;
    bool json = false;
    bool quiet = false;
    std::string out;
    std::vector<std::string> paths;
};

struct Context {
    std::ostream& out;
    std::ostream& err;
    const Terminal& terminal;
    const CancelCheck& isCancelled;
};

std::string presetIDs() {
    std::string ids;
    for (const auto& spec : DeliverySpec::all())
        ids += (ids.empty() ? "" : ", ") + spec.id;
    return ids;
}

void addCommonOptions(CLI::App& command, Options& options) {
    command
        .add_option("--preset", options.presetID, "Delivery spec to check against: " + presetIDs())
        ->default_str(options.presetID);
    command.add_flag("--dual-mono", options.dualMono,
                     "Count mono files as the same signal on two speakers (+3 dB)");
    command
        .add_option("--jobs", options.jobs,
                    "Files to measure at once (default: half the processors, at most 4)")
        ->check(CLI::Range(1, static_cast<int>(std::max(1u, std::thread::hardware_concurrency()))));
    command.add_option("--csv", options.csv,
                       "Write the CSV report to FILE (- for standard output)");
    command.add_option("--pdf", options.pdf, "Write the PDF report to FILE");
    command.add_flag("--quiet", options.quiet, "No progress line");
    command.add_option("paths", options.paths, "Audio files and folders (searched recursively)")
        ->required();
}

/// Expands the paths to audio files, saying what was not there. Empty means nothing to do.
std::vector<fs::path> collectFiles(const Options& options, std::ostream& err) {
    std::vector<fs::path> inputs;
    for (const auto& path : options.paths) {
        std::error_code ec;
        if (!fs::exists(fs::symlink_status(path, ec)))
            err << "Nothing at " << path << "; skipped.\n";
        inputs.emplace_back(path);
    }
    auto files = AudioTypes::audioFiles(inputs);
    if (files.empty())
        err << Workflow::noAudioFilesNotice << "\n";
    return files;
}

int jobsFor(const Options& options) {
    return options.jobs > 0 ? options.jobs
                            : Workflow::measuringWidth(std::thread::hardware_concurrency());
}

/// Measures every file, printing the table or JSON lines as results come in, then the tally.
std::vector<Reading> measureAndPrint(const std::vector<fs::path>& files, const Options& options,
                                     const DeliverySpec& spec, Context& context) {
    std::vector<Reading> readings(files.size());
    const bool table = !options.json && options.csv != "-";
    const Table printer(files, spec, context.terminal.colour);
    if (table)
        printer.printHeader(context.out);
    measureFiles(
        files, options.dualMono, jobsFor(options),
        [&](std::size_t i, const Reading& reading) {
            readings[i] = reading;
            if (options.json)
                context.out << jsonLine(files[i], reading, spec) << "\n" << std::flush;
            else if (table)
                printer.printRow(context.out, files[i], reading);
        },
        context.terminal.progress && !options.quiet ? &context.err : nullptr, context.isCancelled);
    if (table)
        context.out << tallyLine(readings, spec) << "\n";
    return readings;
}

/// Saves one report; false after saying why when it can't.
bool saveReport(const fs::path& path, std::string_view bytes, std::ostream& err) {
    try {
        Report::save(path, bytes);
        return true;
    } catch (const std::system_error& e) {
        err << Workflow::cantSaveReportMessage(path, e.code()) << "\n";
        return false;
    }
}

/// Writes the requested reports; false (after saying why) when one could not be written.
bool writeReports(const std::vector<fs::path>& files, const std::vector<Reading>& readings,
                  const std::vector<std::optional<std::string>>& fixTexts, const Options& options,
                  const DeliverySpec& spec, Context& context) {
    std::vector<ReportRow> rows;
    for (std::size_t i = 0; i < files.size(); ++i)
        rows.push_back(Workflow::reportRow(files[i], readings[i].format, readings[i].result,
                                           readings[i].error, fixTexts[i]));
    bool written = true;
    if (!options.csv.empty()) {
        const std::string csv = Report::csv(rows, spec);
        if (options.csv == "-")
            context.out << csv << std::flush;
        else
            written &= saveReport(options.csv, csv, context.err);
    }
    if (!options.pdf.empty()) {
        const auto pdf = Report::pdf(rows, spec, "Loudness report: " + spec.name, "Tavrin",
                                     std::chrono::system_clock::now());
        written &= saveReport(options.pdf, {reinterpret_cast<const char*>(pdf.data()), pdf.size()},
                              context.err);
    }
    return written;
}

int check(const Options& options, const DeliverySpec& spec, Context& context) {
    const auto files = collectFiles(options, context.err);
    if (files.empty())
        return exitUsage;
    const auto readings = measureAndPrint(files, options, spec, context);
    const bool reportsWritten =
        writeReports(files, readings, std::vector<std::optional<std::string>>(files.size()),
                     options, spec, context);
    bool unreadable = !reportsWritten, failing = false;
    for (const Reading& reading : readings) {
        unreadable |= !reading.result.has_value();
        failing |=
            reading.result && Verdict::make(*reading.result, spec).status != Verdict::Status::pass;
    }
    return unreadable ? exitUnreadable : failing ? exitFail : exitPass;
}

/// Writes a copy of every failing file that gain alone can fix, one at a time, printing each
/// outcome and then the summary the app shows.
int fix(const Options& options, const DeliverySpec& spec, Context& context) {
    std::optional<fs::path> outputFolder;
    if (!options.out.empty()) {
        std::error_code ec;
        if (!fs::is_directory(options.out, ec)) {
            context.err << "There is no folder at " << options.out << ".\n";
            return exitUsage;
        }
        outputFolder = fs::absolute(options.out, ec).lexically_normal();
    }
    const auto files = collectFiles(options, context.err);
    if (files.empty())
        return exitUsage;
    const auto readings = measureAndPrint(files, options, spec, context);

    std::vector<std::optional<std::string>> fixTexts(files.size());
    std::vector<bool> passes(files.size(), false); // the original or its copy passes
    struct Job {
        std::size_t index;
        double gain;
    };
    std::vector<Job> jobs;
    std::size_t candidates = 0;
    context.out << "\n";
    for (std::size_t i = 0; i < files.size(); ++i) {
        passes[i] = readings[i].result &&
                    Verdict::make(*readings[i].result, spec).status == Verdict::Status::pass;
        const auto plan = Workflow::fixPlanFor(readings[i].result, spec);
        if (!plan)
            continue;
        ++candidates;
        if (const auto* gain = std::get_if<FixPlan::Gain>(&plan->value)) {
            jobs.push_back({i, gain->gain});
        } else if (const auto* refused = std::get_if<FixPlan::Refused>(&plan->value)) {
            fixTexts[i] = std::string(Workflow::fixTextRefused);
            context.out << files[i].filename().string() << ": Needs a limiter. " << refused->message
                        << "\n";
        }
    }
    if (candidates == 0) {
        context.out << Workflow::nothingToFixTitle << ": "
                    << Workflow::nothingToFixMessage(spec, false) << "\n";
    } else if (jobs.empty()) {
        context.out << Workflow::cantFixTitle << ": " << Workflow::cantFixMessage(spec) << "\n";
    }

    int written = 0;
    for (const Job& job : jobs) {
        if (context.isCancelled && context.isCancelled())
            throw Cancelled();
        const fs::path& file = files[job.index];
        const auto outcome = Workflow::writeFixedCopy(file, job.gain, spec, outputFolder,
                                                      options.dualMono, context.isCancelled);
        if (const auto* copy = std::get_if<Workflow::CopyOutcome::Written>(&outcome.value)) {
            ++written;
            fixTexts[job.index] = Workflow::fixTextWritten(*copy);
            const Verdict verdict = Verdict::make(copy->result, spec);
            passes[job.index] = verdict.status == Verdict::Status::pass;
            context.out << file.filename().string() << " → " << *fixTexts[job.index]
                        << (passes[job.index] ? "" : " (" + verdict.summary() + ")") << "\n";
        } else {
            const auto& failed = std::get<Workflow::CopyOutcome::Failed>(outcome.value);
            fixTexts[job.index] = Workflow::fixTextFailed(failed.message);
            context.out << file.filename().string() << ": Not written. " << failed.message << "\n";
        }
    }
    if (!jobs.empty())
        context.out << Workflow::fixedCopiesTitle << ": "
                    << Workflow::fixedCopiesMessage(written, static_cast<int>(jobs.size()),
                                                    static_cast<int>(candidates - jobs.size()),
                                                    outputFolder)
                    << "\n";

    const bool reportsWritten = writeReports(files, readings, fixTexts, options, spec, context);
    const bool unreadable =
        std::any_of(readings.begin(), readings.end(), [](const Reading& r) { return !r.result; });
    const bool allPass = std::all_of(passes.begin(), passes.end(), [](bool p) { return p; });
    return unreadable || !reportsWritten || written < static_cast<int>(jobs.size()) ? exitUnreadable
           : allPass                                                                ? exitPass
                                                                                    : exitFail;
}

int presets(Context& context) {
    for (const auto& spec : DeliverySpec::all()) {
        context.out << spec.id << "\t" << spec.name << "\t" << spec.ruleText() << "\n";
        if (spec.caution)
            context.out << "\t" << *spec.caution << "\n";
    }
    return exitPass;
}

} // namespace

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        const Terminal& terminal, const CancelCheck& isCancelled) {
    CLI::App app("Checks audio files against a loudness delivery spec (EBU R 128, Apple Podcasts, "
                 "Spotify, YouTube, ATSC A/85) and writes gain-adjusted copies of files that fail "
                 "only on level.",
                 "tavrin-cli");
    app.set_version_flag("--version", "tavrin-cli " TAVRIN_VERSION);
    app.require_subcommand(1);
    Options options;
    auto* checkCommand =
        app.add_subcommand("check", "Measure files and judge them against a preset");
    addCommonOptions(*checkCommand, options);
    checkCommand->add_flag("--json", options.json,
                           "One JSON object per file per line instead of the table");
    auto* fixCommand = app.add_subcommand(
        "fix", "Measure files, then write a gain-adjusted copy of every file that fails");
    addCommonOptions(*fixCommand, options);
    fixCommand->add_option("--out", options.out,
                           "Folder for the copies (default: next to each original)");
    auto* presetsCommand = app.add_subcommand("presets", "List the delivery specs");

    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        return app.exit(e, out, err) == 0 ? exitPass : exitUsage;
    }
    Context context{out, err, terminal, isCancelled};
    if (presetsCommand->parsed())
        return presets(context);
    const auto spec = DeliverySpec::preset(options.presetID);
    if (!spec) {
        err << "There is no preset \"" << options.presetID << "\". Use one of: " << presetIDs()
            << ".\n";
        return exitUsage;
    }
    try {
        return checkCommand->parsed() ? check(options, *spec, context)
                                      : fix(options, *spec, context);
    } catch (const Cancelled&) {
        err << "Stopped.\n";
        return exitCancelled;
    }
}

} // namespace tavrin::cli

#include "Commands.h"

#include "CliTexts.h"
#include "Output.h"
#include "Records.h"
#include "tavrin/core/AudioFileError.h"
#include "tavrin/core/AudioTypes.h"
#include "tavrin/meter/AudioFileMeter.h"
#include "tavrin/reports/Graph.h"
#include "tavrin/reports/Report.h"
#include "tavrin/rules/Verdict.h"
#include "tavrin/workflow/Workflow.h"

#include <algorithm>

namespace tavrin::cli {
namespace {

namespace fs = std::filesystem;

/// The files a run measured and their readings, and whether a named path gave nothing.
struct Measured {
    std::vector<fs::path> files;
    std::vector<Reading> readings;
    std::size_t otherFiles = 0;
    bool unusablePaths = false;
};

bool passes(const Reading& reading, const DeliverySpec& spec, DamagePolicy damage) {
    const auto verdict = verdictOf(reading, spec, damage);
    return verdict && verdict->status == Verdict::Status::pass;
}

/// A copy passes on its level, unless it is a copy of damaged audio and damage fails.
bool copyPasses(const Workflow::CopyOutcome::Written& copy, const DeliverySpec& spec,
                DamagePolicy damage) {
    return Verdict::make(copy.result, spec).status == Verdict::Status::pass &&
           !(copy.ofDamaged && damage == DamagePolicy::fail);
}

std::ostream* progressStream(const Options& options, Context& context) {
    return context.terminal.progress && !options.quiet ? &context.err : nullptr;
}

/// What the reports need of a reading once its line is printed: a timeline only for a graph page,
/// and then no finer than the page draws it, so that a long run doesn't hold every file's.
Reading keptForReports(const Reading& reading, const Options& options) {
    Reading kept = reading;
    kept.timeline =
        options.graphs && reading.timeline
            ? std::make_shared<const Timeline>(reading.timeline->reduced(Report::graphPageSteps))
            : nullptr;
    return kept;
}

/// Says why each unusable path of `selection` gave nothing, then measures every file, printing
/// the table (or, with `streamJson`, JSON lines) as results come in, and the tally.
Measured measureSelection(const AudioTypes::Selection& selection, const Options& options,
                          const DeliverySpec& spec, Context& context, bool streamJson) {
    for (const auto& unusable : selection.unusable)
        context.err << Workflow::unusableMessage(unusable) << "\n";
    Measured measured{selection.files, std::vector<Reading>(selection.files.size()),
                      selection.otherFiles, !selection.unusable.empty()};
    if (measured.files.empty()) {
        if (!measured.unusablePaths)
            context.err << Workflow::noAudioFilesNotice << "\n";
        return measured;
    }
    const bool table = !options.dataOnStdout();
    const Table printer(measured.files, spec, options.damage, context.terminal.colour);
    if (table)
        printer.printHeader(context.out);
    measureFiles(
        measured.files, options.dualMono, options.jobs,
        [&](std::size_t i, const Reading& reading) {
            measured.readings[i] = keptForReports(reading, options);
            if (streamJson)
                context.out << jsonLine(measured.files[i], reading, spec, options.damage,
                                        options.dualMono, nullptr, options.timeline)
                            << "\n"
                            << std::flush;
            else if (table)
                printer.printRow(context.out, measured.files[i], reading);
        },
        progressStream(options, context), context.isCancelled, options.timeline || options.graphs);
    context.notes(options) << tallyLine(measured.readings, spec, options.damage,
                                        measured.otherFiles, options.dualMono)
                           << "\n";
    return measured;
}

/// The exit status when nothing was measured: a named path that gave nothing is an error, an
/// empty selection a usage mistake.
int nothingMeasured(const Measured& measured) {
    return measured.unusablePaths ? exitUnreadable : exitUsage;
}

/// 3 when something could not be read or written, else 0 when every file passes, else 1.
int exitStatus(bool trouble, const std::vector<bool>& passing) {
    if (trouble)
        return exitUnreadable;
    return std::all_of(passing.begin(), passing.end(), [](bool p) { return p; }) ? exitPass
                                                                                 : exitFail;
}

bool anyUnread(const Measured& measured) {
    return measured.unusablePaths || std::any_of(measured.readings.begin(), measured.readings.end(),
                                                 [](const Reading& r) { return !r.result; });
}

/// Whether fix writes a copy of the file with plan `fix.plan`: a gain-only one for a gain that
/// reaches the target, or (with the limiter) for one short of it; with the limiter, a limited
/// one for the files gain alone can't fix fully, unless the limiter refuses them outright. A
/// damaged file is left alone while damage fails files, unless asked for.
enum class Job { none, gain, limited };

Job jobFor(FileFix& fix, const Reading& reading, const DeliverySpec& spec, const Options& options) {
    if (!fix.plan)
        return Job::none;
    if (options.damage == DamagePolicy::fail && !options.fixDamaged &&
        anyDamage(reading.findings)) {
        fix.damaged = Workflow::fixTextDamaged(reading.findings);
        return Job::none;
    }
    const auto& result = reading.result;
    if (options.limiter && Workflow::limiterTakes(result, spec)) {
        fix.notLimited = Workflow::limiterRefusal(*result, spec);
        return fix.notLimited ? Job::none : Job::limited;
    }
    return std::holds_alternative<FixPlan::Gain>(fix.plan->value) ? Job::gain : Job::none;
}

/// Writes a copy of every file that gets one, one at a time.
std::vector<FileFix> writeCopies(const Measured& measured, const DeliverySpec& spec,
                                 const Options& options, Context& context) {
    std::vector<FileFix> fixes(measured.files.size());
    std::vector<std::pair<std::size_t, Job>> jobs;
    for (std::size_t i = 0; i < fixes.size(); ++i) {
        const auto& result = measured.readings[i].result;
        fixes[i].plan = Workflow::fixPlanFor(result, spec);
        if (const Job job = jobFor(fixes[i], measured.readings[i], spec, options); job != Job::none)
            jobs.emplace_back(i, job);
    }
    std::ostream* progress = progressStream(options, context);
    for (std::size_t done = 0; done < jobs.size(); ++done) {
        if (context.isCancelled && context.isCancelled())
            throw Cancelled();
        const auto [index, job] = jobs[done];
        const fs::path& file = measured.files[index];
        if (progress)
            *progress << "\r\033[K"
                      << CliTexts::writingCopy(job == Job::limited, done + 1, jobs.size(),
                                               file.filename().string())
                      << std::flush;
        FileFix& fix = fixes[index];
        const Reading& reading = measured.readings[index];
        fix.copy =
            job == Job::limited
                ? Workflow::writeLimitedCopy(file, *reading.result, spec, options.out,
                                             options.dualMono, context.isCancelled,
                                             options.copyFormat, reading.findings)
                : Workflow::writeFixedCopy(file, std::get<FixPlan::Gain>(fix.plan->value).gain,
                                           spec, options.out, options.dualMono, context.isCancelled,
                                           options.copyFormat, reading.findings);
        // The limiter may find only once it has read the file that it won't take it.
        if (const auto* refused = std::get_if<Workflow::CopyOutcome::Refused>(&fix.copy->value)) {
            fix.notLimited = refused->message;
            fix.copy.reset();
        }
    }
    if (progress)
        *progress << "\r\033[K" << std::flush;
    return fixes;
}

/// Why there was nothing to fix, in step with the tally: no file failed, or failed only for its
/// damage.
std::string nothingToFixSummary(const Measured& measured, const DeliverySpec& spec,
                                DamagePolicy damage) {
    const auto damaged =
        static_cast<int>(std::ranges::count_if(measured.readings, [&](const Reading& r) {
            return damage == DamagePolicy::fail && r.result && anyDamage(r.findings);
        }));
    if (damaged > 0)
        return std::string(Workflow::nothingToFixTitle) + ": " +
               Workflow::onlyDamageFailsMessage(damaged);
    const auto passing =
        static_cast<int>(std::ranges::count_if(measured.readings, [&](const Reading& r) {
            return r.result && Verdict::make(*r.result, spec).status == Verdict::Status::pass;
        }));
    const int withoutReading = static_cast<int>(measured.readings.size()) - passing;
    return std::string(Workflow::nothingToFixTitle) + ": " +
           Workflow::nothingToFixMessage(spec, false, passing, withoutReading);
}

/// The one sentence that sums the fix run up, as the app's alert says it.
std::string fixSummary(const Measured& measured, const std::vector<FileFix>& fixes,
                       const DeliverySpec& spec, const Options& options) {
    int candidates = 0;
    Workflow::FixRunCounts counts;
    for (const FileFix& fix : fixes) {
        candidates += fix.plan.has_value();
        counts.jobs += fix.copy.has_value();
        counts.written += fix.written() != nullptr;
        counts.ofDamaged += fix.written() && fix.written()->ofDamaged;
        counts.stillFailing += fix.written() && Verdict::make(fix.written()->result, spec).status !=
                                                    Verdict::Status::pass;
        counts.damaged += fix.damaged.has_value();
    }
    if (candidates == 0)
        return nothingToFixSummary(measured, spec, options.damage);
    // With the limiter, a file gain alone can't fix that gets no copy is one it refused.
    const int refused = candidates - counts.jobs - counts.damaged;
    if (counts.jobs == 0 && refused == 0)
        return std::string(Workflow::damagedNotFixedTitle) + ": " +
               Workflow::damagedLeftMessage(counts.damaged);
    if (counts.jobs == 0 && counts.damaged == 0)
        return options.limiter
                   ? std::string(Workflow::cantLimitTitle) + ": " +
                         Workflow::limiterRefusedMessage(refused)
                   : std::string(Workflow::cantFixTitle) + ": " + Workflow::cantFixMessage(spec);
    counts.skipped = options.limiter ? 0 : refused;
    std::string summary = std::string(Workflow::fixedCopiesTitle) + ": " +
                          Workflow::fixedCopiesMessage(counts, options.out);
    if (options.limiter && refused > 0)
        summary += " " + Workflow::limiterRefusedMessage(refused);
    return summary;
}

/// The copy's verdict when it does not pass, for the line under its row.
std::string copyNote(const FileFix& fix, const DeliverySpec& spec) {
    if (!fix.written() ||
        Verdict::make(fix.written()->result, spec).status == Verdict::Status::pass)
        return {};
    return CliTexts::theCopy(Verdict::make(fix.written()->result, spec).summary());
}

/// Makes the folder for the copies when one is asked for; false after saying why it can't.
bool makeOutputFolder(const Options& options, Context& context) {
    if (!options.out)
        return true;
    std::error_code ec;
    fs::create_directories(*options.out, ec);
    if (!ec && fs::is_directory(*options.out))
        return true;
    context.err << Workflow::cantCreateFolderMessage(*options.out, ec) << "\n";
    return false;
}

/// After the copies: one JSON line per file with its outcome, or the table again with the Fix
/// column as the reports fill it; then the run's summary.
void showOutcomes(const Measured& measured, const std::vector<FileFix>& fixes,
                  const DeliverySpec& spec, const Options& options, Context& context) {
    for (std::size_t i = 0; options.json && i < fixes.size(); ++i)
        context.out << jsonLine(measured.files[i], measured.readings[i], spec, options.damage,
                                options.dualMono, &fixes[i])
                    << "\n";
    const bool anyPlan = std::any_of(fixes.begin(), fixes.end(),
                                     [](const FileFix& f) { return f.plan.has_value(); });
    if (!options.dataOnStdout() && anyPlan) {
        const Table printer(measured.files, spec, options.damage, context.terminal.colour);
        context.out << "\n";
        printer.printHeader(context.out);
        for (std::size_t i = 0; i < fixes.size(); ++i)
            printer.printRow(context.out, measured.files[i], measured.readings[i],
                             fixes[i].text(spec).value_or(""), copyNote(fixes[i], spec));
    }
    context.notes(options) << fixSummary(measured, fixes, spec, options) << "\n";
}

} // namespace

int check(const Options& options, const DeliverySpec& spec, Context& context) {
    const AudioTypes::Selection selection = AudioTypes::scan(options.paths);
    if (!reportsReplaceNothing(options, selection, context))
        return exitUsage;
    const Measured measured = measureSelection(selection, options, spec, context, options.json);
    if (measured.files.empty())
        return nothingMeasured(measured);
    const bool reportsWritten =
        writeRecords(measured.files, measured.readings, {}, options, spec, context);
    std::vector<bool> passing;
    for (const Reading& reading : measured.readings)
        passing.push_back(passes(reading, spec, options.damage));
    return exitStatus(anyUnread(measured) || !reportsWritten, passing);
}

/// Measures, writes a copy of every failing file that gain alone can fix, then shows what became
/// of each file.
int fix(const Options& options, const DeliverySpec& spec, Context& context) {
    const AudioTypes::Selection selection = AudioTypes::scan(options.paths);
    if (!reportsReplaceNothing(options, selection, context))
        return exitUsage;
    if (!makeOutputFolder(options, context))
        return exitUnreadable;
    const Measured measured = measureSelection(selection, options, spec, context, false);
    if (measured.files.empty())
        return nothingMeasured(measured);
    const std::vector<FileFix> fixes = writeCopies(measured, spec, options, context);
    showOutcomes(measured, fixes, spec, options, context);

    std::vector<bool> passing; // the original or its copy passes
    bool copyFailed = false;
    for (std::size_t i = 0; i < fixes.size(); ++i) {
        passing.push_back(
            passes(measured.readings[i], spec, options.damage) ||
            (fixes[i].written() && copyPasses(*fixes[i].written(), spec, options.damage)));
        copyFailed |= fixes[i].copyFailed();
    }
    const bool reportsWritten =
        writeRecords(measured.files, measured.readings, fixes, options, spec, context);
    return exitStatus(anyUnread(measured) || !reportsWritten || copyFailed, passing);
}

/// The stretch `options` ask for, measured again in 100 ms steps when the file's `timeline` has
/// merged them; nothing otherwise, or when it can't be read again.
std::optional<TimelineStretch> closeLook(const fs::path& file, const Timeline& timeline,
                                         const Options& options, Context& context) {
    if (!options.span || timeline.step <= Timeline::baseStep)
        return std::nullopt;
    try {
        const TimeSpan stretch{options.span->start, std::min(options.span->end, timeline.duration)};
        return AudioFileMeter::measureStretch(file, options.dualMono, stretch, context.isCancelled);
    } catch (const AudioFileError&) {
        return std::nullopt; // drawn at the merged steps
    }
}

int graph(const Options& options, const DeliverySpec& spec, Context& context) {
    const AudioTypes::Selection selection = AudioTypes::scan(options.paths);
    for (const auto& unusable : selection.unusable)
        context.err << Workflow::unusableMessage(unusable) << "\n";
    if (!selection.unusable.empty())
        return exitUnreadable;
    if (selection.files.size() != 1) {
        context.err << CliTexts::graphDrawsOne(selection.files.size()) << "\n";
        return exitUsage;
    }
    const fs::path& file = selection.files.front();
    const Reading reading =
        Workflow::measure(file, options.dualMono, {}, context.isCancelled, true);
    if (!reading.result || !reading.timeline) {
        context.err << file.filename().string() << ": " << reading.error.value_or("") << "\n";
        return exitUnreadable;
    }
    std::optional<Reading> copy;
    if (options.drawnCopy) {
        copy =
            Workflow::measure(*options.drawnCopy, options.dualMono, {}, context.isCancelled, true);
        if (!copy->timeline) {
            context.err << options.drawnCopy->filename().string() << ": "
                        << copy->error.value_or("") << "\n";
            return exitUnreadable;
        }
    }
    const std::optional<TimelineStretch> detail =
        closeLook(file, *reading.timeline, options, context);
    const Graph::Content content{*reading.timeline,
                                 *reading.result,
                                 spec,
                                 options.span,
                                 copy ? &*copy->timeline : nullptr,
                                 detail ? &*detail : nullptr};
    // A wide picture at a size a README or a ticket shows without scaling.
    const Graph::Style style{
        .palette = options.dark ? Graph::Palette::dark() : Graph::Palette::light(), .fontSize = 12};
    const auto bytes = Graph::encode(*Graph::fileTypeFor(*options.out), 1200, 420, content, style);
    if (bytes.empty() ||
        !saveReport(options.out->string(),
                    {reinterpret_cast<const char*>(bytes.data()), bytes.size()}, context)) {
        if (bytes.empty())
            context.err << CliTexts::graphNotDrawn << "\n";
        return exitUnreadable;
    }
    context.out << Graph::description(content) << "\n";
    return exitPass;
}

} // namespace tavrin::cli

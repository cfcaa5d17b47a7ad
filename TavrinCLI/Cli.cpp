#include "Cli.h"

#include "CliTexts.h"
#include "Commands.h"
#include "Sessions.h"
#include "tavrin/reports/Graph.h"
#include "tavrin/rules/DeliverySpec.h"
#include "tavrin/workflow/Workflow.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <thread>
#include <tuple>

namespace tavrin::cli {
namespace {

bool isCommand(std::string_view name) {
    return name == "check" || name == "fix" || name == "verify" || name == "graph" ||
           name == "presets" || name == "help";
}

/// A mistake in the command line, as the sentence that explains it.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// The options as typed; numbers are read after parsing so that each mistake gets a sentence.
struct Typed {
    std::string preset, target, tolerance, maxTruePeak, targetFile, jobs, out, paper, copyFormat,
        damage, from, to, copy;
    std::vector<std::string> paths;
    bool presetsJson = false;
};

/// `status`, unless the output never reached standard output (a full disk, a pipe whose reader
/// ignores SIGPIPE's cue): that is a failure, said once, rather than a silent pass.
int delivered(int status, std::ostream& out, std::ostream& err) {
    if (out.flush())
        return status;
    // No reason is given: a stream that failed earlier keeps no trace of why.
    err << CliTexts::resultsNotWritten << "\n";
    return exitUnreadable;
}

std::string presetIDs() {
    std::string ids;
    for (const auto& spec : DeliverySpec::all())
        ids += (ids.empty() ? "" : ", ") + spec.id;
    return ids;
}

/// The options that choose the spec a file is judged against, and how mono counts.
void addSpecOptions(CLI::App& command, Options& options, Typed& typed) {
    command.add_option("--preset", typed.preset, "Delivery spec to check against: " + presetIDs())
        ->type_name("ID")
        ->default_str(DeliverySpec::ebuR128().id);
    command
        .add_option("--target", typed.target,
                    "A custom target instead of a preset (e.g. -19 for mono podcasts)")
        ->type_name("LUFS");
    command.add_option("--tolerance", typed.tolerance, "With --target: the window around it")
        ->type_name("LU")
        ->default_str("1.0");
    command.add_option("--max-true-peak", typed.maxTruePeak, "With --target: the ceiling")
        ->type_name("dBTP")
        ->default_str("-1.0");
    command
        .add_option("--target-file", typed.targetFile,
                    "A named target kept as a JSON file (see the README), instead of a preset")
        ->type_name("FILE");
    command.add_flag("--dual-mono", options.dualMono,
                     "Count mono files as the same signal on two speakers (+3 dB)");
}

void addCommonOptions(CLI::App& command, Options& options, Typed& typed) {
    addSpecOptions(command, options, typed);
    command
        .add_option("--jobs", typed.jobs,
                    "Files to measure at once (default: half the processors, at most 4)")
        ->type_name("N");
    command
        .add_option("--csv", options.csv, "Write the CSV report to FILE (- for standard output)")
        ->type_name("FILE");
    command
        .add_option("--pdf", options.pdf, "Write the PDF report to FILE (- for standard output)")
        ->type_name("FILE");
    command.add_option("--paper", typed.paper, "Paper for the PDF report, landscape: letter or a4")
        ->type_name("SIZE")
        ->default_str("letter");
    command.add_flag("--graphs", options.graphs,
                     "Add a page with each file's loudness over time to the PDF report");
    command
        .add_option("--operator", options.signOff.operatorName,
                    "Who checked the files, printed on the PDF report")
        ->type_name("NAME");
    command.add_option("--job", options.signOff.job, "The job or order number, on the PDF report")
        ->type_name("ID");
    command.add_option("--notes", options.signOff.notes, "Notes for the PDF report's first page")
        ->type_name("TEXT");
    command
        .add_option("--session", options.session,
                    "Save the run as a session (the files, their readings and copies) to FILE, "
                    "to open in the app or check with verify")
        ->type_name("FILE.tavrin");
    command.add_flag("--json", options.json,
                     "One JSON object per file per line instead of the table");
    command.add_flag("--quiet", options.quiet, "No progress line");
    command
        .add_option("--damage", typed.damage,
                    "fail: damaged audio (cut off, undecodable, clipped, dropping out, a damaged "
                    "container) fails its file; warn: it is only a warning")
        ->type_name("fail|warn")
        ->default_str("fail");
    command.add_option("paths", typed.paths, "Audio files and folders (searched recursively)")
        ->type_name("PATH");
}

/// "-19", "−19" (with a true minus sign), "+1" or "0.5" as a number; nothing for anything else.
std::optional<double> number(std::string text) {
    if (text.starts_with("−"))
        text.replace(0, std::string_view("−").size(), "-");
    else if (text.starts_with("+"))
        text.erase(0, 1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<double> numberOption(const std::string& text, std::string_view option,
                                   std::string_view example) {
    if (text.empty())
        return std::nullopt;
    if (const auto value = number(text))
        return value;
    throw UsageError(CliTexts::needs(option, "a number such as " + std::string(example), text));
}

/// The preset named in any letter case, the custom target, or the target file's.
DeliverySpec specFor(const Typed& typed) {
    if (!typed.targetFile.empty()) {
        if (!typed.preset.empty() || !typed.target.empty())
            throw UsageError(std::string(CliTexts::presetOrTarget));
        if (!typed.tolerance.empty() || !typed.maxTruePeak.empty())
            throw UsageError(std::string(CliTexts::limitsGoWithTarget));
        try {
            return Workflow::readTargetFile(typed.targetFile);
        } catch (const std::invalid_argument& e) {
            throw UsageError(e.what());
        }
    }
    if (typed.target.empty()) {
        if (!typed.tolerance.empty() || !typed.maxTruePeak.empty())
            throw UsageError(std::string(CliTexts::limitsGoWithTarget));
        std::string id = typed.preset.empty() ? DeliverySpec::ebuR128().id : typed.preset;
        std::transform(id.begin(), id.end(), id.begin(), [](unsigned char c) {
            return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        });
        if (auto spec = DeliverySpec::preset(id))
            return *spec;
        throw UsageError(CliTexts::noPreset(typed.preset, presetIDs()));
    }
    if (!typed.preset.empty())
        throw UsageError(std::string(CliTexts::presetOrTarget));
    try {
        return Workflow::customSpec(*numberOption(typed.target, "--target", "-19"),
                                    numberOption(typed.tolerance, "--tolerance", "1"),
                                    numberOption(typed.maxTruePeak, "--max-true-peak", "-1"));
    } catch (const std::invalid_argument& e) {
        throw UsageError(e.what());
    }
}

/// The paper named in any letter case; Letter when none is named.
Report::Paper paperFor(const std::string& name, const Options& options) {
    if (name.empty())
        return Report::Paper::letter;
    if (options.pdf.empty())
        throw UsageError(CliTexts::goesWith("--paper", "--pdf"));
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    if (lower == "a4")
        return Report::Paper::a4;
    if (lower == "letter")
        return Report::Paper::letter;
    throw UsageError(CliTexts::needs("--paper", "a4 or letter", name));
}

GainWriter::CopyFormat copyFormatFor(const std::string& name) {
    if (name.empty() || name == "wav")
        return GainWriter::CopyFormat::wav;
    if (name == "original")
        return GainWriter::CopyFormat::original;
    throw UsageError(CliTexts::needs("--copy-format", "wav or original", name));
}

DamagePolicy damagePolicyFor(const std::string& name) {
    if (name.empty() || name == "fail")
        return DamagePolicy::fail;
    if (name == "warn")
        return DamagePolicy::warn;
    throw UsageError(CliTexts::needs("--damage", "fail or warn", name));
}

/// Fills in what needs checking beyond the parser: files to name, jobs, one format on stdout.
void finish(Options& options, const Typed& typed, const Terminal& terminal) {
    if (typed.paths.empty())
        throw UsageError(std::string(CliTexts::nameFiles));
    options.paths.assign(typed.paths.begin(), typed.paths.end());
    if (!typed.out.empty())
        options.out = std::filesystem::absolute(typed.out).lexically_normal();
    options.jobs = Workflow::measuringWidth(std::thread::hardware_concurrency());
    if (!typed.jobs.empty()) {
        const auto jobs = number(typed.jobs);
        if (!jobs || *jobs < 1 || *jobs != std::floor(*jobs))
            throw UsageError(CliTexts::needs("--jobs", "a whole number of at least 1", typed.jobs));
        // More threads than files, or than any machine has, would only wait.
        options.jobs = static_cast<int>(std::min(*jobs, 1024.0));
    }
    options.paper = paperFor(typed.paper, options);
    options.copyFormat = copyFormatFor(typed.copyFormat);
    options.damage = damagePolicyFor(typed.damage);
    if (options.timeline && !options.json)
        throw UsageError(CliTexts::goesWith("--timeline", "--json"));
    if (options.graphs && options.pdf.empty())
        throw UsageError(CliTexts::goesWith("--graphs", "--pdf"));
    if (!options.signOff.empty() && options.pdf.empty())
        throw UsageError(std::string(CliTexts::signOffGoesWithPdf));
    if (options.json + (options.csv == "-") + (options.pdf == "-") > 1)
        throw UsageError(std::string(CliTexts::oneOnStandardOutput));
    if (options.pdf == "-" && terminal.outputIsTerminal)
        throw UsageError(std::string(CliTexts::pdfInTerminal));
}

/// Seconds from "95.5", "41:00" or "1:02:03.5"; absent for anything else.
std::optional<double> parseTime(const std::string& text) {
    double seconds = 0;
    std::size_t parts = 0, at = 0;
    while (at <= text.size() && parts < 3) {
        const std::size_t colon = std::min(text.find(':', at), text.size());
        const std::string part = text.substr(at, colon - at);
        const bool last = colon == text.size();
        double value = 0;
        const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
        if (part.empty() || !std::isdigit(static_cast<unsigned char>(part[0])) ||
            error != std::errc() || end != part.data() + part.size() || !std::isfinite(value) ||
            (!last && part.find('.') != part.npos) || (parts > 0 && value >= 60))
            return std::nullopt;
        seconds = seconds * 60 + value;
        ++parts;
        at = colon + 1;
        if (last)
            return seconds;
    }
    return std::nullopt;
}

/// The stretch `--from` and `--to` name, checked; absent when neither is given.
std::optional<TimeSpan> spanOf(const Typed& typed) {
    if (typed.from.empty() && typed.to.empty())
        return std::nullopt;
    TimeSpan span{0, std::numeric_limits<double>::infinity()};
    for (const auto& [option, text, into] : {std::tuple{"--from", &typed.from, &span.start},
                                             std::tuple{"--to", &typed.to, &span.end}}) {
        if (text->empty())
            continue;
        const auto seconds = parseTime(*text);
        if (!seconds)
            throw UsageError(CliTexts::needs(option, CliTexts::timeExample, *text));
        *into = *seconds;
    }
    if (span.end <= span.start)
        throw UsageError(std::string(CliTexts::toBeforeFrom));
    return span;
}

/// The file and picture graph is to draw, checked.
void finishGraph(Options& options, const Typed& typed) {
    if (typed.paths.empty())
        throw UsageError(std::string(CliTexts::nameFileToDraw));
    if (typed.out.empty())
        throw UsageError(std::string(CliTexts::graphNeedsOut));
    if (!Graph::fileTypeFor(typed.out))
        throw UsageError(
            CliTexts::needs("--out", "a name ending in .svg, .png or .pdf", typed.out));
    options.paths.assign(typed.paths.begin(), typed.paths.end());
    options.out = std::filesystem::absolute(typed.out).lexically_normal();
    options.span = spanOf(typed);
    if (!typed.copy.empty())
        options.drawnCopy = typed.copy;
}

int presets(bool json, std::ostream& out) {
    for (const auto& spec : DeliverySpec::all()) {
        if (json) {
            out << spec.toJson() << "\n";
            continue;
        }
        out << spec.id << "\t" << spec.name << "\t" << spec.ruleText() << "\n";
        if (spec.caution)
            out << "\t" << *spec.caution << "\n";
    }
    return exitPass;
}

/// CLI11's description of a parse error as a sentence, with where to look.
std::string parseErrorSentence(const CLI::ParseError& e, std::string_view command) {
    return CliTexts::seeHelp(e.what(), command);
}

/// The commands and their options, bound to `options` and `typed`.
struct Commands {
    CLI::App* check;
    CLI::App* fix;
    CLI::App* verify;
    CLI::App* graph;
    CLI::App* presets;
};

Commands describe(CLI::App& app, Options& options, Typed& typed) {
    app.set_version_flag("--version", "tavrin-cli " TAVRIN_VERSION);
    auto* checkCommand =
        app.add_subcommand("check", "Measure files and judge them against a preset");
    addCommonOptions(*checkCommand, options, typed);
    checkCommand->add_flag("--timeline", options.timeline,
                           "With --json: add each file's loudness over time");
    auto* fixCommand = app.add_subcommand(
        "fix", "Measure files, then write a gain-adjusted copy of every file that fails");
    addCommonOptions(*fixCommand, options, typed);
    fixCommand
        ->add_option("--out", typed.out,
                     "Folder for the copies, made when missing (default: next to each original)")
        ->type_name("DIR");
    fixCommand->add_flag("--limiter", options.limiter,
                         "Also fix the files gain alone can't: gain to the target plus a "
                         "true-peak limiter, into copies named \"(…, limited)\"");
    fixCommand
        ->add_option("--copy-format", typed.copyFormat,
                     "wav: WAV copies (AIFF for AIFF originals); original: FLAC, ALAC, AAC and "
                     "MP3 originals keep their format, tags and artwork")
        ->type_name("wav|original")
        ->default_str("wav");
    fixCommand->add_flag("--damaged", options.fixDamaged,
                         "Write copies of damaged files too, marked as copies of damaged audio");
    auto* verifyCommand =
        app.add_subcommand("verify", "Check a saved session's files and copies against the disk");
    verifyCommand->add_flag("--json", options.json, "One JSON object per line for what changed");
    verifyCommand->add_flag("--quiet", options.quiet, "No progress line");
    verifyCommand->add_option("session", typed.paths, "The session file")->type_name("FILE.tavrin");
    auto* graphCommand =
        app.add_subcommand("graph", "Draw one file's loudness over time as SVG, PNG or PDF");
    addSpecOptions(*graphCommand, options, typed);
    graphCommand->add_option("--out", typed.out, "The picture to write: NAME.svg, .png or .pdf")
        ->type_name("FILE");
    graphCommand->add_flag("--dark", options.dark, "Light lines on a dark background");
    graphCommand->add_option("--from", typed.from, "Draw from this time on: 41:00, 1:02:03 or 95.5")
        ->type_name("TIME");
    graphCommand->add_option("--to", typed.to, "Draw up to this time")->type_name("TIME");
    graphCommand
        ->add_option("--copy", typed.copy, "A copy of the file, its short-term loudness drawn over")
        ->type_name("FILE");
    graphCommand->add_option("path", typed.paths, "The audio file")->type_name("FILE");
    auto* presetsCommand = app.add_subcommand("presets", "List the delivery specs");
    presetsCommand->add_flag("--json", typed.presetsJson, "One JSON object per preset per line");
    app.add_subcommand("help", "Show these commands, or a command's options: help COMMAND");
    return {checkCommand, fixCommand, verifyCommand, graphCommand, presetsCommand};
}

/// `help [COMMAND]`, answered before parsing: the parser would take "help check" for two commands.
int help(const CLI::App& app, const std::string& topic, std::ostream& out, std::ostream& err) {
    if (!topic.empty() && !isCommand(topic)) {
        err << CliTexts::noCommand(topic, true) << "\n";
        return exitUsage;
    }
    out << (topic.empty() ? app.help() : app.get_subcommand(topic)->help("tavrin-cli"));
    return exitPass;
}

} // namespace

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        const Terminal& terminal, const CancelCheck& isCancelled) {
    CLI::App app(std::string(CliTexts::description), "tavrin-cli");
    Options options;
    Typed typed;
    const Commands commands = describe(app, options, typed);
    if (args.empty() || (!args.front().starts_with("-") && !isCommand(args.front()))) {
        err << (args.empty() ? CliTexts::nameACommand() : CliTexts::noCommand(args.front(), false))
            << "\n";
        return exitUsage;
    }
    if (args.front() == "help")
        return help(app, args.size() > 1 ? args[1] : "", out, err);
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0)
            return app.exit(e, out, err) == 0 ? exitPass : exitUsage;
        err << parseErrorSentence(e, isCommand(args.front()) ? args.front() : "") << "\n";
        return exitUsage;
    }
    if (commands.presets->parsed())
        return delivered(presets(typed.presetsJson, out), out, err);

    Context context{out, err, terminal, isCancelled};
    try {
        if (commands.verify->parsed()) {
            if (typed.paths.size() != 1)
                throw UsageError(std::string(CliTexts::nameSession));
            return delivered(verify(typed.paths.front(), options, context), out, err);
        }
        const DeliverySpec spec = specFor(typed);
        if (commands.graph->parsed()) {
            finishGraph(options, typed);
            return delivered(graph(options, spec, context), out, err);
        }
        finish(options, typed, terminal);
        return delivered(commands.check->parsed() ? check(options, spec, context)
                                                  : fix(options, spec, context),
                         out, err);
    } catch (const UsageError& e) {
        err << e.what() << "\n";
        return exitUsage;
    } catch (const Cancelled&) {
        err << "Stopped.\n";
        return exitCancelled;
    }
}

} // namespace tavrin::cli

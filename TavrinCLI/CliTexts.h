#pragma once

#include <cstddef>
#include <string>
#include <string_view>

/// Every sentence the command-line tool says of its own, beyond the kit's: mistakes in the
/// command line, progress, and the table's words. Option help stays with the options.
namespace tavrin::cli::CliTexts {

inline constexpr std::string_view description =
    "Checks audio files against a loudness delivery spec (EBU R 128, Apple Podcasts, Spotify, "
    "YouTube, ATSC A/85, or a target of your own) and writes gain-adjusted copies of files that "
    "fail only on level.";
inline constexpr std::string_view commandList = "check, fix, verify, graph, presets or help";

// MARK: mistakes in the command line

/// With no command, or one that doesn't exist.
inline std::string nameACommand() {
    return "Name a command: " + std::string(commandList) + " (tavrin-cli help lists them).";
}
inline std::string noCommand(std::string_view typed, bool fromHelp) {
    return "There is no command \"" + std::string(typed) + "\". Use " + std::string(commandList) +
           (fromHelp ? "." : " (tavrin-cli help lists them).");
}
/// A parser's sentence, with where to look.
inline std::string seeHelp(std::string sentence, std::string_view command) {
    if (!sentence.empty() && sentence.back() != '.')
        sentence += '.';
    return sentence + " See: tavrin-cli help" +
           (command.empty() ? "" : " " + std::string(command)) + ".";
}
/// "--paper needs a4 or letter (it was "b5")."
inline std::string needs(std::string_view option, std::string_view what, std::string_view was) {
    return std::string(option) + " needs " + std::string(what) + " (it was \"" + std::string(was) +
           "\").";
}
/// "--graphs goes with --pdf."
inline std::string goesWith(std::string_view option, std::string_view other) {
    return std::string(option) + " goes with " + std::string(other) + ".";
}
inline std::string noPreset(std::string_view typed, std::string_view ids) {
    return "There is no preset \"" + std::string(typed) + "\". Use one of: " + std::string(ids) +
           ".";
}
inline constexpr std::string_view limitsGoWithTarget =
    "--tolerance and --max-true-peak go with --target.";
inline constexpr std::string_view signOffGoesWithPdf =
    "--operator, --job and --notes go with --pdf.";
inline constexpr std::string_view presetOrTarget =
    "Give one of --preset, --target and --target-file.";
inline constexpr std::string_view nameFiles = "Name at least one audio file or folder.";
inline constexpr std::string_view oneOnStandardOutput =
    "Only one of --json, --csv - and --pdf - can use standard output.";
inline constexpr std::string_view pdfInTerminal =
    "A PDF can’t be shown in a terminal: send standard output to a file or a pipe, or give --pdf "
    "a file name.";
inline constexpr std::string_view nameFileToDraw = "Name the audio file to draw.";
inline constexpr std::string_view graphNeedsOut =
    "graph needs --out with a name ending in .svg, .png or .pdf.";
/// When the paths name no audio file, or more than one, for graph.
inline std::string graphDrawsOne(std::size_t found) {
    return "graph draws one audio file; " +
           (found == 0 ? std::string("none was found") : std::to_string(found) + " were found") +
           ".";
}
/// A report named like one of the paths to check.
inline std::string reportIsAPath(std::string_view named) {
    return std::string(named) + " is one of the paths to check; give the report its own name.";
}

// MARK: what the run says

inline constexpr std::string_view resultsNotWritten =
    "The results couldn’t be written to standard output.";
inline constexpr std::string_view graphNotDrawn = "The graph couldn’t be drawn.";
/// What --from and --to take, as "--from needs …" says.
inline constexpr std::string_view timeExample = "a time such as 41:00, 1:02:03 or 95.5";
inline constexpr std::string_view toBeforeFrom = "--to needs a time after --from’s.";
/// The PDF report's title.
inline std::string reportTitle(std::string_view specName) {
    return "Loudness report: " + std::string(specName);
}
/// "Measuring 3/12", followed by the file being measured: ": Take 4.wav 41%".
inline std::string measuring(std::size_t done, std::size_t files) {
    return "Measuring " + std::to_string(done) + "/" + std::to_string(files);
}
/// "Writing copy 2/5: Take 4.wav", or "Limiting copy …".
inline std::string writingCopy(bool limited, std::size_t number, std::size_t copies,
                               std::string_view file) {
    return std::string(limited ? "Limiting" : "Writing") + " copy " + std::to_string(number) + "/" +
           std::to_string(copies) + ": " + std::string(file);
}
/// The note under a row whose copy still fails: "The copy: Fail: 0.3 LU too loud".
inline std::string theCopy(std::string_view summary) {
    return "The copy: " + std::string(summary);
}
/// "Verifying 3/12: Take 4.wav".
inline std::string verifying(std::size_t number, std::size_t files, std::string_view file) {
    return "Verifying " + std::to_string(number) + "/" + std::to_string(files) + ": " +
           std::string(file);
}
/// What verifying a session found.
struct VerifyCounts {
    std::size_t files = 0, changed = 0, missing = 0;
    std::size_t copies = 0, copiesChanged = 0, copiesMissing = 0;
    bool allAsSaved() const { return changed + missing + copiesChanged + copiesMissing == 0; }
};
/// "12 files: 10 as saved, 1 changed, 1 missing; 3 copies: 2 as saved, 1 missing".
inline std::string verified(const VerifyCounts& c) {
    const auto part = [](std::size_t n, std::string_view what) {
        return n > 0 ? ", " + std::to_string(n) + " " + std::string(what) : std::string();
    };
    const auto count = [](std::size_t n, std::string_view one, std::string_view many) {
        return std::to_string(n) + " " + std::string(n == 1 ? one : many) + ": ";
    };
    std::string text = count(c.files, "file", "files") +
                       std::to_string(c.files - c.changed - c.missing) + " as saved" +
                       part(c.changed, "changed") + part(c.missing, "missing");
    if (c.copies > 0)
        text += "; " + count(c.copies, "copy", "copies") +
                std::to_string(c.copies - c.copiesChanged - c.copiesMissing) + " as saved" +
                part(c.copiesChanged, "changed") + part(c.copiesMissing, "missing");
    return text;
}
inline constexpr std::string_view nameSession = "Name the session file to verify.";
/// The table's Result for a file that couldn't be read.
inline constexpr std::string_view cantRead = "Can’t read";
/// What starts the line of a finding under its row.
inline std::string findingNote(bool damage, std::string_view sentence) {
    return (damage ? "Damage: " : "Warning: ") + std::string(sentence);
}
/// What follows the tally when some named files were not audio: "; 2 other files skipped".
inline std::string otherFilesSkipped(std::size_t count) {
    return "; " + std::to_string(count) + (count == 1 ? " other file" : " other files") +
           " skipped";
}

} // namespace tavrin::cli::CliTexts

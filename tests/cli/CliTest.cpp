// What a script relies on: the exit status, one format on standard output, whole sentences on
// standard error and the files a run leaves; then what the table, the JSON lines and fix say about
// each file.

#include "Cli.h"

#include "AudioFixtures.h"
#include "ChildProcess.h"
#include "FaultyMeasuring.h"
#include "HandWritten.h"
#include "SoundFiles.h"
#include "tavrin/decode/Provenance.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>
#include <sys/stat.h>

using namespace tavrin;
using namespace tavrin::test;
using Json = nlohmann::json;

namespace {

const fs::path examples = TAVRIN_EXAMPLES_DIR;
const std::string passes = (examples / "Passes.flac").string();

struct Outcome {
    int status;
    std::string out, err;
};

Outcome run(const std::vector<std::string>& args, const cli::Terminal& terminal = {}) {
    std::ostringstream out, err;
    const int status = cli::run(args, out, err, terminal);
    return {status, out.str(), err.str()};
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

/// `text` with {d} for `dir`, {p} for Passes.flac and {ex} for the examples folder.
std::string expand(std::string text, const fs::path& dir) {
    const std::pair<std::string, std::string> names[] = {
        {"{d}", dir.string()}, {"{p}", passes}, {"{ex}", examples.string()}};
    for (const auto& [name, value] : names)
        for (std::size_t at; (at = text.find(name)) != std::string::npos;)
            text.replace(at, name.size(), value);
    return text;
}

/// The words of `command`, each expanded.
std::vector<std::string> words(const std::string& command, const fs::path& dir) {
    std::vector<std::string> args;
    std::istringstream in(command);
    for (std::string word; in >> word;)
        args.push_back(expand(word, dir));
    return args;
}

} // namespace

TEST(Cli, InvocationsGiveTheirStatusOneFormatOnStdoutSentencesOnStderrAndTheirFiles) {
    TempDir dir;
    fs::create_directories(dir / "album");
    fs::create_directories(dir / "pictures");
    fs::copy_file(passes, dir / "album/Take 1.flac");
    // Files other than audio; hidden ones are not even counted.
    for (const char* name : {"readme.txt", "pictures/cover.jpg", "album/cover.jpg", "album/.x"})
        writeBytes(dir / name, "not audio");
    ASSERT_EQ(::mkfifo((dir / "pipe.wav").c_str(), 0600), 0);
    writeBytes(dir / "noise-frames.flac", flacOfNoise(240000));
    // What a report must never replace: audio by its name or its bytes, and a file being checked
    // (here through a link, its bytes not audio).
    fs::copy_file(passes, dir / "a.flac");
    fs::copy_file(passes, dir / "take.bin");
    fs::create_directories(dir / "in");
    writeBytes(dir / "in/notes.wav", "not audio either");
    fs::create_symlink(dir / "in/notes.wav", dir / "link.csv");
    // Named targets: one that only the short-term limit fails, one with a key no target has.
    const std::string quiet = R"({"version": 1, "name": "Quiet promos", "target": -23,
        "tolerance": 1, "maxTruePeak": -1, "maxShortTerm": -30})";
    writeBytes(dir / "quiet.json", quiet);
    writeBytes(dir / "typo.json", quiet.substr(0, quiet.size() - 1) + R"(, "maxRange": 8})");
    const std::string summary = "5 files: 1 pass, 2 fail, 2 without a reading\n";
    const std::string nothingToFix =
        "1 file: 1 pass, 0 fail\nNothing to fix: Every measured file passes EBU R 128.\n";
    const std::string ownName = " would replace an audio file; give the report its own name.\n";
    const std::string oneFormat =
        "Only one of --json, --csv - and --pdf - can use standard output.\n";

    // How each format on standard output starts.
    const std::string table = "Result  ", json = "{\"", csv = "File,Folder,Format,", pdf = "%PDF-";
    struct Case {
        std::string command; ///< words, expanded
        int status;
        std::string out; ///< how standard output starts
        int lines;       ///< of standard output; -1 when not counted
        std::string err; ///< all of standard error, expanded; "*…" for its ending
        bool terminal = false;
    };
    const Case cases[] = {
        // Commands and usage.
        {"", 2, "", 0,
         "Name a command: check, fix, verify, graph, presets or help (tavrin-cli help lists "
         "them).\n"},
        {"chek {ex}", 2, "", 0,
         "There is no command \"chek\". Use check, fix, verify, graph, presets or help (tavrin-cli "
         "help "
         "lists "
         "them).\n"},
        {"help", 0, "Checks audio files against a loudness delivery spec", -1, ""},
        {"help fix", 0, "Measure files, then write a gain-adjusted copy", -1, ""},
        {"help fly", 2, "", 0,
         "There is no command \"fly\". Use check, fix, verify, graph, presets or help.\n"},
        {"--version", 0, "tavrin-cli ", 1, ""},
        {"check", 2, "", 0, "Name at least one audio file or folder.\n"},
        {"check --bogus {p}", 2, "", 0, "*See: tavrin-cli help check.\n"},
        {"presets", 0, "ebu-r128\tEBU R 128\t", -1, ""},
        {"presets --json", 0, "{\"", 8, ""},
        // Numbers and presets.
        {"check --jobs 0 {p}", 2, "", 0,
         "--jobs needs a whole number of at least 1 (it was \"0\").\n"},
        {"check --jobs 2.5 {p}", 2, "", 0,
         "--jobs needs a whole number of at least 1 (it was \"2.5\").\n"},
        {"check --jobs 64 {p}", 0, table, 3, ""},
        {"check --preset EBU-R128 {p}", 0, table, 3, ""},
        {"check --preset ebu {p}", 2, "", 0,
         "There is no preset \"ebu\". Use one of: ebu-r128, apple-podcasts, spotify, youtube, "
         "atsc-a85, audiobook, op-59, arib-tr-b32.\n"},
        {"check --target -23 {p}", 0, table, 3, ""},
        {"check --target −19 --tolerance 0.5 --max-true-peak -2 {p}", 1, table, 4, ""},
        {"check --target -100 {p}", 2, "", 0,
         "The target must be between −50.0 and −5.0 LUFS (it was −100.0).\n"},
        {"check --target -19 --tolerance 9 {p}", 2, "", 0,
         "The tolerance must be between 0.0 and 5.0 LU (it was 9.0).\n"},
        {"check --target -19 --max-true-peak +1 {p}", 2, "", 0,
         "The true-peak ceiling must be between −20.0 and 0.0 dBTP (it was 1.0).\n"},
        {"check --target loud {p}", 2, "", 0,
         "--target needs a number such as -19 (it was \"loud\").\n"},
        {"check --tolerance 1 {p}", 2, "", 0,
         "--tolerance and --max-true-peak go with --target.\n"},
        {"check --preset spotify --target -19 {p}", 2, "", 0,
         "Give one of --preset, --target and --target-file.\n"},
        {"check --target-file {d}/quiet.json {p}", 1, table, 5, ""},
        {"check --target-file {d}/typo.json {p}", 2, "", 0,
         "typo.json isn’t a target Tavrin can use: “maxRange” isn’t a key a target has.\n"},
        {"check --target-file {d}/none.json {p}", 2, "", 0,
         "none.json couldn’t be read (No such file or directory).\n"},
        // One format on standard output; the other sentences go to standard error.
        {"check --json --csv - {p}", 2, "", 0, oneFormat},
        {"check --csv - --pdf - {p}", 2, "", 0, oneFormat},
        {"check --pdf - {p}", 2, "", 0,
         "A PDF can’t be shown in a terminal: send standard output to a file or a pipe, or give "
         "--pdf a file name.\n",
         true},
        {"check --pdf - {p}", 0, pdf, -1, "1 file: 1 pass, 0 fail\n"},
        {"check --json {ex}", 1, json, 5, summary},
        {"check --csv - {ex}", 1, csv, 6, summary},
        {"fix --json --out {d}/copies {p}", 0, json, 1, nothingToFix},
        {"fix --csv - --out {d}/copies {p}", 0, csv, 2, nothingToFix},
        // The summary agrees with the tally.
        {"fix --json {ex}/Silence.flac", 1, json, 1,
         "1 file: 0 pass, 0 fail, 1 without a reading\nNothing to fix: No file has a reading.\n"},
        {"fix --json --out {d}/copies {p} {ex}/Silence.flac", 1, json, 2,
         "2 files: 1 pass, 0 fail, 1 without a reading\nNothing to fix: Every file with a reading "
         "passes EBU R 128; 1 file has none.\n"},
        // Every named path is accounted for; other files in folders are only counted.
        {"check {p} {d}/nothere.wav", 3, table, 3, "Nothing at {d}/nothere.wav; skipped.\n"},
        {"check {p} {d}/readme.txt", 3, table, 3,
         "{d}/readme.txt is not a file Tavrin reads (WAV, AIFF, MP3, M4A/AAC, FLAC or CAF); "
         "skipped.\n"},
        {"check {d}/noise-frames.flac", 3, table, 4, ""}, // none of its audio decodes
        {"check {d}/pipe.wav", 3, "", 0,
         "{d}/pipe.wav is not a regular file (a pipe or a device, say); skipped.\n"},
        {"check {d}/pictures", 2, "", 0,
         "No audio files there. Tavrin reads WAV, AIFF, MP3, M4A/AAC, FLAC and CAF.\n"},
        {"check --json {d}/album", 0, json, 1, "1 file: 1 pass, 0 fail; 1 other file skipped\n"},
        // Reports and copies: written, or said why not; nothing to measure writes no report.
        {"check --csv {d}/r.csv --pdf {d}/r.pdf {ex}", 1, table, 12, ""},
        {"check --csv {d}/no/such/folder/r.csv {p}", 3, table, 3,
         "r.csv couldn’t be written in {d}/no/such/folder (No such file or directory).\n"},
        {"check --pdf {d}/a4.pdf --paper A4 {p}", 0, table, 3, ""},
        {"check --paper a4 {p}", 2, "", 0, "--paper goes with --pdf.\n"},
        {"check --paper b5 --pdf {d}/b5.pdf {p}", 2, "", 0,
         "--paper needs a4 or letter (it was \"b5\").\n"},
        {"check --dual-mono --csv - {p}", 1, csv, 2,
         "1 file: 0 pass, 1 fail; Mono files count as dual mono (+3 dB)\n"},
        {"check --csv {d}/none.csv {d}/nothere.wav", 3, "", 0,
         "Nothing at {d}/nothere.wav; skipped.\n"},
        {"check --pdf {d}/a.flac {p}", 2, "", 0, "--pdf {d}/a.flac" + ownName},
        {"fix --csv {d}/take.bin --out {d}/copies {p}", 2, "", 0, "--csv {d}/take.bin" + ownName},
        {"check --csv {d}/in/../link.csv {d}/in", 2, "", 0, "--csv {d}/in/../link.csv" + ownName},
        {"check --csv {d}/readme.txt {d}/readme.txt {p}", 2, "", 0,
         "--csv {d}/readme.txt is one of the paths to check; give the report its own name.\n"},
        {"fix --copy-format flac {p}", 2, "", 0,
         "--copy-format needs wav or original (it was \"flac\").\n"},
        {"fix --out {d}/readme.txt/copies {p}", 3, "", 0,
         "The folder {d}/readme.txt/copies couldn’t be created (Not a directory).\n"},
        // Loudness over time: JSON, PDF pages and pictures.
        {"check --timeline {p}", 2, "", 0, "--timeline goes with --json.\n"},
        {"check --graphs {p}", 2, "", 0, "--graphs goes with --pdf.\n"},
        {"check --pdf {d}/graphs.pdf --graphs {p}", 0, table, 3, ""},
        {"graph --dark {p} --out {d}/graph.png", 0,
         "Short-term loudness steady at −23 LUFS; true peak never over −1.0 dBTP", 1, ""},
        {"graph {p} --out {d}/graph.gif", 2, "", 0,
         "--out needs a name ending in .svg, .png or .pdf (it was \"{d}/graph.gif\").\n"},
        {"graph {p}", 2, "", 0, "graph needs --out with a name ending in .svg, .png or .pdf.\n"},
        {"graph {ex} --out {d}/graph.svg", 2, "", 0, "graph draws one audio file; 5 were found.\n"},
        {"graph {d}/nothere.wav --out {d}/graph.svg", 3, "", 0,
         "Nothing at {d}/nothere.wav; skipped.\n"},
        {"graph {p} --from 0:01.5 --to 3.5 --copy {p} --out {d}/stretch.svg", 0,
         "From 0:01.5 to 0:03.5, short-term loudness steady at −23 LUFS; true peak never over", 1,
         ""},
        {"graph {p} --from 1:75 --out {d}/graph.svg", 2, "", 0,
         "--from needs a time such as 41:00, 1:02:03 or 95.5 (it was \"1:75\").\n"},
        {"graph {p} --from 0:10 --to 9 --out {d}/graph.svg", 2, "", 0,
         "--to needs a time after --from’s.\n"},
        {"graph {p} --copy {d}/nothere.wav --out {d}/graph.svg", 3, "", 0,
         "nothere.wav: Can't open this file as audio (No such file or directory).\n"},
        // Sessions and signed reports.
        {"check --operator Ann {p}", 2, "", 0, "--operator, --job and --notes go with --pdf.\n"},
        {"check --session {d}/a.flac {p}", 2, "", 0, "--session {d}/a.flac" + ownName},
        {"check --session {d}/no/s.tavrin {p}", 3, table, 3,
         "s.tavrin couldn’t be saved in {d}/no (No such file or directory).\n"},
        {"verify", 2, "", 0, "Name the session file to verify.\n"},
        {"verify {d}/none.tavrin", 3, "", 0,
         "none.tavrin couldn’t be read (No such file or directory).\n"},
        {"verify {p}", 3, "", 0, "Passes.flac isn’t a Tavrin session.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        const Outcome r =
            run(words(c.command, dir.path()), cli::Terminal{.outputIsTerminal = c.terminal});
        EXPECT_EQ(r.status, c.status);
        EXPECT_TRUE(r.out.starts_with(c.out)) << r.out;
        EXPECT_TRUE(c.lines < 0 || std::ranges::count(r.out, '\n') == c.lines) << r.out;
        const std::string err = expand(c.err, dir.path());
        if (err.starts_with("*"))
            EXPECT_TRUE(r.err.ends_with(err.substr(1))) << r.err;
        else
            EXPECT_EQ(r.err, err);
    }
    // "-" is standard output, never a file; no temporary is left behind.
    EXPECT_EQ(namesIn(dir.path()),
              (std::vector<std::string>{"a.flac", "a4.pdf", "album", "copies", "graph.png",
                                        "graphs.pdf", "in", "link.csv", "noise-frames.flac",
                                        "pictures", "pipe.wav", "quiet.json", "r.csv", "r.pdf",
                                        "readme.txt", "stretch.svg", "take.bin", "typo.json"}));
    for (const char* kept : {"a.flac", "take.bin"})
        EXPECT_EQ(readBytes(dir / kept), readBytes(passes)) << kept;
    EXPECT_EQ(readBytes(dir / "link.csv"), "not audio either");
    EXPECT_TRUE(readBytes(dir / "graph.png").starts_with("\x89PNG"));
    const std::string report = readBytes(dir / "r.csv");
    EXPECT_EQ(lines(report).size(), 6u);
    EXPECT_NE(report.find("\nPasses.flac," + examples.string() + ",FLAC"), std::string::npos);
    EXPECT_TRUE(readBytes(dir / "r.pdf").starts_with(pdf));
    EXPECT_NE(readBytes(dir / "a4.pdf").find("/MediaBox [ 0 0 841.89 595.28 ]"), std::string::npos);
}

TEST(Cli, AFolderThatCantBeReadIsCalledThat) {
    TempDir dir;
    fs::create_directories(dir / "locked");
    fs::copy_file(passes, dir / "locked/a.flac");
    fs::permissions(dir / "locked", fs::perms::none);
    const std::string outcome = inChild([&] {
        if (!unprivileged(dir.path()))
            return noUser;
        const Outcome r = run({"check", (dir / "locked").string(), passes});
        return std::to_string(r.status) + " " + r.err;
    });
    fs::permissions(dir / "locked", fs::perms::owner_all);
    if (outcome == noUser)
        GTEST_SKIP() << noUser;
    EXPECT_EQ(outcome,
              "3 " + (dir / "locked").string() + " can’t be read (Permission denied); skipped.\n");
}

// The table: each file in name order, its numbers under their titles and its problems under it;
// after fix, the table again with the Fix column as the reports fill it.
TEST(Cli, FixShowsTheTableThenAgainWithTheFixColumnAndNeverOverwrites) {
    TempDir dir;
    fs::copy(examples, dir / "in", fs::copy_options::recursive);
    writeBytes(dir / "in/notes.wav", "these are not audio samples");
    // A file already holding the first choice of name stays as it is.
    const fs::path taken = dir / "in/Too quiet (EBU R 128).wav";
    fs::copy_file(passes, taken);
    const Outcome r = run({"fix", "--csv", (dir / "fix.csv").string(), (dir / "in").string()});
    EXPECT_EQ(r.status, 3); // one file can't be read
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(readBytes(taken), readBytes(passes));
    const auto out = lines(r.out);
    ASSERT_EQ(out.size(), 31u) << r.out;
    EXPECT_EQ(out[0], "Result      File                       Integrated  Difference  True peak   "
                      "Range  Max short-term  Sample peak  Fix");
    EXPECT_EQ(out[16], out[0]);
    // Numeric order of names, case ignored.
    EXPECT_TRUE(out[1].ends_with("  Can't fix with gain alone")) << out[1];
    EXPECT_EQ(out[2], "            9.9 LU too quiet");
    EXPECT_TRUE(out[3].starts_with("            Raising it to −23.0 LUFS needs +9.9 dB of gain"));
    EXPECT_EQ(out[4], "Can’t read  notes.wav");
    EXPECT_TRUE(out[5].starts_with("            Can't open this file as audio (")) << out[5];
    EXPECT_EQ(out[6],
              "Pass        Passes.flac                     −23.0         0.0      −20.0     "
              "0.0           −23.0        −20.0");
    EXPECT_EQ(out[7], "No reading  Silence.flac                        —           —          —    "
                      "   —               —            —");
    EXPECT_EQ(out[8], "            The file is silent.");
    EXPECT_TRUE(out[10].ends_with("−30.0  +10.0 dB → −23.0 LUFS")) << out[10];
    EXPECT_EQ(out[14], "7 files: 2 pass, 2 fail, 3 without a reading");
    EXPECT_TRUE(out[17].ends_with("  Not fixed: needs a limiter (gain alone would exceed the "
                                  "true-peak ceiling)"));
    EXPECT_TRUE(out[26].ends_with("−30.0  Too quiet (EBU R 128) 2.wav: −23.0 LUFS, −20.0 dBTP"));
    EXPECT_EQ(out[30], "Fixed copies: 1 copy written next to the originals, each measured again. "
                       "1 file can’t reach the target with gain alone; the Fix column says why.");
    EXPECT_NE(readBytes(dir / "fix.csv")
                  .find(",\"Too quiet (EBU R 128) 2.wav: −23.0 LUFS, −20.0 dBTP\",\r\n"),
              std::string::npos);
}

// A fix run saved as a session; verify then names what changed on the disk since, and only that.
TEST(Cli, VerifyNamesTheFilesAndCopiesThatChangedSinceTheSessionWasSaved) {
    TempDir dir;
    fs::copy(examples, dir / "in", fs::copy_options::recursive);
    const std::string session = (dir / "day.tavrin").string();
    ASSERT_EQ(run({"fix", "--session", session, (dir / "in").string()}).status, 1);
    const Outcome asSaved = run({"verify", session});
    EXPECT_EQ(asSaved.status, 0) << asSaved.err;
    EXPECT_EQ(asSaved.out, "5 files: 5 as saved; 1 copy: 1 as saved\n");
    // Touched is not changed; changed bytes, a deleted original and a deleted copy are.
    fs::last_write_time(dir / "in/Passes.flac", fs::file_time_type::clock::now());
    writeBytes(dir / "in/Too short.wav", readBytes(dir / "in/Too short.wav") + "x");
    fs::remove(dir / "in/Silence.flac");
    fs::remove(dir / "in/Too quiet (EBU R 128).wav");
    const std::string in = (dir / "in").string();
    const Outcome changed = run({"verify", session});
    EXPECT_EQ(changed.status, 1);
    EXPECT_EQ(changed.out,
              "Missing: " + in + "/Silence.flac\nCopy missing: " + in +
                  "/Too quiet (EBU R 128).wav\nChanged since the session was saved: " + in +
                  "/Too short.wav\n5 files: 3 as saved, 1 changed, 1 missing; 1 "
                  "copy: 0 as saved, 1 missing\n");
    const Outcome json = run({"verify", "--json", session});
    EXPECT_EQ(json.status, 1);
    EXPECT_EQ(json.err,
              "5 files: 3 as saved, 1 changed, 1 missing; 1 copy: 0 as saved, 1 missing\n");
    const auto objects = lines(json.out);
    ASSERT_EQ(objects.size(), 3u);
    EXPECT_EQ(Json::parse(objects[1]),
              Json::parse(R"({"file":")" + in +
                          R"(/Too quiet.flac","state":"unchanged","copies":[)" +
                          R"({"preset":"ebu-r128","copy":")" + in +
                          R"(/Too quiet (EBU R 128).wav","state":"missing"}]})"));
}

// Fix's JSON lines: what check says of each file, and what became of it. Damage fails its file
// and keeps it from being fixed until asked; the copy then remembers its original.
TEST(Cli, JsonLinesSayEverythingAScriptNeeds) {
    TempDir dir;
    fs::create_directories(dir / "in");
    fs::copy_file(passes, dir / "in/take\xff.flac");
    writeBytes(dir / "in/notes.wav", "not audio");
    // A full-scale sine: its peaks are not held, so it is not clipped.
    encode({sine(997, 0, 2, 48000)}, 48000, dir / "in/loud.wav", "-c:a pcm_s16le");
    // A WAV whose header promises 8 s but holds the first 4 s of them, 10 dB too quiet.
    encode(replicate(sine(997, -33, 8, 48000), 2), 48000, dir / "in/cut.wav", "-c:a pcm_s16le");
    fs::resize_file(dir / "in/cut.wav", fs::file_size(dir / "in/cut.wav") - 4 * 48000 * 2 * 2);
    const fs::path copies = dir / "deliveries/podcast";
    const std::vector<std::string> args = {"fix",
                                           "--json",
                                           "--dual-mono",
                                           "--out",
                                           copies.string(),
                                           "--csv",
                                           (dir / "fix.csv").string(),
                                           examples.string(),
                                           (dir / "in").string()};
    const Outcome r = run(args);
    EXPECT_EQ(r.status, 3); // one file can't be read
    EXPECT_TRUE(r.err.ends_with("\nFixed copies: 4 copies written to podcast, each measured "
                                "again. 1 file can’t reach the target with gain alone; the Fix "
                                "column says why. 1 damaged file was left alone; fix it at the "
                                "source, or fix anyway.\n"))
        << r.err;
    const auto out = lines(r.out);
    ASSERT_EQ(out.size(), 9u) << r.out;
    std::vector<Json> objects;
    for (const auto& line : out) {
        objects.push_back(Json::parse(line)); // valid UTF-8 even for the odd name
        EXPECT_EQ(objects.back()["dualMono"], true);
    }
    EXPECT_EQ(objects[0]["outcome"]["kind"], "refused");
    EXPECT_TRUE(objects[0]["outcome"]["message"].get<std::string>().starts_with("Raising it to"));
    const Json& pass = objects[1];
    EXPECT_EQ(pass["file"], passes);
    // The mono file counted on two speakers is 3 dB louder: too loud for EBU R 128.
    EXPECT_EQ(pass["problems"], Json::array({"3.0 LU too loud"}));
    EXPECT_TRUE(pass["result"]["sampleRate"].is_number_integer()) << "whole hertz";
    EXPECT_EQ(pass["outcome"]["kind"], "written");
    EXPECT_EQ(pass["outcome"]["copy"], (copies / "Passes (EBU R 128).wav").string());
    EXPECT_EQ(pass["outcome"]["status"], "pass");
    EXPECT_TRUE(fs::exists(copies / "Passes (EBU R 128).wav"));
    EXPECT_EQ(objects[2]["status"], "unmeasurable");
    EXPECT_TRUE(objects[2]["outcome"].is_null());
    const Json& cut = objects[5];
    const std::string cutOff = "The file ends 4.0 s before its header says (8.0 s): it is cut "
                               "off; what is there was measured.";
    EXPECT_EQ(cut["warnings"], Json::array({cutOff}));
    EXPECT_EQ(
        cut["findings"],
        Json::parse(R"([{"kind": "cutOff", "count": 1, "at": 4.0, "text": ")" + cutOff + R"("}])"));
    EXPECT_EQ(cut["status"], "fail");
    EXPECT_EQ(cut["problems"][0], "the audio is damaged (cut off at 0:04)");
    EXPECT_EQ(cut["outcome"]["message"], "Not fixed: the audio is damaged (cut off at 0:04). Fix "
                                         "it at the source, or fix anyway.");
    EXPECT_NE(
        readBytes(dir / "fix.csv")
            .find(",Fail,the audio is damaged (cut off at 0:04); 10.0 LU too quiet; The file ends"),
        std::string::npos);
    EXPECT_EQ(objects[6]["findings"], Json::array());
    EXPECT_EQ(objects[7]["status"], "error");
    EXPECT_TRUE(objects[7]["result"].is_null());
    EXPECT_EQ(objects[8]["file"], (dir / "in/take\xEF\xBF\xBD.flac").string());

    // Fixed anyway, the copy carries the original's bytes' digest and its damage, and fails with
    // it, whatever its own level.
    const Outcome anyway =
        run({"fix", "--damaged", "--out", copies.string(), (dir / "in/cut.wav").string()});
    EXPECT_EQ(anyway.status, 1) << anyway.out << anyway.err;
    const fs::path copy = copies / "cut (EBU R 128).wav";
    const auto provenance = Provenance::read(copy);
    ASSERT_TRUE(provenance);
    EXPECT_EQ(provenance->sha256, sha256Of(dir / "in/cut.wav"));
    EXPECT_EQ(provenance->findings.at(0).text, cutOff);
    const Json copied = Json::parse(run({"check", "--json", copy.string()}).out);
    EXPECT_EQ(copied["provenance"]["original"], "cut.wav");
    EXPECT_EQ(copied["status"], "fail");
    EXPECT_EQ(copied["warnings"], Json::array({"The original was damaged: the file ends 4.0 s "
                                               "before its header says (8.0 s): it is cut off; "
                                               "what is there was measured."}));
    EXPECT_EQ(
        Json::parse(run({"check", "--json", "--damage", "warn", copy.string()}).out)["status"],
        "pass");
    const Outcome again = run({"fix", copy.string()});
    EXPECT_EQ(again.status, 1);
    EXPECT_TRUE(again.out.ends_with("Nothing to fix: The only failing file fails because its "
                                    "audio is damaged, which gain can’t mend; fix it at the "
                                    "source.\n"))
        << again.out;
}

// One value per 100 ms step in each series, null before the first full window; the key is there
// only when asked for.
TEST(Cli, TimelineJsonHoldsEachStepsValues) {
    const Outcome plain = run({"check", "--json", passes});
    EXPECT_FALSE(Json::parse(plain.out).contains("timeline"));
    const Json line = Json::parse(run({"check", "--json", "--timeline", passes}).out);
    const Json& timeline = line["timeline"];
    ASSERT_EQ(timeline.size(), 4u) << timeline.dump();
    EXPECT_EQ(timeline["step"], 0.1);
    const auto steps =
        static_cast<std::size_t>(std::ceil(line["result"]["duration"].get<double>() / 0.1 - 1e-9));
    double loudest = -100;
    for (const char* series : {"momentary", "shortTerm", "truePeak"}) {
        SCOPED_TRACE(series);
        ASSERT_EQ(timeline[series].size(), steps);
        EXPECT_TRUE(timeline[series].back().is_number());
    }
    EXPECT_TRUE(timeline["momentary"][2].is_null());
    EXPECT_TRUE(timeline["momentary"][3].is_number());
    EXPECT_TRUE(timeline["shortTerm"][28].is_null());
    for (const Json& v : timeline["shortTerm"])
        loudest = v.is_null() ? loudest : std::max(loudest, v.get<double>());
    EXPECT_NEAR(loudest, line["result"]["maxShortTerm"].get<double>(), 0.005);
}

// A fault of Tavrin's own while one file is measured, on a measuring thread, fails that file alone
// with a sentence; the run goes on and says so in its status, and no exception text reaches anyone.
TEST(Cli, AnInternalFaultFailsItsFileAloneInAWholeSentence) {
    TempDir dir;
    const fs::path faulty = dir / "faulty.flac";
    fs::copy_file(passes, faulty);
    const FaultyMeasuring fault(faulty);
    const Outcome r = run({"check", "--json", "--jobs", "2", passes, faulty.string()});
    EXPECT_EQ(r.status, 3);
    const auto out = lines(r.out);
    ASSERT_EQ(out.size(), 2u) << r.out;
    EXPECT_EQ(Json::parse(out[0])["status"], "pass");
    EXPECT_EQ(Json::parse(out[1])["status"], "error");
    EXPECT_EQ(Json::parse(out[1])["error"], std::string(Workflow::internalMeasuringError));
    EXPECT_EQ((r.out + r.err).find("_M_range_check"), std::string::npos);
}

// With --limiter the file gain alone can't fix gets a limited copy that passes, said in the Fix
// column; the file gain alone fixes gets the very copy it gets without the option.
TEST(Cli, FixWithTheLimiterLimitsOnlyWhatGainAloneCantFix) {
    TempDir dir;
    run({"fix", "--quiet", "--out", (dir / "gain").string(), examples.string()});
    const Outcome r = run({"fix", "--limiter", "--json", "--out", (dir / "limited").string(),
                           "--csv", (dir / "fix.csv").string(), examples.string()});
    const auto out = lines(r.out);
    ASSERT_EQ(out.size(), 5u) << r.out;
    const Json limited = Json::parse(out[0])["outcome"];
    EXPECT_EQ(limited["copy"], (dir / "limited/Needs a limiter (EBU R 128, limited).wav").string());
    EXPECT_EQ(limited["status"], "pass");
    EXPECT_GT(limited["limiting"]["maxReduction"].get<double>(), 4);
    EXPECT_TRUE(Json::parse(out[3])["outcome"]["limiting"].is_null());
    // The same samples; the provenance records differ in when they were written.
    EXPECT_EQ(readAudio(dir / "limited/Too quiet (EBU R 128).wav").samples,
              readAudio(dir / "gain/Too quiet (EBU R 128).wav").samples);
    EXPECT_NE(readBytes(dir / "fix.csv").find(" dBTP; limited by up to 4."), std::string::npos);
    // Its graph over the original's shows where it limited, and how deep.
    const Outcome drawn =
        run({"graph", (examples / "Needs a limiter.wav").string(), "--copy",
             limited["copy"].get<std::string>(), "--out", (dir / "limited.svg").string()});
    EXPECT_TRUE(drawn.out.ends_with("; the copy limited by up to 4.3 dB\n")) << drawn.out;

    // A file past what the limiter takes is refused, not a copy that failed.
    Channels clicked = replicate(sine(997, -30, 5, 48000), 2);
    clicked[0][48000] = clicked[1][48000] = amplitude(-3);
    encode(clicked, 48000, dir / "clicked.wav", "-c:a pcm_s24le");
    const Outcome refused =
        run({"fix", "--limiter", "--preset", "spotify", (dir / "clicked.wav").string()});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.out.ends_with("Can’t limit: 1 file would need more peak reduction than "
                                      "the limiter takes; the Fix column says how much.\n"))
        << refused.out;
}

// What a script relies on: the exit status, one format on standard output, and whole sentences on
// standard error; then what the table, the JSON lines and fix say about each file.

#include "Cli.h"

#include "AudioFixtures.h"
#include "ChildProcess.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

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

Outcome run(std::vector<std::string> args, const cli::Terminal& terminal = {}) {
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

bool contains(const std::string& text, std::string_view part) {
    return text.find(part) != std::string::npos;
}

/// What standard output holds, told apart as a script would.
enum class Shape { nothing, table, json, csv, pdf, text };

/// Checks that `out` is wholly of `shape` with `count` records (table rows with a result word,
/// JSON lines, CSV lines after the titles; ignored for pdf and text).
void expectShape(const std::string& out, Shape shape, std::size_t count) {
    const auto all = lines(out);
    switch (shape) {
    case Shape::nothing:
        EXPECT_EQ(out, "");
        break;
    case Shape::table: {
        ASSERT_FALSE(all.empty());
        EXPECT_TRUE(all[0].starts_with("Result  "));
        std::size_t rows = 0;
        for (const auto& line : all)
            rows += line.starts_with("Pass ") || line.starts_with("Fail ") ||
                    line.starts_with("No reading ") || line.starts_with("Can’t read ");
        EXPECT_EQ(rows, count);
        break;
    }
    case Shape::json:
        EXPECT_EQ(all.size(), count);
        for (const auto& line : all)
            EXPECT_TRUE(Json::accept(line)) << line;
        break;
    case Shape::csv:
        EXPECT_TRUE(out.starts_with("File,Folder,Format,"));
        EXPECT_EQ(all.size(), count + 1);
        for (const auto& line : all)
            EXPECT_TRUE(line.ends_with("\r")) << line;
        break;
    case Shape::pdf:
        EXPECT_TRUE(out.starts_with("%PDF-"));
        break;
    case Shape::text:
        EXPECT_FALSE(out.empty());
        break;
    }
}

} // namespace

TEST(Cli, InvocationsGiveTheirStatusOneFormatOnStdoutAndSentencesOnStderr) {
    TempDir dir;
    writeBytes(dir / "readme.txt", "text");
    fs::create_directories(dir / "pictures");
    writeBytes(dir / "pictures/cover.jpg", "jpeg");
    fs::create_directories(dir / "album");
    fs::copy_file(passes, dir / "album/Take 1.flac");
    writeBytes(dir / "album/cover.jpg", "jpeg");
    writeBytes(dir / "album/.hidden.txt", "hidden files are not counted");
    ASSERT_EQ(::mkfifo((dir / "pipe.wav").c_str(), 0600), 0);
    const std::string missing = (dir / "nothere.wav").string(), album = (dir / "album").string();
    const std::string noAudio =
        "No audio files there. Tavrin reads WAV, AIFF, MP3, M4A/AAC, FLAC and CAF.\n";
    const std::string ex = examples.string();
    const cli::Terminal terminal{.outputIsTerminal = true};

    struct Case {
        std::vector<std::string> args;
        int status;
        Shape shape;
        std::size_t count;
        std::string err; ///< all of standard error; "*…" for a part of it
        const cli::Terminal* terminal = nullptr;
    };
    const Case cases[] = {
        // Commands and usage.
        {{},
         2,
         Shape::nothing,
         0,
         "Name a command: check, fix, presets or help (tavrin-cli help lists them).\n"},
        {{"chek", ex},
         2,
         Shape::nothing,
         0,
         "There is no command \"chek\". Use check, fix, presets or help (tavrin-cli help lists "
         "them).\n"},
        {{"help"}, 0, Shape::text, 0, ""},
        {{"help", "fix"}, 0, Shape::text, 0, ""},
        {{"help", "fly"},
         2,
         Shape::nothing,
         0,
         "There is no command \"fly\". Use check, fix, presets or help.\n"},
        {{"--version"}, 0, Shape::text, 0, ""},
        {{"check"}, 2, Shape::nothing, 0, "Name at least one audio file or folder.\n"},
        {{"check", "--bogus", passes}, 2, Shape::nothing, 0, "*See: tavrin-cli help check.\n"},
        {{"presets"}, 0, Shape::text, 0, ""},
        {{"presets", "--json"}, 0, Shape::json, 5, ""},
        // Numbers and presets.
        {{"check", "--jobs", "0", passes},
         2,
         Shape::nothing,
         0,
         "--jobs needs a whole number of at least 1 (it was \"0\").\n"},
        {{"check", "--jobs", "2.5", passes},
         2,
         Shape::nothing,
         0,
         "--jobs needs a whole number of at least 1 (it was \"2.5\").\n"},
        {{"check", "--jobs", "64", passes}, 0, Shape::table, 1, ""},
        {{"check", "--preset", "EBU-R128", passes}, 0, Shape::table, 1, ""},
        {{"check", "--preset", "ebu", passes},
         2,
         Shape::nothing,
         0,
         "There is no preset \"ebu\". Use one of: ebu-r128, apple-podcasts, spotify, youtube, "
         "atsc-a85.\n"},
        {{"check", "--target", "-23", passes}, 0, Shape::table, 1, ""},
        {{"check", "--target", "−19", "--tolerance", "0.5", "--max-true-peak", "-2", passes},
         1,
         Shape::table,
         1,
         ""},
        {{"check", "--target", "-100", passes},
         2,
         Shape::nothing,
         0,
         "The target must be between −50.0 and −5.0 LUFS (it was −100.0).\n"},
        {{"check", "--target", "-19", "--tolerance", "9", passes},
         2,
         Shape::nothing,
         0,
         "The tolerance must be between 0.0 and 5.0 LU (it was 9.0).\n"},
        {{"check", "--target", "-19", "--max-true-peak", "+1", passes},
         2,
         Shape::nothing,
         0,
         "The true-peak ceiling must be between −20.0 and 0.0 dBTP (it was 1.0).\n"},
        {{"check", "--target", "loud", passes},
         2,
         Shape::nothing,
         0,
         "--target needs a number such as -19 (it was \"loud\").\n"},
        {{"check", "--tolerance", "1", passes},
         2,
         Shape::nothing,
         0,
         "--tolerance and --max-true-peak go with --target.\n"},
        {{"check", "--preset", "spotify", "--target", "-19", passes},
         2,
         Shape::nothing,
         0,
         "Give --preset or --target, not both.\n"},
        // One format on standard output.
        {{"check", "--json", "--csv", "-", passes},
         2,
         Shape::nothing,
         0,
         "Only one of --json, --csv - and --pdf - can use standard output.\n"},
        {{"check", "--csv", "-", "--pdf", "-", passes},
         2,
         Shape::nothing,
         0,
         "Only one of --json, --csv - and --pdf - can use standard output.\n"},
        {{"check", "--pdf", "-", passes},
         2,
         Shape::nothing,
         0,
         "A PDF can’t be shown in a terminal: send standard output to a file or a pipe, or give "
         "--pdf a file name.\n",
         &terminal},
        {{"check", "--pdf", "-", passes}, 0, Shape::pdf, 0, "1 file: 1 pass, 0 fail\n"},
        {{"check", ex}, 1, Shape::table, 5, ""},
        {{"check", "--json", ex},
         1,
         Shape::json,
         5,
         "5 files: 1 pass, 2 fail, 2 without a reading\n"},
        {{"check", "--csv", "-", ex},
         1,
         Shape::csv,
         5,
         "5 files: 1 pass, 2 fail, 2 without a reading\n"},
        {{"fix", "--json", "--out", (dir / "copies").string(), passes},
         0,
         Shape::json,
         1,
         "1 file: 1 pass, 0 fail\nNothing to fix: Every measured file passes EBU R 128.\n"},
        {{"fix", "--csv", "-", "--out", (dir / "copies").string(), passes},
         0,
         Shape::csv,
         1,
         "1 file: 1 pass, 0 fail\nNothing to fix: Every measured file passes EBU R 128.\n"},
        // Every named path is accounted for; other files in folders are only counted.
        {{"check", passes, missing}, 3, Shape::table, 1, "Nothing at " + missing + "; skipped.\n"},
        {{"check", passes, (dir / "readme.txt").string()},
         3,
         Shape::table,
         1,
         (dir / "readme.txt").string() +
             " is not a file Tavrin reads (WAV, AIFF, MP3, M4A/AAC, FLAC or CAF); skipped.\n"},
        {{"check", (dir / "pipe.wav").string()},
         3,
         Shape::nothing,
         0,
         (dir / "pipe.wav").string() +
             " is not a regular file (a pipe or a device, say); skipped.\n"},
        {{"check", missing}, 3, Shape::nothing, 0, "Nothing at " + missing + "; skipped.\n"},
        {{"check", (dir / "pictures").string()}, 2, Shape::nothing, 0, noAudio},
        {{"check", album}, 0, Shape::table, 1, ""},
        {{"check", "--json", album},
         0,
         Shape::json,
         1,
         "1 file: 1 pass, 0 fail; 1 other file skipped\n"},
    };
    for (const Case& c : cases) {
        std::string trace;
        for (const auto& arg : c.args)
            trace += arg + " ";
        SCOPED_TRACE(trace);
        const Outcome r = run(c.args, c.terminal ? *c.terminal : cli::Terminal{});
        EXPECT_EQ(r.status, c.status);
        expectShape(r.out, c.shape, c.count);
        if (c.err.starts_with("*"))
            EXPECT_TRUE(r.err.ends_with(c.err.substr(1))) << r.err;
        else
            EXPECT_EQ(r.err, c.err);
    }
    EXPECT_FALSE(fs::exists(dir / "-")) << "\"-\" is standard output, never a file";
}

TEST(Cli, FoldersThatCantBeReadAreCalledThat) {
    TempDir dir;
    fs::create_directories(dir / "locked");
    fs::copy_file(passes, dir / "locked/a.flac");
    fs::create_directories(dir / "open/inner");
    fs::copy_file(passes, dir / "open/b.flac");
    fs::permissions(dir / "locked", fs::perms::none);
    fs::permissions(dir / "open/inner", fs::perms::none);
    const std::string outcome = inChild([&] {
        if (!unprivileged(dir.path()))
            return noUser;
        std::string result;
        for (const auto& path : {dir / "locked", dir / "open"}) {
            const Outcome r = run({"check", "--json", path.string()});
            result += std::to_string(r.status) + " " + r.err;
        }
        return result;
    });
    fs::permissions(dir / "locked", fs::perms::owner_all);
    fs::permissions(dir / "open/inner", fs::perms::owner_all);
    if (outcome == noUser)
        GTEST_SKIP() << noUser;
    EXPECT_EQ(outcome,
              "3 " + (dir / "locked").string() +
                  " can’t be read (Permission denied); skipped.\n3 " +
                  (dir / "open/inner").string() +
                  " can’t be read (Permission denied); skipped.\n1 file: 1 pass, 0 fail\n");
}

TEST(Cli, TableShowsEachFileInListOrderWithItsProblemsUnderIt) {
    const Outcome r = run({"check", examples.string()});
    EXPECT_EQ(r.status, 1); // one fails, two have no reading, none unreadable
    const auto out = lines(r.out);
    ASSERT_EQ(out.size(), 12u) << r.out;
    // Numeric order of names, case ignored: Needs, Passes, Silence, Too quiet, Too short.
    EXPECT_TRUE(out[1].starts_with("Fail        Needs a limiter.wav")) << out[1];
    EXPECT_TRUE(out[1].ends_with("  Can't fix with gain alone")) << out[1];
    EXPECT_EQ(out[2], "            9.9 LU too quiet");
    EXPECT_TRUE(out[3].starts_with("            Raising it to −23.0 LUFS needs +9.9 dB of gain"));
    EXPECT_TRUE(out[4].starts_with("Pass        Passes.flac")) << out[4];
    EXPECT_TRUE(contains(out[4], "−23.0")) << out[4];
    EXPECT_EQ(out[6], "            The file is silent.");
    EXPECT_TRUE(out[7].ends_with("+10.0 dB → −23.0 LUFS")) << out[7];
    EXPECT_EQ(out[11], "5 files: 1 pass, 2 fail, 2 without a reading");

    TempDir dir;
    writeBytes(dir / "notes.wav", "these are not audio samples");
    const Outcome unreadable = run({"check", (dir / "notes.wav").string(), passes});
    EXPECT_EQ(unreadable.status, 3);
    EXPECT_TRUE(contains(unreadable.out, "Can’t read  notes.wav\n            Can't open this "
                                         "file as audio ("))
        << unreadable.out;
}

TEST(Cli, JsonLinesSayEverythingAScriptNeedsWithOneTypePerKey) {
    TempDir dir;
    const fs::path odd = dir / "take\xff.flac";
    fs::copy_file(passes, odd);
    writeBytes(dir / "notes.wav", "not audio");
    // A full-scale sine: 16-bit samples stop at full scale.
    encode({sine(997, 0, 2, 48000)}, 48000, dir / "loud.wav", "-c:a pcm_s16le");
    // A WAV whose header promises 8 s but holds the first 4 s of them.
    encode(replicate(sine(997, -23, 8, 48000), 2), 48000, dir / "cut.wav", "-c:a pcm_s16le");
    fs::resize_file(dir / "cut.wav", fs::file_size(dir / "cut.wav") - 4 * 48000 * 2 * 2);
    const Outcome r =
        run({"check", "--json", "--dual-mono", examples.string(), dir.path().string()});
    const auto out = lines(r.out);
    ASSERT_EQ(out.size(), 9u) << r.out;
    std::map<std::string, Json::value_t> types;
    std::vector<Json> objects;
    for (const auto& line : out) {
        objects.push_back(Json::parse(line)); // valid UTF-8 even for the odd name
        EXPECT_EQ(objects.back()["dualMono"], true);
        for (const auto* object : {&objects.back(), &objects.back()["result"]}) {
            for (const auto& [key, value] : object->items()) {
                if (!value.is_null() && !value.is_object()) {
                    EXPECT_EQ(types.try_emplace(key, value.type()).first->second, value.type())
                        << key << " in " << line;
                }
            }
        }
    }
    const Json& pass = objects[1];
    EXPECT_EQ(pass["file"], passes);
    EXPECT_EQ(pass["format"], "FLAC · 44.1 kHz · mono");
    // The mono file counted on two speakers is 3 dB louder: too loud for EBU R 128.
    EXPECT_EQ(pass["problems"], Json::array({"3.0 LU too loud"}));
    EXPECT_EQ(pass["result"]["sampleRate"], 44100);
    for (const char* key : {"truePeakAt", "maxMomentaryAt", "maxShortTermAt"}) {
        EXPECT_GE(pass["result"][key].get<double>(), 0) << key;
        EXPECT_LE(pass["result"][key].get<double>(), pass["result"]["duration"].get<double>());
    }
    EXPECT_TRUE(pass["error"].is_null());
    const Json& silence = objects[2];
    EXPECT_EQ(silence["status"], "unmeasurable");
    EXPECT_EQ(silence["problems"], Json::array({"The file is silent."}));
    EXPECT_FALSE(silence["result"].contains("integrated"));
    EXPECT_EQ(objects[5]["warnings"],
              Json::array({"The file ends 4.0 s before its header says (8.0 s): it was probably "
                           "cut off; what is there was measured."}));
    EXPECT_EQ(objects[5]["status"], "pass") << "a warning leaves the verdict as it is";
    EXPECT_EQ(objects[6]["warnings"],
              Json::array({"The sample peak reaches 0.0 dBFS: the audio is probably clipped."}));
    EXPECT_EQ(objects[7]["status"], "error");
    EXPECT_TRUE(objects[7]["result"].is_null());
    EXPECT_TRUE(contains(objects[8]["file"].get<std::string>(), "take\xEF\xBF\xBD.flac"));
}

TEST(Cli, FixShowsTheTableAgainWithTheFixColumnAndNeverOverwrites) {
    TempDir dir;
    fs::copy(examples, dir / "in", fs::copy_options::recursive);
    // A file already holding the first choice of name stays as it is.
    const fs::path taken = dir / "in" / "Too quiet (EBU R 128).wav";
    fs::copy_file(passes, taken);
    const Outcome r = run({"fix", "--csv", (dir / "fix.csv").string(), (dir / "in").string()});
    EXPECT_EQ(r.status, 1); // the refused file and the two without a reading remain
    EXPECT_EQ(readBytes(taken), readBytes(passes));
    ASSERT_TRUE(fs::exists(dir / "in" / "Too quiet (EBU R 128) 2.wav"));
    // The second table, after the first one's tally, fills the Fix column as the reports do.
    const std::size_t again = r.out.find("without a reading\n\nResult ");
    ASSERT_NE(again, std::string::npos) << r.out;
    const std::string second = r.out.substr(again);
    EXPECT_TRUE(contains(second, "  Not fixed: needs a limiter (gain alone would exceed the "
                                 "true-peak ceiling)\n            9.9 LU too quiet\n"))
        << second;
    EXPECT_TRUE(contains(second, "  Too quiet (EBU R 128) 2.wav: −23.0 LUFS, −20.0 dBTP\n"));
    EXPECT_TRUE(second.ends_with(
        "\nFixed copies: 1 copy written next to the originals, each measured again. 1 file "
        "can’t reach the target with gain alone; the Fix column says why.\n"));
    const std::string csv = readBytes(dir / "fix.csv");
    EXPECT_TRUE(contains(csv, ",\"Too quiet (EBU R 128) 2.wav: −23.0 LUFS, −20.0 dBTP\"\r\n"));
    EXPECT_TRUE(contains(
        csv, ",Not fixed: needs a limiter (gain alone would exceed the true-peak ceiling)\r\n"));
}

TEST(Cli, FixIntoAFolderItMakesWithACustomTarget) {
    TempDir dir;
    const fs::path out = dir / "deliveries" / "podcast";
    const Outcome r =
        run({"fix", "--json", "--target", "-19", "--out", out.string(),
             (examples / "Too quiet.flac").string(), (examples / "Needs a limiter.wav").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.ends_with("Fixed copies: 1 copy written to podcast, each measured again. "
                                "1 file can’t reach the target with gain alone; the Fix column "
                                "says why.\n"))
        << r.err;
    const auto jsonLines = lines(r.out);
    ASSERT_EQ(jsonLines.size(), 2u);
    const Json written = Json::parse(jsonLines[0])["outcome"];
    EXPECT_EQ(written["kind"], "written");
    EXPECT_EQ(written["copy"], (out / "Too quiet (−19.0 LUFS).wav").string());
    EXPECT_EQ(written["status"], "pass");
    EXPECT_TRUE(fs::exists(out / "Too quiet (−19.0 LUFS).wav"));
    const Json refused = Json::parse(jsonLines[1])["outcome"];
    EXPECT_EQ(refused["kind"], "refused");
    EXPECT_TRUE(refused["message"].get<std::string>().starts_with("Raising it to −19.0 LUFS"));

    writeBytes(dir / "file", "");
    const Outcome blocked = run({"fix", "--out", (dir / "file" / "copies").string(),
                                 (examples / "Too quiet.flac").string()});
    EXPECT_EQ(blocked.status, 3);
    EXPECT_EQ(blocked.err, "The folder " + (dir / "file" / "copies").string() +
                               " couldn’t be created (Not a directory).\n");
}

TEST(Cli, ReportsAreWrittenWholeOrNotAtAll) {
    TempDir dir;
    const Outcome r = run({"check", "--csv", (dir / "r.csv").string(), "--pdf",
                           (dir / "r.pdf").string(), examples.string()});
    EXPECT_EQ(r.status, 1);
    const std::string csv = readBytes(dir / "r.csv");
    EXPECT_EQ(lines(csv).size(), 6u);
    EXPECT_TRUE(contains(csv, "Passes.flac," + examples.string() +
                                  ",FLAC · 44.1 kHz · mono,4.00,-23.0,-23.0,"));
    EXPECT_EQ(readBytes(dir / "r.pdf").rfind("%PDF", 0), 0u);
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"r.csv", "r.pdf"}))
        << "no temporary files are left";

    const Outcome unwritable =
        run({"check", "--csv", (dir / "no/such/folder/r.csv").string(), passes});
    EXPECT_EQ(unwritable.status, 3);
    EXPECT_EQ(unwritable.err, "r.csv couldn’t be written in " + (dir / "no/such/folder").string() +
                                  " (No such file or directory).\n");

    // Nothing to measure writes no report.
    const Outcome none =
        run({"check", "--csv", (dir / "none.csv").string(), (dir / "missing.wav").string()});
    EXPECT_EQ(none.status, 3);
    EXPECT_FALSE(fs::exists(dir / "none.csv"));
}

// The real program, its standard output a pipe: only the chosen format arrives there.
TEST(Cli, ChildProcessKeepsStandardOutputPure) {
    const auto capture = [](const std::string& command) {
        std::string out;
        FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            out.append(buffer, n);
        const int status = ::pclose(pipe);
        return std::make_pair(WEXITSTATUS(status), out);
    };
    const std::string cli = std::string("'") + TAVRIN_CLI_PATH + "' ";
    const std::string ex = "'" + examples.string() + "'";
    const auto [jsonStatus, json] = capture(cli + "check --json " + ex + " /nothere.wav");
    EXPECT_EQ(jsonStatus, 3);
    expectShape(json, Shape::json, 5);
    const auto [pdfStatus, pdf] = capture(cli + "check --pdf - " + ex);
    EXPECT_EQ(pdfStatus, 1);
    expectShape(pdf, Shape::pdf, 0);
    EXPECT_TRUE(pdf.ends_with("%%EOF\n")) << "the PDF arrives whole";
}

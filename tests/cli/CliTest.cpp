#include "Cli.h"

#include "AudioFixtures.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>

using namespace tavrin;
using namespace tavrin::test;

namespace {

const fs::path examples = TAVRIN_EXAMPLES_DIR;

struct Outcome {
    int status;
    std::string out, err;
};

Outcome run(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int status = cli::run(args, out, err);
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

} // namespace

TEST(Cli, PresetsListsEveryDeliverySpec) {
    const Outcome r = run({"presets"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(contains(r.out, "ebu-r128\tEBU R 128\t−23.0 LUFS ±0.5 LU, true peak ≤ −1.0 dBTP"));
    EXPECT_TRUE(contains(r.out, "\tCheck before relying: YouTube"));
    EXPECT_EQ(lines(r.out).size(), 7u); // five presets, two cautions
}

TEST(Cli, UsageErrorsExitWithTwoAndASentence) {
    EXPECT_EQ(run({}).status, 2);
    EXPECT_EQ(run({"check"}).status, 2);
    EXPECT_EQ(run({"check", "--jobs", "0", examples.string()}).status, 2);
    const Outcome unknown = run({"check", "--preset", "EBU-R128", examples.string()});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.err, "There is no preset \"EBU-R128\". Use one of: ebu-r128, "
                           "apple-podcasts, spotify, youtube, atsc-a85.\n");
    const Outcome help = run({"check", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(contains(help.out, "--dual-mono"));
    EXPECT_EQ(run({"--version"}).status, 0);
}

TEST(Cli, CheckPrintsATableInListOrderAndTheTally) {
    const Outcome r = run({"check", examples.string()});
    EXPECT_EQ(r.status, 1); // one fails, two have no reading, none unreadable
    EXPECT_EQ(r.err, "");
    const auto out = lines(r.out);
    ASSERT_EQ(out.size(), 7u);
    EXPECT_EQ(out[0].rfind("Result", 0), 0u);
    // Numeric order of names, case ignored: Needs, Passes, Silence, Too quiet, Too short.
    EXPECT_EQ(out[1].rfind("Fail        Needs a limiter.wav", 0), 0u) << out[1];
    EXPECT_TRUE(contains(out[1], "Can't fix with gain alone"));
    EXPECT_EQ(out[2].rfind("Pass        Passes.flac", 0), 0u) << out[2];
    EXPECT_TRUE(contains(out[2], "−23.0")) << out[2];
    EXPECT_EQ(out[3].rfind("No reading  Silence.flac", 0), 0u) << out[3];
    EXPECT_TRUE(contains(out[4], "+10.0 dB → −23.0 LUFS")) << out[4];
    EXPECT_EQ(out[6], "5 files: 1 pass, 2 fail, 2 without a reading");
}

TEST(Cli, CheckExitStatusFollowsTheWorstFile) {
    EXPECT_EQ(run({"check", (examples / "Passes.flac").string()}).status, 0);
    EXPECT_EQ(run({"check", (examples / "Too quiet.flac").string()}).status, 1);
    EXPECT_EQ(run({"check", (examples / "Silence.flac").string()}).status, 1);
    TempDir dir;
    writeBytes(dir / "notes.wav", "these are not audio samples");
    const Outcome unreadable =
        run({"check", (dir / "notes.wav").string(), (examples / "Passes.flac").string()});
    EXPECT_EQ(unreadable.status, 3);
    EXPECT_TRUE(
        contains(unreadable.out, "Can’t read  notes.wav    Can't open this file as audio ("))
        << unreadable.out;
}

TEST(Cli, NoAudioFilesIsAUsageErrorAndWritesNoReport) {
    TempDir dir;
    writeBytes(dir / "readme.txt", "text");
    const Outcome r = run({"check", "--csv", (dir / "r.csv").string(), dir.path().string(),
                           (dir / "missing.wav").string()});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Nothing at " + (dir / "missing.wav").string() +
                         "; skipped.\nNo audio files there. Tavrin reads WAV, AIFF, MP3, "
                         "M4A/AAC, FLAC and CAF.\n");
    EXPECT_FALSE(fs::exists(dir / "r.csv"));
}

TEST(Cli, JsonLinesCarryOneObjectPerFile) {
    const Outcome r = run({"check", "--json", "--preset", "apple-podcasts", examples.string()});
    const auto out = lines(r.out);
    ASSERT_EQ(out.size(), 5u);
    const auto pass = nlohmann::json::parse(out[1]);
    EXPECT_EQ(pass["file"], (examples / "Passes.flac").string());
    EXPECT_EQ(pass["format"], "FLAC · 44.1 kHz · mono");
    EXPECT_EQ(pass["status"], "fail"); // −23 LUFS is far too quiet for Apple Podcasts
    EXPECT_EQ(pass["problems"], nlohmann::json::array({"7.0 LU too quiet"}));
    EXPECT_EQ(pass["fix"], "+7.0 dB → −16.0 LUFS");
    EXPECT_TRUE(pass["error"].is_null());
    EXPECT_EQ(pass["result"]["channels"], 1);
    const auto silence = nlohmann::json::parse(out[2]);
    EXPECT_EQ(silence["status"], "unmeasurable");
    EXPECT_EQ(silence["problems"], nlohmann::json::array({"The file is silent."}));
    EXPECT_FALSE(silence["result"].contains("integrated"));
    EXPECT_TRUE(silence["fix"].is_null());
}

TEST(Cli, JsonEscapesFileNamesThatAreNotUtf8) {
    TempDir dir;
    const fs::path odd = dir / "take\xff.flac";
    fs::copy_file(examples / "Passes.flac", odd);
    const Outcome r = run({"check", "--json", odd.string()});
    EXPECT_EQ(r.status, 0);
    const auto line = nlohmann::json::parse(lines(r.out).at(0)); // parses, so valid UTF-8
    EXPECT_TRUE(contains(line["file"].get<std::string>(), "take\xEF\xBF\xBD.flac"));
}

TEST(Cli, ReportsAreWrittenWhole) {
    TempDir dir;
    const Outcome r = run({"check", "--csv", (dir / "r.csv").string(), "--pdf",
                           (dir / "r.pdf").string(), examples.string()});
    EXPECT_EQ(r.status, 1);
    const std::string csv = readBytes(dir / "r.csv");
    EXPECT_EQ(csv.rfind("File,Folder,Format,", 0), 0u);
    EXPECT_EQ(lines(csv).size(), 6u);
    EXPECT_TRUE(
        contains(csv, "Passes.flac," + examples.string() + ",FLAC · 44.1 kHz · mono,4.00,-23.0,"));
    EXPECT_EQ(readBytes(dir / "r.pdf").rfind("%PDF", 0), 0u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2)
        << "no temporary files are left";

    const Outcome toStdout = run({"check", "--csv", "-", (examples / "Passes.flac").string()});
    EXPECT_EQ(lines(toStdout.out).size(), 2u) << "the CSV alone, without the table";

    const Outcome unwritable = run({"check", "--csv", (dir / "no/such/folder/r.csv").string(),
                                    (examples / "Passes.flac").string()});
    EXPECT_EQ(unwritable.status, 3);
    EXPECT_EQ(unwritable.err, "r.csv couldn’t be written in " + (dir / "no/such/folder").string() +
                                  " (No such file or directory).\n");
}

TEST(Cli, FixWritesCopiesNextToTheOriginalsAndNeverOverwrites) {
    TempDir dir;
    fs::copy(examples, dir / "in", fs::copy_options::recursive);
    // A file already holding the first choice of name stays as it is.
    const fs::path taken = dir / "in" / "Too quiet (EBU R 128).wav";
    fs::copy_file(examples / "Passes.flac", taken);
    const Outcome r = run({"fix", "--csv", (dir / "fix.csv").string(), (dir / "in").string()});
    EXPECT_EQ(r.status, 1); // the refused file and the two without a reading remain
    EXPECT_EQ(readBytes(taken), readBytes(examples / "Passes.flac"));
    ASSERT_TRUE(fs::exists(dir / "in" / "Too quiet (EBU R 128) 2.wav"));
    EXPECT_TRUE(
        contains(r.out, "Too quiet.flac → Too quiet (EBU R 128) 2.wav: −23.0 LUFS, −20.0 dBTP\n"))
        << r.out;
    EXPECT_TRUE(contains(r.out, "Needs a limiter.wav: Needs a limiter. Raising it to −23.0 LUFS"));
    EXPECT_TRUE(contains(r.out, "Fixed copies: 1 copy written next to the originals, each "
                                "measured again. 1 file can’t reach the target with gain alone; "
                                "the Fix column says why.\n"));
    const std::string csv = readBytes(dir / "fix.csv");
    EXPECT_TRUE(contains(csv, ",\"Too quiet (EBU R 128) 2.wav: −23.0 LUFS, −20.0 dBTP\"\r\n"));
    EXPECT_TRUE(contains(
        csv, ",Not fixed: needs a limiter (gain alone would exceed the true-peak ceiling)\r\n"));
}

TEST(Cli, FixIntoAFolderAndWhenNothingFails) {
    TempDir dir;
    fs::create_directory(dir / "out");
    const Outcome r =
        run({"fix", "--out", (dir / "out").string(), (examples / "Too quiet.flac").string()});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(fs::exists(dir / "out" / "Too quiet (EBU R 128).wav"));
    EXPECT_TRUE(contains(r.out, "Fixed copies: 1 copy written to out, each measured again.\n"));

    const Outcome none = run({"fix", (examples / "Passes.flac").string()});
    EXPECT_EQ(none.status, 0);
    EXPECT_TRUE(contains(none.out, "Nothing to fix: Every measured file passes EBU R 128.\n"));

    const Outcome refused = run({"fix", (examples / "Needs a limiter.wav").string()});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(contains(refused.out, "Can’t fix with gain alone: Reaching EBU R 128’s target "
                                      "would push the true peak over −1.0 dBTP."));
    EXPECT_EQ(run({"fix", "--out", (dir / "nowhere").string(), examples.string()}).status, 2);
}

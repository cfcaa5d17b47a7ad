#include "Results.h"
#include "tavrin/reports/Report.h"

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace tavrin;
using tavrin::test::row;

namespace {

const std::string titles =
    "File,Folder,Format,Duration (s),Integrated (LUFS),Target (LUFS),Difference (LU),"
    "Tolerance (LU),Loudness range (LU),Max short-term (LUFS),Max momentary (LUFS),"
    "True peak (dBTP),Ceiling (dBTP),Sample peak (dBFS),Result,Notes,Fix,Findings\r\n";

/// Texts that start like a formula, with and without being whole C-locale numbers.
const char* const formulaLike[] = {
    "-23.0",    "-inf",   "-Infinity", "+INF",   "-nan",     "-nan(x1_)", "+1e5",
    "-1E-5",    "-.5",    "-5.",       "+0x1p3", "-0X.8",    "-0x1.8P-2", "-1e999",
    "-",        "+",      "+1 dB",     "- 1",    "-1 ",      "--1",       "+-1",
    "-0x",      "-0xinf", "-0x.p1",    "-0x1p",  "-1e",      "-infinit",  "-nan(",
    "-1,5",     "-.",     "-e5",       "-1.2.3", "=SUM(A1)", "=1",        "@home",
    "+\u22121", // a Unicode minus: not a number to strtod
};

} // namespace

TEST(ReportCsv, EscapeGuardsFormulasAndQuotesSpecialCharacters) {
    const struct {
        const char* field;
        const char* expected;
    } cases[] = {
        {"", ""},
        {"Episode 12.wav", "Episode 12.wav"},
        {"=cmd.wav", "'=cmd.wav"},
        {"−1.0 dB → −14.0 LUFS", "−1.0 dB → −14.0 LUFS"},
        {"a,b.wav", "\"a,b.wav\""},
        {"say \"hi\".wav", "\"say \"\"hi\"\".wav\""},
        {"\"", "\"\"\"\""},
        {"two\nlines", "\"two\nlines\""},
        {"cr\r", "\"cr\r\""},
        {"=a,\"b\"", "\"'=a,\"\"b\"\"\""},
        {"-1,5", "\"'-1,5\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        EXPECT_EQ(Report::escapeCSV(c.field), c.expected);
    }
}

TEST(ReportCsv, FormulaGuardSparesExactlyWhatStrtodReadsWhole) {
    // Which fields the guard marks; the table above shows how.
    // The guard must read numbers as strtod does in the C locale, the locale this test runs in.
    ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    for (const char* text : formulaLike) {
        SCOPED_TRACE(text);
        char* end = nullptr;
        std::strtod(text, &end);
        const bool number = end != text && *end == '\0';
        const std::string escaped = Report::escapeCSV(text);
        const bool guarded = escaped.find('\'') == 0 || escaped.find("\"'") == 0;
        EXPECT_EQ(guarded, !number);
    }
}

TEST(ReportCsv, DocumentHasOneLinePerRowInOrder) {
    EXPECT_EQ(Report::csv({}, DeliverySpec::ebuR128()), titles);
    const auto warned = [](ReportRow r, std::vector<Finding> findings) {
        r.findings = std::move(findings);
        return r;
    };
    const Finding clipped{Finding::Kind::clipping, 2, std::nullopt, "Clipped."};
    const Finding cutOff{Finding::Kind::cutOff, 1, 0.2, "Cut off."};
    const Finding odd{Finding::Kind::dcOffset, 1, 0.0, "Odd."};
    const std::vector<ReportRow> rows = {
        row("Episode 1.wav",
            LoudnessResult{-23.04, 6.25, -15.5, -18.94, -3.06, -2.95, 754.0, 48000, 2}),
        row("=cmd,1.wav",
            LoudnessResult{-23.6, std::nullopt, -20.0, std::nullopt, -0.5, -0.94, 12.345678, 44100,
                           1},
            std::nullopt, "+3.4 dB → −16.6 LUFS (short of target)"),
        warned(row("click.wav", LoudnessResult{std::nullopt, std::nullopt, std::nullopt,
                                               std::nullopt, -6.0, -5.94, 0.3, 48000, 2}),
               {clipped, cutOff}),
        warned(row("say \"hi\".m4a", std::nullopt, "The file couldn't be read."), {cutOff}),
        warned(row("odd.wav", std::nullopt), {odd}),
        row("new.flac", std::nullopt),
    };
    EXPECT_EQ(
        Report::csv(rows, DeliverySpec::ebuR128()),
        titles + "Episode 1.wav,/audio/show,WAV · 24-bit · 48 kHz · stereo,754.00,-23.0,-23.0,"
                 "0.0,0.5,6.3,-18.9,-15.5,-3.0,-1.0,-3.1,Pass,,,\r\n"
                 "\"'=cmd,1.wav\",/audio/show,WAV · 24-bit · 48 kHz · stereo,12.35,-23.6,-23.0,"
                 "-0.6,0.5,,,-20.0,-0.9,-1.0,-0.5,Fail,"
                 "0.6 LU too quiet; true peak −0.9 dBTP is over −1.0 dBTP,"
                 "'+3.4 dB → −16.6 LUFS (short of target),\r\n"
                 "click.wav,/audio/show,WAV · 24-bit · 48 kHz · stereo,0.30,,-23.0,,0.5,,,,"
                 "-5.9,-1.0,-6.0,Fail,"
                 "\"the audio is damaged (clipped 2 times, cut off at 0:00); Too short or too "
                 "quiet to measure (needs 0.4 s above −70 LUFS).; Clipped.; Cut off.\",,"
                 "clipping; cutOff\r\n"
                 "\"say \"\"hi\"\".m4a\",/audio/show,WAV · 24-bit · 48 kHz · stereo,,,-23.0,,0.5,"
                 ",,,,-1.0,,Error,The file couldn't be read.; Cut off.,,cutOff\r\n"
                 "odd.wav,/audio/show,WAV · 24-bit · 48 kHz · stereo,,,-23.0,,0.5,,,,,-1.0,,,Odd.,,"
                 "dcOffset\r\n"
                 "new.flac,/audio/show,WAV · 24-bit · 48 kHz · stereo,,,-23.0,,0.5,,,,,-1.0,,,,,"
                 "\r\n");
}

TEST(ReportCsv, TabSeparatedKeepsTheColumnsAndQuotesOnlyTabs) {
    const std::vector<ReportRow> rows = {row(
        "a,b\tc.wav", LoudnessResult{-23.04, 6.25, -15.5, -18.94, -3.06, -2.95, 754.0, 48000, 2})};
    std::string header = titles;
    std::ranges::replace(header, ',', '\t');
    EXPECT_EQ(Report::tsv(rows, DeliverySpec::ebuR128()),
              header +
                  "\"a,b\tc.wav\"\t/audio/show\tWAV · 24-bit · 48 kHz · stereo\t754.00\t-23.0\t"
                  "-23.0\t0.0\t0.5\t6.3\t-18.9\t-15.5\t-3.0\t-1.0\t-3.1\tPass\t\t\t\r\n");
}

TEST(ReportCsv, CeilingColumnFollowsEachRowsVerdictAndRmsSpecsAddTheirLevels) {
    const std::vector<ReportRow> rows = {
        row("loud.wav", LoudnessResult{-13.0, 4.0, -9.0, -11.0, -1.7, -1.5, 1.5, 48000, 2}),
        row("quiet.wav", LoudnessResult{-14.96, 4.0, -9.0, -11.0, -1.7, -1.5, 1.5, 48000, 2}),
    };
    EXPECT_EQ(Report::csv(rows, DeliverySpec::spotify()),
              titles +
                  "loud.wav,/audio/show,WAV · 24-bit · 48 kHz · stereo,1.50,-13.0,-14.0,1.0,1.0,"
                  "4.0,-11.0,-9.0,-1.5,-2.0,-1.7,Fail,true peak −1.5 dBTP is over −2.0 dBTP,,\r\n"
                  "quiet.wav,/audio/show,WAV · 24-bit · 48 kHz · stereo,1.50,-15.0,-14.0,-1.0,1.0,"
                  "4.0,-11.0,-9.0,-1.5,-1.0,-1.7,Pass,,,\r\n");
    // The audiobook's columns in its own units, its RMS level and noise floor after the sample
    // peak.
    LoudnessResult chapter{-19.0, 4.0, -9.0, -11.0, -3.5, -3.2, 60.0, 48000, 1};
    chapter.rms = -24.04;
    chapter.noiseFloor = -65.0;
    std::string header = titles;
    for (const auto& [from, to] :
         {std::pair{"Target (LUFS),Difference (LU),Tolerance (LU)",
                    "Target (dB RMS),Difference (dB),Tolerance (dB)"},
          {"Ceiling (dBTP),Sample peak (dBFS)",
           "Sample-peak ceiling (dBFS),Sample peak (dBFS),RMS (dB),Noise floor (dB)"}})
        header.replace(header.find(from), std::string_view(from).size(), to);
    EXPECT_EQ(Report::csv({row("ch1.wav", chapter)}, *DeliverySpec::preset("audiobook")),
              header + "ch1.wav,/audio/show,WAV · 24-bit · 48 kHz · stereo,60.00,-19.0,-20.5,-3.5,"
                       "2.5,4.0,-11.0,-9.0,-3.2,-3.0,-3.5,-24.0,-65.0,Fail,"
                       "RMS −24.0 dB is under −23.0 dB,,\r\n");
}

TEST(Report, TallyCountsEverythingButPassAndFailAsWithoutAReading) {
    const std::vector<ReportRow> rows = {
        row("pass.wav", LoudnessResult{-23.0, {}, {}, {}, -3.0, -3.0, 10, 48000, 2}),
        row("loud.wav", LoudnessResult{-20.0, {}, {}, {}, -3.0, -3.0, 10, 48000, 2}),
        row("peak.wav", LoudnessResult{-23.0, {}, {}, {}, 0.0, 0.5, 10, 48000, 2}),
        row("short.wav", LoudnessResult{{}, {}, {}, {}, -3.0, -3.0, 0.2, 48000, 2}),
        row("broken.wav", std::nullopt, "Not audio."),
        row("waiting.wav", std::nullopt),
    };
    EXPECT_EQ(Report::tallyText(rows, DeliverySpec::ebuR128()),
              "6 files: 1 pass, 2 fail, 3 without a reading");
    // Damage fails a file that passes on level, and is counted apart.
    auto damaged = rows;
    damaged[0].findings = {{Finding::Kind::dropout, 1, 3.0, "Drops out."}};
    EXPECT_EQ(Report::tallyText(damaged, DeliverySpec::ebuR128()),
              "6 files: 0 pass, 3 fail, 3 without a reading, 1 damaged");
    damaged[0].damage = DamagePolicy::warn;
    EXPECT_EQ(Report::tallyText(damaged, DeliverySpec::ebuR128()),
              "6 files: 1 pass, 2 fail, 3 without a reading, 1 damaged");
    EXPECT_EQ(Report::tallyText({}, DeliverySpec::ebuR128()), "0 files: 0 pass, 0 fail");
}

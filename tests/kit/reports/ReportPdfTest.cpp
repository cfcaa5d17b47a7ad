#include "AudioFixtures.h"
#include "Results.h"
#include "tavrin/meter/LoudnessMeter.h"
#include "tavrin/reports/Report.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace tavrin;
using tavrin::test::row;
namespace fs = std::filesystem;

// The document is read back with poppler's command-line tools: pdfinfo for the metadata,
// pdftotext -layout for the text as laid out, pdftotext -bbox for where each word sits,
// and pdftohtml -xml for which text is bold.
namespace {

constexpr double pageHeight = 612;

/// One word as pdftotext -bbox places it, turned into page coordinates (origin bottom-left).
struct Word {
    std::string text;
    double left = 0, right = 0;
    double baseline = 0;
};

struct Rendered {
    std::string info;                            ///< pdfinfo's output
    std::vector<std::vector<std::string>> pages; ///< pdftotext -layout, single-spaced lines
    std::vector<std::vector<Word>> words;        ///< per page
    std::string xml;                             ///< pdftohtml -xml
};

std::string run(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return output;
    char buffer[4096];
    while (std::size_t n = fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, n);
    pclose(pipe);
    return output;
}

std::vector<std::vector<Word>> parseWords(const std::string& bbox) {
    static const std::regex word(
        R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">(.*)</word>)re");
    std::vector<std::vector<Word>> pages;
    std::istringstream lines(bbox);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (line.find("<page ") != std::string::npos)
            pages.emplace_back();
        else if (std::regex_search(line, m, word) && !pages.empty()) {
            const double top = std::stod(m[2]), bottom = std::stod(m[4]);
            // The font's descent is about a fifth of its full height.
            pages.back().push_back({m[5], std::stod(m[1]), std::stod(m[3]),
                                    pageHeight - (bottom - 0.2 * (bottom - top))});
        }
    }
    return pages;
}

/// The page's lines with runs of spaces collapsed, so that table columns read as single-spaced.
std::vector<std::string> lines(const std::string& page) {
    std::vector<std::string> result;
    std::istringstream in(page);
    for (std::string line; std::getline(in, line);) {
        line = std::regex_replace(line, std::regex(" +"), " ");
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        if (!line.empty())
            result.push_back(line);
    }
    return result;
}

const auto reportDate =
    std::chrono::sys_days{std::chrono::year{2025} / 6 / 15} + std::chrono::hours{12};

Rendered read(const std::vector<std::uint8_t>& bytes) {
    const tavrin::test::TempDir dir;
    const fs::path path = dir / "report.pdf";
    tavrin::test::writeBytes(path, std::string(bytes.begin(), bytes.end()));
    const std::string quoted = "'" + path.string() + "'";
    Rendered pdf;
    pdf.info = run("pdfinfo " + quoted);
    std::string text = run("pdftotext -layout " + quoted + " -");
    for (std::size_t end; (end = text.find('\f')) != std::string::npos; text.erase(0, end + 1))
        pdf.pages.push_back(lines(text.substr(0, end)));
    pdf.words = parseWords(run("pdftotext -bbox " + quoted + " -"));
    pdf.xml = run("pdftohtml -xml -i -stdout " + quoted);
    return pdf;
}

Rendered render(const std::vector<ReportRow>& rows, const DeliverySpec& spec,
                std::string_view title = "Loudness report: Apple Podcasts",
                const Report::PdfOptions& options = {}) {
    return read(Report::pdf(rows, spec, title, "Tavrin", reportDate, options));
}

/// The words of every page in drawing order, one space apart.
std::string allWords(const Rendered& pdf) {
    std::string text;
    for (const auto& page : pdf.words)
        for (const Word& word : page)
            text += (text.empty() ? "" : " ") + word.text;
    return text;
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

/// Whether the page has the line `expected`, or with `prefix` one that starts with it.
bool hasLine(const std::vector<std::string>& page, const std::string& expected,
             bool prefix = false) {
    return std::ranges::any_of(page, [&](const std::string& line) {
        return prefix ? line.starts_with(expected) : line == expected;
    });
}

/// Whether `shown` is `full`, or `full` shortened in the middle: a start of it, "…", an end of it.
bool shortenedFrom(const std::string& shown, const std::string& full) {
    const std::size_t ellipsis = shown.find("…");
    if (ellipsis == std::string::npos)
        return shown == full;
    const std::string head = shown.substr(0, ellipsis);
    const std::string tail = shown.substr(ellipsis + std::string_view("…").size());
    return head.size() + tail.size() < full.size() && full.starts_with(head) &&
           full.ends_with(tail);
}

LoudnessResult measured(std::optional<double> integrated, std::optional<double> truePeak,
                        double lra = 6.2, double maxShortTerm = -12.3) {
    return {integrated, lra, -10.0, maxShortTerm, -80.0, truePeak, 60, 48000, 2};
}

std::vector<ReportRow> passingRows(std::size_t count) {
    std::vector<ReportRow> rows;
    for (std::size_t i = 1; i <= count; ++i)
        rows.push_back(row("Episode " + std::to_string(i) + ".wav", measured(-16.04, -1.6)));
    return rows;
}

} // namespace

TEST(ReportPdf, PagesHoldTwentyTwoRowsThenTwentySevenUnderTheColumnsAndOverTheFooter) {
    const std::size_t cases[][2] = {{0, 1}, {22, 1}, {23, 2}, {49, 2}, {50, 3}}; // rows, pages
    for (const auto& [rows, pages] : cases) {
        SCOPED_TRACE(rows);
        const auto pdf = render(passingRows(rows), DeliverySpec::applePodcasts());
        const std::string count = std::to_string(pages);
        ASSERT_EQ(pdf.pages.size(), pages);
        ASSERT_EQ(pdf.words.size(), pages);
        for (std::size_t page = 0; page < pages; ++page) {
            SCOPED_TRACE(page + 1);
            // Under the footer rectangle's top, 43 points up: the footer, and ending right of 672
            // the page label and the time of export. A line may break after the hyphen of
            // "minimum-requirements".
            std::string footer, label;
            for (const auto& word : pdf.words[page]) {
                std::string& text = word.right <= 672 ? footer : label;
                if (word.baseline < 43)
                    text += (text.empty() || text.ends_with('-') ? "" : " ") + word.text;
            }
            EXPECT_EQ(footer, Report::footerText);
            EXPECT_TRUE(label.starts_with("Tavrin · page " + std::to_string(page + 1) + " of " +
                                          count + " Exported "))
                << label;
            EXPECT_NE(label.find("2025"), std::string::npos) << label;
            if (page > 0) {
                EXPECT_TRUE(
                    hasLine(pdf.pages[page], "Loudness report: Apple Podcasts (continued)"));
                EXPECT_TRUE(
                    hasLine(pdf.pages[page], "File Integrated Diff. LRA True peak Max S Result"));
                const std::string first =
                    "Episode " + std::to_string(23 + 27 * (page - 1)) + ".wav ";
                EXPECT_TRUE(hasLine(pdf.pages[page], first, true));
            }
        }
        if (rows) {
            EXPECT_TRUE(
                hasLine(pdf.pages.back(), "Episode " + std::to_string(rows) + ".wav ", true));
        }
    }
}

TEST(ReportPdf, HeaderNamesTheSpecItsSourceCautionAndTally) {
    std::vector<ReportRow> mixed = {passingRows(1)[0], row("Loud.wav", measured(-13.0, -1.6)),
                                    row("Silent.wav", LoudnessResult{}),
                                    row("Broken.m4a", std::nullopt, "This file isn't audio.")};
    mixed[0].copy = ReportRow::Copy{.limited = true};
    mixed[1].copy = ReportRow::Copy{.inOriginalFormat = true};
    const struct {
        const DeliverySpec& spec;
        std::vector<ReportRow> rows;
    } cases[] = {{DeliverySpec::applePodcasts(), mixed}, {DeliverySpec::atscA85(), {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.spec.id);
        const std::string title = "Loudness report: " + c.spec.name;
        const auto pdf = render(c.rows, c.spec, title);
        ASSERT_EQ(pdf.pages.size(), 1u);
        const auto& page = pdf.pages[0];
        ASSERT_GE(page.size(), 5u);
        EXPECT_EQ(page[0], title);
        EXPECT_EQ(page[1], c.spec.name + ": " + c.spec.ruleText());
        const std::string source =
            "Source: " + c.spec.sourceName + (c.spec.sourceURL ? " · " + *c.spec.sourceURL : "");
        EXPECT_TRUE(shortenedFrom(page[2], source)) << page[2];
        const std::size_t tallyLine = c.spec.caution ? 4 : 3;
        if (c.spec.caution) {
            EXPECT_TRUE(shortenedFrom(page[3], *c.spec.caution)) << page[3];
        }
        const std::string copies =
            c.rows.empty() ? "" : "2 copies written (1 limited, 1 in the original’s format) · ";
        EXPECT_TRUE(page[tallyLine].starts_with(Report::tallyText(c.rows, c.spec) + " · " + copies))
            << page[tallyLine];
        EXPECT_NE(page[tallyLine].find("2025"), std::string::npos); // the date, in any locale
        EXPECT_EQ(hasLine(pdf.pages[0], "No files."), c.rows.empty());
        EXPECT_NE(pdf.info.find("Title:           " + title + "\n"), std::string::npos);
        EXPECT_NE(pdf.info.find("Creator:         Tavrin\n"), std::string::npos);
    }
}

TEST(ReportPdf, CellsSignOnlyDiffAndTruePeakExplainTheResultAndFitTheirColumn) {
    const std::vector<ReportRow> rows = {
        row("Episode 1.wav", measured(-16.04, -1.6)),
        row("Loud.wav", measured(-14.0, 0.3, 5.0, 2.0)),
        row("Silent.wav", LoudnessResult{}),
        row("Broken.m4a", std::nullopt, "This file isn't audio."),
        row("Quiet.wav", measured(-18.0, -6.0), std::nullopt, "+2.0 dB"),
        row("Waiting.wav", std::nullopt),
        row(std::string(150, 'a') + std::string(146, 'z') + ".wav", measured(-16.0, -1.6)),
    };
    const auto pdf = render(rows, DeliverySpec::applePodcasts());
    ASSERT_EQ(pdf.pages.size(), 1u);
    const char* const expected[] = {
        "Episode 1.wav −16.0 0.0 6.2 −1.6 −12.3 Pass",
        "Silent.wav — — — — — No reading: The file is silent.",
        "Broken.m4a — — — — — Error: This file isn't audio.",
        "Quiet.wav −18.0 −2.0 6.2 −6.0 −12.3 Fail: 2.0 LU too quiet · Fix: +2.0 dB",
        "Waiting.wav — — — — — —",
    };
    for (const char* line : expected)
        EXPECT_TRUE(hasLine(pdf.pages[0], line)) << line << "\n"
                                                 << testing::PrintToString(pdf.pages[0]);
    // Too long for its column, so wrapped (its whole text is checked below); the numbers stand.
    EXPECT_TRUE(
        hasLine(pdf.pages[0], "Loud.wav −14.0 +2.0 5.0 +0.3 2.0 Fail: 2.0 LU too loud", true));
    // Only a passing row's Result is set in the regular face.
    // (pdftohtml joins neighbouring text of one font: the Max S cell runs into a regular Pass.)
    EXPECT_TRUE(std::regex_search(pdf.xml, std::regex(R"(font="\d+">[^<]*Pass</text>)")));
    for (const char* bold : {"<b>Fail: 2.0 LU too quiet", "<b>No reading:", "<b>Error:"})
        EXPECT_NE(pdf.xml.find(bold), std::string::npos) << bold;
    // A name too long for the File column is shortened in the middle, keeping its extension.
    const std::regex shortened("aaaa+…z*zzzz\\.wav");
    const auto word = std::ranges::find_if(
        pdf.words[0], [&](const Word& w) { return std::regex_match(w.text, shortened); });
    ASSERT_NE(word, pdf.words[0].end());
    EXPECT_NEAR(word->left, 40, 0.5);
    EXPECT_LE(word->right, 40 + 232 + 0.5); // the File column less its 6-point gap

    // A spec measured in RMS shows its own numbers in the same columns.
    LoudnessResult chapter = measured(-19.0, -3.2);
    chapter.samplePeak = -3.5;
    chapter.rms = -20.04;
    chapter.noiseFloor = -65.0;
    const auto audiobook =
        render({row("Chapter 1.wav", chapter)}, *DeliverySpec::preset("audiobook"));
    for (const char* line : {"File RMS Diff. Floor Sample pk LUFS Result",
                             "Chapter 1.wav −20.0 +0.5 −65.0 −3.5 −19.0 Pass"})
        EXPECT_TRUE(hasLine(audiobook.pages[0], line))
            << line << "\n"
            << testing::PrintToString(audiobook.pages[0]);
}

TEST(ReportPdf, RendersOnTwoThreadsAtOnce) {
    const auto rows = passingRows(60);
    const auto expected = render(rows, DeliverySpec::spotify()).pages;
    std::array<std::vector<std::uint8_t>, 2> bytes;
    std::array<std::thread, 2> threads;
    for (std::size_t i = 0; i < threads.size(); ++i)
        threads[i] = std::thread([&, i] {
            for (int repeat = 0; repeat < 3; ++repeat)
                bytes[i] = Report::pdf(rows, DeliverySpec::spotify(),
                                       "Loudness report: Apple Podcasts", "Tavrin", reportDate);
        });
    for (auto& thread : threads)
        thread.join();
    for (const auto& document : bytes)
        EXPECT_EQ(read(document).pages, expected);
}

TEST(ReportPdf, SaysWhatTheRowsAndOptionsHoldWholeOnEitherPaper) {
    // Results far wider than their column, and a finding.
    const ReportRow loud = row("Loud.wav", measured(-9.0, 0.3), std::nullopt,
                               "Loud (Apple Podcasts).wav: −16.0 LUFS, −6.7 dBTP");
    ReportRow broken = row("Broken.wav", std::nullopt,
                           "The file couldn’t be read: the decoder stopped at 12.3 s of 60.0 s "
                           "(Invalid data found when processing input).");
    broken.findings = {{Finding::Kind::clipping, 3, 1.0,
                        "The audio is clipped: 3 runs of 3 or more samples held at −0.2 dBFS or "
                        "above, the first at 0:01."}};
    ReportRow elsewhere = broken;
    elsewhere.folder = "/audio/other";
    // Findings from two folders, more than a page of them.
    std::vector<ReportRow> warned = passingRows(40);
    for (std::size_t i = 0; i < warned.size(); ++i) {
        warned[i].folder = i % 2 ? "/audio/a" : "/audio/b";
        warned[i].findings = {{Finding::Kind::dcOffset, 1, 0.0, "First of " + warned[i].name + "."},
                              {Finding::Kind::phase, 1, 0.0, "Second of " + warned[i].name + "."}};
    }
    const Report::PdfOptions a4{Report::Paper::a4, false};
    const Report::SignOff signOff{"Ann Lee", "4711", "Checked after the remaster."};
    const struct {
        const char* name;
        std::vector<ReportRow> rows;
        Report::PdfOptions options;
        std::size_t pages; ///< 0: not counted
        bool folders;
    } cases[] = {
        {"one folder", {loud, broken}, {}, 1, false},
        {"two folders", {loud, elsewhere}, {}, 1, true},
        {"A4, dual mono", {loud, broken}, {Report::Paper::a4, true}, 1, false},
        {"A4 holds 21 one-line rows", passingRows(22), a4, 2, false},
        {"findings over pages", warned, {}, 0, true},
        {"signed off", passingRows(30), {.signOff = signOff}, 2, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto pdf = render(c.rows, DeliverySpec::applePodcasts(),
                                "Loudness report: Apple Podcasts", c.options);
        const std::string words = allWords(pdf);
        const bool isA4 = c.options.paper == Report::Paper::a4;
        EXPECT_NE(pdf.info.find(isA4 ? "Page size:       841.89 x 595.28 pts (A4)"
                                     : "Page size:       792 x 612 pts (letter)"),
                  std::string::npos);
        if (c.pages) {
            EXPECT_EQ(pdf.pages.size(), c.pages);
        }
        // The note stands under the preset line, and only there.
        ASSERT_GE(pdf.pages.at(0).size(), 3u);
        EXPECT_EQ(pdf.pages[0][2] == Report::dualMonoNote, c.options.dualMono);
        EXPECT_EQ(occurrences(words, "dual mono"), c.options.dualMono ? 1u : 0u);
        std::size_t marked = 0;
        for (const ReportRow& r : c.rows) {
            const bool folderShown = std::ranges::any_of(pdf.words, [&](const auto& page) {
                return std::ranges::any_of(page, [&](const Word& w) { return w.text == r.folder; });
            });
            EXPECT_EQ(folderShown, c.folders) << r.folder;
            // Each sentence stands once, in its row: a one-page table holds them all.
            for (const Finding& finding : r.findings)
                EXPECT_EQ(occurrences(words, finding.text), 1u) << finding.text;
            marked += !r.findings.empty();
        }
        EXPECT_EQ(occurrences(words, "⚠"), marked);
        // The sign-off under the source on the first page, its names in every footer.
        const bool signedOff = !c.options.signOff.empty();
        EXPECT_EQ(hasLine(pdf.pages[0], "Operator: Ann Lee · Job: 4711"), signedOff);
        EXPECT_EQ(hasLine(pdf.pages[0], "Notes: Checked after the remaster."), signedOff);
        EXPECT_EQ(occurrences(words, "Ann Lee · Job 4711"), signedOff ? pdf.pages.size() : 0u);
    }
    // Wrapped, not shortened: each Result reads whole, line after line.
    const std::string words = allWords(render({loud, broken}, DeliverySpec::applePodcasts()));
    for (const std::string& result : std::vector<std::string>{
             "Fail: 7.0 LU too loud; true peak +0.3 dBTP is over −1.0 dBTP · Fix: Loud (Apple "
             "Podcasts).wav: −16.0 LUFS, −6.7 dBTP",
             "Error: " + *broken.error})
        EXPECT_NE(words.find(result), std::string::npos) << result << "\n" << words;
}

// With graphs, each measured file gets a page of its own after the table; a file without a reading
// gets none, and the page count in every footer includes them.
TEST(ReportPdf, GraphsAddAPagePerMeasuredFile) {
    LoudnessMeter meter(std::vector<double>{1.0, 1.0}, 48000);
    meter.keepTimeline();
    const auto tone = test::sine(1000, -16, 5, 48000);
    meter.process(std::vector<std::vector<double>>{tone, tone});
    const LoudnessResult result = meter.finish();
    const auto timeline = std::make_shared<const Timeline>(meter.takeTimeline());
    std::vector<ReportRow> rows = {row("Intro.wav", result), row("Outro.wav", result),
                                   row("Broken.wav", std::nullopt, "The file is damaged.")};
    for (ReportRow& r : rows)
        r.timeline = r.result ? timeline : nullptr;
    const DeliverySpec& spec = DeliverySpec::ebuR128();
    const Rendered without = render(rows, spec);
    const Rendered with = render(rows, spec, "Loudness report", {.graphs = true});
    ASSERT_EQ(with.pages.size(), without.pages.size() + 2);
    const auto& page = with.pages.back();
    EXPECT_TRUE(hasLine(page, "Outro.wav")) << allWords(with);
    const std::string words = allWords(with);
    EXPECT_EQ(occurrences(words, "Short-term"), 2u); // the legend of each graph
    EXPECT_EQ(occurrences(words, "page 3 of 3"), 1u);
}

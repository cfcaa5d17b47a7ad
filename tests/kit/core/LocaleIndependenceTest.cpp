#include "Results.h"
#include "tavrin/core/Fmt.h"
#include "tavrin/meter/AudioFileMeter.h"
#include "tavrin/reports/Report.h"
#include "tavrin/rules/DeliverySpec.h"

#include <clocale>
#include <gtest/gtest.h>
#include <locale>
#include <string>
#include <vector>

using namespace tavrin;
using tavrin::test::row;

namespace {

/// Switches the C and C++ global locales to German (decimal comma) for one test, and back to the
/// "C" locale the tests run in after it.
class GermanLocale : public testing::Test {
protected:
    void SetUp() override {
        if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
            GTEST_SKIP() << "the de_DE.UTF-8 locale is not installed";
        std::locale::global(std::locale("de_DE.UTF-8"));
    }
    void TearDown() override { std::locale::global(std::locale::classic()); }
};

} // namespace

TEST_F(GermanLocale, NumbersKeepTheDecimalPoint) {
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    EXPECT_EQ(Fmt::number(-1234.56, false), "−1234.6");
    EXPECT_EQ(Fmt::plain(-23.04), "-23.0");
    EXPECT_EQ(Fmt::duration(3600.5), "1:00:00");
    EXPECT_EQ(
        DeliverySpec::spotify().ruleText(),
        "−14.0 LUFS ±1.0 LU, true peak ≤ −1.0 dBTP (≤ −2.0 dBTP when louder than −14.0 LUFS)");
    const AudioFileFormat format{AudioCodec::linearPCM, 24, false, 44100, 2, {}};
    EXPECT_EQ(AudioFileMeter::formatDescription(format, "a.wav"),
              "WAV · 24-bit · 44.1 kHz · stereo");
}

TEST_F(GermanLocale, CsvIsUnchanged) {
    // Under a decimal comma, strtod would stop at the "." and guard a plain negative number.
    EXPECT_EQ(Report::escapeCSV("-1.5"), "-1.5");
    EXPECT_EQ(Report::escapeCSV("-1,5"), "\"'-1,5\"");
    const std::vector<ReportRow> rows = {
        row("a.wav", LoudnessResult{-23.6, 5.04, -20.0, -21.0, -0.5, -0.94, 12.345678, 44100, 1})};
    const std::string csv = Report::csv(rows, DeliverySpec::ebuR128());
    EXPECT_TRUE(csv.ends_with("\r\na.wav,/audio/show,WAV · 24-bit · 48 kHz · "
                              "stereo,12.35,-23.6,-23.0,-0.6,0.5,5.0,-21.0,-20.0,-0.9,"
                              "-1.0,-0.5,Fail,0.6 LU too quiet; true peak −0.9 dBTP is over "
                              "−1.0 dBTP,,\r\n"))
        << csv;
}

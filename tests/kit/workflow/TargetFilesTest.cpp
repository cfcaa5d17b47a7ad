#include "tavrin/workflow/TargetFiles.h"

#include "Results.h"
#include "tavrin/rules/FixPlan.h"
#include "tavrin/rules/Verdict.h"

#include <gtest/gtest.h>
#include <span>
#include <stdexcept>
#include <string>

using namespace tavrin;
using tavrin::test::measured;

namespace {

const std::string promos = R"({"version": 1, "name": "Network X promos", "target": -18.0,
    "tolerance": 1.0, "maxTruePeak": -2.0, "maxLoudnessRange": 8, "maxShortTerm": -10,
    "maxMomentary": -6, "maxSamplePeak": -3)";

/// A reading of the promos' loudness with every limited quantity given.
LoudnessResult reading(double integrated, double range, double shortTerm, double momentary,
                       double samplePeak) {
    LoudnessResult result = measured(integrated, samplePeak - 0.5, samplePeak);
    result.loudnessRange = range;
    result.maxShortTerm = shortTerm;
    result.maxMomentary = momentary;
    result.truePeak = std::min(-2.5, samplePeak + 0.5);
    return result;
}

} // namespace

TEST(TargetFiles, EachLimitPassesAtItsEdgeAfterRoundingAndFailsWithItsSentence) {
    const DeliverySpec spec = Workflow::targetFromJson(promos + "}");
    const struct {
        const char* what;
        LoudnessResult result;
        std::vector<std::string> problems;
        std::string plan; ///< the fix's remark, or its refusal
    } cases[] = {
        // clang-format off
        {"every limit on its edge", reading(-18.0, 8.04, -10.04, -6.04, -3.04), {}, ""},
        {"range", reading(-18.0, 8.05, -12, -8, -5), {"loudness range 8.1 LU is over 8.0 LU"},
         "Gain can't change the loudness range: 8.1 LU stays over 8.0 LU."},
        {"short-term", reading(-18.0, 5, -9.94, -8, -5), {"maximum short-term loudness −9.9 LUFS is over −10.0 LUFS"},
         "Gain can't fix the maximum short-term loudness: at −18.0 LUFS it would be −9.9 LUFS, over −10.0 LUFS."},
        {"momentary", reading(-18.0, 5, -12, -5.9, -5), {"maximum momentary loudness −5.9 LUFS is over −6.0 LUFS"},
         "Gain can't fix the maximum momentary loudness: at −18.0 LUFS it would be −5.9 LUFS, over −6.0 LUFS."},
        {"sample peak", reading(-18.0, 5, -12, -8, -2.9), {"sample peak −2.9 dBFS is over −3.0 dBFS"},
         "Gain can't fix the sample peak: at −18.0 LUFS it would be −2.9 dBFS, over −3.0 dBFS."},
        // Gain fixes the loudness and names what it leaves; lowering also cures the maxima.
        {"quiet with a wide range", reading(-21.0, 9, -14, -10, -8), {"3.0 LU too quiet", "loudness range 9.0 LU is over 8.0 LU"},
         "Gain can't change the loudness range: 9.0 LU stays over 8.0 LU."},
        {"loud with loud maxima", reading(-16.0, 5, -9, -5, -6), {"2.0 LU too loud", "maximum short-term loudness −9.0 LUFS is over −10.0 LUFS", "maximum momentary loudness −5.0 LUFS is over −6.0 LUFS"},
         ""},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Verdict verdict = Verdict::make(c.result, spec);
        EXPECT_EQ(verdict.problems, c.problems);
        EXPECT_EQ(verdict.limitsOK, verdict.problems.size() == (verdict.loudnessOK ? 0u : 1u));
        const FixPlan plan = FixPlan::make(c.result, spec);
        if (const auto* gain = std::get_if<FixPlan::Gain>(&plan.value))
            EXPECT_EQ(gain->remark().value_or(""), c.plan);
        else if (const auto* refused = std::get_if<FixPlan::Refused>(&plan.value))
            EXPECT_EQ(refused->text(FixPlan::limiterInApp), c.plan);
        else
            EXPECT_TRUE(c.plan.empty() && c.problems.empty());
    }
}

TEST(TargetFiles, TheFivePresetsAsFilesJudgeAsTheBuiltInOnes) {
    const auto& presets = DeliverySpec::all();
    for (const DeliverySpec& preset : std::span(presets).first(5)) {
        SCOPED_TRACE(preset.id);
        const DeliverySpec asFile = Workflow::targetFromJson(Workflow::targetToJson(preset));
        EXPECT_EQ(asFile.id, "target:" + preset.name);
        EXPECT_EQ(asFile.ruleText(), preset.ruleText());
        for (double integrated : {-30.0, -24.05, -23.5, -16.0, -14.0, -13.94, -13.0, -10.0})
            for (double truePeak : {-3.0, -2.04, -1.95, -1.0, -0.5})
                EXPECT_EQ(Verdict::make(measured(integrated, truePeak), asFile),
                          Verdict::make(measured(integrated, truePeak), preset))
                    << integrated << " LUFS, " << truePeak << " dBTP";
    }
}

TEST(TargetFiles, RefusesWhatIsntATargetNamingTheKey) {
    const std::string head = R"({"version": 1, "name": "P", "target": -18, "tolerance": 1)";
    const struct {
        std::string document;
        std::string sentence;
    } cases[] = {
        {head + R"(, "maxTruePeak": -2, "maxRange": 8})", "“maxRange” isn’t a key a target has."},
        {head + "}", "“maxTruePeak” is missing."},
        {head + R"(, "maxTruePeak": "-2"})", "“maxTruePeak” isn’t a number."},
        {head + R"(, "maxTruePeak": -2, "maxShortTerm": 3})",
         "“maxShortTerm” is out of range. The short-term limit must be between −50.0 and 0.0 "
         "LUFS (it was 3.0)."},
        {R"({"version": 2, "name": "P", "target": -18, "tolerance": 1, "maxTruePeak": -2})",
         "Its “version” isn’t 1, the only version this Tavrin reads."},
        {R"({"version": 1, "name": " ", "target": -18, "tolerance": 1, "maxTruePeak": -2})",
         "“name” must be text of 1 to 80 characters, without line breaks."},
        {"[1, 2]", "It isn’t a JSON object."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.document);
        try {
            Workflow::targetFromJson(c.document);
            ADD_FAILURE() << "read";
        } catch (const std::invalid_argument& error) {
            EXPECT_EQ(error.what(), c.sentence);
        }
    }
    // Every key comes back as it was written, null optional limits as absent.
    const DeliverySpec spec = Workflow::targetFromJson(promos + R"(, "louderMaxTruePeak": null})");
    EXPECT_EQ(Workflow::targetFromJson(Workflow::targetToJson(spec)), spec);
    EXPECT_EQ(spec.ruleText(), "−18.0 LUFS ±1.0 LU, true peak ≤ −2.0 dBTP, range ≤ 8.0 LU, "
                               "short-term ≤ −10.0 LUFS, momentary ≤ −6.0 LUFS, sample peak ≤ "
                               "−3.0 dBFS");
}

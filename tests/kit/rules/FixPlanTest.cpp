#include "tavrin/rules/FixPlan.h"

#include "Results.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>

using namespace tavrin;
using tavrin::test::measured;

namespace {

/// The plan's numbers are predictions made in floating point; they match the worked figures to
/// well under the display precision, while every text must match exactly.
void expectSamePlan(const FixPlan& actual, const FixPlan& expected) {
    ASSERT_EQ(actual.value.index(), expected.value.index()) << actual.label();
    if (const auto* gain = std::get_if<FixPlan::Gain>(&actual.value)) {
        const auto& want = std::get<FixPlan::Gain>(expected.value);
        EXPECT_NEAR(gain->gain, want.gain, 1e-9);
        EXPECT_NEAR(gain->loudness, want.loudness, 1e-9);
        EXPECT_NEAR(gain->truePeak, want.truePeak, 1e-9);
        EXPECT_EQ(gain->note, want.note);
    } else if (const auto* refused = std::get_if<FixPlan::Refused>(&actual.value)) {
        EXPECT_EQ(*refused, std::get<FixPlan::Refused>(expected.value));
    }
}

} // namespace

TEST(FixPlan, GainsPartialFixesAndRefusals) {
    using Gain = FixPlan::Gain;
    using Refused = FixPlan::Refused;
    const DeliverySpec& apple = DeliverySpec::applePodcasts();
    const DeliverySpec& ebu = DeliverySpec::ebuR128();
    const DeliverySpec& spotify = DeliverySpec::spotify();
    const struct {
        const DeliverySpec& spec;
        double integrated;
        double truePeak;
        FixPlan expected;
        const char* label;
    } cases[] = {
        // clang-format off
        {apple, -20.0, -5.5, {Gain{4.0, -16.0, -1.5, std::nullopt}}, "+4.0 dB → −16.0 LUFS"},
        {apple, -20.0, -4.96, {Gain{4.0, -16.0, -0.96, std::nullopt}}, "+4.0 dB → −16.0 LUFS"}, // peak rounds onto the ceiling
        {apple, -20.0, -4.1, {Gain{3.0, -17.0, -1.1, "Set 1.0 LU under the target to keep the true peak under −1.0 dBTP; still within ±1.0 LU."}}, "+3.0 dB → −17.0 LUFS (short of target)"},
        {apple, -20.0, -3.0, {Refused{std::string("Raising it to −16.0 LUFS needs +4.0 dB of gain, which would put the true peak at +1.0 dBTP, over the −1.0 dBTP ceiling. With gain alone the loudest it can go is −18.0 LUFS."), true}}, "Can't fix with gain alone"},
        {ebu, -18.0, 5.0, {Refused{std::string("Even after lowering it to −23.0 LUFS (−5.0 dB), the true peak would be 0.0 dBTP, over the −1.0 dBTP ceiling."), true}}, "Can't fix with gain alone"},
        {ebu, -23.0, 0.0, {Refused{std::string("Raising it to −23.0 LUFS needs 0.0 dB of gain, which would put the true peak at 0.0 dBTP, over the −1.0 dBTP ceiling. With gain alone the loudest it can go is −24.0 LUFS."), true}}, "Can't fix with gain alone"}, // a gain of 0 counts as raising
        {spotify, -13.0, -1.5, {Gain{-1.0, -14.0, -2.5, std::nullopt}}, "−1.0 dB → −14.0 LUFS"}, // the copy sits at the target: no louder ceiling
        {ebu, -23.4, -1.0, {FixPlan::AlreadyPasses{}}, "Already passes"},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.integrated << " LUFS, " << c.truePeak << " dBTP");
        const FixPlan plan = FixPlan::make(measured(c.integrated, c.truePeak), c.spec);
        expectSamePlan(plan, c.expected);
        EXPECT_EQ(plan.label(), c.label);
    }
    // Where it is read, the refusal says how to reach the limiter there.
    const FixPlan::Refused refused{"Gain alone can’t.", true};
    EXPECT_EQ(refused.text(FixPlan::limiterInApp),
              "Gain alone can’t. It needs a limiter first: Fix with Limiter can bring it there.");
    EXPECT_EQ(FixPlan::Refused{"No reading."}.text(FixPlan::limiterInCommandLine), "No reading.");
}

TEST(FixPlan, RefusesWithoutAReadingAndSaysWhy) {
    const std::string prefix = "There's no loudness reading to fix: ";
    const struct {
        const char* what;
        LoudnessResult result;
        std::string message;
    } cases[] = {
        {"silent", measured(std::nullopt, std::nullopt, std::nullopt),
         prefix + "The file is silent."},
        {"too short", measured(std::nullopt, -3.0),
         prefix + "Too short or too quiet to measure (needs 0.4 s above −70 LUFS)."},
        {"loudness off, no true peak", measured(-30.0, std::nullopt), prefix + "7.0 LU too quiet"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        expectSamePlan(FixPlan::make(c.result, DeliverySpec::ebuR128()),
                       FixPlan{FixPlan::Refused{c.message}});
    }
    // Without a true-peak reading there is nothing to push over the ceiling.
    expectSamePlan(FixPlan::make(measured(-23.0, std::nullopt), DeliverySpec::ebuR128()),
                   FixPlan{FixPlan::AlreadyPasses{}});
}

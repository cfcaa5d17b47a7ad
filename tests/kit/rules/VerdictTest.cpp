#include "tavrin/rules/Verdict.h"

#include "Results.h"

#include <gtest/gtest.h>
#include <optional>
#include <ostream>
#include <string>

namespace tavrin {
// Readable failure messages for whole-verdict comparisons.
inline void PrintTo(const Verdict& v, std::ostream* os) {
    *os << rawValue(v.status) << " delta=" << (v.delta ? std::to_string(*v.delta) : "absent")
        << " loudnessOK=" << v.loudnessOK << " peakOK=" << v.peakOK << " ceiling=" << v.ceiling
        << " problems=[" << v.summary() << "]";
}
} // namespace tavrin

using namespace tavrin;
using tavrin::test::measured;
using Status = Verdict::Status;

TEST(Verdict, JudgesRoundedLoudnessAndTruePeakAgainstTheSpec) {
    const DeliverySpec& ebu = DeliverySpec::ebuR128();
    const DeliverySpec& spotify = DeliverySpec::spotify();
    const DeliverySpec op59 = *DeliverySpec::preset("op-59"),
                       arib = *DeliverySpec::preset("arib-tr-b32");
    const struct {
        const DeliverySpec& spec;
        LoudnessResult result;
        Verdict expected;
    } cases[] = {
        // clang-format off
        {ebu, measured(-23.0, -3.0), {Status::pass, 0.0, true, true, -1.0, {}}}, // on target
        {ebu, measured(-23.54, -3.0), {Status::pass, -0.5, true, true, -1.0, {}}}, // the tolerance passes
        {ebu, measured(-23.6, -3.0), {Status::fail, -0.6, false, true, -1.0, {"0.6 LU too quiet"}}},
        {ebu, measured(-20.5, -3.0), {Status::fail, 2.5, false, true, -1.0, {"2.5 LU too loud"}}},
        {ebu, measured(-23.3, -3.0), {Status::pass, -0.3, true, true, -1.0, {}}}, // delta rounded again
        {ebu, measured(-22.45, -3.0), {Status::pass, 0.5, true, true, -1.0, {}}}, // −22.5 as shown, so +0.5
        {ebu, measured(-23.0, -0.96), {Status::pass, 0.0, true, true, -1.0, {}}}, // peak rounds onto the ceiling
        {ebu, measured(-23.0, -0.94), {Status::fail, 0.0, true, false, -1.0, {"true peak −0.9 dBTP is over −1.0 dBTP"}}},
        {ebu, measured(-23.0, 0.3), {Status::fail, 0.0, true, false, -1.0, {"true peak +0.3 dBTP is over −1.0 dBTP"}}},
        {ebu, measured(-23.6, -0.94), {Status::fail, -0.6, false, false, -1.0, {"0.6 LU too quiet", "true peak −0.9 dBTP is over −1.0 dBTP"}}},
        {ebu, measured(-23.0, std::nullopt), {Status::pass, 0.0, true, true, -1.0, {}}}, // no true peak is never over
        {spotify, measured(-13.0, -1.5), {Status::fail, 1.0, true, false, -2.0, {"true peak −1.5 dBTP is over −2.0 dBTP"}}}, // louder ceiling
        {ebu, measured(std::nullopt, std::nullopt, std::nullopt), {Status::unmeasurable, std::nullopt, false, true, -1.0, {"The file is silent."}}},
        // The broadcast presets after the five, at their edges.
        {op59, measured(-25.04, -1.96), {Status::pass, -1.0, true, true, -2.0, {}}},
        {op59, measured(-22.9, -2.5), {Status::fail, 1.1, false, true, -2.0, {"1.1 LU too loud"}}},
        {arib, measured(-24.0, -1.5), {Status::pass, 0.0, true, true, -1.0, {}}},
        {arib, measured(-24.0, -0.94), {Status::fail, 0.0, true, false, -1.0, {"true peak −0.9 dBTP is over −1.0 dBTP"}}},
        {spotify, measured(std::nullopt, 3.0, 2.0), {Status::unmeasurable, std::nullopt, false, true, -1.0, {"Too short or too quiet to measure (needs 0.4 s above −70 LUFS)."}}},
        // clang-format on
    };
    for (const auto& c : cases)
        EXPECT_EQ(Verdict::make(c.result, c.spec), c.expected);
}

TEST(Verdict, SummaryJoinsTheProblemsAfterTheLabel) {
    const DeliverySpec& ebu = DeliverySpec::ebuR128();
    const struct {
        LoudnessResult result;
        const char* summary;
    } cases[] = {
        {measured(-23.0, -3.0), "Pass"},
        {measured(-20.5, -3.0), "Fail: 2.5 LU too loud"},
        {measured(-23.6, -0.94), "Fail: 0.6 LU too quiet; true peak −0.9 dBTP is over −1.0 dBTP"},
        {measured(std::nullopt, std::nullopt, std::nullopt), "No reading: The file is silent."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Verdict::make(c.result, ebu).summary(), c.summary);
}

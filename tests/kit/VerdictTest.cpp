#include "tavrin/Verdict.h"

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

namespace {} // namespace

TEST(Verdict, JudgesRoundedLoudnessAndTruePeakAgainstTheSpec) {
    const DeliverySpec& ebu = DeliverySpec::ebuR128();
    const DeliverySpec& spotify = DeliverySpec::spotify();
    const DeliverySpec& apple = DeliverySpec::applePodcasts();
    const DeliverySpec& atsc = DeliverySpec::atscA85();
    const struct {
        const char* what;
        const DeliverySpec& spec;
        LoudnessResult result;
        Verdict expected;
        const char* summary;
    } cases[] = {
        {"on target",
         ebu,
         measured(-23.0, -3.0),
         {Status::pass, 0.0, true, true, -1.0, {}},
         "Pass"},
        {"a delta equal to the tolerance passes",
         ebu,
         measured(-23.54, -3.0),
         {Status::pass, -0.5, true, true, -1.0, {}},
         "Pass"},
        {"just outside the tolerance",
         ebu,
         measured(-23.6, -3.0),
         {Status::fail, -0.6, false, true, -1.0, {"0.6 LU too quiet"}},
         "Fail: 0.6 LU too quiet"},
        {"too loud",
         ebu,
         measured(-20.5, -3.0),
         {Status::fail, 2.5, false, true, -1.0, {"2.5 LU too loud"}},
         "Fail: 2.5 LU too loud"},
        {"delta is rounded again after subtracting",
         ebu,
         measured(-23.3, -3.0),
         {Status::pass, -0.3, true, true, -1.0, {}},
         "Pass"},
        {"true peak rounding onto the ceiling passes",
         ebu,
         measured(-23.0, -0.96),
         {Status::pass, 0.0, true, true, -1.0, {}},
         "Pass"},
        {"true peak rounding over the ceiling",
         ebu,
         measured(-23.0, -0.94),
         {Status::fail, 0.0, true, false, -1.0, {"true peak −0.9 dBTP is over −1.0 dBTP"}},
         "Fail: true peak −0.9 dBTP is over −1.0 dBTP"},
        {"positive true peak is signed",
         ebu,
         measured(-23.0, 0.3),
         {Status::fail, 0.0, true, false, -1.0, {"true peak +0.3 dBTP is over −1.0 dBTP"}},
         "Fail: true peak +0.3 dBTP is over −1.0 dBTP"},
        {"a true peak that rounds to zero has no sign",
         ebu,
         measured(-23.0, -0.04),
         {Status::fail, 0.0, true, false, -1.0, {"true peak 0.0 dBTP is over −1.0 dBTP"}},
         "Fail: true peak 0.0 dBTP is over −1.0 dBTP"},
        {"loudness first, then true peak",
         ebu,
         measured(-23.6, -0.94),
         {Status::fail,
          -0.6,
          false,
          false,
          -1.0,
          {"0.6 LU too quiet", "true peak −0.9 dBTP is over −1.0 dBTP"}},
         "Fail: 0.6 LU too quiet; true peak −0.9 dBTP is over −1.0 dBTP"},
        {"no true-peak reading is never over",
         ebu,
         measured(-23.0, std::nullopt),
         {Status::pass, 0.0, true, true, -1.0, {}},
         "Pass"},
        {"louder than the target uses the louder ceiling",
         spotify,
         measured(-13.0, -1.5),
         {Status::fail, 1.0, true, false, -2.0, {"true peak −1.5 dBTP is over −2.0 dBTP"}},
         "Fail: true peak −1.5 dBTP is over −2.0 dBTP"},
        {"on target after rounding keeps the normal ceiling",
         spotify,
         measured(-13.96, -1.5),
         {Status::pass, 0.0, true, true, -1.0, {}},
         "Pass"},
        {"loudness rounding onto the window edge passes",
         apple,
         measured(-17.04, -3.0),
         {Status::pass, -1.0, true, true, -1.0, {}},
         "Pass"},
        {"wide tolerance, both edges",
         atsc,
         measured(-22.0, -5.0),
         {Status::pass, 2.0, true, true, -2.0, {}},
         "Pass"},
        {"digital silence",
         ebu,
         measured(std::nullopt, std::nullopt, std::nullopt),
         {Status::unmeasurable, std::nullopt, false, true, -1.0, {"The file is silent."}},
         "No reading: The file is silent."},
        {"too short to gate",
         spotify,
         measured(std::nullopt, 3.0, 2.0),
         {Status::unmeasurable,
          std::nullopt,
          false,
          true,
          -1.0,
          {"Too short or too quiet to measure (needs 0.4 s above −70 LUFS)."}},
         "No reading: Too short or too quiet to measure (needs 0.4 s above −70 LUFS)."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Verdict verdict = Verdict::make(c.result, c.spec);
        EXPECT_EQ(verdict, c.expected);
        EXPECT_EQ(verdict.summary(), c.summary);
    }
}

TEST(Verdict, StatusLabelsAndRawValuesRoundTrip) {
    const struct {
        Status status;
        const char* raw;
        const char* label;
    } cases[] = {
        {Status::pass, "pass", "Pass"},
        {Status::fail, "fail", "Fail"},
        {Status::unmeasurable, "unmeasurable", "No reading"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.raw);
        EXPECT_EQ(rawValue(c.status), c.raw);
        EXPECT_EQ(label(c.status), c.label);
        EXPECT_EQ(statusFromRawValue(c.raw), c.status);
    }
    for (const char* other : {"Pass", "No reading", "", "passed"})
        EXPECT_EQ(statusFromRawValue(other), std::nullopt) << other;
}

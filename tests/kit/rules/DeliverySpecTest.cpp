#include "tavrin/rules/DeliverySpec.h"

#include <gtest/gtest.h>
#include <string>

using namespace tavrin;

namespace {

DeliverySpec custom() {
    return {.id = "house",
            .name = "House/Rule",
            .target = -20.0,
            .tolerance = 0.25,
            .maxTruePeak = 0.5,
            .summary = "Ours.",
            .sourceName = "None"};
}

} // namespace

TEST(DeliverySpec, LouderCeilingAppliesOnlyAboveTargetAfterRounding) {
    const struct {
        std::optional<double> integrated;
        double expected;
    } spotify[] = {
        {std::nullopt, -1.0}, {-14.0, -1.0}, {-14.04, -1.0}, {-13.96, -1.0},
        {-13.94, -2.0},       {-13.9, -2.0}, {-30.0, -1.0},  {0.0, -2.0},
    };
    for (const auto& c : spotify) {
        SCOPED_TRACE(c.integrated ? std::to_string(*c.integrated) : "absent");
        EXPECT_EQ(DeliverySpec::spotify().ceiling(c.integrated), c.expected);
    }
}

TEST(DeliverySpec, ShortNameDropsTheParentheticalAndSlashes) {
    const auto shortName = [](const char* name) {
        DeliverySpec spec = custom();
        spec.name = name;
        return spec.shortName();
    };
    EXPECT_EQ(shortName("ATSC A/85 (US TV)"), "ATSC A85");
    EXPECT_EQ(shortName("A/B (C/D) (E)"), "AB");
    EXPECT_EQ(shortName("Name(x)"), "Name(x)");
    EXPECT_EQ(shortName(" (x)"), "");
}

TEST(DeliverySpec, RuleTextCarriesNoPlusSign) {
    DeliverySpec spec = custom();
    spec.louderCeiling = 0.0;
    EXPECT_EQ(spec.ruleText(),
              "−20.0 LUFS ±0.3 LU, true peak ≤ 0.5 dBTP (≤ 0.0 dBTP when louder than −20.0 LUFS)");
}

TEST(DeliverySpec, JsonOmitsAbsentOptionalsAndRoundTrips) {
    DeliverySpec full = custom();
    full.louderCeiling = -2.0;
    full.toleranceIsOurs = true;
    full.caution = "Unofficial.";
    full.sourceURL = "https://example.com";
    EXPECT_EQ(DeliverySpec::fromJson(full.toJson()), full);
    const std::string plain = custom().toJson();
    for (const char* absent : {"louderCeiling", "caution", "sourceURL"})
        EXPECT_EQ(plain.find(absent), std::string::npos) << absent;
    EXPECT_EQ(DeliverySpec::fromJson(plain), custom());
}

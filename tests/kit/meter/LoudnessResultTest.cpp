#include "tavrin/meter/LoudnessResult.h"

#include "tavrin/decode/ChannelRole.h"

#include <gtest/gtest.h>

using namespace tavrin;

TEST(LoudnessResult, JsonOmitsAbsentValuesAndRoundTrips) {
    const LoudnessResult r{-23.25, std::nullopt, -20.0, std::nullopt, -3.0, -2.5, 1.5, 44100, 6};
    EXPECT_EQ(r.toJson().find("maxShortTerm"), std::string::npos);
    EXPECT_EQ(LoudnessResult::fromJson(r.toJson()), r);
}

TEST(ChannelRole, LabelsMapToRoles) {
    // Surrounds and wides at the sides; rear surrounds, heights and unknown labels count as front.
    for (std::uint32_t label : {5u, 6u, 10u, 11u, 35u, 36u})
        EXPECT_EQ(roleForLabel(label), ChannelRole::surround) << label;
    for (std::uint32_t label : {4u, 37u})
        EXPECT_EQ(roleForLabel(label), ChannelRole::lfe) << label;
    for (std::uint32_t label : {1u, 3u, 33u, 34u, 38u, 0xFFFFFFFFu})
        EXPECT_EQ(roleForLabel(label), ChannelRole::front) << label;
}

#include "tavrin/LoudnessResult.h"

#include "tavrin/ChannelRole.h"

#include <gtest/gtest.h>
#include <stdexcept>

using namespace tavrin;

TEST(LoudnessResult, JsonOmitsAbsentValuesAndRoundTrips) {
    LoudnessResult r{-23.25, std::nullopt, -20.0, std::nullopt, -3.0, -2.5, 1.5, 44100, 6};
    const std::string json = r.toJson();
    EXPECT_EQ(json.find("maxShortTerm"), std::string::npos);
    EXPECT_EQ(json.find("loudnessRange"), std::string::npos);
    EXPECT_NE(json.find("\"channels\":6"), std::string::npos);
    EXPECT_EQ(LoudnessResult::fromJson(json), r);
}

TEST(LoudnessResult, JsonRequiresThePlainFields) {
    EXPECT_EQ(LoudnessResult::fromJson(R"({"duration":0,"sampleRate":48000,"channels":1})"),
              (LoudnessResult{.sampleRate = 48000, .channels = 1}));
    EXPECT_THROW(LoudnessResult::fromJson(R"({"duration":0,"sampleRate":48000})"),
                 std::invalid_argument);
    EXPECT_THROW(LoudnessResult::fromJson(R"({"duration":0,"sampleRate":48000,"channels":1.5})"),
                 std::invalid_argument);
    EXPECT_THROW(LoudnessResult::fromJson("not json"), std::invalid_argument);
}

TEST(ChannelRole, LabelsMapToRoles) {
    const struct {
        std::uint32_t label;
        ChannelRole role;
    } cases[] = {
        {1, ChannelRole::front},     {3, ChannelRole::front},          {4, ChannelRole::lfe},
        {37, ChannelRole::lfe},      {5, ChannelRole::surround},       {6, ChannelRole::surround},
        {10, ChannelRole::surround}, {11, ChannelRole::surround},      {35, ChannelRole::surround},
        {36, ChannelRole::surround}, {33, ChannelRole::front},         {34, ChannelRole::front},
        {38, ChannelRole::front},    {0xFFFFFFFF, ChannelRole::front},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(roleForLabel(c.label), c.role);
    }
}

TEST(ChannelRole, DefaultRolesByCount) {
    using enum ChannelRole;
    EXPECT_TRUE(defaultRoles(0).empty());
    EXPECT_TRUE(defaultRoles(-3).empty());
    EXPECT_EQ(defaultRoles(6), (std::vector{front, front, front, lfe, surround, surround}));
    EXPECT_EQ(defaultRoles(8),
              (std::vector{front, front, front, lfe, front, front, surround, surround}));
    EXPECT_EQ(defaultRoles(7), std::vector<ChannelRole>(7, front));
    EXPECT_EQ(weights({front, surround, lfe}), (std::vector{1.0, 1.41, 0.0}));
}

TEST(ChannelRole, RawValuesRoundTripAndRejectOthers) {
    for (auto role : {ChannelRole::front, ChannelRole::surround, ChannelRole::lfe})
        EXPECT_EQ(roleFromRawValue(rawValue(role)), role);
    EXPECT_EQ(roleFromRawValue("Front"), std::nullopt);
}

#include "decode/FfmpegLabels.h"

namespace tavrin {
namespace {

constexpr std::uint32_t unusedLabel = 0;
constexpr std::uint32_t unknownLabel = 0xFFFFFFFF;
/// A named speaker without a label of its own (top side, bottom, …): it counts as a front channel.
constexpr std::uint32_t discreteLabel = 400;

bool holds(const AVChannelLayout& layout, AVChannel a, AVChannel b) {
    return av_channel_layout_index_from_channel(&layout, a) >= 0 &&
           av_channel_layout_index_from_channel(&layout, b) >= 0;
}

} // namespace

std::vector<std::uint32_t> labelsOf(const AVChannelLayout& layout) {
    if (layout.order != AV_CHANNEL_ORDER_NATIVE && layout.order != AV_CHANNEL_ORDER_CUSTOM)
        return {};
    const bool backAndSide = holds(layout, AV_CHAN_BACK_LEFT, AV_CHAN_BACK_RIGHT) &&
                             holds(layout, AV_CHAN_SIDE_LEFT, AV_CHAN_SIDE_RIGHT);
    std::vector<std::uint32_t> labels;
    for (int i = 0; i < layout.nb_channels; ++i) {
        const AVChannel ch = av_channel_layout_channel_from_index(&layout, unsigned(i));
        if (ch >= AV_CHAN_AMBISONIC_BASE && ch <= AV_CHAN_AMBISONIC_END)
            return {};
        std::uint32_t label = discreteLabel;
        if (backAndSide && (ch == AV_CHAN_BACK_LEFT || ch == AV_CHAN_BACK_RIGHT))
            label = ch == AV_CHAN_BACK_LEFT ? 33 : 34;
        else if (backAndSide && (ch == AV_CHAN_SIDE_LEFT || ch == AV_CHAN_SIDE_RIGHT))
            label = ch == AV_CHAN_SIDE_LEFT ? 5 : 6;
        else if (ch >= AV_CHAN_FRONT_LEFT && ch <= AV_CHAN_TOP_BACK_RIGHT)
            label = std::uint32_t(ch) + 1;
        else if (ch == AV_CHAN_STEREO_LEFT || ch == AV_CHAN_STEREO_RIGHT)
            label = ch == AV_CHAN_STEREO_LEFT ? 38 : 39;
        else if (ch == AV_CHAN_WIDE_LEFT || ch == AV_CHAN_WIDE_RIGHT)
            label = ch == AV_CHAN_WIDE_LEFT ? 35 : 36;
        else if (ch == AV_CHAN_SURROUND_DIRECT_LEFT || ch == AV_CHAN_SURROUND_DIRECT_RIGHT)
            label = ch == AV_CHAN_SURROUND_DIRECT_LEFT ? 10 : 11;
        else if (ch == AV_CHAN_LOW_FREQUENCY_2)
            label = 37;
        else if (ch == AV_CHAN_UNUSED)
            label = unusedLabel;
        else if (ch == AV_CHAN_UNKNOWN || ch == AV_CHAN_NONE)
            label = unknownLabel;
        labels.push_back(label);
    }
    return labels;
}

std::optional<AppleChannelLayout::Container> appleContainer(std::string_view demuxer) {
    if (demuxer == "wav")
        return AppleChannelLayout::Container::wav;
    if (demuxer == "caf")
        return AppleChannelLayout::Container::caf;
    if (demuxer == "aiff")
        return AppleChannelLayout::Container::aiff;
    if (demuxer.starts_with("mov"))
        return AppleChannelLayout::Container::mp4;
    return std::nullopt;
}

} // namespace tavrin

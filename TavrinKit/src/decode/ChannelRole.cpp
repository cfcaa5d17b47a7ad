#include "tavrin/decode/ChannelRole.h"

namespace tavrin {

double weight(ChannelRole role) {
    switch (role) {
    case ChannelRole::front:
        return 1.0;
    case ChannelRole::surround:
        return 1.41; // BS.1770's surround gain, exactly 1.41
    case ChannelRole::lfe:
        return 0.0;
    }
    return 1.0;
}

std::string_view rawValue(ChannelRole role) {
    switch (role) {
    case ChannelRole::front:
        return "front";
    case ChannelRole::surround:
        return "surround";
    case ChannelRole::lfe:
        return "lfe";
    }
    return "front";
}

std::optional<ChannelRole> roleFromRawValue(std::string_view raw) {
    for (auto role : {ChannelRole::front, ChannelRole::surround, ChannelRole::lfe})
        if (rawValue(role) == raw)
            return role;
    return std::nullopt;
}

ChannelRole roleForLabel(std::uint32_t label) {
    switch (label) {
    case 5:  // left surround
    case 6:  // right surround
    case 10: // left surround direct
    case 11: // right surround direct
    case 35: // left wide
    case 36: // right wide
        return ChannelRole::surround;
    case 4:  // low-frequency effects
    case 37: // second low-frequency effects
        return ChannelRole::lfe;
    default: // rear surround (33, 34), heights, centre surround and the rest count as front
        return ChannelRole::front;
    }
}

std::vector<ChannelRole> defaultRoles(int channelCount) {
    using enum ChannelRole;
    switch (channelCount) {
    case 4:
        return {front, front, surround, surround};
    case 5:
        return {front, front, front, surround, surround};
    case 6: // L R C LFE Ls Rs
        return {front, front, front, lfe, surround, surround};
    case 8: // L R C LFE, then a front pair, and only the last pair as surround
        return {front, front, front, lfe, front, front, surround, surround};
    default:
        return std::vector<ChannelRole>(
            static_cast<std::size_t>(channelCount > 0 ? channelCount : 0), front);
    }
}

std::vector<double> weights(const std::vector<ChannelRole>& roles) {
    std::vector<double> result;
    result.reserve(roles.size());
    for (auto role : roles)
        result.push_back(weight(role));
    return result;
}

} // namespace tavrin

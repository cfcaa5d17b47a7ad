#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tavrin {

/// The parts in order with `separator` between them.
inline std::string joined(const std::vector<std::string>& parts, std::string_view separator) {
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i)
            text += separator;
        text += parts[i];
    }
    return text;
}

} // namespace tavrin

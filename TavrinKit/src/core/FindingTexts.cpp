#include "core/Joined.h"
#include "tavrin/core/Finding.h"
#include "tavrin/core/Fmt.h"

#include <charconv>
#include <cmath>

// Every sentence said of a finding: its brief form in a verdict, and the whole sentence of a
// report's notes.

namespace tavrin {
namespace {

using Kind = Finding::Kind;

/// "once" or "12 times".
std::string times(std::int64_t count) {
    return count == 1 ? "once" : std::to_string(count) + " times";
}

/// Two decimals with a Unicode minus, whatever the locale: "−0.62".
std::string twoDecimals(double value) {
    char text[32];
    const auto end =
        std::to_chars(text, text + sizeof text, std::abs(value), std::chars_format::fixed, 2).ptr;
    const std::string digits(text, end);
    return value < 0 && digits != "0.00" ? "\u2212" + digits : digits;
}

/// Where a finding was first found, for the brief form: " at 0:41" or " from 0:41" when it
/// happens more than once.
std::string place(const Finding& finding) {
    if (!finding.at)
        return {};
    return (finding.count == 1 ? " at " : " from ") + Fmt::duration(*finding.at);
}

} // namespace

std::string Finding::brief() const {
    switch (kind) {
    case Kind::cutOff:
        return "cut off" + place(*this);
    case Kind::undecodable:
        return at ? "undecodable around " + Fmt::duration(*at) : "partly undecodable";
    case Kind::container:
        return "damaged container";
    case Kind::clipping:
        return "clipped" + (count == 1 ? std::string() : " " + times(count)) + place(*this);
    case Kind::dropout:
        return "drops out" + (count == 1 ? std::string() : " " + times(count)) + place(*this);
    case Kind::dcOffset:
        return "DC offset";
    case Kind::phase:
        return "out of phase";
    }
    return {};
}

Finding Finding::asOriginal() const {
    Finding inherited = *this;
    std::string sentence = text;
    if (sentence.size() > 1 && sentence[0] >= 'A' && sentence[0] <= 'Z' && sentence[1] >= 'a' &&
        sentence[1] <= 'z')
        sentence[0] = static_cast<char>(sentence[0] - 'A' + 'a');
    inherited.text = "The original was damaged: " + sentence;
    inherited.fromOriginal = true;
    return inherited;
}

std::vector<std::string> damageProblems(const std::vector<Finding>& findings) {
    std::vector<std::string> problems;
    for (const bool inherited : {false, true}) {
        std::vector<std::string> briefs;
        for (const Finding& finding : findings)
            if (finding.isDamage() && finding.fromOriginal == inherited)
                briefs.push_back(finding.brief());
        if (!briefs.empty())
            problems.push_back(
                (inherited ? "the original was damaged (" : "the audio is damaged (") +
                joined(briefs, ", ") + ")");
    }
    return problems;
}

namespace Findings {

Finding cutOff(double missing, double declared) {
    return {Kind::cutOff, 1, declared - missing,
            "The file ends " + Fmt::oneDecimal(missing) + " s before its header says (" +
                Fmt::oneDecimal(declared) + " s): it is cut off; what is there was measured."};
}

Finding undecodable(double seconds, std::optional<double> at) {
    return {Kind::undecodable, 1, at,
            Fmt::oneDecimal(seconds) + " s of the file couldn’t be decoded" +
                (at ? " (around " + Fmt::duration(*at) + ")" : std::string()) +
                "; what could be read was measured."};
}

Finding container(std::string_view what) {
    return {Kind::container, 1, 0.0,
            "The file’s container is damaged: " + std::string(what) +
                "; the audio that decoded was measured."};
}

Finding clipping(std::int64_t runs, double at) {
    return {Kind::clipping, runs, at,
            "The audio is clipped: " + std::to_string(runs) + (runs == 1 ? " run" : " runs") +
                " of 3 or more samples held at −0.2 dBFS or above, the first at " +
                Fmt::duration(at) + "."};
}

Finding dropout(std::int64_t gaps, double at) {
    return {Kind::dropout, gaps, at,
            "The audio drops out to digital silence " + times(gaps) +
                " inside the programme (gaps of 1 to 100 ms), the first at " + Fmt::duration(at) +
                "."};
}

Finding dcOffset(const std::vector<int>& channels, double largest) {
    std::vector<std::string> numbers;
    for (int channel : channels)
        numbers.push_back(std::to_string(channel));
    const bool one = channels.size() == 1;
    return {Kind::dcOffset, static_cast<std::int64_t>(channels.size()), 0.0,
            (one ? "Channel " : "Channels ") + joined(numbers, ", ") +
                (one ? " carries a DC offset of " : " carry a DC offset of up to ") +
                Fmt::oneDecimal(largest * 100) + " % of full scale."};
}

Finding phase(double correlation, double monoLoss) {
    return {Kind::phase, 1, 0.0,
            "The stereo channels are out of phase (correlation " + twoDecimals(correlation) +
                "): folded down to mono, the programme loses " + Fmt::oneDecimal(monoLoss) +
                " LU."};
}

} // namespace Findings

} // namespace tavrin

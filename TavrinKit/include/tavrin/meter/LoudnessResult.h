#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tavrin {

/// The values of one measurement, and when its maxima happen. An absent optional means "no
/// reading" for that quantity; it is never replaced by a sentinel such as -inf or 0.
struct LoudnessResult {
    std::optional<double> integrated{};    ///< LUFS, gated (BS.1770-4)
    std::optional<double> loudnessRange{}; ///< LU (EBU Tech 3342)
    std::optional<double> maxMomentary{};  ///< LUFS, 400 ms windows every 10 ms
    std::optional<double> maxShortTerm{};  ///< LUFS, 3 s windows every 10 ms
    std::optional<double> samplePeak{};    ///< dBFS
    std::optional<double> truePeak{};      ///< dBTP, never below the sample peak
    double duration = 0;                   ///< seconds, including a final partial 10 ms step
    double sampleRate = 0;                 ///< Hz
    int channels = 0;                      ///< channels measured
    /// When the maxima happen, in seconds from the start; each absent with its maximum.
    std::optional<double> truePeakAt{};     ///< s, the true peak (or sample peak, when higher)
    std::optional<double> maxMomentaryAt{}; ///< s, the end of the loudest 400 ms window
    std::optional<double> maxShortTermAt{}; ///< s, the end of the loudest 3 s window
    /// The unweighted level over every channel, dBFS (a full-scale sine reads −3.0).
    std::optional<double> rms{};        ///< the whole stream's
    std::optional<double> noiseFloor{}; ///< the quietest 0.5 s window's

    bool operator==(const LoudnessResult&) const = default;

    /// JSON object keyed by the field names; absent optionals are omitted.
    std::string toJson() const;
    /// Reads what toJson writes. Missing optional keys read as absent; "duration", "sampleRate"
    /// and "channels" are required. Throws std::invalid_argument on malformed input.
    static LoudnessResult fromJson(std::string_view json);
};

} // namespace tavrin

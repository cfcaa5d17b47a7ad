#pragma once

#include "tavrin/rules/DeliverySpec.h"

#include <string>
#include <string_view>

/// Every sentence the delivery rules say of a file: why it fails, and why gain alone can or can't
/// fix it.
namespace tavrin::RuleTexts {

/// Why a file with samples above silence has no reading.
inline constexpr std::string_view tooShortToMeasure =
    "Too short or too quiet to measure (needs 0.4 s above −70 LUFS).";
inline constexpr std::string_view silent = "The file is silent.";

/// The words for what a spec measures: "LUFS", "LU", "true peak" and "dBTP" for loudness, "dB
/// RMS", "dB", "sample peak" and "dBFS" for the RMS level.
struct Units {
    std::string_view level;
    std::string_view difference;
    std::string_view peak;
    std::string_view peakUnit;
};
Units unitsOf(const DeliverySpec& spec);

/// "0.6 LU too quiet" or "1.2 LU too loud", for the rounded difference from the target; for the
/// RMS level, where the window is: "RMS −24.1 dB is under −23.0 dB".
std::string levelOff(double difference, const DeliverySpec& spec);
/// "true peak −0.9 dBTP is over −1.0 dBTP", or the sample peak's in dBFS.
std::string peakOver(double peak, double ceiling, const DeliverySpec& spec);

/// The further limits a spec can set, as sentences name them.
enum class Limit { loudnessRange, shortTerm, momentary, samplePeak, noiseFloor };
/// "loudness range 11.2 LU is over 8.0 LU", for rounded `value` over the limit `most`.
std::string overLimit(Limit limit, double value, double most);
/// Why gain leaves a limit failed, `value` being what the copy would read at `loudness`:
/// "Gain can't change the loudness range: 11.2 LU stays over 8.0 LU." or "Gain can't fix the
/// maximum short-term loudness: at −18.0 LUFS it would be −9.1 LUFS, over −10.0 LUFS."
std::string gainLeaves(Limit limit, double value, double most, double loudness,
                       const DeliverySpec& spec);

/// Why there is nothing to fix: the first of the verdict's problems, if any.
std::string noReadingToFix(std::string_view firstProblem);
/// Why no gain lands the file inside the window without pushing its true peak over `ceiling`.
std::string gainRefusal(double loudness, double truePeak, double gain, double ceiling,
                        const DeliverySpec& spec);
/// A refusal that needs a limiter, followed by the command that brings one.
std::string needsLimiter(std::string_view refusal, std::string_view limiterCommand);
/// The note of a fix that stops `under` LU short of the target to keep the peak under `ceiling`.
std::string shortOfTargetNote(double under, double ceiling, const DeliverySpec& spec);

/// A plan in a few words: "−3.2 dB → −16.0 LUFS", with " (short of target)" when it is; the
/// level in `unit`.
std::string gainLabel(double gain, double loudness, bool shortOfTarget, std::string_view unit);
inline constexpr std::string_view cantFixLabel = "Can't fix with gain alone";
inline constexpr std::string_view alreadyPassesLabel = "Already passes";

} // namespace tavrin::RuleTexts

#pragma once

// Private to TavrinKit: copies encoded in their original's delivery format over FFmpeg.

#include "decode/FfmpegReader.h"
#include "tavrin/decode/AudioFileFormat.h"

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace tavrin {

/// The delivery formats a copy can keep.
enum class DeliveryCodec { flac, alac, aac, mp3 };

/// The format a copy of an original with this extension and codec keeps: FLAC in .flac stays
/// FLAC, ALAC in .m4a or .caf becomes ALAC in .m4a, AAC in .m4a, .mp4 or .aac becomes AAC in .m4a,
/// MP3 in .mp3 stays MP3. Absent for everything else (PCM, or a WAV holding MP3), which is copied
/// as WAV or AIFF.
std::optional<DeliveryCodec> deliveryCodec(const std::filesystem::path& original, AudioCodec codec);

/// The copy's extension: ".flac", ".m4a" or ".mp3".
const char* deliveryExtension(DeliveryCodec codec);

/// How a copy of `original` in `codec` is encoded, as FfmpegEncoder::description() says it.
std::string deliveryDescription(const FfmpegReader& original, DeliveryCodec codec);

/// Encodes interleaved float frames into a new file in a delivery format, at the original's sample
/// rate and channels, with its bit rate (or bit depth), tags, chapters and pictures. Tags that a
/// gain change makes wrong (ReplayGain, R128 gains, iTunNORM, iTunSMPB) are dropped. An MP3's
/// ID3v2 tag, a FLAC's metadata blocks and an M4A's metadata list are carried as the original
/// holds them (see CarriedTags.h).
class FfmpegEncoder {
public:
    /// Starts the file at `path` (an empty temporary of ours), taking what it keeps from
    /// `original`, with `record` (when not empty) as its TAVRIN_PROVENANCE tag. Throws
    /// FfmpegError.
    FfmpegEncoder(const FfmpegReader& original, DeliveryCodec codec,
                  const std::filesystem::path& path, const std::string& record = {});
    ~FfmpegEncoder();
    FfmpegEncoder(const FfmpegEncoder&) = delete;
    FfmpegEncoder& operator=(const FfmpegEncoder&) = delete;

    /// Encodes `frames` frames of interleaved samples at full scale ±1.0. Throws FfmpegError.
    void write(const float* interleaved, std::size_t frames);
    /// Encodes what is left and completes the file. Throws FfmpegError.
    void close();

    /// How the copy is encoded: "MP3 192 kbps", "MP3 VBR V2", "AAC 128 kbps", "FLAC", "ALAC".
    const std::string& description() const;
    /// Integer samples of this many bits (FLAC and ALAC), which want dither at 16 or fewer; 0 for
    /// the lossy codecs, which take float.
    int integerBits() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace tavrin

#include "tavrin/copies/GainWriter.h"

#include "copies/CopyName.h"
#include "copies/FfmpegEncoder.h"
#include "copies/FfmpegTags.h"
#include "copies/SndfileWriter.h"
#include "core/AtomicFile.h"
#include "core/ParallelTasks.h"
#include "decode/FfmpegReader.h"
#include "decode/WaveHeader.h"
#include "tavrin/core/AudioFileError.h"
#include "tavrin/core/AudioTypes.h"
#include "tavrin/dsp/VectorOps.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>
#include <numeric>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace tavrin::GainWriter {
namespace {

namespace fs = std::filesystem;

/// The nearest depth the file layer writes, never below the original's.
int writableDepth(int bits, bool isFloat) {
    if (isFloat)
        return bits > 32 ? 64 : 32;
    for (int depth : {8, 16, 24})
        if (bits <= depth)
            return depth;
    return 32;
}

/// Linear PCM originals keep their depth, and in WAV their float flag; AIFF copies are always
/// integer; compressed originals become 24-bit integer. Channels keep their speakers, in the
/// order of `plan`.
PcmFormat copyFormat(const AudioFileFormat& original, const fs::path& to, const ChannelPlan& plan) {
    PcmFormat format;
    format.aiff = AudioTypes::isAiff(to);
    format.sampleRate = static_cast<int>(std::lround(original.sampleRate));
    format.channelCount = original.channelCount;
    if (original.codec == AudioCodec::linearPCM) {
        format.isFloat = original.isFloat && !format.aiff;
        format.bitDepth =
            writableDepth(original.bitDepth > 0 ? original.bitDepth : 24, format.isFloat);
    }
    format.waveMask = plan.waveMask;
    format.channelLabels = plan.labels;
    return format;
}

/// SplitMix64, restarted from one fixed seed for every copy so that the same original and gain
/// always give the same samples. Each value is 24 random bits as a float in [0, 1).
class DitherNoise {
public:
    float next() {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return static_cast<float>(z >> 40) * 0x1p-24f;
    }

private:
    std::uint64_t m_state = 0x54415652494E2121ull;
};

/// Triangular noise of ±`amplitude` (one step of the copy), channel after channel, so the noise
/// sequence does not depend on the interleaving. The difference of two 24-bit values is exact in
/// float.
void addDither(float* interleaved, std::size_t frames, std::size_t channels, float amplitude,
               DitherNoise& noise) {
    for (std::size_t c = 0; c < channels; ++c)
        for (std::size_t i = 0; i < frames; ++i) {
            const float u1 = noise.next();
            const float u2 = noise.next();
            interleaved[i * channels + c] += amplitude * (u1 - u2);
        }
}

/// Frame i of the interleaved buffer times factors[i], on every channel.
void applyCurve(float* interleaved, std::span<const float> factors, std::size_t channels) {
    for (std::size_t i = 0; i < factors.size(); ++i)
        for (std::size_t c = 0; c < channels; ++c)
            interleaved[i * channels + c] *= factors[i];
}

/// Copy channel c takes original channel order[c].
void interleave(std::span<const float* const> channels, const std::vector<std::size_t>& order,
                std::size_t frames, float* out) {
    const std::size_t count = channels.size();
    for (std::size_t c = 0; c < count; ++c) {
        const float* in = channels[order[c]];
        for (std::size_t i = 0; i < frames; ++i)
            out[i * count + c] = in[i];
    }
}

[[noreturn]] void writingStopped(std::string_view reason) {
    throw AudioFileError::writingStopped(reason);
}

std::unique_ptr<FfmpegReader> openOriginal(const fs::path& from) {
    try {
        auto reader = std::make_unique<FfmpegReader>(from);
        if (!reader->hasAudio())
            throw FfmpegError("The file has no audio channels");
        return reader;
    } catch (const FfmpegError& e) {
        throw AudioFileError::cantOpenOriginal(e.what());
    }
}

/// Where copySamples puts the interleaved frames; it throws AudioFileError for a failed write.
using FrameSink = std::function<void(const float* interleaved, std::size_t frames)>;

/// Writes the rest of `reader`'s samples to `sink`: in the copy's channel order, times the gain
/// and the curve's factors (when there is a curve), dithered when `ditherBits` (the copy's integer
/// depth, 0 for float) is 16 or fewer. The next chunk is read while this one is written, on two
/// processors when the copy is the only file being measured or written. Cancellation is asked
/// before each chunk is written, on this thread: a chunk read ahead meanwhile is dropped.
void copySamples(FfmpegReader& reader, const FrameSink& sink, const std::vector<std::size_t>& order,
                 int ditherBits, double gain, const GainCurve& curve, const ProgressFn& progress,
                 const CancelCheck& isCancelled) {
    const auto channelCount = static_cast<std::size_t>(order.size());
    reader.reserve(bufferFrames);
    const std::size_t fullChunk = reader.framesPerRead(bufferFrames);
    std::vector<float> interleaved(fullChunk * channelCount);
    std::vector<float> factors(curve ? fullChunk : 0);
    const auto factor = static_cast<float>(std::pow(10.0, gain / 20));
    const bool dither = ditherBits > 0 && ditherBits <= 16;
    const float amplitude = std::ldexp(1.0f, 1 - ditherBits);
    DitherNoise noise;

    const ParallelTasks::Running running;
    const double total = static_cast<double>(std::max<std::int64_t>(reader.length(), 1));
    std::int64_t written = 0;
    try {
        stopIfCancelled(isCancelled);
        for (std::size_t frames = readChunk(reader, bufferFrames); frames > 0;) {
            interleave(reader.channelData(), order, frames, interleaved.data());
            VectorOps::scale(interleaved.data(), frames * channelCount, factor);
            if (curve) {
                const std::span<float> run(factors.data(), frames);
                curve(written, run);
                applyCurve(interleaved.data(), run, channelCount);
            }
            if (dither)
                addDither(interleaved.data(), frames, channelCount, amplitude, noise);
            std::size_t next = 0;
            auto task = [&](std::size_t i) {
                if (i == 0)
                    next = readChunk(reader, bufferFrames);
                else
                    sink(interleaved.data(), frames);
            };
            ParallelTasks::run(2, task, running.alone() && frames == fullChunk);
            written += static_cast<std::int64_t>(frames);
            if (progress)
                progress(std::min(1.0, static_cast<double>(written) / total));
            if ((frames = next) > 0)
                stopIfCancelled(isCancelled);
        }
    } catch (const FfmpegError& e) {
        throw AudioFileError::originalStopped(e.what());
    }
}

/// The temporary for the copy at `to`, which disappears unless committed.
std::unique_ptr<AtomicFile> createTemporary(const fs::path& to) {
    try {
        return std::make_unique<AtomicFile>(to);
    } catch (const std::system_error& e) {
        throw AudioFileError::cantCreate(to.filename().string(), e.code().message());
    }
}

/// A WAV copy of a WAV original carries over its Broadcast Wave and iXML chunks.
void keepWaveChunks(const fs::path& from, PcmFormat& format) {
    if (format.aiff)
        return;
    for (auto [id, body] : {std::pair{"bext", &format.bext}, std::pair{"iXML", &format.ixml}})
        if (auto chunk = WaveHeader::chunk(from, id)) // at most 1 MiB
            *body = std::move(*chunk);
}

void writePcm(FfmpegReader& reader, AtomicFile& file, const fs::path& to, double gain,
              const GainCurve& curve, const RecordFn& record, const ProgressFn& progress,
              const CancelCheck& isCancelled, bool keepChunks) {
    const std::string name = to.filename().string();
    const AudioFileFormat& source = reader.format();
    const ChannelPlan plan =
        channelPlan(source.channelLabels, source.channelCount, AudioTypes::isAiff(to));
    PcmFormat format = copyFormat(source, to, plan);
    if (keepChunks)
        keepWaveChunks(reader.path(), format);

    std::optional<SndfileWriter> writer; // closes before `file` goes
    try {
        writer.emplace(file.descriptor(), format);
    } catch (const SndfileError& e) {
        throw AudioFileError::cantCreate(name, e.what());
    }
    const auto sink = [&](const float* interleaved, std::size_t frames) {
        try {
            writer->write(interleaved, frames);
        } catch (const SndfileError& e) {
            writingStopped(e.what());
        }
    };
    copySamples(reader, sink, plan.order, format.isFloat ? 0 : format.bitDepth, gain, curve,
                progress, isCancelled);
    const std::string comment = record ? record() : std::string();
    try {
        writer->close(comment);
    } catch (const SndfileError& e) {
        writingStopped(e.what());
    }
}

bool isLossy(DeliveryCodec codec) {
    return codec == DeliveryCodec::aac || codec == DeliveryCodec::mp3;
}

/// Encodes the copy in `codec`, the original's own delivery format, keeping its channel order.
Encoding writeEncoded(FfmpegReader& reader, DeliveryCodec codec, AtomicFile& file,
                      const fs::path& to, double gain, const GainCurve& curve,
                      const RecordFn& record, const ProgressFn& progress,
                      const CancelCheck& isCancelled) {
    const std::string name = to.filename().string();
    std::optional<FfmpegEncoder> encoder; // closes before `file` goes
    try {
        encoder.emplace(reader, codec, file.temporaryPath(), record ? record() : std::string());
    } catch (const FfmpegError& e) {
        throw AudioFileError::cantCreate(name, e.what());
    }
    const auto sink = [&](const float* interleaved, std::size_t frames) {
        try {
            encoder->write(interleaved, frames);
        } catch (const FfmpegError& e) {
            writingStopped(e.what());
        }
    };
    std::vector<std::size_t> order(static_cast<std::size_t>(reader.format().channelCount));
    std::iota(order.begin(), order.end(), std::size_t{0});
    copySamples(reader, sink, order, encoder->integerBits(), gain, curve, progress, isCancelled);
    try {
        encoder->close();
    } catch (const FfmpegError& e) {
        writingStopped(e.what());
    }
    return {encoder->description(), isLossy(codec), tagsNotCarried(reader, file.temporaryPath())};
}

/// The original's delivery format, when a copy in `format` keeps it.
std::optional<DeliveryCodec> keptCodec(const fs::path& original, AudioCodec codec,
                                       CopyFormat format) {
    return format == CopyFormat::original ? deliveryCodec(original, codec) : std::nullopt;
}

std::optional<Encoding> writeCopy(const fs::path& from, AtomicFile& file, const fs::path& to,
                                  double gain, const GainCurve& curve, const RecordFn& record,
                                  const ProgressFn& progress, const CancelCheck& isCancelled,
                                  CopyFormat format) {
    const auto original = openOriginal(from);
    if (const auto codec = keptCodec(from, original->format().codec, format))
        return writeEncoded(*original, *codec, file, to, gain, curve, record, progress,
                            isCancelled);
    writePcm(*original, file, to, gain, curve, record, progress, isCancelled,
             format == CopyFormat::original);
    return std::nullopt;
}

} // namespace

/// The copy's temporary, where it goes, and how to find another name when that is taken.
struct PendingCopy::State {
    std::unique_ptr<AtomicFile> file;
    fs::path name;
    std::optional<CopyName> numbering; ///< absent: the name was given, and only it will do
    std::optional<Encoding> encoding;
};

PendingCopy::PendingCopy(std::unique_ptr<State> state) : m_state(std::move(state)) {}
PendingCopy::PendingCopy(PendingCopy&&) noexcept = default;
PendingCopy& PendingCopy::operator=(PendingCopy&&) noexcept = default;
PendingCopy::~PendingCopy() = default;

const fs::path& PendingCopy::file() const {
    return m_state->file->temporaryPath();
}

const std::optional<Encoding>& PendingCopy::encoding() const {
    return m_state->encoding;
}

fs::path PendingCopy::commit() {
    State& s = *m_state;
    for (int attempt = 0;; ++attempt) {
        try {
            s.file->commit(s.name);
            return s.name;
        } catch (const std::system_error& e) {
            if (e.code() != std::errc::file_exists)
                writingStopped(e.code().message());
            // Another program took the name while the copy was written or measured.
            if (!s.numbering || attempt == 1000)
                throw AudioFileError::alreadyExists(s.name.filename().string());
            s.name = s.numbering->firstFree();
        }
    }
}

namespace {

PendingCopy writeTo(const fs::path& from, const fs::path& to, std::optional<CopyName> numbering,
                    double gain, const GainCurve& curve, const RecordFn& record,
                    const ProgressFn& progress, const CancelCheck& isCancelled, CopyFormat format) {
    if (isTaken(to))
        throw AudioFileError::alreadyExists(to.filename().string());
    try {
        auto state = std::make_unique<PendingCopy::State>();
        state->file = createTemporary(to);
        state->name = to;
        state->numbering = std::move(numbering);
        state->encoding =
            writeCopy(from, *state->file, to, gain, curve, record, progress, isCancelled, format);
        return PendingCopy(std::move(state));
    } catch (const std::bad_alloc&) {
        throw AudioFileError::unwritable(std::string(AudioFileError::outOfMemoryWriting));
    }
}

} // namespace

PendingCopy writePending(const fs::path& original, std::string_view label,
                         const std::optional<fs::path>& folder, double gain, const GainCurve& curve,
                         const RecordFn& record, const CancelCheck& isCancelled,
                         CopyFormat format) {
    CopyName name(original, label, folder, format);
    const fs::path to = name.firstFree();
    return writeTo(original, to, std::move(name), gain, curve, record, {}, isCancelled, format);
}

std::optional<Encoding> encoding(const fs::path& original, const fs::path& copy,
                                 CopyFormat format) {
    if (format != CopyFormat::original)
        return std::nullopt;
    try {
        const FfmpegReader reader(original);
        if (const auto codec = deliveryCodec(original, reader.format().codec))
            return Encoding{deliveryDescription(reader, *codec), isLossy(*codec),
                            tagsNotCarried(reader, copy)};
    } catch (const FfmpegError&) {
    }
    return std::nullopt;
}

std::optional<Encoding> write(const fs::path& from, const fs::path& to, double gain,
                              const ProgressFn& progress, const CancelCheck& isCancelled,
                              CopyFormat format) {
    return write(from, to, gain, GainCurve{}, progress, isCancelled, format);
}

std::optional<Encoding> write(const fs::path& from, const fs::path& to, double gain,
                              const GainCurve& curve, const ProgressFn& progress,
                              const CancelCheck& isCancelled, CopyFormat format) {
    PendingCopy copy =
        writeTo(from, to, std::nullopt, gain, curve, {}, progress, isCancelled, format);
    auto encoding = copy.encoding();
    copy.commit();
    return encoding;
}

} // namespace tavrin::GainWriter

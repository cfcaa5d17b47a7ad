#include "tavrin/meter/AudioFileMeter.h"

#include "core/ParallelTasks.h"
#include "decode/FfmpegReader.h"
#include "decode/ProvenanceTags.h"
#include "decode/WaveHeader.h"
#include "meter/ChunkPipeline.h"
#include "meter/FileTime.h"
#include "meter/IntegrityScan.h"
#include "meter/OpenForMeasuring.h"
#include "tavrin/core/AudioFileError.h"
#include "tavrin/core/AudioTypes.h"
#include "tavrin/core/Fmt.h"
#include "tavrin/meter/LoudnessMeter.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <new>
#include <utility>

namespace tavrin::AudioFileMeter {
namespace {

std::string upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string codecPart(const AudioFileFormat& format, const std::filesystem::path& path) {
    const std::string ext = AudioTypes::lowerExtension(path);
    switch (format.codec) {
    case AudioCodec::linearPCM: {
        const char* container = AudioTypes::isAiff(path) ? "AIFF" : ext == "caf" ? "CAF" : "WAV";
        return std::string(container) + " · " + std::to_string(format.bitDepth) +
               (format.isFloat ? "-bit float" : "-bit");
    }
    case AudioCodec::mp3:
        return "MP3";
    case AudioCodec::appleLossless:
        return "Apple Lossless";
    case AudioCodec::flac:
        return "FLAC";
    case AudioCodec::aac:
        return "AAC";
    case AudioCodec::other:
        break;
    }
    return upper(ext);
}

std::string ratePart(double sampleRate) {
    if (std::fmod(sampleRate, 1000.0) == 0)
        return std::to_string(static_cast<long long>(sampleRate / 1000)) + " kHz";
    return Fmt::oneDecimal(sampleRate / 1000) + " kHz";
}

std::string channelPart(int channels) {
    switch (channels) {
    case 1:
        return "mono";
    case 2:
        return "stereo";
    case 6:
        return "5.1";
    default:
        return std::to_string(channels) + " ch";
    }
}

/// The length the file claims, at most 16 frames per byte of file, so that a lying header can't
/// reserve gigabytes. Audio packed tighter (silence in FLAC, say) only has its history grow as it
/// is read.
std::int64_t plausibleLength(const FfmpegReader& reader, const std::filesystem::path& path) {
    std::error_code ec;
    const auto bytes = std::filesystem::file_size(path, ec);
    if (ec)
        return 0;
    return std::min<std::int64_t>(reader.length(), static_cast<std::int64_t>(bytes) * 16);
}

/// What the container and the decoder tell of damage: a stream cut off before the length its
/// header declares, audio that couldn't be decoded, a signature that isn't there.
std::vector<Finding> containerFindings(const FfmpegReader& reader,
                                       const std::filesystem::path& path,
                                       const LoudnessResult& result) {
    std::vector<Finding> findings;
    const DecodingLoss loss = reader.loss();
    double cutOff = loss.cutOffSeconds;
    // A WAV's header declares its length apart from what FFmpeg reads.
    if (const auto declared = WaveHeader::declaredFrames(path); declared && result.sampleRate > 0)
        cutOff =
            std::max(cutOff, static_cast<double>(*declared) / result.sampleRate - result.duration);
    // Said to a tenth of a second; less than that would read as nothing missing.
    if (cutOff >= 0.05)
        findings.push_back(Findings::cutOff(cutOff, result.duration + cutOff));
    // Less than half a second is a click at most, and hardly moves a reading.
    if (loss.seconds >= 0.5)
        findings.push_back(Findings::undecodable(loss.seconds, loss.at));
    if (reader.formatGuessed())
        findings.push_back(Findings::container(
            "its first bytes aren’t the signature of its format, which had to be guessed"));
    return findings;
}

[[noreturn]] void unreadable(std::string sentence) {
    throw AudioFileError::unreadable(std::move(sentence));
}

/// The file's samples in double precision, a chunk at a time, in `count` buffers: the next chunk
/// is read into one while another is metered.
class ChunkBuffers {
public:
    ChunkBuffers(FfmpegReader& reader, std::size_t count)
        : m_reader(reader), m_channels(static_cast<std::size_t>(reader.format().channelCount)) {
        const std::size_t capacity = reader.framesPerRead(chunkFrames);
        m_buffers.resize(count);
        m_pointers.resize(count);
        for (std::size_t b = 0; b < count; ++b) {
            // Left uninitialised: most files are shorter than one chunk, and only what is read is
            // ever touched.
            m_buffers[b].reset(new double[capacity * m_channels]);
            for (std::size_t c = 0; c < m_channels; ++c)
                m_pointers[b].push_back(m_buffers[b].get() + c * capacity);
        }
    }

    /// Reads the next chunk into buffer `b`: its frames, 0 at the end of the file.
    std::size_t read(std::size_t b) {
        return readChunk(m_reader, chunkFrames, m_pointers[b].data());
    }

    const double* const* channels(std::size_t b) const { return m_pointers[b].data(); }
    std::size_t channelCount() const { return m_channels; }

private:
    FfmpegReader& m_reader;
    std::size_t m_channels;
    std::vector<std::unique_ptr<double[]>> m_buffers;
    std::vector<std::vector<double*>> m_pointers;
};

using Metered = std::function<void(std::size_t)>;

/// The chunk just metered by `pass` handed to the integrity scan's held-sample check, the meter
/// and progress; then cancellation is asked, unless it was the last chunk.
void chunkDone(LoudnessMeter& meter, std::size_t pass, IntegrityScan& integrity,
               const double* const* channels, std::size_t frames, bool last,
               const CancelCheck& isCancelled, const Metered& metered) {
    integrity.scanHeld(channels, frames, meter.bufferPeaks(pass));
    meter.commit(frames, pass);
    metered(frames);
    if (!last)
        stopIfCancelled(isCancelled);
}

/// Meters the rest of the file, calling `metered(frames)` after each chunk. While one chunk is
/// metered the next is read, the reading and the meter's parts shared among the idle processors
/// when this is the only file being measured (a long plain PCM file a segment on each).
/// Cancellation is asked before each chunk is metered, on this thread: a chunk read ahead meanwhile
/// is dropped.
void meterFile(FfmpegReader& reader, LoudnessMeter& meter, IntegrityScan& integrity,
               const CancelCheck& isCancelled, const Metered& metered) {
    const ParallelTasks::Running running;
    const std::size_t fullChunk = reader.framesPerRead(chunkFrames);
    const bool inChunks = ChunkPipeline::takes(reader);
    const auto threads = static_cast<std::size_t>(ParallelTasks::threadCount());
    if (inChunks && running.alone() && threads >= 2) {
        stopIfCancelled(isCancelled);
        return ChunkPipeline::meter(
            reader, meter, integrity, threads,
            [&](const double* const* channels, std::size_t frames, std::size_t pass, bool last) {
                chunkDone(meter, pass, integrity, channels, frames, last, isCancelled, metered);
            });
    }
    ChunkBuffers buffers(reader, 2);
    const std::size_t settling = ChunkPipeline::settlingFrames(meter, reader);
    std::vector<const double*> settlingFrom(buffers.channelCount());
    stopIfCancelled(isCancelled);
    std::size_t current = 0;
    std::int64_t position = 0;
    for (std::size_t frames = buffers.read(current), previous = 0; frames > 0;
         current = 1 - current) {
        // The K-weighting starts afresh at a segment from the end of the chunk before, as it does
        // where segments are shared among processors.
        if (inChunks && position > 0 &&
            position % std::int64_t(ChunkPipeline::segmentChunks * fullChunk) == 0) {
            for (std::size_t c = 0; c < settlingFrom.size(); ++c)
                settlingFrom[c] = buffers.channels(1 - current)[c] + previous - settling;
            meter.startPass(0, position, settlingFrom.data(), settling);
        }
        std::size_t next = 0;
        const std::size_t parts = meter.partCount();
        auto task = [&](std::size_t i) {
            if (i == 0)
                next = buffers.read(1 - current);
            else if (i <= parts)
                meter.processPart(i - 1, buffers.channels(current), frames);
            else
                integrity.scanSilence(buffers.channels(current), frames);
        };
        // Helpers join full chunks only: waking them costs more than a short file's meter. They
        // stay away while the file is decoded in spans, which keeps every processor busy.
        ParallelTasks::run(parts + 2, task,
                           running.alone() && frames == fullChunk && !reader.decodesInSpans());
        chunkDone(meter, 0, integrity, buffers.channels(current), frames, next == 0, isCancelled,
                  metered);
        position += std::int64_t(frames);
        previous = std::exchange(frames, next);
    }
}

FileMeasurement measureFile(const std::filesystem::path& path, bool dualMono,
                            const ProgressFn& progress, const CancelCheck& isCancelled,
                            bool withTimeline) {
    const std::unique_ptr<FfmpegReader> reader = openForMeasuring(path);
    const AudioFileFormat& format = reader->format();

    LoudnessMeter meter(channelWeights(format, dualMono), format.sampleRate);
    meter.reserve(plausibleLength(*reader, path));
    if (withTimeline)
        meter.keepTimeline();

    IntegrityScan integrity(static_cast<std::size_t>(format.channelCount), format.sampleRate);
    const double total = static_cast<double>(std::max<std::int64_t>(reader->length(), 1));
    double lastReported = -1.0;
    std::int64_t framesDone = 0;
    try {
        meterFile(*reader, meter, integrity, isCancelled, [&](std::size_t frames) {
            framesDone += static_cast<std::int64_t>(frames);
            const double fraction = std::min(static_cast<double>(framesDone) / total, 1.0);
            if (fraction - lastReported >= 0.02) {
                lastReported = fraction;
                if (progress)
                    progress(fraction);
            }
        });
    } catch (const FfmpegError& e) {
        throw AudioFileError::readingStopped(e.what());
    }
    if (progress)
        progress(1.0);
    const FileTime fileTime(reader->gapsInside(), format.sampleRate);
    FileMeasurement measurement{path, formatDescription(format, path), meter.finish()};
    fileTime.place(measurement.result);
    measurement.findings = containerFindings(*reader, path, measurement.result);
    for (Finding& finding : integrity.finish(meter.sampleSums(), fileTime))
        measurement.findings.push_back(std::move(finding));
    if (const auto pair = meter.frontPair())
        if (auto phase = IntegrityScan::phase(pair->left, pair->right, pair->cross))
            measurement.findings.push_back(std::move(*phase));
    measurement.provenance = provenanceOf(*reader);
    if (withTimeline)
        measurement.timeline =
            std::make_shared<const Timeline>(fileTime.place(meter.takeTimeline()));
    return measurement;
}

} // namespace

std::unique_ptr<FfmpegReader> openForMeasuring(const std::filesystem::path& path) {
    std::unique_ptr<FfmpegReader> reader;
    try {
        reader = std::make_unique<FfmpegReader>(path);
    } catch (const FfmpegError& e) {
        throw AudioFileError::cantOpenAsAudio(e.what());
    }
    const AudioFileFormat& format = reader->format();
    if (!reader->hasAudio())
        unreadable(std::string(AudioFileError::noAudioChannels));
    if (format.sampleRate < lowestSampleRate || format.sampleRate > highestSampleRate)
        throw AudioFileError::unmeasurableRate(format.sampleRate);
    return reader;
}

FileMeasurement measure(const std::filesystem::path& path, bool dualMono,
                        const ProgressFn& progress, const CancelCheck& isCancelled,
                        bool withTimeline) {
    try {
        return measureFile(path, dualMono, progress, isCancelled, withTimeline);
    } catch (const std::bad_alloc&) {
        unreadable(std::string(AudioFileError::outOfMemory));
    }
}

std::vector<double> channelWeights(const AudioFileFormat& format, bool dualMono) {
    return dualMono && format.channelCount == 1 ? std::vector{2.0} : weights(channelRoles(format));
}

std::vector<ChannelRole> channelRoles(const AudioFileFormat& format) {
    if (!format.labelsNameChannels())
        return defaultRoles(format.channelCount);
    std::vector<ChannelRole> roles;
    for (std::uint32_t label : format.channelLabels)
        roles.push_back(roleForLabel(label));
    return roles;
}

std::string formatDescription(const AudioFileFormat& format, const std::filesystem::path& path) {
    return codecPart(format, path) + " · " + ratePart(format.sampleRate) + " · " +
           channelPart(format.channelCount);
}

} // namespace tavrin::AudioFileMeter

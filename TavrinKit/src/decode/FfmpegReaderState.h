#pragma once

// Private to the decode group: the state behind FfmpegReader, shared by the files that open a
// file, decode its packets and answer for the reader.

#include "decode/ChunkSizes.h"
#include "decode/DecodingLoss.h"
#include "decode/FfmpegCodecs.h"
#include "decode/FfmpegLabels.h"
#include "decode/FfmpegReader.h"
#include "decode/PcmPackets.h"
#include "decode/SpanDecoding.h"
#include "decode/WaveHeader.h"
#include "tavrin/core/AudioFileError.h"
#include "tavrin/core/Expects.h"
#include "tavrin/decode/DecoderLog.h"
#include "tavrin/dsp/VectorOps.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <vector>

namespace tavrin {

/// Throws the FfmpegError for the system's error `code`.
[[noreturn]] inline void failSystem(int code) {
    throw FfmpegError(std::generic_category().message(code));
}

/// Reads like pread(), going on after interruptions; returns the bytes read, or −errno.
inline std::int64_t readAt(int fd, std::uint8_t* out, std::size_t size, std::int64_t offset) {
    for (;;) {
        const ssize_t n = ::pread(fd, out, size, offset);
        if (n >= 0 || errno != EINTR)
            return n >= 0 ? n : -errno;
    }
}

/// Reads `size` bytes at `offset` into `bytes`, grown first to hold them and the padding past
/// them: three-byte samples are loaded four bytes at a time, as from a packet's padding. Returns
/// what readAt() does.
inline std::int64_t readPadded(int fd, std::vector<std::uint8_t>& bytes, std::size_t size,
                               std::int64_t offset) {
    if (bytes.size() < size + AV_INPUT_BUFFER_PADDING_SIZE)
        bytes.resize(size + AV_INPUT_BUFFER_PADDING_SIZE);
    return size ? readAt(fd, bytes.data(), size, offset) : 0;
}

/// Whether a format has the channels and the rate any audio has.
inline bool hasChannelsAndRate(const AudioFileFormat& format) {
    return format.channelCount >= 1 && format.sampleRate > 0;
}

struct FfmpegReader::State {
    std::filesystem::path path;
    AudioFileFormat format;
    std::int64_t length = 0;
    std::int64_t position = 0;

    // The file as FFmpeg reads it: through our own I/O, so that a chunk size claiming more than
    // the file holds is cut at the end of the file before the demuxer allocates it.
    int fd = -1;
    std::optional<ChunkSizes::Clamp> clamp;
    std::int64_t ioPosition = 0;
    AVIOContext* io = nullptr;

    AVFormatContext* demuxer = nullptr;
    AVCodecContext* decoder = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    SwrContext* converter = nullptr;
    int streamIndex = -1;
    PcmLayout pcm; // set when packets are converted without the decoder
    // Plain PCM WAV is read straight from the file, from `fileAt` up to `fileEnd`, past the
    // demuxer: its stream probe would hunt for a compressed stream in every 16-bit file. `fileAt`
    // is −1 for every other file.
    std::int64_t fileStart = -1;
    std::int64_t fileAt = -1;
    std::int64_t fileEnd = -1;
    std::vector<std::uint8_t> raw;
    double lengthScale = 1;

    // What the converter was set up for.
    int inFormat = -1;
    int inRate = 0;
    AVChannelLayout inLayout{};

    // Converted frames not yet handed out.
    std::vector<std::vector<float>> pending;
    std::size_t pendingFrames = 0;
    std::size_t pendingOffset = 0;

    std::vector<std::vector<float>> channels;
    std::vector<const float*> pointers;

    // Where the next decoded frame goes when it fits: straight into `channels` at `directOffset`,
    // saving a copy through `pending`. `directFrames` says how many frames it put there.
    std::size_t directOffset = 0;
    std::size_t directRoom = 0;
    std::size_t directFrames = 0;
    std::vector<std::uint8_t*> outPointers;
    // Set while readDoubles() reads: where the converted frames go instead, at `directOffset`.
    // `directDoubles` says whether the last frame went there, rather than into `channels`.
    double* const* doublesOut = nullptr;
    bool directDoubles = false;

    // Decoding in spans on several threads, when it is chosen: the step being replayed, and how
    // many of what it received have been.
    std::optional<Spans> spanChoice; // as decodeInSpans() asked
    bool spansChosen = false;
    std::unique_ptr<SpanDecoding> spans;
    DecodeStep* step = nullptr;
    std::size_t stepReceived = 0;

    // Set by a seek until the first frame at or past it is pending: the frames before it are cut.
    std::int64_t seekTarget = -1;
    std::int64_t seekReached = 0;

    bool draining = false;
    bool finished = false;
    std::int64_t framesDecoded = 0;
    int damage = 0; // last error of a damaged packet that was skipped
    std::int64_t packetsSent = 0;
    bool bytesPastHeader = false; // whether the file goes on after the header the demuxer read

    // What decoding drops, against the length the container declares exactly, if it does.
    DecodingLossTally losses;
    std::optional<std::int64_t> declaredLength;
    std::int64_t plausibleLength = 0;
    std::int64_t nextPts = AV_NOPTS_VALUE; // where the previous packet ended
    std::int64_t lastPacketDuration = 0;
    double lastSentFrames = 0;
    double framesPerTick = 0; // of the stream's time base

    ~State() {
        spans.reset(); // its helpers first
        swr_free(&converter);
        av_channel_layout_uninit(&inLayout);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&decoder);
        avformat_close_input(&demuxer);
        if (io)
            av_freep(&io->buffer);
        avio_context_free(&io);
        if (fd >= 0)
            ::close(fd);
    }

    void open();
    void openFile();
    void noteLengths(std::int64_t headerDuration);
    void sendPacket();
    void packetSent(std::int64_t pts, std::int64_t duration, int result);
    void noteTimestamps(std::int64_t pts, std::int64_t duration);
    void frameDecoded(const AVFrame& decoded);
    bool receiveFailed(int r);
    void chooseSpans();
    bool decodeFrameFromSpans();
    std::pair<std::int64_t, std::int64_t> plainAudio(const AVStream& stream,
                                                     int channelCount) const;
    static int readIo(void* opaque, std::uint8_t* buffer, int size);
    static std::int64_t seekIo(void* opaque, std::int64_t offset, int whence);
    bool decodeFrame();
    bool readPcmPacket();
    bool readPcmFromFile();
    /// Plain 16- or 24-bit PCM of one or two channels, read straight from the file.
    bool readsPcmFromFile() const {
        return fileAt >= 0 && decoder && !pcm.bigEndian &&
               (pcm.sample == PcmSample::s16 || pcm.sample == PcmSample::s24) &&
               (format.channelCount == 1 || format.channelCount == 2);
    }
    /// The bytes of one interleaved frame of the plain PCM read straight from the file.
    std::size_t frameBytes() const { return pcm.bytes * std::size_t(format.channelCount); }
    /// The whole frames left in the file after `fileAt`.
    std::size_t framesLeftInFile() const {
        return std::size_t(std::max<std::int64_t>(fileEnd - fileAt, 0)) / frameBytes();
    }
    void convertPcmFrames(const std::uint8_t* data, std::size_t frames);
    std::size_t readFrames(std::size_t maxFrames, double* const* out);
    void convert(const AVFrame& decoded);
    bool convertToDoubles(const AVFrame& decoded);
    void flushConverter();
    void ensurePending(std::size_t frames);
    void seekDemuxer(std::int64_t target);
    void cutBeforeSeekTarget(std::int64_t pts);
};

} // namespace tavrin

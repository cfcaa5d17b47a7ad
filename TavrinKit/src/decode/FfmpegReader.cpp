#include "decode/FfmpegReader.h"

#include "decode/ChunkSizes.h"
#include "decode/DecodingLoss.h"
#include "decode/FfmpegCodecs.h"
#include "decode/FfmpegLabels.h"
#include "decode/PcmPackets.h"
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
namespace {

[[noreturn]] void fail(int code) {
    throw FfmpegError(ffmpegErrorText(code));
}

bool hasChannelsAndRate(const AudioFileFormat& format) {
    return format.channelCount >= 1 && format.sampleRate > 0;
}

/// FFmpeg's stream probe without the attached pictures decoded. The probe decodes a frame of every
/// stream whose size it doesn't know, and a picture of a few hundred bytes can declare 16000 ×
/// 16000 pixels: a gigabyte and seconds each. Neither measuring nor copying needs their pixels
/// (copies take the pictures' bytes as they are). Discarding their streams doesn't stop the probe;
/// a stream of no codec has no decoder to open, so their codec is hidden from it and put back
/// after.
int probeStreamsButPictures(AVFormatContext& demuxer) {
    std::vector<std::pair<AVCodecParameters*, AVCodecID>> pictures;
    for (unsigned i = 0; i < demuxer.nb_streams; ++i)
        if (AVStream* stream = demuxer.streams[i];
            stream->disposition & AV_DISPOSITION_ATTACHED_PIC)
            pictures.emplace_back(stream->codecpar, stream->codecpar->codec_id);
    for (auto [params, codec] : pictures)
        params->codec_id = AV_CODEC_ID_NONE;
    const int r = avformat_find_stream_info(&demuxer, nullptr);
    for (auto [params, codec] : pictures)
        params->codec_id = codec;
    return r;
}

} // namespace

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
    // Set while readDoubles() reads: where the converted frames go instead.
    double* const* doublesOut = nullptr;

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
    void noteTimestamps(const AVPacket& p);
    std::pair<std::int64_t, std::int64_t> plainAudio(const AVStream& stream,
                                                     int channelCount) const;
    static int readIo(void* opaque, std::uint8_t* buffer, int size);
    static std::int64_t seekIo(void* opaque, std::int64_t offset, int whence);
    bool decodeFrame();
    bool readPcmPacket();
    bool readPcmFromFile();
    void convertPcmFrames(const std::uint8_t* data, std::size_t frames);
    void convert();
    void flushConverter();
    void ensurePending(std::size_t frames);
};

namespace {

[[noreturn]] void failSystem(int code) {
    throw FfmpegError(std::generic_category().message(code));
}

/// Reads like pread(), going on after interruptions; returns the bytes read, or −errno.
std::int64_t readAt(int fd, std::uint8_t* out, std::size_t size, std::int64_t offset) {
    for (;;) {
        const ssize_t n = ::pread(fd, out, size, offset);
        if (n >= 0 || errno != EINTR)
            return n >= 0 ? n : -errno;
    }
}

} // namespace

void FfmpegReader::State::openFile() {
    // A pipe or a device has no end to read to: opening a pipe without a writer would wait
    // forever, and a device such as /dev/zero would be read forever.
    std::error_code ec;
    const auto type = std::filesystem::status(path, ec).type();
    using std::filesystem::file_type;
    if (!ec && type != file_type::regular && type != file_type::directory &&
        type != file_type::not_found)
        throw FfmpegError("It is not a regular file");
    if ((fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC)) < 0)
        failSystem(errno);
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        failSystem(errno);
    if (S_ISDIR(info.st_mode))
        failSystem(EISDIR);
    if (!S_ISREG(info.st_mode))
        throw FfmpegError("It is not a regular file");
    // FFmpeg says only "Invalid argument" of some empty files and opens others as audio.
    if (info.st_size == 0)
        throw FfmpegError("The file is empty");
    // No audio packs tighter than 16 frames a byte but silence: a length past that is a lie.
    plausibleLength = std::min<std::int64_t>(info.st_size, INT64_MAX / 16) * 16;
    clamp = ChunkSizes::overrunningChunk(
        [this](std::uint64_t offset, std::uint8_t* out, std::size_t size) {
            const std::int64_t n = readAt(fd, out, size, std::int64_t(offset));
            return std::size_t(std::max<std::int64_t>(n, 0));
        },
        std::uint64_t(info.st_size));

    constexpr int bufferSize = 32768; // as FFmpeg's own file reading
    auto* buffer = static_cast<std::uint8_t*>(av_malloc(bufferSize));
    if (!buffer ||
        !(io = avio_alloc_context(buffer, bufferSize, 0, this, &readIo, nullptr, &seekIo))) {
        av_free(buffer);
        throw std::bad_alloc();
    }
    if (!(demuxer = avformat_alloc_context()))
        throw std::bad_alloc();
    demuxer->pb = io;
}

int FfmpegReader::State::readIo(void* opaque, std::uint8_t* buffer, int size) {
    State& s = *static_cast<State*>(opaque);
    const std::int64_t n = readAt(s.fd, buffer, std::size_t(size), s.ioPosition);
    if (n < 0)
        return AVERROR(int(-n));
    if (n == 0)
        return AVERROR_EOF;
    if (s.clamp)
        ChunkSizes::apply(*s.clamp, std::uint64_t(s.ioPosition), buffer, std::size_t(n));
    s.ioPosition += n;
    return int(n);
}

std::int64_t FfmpegReader::State::seekIo(void* opaque, std::int64_t offset, int whence) {
    State& s = *static_cast<State*>(opaque);
    struct stat info {};
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE || whence == SEEK_END) {
        if (::fstat(s.fd, &info) != 0)
            return AVERROR(errno);
        if (whence == AVSEEK_SIZE)
            return info.st_size;
    }
    const std::int64_t base = whence == SEEK_SET   ? 0
                              : whence == SEEK_CUR ? s.ioPosition
                              : whence == SEEK_END ? std::int64_t(info.st_size)
                                                   : -1;
    if (base < 0 || (offset < 0 && -offset > base) || (offset > 0 && offset > INT64_MAX - base))
        return AVERROR(EINVAL);
    return s.ioPosition = base + offset;
}

/// Where the audio of a plain PCM WAV lies in the file, start and end, when the demuxer, having
/// read the header, would read exactly the data chunk the header declares (cut at the end of the
/// file) in whole frames of the size it guessed: then reading it straight gives the same samples.
/// {-1, -1} when anything else might be read: compressed audio, an undeclared or disputed length.
std::pair<std::int64_t, std::int64_t> FfmpegReader::State::plainAudio(const AVStream& stream,
                                                                      int channelCount) const {
    const AVCodecParameters& params = *stream.codecpar;
    const int guessed = av_get_bits_per_sample(params.codec_id);
    const std::int64_t frameBytes = std::int64_t(channelCount) * guessed / 8;
    const std::int64_t start = avio_tell(demuxer->pb); // the header reading stops at the audio
    struct stat info {};
    const auto declared = WaveHeader::dataBytes(path);
    if (codecInfo(params.codec_id).codec != AudioCodec::linearPCM ||
        params.ch_layout.nb_channels != channelCount || guessed % 8 != 0 || frameBytes <= 0 ||
        start < 0 || !declared || ::fstat(fd, &info) != 0 || info.st_size < start)
        return {-1, -1};
    const auto bytes = std::min<std::uint64_t>(*declared, std::uint64_t(info.st_size - start));
    if (stream.duration == AV_NOPTS_VALUE || std::uint64_t(stream.duration) != bytes / frameBytes)
        return {-1, -1};
    return {start, start + stream.duration * frameBytes};
}

void FfmpegReader::State::open() {
    openFile();
    // WAV packets default to 4 KB: an hour of audio would take a million packets and read calls.
    // A quarter megabyte each still fits the meter's chunks for most files.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "max_size", "262144", 0);
    int r = avformat_open_input(&demuxer, path.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (r < 0)
        fail(r);
    struct stat file {};
    bytesPastHeader = ::fstat(fd, &file) == 0 && file.st_size > avio_tell(demuxer->pb);
    // A WAV whose header says it is plain PCM and how long it is, and whose data FFmpeg didn't
    // find to hold S/PDIF while reading the header, needs no look at its packets: FFmpeg's stream
    // probe would scan the first megabytes of every 16-bit file for a compressed stream, costing
    // more than the audio.
    const bool isWav = std::string_view(demuxer->iformat->name) == "wav";
    const auto wave = isWav ? WaveHeader::pcmFormat(path) : std::nullopt;
    if (wave && demuxer->nb_streams == 1 && pcmLayout(*wave).sample != PcmSample::none)
        std::tie(fileAt, fileEnd) = plainAudio(*demuxer->streams[0], wave->channels);
    const bool plainWave = fileAt >= 0;
    // The lengths the header declares, before the stream probe fills in its estimates.
    std::vector<std::int64_t> headerDurations;
    for (unsigned i = 0; i < demuxer->nb_streams; ++i)
        headerDurations.push_back(demuxer->streams[i]->duration);
    if (!plainWave && (r = probeStreamsButPictures(*demuxer)) < 0)
        fail(r);
    for (unsigned i = 0; i < demuxer->nb_streams && streamIndex < 0; ++i)
        if (demuxer->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            streamIndex = int(i);
    if (streamIndex < 0)
        throw FfmpegError("The file holds no audio");
    for (unsigned i = 0; i < demuxer->nb_streams; ++i)
        if (int(i) != streamIndex)
            demuxer->streams[i]->discard = AVDISCARD_ALL; // pictures, video, other tracks

    const AVStream* stream = demuxer->streams[streamIndex];
    const AVCodecParameters* params = stream->codecpar;
    const CodecInfo info = codecInfo(params->codec_id);
    format.codec = info.codec;
    format.isFloat = info.isFloat;
    format.bitDepth =
        info.codec == AudioCodec::linearPCM ? av_get_bits_per_sample(params->codec_id) : 0;
    format.sampleRate = params->sample_rate;
    format.channelCount = params->ch_layout.nb_channels;
    if (!hasChannelsAndRate(format))
        return; // nothing to decode; the caller reports it

    const AVCodec* codec = avcodec_find_decoder(params->codec_id);
    if (!codec)
        throw FfmpegError("No decoder for this kind of audio");
    if (!(decoder = avcodec_alloc_context3(codec)) || !(packet = av_packet_alloc()) ||
        !(frame = av_frame_alloc()))
        throw std::bad_alloc();
    if ((r = avcodec_parameters_to_context(decoder, params)) < 0)
        fail(r);
    decoder->pkt_timebase = stream->time_base;
    if ((r = avcodec_open2(decoder, codec, nullptr)) < 0)
        fail(r);
    format.sampleRate = decoder->sample_rate;
    format.channelCount = decoder->ch_layout.nb_channels;
    noteLengths(std::size_t(streamIndex) < headerDurations.size()
                    ? headerDurations[std::size_t(streamIndex)]
                    : AV_NOPTS_VALUE);
    if (const PcmLayout layout = pcmLayout(params->codec_id);
        layout.sample != PcmSample::none && format.channelCount == params->ch_layout.nb_channels &&
        params->block_align == int(layout.bytes) * format.channelCount)
        pcm = layout;
    if (wave && wave->channels == format.channelCount) {
        if (const PcmLayout layout = pcmLayout(*wave); layout.sample != PcmSample::none) {
            // FFmpeg's length counts frames of the size it guessed.
            const int guessed = av_get_bits_per_sample(params->codec_id);
            if (guessed > 0)
                lengthScale = double(guessed) / double(8 * layout.bytes);
            pcm = layout;
            format.codec = AudioCodec::linearPCM;
            format.isFloat = wave->isFloat;
            const int container = int(8 * layout.bytes);
            format.bitDepth =
                wave->validBits > 0 && wave->validBits < container ? wave->validBits : container;
        }
    }

    // Decoders put compressed audio into FFmpeg's order; linear PCM stays in the file's order,
    // which only the container's own layout record tells (copies written here carry one in WAV
    // too, for speakers that a WAV mask can't name). Otherwise a WAV says it with its speaker mask,
    // which FFmpeg reads, or not at all: FFmpeg's guess for a WAV without one is not the file's.
    const auto apple = appleContainer(demuxer->iformat->name);
    std::optional<std::vector<std::uint32_t>> fileLabels;
    if (apple && format.codec == AudioCodec::linearPCM)
        fileLabels = AppleChannelLayout::readLabels(path, *apple);
    if (!fileLabels && wave && wave->mask == 0)
        fileLabels.emplace();
    format.channelLabels = fileLabels ? *fileLabels : labelsOf(decoder->ch_layout);

    if (stream->duration != AV_NOPTS_VALUE)
        length =
            av_rescale_q(stream->duration, stream->time_base, AVRational{1, params->sample_rate});
    else if (demuxer->duration != AV_NOPTS_VALUE)
        length = av_rescale(demuxer->duration, params->sample_rate, AV_TIME_BASE);
    length = std::max<std::int64_t>(std::llround(double(length) * lengthScale), 0);
}

/// Notes how packet times convert to frames, and keeps the stream's length in frames when the
/// container declares it exactly while its header is read: FLAC's STREAMINFO, AIFF's and CAF's
/// sizes, MP4's sample tables, an MP3's Xing or VBRI frame count. The stream probe's estimates
/// from the bit rate (an MP3 without such a frame, ADTS) come later and are no length to hold the
/// decoded audio against. A WAV's length is left out: a WAV that ends before its header says is
/// told so on its own.
void FfmpegReader::State::noteLengths(std::int64_t headerDuration) {
    const AVStream& stream = *demuxer->streams[streamIndex];
    if (decoder->sample_rate <= 0 || stream.time_base.num <= 0 || stream.time_base.den <= 0)
        return;
    framesPerTick = av_q2d(stream.time_base) * decoder->sample_rate;
    if (headerDuration == AV_NOPTS_VALUE || headerDuration <= 0 ||
        std::string_view(demuxer->iformat->name) == "wav")
        return;
    // An overflow gives a negative length.
    const std::int64_t frames =
        av_rescale_q(headerDuration, stream.time_base, AVRational{1, decoder->sample_rate});
    if (frames > 0 && frames <= plausibleLength)
        declaredLength = frames;
}

/// Sends the packet to the decoder, tallying it as lost when it is damaged.
void FfmpegReader::State::sendPacket() {
    noteTimestamps(*packet);
    // No codec frame lasts longer (FLAC's longest block): a longer one is a container's lie.
    constexpr double longestFrame = 65536;
    const double frames = double(packet->duration) * framesPerTick;
    lastSentFrames = frames > 0 && frames <= longestFrame ? frames : 0;
    ++packetsSent;
    const int r = avcodec_send_packet(decoder, packet);
    if (r == AVERROR_INVALIDDATA) {
        damage = r;
        losses.dropped(lastSentFrames);
    } else if (r < 0) {
        fail(r);
    }
}

/// Tallies a jump of the timestamps past the end of the previous packet as skipped audio.
void FfmpegReader::State::noteTimestamps(const AVPacket& p) {
    if (p.pts == AV_NOPTS_VALUE)
        return;
    // Half a packet of leeway for timestamps rounded to a coarse time base.
    const double jump = double(p.pts) - double(nextPts);
    if (nextPts != AV_NOPTS_VALUE && jump > double(lastPacketDuration) / 2)
        losses.skipped(jump * framesPerTick);
    const bool ends = p.duration > 0 && p.pts <= INT64_MAX - p.duration;
    nextPts = ends ? p.pts + p.duration : AV_NOPTS_VALUE;
    lastPacketDuration = ends ? p.duration : 0;
}

/// Decodes the next frame into `pending`; false at the end of the stream. Damaged packets are
/// skipped as players skip them.
bool FfmpegReader::State::decodeFrame() {
    if (pcm.sample != PcmSample::none)
        return readPcmPacket();
    while (!finished) {
        int r = avcodec_receive_frame(decoder, frame);
        if (r == 0) {
            framesDecoded += frame->nb_samples;
            losses.decoded(frame->nb_samples);
            convert();
            av_frame_unref(frame);
            return true;
        }
        if (r == AVERROR_EOF) {
            finished = true;
            flushConverter();
            return pendingFrames > 0;
        }
        if (r == AVERROR_INVALIDDATA) {
            // The packet sent last: a packet fails as it is sent unless a frame was waiting.
            damage = r;
            losses.dropped(lastSentFrames);
            continue;
        }
        if (r != AVERROR(EAGAIN))
            fail(r);
        if (draining)
            fail(AVERROR_BUG);
        r = av_read_frame(demuxer, packet);
        if (r == AVERROR_EOF) {
            draining = true;
            avcodec_send_packet(decoder, nullptr);
            continue;
        }
        if (r < 0)
            fail(r);
        if (packet->stream_index == streamIndex)
            sendPacket();
        av_packet_unref(packet);
    }
    return false;
}

/// The next packet of interleaved PCM, converted into `channels` when it fits, else `pending`.
/// A trailing partial frame is dropped, as the decoder drops it.
bool FfmpegReader::State::readPcmPacket() {
    if (fileAt >= 0)
        return readPcmFromFile();
    while (!finished) {
        const int r = av_read_frame(demuxer, packet);
        if (r == AVERROR_EOF) {
            finished = true;
            break;
        }
        if (r < 0)
            fail(r);
        if (packet->stream_index != streamIndex) {
            av_packet_unref(packet);
            continue;
        }
        convertPcmFrames(packet->data, std::size_t(packet->size) /
                                           (pcm.bytes * std::size_t(format.channelCount)));
        av_packet_unref(packet);
        return true;
    }
    return false;
}

/// As many frames as fit in `channels`, read from the file past the demuxer.
bool FfmpegReader::State::readPcmFromFile() {
    const std::size_t frameBytes = pcm.bytes * std::size_t(format.channelCount);
    const auto left = std::uint64_t(std::max<std::int64_t>(fileEnd - fileAt, 0)) / frameBytes;
    const std::size_t frames = std::min<std::uint64_t>(directRoom, left);
    // Three-byte samples are loaded four bytes at a time, as from a packet's padding.
    if (raw.size() < frames * frameBytes + AV_INPUT_BUFFER_PADDING_SIZE)
        raw.resize(frames * frameBytes + AV_INPUT_BUFFER_PADDING_SIZE);
    const std::int64_t got = frames ? readAt(fd, raw.data(), frames * frameBytes, fileAt) : 0;
    if (got < 0)
        failSystem(int(-got));
    if (std::size_t(got) < frameBytes) {
        finished = true;
        return false;
    }
    fileAt += got;
    convertPcmFrames(raw.data(), std::size_t(got) / frameBytes);
    return true;
}

/// Converts `frames` interleaved frames at `data` into `channels` when they fit, else `pending`.
void FfmpegReader::State::convertPcmFrames(const std::uint8_t* data, std::size_t frames) {
    const std::size_t channelCount = std::size_t(format.channelCount);
    if (doublesOut) { // readPcmFromFile() never reads more than there is room for
        std::array<double*, 2> at{};
        for (std::size_t c = 0; c < channelCount; ++c)
            at[c] = doublesOut[c] + directOffset;
        VectorOps::pcmToDoubles(data, frames, channelCount, pcm.bytes, at.data());
        framesDecoded += std::int64_t(frames);
        directFrames = frames;
        return;
    }
    const bool direct = frames <= directRoom;
    if (!direct)
        ensurePending(frames);
    outPointers.resize(channelCount);
    for (std::size_t c = 0; c < channelCount; ++c)
        outPointers[c] = reinterpret_cast<std::uint8_t*>(direct ? channels[c].data() + directOffset
                                                                : pending[c].data());
    convertPcm(pcm, data, frames, channelCount, outPointers.data());
    framesDecoded += std::int64_t(frames);
    directFrames = direct ? frames : 0;
    pendingFrames = direct ? 0 : frames;
    pendingOffset = 0;
}

void FfmpegReader::State::ensurePending(std::size_t frames) {
    pending.resize(std::size_t(format.channelCount));
    for (auto& channel : pending)
        if (channel.size() < frames)
            channel.resize(frames);
}

/// Converts `frame` to planar float at the file's rate into `pending`.
void FfmpegReader::State::convert() {
    if (frame->ch_layout.nb_channels != format.channelCount)
        throw FfmpegError("The number of channels changes within the file");
    if (!converter || frame->format != inFormat || frame->sample_rate != inRate ||
        av_channel_layout_compare(&frame->ch_layout, &inLayout) != 0) {
        swr_free(&converter);
        av_channel_layout_uninit(&inLayout);
        int r = av_channel_layout_copy(&inLayout, &frame->ch_layout);
        if (r >= 0)
            r = swr_alloc_set_opts2(&converter, &inLayout, AV_SAMPLE_FMT_FLTP,
                                    int(format.sampleRate), &inLayout,
                                    AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
        if (r >= 0)
            r = swr_init(converter);
        if (r < 0)
            fail(r);
        inFormat = frame->format;
        inRate = frame->sample_rate;
    }
    const int capacity = swr_get_out_samples(converter, frame->nb_samples);
    if (capacity < 0)
        fail(capacity);
    const bool direct = std::size_t(capacity) <= directRoom;
    if (!direct)
        ensurePending(std::size_t(capacity));
    outPointers.resize(std::size_t(format.channelCount));
    for (std::size_t c = 0; c < outPointers.size(); ++c)
        outPointers[c] = reinterpret_cast<std::uint8_t*>(direct ? channels[c].data() + directOffset
                                                                : pending[c].data());
    const int got =
        swr_convert(converter, outPointers.data(), capacity,
                    const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
    if (got < 0)
        fail(got);
    directFrames = direct ? std::size_t(got) : 0;
    pendingFrames = direct ? 0 : std::size_t(got);
    pendingOffset = 0;
}

/// At the end of the stream: what a sample-rate change still holds back.
void FfmpegReader::State::flushConverter() {
    pendingFrames = pendingOffset = 0;
    if (!converter)
        return;
    const int capacity = swr_get_out_samples(converter, 0);
    if (capacity <= 0)
        return;
    ensurePending(std::size_t(capacity));
    outPointers.clear();
    for (auto& channel : pending)
        outPointers.push_back(reinterpret_cast<std::uint8_t*>(channel.data()));
    const int got = swr_convert(converter, outPointers.data(), capacity, nullptr, 0);
    if (got < 0)
        fail(got);
    pendingFrames = std::size_t(got);
}

FfmpegReader::FfmpegReader(const std::filesystem::path& path) : m_state(std::make_unique<State>()) {
    m_state->path = path;
    m_state->open();
}

FfmpegReader::~FfmpegReader() = default;

const std::filesystem::path& FfmpegReader::path() const {
    return m_state->path;
}
const AudioFileFormat& FfmpegReader::format() const {
    return m_state->format;
}
const AVFormatContext& FfmpegReader::demuxer() const {
    return *m_state->demuxer;
}
int FfmpegReader::streamIndex() const {
    return m_state->streamIndex;
}
bool FfmpegReader::hasAudio() const {
    return hasChannelsAndRate(m_state->format);
}
std::int64_t FfmpegReader::length() const {
    return m_state->length;
}
std::int64_t FfmpegReader::framePosition() const {
    return m_state->position;
}
DecodingLoss FfmpegReader::loss() const {
    const State& s = *m_state;
    return s.losses.finish(s.declaredLength, s.framesDecoded, s.plausibleLength,
                           s.format.sampleRate);
}

std::vector<DecodingGap> FfmpegReader::gapsInside() const {
    // What the container declares, when it does, bounds the gaps better than estimated lengths.
    const State& s = *m_state;
    const std::int64_t length = std::min(s.declaredLength.value_or(INT64_MAX), s.plausibleLength);
    return s.losses.gapsInside(std::max(static_cast<double>(length - s.framesDecoded), 0.0));
}

bool FfmpegReader::formatGuessed() const {
    const std::string_view name = m_state->demuxer->iformat->name;
    return m_state->demuxer->probe_score < AVPROBE_SCORE_EXTENSION && name != "mp3" &&
           name != "aac";
}

bool FfmpegReader::decodedNothing() const {
    const State& s = *m_state;
    // Compressed audio whose frames the parser can't even find reaches the decoder as no packet.
    const bool nothingFound =
        s.decoder && s.pcm.sample == PcmSample::none && s.packetsSent == 0 && s.bytesPastHeader;
    const DecodingLoss lost = loss();
    return s.framesDecoded == 0 &&
           (s.damage != 0 || nothingFound || lost.seconds > 0 || lost.cutOffSeconds > 0);
}

std::size_t FfmpegReader::framesPerRead(std::size_t maxFrames) const {
    constexpr std::size_t samples = 1 << 20; // 4 MB of float samples across the channels
    return std::min(
        maxFrames,
        std::max<std::size_t>(samples / std::size_t(std::max(m_state->format.channelCount, 1)), 1));
}

void FfmpegReader::reserve(std::size_t maxFrames) {
    maxFrames = framesPerRead(maxFrames);
    m_state->channels.resize(std::size_t(std::max(m_state->format.channelCount, 0)));
    m_state->pointers.resize(m_state->channels.size());
    for (std::size_t c = 0; c < m_state->channels.size(); ++c) {
        if (m_state->channels[c].size() < maxFrames)
            m_state->channels[c].resize(maxFrames);
        m_state->pointers[c] = m_state->channels[c].data();
    }
}

std::size_t FfmpegReader::read(std::size_t maxFrames) {
    maxFrames = framesPerRead(maxFrames);
    reserve(maxFrames);
    std::size_t filled = 0;
    while (filled < maxFrames) {
        if (m_state->pendingOffset < m_state->pendingFrames) {
            const std::size_t n =
                std::min(maxFrames - filled, m_state->pendingFrames - m_state->pendingOffset);
            for (std::size_t c = 0; c < m_state->channels.size(); ++c)
                std::copy_n(m_state->pending[c].data() + m_state->pendingOffset, n,
                            m_state->channels[c].data() + filled);
            filled += n;
            m_state->pendingOffset += n;
        } else {
            m_state->directOffset = filled;
            m_state->directRoom = maxFrames - filled;
            m_state->directFrames = 0;
            if (!m_state->decoder || !m_state->decodeFrame())
                break;
            filled += m_state->directFrames;
        }
    }
    m_state->position += std::int64_t(filled);
    return filled;
}

std::span<const float* const> FfmpegReader::channelData() const {
    return m_state->pointers;
}

bool FfmpegReader::readsDoubles() const {
    const State& s = *m_state;
    return s.fileAt >= 0 && s.decoder && !s.pcm.bigEndian &&
           (s.pcm.sample == PcmSample::s16 || s.pcm.sample == PcmSample::s24) &&
           (s.format.channelCount == 1 || s.format.channelCount == 2);
}

std::size_t FfmpegReader::readDoubles(std::size_t maxFrames, double* const* out) {
    TAVRIN_EXPECTS(readsDoubles());
    State& s = *m_state;
    s.directOffset = s.directFrames = 0;
    s.directRoom = framesPerRead(maxFrames);
    s.doublesOut = out;
    struct Reset {
        State& s;
        ~Reset() { s.doublesOut = nullptr; }
    } reset{s};
    const std::size_t frames = s.readPcmFromFile() ? s.directFrames : 0;
    s.position += std::int64_t(frames);
    return frames;
}

std::size_t readChunk(FfmpegReader& reader, std::size_t maxFrames) {
    const std::size_t frames = reader.read(maxFrames);
    if (frames == 0 && reader.decodedNothing())
        throw AudioFileError::unreadable(std::string(AudioFileError::nothingDecoded));
    const auto channels = reader.channelData();
    if (frames > 0 && (channels.size() != std::size_t(reader.format().channelCount) ||
                       std::ranges::any_of(channels, [](const float* c) { return c == nullptr; })))
        throw AudioFileError::unreadable("Unsupported sample format.");
    return frames;
}

void silenceDecoderLog() {
    av_log_set_level(AV_LOG_QUIET);
}

} // namespace tavrin

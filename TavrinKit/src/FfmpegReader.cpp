#include "FfmpegReader.h"

#include "AppleChannelLayout.h"
#include "ChunkSizes.h"
#include "WaveHeader.h"

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
#include <bit>
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
#include <unistd.h>
#include <vector>

namespace tavrin {
namespace {

/// FFmpeg writes its own diagnostics to stderr; the library reports through its errors only.
void silenceLogging() {
    static const bool silenced = [] {
        av_log_set_level(AV_LOG_QUIET);
        return true;
    }();
    (void)silenced;
}

/// A readable description of an FFmpeg error code, never a bare number.
std::string describe(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(code, text, sizeof text) == 0)
        return text;
    return "Unknown decoding error";
}

[[noreturn]] void fail(int code) {
    throw FfmpegError(describe(code));
}

struct CodecInfo {
    AudioCodec codec = AudioCodec::other;
    bool isFloat = false;
};

CodecInfo codecInfo(AVCodecID id) {
    switch (id) {
    case AV_CODEC_ID_MP3:
        return {AudioCodec::mp3};
    case AV_CODEC_ID_ALAC:
        return {AudioCodec::appleLossless};
    case AV_CODEC_ID_FLAC:
        return {AudioCodec::flac};
    case AV_CODEC_ID_AAC:
    case AV_CODEC_ID_AAC_LATM:
        return {AudioCodec::aac};
    case AV_CODEC_ID_PCM_F16LE:
    case AV_CODEC_ID_PCM_F24LE:
    case AV_CODEC_ID_PCM_F32LE:
    case AV_CODEC_ID_PCM_F32BE:
    case AV_CODEC_ID_PCM_F64LE:
    case AV_CODEC_ID_PCM_F64BE:
        return {AudioCodec::linearPCM, true};
    case AV_CODEC_ID_PCM_S8:
    case AV_CODEC_ID_PCM_U8:
    case AV_CODEC_ID_PCM_S8_PLANAR:
    case AV_CODEC_ID_PCM_S16LE:
    case AV_CODEC_ID_PCM_S16BE:
    case AV_CODEC_ID_PCM_U16LE:
    case AV_CODEC_ID_PCM_U16BE:
    case AV_CODEC_ID_PCM_S16LE_PLANAR:
    case AV_CODEC_ID_PCM_S16BE_PLANAR:
    case AV_CODEC_ID_PCM_S24LE:
    case AV_CODEC_ID_PCM_S24BE:
    case AV_CODEC_ID_PCM_U24LE:
    case AV_CODEC_ID_PCM_U24BE:
    case AV_CODEC_ID_PCM_S24LE_PLANAR:
    case AV_CODEC_ID_PCM_S32LE:
    case AV_CODEC_ID_PCM_S32BE:
    case AV_CODEC_ID_PCM_U32LE:
    case AV_CODEC_ID_PCM_U32BE:
    case AV_CODEC_ID_PCM_S32LE_PLANAR:
    case AV_CODEC_ID_PCM_S64LE:
    case AV_CODEC_ID_PCM_S64BE:
        return {AudioCodec::linearPCM, false};
    default:
        return {};
    }
}

/// Interleaved linear PCM that is converted straight from the packets: the decoder and the
/// resampler would take two passes and two copies to do the same.
enum class PcmSample { none, u8, s8, s16, s24, s32, f32, f64 };

struct PcmLayout {
    PcmSample sample = PcmSample::none;
    bool bigEndian = false;
    std::size_t bytes = 0;
};

/// A WAV file's own account of its samples, which FFmpeg reads from the valid bits instead of the
/// container: 24 bits in 32-bit slots become 24-bit floats, 16 in 24 are read two bytes at a time.
/// Samples are read whole from their container, as libsndfile reads them; the valid bits sit at
/// its top, so the scale is the same.
PcmLayout pcmLayout(const WaveHeader::Format& wave) {
    if (wave.isFloat)
        return wave.containerBytes == 4   ? PcmLayout{PcmSample::f32, false, 4}
               : wave.containerBytes == 8 ? PcmLayout{PcmSample::f64, false, 8}
                                          : PcmLayout{};
    switch (wave.containerBytes) {
    case 1:
        return {PcmSample::u8, false, 1};
    case 2:
        return {PcmSample::s16, false, 2};
    case 3:
        return {PcmSample::s24, false, 3};
    case 4:
        return {PcmSample::s32, false, 4};
    default:
        return {};
    }
}

PcmLayout pcmLayout(AVCodecID id) {
    switch (id) {
    case AV_CODEC_ID_PCM_U8:
        return {PcmSample::u8, false, 1};
    case AV_CODEC_ID_PCM_S8:
        return {PcmSample::s8, false, 1};
    case AV_CODEC_ID_PCM_S16LE:
        return {PcmSample::s16, false, 2};
    case AV_CODEC_ID_PCM_S16BE:
        return {PcmSample::s16, true, 2};
    case AV_CODEC_ID_PCM_S24LE:
        return {PcmSample::s24, false, 3};
    case AV_CODEC_ID_PCM_S24BE:
        return {PcmSample::s24, true, 3};
    case AV_CODEC_ID_PCM_S32LE:
        return {PcmSample::s32, false, 4};
    case AV_CODEC_ID_PCM_S32BE:
        return {PcmSample::s32, true, 4};
    case AV_CODEC_ID_PCM_F32LE:
        return {PcmSample::f32, false, 4};
    case AV_CODEC_ID_PCM_F32BE:
        return {PcmSample::f32, true, 4};
    case AV_CODEC_ID_PCM_F64LE:
        return {PcmSample::f64, false, 8};
    case AV_CODEC_ID_PCM_F64BE:
        return {PcmSample::f64, true, 8};
    default:
        return {};
    }
}

/// The W bytes at `p` as an unsigned integer in the host's (little-endian) order, byte-swapped
/// when the file is big-endian. Three-byte samples are read as four bytes (packets carry padding
/// past their end) with the extra byte at the bottom, so a 24-bit sample lands in the top 24 bits.
template <std::size_t Bytes> auto loadSample(const std::uint8_t* p, bool bigEndian) {
    if constexpr (Bytes == 1) {
        return std::uint32_t(*p);
    } else if constexpr (Bytes == 2) {
        std::uint16_t v;
        std::memcpy(&v, p, 2);
        return bigEndian ? __builtin_bswap16(v) : v;
    } else if constexpr (Bytes == 3) {
        std::uint32_t v;
        std::memcpy(&v, p, 4);
        return bigEndian ? __builtin_bswap32(v) & 0xFFFFFF00u : v << 8;
    } else if constexpr (Bytes == 4) {
        std::uint32_t v;
        std::memcpy(&v, p, 4);
        return bigEndian ? __builtin_bswap32(v) : v;
    } else {
        std::uint64_t v;
        std::memcpy(&v, p, 8);
        return bigEndian ? __builtin_bswap64(v) : v;
    }
}

template <std::size_t Bytes, class ToFloat>
void deinterleave(const std::uint8_t* in, std::size_t frames, std::size_t channels, bool bigEndian,
                  std::uint8_t* const* out, ToFloat toFloat) {
    for (std::size_t c = 0; c < channels; ++c) {
        float* dest = reinterpret_cast<float*>(out[c]);
        const std::uint8_t* p = in + c * Bytes;
        const std::size_t stride = channels * Bytes;
        if (bigEndian)
            for (std::size_t f = 0; f < frames; ++f)
                dest[f] = toFloat(loadSample<Bytes>(p + f * stride, true));
        else
            for (std::size_t f = 0; f < frames; ++f)
                dest[f] = toFloat(loadSample<Bytes>(p + f * stride, false));
    }
}

/// Converts interleaved PCM to planar float exactly as FFmpeg's decoder and resampler would:
/// integers scaled by 1/2^(bits−1) in single precision, 24-bit samples as the top of 32 bits.
void convertPcm(const PcmLayout& pcm, const std::uint8_t* in, std::size_t frames,
                std::size_t channels, std::uint8_t* const* out) {
    const bool be = pcm.bigEndian;
    const auto signed32 = [](std::uint32_t v) {
        return float(std::int32_t(v)) * (1.0f / 2147483648.0f);
    };
    switch (pcm.sample) {
    case PcmSample::u8:
        return deinterleave<1>(in, frames, channels, be, out,
                               [](std::uint32_t v) { return float(int(v) - 0x80) * (1.0f / 128); });
    case PcmSample::s8:
        return deinterleave<1>(in, frames, channels, be, out, [](std::uint32_t v) {
            return float(std::int8_t(v)) * (1.0f / 128);
        });
    case PcmSample::s16:
        return deinterleave<2>(in, frames, channels, be, out, [](std::uint16_t v) {
            return float(std::int16_t(v)) * (1.0f / 32768);
        });
    case PcmSample::s24:
    case PcmSample::s32:
        return pcm.sample == PcmSample::s24
                   ? deinterleave<3>(in, frames, channels, be, out, signed32)
                   : deinterleave<4>(in, frames, channels, be, out, signed32);
    case PcmSample::f32:
        return deinterleave<4>(in, frames, channels, be, out,
                               [](std::uint32_t v) { return std::bit_cast<float>(v); });
    case PcmSample::f64:
        return deinterleave<8>(in, frames, channels, be, out,
                               [](std::uint64_t v) { return float(std::bit_cast<double>(v)); });
    case PcmSample::none:
        break;
    }
}

constexpr std::uint32_t unusedLabel = 0;
constexpr std::uint32_t unknownLabel = 0xFFFFFFFF;
/// A named speaker without a code of its own in the platform's list (top side, bottom, …): it
/// counts as a front channel.
constexpr std::uint32_t discreteLabel = 400;

bool holds(const AVChannelLayout& layout, AVChannel a, AVChannel b) {
    return av_channel_layout_index_from_channel(&layout, a) >= 0 &&
           av_channel_layout_index_from_channel(&layout, b) >= 0;
}

/// Platform label codes for FFmpeg's channels. FFmpeg's first 18 channels follow the WAVE speaker
/// bits, which map to labels 1…18 in order. A layout with both back and side pairs is a 7.1 whose
/// back pair is the rear surround (33/34, counting as front) and whose side pair is the
/// surround (5/6), as the platform reads such a WAV.
std::vector<std::uint32_t> labelsOf(const AVChannelLayout& layout) {
    if (layout.order != AV_CHANNEL_ORDER_NATIVE && layout.order != AV_CHANNEL_ORDER_CUSTOM)
        return {};
    const bool backAndSide = holds(layout, AV_CHAN_BACK_LEFT, AV_CHAN_BACK_RIGHT) &&
                             holds(layout, AV_CHAN_SIDE_LEFT, AV_CHAN_SIDE_RIGHT);
    std::vector<std::uint32_t> labels;
    for (int i = 0; i < layout.nb_channels; ++i) {
        const AVChannel ch = av_channel_layout_channel_from_index(&layout, unsigned(i));
        if (ch >= AV_CHAN_AMBISONIC_BASE && ch <= AV_CHAN_AMBISONIC_END)
            return {};
        std::uint32_t label = discreteLabel;
        if (backAndSide && (ch == AV_CHAN_BACK_LEFT || ch == AV_CHAN_BACK_RIGHT))
            label = ch == AV_CHAN_BACK_LEFT ? 33 : 34;
        else if (backAndSide && (ch == AV_CHAN_SIDE_LEFT || ch == AV_CHAN_SIDE_RIGHT))
            label = ch == AV_CHAN_SIDE_LEFT ? 5 : 6;
        else if (ch >= AV_CHAN_FRONT_LEFT && ch <= AV_CHAN_TOP_BACK_RIGHT)
            label = std::uint32_t(ch) + 1;
        else if (ch == AV_CHAN_STEREO_LEFT || ch == AV_CHAN_STEREO_RIGHT)
            label = ch == AV_CHAN_STEREO_LEFT ? 38 : 39;
        else if (ch == AV_CHAN_WIDE_LEFT || ch == AV_CHAN_WIDE_RIGHT)
            label = ch == AV_CHAN_WIDE_LEFT ? 35 : 36;
        else if (ch == AV_CHAN_SURROUND_DIRECT_LEFT || ch == AV_CHAN_SURROUND_DIRECT_RIGHT)
            label = ch == AV_CHAN_SURROUND_DIRECT_LEFT ? 10 : 11;
        else if (ch == AV_CHAN_LOW_FREQUENCY_2)
            label = 37;
        else if (ch == AV_CHAN_UNUSED)
            label = unusedLabel;
        else if (ch == AV_CHAN_UNKNOWN || ch == AV_CHAN_NONE)
            label = unknownLabel;
        labels.push_back(label);
    }
    return labels;
}

/// Containers whose channel layout record FFmpeg reduces to a speaker set, losing the order.
std::optional<AppleChannelLayout::Container> appleContainer(std::string_view demuxer) {
    if (demuxer == "wav")
        return AppleChannelLayout::Container::wav;
    if (demuxer == "caf")
        return AppleChannelLayout::Container::caf;
    if (demuxer == "aiff")
        return AppleChannelLayout::Container::aiff;
    if (demuxer.starts_with("mov"))
        return AppleChannelLayout::Container::mp4;
    return std::nullopt;
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

    bool draining = false;
    bool finished = false;
    std::int64_t framesDecoded = 0;
    int damage = 0; // last error of a damaged packet that was skipped

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
    static int readIo(void* opaque, std::uint8_t* buffer, int size);
    static std::int64_t seekIo(void* opaque, std::int64_t offset, int whence);
    bool decodeFrame();
    bool readPcmPacket();
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
    if ((r = avformat_find_stream_info(demuxer, nullptr)) < 0)
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
    if (format.channelCount < 1 || format.sampleRate <= 0)
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
    if (const PcmLayout layout = pcmLayout(params->codec_id);
        layout.sample != PcmSample::none && format.channelCount == params->ch_layout.nb_channels &&
        params->block_align == int(layout.bytes) * format.channelCount)
        pcm = layout;
    const bool isWav = std::string_view(demuxer->iformat->name) == "wav";
    const auto wave = isWav ? WaveHeader::pcmFormat(path) : std::nullopt;
    if (wave && wave->channels == format.channelCount) {
        if (const PcmLayout layout = pcmLayout(*wave); layout.sample != PcmSample::none) {
            // FFmpeg's length counts frames of the size it guessed.
            if (const int guessed = av_get_bits_per_sample(params->codec_id); guessed > 0)
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

/// Decodes the next frame into `pending`; false at the end of the stream. Damaged packets are
/// skipped as players skip them, but a stream of which nothing decodes is an error.
bool FfmpegReader::State::decodeFrame() {
    if (pcm.sample != PcmSample::none)
        return readPcmPacket();
    while (!finished) {
        int r = avcodec_receive_frame(decoder, frame);
        if (r == 0) {
            framesDecoded += frame->nb_samples;
            convert();
            av_frame_unref(frame);
            return true;
        }
        if (r == AVERROR_EOF) {
            finished = true;
            if (framesDecoded == 0 && damage != 0)
                fail(damage);
            flushConverter();
            return pendingFrames > 0;
        }
        if (r == AVERROR_INVALIDDATA) {
            damage = r;
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
        if (packet->stream_index == streamIndex) {
            r = avcodec_send_packet(decoder, packet);
            if (r == AVERROR_INVALIDDATA)
                damage = r;
            else if (r < 0)
                fail(r);
        }
        av_packet_unref(packet);
    }
    return false;
}

/// The next packet of interleaved PCM, converted into `channels` when it fits, else `pending`.
/// A trailing partial frame is dropped, as the decoder drops it.
bool FfmpegReader::State::readPcmPacket() {
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
        const std::size_t channelCount = std::size_t(format.channelCount);
        const std::size_t frames = std::size_t(packet->size) / (pcm.bytes * channelCount);
        const bool direct = frames <= directRoom;
        if (!direct)
            ensurePending(frames);
        outPointers.resize(channelCount);
        for (std::size_t c = 0; c < channelCount; ++c)
            outPointers[c] = reinterpret_cast<std::uint8_t*>(
                direct ? channels[c].data() + directOffset : pending[c].data());
        convertPcm(pcm, packet->data, frames, channelCount, outPointers.data());
        av_packet_unref(packet);
        framesDecoded += std::int64_t(frames);
        directFrames = direct ? frames : 0;
        pendingFrames = direct ? 0 : frames;
        pendingOffset = 0;
        return true;
    }
    return false;
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

FfmpegReader::FfmpegReader(const std::filesystem::path& path) : m(std::make_unique<State>()) {
    silenceLogging();
    m->path = path;
    m->open();
}

FfmpegReader::~FfmpegReader() = default;

const std::filesystem::path& FfmpegReader::path() const {
    return m->path;
}
const AudioFileFormat& FfmpegReader::format() const {
    return m->format;
}
std::int64_t FfmpegReader::length() const {
    return m->length;
}
std::int64_t FfmpegReader::framePosition() const {
    return m->position;
}

std::size_t FfmpegReader::framesPerRead(std::size_t maxFrames) const {
    constexpr std::size_t samples = 1 << 20; // 4 MB of float samples across the channels
    return std::min(maxFrames, std::max<std::size_t>(
                                   samples / std::size_t(std::max(m->format.channelCount, 1)), 1));
}

void FfmpegReader::reserve(std::size_t maxFrames) {
    maxFrames = framesPerRead(maxFrames);
    m->channels.resize(std::size_t(std::max(m->format.channelCount, 0)));
    m->pointers.resize(m->channels.size());
    for (std::size_t c = 0; c < m->channels.size(); ++c) {
        if (m->channels[c].size() < maxFrames)
            m->channels[c].resize(maxFrames);
        m->pointers[c] = m->channels[c].data();
    }
}

std::size_t FfmpegReader::read(std::size_t maxFrames) {
    maxFrames = framesPerRead(maxFrames);
    reserve(maxFrames);
    std::size_t filled = 0;
    while (filled < maxFrames) {
        if (m->pendingOffset < m->pendingFrames) {
            const std::size_t n = std::min(maxFrames - filled, m->pendingFrames - m->pendingOffset);
            for (std::size_t c = 0; c < m->channels.size(); ++c)
                std::copy_n(m->pending[c].data() + m->pendingOffset, n,
                            m->channels[c].data() + filled);
            filled += n;
            m->pendingOffset += n;
        } else {
            m->directOffset = filled;
            m->directRoom = maxFrames - filled;
            m->directFrames = 0;
            if (!m->decoder || !m->decodeFrame())
                break;
            filled += m->directFrames;
        }
    }
    m->position += std::int64_t(filled);
    return filled;
}

std::span<const float* const> FfmpegReader::channelData() const {
    return m->pointers;
}

} // namespace tavrin

#include "FfmpegReader.h"

#include "AppleChannelLayout.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <string>
#include <string_view>
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

    AVFormatContext* demuxer = nullptr;
    AVCodecContext* decoder = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    SwrContext* converter = nullptr;
    int streamIndex = -1;

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
    }

    void open();
    bool decodeFrame();
    void convert();
    void flushConverter();
    void ensurePending(std::size_t frames);
};

void FfmpegReader::State::open() {
    int r = avformat_open_input(&demuxer, path.c_str(), nullptr, nullptr);
    std::error_code ec;
    if (r < 0 && std::filesystem::is_regular_file(path, ec) &&
        std::filesystem::file_size(path, ec) == 0 && !ec)
        throw FfmpegError("The file is empty"); // FFmpeg only says "Invalid argument"
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

    // Decoders put compressed audio into FFmpeg's order; linear PCM stays in the file's order,
    // which only the container's own layout record tells.
    const auto apple = appleContainer(demuxer->iformat->name);
    std::optional<std::vector<std::uint32_t>> fileLabels;
    if (apple && info.codec == AudioCodec::linearPCM)
        fileLabels = AppleChannelLayout::readLabels(path, *apple);
    format.channelLabels = fileLabels ? *fileLabels : labelsOf(decoder->ch_layout);

    if (stream->duration != AV_NOPTS_VALUE)
        length =
            av_rescale_q(stream->duration, stream->time_base, AVRational{1, params->sample_rate});
    else if (demuxer->duration != AV_NOPTS_VALUE)
        length = av_rescale(demuxer->duration, params->sample_rate, AV_TIME_BASE);
    length = std::max<std::int64_t>(length, 0);
}

/// Decodes the next frame into `pending`; false at the end of the stream. Damaged packets are
/// skipped as players skip them, but a stream of which nothing decodes is an error.
bool FfmpegReader::State::decodeFrame() {
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
    ensurePending(std::size_t(capacity));
    std::vector<std::uint8_t*> out;
    for (auto& channel : pending)
        out.push_back(reinterpret_cast<std::uint8_t*>(channel.data()));
    const int got =
        swr_convert(converter, out.data(), capacity,
                    const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
    if (got < 0)
        fail(got);
    pendingFrames = std::size_t(got);
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
    std::vector<std::uint8_t*> out;
    for (auto& channel : pending)
        out.push_back(reinterpret_cast<std::uint8_t*>(channel.data()));
    const int got = swr_convert(converter, out.data(), capacity, nullptr, 0);
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

void FfmpegReader::reserve(std::size_t maxFrames) {
    m->channels.resize(std::size_t(std::max(m->format.channelCount, 0)));
    m->pointers.resize(m->channels.size());
    for (std::size_t c = 0; c < m->channels.size(); ++c) {
        if (m->channels[c].size() < maxFrames)
            m->channels[c].resize(maxFrames);
        m->pointers[c] = m->channels[c].data();
    }
}

std::size_t FfmpegReader::read(std::size_t maxFrames) {
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
        } else if (!m->decoder || !m->decodeFrame()) {
            break;
        }
    }
    m->position += std::int64_t(filled);
    return filled;
}

std::span<const float* const> FfmpegReader::channelData() const {
    return m->pointers;
}

} // namespace tavrin

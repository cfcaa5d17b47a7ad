#include "copies/FfmpegEncoder.h"

#include "copies/CarriedTags.h"
#include "copies/FfmpegTags.h"
#include "copies/Mp3Header.h"
#include "copies/Mp4Items.h"
#include "core/OpenFile.h"
#include "decode/FfmpegCodecs.h"
#include "tavrin/core/AudioTypes.h"
#include "tavrin/decode/Provenance.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavformat/version.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
}

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <new>
#include <string_view>
#include <system_error>
#include <vector>

namespace tavrin {
namespace {

namespace fs = std::filesystem;

/// The LAME VBR quality (V0…V9) whose typical average bit rate for stereo music is closest to
/// `bitRate`; a mono stream counts as half a stereo one.
int lameQualityFor(std::int64_t bitRate, int channels) {
    static constexpr std::array<double, 10> typicalKbps{245, 225, 190, 175, 165,
                                                        130, 115, 100, 85,  65};
    const double kbps = static_cast<double>(bitRate) / 1000 * (channels == 1 ? 2 : 1);
    int best = 0;
    for (int q = 1; q < 10; ++q)
        if (std::abs(typicalKbps[std::size_t(q)] - kbps) <
            std::abs(typicalKbps[std::size_t(best)] - kbps))
            best = q;
    return best;
}

/// FLAC deeper than 24 bits is FFmpeg 6's, experimental there; earlier encoders stop at 24.
constexpr int deepestFlacBits = LIBAVCODEC_VERSION_MAJOR >= 60 ? 32 : 24;

/// How one copy is encoded.
struct Settings {
    const char* encoder = nullptr;
    const char* muxer = nullptr;
    AVSampleFormat sampleFormat = AV_SAMPLE_FMT_FLTP;
    int integerBits = 0;      ///< lossless: 16, 24 or 32
    std::int64_t bitRate = 0; ///< lossy CBR or AAC average
    int lameQuality = -1;     ///< VBR MP3
    std::string description;
};

Settings settingsFor(DeliveryCodec codec, const FfmpegReader& original) {
    const AVFormatContext& in = original.demuxer();
    const AVCodecParameters& params = *in.streams[original.streamIndex()]->codecpar;
    const int sourceBits = std::max(params.bits_per_raw_sample, params.bits_per_coded_sample);
    const int bits = sourceBits > 0 && sourceBits <= 16 ? 16 : 24;
    // Whole kbps, as the Fix text says it; the stream's own figure is the container's average,
    // held to the rates the encoders take, whatever the file claims.
    const std::int64_t average = params.bit_rate > 0 ? params.bit_rate : in.bit_rate;
    const auto kbps = [&](std::int64_t fallback) {
        const auto rate = std::clamp<std::int64_t>(average > 0 ? average : fallback, 8000, 512000);
        return std::llround(static_cast<double>(rate) / 1000) * 1000;
    };
    Settings s;
    switch (codec) {
    case DeliveryCodec::flac: {
        const int flacBits = sourceBits > 24 ? deepestFlacBits : bits;
        s = {"flac", "flac", flacBits == 16 ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_S32, flacBits, 0,
             -1,     "FLAC"};
        if (sourceBits > flacBits)
            s.description = "FLAC " + std::to_string(flacBits) + "-bit";
        break;
    }
    case DeliveryCodec::alac:
        s = {"alac", "ipod", bits == 16 ? AV_SAMPLE_FMT_S16P : AV_SAMPLE_FMT_S32P, bits, 0,
             -1,     "ALAC"};
        break;
    case DeliveryCodec::aac:
        // FFmpeg's own AAC encoder has no usable VBR: the original's average as a constant rate.
        // It makes AAC-LC only, which the copy of an HE-AAC original says.
        s = {"aac", "ipod", AV_SAMPLE_FMT_FLTP, 0, kbps(128000), -1, {}};
        s.description =
            (params.profile == FF_PROFILE_AAC_HE || params.profile == FF_PROFILE_AAC_HE_V2
                 ? "AAC-LC "
                 : "AAC ") +
            std::to_string(s.bitRate / 1000) + " kbps";
        break;
    case DeliveryCodec::mp3:
        s = {"libmp3lame", "mp3", AV_SAMPLE_FMT_FLTP, 0, 0, -1, {}};
        // A VBR original keeps the quality its LAME header names, else the one its rate suggests;
        // a CBR one its rate, as MP3's table has it.
        if (const Mp3Header::Encoding mode = Mp3Header::read(original.path()); mode.vbr) {
            s.lameQuality =
                mode.quality.value_or(lameQualityFor(kbps(190000), params.ch_layout.nb_channels));
            s.description = "MP3 VBR V" + std::to_string(s.lameQuality);
        } else {
            s.bitRate = Mp3Header::standardRate(kbps(192000), params.sample_rate);
            s.description = "MP3 " + std::to_string(s.bitRate / 1000) + " kbps";
        }
        break;
    }
    return s;
}

/// Converts samples at full scale ±1.0 to integers of `bits` bits, rounded and clipped,
/// left-aligned in `Sample` as FFmpeg's encoders take them.
template <typename Sample> struct ToInteger {
    explicit ToInteger(int bits)
        : top(std::ldexp(1.0, bits - 1)), shift(8 * int(sizeof(Sample)) - bits) {}
    Sample operator()(float value) const {
        const double scaled = std::clamp(std::nearbyint(double(value) * top), -top, top - 1);
        return static_cast<Sample>(static_cast<std::int64_t>(scaled) * (std::int64_t{1} << shift));
    }
    double top;
    int shift;
};

} // namespace

std::optional<DeliveryCodec> deliveryCodec(const fs::path& original, AudioCodec codec) {
    const std::string extension = "." + AudioTypes::lowerExtension(original);
    const auto is = [&](std::initializer_list<std::string_view> names) {
        return std::find(names.begin(), names.end(), extension) != names.end();
    };
    if (codec == AudioCodec::flac && is({".flac"}))
        return DeliveryCodec::flac;
    if (codec == AudioCodec::appleLossless && is({".m4a", ".caf"}))
        return DeliveryCodec::alac;
    if (codec == AudioCodec::aac && is({".m4a", ".mp4", ".aac"}))
        return DeliveryCodec::aac;
    if (codec == AudioCodec::mp3 && is({".mp3"}))
        return DeliveryCodec::mp3;
    return std::nullopt;
}

std::string deliveryDescription(const FfmpegReader& original, DeliveryCodec codec) {
    return settingsFor(codec, original).description;
}

const char* deliveryExtension(DeliveryCodec codec) {
    switch (codec) {
    case DeliveryCodec::flac:
        return ".flac";
    case DeliveryCodec::mp3:
        return ".mp3";
    default:
        return ".m4a";
    }
}

struct FfmpegEncoder::State {
    AVFormatContext* muxer = nullptr;
    AVCodecContext* encoder = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    Settings settings;
    std::size_t channels = 0;
    std::size_t frameSize = 0;
    std::vector<std::vector<float>> pending; // planar, less than one encoder frame
    std::size_t pendingFrames = 0;
    std::vector<unsigned> pictureSources; // the original's streams whose pictures are kept
    std::int64_t pts = 0;
    fs::path path;      // the file being written
    std::string record; // the provenance record, for close() to add to an MP4 file
    // The original's ID3v2 tag, FLAC metadata or MP4 metadata list as the copy carries it, frame
    // by frame, block by block or item by item, in place of what the muxer would write from
    // FFmpeg's tag names.
    std::optional<std::string> id3Tag;
    std::optional<std::vector<FlacBlocks::Block>> flacBlocks;
    std::optional<std::vector<std::string>> mp4Items;

    bool carriesTags() const { return id3Tag || flacBlocks || mp4Items; }
    bool writesMp4() const { return settings.muxer == std::string_view("ipod"); }

    ~State() {
        if (muxer)
            avio_closep(&muxer->pb);
        avformat_free_context(muxer);
        avcodec_free_context(&encoder);
        av_frame_free(&frame);
        av_packet_free(&packet);
    }

    void openEncoder(const FfmpegReader& original);
    void addStreams(const FfmpegReader& original);
    void encodePending();
    void sendFrame(const AVFrame* toSend);
};

void FfmpegEncoder::State::openEncoder(const FfmpegReader& original) {
    const AVCodec* codec = avcodec_find_encoder_by_name(settings.encoder);
    if (!codec)
        throw FfmpegError(std::string("this system's FFmpeg has no ") + settings.encoder +
                          " encoder");
    if (!(encoder = avcodec_alloc_context3(codec)) || !(frame = av_frame_alloc()) ||
        !(packet = av_packet_alloc()))
        throw std::bad_alloc();
    const AVCodecParameters& params = *original.demuxer().streams[original.streamIndex()]->codecpar;
    const AudioFileFormat& format = original.format();
    encoder->sample_rate = static_cast<int>(std::lround(format.sampleRate));
    encoder->time_base = {1, encoder->sample_rate};
    if (params.ch_layout.order == AV_CHANNEL_ORDER_NATIVE &&
        params.ch_layout.nb_channels == format.channelCount)
        ffmpegChecked(av_channel_layout_copy(&encoder->ch_layout, &params.ch_layout));
    else
        av_channel_layout_default(&encoder->ch_layout, format.channelCount);
    encoder->sample_fmt = settings.sampleFormat;
    if (settings.integerBits > 0)
        encoder->bits_per_raw_sample = settings.integerBits;
    if (settings.integerBits > 24)
        encoder->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
    if (settings.lameQuality >= 0) {
        encoder->flags |= AV_CODEC_FLAG_QSCALE;
        encoder->global_quality = settings.lameQuality * FF_QP2LAMBDA;
    } else if (settings.bitRate > 0) {
        encoder->bit_rate = settings.bitRate;
    }
    if (muxer->oformat->flags & AVFMT_GLOBALHEADER)
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    ffmpegChecked(avcodec_open2(encoder, codec, nullptr));
    channels = static_cast<std::size_t>(format.channelCount);
    // An encoder that takes frames of any size still gets them in chunks of a useful size.
    frameSize = encoder->frame_size > 0 ? static_cast<std::size_t>(encoder->frame_size) : 4096;
    pending.assign(channels, std::vector<float>(frameSize));
    frame->format = encoder->sample_fmt;
    frame->sample_rate = encoder->sample_rate;
    frame->nb_samples = static_cast<int>(frameSize);
    ffmpegChecked(av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout));
    ffmpegChecked(av_frame_get_buffer(frame, 0));
}

/// The audio stream, then the original's tags, chapters and pictures under FFmpeg's names, unless
/// the original's own are carried (an M4A's chapters still go through the muxer).
void FfmpegEncoder::State::addStreams(const FfmpegReader& original) {
    AVStream* audio = avformat_new_stream(muxer, nullptr);
    if (!audio)
        throw std::bad_alloc();
    ffmpegChecked(avcodec_parameters_from_context(audio->codecpar, encoder));
    audio->time_base = encoder->time_base;
    if (mp4Items)
        addFfmpegChapters(*muxer, original);
    else if (!carriesTags())
        pictureSources = addFfmpegTags(*muxer, original);
}

void FfmpegEncoder::State::sendFrame(const AVFrame* toSend) {
    ffmpegChecked(avcodec_send_frame(encoder, toSend));
    for (;;) {
        const int result = avcodec_receive_packet(encoder, packet);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return;
        ffmpegChecked(result);
        packet->stream_index = 0;
        av_packet_rescale_ts(packet, encoder->time_base, muxer->streams[0]->time_base);
        const int written = av_write_frame(muxer, packet);
        av_packet_unref(packet);
        ffmpegChecked(written);
    }
}

/// `count` samples of channel `c` in the frame's layout: planar, or interleaved in plane 0.
template <typename Sample, typename Convert>
void fillChannel(AVFrame& frame, std::size_t c, std::size_t channels, bool planar, const float* in,
                 std::size_t count, Convert convert) {
    auto* out = reinterpret_cast<Sample*>(frame.extended_data[planar ? c : 0]);
    const std::size_t step = planar ? 1 : channels;
    for (std::size_t i = 0, at = planar ? 0 : c; i < count; ++i, at += step)
        out[at] = convert(in[i]);
}

/// Sends the pending frames as one frame in the encoder's sample format.
void FfmpegEncoder::State::encodePending() {
    ffmpegChecked(av_frame_make_writable(frame)); // the encoder may still hold the last one
    frame->nb_samples = static_cast<int>(pendingFrames);
    const int bits = settings.integerBits;
    const bool planar = av_sample_fmt_is_planar(encoder->sample_fmt) != 0;
    for (std::size_t c = 0; c < channels; ++c) {
        const float* in = pending[c].data();
        switch (encoder->sample_fmt) {
        case AV_SAMPLE_FMT_FLTP:
            fillChannel<float>(*frame, c, channels, planar, in, pendingFrames,
                               [](float v) { return v; });
            break;
        case AV_SAMPLE_FMT_S16:
        case AV_SAMPLE_FMT_S16P:
            fillChannel<std::int16_t>(*frame, c, channels, planar, in, pendingFrames,
                                      ToInteger<std::int16_t>(bits));
            break;
        default:
            fillChannel<std::int32_t>(*frame, c, channels, planar, in, pendingFrames,
                                      ToInteger<std::int32_t>(bits));
        }
    }
    frame->pts = pts;
    pts += static_cast<std::int64_t>(pendingFrames);
    pendingFrames = 0;
    sendFrame(frame);
}

FfmpegEncoder::FfmpegEncoder(const FfmpegReader& original, DeliveryCodec codec,
                             const fs::path& path, const std::string& record)
    : m_state(std::make_unique<State>()) {
    State& s = *m_state;
    s.settings = settingsFor(codec, original);
    ffmpegChecked(
        avformat_alloc_output_context2(&s.muxer, nullptr, s.settings.muxer, path.c_str()));
    s.openEncoder(original);
    if (codec == DeliveryCodec::mp3)
        s.id3Tag = carriedId3Tag(original.path(), record);
    if (codec == DeliveryCodec::flac)
        s.flacBlocks = carriedFlacBlocks(original.path(), record, LIBAVFORMAT_IDENT);
    if (s.writesMp4())
        s.mp4Items = carriedMp4Items(original.path(), record);
    s.addStreams(original);
    // The MP4 muxer drops tags it doesn't know; close() adds the record to MP4 files itself.
    s.path = path;
    s.record = record;
    if (!record.empty() && !s.carriesTags())
        ffmpegChecked(av_dict_set(&s.muxer->metadata, provenanceTag.data(), record.c_str(), 0));
    if (s.flacBlocks) // room for close() to put them in
        s.muxer->metadata_header_padding = int(FlacBlocks::size(*s.flacBlocks)) + 8;
    // The temporary exists already; FFmpeg opens it again by name to write and seek in it.
    ffmpegChecked(avio_open(&s.muxer->pb, ("file:" + path.string()).c_str(), AVIO_FLAG_WRITE));
    AVDictionary* options = nullptr;
    if (s.id3Tag) { // the muxer's own positions, for its Xing header, count from the file's start
        avio_write(s.muxer->pb, reinterpret_cast<const unsigned char*>(s.id3Tag->data()),
                   int(s.id3Tag->size()));
        av_dict_set(&options, "id3v2_version", "0", 0); // none of the muxer's own
    } else if (codec == DeliveryCodec::mp3) { // ID3v2.3: what podcast apps read most widely
        av_dict_set(&options, "id3v2_version", "3", 0);
    }
    const int result = avformat_write_header(s.muxer, &options);
    av_dict_free(&options);
    ffmpegChecked(result);
    writeFfmpegPictures(*s.muxer, original, s.pictureSources, *s.packet);
}

FfmpegEncoder::~FfmpegEncoder() = default;

void FfmpegEncoder::write(const float* interleaved, std::size_t frames) {
    State& s = *m_state;
    for (std::size_t i = 0; i < frames;) {
        const std::size_t take = std::min(frames - i, s.frameSize - s.pendingFrames);
        for (std::size_t c = 0; c < s.channels; ++c)
            for (std::size_t k = 0; k < take; ++k)
                s.pending[c][s.pendingFrames + k] = interleaved[(i + k) * s.channels + c];
        s.pendingFrames += take;
        i += take;
        if (s.pendingFrames == s.frameSize)
            s.encodePending();
    }
}

void FfmpegEncoder::close() {
    State& s = *m_state;
    if (s.pendingFrames > 0) {
        // Every encoder used here takes a short last frame; pad only one that would not.
        if (!(s.encoder->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME)) {
            for (auto& channel : s.pending)
                std::fill(channel.begin() + std::ptrdiff_t(s.pendingFrames), channel.end(), 0.0f);
            s.pendingFrames = s.frameSize;
        }
        s.encodePending();
    }
    s.sendFrame(nullptr);
    ffmpegChecked(av_write_trailer(s.muxer));
    ffmpegChecked(avio_closep(&s.muxer->pb));
    // Carried FLAC metadata, and an MP4's items, which its muxer writes only when it knows them,
    // go in now.
    const bool addsRecord = s.writesMp4() && !s.record.empty();
    if (!s.flacBlocks && !s.mp4Items && !addsRecord)
        return;
    const OpenFile file(s.path, O_RDWR);
    if (file.descriptor() < 0)
        throw FfmpegError(std::generic_category().message(errno));
    if (s.flacBlocks && !FlacBlocks::replaceAfterStreamInfo(file.descriptor(), *s.flacBlocks))
        throw FfmpegError("the original’s tags didn’t fit where the encoder left room");
    if (s.mp4Items)
        Mp4Items::replace(file.descriptor(), *s.mp4Items);
    else if (addsRecord)
        Mp4Items::append(file.descriptor(), Mp4Items::freeform(provenanceTag, s.record));
}

const std::string& FfmpegEncoder::description() const {
    return m_state->settings.description;
}

int FfmpegEncoder::integerBits() const {
    return m_state->settings.integerBits;
}

} // namespace tavrin

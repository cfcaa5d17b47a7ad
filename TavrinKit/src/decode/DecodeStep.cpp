#include "decode/DecodeStep.h"

#include "decode/FfmpegCodecs.h"
#include "decode/FfmpegReader.h"
#include "decode/SampleStore.h"

#include <cstring>
#include <new>

namespace tavrin {
namespace {

bool sameFrame(const AVFrame& a, const AVFrame& b) {
    if (a.nb_samples != b.nb_samples || a.format != b.format || a.sample_rate != b.sample_rate ||
        av_channel_layout_compare(&a.ch_layout, &b.ch_layout) != 0)
        return false;
    const int channels = a.ch_layout.nb_channels;
    const bool planar = av_sample_fmt_is_planar(AVSampleFormat(a.format));
    const int bytes =
        av_get_bytes_per_sample(AVSampleFormat(a.format)) * a.nb_samples * (planar ? 1 : channels);
    for (int p = 0; p < (planar ? channels : 1); ++p)
        if (std::memcmp(a.extended_data[p], b.extended_data[p], std::size_t(bytes)) != 0)
            return false;
    return true;
}

} // namespace

void fail(int code) {
    throw FfmpegError(ffmpegErrorText(code));
}

DecoderPtr openDecoder(const AVCodecParameters& params, AVRational timebase,
                       const std::function<void(AVCodecContext&)>& prepare) {
    const AVCodec* codec = avcodec_find_decoder(params.codec_id);
    if (!codec)
        throw FfmpegError("No decoder for this kind of audio");
    DecoderPtr decoder(avcodec_alloc_context3(codec));
    if (!decoder)
        throw std::bad_alloc();
    int r = avcodec_parameters_to_context(decoder.get(), &params);
    if (r < 0)
        fail(r);
    decoder->pkt_timebase = timebase;
    if (prepare)
        prepare(*decoder);
    if ((r = avcodec_open2(decoder.get(), codec, nullptr)) < 0)
        fail(r);
    return decoder;
}

DecodeStep decodePacket(AVCodecContext& decoder, const AVPacket* packet,
                        std::vector<FramePtr>& spares, SampleStore& store) {
    DecodeStep step;
    step.kind = packet ? DecodeStep::Kind::packet : DecodeStep::Kind::drain;
    if (packet) {
        step.pts = packet->pts;
        step.duration = packet->duration;
    }
    const int sent = avcodec_send_packet(&decoder, packet);
    if (packet) {
        step.result = sent;
        if (sent < 0 && sent != AVERROR_INVALIDDATA)
            return step;
    }
    for (;;) {
        if (spares.empty())
            spares.emplace_back(av_frame_alloc());
        if (!spares.back())
            throw std::bad_alloc();
        const int r = store.receive(decoder, *spares.back());
        if (r == 0) {
            step.received.push_back({std::move(spares.back()), 0});
            spares.pop_back();
            continue;
        }
        if (r == AVERROR(EAGAIN)) {
            if (!packet) // a drained decoder has nothing more to wait for
                step.received.push_back({nullptr, AVERROR_BUG});
            return step;
        }
        step.received.push_back({nullptr, r});
        if (r != AVERROR_INVALIDDATA)
            return step;
    }
}

bool sameStep(const DecodeStep& a, const DecodeStep& b) {
    if (a.kind != b.kind || a.result != b.result || a.received.size() != b.received.size())
        return false;
    for (std::size_t i = 0; i < a.received.size(); ++i) {
        const auto &x = a.received[i], &y = b.received[i];
        if (x.error != y.error || bool(x.frame) != bool(y.frame) ||
            (x.frame && !sameFrame(*x.frame, *y.frame)))
            return false;
    }
    return true;
}

} // namespace tavrin

#pragma once

// Private to the decode group: what one decoder gives for one packet, and the FFmpeg objects it
// takes, owned.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <functional>
#include <memory>
#include <vector>

namespace tavrin {

struct FrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;

struct DecoderFree {
    void operator()(AVCodecContext* decoder) const { avcodec_free_context(&decoder); }
};
using DecoderPtr = std::unique_ptr<AVCodecContext, DecoderFree>;

struct ParamsFree {
    void operator()(AVCodecParameters* params) const { avcodec_parameters_free(&params); }
};

struct PacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;

/// Opens a decoder for the stream, as every decoder of a file is opened, calling `prepare` (when
/// given) just before. Throws FfmpegError.
DecoderPtr openDecoder(const AVCodecParameters& params, AVRational timebase,
                       const std::function<void(AVCodecContext&)>& prepare = {});

/// What the decoder gave for one packet of the stream, as a loop that sends a packet and then
/// receives until the decoder asks for the next one meets it.
struct DecodeStep {
    enum class Kind { packet, drain, readError };
    Kind kind = Kind::packet;
    std::int64_t pts = AV_NOPTS_VALUE; ///< of the packet
    std::int64_t duration = 0;         ///< of the packet
    /// The send's result for a packet; av_read_frame's error for a read error.
    int result = 0;
    /// A frame, or an error: AVERROR_INVALIDDATA (decoding goes on), AVERROR_EOF after the drain,
    /// or any other error, which ends decoding.
    struct Received {
        FramePtr frame;
        int error = 0;
    };
    std::vector<Received> received;
};

/// Throws the FfmpegError for FFmpeg's error `code`.
[[noreturn]] void fail(int code);

class SampleStore;

/// Sends `packet` (null: the end of the stream) and receives until the decoder wants more, into
/// frames from `spares` or new ones, their samples in `store`.
DecodeStep decodePacket(AVCodecContext& decoder, const AVPacket* packet,
                        std::vector<FramePtr>& spares, SampleStore& store);
/// Whether two steps gave the same: results, errors, and frames to the bit.
bool sameStep(const DecodeStep& a, const DecodeStep& b);

} // namespace tavrin

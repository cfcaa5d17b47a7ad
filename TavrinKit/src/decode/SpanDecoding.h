#pragma once

// Private to the decode group: one compressed stream decoded on several threads at once, a span
// of packets on each, handed out in stream order exactly as one decoder gives it.

#include "decode/DecodeStep.h"
#include "decode/SampleStore.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tavrin {

class SpanPackets;

/// Decodes the stream a span of packets per thread. A span's decoder starts a few packets early,
/// and its output for those packets is checked against the span before it: where they differ,
/// the span is decoded again by the decoder that decoded the span before, so that every step is
/// what one decoder would give. Codecs whose spans can't start exactly are decoded by one decoder,
/// a span at a time, ahead of the span handed out. Packets are read on the calling thread, which
/// decodes too while it waits. Decoded spans waiting to be handed out are bounded, and so is the
/// memory.
class SpanDecoding {
public:
    /// Decodes `streamIndex` of `demuxer`, whose packets it reads from where the demuxer stands,
    /// in spans of about `spanSeconds`, with `helpers` threads besides the caller's.
    /// `framesPerTick` turns packet durations into frames. Throws FfmpegError.
    SpanDecoding(AVFormatContext& demuxer, int streamIndex, double framesPerTick, int helpers,
                 double spanSeconds);
    /// Stops the helpers, after the span each is decoding.
    ~SpanDecoding();
    SpanDecoding(const SpanDecoding&) = delete;
    SpanDecoding& operator=(const SpanDecoding&) = delete;

    /// Whether spans of the codec decode exactly as one decoder does: its decoder's state is only
    /// what its last packets leave. Not AAC, whose noise substitution draws on a random sequence
    /// that runs through the whole stream, nor Opus or AC-3, for the same reason.
    static bool decodesExactly(AVCodecID codec);

    /// The next step in stream order, valid until the next call: its frames may be unreferenced,
    /// never freed. The stream ends with a drain step or a read error; nothing may be asked after
    /// either.
    DecodeStep& next();

private:
    struct Room;
    struct Span;
    DecoderPtr newDecoder();
    void readSpans();
    std::unique_ptr<Span> readSpan();
    void advance();
    void keepTail(const std::vector<DecodeStep>& steps);
    /// Room for a span's frames: one a span handed out let go of, or a new one.
    std::unique_ptr<Room> spareRoom();
    /// Keeps the room of a span handed out for a span further on.
    void release(std::unique_ptr<Span> span);
    /// Lets go of the span's steps, keeping their frames in its room to decode into again.
    static void empty(Span& span);
    /// Keeps the frames of `steps` in `room`, to decode into, and empties `steps`.
    static void recycle(Room& room, std::vector<DecodeStep>& steps);
    static void takeFrames(DecodeStep& step, std::vector<FramePtr>& into);
    void waitForFront(std::unique_lock<std::mutex>& lock);
    void claimAndDecode(std::unique_lock<std::mutex>& lock, Span& span, bool onPrevious);
    /// Decodes `span` with a decoder as a fresh one starts, its early packets first.
    void decodeAhead(Span& span);
    /// Decodes `span` with the decoder that decoded the one before.
    void decodeOn(Span& span);
    static void decodeSpan(Span& span, AVCodecContext& decoder);
    Span* unclaimed() const;
    void serve();

    AVFormatContext& m_demuxer;
    int m_streamIndex;
    std::unique_ptr<AVCodecParameters, ParamsFree> m_params;
    AVRational m_timebase;
    /// Spans are decoded one after another by one decoder, on whichever thread is free, while
    /// the span before is handed out: the codec's spans can't start exactly.
    bool m_inOrder;
    double m_framesPerTick;
    double m_spanFrames = 0;
    std::size_t m_window = 2;
    std::int64_t m_packetsRead = 0;
    bool m_ended = false;                  ///< the last span has been read
    PacketPtr m_read;                      ///< the packet being read
    std::unique_ptr<SpanPackets> m_recent; ///< the packets last read, for the next span's start
    DecoderPtr m_decoder;                  ///< has decoded every span handed out
    std::vector<DecodeStep> m_tail;        ///< the last steps handed out, to check the next span by
    std::unique_ptr<Span> m_current;       ///< the span being handed out
    std::size_t m_stepIndex = 0;

    std::mutex m_mutex;
    int m_mismatches = 0;                    ///< spans decoded again; changed under m_mutex
    std::vector<DecoderPtr> m_spareDecoders; ///< no longer needed, to decode further spans with
    std::vector<std::unique_ptr<Room>> m_spareRooms; ///< of spans handed out, to decode into
    std::condition_variable m_changed;
    std::deque<std::unique_ptr<Span>> m_spans; ///< read, in stream order
    bool m_stopping = false;
    std::vector<std::thread> m_helpers;
};

} // namespace tavrin

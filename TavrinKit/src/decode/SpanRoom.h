#pragma once

// Private to SpanDecoding: a span on its way through, and what it is decoded into.

#include "decode/DecodeStep.h"
#include "decode/SampleStore.h"
#include "decode/SpanDecoding.h"
#include "decode/SpanPackets.h"
#include "decode/SpanWork.h"

#include <exception>
#include <memory>
#include <vector>

namespace tavrin {

/// The early packets whose output is checked against the span before.
inline constexpr std::size_t checkedSteps = 2;

/// What a span's packets are read into and its frames decoded into, kept from span to span:
/// allocating on one thread and freeing on another costs more than decoding.
struct SpanDecoding::Room {
    /// The span's early packets, which bring a fresh decoder to where one that decoded the stream
    /// from its start would be, then its own.
    SpanPackets packets;
    SampleStore store;              ///< the samples of the frames
    std::vector<FramePtr> frames;   ///< let go of, to decode into
    std::vector<DecodeStep> warmup; ///< the steps of the last early packets
    std::vector<DecodeStep> steps;
    // The span's samples for the worker, with the frames before it.
    std::vector<const AVFrame*> frameList;
    std::vector<std::size_t> frameEnds;
    std::vector<std::vector<double>> before;
    std::vector<const double*> beforePointers;
    SpanSamples samples;
    std::unique_ptr<SpanWork> work;
};

struct SpanDecoding::Span {
    enum class State { read, decoding, decoded };
    std::size_t early = 0;       ///< the room's first packets, before the span's own
    bool earlyFromStart = false; ///< the early packets start at the stream's first
    bool drains = false;         ///< the stream ends after it
    int readError = 0;           ///< reading the stream failed after it
    State state = State::read;
    std::unique_ptr<Room> room; ///< its packets, and what decoding them gave
    DecoderPtr decoder;         ///< the fresh decoder that decoded it
    bool onPrevious = false;    ///< decoded by the decoder of the span before
    bool checked = false;       ///< known to be what one decoder gives
    std::exception_ptr error;
};

} // namespace tavrin

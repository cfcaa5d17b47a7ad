#include "decode/SpanDecoding.h"

#include "decode/FfmpegReader.h"
#include "decode/SpanPackets.h"

#include <algorithm>
#include <new>

namespace tavrin {
namespace {

/// However short its packets, a span ends after this many.
constexpr std::size_t mostPacketsPerSpan = 2048;
/// The early packets a span's decoder starts with: enough to fill MP3's bit reservoir (511 bytes
/// at most) and every codec's overlap many times over, however small the packets.
constexpr double earlySeconds = 0.2;
constexpr std::int64_t earlyBytes = 2048;
constexpr std::size_t fewestEarlyPackets = 3;
constexpr std::size_t mostEarlyPackets = 64;
/// The early packets whose output is checked against the span before.
constexpr std::size_t checkedSteps = 2;
/// After this many spans that had to be decoded again, the rest are decoded one after another.
constexpr int mostMismatches = 2;

} // namespace

bool SpanDecoding::decodesExactly(AVCodecID codec) {
    return codec == AV_CODEC_ID_MP3 || codec == AV_CODEC_ID_MP2 || codec == AV_CODEC_ID_FLAC ||
           codec == AV_CODEC_ID_ALAC || codec == AV_CODEC_ID_VORBIS;
}

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
    std::exception_ptr error;
};

SpanDecoding::SpanDecoding(AVFormatContext& demuxer, int streamIndex, double framesPerTick,
                           int helpers, double spanSeconds)
    : m_demuxer(demuxer), m_streamIndex(streamIndex), m_params(avcodec_parameters_alloc()),
      m_timebase(demuxer.streams[streamIndex]->time_base),
      m_inOrder(!decodesExactly(demuxer.streams[streamIndex]->codecpar->codec_id)),
      m_framesPerTick(framesPerTick), m_read(av_packet_alloc()),
      m_recent(std::make_unique<SpanPackets>()) {
    // A copy, for the helpers: reading packets may change the stream's own.
    if (!m_params || !m_read)
        throw std::bad_alloc();
    if (const int r =
            avcodec_parameters_copy(m_params.get(), demuxer.streams[streamIndex]->codecpar);
        r < 0)
        fail(r);
    m_spanFrames = spanSeconds * m_params->sample_rate;
    // Decoded spans waiting to be handed out hold some 50 MB at most, as 32-bit samples.
    const double spanBytes = m_spanFrames * std::max(m_params->ch_layout.nb_channels, 1) * 4;
    // One decoder in stream order needs one helper at most.
    if (m_inOrder)
        helpers = std::min(helpers, 1);
    m_window = std::size_t(std::clamp(std::min(helpers + 2, int(50e6 / spanBytes)), 2, 8));
    m_decoder = newDecoder();
    for (int i = 0; i < helpers; ++i)
        m_helpers.emplace_back([this] { serve(); });
}

SpanDecoding::~SpanDecoding() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    for (auto& helper : m_helpers)
        helper.join();
}

DecodeStep& SpanDecoding::next() {
    while (!m_current || m_stepIndex == m_current->room->steps.size())
        advance();
    return m_current->room->steps[m_stepIndex++];
}

/// Reads spans until the window is full or the stream has ended.
void SpanDecoding::readSpans() {
    for (;;) {
        {
            const std::lock_guard lock(m_mutex);
            if (m_ended || m_spans.size() >= m_window)
                return;
        }
        std::unique_ptr<Span> span = readSpan();
        {
            const std::lock_guard lock(m_mutex);
            m_spans.push_back(std::move(span));
        }
        m_changed.notify_all();
    }
}

std::unique_ptr<SpanDecoding::Span> SpanDecoding::readSpan() {
    auto span = std::make_unique<Span>();
    span->room = spareRoom();
    SpanPackets& packets = span->room->packets;
    // The early packets: at least a few, of 2 KB, and a fifth of a second when their durations say
    // so.
    const SpanPackets& recent = *m_recent;
    std::size_t early = 0;
    double earlyFrames = 0;
    std::int64_t bytes = 0;
    while (!m_inOrder && early < recent.size() &&
           (early < fewestEarlyPackets || bytes < earlyBytes ||
            earlyFrames < earlySeconds * m_params->sample_rate)) {
        ++early;
        earlyFrames += double(recent.duration(recent.size() - early)) * m_framesPerTick;
        bytes += recent.bytes(recent.size() - early);
    }
    span->early = early;
    span->earlyFromStart = std::int64_t(early) == m_packetsRead;
    packets.addFrom(recent, recent.size() - early);

    double frames = 0;
    while (frames < m_spanFrames && packets.size() - early < mostPacketsPerSpan) {
        const int r = av_read_frame(&m_demuxer, m_read.get());
        if (r < 0) {
            if (r == AVERROR_EOF)
                span->drains = true;
            else
                span->readError = r;
            m_ended = true;
            break;
        }
        if (m_read->stream_index == m_streamIndex) {
            frames += std::max(double(m_read->duration) * m_framesPerTick, 1.0);
            ++m_packetsRead;
            packets.add(*m_read);
        }
        av_packet_unref(m_read.get());
    }
    // The packets the next span may start with.
    if (!m_inOrder) {
        m_recent->clear();
        m_recent->addFrom(packets, packets.size() - std::min(packets.size(), mostEarlyPackets));
    }
    return span;
}

/// Hands out the next span: checked, and decoded again where its start differs.
void SpanDecoding::advance() {
    if (m_current)
        release(std::move(m_current));
    readSpans();
    std::unique_ptr<Span> span;
    {
        std::unique_lock lock(m_mutex);
        if (m_spans.empty()) // asked past the end of the stream
            fail(AVERROR_BUG);
        waitForFront(lock);
        span = std::move(m_spans.front());
        m_spans.pop_front();
    }
    readSpans();
    if (span->error)
        std::rethrow_exception(span->error);
    if (!span->onPrevious) {
        const std::vector<DecodeStep>& warmup = span->room->warmup;
        const bool matches = span->earlyFromStart ||
                             (warmup.size() == m_tail.size() &&
                              std::equal(warmup.begin(), warmup.end(), m_tail.begin(), sameStep));
        if (matches)
            std::swap(m_decoder, span->decoder); // goes on from the span's decoder
        {
            const std::lock_guard lock(m_mutex);
            m_spareDecoders.push_back(std::move(span->decoder));
            m_mismatches += matches ? 0 : 1;
        }
        if (!matches) {
            empty(*span);
            decodeOn(*span);
        }
    }
    recycle(*span->room, span->room->warmup);
    if (!m_inOrder)
        keepTail(span->room->steps);
    m_current = std::move(span);
    m_stepIndex = 0;
}

std::unique_ptr<SpanDecoding::Room> SpanDecoding::spareRoom() {
    {
        const std::lock_guard lock(m_mutex);
        if (!m_spareRooms.empty()) {
            std::unique_ptr<Room> room = std::move(m_spareRooms.back());
            m_spareRooms.pop_back();
            return room;
        }
    }
    return std::make_unique<Room>();
}

void SpanDecoding::release(std::unique_ptr<Span> span) {
    empty(*span);
    span->room->packets.clear();
    const std::lock_guard lock(m_mutex);
    m_spareRooms.push_back(std::move(span->room));
}

void SpanDecoding::empty(Span& span) {
    recycle(*span.room, span.room->warmup);
    recycle(*span.room, span.room->steps);
    span.room->store.clear();
}

void SpanDecoding::recycle(Room& room, std::vector<DecodeStep>& steps) {
    for (DecodeStep& step : steps)
        takeFrames(step, room.frames);
    steps.clear();
}

void SpanDecoding::takeFrames(DecodeStep& step, std::vector<FramePtr>& into) {
    for (auto& got : step.received)
        if (got.frame) {
            av_frame_unref(got.frame.get());
            into.push_back(std::move(got.frame));
        }
}

/// Keeps the last steps of a span about to be handed out, to check the next span's early steps
/// by: whoever takes the steps may let go of their frames.
void SpanDecoding::keepTail(const std::vector<DecodeStep>& steps) {
    const std::size_t keep = std::min(steps.size(), checkedSteps);
    for (auto step = steps.end() - std::ptrdiff_t(keep); step != steps.end(); ++step) {
        DecodeStep copy{step->kind, step->pts, step->duration, step->result, {}};
        for (const auto& got : step->received) {
            FramePtr frame(got.frame ? av_frame_clone(got.frame.get()) : nullptr);
            if (got.frame && !frame)
                throw std::bad_alloc();
            copy.received.push_back({std::move(frame), got.error});
        }
        m_tail.push_back(std::move(copy));
    }
    m_tail.erase(m_tail.begin(),
                 m_tail.end() - std::ptrdiff_t(std::min(m_tail.size(), checkedSteps)));
}

/// Waits until the first span is decoded, decoding it on this thread when no helper has taken
/// it, and others further on while a helper has.
void SpanDecoding::waitForFront(std::unique_lock<std::mutex>& lock) {
    for (;;) {
        Span& front = *m_spans.front();
        if (front.state == Span::State::decoded)
            return;
        if (front.state == Span::State::read) {
            claimAndDecode(lock, front, true);
            return;
        }
        if (Span* ahead = unclaimed())
            claimAndDecode(lock, *ahead, m_inOrder);
        else
            m_changed.wait(lock);
    }
}

/// Decodes `span` outside the lock, as the thread that claimed it, keeping what it throws for
/// whoever hands it out.
void SpanDecoding::claimAndDecode(std::unique_lock<std::mutex>& lock, Span& span, bool onPrevious) {
    span.state = Span::State::decoding;
    lock.unlock();
    try {
        onPrevious ? decodeOn(span) : decodeAhead(span);
    } catch (...) {
        span.error = std::current_exception();
    }
    lock.lock();
    span.state = Span::State::decoded;
    m_changed.notify_all();
}

/// A decoder as a fresh one starts: one no longer needed, flushed, or a new one.
DecoderPtr SpanDecoding::newDecoder() {
    {
        const std::lock_guard lock(m_mutex);
        if (!m_spareDecoders.empty()) {
            DecoderPtr decoder = std::move(m_spareDecoders.back());
            m_spareDecoders.pop_back();
            avcodec_flush_buffers(decoder.get());
            return decoder;
        }
    }
    return openDecoder(*m_params, m_timebase);
}

/// The span a free thread may decode: further on, while spans are still decoded ahead; the next
/// in order, when they are decoded in order.
SpanDecoding::Span* SpanDecoding::unclaimed() const {
    if (m_inOrder) { // the first span not decoded, once none is being decoded
        for (const auto& span : m_spans)
            if (span->state != Span::State::decoded)
                return span->state == Span::State::read ? span.get() : nullptr;
        return nullptr;
    }
    if (m_mismatches >= mostMismatches)
        return nullptr;
    const auto span =
        std::ranges::find_if(m_spans, [](const auto& s) { return s->state == Span::State::read; });
    return span == m_spans.end() ? nullptr : span->get();
}

void SpanDecoding::decodeAhead(Span& span) {
    span.decoder = newDecoder();
    Room& room = *span.room;
    for (std::size_t i = 0; i < span.early; ++i) {
        DecodeStep step = decodePacket(*span.decoder, room.packets[i], room.frames, room.store);
        if (span.early - i <= checkedSteps)
            room.warmup.push_back(std::move(step));
        else
            takeFrames(step, room.frames);
    }
    decodeSpan(span, *span.decoder);
}

void SpanDecoding::decodeOn(Span& span) {
    span.onPrevious = true;
    decodeSpan(span, *m_decoder);
}

void SpanDecoding::decodeSpan(Span& span, AVCodecContext& decoder) {
    Room& room = *span.room;
    for (std::size_t i = span.early; i < room.packets.size(); ++i)
        room.steps.push_back(decodePacket(decoder, room.packets[i], room.frames, room.store));
    if (span.drains)
        room.steps.push_back(decodePacket(decoder, nullptr, room.frames, room.store));
    if (span.readError)
        room.steps.push_back({DecodeStep::Kind::readError, AV_NOPTS_VALUE, 0, span.readError, {}});
}

/// A helper: decodes spans further on than the one being handed out.
void SpanDecoding::serve() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        Span* ahead = nullptr;
        m_changed.wait(lock, [&] { return m_stopping || (ahead = unclaimed()); });
        if (m_stopping)
            return;
        claimAndDecode(lock, *ahead, m_inOrder);
    }
}

} // namespace tavrin

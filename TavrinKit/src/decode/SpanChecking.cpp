#include "decode/FrameDoubles.h"
#include "decode/SpanRoom.h"

#include <algorithm>

namespace tavrin {
namespace {

/// A span whose packets' durations lied, giving more frames than this many spans' worth, is left
/// to the reader's caller.
constexpr double mostSpansOfFrames = 4;

} // namespace

/// Waits for the spans before `span` to be checked, checks it and places it, then has the worker
/// work on it, on this thread.
void SpanDecoding::finish(std::unique_lock<std::mutex>& lock, Span& span) {
    m_changed.wait(lock, [&] { return m_stopping || checkedUpTo(span); });
    if (m_stopping)
        return;
    lock.unlock();
    bool placed = false;
    try {
        check(span);
        placed = place(span);
    } catch (...) { // out of memory: whoever hands the span out throws it
        span.error = std::current_exception();
        m_broken = true;
    }
    lock.lock();
    span.checked = true;
    m_changed.notify_all();
    if (placed) {
        lock.unlock();
        work(span);
        lock.lock();
    }
}

/// Whether every span before `span` is checked.
bool SpanDecoding::checkedUpTo(const Span& span) const {
    for (const auto& before : m_spans) {
        if (before.get() == &span)
            return true;
        if (!before->checked)
            return false;
    }
    return true;
}

/// Checks the early steps of a span decoded ahead against the last steps checked, decoding it
/// again with the decoder that decoded those where they differ.
void SpanDecoding::check(Span& span) {
    Room& room = *span.room;
    if (!span.onPrevious && !m_broken) {
        const std::vector<DecodeStep>& warmup = room.warmup;
        const bool matches =
            !span.error && (span.earlyFromStart ||
                            (warmup.size() == m_tail.size() &&
                             std::equal(warmup.begin(), warmup.end(), m_tail.begin(), sameStep)));
        if (matches)
            std::swap(m_decoder, span.decoder); // goes on from the span's decoder
        {
            const std::lock_guard lock(m_mutex);
            m_spareDecoders.push_back(std::move(span.decoder));
            m_mismatches += matches ? 0 : 1;
        }
        if (!matches) {
            empty(span);
            span.error = nullptr;
            try {
                decodeOn(span);
            } catch (...) {
                span.error = std::current_exception();
            }
        }
    }
    recycle(room, room.warmup);
    m_broken = m_broken || span.error;
    if (!m_inOrder && !m_broken)
        keepTail(room.steps);
}

bool SpanDecoding::place(Span& span) {
    m_placing = m_placing && m_worker && !m_broken;
    if (!m_placing)
        return false;
    Room& room = *span.room;
    room.frameList.clear();
    room.frameEnds.clear();
    std::size_t frames = 0;
    for (const DecodeStep& step : room.steps)
        for (const auto& got : step.received)
            if (const AVFrame* frame = got.frame.get()) {
                m_placing = m_placing && frame->sample_rate == int(m_sampleRate) &&
                            std::size_t(frame->ch_layout.nb_channels) == m_channels &&
                            convertsStraight(*frame, m_channels);
                room.frameList.push_back(frame);
                room.frameEnds.push_back(frames += std::size_t(frame->nb_samples));
            }
    if (!m_placing || frames == 0)
        return false;
    // The frames before the span, those the spans checked before it left.
    const std::size_t most = m_before.empty() ? 0 : m_before[0].size();
    room.before.resize(m_channels);
    room.beforePointers.resize(m_channels);
    for (std::size_t c = 0; c < m_channels; ++c) {
        room.before[c].assign(m_before[c].end() - std::ptrdiff_t(m_beforeFrames),
                              m_before[c].end());
        room.beforePointers[c] = room.before[c].data();
    }
    SpanSamples& samples = room.samples;
    samples.start = m_placed;
    samples.frames = frames;
    samples.before = room.beforePointers.data();
    samples.beforeFrames = m_beforeFrames;
    samples.last = span.drains;
    samples.m_frames = room.frameList.data();
    samples.m_ends = room.frameEnds.data();
    samples.m_frameCount = room.frameList.size();
    samples.m_channels = m_channels;
    m_placed += std::int64_t(frames);
    // Those the next span has before it: the span's last, after the last of those before it.
    const std::size_t own = std::min(most, frames);
    const std::size_t kept = std::min(m_beforeFrames, most - own);
    std::vector<double*> to;
    for (auto& channel : m_before) {
        std::copy(channel.end() - std::ptrdiff_t(kept), channel.end(),
                  channel.end() - std::ptrdiff_t(kept + own));
        to.push_back(channel.data() + most - own);
    }
    m_beforeFrames = kept + own;
    try {
        samples.read(frames - own, own, to.data());
    } catch (...) { // samples that aren't numbers: the reader's caller meets them
        m_placing = false;
        return false;
    }
    return true;
}

/// Hands the span's samples to the worker, on the thread that decoded them. Whatever goes wrong
/// there leaves the span to the reader's caller.
void SpanDecoding::work(Span& span) {
    Room& room = *span.room;
    try {
        room.work = m_worker->work(room.samples);
    } catch (...) {
        room.work = nullptr;
    }
}
/// Keeps the last steps of a span just checked, to check the next span's early steps by: whoever
/// takes the steps may let go of their frames.
void SpanDecoding::keepTail(const std::vector<DecodeStep>& steps) {
    const std::size_t keep = std::min(steps.size(), checkedSteps);
    for (auto step = steps.end() - std::ptrdiff_t(keep); step != steps.end(); ++step) {
        DecodeStep copy{step->kind, step->pts, step->duration, step->result, step->beginsSpan, {}};
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

} // namespace tavrin

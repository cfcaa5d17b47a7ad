#include "meter/ChunkPipeline.h"

#include "core/ParallelTasks.h"
#include "decode/FfmpegReader.h"
#include "meter/IntegrityScan.h"
#include "tavrin/meter/AudioFileMeter.h"
#include "tavrin/meter/LoudnessMeter.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tavrin::ChunkPipeline {
namespace {

/// A segment on its way through: its chunks, where they lie, their samples after the frames that
/// settle the pass metering the first, and what the silence scan needs of each. Empty until a
/// thread takes a segment into it, then metered by that thread, then committed and empty again.
struct Slot {
    enum State { empty, metering, metered };

    Slot(std::vector<std::size_t> meterPasses, std::size_t channelCount, std::size_t chunkFrames,
         std::size_t capacity)
        : passes(std::move(meterPasses)), stride(chunkFrames),
          samples(new double[channelCount * capacity]) {
        for (std::size_t c = 0; c < channelCount; ++c)
            starts[c] = samples.get() + c * capacity;
    }

    /// Chunk `k`'s samples, a pointer per channel (a plain PCM file has one or two).
    std::array<double*, 2> channels(std::size_t k) const {
        std::array<double*, 2> chunk{};
        for (std::size_t c = 0; c < chunk.size() && starts[c]; ++c)
            chunk[c] = starts[c] + before + k * stride;
        return chunk;
    }

    std::atomic<int> state{empty};
    std::vector<std::size_t> passes;          // the meter's, one per chunk
    std::vector<FfmpegReader::FileFrames> at; // the chunks taken
    std::vector<std::size_t> frames;          // read of each: fewer where the file ended sooner
    std::int64_t start = 0;                   // the first chunk's first frame in the stream
    std::size_t before = 0;                   // settling frames read before it
    std::size_t stride;                       // frames in a full chunk
    std::unique_ptr<double[]> samples;        // uninitialised: only what is read is touched
    std::array<double*, 2> starts{};          // per channel, where the settling frames start
    std::vector<std::uint8_t> bytes;          // the file's bytes, read on the thread metering
    std::vector<IntegrityScan::SilenceProbe> silence;
};

class Pipeline {
public:
    Pipeline(FfmpegReader& reader, LoudnessMeter& meter, IntegrityScan& integrity,
             std::size_t threads, const Commit& commit)
        : m_reader(reader), m_meter(meter), m_integrity(integrity), m_commit(commit),
          m_settling(static_cast<std::int64_t>(settlingFrames(meter, reader))) {
        const auto channels = static_cast<std::size_t>(reader.format().channelCount);
        const std::size_t chunk = reader.framesPerRead(AudioFileMeter::chunkFrames);
        const std::size_t capacity = std::size_t(m_settling) + segmentChunks * chunk;
        // Two slots a thread, which only it meters into, so that they stay in its processor's
        // cache: one metering, one waiting for the calling thread to commit it.
        for (std::size_t s = 0; s < 2 * threads; ++s) {
            std::vector<std::size_t> passes;
            for (std::size_t k = 0; k < segmentChunks; ++k)
                passes.push_back(s + k == 0 ? 0 : meter.addPass());
            m_slots.push_back(std::make_unique<Slot>(std::move(passes), channels, chunk, capacity));
        }
        m_order.resize(m_slots.size());
    }

    /// The share of the thread running task `task`; the calling thread's commits too.
    void work(std::size_t task) {
        // Once the calling thread has left, by an exception too, it may come back only for
        // another task, which finds nothing left to do.
        if (m_stop)
            return;
        if (std::this_thread::get_id() != m_caller)
            return help(task);
        // However this thread leaves, the helpers stop taking chunks.
        struct StopHelpers {
            std::atomic<bool>& stop;
            ~StopHelpers() { stop = true; }
        } stopHelpers{m_stop};
        for (;;) {
            commitMetered();
            if (m_helperFailed.load(std::memory_order_acquire))
                std::rethrow_exception(m_helperError);
            if (m_cut)
                return;
            if (Slot* slot = take(task))
                meter(*slot);
            else if (allCommitted())
                return;
            else
                std::this_thread::yield(); // a helper is metering the next chunk to commit
        }
    }

private:
    void help(std::size_t task) {
        try {
            while (!m_stop) {
                if (Slot* slot = take(task))
                    meter(*slot);
                else if (allTaken())
                    return;
                else
                    std::this_thread::yield(); // its slots wait to be committed
            }
        } catch (...) {
            m_helperError = std::current_exception();
            m_helperFailed.store(true, std::memory_order_release);
        }
    }

    /// The file's next segment in an empty slot of task `task`'s; none when neither is empty yet,
    /// or when the file is all taken.
    Slot* take(std::size_t task) {
        const std::lock_guard lock(m_taking);
        if (m_exhausted || m_order[m_taken % m_order.size()])
            return nullptr;
        const auto own = m_slots.begin() + std::ptrdiff_t(2 * task);
        const auto empty = std::find_if(own, own + 2, [](const auto& slot) {
            return slot->state.load(std::memory_order_acquire) == Slot::empty;
        });
        if (empty == own + 2)
            return nullptr;
        Slot& slot = **empty;
        slot.at.clear();
        for (std::size_t k = 0; k < segmentChunks; ++k)
            if (const auto at = m_reader.takeFrames(AudioFileMeter::chunkFrames); at.frames > 0)
                slot.at.push_back(at);
        if (slot.at.empty()) {
            m_exhausted = true;
            return nullptr;
        }
        slot.start = m_position;
        slot.before = static_cast<std::size_t>(std::min<std::int64_t>(m_position, m_settling));
        for (const auto& at : slot.at)
            m_position += static_cast<std::int64_t>(at.frames);
        m_order[m_taken++ % m_order.size()] = &slot;
        slot.state.store(Slot::metering, std::memory_order_relaxed);
        return &slot;
    }

    bool allTaken() {
        const std::lock_guard lock(m_taking);
        return m_exhausted;
    }

    bool allCommitted() {
        const std::lock_guard lock(m_taking);
        return m_exhausted && m_committed == m_taken;
    }

    /// Reads the slot's chunks one by one and runs every part of the meter on each, on this
    /// thread: the first chunk's pass started from its settling frames, each next one's going on
    /// from the pass before. Stops at a chunk the file no longer holds whole.
    void meter(Slot& slot) {
        slot.frames.assign(slot.at.size(), 0);
        slot.silence.resize(slot.at.size());
        std::int64_t at = slot.start;
        for (std::size_t k = 0; k < slot.at.size(); ++k) {
            const auto channels = slot.channels(k);
            if (k == 0) {
                slot.frames[0] =
                    m_reader.readDoublesAt(slot.at[0], slot.before, slot.starts.data(), slot.bytes);
                m_meter.startPass(slot.passes[0], at, slot.starts.data(), slot.before);
            } else {
                slot.frames[k] = m_reader.readDoublesAt(slot.at[k], 0, channels.data(), slot.bytes);
                m_meter.followPass(slot.passes[k], slot.passes[k - 1], at,
                                   slot.channels(k - 1).data(), slot.frames[k - 1]);
            }
            const std::size_t frames = slot.frames[k];
            for (std::size_t part = 0; part < m_meter.partCount() && frames > 0; ++part)
                m_meter.processPart(part, channels.data(), frames, slot.passes[k]);
            slot.silence[k] = m_integrity.probeSilence(channels.data(), frames, at);
            if (frames < slot.at[k].frames)
                break;
            at += static_cast<std::int64_t>(frames);
        }
        slot.state.store(Slot::metered, std::memory_order_release);
    }

    /// Commits the metered chunks that are next in order, on the calling thread.
    void commitMetered() {
        for (;;) {
            Slot* next = nullptr;
            {
                const std::lock_guard lock(m_taking);
                next = m_order[m_committed % m_order.size()];
            }
            if (!next || next->state.load(std::memory_order_acquire) != Slot::metered)
                return;
            Slot& slot = *next;
            std::int64_t end = slot.start;
            for (std::size_t k = 0; k < slot.at.size(); ++k) {
                const std::size_t frames = slot.frames[k];
                end += static_cast<std::int64_t>(frames);
                const bool cut = frames < slot.at[k].frames;
                if (frames > 0) {
                    // The samples of a chunk metered elsewhere are read here only where its probe
                    // finds a silence, or a gap runs into it.
                    const auto channels = slot.channels(k);
                    if (!m_integrity.scanSilence(slot.silence[k]))
                        m_integrity.scanSilence(channels.data(), frames);
                    m_commit(channels.data(), frames, slot.passes[k],
                             cut || end >= m_reader.length());
                }
                if (cut) { // the file got shorter while it was read: it ends here
                    const std::lock_guard lock(m_taking);
                    m_reader.endAt(end);
                    m_exhausted = m_cut = true;
                    return;
                }
            }
            {
                const std::lock_guard lock(m_taking);
                m_order[m_committed++ % m_order.size()] = nullptr;
            }
            slot.state.store(Slot::empty, std::memory_order_release);
        }
    }

    FfmpegReader& m_reader;
    LoudnessMeter& m_meter;
    IntegrityScan& m_integrity;
    const Commit& m_commit;
    const std::int64_t m_settling;
    const std::thread::id m_caller = std::this_thread::get_id();
    std::vector<std::unique_ptr<Slot>> m_slots;

    std::mutex m_taking;        // the reader's position, the chunks' order and their counts
    std::vector<Slot*> m_order; ///< the slots of the chunks taken and not committed, by chunk
    std::int64_t m_position = 0;
    std::size_t m_taken = 0;
    std::size_t m_committed = 0;
    bool m_exhausted = false;
    bool m_cut = false; ///< the file ended before the frames taken; the caller's thread's alone

    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_helperFailed{false};
    std::exception_ptr m_helperError;
};

} // namespace

bool takes(const FfmpegReader& reader) {
    // A file of a few chunks isn't worth the frames settling each.
    return reader.readsPcmFromFile() &&
           reader.length() >= std::int64_t(4 * reader.framesPerRead(AudioFileMeter::chunkFrames));
}

std::size_t settlingFrames(const LoudnessMeter& meter, const FfmpegReader& reader) {
    return std::min(meter.settlingFrames(), reader.framesPerRead(AudioFileMeter::chunkFrames));
}

void meter(FfmpegReader& reader, LoudnessMeter& meter, IntegrityScan& integrity,
           std::size_t threads, const Commit& commit) {
    // Each thread holds two segments, 6.5 MB of stereo: eight threads stay under 64 MB, and
    // beyond them the memory's pace, not the processors', bounds the meter's.
    threads = std::min<std::size_t>(threads, 8);
    Pipeline pipeline(reader, meter, integrity, threads, commit);
    auto task = [&pipeline](std::size_t i) { pipeline.work(i); };
    ParallelTasks::run(threads, task, true);
}

} // namespace tavrin::ChunkPipeline

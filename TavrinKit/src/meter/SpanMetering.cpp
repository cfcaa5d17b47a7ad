#include "meter/SpanMetering.h"

#include "tavrin/meter/LoudnessMeter.h"

#include <algorithm>
#include <cmath>

namespace tavrin {

SpanMetering::Span::~Span() {
    if (m_owner)
        m_owner->giveBack(m_group);
}

SpanMetering::SpanMetering(LoudnessMeter& meter, const IntegrityScan& integrity,
                           std::size_t chunkFrames, std::size_t settlingFrames, std::size_t spans,
                           double spanFrames)
    : m_meter(meter), m_integrity(integrity), m_chunk(chunkFrames), m_settling(settlingFrames) {
    const auto chunks = std::size_t(std::ceil(spanFrames / double(chunkFrames)));
    for (std::size_t g = 0; g < spans; ++g) {
        std::vector<std::size_t> passes;
        for (std::size_t k = 0; k < chunks; ++k)
            passes.push_back(meter.addPass());
        m_groups.push_back(std::move(passes));
        m_free.push_back(g);
    }
}

std::unique_ptr<SpanWork> SpanMetering::work(const SpanSamples& samples) {
    const std::size_t chunkCount = (samples.frames + m_chunk - 1) / m_chunk;
    const std::optional<std::size_t> group = takeGroup();
    if (!group)
        return nullptr;
    auto span = std::make_unique<Span>();
    span->m_owner = this;
    span->m_group = *group;
    span->samples = samples;
    if (chunkCount > m_groups[*group].size())
        return nullptr;
    // Per channel, the frames before a chunk, then the chunk.
    thread_local std::vector<double> buffer;
    const std::size_t channelCount = m_meter.channelCount();
    const std::size_t stride = m_settling + m_chunk;
    buffer.resize(std::max(buffer.size(), channelCount * stride));
    std::vector<double*> chunk(channelCount);
    std::vector<const double*> before(channelCount);
    for (std::size_t c = 0; c < channelCount; ++c) {
        chunk[c] = buffer.data() + c * stride + m_settling;
        std::copy_n(samples.before[c], samples.beforeFrames, chunk[c] - samples.beforeFrames);
    }
    for (std::size_t k = 0, at = 0; k < chunkCount; ++k, at += m_chunk) {
        Span::Chunk metered{at, std::min(m_chunk, samples.frames - at), m_groups[*group][k], {}};
        // A chunk follows a full one, which leaves the frames before it.
        const std::size_t beforeFrames = k == 0 ? samples.beforeFrames : m_settling;
        for (std::size_t c = 0; c < channelCount; ++c) {
            if (k > 0)
                std::copy_n(chunk[c] + m_chunk - m_settling, m_settling, chunk[c] - m_settling);
            before[c] = chunk[c] - beforeFrames;
        }
        samples.read(at, metered.frames, chunk.data());
        const auto first = samples.start + std::int64_t(at);
        if (k == 0)
            m_meter.startPass(metered.pass, first, before.data(), beforeFrames);
        else
            m_meter.followPass(metered.pass, span->chunks.back().pass, first, before.data(),
                               beforeFrames);
        for (std::size_t part = 0; part < m_meter.partCount(); ++part)
            m_meter.processPart(part, chunk.data(), metered.frames, metered.pass);
        metered.silence = m_integrity.probeSilence(chunk.data(), metered.frames, first);
        span->chunks.push_back(metered);
    }
    return span;
}

std::optional<std::size_t> SpanMetering::takeGroup() {
    const std::lock_guard lock(m_mutex);
    if (m_free.empty())
        return std::nullopt;
    const std::size_t group = m_free.back();
    m_free.pop_back();
    return group;
}

void SpanMetering::giveBack(std::size_t group) {
    const std::lock_guard lock(m_mutex);
    m_free.push_back(group);
}

} // namespace tavrin

#include "tavrin/decode/PlaybackStream.h"

#include "decode/FfmpegReader.h"
#include "tavrin/core/AudioFileError.h"

#include <algorithm>

namespace tavrin {

namespace {

constexpr float minus3dB = 0.70710678f;

/// A channel's side gains from its channel label.
std::array<float, 2> foldOfLabel(std::uint32_t label) {
    switch (label) {
    case 1:  // left
    case 7:  // left centre
    case 38: // left total
        return {1, 0};
    case 2:  // right
    case 8:  // right centre
    case 39: // right total
        return {0, 1};
    case 5:  // left surround
    case 10: // left surround direct
    case 33: // rear surround left
    case 35: // left wide
        return {minus3dB, 0};
    case 6:  // right surround
    case 11: // right surround direct
    case 34: // rear surround right
    case 36: // right wide
        return {0, minus3dB};
    case 4:  // low-frequency effects
    case 37: // second low-frequency effects
        return {0, 0};
    case 42: // mono
        return {1, 1};
    default: // centre, centre surround, heights and the rest, between the sides
        return {minus3dB, minus3dB};
    }
}

/// The labels a file without usable ones is taken to have, by its channel count.
std::vector<std::uint32_t> labelsByCount(int count) {
    switch (count) {
    case 1:
        return {42};
    case 2:
        return {1, 2};
    case 4:
        return {1, 2, 5, 6};
    case 5:
        return {1, 2, 3, 5, 6};
    case 6:
        return {1, 2, 3, 4, 5, 6};
    case 8:
        return {1, 2, 3, 4, 35, 36, 5, 6};
    default:
        return std::vector<std::uint32_t>(std::size_t(std::max(count, 0)), 0);
    }
}

} // namespace

std::vector<std::array<float, 2>> stereoFold(const AudioFileFormat& format) {
    std::vector<std::array<float, 2>> fold;
    for (std::uint32_t label :
         format.labelsNameChannels() ? format.channelLabels : labelsByCount(format.channelCount))
        fold.push_back(foldOfLabel(format.channelCount == 1 ? 42 : label));
    return fold;
}

PlaybackStream::PlaybackStream(const std::filesystem::path& path) {
    try {
        m_reader = std::make_unique<FfmpegReader>(path);
    } catch (const FfmpegError& e) {
        throw AudioFileError::cantOpenAsAudio(e.what());
    }
    if (!m_reader->hasAudio())
        throw AudioFileError::unreadable(std::string(AudioFileError::noAudioChannels));
    m_reader->decodeInSpans({}); // one decoder thread is all listening needs
    m_fold = stereoFold(m_reader->format());
}

PlaybackStream::~PlaybackStream() = default;

double PlaybackStream::sampleRate() const {
    return m_reader->format().sampleRate;
}

std::int64_t PlaybackStream::length() const {
    return m_reader->length();
}

std::int64_t PlaybackStream::position() const {
    return m_reader->framePosition();
}

std::int64_t PlaybackStream::seek(std::int64_t frame) {
    try {
        return m_reader->seek(frame);
    } catch (const FfmpegError& e) {
        throw AudioFileError::readingStopped(e.what());
    }
}

std::size_t PlaybackStream::read(float* out, std::size_t frames, float gain) {
    std::size_t got = 0;
    try {
        got = readChunk(*m_reader, frames);
    } catch (const FfmpegError& e) {
        throw AudioFileError::readingStopped(e.what());
    }
    std::fill_n(out, 2 * got, 0.0f);
    const auto channels = m_reader->channelData();
    for (std::size_t c = 0; c < channels.size(); ++c) {
        const float left = m_fold[c][0] * gain;
        const float right = m_fold[c][1] * gain;
        const float* in = channels[c];
        for (std::size_t i = 0; i < got; ++i) {
            out[2 * i] += in[i] * left;
            out[2 * i + 1] += in[i] * right;
        }
    }
    return got;
}

} // namespace tavrin

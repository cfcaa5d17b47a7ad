#include "decode/FfmpegReaderState.h"

namespace tavrin {

FfmpegReader::FfmpegReader(const std::filesystem::path& path) : m_state(std::make_unique<State>()) {
    m_state->path = path;
    m_state->open();
}

FfmpegReader::~FfmpegReader() = default;

const std::filesystem::path& FfmpegReader::path() const {
    return m_state->path;
}
const AudioFileFormat& FfmpegReader::format() const {
    return m_state->format;
}
const AVFormatContext& FfmpegReader::demuxer() const {
    return *m_state->demuxer;
}
int FfmpegReader::streamIndex() const {
    return m_state->streamIndex;
}
bool FfmpegReader::hasAudio() const {
    return hasChannelsAndRate(m_state->format);
}
std::int64_t FfmpegReader::length() const {
    return m_state->length;
}
std::int64_t FfmpegReader::framePosition() const {
    return m_state->position;
}
DecodingLoss FfmpegReader::loss() const {
    const State& s = *m_state;
    return s.losses.finish(s.declaredLength, s.framesDecoded, s.plausibleLength,
                           s.format.sampleRate);
}

std::vector<DecodingGap> FfmpegReader::gapsInside() const {
    // What the container declares, when it does, bounds the gaps better than estimated lengths.
    const State& s = *m_state;
    const std::int64_t length = std::min(s.declaredLength.value_or(INT64_MAX), s.plausibleLength);
    return s.losses.gapsInside(std::max(static_cast<double>(length - s.framesDecoded), 0.0));
}

bool FfmpegReader::formatGuessed() const {
    const std::string_view name = m_state->demuxer->iformat->name;
    return m_state->demuxer->probe_score < AVPROBE_SCORE_EXTENSION && name != "mp3" &&
           name != "aac";
}

bool FfmpegReader::decodedNothing() const {
    const State& s = *m_state;
    // Compressed audio whose frames the parser can't even find reaches the decoder as no packet.
    const bool nothingFound =
        s.decoder && s.pcm.sample == PcmSample::none && s.packetsSent == 0 && s.bytesPastHeader;
    const DecodingLoss lost = loss();
    return s.framesDecoded == 0 &&
           (s.damage != 0 || nothingFound || lost.seconds > 0 || lost.cutOffSeconds > 0);
}

std::size_t FfmpegReader::framesPerRead(std::size_t maxFrames) const {
    constexpr std::size_t samples = 1 << 20; // 4 MB of float samples across the channels
    return std::min(
        maxFrames,
        std::max<std::size_t>(samples / std::size_t(std::max(m_state->format.channelCount, 1)), 1));
}

void FfmpegReader::reserve(std::size_t maxFrames) {
    maxFrames = framesPerRead(maxFrames);
    m_state->channels.resize(std::size_t(std::max(m_state->format.channelCount, 0)));
    m_state->pointers.resize(m_state->channels.size());
    for (std::size_t c = 0; c < m_state->channels.size(); ++c) {
        if (m_state->channels[c].size() < maxFrames)
            m_state->channels[c].resize(maxFrames);
        m_state->pointers[c] = m_state->channels[c].data();
    }
}

std::size_t FfmpegReader::read(std::size_t maxFrames) {
    maxFrames = framesPerRead(maxFrames);
    reserve(maxFrames);
    return m_state->readFrames(maxFrames, nullptr);
}

void FfmpegReader::decodeInSpans(Spans spans) {
    m_state->spanChoice = spans;
}

bool FfmpegReader::decodesInSpans() const {
    return m_state->spans != nullptr;
}

std::span<const float* const> FfmpegReader::channelData() const {
    return m_state->pointers;
}

bool FfmpegReader::readsPcmFromFile() const {
    return m_state->readsPcmFromFile();
}

std::size_t FfmpegReader::readDoubles(std::size_t maxFrames, double* const* out) {
    maxFrames = framesPerRead(maxFrames);
    if (!readsPcmFromFile()) // plain PCM never goes through single precision
        reserve(maxFrames);
    return m_state->readFrames(maxFrames, out);
}

FfmpegReader::FileFrames FfmpegReader::takeFrames(std::size_t maxFrames) {
    TAVRIN_EXPECTS(readsPcmFromFile());
    State& s = *m_state;
    const FileFrames at{s.fileAt, std::min(framesPerRead(maxFrames), s.framesLeftInFile())};
    s.fileAt += std::int64_t(at.frames * s.frameBytes());
    s.position += std::int64_t(at.frames);
    s.framesDecoded += std::int64_t(at.frames);
    s.finished = at.frames == 0;
    return at;
}

std::size_t FfmpegReader::readDoublesAt(FileFrames at, std::size_t before, double* const* out,
                                        std::vector<std::uint8_t>& bytes) const {
    // Only what opening the file set is read here: takeFrames() may move the reader meanwhile.
    const State& s = *m_state;
    TAVRIN_EXPECTS(s.fileStart >= 0);
    const std::size_t channelCount = std::size_t(s.format.channelCount);
    const std::size_t frameBytes = s.frameBytes();
    const std::int64_t offset = at.offset - std::int64_t(before * frameBytes);
    TAVRIN_EXPECTS(offset >= s.fileStart);
    const std::size_t size = (before + at.frames) * frameBytes;
    const std::int64_t got = readPadded(s.fd, bytes, size, offset);
    if (got < 0)
        failSystem(int(-got));
    const std::size_t frames = std::size_t(got) / frameBytes;
    VectorOps::pcmToDoubles(bytes.data(), frames, channelCount, s.pcm.bytes, out);
    return frames - std::min(frames, before);
}

void FfmpegReader::endAt(std::int64_t frame) {
    State& s = *m_state;
    TAVRIN_EXPECTS(readsPcmFromFile() && frame <= s.position);
    s.fileAt -= (s.position - frame) * std::int64_t(s.frameBytes());
    s.framesDecoded -= s.position - frame;
    s.position = frame;
    s.finished = true;
}

std::size_t readChunk(FfmpegReader& reader, std::size_t maxFrames) {
    const std::size_t frames = reader.read(maxFrames);
    if (frames == 0 && reader.decodedNothing())
        throw AudioFileError::unreadable(std::string(AudioFileError::nothingDecoded));
    const auto channels = reader.channelData();
    if (frames > 0 && (channels.size() != std::size_t(reader.format().channelCount) ||
                       std::ranges::any_of(channels, [](const float* c) { return c == nullptr; })))
        throw AudioFileError::unreadable("Unsupported sample format.");
    return frames;
}

std::size_t readChunk(FfmpegReader& reader, std::size_t maxFrames, double* const* out) {
    const std::size_t frames = reader.readDoubles(maxFrames, out);
    if (frames == 0 && !reader.readsPcmFromFile() && reader.decodedNothing())
        throw AudioFileError::unreadable(std::string(AudioFileError::nothingDecoded));
    return frames;
}

void silenceDecoderLog() {
    av_log_set_level(AV_LOG_QUIET);
}

} // namespace tavrin
#include "decode/FfmpegReaderState.h"

namespace tavrin {

/// Sends the packet to the decoder, tallying it as lost when it is damaged.
void FfmpegReader::State::sendPacket() {
    noteTimestamps(*packet);
    // No codec frame lasts longer (FLAC's longest block): a longer one is a container's lie.
    constexpr double longestFrame = 65536;
    const double frames = double(packet->duration) * framesPerTick;
    lastSentFrames = frames > 0 && frames <= longestFrame ? frames : 0;
    ++packetsSent;
    const int r = avcodec_send_packet(decoder, packet);
    if (r == AVERROR_INVALIDDATA) {
        damage = r;
        losses.dropped(lastSentFrames);
    } else if (r < 0) {
        fail(r);
    }
}

/// Tallies a jump of the timestamps past the end of the previous packet as skipped audio.
void FfmpegReader::State::noteTimestamps(const AVPacket& p) {
    if (p.pts == AV_NOPTS_VALUE)
        return;
    // Half a packet of leeway for timestamps rounded to a coarse time base.
    const double jump = double(p.pts) - double(nextPts);
    if (nextPts != AV_NOPTS_VALUE && jump > double(lastPacketDuration) / 2)
        losses.skipped(jump * framesPerTick);
    const bool ends = p.duration > 0 && p.pts <= INT64_MAX - p.duration;
    nextPts = ends ? p.pts + p.duration : AV_NOPTS_VALUE;
    lastPacketDuration = ends ? p.duration : 0;
}

/// Decodes the next frame into `pending`; false at the end of the stream. Damaged packets are
/// skipped as players skip them.
bool FfmpegReader::State::decodeFrame() {
    if (pcm.sample != PcmSample::none)
        return readPcmPacket();
    while (!finished) {
        int r = avcodec_receive_frame(decoder, frame);
        if (r == 0) {
            framesDecoded += frame->nb_samples;
            losses.decoded(frame->nb_samples);
            convert();
            av_frame_unref(frame);
            return true;
        }
        if (r == AVERROR_EOF) {
            finished = true;
            flushConverter();
            return pendingFrames > 0;
        }
        if (r == AVERROR_INVALIDDATA) {
            // The packet sent last: a packet fails as it is sent unless a frame was waiting.
            damage = r;
            losses.dropped(lastSentFrames);
            continue;
        }
        if (r != AVERROR(EAGAIN))
            fail(r);
        if (draining)
            fail(AVERROR_BUG);
        r = av_read_frame(demuxer, packet);
        if (r == AVERROR_EOF) {
            draining = true;
            avcodec_send_packet(decoder, nullptr);
            continue;
        }
        if (r < 0)
            fail(r);
        if (packet->stream_index == streamIndex)
            sendPacket();
        av_packet_unref(packet);
    }
    return false;
}

/// The next packet of interleaved PCM, converted into `channels` when it fits, else `pending`.
/// A trailing partial frame is dropped, as the decoder drops it.
bool FfmpegReader::State::readPcmPacket() {
    if (fileAt >= 0)
        return readPcmFromFile();
    while (!finished) {
        const int r = av_read_frame(demuxer, packet);
        if (r == AVERROR_EOF) {
            finished = true;
            break;
        }
        if (r < 0)
            fail(r);
        if (packet->stream_index != streamIndex) {
            av_packet_unref(packet);
            continue;
        }
        convertPcmFrames(packet->data, std::size_t(packet->size) /
                                           (pcm.bytes * std::size_t(format.channelCount)));
        av_packet_unref(packet);
        return true;
    }
    return false;
}

/// As many frames as fit in `channels`, read from the file past the demuxer.
bool FfmpegReader::State::readPcmFromFile() {
    const std::size_t frameBytes = pcm.bytes * std::size_t(format.channelCount);
    const auto left = std::uint64_t(std::max<std::int64_t>(fileEnd - fileAt, 0)) / frameBytes;
    const std::size_t frames = std::min<std::uint64_t>(directRoom, left);
    // Three-byte samples are loaded four bytes at a time, as from a packet's padding.
    if (raw.size() < frames * frameBytes + AV_INPUT_BUFFER_PADDING_SIZE)
        raw.resize(frames * frameBytes + AV_INPUT_BUFFER_PADDING_SIZE);
    const std::int64_t got = frames ? readAt(fd, raw.data(), frames * frameBytes, fileAt) : 0;
    if (got < 0)
        failSystem(int(-got));
    if (std::size_t(got) < frameBytes) {
        finished = true;
        return false;
    }
    fileAt += got;
    convertPcmFrames(raw.data(), std::size_t(got) / frameBytes);
    return true;
}

/// Converts `frames` interleaved frames at `data` into `channels` when they fit, else `pending`.
void FfmpegReader::State::convertPcmFrames(const std::uint8_t* data, std::size_t frames) {
    const std::size_t channelCount = std::size_t(format.channelCount);
    if (doublesOut) { // readPcmFromFile() never reads more than there is room for
        std::array<double*, 2> at{};
        for (std::size_t c = 0; c < channelCount; ++c)
            at[c] = doublesOut[c] + directOffset;
        VectorOps::pcmToDoubles(data, frames, channelCount, pcm.bytes, at.data());
        framesDecoded += std::int64_t(frames);
        directFrames = frames;
        return;
    }
    const bool direct = frames <= directRoom;
    if (!direct)
        ensurePending(frames);
    outPointers.resize(channelCount);
    for (std::size_t c = 0; c < channelCount; ++c)
        outPointers[c] = reinterpret_cast<std::uint8_t*>(direct ? channels[c].data() + directOffset
                                                                : pending[c].data());
    convertPcm(pcm, data, frames, channelCount, outPointers.data());
    framesDecoded += std::int64_t(frames);
    directFrames = direct ? frames : 0;
    pendingFrames = direct ? 0 : frames;
    pendingOffset = 0;
}

void FfmpegReader::State::ensurePending(std::size_t frames) {
    pending.resize(std::size_t(format.channelCount));
    for (auto& channel : pending)
        if (channel.size() < frames)
            channel.resize(frames);
}

/// Converts `frame` to planar float at the file's rate into `pending`.
void FfmpegReader::State::convert() {
    if (frame->ch_layout.nb_channels != format.channelCount)
        throw FfmpegError("The number of channels changes within the file");
    if (!converter || frame->format != inFormat || frame->sample_rate != inRate ||
        av_channel_layout_compare(&frame->ch_layout, &inLayout) != 0) {
        swr_free(&converter);
        av_channel_layout_uninit(&inLayout);
        int r = av_channel_layout_copy(&inLayout, &frame->ch_layout);
        if (r >= 0)
            r = swr_alloc_set_opts2(&converter, &inLayout, AV_SAMPLE_FMT_FLTP,
                                    int(format.sampleRate), &inLayout,
                                    AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
        if (r >= 0)
            r = swr_init(converter);
        if (r < 0)
            fail(r);
        inFormat = frame->format;
        inRate = frame->sample_rate;
    }
    const int capacity = swr_get_out_samples(converter, frame->nb_samples);
    if (capacity < 0)
        fail(capacity);
    const bool direct = std::size_t(capacity) <= directRoom;
    if (!direct)
        ensurePending(std::size_t(capacity));
    outPointers.resize(std::size_t(format.channelCount));
    for (std::size_t c = 0; c < outPointers.size(); ++c)
        outPointers[c] = reinterpret_cast<std::uint8_t*>(direct ? channels[c].data() + directOffset
                                                                : pending[c].data());
    const int got =
        swr_convert(converter, outPointers.data(), capacity,
                    const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
    if (got < 0)
        fail(got);
    directFrames = direct ? std::size_t(got) : 0;
    pendingFrames = direct ? 0 : std::size_t(got);
    pendingOffset = 0;
}

/// At the end of the stream: what a sample-rate change still holds back.
void FfmpegReader::State::flushConverter() {
    pendingFrames = pendingOffset = 0;
    if (!converter)
        return;
    const int capacity = swr_get_out_samples(converter, 0);
    if (capacity <= 0)
        return;
    ensurePending(std::size_t(capacity));
    outPointers.clear();
    for (auto& channel : pending)
        outPointers.push_back(reinterpret_cast<std::uint8_t*>(channel.data()));
    const int got = swr_convert(converter, outPointers.data(), capacity, nullptr, 0);
    if (got < 0)
        fail(got);
    pendingFrames = std::size_t(got);
}

} // namespace tavrin

#include "core/ParallelTasks.h"
#include "decode/FfmpegReaderState.h"

namespace tavrin {

/// Sends the packet to the decoder.
void FfmpegReader::State::sendPacket() {
    packetSent(packet->pts, packet->duration, avcodec_send_packet(decoder, packet));
}

/// Notes a packet sent to the decoder, tallying it as lost when it is damaged.
void FfmpegReader::State::packetSent(std::int64_t pts, std::int64_t duration, int result) {
    noteTimestamps(pts, duration);
    // No codec frame lasts longer (FLAC's longest block): a longer one is a container's lie.
    constexpr double longestFrame = 65536;
    const double frames = double(duration) * framesPerTick;
    lastSentFrames = frames > 0 && frames <= longestFrame ? frames : 0;
    ++packetsSent;
    if (result == AVERROR_INVALIDDATA) {
        damage = result;
        losses.dropped(lastSentFrames);
    } else if (result < 0) {
        fail(result);
    }
}

/// Tallies a jump of the timestamps past the end of the previous packet as skipped audio.
void FfmpegReader::State::noteTimestamps(std::int64_t pts, std::int64_t duration) {
    if (pts == AV_NOPTS_VALUE)
        return;
    // Half a packet of leeway for timestamps rounded to a coarse time base.
    const double jump = double(pts) - double(nextPts);
    if (nextPts != AV_NOPTS_VALUE && jump > double(lastPacketDuration) / 2)
        losses.skipped(jump * framesPerTick);
    const bool ends = duration > 0 && pts <= INT64_MAX - duration;
    nextPts = ends ? pts + duration : AV_NOPTS_VALUE;
    lastPacketDuration = ends ? duration : 0;
}

void FfmpegReader::State::frameDecoded(const AVFrame& decoded) {
    framesDecoded += decoded.nb_samples;
    losses.decoded(decoded.nb_samples);
    convert(decoded);
    if (seekTarget >= 0)
        cutBeforeSeekTarget(decoded.best_effort_timestamp);
}

/// What receiving gave when it was neither a frame nor a wish for the next packet: false at the
/// end of the stream, true after a damaged packet, which is skipped as players skip it. Throws
/// for any other error.
bool FfmpegReader::State::receiveFailed(int r) {
    if (r == AVERROR_EOF) {
        finished = true;
        flushConverter();
        return false;
    }
    if (r != AVERROR_INVALIDDATA)
        fail(r);
    // The packet sent last: a packet fails as it is sent unless a frame was waiting.
    damage = r;
    losses.dropped(lastSentFrames);
    return true;
}

/// Decodes the next frame into `pending`; false at the end of the stream.
bool FfmpegReader::State::decodeFrame() {
    if (pcm.sample != PcmSample::none)
        return readPcmPacket();
    if (!spansChosen)
        chooseSpans();
    if (spans)
        return decodeFrameFromSpans();
    while (!finished) {
        int r = avcodec_receive_frame(decoder, frame);
        if (r == 0) {
            frameDecoded(*frame);
            av_frame_unref(frame);
            return true;
        }
        if (r != AVERROR(EAGAIN)) {
            if (!receiveFailed(r))
                return pendingFrames > 0;
            continue;
        }
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

/// Decodes in spans when the stream lasts three spans or more and a processor is idle, unless told
/// otherwise.
void FfmpegReader::State::chooseSpans() {
    spansChosen = true;
    if (!spanChoice) {
        const int idle =
            std::min(ParallelTasks::idleProcessors(), ParallelTasks::processorsAllowed() - 1);
        const bool lasts = double(length) >= 3 * defaultSpanSeconds * format.sampleRate;
        spanChoice = Spans{lasts ? std::max(idle, 0) : 0};
    }
    if (spanChoice->helpers > 0)
        spans = std::make_unique<SpanDecoding>(*demuxer, streamIndex, framesPerTick,
                                               spanChoice->helpers, spanChoice->spanSeconds);
}

/// The next frame as decoding in spans gave it, with everything one decoder would have met on
/// the way, in the same order.
bool FfmpegReader::State::decodeFrameFromSpans() {
    while (!finished) {
        if (!step || stepReceived == step->received.size()) {
            step = &spans->next();
            stepReceived = 0;
            if (step->kind == DecodeStep::Kind::readError)
                fail(step->result);
            if (step->kind == DecodeStep::Kind::drain)
                draining = true;
            else
                packetSent(step->pts, step->duration, step->result);
            continue;
        }
        DecodeStep::Received& got = step->received[stepReceived++];
        if (got.frame) {
            frameDecoded(*got.frame);
            av_frame_unref(got.frame.get());
            return true;
        }
        if (!receiveFailed(got.error))
            return pendingFrames > 0;
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
        if (seekTarget >= 0)
            cutBeforeSeekTarget(packet->pts);
        av_packet_unref(packet);
        return true;
    }
    return false;
}

/// As many frames as fit in `channels`, read from the file past the demuxer.
bool FfmpegReader::State::readPcmFromFile() {
    const std::size_t frameBytes = this->frameBytes();
    const std::size_t frames = std::min(directRoom, framesLeftInFile());
    const std::int64_t got = readPadded(fd, raw, frames * frameBytes, fileAt);
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
        directDoubles = true;
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

namespace {

/// `n` samples of single precision into double precision. Throws AudioFileError for a sample that
/// isn't a finite number, which would turn every reading into "nan".
void toDoubles(const float* from, double* to, std::size_t n) {
    if (!VectorOps::allFinite(from, n))
        throw AudioFileError::unreadable(std::string(AudioFileError::invalidSamples));
    VectorOps::floatToDouble(from, to, n);
}

} // namespace

/// read(), into `out` in double precision when it is given: plain PCM and decoded frames straight
/// where they can be, the rest through `channels` and `pending`.
std::size_t FfmpegReader::State::readFrames(std::size_t maxFrames, double* const* out) {
    doublesOut = pcm.sample == PcmSample::none || readsPcmFromFile() ? out : nullptr;
    struct Reset {
        State& s;
        ~Reset() { s.doublesOut = nullptr; }
    } reset{*this};
    std::size_t filled = 0;
    while (filled < maxFrames) {
        if (pendingOffset < pendingFrames) {
            const std::size_t n = std::min(maxFrames - filled, pendingFrames - pendingOffset);
            for (std::size_t c = 0; c < channels.size(); ++c) {
                const float* from = pending[c].data() + pendingOffset;
                if (out)
                    toDoubles(from, out[c] + filled, n);
                else
                    std::copy_n(from, n, channels[c].data() + filled);
            }
            filled += n;
            pendingOffset += n;
        } else {
            directOffset = filled;
            directRoom = maxFrames - filled;
            directFrames = 0;
            directDoubles = false;
            if (!decoder || !decodeFrame())
                break;
            for (std::size_t c = 0; out && !directDoubles && c < channels.size(); ++c)
                toDoubles(channels[c].data() + filled, out[c] + filled, directFrames);
            filled += directFrames;
        }
    }
    position += std::int64_t(filled);
    return filled;
}

/// Converts a decoded frame to planar float at the file's rate into `pending`, or straight into
/// `doublesOut` when it can.
void FfmpegReader::State::convert(const AVFrame& decoded) {
    if (decoded.ch_layout.nb_channels != format.channelCount)
        throw FfmpegError("The number of channels changes within the file");
    if (doublesOut && convertToDoubles(decoded))
        return;
    if (!converter || decoded.format != inFormat || decoded.sample_rate != inRate ||
        av_channel_layout_compare(&decoded.ch_layout, &inLayout) != 0) {
        swr_free(&converter);
        av_channel_layout_uninit(&inLayout);
        int r = av_channel_layout_copy(&inLayout, &decoded.ch_layout);
        if (r >= 0)
            r = swr_alloc_set_opts2(
                &converter, &inLayout, AV_SAMPLE_FMT_FLTP, int(format.sampleRate), &inLayout,
                AVSampleFormat(decoded.format), decoded.sample_rate, 0, nullptr);
        if (r >= 0)
            r = swr_init(converter);
        if (r < 0)
            fail(r);
        inFormat = decoded.format;
        inRate = decoded.sample_rate;
    }
    const int capacity = swr_get_out_samples(converter, decoded.nb_samples);
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
                    const_cast<const std::uint8_t**>(decoded.extended_data), decoded.nb_samples);
    if (got < 0)
        fail(got);
    directFrames = direct ? std::size_t(got) : 0;
    pendingFrames = direct ? 0 : std::size_t(got);
    pendingOffset = 0;
}

/// Converts a decoded frame straight into `doublesOut`, with the values the converter and
/// VectorOps::floatToDouble() give: when it fits, is at the file's rate with none of another rate
/// held back, and is planar float, or integers of 16 or 32 bits (interleaved, of one or two
/// channels, or planar). Returns whether it did.
bool FfmpegReader::State::convertToDoubles(const AVFrame& decoded) {
    const auto frames = std::size_t(decoded.nb_samples);
    if (seekTarget >= 0 || frames > directRoom || decoded.sample_rate != int(format.sampleRate) ||
        (converter && inRate != decoded.sample_rate))
        return false;
    const auto sampleFormat = AVSampleFormat(decoded.format);
    const bool planar = av_sample_fmt_is_planar(sampleFormat);
    const std::size_t channelCount = std::size_t(format.channelCount);
    const AVSampleFormat packed = av_get_packed_sample_fmt(sampleFormat);
    const std::size_t bytes = packed == AV_SAMPLE_FMT_S16 ? 2 : packed == AV_SAMPLE_FMT_S32 ? 4 : 0;
    const bool integers = bytes > 0 && (planar || channelCount <= 2);
    if (!integers && sampleFormat != AV_SAMPLE_FMT_FLTP)
        return false;
    const std::size_t planes = planar ? channelCount : 1;
    for (std::size_t p = 0; p < planes; ++p) {
        const std::uint8_t* from = decoded.extended_data[p];
        double* const to[2] = {doublesOut[p] + directOffset,
                               planes == channelCount ? nullptr : doublesOut[1] + directOffset};
        if (integers)
            VectorOps::pcmToDoubles(from, frames, channelCount / planes, bytes, to);
        else
            toDoubles(reinterpret_cast<const float*>(from), to[0], frames);
    }
    directFrames = frames;
    pendingFrames = pendingOffset = 0;
    directDoubles = true;
    return true;
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

#include "decode/FfmpegReaderState.h"

namespace tavrin {

namespace {

/// The stream time of the stream's first frame.
std::int64_t originOf(const AVStream& stream) {
    return stream.start_time == AV_NOPTS_VALUE ? 0 : stream.start_time;
}

} // namespace

std::int64_t FfmpegReader::seek(std::int64_t frame) {
    State& s = *m_state;
    TAVRIN_EXPECTS(hasAudio());
    frame = std::max<std::int64_t>(frame, 0);
    s.spans.reset();
    s.step = nullptr;
    s.spanChoice = Spans{0};
    s.spansChosen = true;
    s.pendingFrames = s.pendingOffset = 0;
    s.finished = s.draining = false;
    if (s.fileStart >= 0) {
        const auto frameBytes = std::int64_t(s.frameBytes());
        const std::int64_t frames = (s.fileEnd - s.fileStart) / frameBytes;
        s.position = std::min(frame, frames);
        s.fileAt = s.fileStart + s.position * frameBytes;
        return s.position;
    }
    s.seekDemuxer(frame);
    return s.position;
}

/// Seeks the demuxer to the packet at or before `target`, then decodes up to the first frame past
/// it, which stays pending with what comes before `target` cut off.
void FfmpegReader::State::seekDemuxer(std::int64_t target) {
    const AVStream& stream = *demuxer->streams[streamIndex];
    const std::int64_t ticks =
        originOf(stream) +
        av_rescale_q(target, AVRational{1, int(format.sampleRate)}, stream.time_base);
    if (const int r = avformat_seek_file(demuxer, streamIndex, INT64_MIN, ticks, ticks, 0); r < 0)
        fail(r);
    if (decoder)
        avcodec_flush_buffers(decoder);
    swr_free(&converter); // its delay still holds audio from before
    inFormat = -1;
    nextPts = AV_NOPTS_VALUE;
    seekTarget = target;
    seekReached = target;
    directRoom = 0; // every frame goes to `pending`, where it can be cut
    while (seekTarget >= 0 && decodeFrame()) {
    }
    seekTarget = -1;
    position = finished && pendingFrames == 0 ? target : seekReached;
}

/// Cuts the frames before the seek target from what was just converted into `pending`, whose
/// first frame has the stream time `pts`. Ends the seek once a frame at or past it is pending.
void FfmpegReader::State::cutBeforeSeekTarget(std::int64_t pts) {
    const std::int64_t origin = originOf(*demuxer->streams[streamIndex]);
    const std::int64_t start =
        pts == AV_NOPTS_VALUE ? seekTarget : std::llround(double(pts - origin) * framesPerTick);
    const std::int64_t cut =
        std::clamp<std::int64_t>(seekTarget - start, 0, std::int64_t(pendingFrames));
    pendingOffset = std::size_t(cut);
    if (pendingOffset == pendingFrames)
        return; // wholly before the target
    seekReached = start + cut;
    seekTarget = -1;
}

} // namespace tavrin

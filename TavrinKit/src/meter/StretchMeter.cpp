#include "meter/OpenForMeasuring.h"
#include "tavrin/core/AudioFileError.h"
#include "tavrin/meter/AudioFileMeter.h"
#include "tavrin/meter/LoudnessMeter.h"

#include <algorithm>
#include <cmath>

namespace tavrin::AudioFileMeter {

namespace {

constexpr double lookBack = 3; // seconds: the short-term window

/// Meters `reader` from where it stands up to frame `end`.
void meterUpTo(FfmpegReader& reader, LoudnessMeter& meter, std::int64_t end,
               const CancelCheck& isCancelled) {
    constexpr std::size_t chunk = 1 << 14;
    while (reader.framePosition() < end) {
        stopIfCancelled(isCancelled);
        const std::size_t frames = readChunk(reader, chunk);
        if (frames == 0)
            return;
        meter.process(reader.channelData(), frames);
    }
}

} // namespace

TimelineStretch measureStretch(const std::filesystem::path& path, bool dualMono, TimeSpan stretch,
                               const CancelCheck& isCancelled) {
    const std::unique_ptr<FfmpegReader> reader = openForMeasuring(path);
    const AudioFileFormat& format = reader->format();
    LoudnessMeter meter(channelWeights(format, dualMono), format.sampleRate);
    meter.keepTimeline();
    // From a whole step of the file's own timeline, so that the steps fall where its steps do.
    const double from = std::floor(std::max(stretch.start - lookBack, 0.0) / Timeline::baseStep) *
                        Timeline::baseStep;
    try {
        const std::int64_t at = reader->seek(std::llround(from * format.sampleRate));
        const double until = std::min(stretch.end + 1, 1e9); // seconds; an open end is the file's
        meterUpTo(*reader, meter, std::llround(until * format.sampleRate), isCancelled);
        (void)meter.finish();
        return {meter.takeTimeline(), double(at) / format.sampleRate};
    } catch (const FfmpegError& e) {
        throw AudioFileError::readingStopped(e.what());
    }
}

} // namespace tavrin::AudioFileMeter

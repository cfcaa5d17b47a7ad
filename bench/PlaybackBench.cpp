// Playing into the default audio output (run it against a null sink: scripts/null-audio): how long
// from asking to play at the middle of an hour-long file until the sink takes its first frames
// (median and longest of 15 starts at different places), for a 48 kHz stereo WAV and a 192 kbit/s
// MP3. Then, playing the WAV with a copy beside it, how many frames each read of the output
// takes: a switch between the original and the copy is heard from the next read on.
// Usage: tavrin_playback_bench [minutes = 60] (files written to a temporary folder with ffmpeg)
#include "Player.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace tavrin::app;

namespace {

std::filesystem::path write(const QTemporaryDir& dir, const char* name, int minutes,
                            const char* args) {
    const std::filesystem::path path = dir.filePath(name).toStdString();
    const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "
                                "'sine=f=440:r=48000:d=" +
                                std::to_string(minutes * 60) + "' -af 'pan=stereo|c0=c0|c1=c0' " +
                                args + " '" + path.string() + "'";
    if (std::system(command.c_str()) != 0)
        std::exit(1);
    return path;
}

/// Milliseconds from play() until the sink has taken frames, for starts across the file.
std::vector<double> startTimes(const std::filesystem::path& file, int minutes) {
    std::vector<double> times;
    Player player;
    for (int i = 0; i < 15; ++i) {
        const double at = minutes * 60 * (0.3 + 0.03 * i);
        QElapsedTimer clock;
        clock.start();
        player.play({file, {}, 1}, at);
        while (player.position() <= at && clock.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
        player.pause();
    }
    std::sort(times.begin(), times.end());
    return times;
}

/// The largest number of frames one read of the output took, over two seconds of playing after
/// the first, which fills the output's buffer.
std::int64_t largestRead(const std::filesystem::path& file, const std::filesystem::path& copy) {
    Player player;
    player.play({file, copy, 1}, 600);
    std::int64_t largest = 0, last = 0;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 3000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        if (const PlaybackFeed* feed = player.feed()) {
            const std::int64_t fed = feed->framesFed();
            if (clock.elapsed() > 1000)
                largest = std::max(largest, fed - last);
            last = fed;
        }
    }
    return largest;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int minutes = argc > 1 ? std::max(std::atoi(argv[1]), 1) : 60;
    if (!Player::outputAvailable()) {
        std::fprintf(stderr, "No audio output: start one with scripts/null-audio.\n");
        return 1;
    }
    QTemporaryDir dir;
    const auto wav = write(dir, "hour.wav", minutes, "-c:a pcm_s16le");
    const auto mp3 = write(dir, "hour.mp3", minutes, "-c:a libmp3lame -b:a 192k");
    for (const auto& [name, file] : {std::pair{"WAV", wav}, std::pair{"MP3", mp3}}) {
        const auto times = startTimes(file, minutes);
        std::printf("%s: start of playback %.1f ms median, %.1f ms longest\n", name,
                    times[times.size() / 2], times.back());
    }
    const std::int64_t frames = largestRead(wav, mp3);
    std::printf("Switching: the output reads at most %lld frames at a time (%.1f ms at 48 kHz)\n",
                static_cast<long long>(frames), double(frames) / 48.0);
    return 0;
}

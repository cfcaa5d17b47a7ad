// What limiting costs against a gain-only copy of the same file at the same gain: an hour (or
// the seconds given) of stereo programme, 24-bit at 48 kHz, whose drum-like hits gain alone can't
// bring to Apple Podcasts' target. Each run times, one after the other so that a busy machine
// weighs on all alike: the gain-only copy (forced despite the fix plan's refusal), the limited copy
// (the read that finds the peaks and loudness, the solve and the write), and both as the fix
// workflow makes them, each measured again. Prints every run and the medians.
// Usage: tavrin_limiter_bench [seconds] [runs]

#include "tavrin/copies/GainWriter.h"
#include "tavrin/copies/Limiter.h"
#include "tavrin/rules/DeliverySpec.h"
#include "tavrin/workflow/Workflow.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace tavrin;

/// Pink noise at a programme level with a 3 ms hit of 180 Hz every 0.7 s, made once with
/// ffmpeg and kept in the temporary folder.
fs::path programme(int seconds) {
    const fs::path dir = fs::temp_directory_path() / "tavrin-bench-files";
    const fs::path path = dir / ("hits-" + std::to_string(seconds) + ".wav");
    if (fs::exists(path))
        return path;
    fs::create_directories(dir);
    const std::string d = std::to_string(seconds);
    const std::string command =
        "ffmpeg -nostdin -v error -y -f lavfi -i anoisesrc=d=" + d +
        ":c=pink:r=48000:a=0.25:seed=7 -f lavfi -i "
        "\"aevalsrc=exprs='0.55*sin(2*PI*180*t)*lt(mod(t\\,0.7)\\,0.003)':s=48000:d=" +
        d + "\" -filter_complex '[0][1]amix=inputs=2:normalize=0,aformat=channel_layouts=stereo' " +
        "-c:a pcm_s24le -f wav '" + path.string() + ".part'";
    if (std::system(command.c_str()) != 0)
        return {};
    fs::rename(path.string() + ".part", path);
    return path;
}

template <class Work> double seconds(Work&& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char** argv) {
    const int length = argc > 1 ? std::atoi(argv[1]) : 3600;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    const fs::path original = programme(length);
    if (original.empty()) {
        std::fprintf(stderr, "ffmpeg could not make the programme.\n");
        return 1;
    }
    const DeliverySpec& spec = DeliverySpec::applePodcasts();
    const auto reading = Workflow::measure(original, false);
    if (!reading.result || !Workflow::limiterTakes(reading.result, spec)) {
        std::fprintf(stderr, "The programme is not one the limiter takes.\n");
        return 1;
    }
    const LoudnessResult& measured = *reading.result;
    const fs::path out = original.parent_path() / "limiter-bench";
    fs::remove_all(out);
    fs::create_directories(out);

    // The gain the limited copy uses, for a gain-only copy at the same gain.
    const auto first = Workflow::writeLimitedCopy(original, measured, spec, out, false);
    const auto* limited = std::get_if<Workflow::CopyOutcome::Written>(&first.value);
    if (!limited) {
        const auto* failed = std::get_if<Workflow::CopyOutcome::Failed>(&first.value);
        std::fprintf(stderr, "%s\n",
                     failed
                         ? failed->message.c_str()
                         : std::get<Workflow::CopyOutcome::Refused>(first.value).message.c_str());
        return 1;
    }
    const double gain = limited->limiting->gain;
    std::printf("%d s of stereo, gain %+.2f dB, %s\n", length, gain,
                Workflow::fixTextWritten(*limited).c_str());
    fs::remove(limited->copy);

    const double threshold = spec.ceiling(spec.target) - 0.1;
    const double aim = spec.target - 0.05;
    const fs::path copy = out / "copy.wav";
    std::vector<double> gainOnly, limiting, fixed, fixedLimited;
    std::printf("run  gain-only  limited  ratio  |  fix  fix --limiter  ratio\n");
    for (int run = 1; run <= runs; ++run) {
        gainOnly.push_back(seconds([&] { GainWriter::write(original, copy, gain); }));
        fs::remove(copy);
        limiting.push_back(seconds([&] {
            // As the workflow reads it: peaks that 3 dB more gain can't lift to the threshold are
            // only bounded.
            const double plainGain = aim - *measured.integrated;
            const auto analysis =
                Limiter::Analysis::read(original, false, threshold - plainGain - 3 - 1);
            const auto solved = analysis.solve(aim, threshold, plainGain + 3);
            Limiter::Curve curve(analysis, solved->setting);
            GainWriter::write(original, copy, solved->setting.gain,
                              [&curve](std::int64_t at, std::span<float> f) { curve(at, f); });
        }));
        fs::remove(copy);
        fixed.push_back(seconds([&] {
            fs::remove(std::get<Workflow::CopyOutcome::Written>(
                           Workflow::writeFixedCopy(original, gain, spec, out, false).value)
                           .copy);
        }));
        fixedLimited.push_back(seconds([&] {
            fs::remove(std::get<Workflow::CopyOutcome::Written>(
                           Workflow::writeLimitedCopy(original, measured, spec, out, false).value)
                           .copy);
        }));
        std::printf("%3d  %8.2fs %7.2fs  %4.2fx  | %5.2fs %12.2fs  %4.2fx\n", run, gainOnly.back(),
                    limiting.back(), limiting.back() / gainOnly.back(), fixed.back(),
                    fixedLimited.back(), fixedLimited.back() / fixed.back());
        std::fflush(stdout);
    }
    std::printf("median %6.2fs %7.2fs  %4.2fx  | %5.2fs %12.2fs  %4.2fx\n", median(gainOnly),
                median(limiting), median(limiting) / median(gainOnly), median(fixed),
                median(fixedLimited), median(fixedLimited) / median(fixed));
    fs::remove_all(out);
}

#include "SndfileWriter.h"

#include "tavrin/Expects.h"

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <optional>
#include <sndfile.h>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace tavrin {
namespace {

int subtype(const PcmFormat& format) {
    if (format.isFloat)
        return format.bitDepth == 64 ? SF_FORMAT_DOUBLE : SF_FORMAT_FLOAT;
    switch (format.bitDepth) {
    case 8: // 8-bit WAV is unsigned by definition, 8-bit AIFF signed
        return format.aiff ? SF_FORMAT_PCM_S8 : SF_FORMAT_PCM_U8;
    case 16:
        return SF_FORMAT_PCM_16;
    case 32:
        return SF_FORMAT_PCM_32;
    default:
        return SF_FORMAT_PCM_24;
    }
}

/// The WAVE speakers in bit order, which platform channel labels 1…18 follow. The file layer
/// names the first three LEFT, RIGHT and CENTER (not FRONT_…) in its WAVE and AIFF layouts.
constexpr int waveSpeakers[] = {
    SF_CHANNEL_MAP_LEFT,
    SF_CHANNEL_MAP_RIGHT,
    SF_CHANNEL_MAP_CENTER,
    SF_CHANNEL_MAP_LFE,
    SF_CHANNEL_MAP_REAR_LEFT,
    SF_CHANNEL_MAP_REAR_RIGHT,
    SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER,
    SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER,
    SF_CHANNEL_MAP_REAR_CENTER,
    SF_CHANNEL_MAP_SIDE_LEFT,
    SF_CHANNEL_MAP_SIDE_RIGHT,
    SF_CHANNEL_MAP_TOP_CENTER,
    SF_CHANNEL_MAP_TOP_FRONT_LEFT,
    SF_CHANNEL_MAP_TOP_FRONT_CENTER,
    SF_CHANNEL_MAP_TOP_FRONT_RIGHT,
    SF_CHANNEL_MAP_TOP_REAR_LEFT,
    SF_CHANNEL_MAP_TOP_REAR_CENTER,
    SF_CHANNEL_MAP_TOP_REAR_RIGHT,
};

/// The file layer's speaker for a platform channel label, or nothing for a label it cannot name.
/// The left/right surround pair (5/6) is the WAVE back pair, except beside a rear surround pair
/// (33/34), where it is the side pair, as in a 7.1 WAV (L R C LFE Rls Rrs Ls Rs).
std::optional<int> speaker(std::uint32_t label, bool hasRearSurround) {
    if (hasRearSurround && (label == 5 || label == 6))
        return label == 5 ? SF_CHANNEL_MAP_SIDE_LEFT : SF_CHANNEL_MAP_SIDE_RIGHT;
    if (label >= 1 && label <= std::size(waveSpeakers))
        return waveSpeakers[label - 1];
    if (label == 33 || label == 34)
        return label == 33 ? SF_CHANNEL_MAP_REAR_LEFT : SF_CHANNEL_MAP_REAR_RIGHT;
    return std::nullopt;
}

/// The channel map for `labels`, or empty when some channel has no speaker the file layer knows.
std::vector<int> channelMap(const std::vector<std::uint32_t>& labels) {
    const bool hasRearSurround = std::ranges::find(labels, 33u) != labels.end() ||
                                 std::ranges::find(labels, 34u) != labels.end();
    std::vector<int> map;
    for (std::uint32_t label : labels) {
        const auto s = speaker(label, hasRearSurround);
        if (!s)
            return {};
        map.push_back(*s);
    }
    return map;
}

} // namespace

/// The file layer reaches the descriptor through these callbacks, so that a failing system call
/// is reported with its own description ("File too large", "No space left on device").
struct SndfileWriter::State {
    int fd = -1;
    int systemError = 0; ///< errno of the last failed call, 0 when none failed
    SNDFILE* file = nullptr;

    ~State() {
        if (file)
            sf_close(file);
    }

    std::string describe() const {
        if (systemError != 0)
            return std::generic_category().message(systemError);
        return sf_strerror(file);
    }

    static State& of(void* user) { return *static_cast<State*>(user); }

    static sf_count_t length(void* user) {
        struct stat info {};
        if (::fstat(of(user).fd, &info) != 0) {
            of(user).systemError = errno;
            return -1;
        }
        return info.st_size;
    }

    static sf_count_t seek(sf_count_t offset, int whence, void* user) {
        const off_t at = ::lseek(of(user).fd, offset, whence);
        if (at < 0)
            of(user).systemError = errno;
        return at;
    }

    static sf_count_t tell(void* user) { return seek(0, SEEK_CUR, user); }

    static sf_count_t read(void* ptr, sf_count_t count, void* user) {
        sf_count_t done = 0;
        while (done < count) {
            const ssize_t n = ::read(of(user).fd, static_cast<char*>(ptr) + done,
                                     static_cast<std::size_t>(count - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                of(user).systemError = errno;
            if (n <= 0)
                break;
            done += n;
        }
        return done;
    }

    static sf_count_t write(const void* ptr, sf_count_t count, void* user) {
        sf_count_t done = 0;
        while (done < count) {
            const ssize_t n = ::write(of(user).fd, static_cast<const char*>(ptr) + done,
                                      static_cast<std::size_t>(count - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                of(user).systemError = n < 0 ? errno : EIO;
                break;
            }
            done += n;
        }
        return done;
    }
};

SndfileWriter::SndfileWriter(int fd, const PcmFormat& format) : m(std::make_unique<State>()) {
    TAVRIN_EXPECTS(format.channelCount > 0 && format.sampleRate > 0);
    m->fd = fd;
    SF_INFO info{};
    info.samplerate = format.sampleRate;
    info.channels = format.channelCount;
    // RF64 written with automatic downgrade is a plain WAV up to 4 GiB and stays valid beyond.
    info.format = (format.aiff ? SF_FORMAT_AIFF : SF_FORMAT_RF64) | subtype(format);
    SF_VIRTUAL_IO io{&State::length, &State::seek, &State::read, &State::write, &State::tell};
    m->file = sf_open_virtual(&io, SFM_WRITE, &info, m.get());
    if (!m->file)
        throw SndfileError(m->systemError != 0 ? m->describe() : sf_strerror(nullptr));
    if (!format.aiff)
        sf_command(m->file, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
    sf_command(m->file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    // A layout the container cannot say is left out rather than said wrongly.
    std::vector<int> map = channelMap(format.channelLabels);
    if (map.size() == std::size_t(format.channelCount))
        sf_command(m->file, SFC_SET_CHANNEL_MAP_INFO, map.data(), int(map.size() * sizeof(int)));
}

SndfileWriter::~SndfileWriter() = default;

void SndfileWriter::write(const float* interleaved, std::size_t frames) {
    const auto count = static_cast<sf_count_t>(frames);
    if (sf_writef_float(m->file, interleaved, count) != count)
        throw SndfileError(m->describe());
}

void SndfileWriter::close() {
    SNDFILE* file = m->file;
    m->file = nullptr;
    const int code = sf_close(file);
    if (m->systemError != 0)
        throw SndfileError(m->describe());
    if (code != 0)
        throw SndfileError(sf_error_number(code));
}

} // namespace tavrin

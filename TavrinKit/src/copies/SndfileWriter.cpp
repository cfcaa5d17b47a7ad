#include "copies/SndfileWriter.h"

#include "decode/AppleChannelLayout.h"
#include "tavrin/core/Expects.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <sndfile.h>
#include <string>
#include <string_view>
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

/// The WAVE speaker bit of a channel label, or −1 for a label no WAVE speaker names.
/// Labels 1…18 follow the WAVE bits in order. The left/right surround pair (5/6) is the WAVE back
/// pair, except beside a rear surround pair (33/34), where it is the side pair, as in a 7.1 WAV
/// (L R C LFE Rls Rrs Ls Rs); the top rear speakers of newer layouts are the WAVE top back ones.
int waveBit(std::uint32_t label, bool hasRearSurround) {
    if (hasRearSurround && (label == 5 || label == 6))
        return label == 5 ? 9 : 10;
    if (label >= 1 && label <= 18)
        return int(label) - 1;
    switch (label) {
    case 33: // rear surround left, right
    case 34:
        return int(label) - 29;
    case 42: // mono
        return 2;
    case 52: // left, centre, right top rear
    case 53:
    case 54:
        return int(label) - 37;
    default:
        return -1;
    }
}

/// Header fields patched after the file layer has written the file: the speaker mask, which it
/// would otherwise fill with a default for the channel count, and the layout record it can't write.
class Header {
public:
    explicit Header(int fd) : m_fd(fd) {}

    std::vector<std::uint8_t> read(off_t at, std::size_t size) const {
        std::vector<std::uint8_t> bytes(size);
        const ssize_t n = ::pread(m_fd, bytes.data(), size, at);
        bytes.resize(n > 0 ? std::size_t(n) : 0);
        return bytes;
    }

    void write(off_t at, const std::vector<std::uint8_t>& bytes) {
        if (::pwrite(m_fd, bytes.data(), bytes.size(), at) != ssize_t(bytes.size()))
            fail();
    }

    /// Sets the mask of a WAVE_FORMAT_EXTENSIBLE 'fmt ' chunk among the first chunks.
    void setWaveMask(std::uint32_t mask) {
        for (off_t at = 12; at < 4096;) {
            const auto chunk = read(at, 8 + 24);
            if (chunk.size() < 8)
                return;
            const std::uint64_t size = load(chunk, 4, 4, false);
            if (std::string_view(reinterpret_cast<const char*>(chunk.data()), 4) == "fmt ") {
                if (size >= 40 && load(chunk, 8, 2, false) == 0xFFFE)
                    write(at + 8 + 20, bytes(mask, 4, false));
                return;
            }
            at += off_t(8 + size + (size & 1));
        }
    }

    /// Appends a chunk and counts it into the size of the file's form.
    void append(std::string_view id, const std::vector<std::uint8_t>& body, bool bigEndian) {
        struct stat info {};
        if (::fstat(m_fd, &info) != 0)
            fail();
        off_t end = info.st_size;
        std::vector<std::uint8_t> chunk(std::size_t(end & 1), 0); // chunks start on even offsets
        chunk.insert(chunk.end(), id.begin(), id.end());
        const auto size = bytes(body.size(), 4, bigEndian);
        chunk.insert(chunk.end(), size.begin(), size.end());
        chunk.insert(chunk.end(), body.begin(), body.end());
        if (body.size() & 1)
            chunk.push_back(0);
        write(end, chunk);
        // RF64 keeps its form size in the 'ds64' chunk that follows its header.
        const auto head = read(0, 28);
        const bool rf64 = head.size() == 28 &&
                          std::string_view(reinterpret_cast<const char*>(head.data()), 4) == "RF64";
        const off_t field = rf64 ? 20 : 4;
        const int width = rf64 ? 8 : 4;
        const std::uint64_t form = load(head, std::size_t(field), width, bigEndian) + chunk.size();
        write(field, bytes(form, width, bigEndian));
    }

private:
    int m_fd;

    [[noreturn]] static void fail() { throw SndfileError(std::generic_category().message(errno)); }

    static std::uint64_t load(const std::vector<std::uint8_t>& b, std::size_t at, int width,
                              bool bigEndian) {
        std::uint64_t v = 0;
        for (int i = 0; i < width && at + std::size_t(i) < b.size(); ++i)
            v |= std::uint64_t(b[at + std::size_t(i)]) << 8 * (bigEndian ? width - 1 - i : i);
        return v;
    }

    static std::vector<std::uint8_t> bytes(std::uint64_t v, int width, bool bigEndian) {
        std::vector<std::uint8_t> out(static_cast<std::size_t>(width));
        for (int i = 0; i < width; ++i)
            out[std::size_t(i)] = std::uint8_t(v >> 8 * (bigEndian ? width - 1 - i : i));
        return out;
    }
};

/// The Broadcast Wave fields of a 'bext' chunk body, for the file layer to write before the audio;
/// it refuses 16 KiB of coding history, to which it adds a line of its own. Bodies shorter than
/// the fixed fields give nothing.
using BroadcastInfo = SF_BROADCAST_INFO_VAR(8192);

std::unique_ptr<BroadcastInfo> broadcastInfo(const std::vector<std::uint8_t>& body) {
    constexpr std::size_t fixedFields = 602; // up to the coding history
    if (body.size() < fixedFields)
        return nullptr;
    auto info = std::make_unique<BroadcastInfo>();
    const auto text = [&](char* to, std::size_t at, std::size_t size) {
        std::copy_n(body.begin() + std::ptrdiff_t(at), size, to);
    };
    const auto number = [&](std::size_t at, int width) {
        std::uint32_t v = 0;
        for (int i = 0; i < width; ++i)
            v |= std::uint32_t(body[at + std::size_t(i)]) << 8 * i;
        return v;
    };
    text(info->description, 0, 256);
    text(info->originator, 256, 32);
    text(info->originator_reference, 288, 32);
    text(info->origination_date, 320, 10);
    text(info->origination_time, 330, 8);
    info->time_reference_low = number(338, 4);
    info->time_reference_high = number(342, 4);
    info->version = static_cast<short>(number(346, 2));
    text(info->umid, 348, 64);
    // "Not set", as version 2 marks unused loudness fields: the original's no longer hold.
    for (int16_t* field : {&info->loudness_value, &info->loudness_range, &info->max_true_peak_level,
                           &info->max_momentary_loudness, &info->max_shortterm_loudness})
        *field = 0x7FFF;
    const std::size_t history = std::min(body.size() - fixedFields, sizeof info->coding_history);
    text(info->coding_history, fixedFields, history);
    info->coding_history_size = static_cast<std::uint32_t>(history);
    return info;
}

} // namespace

/// The file layer reaches the descriptor through these callbacks, so that a failing system call
/// is reported with its own description ("File too large", "No space left on device").
struct SndfileWriter::State {
    int fd = -1;
    PcmFormat format;
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

namespace {

/// A comment as readers look for it: an 'ANNO' chunk in AIFF, a LIST/INFO 'ICMT' in WAV.
void appendComment(Header& header, const std::string& comment, bool aiff) {
    if (aiff) {
        header.append("ANNO", {comment.begin(), comment.end()}, true);
        return;
    }
    std::vector<std::uint8_t> body{'I', 'N', 'F', 'O', 'I', 'C', 'M', 'T'};
    const std::size_t size = comment.size() + 1; // with its terminating zero
    for (int i = 0; i < 4; ++i)
        body.push_back(static_cast<std::uint8_t>(size >> 8 * i));
    body.insert(body.end(), comment.begin(), comment.end());
    body.push_back(0);
    if (size & 1)
        body.push_back(0);
    header.append("LIST", body, false);
}

} // namespace

SndfileWriter::SndfileWriter(int fd, const PcmFormat& format) : m_state(std::make_unique<State>()) {
    TAVRIN_EXPECTS(format.channelCount > 0 && format.sampleRate > 0);
    m_state->fd = fd;
    SF_INFO info{};
    info.samplerate = format.sampleRate;
    info.channels = format.channelCount;
    // RF64 written with automatic downgrade is a plain WAV up to 4 GiB and stays valid beyond.
    info.format = (format.aiff ? SF_FORMAT_AIFF : SF_FORMAT_RF64) | subtype(format);
    SF_VIRTUAL_IO io{&State::length, &State::seek, &State::read, &State::write, &State::tell};
    m_state->file = sf_open_virtual(&io, SFM_WRITE, &info, m_state.get());
    if (!m_state->file)
        throw SndfileError(m_state->systemError != 0 ? m_state->describe() : sf_strerror(nullptr));
    if (!format.aiff)
        sf_command(m_state->file, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
    if (const auto bext = format.aiff ? nullptr : broadcastInfo(format.bext))
        sf_command(m_state->file, SFC_SET_BROADCAST_INFO, bext.get(), sizeof(BroadcastInfo));
    sf_command(m_state->file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    m_state->format = format;
}

SndfileWriter::~SndfileWriter() = default;

void SndfileWriter::write(const float* interleaved, std::size_t frames) {
    const auto count = static_cast<sf_count_t>(frames);
    if (sf_writef_float(m_state->file, interleaved, count) != count)
        throw SndfileError(m_state->describe());
}

void SndfileWriter::close(const std::string& comment) {
    SNDFILE* file = m_state->file;
    m_state->file = nullptr;
    const int code = sf_close(file);
    if (m_state->systemError != 0)
        throw SndfileError(m_state->describe());
    if (code != 0)
        throw SndfileError(sf_error_number(code));
    Header header(m_state->fd);
    if (!m_state->format.aiff)
        header.setWaveMask(m_state->format.waveMask);
    if (!m_state->format.channelLabels.empty() && m_state->format.channelCount >= 3)
        header.append(m_state->format.aiff ? "CHAN" : "chan",
                      AppleChannelLayout::record(m_state->format.channelLabels),
                      m_state->format.aiff);
    if (!m_state->format.aiff && !m_state->format.ixml.empty())
        header.append("iXML", m_state->format.ixml, false);
    if (!comment.empty())
        appendComment(header, comment, m_state->format.aiff);
}

ChannelPlan channelPlan(const std::vector<std::uint32_t>& labels, int channelCount, bool aiff) {
    ChannelPlan plan;
    const auto count = std::size_t(std::max(channelCount, 0));
    for (std::size_t c = 0; c < count; ++c)
        plan.order.push_back(c);
    if (labels.size() != count)
        return plan;
    plan.labels = labels;
    if (aiff)
        return plan;
    const bool hasRearSurround = std::ranges::find(labels, 33u) != labels.end() ||
                                 std::ranges::find(labels, 34u) != labels.end();
    std::vector<int> bits;
    for (std::uint32_t label : labels) {
        const int bit = waveBit(label, hasRearSurround);
        const bool taken = bit >= 0 && (plan.waveMask >> bit & 1);
        bits.push_back(taken ? -1 : bit);
        if (bit >= 0)
            plan.waveMask |= 1u << bit;
    }
    // Speakers in bit order first, the channels no speaker names after them.
    std::ranges::stable_sort(plan.order, [&bits](std::size_t a, std::size_t b) {
        const auto key = [&bits](std::size_t c) { return bits[c] < 0 ? 99 : bits[c]; };
        return key(a) < key(b);
    });
    for (std::size_t c = 0; c < count; ++c)
        plan.labels[c] = labels[plan.order[c]];
    return plan;
}

} // namespace tavrin

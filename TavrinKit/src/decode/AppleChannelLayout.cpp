#include "decode/AppleChannelLayout.h"

#include "decode/WaveHeader.h"

#include <array>
#include <fstream>
#include <limits>
#include <sstream>
#include <string_view>

namespace tavrin::AppleChannelLayout {
namespace {

constexpr std::uint32_t fourCC(const char (&s)[5]) {
    return std::uint32_t(std::uint8_t(s[0])) << 24 | std::uint32_t(std::uint8_t(s[1])) << 16 |
           std::uint32_t(std::uint8_t(s[2])) << 8 | std::uint32_t(std::uint8_t(s[3]));
}

constexpr std::uint32_t useDescriptions = 0;
constexpr std::uint32_t useBitmap = 1u << 16;
constexpr std::uint32_t discreteInOrder = 147u << 16;
constexpr std::uint32_t hoaAcnSn3d = 190u << 16;
constexpr std::uint32_t hoaAcnN3d = 191u << 16;

/// Channel names as Apple's layout tags list them, with their label codes.
std::uint32_t labelOf(std::string_view name) {
    static constexpr std::pair<std::string_view, std::uint32_t> codes[] = {
        {"L", 1},    {"R", 2},    {"C", 3},     {"LFE", 4},   {"Ls", 5},      {"Rs", 6},
        {"Lc", 7},   {"Rc", 8},   {"Cs", 9},    {"Lsd", 10},  {"Rsd", 11},    {"Ts", 12},
        {"Vhl", 13}, {"Vhc", 14}, {"Vhr", 15},  {"Rlt", 16},  {"Rct", 17},    {"Rrt", 18},
        {"Rls", 33}, {"Rrs", 34}, {"Lw", 35},   {"Rw", 36},   {"LFE2", 37},   {"Lt", 38},
        {"Rt", 39},  {"HI", 40},  {"VI", 41},   {"Csd", 44},  {"Haptic", 45}, {"Ltm", 49},
        {"Rtm", 51}, {"Ltr", 52}, {"Ctr", 53},  {"Rtr", 54},  {"Lss", 55},    {"Rss", 56},
        {"Lb", 57},  {"Rb", 58},  {"Cb", 59},   {"Lts", 60},  {"Rts", 61},    {"LFE3", 62},
        {"Lbs", 63}, {"Rbs", 64}, {"Leos", 65}, {"Reos", 66}, {"W", 200},     {"X", 201},
        {"Y", 202},  {"Z", 203},  {"M", 204},   {"S", 205},   {"HL", 301},    {"HR", 302},
    };
    for (const auto& [n, code] : codes)
        if (n == name)
            return code;
    return 0xFFFFFFFF;
}

/// Every published layout tag (its low 16 bits are the channel count) and its documented channel
/// order. Tags that are aliases of another (CICP_3, Logic_5_1_A, …) share its entry.
struct StandardLayout {
    std::uint32_t tag;
    std::string_view order;
};

constexpr std::uint32_t tag(std::uint32_t index, std::uint32_t channels) {
    return index << 16 | channels;
}

constexpr StandardLayout standardLayouts[] = {
    {tag(100, 1), "C"},
    {tag(101, 2), "L R"},
    {tag(102, 2), "HL HR"},
    {tag(103, 2), "Lt Rt"},
    {tag(104, 2), "M S"},
    {tag(105, 2), "X Y"},
    {tag(106, 2), "L R"},
    {tag(107, 4), "W X Y Z"},
    {tag(108, 4), "L R Ls Rs"},
    {tag(109, 5), "L R Ls Rs C"},
    {tag(110, 6), "L R Ls Rs C Cs"},
    {tag(111, 8), "L R Ls Rs C Cs Lw Rw"},
    {tag(112, 8), "L R Ls Rs Vhl Vhr Rlt Rrt"},
    {tag(113, 3), "L R C"},
    {tag(114, 3), "C L R"},
    {tag(115, 4), "L R C Cs"},
    {tag(116, 4), "C L R Cs"},
    {tag(117, 5), "L R C Ls Rs"},
    {tag(118, 5), "L R Ls Rs C"},
    {tag(119, 5), "L C R Ls Rs"},
    {tag(120, 5), "C L R Ls Rs"},
    {tag(121, 6), "L R C LFE Ls Rs"},
    {tag(122, 6), "L R Ls Rs C LFE"},
    {tag(123, 6), "L C R Ls Rs LFE"},
    {tag(124, 6), "C L R Ls Rs LFE"},
    {tag(125, 7), "L R C LFE Ls Rs Cs"},
    {tag(126, 8), "L R C LFE Ls Rs Lc Rc"},
    {tag(127, 8), "C Lc Rc L R Ls Rs LFE"},
    {tag(128, 8), "L R C LFE Ls Rs Rls Rrs"},
    {tag(129, 8), "L R Ls Rs C LFE Lc Rc"},
    {tag(130, 8), "L R C LFE Ls Rs Lt Rt"},
    {tag(131, 3), "L R Cs"},
    {tag(132, 4), "L R Ls Rs"},
    {tag(133, 3), "L R LFE"},
    {tag(134, 4), "L R LFE Cs"},
    {tag(135, 5), "L R LFE Ls Rs"},
    {tag(136, 4), "L R C LFE"},
    {tag(137, 5), "L R C LFE Cs"},
    {tag(138, 5), "L R Ls Rs LFE"},
    {tag(139, 6), "L R Ls Rs C Cs"},
    {tag(140, 7), "L R Ls Rs C Rls Rrs"},
    {tag(141, 6), "C L R Ls Rs Cs"},
    {tag(142, 7), "C L R Ls Rs Cs LFE"},
    {tag(143, 7), "C L R Ls Rs Rls Rrs"},
    {tag(144, 8), "C L R Ls Rs Rls Rrs Cs"},
    {tag(145, 16), "L R C Vhc Lsd Rsd Ls Rs Vhl Vhr Lw Rw Csd Cs LFE LFE2"},
    {tag(146, 21), "L R C Vhc Lsd Rsd Ls Rs Vhl Vhr Lw Rw Csd Cs LFE LFE2 Lc Rc HI VI Haptic"},
    {tag(148, 7), "L R Ls Rs C Lc Rc"},
    {tag(149, 2), "C LFE"},
    {tag(150, 3), "L C R"},
    {tag(151, 4), "L C R Cs"},
    {tag(152, 4), "L C R LFE"},
    {tag(153, 4), "L R Cs LFE"},
    {tag(154, 5), "L C R Cs LFE"},
    {tag(155, 6), "L C R Ls Rs Cs"},
    {tag(156, 7), "L C R Ls Rs Rls Rrs"},
    {tag(157, 7), "L C R Ls Rs LFE Cs"},
    {tag(158, 7), "L C R Ls Rs LFE Ts"},
    {tag(159, 7), "L C R Ls Rs LFE Vhc"},
    {tag(160, 8), "L C R Ls Rs LFE Rls Rrs"},
    {tag(161, 8), "L C R Ls Rs LFE Lc Rc"},
    {tag(162, 8), "L C R Ls Rs LFE Lsd Rsd"},
    {tag(163, 8), "L C R Ls Rs LFE Lw Rw"},
    {tag(164, 8), "L C R Ls Rs LFE Vhl Vhr"},
    {tag(165, 8), "L C R Ls Rs LFE Cs Ts"},
    {tag(166, 8), "L C R Ls Rs LFE Cs Vhc"},
    {tag(167, 8), "L C R Ls Rs LFE Ts Vhc"},
    {tag(168, 4), "C L R LFE"},
    {tag(169, 5), "C L R Cs LFE"},
    {tag(170, 6), "Lc Rc L R Ls Rs"},
    {tag(171, 6), "C L R Rls Rrs Ts"},
    {tag(172, 6), "C Cs L R Rls Rrs"},
    {tag(173, 7), "Lc Rc L R Ls Rs LFE"},
    {tag(174, 7), "C L R Rls Rrs Ts LFE"},
    {tag(175, 7), "C Cs L R Rls Rrs LFE"},
    {tag(176, 7), "Lc C Rc L R Ls Rs"},
    {tag(177, 8), "Lc C Rc L R Ls Rs LFE"},
    {tag(178, 8), "Lc Rc L R Ls Rs Rls Rrs"},
    {tag(179, 8), "Lc C Rc L R Ls Cs Rs"},
    {tag(180, 9), "Lc Rc L R Ls Rs Rls Rrs LFE"},
    {tag(181, 9), "Lc C Rc L R Ls Cs Rs LFE"},
    {tag(182, 7), "C L R Ls Rs LFE Cs"},
    {tag(183, 8), "C L R Ls Rs Rls Rrs LFE"},
    {tag(184, 8), "C L R Ls Rs LFE Vhl Vhr"},
    {tag(185, 4), "L R Rls Rrs"},
    {tag(186, 5), "L R C Rls Rrs"},
    {tag(187, 6), "L R C LFE Rls Rrs"},
    {tag(188, 7), "L R C LFE Cs Ls Rs"},
    {tag(189, 8), "L R C LFE Rls Rrs Ls Rs"},
    {tag(192, 12), "L R C LFE Ls Rs Rls Rrs Vhl Vhr Ltr Rtr"},
    {tag(193, 16), "L R C LFE Ls Rs Rls Rrs Lw Rw Vhl Vhr Ltm Rtm Ltr Rtr"},
    {tag(194, 8), "L R C LFE Ls Rs Ltm Rtm"},
    {tag(195, 10), "L R C LFE Ls Rs Vhl Vhr Ltr Rtr"},
    {tag(196, 10), "L R C LFE Ls Rs Rls Rrs Ltm Rtm"},
    {tag(197, 4), "L R Cs C"},
    {tag(198, 6), "L R Ls Rs Cs C"},
    {tag(199, 7), "L R Ls Rs Cs C LFE"},
    {tag(200, 7), "L C R Ls Cs Rs LFE"},
    {tag(201, 8), "L R Ls Rs Rls Rrs C LFE"},
    {tag(202, 12), "L R Rls Rrs Ls Rs C LFE Vhl Vhr Ltr Rtr"},
    {tag(203, 14), "L R Rls Rrs Ls Rs C LFE Vhl Vhr Ltm Rtm Ltr Rtr"},
    {tag(204, 24),
     "Lc Rc C LFE2 Rls Rrs L R Cs LFE3 Lss Rss Vhl Vhr Vhc Ts Ltr Rtr Ltm Rtm Ctr Cb Lb Rb"},
    {tag(205, 8), "L R C LFE Ls Rs Vhl Vhr"},
    {tag(206, 12), "L R C LFE2 Rls Rrs LFE3 Lss Rss Vhl Vhr Ctr"},
    {tag(207, 10), "L R C LFE Ls Rs Vhl Vhr Lts Rts"},
    {tag(208, 12), "L R C LFE Ls Rs Vhl Vhr Vhc Lts Rts Ts"},
    {tag(209, 14), "L R C LFE Ls Rs Lbs Rbs Vhl Vhr Vhc Lts Rts Ts"},
    {tag(210, 12), "L R C LFE Rls Rrs Lss Rss Vhl Vhr Ltr Rtr"},
    {tag(211, 14), "L R C LFE Rls Rrs Lss Rss Vhl Vhr Ltr Rtr Leos Reos"},
    {tag(212, 5), "L C R Rls Rrs"},
    {tag(213, 6), "L C R Rls Rrs LFE"},
    {tag(214, 7), "L C R Ls Rs Cs LFE"},
    {tag(215, 8), "L C R Ls Rs Rls Rrs LFE"},
    {tag(216, 5), "L R Rls Rrs C"},
    {tag(217, 6), "L R Rls Rrs C LFE"},
    {tag(218, 7), "L R Ls Rs C Cs LFE"},
    {tag(219, 8), "L R Rls Rrs Ls Rs C LFE"},
};

/// Families whose tag carries the channel count: each channel is the n-th of its kind.
std::optional<std::uint32_t> numberedLabels(std::uint32_t family) {
    switch (family) {
    case discreteInOrder:
        return 1u << 16; // discrete channel n
    case hoaAcnSn3d:
    case hoaAcnN3d:
        return 2u << 16; // ambisonic channel number n
    default:
        return std::nullopt;
    }
}

std::vector<std::uint32_t> expand(std::uint32_t layoutTag) {
    if (const auto first = numberedLabels(layoutTag & 0xFFFF0000)) {
        std::vector<std::uint32_t> out;
        for (std::uint32_t i = 0; i < (layoutTag & 0xFFFF); ++i)
            out.push_back(*first | i);
        return out;
    }
    for (const auto& layout : standardLayouts) {
        if (layout.tag != layoutTag)
            continue;
        std::vector<std::uint32_t> out;
        std::istringstream names{std::string(layout.order)};
        for (std::string name; names >> name;)
            out.push_back(labelOf(name));
        return out;
    }
    return {};
}

// ---- Reading big-endian records -----------------------------------------------------------

/// A bounds-checked big-endian cursor over bytes; reads past the end yield zeros and set `bad`.
struct Cursor {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos = 0;
    bool bad = false;

    std::uint64_t take(std::size_t bytes) {
        if (size - pos < bytes) {
            bad = true;
            pos = size;
            return 0;
        }
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < bytes; ++i)
            v = v << 8 | data[pos++];
        return v;
    }
    std::uint32_t u32() { return static_cast<std::uint32_t>(take(4)); }
    std::size_t left() const { return size - pos; }
};

/// The labels of a layout record (tag, bitmap, count, 20-byte descriptions).
std::vector<std::uint32_t> parseLayout(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    if (bytes.size() < offset)
        return {};
    Cursor c{bytes.data() + offset, bytes.size() - offset};
    const std::uint32_t layoutTag = c.u32();
    c.u32(); // the bitmap: a bitmap alone tells no order
    const std::uint32_t count = c.u32();
    if (c.bad || count > c.left() / 20)
        return {};
    std::vector<std::uint32_t> described;
    for (std::uint32_t i = 0; i < count; ++i) {
        described.push_back(c.u32());
        c.pos += 16; // flags and three coordinates
    }
    return labels(layoutTag, described);
}

std::uint64_t readBE(std::istream& in, int bytes) {
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) {
        const int ch = in.get();
        if (ch == EOF)
            return 0;
        v = v << 8 | static_cast<std::uint8_t>(ch);
    }
    return v;
}

std::optional<std::vector<std::uint8_t>> readBytes(std::istream& in, std::uint64_t size) {
    constexpr std::uint64_t limit = 64u << 20; // far above any layout or movie header
    // A size claimed by a damaged header is checked against the file before it is allocated.
    const std::istream::pos_type here = in.tellg();
    in.seekg(0, std::ios::end);
    const std::istream::pos_type end = in.tellg();
    in.seekg(here);
    if (size > limit || here < 0 || end < here || size > std::uint64_t(end - here))
        return std::nullopt;
    std::vector<std::uint8_t> bytes(size);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    if (!in)
        return std::nullopt;
    return bytes;
}

/// CAF: 'caff' header, then chunks of type, 64-bit size and data; the layout chunk is 'chan'.
std::optional<std::vector<std::uint32_t>> readCaf(std::istream& in) {
    if (readBE(in, 4) != fourCC("caff"))
        return std::nullopt;
    readBE(in, 4); // version and flags
    while (in) {
        const auto type = static_cast<std::uint32_t>(readBE(in, 4));
        const auto size = static_cast<std::int64_t>(readBE(in, 8));
        if (!in || size < 0)
            return std::nullopt; // the audio data chunk of unknown size runs to the end
        if (type == fourCC("chan")) {
            const auto bytes = readBytes(in, static_cast<std::uint64_t>(size));
            return bytes ? std::optional(parseLayout(*bytes, 0)) : std::nullopt;
        }
        in.seekg(size, std::ios::cur);
    }
    return std::nullopt;
}

/// AIFF and AIFF-C: a 'FORM' of chunks with 32-bit sizes, padded to even; the layout is 'CHAN'.
std::optional<std::vector<std::uint32_t>> readAiff(std::istream& in) {
    if (readBE(in, 4) != fourCC("FORM"))
        return std::nullopt;
    readBE(in, 8); // form size and type
    while (in) {
        const auto type = static_cast<std::uint32_t>(readBE(in, 4));
        const std::uint64_t size = readBE(in, 4);
        if (!in)
            return std::nullopt;
        if (type == fourCC("CHAN")) {
            const auto bytes = readBytes(in, size);
            return bytes ? std::optional(parseLayout(*bytes, 0)) : std::nullopt;
        }
        in.seekg(static_cast<std::streamoff>(size + (size & 1)), std::ios::cur);
    }
    return std::nullopt;
}

bool isAudioSampleEntry(std::uint32_t type) {
    static constexpr std::array types = {
        fourCC("mp4a"), fourCC("alac"), fourCC("lpcm"), fourCC("sowt"),
        fourCC("twos"), fourCC("in24"), fourCC("in32"), fourCC("fl32"),
        fourCC("fl64"), fourCC("raw "), fourCC("fLaC"), fourCC(".mp3"),
        fourCC("ulaw"), fourCC("alaw"), fourCC("ac-3"), fourCC("ec-3")};
    for (auto t : types)
        if (t == type)
            return true;
    return false;
}

/// Searches the movie header's boxes for the first 'chan' box of an audio track.
std::optional<std::vector<std::uint32_t>> findChan(const std::vector<std::uint8_t>& moov,
                                                   std::size_t begin, std::size_t end, int depth) {
    if (depth > 12)
        return std::nullopt;
    std::size_t pos = begin;
    while (end - pos >= 8) {
        Cursor c{moov.data() + pos, end - pos};
        std::uint64_t size = c.u32();
        const std::uint32_t type = c.u32();
        if (size == 1)
            size = c.take(8);
        else if (size == 0)
            size = end - pos;
        const std::size_t header = c.pos;
        if (c.bad || size < header || size > end - pos)
            return std::nullopt;
        const std::size_t body = pos + header;
        const std::size_t next = pos + static_cast<std::size_t>(size);
        std::optional<std::vector<std::uint32_t>> found;
        if (type == fourCC("chan")) {
            // A full box: version and flags come before the layout record.
            return parseLayout(std::vector<std::uint8_t>(moov.begin() + static_cast<long>(body),
                                                         moov.begin() + static_cast<long>(next)),
                               4);
        } else if (type == fourCC("trak") || type == fourCC("mdia") || type == fourCC("minf") ||
                   type == fourCC("stbl") || type == fourCC("wave")) {
            found = findChan(moov, body, next, depth + 1);
        } else if (type == fourCC("stsd") && next - body >= 8) {
            found = findChan(moov, body + 8, next, depth + 1);
        } else if (isAudioSampleEntry(type) && next - body >= 28) {
            // Sound sample entry: 28 bytes of fields, plus 16 in version 1 or 36 in version 2.
            const unsigned version = unsigned(moov[body + 8]) << 8 | moov[body + 9];
            const std::size_t fields = 28 + (version == 1 ? 16 : version == 2 ? 36 : 0);
            if (next - body >= fields)
                found = findChan(moov, body + fields, next, depth + 1);
        }
        if (found)
            return found;
        pos = next;
    }
    return std::nullopt;
}

/// MP4 / M4A / QuickTime: the layout is a 'chan' box inside the audio track's sample entry.
std::optional<std::vector<std::uint32_t>> readMp4(std::istream& in) {
    while (in) {
        std::uint64_t size = readBE(in, 4);
        const auto type = static_cast<std::uint32_t>(readBE(in, 4));
        std::uint64_t header = 8;
        if (size == 1) {
            size = readBE(in, 8);
            header = 16;
        }
        // A 64-bit size past the largest file offset would turn into a step backwards, and a box
        // that leads back to an earlier one would be read forever.
        if (!in || size < header ||
            size - header > std::uint64_t(std::numeric_limits<std::streamoff>::max()))
            return std::nullopt;
        if (type == fourCC("moov")) {
            const auto moov = readBytes(in, size - header);
            return moov ? findChan(*moov, 0, moov->size(), 0) : std::nullopt;
        }
        in.seekg(static_cast<std::streamoff>(size - header), std::ios::cur);
    }
    return std::nullopt;
}

} // namespace

std::vector<std::uint32_t> labels(std::uint32_t layoutTag,
                                  const std::vector<std::uint32_t>& described) {
    if (layoutTag == useDescriptions)
        return described;
    if (layoutTag == useBitmap)
        return {};
    return expand(layoutTag);
}

std::vector<std::uint8_t> record(const std::vector<std::uint32_t>& labels) {
    std::vector<std::uint8_t> out;
    const auto put = [&out](std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(std::uint8_t(v >> shift));
    };
    put(useDescriptions);
    put(0); // no bitmap
    put(std::uint32_t(labels.size()));
    for (std::uint32_t label : labels) {
        put(label);
        for (int i = 0; i < 4; ++i)
            put(0); // flags and three coordinates, unused
    }
    return out;
}

std::optional<std::vector<std::uint32_t>> readLabels(const std::filesystem::path& path,
                                                     Container container) {
    if (container == Container::wav) {
        const auto chan = WaveHeader::chunk(path, "chan");
        return chan ? std::optional(parseLayout(*chan, 0)) : std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    switch (container) {
    case Container::caf:
        return readCaf(in);
    case Container::aiff:
        return readAiff(in);
    case Container::mp4:
        return readMp4(in);
    case Container::wav:
        break;
    }
    return std::nullopt;
}

} // namespace tavrin::AppleChannelLayout

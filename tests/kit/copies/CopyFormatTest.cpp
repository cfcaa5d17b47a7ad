// Copies in the original's delivery format: encoded by FFmpeg, read back with ffprobe.

#include "AudioFixtures.h"
#include "copies/Mp4Items.h"
#include "core/OpenFile.h"
#include "decode/WaveHeader.h"
#include "tavrin/copies/GainWriter.h"
#include "tavrin/core/Fmt.h"
#include "tavrin/decode/Provenance.h"
#include "tavrin/rules/Verdict.h"
#include "tavrin/workflow/Workflow.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace tavrin {
namespace {

using namespace test;
using Json = nlohmann::json;
constexpr auto original = GainWriter::CopyFormat::original;

/// Eight seconds of quiet stereo pink noise (about −30 LUFS) at 44.1 kHz, encoded with `args`,
/// tagged (a ReplayGain gain among the tags), with a cover picture (of noise, some 190 KB, when
/// `bigCover`) and, for MP3, two chapters.
void makeOriginal(const TempDir& dir, const fs::path& out, const std::string& args,
                  bool bigCover = false) {
    writeBytes(dir / "tags.txt", ";FFMETADATA1\ntitle=Episode 12\nREPLAYGAIN_TRACK_GAIN=-3.1 dB\n"
                                 "[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=4000\ntitle=Intro\n"
                                 "[CHAPTER]\nTIMEBASE=1/1000\nSTART=4000\nEND=8000\ntitle=Talk\n");
    const std::string command =
        std::string("ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "
                    "'anoisesrc=d=8:a=0.1:c=pink:seed=7:r=44100' -f lavfi -i '") +
        (bigCover ? "color=c=teal:s=256x256:d=1,noise=alls=100:allf=u"
                  : "color=c=teal:s=32x32:d=1") +
        "' -i '" + (dir / "tags.txt").string() +
        "' -map 0:a -map 1:v -frames:v 1 -c:v png "
        "-disposition:v attached_pic -ac 2 -map_metadata 2 " +
        (out.extension() == ".mp3" ? "-map_chapters 2 -id3v2_version 3 " : "-map_chapters -1 ") +
        args + " '" + out.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

/// `mp3` with its Xing header's quality field set to `scale`.
std::string withXingQuality(std::string mp3, std::uint8_t scale) {
    const auto xing = mp3.find("Xing");
    EXPECT_NE(xing, std::string::npos);
    const auto flags = static_cast<unsigned char>(mp3[xing + 7]);
    const std::size_t field =
        xing + 8 + (flags & 1 ? 4 : 0) + (flags & 2 ? 4 : 0) + (flags & 4 ? 100 : 0);
    mp3.replace(field, 4, std::string("\0\0\0", 3) + char(scale));
    return mp3;
}

/// What ffprobe says of a file's streams, format tags and chapters.
Json probe(const fs::path& file) {
    const std::string command = "ffprobe -v error -of json -show_streams -show_format "
                                "-show_chapters '" +
                                file.string() + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string out;
    char buffer[4096];
    for (std::size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    if (pipe)
        ::pclose(pipe);
    return Json::parse(out, nullptr, false);
}

/// The plan's gain to fix `file` for `spec`; the file must fail it, and gain alone fix it.
double planGain(const fs::path& file, const DeliverySpec& spec) {
    const auto plan = Workflow::fixPlanFor(Workflow::measure(file, false).result, spec);
    const auto* gain = plan ? std::get_if<FixPlan::Gain>(&plan->value) : nullptr;
    EXPECT_TRUE(gain) << file;
    return gain ? gain->gain : 0;
}

TEST(CopyFormat, KeepsCodecTagsPicturesAndChaptersAndLandsOnTheTarget) {
    struct Case {
        const char* name;
        const char* args;
        const char* codec;    // of the copy, as FFmpeg names it
        const char* encoding; // how the Fix text ends
        std::size_t chapters;
        bool bigCover = false;
    };
    // A VBR original keeps the quality its LAME header names, behind a cover of any size.
    const Case cases[] = {
        {"Song.flac", "-c:a flac -sample_fmt s16", "flac", "; FLAC", 0},
        {"Episode CBR.mp3", "-c:a libmp3lame -b:a 128k", "mp3", "; MP3 128 kbps", 2},
        {"Episode VBR.mp3", "-c:a libmp3lame -q:a 2", "mp3", "; MP3 VBR V", 2},
        {"Episode V6.mp3", "-c:a libmp3lame -q:a 6", "mp3", "; MP3 VBR V6", 2, true},
        {"Show.m4a", "-c:a aac -b:a 96k", "aac", "; AAC 96 kbps", 0},
        {"Master.m4a", "-c:a alac -sample_fmt s16p", "alac", "; ALAC", 0},
    };
    const DeliverySpec& spec = DeliverySpec::applePodcasts();
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        makeOriginal(dir, dir / c.name, c.args, c.bigCover);
        if (c.bigCover) // the quality field as LAME itself fills it for -V6: 100 − 10·6 − 3
            writeBytes(dir / c.name, withXingQuality(readBytes(dir / c.name), 37));
        const auto outcome = Workflow::writeFixedCopy(dir / c.name, planGain(dir / c.name, spec),
                                                      spec, std::nullopt, false, {}, original);
        const auto* written = std::get_if<Workflow::CopyOutcome::Written>(&outcome.value);
        ASSERT_TRUE(written) << std::get<Workflow::CopyOutcome::Failed>(outcome.value).message;
        EXPECT_EQ(written->copy.extension(), fs::path(c.name).extension());
        EXPECT_EQ(Verdict::make(written->result, spec).status, Verdict::Status::pass);
        // In the middle, not at an edge: a lossy copy is encoded again until it is.
        EXPECT_NEAR(*written->result.integrated, spec.target, 0.2);
        EXPECT_LE(*written->result.truePeak, spec.maxTruePeak - 0.2 + 1e-9);
        EXPECT_NE(Workflow::fixTextWritten(*written).find(c.encoding), std::string::npos);
        // Found again later, the copy says how it was encoded.
        const auto earlier =
            Workflow::earlierCopy(dir / c.name, spec, std::nullopt, false, {}, original);
        ASSERT_TRUE(earlier);
        EXPECT_EQ(earlier->encoding, written->encoding);

        const Json copy = probe(written->copy);
        ASSERT_TRUE(copy.contains("streams")) << written->copy;
        EXPECT_EQ(copy["streams"][0]["codec_name"], c.codec);
        EXPECT_EQ(copy["streams"][0]["sample_rate"], "44100");
        EXPECT_EQ(copy["streams"][0]["channels"], 2);
        ASSERT_EQ(copy["streams"].size(), 2u);
        EXPECT_EQ(copy["streams"][1]["disposition"]["attached_pic"], 1);
        EXPECT_EQ(copy["chapters"].size(), c.chapters);
        const Json& tags = copy["format"]["tags"];
        const auto title = tags.contains("title") ? tags["title"] : tags.value("TITLE", Json());
        EXPECT_EQ(title, "Episode 12");
        for (const auto& [key, value] : tags.items())
            EXPECT_EQ(key.find("EPLAYGAIN"), std::string::npos) << key;
    }
}

// Other originals keep today's WAV copy; one of a Broadcast Wave file keeps its bext chunk, with
// the loudness fields that the gain makes wrong marked as not set, and its iXML chunk.
TEST(CopyFormat, BroadcastWaveKeepsItsBextAndIxmlChunks) {
    TempDir dir;
    const fs::path take = dir / "Take.wav";
    const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "
                                "'anoisesrc=d=4:a=0.1:seed=3:r=48000' -c:a pcm_s24le -write_bext 1 "
                                "-metadata originator=Tavrin -metadata time_reference=48000 '" +
                                take.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const std::string ixml = "<BWFXML><SCENE>12</SCENE></BWFXML>";
    std::string bytes = readBytes(take) + "iXML" + std::string("\x22\0\0\0", 4) + ixml;
    const auto riffSize = static_cast<std::uint32_t>(bytes.size() - 8);
    for (int i = 0; i < 4; ++i)
        bytes[std::size_t(4 + i)] = static_cast<char>(riffSize >> 8 * i);
    writeBytes(take, bytes);

    const DeliverySpec& spec = DeliverySpec::applePodcasts();
    const auto outcome = Workflow::writeFixedCopy(take, planGain(take, spec), spec, std::nullopt,
                                                  false, {}, original);
    const auto* written = std::get_if<Workflow::CopyOutcome::Written>(&outcome.value);
    ASSERT_TRUE(written);
    EXPECT_EQ(written->copy.filename(), "Take (Apple Podcasts).wav");
    EXPECT_TRUE(Workflow::fixTextWritten(*written).ends_with(" dBTP"));
    const Json tags = probe(written->copy)["format"].value("tags", Json::object());
    EXPECT_EQ(tags.value("encoded_by", ""), "Tavrin"); // FFmpeg's name for the originator
    EXPECT_EQ(tags.value("time_reference", ""), "48000");
    const auto bext = WaveHeader::chunk(written->copy, "bext");
    ASSERT_TRUE(bext && bext->size() >= 602);
    EXPECT_EQ((*bext)[412], 0xFF); // the integrated loudness: 0x7FFF, not set
    EXPECT_EQ((*bext)[413], 0x7F);
    const auto kept = WaveHeader::chunk(written->copy, "iXML");
    ASSERT_TRUE(kept);
    EXPECT_EQ(std::string(kept->begin(), kept->end()), ixml);
    // Without the choice, the copy is as it always was.
    GainWriter::write(take, dir / "plain.wav", 0);
    EXPECT_FALSE(WaveHeader::chunk(dir / "plain.wav", "bext"));
}

// Encoding adds noise, which lifts the highest true peak of dense audio such as pink noise; with
// the ceiling set where the gained original's peak lands, the first encode goes over it, and the
// copy kept is the one encoded again at a lower gain.
TEST(CopyFormat, EncodesAgainLowerWhenEncodingPushedThePeakOver) {
    TempDir dir;
    const fs::path noise = dir / "Noise.m4a";
    makeOriginal(dir, noise, "-c:a aac -b:a 64k");
    const auto measured = Workflow::measure(noise, false).result;
    ASSERT_TRUE(measured && measured->truePeak && measured->integrated);
    const auto specFor = [&](double tolerance) {
        return Workflow::customSpec(-16, tolerance,
                                    Fmt::round1(*measured->truePeak - 16 - *measured->integrated));
    };
    const DeliverySpec spec = specFor(1);

    GainWriter::write(noise, dir / "once.m4a", planGain(noise, spec), {}, {}, original);
    const auto once = Workflow::measure(dir / "once.m4a", false).result;
    ASSERT_TRUE(once);
    EXPECT_FALSE(Verdict::make(*once, spec).peakOK);

    const auto outcome = Workflow::writeFixedCopy(noise, planGain(noise, spec), spec, std::nullopt,
                                                  false, {}, original);
    const auto* written = std::get_if<Workflow::CopyOutcome::Written>(&outcome.value);
    ASSERT_TRUE(written) << std::get<Workflow::CopyOutcome::Failed>(outcome.value).message;
    EXPECT_EQ(Verdict::make(written->result, spec).status, Verdict::Status::pass);

    // With no tolerance for the lower gain, nothing is kept and the sentence says why.
    const DeliverySpec strict = specFor(0);
    fs::create_directories(dir / "out");
    const auto refused = Workflow::writeFixedCopy(noise, planGain(noise, strict), strict,
                                                  dir / "out", false, {}, original);
    const auto* failed = std::get_if<Workflow::CopyOutcome::Failed>(&refused.value);
    ASSERT_TRUE(failed);
    EXPECT_TRUE(failed->message.starts_with("Encoded as AAC 64 kbps, the copy’s true peak is "))
        << failed->message;
    EXPECT_TRUE(failed->message.ends_with(" LU tolerance. It needs a limiter first."))
        << failed->message;
    EXPECT_TRUE(namesIn(dir / "out").empty());
}

/// A string literal's bytes, zeros included.
template <std::size_t N> std::string raw(const char (&bytes)[N]) {
    return std::string(bytes, N - 1);
}

/// `count` as four bytes, `bigEndian` or little.
std::string fourBytes(std::size_t count, bool bigEndian) {
    std::string out;
    for (int i = 0; i < 4; ++i)
        out += char((count >> (8 * (bigEndian ? 3 - i : i))) & 0xFF);
    return out;
}

/// An ID3v2.3 frame: `id`, the body's size big-endian, no flags, the body.
std::string id3Frame(const std::string& id, const std::string& body) {
    return id + fourBytes(body.size(), true) + std::string(2, '\0') + body;
}

/// A CHAP frame from `from` to `to` ms, its title inside.
std::string chapter(const std::string& id, std::uint32_t from, std::uint32_t to,
                    const std::string& title) {
    return id3Frame("CHAP", id + '\0' + fourBytes(from, true) + fourBytes(to, true) +
                                std::string(8, '\xFF') + id3Frame("TIT2", '\0' + title));
}

/// An ID3v2.3 tag of `frames` and a gain's, `unsynchronised` or not (the frames hold no 0xFF).
std::string id3Tag(const std::string& frames, bool unsynchronised) {
    const std::string all = frames + id3Frame("TXXX", raw("\0REPLAYGAIN_TRACK_GAIN\0-3.1 dB"));
    std::string header = "ID3\x03";
    header += {'\0', char(unsynchronised ? 0x80 : 0), '\0',
               '\0', char(all.size() >> 7),           char(all.size() & 0x7F)};
    return header + all;
}

/// An MP3 with an ID3v2.3 tag of comment, lyrics, link, chapters behind a table of contents
/// listing them out of time order, a picture that isn't an image, and a gain; its first element
/// is what the copy keeps, in order.
std::pair<std::string, std::string> taggedMp3(const std::string& plain) {
    std::string kept = id3Frame("TIT2", raw("\0Episode 12")) +
                       id3Frame("COMM", raw("\0eng\0Notes for the episode")) +
                       id3Frame("USLT", raw("\0eng\0Line one\nLine two")) +
                       id3Frame("WXXX", raw("\0\0https://example.com/12")) +
                       id3Frame("CTOC", raw("toc\0\x03\x02"
                                            "ch1\0ch0\0")) +
                       chapter("ch0", 0, 4000, "Intro") + chapter("ch1", 4000, 8000, "Talk") +
                       id3Frame("APIC", raw("\0image/png\0\x03\0") + std::string(2048, '\0'));
    return {kept, id3Tag(kept, false) + plain};
}

/// An MP3 whose ID3v2.3 tag is marked unsynchronised, which the copy's tag is made from through
/// FFmpeg: a title, and a GIF picture that FFmpeg's muxers don't take.
std::pair<std::string, std::string> unsynchronisedMp3(const std::string& plain) {
    return {"",
            id3Tag(id3Frame("TIT2", raw("\0Episode 12")) +
                       id3Frame("APIC", raw("\0image/gif\0\x03\0GIF89a") + std::string(64, '\x01')),
                   true) +
                plain};
}

/// A FLAC with Vorbis comments (two ARTIST values, COMMENT, chapters, a gain) and a picture that
/// isn't an image, in place of the metadata after its STREAMINFO; what the copy keeps first.
std::pair<std::string, std::string> taggedFlac(const std::string& plain) {
    std::string kept, comments = fourBytes(6, false) + "vendor" + fourBytes(9, false);
    for (const std::string entry : {"TITLE=Episode 12", "ARTIST=A", "ARTIST=B", "COMMENT=Live take",
                                    "CHAPTER001=00:00:00.000", "CHAPTER001NAME=Intro",
                                    "CHAPTER002=00:00:04.000", "CHAPTER002NAME=Talk"})
        kept += fourBytes(entry.size(), false) + entry;
    comments += kept + fourBytes(26, false) + "REPLAYGAIN_TRACK_GAIN=-3.1";
    const std::string picture = fourBytes(3, true) + fourBytes(9, true) + "image/png" +
                                fourBytes(0, true) + std::string(16, '\0') + fourBytes(1024, true) +
                                std::string(1024, '\0');
    std::size_t end = 4;
    for (bool last = false; !last;) {
        last = plain[end] & 0x80;
        end += 4 + (std::size_t(std::uint8_t(plain[end + 1])) << 16 |
                    std::size_t(std::uint8_t(plain[end + 2])) << 8 | std::uint8_t(plain[end + 3]));
    }
    const std::string blocks = char(4) + fourBytes(comments.size(), true).substr(1) + comments +
                               char(0x86) + fourBytes(picture.size(), true).substr(1) + picture;
    return {kept, plain.substr(0, 4) + char(plain[4] & 0x7F) + plain.substr(5, 37) + blocks +
                      plain.substr(end)};
}

/// An MP4 box of `type` holding `body`.
std::string mp4Box(const std::string& type, const std::string& body) {
    return fourBytes(8 + body.size(), true) + type + body;
}

/// A metadata item of `type` holding `value`, whose data type is `dataType` (1: UTF-8, 21: int).
std::string mp4Item(const std::string& type, int dataType, const std::string& value) {
    return mp4Box(type, mp4Box("data", fourBytes(std::size_t(dataType), true) +
                                           std::string(4, '\0') + value));
}

/// The items of an M4A's metadata list: the podcast flag, feed link, category and episode id
/// that FFmpeg's muxer doesn't know, a freeform tag, and a gain's; what the copy keeps first.
std::pair<std::string, std::vector<std::string>> m4aItems() {
    std::vector<std::string> items = {mp4Item("\xA9nam", 1, "Episode 12"),
                                      mp4Item("pcst", 21, std::string(1, '\1')),
                                      mp4Item("purl", 0, "https://example.com/feed"),
                                      mp4Item("catg", 1, "Technology"),
                                      mp4Item("egid", 0, "urn:uuid:1234"),
                                      Mp4Items::freeform("Producer", "Ana")};
    std::string kept;
    for (const std::string& item : items)
        kept += item;
    items.push_back(Mp4Items::freeform("iTunNORM", " 00000E2B 00000E2B"));
    return {kept, items};
}

// A copy carries its original's tags as the original holds them, in their own types and order:
// ID3v2 frames, Vorbis comments one by one, MP4 metadata items, pictures that aren't images; only
// the gain's tag is dropped, and the provenance record (naming a non-ASCII file: UTF-16 in
// ID3v2.3) added. A tag that can't be carried so goes through FFmpeg, and what FFmpeg drops is
// named in the Fix text.
TEST(CopyFormat, CarriesEveryTagAsTheOriginalHoldsIt) {
    const struct Case {
        const char* name;
        const char* args;
        const char* gain; // the dropped tag's name, as the file spells it
        std::size_t chapters;
        const char* notCarried = ""; // how the Fix text ends
    } cases[] = {
        {"Épisode.mp3", "-c:a libmp3lame -b:a 128k -id3v2_version 0", "REPLAYGAIN_TRACK_GAIN", 2},
        {"Épisode.flac", "-c:a flac", "REPLAYGAIN_TRACK_GAIN", 2},
        {"Épisode.m4a", "-c:a aac -b:a 96k", "iTunNORM", 0},
        {"Unsynchronised.mp3", "-c:a libmp3lame -b:a 128k -id3v2_version 0",
         "REPLAYGAIN_TRACK_GAIN", 0, "; MP3 128 kbps; 1 tag not carried: picture"}};
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = dir / c.name;
        const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "
                                    "'anoisesrc=d=8:a=0.1:c=pink:seed=7:r=44100' -ac 2 " +
                                    std::string(c.args) + " '" + file.string() + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        std::string kept;
        if (file.extension() == ".m4a") {
            const auto [run, items] = m4aItems();
            const OpenFile opened(file, O_RDWR);
            Mp4Items::replace(opened.descriptor(), items);
            kept = run;
        } else {
            const auto make = file.extension() == ".flac" ? taggedFlac
                              : file.stem() == "Épisode"  ? taggedMp3
                                                          : unsynchronisedMp3;
            const auto [run, tagged] = make(readBytes(file));
            writeBytes(file, tagged);
            kept = run;
        }

        const DeliverySpec& spec = DeliverySpec::applePodcasts();
        const auto outcome = Workflow::writeFixedCopy(file, planGain(file, spec), spec,
                                                      std::nullopt, false, {}, original);
        const auto* written = std::get_if<Workflow::CopyOutcome::Written>(&outcome.value);
        ASSERT_TRUE(written) << std::get<Workflow::CopyOutcome::Failed>(outcome.value).message;
        EXPECT_TRUE(Workflow::fixTextWritten(*written).ends_with(
            *c.notCarried ? c.notCarried : written->encoding->name))
            << Workflow::fixTextWritten(*written);
        const std::string copy = readBytes(written->copy);
        EXPECT_NE(copy.find(kept), std::string::npos);
        EXPECT_EQ(copy.find(c.gain), std::string::npos);
        const auto record = Provenance::read(written->copy);
        ASSERT_TRUE(record);
        EXPECT_EQ(record->original, c.name);
        // FFmpeg reads them too, chapters where the table of contents puts them.
        const Json probed = probe(written->copy);
        EXPECT_EQ(
            probed["format"]["tags"].value("title", probed["format"]["tags"].value("TITLE", "")),
            "Episode 12");
        ASSERT_EQ(probed["chapters"].size(), c.chapters);
        if (c.chapters > 0) {
            EXPECT_EQ(probed["chapters"][1]["tags"]["title"], "Talk");
        }
    }
}

} // namespace
} // namespace tavrin

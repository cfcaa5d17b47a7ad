#include "copies/FfmpegTags.h"

#include "copies/CarriedTags.h"
#include "copies/PictureSize.h"
#include "decode/FfmpegCodecs.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/mem.h>
}

#include <cstring>
#include <memory>
#include <new>

namespace tavrin {

namespace fs = std::filesystem;
namespace {

void copyTags(AVDictionary** to, const AVDictionary* from) {
    const AVDictionaryEntry* entry = nullptr;
    while ((entry = av_dict_get(from, "", entry, AV_DICT_IGNORE_SUFFIX)))
        if (!dropsTag(entry->key))
            ffmpegChecked(av_dict_set(to, entry->key, entry->value, 0));
}

/// Muxers refuse a picture without a size. The reader never decodes pictures, so where the
/// container doesn't say their size, the picture's own header tells. One whose header can't be
/// read gets a nominal 1 × 1, which of the formats written only FLAC stores.
void keepSize(AVCodecParameters& params, const AVPacket& picture) {
    if (params.width > 0 && params.height > 0)
        return;
    const auto size = pictureSize({picture.data, std::size_t(picture.size)});
    params.width = size ? size->width : 1;
    params.height = size ? size->height : 1;
}

std::size_t pictureCount(const AVFormatContext& file) {
    std::size_t count = 0;
    for (unsigned i = 0; i < file.nb_streams; ++i)
        count += (file.streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
    return count;
}

} // namespace

void addFfmpegChapters(AVFormatContext& muxer, const FfmpegReader& original) {
    const AVFormatContext& in = original.demuxer();
    if (in.nb_chapters > 0) {
        muxer.chapters = static_cast<AVChapter**>(av_calloc(in.nb_chapters, sizeof(AVChapter*)));
        if (!muxer.chapters)
            throw std::bad_alloc();
        for (unsigned i = 0; i < in.nb_chapters; ++i) {
            const AVChapter& from = *in.chapters[i];
            auto* to = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
            if (!to)
                throw std::bad_alloc();
            muxer.chapters[muxer.nb_chapters++] = to;
            to->id = from.id;
            to->time_base = from.time_base;
            to->start = from.start;
            to->end = from.end;
            copyTags(&to->metadata, from.metadata);
        }
    }
}

std::vector<unsigned> addFfmpegTags(AVFormatContext& muxer, const FfmpegReader& original) {
    const AVFormatContext& in = original.demuxer();
    AVStream* audio = muxer.streams[0];
    std::vector<unsigned> sources;
    if (const auto* language =
            av_dict_get(in.streams[original.streamIndex()]->metadata, "language", nullptr, 0))
        ffmpegChecked(av_dict_set(&audio->metadata, "language", language->value, 0));
    copyTags(&muxer.metadata, in.metadata);

    addFfmpegChapters(muxer, original);

    for (unsigned i = 0; i < in.nb_streams; ++i) {
        const AVStream& from = *in.streams[i];
        const AVCodecID id = from.codecpar->codec_id;
        if (!(from.disposition & AV_DISPOSITION_ATTACHED_PIC) || from.attached_pic.size <= 0 ||
            (id != AV_CODEC_ID_MJPEG && id != AV_CODEC_ID_PNG && id != AV_CODEC_ID_BMP))
            continue;
        AVStream* picture = avformat_new_stream(&muxer, nullptr);
        if (!picture)
            throw std::bad_alloc();
        ffmpegChecked(avcodec_parameters_copy(picture->codecpar, from.codecpar));
        picture->codecpar->codec_tag = 0;
        keepSize(*picture->codecpar, from.attached_pic);
        picture->disposition = AV_DISPOSITION_ATTACHED_PIC;
        picture->time_base = from.time_base;
        ffmpegChecked(av_dict_copy(&picture->metadata, from.metadata, 0));
        sources.push_back(i);
    }
    return sources;
}

void writeFfmpegPictures(AVFormatContext& muxer, const FfmpegReader& original,
                         const std::vector<unsigned>& sources, AVPacket& packet) {
    for (std::size_t k = 0; k < sources.size(); ++k) {
        ffmpegChecked(
            av_packet_ref(&packet, &original.demuxer().streams[sources[k]]->attached_pic));
        packet.stream_index = static_cast<int>(k + 1);
        packet.pts = packet.dts = 0;
        const int result = av_write_frame(&muxer, &packet);
        av_packet_unref(&packet);
        ffmpegChecked(result);
    }
}

std::vector<std::string> tagsNotCarried(const FfmpegReader& original, const fs::path& copy) {
    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, ("file:" + copy.string()).c_str(), nullptr, nullptr) < 0)
        return {};
    const std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> copied(
        opened, [](AVFormatContext* f) { avformat_close_input(&f); });
    const AVFormatContext& from = original.demuxer();
    std::vector<std::string> missing;
    const AVDictionaryEntry* entry = nullptr;
    while ((entry = av_dict_get(from.metadata, "", entry, AV_DICT_IGNORE_SUFFIX))) {
        const AVDictionaryEntry* kept = av_dict_get(copied->metadata, entry->key, nullptr, 0);
        if (!dropsTag(entry->key) && (!kept || std::strcmp(kept->value, entry->value) != 0))
            missing.emplace_back(entry->key);
    }
    if (copied->nb_chapters < from.nb_chapters)
        missing.emplace_back("chapters");
    for (std::size_t n = pictureCount(*copied); n < pictureCount(from); ++n)
        missing.emplace_back("picture");
    return missing;
}

} // namespace tavrin

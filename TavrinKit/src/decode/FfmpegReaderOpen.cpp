#include "decode/FfmpegReaderState.h"

namespace tavrin {
namespace {

/// FFmpeg's stream probe without the attached pictures decoded. The probe decodes a frame of every
/// stream whose size it doesn't know, and a picture of a few hundred bytes can declare 16000 ×
/// 16000 pixels: a gigabyte and seconds each. Neither measuring nor copying needs their pixels
/// (copies take the pictures' bytes as they are). Discarding their streams doesn't stop the probe;
/// a stream of no codec has no decoder to open, so their codec is hidden from it and put back
/// after.
int probeStreamsButPictures(AVFormatContext& demuxer) {
    std::vector<std::pair<AVCodecParameters*, AVCodecID>> pictures;
    for (unsigned i = 0; i < demuxer.nb_streams; ++i)
        if (AVStream* stream = demuxer.streams[i];
            stream->disposition & AV_DISPOSITION_ATTACHED_PIC)
            pictures.emplace_back(stream->codecpar, stream->codecpar->codec_id);
    for (auto [params, codec] : pictures)
        params->codec_id = AV_CODEC_ID_NONE;
    const int r = avformat_find_stream_info(&demuxer, nullptr);
    for (auto [params, codec] : pictures)
        params->codec_id = codec;
    return r;
}

} // namespace

void FfmpegReader::State::openFile() {
    // A pipe or a device has no end to read to: opening a pipe without a writer would wait
    // forever, and a device such as /dev/zero would be read forever.
    std::error_code ec;
    const auto type = std::filesystem::status(path, ec).type();
    using std::filesystem::file_type;
    if (!ec && type != file_type::regular && type != file_type::directory &&
        type != file_type::not_found)
        throw FfmpegError("It is not a regular file");
    if ((fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC)) < 0)
        failSystem(errno);
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        failSystem(errno);
    if (S_ISDIR(info.st_mode))
        failSystem(EISDIR);
    if (!S_ISREG(info.st_mode))
        throw FfmpegError("It is not a regular file");
    // FFmpeg says only "Invalid argument" of some empty files and opens others as audio.
    if (info.st_size == 0)
        throw FfmpegError("The file is empty");
    // No audio packs tighter than 16 frames a byte but silence: a length past that is a lie.
    plausibleLength = std::min<std::int64_t>(info.st_size, INT64_MAX / 16) * 16;
    clamp = ChunkSizes::overrunningChunk(
        [this](std::uint64_t offset, std::uint8_t* out, std::size_t size) {
            const std::int64_t n = readAt(fd, out, size, std::int64_t(offset));
            return std::size_t(std::max<std::int64_t>(n, 0));
        },
        std::uint64_t(info.st_size));

    constexpr int bufferSize = 32768; // as FFmpeg's own file reading
    auto* buffer = static_cast<std::uint8_t*>(av_malloc(bufferSize));
    if (!buffer ||
        !(io = avio_alloc_context(buffer, bufferSize, 0, this, &readIo, nullptr, &seekIo))) {
        av_free(buffer);
        throw std::bad_alloc();
    }
    if (!(demuxer = avformat_alloc_context()))
        throw std::bad_alloc();
    demuxer->pb = io;
}

int FfmpegReader::State::readIo(void* opaque, std::uint8_t* buffer, int size) {
    State& s = *static_cast<State*>(opaque);
    const std::int64_t n = readAt(s.fd, buffer, std::size_t(size), s.ioPosition);
    if (n < 0)
        return AVERROR(int(-n));
    if (n == 0)
        return AVERROR_EOF;
    if (s.clamp)
        ChunkSizes::apply(*s.clamp, std::uint64_t(s.ioPosition), buffer, std::size_t(n));
    s.ioPosition += n;
    return int(n);
}

std::int64_t FfmpegReader::State::seekIo(void* opaque, std::int64_t offset, int whence) {
    State& s = *static_cast<State*>(opaque);
    struct stat info {};
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE || whence == SEEK_END) {
        if (::fstat(s.fd, &info) != 0)
            return AVERROR(errno);
        if (whence == AVSEEK_SIZE)
            return info.st_size;
    }
    const std::int64_t base = whence == SEEK_SET   ? 0
                              : whence == SEEK_CUR ? s.ioPosition
                              : whence == SEEK_END ? std::int64_t(info.st_size)
                                                   : -1;
    if (base < 0 || (offset < 0 && -offset > base) || (offset > 0 && offset > INT64_MAX - base))
        return AVERROR(EINVAL);
    return s.ioPosition = base + offset;
}

/// Where the audio of a plain PCM WAV lies in the file, start and end, when the demuxer, having
/// read the header, would read exactly the data chunk the header declares (cut at the end of the
/// file) in whole frames of the size it guessed: then reading it straight gives the same samples.
/// {-1, -1} when anything else might be read: compressed audio, an undeclared or disputed length.
std::pair<std::int64_t, std::int64_t> FfmpegReader::State::plainAudio(const AVStream& stream,
                                                                      int channelCount) const {
    const AVCodecParameters& params = *stream.codecpar;
    const int guessed = av_get_bits_per_sample(params.codec_id);
    const std::int64_t frameBytes = std::int64_t(channelCount) * guessed / 8;
    const std::int64_t start = avio_tell(demuxer->pb); // the header reading stops at the audio
    struct stat info {};
    const auto declared = WaveHeader::dataBytes(path);
    if (codecInfo(params.codec_id).codec != AudioCodec::linearPCM ||
        params.ch_layout.nb_channels != channelCount || guessed % 8 != 0 || frameBytes <= 0 ||
        start < 0 || !declared || ::fstat(fd, &info) != 0 || info.st_size < start)
        return {-1, -1};
    const auto bytes = std::min<std::uint64_t>(*declared, std::uint64_t(info.st_size - start));
    if (stream.duration == AV_NOPTS_VALUE ||
        std::uint64_t(stream.duration) != bytes / std::uint64_t(frameBytes))
        return {-1, -1};
    return {start, start + stream.duration * frameBytes};
}

void FfmpegReader::State::open() {
    openFile();
    // WAV packets default to 4 KB: an hour of audio would take a million packets and read calls.
    // A quarter megabyte each still fits the meter's chunks for most files.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "max_size", "262144", 0);
    int r = avformat_open_input(&demuxer, path.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (r < 0)
        fail(r);
    struct stat file {};
    bytesPastHeader = ::fstat(fd, &file) == 0 && file.st_size > avio_tell(demuxer->pb);
    // A WAV whose header says it is plain PCM and how long it is, and whose data FFmpeg didn't
    // find to hold S/PDIF while reading the header, needs no look at its packets: FFmpeg's stream
    // probe would scan the first megabytes of every 16-bit file for a compressed stream, costing
    // more than the audio.
    const bool isWav = std::string_view(demuxer->iformat->name) == "wav";
    const auto wave = isWav ? WaveHeader::pcmFormat(path) : std::nullopt;
    if (wave && demuxer->nb_streams == 1 && pcmLayout(*wave).sample != PcmSample::none)
        std::tie(fileAt, fileEnd) = plainAudio(*demuxer->streams[0], wave->channels);
    fileStart = fileAt;
    const bool plainWave = fileAt >= 0;
    // The lengths the header declares, before the stream probe fills in its estimates.
    std::vector<std::int64_t> headerDurations;
    for (unsigned i = 0; i < demuxer->nb_streams; ++i)
        headerDurations.push_back(demuxer->streams[i]->duration);
    if (!plainWave && (r = probeStreamsButPictures(*demuxer)) < 0)
        fail(r);
    for (unsigned i = 0; i < demuxer->nb_streams && streamIndex < 0; ++i)
        if (demuxer->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            streamIndex = int(i);
    if (streamIndex < 0)
        throw FfmpegError("The file holds no audio");
    for (unsigned i = 0; i < demuxer->nb_streams; ++i)
        if (int(i) != streamIndex)
            demuxer->streams[i]->discard = AVDISCARD_ALL; // pictures, video, other tracks

    const AVStream* stream = demuxer->streams[streamIndex];
    const AVCodecParameters* params = stream->codecpar;
    const CodecInfo info = codecInfo(params->codec_id);
    format.codec = info.codec;
    format.isFloat = info.isFloat;
    format.bitDepth =
        info.codec == AudioCodec::linearPCM ? av_get_bits_per_sample(params->codec_id) : 0;
    format.sampleRate = params->sample_rate;
    format.channelCount = params->ch_layout.nb_channels;
    if (!hasChannelsAndRate(format))
        return; // nothing to decode; the caller reports it

    decoder = openDecoder(*params, stream->time_base).release();
    if (!(packet = av_packet_alloc()) || !(frame = av_frame_alloc()))
        throw std::bad_alloc();
    format.sampleRate = decoder->sample_rate;
    format.channelCount = decoder->ch_layout.nb_channels;
    noteLengths(std::size_t(streamIndex) < headerDurations.size()
                    ? headerDurations[std::size_t(streamIndex)]
                    : AV_NOPTS_VALUE);
    if (const PcmLayout layout = pcmLayout(params->codec_id);
        layout.sample != PcmSample::none && format.channelCount == params->ch_layout.nb_channels &&
        params->block_align == int(layout.bytes) * format.channelCount)
        pcm = layout;
    if (wave && wave->channels == format.channelCount) {
        if (const PcmLayout layout = pcmLayout(*wave); layout.sample != PcmSample::none) {
            // FFmpeg's length counts frames of the size it guessed.
            const int guessed = av_get_bits_per_sample(params->codec_id);
            if (guessed > 0)
                lengthScale = double(guessed) / double(8 * layout.bytes);
            pcm = layout;
            format.codec = AudioCodec::linearPCM;
            format.isFloat = wave->isFloat;
            const int container = int(8 * layout.bytes);
            format.bitDepth =
                wave->validBits > 0 && wave->validBits < container ? wave->validBits : container;
        }
    }

    // Decoders put compressed audio into FFmpeg's order; linear PCM stays in the file's order,
    // which only the container's own layout record tells (copies written here carry one in WAV
    // too, for speakers that a WAV mask can't name). Otherwise a WAV says it with its speaker mask,
    // which FFmpeg reads, or not at all: FFmpeg's guess for a WAV without one is not the file's.
    const auto apple = appleContainer(demuxer->iformat->name);
    std::optional<std::vector<std::uint32_t>> fileLabels;
    if (apple && format.codec == AudioCodec::linearPCM)
        fileLabels = AppleChannelLayout::readLabels(path, *apple);
    if (!fileLabels && wave && wave->mask == 0)
        fileLabels.emplace();
    format.channelLabels = fileLabels ? *fileLabels : labelsOf(decoder->ch_layout);

    if (stream->duration != AV_NOPTS_VALUE)
        length =
            av_rescale_q(stream->duration, stream->time_base, AVRational{1, params->sample_rate});
    else if (demuxer->duration != AV_NOPTS_VALUE)
        length = av_rescale(demuxer->duration, params->sample_rate, AV_TIME_BASE);
    length = std::max<std::int64_t>(std::llround(double(length) * lengthScale), 0);
}

/// Notes how packet times convert to frames, and keeps the stream's length in frames when the
/// container declares it exactly while its header is read: FLAC's STREAMINFO, AIFF's and CAF's
/// sizes, MP4's sample tables, an MP3's Xing or VBRI frame count. The stream probe's estimates
/// from the bit rate (an MP3 without such a frame, ADTS) come later and are no length to hold the
/// decoded audio against. A WAV's length is left out: a WAV that ends before its header says is
/// told so on its own.
void FfmpegReader::State::noteLengths(std::int64_t headerDuration) {
    const AVStream& stream = *demuxer->streams[streamIndex];
    if (decoder->sample_rate <= 0 || stream.time_base.num <= 0 || stream.time_base.den <= 0)
        return;
    framesPerTick = av_q2d(stream.time_base) * decoder->sample_rate;
    if (headerDuration == AV_NOPTS_VALUE || headerDuration <= 0 ||
        std::string_view(demuxer->iformat->name) == "wav")
        return;
    // An overflow gives a negative length.
    const std::int64_t frames =
        av_rescale_q(headerDuration, stream.time_base, AVRational{1, decoder->sample_rate});
    if (frames > 0 && frames <= plausibleLength)
        declaredLength = frames;
}

} // namespace tavrin

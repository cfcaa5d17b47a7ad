#include "decode/FfmpegCodecs.h"

#include "decode/FfmpegReader.h"

extern "C" {
#include <libavutil/error.h>
}

namespace tavrin {

CodecInfo codecInfo(AVCodecID id) {
    switch (id) {
    case AV_CODEC_ID_MP3:
        return {AudioCodec::mp3};
    case AV_CODEC_ID_ALAC:
        return {AudioCodec::appleLossless};
    case AV_CODEC_ID_FLAC:
        return {AudioCodec::flac};
    case AV_CODEC_ID_AAC:
    case AV_CODEC_ID_AAC_LATM:
        return {AudioCodec::aac};
    case AV_CODEC_ID_PCM_F16LE:
    case AV_CODEC_ID_PCM_F24LE:
    case AV_CODEC_ID_PCM_F32LE:
    case AV_CODEC_ID_PCM_F32BE:
    case AV_CODEC_ID_PCM_F64LE:
    case AV_CODEC_ID_PCM_F64BE:
        return {AudioCodec::linearPCM, true};
    case AV_CODEC_ID_PCM_S8:
    case AV_CODEC_ID_PCM_U8:
    case AV_CODEC_ID_PCM_S8_PLANAR:
    case AV_CODEC_ID_PCM_S16LE:
    case AV_CODEC_ID_PCM_S16BE:
    case AV_CODEC_ID_PCM_U16LE:
    case AV_CODEC_ID_PCM_U16BE:
    case AV_CODEC_ID_PCM_S16LE_PLANAR:
    case AV_CODEC_ID_PCM_S16BE_PLANAR:
    case AV_CODEC_ID_PCM_S24LE:
    case AV_CODEC_ID_PCM_S24BE:
    case AV_CODEC_ID_PCM_U24LE:
    case AV_CODEC_ID_PCM_U24BE:
    case AV_CODEC_ID_PCM_S24LE_PLANAR:
    case AV_CODEC_ID_PCM_S32LE:
    case AV_CODEC_ID_PCM_S32BE:
    case AV_CODEC_ID_PCM_U32LE:
    case AV_CODEC_ID_PCM_U32BE:
    case AV_CODEC_ID_PCM_S32LE_PLANAR:
    case AV_CODEC_ID_PCM_S64LE:
    case AV_CODEC_ID_PCM_S64BE:
        return {AudioCodec::linearPCM, false};
    default:
        return {};
    }
}

std::string ffmpegErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(code, text, sizeof text) == 0)
        return text;
    return "Unknown decoding error";
}

int ffmpegChecked(int result) {
    if (result < 0)
        throw FfmpegError(ffmpegErrorText(result));
    return result;
}

} // namespace tavrin

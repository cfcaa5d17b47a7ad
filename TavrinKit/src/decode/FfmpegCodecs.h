#pragma once

// Private to TavrinKit: what each of FFmpeg's codecs is, as the format description tells it.

#include "tavrin/decode/AudioFileFormat.h"

extern "C" {
#include <libavcodec/codec_id.h>
}

#include <string>

namespace tavrin {

struct CodecInfo {
    AudioCodec codec = AudioCodec::other;
    bool isFloat = false;
};

CodecInfo codecInfo(AVCodecID id);

/// A readable description of an FFmpeg error code, never a bare number.
std::string ffmpegErrorText(int code);

/// `result`, unless it is an FFmpeg error code: then throws FfmpegError with its text.
int ffmpegChecked(int result);

} // namespace tavrin

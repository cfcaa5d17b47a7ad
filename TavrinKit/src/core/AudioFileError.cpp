#include "tavrin/core/AudioFileError.h"

namespace tavrin {

AudioFileError::AudioFileError(Kind kind, const std::string& message)
    : std::runtime_error(message), m_kind(kind) {}

AudioFileError AudioFileError::unreadable(std::string message) {
    return AudioFileError(Kind::unreadable, message);
}

AudioFileError AudioFileError::unwritable(std::string message) {
    return AudioFileError(Kind::unwritable, message);
}

bool AudioFileError::operator==(const AudioFileError& other) const {
    return m_kind == other.m_kind && std::string_view(what()) == other.what();
}

} // namespace tavrin

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

AudioFileError AudioFileError::cantOpenAsAudio(std::string_view reason) {
    return unreadable("Can't open this file as audio (" + std::string(reason) + ").");
}

AudioFileError AudioFileError::readingStopped(std::string_view reason) {
    return unreadable("Reading stopped part way (" + std::string(reason) + ").");
}

AudioFileError AudioFileError::unmeasurableRate(double rate) {
    return unreadable("The file claims a sample rate of " +
                      std::to_string(static_cast<long long>(rate)) +
                      " Hz, which can't be measured.");
}

AudioFileError AudioFileError::cantOpenOriginal(std::string_view reason) {
    return unreadable("Can't open the original (" + std::string(reason) + ").");
}

AudioFileError AudioFileError::originalStopped(std::string_view reason) {
    return unreadable("Reading the original stopped part way (" + std::string(reason) + ").");
}

AudioFileError AudioFileError::cantCreate(std::string_view name, std::string_view reason) {
    return unwritable("Can't create " + std::string(name) + " (" + std::string(reason) + ").");
}

AudioFileError AudioFileError::writingStopped(std::string_view reason) {
    return unwritable("Writing stopped part way (" + std::string(reason) + ").");
}

AudioFileError AudioFileError::alreadyExists(std::string_view name) {
    return unwritable(std::string(name) + " already exists; Tavrin never overwrites files.");
}

bool AudioFileError::operator==(const AudioFileError& other) const {
    return m_kind == other.m_kind && std::string_view(what()) == other.what();
}

} // namespace tavrin

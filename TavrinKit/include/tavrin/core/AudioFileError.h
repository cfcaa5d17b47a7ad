#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace tavrin {

/// A failure at the audio file boundary that a user can meet. what() is the whole sentence shown
/// to the user, unchanged: no library codes or exception text are added to it.
class AudioFileError : public std::runtime_error {
public:
    enum class Kind {
        unreadable, ///< a file being read: an original, or a file being measured
        unwritable  ///< a copy being written
    };

    /// The sentences of the files Tavrin reads and writes, every one of them here.
    static constexpr std::string_view outOfMemory = "Not enough memory to read the file.";
    static constexpr std::string_view outOfMemoryWriting = "Not enough memory to write the file.";
    /// A file that declares audio of which not one frame could be decoded: damaged throughout, or
    /// encoded in a way the decoder can't follow. Never a silent file.
    static constexpr std::string_view nothingDecoded =
        "None of the file’s audio could be decoded: it is damaged, or encoded in a way that can’t "
        "be read.";
    static constexpr std::string_view invalidSamples =
        "The file holds invalid samples (not a number or infinite).";
    static constexpr std::string_view noAudioChannels = "The file has no audio channels.";
    /// A file to measure that can't be opened, for `reason`.
    static AudioFileError cantOpenAsAudio(std::string_view reason);
    /// A file being measured that stopped being read, for `reason`.
    static AudioFileError readingStopped(std::string_view reason);
    /// A file that claims a rate outside those measured.
    static AudioFileError unmeasurableRate(double rate);
    /// An original to copy that can't be opened, or stopped being read, for `reason`.
    static AudioFileError cantOpenOriginal(std::string_view reason);
    static AudioFileError originalStopped(std::string_view reason);
    /// A copy that can't be created, or stopped being written, for `reason`.
    static AudioFileError cantCreate(std::string_view name, std::string_view reason);
    static AudioFileError writingStopped(std::string_view reason);
    /// A copy whose name another file took.
    static AudioFileError alreadyExists(std::string_view name);

    static AudioFileError unreadable(std::string message);
    static AudioFileError unwritable(std::string message);

    Kind kind() const { return m_kind; }

    /// Same kind and same text.
    bool operator==(const AudioFileError& other) const;

private:
    AudioFileError(Kind kind, const std::string& message);

    Kind m_kind;
};

} // namespace tavrin

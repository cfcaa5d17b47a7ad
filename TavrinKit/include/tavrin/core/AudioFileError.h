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

    /// The sentence for a file that needs more memory than there is.
    static constexpr std::string_view outOfMemory = "Not enough memory to read the file.";
    /// The sentence for a file that declares audio of which not one frame could be decoded:
    /// damaged throughout, or encoded in a way the decoder can't follow. Never a silent file.
    static constexpr std::string_view nothingDecoded =
        "None of the file’s audio could be decoded: it is damaged, or encoded in a way that can’t "
        "be read.";

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

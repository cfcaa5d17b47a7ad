#pragma once

#include <stdexcept>
#include <string>

namespace tavrin {

/// A failure at the audio file boundary that a user can meet. what() is the whole sentence shown
/// to the user, unchanged: no library codes or exception text are added to it.
class AudioFileError : public std::runtime_error {
public:
    enum class Kind {
        unreadable, ///< a file being read: an original, or a file being measured
        unwritable  ///< a copy being written
    };

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

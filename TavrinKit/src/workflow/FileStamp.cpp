#include "tavrin/workflow/FileStamp.h"

#include "tavrin/core/AudioFileError.h"
#include "tavrin/decode/Provenance.h"

#include <chrono>
#include <system_error>

namespace tavrin::Session {
namespace fs = std::filesystem;

std::optional<FileStamp> sizeAndTimeOf(const fs::path& file) {
    std::error_code error;
    if (!fs::is_regular_file(file, error))
        return std::nullopt;
    const auto size = fs::file_size(file, error);
    const auto modified = error ? fs::file_time_type{} : fs::last_write_time(file, error);
    if (error)
        return std::nullopt;
    const auto since1970 = std::chrono::file_clock::to_sys(modified).time_since_epoch();
    return FileStamp{size, std::chrono::duration_cast<std::chrono::nanoseconds>(since1970).count()};
}

std::optional<FileStamp> digested(const fs::path& file, FileStamp measured,
                                  const CancelCheck& isCancelled) {
    if (look(file, measured) != State::unchanged)
        return std::nullopt;
    try {
        measured.sha256 = sha256Of(file, isCancelled);
    } catch (const AudioFileError&) {
        return std::nullopt;
    }
    // Changed while it was read: the digest may be of neither version.
    return look(file, measured) == State::unchanged ? std::optional(measured) : std::nullopt;
}

std::optional<FileStamp> stampOf(const fs::path& file, const CancelCheck& isCancelled) {
    const auto now = sizeAndTimeOf(file);
    return now ? digested(file, *now, isCancelled) : std::nullopt;
}

State look(const fs::path& file, const FileStamp& stamp) {
    const auto now = sizeAndTimeOf(file);
    if (!now)
        return State::missing;
    return now->size == stamp.size && now->modified == stamp.modified ? State::unchanged
                                                                      : State::changed;
}

State verify(const fs::path& file, const FileStamp& stamp, Verify how,
             const CancelCheck& isCancelled) {
    const auto now = sizeAndTimeOf(file);
    if (!now)
        return State::missing;
    if (now->size != stamp.size)
        return State::changed;
    if (now->modified == stamp.modified && how == Verify::onlyWhenChanged)
        return State::unchanged;
    try {
        return freshSha256Of(file, isCancelled) == stamp.sha256 ? State::unchanged : State::changed;
    } catch (const AudioFileError&) {
        return State::changed;
    }
}

State verify(const fs::path& file, const std::optional<FileStamp>& stamp, Verify how,
             const CancelCheck& isCancelled) {
    if (stamp)
        return verify(file, *stamp, how, isCancelled);
    std::error_code error;
    return fs::exists(file, error) ? State::unchanged : State::missing;
}

} // namespace tavrin::Session

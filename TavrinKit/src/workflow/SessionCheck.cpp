#include "tavrin/core/AudioFileError.h"
#include "tavrin/workflow/Session.h"
#include "tavrin/workflow/WorkflowTexts.h"

#include <chrono>
#include <system_error>

namespace tavrin::Session {
namespace {

namespace fs = std::filesystem;

/// The size and time of `file` as a stamp without its digest; absent when it is not a file.
std::optional<FileStamp> sizeAndTime(const fs::path& file) {
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

} // namespace

FileStamp stampOf(const fs::path& file, const CancelCheck& isCancelled) {
    auto stamp = sizeAndTime(file);
    if (!stamp)
        throw AudioFileError::unreadable(Workflow::sessionCantReadMessage(
            file.filename().string(), std::make_error_code(std::errc::no_such_file_or_directory)));
    stamp->sha256 = sha256Of(file, isCancelled);
    return *stamp;
}

State look(const fs::path& file, const FileStamp& stamp) {
    const auto now = sizeAndTime(file);
    if (!now)
        return State::missing;
    return now->size == stamp.size && now->modified == stamp.modified ? State::unchanged
                                                                      : State::changed;
}

State verify(const fs::path& file, const FileStamp& stamp, Verify how,
             const CancelCheck& isCancelled) {
    const auto now = sizeAndTime(file);
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

} // namespace tavrin::Session

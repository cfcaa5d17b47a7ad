#pragma once

#include "tavrin/core/Cancellation.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

/// Files as they were on disk when they were measured or written, and what became of them since:
/// what ties a saved session to the very bytes it checked.
namespace tavrin::Session {

/// A file as it was on disk when it was measured or written.
struct FileStamp {
    std::uintmax_t size = 0;
    std::int64_t modified = 0; ///< nanoseconds since 1970-01-01 UTC
    std::string sha256{};      ///< of its bytes, lowercase hex; empty until it is needed
    bool operator==(const FileStamp&) const = default;
};

/// The size and time of `file` now, without its digest; absent when it isn't a regular file.
std::optional<FileStamp> sizeAndTimeOf(const std::filesystem::path& file);

/// `measured`, the size and time `file` had when it was measured, with the digest of its bytes;
/// absent when it has changed since or can't be read. Throws Cancelled.
std::optional<FileStamp> digested(const std::filesystem::path& file, FileStamp measured,
                                  const CancelCheck& isCancelled = {});
/// The stamp of `file` as it is now, digest included; absent when it can't be read. Throws
/// Cancelled.
std::optional<FileStamp> stampOf(const std::filesystem::path& file,
                                 const CancelCheck& isCancelled = {});

/// What became of a file since its stamp was taken.
enum class State { unchanged, changed, missing };

/// When a file's bytes are read again to compare their SHA-256 with its stamp's.
enum class Verify {
    always,          ///< every file, even when its size and time are as saved
    onlyWhenChanged, ///< only files whose time changed while their size didn't
};

/// Whether `file` is still as `stamp` says from its size and modification time alone, without
/// reading it: missing when it is gone (or no longer a file), changed when either differs.
State look(const std::filesystem::path& file, const FileStamp& stamp);

/// Whether `file` still holds the bytes `stamp` names. Its size settles a difference; a file of
/// the same size whose time changed is read and its SHA-256 compared, and one whose time is the
/// same too only under Verify::always. A file that can't be read counts as changed (measuring it
/// again says why). Throws Cancelled when `isCancelled` stops the work.
State verify(const std::filesystem::path& file, const FileStamp& stamp, Verify how,
             const CancelCheck& isCancelled = {});
/// As verify(), for a file that may have been saved without a stamp (it couldn't be read then):
/// such a file can only be found missing.
State verify(const std::filesystem::path& file, const std::optional<FileStamp>& stamp, Verify how,
             const CancelCheck& isCancelled = {});

} // namespace tavrin::Session

#pragma once

#include "tavrin/core/Cancellation.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace tavrin::AudioTypes {

/// The path's extension without its dot, in lower case ASCII ("wav" for "Take.WAV"); empty when
/// there is none.
std::string lowerExtension(const std::filesystem::path& path);

/// True when the path's extension, in any letter case, is one of wav, wave, bwf, aif, aiff, aifc,
/// mp3, m4a, aac, mp4, flac, caf. A name without extension is not supported.
bool isSupported(const std::filesystem::path& path);

/// True for the extensions of AIFF and AIFF-C files (aif, aiff, aifc), in any letter case.
bool isAiff(const std::filesystem::path& path);

/// True when an existing file at `path` (symbolic links followed) holds audio by its name or its
/// bytes: a supported extension, or a start like that of a WAV, AIFF, CAF, FLAC, MP3, AAC, MP4,
/// Ogg or other common audio file whatever its name. Never throws; false when nothing is there.
bool isExistingAudio(const std::filesystem::path& path);

/// True when `path` and one of `files` are the same existing file however each is spelled
/// (symbolic links, "..", another hard link). Never throws.
bool isAmong(const std::filesystem::path& path, const std::vector<std::filesystem::path>& files);

/// The audio files to measure from a user's selection of files and folders, in the selection's
/// order. Only regular files are listed (never a pipe or a device). Folders are searched
/// recursively without following symbolic links; hidden names and application-like packages are
/// skipped and not entered; a folder that cannot be read adds nothing. Each folder's files come in
/// file-browser order (case ignored, numbers by value, so "Take 2" before "Take 10"). Paths are
/// absolute and lexically normalised; a file met twice is listed once, at its first place. Never
/// throws for file system reasons.
std::vector<std::filesystem::path> audioFiles(const std::vector<std::filesystem::path>& selection);

/// Told how many audio files a search has met so far, on the searching thread.
using FoundFn = std::function<void(std::size_t found)>;

/// audioFiles for a search that may take long (a big tree, a network share): every few dozen
/// entries it tells `found` how many audio files it has met so far and stops with Cancelled when
/// `isCancelled` says so. Either function may be empty.
std::vector<std::filesystem::path> audioFiles(const std::vector<std::filesystem::path>& selection,
                                              const FoundFn& found, const CancelCheck& isCancelled);

/// A path of the selection, or a folder inside it, that gave no audio files although it was meant
/// to: what a command-line user named must be accounted for.
struct Unusable {
    enum class Reason {
        missing,         ///< nothing at the path
        notAudio,        ///< a named file without a supported extension
        hidden,          ///< a named file whose name starts with "."
        notARegularFile, ///< a named pipe, device or socket
        unreadable,      ///< a folder (named or inside one) that could not be listed, or a
                         ///< path whose type could not be read
    };
    std::filesystem::path path;
    Reason reason = Reason::missing;
    std::error_code error{}; ///< the system's reason, when unreadable
    bool operator==(const Unusable&) const = default;
};

/// What a selection holds: the files audioFiles lists, the paths that were unusable, and how
/// many other files the folders held (documents, pictures: skipped without a word). Hidden names
/// and packages inside folders are neither listed nor counted.
struct Selection {
    std::vector<std::filesystem::path> files;
    std::vector<Unusable> unusable;
    std::size_t otherFiles = 0;
};
Selection scan(const std::vector<std::filesystem::path>& selection);

/// The order `audioFiles` gives a folder's files, for sorting names elsewhere: the user's locale,
/// case ignored, numbers by value; names equal but for case are ordered by their bytes. Opening
/// the collator is costly, so keep one rather than making one per comparison.
class NameOrder {
public:
    NameOrder();
    ~NameOrder();
    NameOrder(NameOrder&&) noexcept;
    NameOrder& operator=(NameOrder&&) noexcept;
    /// True when `a` comes before `b`.
    bool operator()(const std::filesystem::path& a, const std::filesystem::path& b) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace tavrin::AudioTypes

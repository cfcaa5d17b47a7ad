#pragma once

#include <filesystem>
#include <string>
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

/// The audio files to measure from a user's selection of files and folders, in the selection's
/// order. Only regular files are listed (never a pipe or a device). Folders are searched
/// recursively without following symbolic links; hidden names and application-like packages are
/// skipped and not entered; a folder that cannot be read adds nothing. Each folder's files come in
/// file-browser order (case ignored, numbers by value, so "Take 2" before "Take 10"). Paths are
/// absolute and lexically normalised; a file met twice is listed once, at its first place. Never
/// throws for file system reasons.
std::vector<std::filesystem::path> audioFiles(const std::vector<std::filesystem::path>& selection);

} // namespace tavrin::AudioTypes

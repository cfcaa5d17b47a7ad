#pragma once

// Private to TavrinKit: how the copies of one original for one label are named.

#include "tavrin/copies/GainWriter.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::GainWriter {

/// folder / stem + [" " number] + extension, with the stem "Take (EBU R 128)" and the extension
/// of the copy's format: AIFF originals get AIFF copies and everything else WAV, unless the copy
/// keeps the original's delivery format.
class CopyName {
public:
    CopyName(const std::filesystem::path& original, std::string_view label,
             const std::optional<std::filesystem::path>& folder, CopyFormat format);

    /// The name with `number`; 1 has none.
    std::filesystem::path numbered(int number) const;
    /// The first numbered name that nothing (not even a dangling link) takes.
    std::filesystem::path firstFree() const;
    /// The existing files numbered() could have named, in name order; none when the folder can't
    /// be listed.
    std::vector<std::filesystem::path> existing() const;

private:
    bool names(const std::string& name) const;

    std::filesystem::path m_folder;
    std::string m_stem;
    std::string m_extension;
};

/// Whether anything, even a dangling link, takes the name `path`.
bool isTaken(const std::filesystem::path& path);

} // namespace tavrin::GainWriter

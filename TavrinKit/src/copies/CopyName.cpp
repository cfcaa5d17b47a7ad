#include "copies/CopyName.h"

#include "copies/FfmpegEncoder.h"
#include "decode/FfmpegReader.h"
#include "tavrin/core/AudioTypes.h"

#include <algorithm>
#include <system_error>

namespace tavrin::GainWriter {
namespace {

namespace fs = std::filesystem;

/// Finding the delivery format means opening the original; one that can't be opened gets the WAV
/// name, and writing it then says why.
const char* copyExtension(const fs::path& original, CopyFormat format) {
    if (format == CopyFormat::original) {
        try {
            const FfmpegReader reader(original);
            if (const auto codec = deliveryCodec(original, reader.format().codec))
                return deliveryExtension(*codec);
        } catch (const FfmpegError&) {
        }
    }
    return AudioTypes::isAiff(original) ? ".aif" : ".wav";
}

} // namespace

bool isTaken(const fs::path& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

CopyName::CopyName(const fs::path& original, std::string_view label,
                   const std::optional<fs::path>& folder, CopyFormat format)
    : m_folder(folder ? *folder : original.parent_path()),
      m_stem(original.stem().string() + " (" + std::string(label) + ")"),
      m_extension(copyExtension(original, format)) {}

fs::path CopyName::numbered(int number) const {
    return m_folder / (m_stem + (number > 1 ? " " + std::to_string(number) : "") + m_extension);
}

fs::path CopyName::firstFree() const {
    int number = 1;
    while (isTaken(numbered(number)))
        ++number;
    return numbered(number);
}

std::vector<fs::path> CopyName::existing() const {
    std::vector<fs::path> copies;
    std::error_code error;
    for (fs::directory_iterator entry(m_folder, error), end; !error && entry != end;
         entry.increment(error))
        if (names(entry->path().filename().string()))
            copies.push_back(entry->path());
    std::sort(copies.begin(), copies.end());
    return copies;
}

bool CopyName::names(const std::string& name) const {
    if (!name.starts_with(m_stem) || !name.ends_with(m_extension) ||
        name.size() < m_stem.size() + m_extension.size())
        return false;
    const std::string number =
        name.substr(m_stem.size(), name.size() - m_stem.size() - m_extension.size());
    return number.empty() || (number.size() > 1 && number[0] == ' ' && number[1] != '0' &&
                              std::all_of(number.begin() + 1, number.end(),
                                          [](char c) { return c >= '0' && c <= '9'; }));
}

std::vector<fs::path> namedLikeCopies(const fs::path& original, std::string_view label,
                                      const std::optional<fs::path>& folder, CopyFormat format) {
    return CopyName(original, label, folder, format).existing();
}

fs::path destination(const fs::path& original, std::string_view label,
                     const std::optional<fs::path>& folder, CopyFormat format) {
    return CopyName(original, label, folder, format).firstFree();
}

} // namespace tavrin::GainWriter

#include "copies/CarriedTags.h"

#include "copies/Id3v2Tag.h"
#include "copies/Mp4Items.h"
#include "tavrin/decode/Provenance.h"

#include <algorithm>
#include <cctype>

namespace tavrin {
namespace {

std::string lowerCase(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

/// Besides the tags dropsTag() names, the encoder's name, the gain's own frames, and the frames
/// that point at bytes of the original's audio, which the copy's are not.
bool dropsFrame(const Id3v2Tag::Frame& frame) {
    static constexpr std::string_view dropped[] = {"TSSE", "RVA2", "RVAD", "MLLT", "ASPI", "SEEK"};
    return std::ranges::find(dropped, frame.id) != std::end(dropped) ||
           ((frame.id == "TXXX" || frame.id == "COMM") && dropsTag(Id3v2Tag::description(frame)));
}

} // namespace

bool dropsTag(std::string_view key) {
    const std::string k = lowerCase(key);
    return k.starts_with("replaygain_") || (k.starts_with("r128_") && k.ends_with("_gain")) ||
           k == "itunnorm" || k == "itunsmpb" || k == lowerCase(provenanceTag) || k == "encoder" ||
           k == "major_brand" || k == "minor_version" || k == "compatible_brands";
}

std::optional<std::string> carriedId3Tag(const std::filesystem::path& original,
                                         const std::string& record) {
    auto tag = Id3v2Tag::read(original);
    if (!tag)
        return std::nullopt;
    std::erase_if(tag->frames, dropsFrame);
    if (!record.empty())
        tag->frames.push_back(Id3v2Tag::userText(tag->version, provenanceTag, record));
    return Id3v2Tag::bytes(*tag);
}

std::optional<std::vector<FlacBlocks::Block>>
carriedFlacBlocks(const std::filesystem::path& original, const std::string& record,
                  const std::string& vendor) {
    const auto blocks = FlacBlocks::read(original);
    if (!blocks)
        return std::nullopt;
    FlacBlocks::Comments comments{vendor, {}};
    std::vector<FlacBlocks::Block> kept;
    for (const FlacBlocks::Block& block : *blocks) {
        if (block.type == FlacBlocks::vorbisComment) {
            const auto found = FlacBlocks::comments(block);
            if (!found)
                return std::nullopt;
            for (const std::string& entry : found->entries)
                if (!dropsTag(entry.substr(0, entry.find('='))))
                    comments.entries.push_back(entry);
        } else if (block.type == FlacBlocks::picture || block.type == FlacBlocks::cueSheet ||
                   block.type == FlacBlocks::application) {
            kept.push_back(block);
        }
    }
    if (!record.empty())
        comments.entries.push_back(std::string(provenanceTag) + "=" + record);
    kept.insert(kept.begin(), FlacBlocks::commentBlock(comments));
    return kept;
}

std::optional<std::vector<std::string>> carriedMp4Items(const std::filesystem::path& original,
                                                        const std::string& record) {
    auto items = Mp4Items::read(original);
    if (!items)
        return std::nullopt;
    std::erase_if(*items, [](const std::string& item) {
        return Mp4Items::type(item) == "\xA9too" || dropsTag(Mp4Items::freeformName(item));
    });
    if (!record.empty())
        items->push_back(Mp4Items::freeform(provenanceTag, record));
    return items;
}

} // namespace tavrin

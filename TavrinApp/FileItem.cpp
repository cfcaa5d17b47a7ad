#include "FileItem.h"

namespace tavrin::app {

const LoudnessResult* FileItem::result() const {
    const auto* measured = std::get_if<Reading::Measured>(&reading.value);
    return measured ? &measured->result : nullptr;
}

bool FileItem::unmeasured() const {
    return std::holds_alternative<Reading::Waiting>(reading.value) ||
           std::holds_alternative<Reading::Measuring>(reading.value);
}

const std::vector<Finding>& FileItem::findings() const {
    static const std::vector<Finding> none;
    const auto* measured = std::get_if<Reading::Measured>(&reading.value);
    return measured ? measured->findings : none;
}

const Provenance* FileItem::provenance() const {
    const auto* measured = std::get_if<Reading::Measured>(&reading.value);
    return measured && measured->provenance ? &*measured->provenance : nullptr;
}

const FileItem::FixState* FileItem::fixFor(const std::string& specID) const {
    const auto found = fixes.find(specID);
    return found == fixes.end() ? nullptr : &found->second;
}

} // namespace tavrin::app

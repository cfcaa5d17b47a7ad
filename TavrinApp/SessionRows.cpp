#include "SessionRows.h"

namespace tavrin::app {

Session::Row sessionRow(const FileItem& item) {
    using Reading = FileItem::Reading;
    Session::Row row{item.url, std::nullopt, item.format};
    if (const auto* measured = std::get_if<Reading::Measured>(&item.reading.value)) {
        row.stamp = measured->stamp;
        row.result = measured->result;
        row.findings = measured->findings;
        row.provenance = measured->provenance;
    } else if (const auto* failed = std::get_if<Reading::Failed>(&item.reading.value)) {
        row.error = failed->message;
    }
    for (const auto& [specID, fix] : item.fixes)
        if (const auto* done = std::get_if<FileItem::FixState::Done>(&fix.value);
            done && done->onDiskAsWritten())
            row.copies.emplace(specID, Session::Copy{done->copy, done->stamp, done->gain,
                                                     done->limiting, done->encoding,
                                                     done->ofDamaged, done->result, done->note});
    return row;
}

FileItem itemOf(const Session::Row& row) {
    using Reading = FileItem::Reading;
    FileItem item{QUuid::createUuid(), row.path, row.format, {Reading::Waiting{}}};
    if (row.result)
        item.reading = {
            Reading::Measured{*row.result, row.findings, row.provenance, nullptr, row.stamp}};
    else if (row.error)
        item.reading = {Reading::Failed{*row.error}};
    for (const auto& [specID, copy] : row.copies)
        item.fixes[specID] = {FileItem::FixState::Done{copy.path, copy.result, copy.note,
                                                       copy.limiting, copy.encoding, copy.ofDamaged,
                                                       copy.gain, copy.stamp}};
    return item;
}

void completeDigests(Session::Record& record, const CancelCheck& isCancelled) {
    const auto complete = [&](const std::filesystem::path& file, Session::FileStamp stamp) {
        return stamp.sha256.empty() ? Session::digested(file, stamp, isCancelled)
                                    : std::optional(std::move(stamp));
    };
    for (Session::Row& row : record.rows) {
        if (row.stamp)
            row.stamp = complete(row.path, *row.stamp);
        for (auto copy = row.copies.begin(); copy != row.copies.end();) {
            if (auto stamp = complete(copy->second.path, copy->second.stamp)) {
                copy->second.stamp = std::move(*stamp);
                ++copy;
            } else {
                copy = row.copies.erase(copy);
            }
        }
    }
}

} // namespace tavrin::app

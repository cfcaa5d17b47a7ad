#include "Sessions.h"

#include "CliTexts.h"
#include "tavrin/workflow/Session.h"
#include "tavrin/workflow/TargetFiles.h"
#include "tavrin/workflow/WorkflowTexts.h"

#include <nlohmann/json.hpp>
#include <system_error>

namespace tavrin::cli {
namespace {

namespace fs = std::filesystem;
using Session::State;

/// The file as `reading` measured it: stamped with the size and time it had then, and its digest
/// while it still has them.
Session::Row rowOf(const fs::path& file, const Reading& reading, const CancelCheck& isCancelled) {
    return {fs::absolute(file).lexically_normal(),
            reading.stamp ? Session::digested(file, *reading.stamp, isCancelled) : std::nullopt,
            reading.format,
            reading.result,
            reading.error,
            reading.findings,
            reading.provenance};
}

/// The copy a fix wrote, stamped now; nothing when it can't be read back.
std::optional<Session::Copy> copyOf(const FileFix& fix, const CancelCheck& isCancelled) {
    const auto* written = fix.written();
    if (!written)
        return std::nullopt;
    const auto stamp = Session::stampOf(written->copy, isCancelled);
    if (!stamp)
        return std::nullopt;
    const auto* gain = fix.plan ? std::get_if<FixPlan::Gain>(&fix.plan->value) : nullptr;
    return Session::Copy{fs::absolute(written->copy).lexically_normal(),
                         *stamp,
                         written->gain,
                         written->limiting,
                         written->encoding,
                         written->ofDamaged,
                         written->result,
                         gain && !written->limiting ? gain->remark() : std::nullopt};
}

std::string_view rawValue(State state) {
    switch (state) {
    case State::unchanged:
        return "unchanged";
    case State::changed:
        return "changed";
    case State::missing:
        return "missing";
    }
    return {};
}

void printRow(std::ostream& out, const Session::Row& row, const Session::RowCheck& found,
              bool json) {
    if (json) {
        nlohmann::ordered_json line = {{"file", row.path.string()},
                                       {"state", rawValue(found.original)},
                                       {"copies", nlohmann::ordered_json::array()}};
        for (const auto& [preset, copyState] : found.copies)
            line["copies"].push_back({{"preset", preset},
                                      {"copy", row.copies.at(preset).path.string()},
                                      {"state", rawValue(copyState)}});
        out << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        return;
    }
    if (found.original == State::changed)
        out << Workflow::changedSinceSaved << ": " << row.path.string() << "\n";
    else if (found.original == State::missing)
        out << Workflow::missingMessage(row.path) << "\n";
    for (const auto& [preset, copyState] : found.copies)
        out << Workflow::copyNotAsWritten(copyState) << ": " << row.copies.at(preset).path.string()
            << "\n";
}

} // namespace

bool saveSession(const std::string& path, const std::vector<fs::path>& files,
                 const std::vector<Reading>& readings, const std::vector<FileFix>* fixes,
                 const Options& options, const DeliverySpec& spec, Context& context) {
    Session::Record record{spec.id, options.dualMono, options.damage};
    if (Workflow::isNamedTargetId(spec.id))
        record.target = spec;
    for (std::size_t i = 0; i < files.size(); ++i) {
        record.rows.push_back(rowOf(files[i], readings[i], context.isCancelled));
        if (const auto copy = fixes ? copyOf((*fixes)[i], context.isCancelled) : std::nullopt)
            record.rows.back().copies.emplace(spec.id, *copy);
    }
    try {
        Session::save(path, record);
        return true;
    } catch (const std::system_error& e) {
        context.err << Workflow::sessionCantSaveMessage(fs::absolute(path), e.code()) << "\n";
        return false;
    }
}

int verify(const fs::path& path, const Options& options, Context& context) {
    Session::Record record;
    try {
        record = Session::load(path);
    } catch (const Session::Unreadable& e) {
        context.err << e.what() << "\n";
        return exitUnreadable;
    }
    const bool progress = context.terminal.progress && !options.quiet;
    CliTexts::VerifyCounts counts{record.rows.size()};
    for (std::size_t i = 0; i < record.rows.size(); ++i) {
        const Session::Row& row = record.rows[i];
        if (progress)
            context.err << "\r\033[K"
                        << CliTexts::verifying(i + 1, record.rows.size(),
                                               row.path.filename().string())
                        << std::flush;
        const Session::RowCheck found = Session::check(row, record.verify, context.isCancelled);
        counts.changed += found.original == State::changed;
        counts.missing += found.original == State::missing;
        counts.copies += row.copies.size();
        for (const auto& [preset, copyState] : found.copies)
            (copyState == State::missing ? counts.copiesMissing : counts.copiesChanged) += 1;
        if (!found.asSaved()) {
            if (progress)
                context.err << "\r\033[K" << std::flush;
            printRow(context.out, row, found, options.json);
        }
    }
    if (progress)
        context.err << "\r\033[K" << std::flush;
    (options.json ? context.err : context.out) << CliTexts::verified(counts) << "\n";
    return counts.allAsSaved() ? exitPass : exitFail;
}

} // namespace tavrin::cli

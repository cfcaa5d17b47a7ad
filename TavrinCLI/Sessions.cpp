#include "Sessions.h"

#include "CliTexts.h"
#include "tavrin/core/AudioFileError.h"
#include "tavrin/workflow/Session.h"
#include "tavrin/workflow/WorkflowTexts.h"

#include <nlohmann/json.hpp>
#include <system_error>

namespace tavrin::cli {
namespace {

namespace fs = std::filesystem;
using Session::State;

/// The stamp of `file`, or nothing when it can't be read to the end.
std::optional<Session::FileStamp> stamped(const fs::path& file, const CancelCheck& isCancelled) {
    try {
        return Session::stampOf(file, isCancelled);
    } catch (const AudioFileError&) {
        return std::nullopt;
    }
}

Session::Row rowOf(const fs::path& file, const Reading& reading, const CancelCheck& isCancelled) {
    return {fs::absolute(file).lexically_normal(),
            stamped(file, isCancelled),
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
    const auto stamp = stamped(written->copy, isCancelled);
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
                         gain && !written->limiting ? gain->note : std::nullopt};
}

/// What became of one file and its copies since the session was saved.
struct RowState {
    State original = State::unchanged;
    std::vector<std::pair<const std::string*, State>> changedCopies; ///< by preset id
    bool asSaved() const { return original == State::unchanged && changedCopies.empty(); }
};

RowState verifyRow(const Session::Row& row, Session::Verify how, const CancelCheck& isCancelled) {
    RowState state;
    state.original = row.stamp ? Session::verify(row.path, *row.stamp, how, isCancelled)
                     : fs::exists(row.path) ? State::unchanged
                                            : State::missing;
    for (const auto& [preset, copy] : row.copies)
        if (const State copyState = Session::verify(copy.path, copy.stamp, how, isCancelled);
            copyState != State::unchanged)
            state.changedCopies.emplace_back(&preset, copyState);
    return state;
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

void printRow(std::ostream& out, const Session::Row& row, const RowState& state, bool json) {
    if (json) {
        nlohmann::ordered_json line = {{"file", row.path.string()},
                                       {"state", rawValue(state.original)},
                                       {"copies", nlohmann::ordered_json::array()}};
        for (const auto& [preset, copyState] : state.changedCopies)
            line["copies"].push_back({{"preset", *preset},
                                      {"copy", row.copies.at(*preset).path.string()},
                                      {"state", rawValue(copyState)}});
        out << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        return;
    }
    if (state.original == State::changed)
        out << Workflow::changedSinceSaved << ": " << row.path.string() << "\n";
    else if (state.original == State::missing)
        out << Workflow::missingMessage(row.path) << "\n";
    for (const auto& [preset, copyState] : state.changedCopies)
        out << (copyState == State::missing ? Workflow::copyMissing : Workflow::copyChanged) << ": "
            << row.copies.at(*preset).path.string() << "\n";
}

} // namespace

bool saveSession(const std::string& path, const std::vector<fs::path>& files,
                 const std::vector<Reading>& readings, const std::vector<FileFix>* fixes,
                 const Options& options, const DeliverySpec& spec, Context& context) {
    Session::Record record{spec.id, options.dualMono, options.damage};
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
        const RowState state = verifyRow(row, record.verify, context.isCancelled);
        counts.changed += state.original == State::changed;
        counts.missing += state.original == State::missing;
        counts.copies += row.copies.size();
        for (const auto& [preset, copyState] : state.changedCopies)
            (copyState == State::missing ? counts.copiesMissing : counts.copiesChanged) += 1;
        if (!state.asSaved()) {
            if (progress)
                context.err << "\r\033[K" << std::flush;
            printRow(context.out, row, state, options.json);
        }
    }
    if (progress)
        context.err << "\r\033[K" << std::flush;
    (options.json ? context.err : context.out) << CliTexts::verified(counts) << "\n";
    return counts.allAsSaved() ? exitPass : exitFail;
}

} // namespace tavrin::cli

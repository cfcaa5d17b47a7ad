#include "AppModelParts.h"
#include "tavrin/reports/Report.h"

#include <chrono>
#include <system_error>

namespace tavrin::app {

namespace {

/// What the reports' Fix column says of a fix state; nothing while it is queued or being written,
/// or when the row already passed.
std::optional<std::string> reportFixText(const FileItem::FixState& fix, const DeliverySpec& spec) {
    using State = FileItem::FixState;
    if (const auto* done = std::get_if<State::Done>(&fix.value))
        return Workflow::fixTextWritten(
            {done->copy, done->result, done->limiting, done->encoding, done->ofDamaged}, spec);
    if (const auto* failed = std::get_if<State::Failed>(&fix.value))
        return Workflow::fixTextFailed(failed->message);
    const auto* refused = std::get_if<State::Refused>(&fix.value);
    if (!refused)
        return std::nullopt;
    switch (refused->reason) {
    case State::Refused::Reason::needsLimiter:
        return std::string(Workflow::fixTextRefused);
    case State::Refused::Reason::byLimiter:
        return Workflow::fixTextNotLimited(refused->message);
    case State::Refused::Reason::damaged:
        break;
    }
    return refused->message; // the damage text is the reports' own
}

} // namespace

std::vector<ReportRow> AppModel::reportRows() const {
    std::vector<ReportRow> rows;
    rows.reserve(m_items.size());
    for (const FileItem& item : m_items) {
        std::optional<std::string> error;
        if (const auto* failed = std::get_if<FileItem::Reading::Failed>(&item.reading.value))
            error = failed->message;
        const auto* fix = item.fixFor(specID());
        std::optional<std::string> fixText =
            fix ? reportFixText(*fix, currentSpec()) : std::nullopt;
        const LoudnessResult* result = item.result();
        rows.push_back(Workflow::reportRow(
            item.url, item.format, result ? std::optional(*result) : std::nullopt, std::move(error),
            std::move(fixText), item.findings(), damagePolicy()));
    }
    return rows;
}

QString AppModel::reportBaseName() const {
    return "Loudness report – " + qs(currentSpec().shortName());
}

void AppModel::exportCSV() {
    saveReport([rows = reportRows(), spec = currentSpec()] { return Report::csv(rows, spec); },
               {QStringLiteral("CSV"), "csv"}, reportBaseName() + ".csv");
}

void AppModel::exportPDF() {
    const Report::PdfOptions options{a4Paper() ? Report::Paper::a4 : Report::Paper::letter,
                                     dualMono()};
    saveReport(
        [rows = reportRows(), spec = currentSpec(), date = std::chrono::system_clock::now(),
         options] {
            const auto pdf =
                Report::pdf(rows, spec, "Loudness report: " + spec.name, "Tavrin", date, options);
            return std::string(pdf.begin(), pdf.end());
        },
        {QStringLiteral("PDF"), "pdf"}, reportBaseName() + ".pdf");
}

void AppModel::saveReport(std::function<std::string()> render, const FileType& type,
                          const QString& suggestedName) {
    // Where the last report went; the first time, beside the files it is about.
    auto folder = m_settings.exportFolder();
    if (folder.empty() && !m_items.empty())
        folder = m_items.front().url.parent_path();
    m_desktop.chooseSaveFile(folder, suggestedName, type,
                             [this, render = std::move(render)](std::filesystem::path path) {
                                 m_settings.setExportFolder(path.parent_path());
                                 saveReportOffThread(render, path);
                             });
}

void AppModel::saveReportOffThread(const std::function<std::string()>& render,
                                   const std::filesystem::path& path) {
    std::vector<std::filesystem::path> listed;
    listed.reserve(m_items.size());
    for (const FileItem& item : m_items)
        listed.push_back(item.url);
    runThen(
        m_reportPool, this,
        [render, path, listed = std::move(listed)]() -> std::optional<std::string> {
            try {
                // The save panel lets a name be typed over any file, a listed one included.
                if (AudioTypes::isExistingAudio(path) || AudioTypes::isAmong(path, listed))
                    return Workflow::reportReplacesAudioMessage(path.filename().string());
                const std::string bytes = render();
                if (bytes.empty())
                    return std::string(Workflow::reportNotDrawn);
                Report::save(path, bytes);
            } catch (const std::system_error& error) {
                return Workflow::cantSaveReportMessage(path, error.code());
            } catch (...) {
                return std::string(Workflow::internalReportError);
            }
            return std::nullopt;
        },
        [this](std::optional<std::string> problem) {
            if (problem)
                setAlert(qs(Workflow::cantSaveReportTitle), qs(*problem));
        });
}

} // namespace tavrin::app

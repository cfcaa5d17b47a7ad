#include "ReportExport.h"

#include "Background.h"
#include "Paths.h"
#include "tavrin/reports/Report.h"
#include "tavrin/workflow/Workflow.h"

#include <chrono>
#include <system_error>

namespace tavrin::app {

namespace {

/// What the reports' Fix column says of a fix state; nothing while it is queued or being written,
/// or when the row already passed.
std::optional<std::string> reportFixText(const FileItem::FixState& fix, const DeliverySpec& spec) {
    using State = FileItem::FixState;
    if (const auto* done = std::get_if<State::Done>(&fix.value)) {
        // Never a name that isn't on disk as it was written.
        if (!done->onDiskAsWritten())
            return std::string(Workflow::copyNotAsWritten(done->onDisk));
        return Workflow::fixTextWritten(
            {done->copy, done->result, done->limiting, done->encoding, done->ofDamaged}, spec);
    }
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

/// Gives every measured row of `rows` the timeline its graph page draws: the one the list keeps,
/// or else its file's (`files`, in the same order) measured again, when it reads as it did.
void addTimelines(std::vector<ReportRow>& rows, const std::vector<std::filesystem::path>& files,
                  bool dualMono, const CancelCheck& isCancelled) {
    for (std::size_t i = 0; i < rows.size(); ++i) {
        ReportRow& row = rows[i];
        if (!row.result)
            continue;
        if (!row.timeline) {
            const auto reading = Workflow::measure(files[i], dualMono, {}, isCancelled, true);
            if (reading.result != row.result)
                continue;
            row.timeline = reading.timeline;
        }
        row.timeline =
            std::make_shared<const Timeline>(row.timeline->reduced(Report::graphPageSteps));
    }
}

} // namespace

ReportExport::ReportExport(const std::vector<FileItem>& items, AppSettings& settings,
                           Desktop& desktop, AlertFn alert)
    : m_items(items), m_settings(settings), m_desktop(desktop), m_alert(std::move(alert)) {
    m_pool.setMaxThreadCount(1); // reports are saved in the order they were asked for
}

ReportExport::~ReportExport() {
    m_stop->store(true); // a report still gathering graphs stops
    m_pool.waitForDone();
}

std::vector<ReportRow> ReportExport::rows() const {
    std::vector<ReportRow> rows;
    rows.reserve(m_items.size());
    for (const FileItem& item : m_items) {
        std::optional<std::string> error;
        if (const auto* failed = std::get_if<FileItem::Reading::Failed>(&item.reading.value))
            error = failed->message;
        const auto* fix = item.fixFor(m_settings.specID());
        std::optional<std::string> fixText =
            fix ? reportFixText(*fix, m_settings.spec()) : std::nullopt;
        const LoudnessResult* result = item.result();
        const auto* measured = std::get_if<FileItem::Reading::Measured>(&item.reading.value);
        rows.push_back(Workflow::reportRow(
            item.url, item.format, result ? std::optional(*result) : std::nullopt, std::move(error),
            std::move(fixText), item.findings(), m_settings.damagePolicy(),
            measured ? measured->timeline : nullptr));
        if (const auto* done = fix ? std::get_if<FileItem::FixState::Done>(&fix->value) : nullptr;
            done && done->onDiskAsWritten())
            rows.back().copy =
                ReportRow::Copy{done->limiting.has_value(), done->encoding.has_value()};
    }
    return rows;
}

QString ReportExport::baseName() const {
    return "Loudness report – " + qs(m_settings.spec().shortName());
}

void ReportExport::exportCSV() {
    save([reportRows = rows(), spec = m_settings.spec()] { return Report::csv(reportRows, spec); },
         {QStringLiteral("CSV"), "csv"}, baseName() + ".csv");
}

void ReportExport::exportPDF() {
    const Report::PdfOptions options{
        m_settings.a4Paper() ? Report::Paper::a4 : Report::Paper::letter, m_settings.dualMono(),
        m_settings.graphsInReports(), m_settings.signOff()};
    std::vector<std::filesystem::path> files;
    for (const FileItem& item : m_items)
        files.push_back(item.url);
    save(
        [reportRows = rows(), files = std::move(files), spec = m_settings.spec(),
         date = std::chrono::system_clock::now(), options, stop = m_stop]() mutable {
            if (options.graphs)
                addTimelines(reportRows, files, options.dualMono, [&stop] { return stop->load(); });
            const auto pdf = Report::pdf(reportRows, spec, "Loudness report: " + spec.name,
                                         "Tavrin", date, options);
            return std::string(pdf.begin(), pdf.end());
        },
        {QStringLiteral("PDF"), "pdf"}, baseName() + ".pdf");
}

void ReportExport::save(std::function<std::string()> render, const FileType& type,
                        const QString& suggestedName) {
    // Where the last report went; the first time, beside the files it is about.
    auto folder = m_settings.exportFolder();
    if (folder.empty() && !m_items.empty())
        folder = m_items.front().url.parent_path();
    m_desktop.chooseSaveFile(QStringLiteral("Export"), folder, suggestedName, type,
                             [this, render = std::move(render)](std::filesystem::path path) {
                                 m_settings.setExportFolder(path.parent_path());
                                 saveOffThread(render, path);
                             });
}

void ReportExport::saveOffThread(const std::function<std::string()>& render,
                                 const std::filesystem::path& path) {
    std::vector<std::filesystem::path> listed;
    listed.reserve(m_items.size());
    for (const FileItem& item : m_items)
        listed.push_back(item.url);
    runThen(
        m_pool, this,
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
                m_alert(qs(Workflow::cantSaveReportTitle), qs(*problem));
        });
}

} // namespace tavrin::app

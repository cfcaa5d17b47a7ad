#pragma once

#include "AppSettings.h"
#include "Desktop.h"
#include "FileItem.h"
#include "tavrin/reports/ReportRow.h"

#include <QObject>
#include <QString>
#include <QThreadPool>
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tavrin::app {

/// The list's reports: their rows, and saving them as CSV or PDF off the GUI thread, one at a
/// time in the order asked for. A report that can't be saved becomes an alert.
class ReportExport : public QObject {
    Q_OBJECT

public:
    using AlertFn = std::function<void(QString title, QString message)>;
    ReportExport(const std::vector<FileItem>& items, AppSettings& settings, Desktop& desktop,
                 AlertFn alert);
    /// Waits for the report being saved: it is finished, not left half-way.
    ~ReportExport() override;

    /// One report row per list row, in list order.
    std::vector<ReportRow> rows() const;
    /// "Loudness report – EBU R 128": the reports' file name without its extension.
    QString baseName() const;
    /// Export the list as it is at the call: what changes while the save panel is up or the
    /// report is being written stays out of it.
    void exportCSV();
    void exportPDF();
    /// Asks where to save, then renders the report with `render` and saves it in one piece off
    /// the GUI thread. `render` must work from its own copies.
    void save(std::function<std::string()> render, const FileType& type,
              const QString& suggestedName);

private:
    friend class AppModelTest;
    void saveOffThread(const std::function<std::string()>& render,
                       const std::filesystem::path& path);

    const std::vector<FileItem>& m_items;
    AppSettings& m_settings;
    Desktop& m_desktop;
    AlertFn m_alert;
    QThreadPool m_pool;
    std::shared_ptr<std::atomic<bool>> m_stop = std::make_shared<std::atomic<bool>>(false);
};

} // namespace tavrin::app

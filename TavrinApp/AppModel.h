#pragma once

#include "AppSettings.h"
#include "Desktop.h"
#include "FileItem.h"
#include "FileSearch.h"
#include "FixRunner.h"
#include "Measurer.h"
#include "ReportExport.h"
#include "SessionVerifier.h"
#include "TimelineStore.h"
#include "tavrin/copies/GainWriter.h"
#include "tavrin/copies/Limiter.h"
#include "tavrin/core/Finding.h"
#include "tavrin/decode/Provenance.h"
#include "tavrin/meter/LoudnessResult.h"
#include "tavrin/meter/Timeline.h"
#include "tavrin/reports/ReportRow.h"
#include "tavrin/rules/DeliverySpec.h"
#include "tavrin/rules/Verdict.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QThreadPool>
#include <QTimer>
#include <QUuid>
#include <atomic>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

class QSettings;

namespace tavrin::app {

/// A modal alert waiting to be shown.
struct AlertInfo {
    QUuid id; ///< new for every alert
    QString title;
    QString message;
    bool operator==(const AlertInfo&) const = default;
};

/// The application's one model: the file list and its readings, the selection, the notice and
/// alert. Its settings, measuring, the graph's timelines, the fix run and the reports are parts
/// it owns and speaks for, so windows see one model. Lives on the GUI thread
/// and is only ever touched there; windows read it and call its operations. Signals fire only for
/// real changes; a row's change names the row.
class AppModel : public QObject {
    Q_OBJECT

public:
    /// Reads and writes its settings in `settings`, or, when that is null, starts from the
    /// defaults and never stores anything. `processors` sets how many files are measured at once.
    AppModel(Desktop& desktop, QSettings* settings, unsigned processors, QObject* parent = nullptr);
    /// Stops measuring and fixing and waits for the work already running to notice.
    ~AppModel() override;

    // The list.
    const std::vector<FileItem>& items() const { return m_items; }
    /// The row's index in `items`, or −1.
    int indexOf(const QUuid& id) const;
    const QSet<QUuid>& selection() const { return m_selection; }
    void setSelection(const QSet<QUuid>& selection);

    // Messages for the main window.
    const std::optional<QString>& notice() const { return m_notice; }
    /// Shows `notice` in the window, as the model's own notices show.
    void showNotice(QString notice) { setNotice(std::move(notice)); }
    void dismissNotice();
    const std::optional<AlertInfo>& alert() const { return m_alert; }
    void dismissAlert();
    bool dropTargeted() const { return m_dropTargeted; }
    void setDropTargeted(bool targeted);

    // Settings, stored as they are assigned.
    const std::string& specID() const { return m_settings.specID(); }
    /// Makes the preset or custom target `id` names current; a custom one goes to the front of
    /// `customSpecs`.
    void setSpecID(const std::string& id);
    /// The preset or custom target `specID` names, or the default preset when it names none.
    const DeliverySpec& currentSpec() const { return m_settings.spec(); }
    /// The custom targets used last, most recent first: at most `customSpecLimit`, the current
    /// one among them when it is custom.
    const std::vector<DeliverySpec>& customSpecs() const { return m_settings.customSpecs(); }
    static constexpr std::size_t customSpecLimit = AppSettings::customSpecLimit;
    /// The preset, custom or named target `id` names; absent when it names none.
    std::optional<DeliverySpec> settingsSpecFor(std::string_view id) const {
        return m_settings.specFor(id);
    }
    /// The named targets Manage Targets keeps, listed after the presets.
    const std::vector<DeliverySpec>& namedTargets() const { return m_settings.namedTargets(); }
    /// Stores `target` in place of the named target `replacing` (or adds it), and judges the list
    /// by it at once when the one it replaces is current.
    void putNamedTarget(const std::string& replacing, const DeliverySpec& target);
    /// Forgets a named target; when it was current, the default preset takes its place.
    void removeNamedTarget(const std::string& id);
    /// `name`, or with the first number after it that no named target has ("Promos 2").
    std::string freeTargetName(const std::string& name) const;
    /// Keeps a target read from a file or a session, beside a different one of the same name
    /// under a free name; the target as kept.
    DeliverySpec keepTarget(DeliverySpec target);
    /// Asks for a target file and keeps its target, beside a different one of the same name;
    /// `imported` gets it. A file that isn't a target is an alert naming it.
    void importTarget(std::function<void(const DeliverySpec&)> imported);
    /// Asks where to save `target` as a file to share.
    void exportTarget(const DeliverySpec& target);
    bool dualMono() const { return m_settings.dualMono(); }
    /// A change measures the whole list again; refused while a fix runs.
    void setDualMono(bool dualMono);
    /// Where copies go; absent: next to each original.
    const std::optional<std::filesystem::path>& outputFolder() const {
        return m_settings.outputFolder();
    }
    void setOutputFolder(const std::optional<std::filesystem::path>& folder);
    /// Whether copies are WAV or AIFF, or keep the original's delivery format (FLAC, ALAC, AAC,
    /// MP3) with its tags; a run keeps the choice it started with.
    GainWriter::CopyFormat copyFormat() const { return m_settings.copyFormat(); }
    void setCopyFormat(GainWriter::CopyFormat format);
    /// Whether damage in a file's audio fails it, or only warns; a change judges every row again.
    DamagePolicy damagePolicy() const { return m_settings.damagePolicy(); }
    void setDamagePolicy(DamagePolicy policy);
    /// How the windows look; the app applies it at once.
    Theme::Appearance appearance() const { return m_settings.appearance(); }
    void setAppearance(Theme::Appearance appearance);
    /// Whether Fix limits the files gain alone can't fix fully, as Fix with Limiter does, rather
    /// than leaving them; a run keeps the choice it started with.
    bool limitWhereGainCant() const { return m_settings.limitWhereGainCant(); }
    void setLimitWhereGainCant(bool limit);
    bool persist() const { return m_settings.persist(); }

    // Adding and measuring.
    /// Adds the audio files among `urls` (folders searched off the GUI thread) that are not listed
    /// yet and measures them; says in `notice` when there were none, or none new, and counts the
    /// files found while a search takes long. Adds are listed in the order they were asked for.
    void addFiles(const std::vector<std::filesystem::path>& urls);
    /// True while added files and folders are still being searched or listed.
    bool adding() const { return m_search.busy() || !m_unlisted.empty(); }
    /// Asks for files and folders, then adds them.
    void chooseFiles();
    void removeItems(const QSet<QUuid>& ids);
    void clearList();
    /// Measures every row again from the start, forgetting their fixes. Does nothing while a fix
    /// runs, whose copies are made from the readings as they are.
    void measureAgain();
    /// True while any row waits for or is being measured.
    bool isBusy() const;
    /// How far measuring has come since it last started from idle: rows finished of those
    /// listed for it meanwhile (finished or still to do), and the seconds it has run.
    struct MeasuringProgress {
        int done = 0;
        int total = 0;
        double seconds = 0;
    };
    /// Absent while no row waits for or is being measured.
    std::optional<MeasuringProgress> measuringProgress() const;
    /// The row's verdict against the current preset, its damage judged by `damagePolicy`; absent
    /// unless the row is measured.
    std::optional<Verdict> verdict(const FileItem& item) const;

    // Fixing.
    /// The ids of the rows a fix would take, in list order: the rows of the selection, or of the
    /// whole list when nothing is selected, that fail on loudness or true peak (damage is no
    /// gain's to mend).
    std::vector<QUuid> fixCandidates() const { return m_fixes.fixCandidates(); }
    /// Whether a fix can start now: none is running, and some row of the scope fails or is still
    /// to be measured.
    bool canFix() const { return m_fixes.canFix(); }
    /// Writes a gain-adjusted copy of every candidate that gain alone can fix, one at a time in
    /// the background, then sums the run up in `alert`. Rows of the candidates' scope still waiting
    /// or being measured join the run when they turn out to be fixable failures. A copy Tavrin
    /// made earlier for the same row and preset is recognised and kept instead of written again.
    /// While damage fails files, damaged candidates are left alone, each with the reason. Does
    /// nothing while a run is in progress.
    void fixFiles() {
        checkCopies();
        m_fixes.fixFiles();
    }
    /// The ids of `rows`, in list order, that a fix would take but leaves alone because their
    /// audio is damaged; none when damage only warns.
    std::vector<QUuid> fixAnywayCandidates(const QSet<QUuid>& rows) const {
        return m_fixes.fixAnywayCandidates(rows);
    }
    /// Whether Fix Anyway can start now for `rows`: no fix runs, and some of them are its.
    bool canFixAnyway(const QSet<QUuid>& rows) const { return m_fixes.canFixAnyway(rows); }
    bool canFixAnyway() const { return canFixAnyway(m_selection); }
    /// As fixFiles() for the selection's fixAnywayCandidates() alone, writing copies despite
    /// their damage.
    void fixAnyway() {
        checkCopies();
        m_fixes.fixAnyway();
    }
    /// The ids of the rows Fix with Limiter would take, in list order: those of the selection, or
    /// of the whole list when nothing is selected, that gain alone can't fix fully.
    std::vector<QUuid> limiterCandidates() const { return m_fixes.limiterCandidates(); }
    /// Whether Fix with Limiter can start now, as canFix() for its own candidates.
    bool canFixWithLimiter() const { return m_fixes.canFixWithLimiter(); }
    /// As fixFiles(), writing gain-and-limiter copies of the rows gain alone can't fix fully; a
    /// row that would need more peak reduction than the limiter takes is refused with the reason.
    /// Copies made earlier are not looked for: each run writes new ones.
    void fixWithLimiter() {
        checkCopies();
        m_fixes.fixWithLimiter();
    }
    bool fixing() const { return m_fixes.fixing(); }
    /// Where the running fix stands: the copy being written (from 1) of those known so far.
    using FixProgress = FixRunner::FixProgress;
    std::optional<FixProgress> fixProgress() const { return m_fixes.fixProgress(); }
    /// Stops the running fix: the copy being written is removed, and the rows whose copy hasn't
    /// started get back their fix state from before the run. The summary follows once the
    /// copy being written has stopped.
    void stopFixing() { m_fixes.stopFixing(); }
    /// What stopping the running fix would cost, for the question asked before it.
    QString stopFixingMessage() const { return m_fixes.stopFixingMessage(); }
    /// Whether the PDF report is laid out on A4 paper rather than US Letter.
    bool a4Paper() const { return m_settings.a4Paper(); }
    void setA4Paper(bool a4);
    void chooseOutputFolder();
    /// Shows the rows' files in the file browser: the copy made for the current preset, else the
    /// original. When nothing can show them, the notice names the first one's folder.
    void revealInFinder(const QSet<QUuid>& ids);
    /// The row's loudness over time, when it is measured and its timeline is kept; marks it as
    /// used last. Otherwise, for a measured row, measures it again off the GUI thread and says
    /// `timelineReady` once it can be had.
    std::shared_ptr<const Timeline> timeline(const QUuid& id) { return m_timelines.timeline(id); }
    /// Whether the row is being measured again for its timeline. Only the row asked for last is:
    /// asking for another stops it, and so does removing it.
    bool measuringTimeline(const QUuid& id) const { return m_timelines.measuring(id); }
    /// The timelines kept in all, in bytes: beyond it, those used longest ago are dropped.
    static constexpr std::size_t timelineBudget = TimelineStore::budget;
    /// Opens a web page (help, a preset's source); when nothing can, the notice says so.
    void openLink(const QUrl& url);

    // Reports.
    /// One report row per list row, in list order.
    std::vector<ReportRow> reportRows() const { return m_reports.rows(); }
    /// "Loudness report – EBU R 128": the reports' file name without its extension.
    QString reportBaseName() const { return m_reports.baseName(); }
    /// Export the list as it is at the call: what changes while the save panel is up or the
    /// report is being written stays out of it.
    void exportCSV() {
        checkCopies();
        m_reports.exportCSV();
    }
    void exportPDF() {
        checkCopies();
        m_reports.exportPDF();
    }
    /// Who signs the PDF report off, and whether it adds each file's loudness graph; remembered.
    const Report::SignOff& signOff() const { return m_settings.signOff(); }
    bool graphsInReports() const { return m_settings.graphsInReports(); }
    void setReportOptions(const Report::SignOff& signOff, bool graphs) {
        m_settings.setSignOff(signOff);
        m_settings.setGraphsInReports(graphs);
    }
    /// Looks at every copy the rows' fixes wrote: one that is gone, or whose size or time changed,
    /// is shown and reported as such rather than as a copy. Stat only, no reading; done before an
    /// export or a fix run and when the app comes back to the front.
    void checkCopies();

    // Sessions.
    /// The session file the list was opened from or last saved to; absent when there is none.
    const std::optional<std::filesystem::path>& sessionPath() const { return m_sessionPath; }
    /// Whether the list or the settings its verdicts depend on changed since then.
    bool sessionModified() const { return m_sessionModified; }
    /// Saves the list to its session file, asking where first when it has none; `saved` is called
    /// once the file is written, never when it can't be (the alert says why).
    void saveSession(std::function<void()> saved = {});
    void saveSessionAs(std::function<void()> saved = {});
    /// Saves the list as the session at `path`, which becomes the list's session file.
    void saveSessionTo(const std::filesystem::path& path, std::function<void()> saved = {});
    /// Asks for a session file, then opens it.
    void chooseSession();
    /// Replaces the list with the session saved at `path`: its rows at once as they were saved,
    /// with its preset and settings, then every file and copy checked against the disk in the
    /// background. A file that changed is measured again and says so, a missing one says
    /// "Missing: …", and a copy that is gone or changed says so in its Fix cell.
    void openSession(const std::filesystem::path& path);
    /// True while a reopened session's files are being checked.
    bool verifyingSession() const { return m_verifier.busy(); }
    std::vector<std::filesystem::path> recentSessions() const {
        return m_settings.recentSessions();
    }
    /// How a session saved now has its files checked when it is opened again.
    Session::Verify sessionVerify() const { return m_settings.sessionVerify(); }
    void setSessionVerify(Session::Verify how) { m_settings.setSessionVerify(how); }

signals:
    void itemsAboutToBeInserted(int first, int last);
    void itemsInserted();
    void itemsAboutToBeRemoved(int first, int last);
    void itemsRemoved();
    void itemChanged(int row);
    void addingChanged();
    void selectionChanged();
    void noticeChanged();
    void alertChanged();
    void dropTargetedChanged();
    void specIDChanged();
    void customSpecsChanged();
    void dualMonoChanged();
    void outputFolderChanged();
    void copyFormatChanged();
    void damagePolicyChanged();
    void limitWhereGainCantChanged();
    void appearanceChanged();
    void fixingChanged();
    void fixProgressChanged();
    void paperChanged();
    void timelineReady(const QUuid& id);
    /// The session file, whether it is modified, or the recent sessions changed.
    void sessionChanged();

private:
    friend class AppModelTest;

    void setNotice(std::optional<QString> notice);
    void setAlert(QString title, QString message);
    void setReading(int row, FileItem::Reading reading);
    void setFix(int row, const std::string& specID, std::optional<FileItem::FixState> fix);

    /// Lists the found files that are not listed yet, and measures them.
    void listFiles(const std::vector<std::filesystem::path>& files);
    /// Gives the next files waiting for a row theirs, a bounded number per turn of the event
    /// loop, so that listing a big tree never holds the window up.
    void listSomeFiles();
    void showSearchProgress(std::size_t found);

    /// A measurement's report: dropped when its row is gone, or it is progress for a row that is
    /// no longer being measured. Says whether it finished the row.
    bool applyReading(const QUuid& id, FileItem::Reading reading,
                      std::optional<std::string> format);

    /// Replaces the rows with `items`, measuring those without a reading.
    void replaceItems(std::vector<FileItem> items);
    void markSessionModified();
    void applyVerification(std::vector<SessionVerifier::Found> found);

    Desktop& m_desktop;
    AppSettings m_settings;
    unsigned m_processors;

    std::vector<FileItem> m_items;
    QHash<QUuid, int> m_rows; ///< row index by id
    QSet<QUuid> m_selection;
    std::optional<QString> m_notice;
    std::optional<AlertInfo> m_alert;
    bool m_dropTargeted = false;

    FileSearch m_search{this};
    std::deque<std::filesystem::path> m_unlisted; ///< found files waiting for a row, in order
    std::deque<std::optional<QString>> m_missingNotices; ///< per search asked for, in order
    QTimer m_listingTurn;                                ///< lists the next files waiting
    /// The count the running search last put in `notice`; once the user dismisses it, or another
    /// notice takes its place, the search stays quiet.
    std::optional<QString> m_searchNotice;
    TimelineStore m_timelines{[this](const QUuid& id) {
                                  const int row = indexOf(id);
                                  return row < 0 ? nullptr : &m_items[std::size_t(row)];
                              },
                              m_settings};
    FixRunner m_fixes{
        {m_items, m_selection, [this](const QUuid& id) { return indexOf(id); },
         [this](int row, const std::string& specID, std::optional<FileItem::FixState> fix) {
             setFix(row, specID, std::move(fix));
         },
         [this](QString title, QString message) {
             setAlert(std::move(title), std::move(message));
         }},
        m_settings};
    ReportExport m_reports{m_items, m_settings, m_desktop, [this](QString title, QString message) {
                               setAlert(std::move(title), std::move(message));
                           }};
    std::optional<std::filesystem::path> m_sessionPath;
    bool m_sessionModified = false;
    int m_listChanges = 0; ///< changes to the list or its settings, for a save under way
    QThreadPool m_sessionPool;
    SessionVerifier m_verifier{
        [this](std::vector<SessionVerifier::Found> found) { applyVerification(std::move(found)); }};
    /// Last, so it goes first: its reports reach the parts above.
    Measurer m_measurer{
        {m_items,
         [this](int row, FileItem::Reading reading) { setReading(row, std::move(reading)); },
         [this](const QUuid& id, FileItem::Reading reading, std::optional<std::string> format) {
             return applyReading(id, std::move(reading), std::move(format));
         }},
        m_processors};
};

} // namespace tavrin::app

#pragma once

#include "Paths.h"
#include "Updater.h"
#include "tavrin/core/Fmt.h"
#include "tavrin/rules/DeliverySpec.h"
#include "tavrin/workflow/WorkflowTexts.h"

#include <QString>

/// Every sentence the app says beyond the kit's own, and the words that name the platform it runs
/// on: the notices, prompts and explanations, the damage and limiter texts, and the graph's
/// placeholders. Labels of buttons and menus stay with their widgets.
namespace tavrin::app::AppTexts {

/// What the platform calls its file browser: "Show in Finder" on a Mac.
inline QString fileManager() {
#ifdef Q_OS_MACOS
    return QStringLiteral("Finder");
#else
    return QStringLiteral("File Manager");
#endif
}

inline QString thisComputer() {
#ifdef Q_OS_MACOS
    return QStringLiteral("this Mac");
#else
    return QStringLiteral("this computer");
#endif
}

inline QString showInFileManager() {
    return "Show in " + fileManager();
}

/// What the app does online: a build without an update feed never goes online at all.
inline QString onlineUse() {
    return Updater::configuredFeed().isEmpty()
               ? QStringLiteral("Tavrin never goes online.")
               : QStringLiteral("Tavrin goes online only to look for updates.");
}

/// The notice when no browser or file manager takes a link or a path.
inline QString nothingCanOpen(const QString& what) {
    return "Nothing on " + thisComputer() + " can open " + what + ".";
}

/// What the measurement is, and is not: the about box's last paragraph and the privacy tab's.
inline const QString& measurementStatement() {
    static const QString text = QStringLiteral(
        "Tavrin measures loudness per ITU-R BS.1770-4 and is checked against the EBU Tech "
        "3341/3342 minimum-requirements test signals. It is a quality-control tool, not a "
        "certified broadcast compliance meter.");
    return text;
}

// MARK: adding files

/// The notice when every file of a selection is listed already.
inline QString alreadyListed() {
    return QStringLiteral("Those files are already in the list.");
}

/// The prompt of the panel that adds files.
inline QString chooseFilesPrompt(const DeliverySpec& spec) {
    return "Choose audio files or folders to check against " + QString::fromStdString(spec.name) +
           ".";
}

/// The drop zone's explanation of what happens to a file.
inline QString dropZoneExplanation(const DeliverySpec& spec) {
    return "Each file is measured (integrated loudness, loudness range, true peak) and marked pass "
           "or fail against " +
           QString::fromStdString(spec.name) + ".";
}

// MARK: settings

/// The prompt of the panel that picks the folder for copies.
inline QString outputFolderPrompt() {
    return QStringLiteral("Fixed copies will be saved in this folder.");
}

/// The privacy tab's first paragraph.
inline QString audioStaysHere() {
    return "Your audio never leaves " + thisComputer() +
           ". Files are read where they are, and fixed copies are written as new files; the "
           "originals are never changed. Nothing is collected or sent anywhere.";
}

/// The privacy tab's second paragraph.
inline QString whatIsStored() {
    return onlineUse() + " Settings (the chosen preset, dual mono, how damage counts, where copies "
                         "go, where the windows and panels were left) are kept in the app’s "
                         "preferences.";
}

/// What the sentence under a custom target's field says when it holds no number.
/// What the sentence under a target's number field says when it holds no number: "The target
/// needs a number, such as −19.0."
inline QString notANumber(Workflow::CustomNumber number) {
    static const char* const examples[] = {"−19.0", "1.0",   "−1.0", "−2.0",
                                           "8.0",   "−10.0", "−8.0", "−3.0"};
    return qs(std::string(Workflow::numberWords(number).what)) + " needs a number, such as " +
           QString::fromUtf8(examples[static_cast<int>(number)]) + ".";
}

inline QString targetLimitsNote() {
    return QStringLiteral("Leave a limit empty when the delivery sets none. Fix never claims to "
                          "cure a range or short-term failure: gain can’t change the loudness "
                          "range, and it moves the maxima with the loudness.");
}
inline QString targetNameTaken(const QString& name) {
    return "Another target is already called “" + name + "”.";
}

inline QString importTargetTitle() {
    return QStringLiteral("Import Target");
}
inline QString exportTargetTitle() {
    return QStringLiteral("Export Target");
}
inline QString cantImportTargetTitle() {
    return QStringLiteral("The target couldn’t be imported");
}
inline QString cantExportTargetTitle() {
    return QStringLiteral("The target couldn’t be exported");
}

// MARK: fixing

/// What stopping a fix costs: `waiting` files not fixed yet, and whether a copy is being written.
inline QString stopFixingCost(int waiting, bool writing) {
    const QString files = QString::number(waiting) +
                          (waiting == 1 ? " file isn’t fixed yet." : " files aren’t fixed yet.");
    if (!writing)
        return files;
    return waiting == 0 ? QStringLiteral("The copy being written is removed.")
                        : "The copy being written is removed and " + files;
}

// MARK: damage

/// The command that writes copies of damaged files that Fix left alone.
inline QString fixAnyway() {
    return QStringLiteral("Fix Anyway");
}

/// The Fix cell of a damaged file a fix left alone; its tooltip has the whole sentence.
inline QString notFixedLabel() {
    return QStringLiteral("Damaged, not fixed");
}

/// The line under a copy's name: "Copy of Episode 12.wav".
inline QString copyOf(const QString& original) {
    return "Copy of " + original;
}

/// Said over that line before the sentences of what was found in the original.
inline QString foundInOriginal() {
    return QStringLiteral("Found in the original:");
}

/// Said over that line when the original's findings hold nothing at all.
inline QString noDamageInOriginal() {
    return QStringLiteral("No damage was found in the original.");
}

/// The plan's tooltip for a damaged file that Fix leaves alone while damage fails files.
inline QString planLeftAlone() {
    return QStringLiteral("Fix leaves this file alone because its audio is damaged; Fix Anyway "
                          "would apply this gain to a new file.");
}

/// The setting: its label, its two choices in the order of DamagePolicy, and what it means.
inline QString settingLabel() {
    return QStringLiteral("Damaged audio");
}

inline QString failsChoice() {
    return QStringLiteral("Fails the file");
}

inline QString warnsChoice() {
    return QStringLiteral("Only warns");
}

inline QString settingExplanation() {
    return QStringLiteral("Cut-off or undecodable audio, a damaged container, clipping and "
                          "drop-outs are damage. When it fails the file, Fix leaves the file alone "
                          "unless you choose Fix Anyway. A DC offset or a phase problem only ever "
                          "warns.");
}

/// The tooltip of a copy Tavrin wrote that is gone, or changed since: it names where it was.
inline QString copyGoneToolTip(const QString& copy, bool missing) {
    return missing
               ? "Tavrin wrote " + copy + ", and it is no longer there. Fix again to write it anew."
               : "Tavrin wrote " + copy +
                     ", and it has changed since: it is no longer the copy that was measured.";
}

// MARK: appearance

inline QString appearance() {
    return QStringLiteral("Appearance");
}

inline QString systemAppearance() {
    return QStringLiteral("System");
}

inline QString lightAppearance() {
    return QStringLiteral("Light");
}

inline QString darkAppearance() {
    return QStringLiteral("Dark");
}

// MARK: reports

inline QString pdfReportTitle() {
    return QStringLiteral("PDF Report");
}

inline QString pdfReportExplanation() {
    return QStringLiteral("The operator, job and notes print on the first page, and the operator "
                          "and job with the time of export at the foot of every page.");
}

inline QString graphsInReports() {
    return QStringLiteral("Include loudness graphs in PDF reports");
}

// MARK: sessions

inline QString saveSessionTitle() {
    return QStringLiteral("Save Session");
}

inline QString openSessionTitle() {
    return QStringLiteral("Open Session");
}

/// The name a new session is offered under.
inline QString untitledSession() {
    return QStringLiteral("Untitled");
}

/// The setting of how a reopened session's files are checked: its label, its two choices as the
/// picker lists them, and what it means.
inline QString verifySettingLabel() {
    return QStringLiteral("Check SHA-256 on reopening");
}

inline QString verifyWhenChangedChoice() {
    return QStringLiteral("Only when changed");
}

inline QString verifyAlwaysChoice() {
    return QStringLiteral("Always");
}

inline QString verifySettingExplanation() {
    return QStringLiteral("A reopened session compares each file with the one it saved. Only "
                          "when changed reads a file again when its time changed; Always reads "
                          "every file, taking as long as the disk needs.");
}

/// The question before the list of a modified session goes, and its buttons.
inline QString saveChangesQuestion(const QString& session) {
    return "Save the changes to " + session + "?";
}

inline QString saveChangesCost() {
    return QStringLiteral("Without saving, the session file keeps the list as it was last saved.");
}

/// The window's title: "Tavrin — EBU R 128", after the session's name when one is open:
/// "Day 1.tavrin[*] — Tavrin — EBU R 128" (the mark shows unsaved changes).
inline QString windowTitle(const QString& session, const QString& preset) {
    const QString app = "Tavrin — " + preset;
    return session.isEmpty() ? app : session + "[*] — " + app;
}

/// Said over the list while a reopened session's files are checked.
inline QString verifyingSession() {
    return QStringLiteral("Checking the session’s files against the disk…");
}

// MARK: the limiter

/// The setting of what Fix does with a file gain alone can't bring to the target: its label and
/// its two choices as the picker lists them.
inline QString whenGainCantLabel() {
    return QStringLiteral("When gain alone can’t reach the target");
}

inline QString leaveFileChoice() {
    return QStringLiteral("Leave the file");
}

inline QString useLimiterChoice() {
    return QStringLiteral("Use the limiter");
}

inline QString limitedCopiesTitle() {
    return QStringLiteral("Limited copies");
}

inline QString nothingToLimitTitle() {
    return QStringLiteral("Nothing to limit");
}

/// Why nothing was limited: the candidates were the selected rows (`fromSelection`) or all rows.
inline QString nothingToLimit(const DeliverySpec& spec, bool fromSelection) {
    const QString name = QString::fromStdString(spec.name);
    return fromSelection ? "None of the selected files needs a limiter for " + name + "."
                         : "No measured file needs a limiter for " + name +
                               "; gain alone fixes those that fail.";
}

// MARK: the graph

/// What the graph panel says in place of a graph.
inline QString graphAfterMeasuring() {
    return QStringLiteral("The graph appears once the file is measured.");
}

inline QString noGraphUnmeasurable() {
    return QStringLiteral("There is no graph for a file Tavrin couldn’t measure.");
}

inline QString measuringForGraph() {
    return QStringLiteral("Measuring the file again for its graph…");
}

inline QString graphFileChanged() {
    return QStringLiteral(
        "The file has changed since it was measured. Measure it again to see its graph.");
}

// MARK: playback

inline QString noAudioOutput() {
    return "There is no audio output on " + thisComputer() + " to play through.";
}

inline QString fileGone() {
    return QStringLiteral("The file is no longer there.");
}

inline QString playbackStopped() {
    return QStringLiteral("Playback stopped unexpectedly.");
}

/// The notice when `name` can't be played, or stopped playing, for `reason`.
inline QString cantPlay(const QString& name, const QString& reason) {
    return "Can’t play “" + name + "”: " + reason;
}

inline QString playTip() {
    return QStringLiteral("Play from the cursor, or from the start (Space). Click the graph to "
                          "move the cursor, and to jump there while playing.");
}

inline QString hearCopyTip() {
    return QStringLiteral("Hear the copy, or the original (C). The original plays at the copy’s "
                          "gain, so that switching lets only the limiter’s work be heard.");
}

/// A context-menu command that plays from `seconds`, a little before `event`.
inline QString playFrom(double seconds, const QString& event) {
    return "Play from " + QString::fromStdString(Fmt::duration(seconds)) + " (" + event + ")";
}

} // namespace tavrin::app::AppTexts

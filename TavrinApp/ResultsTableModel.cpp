#include "ResultsTableModel.h"

#include "AppTexts.h"
#include "Paths.h"
#include "tavrin/core/Fmt.h"
#include "tavrin/rules/FixPlan.h"
#include "tavrin/workflow/Workflow.h"

#include <array>
#include <cmath>

namespace tavrin::app {

namespace {

using Cell = ResultsTableModel::Cell;
using Reading = FileItem::Reading;
using FixState = FileItem::FixState;

QString fileName(const std::filesystem::path& path) {
    return toQString(path.filename());
}

Cell labelled(QString text, Symbol symbol, Tone tone, bool semibold, QString toolTip,
              QString accessibleText) {
    Cell cell{.text = std::move(text), .tone = tone, .semibold = semibold};
    cell.symbol = symbol;
    cell.symbolTone = tone;
    cell.toolTip = std::move(toolTip);
    cell.accessibleText = std::move(accessibleText);
    return cell;
}

/// `cell` with the reading's findings: a mark after its text, the sentences in its tooltip and
/// accessible text.
Cell withFindings(Cell cell, const std::vector<Finding>& findings) {
    if (findings.empty())
        return cell;
    QStringList sentences;
    for (const std::string& sentence : findingSentences(findings))
        sentences << qs(sentence);
    cell.warningMark = true;
    const QString kind = anyDamage(findings)     ? QStringLiteral("Damage: ")
                         : sentences.size() == 1 ? QStringLiteral("Warning: ")
                                                 : QStringLiteral("Warnings: ");
    cell.toolTip = cell.toolTip.isEmpty() ? sentences.join("\n")
                                          : cell.toolTip + "\n\n" + sentences.join("\n");
    cell.accessibleText += ". " + kind + sentences.join(" ");
    return cell;
}

Cell verdictCell(const FileItem& item, const std::optional<Verdict>& verdict) {
    if (const auto* measuring = std::get_if<Reading::Measuring>(&item.reading.value)) {
        const QString percent = QString::number(int(measuring->fraction * 100));
        Cell cell{.text = percent + "%", .tone = Tone::secondary, .monospacedDigits = true};
        cell.progress = measuring->fraction;
        cell.accessibleText = "Measuring, " + percent + " percent";
        return cell;
    }
    if (std::holds_alternative<Reading::Waiting>(item.reading.value))
        return labelled("Waiting", Symbol::clock, Tone::secondary, false, {}, "Waiting");
    if (const auto* failed = std::get_if<Reading::Failed>(&item.reading.value)) {
        const QString label = item.sinceSaved == Session::State::missing
                                  ? QStringLiteral("Missing")
                                  : QStringLiteral("Can’t read");
        return labelled(label, Symbol::exclamationmarkTriangle, Tone::caution, false,
                        qs(failed->message), label + ": " + qs(failed->message));
    }
    if (!verdict)
        return {};
    const QString summary = qs(verdict->summary());
    const QString word = qs(label(verdict->status));
    switch (verdict->status) {
    case Verdict::Status::pass:
        return labelled(word, Symbol::checkmarkCircleFill, Tone::pass, true, summary, summary);
    case Verdict::Status::fail:
        return labelled(word, Symbol::xmarkOctagonFill, Tone::fail, true, summary, summary);
    case Verdict::Status::unmeasurable:
        break;
    }
    return labelled(word, Symbol::minusCircle, Tone::secondary, true, summary, summary);
}

Cell statusCell(const FileItem& item, const std::optional<Verdict>& verdict) {
    return withFindings(verdictCell(item, verdict), item.findings());
}

Cell numberCell(std::optional<double> value, const char* unit, bool isSigned, bool bad) {
    bad = bad && value;
    Cell cell{.text = qs(Fmt::number(value, isSigned, "—")),
              .tone = bad     ? Tone::fail
                      : value ? Tone::primary
                              : Tone::secondary,
              .semibold = bad,
              .monospacedDigits = true};
    cell.alignment = Qt::AlignRight;
    cell.accessibleText = value ? cell.text + " " + unit + (bad ? ", out of spec" : "")
                                : QStringLiteral("no reading");
    return cell;
}

/// A maximum's cell, whose tooltip says when in the file it happens ("at 41:07").
Cell maximumCell(Cell cell, std::optional<double> seconds) {
    if (seconds && std::isfinite(*seconds) && *seconds >= 0)
        cell.toolTip = "at " + qs(Fmt::duration(*seconds));
    return cell;
}

/// A copy's file cell, whose second line starts with the original's name and says over itself
/// what was found in the original.
Cell namingOriginal(Cell cell, const Provenance& provenance) {
    const QString copyOf = AppTexts::copyOf(qs(provenance.original));
    cell.caption = cell.caption.isEmpty() ? copyOf : copyOf + " · " + cell.caption;
    const auto sentences = findingSentences(provenance.findings);
    cell.captionToolTip =
        sentences.empty() ? AppTexts::noDamageInOriginal() : AppTexts::foundInOriginal();
    for (const std::string& sentence : sentences)
        cell.captionToolTip += "\n" + qs(sentence);
    return cell;
}

Cell fileCell(const FileItem& item) {
    Cell cell{.text = fileName(item.url)};
    if (!item.format.empty()) {
        cell.caption = qs(item.format);
        if (const LoudnessResult* result = item.result())
            cell.caption += " · " + qs(Fmt::duration(result->duration));
    }
    if (const Provenance* provenance = item.provenance())
        cell = namingOriginal(std::move(cell), *provenance);
    if (item.sinceSaved == Session::State::missing)
        cell.caption = qs(Workflow::missingMessage(item.url));
    else if (item.sinceSaved == Session::State::changed)
        cell.caption = qs(Workflow::changedSinceSaved) +
                       (cell.caption.isEmpty() ? QString() : " · " + cell.caption);
    cell.toolTip = toQString(item.url);
    cell.accessibleText = cell.caption.isEmpty() ? cell.text : cell.text + ", " + cell.caption;
    return cell;
}

/// What the reports say of a copy after its reading: "; limited by up to 4.2 dB for 1.3 s" for a
/// limited copy, "; MP3 192 kbps" for one in the original's format, "; copy of damaged audio" for
/// one made of damaged audio; else empty.
QString detailsSuffix(const FixState::Done& done) {
    const std::string plain = Workflow::fixTextWritten({done.copy, done.result});
    return qs(Workflow::fixTextWritten(
                  {done.copy, done.result, done.limiting, done.encoding, done.ofDamaged})
                  .substr(plain.size()));
}

Cell fixedCopyCell(const FixState::Done& done, const DeliverySpec& spec) {
    const QString name = fileName(done.copy);
    const QString loudness = qs(Fmt::number(done.result.integrated, false, "—"));
    const QString peak = qs(Fmt::number(done.result.truePeak, true, "—"));
    const QString limiting = detailsSuffix(done);
    const bool passes = Verdict::make(done.result, spec).status == Verdict::Status::pass;
    Cell cell{.text = loudness + " LUFS, " + peak + " dBTP", .monospacedDigits = true};
    // On a line of its own: after the reading it would be cut off in a column of usual width.
    cell.caption = limiting.mid(2);
    cell.symbol = passes ? Symbol::checkmarkCircle : Symbol::xmarkOctagon;
    cell.symbolTone = passes ? Tone::pass : Tone::fail;
    cell.toolTip = "Wrote " + name + " and measured it again" + limiting +
                   (done.note ? ". " + qs(*done.note) : QStringLiteral("."));
    cell.accessibleText = "Fixed copy " + name + ": " + loudness + " LUFS, true peak " + peak +
                          " dBTP" + limiting + ", " + (passes ? "passes" : "fails");
    cell.revealButton = true;
    cell.revealToolTip = "Show " + name + " in " + AppTexts::fileManager();
    return cell;
}

/// A copy Tavrin wrote that is no longer on disk as it was written.
Cell copyGoneCell(const FixState::Done& done) {
    const QString text = qs(Workflow::copyNotAsWritten(done.onDisk));
    return labelled(
        text, Symbol::exclamationmarkTriangle, Tone::caution, false,
        AppTexts::copyGoneToolTip(toQString(done.copy), done.onDisk == Session::State::missing),
        text + ": " + fileName(done.copy));
}

Cell refusedCell(const FileItem& item, const FixState::Refused& refused) {
    using Reason = FixState::Refused::Reason;
    const QString message = qs(refused.message);
    switch (refused.reason) {
    case Reason::needsLimiter:
        return labelled("Needs a limiter", Symbol::handRaised, Tone::caution, false, message,
                        "Not fixed: " + message);
    case Reason::byLimiter:
        return labelled("Too much to limit", Symbol::handRaised, Tone::caution, false, message,
                        qs(Workflow::fixTextNotLimited(refused.message)));
    case Reason::damaged:
        break;
    }
    Cell cell = labelled(AppTexts::notFixedLabel(), Symbol::handRaised, Tone::caution, false,
                         message, message);
    if (const Finding* damage = firstDamage(item.findings()))
        cell.caption = qs(damage->brief());
    return cell;
}

Cell fixStateCell(const FileItem& item, const FixState& fix, const DeliverySpec& spec) {
    if (std::holds_alternative<FixState::Queued>(fix.value))
        return {.text = "Waiting to be fixed", .tone = Tone::secondary};
    if (std::holds_alternative<FixState::Writing>(fix.value)) {
        Cell cell{.text = "Writing…", .tone = Tone::secondary};
        cell.progress = -1;
        return cell;
    }
    if (const auto* done = std::get_if<FixState::Done>(&fix.value))
        return done->onDiskAsWritten() ? withFindings(fixedCopyCell(*done, spec), item.findings())
                                       : copyGoneCell(*done);
    if (const auto* refused = std::get_if<FixState::Refused>(&fix.value))
        return refusedCell(item, *refused);
    if (const auto* failed = std::get_if<FixState::Failed>(&fix.value))
        return labelled("Not written", Symbol::exclamationmarkTriangle, Tone::caution, false,
                        qs(failed->message), "Not written: " + qs(failed->message));
    return {.text = "Already passes", .tone = Tone::secondary};
}

/// What a fix would do; for a damaged file that Fix leaves alone, what Fix Anyway would do.
Cell fixPlanCell(const LoudnessResult& result, const DeliverySpec& spec, bool leftAlone) {
    const FixPlan plan = FixPlan::make(result, spec);
    Cell cell{.text = qs(plan.label()), .tone = Tone::secondary};
    if (const auto* gain = std::get_if<FixPlan::Gain>(&plan.value))
        cell.toolTip = leftAlone ? AppTexts::planLeftAlone()
                       : gain->remark()
                           ? "A fix would apply this gain. " + qs(*gain->remark())
                           : QStringLiteral("A fix would apply this gain and write a new "
                                            "file; the original stays as it is.");
    else if (const auto* refused = std::get_if<FixPlan::Refused>(&plan.value))
        cell.toolTip = qs(refused->text(FixPlan::limiterInApp));
    return cell;
}

/// The Fix column plans fixes of the level alone: damage is no gain's to mend.
Cell fixCell(const FileItem& item, const DeliverySpec& spec, DamagePolicy damage) {
    if (const FixState* fix = item.fixFor(spec.id))
        return fixStateCell(item, *fix, spec);
    const LoudnessResult* result = item.result();
    if (!result || Verdict::make(*result, spec).status != Verdict::Status::fail)
        return {};
    return fixPlanCell(*result, spec, damage == DamagePolicy::fail && anyDamage(item.findings()));
}

} // namespace

Cell ResultsTableModel::cell(const FileItem& item, const DeliverySpec& spec, DamagePolicy damage,
                             Column column) {
    const LoudnessResult* result = item.result();
    const std::optional<Verdict> verdict =
        result ? std::optional(Verdict::make(*result, spec, item.findings(), damage))
               : std::nullopt;
    const auto value = [result](std::optional<double> LoudnessResult::*field) {
        return result ? result->*field : std::nullopt;
    };
    const bool loudBad = verdict && !verdict->loudnessOK;
    const auto over = [&](std::optional<double> LoudnessResult::*field,
                          std::optional<double> most) {
        return verdict && Verdict::overLimit(value(field), most);
    };
    const DeliverySpec::Limits& limits = spec.limits;
    // A spec measured in RMS shows its level where the loudness stands, and its noise floor where
    // the true peak does.
    const bool rms = spec.measure == DeliverySpec::Measure::rms;
    switch (column) {
    case Column::result:
        return statusCell(item, verdict);
    case Column::file:
        return fileCell(item);
    case Column::integrated:
        return rms ? numberCell(value(&LoudnessResult::rms), "dB", false, loudBad)
                   : numberCell(value(&LoudnessResult::integrated), "LUFS", false, loudBad);
    case Column::difference:
        return numberCell(verdict ? verdict->delta : std::nullopt, "LU", true, loudBad);
    case Column::truePeak:
        if (rms)
            return numberCell(value(&LoudnessResult::noiseFloor), "dB", false,
                              over(&LoudnessResult::noiseFloor, limits.noiseFloor));
        return maximumCell(
            numberCell(value(&LoudnessResult::truePeak), "dBTP", true, verdict && !verdict->peakOK),
            value(&LoudnessResult::truePeakAt));
    case Column::range:
        return numberCell(value(&LoudnessResult::loudnessRange), "LU", false,
                          over(&LoudnessResult::loudnessRange, limits.loudnessRange));
    case Column::maxShortTerm:
        return maximumCell(numberCell(value(&LoudnessResult::maxShortTerm), "LUFS", false,
                                      over(&LoudnessResult::maxShortTerm, limits.shortTerm)),
                           value(&LoudnessResult::maxShortTermAt));
    case Column::samplePeak:
        return numberCell(value(&LoudnessResult::samplePeak), "dBFS", true,
                          over(&LoudnessResult::samplePeak, limits.samplePeak) ||
                              (rms && verdict && !verdict->peakOK));
    case Column::fix:
        break;
    }
    return fixCell(item, spec, damage);
}

ResultsTableModel::ResultsTableModel(AppModel& model, QObject* parent)
    : QAbstractTableModel(parent), m_model(model) {
    connect(&model, &AppModel::itemsAboutToBeInserted, this,
            [this](int first, int last) { beginInsertRows({}, first, last); });
    connect(&model, &AppModel::itemsInserted, this, [this] { endInsertRows(); });
    connect(&model, &AppModel::itemsAboutToBeRemoved, this,
            [this](int first, int last) { beginRemoveRows({}, first, last); });
    connect(&model, &AppModel::itemsRemoved, this, [this] { endRemoveRows(); });
    connect(&model, &AppModel::itemChanged, this, [this](int row) { rowsChanged(row, row); });
    for (auto judged : {&AppModel::specIDChanged, &AppModel::damagePolicyChanged})
        connect(&model, judged, this, [this] { rowsChanged(0, rowCount() - 1); });
    connect(&model, &AppModel::specIDChanged, this,
            [this] { emit headerDataChanged(Qt::Horizontal, 0, columns - 1); });
}

void ResultsTableModel::rowsChanged(int first, int last) {
    if (first <= last)
        emit dataChanged(index(first, 0), index(last, columns - 1));
}

Cell ResultsTableModel::cell(const QModelIndex& index) const {
    return cell(m_model.items().at(std::size_t(index.row())), m_model.currentSpec(),
                m_model.damagePolicy(), Column(index.column()));
}

QUuid ResultsTableModel::idAt(int row) const {
    return m_model.items().at(std::size_t(row)).id;
}

int ResultsTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_model.items().size());
}

int ResultsTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columns;
}

QVariant ResultsTableModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const Cell content = cell(index);
    switch (role) {
    case Qt::DisplayRole:
        return content.text;
    case Qt::ToolTipRole:
        return content.toolTip.isEmpty() ? QVariant() : content.toolTip;
    case Qt::AccessibleTextRole:
        return content.accessibleText.isEmpty() ? content.text : content.accessibleText;
    case Qt::AccessibleDescriptionRole:
        return content.toolTip;
    case Qt::TextAlignmentRole:
        return int(content.alignment | Qt::AlignVCenter);
    case ToneRole:
        return int(content.tone);
    case SemiboldRole:
        return content.semibold;
    case SymbolRole:
        return content.symbol ? QVariant(int(*content.symbol)) : QVariant();
    case ProgressRole:
        return content.progress ? QVariant(*content.progress) : QVariant();
    case CaptionRole:
        return content.caption;
    default:
        return {};
    }
}

QVariant ResultsTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    static const std::array titles{"Result",         "File",        "Integrated",
                                   "Difference",     "True peak",   "Range",
                                   "Max short-term", "Sample peak", "Fix"};
    if (orientation != Qt::Horizontal || section < 0 || section >= columns)
        return {};
    if (role == Qt::DisplayRole) {
        if (m_model.currentSpec().measure == DeliverySpec::Measure::rms &&
            (section == Column::integrated || section == Column::truePeak))
            return section == Column::integrated ? QStringLiteral("RMS")
                                                 : QStringLiteral("Noise floor");
        return QString(titles.at(std::size_t(section)));
    }
    if (role == Qt::TextAlignmentRole) {
        const bool number = section >= Column::integrated && section <= Column::samplePeak;
        return int((number ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    }
    return {};
}

} // namespace tavrin::app

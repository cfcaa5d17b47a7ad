#include "PresetFooter.h"

#include "Paths.h"
#include "ProgressText.h"
#include "TallyButton.h"
#include "ToneLabel.h"
#include "tavrin/reports/Report.h"
#include "tavrin/workflow/CustomTargets.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QUrl>
#include <QVBoxLayout>

namespace tavrin::app {

namespace {

QBoxLayout* tight(QBoxLayout* layout, int spacing) {
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

} // namespace

PresetFooter::PresetFooter(AppModel& model, QWidget* parent) : QWidget(parent), m_model(model) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(16, 10, 16, 10);
    row->setSpacing(16);
    row->addWidget(makeSpecColumn(), 1, Qt::AlignTop);
    row->addSpacing(12 - row->spacing());
    row->addWidget(makeTallyColumn(), 0, Qt::AlignTop);

    connect(&m_tallyPending, &QTimer::timeout, this, &PresetFooter::showTally);
    const auto later = [this] { m_tallyPending.request(); };
    connect(&m_model, &AppModel::itemChanged, this, later);
    connect(&m_model, &AppModel::itemsInserted, this, &PresetFooter::showTally);
    connect(&m_model, &AppModel::itemsRemoved, this, &PresetFooter::showTally);
    connect(&m_model, &AppModel::fixingChanged, this, &PresetFooter::showTally);
    connect(&m_model, &AppModel::fixProgressChanged, this, later);
    connect(&m_model, &AppModel::dualMonoChanged, this, &PresetFooter::showTally);
    connect(&m_model, &AppModel::damagePolicyChanged, this, &PresetFooter::showTally);
    connect(&m_model, &AppModel::specIDChanged, this, [this] {
        showSpec();
        showTally();
    });
    showSpec();
    showTally();
}

QWidget* PresetFooter::makeSpecColumn() {
    auto* column = new QWidget;
    auto* stack = tight(new QVBoxLayout(column), 4);

    auto* heading = tight(new QHBoxLayout, 6);
    m_name = new QLabel;
    m_name->setFont(Theme::headline());
    m_rule = new ToneLabel({}, Tone::secondary);
    m_rule->setFont(Theme::callout());
    heading->addWidget(m_name);
    heading->addWidget(m_rule);
    heading->addStretch();
    stack->addLayout(heading);

    m_summary = new ToneLabel({}, Tone::secondary);
    m_summary->setFont(Theme::callout());
    m_summary->setWordWrap(true);
    stack->addWidget(m_summary);

    m_caution =
        new SymbolLabel(Symbol::exclamationmarkTriangleFill, {}, Tone::caution, Theme::callout());
    m_caution->setWordWrap(true);
    stack->addWidget(m_caution);

    auto* source = tight(new QHBoxLayout, 4);
    auto* sourceTitle = new ToneLabel(QStringLiteral("Source:"), Tone::secondary);
    sourceTitle->setFont(Theme::caption());
    m_source = new QLabel;
    m_source->setFont(Theme::caption());
    m_source->setForegroundRole(QPalette::PlaceholderText);
    connect(m_source, &QLabel::linkActivated, this,
            [this](const QString& link) { m_model.openLink(QUrl(link)); });
    source->addWidget(sourceTitle);
    source->addWidget(m_source);
    source->addStretch();
    stack->addLayout(source);
    return column;
}

QWidget* PresetFooter::makeTallyColumn() {
    m_tally = new QWidget;
    auto* stack = tight(new QVBoxLayout(m_tally), 4);
    m_count = new QLabel;
    m_count->setFont(Theme::headline());
    stack->addWidget(m_count, 0, Qt::AlignRight);

    auto* tally = tight(new QHBoxLayout, 10);
    const QFont digits = Theme::monospacedDigits(Theme::callout());
    m_pass = new TallyButton(Symbol::checkmarkCircleFill, Tone::pass, digits);
    m_fail = new TallyButton(Symbol::xmarkOctagonFill, Tone::fail, digits);
    m_other = new TallyButton(Symbol::minusCircle, Tone::secondary, digits);
    m_damaged = new TallyButton(Symbol::exclamationmarkTriangleFill, Tone::caution, digits);
    const std::pair<TallyButton*, RowFilter> filters[]{{m_pass, RowFilter::passing},
                                                       {m_fail, RowFilter::failing},
                                                       {m_other, RowFilter::withoutReading},
                                                       {m_damaged, RowFilter::damaged}};
    for (const auto& [button, filter] : filters)
        connect(button, &TallyButton::clicked, this, [this, button, filter] {
            emit filterRequested(button->isChecked() ? filter : RowFilter::all);
        });
    tally->addStretch();
    tally->addWidget(m_pass);
    tally->addWidget(m_fail);
    tally->addWidget(m_other);
    tally->addWidget(m_damaged);
    stack->addLayout(tally);

    m_dualMono = new ToneLabel(qs(Report::dualMonoNote), Tone::secondary);
    m_dualMono->setFont(Theme::caption());
    stack->addWidget(m_dualMono, 0, Qt::AlignRight);

    m_activity = new ToneLabel({}, Tone::secondary);
    m_activity->setFont(Theme::caption());
    stack->addWidget(m_activity, 0, Qt::AlignRight);
    return m_tally;
}

void PresetFooter::showSpec() {
    const DeliverySpec& spec = m_model.currentSpec();
    // A custom target's name is its loudness, which the rule beside it already starts with.
    m_name->setText(Workflow::customSpecForId(spec.id) ? QStringLiteral("Custom target")
                                                       : qs(spec.name));
    m_rule->setText(qs(spec.ruleText()));
    m_summary->setText(qs(spec.summary));
    m_caution->setText(spec.caution ? qs(*spec.caution) : QString());
    m_caution->setVisible(spec.caution.has_value());

    const QUrl url(spec.sourceURL ? qs(*spec.sourceURL) : QString(), QUrl::StrictMode);
    const bool link = url.isValid() && !url.scheme().isEmpty();
    m_source->setTextFormat(link ? Qt::RichText : Qt::PlainText);
    // The link's colour is spelled out: a rich-text label keeps the one it was first laid out in.
    m_source->setText(link ? QStringLiteral("<a href=\"%1\" style=\"color: %3\">%2</a>")
                                 .arg(url.toString(QUrl::FullyEncoded).toHtmlEscaped(),
                                      qs(spec.sourceName).toHtmlEscaped(),
                                      palette().color(QPalette::Link).name())
                           : qs(spec.sourceName));
    m_source->setToolTip(link ? url.toString() : QString());
}

void PresetFooter::showTally() {
    m_tallyPending.stop();
    const std::size_t files = m_model.items().size();
    m_tally->setVisible(files > 0);
    if (files == 0)
        return;
    // Counted as the filters select, so a count always says how many rows its button shows; rows
    // still to be measured have no reading yet, rather than none to give, and count nowhere.
    const auto count = [this](RowFilter filter) {
        return static_cast<int>(std::ranges::count_if(m_model.items(), [&](const FileItem& item) {
            return matches(filter, item, m_model.currentSpec(), m_model.damagePolicy());
        }));
    };
    const Report::Counts counts{count(RowFilter::passing), count(RowFilter::failing),
                                count(RowFilter::withoutReading), count(RowFilter::damaged)};
    m_count->setText(QString::number(files) + " file" + (files == 1 ? "" : "s"));
    m_pass->setText(QString::number(counts.passed) + " pass");
    m_fail->setText(QString::number(counts.failed) + " fail");
    m_other->setText(QString::number(counts.other) + " without a reading");
    m_pass->setAccessibleName(showOnlyText(RowFilter::passing, counts.passed));
    m_fail->setAccessibleName(showOnlyText(RowFilter::failing, counts.failed));
    m_damaged->setText(QString::number(counts.damaged) + " damaged");
    m_other->setAccessibleName(showOnlyText(RowFilter::withoutReading, counts.other));
    m_damaged->setAccessibleName(showOnlyText(RowFilter::damaged, counts.damaged));
    // Kept while their filter is on, so the way back stays where it was clicked.
    m_other->setVisible(counts.other > 0 || m_other->isChecked());
    m_damaged->setVisible(counts.damaged > 0 || m_damaged->isChecked());
    m_dualMono->setVisible(m_model.dualMono());
    m_activity->setText(activity());
    m_activity->setVisible(!m_activity->text().isEmpty());
    QStringList spoken{m_count->text(), m_pass->text(), m_fail->text()};
    if (counts.other > 0)
        spoken << m_other->text();
    if (counts.damaged > 0)
        spoken << m_damaged->text();
    for (const QLabel* label : {m_dualMono, m_activity})
        if (!label->isHidden())
            spoken << label->text();
    m_tally->setAccessibleName(spoken.join(", "));
}

QString PresetFooter::activity() const {
    if (const auto progress = m_model.fixProgress())
        return "Fixing " + QString::number(progress->current) + " of " +
               QString::number(progress->total) + "…";
    if (const auto measuring = m_model.measuringProgress())
        return measuringText(measuring->done, measuring->total, measuring->seconds);
    return m_model.fixing() ? QStringLiteral("Writing fixed copies…") : QString();
}

void PresetFooter::showFilter(RowFilter filter) {
    m_pass->setChecked(filter == RowFilter::passing);
    m_fail->setChecked(filter == RowFilter::failing);
    m_other->setChecked(filter == RowFilter::withoutReading);
    m_damaged->setChecked(filter == RowFilter::damaged);
    showTally();
}

QString PresetFooter::countText() const {
    return m_count->text();
}

QString PresetFooter::activityText() const {
    return m_activity->isVisibleTo(m_tally) ? m_activity->text() : QString();
}

QString PresetFooter::cautionText() const {
    return m_caution->isVisibleTo(this) ? m_caution->text() : QString();
}

bool PresetFooter::tallyShown() const {
    return m_tally->isVisibleTo(this);
}

void PresetFooter::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        showSpec();
}

void PresetFooter::paintEvent(QPaintEvent*) {
    const QColor base = palette().color(QPalette::Base);
    QPainter(this).fillRect(rect(),
                            Theme::isDark(palette()) ? base.lighter(135) : base.darker(104));
}

} // namespace tavrin::app

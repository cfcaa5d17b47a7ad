#include "SettingsWindow.h"

#include "AppTexts.h"
#include "Paths.h"
#include "Theme.h"
#include "ToneLabel.h"
#include "tavrin/workflow/Workflow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QTabWidget>
#include <QVBoxLayout>

namespace tavrin::app {

namespace {

constexpr auto tabKey = "settingsTab";
constexpr auto placeKey = "settingsWindowGeometry";
const QStringList tabTags{QStringLiteral("general"), QStringLiteral("reports"),
                          QStringLiteral("privacy")};

/// A one-line label that shortens its text in the middle, as paths are.
class MiddleElidedLabel : public QLabel {
public:
    using QLabel::QLabel;
    QSize minimumSizeHint() const override { return {40, QLabel::minimumSizeHint().height()}; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setPen(palette().color(foregroundRole()));
        painter.drawText(rect(), int(Qt::AlignLeft | Qt::AlignVCenter),
                         fontMetrics().elidedText(text(), Qt::ElideMiddle, width()));
    }
};

QLabel* explanation(const QString& text, Tone tone = Tone::secondary, bool callout = true) {
    auto* label = new ToneLabel(text, tone);
    label->setWordWrap(true);
    if (callout)
        label->setFont(Theme::callout());
    return label;
}

QGroupBox* section(const QString& title, QLayout* content) {
    auto* box = new QGroupBox(title);
    box->setLayout(content);
    return box;
}

} // namespace

SettingsWindow::SettingsWindow(AppModel& model, QSettings* settings, QWidget* parent)
    : QWidget(parent, Qt::Window), m_model(model), m_settings(settings), m_tabs(new QTabWidget) {
    setWindowTitle(QStringLiteral("Settings"));
    setFixedSize(560, 530);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->addWidget(m_tabs);
    m_tabs->addTab(makeGeneralTab(), QStringLiteral("General"));
    m_tabs->addTab(makeReportsTab(), QStringLiteral("Reports"));
    m_tabs->addTab(makePrivacyTab(), QStringLiteral("Privacy"));
    tintTabIcons();
    const QString stored = m_settings ? m_settings->value(tabKey).toString() : QString();
    m_tabs->setCurrentIndex(std::max(0, int(tabTags.indexOf(stored))));
    connect(m_tabs, &QTabWidget::currentChanged, this, [this](int index) {
        if (m_settings)
            m_settings->setValue(tabKey, tabTags.value(index));
    });
    QList<QKeySequence> closeKeys{QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)};
    for (const QKeySequence& platformKey : QKeySequence::keyBindings(QKeySequence::Close))
        if (!closeKeys.contains(platformKey)) // one key twice would make both ambiguous
            closeKeys << platformKey;
    auto* closing = new QShortcut(this);
    closing->setKeys(closeKeys);
    connect(closing, &QShortcut::activated, this, &QWidget::close);
    connect(&m_model, &AppModel::dualMonoChanged, this, &SettingsWindow::showSettings);
    connect(&m_model, &AppModel::outputFolderChanged, this, &SettingsWindow::showSettings);
    connect(&m_model, &AppModel::copyFormatChanged, this, &SettingsWindow::showSettings);
    connect(&m_model, &AppModel::fixingChanged, this, &SettingsWindow::showSettings);
    connect(&m_model, &AppModel::paperChanged, this, &SettingsWindow::showSettings);
    connect(&m_model, &AppModel::damagePolicyChanged, this, &SettingsWindow::showSettings);
    connect(&m_model, &AppModel::limitWhereGainCantChanged, this, &SettingsWindow::showSettings);
    showSettings();
    placeWindow();
}

void SettingsWindow::placeWindow() {
    const QVariant stored = m_settings ? m_settings->value(placeKey) : QVariant();
    if (stored.typeId() == QMetaType::QByteArray && restoreGeometry(stored.toByteArray()))
        return;
    // The first time, over the middle of the window it belongs to.
    if (const QWidget* owner = parentWidget())
        move(owner->frameGeometry().center() - rect().center());
}

void SettingsWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (m_settings)
        m_settings->setValue(placeKey, saveGeometry());
}

void SettingsWindow::tintTabIcons() {
    const QColor ink = palette().color(QPalette::WindowText);
    m_tabs->setTabIcon(0, Theme::symbolIcon(Symbol::gear, ink));
    m_tabs->setTabIcon(1, Theme::symbolIcon(Symbol::share, ink));
    m_tabs->setTabIcon(2, Theme::symbolIcon(Symbol::handRaised, ink));
}

void SettingsWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        tintTabIcons();
}

QWidget* SettingsWindow::makeGeneralTab() {
    auto* measuring = new QVBoxLayout;
    m_dualMono = new QCheckBox(QStringLiteral("Count mono files as dual mono (+3 dB)"));
    connect(m_dualMono, &QCheckBox::clicked, &m_model, &AppModel::setDualMono);
    measuring->addWidget(m_dualMono);
    measuring->addWidget(explanation(QStringLiteral(
        "ITU-R BS.1770 measures a mono file as one channel. Some podcast tools count it as if it "
        "played from both speakers, which reads 3 dB louder. Leave this off unless your delivery "
        "spec says otherwise; changing it measures the list again.")));
    auto* damage = new QFormLayout;
    damage->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    m_damage = new QComboBox;
    m_damage->addItems({AppTexts::failsChoice(), AppTexts::warnsChoice()});
    connect(m_damage, &QComboBox::activated, this, [this](int index) {
        m_model.setDamagePolicy(index == 1 ? DamagePolicy::warn : DamagePolicy::fail);
    });
    damage->addRow(AppTexts::settingLabel(), m_damage);
    measuring->addSpacing(6);
    measuring->addLayout(damage);
    measuring->addWidget(explanation(AppTexts::settingExplanation()));

    auto* copies = new QVBoxLayout;
    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    m_destination = new QComboBox;
    m_destination->addItems({QStringLiteral("Next to each original"), QString()});
    connect(m_destination, &QComboBox::activated, this, &SettingsWindow::destinationChosen);
    form->addRow(QStringLiteral("Save fixed copies"), m_destination);
    m_folderRow = new QWidget;
    auto* folderRow = new QHBoxLayout(m_folderRow);
    folderRow->setContentsMargins(0, 0, 0, 0);
    m_folder = new MiddleElidedLabel;
    m_folder->setForegroundRole(QPalette::PlaceholderText);
    m_change = new QPushButton(QStringLiteral("Change…"));
    connect(m_change, &QPushButton::clicked, &m_model, &AppModel::chooseOutputFolder);
    folderRow->addWidget(m_folder, 1);
    folderRow->addWidget(m_change);
    m_folderLabel = new QLabel(QStringLiteral("Folder"));
    form->addRow(m_folderLabel, m_folderRow);
    m_copyFormat = new QComboBox;
    m_copyFormat->addItems(
        {QStringLiteral("WAV or AIFF (lossless)"), QStringLiteral("The original's format")});
    connect(m_copyFormat, &QComboBox::activated, this, [this](int index) {
        m_model.setCopyFormat(index == 1 ? GainWriter::CopyFormat::original
                                         : GainWriter::CopyFormat::wav);
    });
    form->addRow(QStringLiteral("Fixed copies"), m_copyFormat);
    m_whenGainCant = new QComboBox;
    m_whenGainCant->addItems({AppTexts::leaveFileChoice(), AppTexts::useLimiterChoice()});
    connect(m_whenGainCant, &QComboBox::activated, this,
            [this](int index) { m_model.setLimitWhereGainCant(index == 1); });
    form->addRow(AppTexts::whenGainCantLabel(), m_whenGainCant);
    copies->addLayout(form);
    m_copiesText = explanation({});
    copies->addWidget(m_copiesText);

    auto* tab = new QWidget;
    auto* column = new QVBoxLayout(tab);
    column->addWidget(section(QStringLiteral("Measuring"), measuring));
    column->addWidget(section(QStringLiteral("Fixed copies"), copies));
    column->addStretch();
    return tab;
}

QWidget* SettingsWindow::makeReportsTab() {
    auto* reports = new QFormLayout;
    reports->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    m_paper = new QComboBox;
    m_paper->addItems({QStringLiteral("US Letter"), QStringLiteral("A4")});
    connect(m_paper, &QComboBox::activated, this,
            [this](int index) { m_model.setA4Paper(index == 1); });
    reports->addRow(QStringLiteral("Paper size"), m_paper);

    auto* sessions = new QVBoxLayout;
    auto* verify = new QFormLayout;
    verify->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    m_sessionVerify = new QComboBox;
    m_sessionVerify->addItems(
        {AppTexts::verifyWhenChangedChoice(), AppTexts::verifyAlwaysChoice()});
    connect(m_sessionVerify, &QComboBox::activated, this, [this](int index) {
        m_model.setSessionVerify(index == 1 ? Session::Verify::always
                                            : Session::Verify::onlyWhenChanged);
    });
    verify->addRow(AppTexts::verifySettingLabel(), m_sessionVerify);
    sessions->addLayout(verify);
    sessions->addWidget(explanation(AppTexts::verifySettingExplanation()));

    auto* tab = new QWidget;
    auto* column = new QVBoxLayout(tab);
    column->addWidget(section(QStringLiteral("PDF reports"), reports));
    column->addWidget(section(QStringLiteral("Sessions"), sessions));
    column->addStretch();
    return tab;
}

QWidget* SettingsWindow::makePrivacyTab() {
    auto* texts = new QVBoxLayout;
    texts->setSpacing(12);
    texts->addWidget(explanation(AppTexts::audioStaysHere(), Tone::primary, false));
    texts->addWidget(explanation(AppTexts::whatIsStored(), Tone::secondary, false));
    texts->addWidget(explanation(AppTexts::measurementStatement()));
    auto* tab = new QWidget;
    auto* column = new QVBoxLayout(tab);
    auto* box = new QGroupBox;
    box->setLayout(texts);
    column->addWidget(box);
    column->addStretch();
    return tab;
}

void SettingsWindow::showSettings() {
    m_dualMono->setChecked(m_model.dualMono());
    // Copies being written were measured with the setting as it is.
    m_dualMono->setEnabled(!m_model.fixing());
    m_dualMono->setToolTip(m_model.fixing() ? QStringLiteral("Can’t be changed while fixed copies "
                                                             "are being written.")
                                            : QString());
    m_paper->setCurrentIndex(m_model.a4Paper() ? 1 : 0);
    m_damage->setCurrentIndex(m_model.damagePolicy() == DamagePolicy::warn ? 1 : 0);
    m_whenGainCant->setCurrentIndex(m_model.limitWhereGainCant() ? 1 : 0);
    m_sessionVerify->setCurrentIndex(m_model.sessionVerify() == Session::Verify::always ? 1 : 0);
    const auto& folder = m_model.outputFolder();
    m_destination->setItemText(1, folder ? "In " + qs(Workflow::folderName(*folder))
                                         : QStringLiteral("In a folder…"));
    m_destination->setCurrentIndex(folder ? 1 : 0);
    m_folder->setText(folder ? toQString(*folder) : QString());
    m_folder->setToolTip(m_folder->text());
    m_folderLabel->setVisible(folder.has_value());
    m_folderRow->setVisible(folder.has_value());
    const bool keepsFormat = m_model.copyFormat() == GainWriter::CopyFormat::original;
    m_copyFormat->setCurrentIndex(keepsFormat ? 1 : 0);
    m_copiesText->setText(
        keepsFormat
            ? QStringLiteral(
                  "A fixed copy is named after the original and the preset, like “Episode 12 "
                  "(Apple Podcasts).mp3”. Nothing is ever overwritten: if the name is taken, a "
                  "number is added. Copies keep the original's format, tags, chapters and artwork; "
                  "lossy copies are checked again after encoding.")
            : QStringLiteral(
                  "A fixed copy is named after the original and the preset, like “Episode 12 "
                  "(Apple Podcasts).wav”. Nothing is ever overwritten: if the name is taken, a "
                  "number is added. WAV and AIFF keep their format; MP3, AAC and FLAC files are "
                  "saved as 24-bit WAV, ready to encode. Tags and metadata aren’t copied."));
}

QString SettingsWindow::copiesText() const {
    return m_copiesText->text();
}

void SettingsWindow::destinationChosen(int index) {
    if (index == 0)
        m_model.setOutputFolder(std::nullopt);
    else // chosen again, it asks for another folder
        m_model.chooseOutputFolder();
    showSettings(); // a cancelled panel leaves the picker on the setting as it is
}

QString SettingsWindow::folderText() const {
    return m_folderRow->isVisibleTo(this) ? m_folder->text() : QString();
}

} // namespace tavrin::app

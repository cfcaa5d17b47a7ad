#include "TargetsWindow.h"

#include "AppTexts.h"
#include "Paths.h"
#include "TargetFields.h"
#include "Theme.h"
#include "ToneLabel.h"
#include "tavrin/workflow/TargetFiles.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>
#include <stdexcept>

namespace tavrin::app {

namespace {

using Workflow::CustomNumber;

/// The numbers in the order the editor shows them, and whether each may be left empty.
constexpr std::pair<CustomNumber, bool> editorNumbers[] = {
    {CustomNumber::target, false},          {CustomNumber::tolerance, false},
    {CustomNumber::maxTruePeak, false},     {CustomNumber::louderMaxTruePeak, true},
    {CustomNumber::maxLoudnessRange, true}, {CustomNumber::maxShortTerm, true},
    {CustomNumber::maxMomentary, true},     {CustomNumber::maxSamplePeak, true},
};

QPushButton* plainButton(const QString& text) {
    auto* button = new QPushButton(text);
    button->setAutoDefault(false);
    return button;
}

} // namespace

TargetsWindow::TargetsWindow(AppModel& model, QWidget* parent)
    : QWidget(parent, Qt::Window), m_model(model), m_list(new QListWidget), m_name(new QLineEdit),
      m_nameProblem(new ToneLabel({}, Tone::fail)), m_fields(new TargetFields),
      m_new(plainButton(QStringLiteral("New"))),
      m_duplicate(plainButton(QStringLiteral("Duplicate"))),
      m_delete(plainButton(QStringLiteral("Delete"))),
      m_import(plainButton(QStringLiteral("Import…"))),
      m_export(plainButton(QStringLiteral("Export…"))), m_save(new QPushButton("Save")),
      m_editor(new QWidget) {
    setWindowTitle(QStringLiteral("Manage Targets"));
    // Wide enough that a sentence under a field takes two lines at most.
    setMinimumSize(680, 420);
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(16, 16, 16, 12);
    layout->setHorizontalSpacing(16);

    m_list->setFixedWidth(220);
    m_list->setAccessibleName(QStringLiteral("Targets"));
    layout->addWidget(m_list, 0, 0);
    auto* listButtons = new QHBoxLayout;
    for (QPushButton* button : {m_new, m_duplicate, m_delete})
        listButtons->addWidget(button);
    layout->addLayout(listButtons, 1, 0);

    auto* editor = new QVBoxLayout(m_editor);
    editor->setContentsMargins(0, 0, 0, 0);
    auto* nameRow = new QHBoxLayout;
    auto* nameCaption = new QLabel(QStringLiteral("Name:"));
    nameCaption->setBuddy(m_name);
    nameRow->addWidget(nameCaption);
    nameRow->addWidget(m_name, 1);
    editor->addLayout(nameRow);
    m_nameProblem->setFont(Theme::caption());
    m_nameProblem->setWordWrap(true);
    m_nameProblem->hide();
    editor->addWidget(m_nameProblem);
    editor->addSpacing(8);
    for (const auto& [number, optional] : editorNumbers)
        m_fields->addRow(number, std::nullopt, optional);
    editor->addWidget(m_fields);
    auto* note = new ToneLabel(AppTexts::targetLimitsNote(), Tone::secondary);
    note->setFont(Theme::caption());
    note->setWordWrap(true);
    editor->addWidget(note);
    editor->addStretch(1);
    layout->addWidget(m_editor, 0, 1);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_import);
    bottom->addWidget(m_export);
    bottom->addStretch(1);
    m_save->setDefault(true);
    bottom->addWidget(m_save);
    layout->addLayout(bottom, 1, 1);

    connect(m_name, &QLineEdit::textEdited, this, [this] { setEdited(true); });
    connect(m_fields, &TargetFields::edited, this, [this] { setEdited(true); });
    connect(m_save, &QPushButton::clicked, this, &TargetsWindow::save);
    connect(m_list, &QListWidget::currentRowChanged, this, [this] {
        // An edit is kept on the way to another target, or the list stays to say what is wrong.
        if (m_edited && !save()) {
            const QSignalBlocker quiet(m_list);
            select(m_shown);
            return;
        }
        showTarget();
    });
    connect(m_new, &QPushButton::clicked, this, [this] {
        DeliverySpec target = DeliverySpec::ebuR128();
        target.name = m_model.freeTargetName("New target");
        addTarget(Workflow::targetFromJson(Workflow::targetToJson(target)));
        m_name->setFocus();
        m_name->selectAll();
    });
    connect(m_duplicate, &QPushButton::clicked, this, [this] {
        if (m_edited && !save())
            return;
        if (auto target = m_model.settingsSpecFor(chosenID())) {
            target->name = m_model.freeTargetName(target->name);
            addTarget(Workflow::targetFromJson(Workflow::targetToJson(*target)));
        }
    });
    connect(m_delete, &QPushButton::clicked, this, [this] {
        const int row = m_list->currentRow();
        setEdited(false);
        m_model.removeNamedTarget(chosenID());
        m_list->setCurrentRow(std::min(row, m_list->count() - 1));
    });
    connect(m_import, &QPushButton::clicked, this, [this] {
        m_model.importTarget([this](const DeliverySpec& target) { select(target.id); });
    });
    connect(m_export, &QPushButton::clicked, this, [this] {
        if (m_edited && !save())
            return;
        if (const auto target = m_model.settingsSpecFor(chosenID()))
            m_model.exportTarget(*target);
    });
    connect(&m_model, &AppModel::customSpecsChanged, this, &TargetsWindow::fillList);
    for (const QKeySequence& key :
         {QKeySequence(Qt::Key_Escape), QKeySequence(QKeySequence::Close)})
        connect(new QShortcut(key, this), &QShortcut::activated, this, &QWidget::close);

    fillList();
    const std::string current = m_model.specID();
    select(Workflow::isNamedTargetId(current) ? current : chosenID());
    showTarget();
}

void TargetsWindow::fillList() {
    const std::string chosen = m_edited ? m_shown : chosenID();
    {
        const QSignalBlocker quiet(m_list);
        m_list->clear();
        for (const DeliverySpec& target : m_model.namedTargets()) {
            auto* item = new QListWidgetItem(qs(target.name), m_list);
            item->setData(Qt::UserRole, qs(target.id));
            item->setToolTip(qs(target.ruleText()));
        }
        select(chosen);
        if (m_list->currentRow() < 0 && m_list->count() > 0)
            m_list->setCurrentRow(0);
    }
    if (!m_edited)
        showTarget();
}

void TargetsWindow::select(const std::string& id) {
    for (int row = 0; row < m_list->count(); ++row)
        if (m_list->item(row)->data(Qt::UserRole).toString().toStdString() == id)
            m_list->setCurrentRow(row);
}

std::string TargetsWindow::chosenID() const {
    const QListWidgetItem* item = m_list->currentItem();
    return item ? item->data(Qt::UserRole).toString().toStdString() : std::string();
}

void TargetsWindow::showTarget() {
    const auto target = m_model.settingsSpecFor(chosenID());
    m_shown = target ? target->id : std::string();
    m_editor->setEnabled(target.has_value());
    for (QPushButton* button : {m_duplicate, m_delete, m_export})
        button->setEnabled(target.has_value());
    m_name->setText(target ? qs(target->name) : QString());
    m_nameProblem->hide();
    for (const auto& [number, optional] : editorNumbers)
        m_fields->setValue(number, target ? Workflow::targetNumber(*target, number) : std::nullopt);
    setEdited(false);
}

void TargetsWindow::addTarget(DeliverySpec target) {
    setEdited(false);
    m_model.putNamedTarget(target.id, target);
    select(target.id);
    showTarget();
}

void TargetsWindow::setEdited(bool edited) {
    m_edited = edited;
    m_save->setEnabled(edited);
}

bool TargetsWindow::save() {
    const bool numbersFine = m_fields->checkAll();
    DeliverySpec draft;
    draft.name = m_name->text().trimmed().toStdString();
    if (numbersFine)
        for (const auto& [number, optional] : editorNumbers)
            Workflow::setTargetNumber(draft, number, m_fields->value(number));
    QString problem;
    try {
        draft = Workflow::targetFromJson(Workflow::targetToJson(draft));
        if (draft.id != m_shown && m_model.settingsSpecFor(draft.id))
            problem = AppTexts::targetNameTaken(qs(draft.name));
    } catch (const std::invalid_argument& error) {
        problem = numbersFine ? qs(error.what()) : QString();
    }
    m_nameProblem->setText(problem);
    m_nameProblem->setVisible(!problem.isEmpty());
    if (!numbersFine || !problem.isEmpty())
        return false;
    setEdited(false);
    const std::string replacing = m_shown;
    m_shown = draft.id;
    m_model.putNamedTarget(replacing, draft);
    select(draft.id);
    return true;
}

} // namespace tavrin::app

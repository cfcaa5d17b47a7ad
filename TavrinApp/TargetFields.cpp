#include "TargetFields.h"

#include "AppTexts.h"
#include "Paths.h"
#include "Theme.h"
#include "ToneLabel.h"
#include "tavrin/core/Fmt.h"

#include <QGridLayout>
#include <QLineEdit>
#include <QLocale>
#include <cmath>

namespace tavrin::app {

namespace {

using Workflow::CustomNumber;

std::size_t indexOf(CustomNumber number) {
    return static_cast<std::size_t>(number);
}

QString caption(CustomNumber number) {
    static const char* const captions[] = {
        "Target:",        "Tolerance:",          "True-peak ceiling:", "Ceiling when louder:",
        "Range at most:", "Short-term at most:", "Momentary at most:", "Sample peak at most:"};
    return QString::fromUtf8(captions[indexOf(number)]);
}

} // namespace

std::optional<double> typedNumber(QString text) {
    text = text.trimmed();
    text.replace(QChar(0x2212), QLatin1Char('-'));
    text.replace(QLatin1Char(','), QLatin1Char('.'));
    if (text.startsWith(QLatin1Char('+')))
        text.remove(0, 1);
    bool ok = false;
    const double value = QLocale::c().toDouble(text, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return Fmt::round1(value);
}

TargetFields::TargetFields(QWidget* parent) : QWidget(parent), m_grid(new QGridLayout(this)) {
    m_grid->setContentsMargins(0, 0, 0, 0);
    m_grid->setHorizontalSpacing(8);
    m_grid->setVerticalSpacing(4);
    m_grid->setColumnStretch(3, 1);
}

void TargetFields::addRow(CustomNumber number, std::optional<double> value, bool optional) {
    const int line = m_grid->rowCount();
    const QString title = caption(number);
    const QString unit = qs(std::string(Workflow::numberWords(number).unit));
    auto* field = new QLineEdit;
    field->setFixedWidth(80);
    field->setAlignment(Qt::AlignRight);
    field->setAccessibleName(title.chopped(1) + " in " + unit);
    if (optional)
        field->setPlaceholderText(QStringLiteral("none"));
    auto* label = new QLabel(title);
    label->setBuddy(field);
    auto* problem = new ToneLabel({}, Tone::fail);
    problem->setFont(Theme::caption());
    problem->setWordWrap(true);
    problem->hide();
    m_grid->addWidget(label, line, 0, Qt::AlignRight);
    m_grid->addWidget(field, line, 1);
    m_grid->addWidget(new ToneLabel(unit, Tone::secondary), line, 2);
    m_grid->addWidget(problem, line + 1, 1, 1, 3);
    m_rows[indexOf(number)] = {field, problem, optional};
    setValue(number, value);

    connect(field, &QLineEdit::editingFinished, this, [this, number] { check(number); });
    connect(field, &QLineEdit::textEdited, this, [this, number] {
        if (!problemLabel(number)->isHidden())
            check(number);
        emit edited();
    });
}

void TargetFields::setValue(CustomNumber number, std::optional<double> value) {
    const Row& row = m_rows[indexOf(number)];
    row.field->setText(value ? qs(Fmt::number(*value, false)) : QString());
    row.problem->hide();
    row.field->setAccessibleDescription({});
}

QLineEdit* TargetFields::field(CustomNumber number) const {
    return m_rows[indexOf(number)].field;
}

QLabel* TargetFields::problemLabel(CustomNumber number) const {
    return m_rows[indexOf(number)].problem;
}

std::optional<double> TargetFields::value(CustomNumber number) const {
    return typedNumber(field(number)->text());
}

bool TargetFields::check(CustomNumber number) {
    const Row& row = m_rows[indexOf(number)];
    const bool empty = row.field->text().trimmed().isEmpty();
    const auto value = this->value(number);
    QString problem;
    if (!value && !(empty && row.optional))
        problem = AppTexts::notANumber(number);
    else if (const auto outside =
                 value ? Workflow::customNumberProblem(number, *value) : std::nullopt)
        problem = qs(*outside);
    row.problem->setText(problem);
    row.problem->setVisible(!problem.isEmpty());
    row.field->setAccessibleDescription(problem);
    return problem.isEmpty();
}

bool TargetFields::checkAll() {
    QLineEdit* firstWrong = nullptr;
    for (std::size_t i = 0; i < numberCount; ++i) {
        if (m_rows[i].field && !check(static_cast<CustomNumber>(i)) && !firstWrong)
            firstWrong = m_rows[i].field;
    }
    if (firstWrong) {
        firstWrong->setFocus();
        firstWrong->selectAll();
    }
    return !firstWrong;
}

} // namespace tavrin::app

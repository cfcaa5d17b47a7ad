#include "CustomTargetSheet.h"

#include "AppTexts.h"
#include "Paths.h"
#include "ToneLabel.h"
#include "tavrin/core/Fmt.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

namespace tavrin::app {

namespace {

using Workflow::CustomNumber;

/// What a person typed as a number: "−19", "-19", "+1" and "0,5" all count. Every target is shown
/// with one decimal, so that is what it keeps; two targets that look alike are alike.
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

/// What the sentence under a field says when it holds no number.
QString notANumber(CustomNumber number) {
    switch (number) {
    case CustomNumber::target:
        return AppTexts::targetNotANumber();
    case CustomNumber::tolerance:
        return AppTexts::toleranceNotANumber();
    case CustomNumber::maxTruePeak:
        break;
    }
    return AppTexts::ceilingNotANumber();
}

std::size_t indexOf(CustomNumber number) {
    return static_cast<std::size_t>(number);
}

} // namespace

QString customTargetOption(const DeliverySpec& spec) {
    return qs(spec.name + " (±" + Fmt::oneDecimal(spec.tolerance) + " LU, ≤ " +
              Fmt::number(spec.maxTruePeak, false) + " dBTP)");
}

CustomTargetSheet::CustomTargetSheet(const DeliverySpec& current, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Custom Target"));
    setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 14);
    layout->setSpacing(14);
    // The sheet grows and shrinks with the sentences under the fields.
    layout->setSizeConstraint(QLayout::SetFixedSize);

    auto* heading = new QLabel(QStringLiteral("Custom Target"));
    heading->setFont(Theme::headline());
    layout->addWidget(heading);
    auto* intro = new ToneLabel(
        QStringLiteral("Check the list against a target of your own. Fixed copies are named after "
                       "it, as in “Episode 12 (−19.0 LUFS).wav”; the Preset menu keeps the "
                       "last five."),
        Tone::secondary);
    intro->setFont(Theme::callout());
    intro->setWordWrap(true);
    intro->setFixedWidth(480);
    layout->addSpacing(4 - layout->spacing());
    layout->addWidget(intro);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(4);
    grid->setColumnStretch(3, 1);
    layout->addLayout(grid);
    const bool custom = !DeliverySpec::preset(current.id);
    addRow(grid, CustomNumber::target, QStringLiteral("Target:"), QStringLiteral("LUFS"),
           current.target);
    addRow(grid, CustomNumber::tolerance, QStringLiteral("Tolerance:"), QStringLiteral("LU"),
           custom ? current.tolerance : 1.0);
    addRow(grid, CustomNumber::maxTruePeak, QStringLiteral("True-peak ceiling:"),
           QStringLiteral("dBTP"), custom ? current.maxTruePeak : -1.0);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    for (QAbstractButton* button : buttons->buttons())
        button->setIcon({}); // plain, like the app's alerts
    connect(buttons, &QDialogButtonBox::accepted, this, &CustomTargetSheet::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CustomTargetSheet::reject);
    layout->addWidget(buttons);
    field(CustomNumber::target)->setFocus();
    field(CustomNumber::target)->selectAll();
}

void CustomTargetSheet::addRow(QGridLayout* grid, CustomNumber number, const QString& title,
                               const QString& unit, double value) {
    const int line = grid->rowCount();
    auto* field = new QLineEdit(qs(Fmt::number(value, false)));
    field->setFixedWidth(80);
    field->setAlignment(Qt::AlignRight);
    field->setAccessibleName(title.chopped(1) + " in " + unit);
    auto* caption = new QLabel(title);
    caption->setBuddy(field);
    auto* problem = new ToneLabel({}, Tone::fail);
    problem->setFont(Theme::caption());
    problem->setWordWrap(true);
    problem->hide();
    grid->addWidget(caption, line, 0, Qt::AlignRight);
    grid->addWidget(field, line, 1);
    grid->addWidget(new ToneLabel(unit, Tone::secondary), line, 2);
    grid->addWidget(problem, line + 1, 1, 1, 3);
    m_rows[indexOf(number)] = {field, problem};

    // A mistake is pointed out when the field is left, and the sentence goes as soon as it is put
    // right, so typing "-1" on the way to "-19" says nothing.
    connect(field, &QLineEdit::editingFinished, this, [this, number] { check(number); });
    connect(field, &QLineEdit::textEdited, this, [this, number] {
        if (!problemLabel(number)->isHidden())
            check(number);
    });
}

QLineEdit* CustomTargetSheet::field(CustomNumber number) const {
    return m_rows[indexOf(number)].field;
}

QLabel* CustomTargetSheet::problemLabel(CustomNumber number) const {
    return m_rows[indexOf(number)].problem;
}

std::optional<double> CustomTargetSheet::check(CustomNumber number) {
    const Row& row = m_rows[indexOf(number)];
    const auto value = typedNumber(row.field->text());
    QString problem;
    if (!value)
        problem = notANumber(number);
    else if (const auto outside = Workflow::customNumberProblem(number, *value))
        problem = qs(*outside);
    row.problem->setText(problem);
    row.problem->setVisible(!problem.isEmpty());
    row.field->setAccessibleDescription(problem);
    return problem.isEmpty() ? value : std::nullopt;
}

void CustomTargetSheet::accept() {
    const auto target = check(CustomNumber::target);
    const auto tolerance = check(CustomNumber::tolerance);
    const auto maxTruePeak = check(CustomNumber::maxTruePeak);
    if (!target || !tolerance || !maxTruePeak) {
        for (const Row& row : m_rows)
            if (!row.problem->isHidden()) {
                row.field->setFocus();
                row.field->selectAll();
                break;
            }
        return;
    }
    m_spec = Workflow::customSpec(*target, tolerance, maxTruePeak);
    QDialog::accept();
}

} // namespace tavrin::app

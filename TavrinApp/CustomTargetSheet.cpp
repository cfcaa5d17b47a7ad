#include "CustomTargetSheet.h"

#include "AppTexts.h"
#include "Paths.h"
#include "TargetFields.h"
#include "ToneLabel.h"
#include "tavrin/core/Fmt.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tavrin::app {

using Workflow::CustomNumber;

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

    m_fields = new TargetFields;
    const bool custom = !DeliverySpec::preset(current.id);
    m_fields->addRow(CustomNumber::target, current.target);
    m_fields->addRow(CustomNumber::tolerance, custom ? current.tolerance : 1.0);
    m_fields->addRow(CustomNumber::maxTruePeak, custom ? current.maxTruePeak : -1.0);
    layout->addWidget(m_fields);

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

QLineEdit* CustomTargetSheet::field(CustomNumber number) const {
    return m_fields->field(number);
}

QLabel* CustomTargetSheet::problemLabel(CustomNumber number) const {
    return m_fields->problemLabel(number);
}

void CustomTargetSheet::accept() {
    if (!m_fields->checkAll())
        return;
    m_spec = Workflow::customSpec(*m_fields->value(CustomNumber::target),
                                  m_fields->value(CustomNumber::tolerance),
                                  m_fields->value(CustomNumber::maxTruePeak));
    QDialog::accept();
}

} // namespace tavrin::app

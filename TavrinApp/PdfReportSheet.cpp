#include "PdfReportSheet.h"

#include "AppTexts.h"
#include "Paths.h"
#include "Theme.h"
#include "ToneLabel.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tavrin::app {

PdfReportSheet::PdfReportSheet(const Report::SignOff& signOff, bool graphs, QWidget* parent)
    : QDialog(parent), m_operator(new QLineEdit(qs(signOff.operatorName))),
      m_job(new QLineEdit(qs(signOff.job))), m_notes(new QPlainTextEdit(qs(signOff.notes))),
      m_graphs(new QCheckBox(AppTexts::graphsInReports())) {
    setWindowTitle(AppTexts::pdfReportTitle());
    setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 14);
    layout->setSpacing(14);

    auto* heading = new QLabel(AppTexts::pdfReportTitle());
    heading->setFont(Theme::headline());
    layout->addWidget(heading);
    auto* intro = new ToneLabel(AppTexts::pdfReportExplanation(), Tone::secondary);
    intro->setFont(Theme::callout());
    intro->setWordWrap(true);
    intro->setFixedWidth(480);
    layout->addWidget(intro);

    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    m_operator->setPlaceholderText(QStringLiteral("Who checked the files"));
    m_job->setPlaceholderText(QStringLiteral("A job or order number"));
    m_notes->setTabChangesFocus(true);
    m_notes->setFixedHeight(m_notes->fontMetrics().lineSpacing() * 4);
    form->addRow(QStringLiteral("Operator:"), m_operator);
    form->addRow(QStringLiteral("Job:"), m_job);
    form->addRow(QStringLiteral("Notes:"), m_notes);
    layout->addLayout(form);
    m_graphs->setChecked(graphs);
    layout->addWidget(m_graphs);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel);
    m_export = buttons->addButton(QStringLiteral("Export…"), QDialogButtonBox::AcceptRole);
    for (QAbstractButton* button : buttons->buttons()) {
        button->setIcon({}); // plain, like the app's alerts
        // Return exports, wherever the focus is but in the notes.
        if (auto* push = qobject_cast<QPushButton*>(button))
            push->setAutoDefault(push == m_export);
    }
    m_export->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &PdfReportSheet::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &PdfReportSheet::reject);
    layout->addWidget(buttons);
    m_operator->setFocus();
}

Report::SignOff PdfReportSheet::signOff() const {
    return {m_operator->text().trimmed().toStdString(), m_job->text().trimmed().toStdString(),
            m_notes->toPlainText().trimmed().toStdString()};
}

bool PdfReportSheet::graphs() const {
    return m_graphs->isChecked();
}

} // namespace tavrin::app

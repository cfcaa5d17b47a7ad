#pragma once

#include "tavrin/reports/Report.h"

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace tavrin::app {

/// The sheet Export PDF Report opens before its save panel: who signs the report off, for which
/// job, with what notes, and whether it adds each file's loudness graph. It starts from what the
/// last export used.
class PdfReportSheet : public QDialog {
    Q_OBJECT

public:
    PdfReportSheet(const Report::SignOff& signOff, bool graphs, QWidget* parent = nullptr);

    /// What the fields say, trimmed.
    Report::SignOff signOff() const;
    bool graphs() const;

    QLineEdit* operatorField() const { return m_operator; }
    QLineEdit* jobField() const { return m_job; }
    QPlainTextEdit* notesField() const { return m_notes; }
    QCheckBox* graphsBox() const { return m_graphs; }
    QPushButton* exportButton() const { return m_export; }

private:
    QLineEdit* m_operator;
    QLineEdit* m_job;
    QPlainTextEdit* m_notes;
    QCheckBox* m_graphs;
    QPushButton* m_export = nullptr;
};

} // namespace tavrin::app

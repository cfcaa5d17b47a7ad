#pragma once

#include "AppModel.h"
#include "SummaryTimer.h"

#include <QWidget>

class QLabel;

namespace tavrin::app {

class SymbolLabel;
class ToneLabel;

/// The band along the bottom of the main window: the current preset's rule, summary, caution and
/// source, and, once the list has files, their count, the pass and fail tally and what is running.
class PresetFooter : public QWidget {
    Q_OBJECT

public:
    explicit PresetFooter(AppModel& model, QWidget* parent = nullptr);

    QString countText() const;
    SymbolLabel* passTally() const { return m_pass; }
    SymbolLabel* failTally() const { return m_fail; }
    SymbolLabel* otherTally() const { return m_other; }
    QString activityText() const;
    /// The caution shown under the summary, or empty.
    QString cautionText() const;
    bool tallyShown() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QWidget* makeSpecColumn();
    QWidget* makeTallyColumn();
    void showSpec();
    void showTally();
    /// What is running: "Fixing 3 of 12…", "Measuring…", or nothing.
    QString activity() const;

    AppModel& m_model;
    QLabel* m_name;
    ToneLabel* m_rule;
    ToneLabel* m_summary;
    SymbolLabel* m_caution;
    QLabel* m_source;
    QWidget* m_tally;
    QLabel* m_count;
    SymbolLabel* m_pass;
    SymbolLabel* m_fail;
    SymbolLabel* m_other;
    ToneLabel* m_dualMono;
    ToneLabel* m_activity;
    SummaryTimer m_tallyPending;
};

} // namespace tavrin::app

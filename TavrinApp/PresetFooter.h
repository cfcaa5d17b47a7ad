#pragma once

#include "AppModel.h"
#include "ResultsView.h"
#include "SummaryTimer.h"

#include <QWidget>

class QLabel;

namespace tavrin::app {

class SymbolLabel;
class TallyButton;
class ToneLabel;

/// The band along the bottom of the main window: the current preset's rule, summary, caution and
/// source, and, once the list has files, their count, the pass and fail tally (with the damaged
/// files apart) and what is running.
/// The tally's counts are buttons that ask for the table to show only the rows they count.
class PresetFooter : public QWidget {
    Q_OBJECT

public:
    explicit PresetFooter(AppModel& model, QWidget* parent = nullptr);

    QString countText() const;
    TallyButton* passTally() const { return m_pass; }
    TallyButton* failTally() const { return m_fail; }
    TallyButton* otherTally() const { return m_other; }
    TallyButton* damagedTally() const { return m_damaged; }
    /// Checks the button of the filter the table shows, and only that one.
    void showFilter(RowFilter filter);
    QString activityText() const;
    /// The caution shown under the summary, or empty.
    QString cautionText() const;
    bool tallyShown() const;

signals:
    /// A tally's button was clicked: show only its rows, or, clicked again, every row.
    void filterRequested(RowFilter filter);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QWidget* makeSpecColumn();
    QWidget* makeTallyColumn();
    void showSpec();
    void showTally();
    /// What is running: "Fixing 3 of 12…", "Measuring 120 of 300 — about 1 min left", or nothing.
    QString activity() const;

    AppModel& m_model;
    QLabel* m_name;
    ToneLabel* m_rule;
    ToneLabel* m_summary;
    SymbolLabel* m_caution;
    QLabel* m_source;
    QWidget* m_tally;
    QLabel* m_count;
    TallyButton* m_pass;
    TallyButton* m_fail;
    TallyButton* m_other;
    TallyButton* m_damaged;
    ToneLabel* m_dualMono;
    ToneLabel* m_activity;
    SummaryTimer m_tallyPending;
};

} // namespace tavrin::app

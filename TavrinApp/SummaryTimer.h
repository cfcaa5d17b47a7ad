#pragma once

#include <QTimer>

namespace tavrin::app {

/// Folds the row changes that stream in while a long list is measured into one update of what
/// sums up the whole list (the tally, the menus, the toolbar), since each such update reads every
/// row: the update comes at most every 100 ms, and 100 ms after the first change of a burst.
class SummaryTimer : public QTimer {
public:
    SummaryTimer() {
        setSingleShot(true);
        setInterval(100);
    }
    void request() {
        if (!isActive())
            start();
    }
};

} // namespace tavrin::app

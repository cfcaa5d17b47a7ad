#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QWidget>

namespace tavrin::app {

/// Looks for newer versions of Tavrin. This build has no update feed: it never goes online and
/// says so when asked to check.
class Updater : public QObject {
    Q_OBJECT

public:
    explicit Updater(QWidget* window, QObject* parent = nullptr);
    /// Checks now, at the user's request, and reports what it found in an alert.
    void checkForUpdates();
    /// The alert on screen, or null.
    QMessageBox* alertBox() const;

private:
    QPointer<QWidget> m_window;
    QPointer<QMessageBox> m_alert;
};

} // namespace tavrin::app

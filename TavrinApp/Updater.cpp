#include "Updater.h"

#include "MainWindow.h"

#include <QMessageBox>

namespace tavrin::app {

Updater::Updater(QWidget* window, QObject* parent) : QObject(parent), m_window(window) {}

void Updater::checkForUpdates() {
    if (m_alert)
        m_alert->close();
    m_alert = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("Tavrin"),
                              QStringLiteral("This build doesn’t check for updates"),
                              QMessageBox::Ok, m_window);
    m_alert->setInformativeText(QStringLiteral(
        "It was made without an update feed, so it never goes online. New versions come from "
        "wherever you installed Tavrin."));
    styleAlert(*m_alert);
    m_alert->setAttribute(Qt::WA_DeleteOnClose);
    m_alert->open();
}

QMessageBox* Updater::alertBox() const {
    return m_alert;
}

} // namespace tavrin::app

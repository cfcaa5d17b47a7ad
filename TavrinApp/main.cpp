#include "InstanceChannel.h"
#include "MainWindow.h"
#include "TavrinApp.h"
#include "Theme.h"
#include "Updater.h"
#include "tavrin/decode/DecoderLog.h"

#include <QApplication>
#include <QSettings>

/// `tavrin [FILE…]`: opens the files in the running copy of Tavrin, or starts one with them.
int main(int argc, char** argv) {
    tavrin::app::keepFreedMemoryForReuse();
    tavrin::silenceDecoderLog();
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tavrin"));
    QApplication::setApplicationName(QStringLiteral("Tavrin"));
    QApplication::setApplicationVersion(QStringLiteral(TAVRIN_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("tavrin"));
    QApplication::setWindowIcon(tavrin::app::Theme::appIcon());

    const auto files = tavrin::app::TavrinApp::filesFromArguments(argc, argv);
    const QString channel = tavrin::app::InstanceChannel::defaultName();
    if (tavrin::app::InstanceChannel::handOver(channel, files))
        return 0;

    QSettings settings;
    tavrin::app::TavrinApp tavrin(settings, channel);
    tavrin.mainWindow().show();
    tavrin.openFiles(files);
    tavrin.updater().startAutomaticChecks();
    return QApplication::exec();
}

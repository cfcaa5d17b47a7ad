#include "Updater.h"

#include "AppCommands.h"
#include "AppFixture.h"
#include "AppTests.h"
#include "MainWindow.h"
#include "SettingsWindow.h"
#include "TavrinApp.h"

#include <QLabel>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace tavrin::app {

namespace {

/// A web server on 127.0.0.1 that answers HEAD with `status` and GET with the feed, or nothing at
/// all when `status` is `silent`, and remembers the requests' methods.
class FeedServer : public QObject {
public:
    static constexpr int silent = 0;
    int status = 200;
    QByteArray feed;
    QStringList methods;

    FeedServer() {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { answer(socket); });
        });
    }
    QUrl url() const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(m_server.serverPort()));
    }
    void close() { m_server.close(); }

private:
    void answer(QTcpSocket* socket) {
        QByteArray& request = m_requests[socket];
        request += socket->readAll();
        if (!request.contains("\r\n\r\n"))
            return;
        const QByteArray method = request.left(request.indexOf(' '));
        methods << QString::fromLatin1(method);
        if (status == silent)
            return;
        const bool head = method == "HEAD";
        socket->write("HTTP/1.1 " + QByteArray::number(head ? status : 200) +
                      " Scripted\r\nContent-Type: application/rss+xml\r\nContent-Length: " +
                      QByteArray::number(feed.size()) + "\r\nConnection: close\r\n\r\n" +
                      (head ? QByteArray() : feed));
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_requests;
};

QByteArray appcast(const QStringList& versions) {
    QByteArray items;
    for (const QString& version : versions)
        items += "<item><title>Tavrin " + version.toUtf8() +
                 "</title><link>https://tavrin.example/download/" + version.toUtf8() +
                 "</link><enclosure url=\"https://tavrin.example/Tavrin-" + version.toUtf8() +
                 ".deb\" sparkle:version=\"" + version.toUtf8() + "\"/></item>";
    return R"(<?xml version="1.0"?><rss version="2.0" )"
           R"(xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel>)" +
           items + "</channel></rss>";
}

const QString upToDate = QStringLiteral("You’re up to date");
const QString couldNotCheck = QStringLiteral("Couldn’t check for updates");
const QString newVersion = QStringLiteral("A new version of Tavrin is available");

} // namespace

/// The updater against a real HTTP server on the loopback interface: nothing else is contacted;
/// and the app as this build makes it, without a feed.
class UpdaterTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::vector<UpdateAlert> m_shown;

    Updater::Options options(const QUrl& feed, QSettings* settings = nullptr) {
        return {.feed = feed,
                .appName = QStringLiteral("Tavrin"),
                .version = QStringLiteral("1.9"),
                .settings = settings,
                .show = [this](const UpdateAlert& alert) { m_shown.push_back(alert); },
                .timeout = std::chrono::milliseconds(500),
                .launchDelay = std::chrono::milliseconds(0)};
    }
    bool answered() {
        return QTest::qWaitFor([&] { return !m_shown.empty(); }, 10000);
    }

private slots:
    void init() { m_shown.clear(); }

    void eachServerGetsItsAnswer_data() {
        QTest::addColumn<int>("status"); // HEAD's; GET always answers 200 with the feed
        QTest::addColumn<QByteArray>("feed");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("methods");
        const QStringList both{"HEAD", "GET"}, head{"HEAD"};
        const QByteArray huge =
            appcast({"2.0"}).replace("<channel>", "<channel>" + QByteArray(2 << 20, ' '));

        QTest::newRow("200") << 200 << appcast({"1.10", "1.2"}) << newVersion << both;
        QTest::newRow("204") << 204 << appcast({"1.9"}) << upToDate << both;
        QTest::newRow("405") << 405 << appcast({"1.8"}) << upToDate << both;
        QTest::newRow("501") << 501 << appcast({"2.0"}) << newVersion << both;
        QTest::newRow("404") << 404 << QByteArray() << upToDate << head;
        QTest::newRow("410") << 410 << QByteArray() << upToDate << head;
        QTest::newRow("500") << 500 << QByteArray() << couldNotCheck << head;
        QTest::newRow("403") << 403 << QByteArray() << couldNotCheck << head;
        QTest::newRow("cut short")
            << 200 << QByteArray("<rss><channel><item>") << couldNotCheck << both;
        QTest::newRow("web page") << 200 << QByteArray("<html><body>Hello</body></html>")
                                  << couldNotCheck << both;
        QTest::newRow("huge") << 200 << huge << couldNotCheck << both;
        QTest::newRow("silent") << FeedServer::silent << QByteArray() << couldNotCheck << head;
        QTest::newRow("gone") << -1 << QByteArray() << couldNotCheck << QStringList();
    }

    void eachServerGetsItsAnswer() {
        FeedServer server;
        QFETCH(int, status);
        QFETCH(QByteArray, feed);
        server.status = status;
        server.feed = feed;
        const QUrl url = server.url();
        if (status < 0) // nothing listens on the port any more
            server.close();
        Updater updater(options(url));
        updater.checkForUpdates();
        QVERIFY(updater.checking());
        QVERIFY(answered());
        QVERIFY(!updater.checking());
        QTEST(m_shown.front().title, "title");
        QTEST(server.methods, "methods");
    }

    void aNewerVersionOffersItsDownloadPage() {
        FeedServer server;
        server.feed = appcast({"1.9.1", "1.10", "1.9"});
        Updater updater(options(server.url()));
        updater.checkForUpdates();
        updater.checkForUpdates(); // a second request while the first runs is ignored
        QVERIFY(answered());
        QCOMPARE(m_shown.size(), 1u);
        QCOMPARE(server.methods, (QStringList{"HEAD", "GET"}));
        QCOMPARE(m_shown.front(), (UpdateAlert{newVersion, "Tavrin 1.10 is out; you have 1.9.",
                                               QUrl("https://tavrin.example/download/1.10")}));
    }

    void automaticChecksCountOnlyAnswersThenRepeat() {
        QSettings settings(m_dir.filePath("automatic.ini"), QSettings::IniFormat);
        FeedServer server;
        server.status = FeedServer::silent;
        settings.setValue("lastUpdateCheck", QDateTime::currentDateTimeUtc().addSecs(-3600));
        Updater sameDay(options(server.url(), &settings)); // waits out the day, then checks
        sameDay.startAutomaticChecks();
        QTest::qWait(100);
        QVERIFY(sameDay.automaticCheckScheduled() && server.methods.isEmpty());

        settings.remove("lastUpdateCheck");
        Updater::Options often = options(server.url(), &settings);
        often.retryDelay = std::chrono::milliseconds(50);
        often.interval = std::chrono::milliseconds(300); // a day, shortened
        Updater updater(often);
        updater.startAutomaticChecks();
        QVERIFY(QTest::qWaitFor([&] { return server.methods.size() == 2; }, 10000)); // a retry
        QVERIFY(!settings.contains("lastUpdateCheck") && m_shown.empty());
        server.status = 200;
        server.feed = appcast({"2.0"});
        QVERIFY(answered());
        QCOMPARE(m_shown.front().title, newVersion);
        QVERIFY(settings.contains("lastUpdateCheck"));
        const auto asked = server.methods.size();
        QVERIFY(QTest::qWaitFor([&] { return server.methods.size() > asked; }, 10000));
    }

    void withoutAFeedTheAppNeverGoesOnline() {
        if (!Updater::configuredFeed().isEmpty())
            QSKIP("This build checks an update feed.");
        test::AppFixture f; // for the settings file only
        TavrinApp tavrin(f.settings, {});
        QVERIFY(!tavrin.mainWindow().commands().checkForUpdates);
        tavrin.updater().startAutomaticChecks();
        QVERIFY(!tavrin.updater().automaticCheckScheduled());
        tavrin.showAboutPanel();
        QVERIFY(tavrin.aboutBox()->informativeText().contains(
            "\n\nPrivacy: your audio never leaves this computer. Tavrin never goes online. "
            "Nothing is collected.\n\n"));
        const auto texts = tavrin.showSettings().findChildren<QLabel*>();
        for (const QLabel* label : texts + tavrin.aboutBox()->findChildren<QLabel*>())
            QVERIFY2(!label->text().contains("update", Qt::CaseInsensitive),
                     qPrintable(label->text()));
    }

    void versionsCompareNumberByNumber() {
        QVERIFY(Updater::isNewer("1.10", "1.9"));
        QVERIFY(Updater::isNewer("2", "1.99.9"));
        QVERIFY(Updater::isNewer("1.9.1", "1.9"));
        QVERIFY(!Updater::isNewer("1.9.0", "1.9"));
        QVERIFY(!Updater::isNewer("1.2", "1.10"));
    }
};

TAVRIN_APP_TEST(UpdaterTest);

} // namespace tavrin::app

#include "UpdaterTest.moc"

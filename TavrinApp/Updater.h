#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <functional>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class QSettings;

namespace tavrin::app {

/// An answer for the user; `download`, when present, is the page of a newer version.
struct UpdateAlert {
    QString title;
    QString message;
    std::optional<QUrl> download{};
    bool operator==(const UpdateAlert&) const = default;
};

/// Looks for newer versions of the app in an appcast feed (RSS items, each with a version and a
/// download link): by hand from the menu, and on its own a little after launch and then once a
/// day while the app runs. The app's only network use; without a feed it never goes online. Lives
/// on the GUI thread; requests never block it.
class Updater : public QObject {
    Q_OBJECT

public:
    struct Options {
        QUrl feed;                     ///< empty: this build does not check for updates
        QString appName;               ///< "Tavrin"
        QString version;               ///< this build's version, e.g. "1.2.0"; may be empty
        QSettings* settings = nullptr; ///< remembers when the feed last answered an automatic
                                       ///< check; null: never stored
        std::function<void(const UpdateAlert&)> show; ///< presents an answer to the user
        std::chrono::milliseconds timeout{15000};     ///< per request
        std::chrono::milliseconds launchDelay{10000}; ///< before the first automatic check
        std::chrono::milliseconds interval{std::chrono::hours(24)};  ///< between automatic checks
        std::chrono::milliseconds retryDelay{std::chrono::hours(1)}; ///< after one that failed
    };

    explicit Updater(Options options, QObject* parent = nullptr);
    ~Updater() override;

    /// The feed this build checks, set when it is built; empty when it has none.
    static QUrl configuredFeed();

    /// True while a check asked for by hand waits for the feed's server.
    bool checking() const { return m_checking; }
    /// The check asked for by hand: always answers, once, whatever happens. Ignored while one is
    /// in progress.
    void checkForUpdates();
    /// Starts the automatic checks: the first after the launch delay, or once a day has passed
    /// since the feed last answered; then one a day, or an hour after one that failed. They speak
    /// only of a newer version. Without a feed, nothing.
    void startAutomaticChecks();
    /// Whether an automatic check is waiting for its time.
    bool automaticCheckScheduled() const { return m_schedule.isActive(); }

    /// Whether `candidate` is a later version than `current`, number by number (1.10 > 1.9).
    static bool isNewer(const QString& candidate, const QString& current);

signals:
    void checkingChanged();

private:
    enum class Probe { reachable, noFeed, unreachable };
    struct Release {
        QString version;
        QUrl download;
    };

    void setChecking(bool checking);
    void probeFeed();
    void readFeed(bool byHand);
    /// After an automatic check: the next in a day when the feed answered, else soon.
    void automaticCheckDone(bool answered);
    /// The newest release the feed's bytes list; absent when they are not a feed.
    static std::optional<std::optional<Release>> newestRelease(const QByteArray& feed);
    QNetworkReply* send(const QByteArray& verb);
    void show(const UpdateAlert& alert) const;
    UpdateAlert upToDate() const;
    UpdateAlert couldNotCheck() const;

    Options m_options;
    QNetworkAccessManager* m_network;
    QTimer m_schedule;
    bool m_checking = false;
};

} // namespace tavrin::app

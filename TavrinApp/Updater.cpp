#include "Updater.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSettings>
#include <QVersionNumber>
#include <QXmlStreamReader>
#include <algorithm>

namespace tavrin::app {

namespace {

constexpr auto lastCheckKey = "lastUpdateCheck";
/// A feed lists a handful of releases in a few kilobytes; anything far larger is not one.
constexpr qint64 largestFeed = 1 << 20;

} // namespace

Updater::Updater(Options options, QObject* parent)
    : QObject(parent), m_options(std::move(options)), m_network(new QNetworkAccessManager(this)) {
    m_schedule.setSingleShot(true);
    connect(&m_schedule, &QTimer::timeout, this, [this] { readFeed(false); });
}

Updater::~Updater() = default;

QUrl Updater::configuredFeed() {
    return QUrl(QStringLiteral(TAVRIN_UPDATE_FEED));
}

bool Updater::isNewer(const QString& candidate, const QString& current) {
    // Normalised, 1.9.0 is 1.9 rather than a later version.
    return QVersionNumber::compare(QVersionNumber::fromString(candidate).normalized(),
                                   QVersionNumber::fromString(current).normalized()) > 0;
}

void Updater::setChecking(bool checking) {
    if (checking == m_checking)
        return;
    m_checking = checking;
    emit checkingChanged();
}

void Updater::show(const UpdateAlert& alert) const {
    if (m_options.show)
        m_options.show(alert);
}

UpdateAlert Updater::upToDate() const {
    const QString& name = m_options.appName;
    return {QStringLiteral("You’re up to date"),
            name + " " + m_options.version + " is the newest version. " + name +
                " checks for updates on its own and will let you know when there’s a new one."};
}

UpdateAlert Updater::couldNotCheck() const {
    return {QStringLiteral("Couldn’t check for updates"),
            "Check your internet connection and try again. " + m_options.appName +
                " also checks on its own about once a day."};
}

QNetworkReply* Updater::send(const QByteArray& verb) {
    QNetworkRequest request(m_options.feed);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setTransferTimeout(static_cast<int>(m_options.timeout.count()));
    QNetworkReply* reply = m_network->sendCustomRequest(request, verb);
    connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
    return reply;
}

void Updater::checkForUpdates() {
    if (m_checking || m_options.feed.isEmpty())
        return;
    setChecking(true);
    probeFeed();
}

void Updater::probeFeed() {
    QNetworkReply* reply = send("HEAD");
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        Probe probe = Probe::unreachable;
        if (status.isValid()) {
            const int code = status.toInt();
            if ((code >= 200 && code <= 299) || code == 405 || code == 501)
                probe = Probe::reachable;
            else if (code == 404 || code == 410)
                probe = Probe::noFeed;
        }
        if (probe == Probe::reachable)
            return readFeed(true); // still checking: the answer comes from the feed
        setChecking(false);
        show(probe == Probe::noFeed ? upToDate() : couldNotCheck());
    });
}

void Updater::readFeed(bool byHand) {
    QNetworkReply* reply = send("GET");
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64) {
        if (received > largestFeed)
            reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, byHand] {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const auto feed = reply->error() == QNetworkReply::NoError && status / 100 == 2
                              ? newestRelease(reply->read(largestFeed))
                              : std::nullopt;
        const auto& release = feed ? *feed : std::nullopt;
        if (byHand)
            setChecking(false);
        else
            automaticCheckDone(feed.has_value());
        if (release && isNewer(release->version, m_options.version))
            show({"A new version of " + m_options.appName + " is available",
                  m_options.appName + " " + release->version + " is out; you have " +
                      (m_options.version.isEmpty() ? QStringLiteral("an earlier one")
                                                   : m_options.version) +
                      ".",
                  release->download});
        else if (byHand)
            show(feed ? upToDate() : couldNotCheck());
    });
}

std::optional<std::optional<Updater::Release>> Updater::newestRelease(const QByteArray& feed) {
    QXmlStreamReader xml(feed);
    std::optional<Release> newest;
    Release item;
    bool inItem = false, sawChannel = false;
    while (!xml.atEnd()) {
        xml.readNext();
        const auto name = xml.name();
        if (xml.isStartElement()) {
            if (name == QLatin1String("channel"))
                sawChannel = true;
            else if (name == QLatin1String("item"))
                item = {}, inItem = true;
            else if (inItem && name == QLatin1String("enclosure")) {
                const auto attributes = xml.attributes();
                for (const auto& attribute : attributes)
                    if (attribute.name() == QLatin1String("shortVersionString") ||
                        (attribute.name() == QLatin1String("version") && item.version.isEmpty()))
                        item.version = attribute.value().toString();
                if (item.download.isEmpty())
                    item.download = QUrl(attributes.value(QLatin1String("url")).toString());
            } else if (inItem && (name == QLatin1String("shortVersionString") ||
                                  name == QLatin1String("version")))
                item.version = xml.readElementText();
            else if (inItem && name == QLatin1String("link"))
                item.download = QUrl(xml.readElementText());
        } else if (xml.isEndElement() && name == QLatin1String("item")) {
            inItem = false;
            const bool usable = !QVersionNumber::fromString(item.version).isNull() &&
                                item.download.isValid() &&
                                (item.download.scheme() == QLatin1String("https") ||
                                 item.download.scheme() == QLatin1String("http"));
            if (usable && (!newest || isNewer(item.version, newest->version)))
                newest = item;
        }
    }
    if (xml.hasError() || !sawChannel)
        return std::nullopt;
    return newest;
}

void Updater::startAutomaticChecks() {
    if (m_options.feed.isEmpty())
        return;
    const QDateTime last =
        m_options.settings ? m_options.settings->value(lastCheckKey).toDateTime() : QDateTime();
    // A check the feed answered less than a day ago, by a copy that has quit since, puts the next
    // off until the day is over; never longer, even when the clock has been set back.
    auto wait = std::chrono::milliseconds(0);
    if (last.isValid())
        wait = std::clamp(m_options.interval - std::chrono::milliseconds(
                                                   last.msecsTo(QDateTime::currentDateTimeUtc())),
                          std::chrono::milliseconds(0), m_options.interval);
    m_schedule.start(std::max(m_options.launchDelay, wait));
}

void Updater::automaticCheckDone(bool answered) {
    // Only an answer counts: a check that failed (offline, the server down) is tried again soon
    // rather than put off for a day.
    if (answered && m_options.settings)
        m_options.settings->setValue(lastCheckKey, QDateTime::currentDateTimeUtc());
    m_schedule.start(answered ? m_options.interval : m_options.retryDelay);
}

} // namespace tavrin::app

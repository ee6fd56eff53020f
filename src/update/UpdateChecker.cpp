#include "update/UpdateChecker.h"

#include "app/AppInfo.h"

#include <QLocale>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSettings>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>
#include <QVariant>

#include <algorithm>

namespace rvw {

namespace {

const QString KeyUrl = QStringLiteral("updates/url");
const QString KeyLastChecked = QStringLiteral("updates/lastChecked");
const QString KeySkippedVersion = QStringLiteral("updates/skippedVersion");

constexpr qint64 DueAfterSeconds = 72000;

// The answer is a small document; anything this large is not one, and is not kept in memory.
constexpr qint64 MaxResponseBytes = 1024 * 1024;
const char *const OversizeProperty = "rvwOversize";

QString normalisedEndpoint(const QString &url)
{
    const QString trimmed = url.trimmed();
    return trimmed.isEmpty() ? AppInfo::defaultUpdateEndpoint() : trimmed;
}

QString trimmedString(const QJsonObject &object, const QString &key)
{
    return object.value(key).toString().trimmed();
}

UpdateChecker::Release readRelease(const QJsonObject &object)
{
    UpdateChecker::Release release;
    release.version = trimmedString(object, QStringLiteral("latest_version"));
    release.releaseDate = trimmedString(object, QStringLiteral("release_date"));
    release.downloadUrl = trimmedString(object, QStringLiteral("download_url"));
    release.notesUrl = trimmedString(object, QStringLiteral("notes_url"));
    release.notes = object.value(QStringLiteral("notes")).toString();
    release.critical = object.value(QStringLiteral("critical")).toBool(false);
    release.minSupportedVersion = trimmedString(object, QStringLiteral("min_supported_version"));
    return release;
}

int versionPart(const QStringList &parts, qsizetype index)
{
    if (index >= parts.size())
        return 0;
    bool ok = false;
    const int value = parts.at(index).toInt(&ok, 10);
    return ok ? value : 0;
}

} // namespace

UpdateChecker::UpdateChecker(QObject *parent) : QObject(parent), m_network(new QNetworkAccessManager(this))
{
    qRegisterMetaType<rvw::UpdateChecker::Release>("rvw::UpdateChecker::Release");
    m_endpoint = normalisedEndpoint(QSettings().value(KeyUrl).toString());
}

void UpdateChecker::setEndpoint(const QString &url)
{
    m_endpoint = normalisedEndpoint(url);
    QSettings().setValue(KeyUrl, m_endpoint);
}

void UpdateChecker::setTimeoutMs(int ms)
{
    m_timeoutMs = std::max(1, ms);
}

void UpdateChecker::check(bool silent)
{
    QUrl url(m_endpoint);
    QUrlQuery query(url);
    query.addQueryItem(QStringLiteral("app"), AppInfo::applicationName());
    query.addQueryItem(QStringLiteral("current"), AppInfo::versionString());
    query.addQueryItem(QStringLiteral("platform"), AppInfo::platformKey());
    query.addQueryItem(QStringLiteral("arch"), AppInfo::architectureKey());
    url.setQuery(query);

    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, AppInfo::userAgent());
    request.setRawHeader("Accept", "application/json");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);

    QNetworkReply *reply = m_network->get(request);

    auto *timer = new QTimer(reply);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, reply, &QNetworkReply::abort);
    timer->start(m_timeoutMs);

    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64 total) {
        if (received > MaxResponseBytes || total > MaxResponseBytes) {
            reply->setProperty(OversizeProperty, true);
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, timer, silent] {
        timer->stop();
        handleReply(reply, silent);
        reply->deleteLater();
    });
}

void UpdateChecker::handleReply(QNetworkReply *reply, bool silent)
{
    const QString unreadable = tr("The update service returned an unreadable response.");
    if (reply->property(OversizeProperty).toBool()) {
        emit checkFailed(unreadable, silent);
        return;
    }

    // The network layer also flags 4xx and 5xx answers as errors; for those the status
    // says more than its error text. Redirects that were not followed keep their own text.
    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int status = statusAttribute.isValid() ? statusAttribute.toInt() : 0;
    const bool errorStatus = statusAttribute.isValid() && status != 200 && (status < 300 || status >= 400);
    if (reply->error() != QNetworkReply::NoError && !errorStatus) {
        emit checkFailed(reply->errorString(), silent);
        return;
    }
    if (statusAttribute.isValid() && status != 200) {
        emit checkFailed(tr("The update service returned HTTP %1.").arg(status), silent);
        return;
    }

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(reply->readAll(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        emit checkFailed(unreadable, silent);
        return;
    }

    const Release release = readRelease(document.object());
    if (release.version.isEmpty()) {
        emit checkFailed(tr("The update service did not report a version."), silent);
        return;
    }

    QSettings().setValue(KeyLastChecked, QDateTime::currentDateTimeUtc());

    if (compareVersions(release.version, AppInfo::versionString()) <= 0) {
        emit upToDate(silent);
        return;
    }
    if (silent && !release.critical && release.version == skippedVersion()) {
        emit upToDate(true);
        return;
    }
    emit updateAvailable(release, silent);
}

bool UpdateChecker::automaticCheckDue() const
{
    const QVariant stored = QSettings().value(KeyLastChecked);
    if (!stored.isValid())
        return true;
    const QDateTime last = stored.toDateTime();
    if (!last.isValid())
        return true;
    const qint64 elapsed = last.secsTo(QDateTime::currentDateTimeUtc());
    return elapsed < 0 || elapsed >= DueAfterSeconds;
}

QString UpdateChecker::lastCheckedText()
{
    const QVariant stored = QSettings().value(KeyLastChecked);
    if (!stored.isValid())
        return tr("never");
    const QDateTime last = stored.toDateTime();
    if (!last.isValid())
        return QString();
    return QLocale().toString(last.toLocalTime(), QLocale::ShortFormat);
}

QString UpdateChecker::skippedVersion()
{
    return QSettings().value(KeySkippedVersion).toString();
}

void UpdateChecker::setSkippedVersion(const QString &version)
{
    QSettings().setValue(KeySkippedVersion, version);
}

int UpdateChecker::compareVersions(const QString &a, const QString &b)
{
    const QStringList partsA = a.trimmed().split(QLatin1Char('.'), Qt::SkipEmptyParts);
    const QStringList partsB = b.trimmed().split(QLatin1Char('.'), Qt::SkipEmptyParts);
    const qsizetype count = std::max(partsA.size(), partsB.size());
    for (qsizetype i = 0; i < count; ++i) {
        const int x = versionPart(partsA, i);
        const int y = versionPart(partsB, i);
        if (x != y)
            return x > y ? 1 : -1;
    }
    return 0;
}

} // namespace rvw

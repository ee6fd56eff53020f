#pragma once

#include <QMetaType>
#include <QObject>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;

namespace rvw {

// Asks the update service for the latest release with one GET request and reports one of
// three outcomes. Every outcome carries the `silent` flag of its check, so the window can
// stay quiet about failures and up-to-date results of automatic checks.
class UpdateChecker : public QObject
{
    Q_OBJECT
public:
    // What the service says about its latest release. Text fields are empty when the key is
    // missing or not a string.
    struct Release
    {
        QString version; // "latest_version", trimmed
        QString releaseDate;
        QString downloadUrl;
        QString notesUrl;
        QString notes; // kept as sent
        bool critical = false;
        QString minSupportedVersion;
    };

    static constexpr int DefaultTimeoutMs = 15000;

    explicit UpdateChecker(QObject *parent = nullptr);

    QString endpoint() const { return m_endpoint; }
    // The trimmed text, or the default endpoint when it is blank; stored in the settings.
    void setEndpoint(const QString &url);

    // A reply that has not finished after this long is aborted and reported as failed.
    int timeoutMs() const { return m_timeoutMs; }
    void setTimeoutMs(int ms);

    // Starts a check; checks may overlap and each reply is handled on its own.
    void check(bool silent);

    // True when no valid last-check moment is stored, when it lies 20 hours or more in the
    // past, or when it lies in the future (the clock was wrong at that check).
    bool automaticCheckDue() const;

    // "never" when there was no successful check; the moment in local time otherwise; empty
    // when the stored value is not a date-time.
    static QString lastCheckedText();
    static QString skippedVersion();
    static void setSkippedVersion(const QString &version);

    // 1, 0 or -1 as `a` is newer than, equal to or older than `b`. Dot-separated parts are
    // compared as numbers; empty parts are dropped, and missing, non-numeric or out-of-range
    // parts count as 0.
    static int compareVersions(const QString &a, const QString &b);

signals:
    void updateAvailable(const rvw::UpdateChecker::Release &release, bool silent);
    void upToDate(bool silent);
    void checkFailed(const QString &error, bool silent);

private:
    void handleReply(QNetworkReply *reply, bool silent);

    QNetworkAccessManager *m_network = nullptr;
    QString m_endpoint;
    int m_timeoutMs = DefaultTimeoutMs;
};

} // namespace rvw

Q_DECLARE_METATYPE(rvw::UpdateChecker::Release)

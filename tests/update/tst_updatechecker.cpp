#include "app/AppInfo.h"
#include "update/UpdateChecker.h"

#include <QDateTime>
#include <QHash>
#include <QNetworkProxy>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <ctime>

using namespace rvw;

namespace {

struct ReceivedRequest
{
    QByteArray method;
    QByteArray target;
    QByteArray protocol;
    QHash<QByteArray, QByteArray> headers; // names in lower case
};

// A small HTTP service on 127.0.0.1 that answers each path with a canned response. An empty
// canned response means the service reads the request and never answers.
class FakeUpdateService
{
public:
    FakeUpdateService()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] { acceptConnections(); });
    }

    bool isListening() const { return m_server.isListening(); }

    QString url(const QString &pathAndQuery = QStringLiteral("/api/latest.json")) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(pathAndQuery);
    }

    void answer(const QByteArray &path, const QByteArray &response) { m_responses.insert(path, response); }

    QList<ReceivedRequest> requests;

private:
    void acceptConnections()
    {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { readFrom(socket); });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
                m_buffers.remove(socket);
                socket->deleteLater();
            });
        }
    }

    void readFrom(QTcpSocket *socket)
    {
        QByteArray &buffer = m_buffers[socket];
        buffer += socket->readAll();
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QList<QByteArray> lines = buffer.left(end).split('\n');
        buffer.remove(0, end + 4);

        ReceivedRequest request;
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        request.method = requestLine.value(0);
        request.target = requestLine.value(1);
        request.protocol = requestLine.value(2);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines.at(i).indexOf(':');
            if (colon > 0)
                request.headers.insert(lines.at(i).left(colon).trimmed().toLower(),
                                       lines.at(i).mid(colon + 1).trimmed());
        }
        requests.append(request);

        const qsizetype queryStart = request.target.indexOf('?');
        const QByteArray path = queryStart < 0 ? request.target : request.target.left(queryStart);
        const QByteArray response = m_responses.value(
            path, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        if (response.isEmpty())
            return;
        socket->write(response);
        socket->disconnectFromHost();
    }

    QHash<QByteArray, QByteArray> m_responses;
    QHash<QTcpSocket *, QByteArray> m_buffers;
    QTcpServer m_server; // last, so its sockets go before the tables their handlers use
};

QByteArray httpResponse(int status, const QByteArray &reason, const QByteArray &body,
                        const QByteArray &contentType = "application/json",
                        const QByteArray &extraHeaders = {})
{
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\nContent-Type: " + contentType +
           "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n" +
           extraHeaders + "\r\n" + body;
}

// JSON written with single quotes, for readable documents in the tests.
QByteArray json(QByteArray text)
{
    return text.replace('\'', '"');
}

QByteArray okJson(const QByteArray &body)
{
    return httpResponse(200, "OK", body);
}

QByteArray releaseJson(const QByteArray &version, bool critical = false)
{
    return "{\"latest_version\": \"" + version + "\", \"critical\": " + (critical ? "true" : "false") +
           ", \"download_url\": \"https://example.invalid/get\"}";
}

enum class Kind
{
    Nothing,
    Available,
    UpToDate,
    Failed
};

struct Outcome
{
    Kind kind = Kind::Nothing;
    int signalCount = 0;
    bool silent = false;
    QString error;
    UpdateChecker::Release release;
};

// Runs one check and waits, bounded, for its outcome.
Outcome runCheck(UpdateChecker &checker, bool silent, int waitMs = 10000)
{
    QSignalSpy available(&checker, &UpdateChecker::updateAvailable);
    QSignalSpy upToDate(&checker, &UpdateChecker::upToDate);
    QSignalSpy failed(&checker, &UpdateChecker::checkFailed);
    checker.check(silent);
    const auto count = [&] { return int(available.count() + upToDate.count() + failed.count()); };
    if (!QTest::qWaitFor([&] { return count() > 0; }, waitMs))
        return {};
    QTest::qWait(20); // a second outcome for the same check would arrive here

    Outcome outcome;
    outcome.signalCount = count();
    if (!available.isEmpty()) {
        outcome.kind = Kind::Available;
        outcome.release = available.at(0).at(0).value<UpdateChecker::Release>();
        outcome.silent = available.at(0).at(1).toBool();
    } else if (!upToDate.isEmpty()) {
        outcome.kind = Kind::UpToDate;
        outcome.silent = upToDate.at(0).at(0).toBool();
    } else if (!failed.isEmpty()) {
        outcome.kind = Kind::Failed;
        outcome.error = failed.at(0).at(0).toString();
        outcome.silent = failed.at(0).at(1).toBool();
    }
    return outcome;
}

// A checker pointed at a local service whose update path answers with `response`.
struct Rig
{
    explicit Rig(const QByteArray &response)
    {
        service.answer("/api/latest.json", response);
        checker.setEndpoint(service.url());
    }

    FakeUpdateService service;
    UpdateChecker checker;
};

bool lastCheckedStored()
{
    return QSettings().contains(QStringLiteral("updates/lastChecked"));
}

} // namespace

Q_DECLARE_METATYPE(Kind)

class TestUpdateChecker : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        qputenv("TZ", "UTC");
        tzset();
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setApplicationName(AppInfo::applicationName());
        QCoreApplication::setOrganizationName(AppInfo::organisation());
        QCoreApplication::setOrganizationDomain(AppInfo::organisationDomain());
        QVERIFY(m_settingsDir.isValid());
        QSettings::setDefaultFormat(QSettings::IniFormat);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
        QVERIFY2(QSettings().fileName().startsWith(m_settingsDir.path()), qPrintable(QSettings().fileName()));
        // Requests to the local service must not wander off to a proxy from the environment.
        QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    }

    void init() { QSettings().clear(); }

    void compareVersions_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("expected");
        QTest::newRow("minor 10 beats 9") << QString("1.10") << "1.9" << 1;
        QTest::newRow("missing part is zero") << QString("1.2") << "1.2.0" << 0;
        QTest::newRow("numeric, not textual") << QString("2.0") << "10" << -1;
        QTest::newRow("surrounding spaces") << QString("  1.0.1  ") << "1.0" << 1;
        QTest::newRow("empty parts dropped") << QString("1..2") << "1.2" << 0;
        QTest::newRow("leading dot") << QString(".3") << "3" << 0;
        QTest::newRow("non-numeric part is zero") << QString("1.2beta") << "1.0" << 0;
        QTest::newRow("non-numeric part loses") << QString("1.2beta") << "1.0.1" << -1;
        QTest::newRow("beyond 32 bits is zero") << QString("1.4294967296") << "1.0" << 0;
        QTest::newRow("largest 32-bit part") << QString("1.2147483647") << "1.2147483646" << 1;
        QTest::newRow("both empty") << QString("") << "" << 0;
        QTest::newRow("empty against release") << QString("") << "0.0.1" << -1;
        QTest::newRow("deep difference") << QString("1.0.0.0.1") << "1.0" << 1;
        QTest::newRow("equal") << QString("1.0.0") << "1.0.0" << 0;
    }

    void compareVersions()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, expected);
        QCOMPARE(UpdateChecker::compareVersions(a, b), expected);
        QCOMPARE(UpdateChecker::compareVersions(b, a), -expected);
    }

    void endpoint_defaultsTrimsAndPersists()
    {
        {
            UpdateChecker checker;
            QCOMPARE(checker.endpoint(), AppInfo::defaultUpdateEndpoint());
            QVERIFY(checker.endpoint().endsWith(QStringLiteral("/api/latest.json")));
            checker.setEndpoint(QStringLiteral("  http://updates.example.invalid/api/latest.json \t"));
            QCOMPARE(checker.endpoint(), QStringLiteral("http://updates.example.invalid/api/latest.json"));
        }
        QCOMPARE(QSettings().value("updates/url").toString(),
                 QStringLiteral("http://updates.example.invalid/api/latest.json"));
        UpdateChecker reread;
        QCOMPARE(reread.endpoint(), QStringLiteral("http://updates.example.invalid/api/latest.json"));

        reread.setEndpoint(QStringLiteral("   "));
        QCOMPARE(reread.endpoint(), AppInfo::defaultUpdateEndpoint());
        QCOMPARE(QSettings().value("updates/url").toString(), AppInfo::defaultUpdateEndpoint());

        QSettings().setValue("updates/url", QStringLiteral("  "));
        QCOMPARE(UpdateChecker().endpoint(), AppInfo::defaultUpdateEndpoint());
    }

    void request_carriesIdentity_data()
    {
        QTest::addColumn<QString>("pathAndQuery");
        QTest::addColumn<QByteArray>("expectedTarget");
        const QByteArray identity =
            "app=Ravelwick&current=1.0.0&platform=" + AppInfo::platformKey().toLatin1() +
            "&arch=" + QSysInfo::currentCpuArchitecture().toLatin1();
        QTest::newRow("plain endpoint") << "/api/latest.json"
                                        << "/api/latest.json?" + identity;
        QTest::newRow("endpoint with a query") << "/api/latest.json?channel=beta&lang=en"
                                               << "/api/latest.json?channel=beta&lang=en&" + identity;
    }

    void request_carriesIdentity()
    {
        QFETCH(QString, pathAndQuery);
        QFETCH(QByteArray, expectedTarget);
        Rig rig(okJson(releaseJson("1.0.0")));
        rig.checker.setEndpoint(rig.service.url(pathAndQuery));

        const Outcome outcome = runCheck(rig.checker, false);
        QCOMPARE(int(outcome.kind), int(Kind::UpToDate));
        QCOMPARE(rig.service.requests.size(), 1);
        const ReceivedRequest &request = rig.service.requests.first();
        QCOMPARE(request.method, QByteArray("GET"));
        QCOMPARE(request.target, expectedTarget);
        QCOMPARE(request.protocol, QByteArray("HTTP/1.1"));
        QCOMPARE(request.headers.value("user-agent"), QByteArray("Ravelwick/1.0.0"));
        QCOMPARE(request.headers.value("accept"), QByteArray("application/json"));
    }

    void request_followsRedirect()
    {
        Rig rig(httpResponse(302, "Found", {}, "text/plain", "Location: /moved/latest.json\r\n"));
        rig.service.answer("/moved/latest.json", okJson(releaseJson("1.5.0")));

        const Outcome outcome = runCheck(rig.checker, false);
        QVERIFY2(outcome.kind == Kind::Available, qPrintable(outcome.error));
        QCOMPARE(outcome.release.version, QStringLiteral("1.5.0"));
        QCOMPARE(rig.service.requests.size(), 2);
        QCOMPARE(rig.service.requests.at(1).target, QByteArray("/moved/latest.json"));
    }

    void reply_versions_data()
    {
        QTest::addColumn<QByteArray>("version");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<Kind>("expected");
        QTest::newRow("newer patch, manual") << QByteArray("1.0.1") << false << Kind::Available;
        QTest::newRow("newer major, silent") << QByteArray("2.0") << true << Kind::Available;
        QTest::newRow("newer after trimming") << QByteArray("  1.1  ") << true << Kind::Available;
        QTest::newRow("equal, manual") << QByteArray("1.0.0") << false << Kind::UpToDate;
        QTest::newRow("equal with fewer parts, silent") << QByteArray("1.0") << true << Kind::UpToDate;
        QTest::newRow("older, manual") << QByteArray("0.9.9") << false << Kind::UpToDate;
        QTest::newRow("older, silent") << QByteArray("0.12") << true << Kind::UpToDate;
    }

    void reply_versions()
    {
        QFETCH(QByteArray, version);
        QFETCH(bool, silent);
        QFETCH(Kind, expected);
        Rig rig(okJson(releaseJson(version)));

        const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
        const Outcome outcome = runCheck(rig.checker, silent);
        QCOMPARE(int(outcome.kind), int(expected));
        QCOMPARE(outcome.signalCount, 1);
        QCOMPARE(outcome.silent, silent);
        if (expected == Kind::Available)
            QCOMPARE(outcome.release.version, QString::fromLatin1(version).trimmed());

        const QDateTime stored = QSettings().value("updates/lastChecked").toDateTime();
        QVERIFY(stored.isValid());
        QCOMPARE(stored.timeSpec(), Qt::UTC);
        QVERIFY(stored >= before && stored <= QDateTime::currentDateTimeUtc());
        QVERIFY(!rig.checker.automaticCheckDue());
    }

    void reply_readsReleaseFields()
    {
        Rig rig(okJson(json("{'latest_version': ' 1.2.0 ', 'release_date': ' 2026-12-05 ',"
                            " 'download_url': ' https://example.invalid/ravelwick-1.2.0.exe ',"
                            " 'notes_url': '\\thttps://example.invalid/notes\\n',"
                            " 'notes': '  Faster scans.\\n', 'critical': true,"
                            " 'min_supported_version': ' 0.9 ', 'extra': {'ignored': [1, 2]}}")));

        const Outcome outcome = runCheck(rig.checker, true);
        QCOMPARE(int(outcome.kind), int(Kind::Available));
        const UpdateChecker::Release &r = outcome.release;
        QCOMPARE(r.version, QStringLiteral("1.2.0"));
        QCOMPARE(r.releaseDate, QStringLiteral("2026-12-05"));
        QCOMPARE(r.downloadUrl, QStringLiteral("https://example.invalid/ravelwick-1.2.0.exe"));
        QCOMPARE(r.notesUrl, QStringLiteral("https://example.invalid/notes"));
        QCOMPARE(r.notes, QStringLiteral("  Faster scans.\n"));
        QVERIFY(r.critical);
        QCOMPARE(r.minSupportedVersion, QStringLiteral("0.9"));
    }

    void reply_wrongTypesGiveEmptyFields()
    {
        Rig rig(okJson(json("{'latest_version': '3.0', 'release_date': 20261205, 'download_url': null,"
                            " 'notes_url': ['x'], 'notes': {'a': 1}, 'critical': 'true',"
                            " 'min_supported_version': false}")));

        const Outcome outcome = runCheck(rig.checker, false);
        QCOMPARE(int(outcome.kind), int(Kind::Available));
        const UpdateChecker::Release &r = outcome.release;
        QCOMPARE(r.version, QStringLiteral("3.0"));
        QVERIFY(r.releaseDate.isEmpty());
        QVERIFY(r.downloadUrl.isEmpty());
        QVERIFY(r.notesUrl.isEmpty());
        QVERIFY(r.notes.isEmpty());
        QVERIFY(!r.critical);
        QVERIFY(r.minSupportedVersion.isEmpty());
    }

    void reply_failures_data()
    {
        QTest::addColumn<QByteArray>("response");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QString>("expectedError");
        const QString unreadable = QStringLiteral("The update service returned an unreadable response.");
        const QString noVersion = QStringLiteral("The update service did not report a version.");
        QTest::newRow("404, silent") << httpResponse(404, "Not Found", "<h1>Not Found</h1>", "text/html")
                                     << true << "The update service returned HTTP 404.";
        QTest::newRow("500, manual") << httpResponse(500, "Internal Server Error", "{}") << false
                                     << "The update service returned HTTP 500.";
        QTest::newRow("400, manual") << httpResponse(400, "Bad Request", {}) << false
                                     << "The update service returned HTTP 400.";
        QTest::newRow("204 without a document")
            << httpResponse(204, "No Content", {}) << false << "The update service returned HTTP 204.";
        QTest::newRow("HTML body") << httpResponse(200, "OK", "<!DOCTYPE html><html><body>Hi</body></html>",
                                                   "text/html")
                                   << false << unreadable;
        QTest::newRow("empty body") << okJson({}) << true << unreadable;
        QTest::newRow("truncated JSON") << okJson(json("{'latest_version': '2.0'")) << false << unreadable;
        QTest::newRow("array at top level")
            << okJson(json("[{'latest_version': '2.0'}]")) << false << unreadable;
        QTest::newRow("missing version, silent")
            << okJson(json("{'release_date': '2026-12-05'}")) << true << noVersion;
        QTest::newRow("version not a string") << okJson(json("{'latest_version': 2}")) << false << noVersion;
        QTest::newRow("blank version") << okJson(json("{'latest_version': '   '}")) << false << noVersion;
        // Valid JSON once the padding is skipped, so only the size limit can reject it.
        QTest::newRow("oversized")
            << "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n" +
                   QByteArray(1536 * 1024, ' ') + releaseJson("2.0")
            << true << unreadable;
    }

    void reply_failures()
    {
        QFETCH(QByteArray, response);
        QFETCH(bool, silent);
        QFETCH(QString, expectedError);
        Rig rig(response);
        UpdateChecker::setSkippedVersion(QStringLiteral("1.4"));
        const QVariant urlBefore = QSettings().value("updates/url");

        const Outcome outcome = runCheck(rig.checker, silent);
        QCOMPARE(int(outcome.kind), int(Kind::Failed));
        QCOMPARE(outcome.signalCount, 1);
        QCOMPARE(outcome.error, expectedError);
        QCOMPARE(outcome.silent, silent);
        QVERIFY(!lastCheckedStored());
        QCOMPARE(UpdateChecker::skippedVersion(), QStringLiteral("1.4"));
        QCOMPARE(QSettings().value("updates/url"), urlBefore);
    }

    void network_connectionRefused()
    {
        quint16 closedPort = 0;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            closedPort = probe.serverPort();
        }
        UpdateChecker checker;
        checker.setEndpoint(QStringLiteral("http://127.0.0.1:%1/api/latest.json").arg(closedPort));

        const Outcome outcome = runCheck(checker, true);
        QCOMPARE(int(outcome.kind), int(Kind::Failed));
        QVERIFY(outcome.silent);
        QVERIFY(!outcome.error.isEmpty());
        QVERIFY2(!outcome.error.startsWith(QStringLiteral("The update service")), qPrintable(outcome.error));
        QVERIFY(!lastCheckedStored());
    }

    void network_endpointNotAWebAddress_data()
    {
        QTest::addColumn<QString>("endpoint");
        QTest::newRow("plain words") << "not a web address";
        QTest::newRow("unknown scheme") << "gopher://127.0.0.1/api/latest.json";
        QTest::newRow("no host") << "http:///api/latest.json";
    }

    void network_endpointNotAWebAddress()
    {
        QFETCH(QString, endpoint);
        UpdateChecker checker;
        checker.setEndpoint(endpoint);

        const Outcome outcome = runCheck(checker, false);
        QCOMPARE(int(outcome.kind), int(Kind::Failed));
        QCOMPARE(outcome.signalCount, 1);
        QVERIFY(!outcome.error.isEmpty());
        QVERIFY(!lastCheckedStored());
    }

    void network_timeoutAborts()
    {
        Rig rig({}); // reads the request, never answers
        QCOMPARE(rig.checker.timeoutMs(), 15000);
        rig.checker.setTimeoutMs(300);

        const Outcome outcome = runCheck(rig.checker, false);
        QCOMPARE(int(outcome.kind), int(Kind::Failed));
        QCOMPARE(outcome.signalCount, 1);
        QVERIFY(!outcome.silent);
        QCOMPARE(rig.service.requests.size(), 1);
        QVERIFY(!outcome.error.isEmpty());
        QVERIFY2(!outcome.error.startsWith(QStringLiteral("The update service")), qPrintable(outcome.error));
        QVERIFY(!lastCheckedStored());
    }

    void skipped_data()
    {
        QTest::addColumn<QString>("skipped");
        QTest::addColumn<bool>("critical");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<Kind>("expected");
        QTest::newRow("skipped, automatic check stays quiet") << "1.2.0" << false << true << Kind::UpToDate;
        QTest::newRow("skipped, manual check offers") << "1.2.0" << false << false << Kind::Available;
        QTest::newRow("skipped but critical, automatic") << "1.2.0" << true << true << Kind::Available;
        QTest::newRow("skipped but critical, manual") << "1.2.0" << true << false << Kind::Available;
        QTest::newRow("another version skipped") << "1.1.0" << false << true << Kind::Available;
        QTest::newRow("skip matches text exactly") << "1.2" << false << true << Kind::Available;
        QTest::newRow("nothing skipped") << "" << false << true << Kind::Available;
    }

    void skipped()
    {
        QFETCH(QString, skipped);
        QFETCH(bool, critical);
        QFETCH(bool, silent);
        QFETCH(Kind, expected);
        Rig rig(okJson(releaseJson("1.2.0", critical)));
        if (!skipped.isEmpty())
            UpdateChecker::setSkippedVersion(skipped);

        const Outcome outcome = runCheck(rig.checker, silent);
        QCOMPARE(int(outcome.kind), int(expected));
        QCOMPARE(outcome.signalCount, 1);
        QCOMPARE(outcome.silent, silent);
        if (expected == Kind::Available)
            QCOMPARE(outcome.release.critical, critical);
        QVERIFY(lastCheckedStored());
        QCOMPARE(UpdateChecker::skippedVersion(), skipped);
    }

    void overlappingChecks_eachAnswered()
    {
        Rig rig(okJson(releaseJson("1.0.0")));
        QSignalSpy upToDate(&rig.checker, &UpdateChecker::upToDate);
        QSignalSpy failed(&rig.checker, &UpdateChecker::checkFailed);
        rig.checker.check(true);
        rig.checker.check(false);
        QTRY_COMPARE_WITH_TIMEOUT(upToDate.count() + failed.count(), 2, 10000);
        QCOMPARE(failed.count(), 0);
        QList<bool> flags{upToDate.at(0).at(0).toBool(), upToDate.at(1).at(0).toBool()};
        std::sort(flags.begin(), flags.end());
        QCOMPARE(flags, (QList<bool>{false, true}));
        QCOMPARE(rig.service.requests.size(), 2);
    }

    void automaticCheckDue_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("due");
        const QDateTime now = QDateTime::currentDateTimeUtc();
        QTest::newRow("never checked") << QVariant() << true;
        QTest::newRow("19 hours ago") << QVariant(now.addSecs(-19 * 3600)) << false;
        QTest::newRow("one second short of 20 hours") << QVariant(now.addSecs(-72000 + 1)) << false;
        QTest::newRow("exactly 20 hours ago") << QVariant(now.addSecs(-72000)) << true;
        QTest::newRow("three days ago") << QVariant(now.addDays(-3)) << true;
        QTest::newRow("not a date-time") << QVariant(QStringLiteral("yesterday")) << true;
        QTest::newRow("in the future") << QVariant(now.addSecs(3600)) << true;
    }

    void automaticCheckDue()
    {
        QFETCH(QVariant, stored);
        QFETCH(bool, due);
        if (stored.isValid())
            QSettings().setValue("updates/lastChecked", stored);
        QCOMPARE(UpdateChecker().automaticCheckDue(), due);
    }

    void lastCheckedText_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("expected");
        const QVariant afternoon(QDateTime(QDate(2026, 12, 5), QTime(14, 7), Qt::UTC));
        QTest::newRow("never") << "en_GB" << QVariant() << "never";
        QTest::newRow("afternoon") << "en_GB" << afternoon << "05/12/2026 14:07";
        QTest::newRow("morning") << "en_GB" << QVariant(QDateTime(QDate(2027, 1, 31), QTime(9, 30), Qt::UTC))
                                 << "31/01/2027 09:30";
        QTest::newRow("American") << "en_US" << afternoon << "12/5/26 2:07 PM";
        QTest::newRow("German") << "de_DE" << afternoon << "05.12.26 14:07";
        QTest::newRow("not a date-time") << "en_GB" << QVariant(QStringLiteral("soon")) << "";
    }

    // As the user's locale writes a date and time.
    void lastCheckedText()
    {
        QFETCH(QString, locale);
        QFETCH(QVariant, stored);
        QFETCH(QString, expected);
        QLocale::setDefault(QLocale(locale));
        const auto back = qScopeGuard([] { QLocale::setDefault(QLocale::c()); });
        if (stored.isValid())
            QSettings().setValue("updates/lastChecked", stored);
        QCOMPARE(UpdateChecker::lastCheckedText(), expected);
    }

private:
    QTemporaryDir m_settingsDir;
};

QTEST_MAIN(TestUpdateChecker)
#include "tst_updatechecker.moc"

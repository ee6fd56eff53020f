#include "app/AppInfo.h"
#include "update/UpdateChecker.h"

#include <QDateTime>
#include <QNetworkProxy>
#include <QScopeGuard>
#include <QSettings>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <ctime>

using namespace rvw;

namespace {

// An HTTP service on 127.0.0.1 that answers each path with a canned response (404 for other
// paths) and keeps the head of each request. An empty response is never sent.
class Service : public QTcpServer
{
public:
    QHash<QByteArray, QByteArray> answers;
    QList<QByteArray> heads;

    Service()
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { read(socket); });
        });
    }
    QString url(const QString &path = QStringLiteral("/api/latest.json")) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(serverPort()).arg(path);
    }

private:
    void read(QTcpSocket *socket)
    {
        const QByteArray head = socket->property("head").toByteArray() + socket->readAll();
        socket->setProperty("head", head);
        if (!head.contains("\r\n\r\n"))
            return;
        heads << head.left(head.indexOf("\r\n\r\n") + 2);
        const QByteArray answer = answers.value(head.split(' ').value(1).split('?').value(0),
                                                "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
        if (!answer.isEmpty()) {
            socket->write(answer);
            socket->disconnectFromHost();
        }
    }
};

QByteArray http(const QByteArray &status, const QByteArray &body, const QByteArray &headers = {})
{
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nConnection: close\r\n" + headers + "\r\n" + body;
}

// A 200 answer carrying a JSON document written with ' for ".
QByteArray ok(QByteArray json)
{
    return http("200 OK", json.replace('\'', '"'), "Content-Type: application/json\r\n");
}

QByteArray release(const QByteArray &version, bool critical = false)
{
    return ok("{'latest_version': '" + version + "', 'critical': " + (critical ? "true" : "false") + "}");
}

// Runs one check and describes each outcome it reported, e.g. "available 1.2 (silent)".
QStringList runCheck(UpdateChecker &checker, bool silent, UpdateChecker::Release *release = nullptr)
{
    QStringList seen;
    QObject scope;
    const auto how = [](bool s) { return s ? QStringLiteral(" (silent)") : QStringLiteral(" (manual)"); };
    QObject::connect(&checker, &UpdateChecker::updateAvailable, &scope,
                     [&](const UpdateChecker::Release &r, bool s) {
                         seen << "available " + r.version + how(s);
                         if (release)
                             *release = r;
                     });
    QObject::connect(&checker, &UpdateChecker::upToDate, &scope,
                     [&](bool s) { seen << "up to date" + how(s); });
    QObject::connect(&checker, &UpdateChecker::checkFailed, &scope,
                     [&](const QString &error, bool s) { seen << "failed: " + error + how(s); });
    checker.check(silent);
    if (QTest::qWaitFor([&] { return !seen.isEmpty(); }, 10000))
        QTest::qWait(20); // a second outcome for the same check would arrive here
    return seen;
}

} // namespace

class TestUpdateChecker : public QObject
{
    Q_OBJECT

    QTemporaryDir m_settingsDir;

private slots:
    void initTestCase()
    {
        qputenv("TZ", "UTC");
        tzset();
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setApplicationName(AppInfo::applicationName());
        QCoreApplication::setOrganizationName(AppInfo::organisation());
        QVERIFY(m_settingsDir.isValid());
        QSettings::setDefaultFormat(QSettings::IniFormat);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
        QVERIFY(QSettings().fileName().startsWith(m_settingsDir.path()));
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

    void endpoint()
    {
        const QString mine = QStringLiteral("http://updates.example.invalid/api/latest.json");
        QCOMPARE(UpdateChecker().endpoint(), AppInfo::defaultUpdateEndpoint());
        UpdateChecker().setEndpoint("  " + mine + " \t");
        QCOMPARE(UpdateChecker().endpoint(), mine); // trimmed and kept in the settings
        UpdateChecker checker;
        checker.setEndpoint(QStringLiteral("   "));
        QCOMPARE(checker.endpoint(), AppInfo::defaultUpdateEndpoint());
        QCOMPARE(QSettings().value("updates/url").toString(), AppInfo::defaultUpdateEndpoint());
        QSettings().setValue("updates/url", QStringLiteral("  "));
        QCOMPARE(UpdateChecker().endpoint(), AppInfo::defaultUpdateEndpoint());
    }

    void check_data()
    {
        QTest::addColumn<QByteArray>("response");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QString>("expected"); // a wildcard pattern
        QTest::addColumn<QString>("skipped");
        const QString none, skip = QStringLiteral("1.2.0");
        const QString unreadable = "failed: The update service returned an unreadable response.";
        const QString noVersion = "failed: The update service did not report a version.";
        QTest::newRow("newer patch") << release("1.0.1") << false << "available 1.0.1 (manual)" << none;
        QTest::newRow("newer major") << release("2.0") << true << "available 2.0 (silent)" << none;
        QTest::newRow("newer, trimmed") << release("  1.1  ") << true << "available 1.1 (silent)" << none;
        QTest::newRow("equal") << release("1.0.0") << false << "up to date (manual)" << none;
        QTest::newRow("equal, fewer parts") << release("1.0") << true << "up to date (silent)" << none;
        QTest::newRow("older") << release("0.9.9") << false << "up to date (manual)" << none;
        QTest::newRow("older, silent") << release("0.12") << true << "up to date (silent)" << none;
        QTest::newRow("skipped, automatic") << release("1.2.0") << true << "up to date (silent)" << skip;
        QTest::newRow("skipped, manual") << release("1.2.0") << false << "available 1.2.0 (manual)" << skip;
        QTest::newRow("skipped but critical, automatic")
            << release("1.2.0", true) << true << "available 1.2.0 (silent)" << skip;
        QTest::newRow("skipped but critical, manual")
            << release("1.2.0", true) << false << "available 1.2.0 (manual)" << skip;
        QTest::newRow("another version skipped")
            << release("1.2.0") << true << "available 1.2.0 (silent)" << QString("1.1.0");
        QTest::newRow("skip matches text exactly")
            << release("1.2.0") << true << "available 1.2.0 (silent)" << QString("1.2");
        QTest::newRow("redirect followed") << http("302 Found", {}, "Location: /moved/latest.json\r\n")
                                           << false << "available 1.5.0 (manual)" << none;
        QTest::newRow("404") << http("404 Not Found", "<h1>Not Found</h1>") << true
                             << "failed: The update service returned HTTP 404. (silent)" << skip;
        QTest::newRow("500") << http("500 Internal Server Error", "{}") << false
                             << "failed: The update service returned HTTP 500. (manual)" << none;
        QTest::newRow("400") << http("400 Bad Request", {}) << false
                             << "failed: The update service returned HTTP 400. (manual)" << none;
        QTest::newRow("204") << http("204 No Content", {}) << false
                             << "failed: The update service returned HTTP 204. (manual)" << none;
        QTest::newRow("HTML body") << http("200 OK", "<!DOCTYPE html><html></html>") << false
                                   << unreadable + " (manual)" << none;
        QTest::newRow("empty body") << ok({}) << true << unreadable + " (silent)" << none;
        QTest::newRow("truncated") << ok("{'latest_version': '2.0'") << false << unreadable + " (manual)"
                                   << none;
        QTest::newRow("array") << ok("[{'latest_version': '2.0'}]") << false << unreadable + " (manual)"
                               << none;
        QTest::newRow("no version") << ok("{'release_date': '2026-12-05'}") << true << noVersion + " (silent)"
                                    << none;
        QTest::newRow("version a number")
            << ok("{'latest_version': 2}") << false << noVersion + " (manual)" << none;
        QTest::newRow("blank version")
            << ok("{'latest_version': '   '}") << false << noVersion + " (manual)" << none;
        QTest::newRow("huge version number")
            << ok("{'latest_version': 1e999}") << false << unreadable + " (manual)" << none;
        // Padded to the size cap (1 MiB) and one byte over it, with and without a stated length.
        const QByteArray doc = "{'latest_version': '2'}", pad(1024 * 1024 - doc.size(), ' ');
        QTest::newRow("exactly the size cap") << ok(pad + doc) << false << "available 2 (manual)" << none;
        QTest::newRow("over the size cap") << ok(pad + ' ' + doc) << true << unreadable + " (silent)" << none;
        QTest::newRow("over the size cap, no length")
            << "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + pad + ' ' + QByteArray(doc).replace('\'', '"')
            << true << unreadable + " (silent)" << none;
        // Network failures carry the network's own text, not one about the service's answer.
        QTest::newRow("no answer, timed out") << QByteArray() << false << "failed: [!T]* (manual)" << none;
    }

    // One check against the local service, which also answers a redirect to /moved/latest.json.
    // Every check reports exactly one outcome; one that got a version stores when it did.
    void check()
    {
        QFETCH(QByteArray, response);
        QFETCH(bool, silent);
        QFETCH(QString, expected);
        QFETCH(QString, skipped);
        Service service;
        service.answers.insert("/api/latest.json", response);
        service.answers.insert("/moved/latest.json", release("1.5.0"));
        UpdateChecker checker;
        checker.setEndpoint(service.url());
        if (response.isEmpty())
            checker.setTimeoutMs(300);
        UpdateChecker::setSkippedVersion(skipped);

        const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
        const QStringList outcomes = runCheck(checker, silent);
        QCOMPARE(outcomes.size(), 1);
        QVERIFY2(QRegularExpression(QRegularExpression::wildcardToRegularExpression(expected))
                     .match(outcomes.first())
                     .hasMatch(),
                 qPrintable(outcomes.first()));
        QCOMPARE(UpdateChecker::skippedVersion(), skipped);
        const QDateTime stored = QSettings().value("updates/lastChecked").toDateTime();
        if (expected.startsWith(QStringLiteral("failed"))) {
            QVERIFY(!QSettings().contains("updates/lastChecked"));
        } else {
            QCOMPARE(stored.timeSpec(), Qt::UTC);
            QVERIFY(stored >= before && stored <= QDateTime::currentDateTimeUtc());
            QVERIFY(!checker.automaticCheckDue());
        }
    }

    void request_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("plain endpoint") << "/api/latest.json?";
        QTest::newRow("endpoint with a query") << "/api/latest.json?channel=beta&lang=en&";
    }

    // The service learns who asks and what is running, and the checker asks for JSON.
    void request()
    {
        QFETCH(QString, path);
        Service service;
        service.answers.insert("/api/latest.json", release("1.0.0"));
        UpdateChecker checker;
        checker.setEndpoint(service.url(path.chopped(1)));
        QCOMPARE(runCheck(checker, false), QStringList{"up to date (manual)"});
        QCOMPARE(service.heads.size(), 1);
        const QByteArray head = service.heads.first().toLower();
        const QByteArray target =
            path.toLatin1() + "app=Ravelwick&current=1.0.0&platform=" + AppInfo::platformKey().toLatin1() +
            "&arch=" + QSysInfo::currentCpuArchitecture().toLatin1();
        QVERIFY2(head.startsWith("get " + target.toLower() + " http/1.1\r\n"), head.constData());
        QVERIFY(head.contains("\r\nuser-agent: ravelwick/1.0.0\r\n"));
        QVERIFY(head.contains("\r\naccept: application/json\r\n"));
    }

    void releaseFields_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("fields");
        QTest::newRow("all, trimmed but the notes")
            << QByteArray(
                   "{'latest_version': ' 1.2.0 ', 'release_date': ' 2026-12-05 ', 'download_url': ' "
                   "https://x.invalid/get ', 'notes_url': '\\thttps://x.invalid/notes\\n', 'notes': '  "
                   "Faster.\\n', 'critical': true, 'min_supported_version': ' 0.9 ', 'extra': [1]}")
            << QStringList{"1.2.0",
                           "2026-12-05",
                           "https://x.invalid/get",
                           "https://x.invalid/notes",
                           "  Faster.\n",
                           "critical",
                           "0.9"};
        QTest::newRow("wrong types give empty fields")
            << QByteArray(
                   "{'latest_version': '3.0', 'release_date': 20261205, 'download_url': null, 'notes_url':"
                   " ['x'], 'notes': {'a': 1}, 'critical': 'true', 'min_supported_version': false}")
            << QStringList{"3.0", "", "", "", "", "", ""};
    }

    void releaseFields()
    {
        QFETCH(QByteArray, body);
        QFETCH(QStringList, fields);
        Service service;
        service.answers.insert("/api/latest.json", ok(body));
        UpdateChecker checker;
        checker.setEndpoint(service.url());
        UpdateChecker::Release r;
        QCOMPARE(runCheck(checker, true, &r).size(), 1);
        QCOMPARE((QStringList{r.version, r.releaseDate, r.downloadUrl, r.notesUrl, r.notes,
                              r.critical ? "critical" : "", r.minSupportedVersion}),
                 fields);
    }

    void unreachable_data()
    {
        QTest::addColumn<QString>("endpoint");
        QTcpServer probe; // its port is closed again once this returns
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        QTest::newRow("connection refused") << QStringLiteral("http://127.0.0.1:%1/").arg(probe.serverPort());
        QTest::newRow("plain words") << "not a web address";
        QTest::newRow("unknown scheme") << "gopher://127.0.0.1/api/latest.json";
        QTest::newRow("no host") << "http:///api/latest.json";
    }

    void unreachable()
    {
        QFETCH(QString, endpoint);
        UpdateChecker checker;
        checker.setEndpoint(endpoint);
        const QStringList outcomes = runCheck(checker, true);
        QCOMPARE(outcomes.size(), 1);
        QVERIFY2(outcomes.first().startsWith("failed: ") && outcomes.first().endsWith(" (silent)") &&
                     !outcomes.first().contains("update service"),
                 qPrintable(outcomes.first()));
        QVERIFY(!QSettings().contains("updates/lastChecked"));
    }

    void overlappingChecksEachAnswered()
    {
        Service service;
        service.answers.insert("/api/latest.json", release("1.0.0"));
        UpdateChecker checker;
        checker.setEndpoint(service.url());
        QSignalSpy upToDate(&checker, &UpdateChecker::upToDate);
        checker.check(true);
        checker.check(false);
        QTRY_COMPARE_WITH_TIMEOUT(upToDate.count(), 2, 10000);
        QCOMPARE(upToDate.at(0).at(0).toBool() + upToDate.at(1).at(0).toBool(), 1);
        QCOMPARE(service.heads.size(), 2);
    }

    void automaticCheckDue_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("due");
        const QDateTime now = QDateTime::currentDateTimeUtc();
        QTest::newRow("never checked") << QVariant() << true;
        QTest::newRow("one second short of 20 hours") << QVariant(now.addSecs(-72000 + 1)) << false;
        QTest::newRow("exactly 20 hours ago") << QVariant(now.addSecs(-72000)) << true;
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
        QTest::newRow("British") << "en_GB" << afternoon << "05/12/2026 14:07";
        QTest::newRow("American") << "en_US" << afternoon << "12/5/26 2:07 PM";
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
};

QTEST_MAIN(TestUpdateChecker)
#include "tst_updatechecker.moc"

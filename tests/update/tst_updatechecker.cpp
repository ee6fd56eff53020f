#include "app/AppInfo.h"
#include "update/UpdateChecker.h"

#include <QtNetwork>
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
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    const QByteArray head = socket->property("head").toByteArray() + socket->readAll();
                    socket->setProperty("head", head);
                    if (!head.contains("\r\n\r\n"))
                        return;
                    heads << head.left(head.indexOf("\r\n\r\n") + 2);
                    const QByteArray answer =
                        answers.value(head.split(' ').value(1).split('?').value(0),
                                      "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
                    if (!answer.isEmpty())
                        socket->write(answer), socket->disconnectFromHost();
                });
        });
    }
    QString url(const QString &path = "/api/latest.json") const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(serverPort()).arg(path);
    }
};

const auto http = [](const QByteArray &status, const QByteArray &body, const QByteArray &headers = {}) {
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nConnection: close\r\n" + headers + "\r\n" + body;
};
// A 200 answer carrying a JSON document written with ' for ".
const auto ok = [](QByteArray json) { return http("200 OK", json.replace('\'', '"')); };
const auto release = [](const QByteArray &version, bool critical = false) {
    return ok("{'latest_version': '" + version + (critical ? "', 'critical': true}" : "'}"));
};

// Runs one check and describes each outcome it reported, e.g. "available 1.2 (silent)" (with each
// other field of the release that is not empty); a failure
// of the network itself, not of the service's answer, reads "failed: network".
QStringList runCheck(UpdateChecker &checker, bool silent)
{
    QStringList seen;
    QObject scope;
    const auto add = [&](const QString &what, bool s) { seen << what + (s ? " (silent)" : " (manual)"); };
    QObject::connect(&checker, &UpdateChecker::updateAvailable, &scope, [&](const auto &r, bool s) {
        QStringList fields{r.version,  r.releaseDate, r.downloadUrl,
                           r.notesUrl, r.notes,       r.minSupportedVersion};
        fields.removeAll(QString());
        add("available " + fields.join(" | ") + (r.critical ? " | critical" : ""), s);
    });
    QObject::connect(&checker, &UpdateChecker::upToDate, &scope, [&](bool s) { add("up to date", s); });
    QObject::connect(&checker, &UpdateChecker::checkFailed, &scope, [&](const QString &error, bool s) {
        add("failed: " + (error.contains("update service") ? error : "network"), s);
    });
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
        QLocale::setDefault(QLocale("en_GB"));
        QCoreApplication::setApplicationName(AppInfo::applicationName());
        QCoreApplication::setOrganizationName(AppInfo::organisation());
        QSettings::setDefaultFormat(QSettings::IniFormat);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
        QVERIFY(m_settingsDir.isValid() && QSettings().fileName().startsWith(m_settingsDir.path()));
        // Requests to the local service must not wander off to a proxy from the environment.
        QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    }
    void init() { QSettings().clear(); }

    void compareVersions_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("expected");
        // clang-format off
        QTest::addRow("numeric, not textual") << "1.10" << "1.9" << 1;
        QTest::addRow("missing part is zero") << "1.2" << "1.2.0" << 0;
        QTest::addRow("deep difference") << "1.0.0.0.1" << "1.0" << 1;
        QTest::addRow("surrounding spaces") << "  1.0.1  " << "1.0" << 1;
        QTest::addRow("empty parts dropped") << ".1..2" << "1.2" << 0;
        QTest::addRow("non-numeric part is zero") << "1.2beta" << "1.0" << 0;
        // clang-format on
    }
    void compareVersions()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, expected);
        QCOMPARE(QList<int>() << UpdateChecker::compareVersions(a, b) << UpdateChecker::compareVersions(b, a),
                 QList<int>() << expected << -expected);
    }

    // Trimmed and kept in the settings; blank means the default service.
    void endpoint()
    {
        QCOMPARE(UpdateChecker().endpoint(), AppInfo::defaultUpdateEndpoint());
        UpdateChecker().setEndpoint(" http://x.invalid/latest.json \t");
        QCOMPARE(UpdateChecker().endpoint(), "http://x.invalid/latest.json");
        UpdateChecker().setEndpoint("   ");
        QCOMPARE(QSettings().value("updates/url").toString(), AppInfo::defaultUpdateEndpoint());
    }

    void check_data()
    {
        // Empty: no answer at all.
        QTest::addColumn<QByteArray>("response");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QString>("skipped");
        QTest::addColumn<QString>("expected");
        const QString unreadable = "failed: The update service returned an unreadable response.";
        // Padded to the size cap (1 MiB) and one byte over it, with and without a stated length.
        const QByteArray doc = "{'latest_version': '2'}", pad(1024 * 1024 - doc.size(), ' ');
        // clang-format off
        QTest::addRow("every field read, trimmed but the notes") << ok("{'latest_version': ' 1.2.0 ', 'release_date': ' 2026-12-05 ', 'download_url': ' https://x.invalid/get ', 'notes_url': '\\thttps://x.invalid/notes\\n', 'notes': '  Faster.\\n', 'critical': true, 'min_supported_version': ' 0.9 ', 'extra': [1]}") << true << "" << "available 1.2.0 | 2026-12-05 | https://x.invalid/get | https://x.invalid/notes |   Faster.\n | 0.9 | critical (silent)";
        QTest::addRow("newer") << release("1.0.1") << false << "" << "available 1.0.1 (manual)";
        QTest::addRow("same, fewer parts") << release("1.0") << false << "" << "up to date (manual)";
        QTest::addRow("skipped, automatic") << release("1.2.0") << true << "1.2.0" << "up to date (silent)";
        QTest::addRow("skipped, manual") << release("1.2.0") << false << "1.2.0" << "available 1.2.0 (manual)";
        QTest::addRow("skipped but critical") << release("1.2.0", true) << true << "1.2.0" << "available 1.2.0 | critical (silent)";
        QTest::addRow("skip matches text exactly") << release("1.2.0") << true << "1.2" << "available 1.2.0 (silent)";
        QTest::addRow("redirect followed") << http("302 Found", {}, "Location: /moved/latest.json\r\n") << false << "" << "available 1.5.0 (manual)";
        QTest::addRow("redirect elsewhere, not followed") << http("302 Found", {}, "Location: gopher://127.0.0.1/x\r\n") << false << "" << "failed: network (manual)";
        QTest::addRow("404") << http("404 Not Found", "<h1>Not Found</h1>") << true << "1.2.0" << "failed: The update service returned HTTP 404. (silent)";
        QTest::addRow("204") << http("204 No Content", {}) << false << "" << "failed: The update service returned HTTP 204. (manual)";
        QTest::addRow("HTML") << http("200 OK", "<!DOCTYPE html>") << false << "" << unreadable + " (manual)";
        QTest::addRow("array") << ok("[{'latest_version': '2.0'}]") << true << "" << unreadable + " (silent)";
        QTest::addRow("blank version") << ok("{'latest_version': ' ', 'release_date': '2026-12-05'}") << false << "" << "failed: The update service did not report a version. (manual)";
        QTest::addRow("exactly the size cap") << ok(pad + doc) << false << "" << "available 2 (manual)";
        QTest::addRow("over the size cap") << ok(pad + ' ' + doc) << true << "" << unreadable + " (silent)";
        QTest::addRow("over the size cap, no length") << "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + pad + ' ' + QByteArray(doc).replace('\'', '"') << true << "" << unreadable + " (silent)";
        QTest::addRow("no answer, timed out") << QByteArray() << false << "" << "failed: network (manual)";
        // clang-format on
    }

    // One check against the local service, which also answers a redirect to /moved/latest.json.
    // Every check reports exactly one outcome; one that got a version stores when it did.
    void check()
    {
        QFETCH(QByteArray, response);
        QFETCH(bool, silent);
        QFETCH(QString, skipped);
        QFETCH(QString, expected);
        Service service;
        service.answers.insert("/api/latest.json", response);
        service.answers.insert("/moved/latest.json", release("1.5.0"));
        UpdateChecker checker;
        checker.setEndpoint(service.url("/api/latest.json?channel=beta"));
        checker.setTimeoutMs(response.isEmpty() ? 300 : 10000);
        UpdateChecker::setSkippedVersion(skipped);
        const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
        QCOMPARE(runCheck(checker, silent) << UpdateChecker::skippedVersion(),
                 (QStringList{expected, skipped}));
        // The service learns who asks and what is running; the endpoint's own query is kept.
        const QByteArray head = service.heads.value(0).toLower(),
                         platform = AppInfo::platformKey().toLatin1();
        QVERIFY2(head.startsWith(
                     "get /api/latest.json?channel=beta&app=ravelwick&current=1.0.0&platform=" + platform +
                     "&arch=" + QSysInfo::currentCpuArchitecture().toLatin1() + " http/1.1\r\n") &&
                     head.contains("\r\nuser-agent: ravelwick/1.0.0\r\n") &&
                     head.contains("\r\naccept: application/json\r\n"),
                 head.constData());
        const QDateTime stored = QSettings().value("updates/lastChecked").toDateTime();
        QCOMPARE(stored.isValid(), !expected.startsWith("failed"));
        QVERIFY(!stored.isValid() ||
                (stored.timeSpec() == Qt::UTC && stored >= before &&
                 stored <= QDateTime::currentDateTimeUtc() && !checker.automaticCheckDue()));
    }

    // Overlapping checks are each answered, each with its own flag.
    void overlapping()
    {
        Service service;
        service.answers.insert("/api/latest.json", release("2"));
        UpdateChecker checker;
        checker.setEndpoint(service.url());
        QSignalSpy available(&checker, &UpdateChecker::updateAvailable);
        checker.check(true);
        checker.check(false);
        QTRY_COMPARE_WITH_TIMEOUT(available.count(), 2, 10000);
        QCOMPARE(available[0][1].toBool() + available[1][1].toBool(), 1);
    }

    // The moment of the last good check decides whether an automatic one is due, and reads as the
    // user's locale writes it.
    void lastCheck_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("due");
        QTest::addColumn<QString>("text"); // null: depends on the clock
        const QDateTime now = QDateTime::currentDateTimeUtc();
        // clang-format off
        QTest::addRow("never checked") << QVariant() << true << "never";
        QTest::addRow("one second short of 20 hours") << QVariant(now.addSecs(-72000 + 1)) << false << QString();
        QTest::addRow("exactly 20 hours ago") << QVariant(now.addSecs(-72000)) << true << QString();
        QTest::addRow("in the future") << QVariant(now.addSecs(3600)) << true << QString();
        QTest::addRow("long ago") << QVariant(QDateTime(QDate(2026, 12, 5), QTime(14, 7), Qt::UTC)) << true << "05/12/2026 14:07";
        QTest::addRow("not a date-time") << QVariant("yesterday") << true << "";
        // clang-format on
    }
    void lastCheck()
    {
        QFETCH(QVariant, stored);
        QFETCH(QString, text);
        if (stored.isValid())
            QSettings().setValue("updates/lastChecked", stored);
        QTEST(UpdateChecker().automaticCheckDue(), "due");
        if (!text.isNull())
            QCOMPARE(UpdateChecker::lastCheckedText(), text);
    }
};

QTEST_MAIN(TestUpdateChecker)
#include "tst_updatechecker.moc"

// libFuzzer target: the body of the update service's reply. Any bytes must end a check with
// exactly one outcome and no crash; an offered release must carry a trimmed version newer than
// this build; a failure must say something; version comparison must be antisymmetric.
//
// The reply goes through the real checker: its endpoint is a file: URL whose file holds the input,
// so the network layer delivers the bytes as a reply without any network. Settings go to a
// temporary folder. An odd input length makes the check a silent (automatic) one, so both kinds
// are fuzzed; version 9.9.9 is the one the user skipped.

#include "app/AppInfo.h"
#include "update/UpdateChecker.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool condition, const char *what)
{
    if (condition)
        return;
    std::fprintf(stderr, "fuzz_updatereply: %s\n", what);
    std::abort();
}

struct Workspace
{
    int argc = 1;
    char name[32] = "fuzz_updatereply";
    char *argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
    QTemporaryDir dir;
    QString replyPath;
    rvw::UpdateChecker *checker = nullptr;

    Workspace()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("RavelwickFuzz"));
        QCoreApplication::setApplicationName(QStringLiteral("fuzz_updatereply"));
        if (!dir.isValid())
            std::abort();
        QSettings::setDefaultFormat(QSettings::IniFormat);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
        check(QSettings().fileName().startsWith(dir.path()), "settings outside the temporary folder");
        replyPath = dir.filePath(QStringLiteral("reply.json"));
        checker = new rvw::UpdateChecker(&app);
        checker->setEndpoint(QUrl::fromLocalFile(replyPath).toString());
        rvw::UpdateChecker::setSkippedVersion(QStringLiteral("9.9.9"));
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Workspace ws;
    QFile f(ws.replyPath);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        f.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
        std::abort();
    f.close();

    const bool silent = size % 2 == 1;
    const QString current = rvw::AppInfo::versionString();
    int outcomes = 0;
    QEventLoop loop;
    rvw::UpdateChecker &checker = *ws.checker;
    const auto done = [&](bool reportedSilent) {
        check(reportedSilent == silent, "an outcome with another check's silent flag");
        ++outcomes;
        loop.quit();
    };
    const QMetaObject::Connection c1 = QObject::connect(
        &checker, &rvw::UpdateChecker::updateAvailable, &loop,
        [&](const rvw::UpdateChecker::Release &release, bool s) {
            check(!release.version.isEmpty() && release.version == release.version.trimmed(),
                  "a release without a trimmed version");
            check(rvw::UpdateChecker::compareVersions(release.version, current) > 0, "an offer of no newer version");
            check(!(s && !release.critical && release.version == QLatin1String("9.9.9")),
                  "a silent offer of the skipped version");
            done(s);
        });
    const QMetaObject::Connection c2 =
        QObject::connect(&checker, &rvw::UpdateChecker::upToDate, &loop, [&](bool s) { done(s); });
    const QMetaObject::Connection c3 =
        QObject::connect(&checker, &rvw::UpdateChecker::checkFailed, &loop, [&](const QString &error, bool s) {
            check(!error.isEmpty(), "a failure without a message");
            done(s);
        });
    // A reply that never finishes would hang the checker's user as well: libFuzzer's timeout
    // reports it, this timer only keeps a stuck run from waiting forever.
    QTimer::singleShot(10000, &loop, [&] {
        std::fprintf(stderr, "fuzz_updatereply: no outcome within 10 s\n");
        std::abort();
    });
    checker.check(silent);
    loop.exec();
    // A second outcome of the same check would arrive in the events still queued; the reply the
    // checker let go is deleted here, so that a reply kept alive shows up as a leak.
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QObject::disconnect(c1);
    QObject::disconnect(c2);
    QObject::disconnect(c3);
    check(outcomes == 1, "not exactly one outcome");

    // The comparison the outcome rests on.
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(qMin<size_t>(size, 64)));
    check(rvw::UpdateChecker::compareVersions(text, current) == -rvw::UpdateChecker::compareVersions(current, text),
          "version comparison is not antisymmetric");
    return 0;
}

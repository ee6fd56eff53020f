#include "support/AudioFixtures.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <QStorageInfo>

#include <csignal>
#include <memory>

using namespace rvwtest;

namespace {

struct Run
{
    int code = -1;
    QString out;
    QString err;
};

QByteArray sha256(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex();
}

// Every file below `root` (hidden ones too) with its content hash, by relative path.
QMap<QString, QByteArray> contents(const QString &root)
{
    QMap<QString, QByteArray> map;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        map.insert(QDir(root).relativeFilePath(path), sha256(path));
    }
    return map;
}

} // namespace

class TestRavelwickCli : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_tmp;
    QString m_lib;
    QString m_home;
    // The library's report, made once; clean-ups put the library back as it was.
    QString m_report;
    QJsonObject m_json;
    // A library of many byte copies for stopping a clean-up part way, and its report.
    std::unique_ptr<QTemporaryDir> m_copies;
    QString m_copiesReport;

    // Made once: on tmpfs when that is another file system, so that every move is a copy
    // to the disk, synced and read back, which keeps the batch long enough to stop.
    bool makeCopiesLibrary()
    {
        if (m_copies)
            return true;
        m_copies = std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/rvw-cli-XXXXXX"));
        if (!m_copies->isValid() ||
            QStorageInfo(m_copies->path()).rootPath() == QStorageInfo(m_tmp.path()).rootPath())
            m_copies = std::make_unique<QTemporaryDir>(m_tmp.filePath(QStringLiteral("copies-XXXXXX")));
        const QString first = m_copies->filePath(QStringLiteral("d00/song.mp3"));
        QDir().mkpath(QFileInfo(first).absolutePath());
        if (!ffmpeg(melodyInput(3, 60) + QStringList{"-c:a", "libmp3lame", "-b:a", "128k", first}))
            return false;
        for (int i = 1; i < 60; ++i) {
            const QString copy =
                m_copies->filePath(QStringLiteral("d%1/song.mp3").arg(i, 2, 10, QLatin1Char('0')));
            QDir().mkpath(QFileInfo(copy).absolutePath());
            if (!copyFile(first, copy))
                return false;
        }
        m_copiesReport = m_tmp.filePath(QStringLiteral("copies.json"));
        return cli({"scan", "--no-acoustic", "--report", m_copiesReport, m_copies->path()}).code == 1;
    }

    QStringList journals() const
    {
        QStringList found;
        QDirIterator it(m_home, {QStringLiteral("*.journal")}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            found << it.next();
        return found;
    }

    QProcessEnvironment environment() const
    {
        // The program uses the real per-user folders: point all of them into the test's folder.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", m_home);
        env.insert("XDG_DATA_HOME", m_home + "/data");
        env.insert("XDG_CONFIG_HOME", m_home + "/config");
        env.insert("XDG_CACHE_HOME", m_home + "/cache");
        env.insert("XDG_DOCUMENTS_DIR", m_home + "/Documents");
        return env;
    }

    Run cli(const QStringList &args, int timeoutMs = 180000)
    {
        QProcess p;
        launch(p, args);
        Run r;
        if (!p.waitForFinished(timeoutMs)) {
            p.kill();
            p.waitForFinished(5000);
            return r;
        }
        r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }

    // Undoes the newest clean-up.
    Run undoLast() { return cli({"undo", cli({"undo"}).out.section('\t', 0, 0).trimmed()}); }

    void launch(QProcess &p, const QStringList &args, const QProcessEnvironment &env)
    {
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(RVW_CLI_BINARY), args);
    }
    void launch(QProcess &p, const QStringList &args) { launch(p, args, environment()); }

private slots:
    void initTestCase()
    {
        if (ffmpegPath().isEmpty())
            QSKIP("ffmpeg is not installed; the library cannot be generated");
        QVERIFY(m_tmp.isValid());
        m_home = m_tmp.path() + "/home";
        m_lib = m_tmp.path() + "/library";
        QDir().mkpath(m_home);
        QDir().mkpath(m_lib + "/studio");
        QDir().mkpath(m_lib + "/incoming");
        QVERIFY(
            ffmpeg(melodyInput(1, 10) + QStringList{"-c:a", "flac", "-metadata", "artist=Band", "-metadata",
                                                    "title=Song", m_lib + "/studio/song.flac"}));
        QVERIFY(copyFile(m_lib + "/studio/song.flac", m_lib + "/incoming/song.flac"));
        QVERIFY(ffmpeg({"-i", m_lib + "/studio/song.flac", "-c:a", "libmp3lame", "-b:a", "128k",
                        m_lib + "/incoming/song.mp3"}));
        QVERIFY(ffmpeg(melodyInput(5, 10) + QStringList{"-c:a", "libmp3lame", m_lib + "/studio/other.mp3"}));
        m_report = m_tmp.filePath("library.json");
        const Run r = cli({"scan", "--engine", "builtin", "--report", m_report, m_lib});
        QFile f(m_report);
        QVERIFY2(r.code == 1 && f.open(QIODevice::ReadOnly), qPrintable(r.err));
        m_json = QJsonDocument::fromJson(f.readAll()).object();
    }

    // Exit codes: 2 for a usage error (with a message, and nothing on standard output), 0 for help,
    // the version and a scan without duplicates.
    void exitCodes_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("out");
        QTest::newRow("nothing") << QStringList{} << 2 << "";
        QTest::newRow("bad option") << QStringList{"scan", "--bogus", "."} << 2 << "";
        QTest::newRow("bad range") << QStringList{"scan", "--threads", "99", "."} << 2 << "";
        QTest::newRow("missing report") << QStringList{"quarantine", "/no/such/report.json"} << 2 << "";
        QTest::newRow("help") << QStringList{"--help"} << 0 << "ravelwick-cli scan [options] FOLDER...";
        QTest::newRow("version") << QStringList{"--version"} << 0 << "ravelwick-cli ";
        QTest::newRow("no duplicates") << QStringList{"scan", "--engine", "builtin", "--no-cache", "studio"}
                                       << 0 << "Files scanned: 2\nDuplicate groups: 0";
    }
    void exitCodes()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, out);
        if (args.value(4) == "studio")
            args[4] = m_lib + "/studio";
        const Run r = cli(args);
        QCOMPARE(r.code, code);
        if (code == 2)
            QVERIFY(!r.err.trimmed().isEmpty() && r.out.isEmpty());
        for (const QString &line : out.split('\n', Qt::SkipEmptyParts))
            QVERIFY2(r.out.contains(line), qPrintable(r.out));
    }

    void reportsInEveryFormat_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("extra");
        QTest::newRow("json") << "r.json" << QStringList{};
        QTest::newRow("csv") << "r.csv" << QStringList{};
        QTest::newRow("html") << "r.html" << QStringList{};
        QTest::newRow("m3u8 by option") << "playlist.txt" << QStringList{"--format", "m3u8"};
    }
    void reportsInEveryFormat()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, extra);
        const QString path = m_tmp.filePath(file);
        const Run r = cli(QStringList{"scan", "--engine", "builtin", "-q", "--report", path} + extra +
                          QStringList{m_lib});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.isEmpty(), qPrintable(r.err)); // quiet
        QVERIFY(r.out.contains("Report: " + path) && r.out.contains("Redundant copies: 2"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        if (file.endsWith(".json")) {
            QJsonParseError pe;
            const QJsonDocument doc = QJsonDocument::fromJson(bytes, &pe);
            QVERIFY2(!doc.isNull(), qPrintable(pe.errorString()));
            const QJsonArray groups = doc.object().value("duplicateGroups").toArray();
            QCOMPARE(groups.size(), 1);
            QCOMPARE(groups[0].toObject().value("files").toArray().size(), 3);
        } else if (file.endsWith(".csv")) {
            const QList<QByteArray> lines = bytes.trimmed().split('\n');
            QCOMPARE(lines.size(), 4);
            QVERIFY(lines[0].startsWith("Group,Match type,"));
            for (const QByteArray &l : lines.mid(1))
                QVERIFY(l.startsWith("1,\""));
        } else if (file.endsWith(".html")) {
            QVERIFY(bytes.startsWith("<!DOCTYPE html>") && bytes.trimmed().endsWith("</body></html>"));
            QCOMPARE(bytes.count("<tr><td class=\"dupe\">"), 2);
        } else {
            QVERIFY(bytes.startsWith("#EXTM3U\n"));
            QCOMPARE(bytes.count("#EXTINF:"), 2);
        }
    }

    void quarantineThenUndo()
    {
        const QMap<QString, QByteArray> before = contents(m_lib);
        const QString &report = m_report;

        const QString qroot = m_tmp.filePath("quarantine");
        const Run dry = cli({"quarantine", report, "--to", qroot, "--dry-run"});
        QCOMPARE(dry.code, 0);
        QCOMPARE(dry.out.count("would move "), 2);
        QVERIFY(!QDir(qroot).exists());

        const Run moved = cli({"quarantine", report, "--to", qroot});
        QVERIFY2(moved.code == 0, qPrintable(moved.err));
        QVERIFY(moved.out.contains("Moved 2 files into") && moved.out.contains("Undo manifest: "));
        QCOMPARE(contents(m_lib).size(), before.size() - 2); // the keeper and the unrelated song stay

        const Run list = cli({"undo"});
        QCOMPARE(list.code, 0);
        QVERIFY2(list.out.contains(" - 2 files"), qPrintable(list.out));
        const Run undone = undoLast();
        QVERIFY2(undone.code == 0, qPrintable(undone.err + undone.out));
        QVERIFY(undone.out.contains("Restored 2 files; 0 failed."));
        QCOMPARE(contents(m_lib), before);
        QVERIFY(cli({"undo"}).out.contains("No clean-up to undo."));
    }

    // A report edited into an unsafe clean-up is refused; a file changed since the report is skipped.
    void refusesUnsafeRemovals_data()
    {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("err");
        QTest::addColumn<QString>("out");
        // clang-format off
        QTest::newRow("every copy marked for removal") << "all" << "every copy is marked for removal" << "Nothing to move.";
        QTest::newRow("two groups keep each other's removals") << "crossed" << "is also a copy to keep; it is not removed" << "Nothing to move.";
        QTest::newRow("a duplicate changed after the report") << "changed" << " changed since the report; skipped" << "Moved 1 file into";
        // clang-format on
    }
    void refusesUnsafeRemovals()
    {
        QFETCH(QString, edit);
        QFETCH(QString, err);
        QFETCH(QString, out);
        const QString report = m_tmp.filePath("edit.json");
        QJsonObject json = m_json;
        QJsonArray groups = json.value("duplicateGroups").toArray();
        QCOMPARE(groups.size(), 1);
        QJsonObject g = groups[0].toObject();
        QJsonArray files = g.value("files").toArray();
        QString changed;
        for (int i = 0; i < files.size(); ++i) {
            QJsonObject f = files[i].toObject();
            if (changed.isEmpty() && !f.value("keep").toBool())
                changed = f.value("path").toString();
            if (edit != "changed")
                f.insert("keep", edit == "crossed" && !f.value("keep").toBool());
            files[i] = f;
        }
        g.insert("files", files);
        if (edit == "crossed") {
            g.insert("id", 2);
            groups.append(g);
        } else if (edit == "all") {
            groups[0] = g;
        }
        json.insert("duplicateGroups", groups);
        QFile rf(report);
        QVERIFY(rf.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                rf.write(QJsonDocument(json).toJson()) > 0);
        rf.close();
        const QByteArray original = sha256(changed);
        if (edit == "changed") {
            QFile f(changed);
            QVERIFY(f.open(QIODevice::Append) && f.write("edited") == 6);
        }
        const QString qroot = m_tmp.filePath("quarantine-" + edit);
        const Run r = cli({"quarantine", report, "--to", qroot});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains(err), qPrintable(r.err));
        QVERIFY2(r.out.contains(out), qPrintable(r.out));
        if (edit != "changed") {
            QVERIFY(!QDir(qroot).exists());
            return;
        }
        QVERIFY(r.err.contains(changed + err));
        QVERIFY(QFile::exists(changed) && sha256(changed) != original);
        // put the library back for the other tests
        QCOMPARE(undoLast().code, 0);
        QFile f(changed);
        QVERIFY(f.open(QIODevice::ReadWrite) && f.resize(f.size() - 6));
        f.close();
        QCOMPARE(sha256(changed), original);
    }

    // Killed, terminated or interrupted part way through a quarantine, and then undone:
    // every file of the library is back, byte for byte, and nothing else is there.
    void stopDuringQuarantineLosesNothing_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("killed") << int(SIGKILL);
        QTest::newRow("terminated") << int(SIGTERM);
        QTest::newRow("interrupted") << int(SIGINT);
    }

    void stopDuringQuarantineLosesNothing()
    {
        QFETCH(int, signal);
        QVERIFY(makeCopiesLibrary());
        const QMap<QString, QByteArray> before = contents(m_copies->path());
        QCOMPARE(before.size(), 60);

        QProcess p;
        launch(p, {"quarantine", m_copiesReport, "--to", m_tmp.filePath(QStringLiteral("q-%1").arg(signal))});
        QVERIFY(p.waitForStarted());
        // Stop it once a few moves are journaled.
        QElapsedTimer t;
        t.start();
        int moved = 0;
        while (moved < 3 && t.elapsed() < 60000 && p.state() == QProcess::Running) {
            const QStringList found = journals();
            QFile journal(found.value(0));
            moved = !found.isEmpty() && journal.open(QIODevice::ReadOnly) ? int(journal.readAll().count('\n'))
                                                                          : 0;
            QThread::usleep(200);
        }
        QVERIFY2(p.state() == QProcess::Running, "the clean-up ended before it could be stopped");
        ::kill(pid_t(p.processId()), signal);
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitStatus(), signal == SIGKILL ? QProcess::CrashExit : QProcess::NormalExit);
        if (signal != SIGKILL) {
            QCOMPARE(p.exitCode(), 128 + signal);
            QVERIFY(QString::fromUtf8(p.readAllStandardError()).contains("Interrupted"));
            QVERIFY(journals().isEmpty()); // the manifest was closed
        }
        const QMap<QString, QByteArray> during = contents(m_copies->path());
        QVERIFY2(during.size() < before.size() && during.size() > 1,
                 qPrintable(QString::number(during.size())));

        const Run list = cli({"undo"});
        QCOMPARE(list.out.count('\n'), 1);
        QCOMPARE(list.out.contains("interrupted"), signal == SIGKILL);
        const Run undone = undoLast();
        QVERIFY2(undone.code == 0, qPrintable(undone.err + undone.out));
        QCOMPARE(contents(m_copies->path()), before);
        QVERIFY(cli({"undo"}).out.contains("No clean-up to undo."));
    }

    // The window and the command line may scan with one cache at the same time: both processes'
    // results are stored, and nothing is reported lost.
    void twoProcessesShareTheCache()
    {
        QStringList folders;
        for (int lib = 0; lib < 2; ++lib) {
            folders << m_tmp.filePath(QStringLiteral("shared-%1").arg(lib));
            QDir().mkpath(folders.last());
            for (int i = 0; i < 5; ++i)
                QVERIFY(ffmpeg(melodyInput(40 + 5 * lib + i, 6) +
                               QStringList{"-c:a", "flac", folders.last() + QString("/t%1.flac").arg(i)}));
        }
        QList<QProcess *> scans;
        for (const QString &folder : std::as_const(folders)) {
            auto *p = new QProcess(this);
            launch(*p, {"scan", "--engine", "builtin", "-v", folder});
            scans << p;
        }
        for (QProcess *p : std::as_const(scans)) {
            QVERIFY(p->waitForFinished(180000));
            const QString err = QString::fromUtf8(p->readAllStandardError());
            QVERIFY2(!err.contains("could not be stored") && !err.contains("unavailable"), qPrintable(err));
            delete p;
        }
        const Run again = cli({"scan", "--engine", "builtin", "-v", folders[0], folders[1]});
        QVERIFY2(again.err.contains("Reused 10 cached analysis results."), qPrintable(again.err));
    }

    // A stop ends the scan in every phase, however long the file in hand would take, ends the
    // outside tools it started, and keeps every analysis finished before it.
    void stopEndsTheScanInEveryPhase_data()
    {
        QTest::addColumn<QString>("phase");
        QTest::addColumn<QString>("engine");
        QTest::addColumn<QString>("hangingTool"); // environment variable pointed at a tool that hangs
        QTest::addColumn<int>("signal");
        // clang-format off
        QTest::newRow("fpcalc hangs, interrupted") << "Fingerprinting audio" << "fpcalc" << "RVW_FPCALC" << int(SIGINT);
        QTest::newRow("ffmpeg hangs, terminated") << "Fingerprinting audio" << "builtin" << "RVW_FFMPEG" << int(SIGTERM);
        QTest::newRow("hashing a huge file, interrupted") << "Reading tags and hashing" << "builtin" << "" << int(SIGINT);
        // clang-format on
    }
    void stopEndsTheScanInEveryPhase()
    {
        QFETCH(QString, phase);
        QFETCH(QString, engine);
        QFETCH(QString, hangingTool);
        QFETCH(int, signal);
        const QString lib = m_tmp.filePath(QStringLiteral("stop-%1").arg(QTest::currentDataTag()));
        QDir().mkpath(lib);
        for (int i = 0; i < 4; ++i)
            QVERIFY(ffmpeg(melodyInput(20 + i, 5) +
                           QStringList{"-c:a", "flac", lib + QString("/t%1.flac").arg(i)}));
        const QStringList huge{lib + "/zz-huge.wav", lib + "/zz-huge-too.wav"};
        if (hangingTool.isEmpty()) {
            // Sparse: 64 GiB each that take no disk, and far longer to hash than the test waits;
            // two of one size, as only files with a partner are hashed.
            for (const QString &path : huge) {
                QFile f(path);
                QVERIFY(f.open(QIODevice::WriteOnly) && f.resize(qint64(64) << 30));
            }
        }
        const QString pids = m_tmp.filePath(QStringLiteral("pids-%1").arg(signal));
        QProcessEnvironment env = environment();
        if (!hangingTool.isEmpty()) {
            const QString fake = m_tmp.filePath(QStringLiteral("hang-%1").arg(hangingTool));
            QFile script(fake);
            QVERIFY(script.open(QIODevice::WriteOnly) &&
                    script.write(
                        QStringLiteral("#!/bin/sh\necho $$ >> '%1'\nexec sleep 300\n").arg(pids).toUtf8()) >
                        0);
            script.close();
            QVERIFY(script.setPermissions(script.permissions() | QFileDevice::ExeOwner));
            env.insert(hangingTool, fake);
        }
        QProcess p;
        launch(p, {"scan", "--engine", engine, "--threads", "2", lib}, env);
        QVERIFY(p.waitForStarted());
        QString errText;
        QElapsedTimer t;
        t.start();
        while (!errText.contains(phase) && t.elapsed() < 120000 && p.state() == QProcess::Running) {
            p.waitForReadyRead(200);
            errText += QString::fromUtf8(p.readAllStandardError());
        }
        QVERIFY2(errText.contains(phase), qPrintable(errText));
        if (hangingTool.isEmpty()) // the small files are done and the huge file begun
            QThread::msleep(1500);
        else // the hanging tools started
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(pids).size() > 0, 60000);
        ::kill(pid_t(p.processId()), signal);
        const bool ended = p.waitForFinished(20000);
        if (!ended) {
            p.kill();
            p.waitForFinished();
        }
        QVERIFY2(ended, "the scan did not stop");
        errText += QString::fromUtf8(p.readAllStandardError());
        QCOMPARE(p.exitCode(), 128 + signal);
        QVERIFY2(errText.contains("Scan cancelled"), qPrintable(errText));

        if (!hangingTool.isEmpty()) {
            QFile pidFile(pids);
            QVERIFY(pidFile.open(QIODevice::ReadOnly));
            for (const QByteArray &pid : pidFile.readAll().trimmed().split('\n'))
                QVERIFY2(::kill(pid_t(pid.trimmed().toInt()), 0) != 0, "a tool outlived the scan");
            return;
        }
        QVERIFY(QFile::remove(huge[0]) && QFile::remove(huge[1]));
        const Run again = cli({"scan", "--engine", engine, "--no-acoustic", "-v", lib});
        QVERIFY2(again.err.contains("Reused 4 cached analysis results."), qPrintable(again.err));
    }
};

QTEST_GUILESS_MAIN(TestRavelwickCli)
#include "tst_ravelwickcli.moc"

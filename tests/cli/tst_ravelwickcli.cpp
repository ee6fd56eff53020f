#include "cli/ConsoleProgress.h"
#include "support/AudioFixtures.h"

#include <QtTest>

#include <csignal>

using namespace rvwtest;

namespace {

struct Run
{
    int code = -1;
    QString out, err;
};

// Every file below `root` (hidden ones too) with its content hash, by relative path.
QMap<QString, QByteArray> contents(const QString &root)
{
    QMap<QString, QByteArray> map;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        map.insert(QDir(root).relativeFilePath(f.fileName()),
                   f.open(QIODevice::ReadOnly)
                       ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256)
                       : "unreadable");
    }
    return map;
}

bool write(const QString &path, const QByteArray &data, QIODevice::OpenMode mode = QIODevice::WriteOnly)
{
    QFile f(path);
    return f.open(mode) && f.write(data) == data.size();
}

} // namespace

class TestRavelwickCli : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_tmp;
    QString m_lib, m_home, m_report;
    QJsonObject m_json; // the library's report, made once; clean-ups put the library back as it was

    QProcessEnvironment m_env = QProcessEnvironment::systemEnvironment();

    Run cli(const QStringList &args)
    {
        QProcess p;
        p.setProcessEnvironment(m_env);
        p.start(QStringLiteral(RVW_CLI_BINARY), args);
        const bool ended = p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit;
        return {ended ? p.exitCode() : -2, QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }
    // Undoes the newest clean-up, named as in the manifest folder.
    Run undoLast() { return cli({"undo", QFileInfo(cli({"undo"}).out.section('\t', 0, 0)).fileName()}); }

private slots:
    void initTestCase()
    {
        if (ffmpegPath().isEmpty())
            QSKIP("ffmpeg is not installed; the library cannot be generated");
        m_home = m_tmp.filePath("home");
        // All per-user folders in the test's folder, in a German session: the output stays English.
        for (const char *name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"})
            m_env.remove(name);
        m_env.insert("LANG", "de_DE.UTF-8");
        m_env.insert("HOME", m_home);
        for (const char *name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DOCUMENTS_DIR"})
            m_env.insert(name, m_home + '/' + name);
        m_lib = m_tmp.filePath("library");
        QVERIFY(QDir().mkpath(m_home) && QDir().mkpath(m_lib + "/studio") &&
                QDir().mkpath(m_lib + "/incoming"));
        QVERIFY(ffmpeg(melodyInput(5, 7) + QStringList{"-c:a", "libmp3lame", m_lib + "/studio/other.mp3"}));
        QVERIFY(ffmpeg(melodyInput(1, 7) + QStringList{"-c:a", "flac", m_lib + "/studio/song.flac"}));
        QVERIFY(copyFile(m_lib + "/studio/song.flac", m_lib + "/incoming/song.flac"));
        QVERIFY(ffmpeg({"-i", m_lib + "/studio/song.flac", "-c:a", "libmp3lame", "-b:a", "128k",
                        m_lib + "/incoming/song.mp3"}));
        m_report = m_tmp.filePath("library.json");
        const Run r = cli({"scan", "--engine", "builtin", "--report", m_report, m_lib});
        QFile f(m_report);
        QVERIFY2(r.code == 1 && f.open(QIODevice::ReadOnly), qPrintable(r.err));
        m_json = QJsonDocument::fromJson(f.readAll()).object();
    }

    void progressLine_data()
    {
        QTest::addColumn<QList<qint64>>("doneTotalElapsedFirst");
        QTest::addColumn<QString>("line");
        // clang-format off
        QTest::addRow("no total: a spinner") << QList<qint64>{42, 0, 0, 0} << "Scan / 42";
        QTest::addRow("too early for a rate") << QList<qint64>{11, 111, 499, 10} << "Scan 11/111";
        QTest::addRow("rate and time left") << QList<qint64>{11, 111, 500, 10} << "Scan 11/111  2.0/s  0:50 left";
        QTest::addRow("just under an hour") << QList<qint64>{1, 3600, 1000, 0} << "Scan 1/3600  1.0/s  59:59 left";
        QTest::addRow("an hour") << QList<qint64>{1, 3601, 1000, 0} << "Scan 1/3601  1.0/s  1:00:00 left";
        QTest::addRow("no gain") << QList<qint64>{10, 100, 9000, 10} << "Scan 10/100";
        // clang-format on
    }
    void progressLine()
    {
        QFETCH(QList<qint64>, doneTotalElapsedFirst);
        const QList<qint64> &v = doneTotalElapsedFirst;
        QTEST(rvw::ConsoleProgress::formatLine("Scan", int(v[0]), int(v[1]), v[2], int(v[3]), 1), "line");
    }

    // 2 for a usage or I/O error (a message, nothing on standard output), 0 for help, the version
    // and a scan without duplicates, 1 for a scan with some; a report in the format its suffix or
    // --format names. `@` is the test's folder.
    void commands_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QByteArray>("reportHead");
        // clang-format off
        const QString counts = "Duplicate groups: %1\n  Identical file: 0\n  Same audio, different tags: 0\n  Same recording: %1\n  Same song (metadata): 0\nRedundant copies: %2\nReclaimable: x\nTime: x\n";
        QTest::addRow("nothing") << QStringList{} << 2 << "" << QByteArray();
        QTest::addRow("bad option") << QStringList{"scan", "--threads", "99", "."} << 2 << "" << QByteArray();
        QTest::addRow("missing report") << QStringList{"quarantine", "/no/such/report.json"} << 2 << "" << QByteArray();
        QTest::addRow("missing manifest") << QStringList{"undo", "no-such.json"} << 2 << "" << QByteArray();
        QTest::addRow("help") << QStringList{"--help"} << 0 << "ravelwick-cli scan [options] FOLDER..." << QByteArray();
        QTest::addRow("version") << QStringList{"--version"} << 0 << "ravelwick-cli 1.0.0\n" << QByteArray();
        QTest::addRow("no duplicates") << QStringList{"scan", "--engine", "builtin", "@library/studio"} << 0 << "Files scanned: 2\n" + counts.arg(0).arg(0) << QByteArray();
        QTest::addRow("html, quiet") << QStringList{"scan", "--engine", "builtin", "-q", "--report", "@r.html", "@library"} << 1 << "Report: @r.html\nFiles scanned: 4\n" + counts.arg(1).arg(2) << QByteArray("<!DOCTYPE html>");
        QTest::addRow("m3u8 by option") << QStringList{"scan", "--engine", "builtin", "-q", "--report", "@p.txt", "--format", "m3u8", "@library"} << 1 << "Report: @p.txt\n" << QByteArray("#EXTM3U\n");
        // clang-format on
    }
    void commands()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, out);
        QFETCH(QByteArray, reportHead);
        const Run r = cli(args.replaceInStrings("@", m_tmp.path() + '/'));
        const QString got =
            QString(r.out).replace(QRegularExpression("(Reclaimable|Time): [^\n]*"), "\\1: x");
        QCOMPARE(r.code, code);
        QVERIFY2(code == 2 ? !r.err.isEmpty() : !args.contains("-q") || r.err.isEmpty(), qPrintable(r.err));
        QVERIFY2(code == 2 ? r.out.isEmpty() : got.contains(out.replace("@", m_tmp.path() + '/')),
                 qPrintable(got));
        QFile report(args.value(args.indexOf("--report") + 1));
        QVERIFY(reportHead.isEmpty() ||
                (report.open(QIODevice::ReadOnly) && report.readAll().startsWith(reportHead)));
    }

    // A report edited into an unsafe clean-up is refused; a file changed since the report is skipped.
    void refusesUnsafeRemovals_data()
    {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("err");
        QTest::addColumn<QString>("out");
        // clang-format off
        QTest::addRow("every copy marked for removal") << "all" << "every copy is marked for removal" << "Nothing to move.";
        QTest::addRow("two groups keep each other's removals") << "crossed" << "is also a copy to keep; it is not removed" << "Nothing to move.";
        QTest::addRow("a duplicate changed after the report") << "changed" << " changed since the report; skipped" << "Moved 1 file into";
        QTest::addRow("the quarantine folder cannot be made") << "root" << "Nothing was moved: cannot create the quarantine folder" << "Moved 0 files into";
        // clang-format on
    }
    void refusesUnsafeRemovals()
    {
        QFETCH(QString, edit);
        QFETCH(QString, err);
        QFETCH(QString, out);
        const QMap<QString, QByteArray> before = contents(m_lib);
        const QString report = m_tmp.filePath("edit.json");
        QJsonObject json = m_json, g = json["duplicateGroups"][0].toObject();
        QJsonArray files = g["files"].toArray();
        QString changed;
        for (QJsonValueRef file : files) {
            QJsonObject f = file.toObject();
            changed = changed.isEmpty() && !f["keep"].toBool() ? f["path"].toString() : changed;
            f["keep"] = edit == "crossed" && !f["keep"].toBool(); // "all": every copy to go
            file = f;
        }
        g["files"] = files;
        g["id"] = 2;
        // Either the only group, or a second one with the keep marks crossed.
        json["duplicateGroups"] = edit == "all"       ? QJsonArray{g}
                                  : edit == "crossed" ? json["duplicateGroups"].toArray() << g
                                                      : json["duplicateGroups"].toArray();
        QVERIFY(write(report, QJsonDocument(json).toJson()));
        QVERIFY(edit != "changed" || write(changed, "edited", QIODevice::Append));
        const QString qroot = edit == "root" ? report + "/q" : m_tmp.filePath("quarantine-" + edit);
        const Run r = cli({"quarantine", report, "--to", qroot});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains(edit == "changed" ? changed + err : err), qPrintable(r.err));
        QVERIFY2(r.out.contains(out), qPrintable(r.out));
        QFile f(changed); // a skipped file is put back for the other tests
        QVERIFY(edit == "changed"
                    ? undoLast().code == 0 && f.open(QIODevice::ReadWrite) && f.resize(f.size() - 6)
                    : !QDir(qroot).exists());
        QCOMPARE(contents(m_lib), before);
    }

    // A stop ends a scan in every phase, however long the file in hand would take, ends the outside
    // tools it started, and keeps every analysis finished before it. A clean-up (after a dry run that
    // moves nothing) run to its end, or killed or terminated part way through, then undone, first
    // while a file has taken a moved one's place, leaves every file of the library back, byte for
    // byte, and nothing else there.
    void stop_data()
    {
        QTest::addColumn<QString>("engine");      // none: a quarantine
        QTest::addColumn<QString>("hangingTool"); // environment variable pointed at a tool that hangs
        QTest::addColumn<int>("signal");          // 0: not stopped
        QTest::addColumn<QString>("phase");
        // clang-format off
        QTest::addRow("fpcalc hangs, interrupted") << "fpcalc" << "RVW_FPCALC" << int(SIGINT) << "Fingerprinting audio";
        QTest::addRow("ffmpeg hangs, terminated") << "builtin" << "RVW_FFMPEG" << int(SIGTERM) << "Fingerprinting audio";
        QTest::addRow("hashing a huge file, interrupted") << "builtin" << "" << int(SIGINT) << "Reading tags and hashing";
        QTest::addRow("quarantine to the end") << "" << "" << 0 << "";
        QTest::addRow("quarantine killed") << "" << "" << int(SIGKILL) << "";
        QTest::addRow("quarantine terminated") << "" << "" << int(SIGTERM) << "";
        // clang-format on
    }
    void stop()
    {
        QFETCH(QString, engine);
        QFETCH(QString, hangingTool);
        QFETCH(int, signal);
        QFETCH(QString, phase);
        const bool scan = !engine.isEmpty(), hashing = scan && hangingTool.isEmpty();
        // A quarantine works on tmpfs when that is another file system, so that every move is a
        // copy to the disk, synced and read back, which keeps the batch long enough to stop.
        QTemporaryDir shm(QStringLiteral("/dev/shm/rvw-cli-XXXXXX"));
        const bool otherFs =
            shm.isValid() && QStorageInfo(shm.path()).rootPath() != QStorageInfo(m_tmp.path()).rootPath();
        const QString lib = QStringLiteral("%1/stop-%2")
                                .arg(otherFs && !scan ? shm.path() : m_tmp.path(), QTest::currentDataTag());
        const QStringList files =
            scan ? QStringList{"studio/song.flac", "incoming/song.mp3", "studio/other.mp3"}
                 : QStringList(60, "studio/song.flac");
        QVERIFY(QDir().mkpath(lib));
        for (int i = 0; i < files.size(); ++i)
            QVERIFY(copyFile(m_lib + '/' + files[i],
                             QStringLiteral("%1/%2-%3").arg(lib).arg(i).arg(files[i].section('/', -1))));
        const QStringList huge{lib + "/zz-huge.wav", lib + "/zz-huge-too.wav"};
        const QString pids = lib + ".pids", fake = lib + ".hang", report = lib + ".json";
        QProcessEnvironment env = m_env;
        // Sparse: 64 GiB each that take no disk, and far longer to hash than the test waits; two
        // of one size, as only files with a partner are hashed.
        for (const QString &path : huge)
            QVERIFY(!hashing || (write(path, {}) && QFile::resize(path, qint64(64) << 30)));
        if (!hangingTool.isEmpty()) {
            QVERIFY(
                write(fake,
                      QStringLiteral("#!/bin/sh\necho $$ >> '%1'\nexec sleep 300\n").arg(pids).toUtf8()) &&
                QFile::setPermissions(fake, QFile::permissions(fake) | QFileDevice::ExeOwner));
            env.insert(hangingTool, fake);
        }
        QVERIFY(scan || cli({"scan", "--no-acoustic", "--no-cache", "--report", report, lib}).code == 1);
        const QMap<QString, QByteArray> before = scan ? QMap<QString, QByteArray>() : contents(lib);
        const Run dry = scan ? Run() : cli({"quarantine", report, "--to", lib + ".q", "--dry-run"});
        QVERIFY(scan || (dry.code == 0 && dry.out.count("would move ") == 59 && !QDir(lib + ".q").exists()));
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(RVW_CLI_BINARY),
                scan ? QStringList{"scan", "--engine", engine, "--threads", "2", lib}
                     : QStringList{"quarantine", report, "--to", lib + ".q"});
        QVERIFY(p.waitForStarted());
        QString errText;
        // The open manifest's journal, if any.
        const auto journal = [this] {
            QDirIterator it(m_home, {"*.journal"}, QDir::Files, QDirIterator::Subdirectories);
            return it.hasNext() ? it.next() : QString();
        };
        // Stopped once a few moves are journaled, the hanging tools started, or the small files are
        // done and a huge file is being read.
        const auto ready = [&] {
            errText += QString::fromUtf8(p.readAllStandardError());
            QFile f(journal());
            if (!scan)
                return !f.fileName().isEmpty() && f.open(QIODevice::ReadOnly) && f.readAll().count('\n') >= 3;
            if (!errText.contains(phase))
                return false;
            if (!hashing)
                return QFileInfo(pids).size() > 0;
            QDirIterator fds(QStringLiteral("/proc/%1/fd").arg(p.processId()), QDir::Files | QDir::System);
            while (fds.hasNext()) {
                QFile info(QString(fds.next()).replace("/fd/", "/fdinfo/"));
                if (fds.fileInfo().symLinkTarget().contains("zz-huge") && info.open(QIODevice::ReadOnly) &&
                    info.readLine().mid(4).trimmed().toLongLong() > (qint64(1) << 24))
                    return true;
            }
            return false;
        };
        QDeadlineTimer deadline(60000);
        while (signal && !ready() && !deadline.hasExpired() && !p.waitForFinished(5)) {
        }
        QVERIFY2(!signal || p.state() == QProcess::Running,
                 "ended, or never got there, before it could be stopped");
        if (signal)
            ::kill(pid_t(p.processId()), signal);
        const bool ended = p.waitForFinished(signal ? 30000 : 120000);
        if (!ended)
            p.kill();
        QVERIFY2(ended, "it did not stop");
        errText += QString::fromUtf8(p.readAllStandardError());
        QCOMPARE(p.exitStatus(), signal == SIGKILL ? QProcess::CrashExit : QProcess::NormalExit);
        // A terminated quarantine closes its manifest; a killed one is listed as interrupted.
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        QVERIFY2(signal == SIGKILL || (p.exitCode() == (signal ? 128 + signal : 0) && journal().isEmpty() &&
                                       errText.contains(!signal ? ""
                                                        : scan  ? "Scan cancelled"
                                                                : "Interrupted")),
                 qPrintable(errText));
        QVERIFY2(signal || (out.contains("Moved 59 files into") && out.contains("Undo manifest: ")),
                 qPrintable(out));
        if (hashing) {
            QVERIFY(QFile::remove(huge[0]) && QFile::remove(huge[1]));
            const Run again = cli({"scan", "--engine", engine, "--no-acoustic", "-v", lib});
            QVERIFY2(again.err.contains("Reused 3 cached analysis results."), qPrintable(again.err));
        } else if (scan) {
            QFile pidFile(pids);
            QVERIFY(pidFile.open(QIODevice::ReadOnly));
            for (const QByteArray &pid : pidFile.readAll().trimmed().split('\n'))
                QVERIFY2(::kill(pid_t(pid.trimmed().toInt()), 0) != 0, "a tool outlived the scan");
        } else {
            QStringList gone = before.keys();
            for (const QString &kept : contents(lib).keys())
                gone.removeOne(kept);
            QVERIFY2(signal ? !gone.isEmpty() && gone.size() < 59 : gone.size() == 59, qPrintable(out));
            const QString list = cli({"undo"}).out;
            QVERIFY2(list.count('\n') == 1 && list.contains("interrupted") == (signal == SIGKILL) &&
                         (signal || list.contains(" - 59 files")),
                     qPrintable(list));
            QVERIFY(write(lib + '/' + gone.first(), "new"));
            const Run blocked = undoLast();
            QVERIFY2(blocked.code == 1 &&
                         blocked.out.contains(QStringLiteral("%1; 1 failed.\nThe manifest is kept")
                                                  .arg(signal ? "" : "Restored 58 files")),
                     qPrintable(blocked.err + blocked.out));
            QVERIFY(QFile::remove(lib + '/' + gone.first()));
            const Run undone = undoLast();
            QVERIFY2(undone.code == 0, qPrintable(undone.err + undone.out));
            QCOMPARE(contents(lib), before);
            QVERIFY(cli({"undo"}).out.contains("No clean-up to undo."));
        }
    }
};

QTEST_GUILESS_MAIN(TestRavelwickCli)
#include "tst_ravelwickcli.moc"

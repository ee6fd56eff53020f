#include "cli/ConsoleProgress.h"
#include "support/AudioFixtures.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QtConcurrent>
#include <QtTest>

#include <csignal>

using namespace rvwtest;

namespace {

struct Run
{
    int code = -1;
    QString out, err;
};

QByteArray sha256(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly)
               ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex()
               : QByteArray();
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

// The summary with the parts that change from run to run blanked.
QString summary(QString out)
{
    return out.replace(QRegularExpression("(Reclaimable|Time): [^\n]*"), "\\1: x");
}

} // namespace

class TestRavelwickCli : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_tmp;
    QString m_lib, m_home, m_report;
    QJsonObject m_json; // the library's report, made once; clean-ups put the library back as it was

    QProcessEnvironment environment() const
    {
        // All per-user folders in the test's folder, in a German session: the output stays English.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"})
            env.remove(name);
        env.insert("LANG", "de_DE.UTF-8");
        env.insert("HOME", m_home);
        for (const char *name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DOCUMENTS_DIR"})
            env.insert(name, m_home + '/' + name);
        return env;
    }
    void launch(QProcess &p, const QStringList &args, const QProcessEnvironment &env)
    {
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(RVW_CLI_BINARY), args);
    }
    Run cli(const QStringList &args)
    {
        QProcess p;
        launch(p, args, environment());
        const bool ended = p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit;
        return {ended ? p.exitCode() : -2, QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }
    // Undoes the newest clean-up, named as in the manifest folder.
    Run undoLast() { return cli({"undo", QFileInfo(cli({"undo"}).out.section('\t', 0, 0)).fileName()}); }
    QStringList journals() const
    {
        QStringList found;
        QDirIterator it(m_home, {"*.journal"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            found << it.next();
        return found;
    }
    // A folder of `copies` copies of each of the library's `files`.
    QString copiesOf(const QString &folder, const QStringList &files, int copies)
    {
        QDir().mkpath(folder);
        for (int i = 0; i < copies * int(files.size()); ++i) {
            const QString &f = files[i % files.size()];
            if (!copyFile(m_lib + '/' + f,
                          QStringLiteral("%1/%2-%3").arg(folder).arg(i).arg(f.section('/', -1))))
                return {};
        }
        return folder;
    }

private slots:
    void initTestCase()
    {
        if (ffmpegPath().isEmpty())
            QSKIP("ffmpeg is not installed; the library cannot be generated");
        QVERIFY(m_tmp.isValid());
        m_home = m_tmp.path() + "/home";
        m_lib = m_tmp.path() + "/library";
        QVERIFY(QDir().mkpath(m_home) && QDir().mkpath(m_lib + "/studio") &&
                QDir().mkpath(m_lib + "/incoming"));
        const QString other = m_lib + "/studio/other.mp3";
        QFuture<bool> made = QtConcurrent::run([&] {
            return ffmpeg(melodyInput(5, 7) + QStringList{"-c:a", "libmp3lame", other});
        });
        QVERIFY(ffmpeg(melodyInput(1, 7) + QStringList{"-c:a", "flac", m_lib + "/studio/song.flac"}));
        QVERIFY(copyFile(m_lib + "/studio/song.flac", m_lib + "/incoming/song.flac"));
        QVERIFY(ffmpeg({"-i", m_lib + "/studio/song.flac", "-c:a", "libmp3lame", "-b:a", "128k",
                        m_lib + "/incoming/song.mp3"}));
        QVERIFY(made.result());
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
        QTest::addRow("no total: a spinner") << QList<qint64>{42, 0, 0, 0} << "Scan / 42";
        QTest::addRow("too early for a rate") << QList<qint64>{11, 111, 499, 10} << "Scan 11/111";
        QTest::addRow("rate and time left")
            << QList<qint64>{11, 111, 500, 10} << "Scan 11/111  2.0/s  0:50 left";
        QTest::addRow("just under an hour")
            << QList<qint64>{1, 3600, 1000, 0} << "Scan 1/3600  1.0/s  59:59 left";
        QTest::addRow("an hour") << QList<qint64>{1, 3601, 1000, 0} << "Scan 1/3601  1.0/s  1:00:00 left";
        QTest::addRow("no gain") << QList<qint64>{10, 100, 9000, 10} << "Scan 10/100";
    }
    void progressLine()
    {
        QFETCH(QList<qint64>, doneTotalElapsedFirst);
        QFETCH(QString, line);
        const QList<qint64> &v = doneTotalElapsedFirst;
        QCOMPARE(rvw::ConsoleProgress::formatLine("Scan", int(v[0]), int(v[1]), v[2], int(v[3]), 1), line);
    }

    // 2 for a usage or I/O error (a message, nothing on standard output), 0 for help, the
    // version and a scan without duplicates.
    void exitCodes_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("out");
        // clang-format off
        QTest::addRow("nothing") << QStringList{} << 2 << "";
        QTest::addRow("bad option") << QStringList{"scan", "--threads", "99", "."} << 2 << "";
        QTest::addRow("missing report") << QStringList{"quarantine", "/no/such/report.json"} << 2 << "";
        QTest::addRow("missing manifest") << QStringList{"undo", "no-such.json"} << 2 << "";
        QTest::addRow("help") << QStringList{"--help"} << 0 << "ravelwick-cli scan [options] FOLDER...";
        QTest::addRow("version") << QStringList{"--version"} << 0 << "ravelwick-cli 1.0.0\n";
        QTest::addRow("no duplicates") << QStringList{"scan", "--engine", "builtin", "@/studio"} << 0
            << "Files scanned: 2\nDuplicate groups: 0\n  Identical file: 0\n  Same audio, different tags: 0\n  Same recording: 0\n  Same song (metadata): 0\nRedundant copies: 0\nReclaimable: x\nTime: x\n";
        // clang-format on
    }
    void exitCodes()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, out);
        const Run r = cli(args.replaceInStrings("@", m_lib));
        QCOMPARE(r.code, code);
        if (code == 2)
            QVERIFY(!r.err.isEmpty());
        QVERIFY2(code == 2 ? r.out.isEmpty() : summary(r.out).contains(out), qPrintable(r.out));
    }

    void reports_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<QByteArray>("head");
        QTest::addRow("html") << "r.html" << QStringList{} << QByteArray("<!DOCTYPE html>");
        QTest::addRow("m3u8 by option")
            << "playlist.txt" << QStringList{"--format", "m3u8"} << QByteArray("#EXTM3U\n");
    }
    void reports()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, extra);
        QFETCH(QByteArray, head);
        const QString path = m_tmp.filePath(file);
        const Run r = cli(QStringList{"scan", "--engine", "builtin", "-q", "--report", path} + extra +
                          QStringList{m_lib});
        QCOMPARE(r.code, 1);
        QCOMPARE(r.err, QString()); // quiet
        QCOMPARE(summary(r.out), "Report: " + path +
                                     "\nFiles scanned: 4\nDuplicate groups: 1\n  Identical file: 0\n  Same "
                                     "audio, different tags: 0\n  Same recording: 1\n  Same song (metadata): "
                                     "0\nRedundant copies: 2\nReclaimable: x\nTime: x\n");
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly) && f.readAll().startsWith(head));
    }

    // Dry run, clean-up, an undo blocked by a file that took one's place, and the undo again:
    // every file of the library is back, byte for byte, and nothing else is there.
    void quarantineThenUndo()
    {
        const QMap<QString, QByteArray> before = contents(m_lib);
        const QString qroot = m_tmp.filePath("quarantine");
        const Run dry = cli({"quarantine", m_report, "--to", qroot, "--dry-run"});
        QVERIFY(dry.code == 0 && dry.out.count("would move ") == 2 && !QDir(qroot).exists());
        const Run moved = cli({"quarantine", m_report, "--to", qroot});
        QVERIFY2(moved.code == 0 && moved.out.contains("Moved 2 files into") &&
                     moved.out.contains("Undo manifest: "),
                 qPrintable(moved.err + moved.out));
        QStringList gone = before.keys();
        for (const QString &kept : contents(m_lib).keys())
            gone.removeOne(kept);
        QCOMPARE(gone.size(), 2);
        QVERIFY2(cli({"undo"}).out.contains(" - 2 files"), "listed with its count");
        QFile blocker(m_lib + '/' + gone.first());
        QVERIFY(blocker.open(QIODevice::WriteOnly) && blocker.write("new") == 3);
        blocker.close();
        const Run blocked = undoLast();
        QVERIFY2(blocked.code == 1 &&
                     blocked.out.contains("Restored 1 file; 1 failed.\nThe manifest is kept"),
                 qPrintable(blocked.err + blocked.out));
        QVERIFY(blocker.remove());
        const Run undone = undoLast();
        QVERIFY2(undone.code == 0, qPrintable(undone.err + undone.out));
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
        QJsonObject json = m_json;
        QJsonArray groups = json.value("duplicateGroups").toArray();
        QJsonObject g = groups[0].toObject();
        QJsonArray files = g.value("files").toArray();
        QString changed;
        for (int i = 0; i < files.size(); ++i) {
            QJsonObject f = files[i].toObject();
            if (changed.isEmpty() && !f.value("keep").toBool())
                changed = f.value("path").toString();
            if (edit == "all" || edit == "crossed")
                f.insert("keep", edit == "crossed" && !f.value("keep").toBool());
            files[i] = f;
        }
        g.insert("files", files);
        g.insert("id", 2);
        if (edit == "all")
            groups[0] = g;
        else if (edit == "crossed")
            groups.append(g);
        json.insert("duplicateGroups", groups);
        QFile rf(report);
        QVERIFY(rf.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                rf.write(QJsonDocument(json).toJson()) > 0);
        rf.close();
        QFile f(changed);
        if (edit == "changed")
            QVERIFY(f.open(QIODevice::Append) && f.write("edited") == 6);
        f.close();
        const QString qroot = edit == "root" ? report + "/q" : m_tmp.filePath("quarantine-" + edit);
        const Run r = cli({"quarantine", report, "--to", qroot});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains(edit == "changed" ? changed + err : err), qPrintable(r.err));
        QVERIFY2(r.out.contains(out), qPrintable(r.out));
        if (edit == "changed") { // put the library back for the other tests
            QCOMPARE(undoLast().code, 0);
            QVERIFY(f.open(QIODevice::ReadWrite) && f.resize(f.size() - 6));
        } else {
            QVERIFY(!QDir(qroot).exists());
        }
        f.close();
        QCOMPARE(contents(m_lib), before);
    }

    // Killed or terminated part way through a quarantine, and then undone: every file of the
    // library is back, byte for byte, and nothing else is there.
    void stopDuringQuarantineLosesNothing_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addRow("killed") << int(SIGKILL);
        QTest::addRow("terminated") << int(SIGTERM);
    }
    void stopDuringQuarantineLosesNothing()
    {
        QFETCH(int, signal);
        // On tmpfs when that is another file system, so that every move is a copy to the disk,
        // synced and read back, which keeps the batch long enough to stop.
        QTemporaryDir shm(QStringLiteral("/dev/shm/rvw-cli-XXXXXX"));
        const bool otherFs =
            shm.isValid() && QStorageInfo(shm.path()).rootPath() != QStorageInfo(m_tmp.path()).rootPath();
        const QString lib =
            copiesOf(QStringLiteral("%1/copies-%2").arg(otherFs ? shm.path() : m_tmp.path()).arg(signal),
                     {"studio/song.flac"}, 60);
        const QString report = lib + ".json";
        QVERIFY(!lib.isEmpty() &&
                cli({"scan", "--no-acoustic", "--no-cache", "--report", report, lib}).code == 1);
        const QMap<QString, QByteArray> before = contents(lib);
        QProcess p;
        launch(p, {"quarantine", report, "--to", m_tmp.filePath(QStringLiteral("q-%1").arg(signal))},
               environment());
        QVERIFY(p.waitForStarted());
        // Stopped once a few moves are journaled.
        const auto journaled = [this] {
            QFile journal(journals().value(0));
            return journal.open(QIODevice::ReadOnly) ? journal.readAll().count('\n') : 0;
        };
        QDeadlineTimer deadline(60000);
        while (journaled() < 3 && !deadline.hasExpired() && !p.waitForFinished(5)) {
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
        const qsizetype during = contents(lib).size();
        QVERIFY2(during < before.size() && during > 1, qPrintable(QString::number(during)));
        const Run list = cli({"undo"});
        QCOMPARE(list.out.count('\n'), 1);
        QCOMPARE(list.out.contains("interrupted"), signal == SIGKILL);
        const Run undone = undoLast();
        QVERIFY2(undone.code == 0, qPrintable(undone.err + undone.out));
        QCOMPARE(contents(lib), before);
        QVERIFY(cli({"undo"}).out.contains("No clean-up to undo."));
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
        QTest::addRow("fpcalc hangs, interrupted") << "Fingerprinting audio" << "fpcalc" << "RVW_FPCALC" << int(SIGINT);
        QTest::addRow("ffmpeg hangs, terminated") << "Fingerprinting audio" << "builtin" << "RVW_FFMPEG" << int(SIGTERM);
        QTest::addRow("hashing a huge file, interrupted") << "Reading tags and hashing" << "builtin" << "" << int(SIGINT);
        // clang-format on
    }
    void stopEndsTheScanInEveryPhase()
    {
        QFETCH(QString, phase);
        QFETCH(QString, engine);
        QFETCH(QString, hangingTool);
        QFETCH(int, signal);
        const QString lib = copiesOf(m_tmp.filePath(QStringLiteral("stop-%1").arg(QTest::currentDataTag())),
                                     {"studio/song.flac", "incoming/song.mp3", "studio/other.mp3"}, 1);
        const QStringList huge{lib + "/zz-huge.wav", lib + "/zz-huge-too.wav"};
        const QString pids = m_tmp.filePath(QStringLiteral("pids-%1").arg(signal));
        QProcessEnvironment env = environment();
        if (hangingTool.isEmpty()) {
            // Sparse: 64 GiB each that take no disk, and far longer to hash than the test waits;
            // two of one size, as only files with a partner are hashed.
            for (const QString &path : huge) {
                QFile f(path);
                QVERIFY(f.open(QIODevice::WriteOnly) && f.resize(qint64(64) << 30));
            }
        } else {
            const QString fake = m_tmp.filePath("hang-" + hangingTool);
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
        QTRY_VERIFY_WITH_TIMEOUT((errText += QString::fromUtf8(p.readAllStandardError())).contains(phase),
                                 60000);
        // The hanging tools started, or the small files are done and a huge file is being read.
        const auto hashingHuge = [&p] {
            QDirIterator fds(QStringLiteral("/proc/%1/fd").arg(p.processId()), QDir::Files | QDir::System);
            while (fds.hasNext()) {
                const QString fd = fds.next();
                QFile info(QString(fd).replace("/fd/", "/fdinfo/"));
                if (fds.fileInfo().symLinkTarget().contains("zz-huge") && info.open(QIODevice::ReadOnly) &&
                    info.readLine().mid(4).trimmed().toLongLong() > (qint64(1) << 24))
                    return true;
            }
            return false;
        };
        if (hangingTool.isEmpty())
            QTRY_VERIFY_WITH_TIMEOUT(hashingHuge(), 60000);
        else
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(pids).size() > 0, 60000);
        ::kill(pid_t(p.processId()), signal);
        const bool ended = p.waitForFinished(20000);
        if (!ended)
            p.kill();
        QVERIFY2(ended, "the scan did not stop");
        errText += QString::fromUtf8(p.readAllStandardError());
        QCOMPARE(p.exitCode(), 128 + signal);
        QVERIFY2(errText.contains("Scan cancelled"), qPrintable(errText));
        if (hangingTool.isEmpty()) {
            QVERIFY(QFile::remove(huge[0]) && QFile::remove(huge[1]));
            const Run again = cli({"scan", "--engine", engine, "--no-acoustic", "-v", lib});
            QVERIFY2(again.err.contains("Reused 3 cached analysis results."), qPrintable(again.err));
            return;
        }
        QFile pidFile(pids);
        QVERIFY(pidFile.open(QIODevice::ReadOnly));
        for (const QByteArray &pid : pidFile.readAll().trimmed().split('\n'))
            QVERIFY2(::kill(pid_t(pid.trimmed().toInt()), 0) != 0, "a tool outlived the scan");
    }
};

QTEST_GUILESS_MAIN(TestRavelwickCli)
#include "tst_ravelwickcli.moc"

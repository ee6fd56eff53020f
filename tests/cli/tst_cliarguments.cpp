#include "cli/CliArguments.h"
#include "cli/ConsoleProgress.h"
#include "report/ReportWriter.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace rvw;

class TestCliArguments : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;

private slots:
    void defaultsMatchTheWindow()
    {
        const CliCommand c = CliArguments::parse({"scan", m_dir.path()});
        QCOMPARE(c.kind, CliCommand::Scan);
        const ScanOptions d;
        QCOMPARE(c.options.folders, QStringList({QFileInfo(m_dir.path()).absoluteFilePath()}));
        QCOMPARE(c.options.extensions, d.extensions);
        QCOMPARE(c.options.excludes, d.excludes);
        QCOMPARE(c.options.minBytes, d.minBytes);
        QCOMPARE(c.options.minDurationMs, d.minDurationMs);
        QCOMPARE(c.options.threshold, d.threshold);
        QCOMPARE(c.options.engine, 1);
        QCOMPARE(c.options.detectMetadata, false);
        QCOMPARE(c.options.useCache, true);
        QCOMPARE(c.reportFormat, -1);
    }

    void scanOptions()
    {
        const CliCommand c = CliArguments::parse(
            {"scan", "--no-identical", "--metadata", "--engine", "BUILTIN", "--threshold", "0.40",
             "--duration-tolerance", "25", "--metadata-tolerance", "7", "--keeper", "most-complete-tags",
             "--extensions", " MP3, .flac ,,wav", "--exclude", "*/skip/*", "--exclude", "*/also/*", "--min-size",
             "0", "--min-duration", "600", "--hidden", "--follow-symlinks", "--threads", "16", "--seconds", "20",
             "--no-cache", "--report", "out.HTML", "-v", m_dir.path(), m_dir.path()});
        QVERIFY2(c.kind == CliCommand::Scan, qPrintable(c.error));
        const ScanOptions &o = c.options;
        QCOMPARE(o.folders.size(), 1); // a folder named twice is scanned once
        QVERIFY(!o.detectIdentical);
        QVERIFY(o.detectSameAudio && o.detectAcoustic && o.detectMetadata);
        QCOMPARE(o.engine, 0);
        QCOMPARE(o.threshold, 0.40);
        QCOMPARE(o.durationTolerance, 25);
        QCOMPARE(o.metadataTolerance, 7000);
        QCOMPARE(o.keeperPolicy, int(MostCompleteTags));
        QCOMPARE(o.extensions, QStringList({"mp3", "flac", "wav"}));
        QCOMPARE(o.excludes, QStringList({"*/skip/*", "*/also/*"}));
        QCOMPARE(o.minBytes, qint64(0));
        QCOMPARE(o.minDurationMs, qint64(600000));
        QVERIFY(o.includeHidden && o.followSymlinks);
        QCOMPARE(o.decoderThreads, 16);
        QCOMPARE(o.fingerprintSeconds, 20);
        QVERIFY(!o.useCache);
        QCOMPARE(c.reportFormat, int(ReportWriter::Html));
        QVERIFY(c.verbose);
    }

    void errors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("fragment");
        QTest::newRow("no command") << QStringList{} << "no command";
        QTest::newRow("unknown command") << QStringList{"sweep"} << "unknown command";
        QTest::newRow("no folder") << QStringList{"scan"} << "FOLDER";
        QTest::newRow("missing folder") << QStringList{"scan", "/no/such/folder"} << "not a folder";
        QTest::newRow("unknown option") << QStringList{"scan", "--fast", "."} << "fast";
        QTest::newRow("threshold low") << QStringList{"scan", "--threshold", "0.01", "."} << "--threshold";
        QTest::newRow("threshold text") << QStringList{"scan", "--threshold", "high", "."} << "--threshold";
        QTest::newRow("tolerance 0") << QStringList{"scan", "--duration-tolerance", "0", "."} << "1 to 25";
        QTest::newRow("metadata 31") << QStringList{"scan", "--metadata-tolerance", "31", "."} << "0 to 30";
        QTest::newRow("threads 17") << QStringList{"scan", "--threads", "17", "."} << "1 to 16";
        QTest::newRow("seconds 19") << QStringList{"scan", "--seconds", "19", "."} << "20 to 600";
        QTest::newRow("min size") << QStringList{"scan", "--min-size", "-1", "."} << "0 to 1048576";
        QTest::newRow("min duration") << QStringList{"scan", "--min-duration", "601", "."} << "0 to 600";
        QTest::newRow("engine") << QStringList{"scan", "--engine", "magic", "."} << "builtin or fpcalc";
        QTest::newRow("keeper") << QStringList{"scan", "--keeper", "best", "."} << "--keeper";
        QTest::newRow("report suffix") << QStringList{"scan", "--report", "out.txt", "."} << "--format";
        QTest::newRow("format") << QStringList{"scan", "--report", "x", "--format", "xml", "."} << "csv, html";
        QTest::newRow("format alone") << QStringList{"scan", "--format", "csv", "."} << "--report";
        QTest::newRow("nothing to detect")
            << QStringList{"scan", "--no-identical", "--no-same-audio", "--no-acoustic", "."} << "detection";
        QTest::newRow("quiet verbose") << QStringList{"scan", "-q", "-v", "."} << "exclude";
        QTest::newRow("extensions empty") << QStringList{"scan", "--extensions", " , ", "."} << "extension";
        QTest::newRow("quarantine arity") << QStringList{"quarantine"} << "REPORT.json";
        QTest::newRow("undo arity") << QStringList{"undo", "a", "b"} << "at most one";
    }
    void errors()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, fragment);
        const CliCommand c = CliArguments::parse(args);
        QCOMPARE(c.kind, CliCommand::Invalid);
        QVERIFY2(c.error.contains(fragment), qPrintable(c.error));
    }

    void keeperNames()
    {
        for (int p = 0; p < 8; ++p)
            QCOMPARE(CliArguments::keeperPolicyFromName(CliArguments::keeperPolicyName(p)), p);
        QCOMPARE(CliArguments::keeperPolicyName(PreferredFormat), QStringLiteral("preferred-format"));
        QCOMPARE(CliArguments::keeperPolicyFromName("Highest-Bitrate"), 0);
        QCOMPARE(CliArguments::keeperPolicyFromName("highest bitrate"), -1);
    }

    void otherCommands()
    {
        const CliCommand q = CliArguments::parse({"quarantine", "r.json", "--to", "/tmp/q", "--dry-run"});
        QCOMPARE(q.kind, CliCommand::Quarantine);
        QCOMPARE(q.reportFile, QStringLiteral("r.json"));
        QCOMPARE(q.quarantineRoot, QStringLiteral("/tmp/q"));
        QVERIFY(q.dryRun);
        QCOMPARE(CliArguments::parse({"undo"}).kind, CliCommand::Undo);
        QCOMPARE(CliArguments::parse({"undo", "m.json"}).manifest, QStringLiteral("m.json"));
        QCOMPARE(CliArguments::parse({"--help"}).kind, CliCommand::Help);
        QCOMPARE(CliArguments::parse({"scan", "--help"}).kind, CliCommand::Help);
        QCOMPARE(CliArguments::parse({"--version"}).kind, CliCommand::Version);
        QVERIFY(CliArguments::usage().contains("--duration-tolerance"));
    }

    void progressLine_data()
    {
        QTest::addColumn<int>("done");
        QTest::addColumn<int>("total");
        QTest::addColumn<qint64>("elapsed");
        QTest::addColumn<int>("first");
        QTest::addColumn<QString>("line");
        QTest::newRow("busy") << 42 << 0 << qint64(0) << 0 << "Scanning folders / 42";
        QTest::newRow("too early for a rate") << 5 << 100 << qint64(100) << 0 << "Scanning folders 5/100";
        QTest::newRow("rate and time left") << 30 << 130 << qint64(10000) << 10
                                            << "Scanning folders 30/130  2.0/s  0:50 left";
        QTest::newRow("hours left") << 1 << 10001 << qint64(1000) << 0
                                    << "Scanning folders 1/10001  1.0/s  2:46:40 left";
        QTest::newRow("no gain") << 10 << 100 << qint64(9000) << 10 << "Scanning folders 10/100";
    }
    void progressLine()
    {
        QFETCH(int, done);
        QFETCH(int, total);
        QFETCH(qint64, elapsed);
        QFETCH(int, first);
        QFETCH(QString, line);
        QCOMPARE(ConsoleProgress::formatLine("Scanning folders", done, total, elapsed, first, 1), line);
    }
};

QTEST_GUILESS_MAIN(TestCliArguments)
#include "tst_cliarguments.moc"

#include "cli/CliArguments.h"

#include <QtTest>

using namespace rvw;

namespace {

// One line per command: everything a parse decided, so a row compares the whole result.
QString dump(const CliCommand &c)
{
    const ScanOptions &o = c.options;
    const auto on = [](bool b, const char *name) { return b ? QString::fromLatin1(name) : QString(); };
    const auto n = [](auto v) { return QString::number(v); };
    if (c.kind != CliCommand::Scan)
        return c.kind == CliCommand::Invalid ? "error: " + c.error
               : c.kind == CliCommand::Undo  ? "undo " + c.manifest
               : c.kind == CliCommand::Quarantine
                   ? QStringLiteral("quarantine %1 to '%2'%3")
                         .arg(c.reportFile, c.quarantineRoot, on(c.dryRun, " dry"))
                   : on(c.kind == CliCommand::Help, "help") + on(c.kind == CliCommand::Version, "version");
    return QStringLiteral("scan %1 %2 e%3 t%4 d%5 m%6 k%7 [%8] [%9] b%10 s%11 j%12 f%13 %14 r%15")
        .arg(n(o.folders.size()),
             on(o.detectIdentical, "I") + on(o.detectSameAudio, "S") + on(o.detectAcoustic, "A") +
                 on(o.detectMetadata, "M"),
             n(o.engine), n(o.threshold), n(o.durationTolerance), n(o.metadataTolerance), n(o.keeperPolicy),
             o.extensions.join(','), o.excludes.join(','), n(o.minBytes), n(o.minDurationMs),
             n(o.decoderThreads), n(o.fingerprintSeconds),
             on(o.includeHidden, "hidden ") + on(o.followSymlinks, "links ") + on(o.useCache, "cache ") +
                 on(c.quiet, "quiet ") + on(c.verbose, "verbose "),
             n(c.reportFormat));
}

} // namespace

class TestCliArguments : public QObject
{
    Q_OBJECT
private slots:
    void parse_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("expected"); // the whole dump, or a part of an error
        // The command line starts from the window's defaults, except for the fingerprint engine and
        // the metadata tier.
        CliCommand defaults;
        defaults.kind = CliCommand::Scan;
        defaults.options.folders = {"."};
        // clang-format off
        const auto scan = [](const QStringList &options) { return QStringList{"scan"} + options + QStringList{"."}; };
        QTest::addRow("defaults") << scan({}) << dump(defaults);
        QTest::addRow("every option at its upper limit") << QStringList{"scan", "--no-identical", "--metadata", "--engine", "BUILTIN", "--threshold", "0.40", "--duration-tolerance", "25", "--metadata-tolerance", "30", "--keeper", "most-complete-tags", "--extensions", " MP3, .flac ,,wav", "--exclude", "*/skip/*", "--exclude", "*/also/*", "--min-size", "1048576", "--min-duration", "600", "--hidden", "--follow-symlinks", "--threads", "16", "--seconds", "600", "--no-cache", "--report", "out.HTML", "-v", ".", "."} << "scan 1 SAM e0 t0.4 d25 m30000 k7 [mp3,flac,wav] [*/skip/*,*/also/*] b1073741824 s600000 j16 f600 hidden links verbose  r1";
        QTest::addRow("lower limits") << scan({"--no-same-audio", "--no-acoustic", "--engine", "fpcalc", "--threshold", "0.02", "--duration-tolerance", "1", "--metadata-tolerance", "0", "--min-size", "0", "--min-duration", "0", "--threads", "1", "--seconds", "20", "-q", "--report", "x.csv", "--extensions", "ogg", "--exclude", "x"}) << "scan 1 I e1 t0.02 d1 m0 k0 [ogg] [x] b0 s0 j1 f20 cache quiet  r0";
        QTest::addRow("htm suffix") << scan({"--report", "x.htm"}) << " r1";
        QTest::addRow("m3u suffix") << scan({"--report", "x.m3u"}) << " r3";
        QTest::addRow("format option over the suffix") << scan({"--report", "x.txt", "--format", "JSON"}) << " r2";
        QTest::addRow("help") << QStringList{"--help"} << "=help";
        QTest::addRow("-h") << QStringList{"-h"} << "=help";
        QTest::addRow("help word") << QStringList{"help"} << "=help";
        QTest::addRow("help after a command") << QStringList{"scan", "--help"} << "=help";
        QTest::addRow("version") << QStringList{"--version"} << "=version";
        QTest::addRow("-V") << QStringList{"-V"} << "=version";
        QTest::addRow("quarantine") << QStringList{"quarantine", "r.json", "--to", "/tmp/q", "--dry-run"} << "quarantine r.json to '/tmp/q' dry";
        QTest::addRow("quarantine to the default") << QStringList{"quarantine", "r.json"} << "quarantine r.json to ''";
        QTest::addRow("undo list") << QStringList{"undo"} << "undo ";
        QTest::addRow("undo one") << QStringList{"undo", "m.json"} << "undo m.json";
        QTest::addRow("no command") << QStringList{} << "error: no command";
        QTest::addRow("unknown command") << QStringList{"sweep"} << "error: unknown command";
        QTest::addRow("no folder") << QStringList{"scan"} << "error: scan needs at least one FOLDER";
        QTest::addRow("missing folder") << QStringList{"scan", "/no/such/folder"} << "is not a folder";
        QTest::addRow("unknown option") << scan({"--fast"}) << "fast";
        QTest::addRow("threshold low") << scan({"--threshold", "0.01"}) << "--threshold must be";
        QTest::addRow("threshold text") << scan({"--threshold", "high"}) << "--threshold must be";
        QTest::addRow("tolerance 0") << scan({"--duration-tolerance", "0"}) << "1 to 25";
        QTest::addRow("metadata 31") << scan({"--metadata-tolerance", "31"}) << "0 to 30";
        QTest::addRow("threads 17") << scan({"--threads", "17"}) << "1 to 16";
        QTest::addRow("seconds 19") << scan({"--seconds", "19"}) << "20 to 600";
        QTest::addRow("min size -1") << scan({"--min-size", "-1"}) << "0 to 1048576";
        QTest::addRow("min duration 601") << scan({"--min-duration", "601"}) << "0 to 600";
        QTest::addRow("engine") << scan({"--engine", "magic"}) << "builtin or fpcalc";
        QTest::addRow("keeper") << scan({"--keeper", "best"}) << "unknown --keeper";
        QTest::addRow("report suffix") << scan({"--report", "out.txt"}) << "add --format";
        QTest::addRow("format") << scan({"--report", "x", "--format", "xml"}) << "--format must be";
        QTest::addRow("format alone") << scan({"--format", "csv"}) << "--format needs --report";
        QTest::addRow("nothing to detect") << scan({"--no-identical", "--no-same-audio", "--no-acoustic"}) << "every detection method";
        QTest::addRow("quiet verbose") << scan({"-q", "-v"}) << "exclude each other";
        QTest::addRow("extensions empty") << scan({"--extensions", " , "}) << "lists no extension";
        QTest::addRow("quarantine arity") << QStringList{"quarantine"} << "exactly one REPORT.json";
        QTest::addRow("quarantine to nowhere") << QStringList{"quarantine", "r.json", "--to", " "} << "--to needs a folder";
        QTest::addRow("undo arity") << QStringList{"undo", "a", "b"} << "at most one";
        // clang-format on
    }
    void parse()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, expected);
        const QString got = dump(CliArguments::parse(args));
        // "=" first: the whole description, else a part of it.
        QVERIFY2(expected.startsWith('=') ? got == expected.mid(1) : got.contains(expected), qPrintable(got));
    }

    // Every policy is known by its own name (an unknown one is a parse row), in any case.
    void keeperNamesAndUsage()
    {
        for (int p = 0; p < 8; ++p)
            QCOMPARE(CliArguments::keeperPolicyFromName(CliArguments::keeperPolicyName(p).toUpper()), p);
        QVERIFY(CliArguments::usage().contains("--duration-tolerance"));
    }
};

QTEST_GUILESS_MAIN(TestCliArguments)
#include "tst_cliarguments.moc"

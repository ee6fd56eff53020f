#include "scan/ScanController.h"

#include "app/Platform.h"
#include "app/Translations.h"
#include "scan/CacheDatabase.h"
#include "support/AudioFixtures.h"

#include <QtConcurrent>
#include <QtTest>

using namespace rvw;
using namespace rvwtest;

namespace {

struct Outcome
{
    QList<TrackInfo> tracks;
    QList<MatchGroup> groups;
    bool cancelled = false;
    QStringList phases, log;
    int finishedCount = 0;
    TrackInfo operator[](const QString &name) const
    {
        const auto it =
            std::find_if(tracks.begin(), tracks.end(), [&](auto &t) { return t.fileName == name; });
        return it == tracks.end() ? TrackInfo() : *it;
    }
    int logged(const QString &pattern) const { return int(log.filter(QRegularExpression(pattern)).size()); }
    // One line per group: tier, keeper, then every member by name.
    QString groupText() const
    {
        QStringList lines;
        for (const MatchGroup &g : groups) {
            QStringList names;
            for (int m : g.members)
                names << tracks[m].fileName;
            names.sort();
            lines << QStringLiteral("%1 %2: %3").arg(g.tier).arg(tracks[g.keeper].fileName, names.join(", "));
        }
        return lines.join('\n');
    }
};

// The controller on its own thread, as the window runs it; the signals are caught on that thread.
struct ScanRig
{
    QThread thread;
    ScanController *controller = new ScanController;
    ScanRig()
    {
        controller->moveToThread(&thread);
        QObject::connect(&thread, &QThread::finished, controller, &QObject::deleteLater);
        thread.start();
    }
    ~ScanRig()
    {
        thread.quit();
        thread.wait();
    }
    // One scan; `onPhase` runs on the scan's thread as each phase begins.
    Outcome scan(
        const ScanOptions &o, const std::function<void(const QString &)> &onPhase = [](auto &) {})
    {
        Outcome out;
        QObject ctx; // the connections capture `out` and must not outlive it
        const auto direct = Qt::DirectConnection;
        QObject::connect(
            controller, &ScanController::phaseChanged, &ctx,
            [&](auto &p) { onPhase(out.phases.emplace_back(p)); }, direct);
        QObject::connect(
            controller, &ScanController::logMessage, &ctx, [&](auto &m) { out.log << m; }, direct);
        QObject::connect(
            controller, &ScanController::finished, &ctx,
            [&](auto &tracks, auto &groups, bool cancelled) {
                ++out.finishedCount;
                std::tie(out.tracks, out.groups, out.cancelled) = std::tie(tracks, groups, cancelled);
            },
            direct);
        QMetaObject::invokeMethod(
            controller, [&] { controller->start(o); }, Qt::BlockingQueuedConnection);
        return out;
    }
};

void resetCache()
{
    const QDir folder = QFileInfo(CacheDatabase::defaultPath()).absoluteDir();
    for (const QString &name : folder.entryList({"analysis-cache.sqlite*"}))
        QFile::remove(folder.filePath(name));
}

} // namespace

class TestScanController : public QObject
{
    Q_OBJECT
    QTemporaryDir m_lib;
    QString m_root;

    ScanOptions options(int engine = 0, bool cache = false) const
    {
        ScanOptions o;
        o.folders = {m_root};
        o.engine = engine;
        o.useCache = cache;
        o.minBytes = 1024;
        o.fingerprintSeconds = 10; // shorter than the songs: lengths must come from the whole stream
        o.durationTolerance = 25;  // the short songs' lead-in and cut are larger shares than in real ones
        o.decoderThreads = 2;
        return o;
    }

private slots:
    void initTestCase()
    {
        Platform::applyDecoderRanking();
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName("KestrilonTest");
        QCoreApplication::setApplicationName("RavelwickScanTest");
        Translations::install(QLocale(QLocale::English, QLocale::UnitedKingdom));
        ScanController::registerMetaTypes();
        if (ffmpegPath().isEmpty())
            QSKIP("ffmpeg is not installed; the library cannot be generated");
        m_root = QFileInfo(m_lib.path()).canonicalFilePath();
        QVERIFY(QDir(m_root).mkpath("a") && QDir(m_root).mkpath("b/deeper"));
        const QString orig = m_root + "/a/song.flac", mp3 = m_root + "/b/song.mp3";
        // In stages, each stage's files made side by side from those of the stage before.
        const QList<QList<QStringList>> stages{
            {melodyInput(1, 12) + QStringList{"-ac", "2", "-c:a", "flac", "-metadata", "artist=Band", orig},
             melodyInput(4, 8) + QStringList{"-c:a", "libmp3lame", "-b:a", "160k", m_root + "/a/other.mp3"},
             melodyInput(2, 3) + QStringList{"-c:a", "libmp3lame", m_root + "/a/ident.mp3"}},
            {{"-i", orig, "-c:a", "libmp3lame", "-b:a", "192k", mp3},
             {"-i", orig, "-af", "adelay=1500|1500", "-c:a", "libmp3lame", "-b:a", "128k",
              m_root + "/b/song leadin.mp3"},
             {"-ss", "0.8", "-i", orig, "-c:a", "aac", "-b:a", "128k", m_root + "/a/song cut.m4a"},
             {"-i", orig, "-c:a", "wmav2", "-b:a", "128k", m_root + "/a/song.wma"}}, // no length in its tags
            {{"-i", mp3, "-c", "copy", "-map_metadata", "-1", "-metadata", "title=Promo", "-id3v2_version",
              "4", m_root + "/b/deeper/song retag.mp3"}}};
        for (const QList<QStringList> &stage : stages)
            QVERIFY(!QtConcurrent::blockingMapped(stage, [](const QStringList &step) {
                         return ffmpeg(step);
                     }).contains(false));
        QVERIFY(copyFile(orig, m_root + "/b/song copy.flac"));
        QByteArray junk(40000, '\0');
        for (int i = 0; i < junk.size(); ++i)
            junk[i] = char((i * 7919) ^ (i >> 3));
        QFile damaged(m_root + "/a/damaged.mp3");
        QVERIFY(damaged.open(QIODevice::WriteOnly) && damaged.write(junk) == junk.size());
    }

    // A whole scan, then the same scan from the cache.
    void fullScan_data()
    {
        QTest::addColumn<int>("engine");
        QTest::addRow("fpcalc") << 1;
        QTest::addRow("built-in") << 0; // its cache serves the next test
    }
    void fullScan()
    {
        QFETCH(int, engine);
        if (engine == 1 && QStandardPaths::findExecutable("fpcalc").isEmpty())
            QSKIP("fpcalc is not installed");
        resetCache();
        ScanRig rig;
        const Outcome out = rig.scan(options(engine, true));
        const QString log = out.log.join('\n');
        QVERIFY(out.finishedCount == 1 && !out.cancelled);
        QVERIFY2(out.log.contains("Discovered 10 audio files.") &&
                     out.log.contains("Skipped 1 file shorter than 5 seconds.") &&
                     out.logged("using Chromaprint fpcalc \\(") == engine,
                 qPrintable(log));
        // Copies of one payload are fingerprinted once: the byte copy and the retag share a job.
        QVERIFY2(out.logged("^Fingerprinting 7 files on ") == 1, qPrintable(log));
        QCOMPARE(out.tracks.size(), 9); // the ident is gone
        for (int i = 0; i < out.tracks.size(); ++i)
            QCOMPARE(out.tracks[i].id, i);
        // Highest bitrate wins; the two FLAC copies tie and the first in path order stays.
        QCOMPARE(out.groupText(), "2 song.flac: song copy.flac, song cut.m4a, song leadin.mp3, song "
                                  "retag.mp3, song.flac, song.mp3, song.wma");
        // Every grouped file carries its hashes, for reports and clean-up.
        for (int m : out.groups.first().members)
            QVERIFY2(out.tracks[m].fullHash.size() == 64 && out.tracks[m].audioHash.size() == 64,
                     qPrintable(out.tracks[m].fileName));
        QVERIFY(!out["damaged.mp3"].error.isEmpty() && out["song.flac"].artist == "Band");
        QVERIFY(out["song.flac"].fullHash == out["song copy.flac"].fullHash &&
                out["song.mp3"].fullHash != out["song retag.mp3"].fullHash);
        QCOMPARE(out["song.mp3"].audioHash, out["song retag.mp3"].audioHash);
        QVERIFY(out["song copy.flac"].fingerprint == out["song.flac"].fingerprint &&
                out["song retag.mp3"].fingerprint == out["song.mp3"].fingerprint);
        // A file of a size and payload length no other file has cannot match by hash: never read for one.
        QVERIFY(out["other.mp3"].fullHash.isEmpty() && out["other.mp3"].audioHash.isEmpty());
        // fpcalc gives whole seconds.
        QVERIFY2(std::abs(out["song.wma"].durationMs - 12000) <= (engine ? 1000 : 150),
                 qPrintable(QString::number(out["song.wma"].durationMs)));

        // Neither the damaged file (an error) nor the ident (dropped as too short) is cached; only
        // the damaged file is tried again.
        const Outcome again = rig.scan(options(engine, true));
        QVERIFY2(again.log.contains("Reused 8 cached analysis results.") &&
                     again.logged("^Fingerprinting 1 file on ") == 1,
                 qPrintable(again.log.join('\n')));
        QCOMPARE(again.groupText(), out.groupText());
        QCOMPARE(std::count_if(again.tracks.begin(), again.tracks.end(), [](auto &t) { return t.fromCache; }),
                 8);
        // A file exactly as long as the minimum stays; with the minimum one millisecond longer, it goes.
        ScanOptions o = options(engine, true);
        o.minDurationMs = out["other.mp3"].durationMs;
        QVERIFY(o.minDurationMs > 5000 && !rig.scan(o)["other.mp3"].fileName.isEmpty());
        ++o.minDurationMs;
        QVERIFY(rig.scan(o)["other.mp3"].fileName.isEmpty());
    }

    // A scan runs its phases in order and ends with one `finished`; a cancel in any phase ends
    // it there, with no fingerprint made after it; a start while one runs is ignored.
    void phases_data()
    {
        QTest::addColumn<QString>("at");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("outcome");
        const QString all = "Scanning folders, Checking cache, Reading tags and hashing, Fingerprinting "
                            "audio, Grouping duplicates";
        // clang-format off
        QTest::addRow("cancel in discovery") << "Scanning folders" << "cancel" << "Scanning folders - cancelled, 0 tracks, 0 fingerprinted, 0 groups";
        QTest::addRow("cancel in cache check") << "Checking cache" << "cancel" << "Scanning folders, Checking cache, Reading tags and hashing - cancelled, 1 tracks, 0 fingerprinted, 0 groups";
        QTest::addRow("cancel in tags") << "Reading tags and hashing" << "cancel" << "Scanning folders, Checking cache, Reading tags and hashing - cancelled, 10 tracks, 0 fingerprinted, 0 groups";
        QTest::addRow("cancel in fingerprints") << "Fingerprinting audio" << "cancel" << "Scanning folders, Checking cache, Reading tags and hashing, Fingerprinting audio - cancelled, 9 tracks, 0 fingerprinted, 0 groups";
        QTest::addRow("cancel in grouping") << "Grouping duplicates" << "cancel" << all + " - cancelled, 9 tracks, 8 fingerprinted, 2 groups";
        QTest::addRow("start while running") << "Checking cache" << "start" << all + " - 9 tracks, 8 fingerprinted, 1 groups";
        QTest::addRow("no matching files") << "" << "xyz" << "Scanning folders - 0 tracks, 0 fingerprinted, 0 groups";
        // clang-format on
    }
    void phases()
    {
        QFETCH(QString, at);
        QFETCH(QString, action);
        QFETCH(QString, outcome);
        // The rows that run to the end use the last full scan's cache: the library is not fingerprinted
        // again.
        ScanOptions o = options(0, at == "Grouping duplicates" || action == "start");
        o.extensions = action == "xyz" ? QStringList{"xyz"} : o.extensions;
        ScanRig rig;
        bool acted = false, running = false;
        const Outcome out = rig.scan(o, [&](const QString &p) {
            if (p != at || std::exchange(acted, true))
                return;
            running = rig.controller->isRunning();
            // A start is a direct call from inside the running scan.
            action == "cancel" ? rig.controller->cancel() : rig.controller->start(o);
        });
        const auto fingerprinted = std::count_if(out.tracks.begin(), out.tracks.end(),
                                                 [](auto &t) { return !t.fingerprint.isEmpty(); });
        QVERIFY(out.finishedCount == 1 && running == acted);
        QCOMPARE(QStringLiteral("%1 - %2%3 tracks, %4 fingerprinted, %5 groups")
                     .arg(out.phases.join(", "), out.cancelled ? "cancelled, " : "",
                          QString::number(out.tracks.size()), QString::number(fingerprinted),
                          QString::number(out.groups.size())),
                 outcome);
    }

    // The cache serves what a row holds and nothing else, and is bypassed when switched off. One
    // that cannot be used as it is never stops a scan: it is moved aside, kept as it was for a
    // look, and a new one serves the next scan.
    void cache_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QString>("groups"); // found by the second scan
        const QString both =
            "0 song copy.flac: song copy.flac, song.flac\n1 song retag.mp3: song retag.mp3, song.mp3";
        // clang-format off
        // The first scan made no hashes of the original; the second needs them and makes them.
        QTest::addRow("hash tiers off, then on") << "tiers" << both;
        QTest::addRow("a partner appears later") << "partner" << both;
        // The copy changed under the cache, keeping its size and time: only a real read sees it.
        QTest::addRow("cache switched off after a cached scan") << "off" << "1 song retag.mp3: song retag.mp3, song.mp3";
        QTest::addRow("not a database") << "junk" << both;
        QTest::addRow("damaged pages") << "pages" << both;
        // clang-format on
    }
    void cache()
    {
        QFETCH(QString, scenario);
        QFETCH(QString, groups);
        const bool served = scenario == "tiers" || scenario == "partner",
                   trouble = !served && scenario != "off";
        resetCache();
        QTemporaryDir dir;
        for (const char *name : {"a/song.flac", "b/song copy.flac", "b/song.mp3", "b/deeper/song retag.mp3"})
            QVERIFY(copyFile(m_root + '/' + name, dir.filePath(QFileInfo(name).fileName())));
        ScanOptions o = options(0, true);
        o.folders = {QFileInfo(dir.path()).canonicalFilePath()};
        o.detectAcoustic = false;
        ScanOptions first = o;
        first.detectIdentical = first.detectSameAudio = scenario != "tiers";
        const QString copy = o.folders[0] + "/song copy.flac", aside = dir.filePath("aside.bin");
        QVERIFY(scenario != "partner" || QFile::rename(copy, aside));
        auto rig = std::make_unique<ScanRig>();
        QVERIFY(scenario == "junk" || rig->scan(first)["song.flac"].fullHash.size() == (served ? 0 : 64));
        QVERIFY(scenario != "partner" || QFile::rename(aside, copy));
        if (trouble) // a cache opened before the trouble would not look again
            rig = std::make_unique<ScanRig>();
        const QDir folder = QFileInfo(CacheDatabase::defaultPath()).absoluteDir();
        QFile f(scenario == "off" ? copy : CacheDatabase::defaultPath());
        QByteArray damaged(4096, 'J');
        if (scenario == "pages") {
            QVERIFY(f.open(QIODevice::ReadOnly) && (damaged = f.readAll()).size() >= 2 * 4096);
            for (qsizetype at = 4096; at + 4096 <= damaged.size(); at += 4096)
                damaged.replace(at, 4096, QByteArray(4096, '\xA5'));
            f.close();
        }
        QVERIFY(!trouble ||
                (QDir().mkpath(folder.path()) && f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                 f.write(damaged) == damaged.size()));
        if (scenario == "off") {
            const QDateTime mtime = QFileInfo(copy).lastModified();
            QVERIFY(f.open(QIODevice::ReadWrite) && f.seek(f.size() - 100) &&
                    f.write(QByteArray(100, 'X')) == 100 && f.flush() &&
                    f.setFileTime(mtime, QFileDevice::FileModificationTime));
            o.useCache = false;
        }
        f.close();
        const Outcome after = rig->scan(o), again = trouble ? rig->scan(o) : Outcome();
        const QStringList movedAside = folder.entryList({"analysis-cache.sqlite.damaged-*"});
        QFile kept(folder.filePath(movedAside.value(0, "none")));
        const bool keptAsItWas = kept.open(QIODevice::ReadOnly) && kept.readAll() == damaged;
        resetCache();
        QCOMPARE(after.groupText(), groups);
        QVERIFY(after["song.flac"].fromCache == served && after["song.flac"].fullHash.size() == 64);
        QVERIFY2(after.logged("moved aside") == int(trouble) && movedAside.size() == int(trouble) &&
                     keptAsItWas == trouble,
                 qPrintable(after.log.join('\n')));
        QVERIFY2(!trouble || again.log.contains("Reused 4 cached analysis results."),
                 qPrintable(again.log.join('\n')));
    }
};

QTEST_GUILESS_MAIN(TestScanController)
#include "tst_scancontroller.moc"

#include "scan/ScanController.h"

#include "app/Platform.h"
#include "app/Translations.h"
#include "scan/CacheDatabase.h"
#include "support/AudioFixtures.h"

#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <optional>

using namespace rvw;
using namespace rvwtest;

Q_DECLARE_METATYPE(QList<rvw::TrackInfo>)
Q_DECLARE_METATYPE(QList<rvw::MatchGroup>)

namespace {

// The controller on its own thread, as the window runs it.
class ScanRig
{
public:
    ScanRig()
    {
        controller = new ScanController;
        controller->moveToThread(&thread);
        thread.setObjectName("rvw-scan");
        QObject::connect(&thread, &QThread::finished, controller, &QObject::deleteLater);
        thread.start();
    }
    ~ScanRig()
    {
        controller->cancel();
        thread.quit();
        thread.wait(30000);
    }
    void start(const ScanOptions &o)
    {
        QMetaObject::invokeMethod(controller, "start", Qt::QueuedConnection, Q_ARG(rvw::ScanOptions, o));
    }
    QThread thread;
    ScanController *controller = nullptr;
};

struct Outcome
{
    QList<TrackInfo> tracks;
    QList<MatchGroup> groups;
    bool cancelled = false;
    QStringList phases;
    QStringList log;
    int finishedCount = 0;
};

const TrackInfo *byName(const QList<TrackInfo> &tracks, const QString &name)
{
    const auto it =
        std::find_if(tracks.begin(), tracks.end(), [&](const TrackInfo &t) { return t.fileName == name; });
    return it == tracks.end() ? nullptr : &*it;
}

const MatchGroup *groupOf(const QList<MatchGroup> &groups, int trackId)
{
    const auto it = std::find_if(groups.begin(), groups.end(),
                                 [&](const MatchGroup &g) { return g.members.contains(trackId); });
    return it == groups.end() ? nullptr : &*it;
}

} // namespace

class TestScanController : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_lib;
    QString m_root;

    // One scan, on a fresh controller or on one that may have run others before.
    Outcome scan(const ScanOptions &o,
                 const std::function<void(ScanRig &, const QString &phase)> &onPhase = {},
                 ScanRig *given = nullptr)
    {
        std::optional<ScanRig> own;
        ScanRig &rig = given ? *given : own.emplace();
        Outcome out;
        QObject::connect(
            rig.controller, &ScanController::phaseChanged, rig.controller,
            [&](const QString &p) {
                out.phases << p;
                if (onPhase)
                    onPhase(rig, p);
            },
            Qt::DirectConnection);
        QObject::connect(
            rig.controller, &ScanController::logMessage, rig.controller,
            [&](const QString &m) { out.log << m; }, Qt::DirectConnection);
        QSignalSpy finished(rig.controller, &ScanController::finished);
        rig.start(o);
        const bool ended = finished.wait(240000);
        QTest::qWait(50); // a second `finished` would arrive here
        // The connections above capture `out`; they must not outlive it on a reused controller.
        QObject::disconnect(rig.controller, &ScanController::phaseChanged, rig.controller, nullptr);
        QObject::disconnect(rig.controller, &ScanController::logMessage, rig.controller, nullptr);
        if (!ended)
            return out;
        out.finishedCount = int(finished.size());
        const QList<QVariant> args = finished.first();
        out.tracks = args[0].value<QList<TrackInfo>>();
        out.groups = args[1].value<QList<MatchGroup>>();
        out.cancelled = args[2].toBool();
        return out;
    }

    ScanOptions options(int engine) const
    {
        ScanOptions o;
        o.folders = {m_root};
        o.engine = engine;
        o.useCache = false;
        o.minBytes = 1024;
        o.fingerprintSeconds = 30;
        o.decoderThreads = 2;
        return o;
    }

    void resetCache()
    {
        const QString path = CacheDatabase::defaultPath();
        for (const QString &p : {path, path + "-wal", path + "-shm"})
            QFile::remove(p);
        const QDir folder = QFileInfo(path).absoluteDir();
        for (const QString &name : folder.entryList({"analysis-cache.sqlite.damaged-*"}))
            QFile::remove(folder.filePath(name));
    }

private slots:
    void initTestCase()
    {
        Platform::applyDecoderRanking();
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName("KestrilonTest");
        Translations::install(QLocale(QLocale::English, QLocale::UnitedKingdom));
        QCoreApplication::setApplicationName("RavelwickScanTest");
        ScanController::registerMetaTypes();
        if (ffmpegPath().isEmpty())
            QSKIP("ffmpeg is not installed; the library cannot be generated");
        QVERIFY(m_lib.isValid());
        m_root = QFileInfo(m_lib.path()).canonicalFilePath();
        QDir(m_root).mkpath("a");
        QDir(m_root).mkpath("b/deeper");
        // Songs long enough that 1.5 s more or 0.8 s less stays inside the 5 % duration test,
        // as it does for the minutes-long songs of a real library.
        const QString orig = m_root + "/a/song.flac", mp3 = m_root + "/b/song.mp3";
        QVERIFY(ffmpeg(melodyInput(1, 40) + QStringList{"-ac", "2", "-c:a", "flac", "-metadata",
                                                        "artist=Band", "-metadata", "title=Song", orig}));
        QVERIFY(copyFile(orig, m_root + "/b/song copy.flac"));
        QVERIFY(ffmpeg({"-i", orig, "-c:a", "libmp3lame", "-b:a", "192k", "-id3v2_version", "3", mp3}));
        QVERIFY(ffmpeg({"-i", mp3, "-c", "copy", "-map_metadata", "-1", "-metadata", "title=Song (promo)",
                        "-id3v2_version", "4", m_root + "/b/deeper/song retag.mp3"}));
        // 1.5 s of lead-in, and the first 0.8 s cut, each re-encoded
        QVERIFY(ffmpeg({"-i", orig, "-af", "adelay=1500|1500", "-c:a", "libmp3lame", "-b:a", "128k",
                        m_root + "/b/song leadin.mp3"}));
        QVERIFY(
            ffmpeg({"-ss", "0.8", "-i", orig, "-c:a", "aac", "-b:a", "128k", m_root + "/a/song cut.m4a"}));
        // an unrelated song, a 3-second ident and a damaged file
        QVERIFY(ffmpeg(melodyInput(4, 40) +
                       QStringList{"-c:a", "libmp3lame", "-b:a", "160k", m_root + "/a/other.mp3"}));
        QVERIFY(ffmpeg(melodyInput(2, 3) + QStringList{"-c:a", "libmp3lame", m_root + "/a/ident.mp3"}));
        QByteArray junk(40000, '\0');
        for (int i = 0; i < junk.size(); ++i)
            junk[i] = char((i * 7919) ^ (i >> 3));
        QFile damaged(m_root + "/a/damaged.mp3");
        QVERIFY(damaged.open(QIODevice::WriteOnly) && damaged.write(junk) == junk.size());
    }

    void fullScan_data()
    {
        QTest::addColumn<int>("engine");
        QTest::newRow("built-in") << 0;
        QTest::newRow("fpcalc") << 1;
    }
    void fullScan()
    {
        QFETCH(int, engine);
        if (engine == 1 && QStandardPaths::findExecutable("fpcalc").isEmpty())
            QSKIP("fpcalc is not installed");
        const Outcome out = scan(options(engine));
        QVERIFY(out.finishedCount == 1 && !out.cancelled);
        QCOMPARE(out.phases, QStringList({"Scanning folders", "Checking cache", "Reading tags and hashing",
                                          "Fingerprinting audio", "Grouping duplicates"}));
        const QString log = out.log.join('\n');
        QVERIFY2(out.log.contains("Discovered 9 audio files.") &&
                     out.log.contains("Skipped 1 file shorter than 5 seconds.") &&
                     out.log.filter("using Chromaprint fpcalc (").size() == engine,
                 qPrintable(log));
        QCOMPARE(out.tracks.size(), 8); // the ident is gone
        for (int i = 0; i < out.tracks.size(); ++i)
            QCOMPARE(out.tracks[i].id, i);
        const TrackInfo *damaged = byName(out.tracks, "damaged.mp3");
        QVERIFY2(damaged && !damaged->error.isEmpty(), "the damaged file keeps its error");
        QVERIFY(!groupOf(out.groups, damaged->id));
        const TrackInfo *orig = byName(out.tracks, "song.flac"), *copy = byName(out.tracks, "song copy.flac"),
                        *mp3 = byName(out.tracks, "song.mp3"), *retag = byName(out.tracks, "song retag.mp3"),
                        *leadin = byName(out.tracks, "song leadin.mp3"),
                        *cut = byName(out.tracks, "song cut.m4a"), *other = byName(out.tracks, "other.mp3");
        QVERIFY(orig && copy && mp3 && retag && leadin && cut && other);
        QCOMPARE(orig->artist, QStringLiteral("Band"));
        QCOMPARE(orig->fullHash, copy->fullHash);
        QVERIFY(mp3->fullHash != retag->fullHash);
        QCOMPARE(mp3->audioHash, retag->audioHash);
        // A file of a size and payload length no other file has cannot match by hash: never read for one.
        QVERIFY(other->fullHash.isEmpty() && other->audioHash.isEmpty());
        // Copies of one payload are fingerprinted once: the byte copy and the retagged copy share a job.
        QVERIFY2(out.log.filter(QRegularExpression("^Fingerprinting 6 files on ")).size() == 1,
                 qPrintable(log));
        QCOMPARE(copy->fingerprint, orig->fingerprint);
        QCOMPARE(retag->fingerprint, mp3->fingerprint);

        // Everything of the song joins one acoustic group; the other song stays out.
        const MatchGroup *g = groupOf(out.groups, orig->id);
        QVERIFY(g && g->tier == Acoustic);
        for (const TrackInfo *t : {copy, mp3, retag, leadin, cut})
            QVERIFY2(g->members.contains(t->id), qPrintable(t->fileName + " is not with its original"));
        for (int m : g->members) // every grouped file carries its hashes, for reports and clean-up
            QVERIFY2(out.tracks[m].fullHash.size() == 64 && out.tracks[m].audioHash.size() == 64,
                     qPrintable(out.tracks[m].fileName));
        QCOMPARE(out.groups.size(), 1); // the other song stays out
        // highest bitrate wins; the two FLAC copies tie and the first in path order stays
        QCOMPARE(g->keeper, orig->id);
    }

    // A format the tag reader gives no length for takes the stream's length from the fingerprint
    // job, not that of the 60 s analysed, and so still passes the duration test with its copy.
    void lengthOfFileWithoutTags()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(ffmpeg(melodyInput(3, 75) +
                       QStringList{"-c:a", "libmp3lame", "-b:a", "192k", dir.filePath("long.mp3")}));
        QVERIFY(ffmpeg(
            {"-i", dir.filePath("long.mp3"), "-c:a", "wmav2", "-b:a", "128k", dir.filePath("long.wma")}));
        ScanOptions o = options(0);
        o.folders = {dir.path()};
        o.fingerprintSeconds = 60;
        const Outcome out = scan(o);
        const TrackInfo *wma = byName(out.tracks, "long.wma"), *mp3 = byName(out.tracks, "long.mp3");
        QVERIFY(wma && mp3);
        QVERIFY2(std::abs(wma->durationMs - 75000) <= 750, qPrintable(QString::number(wma->durationMs)));
        const MatchGroup *g = groupOf(out.groups, wma->id);
        QVERIFY(g && g->members.contains(mp3->id));
    }

    void secondScanFromCache()
    {
        resetCache();
        ScanOptions o = options(0);
        o.useCache = true;
        const Outcome first = scan(o);
        const Outcome second = scan(o);
        // neither the damaged file (an error) nor the ident (dropped as too short) is cached
        QVERIFY2(second.log.contains("Reused 7 cached analysis results."), qPrintable(second.log.join('\n')));
        // Only the damaged file, which was never cached, is tried again.
        QVERIFY2(second.log.filter(QRegularExpression("^Fingerprinting 1 file on ")).size() == 1,
                 qPrintable(second.log.join('\n')));
        QCOMPARE(second.groups.first().members, first.groups.first().members);
        QCOMPARE(std::count_if(second.tracks.begin(), second.tracks.end(),
                               [](const TrackInfo &t) { return t.fromCache; }),
                 7);
    }

    // Copies of the song (two byte copies, an mp3 and its retag) in a folder of their own, for
    // tests that change files under the cache.
    QString songCopies(QTemporaryDir &dir)
    {
        for (const char *name :
             {"a/song.flac", "b/song copy.flac", "b/song.mp3", "b/deeper/song retag.mp3"}) {
            const QString from = m_root + '/' + QLatin1String(name);
            if (!copyFile(from, dir.filePath(QFileInfo(from).fileName())))
                return {};
        }
        return QFileInfo(dir.path()).canonicalFilePath();
    }

    // New bytes of the same size, with the old modification time: only a real read sees them.
    static bool changeKeepingSizeAndTime(const QString &path)
    {
        QFile f(path);
        const QDateTime mtime = QFileInfo(path).lastModified();
        if (!f.open(QIODevice::ReadWrite) || !f.seek(f.size() - 100) ||
            f.write(QByteArray(100, 'X')) != 100 || !f.flush())
            return false;
        return f.setFileTime(mtime, QFileDevice::FileModificationTime);
    }

    // The cache serves what a row holds and nothing else, and is bypassed when switched off.
    void cacheServesOnlyWhatItHolds_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::newRow("hash tiers off, then on") << "tiers";
        QTest::newRow("cache switched off after a cached scan") << "off";
        QTest::newRow("fpcalc re-scan reads nothing again") << "fpcalc";
        QTest::newRow("a partner appears later") << "partner";
    }
    void cacheServesOnlyWhatItHolds()
    {
        QFETCH(QString, scenario);
        if (scenario == "fpcalc" && QStandardPaths::findExecutable("fpcalc").isEmpty())
            QSKIP("fpcalc is not installed");
        resetCache();
        QTemporaryDir dir;
        const QString folder = songCopies(dir);
        QVERIFY(!folder.isEmpty());
        ScanOptions o = options(scenario == "fpcalc" ? 1 : 0);
        o.folders = {folder};
        o.useCache = true;
        o.detectAcoustic = scenario == "fpcalc";
        ScanOptions firstOptions = o;
        if (scenario == "tiers")
            firstOptions.detectIdentical = firstOptions.detectSameAudio = false;
        const bool partner = scenario == "partner", hashless = partner || scenario == "tiers";
        const QString copyPath = folder + "/song copy.flac", aside = dir.filePath("aside.bin");
        if (partner) // the byte copy is not there yet: the original has no partner
            QVERIFY(QFile::rename(copyPath, aside));
        ScanRig rig;
        const Outcome first = scan(firstOptions, {}, &rig);
        QCOMPARE(first.tracks.size(), partner ? 3 : 4);
        const QString hashBefore = byName(first.tracks, partner ? "song.flac" : "song copy.flac")->fullHash;
        QCOMPARE(hashBefore.size(), hashless ? 0 : 64);
        if (partner)
            QVERIFY(QFile::rename(aside, copyPath));
        else if (!hashless)
            QVERIFY(changeKeepingSizeAndTime(copyPath));
        if (scenario == "off")
            o.useCache = false;
        const Outcome second = scan(o, {}, &rig);
        resetCache();
        const TrackInfo *orig = byName(second.tracks, "song.flac"),
                        *copy = byName(second.tracks, "song copy.flac");
        QVERIFY(orig && copy);
        const MatchGroup *g = groupOf(second.groups, copy->id);
        const QString log = second.log.join('\n');
        if (hashless) { // the first scan made no hashes; the second needs them and makes them
            QCOMPARE(orig->fullHash.size(), 64);
            QCOMPARE(orig->fullHash, copy->fullHash);
            QVERIFY(g && g->tier == Identical && g->members.contains(orig->id));
            QVERIFY(partner ? orig->fromCache
                            : second.groups.size() == 2 && second.groups[1].tier == SameAudio);
            QVERIFY(!second.phases.contains("Fingerprinting audio") && copy->fingerprint.isEmpty());
        } else if (scenario == "off") {
            QVERIFY2(second.log.filter("Reused").isEmpty(), qPrintable(log));
            QVERIFY(orig->fullHash != copy->fullHash && (!g || g->tier != Identical));
        } else {
            QVERIFY2(second.log.contains("Reused 4 cached analysis results.") &&
                         second.log.filter("Fingerprinting ").isEmpty(),
                     qPrintable(log));
            QCOMPARE(copy->fullHash, hashBefore); // from the cache: the file was not read again
            QVERIFY(!copy->fingerprint.isEmpty());
        }
    }

    // A cache that cannot be used as it is never stops a scan, and says what happened.
    void cacheTroubleIsHandled_data()
    {
        QTest::addColumn<QString>("trouble");
        QTest::addColumn<QString>("logged");
        // clang-format off
        QTest::newRow("not a database") << "junk" << "moved aside";
        QTest::newRow("another program's table") << "foreign" << "moved aside";
        QTest::newRow("damaged pages") << "pages" << "moved aside";
        QTest::newRow("locked by another connection") << "locked" << "could not be stored in the cache";
        // clang-format on
    }
    void cacheTroubleIsHandled()
    {
        QFETCH(QString, trouble);
        QFETCH(QString, logged);
        resetCache();
        const QString path = CacheDatabase::defaultPath();
        const QDir folder = QFileInfo(path).absoluteDir();
        QDir().mkpath(folder.path());
        ScanOptions o = options(0);
        o.useCache = true;
        o.detectAcoustic = false;
        QByteArray before(trouble == "junk" ? 4096 : 0, 'J');
        if (trouble == "pages") {
            QCOMPARE(scan(o).groups.size(), 2); // a real cache, then pages of it overwritten
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            before = f.readAll();
            QVERIFY(before.size() >= 4 * 4096);
            for (qsizetype at = 4096; at + 4096 <= before.size(); at += 4096)
                before.replace(at, 4096, QByteArray(4096, '\xA5'));
        }
        if (!before.isEmpty()) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(before) == before.size());
        }
        if (trouble == "locked") {
            CacheDatabase ours; // an empty cache of ours, which the other connection then locks
            QVERIFY(ours.open());
        }
        const QString otherName = "other-" + trouble;
        QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", otherName);
        other.setDatabaseName(path);
        if (trouble == "foreign" || trouble == "locked") {
            QVERIFY(other.open());
            QSqlQuery q(other);
            const QStringList sql =
                trouble == "foreign" ? QStringList{"CREATE TABLE tracks (id INTEGER PRIMARY KEY, name TEXT)",
                                                   "INSERT INTO tracks (name) VALUES ('theirs')"}
                                     : QStringList{"PRAGMA journal_mode=WAL", "BEGIN IMMEDIATE"};
            for (const QString &statement : sql) // a lock is then held for the whole scan
                QVERIFY(q.exec(statement));
            if (trouble == "foreign")
                other.close();
        }
        const Outcome out = scan(o);
        if (trouble == "locked")
            QSqlQuery(other).exec("ROLLBACK");
        other.close();
        other = QSqlDatabase();
        QSqlDatabase::removeDatabase(otherName);
        QVERIFY2(out.log.filter(logged).size() == 1, qPrintable(out.log.join('\n')));
        QCOMPARE(out.groups.size(), 2);
        const QStringList aside = folder.entryList({"analysis-cache.sqlite.damaged-*"});
        QCOMPARE(aside.size(), logged == "moved aside" ? 1 : 0);
        if (trouble == "junk") {
            QFile kept(folder.filePath(aside.first()));
            QVERIFY(kept.open(QIODevice::ReadOnly));
            QCOMPARE(kept.readAll(), before); // kept as it was, for whoever wants to look
        }
        // Moved aside, the new cache serves a second scan; locked, nothing could be stored.
        const QStringList log = logged == "moved aside" ? scan(o).log : out.log;
        QVERIFY2(logged == "moved aside"
                     ? log.contains("Reused 7 cached analysis results.")
                     : log.filter(QRegularExpression("^7 analysis results could not be stored")).size() == 1,
                 qPrintable(log.join('\n')));
        resetCache();
    }

    void noMatchingFiles()
    {
        ScanOptions o = options(0);
        o.extensions = {"xyz"};
        const Outcome out = scan(o);
        QVERIFY(out.finishedCount == 1 && !out.cancelled && out.tracks.isEmpty());
        QCOMPARE(out.phases, QStringList({"Scanning folders"}));
    }

    void cancelInEachPhase_data()
    {
        QTest::addColumn<QString>("phase");
        QTest::newRow("discovery") << "Scanning folders";
        QTest::newRow("cache check") << "Checking cache";
        QTest::newRow("tags") << "Reading tags and hashing";
        QTest::newRow("fingerprints") << "Fingerprinting audio";
        QTest::newRow("grouping") << "Grouping duplicates";
    }
    void cancelInEachPhase()
    {
        QFETCH(QString, phase);
        ScanOptions o = options(0);
        const Outcome out = scan(o, [&](ScanRig &rig, const QString &p) {
            if (p == phase)
                rig.controller->cancel();
        });
        QVERIFY(out.finishedCount == 1 && out.cancelled && out.phases.contains(phase));
        if (phase != "Grouping duplicates")
            QVERIFY(!out.phases.contains("Grouping duplicates") && out.groups.isEmpty());
        if (phase == "Fingerprinting audio") {
            QVERIFY2(std::none_of(out.tracks.begin(), out.tracks.end(),
                                  [](const TrackInfo &t) { return !t.fingerprint.isEmpty(); }),
                     "no job is handed out after a cancel");
        }
    }

    void startWhileRunningIsIgnored()
    {
        const ScanOptions o = options(0);
        bool reentered = false;
        const Outcome out = scan(o, [&](ScanRig &rig, const QString &p) {
            if (p == "Checking cache" && !std::exchange(reentered, true)) {
                QVERIFY(rig.controller->isRunning());
                rig.controller->start(o); // a direct call from inside a running scan is ignored
            }
        });
        QVERIFY(reentered && out.finishedCount == 1 && !out.cancelled);
        QCOMPARE(out.phases.count("Scanning folders"), 1);
    }
};

QTEST_GUILESS_MAIN(TestScanController)
#include "tst_scancontroller.moc"

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
    for (const TrackInfo &t : tracks) {
        if (t.fileName == name)
            return &t;
    }
    return nullptr;
}

const MatchGroup *groupOf(const QList<MatchGroup> &groups, int trackId)
{
    for (const MatchGroup &g : groups) {
        if (g.members.contains(trackId))
            return &g;
    }
    return nullptr;
}

} // namespace

class TestScanController : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_lib;
    QString m_root;

    Outcome scan(const ScanOptions &o,
                 const std::function<void(ScanRig &, const QString &phase)> &onPhase = {})
    {
        ScanRig rig;
        return scanOn(rig, o, onPhase);
    }

    // One scan on a controller that may have run others before.
    Outcome scanOn(ScanRig &rig, const ScanOptions &o,
                   const std::function<void(ScanRig &, const QString &phase)> &onPhase = {})
    {
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
        QString err;
        const auto make = [&err](const QStringList &args) { return ffmpeg(args, &err); };
        // Songs long enough that 1.5 s more or 0.8 s less stays inside the 5 % duration test,
        // as it does for the minutes-long songs of a real library.
        const QString orig = m_root + "/a/song.flac";
        QVERIFY2(make(melodyInput(1, 40) + QStringList{"-ac", "2", "-c:a", "flac", "-metadata", "artist=Band",
                                                       "-metadata", "title=Song", orig}),
                 qPrintable(err));
        QVERIFY(copyFile(orig, m_root + "/b/song copy.flac"));
        QVERIFY2(make({"-i", orig, "-c:a", "libmp3lame", "-b:a", "192k", "-id3v2_version", "3",
                       m_root + "/b/song.mp3"}),
                 qPrintable(err));
        QVERIFY2(make({"-i", m_root + "/b/song.mp3", "-c", "copy", "-map_metadata", "-1", "-metadata",
                       "title=Song (promo)", "-id3v2_version", "4", m_root + "/b/deeper/song retag.mp3"}),
                 qPrintable(err));
        // 1.5 s of lead-in, and the first 0.8 s cut, each re-encoded
        QVERIFY2(make({"-i", orig, "-af", "adelay=1500|1500", "-c:a", "libmp3lame", "-b:a", "128k",
                       m_root + "/b/song leadin.mp3"}),
                 qPrintable(err));
        QVERIFY2(make({"-ss", "0.8", "-i", orig, "-c:a", "aac", "-b:a", "128k", m_root + "/a/song cut.m4a"}),
                 qPrintable(err));
        // an unrelated song, a 3-second ident and a damaged file
        QVERIFY2(make(melodyInput(4, 40) +
                      QStringList{"-c:a", "libmp3lame", "-b:a", "160k", m_root + "/a/other.mp3"}),
                 qPrintable(err));
        QVERIFY2(make(melodyInput(2, 3) + QStringList{"-c:a", "libmp3lame", m_root + "/a/ident.mp3"}),
                 qPrintable(err));
        QFile damaged(m_root + "/a/damaged.mp3");
        QVERIFY(damaged.open(QIODevice::WriteOnly));
        QByteArray junk(40000, '\0');
        for (int i = 0; i < junk.size(); ++i)
            junk[i] = char((i * 7919) ^ (i >> 3));
        damaged.write(junk);
        damaged.close();
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
        QCOMPARE(out.finishedCount, 1);
        QVERIFY(!out.cancelled);
        QCOMPARE(out.phases, QStringList({"Scanning folders", "Checking cache", "Reading tags and hashing",
                                          "Fingerprinting audio", "Grouping duplicates"}));
        QVERIFY2(out.log.contains("Discovered 9 audio files."), qPrintable(out.log.join('\n')));
        QVERIFY(out.log.contains("Skipped 1 file shorter than 5 seconds."));
        if (engine == 0)
            QVERIFY(out.log.contains("Tip: installing Chromaprint's fpcalc and putting it on the PATH makes "
                                     "fingerprinting several times faster and more accurate."));
        else
            QVERIFY(out.log.filter("using Chromaprint fpcalc (").size() == 1);

        QCOMPARE(out.tracks.size(), 8); // the ident is gone
        for (int i = 0; i < out.tracks.size(); ++i)
            QCOMPARE(out.tracks[i].id, i);
        QVERIFY(!byName(out.tracks, "ident.mp3"));

        const TrackInfo *damaged = byName(out.tracks, "damaged.mp3");
        QVERIFY(damaged);
        QVERIFY2(!damaged->error.isEmpty(), "the damaged file keeps its error");
        QVERIFY(!groupOf(out.groups, damaged->id));

        const TrackInfo *orig = byName(out.tracks, "song.flac");
        const TrackInfo *copy = byName(out.tracks, "song copy.flac");
        const TrackInfo *mp3 = byName(out.tracks, "song.mp3");
        const TrackInfo *retag = byName(out.tracks, "song retag.mp3");
        const TrackInfo *leadin = byName(out.tracks, "song leadin.mp3");
        const TrackInfo *cut = byName(out.tracks, "song cut.m4a");
        const TrackInfo *other = byName(out.tracks, "other.mp3");
        QVERIFY(orig && copy && mp3 && retag && leadin && cut && other);
        QCOMPARE(orig->artist, QStringLiteral("Band"));
        QCOMPARE(orig->fullHash, copy->fullHash);
        QVERIFY(mp3->fullHash != retag->fullHash);
        QCOMPARE(mp3->audioHash, retag->audioHash);
        // A file of a size and payload length no other file has cannot match by hash: never read for one.
        QVERIFY(other->fullHash.isEmpty() && other->audioHash.isEmpty());
        // Copies of one payload are fingerprinted once: the byte copy and the retagged copy share a job.
        QVERIFY2(out.log.filter(QRegularExpression("^Fingerprinting 6 files on ")).size() == 1,
                 qPrintable(out.log.join('\n')));
        QCOMPARE(copy->fingerprint, orig->fingerprint);
        QCOMPARE(retag->fingerprint, mp3->fingerprint);

        // Everything of the song joins one acoustic group; the other song stays out.
        const MatchGroup *g = groupOf(out.groups, orig->id);
        QVERIFY(g);
        QCOMPARE(g->tier, Acoustic);
        for (const TrackInfo *t : {copy, mp3, retag, leadin, cut})
            QVERIFY2(g->members.contains(t->id), qPrintable(t->fileName + " is not with its original"));
        for (int m : g->members) // every grouped file carries its hashes, for reports and clean-up
            QVERIFY2(out.tracks[m].fullHash.size() == 64 && out.tracks[m].audioHash.size() == 64,
                     qPrintable(out.tracks[m].fileName));
        QVERIFY(!groupOf(out.groups, other->id));
        QCOMPARE(out.groups.size(), 1);
        // highest bitrate wins; the two FLAC copies tie and the first in path order stays
        QCOMPARE(g->keeper, orig->id);
        QVERIFY(out.log
                    .filter(QRegularExpression("^Found 1 duplicate group; [0-9]+\\.[0-9] (MB|kB) could be "
                                               "reclaimed\\.$"))
                    .size() == 1);
    }

    // A format the tag reader gives no length for takes the stream's length from the fingerprint
    // job, not that of the 60 s analysed, and so still passes the duration test with its copy.
    void lengthOfFileWithoutTags()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QString err;
        QVERIFY2(ffmpeg(melodyInput(3, 75) +
                            QStringList{"-c:a", "libmp3lame", "-b:a", "192k", dir.filePath("long.mp3")},
                        &err),
                 qPrintable(err));
        QVERIFY2(ffmpeg({"-i", dir.filePath("long.mp3"), "-c:a", "wmav2", "-b:a", "128k",
                         dir.filePath("long.wma")},
                        &err),
                 qPrintable(err));
        ScanOptions o = options(0);
        o.folders = {dir.path()};
        o.fingerprintSeconds = 60;
        const Outcome out = scan(o);
        const TrackInfo *wma = byName(out.tracks, "long.wma");
        const TrackInfo *mp3 = byName(out.tracks, "long.mp3");
        QVERIFY(wma && mp3);
        QVERIFY2(std::abs(wma->durationMs - 75000) <= 750, qPrintable(QString::number(wma->durationMs)));
        const MatchGroup *g = groupOf(out.groups, wma->id);
        QVERIFY(g && g->members.contains(mp3->id));
    }

    void hashTiersWithoutFingerprints()
    {
        ScanOptions o = options(0);
        o.detectAcoustic = false;
        const Outcome out = scan(o);
        QVERIFY(!out.phases.contains("Fingerprinting audio"));
        QCOMPARE(out.groups.size(), 2);
        QCOMPARE(out.groups[0].tier, Identical);
        QCOMPARE(out.groups[1].tier, SameAudio);
        for (const TrackInfo &t : out.tracks)
            QVERIFY(t.fingerprint.isEmpty());
    }

    void secondScanFromCache()
    {
        resetCache();
        ScanOptions o = options(0);
        o.useCache = true;
        const Outcome first = scan(o);
        QVERIFY(
            first.log.filter(QRegularExpression("^Analysis cache: 0 entries at .*analysis-cache\\.sqlite$"))
                .size() == 1);
        QVERIFY(first.log.filter("Fingerprinting ").size() == 1);
        const Outcome second = scan(o);
        QCOMPARE(second.finishedCount, 1);
        // neither the damaged file (an error) nor the ident (dropped as too short) is cached
        QVERIFY2(second.log.contains("Reused 7 cached analysis results."), qPrintable(second.log.join('\n')));
        // Only the damaged file, which was never cached, is tried again.
        QVERIFY2(second.log.filter(QRegularExpression("^Fingerprinting 1 file on ")).size() == 1,
                 qPrintable(second.log.join('\n')));
        QCOMPARE(second.groups.size(), first.groups.size());
        QCOMPARE(second.groups.first().members, first.groups.first().members);
        int fromCache = 0;
        for (const TrackInfo &t : second.tracks)
            fromCache += t.fromCache ? 1 : 0;
        QCOMPARE(fromCache, 7);
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
        ScanRig rig;
        ScanOptions firstOptions = o;
        if (scenario == "tiers")
            firstOptions.detectIdentical = firstOptions.detectSameAudio = false;
        const QString copyAside = dir.filePath("aside.bin");
        if (scenario == "partner") // the byte copy is not there yet: the original has no partner
            QVERIFY(QFile::rename(folder + "/song copy.flac", copyAside));
        const Outcome first = scanOn(rig, firstOptions);
        QCOMPARE(first.tracks.size(), scenario == "partner" ? 3 : 4);
        if (scenario == "partner") {
            QVERIFY(byName(first.tracks, "song.flac")->fullHash.isEmpty());
            QVERIFY(QFile::rename(copyAside, folder + "/song copy.flac"));
            const Outcome second = scanOn(rig, o);
            resetCache();
            const TrackInfo *orig = byName(second.tracks, "song.flac");
            const TrackInfo *copy = byName(second.tracks, "song copy.flac");
            QVERIFY(orig && copy && orig->fromCache);
            QCOMPARE(orig->fullHash.size(), 64);
            QCOMPARE(orig->fullHash, copy->fullHash);
            QVERIFY(groupOf(second.groups, orig->id) && groupOf(second.groups, orig->id)->tier == Identical);
            return;
        }
        const QString copyPath = folder + "/song copy.flac";
        const QString hashBefore = byName(first.tracks, "song copy.flac")->fullHash;
        QCOMPARE(hashBefore.size(), scenario == "tiers" ? 0 : 64);
        if (scenario != "tiers")
            QVERIFY(changeKeepingSizeAndTime(copyPath));
        if (scenario == "off")
            o.useCache = false;
        const Outcome second = scanOn(rig, o);
        resetCache();
        const TrackInfo *orig = byName(second.tracks, "song.flac");
        const TrackInfo *copy = byName(second.tracks, "song copy.flac");
        QVERIFY(orig && copy);
        if (scenario == "tiers") {
            // The first scan made no hashes; the second needs them and makes them.
            QCOMPARE(orig->fullHash, copy->fullHash);
            QCOMPARE(orig->fullHash.size(), 64);
            QCOMPARE(second.groups.size(), 2);
            QCOMPARE(second.groups[0].tier, Identical);
            QCOMPARE(second.groups[1].tier, SameAudio);
        } else if (scenario == "off") {
            QVERIFY2(!second.log.filter("Reused").size(), qPrintable(second.log.join('\n')));
            QVERIFY(orig->fullHash != copy->fullHash);
            QVERIFY(!groupOf(second.groups, copy->id) || groupOf(second.groups, copy->id)->tier != Identical);
        } else {
            QVERIFY2(second.log.contains("Reused 4 cached analysis results."),
                     qPrintable(second.log.join('\n')));
            QVERIFY(second.log.filter("Fingerprinting ").isEmpty());
            QCOMPARE(copy->fullHash, hashBefore); // from the cache: the file was not read again
            QVERIFY(!copy->fingerprint.isEmpty());
        }
    }

    // A cache that cannot be used as it is never stops a scan, and says what happened.
    void cacheTroubleIsHandled_data()
    {
        QTest::addColumn<QString>("trouble");
        QTest::addColumn<QString>("logged");
        QTest::newRow("not a database") << "junk"
                                        << "moved aside";
        QTest::newRow("another program's table") << "foreign"
                                                 << "moved aside";
        QTest::newRow("damaged pages") << "pages"
                                       << "moved aside";
        QTest::newRow("locked by another connection") << "locked"
                                                      << "could not be stored in the cache";
    }
    void cacheTroubleIsHandled()
    {
        QFETCH(QString, trouble);
        QFETCH(QString, logged);
        resetCache();
        const QString path = CacheDatabase::defaultPath();
        QDir().mkpath(QFileInfo(path).absolutePath());
        ScanOptions o = options(0);
        o.useCache = true;
        o.detectAcoustic = false;
        QByteArray before;
        QSqlDatabase other;
        const QString otherName = QStringLiteral("other-%1").arg(trouble);
        if (trouble == "junk") {
            before = QByteArray(4096, 'J');
        } else if (trouble == "pages") {
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
        if (trouble == "foreign" || trouble == "locked") {
            other = QSqlDatabase::addDatabase("QSQLITE", otherName);
            other.setDatabaseName(path);
            QVERIFY(other.open());
            QSqlQuery q(other);
            if (trouble == "foreign") {
                QVERIFY(q.exec("CREATE TABLE tracks (id INTEGER PRIMARY KEY, name TEXT)"));
                QVERIFY(q.exec("INSERT INTO tracks (name) VALUES ('theirs')"));
                other.close();
            } else {
                QVERIFY(q.exec("PRAGMA journal_mode=WAL"));
                QVERIFY(q.exec("BEGIN IMMEDIATE")); // holds the write lock for the whole scan
            }
        }
        const Outcome out = scan(o);
        if (trouble == "locked") {
            QSqlQuery(other).exec("ROLLBACK");
            other.close();
        }
        other = QSqlDatabase();
        QSqlDatabase::removeDatabase(otherName);
        QVERIFY2(out.log.filter(logged).size() == 1, qPrintable(out.log.join('\n')));
        QCOMPARE(out.groups.size(), 2);
        const QStringList aside =
            QDir(QFileInfo(path).absolutePath()).entryList({"analysis-cache.sqlite.damaged-*"});
        QCOMPARE(aside.size(), logged == "moved aside" ? 1 : 0);
        if (trouble == "junk") {
            QFile kept(QFileInfo(path).absolutePath() + '/' + aside.first());
            QVERIFY(kept.open(QIODevice::ReadOnly));
            QCOMPARE(kept.readAll(), before); // kept as it was, for whoever wants to look
        }
        if (logged == "moved aside") {
            // The new cache works: a second scan is served from it.
            const Outcome again = scan(o);
            QVERIFY2(again.log.contains("Reused 7 cached analysis results."),
                     qPrintable(again.log.join('\n')));
        } else {
            QVERIFY2(out.log.filter(QRegularExpression("^7 analysis results could not be stored")).size() ==
                         1,
                     qPrintable(out.log.join('\n')));
        }
        for (const QString &name : aside)
            QFile::remove(QFileInfo(path).absolutePath() + '/' + name);
        resetCache();
    }

    void noMatchingFiles()
    {
        ScanOptions o = options(0);
        o.extensions = {"xyz"};
        const Outcome out = scan(o);
        QCOMPARE(out.finishedCount, 1);
        QVERIFY(!out.cancelled);
        QVERIFY(out.tracks.isEmpty());
        QVERIFY(out.log.contains("No audio files matched the current filters."));
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
        QCOMPARE(out.finishedCount, 1);
        QVERIFY(out.cancelled);
        QVERIFY(out.phases.contains(phase));
        if (phase != "Grouping duplicates")
            QVERIFY(!out.phases.contains("Grouping duplicates") && out.groups.isEmpty());
        if (phase == "Fingerprinting audio") {
            int fingerprinted = 0;
            for (const TrackInfo &t : out.tracks)
                fingerprinted += t.fingerprint.isEmpty() ? 0 : 1;
            QVERIFY2(fingerprinted == 0, "no job is handed out after a cancel");
        }
    }

    void startWhileRunningIsIgnored()
    {
        ScanRig rig;
        ScanOptions o = options(0);
        // A direct call from inside a running scan is ignored.
        QSignalSpy started2(rig.controller, &ScanController::started);
        QSignalSpy finished2(rig.controller, &ScanController::finished);
        bool reentered = false;
        QObject::connect(
            rig.controller, &ScanController::phaseChanged, rig.controller,
            [&](const QString &p) {
                if (p == "Checking cache" && !reentered) {
                    reentered = true;
                    QVERIFY(rig.controller->isRunning());
                    rig.controller->start(o);
                }
            },
            Qt::DirectConnection);
        rig.start(o);
        QVERIFY(finished2.wait(240000));
        QTest::qWait(100);
        QVERIFY(reentered);
        QCOMPARE(started2.size(), 1);
        QCOMPARE(finished2.size(), 1);
        QVERIFY(!rig.controller->isRunning());
    }
};

QTEST_GUILESS_MAIN(TestScanController)
#include "tst_scancontroller.moc"

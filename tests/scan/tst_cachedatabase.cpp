#include "scan/CacheDatabase.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QThread>
#include <QtTest>

using namespace rvw;

namespace {

TrackInfo sampleTrack(const QString &path)
{
    TrackInfo t;
    t.path = path;
    t.size = 123456789012LL;
    t.mtime = QDateTime::fromMSecsSinceEpoch(1700000000123LL);
    t.fullHash = QString(64, 'a');
    t.audioHash = QString(64, 'b');
    t.title = QStringLiteral("Tëst – title");
    t.artist = "Artist";
    t.album = "Album";
    t.albumArtist = "Album Artist";
    t.genre = "Jazz+Funk";
    t.year = "1999";
    t.comment = "a comment, with 'quotes'";
    t.trackNo = 7;
    t.durationMs = 3LL * 3600 * 1000 + 5;
    t.bitrate = 320;
    t.sampleRate = 44100;
    t.channels = 2;
    t.fingerprint = {0u, 1u, 0xFFFFFFFFu, 0x80000000u};
    t.fingerprintMask = {0xFFFFFFFFu, 0u, 0x0F0F0F0Fu, 1u};
    t.fingerprintAlt = {42u};
    t.fingerprintAltMask = {};
    t.fingerprintKeys = {7u, 0xFFFFFFFFu, 20735u};
    t.analyses = TrackInfo::HasTags | TrackInfo::HasFullHash | TrackInfo::HasAudioHash | TrackInfo::HasFingerprint;
    return t;
}

TrackInfo keyOnly(const TrackInfo &t)
{
    TrackInfo k;
    k.path = t.path;
    k.size = t.size;
    k.mtime = t.mtime;
    return k;
}

} // namespace

class TestCacheDatabase : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName("KestrilonTest");
        QCoreApplication::setApplicationName("RavelwickCacheTest");
    }

    void init()
    {
        // Every test starts from a fresh file.
        const QString path = CacheDatabase::defaultPath();
        QFile::remove(path);
        QFile::remove(path + "-wal");
        QFile::remove(path + "-shm");
        const QDir folder = QFileInfo(path).absoluteDir();
        for (const QString &name : folder.entryList({"analysis-cache.sqlite.damaged-*"}))
            QFile::remove(folder.filePath(name));
    }

    void pathIsInTestLocation()
    {
        QVERIFY(CacheDatabase::defaultPath().endsWith("/analysis-cache.sqlite"));
        QVERIFY2(CacheDatabase::defaultPath().contains("qttest") ||
                     CacheDatabase::defaultPath().contains(".qttest"),
                 qPrintable(CacheDatabase::defaultPath()));
    }

    void roundTripEveryField()
    {
        CacheDatabase db;
        QString error;
        QVERIFY2(db.open(&error), qPrintable(error));
        const TrackInfo t = sampleTrack("/lib/a.flac");
        db.store(t, 0);
        QCOMPARE(db.rowCount(), 1);

        TrackInfo back = keyOnly(t);
        QVERIFY(db.lookup(back, 0));
        QVERIFY(back.analysed);
        QVERIFY(back.fromCache);
        QCOMPARE(back.fullHash, t.fullHash);
        QCOMPARE(back.audioHash, t.audioHash);
        QCOMPARE(back.title, t.title);
        QCOMPARE(back.artist, t.artist);
        QCOMPARE(back.album, t.album);
        QCOMPARE(back.albumArtist, t.albumArtist);
        QCOMPARE(back.genre, t.genre);
        QCOMPARE(back.year, t.year);
        QCOMPARE(back.comment, t.comment);
        QCOMPARE(back.trackNo, t.trackNo);
        QCOMPARE(back.durationMs, t.durationMs);
        QCOMPARE(back.bitrate, t.bitrate);
        QCOMPARE(back.sampleRate, t.sampleRate);
        QCOMPARE(back.channels, t.channels);
        QCOMPARE(back.fingerprint, t.fingerprint);
        QCOMPARE(back.fingerprintMask, t.fingerprintMask);
        QCOMPARE(back.fingerprintAlt, t.fingerprintAlt);
        QVERIFY(back.fingerprintAltMask.isEmpty());
        QCOMPARE(back.fingerprintKeys, t.fingerprintKeys);
    }

    void misses_data()
    {
        QTest::addColumn<qint64>("sizeDelta");
        QTest::addColumn<int>("mtimeDeltaMs");
        QTest::addColumn<int>("engine");
        QTest::addColumn<bool>("hit");
        QTest::newRow("unchanged") << qint64(0) << 0 << 0 << true;
        QTest::newRow("size changed") << qint64(1) << 0 << 0 << false;
        QTest::newRow("mtime later in the same second") << qint64(0) << 876 << 0 << true;
        QTest::newRow("mtime one second later") << qint64(0) << 1000 << 0 << false;
        QTest::newRow("mtime one second earlier") << qint64(0) << -1000 << 0 << false;
        QTest::newRow("other engine: all but the fingerprint") << qint64(0) << 0 << 1 << true;
    }
    void misses()
    {
        QFETCH(qint64, sizeDelta);
        QFETCH(int, mtimeDeltaMs);
        QFETCH(int, engine);
        QFETCH(bool, hit);
        CacheDatabase db;
        QVERIFY(db.open());
        const TrackInfo t = sampleTrack("/lib/b.mp3");
        db.store(t, 0);
        TrackInfo probe = keyOnly(t);
        probe.size += sizeDelta;
        probe.mtime = probe.mtime.addMSecs(mtimeDeltaMs);
        QCOMPARE(db.lookup(probe, engine), hit);
        if (hit) {
            QCOMPARE(probe.fullHash, t.fullHash);
            QCOMPARE(probe.fingerprint.isEmpty(), engine != 0);
            QCOMPARE(bool(probe.analyses & TrackInfo::HasFingerprint), engine == 0);
        } else {
            QVERIFY(!probe.analysed);
            QVERIFY(probe.title.isEmpty());
        }
    }

    // A cache written by an older version: its table lacks the newer columns and its rows
    // are stale. It opens, misses, and then stores and finds new rows in full.
    void cacheFromAnOlderVersion()
    {
        QFile::remove(CacheDatabase::defaultPath());
        QDir().mkpath(QFileInfo(CacheDatabase::defaultPath()).absolutePath());
        {
            QSqlDatabase old = QSqlDatabase::addDatabase("QSQLITE", "old-cache");
            old.setDatabaseName(CacheDatabase::defaultPath());
            QVERIFY(old.open());
            QSqlQuery q(old);
            QVERIFY(q.exec("CREATE TABLE tracks ( path TEXT PRIMARY KEY, size INTEGER NOT NULL, mtime INTEGER NOT "
                           "NULL, full_hash TEXT, audio_hash TEXT, title TEXT, artist TEXT, album TEXT, album_artist "
                           "TEXT, genre TEXT, year TEXT, comment TEXT, track_no INTEGER, duration_ms INTEGER, bitrate "
                           "INTEGER, sample_rate INTEGER, channels INTEGER, fingerprint BLOB, fingerprint_mask BLOB, "
                           "fingerprint_alt BLOB, fingerprint_alt_mask BLOB, engine INTEGER NOT NULL DEFAULT 0, "
                           "schema_version INTEGER NOT NULL DEFAULT 1, analysed_at INTEGER)"));
            const TrackInfo t = sampleTrack("/lib/old.mp3");
            QVERIFY(q.exec(QString("INSERT INTO tracks (path, size, mtime, engine, schema_version) VALUES ('%1', "
                                   "%2, %3, 0, 3)")
                               .arg(t.path)
                               .arg(t.size)
                               .arg(t.mtime.toSecsSinceEpoch())));
            old.close();
        }
        QSqlDatabase::removeDatabase("old-cache");
        CacheDatabase db;
        QVERIFY(db.open());
        TrackInfo probe = keyOnly(sampleTrack("/lib/old.mp3"));
        QVERIFY(!db.lookup(probe, 0));
        const TrackInfo fresh = sampleTrack("/lib/new.mp3");
        db.store(fresh, 0);
        TrackInfo back = keyOnly(fresh);
        QVERIFY(db.lookup(back, 0));
        QCOMPARE(back.fingerprintKeys, fresh.fingerprintKeys);
    }

    void emptyPathNeverStored()
    {
        CacheDatabase db;
        QVERIFY(db.open());
        TrackInfo t = sampleTrack(QString());
        db.store(t, 0);
        QCOMPARE(db.rowCount(), 0);
    }

    void sameKeyTwiceKeepsLater()
    {
        CacheDatabase db;
        QVERIFY(db.open());
        TrackInfo t = sampleTrack("/lib/c.ogg");
        db.store(t, 0);
        t.title = "Second";
        db.store(t, 0);
        QCOMPARE(db.rowCount(), 1);
        TrackInfo probe = keyOnly(t);
        QVERIFY(db.lookup(probe, 0));
        QCOMPARE(probe.title, QStringLiteral("Second"));
    }

    void closedHandleDoesNothing()
    {
        CacheDatabase db;
        TrackInfo t = sampleTrack("/lib/d.mp3");
        db.store(t, 0);
        QVERIFY(!db.lookup(t, 0));
        QCOMPARE(db.rowCount(), 0);
        QCOMPARE(db.prune(), 0);
        QVERIFY(!db.clear());
        db.beginBatch();
        db.commitBatch();
    }

    void clearShrinksFile()
    {
        CacheDatabase db;
        QVERIFY(db.open());
        db.beginBatch();
        TrackInfo t = sampleTrack("/x");
        t.fingerprint = QList<quint32>(2000, 0xABCDEF01u);
        for (int i = 0; i < 300; ++i) {
            t.path = QString("/lib/track%1.flac").arg(i);
            db.store(t, 0);
        }
        db.commitBatch();
        QCOMPARE(db.rowCount(), 300);
        {
            QSqlQuery q(QSqlDatabase::database(db.connectionName()));
            q.exec("PRAGMA wal_checkpoint(TRUNCATE)");
        }
        const qint64 before = db.fileSizeBytes();
        QVERIFY(before > 1000000);
        QString error;
        QVERIFY2(db.clear(&error), qPrintable(error));
        QCOMPARE(db.rowCount(), 0);
        QVERIFY2(db.fileSizeBytes() < before / 10,
                 qPrintable(QString("%1 -> %2").arg(before).arg(db.fileSizeBytes())));
    }

    void pruneRemovesMissingFiles()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString present = dir.filePath("here.mp3");
        QFile f(present);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        CacheDatabase db;
        QVERIFY(db.open());
        db.store(sampleTrack(present), 0);
        db.store(sampleTrack(dir.filePath("gone1.mp3")), 0);
        db.store(sampleTrack(dir.filePath("gone2.mp3")), 0);
        QCOMPARE(db.prune(), 2);
        QCOMPARE(db.rowCount(), 1);
        QCOMPARE(db.prune(), 0);
    }

    void persistsAcrossInstances()
    {
        const TrackInfo t = sampleTrack("/lib/persist.wav");
        {
            CacheDatabase db;
            QVERIFY(db.open());
            db.store(t, 1);
        }
        CacheDatabase again;
        QVERIFY(again.open());
        TrackInfo probe = keyOnly(t);
        QVERIFY(again.lookup(probe, 1));
        QCOMPARE(probe.fingerprint, t.fingerprint);
    }

    void twoInstancesOnTwoThreads()
    {
        CacheDatabase mine;
        QVERIFY(mine.open());
        mine.store(sampleTrack("/lib/main.mp3"), 0);

        bool otherOk = false;
        int otherRows = -1;
        QString otherName;
        QThread *worker = QThread::create([&] {
            CacheDatabase other;
            otherOk = other.open();
            otherName = other.connectionName();
            other.store(sampleTrack("/lib/thread.mp3"), 0);
            otherRows = other.rowCount();
        });
        worker->start();
        QVERIFY(worker->wait(20000));
        delete worker;
        QVERIFY(otherOk);
        QVERIFY(otherName != mine.connectionName());
        QVERIFY(otherName.startsWith("rvw-cache-"));
        QCOMPARE(otherName.size(), int(QString("rvw-cache-").size()) + 32);
        QCOMPARE(otherRows, 2);
        QCOMPARE(mine.rowCount(), 2);
        QVERIFY(!QSqlDatabase::contains(otherName));
    }

    // A row records what it holds: one stored before the hashes were made serves the tags only.
    void rowHoldsOnlyWhatWasAnalysed()
    {
        CacheDatabase db;
        QVERIFY(db.open());
        TrackInfo t = sampleTrack("/lib/partial.mp3");
        t.analyses = TrackInfo::HasTags;
        t.fullHash.clear();
        QVERIFY(db.store(t, 0));
        TrackInfo probe = keyOnly(t);
        QVERIFY(db.lookup(probe, 0));
        QCOMPARE(int(probe.analyses), int(TrackInfo::HasTags));
        TrackInfo untagged = sampleTrack("/lib/untagged.mp3");
        untagged.analyses = 0; // cut short before even the tags: nothing to serve
        db.store(untagged, 0);
        TrackInfo probe2 = keyOnly(untagged);
        QVERIFY(!db.lookup(probe2, 0));
    }

    // A locked cache fails the batch at its first row, with the reason, instead of waiting
    // again for each row; another connection's lock is never broken.
    void lockedCacheReportsWhatWasNotStored()
    {
        CacheDatabase db;
        QVERIFY(db.open());
        {
            QSqlDatabase holder = QSqlDatabase::addDatabase("QSQLITE", "lock-holder");
            holder.setDatabaseName(CacheDatabase::defaultPath());
            holder.setConnectOptions("QSQLITE_BUSY_TIMEOUT=0");
            QVERIFY(holder.open());
            QSqlQuery q(holder);
            QVERIFY(q.exec("BEGIN IMMEDIATE"));
            QList<TrackInfo> batch;
            for (int i = 0; i < 40; ++i) {
                batch.append(sampleTrack(QString("/lib/locked%1.mp3").arg(i)));
                batch.last().analysed = true;
            }
            QCOMPARE(db.storeAll(batch, 0), 40);
            QVERIFY2(db.lastError().contains("locked"), qPrintable(db.lastError()));
            QVERIFY(q.exec("ROLLBACK"));
            QCOMPARE(db.storeAll(batch, 0), 0);
            QCOMPARE(db.rowCount(), 40);
            holder.close();
        }
        QSqlDatabase::removeDatabase("lock-holder");
    }

    // Not a database: moved aside untouched, and a new cache takes its place.
    void notADatabase()
    {
        QDir().mkpath(QFileInfo(CacheDatabase::defaultPath()).absolutePath());
        QFile f(CacheDatabase::defaultPath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(8192, 'Z'));
        f.close();
        CacheDatabase db;
        QString error;
        QVERIFY2(db.open(&error), qPrintable(error));
        QVERIFY2(db.notice().contains("moved aside"), qPrintable(db.notice()));
        QVERIFY(db.store(sampleTrack("/lib/x.mp3"), 0));
        const QDir folder = QFileInfo(CacheDatabase::defaultPath()).absoluteDir();
        const QStringList aside = folder.entryList({"analysis-cache.sqlite.damaged-*"});
        QCOMPARE(aside.size(), 1);
        QFile check(folder.filePath(aside.first()));
        QVERIFY(check.open(QIODevice::ReadOnly));
        QCOMPARE(check.readAll(), QByteArray(8192, 'Z'));
        QVERIFY(check.remove());
    }

    // "Clear cache" on a cache whose pages are damaged still leaves an empty, working cache.
    void clearWorksOnDamagedPages()
    {
        {
            CacheDatabase db;
            QVERIFY(db.open());
            TrackInfo t = sampleTrack("/x");
            t.fingerprint = QList<quint32>(1000, 7u);
            db.beginBatch();
            for (int i = 0; i < 200; ++i) {
                t.path = QString("/lib/many%1.flac").arg(i);
                db.store(t, 0);
            }
            db.commitBatch();
        }
        QFile f(CacheDatabase::defaultPath());
        QVERIFY(f.open(QIODevice::ReadWrite));
        QByteArray bytes = f.readAll();
        QVERIFY(bytes.size() > 40 * 4096);
        for (qsizetype at = 4096; at + 4096 <= bytes.size(); at += 4096)
            bytes.replace(at, 4096, QByteArray(4096, '\x5A'));
        QVERIFY(f.seek(0) && f.write(bytes) == bytes.size());
        f.close();
        CacheDatabase db;
        QVERIFY(db.open());
        QString error;
        QVERIFY2(db.clear(&error), qPrintable(error));
        QCOMPARE(db.rowCount(), 0);
        QVERIFY(db.store(sampleTrack("/lib/after.mp3"), 0));
        QCOMPARE(db.rowCount(), 1);
    }

    void closeRemovesConnection()
    {
        QString name;
        {
            CacheDatabase db;
            QVERIFY(db.open());
            name = db.connectionName();
            QVERIFY(QSqlDatabase::contains(name));
            db.close();
            QVERIFY(!QSqlDatabase::contains(name));
            QVERIFY(db.open());
        }
        QVERIFY(!QSqlDatabase::contains(name));
    }
};

QTEST_GUILESS_MAIN(TestCacheDatabase)
#include "tst_cachedatabase.moc"

#include "scan/CacheDatabase.h"

#include <QDir>
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
    int n = 0; // every text differs, so that no column can stand in for another
    for (QString *text : {&t.fullHash, &t.audioHash, &t.title, &t.artist, &t.album, &t.albumArtist, &t.genre,
                          &t.year, &t.comment})
        *text = QStringLiteral("Tëst – 'quoted', %1").arg(++n);
    std::tie(t.trackNo, t.bitrate, t.sampleRate, t.channels) = std::make_tuple(7, 320, 44100, 2);
    std::tie(t.durationMs, t.payloadLength) = std::make_tuple(3LL * 3600 * 1000 + 5, 987654321LL);
    t.fingerprint = {0u, 1u, 0xFFFFFFFFu, 0x80000000u};
    t.fingerprintMask = {0xFFFFFFFFu, 0u, 0x0F0F0F0Fu, 1u};
    t.fingerprintAlt = {42u};
    t.fingerprintKeys = {7u, 0xFFFFFFFFu, 20735u};
    t.analyses =
        TrackInfo::HasTags | TrackInfo::HasFullHash | TrackInfo::HasAudioHash | TrackInfo::HasFingerprint;
    t.analysed = true;
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

// Everything a row serves, in one comparable list.
QStringList fields(const TrackInfo &t)
{
    QStringList out{t.fullHash,    t.audioHash, t.title, t.artist, t.album,
                    t.albumArtist, t.genre,     t.year,  t.comment};
    for (qint64 n : {qint64(t.trackNo), t.durationMs, qint64(t.bitrate), qint64(t.sampleRate),
                     qint64(t.channels), t.payloadLength, qint64(t.analyses)})
        out << QString::number(n);
    for (const auto *list :
         {&t.fingerprint, &t.fingerprintMask, &t.fingerprintAlt, &t.fingerprintAltMask, &t.fingerprintKeys}) {
        QStringList words;
        for (quint32 w : *list)
            words << QString::number(w, 16);
        out << words.join(',');
    }
    return out;
}

// Runs statements on the cache file through a connection of the test's own.
bool runSql(const QStringList &statements)
{
    bool ok = true;
    {
        QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "test-side");
        other.setDatabaseName(CacheDatabase::defaultPath());
        ok = other.open();
        QSqlQuery q(other);
        for (const QString &s : statements)
            ok = ok && q.exec(s);
    }
    QSqlDatabase::removeDatabase("test-side");
    return ok;
}

QStringList asideFiles()
{
    return QFileInfo(CacheDatabase::defaultPath())
        .absoluteDir()
        .entryList({"analysis-cache.sqlite.damaged-*"});
}

} // namespace

class TestCacheDatabase : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setApplicationName("RavelwickCacheTest");
        QVERIFY(CacheDatabase::defaultPath().contains("qttest")); // never the user's own cache
    }

    void init()
    {
        const QString path = CacheDatabase::defaultPath();
        QDir().mkpath(QFileInfo(path).absolutePath());
        for (const QString &name : asideFiles() + QStringList{path, path + "-wal", path + "-shm"})
            QFile::remove(QFileInfo(path).absoluteDir().filePath(name));
    }

    // Read back through a new connection, as the next scan would.
    void lookup_data()
    {
        QTest::addColumn<int>("analyses");
        QTest::addColumn<qint64>("sizeDelta");
        QTest::addColumn<int>("mtimeDeltaMs");
        QTest::addColumn<int>("engine");
        QTest::addColumn<bool>("hit");
        const int all = sampleTrack({}).analyses;
        QTest::newRow("unchanged") << all << qint64(0) << 0 << 0 << true;
        QTest::newRow("size changed") << all << qint64(1) << 0 << 0 << false;
        QTest::newRow("size smaller") << all << qint64(-1) << 0 << 0 << false;
        QTest::newRow("mtime later in the same second") << all << qint64(0) << 876 << 0 << true;
        QTest::newRow("mtime one second later") << all << qint64(0) << 1000 << 0 << false;
        QTest::newRow("mtime one second earlier") << all << qint64(0) << -1000 << 0 << false;
        QTest::newRow("other engine: all but the fingerprint") << all << qint64(0) << 0 << 1 << true;
        QTest::newRow("tags only") << int(TrackInfo::HasTags) << qint64(0) << 0 << 0 << true;
        QTest::newRow("hashes without tags serve nothing")
            << int(TrackInfo::HasFullHash) << qint64(0) << 0 << 0 << false;
        QTest::newRow("nothing analysed") << 0 << qint64(0) << 0 << 0 << false;
    }
    void lookup()
    {
        QFETCH(int, engine);
        QFETCH(bool, hit);
        TrackInfo t = sampleTrack("/lib/b.mp3");
        QFETCH(int, analyses);
        t.analyses = quint8(analyses);
        {
            CacheDatabase db;
            QVERIFY(db.open() && db.store(t, 0));
        }
        CacheDatabase db;
        QVERIFY(db.open());
        TrackInfo probe = keyOnly(t);
        QFETCH(qint64, sizeDelta);
        QFETCH(int, mtimeDeltaMs);
        probe.size = t.size + sizeDelta;
        probe.mtime = t.mtime.addMSecs(mtimeDeltaMs);
        QCOMPARE(db.lookup(probe, engine), hit);
        QCOMPARE(probe.analysed && probe.fromCache, hit);
        if (engine != 0) { // another engine's fingerprint cannot be compared with this one's
            t.analyses &= quint8(~TrackInfo::HasFingerprint);
            t.fingerprint = t.fingerprintMask = t.fingerprintAlt = t.fingerprintKeys = {};
        }
        QCOMPARE(fields(probe), fields(hit ? t : keyOnly(t)));
    }

    // A file that is no cache of ours is moved aside untouched and a new cache takes its place; a
    // cache from an older version is brought up to date in place, its stale rows missing.
    void existingFile_data()
    {
        QTest::addColumn<QStringList>("statements");
        QTest::addColumn<bool>("movedAside");
        QTest::newRow("not a database") << QStringList{} << true;
        QTest::newRow("another program's table")
            << QStringList{"DROP TABLE tracks", "CREATE TABLE tracks (path TEXT PRIMARY KEY, rating INTEGER)"}
            << true;
        QTest::newRow("older version")
            << QStringList{"DELETE FROM tracks", "ALTER TABLE tracks DROP COLUMN analyses",
                           "ALTER TABLE tracks DROP COLUMN fingerprint_keys",
                           "INSERT INTO tracks (path, size, mtime, engine, schema_version) "
                           "VALUES ('/lib/old.mp3', 123456789012, 1700000000, 0, 3)"}
            << false;
    }
    void existingFile()
    {
        QFETCH(QStringList, statements);
        QFETCH(bool, movedAside);
        QFile f(CacheDatabase::defaultPath());
        if (statements.isEmpty())
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(QByteArray(8192, 'Z')) == 8192);
        else
            QVERIFY(CacheDatabase().open() && runSql(statements)); // changes a cache as this version makes it
        f.close();
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray original = f.readAll();
        f.close();
        CacheDatabase db;
        QString error;
        QVERIFY2(db.open(&error), qPrintable(error));
        QCOMPARE(db.notice().contains("moved aside"), movedAside);
        const QStringList aside = asideFiles();
        QCOMPARE(aside.size(), movedAside ? 1 : 0);
        if (movedAside) {
            QFile moved(QFileInfo(CacheDatabase::defaultPath()).absoluteDir().filePath(aside.first()));
            QVERIFY(moved.open(QIODevice::ReadOnly));
            QCOMPARE(moved.readAll().mid(100), original.mid(100)); // the header may say WAL now
        }
        TrackInfo old = keyOnly(sampleTrack("/lib/old.mp3"));
        QVERIFY(!db.lookup(old, 0));
        const TrackInfo fresh = sampleTrack("/lib/new.mp3");
        QVERIFY(db.store(fresh, 0));
        TrackInfo back = keyOnly(fresh);
        QVERIFY(db.lookup(back, 0));
        QCOMPARE(fields(back), fields(fresh));
    }

    // storeAll writes what is new in one transaction, stops at the first row that fails (a locked
    // cache fails at once, instead of waiting again for each row), and says how many rows it did not
    // store; another connection's lock is never broken.
    void storeAll_data()
    {
        QTest::addColumn<QStringList>("kinds");
        QTest::addColumn<int>("notStored");
        QTest::addColumn<int>("rows");
        QTest::newRow("all new") << QStringList{"new", "new", "new"} << 0 << 3;
        QTest::newRow("locked by another connection") << QStringList{"locked", "new", "new"} << 3 << 0;
        QTest::newRow("nothing worth storing")
            << QStringList{"not analysed", "error", "no path", "unchanged from cache"} << 0 << 0;
        QTest::newRow("cached row with new analyses") << QStringList{"more than cached", "new"} << 0 << 2;
        QTest::newRow("refused row stops the batch") << QStringList{"new", "refused", "new", "new"} << 3 << 1;
    }
    void storeAll()
    {
        QFETCH(QStringList, kinds);
        CacheDatabase db;
        QVERIFY(db.open());
        QVERIFY(runSql({"CREATE TRIGGER refuse BEFORE INSERT ON tracks WHEN NEW.path LIKE '%refused%' "
                        "BEGIN SELECT RAISE(ABORT, 'row refused'); END"}));
        QList<TrackInfo> batch;
        for (const QString &kind : kinds) {
            TrackInfo t = sampleTrack(QString("/lib/%1-%2.mp3").arg(kind).arg(batch.size()));
            t.analysed = kind != "not analysed";
            t.error = kind == "error" ? "unreadable" : "";
            t.path = kind == "no path" ? QString() : t.path;
            t.fromCache = kind.contains("cache");
            t.cachedAnalyses = kind == "unchanged from cache" ? t.analyses : quint8(TrackInfo::HasTags);
            batch << t;
        }
        {
            QSqlDatabase holder = QSqlDatabase::addDatabase("QSQLITE", "lock-holder");
            holder.setDatabaseName(CacheDatabase::defaultPath());
            QVERIFY(holder.open());
            QSqlQuery q(holder);
            QVERIFY(!kinds.contains("locked") || q.exec("BEGIN IMMEDIATE"));
            QTEST(db.storeAll(batch, 0), "notStored");
            QCOMPARE(db.lastError().contains("locked"), kinds.contains("locked"));
            QVERIFY(!kinds.contains("locked") || q.exec("ROLLBACK"));
        }
        QSqlDatabase::removeDatabase("lock-holder");
        QTEST(db.rowCount(), "rows");
        QCOMPARE(db.lastError().contains("row refused"), kinds.contains("refused"));
        if (kinds.contains("locked")) { // once the lock is gone, everything is stored
            QCOMPARE(db.storeAll(batch, 0), 0);
            QCOMPARE(db.rowCount(), 3);
        }
    }

    // "Clear cache" leaves an empty, working cache that gives the space back, even when the
    // cache's pages are damaged.
    void clear_data()
    {
        QTest::addColumn<bool>("damage");
        QTest::newRow("healthy") << false;
        QTest::newRow("damaged pages") << true;
    }
    void clear()
    {
        QFETCH(bool, damage);
        {
            CacheDatabase db;
            QVERIFY(db.open());
            TrackInfo t = sampleTrack("/x");
            t.fingerprint = QList<quint32>(2000, 0xABCDEF01u);
            db.beginBatch();
            for (int i = 0; i < 300; ++i) {
                t.path = QString("/lib/track%1.flac").arg(i);
                QVERIFY(db.store(t, 0));
            }
            db.commitBatch();
        }
        QFile f(CacheDatabase::defaultPath());
        QVERIFY(f.open(QIODevice::ReadWrite));
        QByteArray bytes = f.readAll();
        QVERIFY(bytes.size() > 1000000);
        for (qsizetype at = 4096; damage && at + 4096 <= bytes.size(); at += 4096)
            bytes.replace(at, 4096, QByteArray(4096, '\x5A'));
        QVERIFY(f.seek(0) && f.write(bytes) == bytes.size());
        f.close();
        CacheDatabase db;
        QVERIFY(db.open());
        QString error;
        QVERIFY2(db.clear(&error), qPrintable(error));
        QCOMPARE(db.rowCount(), 0);
        QVERIFY2(db.fileSizeBytes() < bytes.size() / 10, qPrintable(QString::number(db.fileSizeBytes())));
        QVERIFY(db.store(sampleTrack("/lib/after.mp3"), 0));
        QCOMPARE(db.rowCount(), 1);
    }

    void pruneRemovesMissingFiles()
    {
        QTemporaryDir dir;
        QFile present(dir.filePath("here.mp3"));
        QVERIFY(present.open(QIODevice::WriteOnly));
        CacheDatabase db;
        QVERIFY(db.open() && db.store(sampleTrack(dir.filePath("here.mp3")), 0)); // stored twice, kept once
        for (const char *name : {"here.mp3", "gone1.mp3", "gone2.mp3"})
            QVERIFY(db.store(sampleTrack(dir.filePath(name)), 0));
        QCOMPARE(db.prune(), 2);
        QCOMPARE(db.rowCount(), 1);
        QCOMPARE(db.prune(), 0);
    }

    // Each thread has a connection of its own; both see each other's rows, and a closed handle
    // does nothing and leaves no connection behind.
    void connections()
    {
        CacheDatabase mine;
        QVERIFY(!mine.store(sampleTrack("/lib/early.mp3"), 0) && !mine.clear());
        QVERIFY(mine.open() && mine.store(sampleTrack("/lib/main.mp3"), 0) &&
                !mine.store(sampleTrack({}), 0));
        bool otherOk = false;
        int otherRows = -1;
        QString otherName;
        QThread *worker = QThread::create([&] {
            CacheDatabase other;
            otherOk = other.open() && other.store(sampleTrack("/lib/thread.mp3"), 0);
            otherName = other.connectionName();
            otherRows = other.rowCount();
        });
        worker->start();
        QVERIFY(worker->wait(60000));
        delete worker;
        QVERIFY(otherOk);
        QVERIFY(otherName != mine.connectionName());
        QVERIFY(!QSqlDatabase::contains(otherName));
        QCOMPARE(otherRows, 2); // each sees the other's rows
        QCOMPARE(mine.rowCount(), 2);
        const QString name = mine.connectionName();
        mine.close();
        QVERIFY(!QSqlDatabase::contains(name));
        TrackInfo probe = keyOnly(sampleTrack("/lib/main.mp3"));
        QVERIFY(!mine.lookup(probe, 0) && mine.rowCount() == 0 && mine.prune() == 0);
        QVERIFY(mine.open());
        QVERIFY(mine.lookup(probe, 0));
    }
};

QTEST_GUILESS_MAIN(TestCacheDatabase)
#include "tst_cachedatabase.moc"

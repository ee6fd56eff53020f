#include "scan/CacheDatabase.h"

#include <QSqlQuery>
#include <QStandardPaths>
#include <QtTest>

using namespace rvw;

namespace {

constexpr quint8 kAll =
    TrackInfo::HasTags | TrackInfo::HasFullHash | TrackInfo::HasAudioHash | TrackInfo::HasFingerprint;

// Every text and number differs, so that no column can stand in for another.
TrackInfo sample(const QString &path, quint8 analyses = kAll, bool keyOnly = false)
{
    TrackInfo t;
    std::tie(t.path, t.size, t.mtime) =
        std::make_tuple(path, 123456789012LL, QDateTime::fromMSecsSinceEpoch(1700000000123LL));
    if (keyOnly)
        return t;
    int n = 0;
    for (QString *text : {&t.fullHash, &t.audioHash, &t.title, &t.artist, &t.album, &t.albumArtist, &t.genre,
                          &t.year, &t.comment})
        *text = QStringLiteral("Tëst – 'quoted', %1").arg(++n);
    std::tie(t.trackNo, t.bitrate, t.sampleRate, t.channels, t.durationMs, t.payloadLength) =
        std::make_tuple(7, 320, 44100, 2, 3LL * 3600 * 1000 + 5, 987654321LL);
    t.fingerprint = {0u, 1u, 0xFFFFFFFFu, 0x80000000u};
    t.fingerprintMask = {0xFFFFFFFFu, 0u, 0x0F0F0F0Fu, 1u};
    t.fingerprintAlt = {42u};
    t.fingerprintKeys = {7u, 0xFFFFFFFFu, 20735u};
    std::tie(t.analyses, t.analysed) = std::make_tuple(analyses, true);
    return t;
}

// Everything a row serves, in one comparable string.
QString fields(const TrackInfo &t)
{
    QString s;
    QDebug(&s) << t.fullHash << t.audioHash << t.title << t.artist << t.album << t.albumArtist << t.genre
               << t.year << t.comment << t.trackNo << t.durationMs << t.bitrate << t.sampleRate << t.channels
               << t.payloadLength << int(t.analyses) << t.analysed << t.fromCache << t.fingerprint
               << t.fingerprintMask << t.fingerprintAlt << t.fingerprintAltMask << t.fingerprintKeys;
    return s;
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

const auto cacheDir = [] { return QFileInfo(CacheDatabase::defaultPath()).absoluteDir(); };

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
    void init() { QVERIFY(cacheDir().removeRecursively() && cacheDir().mkpath(".")); }

    // Read back through a new connection, as the next scan would.
    void lookup_data()
    {
        QTest::addColumn<int>("analyses");
        QTest::addColumn<qint64>("sizeDelta");
        QTest::addColumn<int>("mtimeDeltaMs");
        QTest::addColumn<int>("engine");
        QTest::addColumn<bool>("hit");
        // clang-format off
        QTest::addRow("unchanged") << int(kAll) << qint64(0) << 0 << 0 << true;
        QTest::addRow("size changed") << int(kAll) << qint64(-1) << 0 << 0 << false;
        QTest::addRow("mtime later in the same second") << int(kAll) << qint64(0) << 876 << 0 << true;
        QTest::addRow("mtime one second later") << int(kAll) << qint64(0) << 1000 << 0 << false;
        QTest::addRow("other engine: all but the fingerprint") << int(kAll) << qint64(0) << 0 << 1 << true;
        QTest::addRow("tags only") << int(TrackInfo::HasTags) << qint64(0) << 0 << 0 << true;
        QTest::addRow("hashes without tags") << int(TrackInfo::HasFullHash) << qint64(0) << 0 << 0 << false;
        // clang-format on
    }
    void lookup()
    {
        QFETCH(int, analyses);
        QFETCH(qint64, sizeDelta);
        QFETCH(int, mtimeDeltaMs);
        QFETCH(int, engine);
        QFETCH(bool, hit);
        TrackInfo t = sample("/lib/b.mp3", quint8(analyses)), probe = sample(t.path, 0, true);
        QVERIFY([&] {
            CacheDatabase db;
            return db.open() && db.store(t, 0);
        }());
        CacheDatabase db;
        probe.size += sizeDelta;
        probe.mtime = t.mtime.addMSecs(mtimeDeltaMs);
        QVERIFY(db.open());
        QCOMPARE(db.lookup(probe, engine), hit);
        t.fromCache = true;
        if (engine != 0) {
            t.analyses &= quint8(~TrackInfo::HasFingerprint);
            t.fingerprint = t.fingerprintMask = t.fingerprintAlt = t.fingerprintKeys = {};
        }
        QCOMPARE(fields(probe), fields(hit ? t : sample(t.path, 0, true)));
    }

    // A file that is no cache of ours is moved aside untouched and a new cache takes its place; a
    // cache of an older version is brought up to date in place, its stale rows missed; damaged pages,
    // cleared or rebuilt once a statement met them, leave an empty working cache that gives the space back.
    void existingFile_data()
    {
        QTest::addColumn<QStringList>("statements");
        QTest::addColumn<qint64>("damageFrom"); // the offset from which every byte is overwritten
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("expected"); // rows counted once a new row is stored
        const QString drop = "ALTER TABLE tracks DROP COLUMN ";
        // clang-format off
        QTest::addRow("not a database") << QStringList{} << qint64(0) << "" << "miss sound, notice moved, 1 aside, 1 rows";
        QTest::addRow("another program's table") << QStringList{"DROP TABLE tracks", "CREATE TABLE tracks (path TEXT PRIMARY KEY, rating INTEGER)"} << qint64(-1) << "" << "miss sound, notice moved, 1 aside, 1 rows";
        QTest::addRow("older version") << QStringList{drop + "fingerprint_keys", drop + "payload_length", "UPDATE tracks SET schema_version = 8"} << qint64(-1) << "" << "miss sound, notice kept, 0 aside, 41 rows";
        QTest::addRow("healthy, cleared") << QStringList{} << qint64(-1) << "clear" << "hit sound, notice kept, 0 aside, 1 rows";
        QTest::addRow("damaged pages, cleared") << QStringList{} << qint64(4096) << "clear" << "miss damaged, notice kept, 0 aside, 1 rows";
        QTest::addRow("damaged pages, rebuilt") << QStringList{} << qint64(4096) << "rebuild" << "miss damaged, notice moved, 1 aside, 1 rows";
        // clang-format on
    }
    void existingFile()
    {
        QFETCH(QStringList, statements);
        QFETCH(qint64, damageFrom);
        QFETCH(QString, action);
        {
            CacheDatabase db;
            QVERIFY(db.open());
            db.beginBatch();
            for (int i = 0; i < 40; ++i) {
                TrackInfo t = sample(QString("/lib/%1.flac").arg(i));
                t.fingerprintAltMask = QList<quint32>(2500, 0xABCDEF01u);
                QVERIFY(db.store(t, 0));
            }
            db.commitBatch();
        }
        QVERIFY(runSql(statements));
        QFile f(CacheDatabase::defaultPath());
        QVERIFY(f.open(QIODevice::ReadWrite));
        QByteArray original = f.readAll();
        if (damageFrom >= 0)
            original.replace(damageFrom, original.size() - damageFrom,
                             QByteArray(original.size() - damageFrom, 'Z'));
        QVERIFY(original.size() > 400000 && f.seek(0) && f.write(original) == original.size());
        f.close();

        CacheDatabase db;
        QString error;
        QVERIFY2(db.open(&error), qPrintable(error));
        TrackInfo probe = sample("/lib/7.flac", 0, true), back = sample("/lib/new.mp3", 0, true),
                  stored = sample("/lib/new.mp3");
        // The read finds the damage, so it goes first.
        QString outcome = db.lookup(probe, 0) ? "hit " : "miss ";
        outcome += db.isDamaged() ? "damaged" : "sound";
        if (!action.isEmpty())
            QVERIFY2(action == "clear" ? db.clear(&error) : db.rebuild(), qPrintable(error));
        const QStringList aside = cacheDir().entryList({"analysis-cache.sqlite.damaged-*"});
        QFile old(cacheDir().filePath(aside.value(0)));
        QVERIFY(aside.isEmpty() ||
                (old.open(QIODevice::ReadOnly) && old.readAll().mid(100) == original.mid(100)));
        QVERIFY(action.isEmpty() || db.fileSizeBytes() < original.size() / 10);
        QVERIFY(db.store(stored, 0) && (action.isEmpty() || !db.isDamaged()) && db.lookup(back, 0));
        stored.fromCache = true;
        QCOMPARE(fields(back), fields(stored));
        QTEST(outcome + QString(", notice %1, %2 aside, %3 rows")
                            .arg(db.notice().contains("moved aside") ? "moved" : "kept")
                            .arg(aside.size())
                            .arg(db.rowCount()),
              "expected");
    }

    // storeAll writes what is new in one transaction, skips what is not worth storing, stops at the
    // first row that fails (the next would fail the same way) and says how many rows it did not store.
    void storeAll()
    {
        CacheDatabase db;
        QVERIFY(db.open());
        QVERIFY(runSql({"CREATE TRIGGER refuse BEFORE INSERT ON tracks WHEN NEW.path LIKE '%refused%' "
                        "BEGIN SELECT RAISE(ABORT, 'row refused'); END"}));
        QList<TrackInfo> batch;
        for (const QString kind : {"new", "not analysed", "error", "no path", "unchanged from cache",
                                   "more than cached", "new", "refused", "new"}) {
            batch << sample(kind == "no path" ? QString()
                                              : QString("/lib/%1-%2.mp3").arg(kind).arg(batch.size()));
            batch.last().analysed = kind != "not analysed";
            batch.last().error = kind == "error" ? "unreadable" : "";
            batch.last().fromCache = kind.contains("cache");
            batch.last().cachedAnalyses = kind.startsWith("unchanged") ? kAll : quint8(TrackInfo::HasTags);
        }
        const int notStored = db.storeAll(batch, 0);
        QCOMPARE(QString("%1 not stored, %2 rows, %3")
                     .arg(notStored)
                     .arg(db.rowCount())
                     .arg(db.lastError().section(" ", 0, 1)),
                 "2 not stored, 3 rows, row refused");
    }

    // Handles have connections of their own and see each other's rows; a closed one does nothing and
    // leaves no connection behind. Rows of files that are gone are dropped; pruneBelow spares rows
    // outside the scanned folders (a drive not mounted now) and files the scan found.
    void handlesAndPruning()
    {
        QTemporaryDir dir;
        QVERIFY(QFile(dir.filePath("here.mp3")).open(QIODevice::WriteOnly));
        CacheDatabase mine, other;
        QVERIFY(!mine.store(sample("/lib/early.mp3"), 0) && !mine.clear());
        QVERIFY(mine.open() && other.open() && !mine.store(sample({}), 0));
        for (const QString &p :
             {dir.filePath("here.mp3"), dir.filePath("gone.mp3"), dir.filePath("found.mp3"),
              QString("/elsewhere/gone.mp3"), dir.filePath("here.mp3")})
            QVERIFY((p.contains("gone") ? other : mine).store(sample(p), 0));
        const QList<int> counts{mine.rowCount() + other.rowCount(),
                                mine.pruneBelow({dir.path()}, {dir.filePath("found.mp3")})};
        const QString name = mine.connectionName();
        mine.close();
        TrackInfo probe = sample(dir.filePath("here.mp3"), 0, true);
        QVERIFY(!QSqlDatabase::contains(name) && !mine.lookup(probe, 0) && mine.rowCount() == 0 &&
                mine.prune() == 0);
        QCOMPARE(counts + QList<int>({other.prune(), other.rowCount(), other.prune()}),
                 QList<int>({8, 1, 2, 1, 0}));
        QVERIFY(mine.open() && mine.lookup(probe, 0));
    }
};

QTEST_GUILESS_MAIN(TestCacheDatabase)
#include "tst_cachedatabase.moc"
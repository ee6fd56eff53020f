#include "scan/CacheDatabase.h"

#include "audio/Fingerprint.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QUuid>
#include <QVariant>

namespace rvw {

namespace {

const char *const kCreateTable =
    "CREATE TABLE IF NOT EXISTS tracks ( path TEXT PRIMARY KEY, size INTEGER NOT NULL, mtime INTEGER NOT NULL, "
    "full_hash TEXT, audio_hash TEXT, title TEXT, artist TEXT, album TEXT, album_artist TEXT, genre TEXT, "
    "year TEXT, comment TEXT, track_no INTEGER, duration_ms INTEGER, bitrate INTEGER, sample_rate INTEGER, "
    "channels INTEGER, fingerprint BLOB, fingerprint_mask BLOB, fingerprint_alt BLOB, fingerprint_alt_mask "
    "BLOB, engine INTEGER NOT NULL DEFAULT 0, schema_version INTEGER NOT NULL DEFAULT 1, analysed_at INTEGER, "
    "fingerprint_keys BLOB)";

// Caches made before the index keys existed get the column; their rows carry an older
// schema version and are analysed again.
const char *const kAddKeys = "ALTER TABLE tracks ADD COLUMN fingerprint_keys BLOB";

const char *const kCreateIndex = "CREATE INDEX IF NOT EXISTS idx_tracks_audio ON tracks(audio_hash)";

const char *const kSelect =
    "SELECT size, mtime, full_hash, audio_hash, title, artist, album, album_artist, genre, year, comment, "
    "track_no, duration_ms, bitrate, sample_rate, channels, fingerprint, fingerprint_mask, fingerprint_alt, "
    "fingerprint_alt_mask, schema_version, engine, fingerprint_keys FROM tracks WHERE path = ?";

const char *const kInsert =
    "INSERT OR REPLACE INTO tracks (path,size,mtime,full_hash,audio_hash,title,artist, "
    "album,album_artist,genre,year,comment,track_no,duration_ms,bitrate,sample_rate, "
    "channels,fingerprint,fingerprint_mask,fingerprint_alt,fingerprint_alt_mask, "
    "engine,schema_version,analysed_at,fingerprint_keys) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)";

// SQLite has no separate empty-string type; a null text column reads back as empty.
QString text(const QVariant &v) { return v.isNull() ? QString() : v.toString(); }

} // namespace

CacheDatabase::CacheDatabase()
    : m_connectionName(QStringLiteral("rvw-cache-%1").arg(QUuid::createUuid().toString(QUuid::Id128)))
{
}

CacheDatabase::~CacheDatabase() { close(); }

QString CacheDatabase::defaultPath()
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    return QDir(dir).filePath(QStringLiteral("analysis-cache.sqlite"));
}

bool CacheDatabase::isOpen() const { return m_db.isValid() && m_db.isOpen(); }

bool CacheDatabase::open(QString *error)
{
    if (isOpen())
        return true;
    m_path = defaultPath();
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    if (!QSqlDatabase::contains(m_connectionName))
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    else
        m_db = QSqlDatabase::database(m_connectionName, false);
    m_db.setDatabaseName(m_path);
    if (!m_db.open()) {
        if (error)
            *error = m_db.lastError().text();
        return false;
    }
    {
        QSqlQuery pragma(m_db);
        pragma.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        pragma.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    }
    if (!ensureSchema(error)) {
        // A file that is not a database opens lazily and fails here: leave it closed so
        // no later statement writes into it.
        m_db.close();
        return false;
    }
    return true;
}

bool CacheDatabase::ensureSchema(QString *error)
{
    QSqlQuery q(m_db);
    if (!q.exec(QString::fromLatin1(kCreateTable))) {
        if (error)
            *error = q.lastError().text();
        return false;
    }
    q.exec(QString::fromLatin1(kCreateIndex));
    bool hasKeys = false;
    if (q.exec(QStringLiteral("PRAGMA table_info(tracks)"))) {
        while (q.next())
            hasKeys = hasKeys || q.value(1).toString() == QLatin1String("fingerprint_keys");
    }
    if (!hasKeys && !q.exec(QString::fromLatin1(kAddKeys))) {
        if (error)
            *error = q.lastError().text();
        return false;
    }
    return true;
}

bool CacheDatabase::lookup(TrackInfo &track, int engine) const
{
    if (!isOpen())
        return false;
    QSqlQuery q(m_db);
    if (!q.prepare(QString::fromLatin1(kSelect)))
        return false;
    q.addBindValue(track.path);
    if (!q.exec() || !q.next())
        return false;
    if (q.value(0).toLongLong() != track.size)
        return false;
    if (q.value(1).toLongLong() != track.mtime.toSecsSinceEpoch())
        return false;
    if (q.value(20).toInt() != kSchemaVersion || q.value(21).toInt() != engine)
        return false;

    track.fullHash = text(q.value(2));
    track.audioHash = text(q.value(3));
    track.title = text(q.value(4));
    track.artist = text(q.value(5));
    track.album = text(q.value(6));
    track.albumArtist = text(q.value(7));
    track.genre = text(q.value(8));
    track.year = text(q.value(9));
    track.comment = text(q.value(10));
    track.trackNo = q.value(11).toInt();
    track.durationMs = q.value(12).toLongLong();
    track.bitrate = q.value(13).toInt();
    track.sampleRate = q.value(14).toInt();
    track.channels = q.value(15).toInt();
    track.fingerprint = Fingerprint::fromBlob(q.value(16).toByteArray());
    track.fingerprintMask = Fingerprint::fromBlob(q.value(17).toByteArray());
    track.fingerprintAlt = Fingerprint::fromBlob(q.value(18).toByteArray());
    track.fingerprintAltMask = Fingerprint::fromBlob(q.value(19).toByteArray());
    track.fingerprintKeys = Fingerprint::fromBlob(q.value(22).toByteArray());
    track.analysed = true;
    track.fromCache = true;
    return true;
}

void CacheDatabase::store(const TrackInfo &track, int engine)
{
    if (!isOpen() || track.path.isEmpty())
        return;
    QSqlQuery q(m_db);
    if (!q.prepare(QString::fromLatin1(kInsert)))
        return;
    q.addBindValue(track.path);
    q.addBindValue(track.size);
    q.addBindValue(track.mtime.toSecsSinceEpoch());
    q.addBindValue(track.fullHash);
    q.addBindValue(track.audioHash);
    q.addBindValue(track.title);
    q.addBindValue(track.artist);
    q.addBindValue(track.album);
    q.addBindValue(track.albumArtist);
    q.addBindValue(track.genre);
    q.addBindValue(track.year);
    q.addBindValue(track.comment);
    q.addBindValue(track.trackNo);
    q.addBindValue(track.durationMs);
    q.addBindValue(track.bitrate);
    q.addBindValue(track.sampleRate);
    q.addBindValue(track.channels);
    q.addBindValue(Fingerprint::toBlob(track.fingerprint));
    q.addBindValue(Fingerprint::toBlob(track.fingerprintMask));
    q.addBindValue(Fingerprint::toBlob(track.fingerprintAlt));
    q.addBindValue(Fingerprint::toBlob(track.fingerprintAltMask));
    q.addBindValue(engine);
    q.addBindValue(kSchemaVersion);
    q.addBindValue(QDateTime::currentSecsSinceEpoch());
    q.addBindValue(Fingerprint::toBlob(track.fingerprintKeys));
    q.exec();
}

void CacheDatabase::beginBatch()
{
    if (isOpen())
        m_db.transaction();
}

void CacheDatabase::commitBatch()
{
    if (isOpen())
        m_db.commit();
}

int CacheDatabase::rowCount() const
{
    if (!isOpen())
        return 0;
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM tracks")) || !q.next())
        return 0;
    return q.value(0).toInt();
}

qint64 CacheDatabase::fileSizeBytes() const
{
    const QFileInfo info(m_path.isEmpty() ? defaultPath() : m_path);
    return info.exists() ? info.size() : 0;
}

bool CacheDatabase::clear(QString *error)
{
    if (!isOpen())
        return false;
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("DELETE FROM tracks"))) {
        if (error)
            *error = q.lastError().text();
        return false;
    }
    q.exec(QStringLiteral("VACUUM"));
    // Fold the write-ahead log back so the main file shows the reclaimed space.
    q.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    return true;
}

int CacheDatabase::prune()
{
    if (!isOpen())
        return 0;
    QStringList gone;
    {
        QSqlQuery q(m_db);
        if (!q.exec(QStringLiteral("SELECT path FROM tracks")))
            return 0;
        while (q.next()) {
            const QString p = q.value(0).toString();
            if (!QFileInfo::exists(p))
                gone.append(p);
        }
    }
    if (gone.isEmpty())
        return 0;
    m_db.transaction();
    QSqlQuery del(m_db);
    del.prepare(QStringLiteral("DELETE FROM tracks WHERE path = ?"));
    for (const QString &p : gone) {
        del.addBindValue(p);
        del.exec();
    }
    m_db.commit();
    return int(gone.size());
}

void CacheDatabase::close()
{
    if (m_db.isValid() && m_db.isOpen())
        m_db.close();
    m_db = QSqlDatabase();
    if (QSqlDatabase::contains(m_connectionName))
        QSqlDatabase::removeDatabase(m_connectionName);
}

} // namespace rvw

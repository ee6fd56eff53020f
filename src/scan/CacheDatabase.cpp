#include "scan/CacheDatabase.h"

#include "audio/Fingerprint.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
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
    "fingerprint_keys BLOB, analyses INTEGER NOT NULL DEFAULT 0, payload_length INTEGER NOT NULL DEFAULT 0)";

// Every column a cache of ours has; the last two came later and are added to older caches.
const char *const kColumns[] = {"path",        "size",         "mtime",           "full_hash",
                                "audio_hash",  "title",        "artist",          "album",
                                "album_artist", "genre",       "year",            "comment",
                                "track_no",    "duration_ms",  "bitrate",         "sample_rate",
                                "channels",    "fingerprint",  "fingerprint_mask", "fingerprint_alt",
                                "fingerprint_alt_mask", "engine", "schema_version", "analysed_at"};

// Caches made before these columns existed get them; their rows carry an older schema version
// and are analysed again.
const char *const kAddKeys = "ALTER TABLE tracks ADD COLUMN fingerprint_keys BLOB";
const char *const kAddAnalyses = "ALTER TABLE tracks ADD COLUMN analyses INTEGER NOT NULL DEFAULT 0";
const char *const kAddPayloadLength = "ALTER TABLE tracks ADD COLUMN payload_length INTEGER NOT NULL DEFAULT 0";

const char *const kCreateIndex = "CREATE INDEX IF NOT EXISTS idx_tracks_audio ON tracks(audio_hash)";

const char *const kSelect =
    "SELECT size, mtime, full_hash, audio_hash, title, artist, album, album_artist, genre, year, comment, "
    "track_no, duration_ms, bitrate, sample_rate, channels, fingerprint, fingerprint_mask, fingerprint_alt, "
    "fingerprint_alt_mask, schema_version, engine, fingerprint_keys, analyses, payload_length FROM tracks WHERE path = ?";

const char *const kInsert =
    "INSERT OR REPLACE INTO tracks (path,size,mtime,full_hash,audio_hash,title,artist, "
    "album,album_artist,genre,year,comment,track_no,duration_ms,bitrate,sample_rate, "
    "channels,fingerprint,fingerprint_mask,fingerprint_alt,fingerprint_alt_mask, "
    "engine,schema_version,analysed_at,fingerprint_keys,analyses,payload_length) "
    "VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)";

// SQLite's primary result codes that mean the file itself is bad, not merely busy.
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteNotADatabase = 26;

bool isDamage(const QSqlError &e)
{
    bool ok = false;
    const int code = e.nativeErrorCode().toInt(&ok) & 0xFF;
    return ok && (code == kSqliteCorrupt || code == kSqliteNotADatabase);
}

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
    m_notice.clear();
    m_damaged = false;
    m_path = defaultPath();
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QString why;
    if (openFile(&why))
        return true;
    if (m_damaged && moveAside(why) && openFile(&why))
        return true;
    if (error)
        *error = why;
    return false;
}

bool CacheDatabase::openFile(QString *why)
{
    close();
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    m_db.setDatabaseName(m_path);
    if (!m_db.open()) {
        *why = m_db.lastError().text();
        m_damaged = isDamage(m_db.lastError());
        close();
        return false;
    }
    {
        QSqlQuery pragma(m_db);
        // The first statement that reads the file: a file that is no database fails here.
        if (!pragma.exec(QStringLiteral("PRAGMA journal_mode=WAL")) && isDamage(pragma.lastError())) {
            *why = pragma.lastError().text();
            m_damaged = true;
            close();
            return false;
        }
        pragma.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    }
    QString schemaError;
    if (!ensureSchema(&schemaError)) {
        *why = schemaError;
        close(); // no later statement may write into a file that is not ours
        return false;
    }
    return true;
}

bool CacheDatabase::schemaIsOurs() const
{
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("PRAGMA table_info(tracks)")))
        return false;
    QSet<QString> present;
    while (q.next())
        present.insert(q.value(1).toString());
    if (present.isEmpty())
        return true; // no table yet: it is made next
    for (const char *column : kColumns) {
        if (!present.contains(QLatin1String(column)))
            return false;
    }
    return true;
}

bool CacheDatabase::moveAside(const QString &why)
{
    close();
    const QString aside =
        m_path + QStringLiteral(".damaged-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    if (!QFile::rename(m_path, aside))
        return false;
    // The journal files belong to the damaged file (or were made by trying to open it); a new
    // cache must not pick them up. What they hold can be analysed again.
    for (const char *suffix : {"-wal", "-shm"})
        QFile::remove(m_path + QLatin1String(suffix));
    m_notice = QObject::tr("The analysis cache was damaged or not a cache (%1); it was moved aside to %2 and a "
                           "new one started.")
                   .arg(why, QDir::toNativeSeparators(aside));
    m_damaged = false;
    return true;
}

bool CacheDatabase::ensureSchema(QString *error)
{
    if (!schemaIsOurs()) {
        m_damaged = true;
        if (error)
            *error = QObject::tr("the file holds another program's table");
        return false;
    }
    QSqlQuery q(m_db);
    if (!q.exec(QString::fromLatin1(kCreateTable))) {
        m_damaged = isDamage(q.lastError());
        if (error)
            *error = q.lastError().text();
        return false;
    }
    q.exec(QString::fromLatin1(kCreateIndex));
    QSet<QString> columns;
    if (q.exec(QStringLiteral("PRAGMA table_info(tracks)"))) {
        while (q.next())
            columns.insert(q.value(1).toString());
    }
    const auto add = [&](const char *column, const char *statement) {
        return columns.contains(QLatin1String(column)) || q.exec(QString::fromLatin1(statement));
    };
    if (!add("fingerprint_keys", kAddKeys) || !add("analyses", kAddAnalyses) ||
        !add("payload_length", kAddPayloadLength)) {
        m_damaged = isDamage(q.lastError());
        if (error)
            *error = q.lastError().text();
        return false;
    }
    return true;
}

bool CacheDatabase::rebuild()
{
    const QString why = m_lastError.isEmpty() ? QObject::tr("damaged pages") : m_lastError;
    QString error;
    return moveAside(why) && openFile(&error);
}

bool CacheDatabase::lookup(TrackInfo &track, int engine) const
{
    if (!isOpen())
        return false;
    QSqlQuery q(m_db);
    if (!q.prepare(QString::fromLatin1(kSelect)))
        return false;
    q.addBindValue(track.path);
    if (!q.exec()) {
        m_lastError = q.lastError().text();
        m_damaged = m_damaged || isDamage(q.lastError());
        return false;
    }
    if (!q.next())
        return false;
    if (q.value(0).toLongLong() != track.size)
        return false;
    if (q.value(1).toLongLong() != track.mtime.toSecsSinceEpoch())
        return false;
    if (q.value(20).toInt() != kSchemaVersion)
        return false;
    const quint8 analyses = quint8(q.value(23).toInt());
    if (!(analyses & TrackInfo::HasTags))
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
    track.analyses = analyses;
    track.payloadLength = q.value(24).toLongLong();
    // Another engine's fingerprint cannot be compared with this one's; the rest still holds.
    if (q.value(21).toInt() != engine) {
        track.analyses &= quint8(~TrackInfo::HasFingerprint);
        track.fingerprint.clear();
        track.fingerprintMask.clear();
        track.fingerprintAlt.clear();
        track.fingerprintAltMask.clear();
        track.fingerprintKeys.clear();
    }
    track.cachedAnalyses = track.analyses;
    track.analysed = true;
    track.fromCache = true;
    return true;
}

bool CacheDatabase::store(const TrackInfo &track, int engine)
{
    if (!isOpen() || track.path.isEmpty())
        return false;
    QSqlQuery q(m_db);
    if (!q.prepare(QString::fromLatin1(kInsert))) {
        m_lastError = q.lastError().text();
        m_damaged = m_damaged || isDamage(q.lastError());
        return false;
    }
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
    q.addBindValue(int(track.analyses));
    q.addBindValue(track.payloadLength);
    if (q.exec())
        return true;
    m_lastError = q.lastError().text();
    m_damaged = m_damaged || isDamage(q.lastError());
    return false;
}

int CacheDatabase::storeAll(const QList<TrackInfo> &tracks, int engine)
{
    const auto worthStoring = [](const TrackInfo &t) {
        const bool unchanged = t.fromCache && t.analyses == t.cachedAnalyses;
        return t.analysed && t.error.isEmpty() && !t.path.isEmpty() && !unchanged;
    };
    int wanted = 0;
    for (const TrackInfo &t : tracks)
        wanted += worthStoring(t) ? 1 : 0;
    if (wanted == 0)
        return 0;
    if (!isOpen()) {
        m_lastError = QObject::tr("the cache is not open");
        return wanted;
    }
    if (!m_db.transaction()) {
        m_lastError = m_db.lastError().text();
        return wanted;
    }
    int stored = 0;
    for (const TrackInfo &t : tracks) {
        if (!worthStoring(t))
            continue;
        if (!store(t, engine))
            break; // locked, read-only, full or damaged: the next row would fail the same way
        ++stored;
    }
    if (stored < wanted) {
        // What the batch wrote is kept; the count says the rest is missing.
        const QString reason = m_lastError;
        if (!m_db.commit()) {
            m_db.rollback();
            stored = 0;
        }
        m_lastError = reason;
        return wanted - stored;
    }
    if (!m_db.commit()) {
        m_lastError = m_db.lastError().text();
        m_db.rollback();
        return wanted;
    }
    return 0;
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
        // Damaged pages: start again from an empty file rather than fail to clear.
        if (isDamage(q.lastError())) {
            m_lastError = q.lastError().text();
            close();
            for (const char *suffix : {"", "-wal", "-shm"})
                QFile::remove(m_path + QLatin1String(suffix));
            // The damage went with the file; left set, the next scan would move the new cache aside.
            m_damaged = false;
            QString why;
            if (openFile(&why))
                return true;
            if (error)
                *error = why;
            return false;
        }
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
    return pruneRows([](const QString &path) { return !QFileInfo::exists(path); });
}

int CacheDatabase::pruneBelow(const QStringList &folders, const QSet<QString> &found)
{
    if (folders.isEmpty())
        return 0;
    QStringList prefixes;
    for (const QString &folder : folders) {
        QString prefix = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
        if (!prefix.endsWith(QLatin1Char('/')))
            prefix += QLatin1Char('/');
        prefixes.append(prefix);
    }
    return pruneRows([&](const QString &path) {
        if (found.contains(path))
            return false;
        bool below = false;
        for (const QString &prefix : std::as_const(prefixes))
            below = below || path.startsWith(prefix);
        return below && !QFileInfo::exists(path);
    });
}

int CacheDatabase::pruneRows(const std::function<bool(const QString &)> &isGone)
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
            if (isGone(p))
                gone.append(p);
        }
    }
    if (gone.isEmpty() || !m_db.transaction())
        return 0;
    QSqlQuery del(m_db);
    del.prepare(QStringLiteral("DELETE FROM tracks WHERE path = ?"));
    int removed = 0;
    for (const QString &p : std::as_const(gone)) {
        del.addBindValue(p);
        removed += del.exec() ? 1 : 0;
    }
    return m_db.commit() ? removed : 0;
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

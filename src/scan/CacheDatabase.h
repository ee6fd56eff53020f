#pragma once

#include "core/Types.h"

#include <QSet>
#include <QSqlDatabase>
#include <QString>

#include <functional>

namespace rvw {

// Per-file analysis results kept between scans in "analysis-cache.sqlite", keyed by
// absolute path. One instance per thread: each has its own named connection.
class CacheDatabase
{
public:
    // Written into every row; rows carrying another version are stale.
    static constexpr int kSchemaVersion = 9;

    CacheDatabase();
    ~CacheDatabase();
    CacheDatabase(const CacheDatabase &) = delete;
    CacheDatabase &operator=(const CacheDatabase &) = delete;

    // Opens (creating when missing) the cache. A file that is damaged, not a database, or a
    // database of another program is moved aside and a new cache started; notice() then says so.
    // A locked or unwritable cache is not touched: open() fails or the stores report it.
    bool open(QString *error = nullptr);
    // A line for the log about what open() had to do, empty when nothing happened.
    QString notice() const { return m_notice; }
    bool ensureSchema(QString *error = nullptr);
    bool isOpen() const;

    // Fills the analysis of an unchanged file (same size, same mtime second, current schema) and
    // returns true; otherwise leaves the track untouched. `analyses` says what the row holds: a
    // fingerprint made by another engine is left out.
    bool lookup(TrackInfo &track, int engine) const;
    // False with the reason in lastError() when the row could not be written.
    bool store(const TrackInfo &track, int engine);
    QString lastError() const { return m_lastError; }

    // Stores the analysed, error-free tracks that hold more than their cached row in one transaction and returns how many could not be
    // stored (0 when all were), with the reason in lastError(). A locked, read-only or full cache
    // ends the batch at its first failure rather than waiting again for every row.
    int storeAll(const QList<TrackInfo> &tracks, int engine);

    void beginBatch();
    void commitBatch();

    int rowCount() const;
    qint64 fileSizeBytes() const;
    bool clear(QString *error = nullptr);
    // Drops the rows of files that no longer exist; returns how many.
    int prune();
    // Drops the rows below the folders that a whole scan of them did not find and that no longer
    // exist; returns how many. Rows elsewhere (a library on a drive not mounted now) stay.
    int pruneBelow(const QStringList &folders, const QSet<QString> &found);
    void close();

    // True once a statement found damaged pages; rebuild() then moves the file aside and starts
    // an empty cache (notice() says so).
    bool isDamaged() const { return m_damaged; }
    bool rebuild();

    QString path() const { return m_path; }
    QString connectionName() const { return m_connectionName; }

    static QString defaultPath();

private:
    bool openFile(QString *error);
    bool schemaIsOurs() const;
    bool moveAside(const QString &why);
    int pruneRows(const std::function<bool(const QString &)> &isGone);

    QSqlDatabase m_db;
    QString m_notice;
    mutable QString m_lastError;
    mutable bool m_damaged = false;
    QString m_path;
    QString m_connectionName;
};

} // namespace rvw

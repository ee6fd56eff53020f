#pragma once

#include "core/Types.h"

#include <QSqlDatabase>
#include <QString>

namespace rvw {

// Per-file analysis results kept between scans in "analysis-cache.sqlite", keyed by
// absolute path. One instance per thread: each has its own named connection.
class CacheDatabase
{
public:
    // Written into every row; rows carrying another version are stale.
    static constexpr int kSchemaVersion = 7;

    CacheDatabase();
    ~CacheDatabase();
    CacheDatabase(const CacheDatabase &) = delete;
    CacheDatabase &operator=(const CacheDatabase &) = delete;

    bool open(QString *error = nullptr);
    bool ensureSchema(QString *error = nullptr);
    bool isOpen() const;

    // Fills the analysis of an unchanged file (same size, same mtime second, same
    // engine, current schema) and returns true; otherwise leaves the track untouched.
    bool lookup(TrackInfo &track, int engine) const;
    void store(const TrackInfo &track, int engine);

    void beginBatch();
    void commitBatch();

    int rowCount() const;
    qint64 fileSizeBytes() const;
    bool clear(QString *error = nullptr);
    // Drops the rows of files that no longer exist; returns how many.
    int prune();
    void close();

    QString path() const { return m_path; }
    QString connectionName() const { return m_connectionName; }

    static QString defaultPath();

private:
    QSqlDatabase m_db;
    QString m_path;
    QString m_connectionName;
};

} // namespace rvw

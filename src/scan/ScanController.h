#pragma once

#include "core/Types.h"
#include "scan/TrackAnalysis.h"

#include <QAtomicInt>
#include <QObject>

#include <functional>
#include <memory>

namespace rvw {

class CacheDatabase;

// Runs one whole scan on the thread it lives on: discovery, cache check, tag reading
// and hashing, fingerprinting, cache update and grouping. Every scan ends with exactly
// one `finished`, also when cancelled or when nothing was found.
class ScanController : public QObject
{
    Q_OBJECT
public:
    explicit ScanController(QObject *parent = nullptr);
    ~ScanController() override;

    bool isRunning() const { return m_running.loadAcquire() != 0; }

    // The types a scan passes between threads in queued calls and signals, under the names its
    // signals and slots declare; call once before the first scan.
    static void registerMetaTypes();

public slots:
    void start(const rvw::ScanOptions &options);
    // Safe to call from any thread.
    void cancel();

signals:
    void started();
    void phaseChanged(const QString &phase);
    void progress(int done, int total, const QString &detail);
    void logMessage(const QString &message);
    // After discovery, before `finished`: how many folders and files were left unchecked (both 0
    // when nothing was). Not sent when the scan was cancelled during discovery.
    void discoveryGaps(int uncheckedFolders, int uncheckedFiles);
    void finished(const QList<rvw::TrackInfo> &tracks, const QList<rvw::MatchGroup> &groups, bool cancelled,
                  qint64 elapsedMs);
    void failed(const QString &error);

private:
    void openCache();
    // Runs work(0..count-1) on the global thread pool, reporting progress with `label` ("%1 of
    // %2"); returns once every call has returned, also after a cancel (none starts after it).
    void forEachTrack(int count, const char *label, const std::function<void(int)> &work);
    void hashGroupMembers(QList<TrackInfo> &tracks, QList<TrackAnalysis::Payload> &payloads,
                          const QList<MatchGroup> &groups);
    void fingerprint(QList<TrackInfo> &tracks, const ScanOptions &options, bool useFpcalc);
    void storeInCache(const QList<TrackInfo> &tracks, int engine);

    QAtomicInt m_cancel;
    QAtomicInt m_running;
    std::unique_ptr<CacheDatabase> m_cache;
};

} // namespace rvw

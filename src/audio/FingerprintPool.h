#pragma once

#include "core/Types.h"

#include <QAtomicInt>
#include <QList>
#include <QObject>
#include <QString>

#include <utility>

class QEventLoop;
class QThread;

namespace rvw {

namespace Fingerprint {
class Analyzer;
}

// Fingerprints one file per process() call, on the thread it lives in: fpcalc when asked for
// and installed, otherwise the built-in analyser fed by ffmpeg or, failing that, by Qt's
// audio decoder. Every call ends with exactly one completed() signal.
class FingerprintWorker : public QObject
{
    Q_OBJECT
public:
    FingerprintWorker(int seconds, bool useFpcalc, QObject *parent = nullptr);

    Q_INVOKABLE void process(int id, const QString &path);

    // Decodes `path` with QAudioDecoder into the analyser (configured from the first buffer),
    // up to seconds x 48,000 frames or max(seconds, 30) s of wall time, inside a local event
    // loop. durationMs becomes the stream length when the decoder knows it, else the length
    // decoded if the stream ended inside the budget, else stays as it was; decoder problems land
    // in error.
    void decodeWithQt(Fingerprint::Analyzer &analyzer, const QString &path, qint64 &durationMs,
                      QString &error);

    int secondsToAnalyse() const { return seconds; }
    // Set before the first job; a set flag ends the file in hand within a tenth of a second.
    void setCancelFlag(const QAtomicInt *flag) { cancel = flag; }

signals:
    void completed(int id, rvw::FingerprintResult result);

private:
    bool cancelled() const { return cancel && cancel->loadRelaxed(); }

    int seconds;
    bool useFpcalc;
    const QAtomicInt *cancel = nullptr;
};

// A fixed set of lanes (a thread with one worker each) that fingerprints a batch of files,
// one job per lane at a time, and reports each result as it arrives.
class FingerprintPool : public QObject
{
    Q_OBJECT
public:
    // threads is clamped to 1..16; seconds below 1 means 120.
    FingerprintPool(int threads, int seconds, bool useFpcalc, QObject *parent = nullptr);
    ~FingerprintPool() override;

    // Processes the whole batch (id chosen by the caller, file path) and returns when every
    // job has completed, running a local event loop meanwhile. Must be called from the thread
    // the pool lives in. Once `cancel` is set no job starts, the running ones end their tool at
    // once, and run() returns; only jobs finished before the cancel are reported.
    void run(const QList<std::pair<int, QString>> &jobs, const QAtomicInt *cancel = nullptr);

    int laneCount() const { return int(lanes.size()); }
    QList<QThread *> laneThreads() const;

signals:
    // Once per job, in completion order.
    void completed(int id, rvw::FingerprintResult result);
    // After each completed(); total is the batch size.
    void progress(int done, int total);

private:
    struct Lane
    {
        QThread *thread = nullptr;
        FingerprintWorker *worker = nullptr;
    };

    void dispatchNext(int lane);
    void onCompleted(int lane, int id, const rvw::FingerprintResult &result);

    QList<Lane> lanes;
    QList<std::pair<int, QString>> jobs;
    int next = 0;
    int inFlight = 0;
    int done = 0;
    QEventLoop *loop = nullptr;
    const QAtomicInt *cancel = nullptr;
};

} // namespace rvw

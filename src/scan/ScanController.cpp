#include "scan/ScanController.h"

#include "audio/AudioDecode.h"
#include "audio/Chromaprint.h"
#include "audio/FingerprintPool.h"
#include "audio/Hasher.h"
#include "audio/TagReader.h"
#include "scan/CacheDatabase.h"
#include "scan/DuplicateGrouper.h"
#include "scan/FileScanner.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent>

namespace rvw {

namespace {

// Reads tags and hashes one file; runs on the global thread pool.
TrackInfo analyseOne(TrackInfo track, const ScanOptions &options, QAtomicInt &done)
{
    if (track.fromCache && track.analysed) {
        done.fetchAndAddRelaxed(1);
        return track;
    }
    AudioMetadata meta;
    QString error;
    if (TagReader::read(track.path, meta, &error)) {
        track.title = meta.title;
        track.artist = meta.artist;
        track.album = meta.album;
        track.albumArtist = meta.albumArtist;
        track.genre = meta.genre;
        track.year = meta.year;
        track.comment = meta.comment;
        track.trackNo = meta.trackNo;
        track.durationMs = meta.durationMs;
        track.bitrate = meta.bitrate;
        track.sampleRate = meta.sampleRate;
        track.channels = meta.channels;
    } else if (!error.isEmpty() && track.error.isEmpty()) {
        track.error = error;
    }
    if (options.detectIdentical)
        track.fullHash = Hasher::hashWholeFile(track.path, nullptr);
    if (options.detectSameAudio) {
        if (meta.payloadLength() >= 1)
            track.audioHash = Hasher::hashRanges(track.path, meta.payloadRanges(), nullptr);
        else
            track.audioHash =
                options.detectIdentical ? track.fullHash : Hasher::hashWholeFile(track.path, nullptr);
    }
    track.analysed = true;
    done.fetchAndAddRelaxed(1);
    return track;
}

} // namespace

ScanController::ScanController(QObject *parent) : QObject(parent) {}

void ScanController::registerMetaTypes()
{
    qRegisterMetaType<rvw::TrackInfo>("rvw::TrackInfo");
    qRegisterMetaType<rvw::MatchGroup>("rvw::MatchGroup");
    qRegisterMetaType<QList<rvw::TrackInfo>>("QVector<rvw::TrackInfo>");
    qRegisterMetaType<QList<rvw::MatchGroup>>("QVector<rvw::MatchGroup>");
    qRegisterMetaType<QList<quint32>>("QVector<quint32>");
    qRegisterMetaType<rvw::ScanOptions>("rvw::ScanOptions");
    qRegisterMetaType<rvw::FingerprintResult>("rvw::FingerprintResult");
}

ScanController::~ScanController() = default;

void ScanController::cancel()
{
    m_cancel.storeRelease(1);
}

void ScanController::openCache()
{
    if (!m_cache)
        m_cache = std::make_unique<CacheDatabase>();
    if (m_cache->isOpen())
        return;
    QString error;
    if (!m_cache->open(&error))
        emit logMessage(tr("Analysis cache unavailable (%1) - continuing without it.").arg(error));
    else
        emit logMessage(tr("Analysis cache: %1 entries at %2").arg(m_cache->rowCount()).arg(m_cache->path()));
}

void ScanController::analyseTags(QList<TrackInfo> &tracks, const ScanOptions &options)
{
    QAtomicInt done(0);
    const int total = int(tracks.size());
    QFuture<TrackInfo> future =
        QtConcurrent::mapped(QThreadPool::globalInstance(), tracks,
                             [&options, &done](const TrackInfo &t) { return analyseOne(t, options, done); });
    while (!future.isFinished()) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 40);
        emit progress(done.loadRelaxed(), total,
                      tr("Analysed %1 of %2 files").arg(done.loadRelaxed()).arg(total));
        if (m_cancel.loadAcquire() && !future.isCanceled())
            future.cancel();
        QThread::msleep(50);
    }
    future.waitForFinished();
    if (future.isCanceled())
        tracks.clear();
    else
        tracks = future.results();
}

void ScanController::fingerprint(QList<TrackInfo> &tracks, const ScanOptions &options, bool useFpcalc)
{
    QList<std::pair<int, QString>> jobs;
    for (const TrackInfo &t : std::as_const(tracks)) {
        const bool needsMask = !useFpcalc && t.fingerprintMask.size() != t.fingerprint.size();
        if (t.fingerprint.isEmpty() || needsMask)
            jobs.append({t.id, t.path});
    }
    if (jobs.isEmpty())
        return;

    emit phaseChanged(tr("Fingerprinting audio"));
    QString engineText;
    if (useFpcalc)
        engineText = tr("Chromaprint fpcalc (%1)").arg(Chromaprint::fpcalcPath());
    else if (AudioDecode::ffmpegAvailable())
        engineText = tr("built-in analysis, ffmpeg decode");
    else
        engineText = tr("built-in analysis, Qt decode");
    emit logMessage(tr("Fingerprinting %1 file(s) on %2 thread(s) using %3.")
                        .arg(jobs.size())
                        .arg(options.decoderThreads)
                        .arg(engineText));
    if (!useFpcalc)
        emit logMessage(
            tr("Tip: installing Chromaprint's fpcalc and putting it on the PATH makes fingerprinting "
               "several times faster and more accurate."));

    int failures = 0;
    FingerprintPool pool(options.decoderThreads, options.fingerprintSeconds, useFpcalc, nullptr);
    connect(
        &pool, &FingerprintPool::completed, this,
        [&tracks, &failures](int id, const rvw::FingerprintResult &result) {
            if (id < 0 || id >= tracks.size())
                return;
            TrackInfo &t = tracks[id];
            t.fingerprint = result.fingerprint;
            t.fingerprintMask = result.fingerprintMask;
            t.fingerprintAlt = result.fingerprintAlt;
            t.fingerprintAltMask = result.fingerprintAltMask;
            t.fingerprintKeys = result.fingerprintKeys;
            if (t.durationMs < 1 && result.durationMs > 0)
                t.durationMs = result.durationMs;
            if (!result.error.isEmpty()) {
                ++failures;
                if (t.error.isEmpty())
                    t.error = result.error;
            }
        },
        Qt::DirectConnection);
    connect(
        &pool, &FingerprintPool::progress, this,
        [this](int done, int total) {
            emit progress(done, total, tr("Fingerprinted %1 of %2").arg(done).arg(total));
        },
        Qt::DirectConnection);
    pool.run(jobs);
    if (failures > 0)
        emit logMessage(tr("%1 file(s) could not be decoded for fingerprinting. They are still checked by "
                           "hash and metadata.")
                            .arg(failures));
}

void ScanController::storeInCache(const QList<TrackInfo> &tracks, int engine)
{
    if (!m_cache || !m_cache->isOpen())
        return;
    m_cache->beginBatch();
    for (const TrackInfo &t : tracks) {
        if (t.analysed && t.error.isEmpty())
            m_cache->store(t, engine);
    }
    m_cache->commitBatch();
}

void ScanController::start(const rvw::ScanOptions &requested)
{
    if (m_running.loadAcquire())
        return;
    ScanOptions options = requested;
    const bool useFpcalc = requested.engine == 1 && Chromaprint::available();
    options.engine = useFpcalc ? 1 : 0;

    m_running.storeRelease(1);
    m_cancel.storeRelease(0);
    emit started();
    QElapsedTimer timer;
    timer.start();
    const auto end = [&](const QList<TrackInfo> &tracks, const QList<MatchGroup> &groups, bool cancelled) {
        m_running.storeRelease(0);
        emit finished(tracks, groups, cancelled, timer.elapsed());
    };

    if (options.useCache)
        openCache();

    emit phaseChanged(tr("Scanning folders"));
    const QStringList paths =
        FileScanner::discover(options, m_cancel, [this](int count, const QString &folder) {
            emit progress(count, 0, folder.isEmpty() ? tr("%1 files found").arg(count) : folder);
        });
    if (m_cancel.loadAcquire()) {
        end({}, {}, true);
        return;
    }
    if (paths.isEmpty()) {
        emit logMessage(tr("No audio files matched the current filters."));
        end({}, {}, false);
        return;
    }
    emit logMessage(tr("Discovered %1 audio files.").arg(paths.size()));
    emit phaseChanged(tr("Checking cache"));

    const bool cacheOpen = m_cache && m_cache->isOpen();
    QList<TrackInfo> tracks;
    tracks.reserve(paths.size());
    int cacheHits = 0;
    const int count = int(paths.size());
    for (int i = 0; i < count; ++i) {
        const QFileInfo info(paths[i]);
        TrackInfo t;
        t.id = i;
        t.path = info.absoluteFilePath();
        t.fileName = info.fileName();
        t.format = info.suffix().toLower();
        t.size = info.size();
        t.mtime = info.lastModified();
        if (cacheOpen && m_cache->lookup(t, options.engine)) {
            ++cacheHits;
            if (options.detectAcoustic &&
                (t.fingerprint.isEmpty() || t.fingerprint.size() != t.fingerprintMask.size()))
                t.analysed = false;
        }
        tracks.append(t);
        if (i % 512 == 0) {
            emit progress(i, count, tr("Checked %1 of %2").arg(i).arg(count));
            if (m_cancel.loadAcquire())
                break;
        }
    }
    if (cacheHits > 0)
        emit logMessage(tr("Reused %1 cached analysis results.").arg(cacheHits));

    emit phaseChanged(tr("Reading tags and hashing"));
    analyseTags(tracks, options);
    if (m_cancel.loadAcquire()) {
        end(tracks, {}, true);
        return;
    }

    if (options.minDurationMs > 0) {
        const qsizetype before = tracks.size();
        tracks.erase(std::remove_if(tracks.begin(), tracks.end(),
                                    [&](const TrackInfo &t) {
                                        return t.durationMs >= 1 && t.durationMs < options.minDurationMs;
                                    }),
                     tracks.end());
        const qsizetype dropped = before - tracks.size();
        if (dropped > 0)
            emit logMessage(tr("Skipped %1 file(s) shorter than %2 seconds.")
                                .arg(dropped)
                                .arg(options.minDurationMs / 1000));
    }
    for (int i = 0; i < tracks.size(); ++i)
        tracks[i].id = i;

    if (options.detectAcoustic && !m_cancel.loadAcquire())
        fingerprint(tracks, options, useFpcalc);

    storeInCache(tracks, options.engine);
    if (m_cancel.loadAcquire()) {
        end(tracks, {}, true);
        return;
    }

    emit phaseChanged(tr("Grouping duplicates"));
    const QList<MatchGroup> groups = DuplicateGrouper::group(
        tracks, options, m_cancel,
        [this](int value, int maximum, const QString &text) { emit progress(value, maximum, text); });
    qint64 reclaimable = 0;
    for (const MatchGroup &g : groups)
        reclaimable += g.reclaimableBytes;
    emit logMessage(tr("Found %1 duplicate group(s); %2 MB could be reclaimed.")
                        .arg(groups.size())
                        .arg(QString::number(double(reclaimable) / 1048576.0, 'f', 1)));
    end(tracks, groups, m_cancel.loadAcquire() != 0);
}

} // namespace rvw

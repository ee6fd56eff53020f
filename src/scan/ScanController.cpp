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
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSet>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent>

namespace rvw {

namespace {

// The analyses of the first phase a scan with these options needs.
quint8 neededAnalyses(const ScanOptions &options)
{
    quint8 needed = TrackInfo::HasTags;
    if (options.detectIdentical)
        needed |= TrackInfo::HasFullHash;
    if (options.detectSameAudio)
        needed |= TrackInfo::HasAudioHash;
    return needed;
}

// Reads tags and hashes one file in place, doing only what the track lacks; runs on the global
// thread pool. A cancel leaves the track as it was (never half-hashed), so what is cached
// afterwards is only finished work.
void analyseOne(TrackInfo &track, const ScanOptions &options, const QAtomicInt &cancel, QAtomicInt &done)
{
    const quint8 needed = neededAnalyses(options);
    if ((track.analyses & needed) == needed || cancel.loadRelaxed()) {
        track.analysed = (track.analyses & needed) == needed;
        done.fetchAndAddRelaxed(1);
        return;
    }
    TrackInfo result = track;
    AudioMetadata meta;
    QString error;
    // Read again even when the tags are cached: the payload ranges are not kept.
    if (TagReader::read(result.path, meta, &error)) {
        result.title = meta.title;
        result.artist = meta.artist;
        result.album = meta.album;
        result.albumArtist = meta.albumArtist;
        result.genre = meta.genre;
        result.year = meta.year;
        result.comment = meta.comment;
        result.trackNo = meta.trackNo;
        result.durationMs = meta.durationMs;
        result.bitrate = meta.bitrate;
        result.sampleRate = meta.sampleRate;
        result.channels = meta.channels;
    } else if (!error.isEmpty() && result.error.isEmpty()) {
        result.error = error;
    }
    result.analyses |= TrackInfo::HasTags;
    if ((needed & TrackInfo::HasFullHash) && !(result.analyses & TrackInfo::HasFullHash)) {
        result.fullHash = Hasher::hashWholeFile(result.path, nullptr, &cancel);
        result.analyses |= TrackInfo::HasFullHash;
    }
    if ((needed & TrackInfo::HasAudioHash) && !(result.analyses & TrackInfo::HasAudioHash)) {
        if (meta.payloadLength() >= 1)
            result.audioHash = Hasher::hashRanges(result.path, meta.payloadRanges(), nullptr, &cancel);
        else
            result.audioHash = (result.analyses & TrackInfo::HasFullHash)
                                   ? result.fullHash
                                   : Hasher::hashWholeFile(result.path, nullptr, &cancel);
        result.analyses |= TrackInfo::HasAudioHash;
    }
    if (!cancel.loadRelaxed()) {
        result.analysed = true;
        track = result;
    }
    done.fetchAndAddRelaxed(1);
}

// Log lines for what discovery left out, each folder named: a librarian must be able to tell
// which part of the library was not checked. Long lists are cut short.
QStringList discoveryNotes(const Discovery &d)
{
    constexpr int kNamedFolders = 20;
    QStringList lines;
    const auto nameFolders = [&lines](const QStringList &folders, const QString &line) {
        for (int i = 0; i < folders.size() && i < kNamedFolders; ++i)
            lines.append(line.arg(QDir::toNativeSeparators(folders.at(i))));
        if (folders.size() > kNamedFolders)
            lines.append(ScanController::tr("... and %n more folder(s).", nullptr,
                                            int(folders.size()) - kNamedFolders));
    };
    nameFolders(d.unreadableFolders, ScanController::tr("Folder not checked, it could not be read: %1"));
    nameFolders(d.tooDeepFolders, ScanController::tr("Folder not checked, it lies too deep: %1"));
    if (d.undecodableFiles > 0) {
        lines.append(ScanController::tr("%n file(s) not checked: their names (or their folders' names) are "
                                        "not valid UTF-8 and cannot be opened. Rename them to include them.",
                                        nullptr, d.undecodableFiles));
        nameFolders(d.undecodableFolders, ScanController::tr("Names not valid UTF-8 in: %1"));
    }
    if (d.specialFiles > 0)
        lines.append(ScanController::tr("Skipped %n device(s), FIFO(s) or socket(s) named like audio files.",
                                        nullptr, d.specialFiles));
    if (d.repeatedNames > 0)
        lines.append(ScanController::tr("%n further name(s) of files already found (hard or symbolic links) "
                                        "were counted once.",
                                        nullptr, d.repeatedNames));
    return lines;
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
    const bool opened = m_cache->open(&error);
    if (!m_cache->notice().isEmpty())
        emit logMessage(m_cache->notice());
    if (!opened)
        emit logMessage(tr("Analysis cache unavailable (%1) - continuing without it.").arg(error));
    else
        emit logMessage(tr("Analysis cache: %1 entries at %2").arg(m_cache->rowCount()).arg(m_cache->path()));
}

void ScanController::analyseTags(QList<TrackInfo> &tracks, const ScanOptions &options)
{
    QAtomicInt done(0);
    const int total = int(tracks.size());
    // In place, so that a cancel keeps every analysis finished before it.
    QFuture<void> future = QtConcurrent::map(
        QThreadPool::globalInstance(), tracks,
        [&options, &done, this](TrackInfo &t) { analyseOne(t, options, m_cancel, done); });
    while (!future.isFinished()) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 40);
        emit progress(done.loadRelaxed(), total,
                      tr("Analysed %1 of %2 files").arg(done.loadRelaxed()).arg(total));
        if (m_cancel.loadAcquire() && !future.isCanceled())
            future.cancel();
        QThread::msleep(50);
    }
    // Also after a cancel: the workers write into `tracks` until they have all returned.
    future.waitForFinished();
}

void ScanController::fingerprint(QList<TrackInfo> &tracks, const ScanOptions &options, bool useFpcalc)
{
    QList<std::pair<int, QString>> jobs;
    for (const TrackInfo &t : std::as_const(tracks)) {
        // Built-in prints carry a mask word for every word; fpcalc's come without one.
        const bool needsMask = !useFpcalc && t.fingerprintMask.size() != t.fingerprint.size();
        if (!(t.analyses & TrackInfo::HasFingerprint) || t.fingerprint.isEmpty() || needsMask)
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
            if (!result.fingerprint.isEmpty())
                t.analyses |= TrackInfo::HasFingerprint;
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
    pool.run(jobs, &m_cancel);
    if (failures > 0)
        emit logMessage(tr("%1 file(s) could not be decoded for fingerprinting. They are still checked by "
                           "hash and metadata.")
                            .arg(failures));
}

void ScanController::storeInCache(const QList<TrackInfo> &tracks, int engine)
{
    if (!m_cache || !m_cache->isOpen())
        return;
    int missed = m_cache->storeAll(tracks, engine);
    if (missed > 0 && m_cache->isDamaged() && m_cache->rebuild()) {
        emit logMessage(m_cache->notice());
        missed = m_cache->storeAll(tracks, engine);
    }
    if (missed > 0)
        emit logMessage(tr("%n analysis result(s) could not be stored in the cache (%1); they are analysed again "
                           "next time.",
                           nullptr, missed)
                            .arg(m_cache->lastError()));
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

    // Off means off, also after earlier scans of this session opened the cache.
    if (options.useCache)
        openCache();
    else if (m_cache)
        m_cache->close();

    emit phaseChanged(tr("Scanning folders"));
    const Discovery discovery =
        FileScanner::discover(options, m_cancel, [this](int count, const QString &folder) {
            emit progress(count, 0, folder.isEmpty() ? tr("%1 files found").arg(count) : folder);
        });
    const QStringList &paths = discovery.files;
    if (m_cancel.loadAcquire()) {
        end({}, {}, true);
        return;
    }
    for (const QString &line : discoveryNotes(discovery))
        emit logMessage(line);
    emit discoveryGaps(discovery.uncheckedFolders(), discovery.undecodableFiles);
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
        if (cacheOpen && m_cache->lookup(t, options.engine))
            ++cacheHits;
        tracks.append(t);
        if (i % 512 == 0) {
            emit progress(i, count, tr("Checked %1 of %2").arg(i).arg(count));
            if (m_cancel.loadAcquire())
                break;
        }
    }
    if (cacheHits > 0)
        emit logMessage(tr("Reused %1 cached analysis results.").arg(cacheHits));
    if (cacheOpen && m_cache->isDamaged() && m_cache->rebuild())
        emit logMessage(m_cache->notice());

    emit phaseChanged(tr("Reading tags and hashing"));
    analyseTags(tracks, options);
    if (m_cancel.loadAcquire()) {
        // What was finished is kept for the next scan; a cancelled track is left unanalysed.
        storeInCache(tracks, options.engine);
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

    if (m_cache && m_cache->isOpen()) {
        // A row is dropped only when its file is gone from disk, not merely left out of this
        // scan by a filter.
        QSet<QString> found;
        for (const QString &p : paths)
            found.insert(QFileInfo(p).absoluteFilePath());
        const int pruned = m_cache->pruneBelow(options.folders, found);
        if (pruned > 0)
            emit logMessage(tr("Removed %n cached result(s) of files that no longer exist.", nullptr, pruned));
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

#include "scan/ScanController.h"

#include "audio/AudioDecode.h"
#include "audio/Chromaprint.h"
#include "audio/FingerprintPool.h"
#include "audio/Hasher.h"
#include "audio/TagReader.h"
#include "scan/CacheDatabase.h"
#include "scan/DuplicateGrouper.h"
#include "scan/FileScanner.h"
#include "scan/TrackAnalysis.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocale>
#include <QSet>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent>

#include <numeric>

namespace rvw {

namespace {

void applyFingerprint(TrackInfo &t, const FingerprintResult &result, int &failures)
{
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
        emit logMessage(
            tr("Analysis cache: %n entries at %1", nullptr, m_cache->rowCount()).arg(m_cache->path()));
}

// `label` is an untranslated text with %1 for the files done and %n for the count.
void ScanController::forEachTrack(int count, const char *label, const std::function<void(int)> &work)
{
    QList<int> indexes(count);
    std::iota(indexes.begin(), indexes.end(), 0);
    QAtomicInt done(0);
    // In place, so that a cancel keeps every piece of work finished before it.
    QFuture<void> future = QtConcurrent::map(QThreadPool::globalInstance(), indexes, [&](int i) {
        if (!m_cancel.loadRelaxed())
            work(i);
        done.fetchAndAddRelaxed(1);
    });
    while (!future.isFinished()) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 40);
        emit progress(done.loadRelaxed(), count, tr(label, nullptr, count).arg(done.loadRelaxed()));
        if (m_cancel.loadAcquire() && !future.isCanceled())
            future.cancel();
        QThread::msleep(50);
    }
    // Also after a cancel: the workers write into the tracks until they have all returned.
    future.waitForFinished();
}

void ScanController::hashGroupMembers(QList<TrackInfo> &tracks, QList<TrackAnalysis::Payload> &payloads,
                                      const QList<MatchGroup> &groups)
{
    // Reports and the command line's clean-up check every listed file against its SHA-256.
    QList<int> members;
    for (const MatchGroup &g : groups) {
        for (int m : g.members) {
            if (m >= 0 && m < tracks.size() &&
                (tracks[m].analyses & (TrackInfo::HasFullHash | TrackInfo::HasAudioHash)) !=
                    (TrackInfo::HasFullHash | TrackInfo::HasAudioHash))
                members.append(m);
        }
    }
    forEachTrack(int(members.size()), QT_TR_N_NOOP("Hashed %1 of %n grouped file(s)"), [&](int i) {
        const int m = members[i];
        TrackAnalysis::hash(tracks[m], payloads[m], TrackInfo::HasFullHash | TrackInfo::HasAudioHash,
                            m_cancel);
    });
}

void ScanController::fingerprint(QList<TrackInfo> &tracks, const ScanOptions &options, bool useFpcalc)
{
    QList<std::pair<int, QString>> jobs;
    // Copies with one audio payload hold the same coded audio: one job serves them all.
    QHash<QString, QList<int>> sharers;
    for (const TrackInfo &t : std::as_const(tracks)) {
        // Built-in prints carry a mask word for every word; fpcalc's come without one.
        const bool needsMask = !useFpcalc && t.fingerprintMask.size() != t.fingerprint.size();
        if (!(t.analyses & TrackInfo::HasFingerprint) || t.fingerprint.isEmpty() || needsMask) {
            if (!t.audioHash.isEmpty()) {
                QList<int> &same = sharers[t.audioHash];
                same.append(t.id);
                if (same.size() > 1)
                    continue;
            }
            jobs.append({t.id, t.path});
        }
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
    emit logMessage(tr("Fingerprinting %n file(s)", nullptr, int(jobs.size())) +
                    tr(" on %n thread(s)", nullptr, options.decoderThreads) +
                    tr(" using %1.").arg(engineText));
    if (!useFpcalc)
        emit logMessage(
            tr("Tip: installing Chromaprint's fpcalc and putting it on the PATH makes fingerprinting "
               "several times faster and more accurate."));

    int failures = 0;
    FingerprintPool pool(options.decoderThreads, options.fingerprintSeconds, useFpcalc, nullptr);
    connect(
        &pool, &FingerprintPool::completed, this,
        [&tracks, &failures, &sharers](int id, const rvw::FingerprintResult &result) {
            if (id < 0 || id >= tracks.size())
                return;
            const QList<int> same = sharers.value(tracks[id].audioHash, QList<int>{id});
            for (int other : same) {
                if (other != id && other >= 0 && other < tracks.size())
                    applyFingerprint(tracks[other], result, failures);
            }
            applyFingerprint(tracks[id], result, failures);
        },
        Qt::DirectConnection);
    connect(
        &pool, &FingerprintPool::progress, this,
        [this](int done, int total) {
            emit progress(done, total, tr("Fingerprinted %1 of %n file(s)", nullptr, total).arg(done));
        },
        Qt::DirectConnection);
    pool.run(jobs, &m_cancel);
    if (failures > 0)
        emit logMessage(tr("%n file(s) could not be decoded for fingerprinting. They are still checked by "
                           "hash and metadata.",
                           nullptr, failures));
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
        emit logMessage(
            tr("%n analysis result(s) could not be stored in the cache (%1); they are analysed again "
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
            emit progress(count, 0, folder.isEmpty() ? tr("%n file(s) found", nullptr, count) : folder);
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
    emit logMessage(tr("Discovered %n audio file(s).", nullptr, int(paths.size())));
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
            emit progress(i, count, tr("Checked %1 of %n file(s)", nullptr, count).arg(i));
            if (m_cancel.loadAcquire())
                break;
        }
    }
    if (cacheHits > 0)
        emit logMessage(tr("Reused %n cached analysis result(s).", nullptr, cacheHits));
    if (cacheOpen && m_cache->isDamaged() && m_cache->rebuild())
        emit logMessage(m_cache->notice());

    emit phaseChanged(tr("Reading tags and hashing"));
    QList<TrackAnalysis::Payload> payloads(tracks.size());
    forEachTrack(int(tracks.size()), QT_TR_N_NOOP("Analysed %1 of %n file(s)"),
                 [&](int i) { TrackAnalysis::readTags(tracks[i], payloads[i]); });
    const auto markAnalysed = [&tracks] {
        for (TrackInfo &t : tracks)
            t.analysed = t.analyses & TrackInfo::HasTags;
    };
    if (m_cancel.loadAcquire()) {
        // What was finished is kept for the next scan; a cancelled track is left unanalysed.
        markAnalysed();
        storeInCache(tracks, options.engine);
        end(tracks, {}, true);
        return;
    }

    if (options.minDurationMs > 0) {
        QList<TrackInfo> kept;
        QList<TrackAnalysis::Payload> keptPayloads;
        for (int i = 0; i < tracks.size(); ++i) {
            if (tracks[i].durationMs >= 1 && tracks[i].durationMs < options.minDurationMs)
                continue;
            kept.append(tracks[i]);
            keptPayloads.append(payloads[i]);
        }
        const qsizetype dropped = tracks.size() - kept.size();
        tracks = kept;
        payloads = keptPayloads;
        if (dropped > 0)
            emit logMessage(tr("Skipped %n file(s) shorter than %1 seconds.", nullptr, int(dropped))
                                .arg(QLocale().toString(double(options.minDurationMs) / 1000.0, 'g', 6)));
    }
    for (int i = 0; i < tracks.size(); ++i)
        tracks[i].id = i;

    // Only files with a partner of equal size or payload length are read for hashing.
    const QList<quint8> plan = TrackAnalysis::plannedHashes(tracks, options);
    forEachTrack(int(tracks.size()), QT_TR_N_NOOP("Hashed %1 of %n file(s)"),
                 [&](int i) { TrackAnalysis::hash(tracks[i], payloads[i], plan[i], m_cancel); });
    markAnalysed();
    if (m_cancel.loadAcquire()) {
        storeInCache(tracks, options.engine);
        end(tracks, {}, true);
        return;
    }

    if (options.detectAcoustic && !m_cancel.loadAcquire())
        fingerprint(tracks, options, useFpcalc);

    if (m_cancel.loadAcquire()) {
        storeInCache(tracks, options.engine);
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
            emit logMessage(
                tr("Removed %n cached result(s) of files that no longer exist.", nullptr, pruned));
    }

    emit phaseChanged(tr("Grouping duplicates"));
    const QList<MatchGroup> groups = DuplicateGrouper::group(
        tracks, options, m_cancel,
        [this](int value, int maximum, const QString &text) { emit progress(value, maximum, text); });
    if (!m_cancel.loadAcquire())
        hashGroupMembers(tracks, payloads, groups);
    storeInCache(tracks, options.engine);
    qint64 reclaimable = 0;
    for (const MatchGroup &g : groups)
        reclaimable += g.reclaimableBytes;
    emit logMessage(
        tr("Found %n duplicate group(s); %1 could be reclaimed.", nullptr, int(groups.size()))
            .arg(QLocale().formattedDataSize(reclaimable, 1, QLocale::DataSizeTraditionalFormat)));
    end(tracks, groups, m_cancel.loadAcquire() != 0);
}

} // namespace rvw

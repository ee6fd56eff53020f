#include "scan/DuplicateGrouper.h"

#include "audio/Chromaprint.h"
#include "audio/Fingerprint.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <utility>

namespace rvw {

namespace {

constexpr int kMinFingerprintWords = 40;
constexpr quint16 kSaturated = 65535;

class UnionFind
{
public:
    explicit UnionFind(int n) : m_parent(n), m_rank(n, 0), m_tier(n, Unmatched)
    {
        for (int i = 0; i < n; ++i)
            m_parent[i] = i;
    }

    int find(int x)
    {
        while (m_parent[x] != x) {
            m_parent[x] = m_parent[m_parent[x]];
            x = m_parent[x];
        }
        return x;
    }

    void link(int a, int b, MatchTier tier)
    {
        const int ra = find(a);
        const int rb = find(b);
        if (ra != rb) {
            if (m_rank[ra] < m_rank[rb]) {
                m_parent[ra] = rb;
            } else if (m_rank[ra] > m_rank[rb]) {
                m_parent[rb] = ra;
            } else {
                m_parent[rb] = ra;
                ++m_rank[ra];
            }
        }
        const int r = find(a);
        for (int x : {r, a, b}) {
            if (m_tier[x] == Unmatched || m_tier[x] < tier)
                m_tier[x] = tier;
        }
    }

    MatchTier tierOf(int x) const { return m_tier[x]; }

private:
    QList<int> m_parent;
    QList<int> m_rank;
    QList<MatchTier> m_tier;
};

struct PhaseProgress
{
    const DuplicateGrouper::Progress &callback;

    void coarse(int k, const char *text) const
    {
        if (callback)
            callback(k, 4, QObject::tr(text));
    }

    void fine(double base, double span, qint64 done, qint64 total, const char *text) const
    {
        if (!callback || total <= 0)
            return;
        callback(int((base + span * double(done) / double(total)) * 1000), 1000, QObject::tr(text));
    }
};

// Links every track to the first one carrying the same hash. Tracks already joined by an
// earlier, more certain phase are left as they are: byte-identical copies also share their
// payload hash, and linking them again would demote their group to the payload tier.
void linkEqualHashes(const QList<TrackInfo> &tracks, QString TrackInfo::*field, MatchTier tier, UnionFind &uf)
{
    QHash<QString, int> firstSeen;
    firstSeen.reserve(tracks.size());
    for (int i = 0; i < tracks.size(); ++i) {
        const QString &hash = tracks[i].*field;
        if (hash.isEmpty())
            continue;
        const auto it = firstSeen.constFind(hash);
        if (it == firstSeen.constEnd())
            firstSeen.insert(hash, i);
        else if (uf.find(it.value()) != uf.find(i))
            uf.link(it.value(), i, tier);
    }
}

quint64 pairKey(int lower, int higher) { return (quint64(quint32(lower)) << 32) | quint32(higher); }

void addSaturating(quint16 &counter)
{
    if (counter < kSaturated)
        ++counter;
}

// The acoustic candidate index: which tracks share enough sampled fingerprint values
// to be worth an alignment search.
QList<std::pair<int, int>> acousticCandidates(const QList<TrackInfo> &tracks, bool fpcalc,
                                              const PhaseProgress &progress)
{
    const int n = int(tracks.size());
    QHash<quint32, QList<int>> index;
    int minShared = 3;
    if (!fpcalc) {
        index.reserve(qsizetype(n) * 64);
        QList<quint32> keys;
        for (int i = 0; i < n; ++i) {
            if (i % 2048 == 0)
                progress.fine(0, 0.7, i, n, "Indexing fingerprints");
            const QList<quint32> &fp = tracks[i].fingerprint;
            if (fp.size() < kMinFingerprintWords)
                continue;
            const qsizetype step = std::max<qsizetype>(1, fp.size() / 400);
            keys.clear();
            for (qsizetype j = 0; j < fp.size(); j += step) {
                const quint32 v = fp[j];
                keys.append(v & 0xFFFFu);
                keys.append((v >> 16) | 0x10000u);
            }
            std::sort(keys.begin(), keys.end());
            keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
            for (quint32 key : std::as_const(keys))
                index[key].append(i);
        }
    } else {
        minShared = 5;
        QHash<quint32, quint16> frequency;
        frequency.reserve(qsizetype(n) * 200);
        QList<QList<quint32>> distinct(n);
        for (int i = 0; i < n; ++i) {
            if (i % 2048 == 0)
                progress.fine(0, 0.35, i, n, "Indexing fingerprints");
            const QList<quint32> &fp = tracks[i].fingerprint;
            if (fp.size() < kMinFingerprintWords)
                continue;
            QList<quint32> values = fp;
            std::sort(values.begin(), values.end());
            values.erase(std::unique(values.begin(), values.end()), values.end());
            for (quint32 v : std::as_const(values))
                addSaturating(frequency[v]);
            distinct[i] = std::move(values);
        }
        index.reserve(frequency.size() / 8 + 64);
        for (int i = 0; i < n; ++i) {
            if (i % 2048 == 0)
                progress.fine(0.35, 0.35, i, n, "Indexing fingerprints");
            for (quint32 v : std::as_const(distinct[i])) {
                if (frequency.value(v) >= 2)
                    index[v].append(i);
            }
        }
    }

    const int limit = std::clamp(int(n * 0.02), 64, 256);
    for (auto it = index.begin(); it != index.end();) {
        if (it.value().size() > limit)
            it = index.erase(it);
        else
            ++it;
    }

    QHash<quint64, quint16> pairCounts;
    pairCounts.reserve(qsizetype(n) * 8);
    const qsizetype entries = index.size();
    qsizetype entry = 0;
    for (auto it = index.cbegin(); it != index.cend(); ++it, ++entry) {
        if (entry % 4096 == 0)
            progress.fine(0.7, 0.2, entry, entries, "Finding candidate matches");
        const QList<int> &list = it.value();
        for (qsizetype p = 0; p < list.size(); ++p) {
            for (qsizetype q = p + 1; q < list.size(); ++q)
                addSaturating(pairCounts[pairKey(list[p], list[q])]);
        }
    }

    QList<std::pair<int, int>> candidates;
    for (auto it = pairCounts.cbegin(); it != pairCounts.cend(); ++it) {
        if (it.value() >= minShared)
            candidates.append({int(it.key() >> 32), int(it.key() & 0xFFFFFFFFu)});
    }
    std::sort(candidates.begin(), candidates.end());
    return candidates;
}

bool durationsClose(qint64 da, qint64 db, int tolerancePercent)
{
    if (da <= 0 || db <= 0)
        return true;
    const qint64 diff = da > db ? da - db : db - da;
    return diff * 100 <= std::max(da, db) * qint64(tolerancePercent);
}

void linkAcoustic(const QList<TrackInfo> &tracks, const ScanOptions &options, const QAtomicInt &cancel,
                  const PhaseProgress &progress, UnionFind &uf)
{
    const bool fpcalc = options.engine == 1;
    const QList<std::pair<int, int>> candidates = acousticCandidates(tracks, fpcalc, progress);
    const qsizetype total = candidates.size();
    for (qsizetype k = 0; k < total; ++k) {
        if (k % 1024 == 0) {
            if (cancel.loadRelaxed())
                return;
            progress.fine(0.9, 0.1, k + 1, total, "Comparing acoustic fingerprints");
        }
        const int a = candidates[k].first;
        const int b = candidates[k].second;
        if (uf.find(a) == uf.find(b))
            continue;
        const TrackInfo &ta = tracks[a];
        const TrackInfo &tb = tracks[b];
        if (ta.fingerprint.size() < kMinFingerprintWords || tb.fingerprint.size() < kMinFingerprintWords)
            continue;
        if (!durationsClose(ta.durationMs, tb.durationMs, options.durationTolerance))
            continue;
        double error = 1.0;
        double threshold;
        if (fpcalc) {
            threshold = options.chromaprintThreshold;
            if (Chromaprint::couldMatch(ta.fingerprint, tb.fingerprint, threshold))
                error = Chromaprint::bitErrorRate(ta.fingerprint, tb.fingerprint, 40, 80);
        } else {
            threshold = options.threshold;
            if (Fingerprint::couldMatch(ta.fingerprint, tb.fingerprint, threshold))
                error = Fingerprint::bestBitErrorRate(ta.fingerprint, ta.fingerprintMask, tb.fingerprint,
                                                      tb.fingerprintMask, tb.fingerprintAlt,
                                                      tb.fingerprintAltMask, 48, 40, nullptr);
        }
        if (error <= threshold)
            uf.link(a, b, Acoustic);
    }
}

void linkMetadata(const QList<TrackInfo> &tracks, const ScanOptions &options, UnionFind &uf)
{
    QHash<QString, QList<int>> buckets;
    for (int i = 0; i < tracks.size(); ++i) {
        const TrackInfo &t = tracks[i];
        if (t.title.isEmpty() || t.artist.isEmpty())
            continue;
        const QString key = normaliseForMatching(t.artist) + QChar(0x1F) + normaliseForMatching(t.title);
        if (key.size() > 3)
            buckets[key].append(i);
    }
    for (auto it = buckets.cbegin(); it != buckets.cend(); ++it) {
        const QList<int> &list = it.value();
        for (qsizetype p = 0; p < list.size(); ++p) {
            for (qsizetype q = p + 1; q < list.size(); ++q) {
                const qint64 da = tracks[list[p]].durationMs;
                const qint64 db = tracks[list[q]].durationMs;
                if (da <= 0 || db <= 0 || qAbs(da - db) <= options.metadataTolerance)
                    uf.link(list[p], list[q], Metadata);
            }
        }
    }
}

double confidenceFor(MatchTier tier)
{
    switch (tier) {
    case Identical:
        return 1.0;
    case SameAudio:
        return 0.99;
    case Acoustic:
        return 0.9;
    default:
        return 0.65;
    }
}

int formatRank(const TrackInfo &t, const QStringList &preferred)
{
    const qsizetype i = preferred.indexOf(t.format);
    return int(i < 0 ? preferred.size() : i);
}

int folderDepth(const TrackInfo &t) { return int(t.path.count(QLatin1Char('/')) + t.path.count(QLatin1Char('\\'))); }

int tagScore(const TrackInfo &t)
{
    return (t.title.isEmpty() ? 0 : 3) + (t.artist.isEmpty() ? 0 : 3) + (t.album.isEmpty() ? 0 : 2) +
           (t.albumArtist.isEmpty() ? 0 : 1) + (t.genre.isEmpty() ? 0 : 1) + (t.year.isEmpty() ? 0 : 1) +
           (t.trackNo > 0 ? 1 : 0);
}

bool isBetter(const TrackInfo &c, const TrackInfo &best, const ScanOptions &options)
{
    switch (options.keeperPolicy) {
    case HighestBitrate:
        if (c.bitrate != best.bitrate)
            return c.bitrate > best.bitrate;
        return c.size > best.size;
    case LongestDuration:
        return c.durationMs > best.durationMs;
    case LargestFile:
        return c.size > best.size;
    case PreferredFormat: {
        const int rc = formatRank(c, options.preferredFormats);
        const int rb = formatRank(best, options.preferredFormats);
        if (rc != rb)
            return rc < rb;
        return c.bitrate > best.bitrate;
    }
    case ShallowestFolder: {
        const int dc = folderDepth(c);
        const int db = folderDepth(best);
        if (dc != db)
            return dc < db;
        return c.path.size() < best.path.size();
    }
    case OldestFile:
        return c.mtime < best.mtime;
    case NewestFile:
        return c.mtime > best.mtime;
    case MostCompleteTags: {
        const int sc = tagScore(c);
        const int sb = tagScore(best);
        if (sc != sb)
            return sc > sb;
        return c.bitrate > best.bitrate;
    }
    default:
        return false;
    }
}

} // namespace

QString normaliseForMatching(const QString &text)
{
    static const QRegularExpression qualifier(
        QStringLiteral("\\s*[\\(\\[\\{][^\\)\\]\\}]*(remaster|remix|version|edit|mono|stereo|live|explicit|clean|"
                       "deluxe|bonus)[^\\)\\]\\}]*[\\)\\]\\}]"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression other(QStringLiteral("[^a-z0-9 ]"));
    static const QRegularExpression spaces(QStringLiteral("\\s+"));

    QString s = text.toLower();
    s.remove(qualifier);
    s.remove(other);
    s.replace(spaces, QStringLiteral(" "));
    s = s.trimmed();
    if (s.startsWith(QLatin1String("the ")))
        s.remove(0, 4);
    return s;
}

int DuplicateGrouper::chooseKeeper(const MatchGroup &group, const QList<TrackInfo> &tracks,
                                   const ScanOptions &options)
{
    if (group.members.isEmpty())
        return -1;
    int best = group.members.first();
    for (int c : group.members) {
        if (c < 0 || c >= tracks.size() || best < 0 || best >= tracks.size())
            continue;
        if (isBetter(tracks[c], tracks[best], options))
            best = c;
    }
    return best;
}

QList<MatchGroup> DuplicateGrouper::group(const QList<TrackInfo> &tracks, const ScanOptions &options,
                                          const QAtomicInt &cancel, const Progress &progress)
{
    const int n = int(tracks.size());
    if (n < 2)
        return {};
    const PhaseProgress report{progress};
    UnionFind uf(n);

    if (options.detectIdentical) {
        report.coarse(0, "Matching identical files");
        linkEqualHashes(tracks, &TrackInfo::fullHash, Identical, uf);
    }
    if (options.detectSameAudio) {
        report.coarse(1, "Matching audio payloads");
        linkEqualHashes(tracks, &TrackInfo::audioHash, SameAudio, uf);
    }
    if (options.detectAcoustic && !cancel.loadRelaxed())
        linkAcoustic(tracks, options, cancel, report, uf);
    if (options.detectMetadata && !cancel.loadRelaxed()) {
        report.coarse(3, "Comparing metadata");
        linkMetadata(tracks, options, uf);
    }

    QHash<int, MatchGroup> byRoot;
    QList<int> rootOrder;
    for (int i = 0; i < n; ++i) {
        const int root = uf.find(i);
        auto it = byRoot.find(root);
        if (it == byRoot.end()) {
            it = byRoot.insert(root, MatchGroup());
            rootOrder.append(root);
        }
        it->members.append(i);
        const MatchTier t = uf.tierOf(i);
        if (t != Unmatched && (it->tier == Unmatched || it->tier < t))
            it->tier = t;
    }

    QList<MatchGroup> result;
    for (int root : std::as_const(rootOrder)) {
        MatchGroup g = byRoot.value(root);
        if (g.members.size() < 2)
            continue;
        std::sort(g.members.begin(), g.members.end(), [&](int a, int b) {
            return QString::localeAwareCompare(tracks[a].path, tracks[b].path) < 0;
        });
        g.keeper = chooseKeeper(g, tracks, options);
        g.reclaimableBytes = 0;
        for (int m : std::as_const(g.members)) {
            if (m != g.keeper)
                g.reclaimableBytes += tracks[m].size;
        }
        g.confidence = confidenceFor(g.tier);
        result.append(g);
    }
    std::stable_sort(result.begin(), result.end(), [](const MatchGroup &a, const MatchGroup &b) {
        if (a.tier != b.tier)
            return a.tier < b.tier;
        return a.reclaimableBytes > b.reclaimableBytes;
    });
    for (int i = 0; i < result.size(); ++i)
        result[i].id = i + 1;
    report.coarse(4, "Grouping complete");
    return result;
}

} // namespace rvw

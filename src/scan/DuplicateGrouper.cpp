#include "scan/DuplicateGrouper.h"

#include "audio/Chromaprint.h"
#include "audio/Fingerprint.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <utility>
#include <vector>

namespace rvw {

namespace {

constexpr int kMinFingerprintWords = 40;

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

// How the built-in engine samples a fingerprint into index keys. Up to 4096 tracks the
// keys are the two 16-bit halves of about 400 sampled words. In a larger library 16-bit
// keys are shared by so many unrelated tracks that their lists pass the pruning limit
// (and are dropped, losing every duplicate) or turn the pair count quadratic, so the keys
// widen to 28 bits: still many shared keys for a re-encode, almost none for unrelated
// tracks. The sampling stays the same, so that copies offset by any number of frames
// still sample the same frames.
struct BuiltinKeying
{
    int bits = 16;
    int samples = 400;
};

BuiltinKeying builtinKeying(int n)
{
    if (n <= 4096)
        return {};
    return {28, 400};
}

// The acoustic candidate index: which tracks share enough sampled fingerprint values to be
// worth an alignment search. The index is a sorted array of (key, track) postings, so a
// key's list is one run of it; runs longer than the pruning limit are ignored. Shared keys
// are then counted per track against the later tracks of its runs, which keeps memory
// linear in the number of postings.
QList<std::pair<int, int>> acousticCandidates(const QList<TrackInfo> &tracks, bool fpcalc,
                                              const PhaseProgress &progress)
{
    const int n = int(tracks.size());
    const int limit = std::clamp(int(n * 0.02), 64, 256);
    // fpcalc values held by one track only are not indexed; a run of one yields no pair,
    // so that rule needs no separate pass.
    const int minShared = fpcalc ? 5 : 3;
    const BuiltinKeying keying = builtinKeying(n);
    const quint32 lowMask = (quint32(1) << keying.bits) - 1;
    const quint32 highTag = quint32(1) << keying.bits;

    std::vector<quint64> postings;
    std::vector<quint32> keys;
    for (int i = 0; i < n; ++i) {
        if (i % 2048 == 0)
            progress.fine(0, 0.7, i, n, "Indexing fingerprints");
        const QList<quint32> &fp = tracks[i].fingerprint;
        if (fp.size() < kMinFingerprintWords)
            continue;
        keys.clear();
        if (fpcalc) {
            keys.assign(fp.cbegin(), fp.cend());
        } else {
            const qsizetype step = std::max<qsizetype>(1, fp.size() / keying.samples);
            for (qsizetype j = 0; j < fp.size(); j += step) {
                const quint32 v = fp[j];
                keys.push_back(v & lowMask);
                keys.push_back((v >> (32 - keying.bits)) | highTag);
            }
        }
        std::sort(keys.begin(), keys.end());
        keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
        for (quint32 key : keys)
            postings.push_back((quint64(key) << 32) | quint32(i));
    }
    std::sort(postings.begin(), postings.end());

    // Runs of 2..limit postings, and for each track the runs it belongs to (CSR form).
    std::vector<std::pair<quint32, quint32>> runs; // [begin, end) into postings
    std::vector<quint32> runsPerTrack(size_t(n) + 1, 0);
    for (size_t b = 0; b < postings.size();) {
        size_t e = b + 1;
        while (e < postings.size() && (postings[e] >> 32) == (postings[b] >> 32))
            ++e;
        if (e - b >= 2 && e - b <= size_t(limit)) {
            runs.push_back({quint32(b), quint32(e)});
            for (size_t k = b; k < e; ++k)
                ++runsPerTrack[size_t(quint32(postings[k])) + 1];
        }
        b = e;
    }
    for (int i = 0; i < n; ++i)
        runsPerTrack[size_t(i) + 1] += runsPerTrack[size_t(i)];
    std::vector<quint32> trackRuns(runsPerTrack[size_t(n)]);
    {
        std::vector<quint32> fill(runsPerTrack.begin(), runsPerTrack.end() - 1);
        for (size_t r = 0; r < runs.size(); ++r) {
            for (quint32 k = runs[r].first; k < runs[r].second; ++k)
                trackRuns[fill[size_t(quint32(postings[k]))]++] = quint32(r);
        }
    }

    QList<std::pair<int, int>> candidates;
    std::vector<int> counts(size_t(n), 0);
    std::vector<int> touched;
    for (int a = 0; a < n; ++a) {
        if (a % 4096 == 0)
            progress.fine(0.7, 0.2, a, n, "Finding candidate matches");
        for (quint32 t = runsPerTrack[size_t(a)]; t < runsPerTrack[size_t(a) + 1]; ++t) {
            const auto &run = runs[trackRuns[t]];
            // postings within a run are in ascending track order
            for (quint32 k = run.first; k < run.second; ++k) {
                const int b = int(quint32(postings[k]));
                if (b <= a)
                    continue;
                if (counts[size_t(b)]++ == 0)
                    touched.push_back(b);
            }
        }
        std::sort(touched.begin(), touched.end());
        for (int b : touched) {
            if (counts[size_t(b)] >= minShared)
                candidates.append({a, b});
            counts[size_t(b)] = 0;
        }
        touched.clear();
    }
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

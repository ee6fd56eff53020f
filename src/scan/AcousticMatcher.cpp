#include "scan/AcousticMatcher.h"

#include "audio/Chromaprint.h"
#include "audio/Fingerprint.h"

#include <QtConcurrent/QtConcurrentMap>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <vector>

namespace rvw {

namespace {

// Prints shorter than this are not matched: about 5 s of audio. fpcalc's filters take about
// two seconds of every print, so a 5 s ident gives it only some 24 values.
constexpr int kMinBuiltinWords = 40;
constexpr int kMinFpcalcWords = 16;
// Votes at one offset (give or take a word) that make a pair worth a full comparison. Keys
// carry about 30 bits, so four agreeing by chance at one offset does not happen.
constexpr int kMinVotes = 4;
// A key repeated within one track (a held chord, a loop) votes at most this often.
constexpr int kMaxPositionsPerKey = 4;
// Pitch-profile windows paired into one key are this many words apart.
constexpr int kKeyPairGap = 4;
constexpr int kSearchRadius = 2;
// Words are compared in blocks; a block agrees when its rate is within the threshold plus this.
constexpr int kBlockPairs = 8;
constexpr double kBlockSlack = 0.1;
// The agreeing blocks must cover this share of the shorter item's audio.
constexpr double kMinCoverage = 0.8;
constexpr qint64 kWordMs = 124; // 1365 samples at 11,025 Hz, for both engines
constexpr int kTracksPerBlock = 512;
constexpr int kBlocksPerWave = 16;
constexpr qsizetype kPairsPerWave = 4096;

// A posting is one key at one word of one track, packed so that sorting the numbers sorts
// by key, then track, then position: the key in the high half, the track and the word
// position sharing the low half.
using Posting = quint64;

struct Layout
{
    int posBits = 13;
    quint32 posMask = (1u << 13) - 1;

    static Layout forWords(int longest)
    {
        Layout l;
        l.posBits = 1;
        while (l.posBits < 16 && (1 << l.posBits) < longest)
            ++l.posBits;
        l.posMask = (quint32(1) << l.posBits) - 1;
        return l;
    }
    int trackCapacity() const { return int(std::min<qint64>(qint64(1) << (32 - posBits), INT_MAX)); }
    Posting make(quint32 key, quint32 track, int pos) const
    {
        return (Posting(key) << 32) | (Posting(track) << posBits) | Posting(quint32(pos) & posMask);
    }
    static quint32 key(Posting p) { return quint32(p >> 32); }
    quint32 track(Posting p) const { return quint32(p) >> posBits; }
    int pos(Posting p) const { return int(quint32(p) & posMask); }
};

bool isFpcalc(const ScanOptions &options)
{
    return options.engine == 1;
}

int minimumWords(bool fpcalc)
{
    return fpcalc ? kMinFpcalcWords : kMinBuiltinWords;
}

bool hasMasks(const TrackInfo &t)
{
    return !t.fingerprintMask.isEmpty() && t.fingerprintMask.size() == t.fingerprint.size();
}

// Words computed from digital silence: fpcalc's constant value, or a built-in word without a
// single strong bit (all band energies equal).
bool silentWord(const QList<quint32> &words, const QList<quint32> &mask, int i, bool fpcalc)
{
    if (fpcalc)
        return words[i] == Chromaprint::kSilenceValue;
    return !mask.isEmpty() && mask[i] == 0 && words[i] == 0;
}

int audioWords(const TrackInfo &t, bool fpcalc)
{
    const QList<quint32> &mask = hasMasks(t) ? t.fingerprintMask : QList<quint32>();
    int n = 0;
    for (int i = 0; i < t.fingerprint.size(); ++i)
        n += silentWord(t.fingerprint, mask, i, fpcalc) ? 0 : 1;
    return n;
}

struct KeyAt
{
    quint32 key;
    int pos;
    bool operator<(const KeyAt &o) const { return key != o.key ? key < o.key : pos < o.pos; }
};

// The keys of one track with their word positions, each key at most at its first few
// positions (a held chord or a loop repeats one). Built-in tracks analysed before the
// pitch-profile keys existed, and fingerprints made by hand, are keyed by their words.
void keysOf(const TrackInfo &t, bool fpcalc, int trackCount, int maxPos, std::vector<KeyAt> &out)
{
    out.clear();
    const QList<quint32> &words = t.fingerprint;
    const QList<quint32> mask = hasMasks(t) ? t.fingerprintMask : QList<quint32>();
    if (fpcalc) {
        for (int i = 0; i < words.size() && i <= maxPos; ++i) {
            if (!silentWord(words, mask, i, true))
                out.push_back({words[i], i});
        }
    } else if (!t.fingerprintKeys.isEmpty()) {
        const QList<quint32> &keys = t.fingerprintKeys;
        for (int j = 0; j + kKeyPairGap < keys.size() && j <= maxPos; ++j) {
            const quint32 k1 = keys[j];
            const quint32 k2 = keys[j + kKeyPairGap];
            if (k1 != Fingerprint::kNoKey && k2 != Fingerprint::kNoKey)
                out.push_back({(k1 << 15) ^ k2, j});
        }
    } else {
        // Wide keys in a large library keep the lists short; halves in a small one find more.
        const int bits = trackCount <= 4096 ? 16 : 28;
        const quint32 lowMask = (quint32(1) << bits) - 1;
        const quint32 highTag = quint32(1) << bits;
        for (int i = 0; i < words.size() && i <= maxPos; ++i) {
            if (silentWord(words, mask, i, false))
                continue;
            out.push_back({words[i] & lowMask, i});
            out.push_back({(words[i] >> (32 - bits)) | highTag, i});
        }
    }
    std::sort(out.begin(), out.end());
    size_t kept = 0;
    int run = 0;
    for (size_t k = 0; k < out.size(); ++k) {
        run = (k > 0 && out[k].key == out[k - 1].key) ? run + 1 : 0;
        if (run < kMaxPositionsPerKey)
            out[kept++] = out[k];
    }
    out.resize(kept);
}

// Spreads keys over buckets so that equal keys share one; a bucket is then sorted on its
// own, which is far quicker than sorting every posting of a large library at once.
quint32 bucketOf(quint32 key, int bucketBits)
{
    return (key * 0x9E3779B1u) >> (32 - bucketBits);
}

struct Score
{
    qint64 considered = 0;
    qint64 errors = 0;
    int pairs = 0;   // pairs of words that both hold audio
    int covered = 0; // of those, pairs in agreeing blocks
    double rate() const { return considered > 0 ? double(errors) / double(considered) : 1.0; }
};

Score scoreAt(const QList<quint32> &a, const QList<quint32> &aMask, const QList<quint32> &b,
              const QList<quint32> &bMask, int offset, bool fpcalc, bool masked, double blockLimit)
{
    Score s;
    const int first = std::max(0, -offset);
    const int last = std::min(int(a.size()), int(b.size()) - offset); // exclusive
    qint64 blockConsidered = 0;
    qint64 blockErrors = 0;
    int blockPairs = 0;
    const auto closeBlock = [&] {
        if (blockPairs > 0 && blockConsidered > 0 && double(blockErrors) / double(blockConsidered) <= blockLimit)
            s.covered += blockPairs;
        blockConsidered = blockErrors = 0;
        blockPairs = 0;
    };
    for (int i = first; i < last; ++i) {
        const int j = i + offset;
        if (silentWord(a, aMask, i, fpcalc) || silentWord(b, bMask, j, fpcalc))
            continue;
        const quint32 m = masked ? (aMask[i] & bMask[j]) : 0xFFFFFFFFu;
        const int considered = qPopulationCount(m);
        const int errors = qPopulationCount((a[i] ^ b[j]) & m);
        s.considered += considered;
        s.errors += errors;
        ++s.pairs;
        blockConsidered += considered;
        blockErrors += errors;
        if (++blockPairs == kBlockPairs)
            closeBlock();
    }
    if (blockPairs * 2 >= kBlockPairs)
        closeBlock();
    return s;
}

// Start differences explain a difference in length: a copy with 15 s more lead-in is 15 s
// longer. Unknown durations never stop a comparison.
bool durationsAllow(qint64 da, qint64 db, int offset, int tolerancePercent)
{
    if (da <= 0 || db <= 0)
        return true;
    const qint64 diff = std::llabs(da - db);
    const qint64 lead = qint64(std::min(std::abs(offset), AcousticMatcher::kMaxOffsetWords)) * kWordMs;
    return diff * 100 <= std::max(da, db) * qint64(tolerancePercent) + lead * 100;
}

struct Candidate
{
    int a;
    int b;
    int offset;
};

// Per track, the runs it takes part in and its position there (compressed rows).
struct RunTable
{
    std::vector<std::pair<quint32, quint32>> runs; // [begin, end) into the postings
    std::vector<quint32> rowStart;                 // per track, into entries
    std::vector<std::pair<quint32, qint32>> entries; // (run, position)
};

RunTable buildRuns(const std::vector<Posting> &postings, const Layout &layout, int n, int trackLimit,
                   const QAtomicInt &cancel)
{
    RunTable t;
    std::vector<quint32> count(size_t(n) + 1, 0);
    for (size_t b = 0; b < postings.size();) {
        size_t e = b + 1;
        int tracks = 1;
        const quint32 key = Layout::key(postings[b]);
        while (e < postings.size() && Layout::key(postings[e]) == key) {
            tracks += layout.track(postings[e]) != layout.track(postings[e - 1]) ? 1 : 0;
            ++e;
        }
        if (tracks >= 2 && tracks <= trackLimit) {
            t.runs.push_back({quint32(b), quint32(e)});
            for (size_t k = b; k < e; ++k)
                ++count[size_t(layout.track(postings[k])) + 1];
        }
        b = e;
        if ((t.runs.size() & 0xFFFF) == 0 && cancel.loadRelaxed())
            return RunTable();
    }
    for (int i = 0; i < n; ++i)
        count[size_t(i) + 1] += count[size_t(i)];
    t.rowStart = count;
    t.entries.resize(count[size_t(n)]);
    std::vector<quint32> fill(count.begin(), count.end() - 1);
    for (size_t r = 0; r < t.runs.size(); ++r) {
        for (quint32 k = t.runs[r].first; k < t.runs[r].second; ++k)
            t.entries[fill[layout.track(postings[k])]++] = {quint32(r), layout.pos(postings[k])};
    }
    return t;
}

// The best-supported offset of each later track that shares keys with track a.
void voteFor(int a, const std::vector<Posting> &postings, const Layout &layout, const RunTable &table,
             std::vector<quint64> &votes, QList<Candidate> &out)
{
    votes.clear();
    for (quint32 e = table.rowStart[size_t(a)]; e < table.rowStart[size_t(a) + 1]; ++e) {
        const auto &run = table.runs[table.entries[e].first];
        const qint32 posA = table.entries[e].second;
        for (quint32 k = run.first; k < run.second; ++k) {
            const quint32 track = layout.track(postings[k]);
            if (int(track) <= a)
                continue;
            const int offset = layout.pos(postings[k]) - posA;
            if (std::abs(offset) > AcousticMatcher::kMaxOffsetWords)
                continue;
            votes.push_back((quint64(track) << 16) | quint64(offset + 32768));
        }
    }
    std::sort(votes.begin(), votes.end());
    for (size_t i = 0; i < votes.size();) {
        const quint64 track = votes[i] >> 16;
        size_t end = i;
        while (end < votes.size() && (votes[end] >> 16) == track)
            ++end;
        // The window of three neighbouring offsets with the most votes.
        int bestVotes = 0;
        int bestOffset = 0;
        size_t lo = i;
        for (size_t hi = i; hi < end; ++hi) {
            const int o = int(votes[hi] & 0xFFFF);
            while (int(votes[lo] & 0xFFFF) < o - 2)
                ++lo;
            const int inWindow = int(hi - lo + 1);
            if (inWindow > bestVotes) {
                bestVotes = inWindow;
                bestOffset = int(votes[(lo + hi) / 2] & 0xFFFF) - 32768;
            }
        }
        if (bestVotes >= kMinVotes)
            out.append({a, int(track), bestOffset});
        i = end;
    }
}

} // namespace

bool AcousticMatcher::compare(const TrackInfo &a, const TrackInfo &b, int offset, const ScanOptions &options,
                              Match *match)
{
    const bool fpcalc = isFpcalc(options);
    const double threshold = fpcalc ? options.chromaprintThreshold : options.threshold;
    const int shorterAudio = std::min(audioWords(a, fpcalc), audioWords(b, fpcalc));
    if (shorterAudio < kBlockPairs)
        return false;
    const bool masked = !fpcalc && hasMasks(a) && hasMasks(b);
    struct Stream
    {
        const QList<quint32> *words;
        const QList<quint32> *mask;
    };
    // A mask that does not fit its words (a damaged cache row) is not used at all.
    static const QList<quint32> noMask;
    const QList<quint32> &aMask = hasMasks(a) ? a.fingerprintMask : noMask;
    std::vector<Stream> streams{{&b.fingerprint, hasMasks(b) ? &b.fingerprintMask : &noMask}};
    if (masked && !b.fingerprintAlt.isEmpty() && b.fingerprintAltMask.size() == b.fingerprintAlt.size())
        streams.push_back({&b.fingerprintAlt, &b.fingerprintAltMask});

    bool found = false;
    Match best;
    for (const Stream &stream : streams) {
        for (int o = offset - kSearchRadius; o <= offset + kSearchRadius; ++o) {
            Score s = scoreAt(a.fingerprint, aMask, *stream.words, *stream.mask, o, fpcalc, masked,
                              threshold + kBlockSlack);
            // Masks too thin to judge by (a quiet passage): every bit counts instead.
            if (masked && s.considered < 2 * qint64(s.pairs))
                s = scoreAt(a.fingerprint, aMask, *stream.words, *stream.mask, o, fpcalc, false,
                            threshold + kBlockSlack);
            const int needed = int(kMinCoverage * std::min(shorterAudio, s.pairs) + 0.5);
            if (s.pairs < std::min(minimumWords(fpcalc), int(kMinCoverage * shorterAudio)) || s.covered < needed ||
                s.rate() > threshold)
                continue;
            if (!found || s.rate() < best.rate) {
                found = true;
                best = {a.id, b.id, o, s.rate()};
            }
        }
    }
    if (found && match)
        *match = best;
    return found;
}

QList<AcousticMatcher::Match> AcousticMatcher::find(const QList<TrackInfo> &tracks, const ScanOptions &options,
                                                    const QAtomicInt &cancel, const Progress &progress,
                                                    const Joined &joined, const Found &found)
{
    const int n = int(tracks.size());
    const bool fpcalc = isFpcalc(options);
    const auto report = [&progress](double fraction, const char *text) {
        if (progress)
            progress(fraction, text);
    };
    std::vector<Posting> postings;

    int longest = 1;
    for (const TrackInfo &t : tracks)
        longest = std::max(longest, int(std::max(t.fingerprint.size(), t.fingerprintKeys.size())));
    const Layout layout = Layout::forWords(longest);
    // A library too large for the packing keeps its earliest tracks; never the case below
    // half a million tracks.
    const int indexed = std::min(n, layout.trackCapacity());

    // Keys are taken per block of tracks on the thread pool, then spread over buckets so that
    // equal keys share one, and every bucket is sorted on its own: far quicker than sorting
    // every posting of a large library at once.
    int bucketBits = 8;
    const qint64 expected = qint64(indexed) * 480;
    while (bucketBits < 24 && (qint64(1) << bucketBits) * 64 < expected)
        ++bucketBits;
    const int blockCount = (indexed + kTracksPerBlock - 1) / kTracksPerBlock;
    std::vector<std::vector<Posting>> blockPostings(size_t(std::max(blockCount, 0)));
    for (int wave = 0; wave < blockCount; wave += kBlocksPerWave) {
        if (cancel.loadRelaxed())
            return {};
        report(0.6 * wave / std::max(blockCount, 1), "Indexing fingerprints");
        std::vector<int> indices;
        for (int blk = wave; blk < std::min(blockCount, wave + kBlocksPerWave); ++blk)
            indices.push_back(blk);
        QtConcurrent::blockingMap(indices, [&](int blk) {
            std::vector<KeyAt> keys;
            std::vector<Posting> &out = blockPostings[size_t(blk)];
            const int end = std::min(indexed, (blk + 1) * kTracksPerBlock);
            for (int i = blk * kTracksPerBlock; i < end; ++i) {
                if (tracks[i].fingerprint.size() < minimumWords(fpcalc))
                    continue;
                keysOf(tracks[i], fpcalc, n, int(layout.posMask), keys);
                for (const KeyAt &k : keys)
                    out.push_back(layout.make(k.key, quint32(i), k.pos));
            }
        });
    }
    std::vector<quint64> bucketStart((size_t(1) << bucketBits) + 1, 0);
    for (const std::vector<Posting> &block : blockPostings) {
        for (Posting p : block)
            ++bucketStart[size_t(bucketOf(Layout::key(p), bucketBits)) + 1];
    }
    for (size_t b = 1; b < bucketStart.size(); ++b)
        bucketStart[b] += bucketStart[b - 1];
    postings.resize(size_t(bucketStart.back()));
    {
        std::vector<quint64> fill(bucketStart.begin(), bucketStart.end() - 1);
        for (std::vector<Posting> &block : blockPostings) {
            for (Posting p : block)
                postings[size_t(fill[bucketOf(Layout::key(p), bucketBits)]++)] = p;
            std::vector<Posting>().swap(block);
        }
    }
    std::vector<int> bucketRanges;
    for (int r = 0; r < (1 << bucketBits); r += 1024)
        bucketRanges.push_back(r);
    QtConcurrent::blockingMap(bucketRanges, [&](int first) {
        const size_t last = std::min(bucketStart.size() - 1, size_t(first) + 1024);
        for (size_t b = size_t(first); b < last; ++b)
            std::sort(postings.begin() + std::ptrdiff_t(bucketStart[b]),
                      postings.begin() + std::ptrdiff_t(bucketStart[b + 1]));
    });
    if (cancel.loadRelaxed())
        return {};
    report(0.7, "Finding candidate matches");
    // A key held by many tracks (a common chord held for a second, a silence-like value) says
    // little about any one pair and would cost a vote per pair of its holders; copies share
    // plenty of rarer keys.
    const int trackLimit = std::clamp(int(n * 0.02), 32, 64);
    const RunTable table = buildRuns(postings, layout, n, trackLimit, cancel);

    // Voting and comparing are independent per track and per pair: they run on the global
    // thread pool in waves of blocks, so that cancel and progress are seen between waves and
    // the result does not depend on the number of threads.
    const int rows = int(table.rowStart.empty() ? 0 : table.rowStart.size() - 1);
    const int blocks = (rows + kTracksPerBlock - 1) / kTracksPerBlock;
    std::vector<QList<Candidate>> perBlock(size_t(std::max(blocks, 0)));
    for (int wave = 0; wave < blocks; wave += kBlocksPerWave) {
        if (cancel.loadRelaxed())
            return {};
        report(0.7 + 0.2 * wave / std::max(blocks, 1), "Finding candidate matches");
        std::vector<int> indices;
        for (int blk = wave; blk < std::min(blocks, wave + kBlocksPerWave); ++blk)
            indices.push_back(blk);
        QtConcurrent::blockingMap(indices, [&](int blk) {
            std::vector<quint64> votes;
            const int end = std::min(rows, (blk + 1) * kTracksPerBlock);
            for (int a = blk * kTracksPerBlock; a < end; ++a)
                voteFor(a, postings, layout, table, votes, perBlock[size_t(blk)]);
        });
    }
    QList<Candidate> candidates;
    for (const QList<Candidate> &list : perBlock)
        candidates += list;

    QList<Match> matches;
    const qsizetype total = candidates.size();
    std::vector<Match> verdicts(static_cast<size_t>(total));
    for (qsizetype first = 0; first < total; first += kPairsPerWave) {
        if (cancel.loadRelaxed())
            break;
        report(0.9 + 0.1 * double(first + 1) / double(total), "Comparing acoustic fingerprints");
        const qsizetype last = std::min(total, first + kPairsPerWave);
        std::vector<qsizetype> wave;
        for (qsizetype k = first; k < last; ++k) {
            const Candidate &c = candidates[k];
            // Pairs already joined, by hashes or by an earlier wave, need no comparison.
            if (!(joined && joined(c.a, c.b)))
                wave.push_back(k);
        }
        QtConcurrent::blockingMap(wave, [&](qsizetype k) {
            const Candidate &c = candidates[k];
            const TrackInfo &ta = tracks[c.a];
            const TrackInfo &tb = tracks[c.b];
            Match m;
            if (durationsAllow(ta.durationMs, tb.durationMs, c.offset, options.durationTolerance) &&
                compare(ta, tb, c.offset, options, &m))
                verdicts[size_t(k)] = {c.a, c.b, m.offset, m.rate};
        });
        for (qsizetype k : wave) {
            const Match &m = verdicts[size_t(k)];
            if (m.a < 0)
                continue;
            matches.append(m);
            if (found)
                found(m);
        }
    }
    return matches;
}

} // namespace rvw

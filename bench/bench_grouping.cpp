// Grouping at scale: 100,000 synthetic tracks with built-in-style fingerprints (about
// 480 words each), 1,000 planted duplicate pairs with a few percent of bits flipped and
// small offsets. Prints wall time, peak memory, recall of the planted pairs and false pairs.
//   bench_grouping [tracks] [pairs]
#include "scan/DuplicateGrouper.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSet>

#include <cstdio>

using namespace rvw;

namespace {

qint64 peakRssKiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// Adjacent frames of real audio are alike: each word differs from the previous one in a
// few bits, so a copy shifted by a frame or two still lies close.
QList<quint32> walkWords(int count, QRandomGenerator &rng)
{
    QList<quint32> words;
    words.reserve(count);
    quint32 w = rng.generate();
    for (int i = 0; i < count; ++i) {
        for (int k = 0; k < 6; ++k)
            w ^= 1u << rng.bounded(32);
        words.append(w);
    }
    return words;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int n = argc > 1 ? atoi(argv[1]) : 100000;
    const int pairs = argc > 2 ? atoi(argv[2]) : 1000;
    QRandomGenerator rng(20261206);

    QList<TrackInfo> tracks;
    tracks.reserve(n);
    for (int i = 0; i < n; ++i) {
        TrackInfo t;
        t.id = i;
        t.path = QStringLiteral("/library/%1/%2.mp3").arg(i % 977).arg(i);
        t.size = 4000000 + rng.bounded(4000000);
        t.durationMs = 120000 + rng.bounded(240000);
        t.fingerprint = walkWords(460 + rng.bounded(40), rng);
        t.fingerprintMask = QList<quint32>(t.fingerprint.size(), 0xFFFFFFFFu);
        tracks.append(t);
    }
    QSet<quint64> planted;
    QSet<int> used; // each track in at most one planted pair, so groups are pairs
    const auto unusedTrack = [&] {
        int t = rng.bounded(n);
        while (used.contains(t))
            t = rng.bounded(n);
        used.insert(t);
        return t;
    };
    for (int k = 0; k < pairs; ++k) {
        const int a = unusedTrack();
        const int b = unusedTrack();
        QList<quint32> copy = tracks[a].fingerprint;
        const int shift = rng.bounded(5) - 2; // -2..+2 frames
        if (shift > 0)
            copy.remove(0, shift);
        for (int s = 0; s < -shift; ++s)
            copy.prepend(rng.generate());
        for (quint32 &w : copy) {
            for (int bit = 0; bit < 32; ++bit) {
                if (rng.bounded(100) < 3)
                    w ^= 1u << bit;
            }
        }
        tracks[b].fingerprint = copy;
        tracks[b].fingerprintMask = QList<quint32>(copy.size(), 0xFFFFFFFFu);
        tracks[b].durationMs = tracks[a].durationMs + rng.bounded(2000);
        planted.insert(quint64(qMin(a, b)) << 32 | quint32(qMax(a, b)));
    }

    ScanOptions options;
    options.engine = 0;
    QElapsedTimer timer;
    timer.start();
    QString lastText;
    const QList<MatchGroup> groups =
        DuplicateGrouper::group(tracks, options, QAtomicInt(0), [&](int, int, const QString &text) {
            if (text != lastText) {
                std::printf("  %6.2f s  %s\n", timer.elapsed() / 1000.0, qPrintable(text));
                lastText = text;
            }
        });
    const qint64 ms = timer.elapsed();

    int found = 0;
    int falsePairs = 0;
    for (const MatchGroup &g : groups) {
        for (int i = 0; i < g.members.size(); ++i) {
            for (int j = i + 1; j < g.members.size(); ++j) {
                const int a = qMin(g.members[i], g.members[j]);
                const int b = qMax(g.members[i], g.members[j]);
                if (planted.contains(quint64(a) << 32 | quint32(b)))
                    ++found;
                else
                    ++falsePairs;
            }
        }
    }
    std::printf("tracks %d, planted pairs %d\n", n, pairs);
    std::printf("group(): %.2f s wall, peak RSS %.1f MiB\n", ms / 1000.0, peakRssKiB() / 1024.0);
    std::printf("groups %lld, recall %.2f %% (%d/%d), false pairs %d\n", (long long)groups.size(),
                100.0 * found / qMax(1, pairs), found, pairs, falsePairs);
    return found == pairs && falsePairs == 0 ? 0 : 1;
}

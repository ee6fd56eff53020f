#include "audio/Fingerprint.h"

#include <QRandomGenerator>
#include <QtTest>

#include <cmath>
#include <complex>
#include <vector>

using namespace rvw;
using Words = QList<quint32>;
using Samples = std::vector<float>;

namespace {

constexpr double kTwoPi = 6.283185307179586476925;

Words randomWords(int count, quint32 seed)
{
    Words w(count);
    QRandomGenerator(seed).fillRange(w.data(), count);
    return w;
}

// The texture of music: three-note chords changing every half second, a kick on every beat
// and short noise bursts.
Samples musicLike(int rate, double seconds, quint32 seed)
{
    QRandomGenerator rng(seed);
    Samples out(size_t(rate * seconds));
    const double notes[] = {220.0, 246.9, 261.6, 293.7, 329.6, 349.2, 392.0, 440.0, 493.9, 523.3, 587.3};
    double chord[3] = {};
    for (size_t i = 0; i < out.size(); ++i) {
        if (i % size_t(rate / 2) == 0)
            for (double &f : chord)
                f = notes[rng.bounded(11)];
        const double t = double(i) / rate, beat = std::fmod(t, 0.6);
        double v = 0.4 * std::exp(-beat * 30.0) * std::sin(kTwoPi * 60.0 * beat);
        for (double f : chord)
            v += 0.18 * std::sin(kTwoPi * f * t) + 0.06 * std::sin(kTwoPi * 2.0 * f * t);
        if (std::fmod(t, 1.7) < 0.08)
            v += 0.3 * (rng.generateDouble() * 2.0 - 1.0);
        out[i] = float(v);
    }
    return out;
}

struct Prints
{
    Words main, mainMask, alt, altMask;
    Samples stream; // what the main generator saw at 11,025 Hz
};

// One analyser for every call: configure() must forget everything the previous track left.
Prints analyse(const Samples &x, int rate, const QList<int> &blocks = {})
{
    static Fingerprint::Analyzer analyzer;
    analyzer.configure(rate);
    Samples stream;
    for (size_t pos = 0, b = 0; pos < x.size(); ++b) {
        const size_t n =
            blocks.isEmpty() ? x.size() : std::min<size_t>(blocks[b % blocks.size()], x.size() - pos);
        analyzer.feed(x.data() + pos, int(n));
        stream.insert(stream.end(), analyzer.scratch.begin(), analyzer.scratch.end());
        pos += n;
    }
    return {analyzer.mainGenerator.finish(), analyzer.mainGenerator.finishMask(),
            analyzer.altGenerator.finish(), analyzer.altGenerator.finishMask(), stream};
}

// The searches from their rules alone: every offset in turn; the first qualifying one becomes
// the best and only a strictly smaller rate replaces it. With masks, only bits strong in both
// count and a pairing needs four of them a word on average; when none qualifies, every bit counts.
double reference(const Words &a, const Words *am, const Words &b, const Words *bm, int maxOffset,
                 int minOverlap, int *best)
{
    double rate = 1.0;
    bool found = false;
    *best = 0;
    for (int o = -std::min(maxOffset, int(a.size())); o <= std::min(maxOffset, int(b.size())); ++o) {
        qint64 errors = 0, considered = 0, pairs = 0;
        for (int i = std::max(0, -o); i < a.size() && i + o < b.size(); ++i, ++pairs) {
            const quint32 m = am ? (*am)[i] & (*bm)[i + o] : ~0u;
            errors += qPopulationCount((a[i] ^ b[i + o]) & m);
            considered += qPopulationCount(m);
        }
        if (pairs > 0 && pairs >= minOverlap && considered >= 4 * pairs &&
            (!found || double(errors) / considered < rate)) {
            found = true;
            rate = double(errors) / double(considered);
            *best = o;
        }
    }
    return !found && am ? reference(a, nullptr, b, nullptr, maxOffset, minOverlap, best) : rate;
}

} // namespace

class TestFingerprint : public QObject
{
    Q_OBJECT

private slots:
    // The block output equals a model: the one-sample filter, then linear interpolation at input
    // position k x rate / 11,025.
    void downsampler_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("taps");
        QTest::newRow("8 kHz: interpolation only") << 8000 << 0;
        QTest::newRow("11,025 Hz: pass-through") << 11025 << 0;
        QTest::newRow("11,026 Hz: within the tolerance") << 11026 << 0;
        QTest::newRow("rate 0: pass-through") << 0 << 0;
        QTest::newRow("16 kHz: smallest filter") << 16000 << 15;
        QTest::newRow("44.1 kHz") << 44100 << 33;
        QTest::newRow("384 kHz: largest filter") << 384000 << 193;
    }
    void downsampler()
    {
        QFETCH(int, rate);
        QFETCH(int, taps);
        Fingerprint::Downsampler one, block;
        one.configure(rate);
        block.configure(rate);
        const double ratio = rate < 1 ? 1.0 : rate / 11025.0;
        const std::vector<float> &t = one.filterTaps();
        QCOMPARE(one.resampleRatio(), ratio);
        QCOMPARE(int(t.size()) * 10 + int(one.isFiltering()), taps * 10 + int(taps > 0));
        const Samples x = musicLike(qMax(rate, 8000), 0.05, 3);
        Samples filtered, out;
        for (float v : x)
            filtered.push_back(one.filtered(v));
        Fingerprint::Generator sink;
        block.feed(x.data(), int(x.size()), sink, &out);
        QVERIFY(std::fabs(double(out.size()) - x.size() / ratio) < 2.0);
        for (size_t k = 0; k < out.size(); ++k) {
            const double pos = double(k) * ratio, i = std::floor(pos);
            const float f = float(pos - i),
                        want = f * filtered[size_t(i) + 1] + (1.0f - f) * filtered[size_t(i)];
            QVERIFY2(std::fabs(out[k] - want) < 1e-5f, qPrintable(QString::number(k)));
        }
    }

    void filterPassesLowAndStopsHigh()
    {
        for (const double hz : {500.0, 8000.0}) {
            Fingerprint::Downsampler d;
            d.configure(44100);
            float peak = 0.0f;
            for (int i = 0; i < 8820; ++i)
                peak = std::max(i > 200 ? peak : 0.0f,
                                std::fabs(d.filtered(float(std::sin(kTwoPi * hz * i / 44100.0)))));
            QVERIFY2(hz < 1000.0 ? peak > 0.97f : peak < 0.01f, qPrintable(QString::number(peak)));
        }
    }

    // Bands rising from 300 Hz to 2 kHz, their energies against a plain DFT of the windowed frame;
    // bit m of a word is set when the difference of bands m and m+1 grew since the last frame, and
    // marked strong when that change exceeds 0.35 of the mean change.
    void wordsFollowBandEnergies()
    {
        using namespace Fingerprint;
        const Samples x = musicLike(11025, 1.0, 5);
        const auto &edges = Generator::bandEdges();
        QCOMPARE((std::pair{edges.front(), edges.back()}), (std::pair{111, 743}));
        QVERIFY(std::adjacent_find(edges.begin(), edges.end(), std::greater_equal<int>()) == edges.end());
        Generator g;
        std::array<double, kBands> previous{}, e{};
        Words words, masks;
        std::vector<std::complex<long double>> turn;
        std::vector<long double> window;
        for (int i = 0; i < kFrameSize; ++i) {
            turn.push_back(std::polar<long double>(1.0L, -kTwoPi * (long double)i / kFrameSize));
            window.push_back((long double)(float((1.0 - std::cos(kTwoPi * i / 4095.0)) / 2.0)));
        }
        for (int frame = 0; frame < 3; ++frame) {
            g.append(x.data() + (frame ? kFrameSize + (frame - 1) * kHop : 0), frame ? kHop : kFrameSize);
            for (int b = 0; b < kBands; ++b) {
                long double sum = 0;
                for (int k = edges[b]; k < edges[b + 1]; ++k) {
                    std::complex<long double> bin;
                    for (int i = 0; i < kFrameSize; ++i)
                        bin += turn[size_t((k * i) % kFrameSize)] *
                               (x[size_t(frame * kHop + i)] * window[size_t(i)]);
                    sum += std::norm(bin);
                }
                e[size_t(b)] = std::log(double(sum) + 1e-12);
                QVERIFY2(std::fabs(e[size_t(b)] - g.lastEnergies()[size_t(b)]) < 1e-9,
                         qPrintable(QString::number(b)));
            }
            double d[32], total = 0.0;
            quint32 word = 0, mask = 0;
            for (int m = 0; m < 32; ++m)
                total += std::fabs(d[m] = (e[m] - e[m + 1]) - (previous[m] - previous[m + 1]));
            for (int m = 0; m < 32; ++m)
                word |= quint32(d[m] > 0.0) << m, mask |= quint32(std::fabs(d[m]) > 0.35 * total / 32.0) << m;
            if (frame > 0)
                words << word, masks << mask;
            previous = e;
        }
        QCOMPARE(g.finish(), words);
        QCOMPARE(g.finishMask(), masks);
        QVERIFY(qPopulationCount(masks[1]) > 4 && masks[1] != ~0u); // some bits strong, not all
    }

    // samples -> main words, alt words. A constant signal never changes its band energies:
    // every main word and mask is 0.
    void wordCounts_data()
    {
        QTest::addColumn<QList<int>>("counts");
        QTest::newRow("nothing") << QList<int>{0, 0, 0};
        QTest::newRow("one frame, no word") << QList<int>{4096, 0, 0};
        QTest::newRow("one hop short of a word") << QList<int>{4096 + 1364, 0, 1};
        QTest::newRow("first word") << QList<int>{4096 + 1365, 1, 1};
    }
    void wordCounts()
    {
        QFETCH(QList<int>, counts);
        // One extra sample: at 11,025 Hz the last one of a block is held back.
        const Prints p = analyse(Samples(size_t(counts[0] > 0 ? counts[0] + 1 : 0), 0.25f), 11025);
        QCOMPARE(p.main + p.mainMask, Words(2 * counts[1], 0));
        QCOMPARE(p.alt.size() + p.altMask.size(), 2 * counts[2]);
    }

    // The four strongest pitch classes over five frames, strongest first, as a base-12 number:
    // A, C sharp, E and G (0, 4, 7, 10) in falling strength; digital silence has no key.
    void keysRankPitchClasses()
    {
        Samples x(size_t(Fingerprint::kFrameSize + 14 * Fingerprint::kHop), 0.0f);
        for (int i = 0; i < Fingerprint::kFrameSize + 4 * Fingerprint::kHop; ++i)
            for (const auto &[hz, level] :
                 {std::pair{440.0, 0.5}, {554.37, 0.3}, {659.26, 0.2}, {392.0, 0.1}})
                x[size_t(i)] += float(level * std::sin(kTwoPi * hz * i / 11025.0));
        Fingerprint::Generator g;
        g.append(x.data(), int(x.size()));
        const Words keys = g.finishKeys();
        QCOMPARE(keys.size(), 11);
        QCOMPARE(keys.first(), ((0u * 12 + 4) * 12 + 7) * 12 + 10);
        QCOMPARE(keys.last(), Fingerprint::kNoKey);
    }

    // Any split of the input gives the same stream and words; the alt words are the main words
    // of the stream behind 682 samples of silence.
    void blockSizeIndependence_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<QList<int>>("blocks");
        QTest::newRow("44.1 kHz, uneven") << 44100 << QList<int>{1, 4095, 17, 44100, 3, 9999};
        QTest::newRow("8 kHz") << 8000 << QList<int>{13, 4000, 1};
        QTest::newRow("11,025 Hz: pass-through") << 11025 << QList<int>{1, 4, 2, 11025};
    }
    void blockSizeIndependence()
    {
        QFETCH(int, rate);
        QFETCH(QList<int>, blocks);
        const Samples x = musicLike(rate, 3.0, 9);
        const Prints whole = analyse(x, rate), pieces = analyse(x, rate, blocks);
        QVERIFY(whole.main.size() >= 20);
        QCOMPARE(pieces.stream, whole.stream);
        QCOMPARE(pieces.main + pieces.mainMask + pieces.alt + pieces.altMask,
                 whole.main + whole.mainMask + whole.alt + whole.altMask);
        Samples delayed(Fingerprint::kAltDelay, 0.0f);
        delayed.insert(delayed.end(), whole.stream.begin(), whole.stream.end());
        const Prints alt = analyse(delayed, 11025);
        QCOMPARE(whole.alt + whole.altMask, alt.main + alt.mainMask);
        QVERIFY(whole.alt != whole.main);
    }

    // Small random lists from a few word patterns hit every tie, overlap and strong-bit case of
    // the three searches; each must agree with the reference on the rate and the offset.
    void searchesAgreeWithReference()
    {
        QRandomGenerator rng(3);
        const quint32 patterns[] = {0u, ~0u, 0xFu, 0xF0u, 0xFFFFu, 0x7u};
        const auto list = [&](qsizetype n) {
            Words w;
            while (w.size() < n)
                w << (rng.bounded(7) == 6 ? rng.generate() : patterns[rng.bounded(6)]);
            return w;
        };
        for (int round = 0; round < 20000; ++round) {
            const Words a = list(rng.bounded(7)), b = list(rng.bounded(7)), alt = list(rng.bounded(4) * 2);
            const Words am = list(a.size()), bm = list(b.size() + (rng.bounded(8) == 0)),
                        altm = list(alt.size());
            const int maxOffset = rng.bounded(8) == 0 ? INT_MAX : rng.bounded(-1, 7),
                      minOverlap = rng.bounded(5);
            const auto search = [&](const Words &x, const Words *xm, int *best) {
                return reference(a, xm && bm.size() == b.size() ? &am : nullptr, x, xm, maxOffset, minOverlap,
                                 best);
            };
            int got = 12345, want = 0, altWant = 0;
            const QString row = QString("round %1").arg(round);
            QCOMPARE(Fingerprint::bestBitErrorRate(a, b, maxOffset, minOverlap, &got),
                     search(b, nullptr, &want));
            QVERIFY2(got == want, qPrintable(row));
            const double masked = search(b, &bm, &want);
            QCOMPARE(Fingerprint::bestBitErrorRate(a, am, b, bm, maxOffset, minOverlap, &got), masked);
            QVERIFY2(got == want, qPrintable(row));
            QCOMPARE(Fingerprint::bestBitErrorRate(a, am, b, bm, maxOffset, minOverlap, nullptr), masked);
            // The alternative print of b replaces the main one only when strictly better.
            const double withAlt =
                alt.isEmpty() ? 1.0 : reference(a, &am, alt, &altm, maxOffset, minOverlap, &altWant);
            QCOMPARE(Fingerprint::bestBitErrorRate(a, am, b, bm, alt, altm, maxOffset, minOverlap, &got),
                     std::min(masked, withAlt));
            QVERIFY2(got == (withAlt < masked ? altWant : want), qPrintable(row));
        }
    }

    // The pre-check tries the first 200 words at offsets 0, +-24, +-48, else every offset up to
    // +-48 on a short run; lists under 40 words pass unjudged.
    void couldMatchRules_data()
    {
        QTest::addColumn<Words>("a");
        QTest::addColumn<Words>("b");
        QTest::addColumn<double>("threshold");
        QTest::addColumn<bool>("passes");
        const Words a = randomWords(300, 13);
        for (int shift : {1, 13, 24, 31, 48}) {
            QTest::addRow("b %d words later", shift)
                << a << randomWords(shift, 100 + shift) + a << 0.05 << true;
            QTest::addRow("b %d words earlier", shift) << a << a.mid(shift) << 0.05 << true;
        }
        QTest::newRow("beyond the search") << a << randomWords(60, 160) + a << 0.25 << false;
        QTest::newRow("39 words pass unjudged") << randomWords(39, 15) << randomWords(300, 16) << 0.0 << true;
        QTest::newRow("40 words are judged") << randomWords(40, 15) << randomWords(300, 16) << 0.25 << false;
        QTest::newRow("empty a") << Words{} << a << 1.0 << false;
        QTest::newRow("empty b") << a << Words{} << 1.0 << false;
        // Half the bits wrong everywhere: 0.5 is within 0.33 + 0.18 but not 0.31 + 0.18.
        QTest::newRow("margin") << Words(100, 0) << Words(100, 0x0000FFFF) << 0.33 << true;
        QTest::newRow("beyond the margin") << Words(100, 0) << Words(100, 0x0000FFFF) << 0.31 << false;
    }
    void couldMatchRules()
    {
        QFETCH(Words, a);
        QFETCH(Words, b);
        QFETCH(double, threshold);
        QFETCH(bool, passes);
        QCOMPARE(Fingerprint::couldMatch(a, b, threshold), passes);
    }

    // Little-endian words; the bytes of an incomplete last word are ignored.
    void blobs()
    {
        const QByteArray blob = QByteArray::fromHex("78563412ffffffff010203");
        QCOMPARE(Fingerprint::fromBlob(blob), (Words{0x12345678u, 0xFFFFFFFFu}));
        QCOMPARE(Fingerprint::toBlob(Fingerprint::fromBlob(blob)), blob.left(8));
    }
};

QTEST_GUILESS_MAIN(TestFingerprint)
#include "tst_fingerprint.moc"

#include "audio/Fingerprint.h"

#include <QRandomGenerator>
#include <QtTest>

#include <cmath>
#include <complex>
#include <vector>

using namespace rvw;
using Words = QList<quint32>;

namespace {

constexpr double kTwoPi = 6.283185307179586476925;

Words randomWords(int count, quint32 seed)
{
    QRandomGenerator rng(seed);
    Words w;
    for (int i = 0; i < count; ++i)
        w.append(rng.generate());
    return w;
}

// Reference error rate of one pairing, written independently of the searches.
double naiveBer(const Words &a, const Words &b, int offset)
{
    int bits = 0, pairs = 0;
    for (int i = 0; i < a.size(); ++i) {
        const int j = i + offset;
        if (j < 0 || j >= b.size())
            continue;
        bits += qPopulationCount(a[i] ^ b[j]);
        ++pairs;
    }
    return pairs ? double(bits) / (32.0 * pairs) : 1.0;
}

// Something with the texture of music: chords that change every half second, a kick on
// every beat and short noise bursts.
std::vector<float> musicLike(int rate, double seconds, quint32 seed)
{
    QRandomGenerator rng(seed);
    const int total = int(rate * seconds);
    std::vector<float> out(size_t(total), 0.0f);
    const double notes[] = {220.0, 246.9, 261.6, 293.7, 329.6, 349.2, 392.0, 440.0, 493.9, 523.3, 587.3};
    const int chordLength = rate / 2;
    double chord[3] = {220.0, 261.6, 329.6};
    for (int i = 0; i < total; ++i) {
        if (i % chordLength == 0)
            for (double &f : chord)
                f = notes[rng.bounded(11)];
        const double t = double(i) / rate;
        double v = 0.0;
        for (double f : chord)
            v += 0.18 * std::sin(kTwoPi * f * t) + 0.06 * std::sin(kTwoPi * 2.0 * f * t);
        const double beat = std::fmod(t, 0.6);
        v += 0.4 * std::exp(-beat * 30.0) * std::sin(kTwoPi * 60.0 * beat);
        if (std::fmod(t, 1.7) < 0.08)
            v += 0.3 * (rng.generateDouble() * 2.0 - 1.0);
        out[size_t(i)] = float(v);
    }
    return out;
}

struct Prints
{
    Words main, mainMask, alt, altMask;
    std::vector<float> stream; // the 11,025 Hz stream the main generator saw
};

Prints analyse(const std::vector<float> &samples, int rate, const QList<int> &blocks = {})
{
    Fingerprint::Analyzer analyzer;
    analyzer.configure(rate);
    Prints p;
    size_t pos = 0;
    int b = 0;
    while (pos < samples.size()) {
        const size_t n = blocks.isEmpty()
                             ? samples.size()
                             : std::min<size_t>(blocks[b++ % blocks.size()], samples.size() - pos);
        analyzer.feed(samples.data() + pos, int(n));
        p.stream.insert(p.stream.end(), analyzer.scratch.begin(), analyzer.scratch.end());
        pos += n;
    }
    p.main = analyzer.mainGenerator.finish();
    p.mainMask = analyzer.mainGenerator.finishMask();
    p.alt = analyzer.altGenerator.finish();
    p.altMask = analyzer.altGenerator.finishMask();
    return p;
}

Words generatorWords(const std::vector<float> &stream)
{
    Fingerprint::Generator g;
    g.append(stream.data(), int(stream.size()));
    return g.finish();
}

double ber(const Prints &a, const Prints &b, int *offset = nullptr)
{
    return Fingerprint::bestBitErrorRate(a.main, a.mainMask, b.main, b.mainMask, b.alt, b.altMask, 48, 40,
                                         offset);
}

} // namespace

class TestFingerprint : public QObject
{
    Q_OBJECT

private slots:
    // Generator stages fed alone
    void bandEdgesRunFrom300To2000Hz()
    {
        const QList<int> expected{111, 118, 125, 132, 140, 149, 157, 167, 177, 187, 198, 210,
                                  222, 235, 249, 264, 280, 296, 314, 332, 352, 373, 395, 418,
                                  443, 469, 497, 526, 557, 590, 625, 662, 702, 743};
        const auto &edges = Fingerprint::Generator::bandEdges();
        QCOMPARE(QList<int>(edges.begin(), edges.end()), expected);
    }

    void filterDesign_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<bool>("filtering");
        QTest::addColumn<int>("taps");
        QTest::newRow("8 kHz: interpolation only") << 8000 << false << 0;
        QTest::newRow("11,025 Hz: pass-through") << 11025 << false << 0;
        QTest::newRow("11,026 Hz: within the tolerance") << 11026 << false << 0;
        QTest::newRow("16 kHz: smallest filter") << 16000 << true << 15;
        QTest::newRow("44.1 kHz") << 44100 << true << 33;
        QTest::newRow("48 kHz") << 48000 << true << 35;
        QTest::newRow("96 kHz") << 96000 << true << 71;
        QTest::newRow("384 kHz: largest filter") << 384000 << true << 193;
        QTest::newRow("rate 0") << 0 << false << 0;
    }
    void filterDesign()
    {
        QFETCH(int, rate);
        QFETCH(bool, filtering);
        QFETCH(int, taps);
        Fingerprint::Downsampler d;
        d.configure(rate);
        QCOMPARE(d.isFiltering(), filtering);
        QCOMPARE(int(d.filterTaps().size()), taps);
        QCOMPARE(d.resampleRatio(), rate < 1 ? 1.0 : rate / 11025.0);
        if (!filtering)
            return;
        const auto &t = d.filterTaps();
        double sum = 0.0;
        for (size_t i = 0; i < t.size(); ++i) {
            sum += t[i];
            QVERIFY(std::fabs(t[i] - t[t.size() - 1 - i]) < 1e-7f); // linear phase
        }
        QVERIFY2(std::fabs(sum - 1.0) < 1e-6, "unity gain at DC");
        QVERIFY(t[t.size() / 2] > t[0]);
    }

    void filterPassesLowAndStopsHigh()
    {
        auto amplitudeAfterFilter = [](double frequency) {
            Fingerprint::Downsampler d;
            d.configure(44100);
            float peak = 0.0f;
            for (int i = 0; i < 8820; ++i) {
                const float y = d.filtered(float(std::sin(kTwoPi * frequency * i / 44100.0)));
                if (i > 200)
                    peak = std::max(peak, std::fabs(y));
            }
            return peak;
        };
        QVERIFY(amplitudeAfterFilter(500.0) > 0.97f);
        QVERIFY(amplitudeAfterFilter(8000.0) < 0.01f);
    }

    void filteredMatchesFeed()
    {
        const std::vector<float> x = musicLike(44100, 0.05, 3);
        Fingerprint::Downsampler one;
        one.configure(44100);
        std::vector<float> single;
        for (float v : x)
            single.push_back(one.filtered(v));
        QCOMPARE(single.front(), one.filterTaps().back() * x.front());

        // At 44.1 kHz the interpolator takes every fourth filtered sample exactly.
        Fingerprint::Downsampler block;
        block.configure(44100);
        Fingerprint::Generator sink;
        std::vector<float> out;
        block.feed(x.data(), int(x.size()), sink, &out);
        QVERIFY(!out.empty());
        for (size_t k = 0; k < out.size(); ++k)
            QCOMPARE(out[k], single[4 * k]);
    }

    void interpolatesRampAt8kHz()
    {
        Fingerprint::Downsampler d;
        d.configure(8000);
        QVERIFY(!d.isFiltering());
        Fingerprint::Generator sink;
        std::vector<float> ramp(8000);
        for (int i = 0; i < 8000; ++i)
            ramp[size_t(i)] = float(i) / 8000.0f;
        std::vector<float> out;
        d.feed(ramp.data(), int(ramp.size()), sink, &out);
        // Output k lies at input position k x 8000 / 11025.
        QVERIFY(out.size() >= 11020 && out.size() <= 11025);
        for (size_t k = 0; k < out.size(); ++k) {
            const double expected = (double(k) * 8000.0 / 11025.0) / 8000.0;
            QVERIFY2(std::fabs(out[k] - expected) < 2e-6, qPrintable(QString::number(k)));
        }
    }

    void bandEnergiesMatchNaiveDft()
    {
        QRandomGenerator rng(11);
        std::vector<float> frame(Fingerprint::kFrameSize);
        for (float &v : frame)
            v = float(rng.generateDouble() * 2.0 - 1.0);
        Fingerprint::Generator g;
        g.append(frame.data(), int(frame.size()));
        QCOMPARE(g.wordCount(), 0);
        const int n = Fingerprint::kFrameSize;
        std::vector<double> windowed(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i)
            windowed[size_t(i)] =
                double(frame[size_t(i)]) * double(float((1.0 - std::cos(kTwoPi * i / 4095.0)) / 2.0));
        const auto &edges = Fingerprint::Generator::bandEdges();
        for (int b = 0; b < Fingerprint::kBands; ++b) {
            long double sum = 0;
            for (int k = edges[b]; k < edges[b + 1]; ++k) {
                long double re = 0, im = 0;
                for (int i = 0; i < n; ++i) {
                    const long double angle = -kTwoPi * (long double)((qint64(k) * i) % n) / n;
                    re += windowed[size_t(i)] * std::cos(angle);
                    im += windowed[size_t(i)] * std::sin(angle);
                }
                sum += re * re + im * im;
            }
            QVERIFY2(std::fabs(std::log(double(sum) + 1e-12) - g.lastEnergies()[size_t(b)]) < 1e-9,
                     qPrintable(QString::number(b)));
        }
    }

    void bitAndMaskRulesFollowEnergies()
    {
        const std::vector<float> x = musicLike(11025, 3.0, 5);
        Fingerprint::Generator g;
        g.append(x.data(), Fingerprint::kFrameSize);
        int fed = Fingerprint::kFrameSize;
        int strongTotal = 0;
        for (int frame = 0; frame < 12; ++frame) {
            const auto previous = g.lastEnergies();
            g.append(x.data() + fed, Fingerprint::kHop);
            fed += Fingerprint::kHop;
            QCOMPARE(g.wordCount(), frame + 1);
            const auto current = g.lastEnergies();
            double d[32], sum = 0.0;
            for (int m = 0; m < 32; ++m) {
                d[m] = (current[m] - current[m + 1]) - (previous[m] - previous[m + 1]);
                sum += std::fabs(d[m]);
            }
            const quint32 word = g.finish().back();
            const quint32 mask = g.finishMask().back();
            for (int m = 0; m < 32; ++m) {
                QCOMPARE(bool(word & (1u << m)), d[m] > 0.0);
                QCOMPARE(bool(mask & (1u << m)), std::fabs(d[m]) > 0.35 * sum / 32.0);
            }
            strongTotal += qPopulationCount(mask);
        }
        QVERIFY2(strongTotal > 12 * 8 && strongTotal < 12 * 32, "masks mark some but not all bits");
    }

    void wordCounts_data()
    {
        QTest::addColumn<int>("samples");
        QTest::addColumn<int>("mainWords");
        QTest::addColumn<int>("altWords");
        QTest::newRow("one frame, no word") << 4096 << 0 << 0;
        QTest::newRow("one hop short of a word") << 4096 + 1364 << 0 << 1;
        QTest::newRow("first word") << 4096 + 1365 << 1 << 1;
        QTest::newRow("60 s") << 661500 << 481 << 482;
        QTest::newRow("nothing") << 0 << 0 << 0;
    }
    void wordCounts()
    {
        QFETCH(int, samples);
        QFETCH(int, mainWords);
        QFETCH(int, altWords);
        // One extra sample: at 11,025 Hz the last one of a block is held back.
        const std::vector<float> x(size_t(samples + 1), 0.25f);
        Fingerprint::Analyzer a;
        a.configure(11025);
        a.feed(x.data(), samples > 0 ? samples + 1 : 0);
        QCOMPARE(a.mainGenerator.wordCount(), mainWords);
        QCOMPARE(a.altGenerator.wordCount(), altWords);
        QCOMPARE(a.mainGenerator.finishMask().size(), qsizetype(mainWords));
        QCOMPARE(a.altGenerator.finishMask().size(), qsizetype(altWords));
    }

    void silenceGivesZeroWords()
    {
        const Prints p = analyse(std::vector<float>(size_t(441000), 0.0f), 44100);
        QCOMPARE(p.main.size(), qsizetype((110250 - 4096) / 1365));
        QCOMPARE(p.main + p.mainMask + p.alt + p.altMask,
                 Words(int(2 * p.main.size() + 2 * p.alt.size()), 0));
    }

    // Whole pipeline properties
    void blockSizeIndependence_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<QList<int>>("blocks");
        QTest::newRow("44.1 kHz, uneven") << 44100 << QList<int>{1, 4095, 17, 44100, 3, 9999};
        QTest::newRow("44.1 kHz, tiny") << 44100 << QList<int>{1, 2, 3, 5, 7, 11};
        QTest::newRow("48 kHz, uneven") << 48000 << QList<int>{4800, 1, 333, 12000, 2};
        QTest::newRow("48 kHz, prime") << 48000 << QList<int>{1021};
        QTest::newRow("8 kHz") << 8000 << QList<int>{13, 4000, 1};
        QTest::newRow("11,025 Hz: pass-through") << 11025 << QList<int>{1, 4, 2, 11025};
    }
    void blockSizeIndependence()
    {
        QFETCH(int, rate);
        QFETCH(QList<int>, blocks);
        const std::vector<float> x = musicLike(rate, 4.0, 9);
        const Prints whole = analyse(x, rate);
        const Prints pieces = analyse(x, rate, blocks);
        QCOMPARE(pieces.stream, whole.stream);
        QVERIFY(whole.main.size() >= 20);
        QCOMPARE(pieces.main, whole.main);
        QCOMPARE(pieces.mainMask, whole.mainMask);
        QCOMPARE(pieces.alt, whole.alt);
        QCOMPARE(pieces.altMask, whole.altMask);
        // The stream has the length of the audio at 11,025 Hz.
        QVERIFY(std::fabs(double(whole.stream.size()) - x.size() * 11025.0 / rate) < 3.0);
    }

    void altIsMainOfDelayedStream()
    {
        const std::vector<float> x = musicLike(44100, 3.0, 21);
        const Prints p = analyse(x, 44100);
        std::vector<float> delayed(Fingerprint::kAltDelay, 0.0f);
        delayed.insert(delayed.end(), p.stream.begin(), p.stream.end());
        QCOMPARE(p.alt, generatorWords(delayed));
        QCOMPARE(p.alt.size(), p.altMask.size());
        QVERIFY(p.alt != p.main);
    }

    void wordsSurviveNoiseAndDiscriminate()
    {
        const std::vector<float> x = musicLike(44100, 8.0, 31);
        const Prints first = analyse(x, 44100);
        // A little noise barely moves the words; a different piece differs in about half the bits.
        std::vector<float> noisy = x;
        QRandomGenerator rng(32);
        for (float &v : noisy)
            v += float((rng.generateDouble() - 0.5) * 0.01);
        const Prints n = analyse(noisy, 44100);
        const Prints other = analyse(musicLike(44100, 8.0, 99), 44100);
        const double same = ber(first, n), different = ber(first, other);
        QVERIFY2(same < 0.1, qPrintable(QString::number(same)));
        QVERIFY2(different > 0.35, qPrintable(QString::number(different)));
        QVERIFY(Fingerprint::couldMatch(first.main, n.main, 0.25));
        QVERIFY(!Fingerprint::couldMatch(first.main, other.main, 0.25));
    }

    void leadInNotOnCoarseGridStillPasses()
    {
        // 1.5 s more lead-in is about 12 words, half-way between the coarse offsets 0 and 24.
        const std::vector<float> x = musicLike(44100, 30.0, 41);
        std::vector<float> later(size_t(44100 * 1.5), 0.0f);
        later.insert(later.end(), x.begin(), x.end());
        const Prints a = analyse(x, 44100);
        const Prints b = analyse(later, 44100);
        QVERIFY(Fingerprint::couldMatch(a.main, b.main, 0.25));
        QVERIFY(Fingerprint::couldMatch(b.main, a.main, 0.25));
        int offset = 0;
        const double rate = ber(a, b, &offset);
        QVERIFY2(rate < 0.1, qPrintable(QString::number(rate)));
        QVERIFY2(offset == 12 || offset == 13, qPrintable(QString::number(offset)));
    }

    // Comparison. Forms: 0 plain words, 1 masked, 2 masked with an alternative print of b.
    void search_data()
    {
        for (const char *c : {"a", "aMask", "b", "bMask", "bAlt"})
            QTest::addColumn<Words>(c);
        QTest::addColumn<int>("form");
        QTest::addColumn<int>("maxOffset");
        QTest::addColumn<int>("minOverlap");
        QTest::addColumn<double>("ber");
        QTest::addColumn<int>("offset");
        auto plain = [](const char *name, const Words &a, const Words &b, int maxOffset, int minOverlap,
                        double ber, int offset) {
            QTest::newRow(name) << a << Words() << b << Words() << Words() << 0 << maxOffset << minOverlap
                                << ber << offset;
        };
        auto masked = [](const char *name, const Words &a, const Words &aMask, const Words &b,
                         const Words &bMask, int maxOffset, double ber, int offset) {
            QTest::newRow(name) << a << aMask << b << bMask << Words() << 1 << maxOffset << 1 << ber
                                << offset;
        };
        const Words r = randomWords(60, 1), zeros4(4, 0), shortA = randomWords(30, 17);
        const quint32 ones = 0xFFFFFFFFu;
        plain("identical", r, r, 10, 10, 0.0, 0);
        plain("b has 5 words of lead-in", r, randomWords(5, 2) + r, 10, 10, 0.0, 5);
        plain("a has 7 words of lead-in", randomWords(7, 3) + r, r, 10, 10, 0.0, -7);
        plain("equal rates: most negative stays", zeros4, zeros4, 2, 2, 0.0, -2);
        plain("later strictly smaller replaces", zeros4, Words{ones, 0, 0, 0, 0, ones}, 3, 1, 0.0, 1);
        plain("first qualifying becomes best even at 1.0", Words(3, 0), Words(3, ones), 1, 2, 1.0, -1);
        plain("overlap rule excludes short tail", zeros4, Words{ones, ones, ones, 0}, 3, 2, 0.5, 2);
        plain("overlap of one allowed", zeros4, Words{ones, ones, ones, 0}, 3, 1, 0.0, 3);
        plain("no offset has the overlap", Words(2, 0), Words(2, 0), 5, 3, 1.0, 0);
        plain("negative maxOffset", r, r, -1, 1, 1.0, 0);
        plain("empty a", Words{}, r, 10, 1, 1.0, 0);
        plain("empty b", r, Words{}, 10, 1, 1.0, 0);
        plain("huge maxOffset", shortA, randomWords(4, 18) + shortA, INT_MAX, 20, 0.0, 4);
        plain("zero minOverlap", shortA, randomWords(4, 18) + shortA, 100, 0, 0.0, 4);

        const Words zeros10(10, 0), low16(10, 0x0000FFFF), full(34, ones);
        masked("only marked bits count", zeros10, low16, Words(10, 0xFF), low16, 0, 0.5, 0);
        masked("three strong bits a word: plain", zeros10, Words(10, 0x7), Words(10, 0xFF), Words(10, 0x7), 0,
               0.25, 0);
        masked("all-zero masks: plain with its offset", randomWords(60, 4), Words(60, 0),
               randomWords(3, 5) + randomWords(60, 4), Words(63, 0), 8, 0.0, 3);
        masked("masked huge maxOffset", shortA, full.mid(4), randomWords(4, 18) + shortA, full, INT_MAX, 0.0,
               4);
        // b = {0xF, 0xF0 x 8} with the first word unmarked: only offset +1 has four strong bits
        // in every pair, and there the differing bits 4..7 are not marked.
        const Words a(8, 0), aMask(8, 0xF), b = Words{0xF} + Words(8, 0xF0), bMask = Words{0} + Words(8, 0xF);
        masked("strong-bit rule picks the offset", a, aMask, b, bMask, 1, 0.0, 1);
        masked("strong-bit rule rejects all: plain", a, aMask, b, bMask, 0, 0.125, 0);
        masked("mask length differs: plain", a, Words{0xF}, b, bMask, 1, 0.125, -1);
        masked("masked negative maxOffset", a, aMask, b, bMask, -1, 1.0, 0);
        masked("masked empty a", Words{}, Words{}, b, bMask, 1, 1.0, 0);

        const Words x = randomWords(80, 6);
        auto alt = [&](const char *name, const Words &main, const Words &other, int offset) {
            QTest::newRow(name) << x << Words(80, ones) << main << Words(main.size(), ones) << other << 2
                                << 48 << 40 << 0.0 << offset;
        };
        alt("alt strictly better", randomWords(80, 7), randomWords(3, 8) + x, 3);
        alt("alt tie: main wins", randomWords(2, 9) + x, randomWords(4, 10) + x, 2);
        alt("main better", x, randomWords(80, 11), 0);
        alt("no alt", randomWords(6, 12) + x, Words{}, 6);
    }
    void search()
    {
        QFETCH(Words, a);
        QFETCH(Words, aMask);
        QFETCH(Words, b);
        QFETCH(Words, bMask);
        QFETCH(Words, bAlt);
        QFETCH(int, form);
        QFETCH(int, maxOffset);
        QFETCH(int, minOverlap);
        QFETCH(double, ber);
        QFETCH(int, offset);
        int found = 12345;
        const Words altMask(bAlt.size(), 0xFFFFFFFFu);
        QCOMPARE(form == 0 ? Fingerprint::bestBitErrorRate(a, b, maxOffset, minOverlap, &found)
                 : form == 1
                     ? Fingerprint::bestBitErrorRate(a, aMask, b, bMask, maxOffset, minOverlap, &found)
                     : Fingerprint::bestBitErrorRate(a, aMask, b, bMask, bAlt, altMask, maxOffset, minOverlap,
                                                     &found),
                 ber);
        QCOMPARE(found, offset);
        if (form == 0) {
            QCOMPARE(Fingerprint::bestBitErrorRate(a, b, maxOffset, minOverlap, nullptr), ber);
            if (ber < 1.0)
                QCOMPARE(naiveBer(a, b, offset), ber);
        }
    }

    void couldMatchRules_data()
    {
        QTest::addColumn<Words>("a");
        QTest::addColumn<Words>("b");
        QTest::addColumn<double>("threshold");
        QTest::addColumn<bool>("builtIn");
        QTest::addColumn<bool>("chromaprint");

        const Words a = randomWords(300, 13);
        auto later = [&](int words) { return randomWords(words, 100 + words) + a; };
        auto earlier = [&](int words) { return a.mid(words); };
        QTest::newRow("same start") << a << a << 0.0 << true << true;
        for (int shift : {1, 13, 20, 24, 31, 40, 47, 48}) {
            QTest::addRow("b %d words later", shift) << a << later(shift) << 0.05 << true << (shift <= 40);
            QTest::addRow("b %d words earlier", shift)
                << a << earlier(shift) << 0.05 << true << (shift <= 40);
        }
        QTest::newRow("beyond the search") << a << later(60) << 0.25 << false << false;
        QTest::newRow("unrelated") << a << randomWords(300, 14) << 0.25 << false << false;
        QTest::newRow("39 words pass unjudged")
            << randomWords(39, 15) << randomWords(300, 16) << 0.0 << true << true;
        QTest::newRow("40 words are judged")
            << randomWords(40, 15) << randomWords(300, 16) << 0.25 << false << false;
        QTest::newRow("empty a") << Words{} << a << 1.0 << false << false;
        QTest::newRow("empty b") << a << Words{} << 1.0 << false << false;
        // Half the bits wrong everywhere: 0.5 is inside 0.25 + 0.18 only for the built-in margin.
        QTest::newRow("margin") << Words(100, 0) << Words(100, 0x0000FFFF) << 0.33 << true << false;
    }
    void couldMatchRules()
    {
        QFETCH(Words, a);
        QFETCH(Words, b);
        QFETCH(double, threshold);
        QFETCH(bool, builtIn);
        QFETCH(bool, chromaprint);
        QCOMPARE(Fingerprint::couldMatch(a, b, threshold), builtIn);
        QCOMPARE(Fingerprint::couldMatchWithin(a, b, 160, 20, threshold + 0.12), chromaprint);
    }

    // Blobs
    void blobReading_data()
    {
        QTest::addColumn<QByteArray>("blob");
        QTest::addColumn<Words>("words");
        QTest::newRow("empty") << QByteArray() << Words{};
        QTest::newRow("three bytes") << QByteArray::fromHex("010203") << Words{};
        QTest::newRow("one word") << QByteArray::fromHex("78563412") << Words{0x12345678u};
        QTest::newRow("two words") << QByteArray::fromHex("01020304d0c0b0a0")
                                   << Words{0x04030201u, 0xA0B0C0D0u};
        QTest::newRow("ten bytes: trailing two ignored")
            << QByteArray::fromHex("0100000002000000ffff") << Words{1u, 2u};
        QTest::newRow("all ones") << QByteArray(8, '\xff') << Words{0xFFFFFFFFu, 0xFFFFFFFFu};
    }
    void blobReading()
    {
        QFETCH(QByteArray, blob);
        QFETCH(Words, words);
        QCOMPARE(Fingerprint::fromBlob(blob), words);
        if (blob.size() % 4 == 0)
            QCOMPARE(Fingerprint::toBlob(words), blob);
    }
};

QTEST_MAIN(TestFingerprint)
#include "tst_fingerprint.moc"

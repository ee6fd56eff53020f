// Acoustic grouping on real lossy copies: a library made with ffmpeg holds distinct songs,
// station idents and effects, planted copies of them (re-encodes, lead-ins, cut starts, short
// idents) and look-alikes that are different recordings. Every planted copy must land in its
// base's group and no group may mix recordings, on the library alone and padded to 4,200
// tracks, with both engines.
#include "scan/DuplicateGrouper.h"
#include "support/AudioFixtures.h"
#include "support/PlantedLibrary.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

using namespace rvw;
using namespace rvwtest;

namespace {

// Past 4,096 tracks: large enough that unrelated tracks share index keys by chance.
constexpr int kPaddedSize = 4200;
constexpr quint32 kPaddingSeed = 20240611;

// Both engines make one word per 1365 samples at 11,025 Hz.
constexpr double kSecondsPerWord = 1365.0 / 11025.0;
// Searched for the fixture's own checks: beyond the 15 s shifts planted.
constexpr int kSearchWords = 130;
constexpr int kMinOverlapWords = 20;

struct Alignment
{
    double rate = 1.0;
    int offset = 0;
};

// The offset with the lowest plain bit error rate (no masks) and at least kMinOverlapWords.
Alignment bestAlignment(const QList<quint32> &a, const QList<quint32> &b)
{
    Alignment best;
    for (int offset = -kSearchWords; offset <= kSearchWords; ++offset) {
        const qsizetype overlap = std::min(a.size(), b.size() - offset) - std::max(0, -offset);
        if (overlap < kMinOverlapWords)
            continue;
        const double rate = plainBitErrorRate(a, b, offset);
        if (rate < best.rate)
            best = {rate, offset};
    }
    return best;
}

// The plain bit error rate of the first (or last) n words of a and b.
double rateOfEnd(const QList<quint32> &a, const QList<quint32> &b, int n, bool atStart)
{
    if (a.size() < n || b.size() < n)
        return 1.0;
    return atStart ? plainBitErrorRate(a.first(n), b.first(n), 0)
                   : plainBitErrorRate(a.last(n), b.last(n), 0);
}

void logVerdict(const Verdict &v)
{
    for (const QString &line : v.found)
        qInfo("  grouped      %s", qPrintable(line));
    for (const QString &line : v.missed)
        qInfo("  MISSED       %s", qPrintable(line));
    for (const QString &line : v.keptApart)
        qInfo("  kept apart   %s", qPrintable(line));
    for (const QString &line : v.mixedUp)
        qInfo("  GROUPED      %s", qPrintable(line));
    qInfo("  %s", qPrintable(v.summary()));
}

} // namespace

class TestAcousticRecall : public QObject
{
    Q_OBJECT

    QTemporaryDir folder;
    PlantedLibrary library;

private slots:
    void initTestCase()
    {
        if (ffmpegPath().isEmpty())
            QSKIP("ffmpeg is not installed: the library cannot be made");
        QVERIFY(folder.isValid());
        QElapsedTimer timer;
        timer.start();
        QString error;
        QVERIFY2(library.build(folder.path(), ScanOptions().fingerprintSeconds, &error), qPrintable(error));
        qInfo("Made and fingerprinted %d files (%d fingerprints) in %.1f s%s", library.fileCount(),
              library.fingerprintsComputed(), timer.elapsed() / 1000.0,
              library.hasEngine(Engine::Fpcalc) ? "" : "; fpcalc is not installed");
    }

    // The files are what the grouping rows take them for: every copy lines up with its base at
    // the shift planted, the distinct items are far apart, and each look-alike pair holds the
    // same audio in its shared part and different audio at its other end. Plain bit error rates
    // over whole words: this checks the library, not the grouper.
    void libraryHoldsWhatItClaims_data()
    {
        QTest::addColumn<int>("engine");
        QTest::addColumn<double>("copyAtMost");
        QTest::addColumn<double>("distinctAtLeast");
        // Measured: 0.28 for the worst copy (AAC, half a word of lead-in) with the built-in
        // engine, 0.06 with fpcalc; 0.41 and 0.31 for the closest distinct items. The bounds
        // for distinct items keep them well clear of the grouping thresholds (0.25, 0.12).
        QTest::newRow("built-in") << int(Engine::BuiltIn) << 0.33 << 0.35;
        QTest::newRow("fpcalc") << int(Engine::Fpcalc) << 0.12 << 0.25;
    }

    void libraryHoldsWhatItClaims()
    {
        QFETCH(int, engine);
        QFETCH(double, copyAtMost);
        QFETCH(double, distinctAtLeast);
        constexpr double kSharedAtMost = 0.1;
        constexpr double kDifferentAtLeast = 0.3;
        constexpr int kDifferentWords = 16;
        if (!library.hasEngine(Engine(engine)))
            QSKIP("fpcalc is not installed");
        const QList<TrackInfo> tracks = library.tracks(Engine(engine)).tracks;
        QStringList problems;

        QList<int> distinct;
        for (const PlantedCopy &c : library.copies()) {
            distinct.append(c.base);
            const Alignment a = bestAlignment(tracks[c.base].fingerprint, tracks[c.copy].fingerprint);
            const int planted = qRound(c.shiftSeconds / kSecondsPerWord);
            qInfo("  %-34s %.3f at %4d words (planted %4d)", qPrintable(c.name), a.rate, a.offset, planted);
            if (a.rate > copyAtMost || std::abs(a.offset - planted) > 1)
                problems << QStringLiteral("copy %1: %2 at %3 words, planted at %4")
                                .arg(c.name)
                                .arg(a.rate)
                                .arg(a.offset)
                                .arg(planted);
        }
        double closest = 1.0;
        for (int i = 0; i < distinct.size(); ++i) {
            for (int j = i + 1; j < distinct.size(); ++j) {
                const TrackInfo &a = tracks[distinct[i]];
                const TrackInfo &b = tracks[distinct[j]];
                const Alignment best = bestAlignment(a.fingerprint, b.fingerprint);
                closest = std::min(closest, best.rate);
                if (best.rate < distinctAtLeast)
                    problems << QStringLiteral("%1 and %2 are alike: %3 at %4 words")
                                    .arg(a.fileName, b.fileName)
                                    .arg(best.rate)
                                    .arg(best.offset);
            }
        }
        qInfo("  closest distinct items: %.3f", closest);
        for (const LookAlike &l : library.lookAlikes()) {
            const QList<quint32> &a = tracks[l.first].fingerprint;
            const QList<quint32> &b = tracks[l.second].fingerprint;
            // A word sees more than its own hop; a second and a half keeps clear of the edges.
            const int sharedWords = int((l.sharedSeconds - 1.5) / kSecondsPerWord);
            const double shared = rateOfEnd(a, b, sharedWords, l.sharedAtStart);
            const double different = rateOfEnd(a, b, kDifferentWords, !l.sharedAtStart);
            qInfo("  %-34s shared part %.3f, other end %.3f", qPrintable(l.name), shared, different);
            if (shared > kSharedAtMost || different < kDifferentAtLeast)
                problems << QStringLiteral("%1: shared part %2, other end %3")
                                .arg(l.name)
                                .arg(shared)
                                .arg(different);
        }
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    }

    void copiesGroupedRecordingsApart_data()
    {
        QTest::addColumn<int>("engine");
        QTest::addColumn<int>("total"); // 0: the planted library alone
        for (Engine e : {Engine::BuiltIn, Engine::Fpcalc}) {
            const QByteArray name = engineName(e).toUtf8();
            QTest::newRow(name + ", planted library") << int(e) << 0;
            QTest::newRow(name + ", padded to 4200") << int(e) << kPaddedSize;
        }
    }

    void copiesGroupedRecordingsApart()
    {
        QFETCH(int, engine);
        QFETCH(int, total);
        if (!library.hasEngine(Engine(engine)))
            QSKIP("fpcalc is not installed");
        LabelledTracks lib = library.tracks(Engine(engine));
        padTo(lib.tracks, lib.labels, total, kPaddingSeed);

        ScanOptions options;
        options.engine = engine;
        options.detectMetadata = false;
        QElapsedTimer timer;
        timer.start();
        const QList<MatchGroup> groups = DuplicateGrouper::group(lib.tracks, options, QAtomicInt(0));
        qInfo("Grouped %lld tracks in %lld ms", (long long)lib.tracks.size(), (long long)timer.elapsed());

        const Verdict verdict = judge(groups, lib, library);
        logVerdict(verdict);
        QVERIFY2(verdict.passed(), qPrintable(QLatin1Char('\n') + verdict.failures()));
    }
};

QTEST_GUILESS_MAIN(TestAcousticRecall)
#include "tst_acousticrecall.moc"

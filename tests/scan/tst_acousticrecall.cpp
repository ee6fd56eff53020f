// Acoustic grouping on real lossy copies made with ffmpeg (re-encodes, lead-ins, cut starts,
// short idents) and look-alikes that are different recordings: every copy matches its base at
// the shift planted and lands in its group, and no group mixes recordings, on the library alone
// and padded past 4,096 tracks, with both engines.
#include "scan/AcousticMatcher.h"
#include "scan/DuplicateGrouper.h"
#include "support/AudioFixtures.h"
#include "support/PlantedLibrary.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace rvw;
using namespace rvwtest;

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
        QString error;
        QVERIFY2(library.build(folder.path(), ScanOptions().fingerprintSeconds, &error), qPrintable(error));
    }

    void copiesGroupedRecordingsApart_data()
    {
        QTest::addColumn<int>("engine");
        QTest::addColumn<int>("total"); // past 4,096 tracks unrelated tracks share index keys by chance
        for (Engine e : {Engine::BuiltIn, Engine::Fpcalc})
            for (int total : {0, 4200})
                QTest::addRow("%s, %d tracks", qPrintable(engineName(e)), total) << int(e) << total;
    }
    void copiesGroupedRecordingsApart()
    {
        QFETCH(int, engine);
        QFETCH(int, total);
        if (!library.hasEngine(Engine(engine)))
            QSKIP("fpcalc is not installed");
        LabelledTracks lib = library.tracks(Engine(engine));
        padTo(lib, total, 20240611);
        ScanOptions options;
        options.engine = engine;
        options.detectMetadata = false;
        QStringList problems =
            judge(DuplicateGrouper::group(lib.tracks, options, QAtomicInt(0)), lib, library).problems;
        // Each copy matches its base itself, not only through another copy of its song, at the
        // shift planted give or take a word (1365 samples at 11,025 Hz with both engines).
        const QList<AcousticMatcher::Match> matches =
            AcousticMatcher::find(lib.tracks, options, QAtomicInt(0));
        for (const Pair &c : library.copies()) {
            const int planted = qRound(c.shiftSeconds * 11025.0 / 1365.0);
            if (std::none_of(matches.begin(), matches.end(), [&](const AcousticMatcher::Match &m) {
                    return m.a == c.first && m.b == c.second && std::abs(m.offset - planted) <= 1;
                }))
                problems << c.name + ": no match with its base at offset " + QString::number(planted);
        }
        QCOMPARE(problems, QStringList());
    }
};

QTEST_GUILESS_MAIN(TestAcousticRecall)
#include "tst_acousticrecall.moc"

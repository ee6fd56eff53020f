#include "scan/DuplicateGrouper.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace rvw;

namespace {

TrackInfo track(int id, const QString &path, qint64 size = 1000)
{
    TrackInfo t;
    t.id = id;
    t.path = path;
    t.size = size;
    t.analysed = true;
    return t;
}

ScanOptions hashOnly()
{
    ScanOptions o;
    o.detectAcoustic = false;
    o.detectMetadata = false;
    return o;
}

// Built-in-style fingerprint with full masks. Low and high halves are even, so a word
// XOR 0x00010001 shares no index key with any word of the original.
QList<quint32> evenWords(int count, quint32 seed)
{
    QRandomGenerator rng(seed);
    QList<quint32> words;
    for (int i = 0; i < count; ++i)
        words.append(rng.generate() & 0xFFFEFFFEu);
    return words;
}

void setFingerprint(TrackInfo &t, const QList<quint32> &words)
{
    t.fingerprint = words;
    t.fingerprintMask = QList<quint32>(words.size(), 0xFFFFFFFFu);
}

QList<quint32> flipBits(QList<quint32> words, double fraction, quint32 seed)
{
    QRandomGenerator rng(seed);
    for (quint32 &w : words) {
        for (int b = 0; b < 32; ++b) {
            if (rng.generateDouble() < fraction)
                w ^= 1u << b;
        }
    }
    return words;
}

ScanOptions builtIn()
{
    ScanOptions o;
    o.engine = 0;
    return o;
}

// Whether two tracks with these fingerprints (full masks) and durations form a group.
bool pairGroups(const QList<quint32> &a, const QList<quint32> &b, ScanOptions o = builtIn(),
                qint64 durationA = 0, qint64 durationB = 0)
{
    QList<TrackInfo> t{track(0, "/a"), track(1, "/b")};
    setFingerprint(t[0], a);
    setFingerprint(t[1], b);
    t[0].durationMs = durationA;
    t[1].durationMs = durationB;
    return !DuplicateGrouper::group(t, o, QAtomicInt(0)).isEmpty();
}

QList<QList<int>> memberLists(const QList<MatchGroup> &groups)
{
    QList<QList<int>> out;
    for (const MatchGroup &g : groups) {
        QList<int> m = g.members;
        std::sort(m.begin(), m.end());
        out.append(m);
    }
    return out;
}

} // namespace

class TestDuplicateGrouper : public QObject
{
    Q_OBJECT
private slots:
    void fewerThanTwoTracks()
    {
        int calls = 0;
        const auto cb = [&](int, int, const QString &) { ++calls; };
        QVERIFY(DuplicateGrouper::group({}, ScanOptions(), QAtomicInt(0), cb).isEmpty());
        QVERIFY(DuplicateGrouper::group({track(0, "/a")}, ScanOptions(), QAtomicInt(0), cb).isEmpty());
        QCOMPARE(calls, 0);
    }

    void hashPhases_data()
    {
        QTest::addColumn<bool>("identical");
        QTest::addColumn<bool>("sameAudio");
        QTest::addColumn<int>("groups");
        QTest::addColumn<int>("firstTier");
        // tracks 0,1 byte-identical; 2,3 same payload only
        QTest::newRow("both") << true << true << 2 << int(Identical);
        QTest::newRow("identical only") << true << false << 1 << int(Identical);
        QTest::newRow("same audio only") << false << true << 2 << int(SameAudio);
        QTest::newRow("neither") << false << false << 0 << -1;
    }
    void hashPhases()
    {
        QFETCH(bool, identical);
        QFETCH(bool, sameAudio);
        QFETCH(int, groups);
        QFETCH(int, firstTier);
        QList<TrackInfo> t{track(0, "/a"), track(1, "/b"), track(2, "/c"), track(3, "/d"), track(4, "/e")};
        t[0].fullHash = t[1].fullHash = "f1";
        t[0].audioHash = t[1].audioHash = "p1";
        t[2].fullHash = "f2";
        t[3].fullHash = "f3";
        t[2].audioHash = t[3].audioHash = "p2";
        t[4].fullHash = "f4";
        t[4].audioHash = "p4";
        ScanOptions o = hashOnly();
        o.detectIdentical = identical;
        o.detectSameAudio = sameAudio;
        const QList<MatchGroup> g = DuplicateGrouper::group(t, o, QAtomicInt(0));
        QCOMPARE(g.size(), groups);
        if (groups > 0)
            QCOMPARE(int(g.first().tier), firstTier);
        // with only the payload phase on, the byte copies group as same audio
        if (!identical && sameAudio)
            QCOMPARE(g[0].tier, SameAudio);
    }

    void identicalCopiesStayIdentical()
    {
        // Byte copies share the payload hash too; a third copy with other tags makes the
        // group a same-audio group.
        QList<TrackInfo> t{track(0, "/a"), track(1, "/b"), track(2, "/c")};
        t[0].fullHash = t[1].fullHash = "f";
        t[0].audioHash = t[1].audioHash = "p";
        t[2].fullHash = "g";
        t[2].audioHash = "q";
        QList<MatchGroup> g = DuplicateGrouper::group(t, hashOnly(), QAtomicInt(0));
        QCOMPARE(g.size(), 1);
        QCOMPARE(g[0].tier, Identical);
        QCOMPARE(g[0].confidence, 1.0);
        t[2].audioHash = "p";
        g = DuplicateGrouper::group(t, hashOnly(), QAtomicInt(0));
        QCOMPARE(g.size(), 1);
        QCOMPARE(g[0].members.size(), 3);
        QCOMPARE(g[0].tier, SameAudio);
    }

    void emptyHashesNeverMatch()
    {
        QList<TrackInfo> t{track(0, "/a"), track(1, "/b")};
        QVERIFY(DuplicateGrouper::group(t, hashOnly(), QAtomicInt(0)).isEmpty());
    }

    void transitiveGroupTakesLeastCertainTier()
    {
        // A = B by file hash, B ~ C acoustically: one acoustic group of three.
        QList<TrackInfo> t{track(0, "/a", 100), track(1, "/b", 100), track(2, "/c", 300)};
        t[0].fullHash = t[1].fullHash = "same";
        const QList<quint32> fp = evenWords(300, 1);
        setFingerprint(t[0], fp);
        setFingerprint(t[1], fp);
        setFingerprint(t[2], flipBits(fp, 0.03, 2));
        ScanOptions o = builtIn();
        const QList<MatchGroup> g = DuplicateGrouper::group(t, o, QAtomicInt(0));
        QCOMPARE(g.size(), 1);
        QCOMPARE(g[0].tier, Acoustic);
        QCOMPARE(g[0].confidence, 0.9);
        QCOMPARE(g[0].members.size(), 3);
    }

    void sameAudioConfidence()
    {
        QList<TrackInfo> t{track(0, "/a"), track(1, "/b")};
        t[0].fullHash = "x";
        t[1].fullHash = "y";
        t[0].audioHash = t[1].audioHash = "p";
        const QList<MatchGroup> g = DuplicateGrouper::group(t, hashOnly(), QAtomicInt(0));
        QCOMPARE(g.size(), 1);
        QCOMPARE(g[0].tier, SameAudio);
        QCOMPARE(g[0].confidence, 0.99);
        QCOMPARE(g[0].id, 1);
    }

    void fingerprintLengthMinimum_data()
    {
        QTest::addColumn<int>("words");
        QTest::addColumn<bool>("grouped");
        QTest::newRow("39 words") << 39 << false;
        QTest::newRow("40 words") << 40 << true;
        QTest::newRow("480 words") << 480 << true;
    }
    void fingerprintLengthMinimum()
    {
        QFETCH(int, words);
        QFETCH(bool, grouped);
        const QList<quint32> fp = evenWords(words, 7);
        QCOMPARE(pairGroups(fp, fp), grouped);
    }

    void durationTolerance_data()
    {
        QTest::addColumn<qint64>("da");
        QTest::addColumn<qint64>("db");
        QTest::addColumn<int>("tolerance");
        QTest::addColumn<bool>("grouped");
        QTest::newRow("exactly 5 %") << qint64(190000) << qint64(200000) << 5 << true;
        QTest::newRow("just over 5 %") << qint64(189000) << qint64(200000) << 5 << false;
        QTest::newRow("order does not matter") << qint64(200000) << qint64(189999) << 5 << false;
        QTest::newRow("unknown duration") << qint64(0) << qint64(200000) << 5 << true;
        QTest::newRow("wider tolerance") << qint64(150000) << qint64(200000) << 25 << true;
        QTest::newRow("one ms over 1 %") << qint64(197999) << qint64(200000) << 1 << false;
    }
    void durationTolerance()
    {
        QFETCH(qint64, da);
        QFETCH(qint64, db);
        QFETCH(int, tolerance);
        QFETCH(bool, grouped);
        ScanOptions o = builtIn();
        o.durationTolerance = tolerance;
        const QList<quint32> fp = evenWords(200, 9);
        QCOMPARE(pairGroups(fp, flipBits(fp, 0.02, 10), o, da, db), grouped);
    }

    void candidateIndexNeedsSharedKeys_data()
    {
        QTest::addColumn<int>("untouchedWords");
        QTest::addColumn<bool>("grouped");
        // Each flipped word differs in one low and one high bit (bit error rate 1/16,
        // a clear match), but shares no 16-bit key. Each untouched word shares two keys.
        QTest::newRow("no shared key") << 0 << false;
        QTest::newRow("two shared keys") << 1 << false;
        QTest::newRow("four shared keys") << 2 << true;
    }
    void candidateIndexNeedsSharedKeys()
    {
        QFETCH(int, untouchedWords);
        QFETCH(bool, grouped);
        const QList<quint32> fp = evenWords(300, 11);
        QList<quint32> other = fp;
        for (int i = untouchedWords; i < other.size(); ++i)
            other[i] ^= 0x00010001u;
        QCOMPARE(pairGroups(fp, other), grouped);
    }

    void plantedDuplicatesAmongNoise()
    {
        // 300 unrelated tracks with 10 planted pairs at small offsets: exactly the pairs group.
        QList<TrackInfo> t;
        for (int i = 0; i < 300; ++i) {
            t.append(track(i, QString("/lib/%1.mp3").arg(i, 4, 10, QChar('0'))));
            setFingerprint(t[i], evenWords(480, 1000 + i));
            t[i].durationMs = 200000;
        }
        QList<QPair<int, int>> planted;
        for (int k = 0; k < 10; ++k) {
            const int a = k * 29 + 3;
            const int b = 299 - k * 13;
            QList<quint32> copy = flipBits(t[a].fingerprint, 0.04, 77 + k);
            const int lead = (k % 3) * 24; // silence-like lead-in of 0, 24 or 48 frames
            for (int j = 0; j < lead; ++j)
                copy.prepend(0u);
            setFingerprint(t[b], copy);
            planted.append({qMin(a, b), qMax(a, b)});
        }
        ScanOptions o = builtIn();
        const QList<MatchGroup> g = DuplicateGrouper::group(t, o, QAtomicInt(0));
        QCOMPARE(g.size(), planted.size());
        for (const QList<int> &m : memberLists(g)) {
            QCOMPARE(m.size(), 2);
            QVERIFY2(planted.contains({m[0], m[1]}), qPrintable(QString("%1-%2").arg(m[0]).arg(m[1])));
        }
    }

    void fpcalcEngineGroups()
    {
        // fpcalc values: a pair that shares many values (document frequency 2) and a third
        // unrelated track.
        QList<TrackInfo> t{track(0, "/a"), track(1, "/b"), track(2, "/c")};
        QRandomGenerator rng(5);
        QList<quint32> fp;
        for (int i = 0; i < 200; ++i)
            fp.append(rng.generate());
        t[0].fingerprint = fp;
        QList<quint32> near = fp;
        for (int i = 0; i < near.size(); i += 5)
            near[i] ^= 1u << (i % 32);
        t[1].fingerprint = near;
        QList<quint32> far;
        for (int i = 0; i < 200; ++i)
            far.append(rng.generate());
        t[2].fingerprint = far;
        ScanOptions o;
        o.engine = 1;
        const QList<MatchGroup> g = DuplicateGrouper::group(t, o, QAtomicInt(0));
        QCOMPARE(memberLists(g), QList<QList<int>>({{0, 1}}));

        o.engine = 0; // the same data through the built-in rules: masks missing, plain form
        QCOMPARE(DuplicateGrouper::group(t, o, QAtomicInt(0)).size(), 1);
    }

    void damagedMaskIsIgnored()
    {
        // A cache row whose mask is shorter than its words: compared by every bit instead.
        const QList<quint32> fp = evenWords(200, 21);
        QList<TrackInfo> t{track(0, "/a"), track(1, "/b")};
        setFingerprint(t[0], fp);
        setFingerprint(t[1], flipBits(fp, 0.02, 22));
        t[1].fingerprintMask.resize(10);
        QCOMPARE(DuplicateGrouper::group(t, builtIn(), QAtomicInt(0)).size(), 1);
    }

    void cancelStopsAcousticPhaseButAssembles()
    {
        QList<TrackInfo> t{track(0, "/a"), track(1, "/b"), track(2, "/c"), track(3, "/d")};
        t[0].fullHash = t[1].fullHash = "h";
        const QList<quint32> fp = evenWords(100, 3);
        setFingerprint(t[2], fp);
        setFingerprint(t[3], fp);
        t[2].artist = t[3].artist = "X";
        t[2].title = t[3].title = "Song";
        ScanOptions o = builtIn();
        o.detectMetadata = true;
        QStringList texts;
        const QList<MatchGroup> g =
            DuplicateGrouper::group(t, o, QAtomicInt(1), [&](int, int, const QString &s) { texts << s; });
        QCOMPARE(memberLists(g), QList<QList<int>>({{0, 1}}));
        QVERIFY(!texts.contains("Comparing metadata"));
        QCOMPARE(texts.last(), QStringLiteral("Grouping complete"));
    }

    void progressScales()
    {
        QList<TrackInfo> t{track(0, "/a"), track(1, "/b")};
        const QList<quint32> fp = evenWords(100, 3);
        setFingerprint(t[0], fp);
        setFingerprint(t[1], fp);
        ScanOptions o = builtIn();
        o.detectMetadata = true;
        QList<QPair<int, int>> calls;
        QStringList texts;
        DuplicateGrouper::group(t, o, QAtomicInt(0), [&](int v, int m, const QString &s) {
            calls.append({v, m});
            texts << s;
        });
        QCOMPARE(calls.first(), qMakePair(0, 4));
        QCOMPARE(calls[1], qMakePair(1, 4));
        QCOMPARE(texts[2], QStringLiteral("Indexing fingerprints"));
        QCOMPARE(calls[2], qMakePair(0, 1000));
        QVERIFY(texts.contains("Finding candidate matches"));
        const int cmp = int(texts.indexOf("Comparing acoustic fingerprints"));
        QVERIFY(cmp > 0);
        QCOMPARE(calls[cmp], qMakePair(1000, 1000)); // 0.9 + 0.1 * 1/1
        QCOMPARE(calls[calls.size() - 2], qMakePair(3, 4));
        QCOMPARE(calls.last(), qMakePair(4, 4));
    }

    void metadataKeys_data()
    {
        QTest::addColumn<QString>("artistA");
        QTest::addColumn<QString>("titleA");
        QTest::addColumn<qint64>("durA");
        QTest::addColumn<QString>("artistB");
        QTest::addColumn<QString>("titleB");
        QTest::addColumn<qint64>("durB");
        QTest::addColumn<bool>("grouped");
        QTest::newRow("brackets and the") << QString("The Beatles") << "Help! (Remastered 2009)" << qint64(0)
                                          << QString("Beatles") << "help" << qint64(140000) << true;
        QTest::newRow("square live") << QString("Queen") << "Song [Live at Wembley]" << qint64(200000)
                                     << QString("queen") << "Song" << qint64(202999) << true;
        QTest::newRow("beyond tolerance") << QString("Queen") << "Song" << qint64(200000) << QString("Queen")
                                          << "Song" << qint64(203001) << false;
        QTest::newRow("latin accents ignored") << QString("Beyoncé") << "Halo" << qint64(1) << QString("Beyonce")
                                               << "Halo" << qint64(1) << true;
        QTest::newRow("different titles")
            << QString("A") << "One" << qint64(0) << QString("A") << "Two" << qint64(0) << false;
        QTest::newRow("title only a qualifier") << QString("Queen") << "(Remix)" << qint64(0) << QString("Queen")
                                                << "(Remix)" << qint64(0) << false;
        QTest::newRow("title only signs") << QString("Queen") << "???" << qint64(0) << QString("Queen") << "!!!"
                                          << qint64(0) << false;
        QTest::newRow("different cyrillic titles") << QString("t.A.T.u.") << "Я сошла с ума" << qint64(200000)
                                                   << QString("t.A.T.u.") << "Нас не догонят" << qint64(200000)
                                                   << false;
        QTest::newRow("missing artist")
            << QString("") << "Song" << qint64(0) << QString("") << "Song" << qint64(0) << false;
    }
    void metadataKeys()
    {
        QFETCH(QString, artistA);
        QFETCH(QString, titleA);
        QFETCH(qint64, durA);
        QFETCH(QString, artistB);
        QFETCH(QString, titleB);
        QFETCH(qint64, durB);
        QFETCH(bool, grouped);
        QList<TrackInfo> t{track(0, "/a"), track(1, "/b")};
        t[0].artist = artistA;
        t[0].title = titleA;
        t[0].durationMs = durA;
        t[1].artist = artistB;
        t[1].title = titleB;
        t[1].durationMs = durB;
        ScanOptions o = hashOnly();
        o.detectMetadata = true;
        const QList<MatchGroup> g = DuplicateGrouper::group(t, o, QAtomicInt(0));
        QCOMPARE(!g.isEmpty(), grouped);
        if (grouped) {
            QCOMPARE(g[0].tier, Metadata);
            QCOMPARE(g[0].confidence, 0.65);
        }
    }

    void normalise_data()
    {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("remaster") << QString("Help! (Remastered 2009)") << "help";
        QTest::newRow("the") << QString("The Beatles") << "beatles";
        QTest::newRow("square") << QString("Song [Live at Wembley]") << "song";
        QTest::newRow("curly") << QString("Song {Radio Edit}") << "song";
        QTest::newRow("latin accents") << QString("Café Noir") << "cafe noir";
        QTest::newRow("only qualifier") << QString("(Remix)") << "";
        QTest::newRow("plain bracket kept") << QString("Song (Part 2)") << "song part 2";
        QTest::newRow("spaces collapse") << QString("  A   B  C  ") << "a b c";
        QTest::newRow("tab is a space") << QString("A\tB") << "a b";
        QTest::newRow("no-break space") << QString("Song\u00A0Two\u202FThree") << "song two three";
        QTest::newRow("full width") << QString("ＡＢＣ　１２３") << "abc 123";
        QTest::newRow("the inside") << QString("Into the Void") << "into the void";
        QTest::newRow("theory") << QString("Theory") << "theory";
        QTest::newRow("qualifier words are whole words") << QString("Song (Meditation Deliverance)")
                                                         << "song meditation deliverance";
        QTest::newRow("cyrillic") << QString("ГРУППА Крови 1") << "группа крови 1";
        QTest::newRow("greek upper") << QString("ΟΔΌΣ") << "οδόσ";
        QTest::newRow("greek lower, final sigma") << QString("οδός") << "οδόσ";
        QTest::newRow("japanese") << QString("夜に駆ける") << "夜に駆ける";
        QTest::newRow("half-width kana") << QString("ｶﾞｰﾄﾞ") << "ガード";
        QTest::newRow("hangul") << QString("사랑해") << "사랑해";
        QTest::newRow("devanagari signs kept") << QString("दिल से") << "दिल से";
    }
    void normalise()
    {
        QFETCH(QString, in);
        QFETCH(QString, out);
        QCOMPARE(normaliseForMatching(in), out);
    }

    // Two byte copies of a studio take and a live take, joined only by their tags: one copy
    // of each recording stays, whichever the policy prefers.
    void mixedRecordingsKeepACopyEach_data()
    {
        QTest::addColumn<int>("liveBitrate");
        QTest::addColumn<int>("keeper");
        QTest::addColumn<QList<int>>("alsoKept");
        QTest::newRow("live preferred") << 320 << 2 << QList<int>{0};
        QTest::newRow("studio preferred") << 128 << 0 << QList<int>{2};
    }
    void mixedRecordingsKeepACopyEach()
    {
        QFETCH(int, liveBitrate);
        QFETCH(int, keeper);
        QFETCH(QList<int>, alsoKept);
        QList<TrackInfo> t{track(0, "/a/studio.mp3"), track(1, "/b/studio.mp3"), track(2, "/c/live.mp3", 3000)};
        for (TrackInfo &x : t) {
            x.artist = "Band";
            x.title = "Song";
            x.durationMs = 200000;
            x.bitrate = 256;
        }
        t[0].fullHash = t[1].fullHash = "studio";
        t[2].fullHash = "live";
        t[2].title = "Song (Live)";
        t[2].durationMs = 201500;
        t[2].bitrate = liveBitrate;
        ScanOptions o = hashOnly();
        o.detectMetadata = true;
        QList<MatchGroup> g = DuplicateGrouper::group(t, o, QAtomicInt(0));
        QCOMPARE(g.size(), 1);
        QCOMPARE(g[0].tier, Metadata);
        QCOMPARE(g[0].recordings, QList<int>({0, 0, 1}));
        QCOMPARE(g[0].keeper, keeper);
        QCOMPARE(g[0].alsoKept, alsoKept);
        QCOMPARE(g[0].reclaimableBytes, qint64(1000));
        QCOMPARE(g[0].redundantCount(), 1);

        // Keeping the other studio copy instead still keeps the live take.
        DuplicateGrouper::setKeeper(g[0], 1, t, o);
        QCOMPARE(g[0].alsoKept, QList<int>{2});
        QVERIFY(!g[0].isKept(0));
        QCOMPARE(g[0].reclaimableBytes, qint64(1000));
    }

    void sortingAndNumbering()
    {
        // identical pair of small files, same-audio pair of big files, identical pair of mid files
        QList<TrackInfo> t{track(0, "/a", 10),   track(1, "/b", 10),  track(2, "/c", 5000),
                           track(3, "/d", 5000), track(4, "/e", 400), track(5, "/f", 400)};
        t[0].fullHash = t[1].fullHash = "small";
        t[2].fullHash = "c";
        t[3].fullHash = "d";
        t[2].audioHash = t[3].audioHash = "big";
        t[4].fullHash = t[5].fullHash = "mid";
        for (TrackInfo &x : t) {
            if (x.audioHash.isEmpty())
                x.audioHash = "unique-" + x.path;
        }
        const QList<MatchGroup> g = DuplicateGrouper::group(t, hashOnly(), QAtomicInt(0));
        QCOMPARE(g.size(), 3);
        QCOMPARE(g[0].tier, Identical);
        QCOMPARE(g[0].reclaimableBytes, qint64(400));
        QCOMPARE(g[1].tier, Identical);
        QCOMPARE(g[1].reclaimableBytes, qint64(10));
        QCOMPARE(g[2].tier, SameAudio);
        QCOMPARE(g[2].reclaimableBytes, qint64(5000));
        for (int i = 0; i < g.size(); ++i)
            QCOMPARE(g[i].id, i + 1);
    }

    void membersSortedByPath()
    {
        QList<TrackInfo> t{track(0, "/z/song.mp3"), track(1, "/a/song.mp3"), track(2, "/m/song.mp3")};
        for (TrackInfo &x : t)
            x.fullHash = "same";
        const QList<MatchGroup> g = DuplicateGrouper::group(t, hashOnly(), QAtomicInt(0));
        QCOMPARE(g.size(), 1);
        QCOMPARE(g[0].members, QList<int>({1, 2, 0}));
        QCOMPARE(g[0].keeper, 1); // all equal: the first in path order
        QCOMPARE(g[0].reclaimableBytes, qint64(2000));
    }

    void keeperPolicies_data()
    {
        QTest::addColumn<int>("policy");
        QTest::addColumn<QList<TrackInfo>>("tracks");
        QTest::addColumn<int>("keeper");

        auto base = [](int id, const QString &path) {
            TrackInfo t = track(id, path);
            t.mtime = QDateTime::fromSecsSinceEpoch(1000000);
            return t;
        };
        {
            QList<TrackInfo> l{base(0, "/a"), base(1, "/b"), base(2, "/c")};
            l[0].bitrate = 192;
            l[1].bitrate = 320;
            l[2].bitrate = 256;
            QTest::newRow("bitrate") << int(HighestBitrate) << l << 1;
            l[0].bitrate = l[1].bitrate = l[2].bitrate = 320;
            l[2].size = 2000;
            QTest::newRow("bitrate tie: larger file") << int(HighestBitrate) << l << 2;
            l[2].size = 1000;
            QTest::newRow("full tie: first in path order") << int(HighestBitrate) << l << 0;
        }
        {
            QList<TrackInfo> l{base(0, "/a"), base(1, "/b")};
            l[0].durationMs = 1000;
            l[1].durationMs = 1001;
            l[1].size = 1;
            QTest::newRow("longest") << int(LongestDuration) << l << 1;
            l[1].durationMs = 1000;
            QTest::newRow("longest tie") << int(LongestDuration) << l << 0;
            l[1].size = 5000;
            QTest::newRow("largest") << int(LargestFile) << l << 1;
        }
        {
            QList<TrackInfo> l{base(0, "/a"), base(1, "/b"), base(2, "/c")};
            l[0].format = "wav";
            l[1].format = "flac";
            l[2].format = "ape";
            QTest::newRow("preferred flac over wav") << int(PreferredFormat) << l << 1;
            l[1].format = "ape";
            QTest::newRow("unlisted loses") << int(PreferredFormat) << l << 0;
            l[0].format = l[1].format = "mp3";
            l[1].bitrate = 320;
            l[0].bitrate = 128;
            QTest::newRow("two mp3 by bitrate") << int(PreferredFormat) << l << 1;
            l[1].format = "MP3";
            QTest::newRow("format match is exact") << int(PreferredFormat) << l << 0;
        }
        {
            QList<TrackInfo> l{base(0, "D:/Music/Old/a.mp3"), base(1, "D:\\Music\\a.mp3")};
            QTest::newRow("shallowest") << int(ShallowestFolder) << l << 1;
            QList<TrackInfo> m{base(0, "/m/long-name.mp3"), base(1, "/x/a.mp3")};
            QTest::newRow("shallowest tie: shorter path") << int(ShallowestFolder) << m << 1;
        }
        {
            QList<TrackInfo> l{base(0, "/a"), base(1, "/b"), base(2, "/c")};
            l[1].mtime = l[0].mtime.addSecs(-10);
            l[2].mtime = l[0].mtime.addSecs(10);
            QTest::newRow("oldest") << int(OldestFile) << l << 1;
            QTest::newRow("newest") << int(NewestFile) << l << 2;
        }
        {
            QList<TrackInfo> l{base(0, "/a"), base(1, "/b")};
            l[0].title = "T";
            l[0].artist = "A";
            l[0].album = "Al"; // 8
            l[1].title = "T";
            l[1].artist = "A";
            l[1].albumArtist = "AA";
            l[1].genre = "G";
            l[1].year = "1999"; // 9
            QTest::newRow("complete tags") << int(MostCompleteTags) << l << 1;
            l[0].trackNo = 3; // 9 as well
            l[0].comment = "comments do not count";
            l[0].bitrate = 256;
            QTest::newRow("complete tags tie: bitrate") << int(MostCompleteTags) << l << 0;
        }
        {
            QList<TrackInfo> l{base(0, "/a"), base(1, "/b")};
            l[1].bitrate = 999;
            QTest::newRow("unknown policy keeps first") << 42 << l << 0;
        }
    }
    void keeperPolicies()
    {
        QFETCH(int, policy);
        QFETCH(QList<TrackInfo>, tracks);
        QFETCH(int, keeper);
        MatchGroup g;
        for (const TrackInfo &t : tracks)
            g.members.append(t.id);
        ScanOptions o;
        o.keeperPolicy = policy;
        QCOMPARE(DuplicateGrouper::chooseKeeper(g, tracks, o), keeper);
    }

    void keeperOfEmptyGroup()
    {
        QCOMPARE(DuplicateGrouper::chooseKeeper(MatchGroup(), {}, ScanOptions()), -1);
    }
};

QTEST_GUILESS_MAIN(TestDuplicateGrouper)
#include "tst_duplicategrouper.moc"

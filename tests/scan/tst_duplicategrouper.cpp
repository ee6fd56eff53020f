#include "scan/DuplicateGrouper.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace rvw;
using Words = QList<quint32>;

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

Words evenWords(int count, quint32 seed);
Words flipBits(Words words, double fraction, quint32 seed);
void setFingerprint(TrackInfo &t, const Words &words, int maskSize = -1);

// Tracks from "key=value;..." specs; paths default to /a, /b, ..., sizes to 1000, mtimes to
// one fixed time ("age" adds seconds). "print=seed[:percent]" sets 300 fingerprint words,
// that share of bits flipped.
QList<TrackInfo> tracks(const QStringList &specs)
{
    static const QHash<QString, QString TrackInfo::*> text{{"path", &TrackInfo::path},
                                                           {"hash", &TrackInfo::fullHash},
                                                           {"audio", &TrackInfo::audioHash},
                                                           {"format", &TrackInfo::format},
                                                           {"artist", &TrackInfo::artist},
                                                           {"title", &TrackInfo::title},
                                                           {"album", &TrackInfo::album},
                                                           {"genre", &TrackInfo::genre},
                                                           {"albumArtist", &TrackInfo::albumArtist},
                                                           {"year", &TrackInfo::year},
                                                           {"comment", &TrackInfo::comment}};
    QList<TrackInfo> out;
    for (const QString &spec : specs) {
        TrackInfo t = track(int(out.size()), QString("/%1").arg(QChar(char16_t('a' + out.size()))));
        t.mtime = QDateTime::fromSecsSinceEpoch(1000000);
        for (const QString &field : spec.split(';', Qt::SkipEmptyParts)) {
            const QString k = field.section('=', 0, 0), v = field.section('=', 1);
            if (text.contains(k))
                t.*text[k] = v;
            else if (k == "size" || k == "ms")
                (k == "size" ? t.size : t.durationMs) = v.toLongLong();
            else if (k == "bitrate" || k == "track")
                (k == "bitrate" ? t.bitrate : t.trackNo) = v.toInt();
            else if (k == "age")
                t.mtime = t.mtime.addSecs(v.toLongLong());
            else if (k == "print")
                setFingerprint(t, flipBits(evenWords(300, v.section(':', 0, 0).toUInt()),
                                           v.section(':', 1).toDouble() / 100, out.size()));
            else
                qFatal("unknown field %s", qPrintable(k));
        }
        out.append(t);
    }
    return out;
}

ScanOptions options(bool acoustic, bool metadata)
{
    ScanOptions o;
    o.engine = 0;
    o.detectAcoustic = acoustic;
    o.detectMetadata = metadata;
    return o;
}

// Built-in-style fingerprint. Low and high halves are even, so a word XOR 0x00010001
// shares no index key with any word of the original.
Words evenWords(int count, quint32 seed)
{
    QRandomGenerator rng(seed);
    Words words;
    for (int i = 0; i < count; ++i)
        words.append(rng.generate() & 0xFFFEFFFEu);
    return words;
}

void setFingerprint(TrackInfo &t, const Words &words, int maskSize)
{
    t.fingerprint = words;
    t.fingerprintMask = Words(maskSize < 0 ? words.size() : maskSize, 0xFFFFFFFFu);
}

Words flipBits(Words words, double fraction, quint32 seed)
{
    QRandomGenerator rng(seed);
    for (quint32 &w : words)
        for (int b = 0; b < 32; ++b)
            if (rng.generateDouble() < fraction)
                w ^= 1u << b;
    return words;
}

// "tier confidence [members] keeper reclaimable; ..." and a note if ids are not 1, 2, ...
QString describe(const QList<MatchGroup> &groups)
{
    QStringList out;
    for (int i = 0; i < groups.size(); ++i) {
        const MatchGroup &g = groups[i];
        const char *tier = g.tier == Identical   ? "identical"
                           : g.tier == SameAudio ? "audio"
                           : g.tier == Acoustic  ? "acoustic"
                                                 : "metadata";
        QStringList m;
        for (int x : g.members)
            m << QString::number(x);
        out << QString("%1 %2 [%3] k%4 r%5%6")
                   .arg(tier)
                   .arg(g.confidence)
                   .arg(m.join(' '))
                   .arg(g.keeper)
                   .arg(g.reclaimableBytes)
                   .arg(g.id == i + 1 ? "" : " bad id");
    }
    return out.join("; ");
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
        QCOMPARE(DuplicateGrouper::chooseKeeper(MatchGroup(), {}, ScanOptions()), -1);
    }

    // Hash and tag tiers; detect lists the phases switched on.
    void tiers_data()
    {
        QTest::addColumn<QStringList>("specs");
        QTest::addColumn<QString>("detect");
        QTest::addColumn<QString>("groups");
        const QStringList five{"hash=f1;audio=p1", "hash=f1;audio=p1", "hash=f2;audio=p2", "hash=f3;audio=p2",
                               "hash=f4;audio=p4"};
        QTest::newRow("both hashes") << five << "identical audio"
                                     << "identical 1 [0 1] k0 r1000; audio 0.99 [2 3] k2 r1000";
        QTest::newRow("identical only") << five << "identical"
                                        << "identical 1 [0 1] k0 r1000";
        QTest::newRow("same audio only: byte copies too")
            << five << "audio"
            << "audio 0.99 [0 1] k0 r1000; audio 0.99 [2 3] k2 r1000";
        QTest::newRow("neither") << five << ""
                                 << "";
        QTest::newRow("empty hashes never match") << QStringList{"", ""} << "identical audio metadata"
                                                  << "";
        QTest::newRow("copy with other tags joins: same audio")
            << QStringList{"hash=f;audio=p", "hash=f;audio=p", "hash=g;audio=p"} << "identical audio"
            << "audio 0.99 [0 1 2] k0 r2000";
        QTest::newRow("sorted by tier, then bytes")
            << QStringList{"hash=s;size=10",
                           "hash=s;size=10",
                           "hash=c;audio=big;size=5000",
                           "hash=d;audio=big;size=5000",
                           "hash=m;size=400",
                           "hash=m;size=400"}
            << "identical audio"
            << "identical 1 [4 5] k4 r400; identical 1 [0 1] k0 r10; audio 0.99 [2 3] k2 r5000";
        QTest::newRow("members in path order, first kept")
            << QStringList{"hash=h;path=/z/s.mp3", "hash=h;path=/a/s.mp3", "hash=h;path=/m/s.mp3"}
            << "identical"
            << "identical 1 [1 2 0] k1 r2000";
        // Joined by tags alone, tracks are different recordings: both stay.
        const QString both = "metadata 0.65 [0 1] k0 r0";
        QTest::newRow("tags normalised, one duration unknown")
            << QStringList{"artist=The Beatles;title=Help! (Remastered 2009)",
                           "artist=Beatles;title=help;ms=140000"}
            << "metadata" << both;
        QTest::newRow("tags within 3 s")
            << QStringList{"artist=Queen;title=Song [Live];ms=200000", "artist=queen;title=Song;ms=202999"}
            << "metadata" << both;
        QTest::newRow("tags beyond 3 s")
            << QStringList{"artist=Queen;title=Song;ms=200000", "artist=Queen;title=Song;ms=203001"}
            << "metadata"
            << "";
        QTest::newRow("different titles")
            << QStringList{"artist=A;title=One", "artist=A;title=Two"} << "metadata"
            << "";
        QTest::newRow("title only a qualifier")
            << QStringList{"artist=Queen;title=(Remix)", "artist=Queen;title=(Remix)"} << "metadata"
            << "";
        QTest::newRow("missing artist") << QStringList{"title=Song", "title=Song"} << "metadata"
                                        << "";
        QTest::newRow("hash and acoustic links: least certain tier")
            << QStringList{"hash=same;size=100;print=1", "hash=same;size=100;print=1", "size=300;print=1:3"}
            << "identical audio acoustic"
            << "acoustic 0.9 [0 1 2] k2 r200";
        QTest::newRow("tags off") << QStringList{"artist=A;title=One", "artist=A;title=One"}
                                  << "identical audio"
                                  << "";
    }
    void tiers()
    {
        QFETCH(QStringList, specs);
        QFETCH(QString, detect);
        QFETCH(QString, groups);
        ScanOptions o = options(detect.contains("acoustic"), detect.contains("metadata"));
        o.detectIdentical = detect.contains("identical");
        o.detectSameAudio = detect.contains("audio");
        QCOMPARE(describe(DuplicateGrouper::group(tracks(specs), o, QAtomicInt(0))), groups);
    }

    void acousticPair_data()
    {
        QTest::addColumn<Words>("a");
        QTest::addColumn<Words>("b");
        QTest::addColumn<int>("bMaskSize");
        QTest::addColumn<qint64>("da");
        QTest::addColumn<qint64>("db");
        QTest::addColumn<int>("tolerance");
        QTest::addColumn<double>("threshold");
        QTest::addColumn<bool>("grouped");
        const Words fp = evenWords(200, 9), near = flipBits(fp, 0.02, 10);
        auto row = [](const char *name, const Words &a, const Words &b, qint64 da, qint64 db, int tol,
                      bool grouped, int maskSize = -1, double threshold = 0.25) {
            QTest::newRow(name) << a << b << maskSize << da << db << tol << threshold << grouped;
        };
        row("39 words: too short", evenWords(39, 7), evenWords(39, 7), 0, 0, 5, false);
        row("40 words", evenWords(40, 7), evenWords(40, 7), 0, 0, 5, true);
        row("duration exactly 5 %", fp, near, 190000, 200000, 5, true);
        row("duration just over 5 %", fp, near, 189000, 200000, 5, false);
        row("duration order does not matter", fp, near, 200000, 189999, 5, false);
        row("unknown duration", fp, near, 0, 200000, 5, true);
        row("wider tolerance", fp, near, 150000, 200000, 25, true);
        row("one ms over 1 %", fp, near, 197999, 200000, 1, false);
        row("threshold below the error rate", fp, near, 0, 0, 5, false, -1, 0.01);
        row("mask shorter than words: every bit compared", fp, near, 0, 0, 5, true, 10);
        // Each flipped word differs in one low and one high bit (a clear match by bit error
        // rate) but shares no 16-bit key; each untouched word shares two keys.
        const Words base = evenWords(300, 11);
        for (int untouched : {0, 1, 2}) {
            Words other = base;
            for (int i = untouched; i < other.size(); ++i)
                other[i] ^= 0x00010001u;
            QTest::addRow("%d shared keys", 2 * untouched)
                << base << other << -1 << qint64(0) << qint64(0) << 5 << 0.25 << (untouched == 2);
        }
    }
    void acousticPair()
    {
        QFETCH(Words, a);
        QFETCH(Words, b);
        QFETCH(int, bMaskSize);
        QFETCH(qint64, da);
        QFETCH(qint64, db);
        QFETCH(int, tolerance);
        QFETCH(double, threshold);
        QFETCH(bool, grouped);
        QList<TrackInfo> t{track(0, "/a"), track(1, "/b")};
        setFingerprint(t[0], a);
        setFingerprint(t[1], b, bMaskSize);
        t[0].durationMs = da;
        t[1].durationMs = db;
        ScanOptions o = options(true, false);
        o.durationTolerance = tolerance;
        o.threshold = threshold;
        QCOMPARE(!DuplicateGrouper::group(t, o, QAtomicInt(0)).isEmpty(), grouped);
    }

    // Property over seeded libraries: exactly the planted pairs (with lead-ins) group,
    // whatever the input order; no track in two groups; the keeper is a member.
    void plantedDuplicatesAmongNoise()
    {
        QList<TrackInfo> t;
        for (int i = 0; i < 300; ++i) {
            t.append(track(i, QString("/lib/%1.mp3").arg(i, 4, 10, QChar('0'))));
            setFingerprint(t[i], evenWords(480, 1000 + i));
            t[i].durationMs = 200000;
        }
        QList<QList<int>> planted;
        for (int k = 0; k < 10; ++k) {
            const int a = k * 29 + 3, b = 299 - k * 13;
            Words copy = flipBits(t[a].fingerprint, 0.04, 77 + k);
            for (int j = 0; j < (k % 3) * 24; ++j) // lead-in of 0, 24 or 48 frames
                copy.prepend(0u);
            setFingerprint(t[b], copy);
            planted.append({qMin(a, b), qMax(a, b)});
        }
        std::sort(planted.begin(), planted.end());
        QRandomGenerator rng(5);
        for (int round = 0; round < 3; ++round) {
            QList<int> seen;
            QList<QList<int>> found;
            for (const MatchGroup &m : DuplicateGrouper::group(t, options(true, false), QAtomicInt(0))) {
                QVERIFY(m.members.contains(m.keeper));
                QList<int> ids;
                for (int i : m.members)
                    ids << t[i].id; // the number the track had before shuffling
                seen += ids;
                std::sort(ids.begin(), ids.end());
                found << ids;
            }
            std::sort(found.begin(), found.end());
            QCOMPARE(found, planted);
            QCOMPARE(QSet<int>(seen.begin(), seen.end()).size(), seen.size());
            std::shuffle(t.begin(), t.end(), rng);
        }
    }

    void fpcalcEngineGroups()
    {
        QList<TrackInfo> t{track(0, "/a"), track(1, "/b"), track(2, "/c")};
        QRandomGenerator rng(5);
        for (TrackInfo &x : t)
            for (int i = 0; i < 200; ++i)
                x.fingerprint.append(rng.generate());
        t[1].fingerprint = t[0].fingerprint;
        for (int i = 0; i < 200; i += 5)
            t[1].fingerprint[i] ^= 1u << (i % 32);
        ScanOptions o = options(true, false);
        o.engine = 1;
        QCOMPARE(memberLists(DuplicateGrouper::group(t, o, QAtomicInt(0))), QList<QList<int>>({{0, 1}}));
        o.engine = 0; // the same data through the built-in rules: masks missing, plain form
        QCOMPARE(DuplicateGrouper::group(t, o, QAtomicInt(0)).size(), 1);
    }

    void cancelStopsAcousticPhaseButAssembles()
    {
        QList<TrackInfo> t{track(0, "/a"), track(1, "/b"), track(2, "/c"), track(3, "/d")};
        t[0].fullHash = t[1].fullHash = "h";
        setFingerprint(t[2], evenWords(100, 3));
        setFingerprint(t[3], evenWords(100, 3));
        t[2].artist = t[3].artist = "X";
        t[2].title = t[3].title = "Song";
        QStringList texts;
        const QList<MatchGroup> g = DuplicateGrouper::group(t, options(true, true), QAtomicInt(1),
                                                            [&](int, int, const QString &s) { texts << s; });
        QCOMPARE(memberLists(g), QList<QList<int>>({{0, 1}}));
        QVERIFY(!texts.contains("Comparing metadata"));
        QCOMPARE(texts.last(), QStringLiteral("Grouping complete"));
    }

    void progressScales()
    {
        QList<TrackInfo> t{track(0, "/a"), track(1, "/b")};
        setFingerprint(t[0], evenWords(100, 3));
        setFingerprint(t[1], evenWords(100, 3));
        QList<QPair<int, int>> calls;
        QStringList texts;
        DuplicateGrouper::group(t, options(true, true), QAtomicInt(0), [&](int v, int m, const QString &s) {
            calls.append({v, m});
            texts << s;
        });
        QCOMPARE(calls.mid(0, 3), (QList<QPair<int, int>>{{0, 4}, {1, 4}, {0, 1000}}));
        QCOMPARE(texts[2], QStringLiteral("Indexing fingerprints"));
        QVERIFY(texts.contains("Finding candidate matches"));
        const int cmp = int(texts.indexOf("Comparing acoustic fingerprints"));
        QVERIFY(cmp > 0);
        QCOMPARE(calls[cmp], qMakePair(1000, 1000)); // 0.9 + 0.1 * 1/1
        QCOMPARE(calls.mid(calls.size() - 2), (QList<QPair<int, int>>{{3, 4}, {4, 4}}));
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
        QTest::newRow("qualifier words are whole words")
            << QString("Song (Meditation Deliverance)") << "song meditation deliverance";
        QTest::newRow("cyrillic") << QString("ГРУППА Крови 1") << "группа крови 1";
        QTest::newRow("greek upper") << QString("ΟΔΌΣ") << "οδόσ";
        QTest::newRow("greek lower, final sigma") << QString("οδός") << "οδόσ";
        QTest::newRow("japanese") << QString("夜に駆ける") << "夜に駆ける";
        QTest::newRow("half-width kana") << QString("ｶﾞｰﾄﾞ") << "ガード";
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
        const QString song = "artist=Band;ms=200000;title=Song";
        const QList<TrackInfo> t =
            tracks({song + ";hash=studio;bitrate=256;path=/a/studio.mp3",
                    song + ";hash=studio;bitrate=256;path=/b/studio.mp3",
                    song + " (Live);ms=201500;hash=live;size=3000;bitrate=" + QString::number(liveBitrate)});
        const ScanOptions o = options(false, true);
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

    void keeperPolicies_data()
    {
        QTest::addColumn<int>("policy");
        QTest::addColumn<QStringList>("specs");
        QTest::addColumn<int>("keeper");
        QTest::newRow("bitrate") << int(HighestBitrate)
                                 << QStringList{"bitrate=192", "bitrate=320", "bitrate=256"} << 1;
        QTest::newRow("bitrate tie: larger file")
            << int(HighestBitrate) << QStringList{"bitrate=320", "bitrate=320", "bitrate=320;size=2000"} << 2;
        QTest::newRow("full tie: first in path order") << int(HighestBitrate) << QStringList{"", "", ""} << 0;
        QTest::newRow("longest") << int(LongestDuration) << QStringList{"ms=1000", "ms=1001;size=1"} << 1;
        QTest::newRow("longest tie") << int(LongestDuration) << QStringList{"ms=1000", "ms=1000;size=1"} << 0;
        QTest::newRow("largest") << int(LargestFile) << QStringList{"ms=1001", "size=5000"} << 1;
        QTest::newRow("unknown policy keeps first") << 42 << QStringList{"", "bitrate=999;size=9999"} << 0;
        QTest::newRow("preferred flac over wav")
            << int(PreferredFormat) << QStringList{"format=wav", "format=flac", "format=ape"} << 1;
        QTest::newRow("unlisted loses")
            << int(PreferredFormat) << QStringList{"format=wav", "format=ape"} << 0;
        QTest::newRow("two mp3 by bitrate")
            << int(PreferredFormat) << QStringList{"format=mp3;bitrate=128", "format=mp3;bitrate=320"} << 1;
        QTest::newRow("format match is exact")
            << int(PreferredFormat) << QStringList{"format=mp3;bitrate=128", "format=MP3;bitrate=320"} << 0;
        QTest::newRow("oldest") << int(OldestFile) << QStringList{"", "age=-10", "age=10"} << 1;
        QTest::newRow("newest") << int(NewestFile) << QStringList{"", "age=-10", "age=10"} << 2;
        QTest::newRow("shallowest") << int(ShallowestFolder)
                                    << QStringList{"path=D:/Music/Old/a.mp3", "path=D:\\Music\\a.mp3"} << 1;
        QTest::newRow("shallowest tie: shorter path")
            << int(ShallowestFolder) << QStringList{"path=/m/long-name.mp3", "path=/x/a.mp3"} << 1;
        const QString tags = "title=T;artist=A;";
        QTest::newRow("complete tags")
            << int(MostCompleteTags)
            << QStringList{tags + "album=Al", tags + "albumArtist=AA;genre=G;year=1999"} << 1;
        QTest::newRow("complete tags tie: bitrate")
            << int(MostCompleteTags)
            << QStringList{tags + "album=Al;track=3;comment=not counted;bitrate=256",
                           tags + "albumArtist=AA;genre=G;year=1999"}
            << 0;
    }
    void keeperPolicies()
    {
        QFETCH(int, policy);
        QFETCH(QStringList, specs);
        QFETCH(int, keeper);
        MatchGroup g;
        for (int i = 0; i < specs.size(); ++i)
            g.members.append(i);
        ScanOptions o;
        o.keeperPolicy = policy;
        QCOMPARE(DuplicateGrouper::chooseKeeper(g, tracks(specs), o), keeper);
    }
};

QTEST_GUILESS_MAIN(TestDuplicateGrouper)
#include "tst_duplicategrouper.moc"

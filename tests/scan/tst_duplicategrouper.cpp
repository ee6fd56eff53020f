#include "scan/DuplicateGrouper.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace rvw;
using Words = QList<quint32>;

namespace {

// Built-in-style words with even low and high halves, so that a word XOR 0x00010001 shares
// no index key with the original; `fraction` of the bits flipped.
Words words(int count, quint32 seed, double fraction = 0.0, quint32 flipSeed = 0)
{
    Words w(count);
    QRandomGenerator(seed).fillRange(w.data(), count);
    QRandomGenerator rng(flipSeed);
    for (quint32 &x : w) {
        x &= 0xFFFEFFFEu;
        for (int b = 0; b < 32; ++b)
            x ^= rng.generateDouble() < fraction ? 1u << b : 0u;
    }
    return w;
}

// Tracks from "key=value;..." entries between " | ": h full hash, p payload hash, a artist,
// t title, al album, aa album artist, g genre, y year, c comment, fmt, path, sz size, ms,
// br bitrate, n track number, age (seconds added to one fixed time); fp=seed:percent:count sets
// fingerprint words (300 by default) with that share of bits flipped, mask the number of mask
// words, lead=n puts n zero words in front, keyless=i flips one low and one high bit of every
// word from i on. Paths default to /a, /b, ..., sizes to 1000.
QList<TrackInfo> tracks(const QString &entries)
{
    static const QHash<QString, QString TrackInfo::*> text{
        {"path", &TrackInfo::path},  {"h", &TrackInfo::fullHash},     {"p", &TrackInfo::audioHash},
        {"fmt", &TrackInfo::format}, {"a", &TrackInfo::artist},       {"t", &TrackInfo::title},
        {"al", &TrackInfo::album},   {"aa", &TrackInfo::albumArtist}, {"g", &TrackInfo::genre},
        {"y", &TrackInfo::year},     {"c", &TrackInfo::comment}};
    static const QHash<QString, qint64 TrackInfo::*> wide{{"sz", &TrackInfo::size},
                                                          {"ms", &TrackInfo::durationMs}};
    static const QHash<QString, int TrackInfo::*> narrow{{"br", &TrackInfo::bitrate},
                                                         {"n", &TrackInfo::trackNo}};
    QList<TrackInfo> out;
    for (const QString &entry : entries.split(" | ")) {
        TrackInfo t;
        t.id = int(out.size());
        t.path = QString("/%1").arg(QChar(char16_t('a' + t.id)));
        t.size = 1000;
        t.mtime = QDateTime::fromSecsSinceEpoch(1000000);
        for (const QString &field : entry.split(';', Qt::SkipEmptyParts)) {
            const QString k = field.section('=', 0, 0), v = field.section('=', 1);
            if (text.contains(k))
                t.*text[k] = v;
            else if (wide.contains(k))
                t.*wide[k] = v.toLongLong();
            else if (narrow.contains(k))
                t.*narrow[k] = v.toInt();
            else if (k == "age")
                t.mtime = t.mtime.addSecs(v.toLongLong());
            else if (k == "fp")
                t.fingerprint =
                    words(v.section(':', 2).isEmpty() ? 300 : v.section(':', 2).toInt(),
                          v.section(':', 0, 0).toUInt(), v.section(':', 1, 1).toDouble() / 100, t.id);
            else if (k == "lead")
                t.fingerprint = Words(v.toInt(), 0u) + t.fingerprint;
            else if (k == "mask")
                t.fingerprintMask = Words(v.toInt(), 0xFFFFFFFFu);
            else if (k == "keyless")
                for (int i = v.toInt(); i < t.fingerprint.size(); ++i)
                    t.fingerprint[i] ^= 0x00010001u;
        }
        if (t.fingerprintMask.isEmpty())
            t.fingerprintMask = Words(t.fingerprint.size(), 0xFFFFFFFFu);
        out.append(t);
    }
    return out;
}

// "identical audio acoustic metadata" switch the phases on; tol=, thr=, engine= and keep= set
// the duration tolerance, the threshold, the engine and the keeper policy.
ScanOptions options(const QString &text)
{
    ScanOptions o;
    o.detectIdentical = text.contains("identical");
    o.detectSameAudio = text.contains("audio");
    o.detectAcoustic = text.contains("acoustic");
    o.detectMetadata = text.contains("metadata");
    const auto number = [&](const QString &key, double fallback) {
        const QString v = text.section(key + '=', 1).section(' ', 0, 0);
        return v.isEmpty() ? fallback : v.toDouble();
    };
    o.durationTolerance = int(number("tol", o.durationTolerance));
    o.threshold = number("thr", o.threshold);
    o.engine = int(number("engine", 0));
    o.keeperPolicy = int(number("keep", o.keeperPolicy));
    return o;
}

QString numbers(const QList<int> &list, QChar separator)
{
    QStringList out;
    for (int x : list)
        out << QString::number(x);
    return out.join(separator);
}

// "tier confidence [members] keeper+alsoKept reclaimable; ...", and a note if ids are not 1, 2, ...
QString describe(const QList<MatchGroup> &groups)
{
    static const char *tiers[] = {"identical", "audio", "acoustic", "metadata", "unmatched"};
    QStringList out;
    for (const MatchGroup &g : groups)
        out << QString("%1 %2 [%3] k%4 r%5%6")
                   .arg(tiers[g.tier])
                   .arg(g.confidence)
                   .arg(numbers(g.members, ' '), numbers(QList<int>{g.keeper} + g.alsoKept, '+'))
                   .arg(g.reclaimableBytes)
                   .arg(g.id == out.size() + 1 ? "" : " bad id");
    return out.join("; ");
}

} // namespace

class TestDuplicateGrouper : public QObject
{
    Q_OBJECT
private slots:
    // "tracks -> options -> groups"
    void groups_data()
    {
        QTest::addColumn<QString>("row");
        const QString five = "h=1;p=1 | h=1;p=1 | h=2;p=2 | h=3;p=2 | h=4;p=4 -> ";
        const QString near = "fp=9::200", near2 = " | fp=9:2:200", pair = " -> acoustic 0.9 [0 1] k0 r1000";
        // Joined by tags alone, tracks are different recordings that keep a copy each.
        const QString tags = " -> metadata -> metadata 0.65 [0 1] k0+1 r0";
        QTest::newRow("fewer than two tracks") << "h=x -> identical -> ";
        QTest::newRow("both hashes")
            << five + "identical audio -> identical 1 [0 1] k0 r1000; audio 0.99 [2 3] k2 r1000";
        QTest::newRow("identical only") << five + "identical -> identical 1 [0 1] k0 r1000";
        QTest::newRow("same audio only")
            << five + "audio -> audio 0.99 [0 1] k0 r1000; audio 0.99 [2 3] k2 r1000";
        QTest::newRow("empty hashes never match") << " |  -> identical audio metadata -> ";
        QTest::newRow("copy with other tags")
            << "h=f;p=p | h=f;p=p | p=p -> identical audio -> audio 0.99 [0 1 2] k0 r2000";
        QTest::newRow("sorted by tier, then bytes")
            << "h=s;sz=10 | h=s;sz=10 | h=c;p=b;sz=50 | h=d;p=b;sz=50 | h=m;sz=40 | h=m;sz=40 -> identical "
               "audio"
               " -> identical 1 [4 5] k4 r40; identical 1 [0 1] k0 r10; audio 0.99 [2 3] k2 r50";
        QTest::newRow("members in path order")
            << "h=h;path=/z | h=h;path=/a | h=h;path=/m -> identical -> identical 1 [1 2 0] k1 r2000";
        QTest::newRow("tags normalised, one duration unknown")
            << "a=The Beatles;t=Help! (Remastered) | a=Beatles;t=help;ms=1" + tags;
        QTest::newRow("tags within 3 s")
            << "a=Queen;t=Song [Live];ms=200000 | a=queen;t=Song;ms=203000" + tags;
        QTest::newRow("tags beyond 3 s")
            << "a=Queen;t=Song;ms=200000 | a=Queen;t=Song;ms=203001 -> metadata -> ";
        QTest::newRow("three characters say too little") << "a=A;t=B | a=A;t=B -> metadata -> ";
        QTest::newRow("four are enough") << "a=A;t=BC | a=A;t=BC" + tags;
        QTest::newRow("title only a qualifier") << "a=Queen;t=(Remix) | a=Queen;t=(Remix) -> metadata -> ";
        QTest::newRow("missing artist") << "t=Song | t=Song -> metadata -> ";
        // Two byte copies of a studio take and a live take joined by tags: a copy of each stays.
        QTest::newRow("mixed recordings")
            << "a=Band;t=Song;h=s;br=256 | a=Band;t=Song;h=s;br=256 | a=Band;t=Song (Live);br=320"
               " -> identical metadata -> metadata 0.65 [0 1 2] k2+0 r1000";
        QTest::newRow("hash and acoustic links: least certain tier")
            << "h=x;sz=100;fp=1 | h=x;sz=100;fp=1 | sz=300;fp=1:3 -> identical audio acoustic"
               " -> acoustic 0.9 [0 1 2] k2 r200";
        QTest::newRow("39 words: too short") << "fp=7:0:39 | fp=7:0:39 -> acoustic -> ";
        QTest::newRow("40 words") << "fp=7:0:40 | fp=7:0:40 -> acoustic" + pair;
        QTest::newRow("duration exactly 5 %")
            << near + ";ms=190000" + near2 + ";ms=200000 -> acoustic" + pair;
        QTest::newRow("duration just over 5 %") << near + ";ms=189000" + near2 + ";ms=200000 -> acoustic -> ";
        QTest::newRow("unknown duration") << near + near2 + ";ms=200000 -> acoustic" + pair;
        QTest::newRow("one ms over 1 %") << near + ";ms=197999" + near2 + ";ms=200000 -> acoustic tol=1 -> ";
        QTest::newRow("threshold below the error rate") << near + near2 + " -> acoustic thr=0.01 -> ";
        QTest::newRow("mask shorter than words: every bit counts")
            << near + near2 + ";mask=10 -> acoustic" + pair;
        QTest::newRow("fpcalc engine") << "fp=5 | fp=5:3 | fp=6 -> acoustic engine=1" + pair;
        QTest::newRow("fpcalc threshold") << "fp=5 | fp=5:15 -> acoustic engine=1 -> ";
        // One low and one high bit flipped per word is a clear match by bit error rate but shares
        // no 16-bit key; each untouched word shares two.
        for (int same : {0, 1, 2})
            QTest::addRow("%d shared keys", 2 * same)
                << QString("fp=11 | fp=11;keyless=%1 -> acoustic%2").arg(same).arg(same == 2 ? pair : " -> ");
    }
    void groups()
    {
        QFETCH(QString, row);
        const QStringList part = row.split(" -> ");
        QCOMPARE(describe(DuplicateGrouper::group(tracks(part[0]), options(part[1]), QAtomicInt(0))),
                 part[2]);
    }

    // Seeded libraries: exactly the planted pairs (with lead-ins) group, whatever the input
    // order (which also means no track is in two groups); the keeper is a member.
    void plantedDuplicatesAmongNoise()
    {
        QStringList rows;
        for (int i = 0; i < 300; ++i)
            rows << QString("fp=%1:0:480;ms=200000;path=/lib/%2").arg(1000 + i).arg(i, 4, 10, QChar('0'));
        QList<QList<int>> planted;
        for (int k = 0; k < 10; ++k) {
            const int a = k * 29 + 3, b = 299 - k * 13;
            rows[b] += QString(";fp=%1:4:480;lead=%2").arg(1000 + a).arg(k % 3 * 24); // 4 % of bits flipped
            planted.append({qMin(a, b), qMax(a, b)});
        }
        QList<TrackInfo> t = tracks(rows.join(" | "));
        std::sort(planted.begin(), planted.end());
        QRandomGenerator rng(5);
        for (int round = 0; round < 3; ++round) {
            QList<QList<int>> found;
            for (const MatchGroup &m : DuplicateGrouper::group(t, options("acoustic"), QAtomicInt(0))) {
                QVERIFY(m.members.contains(m.keeper));
                QList<int> ids;
                for (int i : m.members)
                    ids << t[i].id; // the number the track had before shuffling
                std::sort(ids.begin(), ids.end());
                found << ids;
            }
            std::sort(found.begin(), found.end());
            QCOMPARE(found, planted);
            std::shuffle(t.begin(), t.end(), rng);
        }
    }

    // A cancel skips the acoustic and metadata phases and still assembles what the hashes found.
    void cancelKeepsHashGroups()
    {
        const auto t = tracks("h=h | h=h | fp=3:0:100;a=X;t=Song | fp=3:0:100;a=X;t=Song");
        QStringList calls;
        const auto groups =
            DuplicateGrouper::group(t, options("identical acoustic metadata"), QAtomicInt(1),
                                    [&](int v, int, const QString &s) { calls << QString::number(v) + s; });
        QCOMPARE(describe(groups) + " / " + calls.join(", "),
                 "identical 1 [0 1] k0 r1000 / 0Matching identical files, 4Grouping complete");
    }

    // "text -> normalised"
    void normalise_data()
    {
        QTest::addColumn<QString>("row");
        QTest::newRow("qualifiers in any bracket, other brackets kept") << QString(
            "Help! (Remastered 2009) [Live at Wembley] {Radio Edit} (Side B) (Meditation) -> help side "
            "b meditation");
        QTest::newRow("leading the") << QString("The Beatles -> beatles");
        QTest::newRow("the needs its space") << QString("Theory -> theory");
        QTest::newRow("spaces of any kind, full width")
            << QString("  A \t B\u00A0C\u202FD　ＡＢＣ１２３   -> a b c d abc123");
        QTest::newRow("latin accents dropped, others kept") << QString("Café ΟΔΌΣ दिल से -> cafe οδόσ दिल से");
    }
    void normalise()
    {
        QFETCH(QString, row);
        QCOMPARE(normaliseForMatching(row.section(" -> ", 0, 0)), row.section(" -> ", 1));
    }

    // Keeping the other studio copy still keeps the live take; a recordings list that does not
    // fit the members makes every member its own recording.
    void setKeeper()
    {
        const QList<TrackInfo> t = tracks("h=s | h=s | h=l;sz=3000");
        MatchGroup g;
        g.members = {0, 1, 2};
        g.recordings = {0, 0, 1};
        DuplicateGrouper::setKeeper(g, 1, t, options(""));
        QCOMPARE(describe({g}), "unmatched 1 [0 1 2] k1+2 r1000 bad id");
        g.recordings = {0, 0};
        DuplicateGrouper::setKeeper(g, 1, t, options(""));
        QCOMPARE(describe({g}), "unmatched 1 [0 1 2] k1+0+2 r0 bad id");
    }

    // "policy: tracks -> keeper"
    void keeperPolicies_data()
    {
        QTest::addColumn<QString>("row");
        QTest::newRow("empty group") << "0:  -> -1";
        QTest::newRow("bitrate") << "0: br=192 | br=320 | br=256 -> 1";
        QTest::newRow("bitrate tie: larger file, then first")
            << "0: br=320 | br=320;sz=2000 | br=320;sz=2000 -> 1";
        QTest::newRow("longest, tie: first") << "1: ms=1000 | ms=1001;sz=1 | ms=1001;sz=2 -> 1";
        QTest::newRow("largest") << "2: ms=1001 | sz=5000 -> 1";
        QTest::newRow("preferred flac over wav, unlisted loses") << "3: fmt=ape | fmt=wav | fmt=flac -> 2";
        QTest::newRow("same format: bitrate") << "3: fmt=mp3;br=128 | fmt=mp3;br=320 -> 1";
        QTest::newRow("format match is exact") << "3: fmt=mp3;br=128 | fmt=MP3;br=320 -> 0";
        QTest::newRow("shallowest, tie: shorter path")
            << "4: path=/m/Old/a.mp3 | path=D:\\Music\\long.mp3 | path=/x/a.mp3 -> 2";
        QTest::newRow("oldest") << "5:  | age=-10 | age=10 -> 1";
        QTest::newRow("newest") << "6:  | age=-10 | age=10 -> 2";
        QTest::newRow("complete tags") << "7: t=T;a=A;al=Al | t=T;a=A;aa=AA;g=G;y=1999 -> 1";
        QTest::newRow("complete tags tie: bitrate")
            << "7: t=T;a=A;al=Al;n=3;c=not counted;br=256 | t=T;a=A;aa=AA;g=G;y=1999 -> 0";
        QTest::newRow("complete tags: title and artist weigh 3")
            << "7: a=A;al=Al;br=128 | t=T;aa=AA;g=G;br=256 -> 1";
        QTest::newRow("unknown policy keeps first") << "42:  | br=999;sz=9999 -> 0";
    }
    void keeperPolicies()
    {
        QFETCH(QString, row);
        const QString list = row.section(": ", 1).section(" -> ", 0, 0);
        MatchGroup g;
        for (int i = 0; !list.isEmpty() && i <= list.count(" | "); ++i)
            g.members.append(i);
        const ScanOptions o = options(QString("keep=") + row.section(':', 0, 0));
        QCOMPARE(DuplicateGrouper::chooseKeeper(g, tracks(list), o), row.section(" -> ", 1).toInt());
    }
};

QTEST_GUILESS_MAIN(TestDuplicateGrouper)
#include "tst_duplicategrouper.moc"

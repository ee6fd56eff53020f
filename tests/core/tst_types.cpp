#include "core/Types.h"

#include <QLocale>
#include <QtTest>

using namespace rvw;

class TestTypes : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void defaults()
    {
        const MatchGroup g;
        QCOMPARE(g.tier, Unmatched);
        QCOMPARE(g.keeper, -1);
        QCOMPARE(g.confidence, 1.0);
        QVERIFY(g.members.isEmpty());
        const TrackInfo t;
        QCOMPARE(t.id, -1);
        QVERIFY(!t.mtime.isValid());
        QVERIFY(!t.analysed && !t.fromCache);
        const ScanOptions o;
        QCOMPARE(o.extensions.size(), 11);
        QCOMPARE(o.excludes.first(), QStringLiteral("*/.Trash/*"));
        QCOMPARE(o.minBytes, qint64(32768));
        QCOMPARE(o.engine, 1);
        QVERIFY(!o.detectMetadata);
        QCOMPARE(o.preferredFormats.first(), QStringLiteral("flac"));
    }

    void tierTexts_data()
    {
        QTest::addColumn<int>("tier");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("hasDescription");
        QTest::newRow("identical") << 0 << "Identical file" << true;
        QTest::newRow("same audio") << 1 << "Same audio, different tags" << true;
        QTest::newRow("acoustic") << 2 << "Same recording" << true;
        QTest::newRow("metadata") << 3 << "Same song (metadata)" << true;
        QTest::newRow("unmatched") << 4 << "Unmatched" << false;
        QTest::newRow("beyond range") << 7 << "Unmatched" << false;
        QTest::newRow("negative") << -1 << "Unmatched" << false;
    }
    void tierTexts()
    {
        QFETCH(int, tier);
        QFETCH(QString, name);
        QFETCH(bool, hasDescription);
        QCOMPARE(matchTierName(MatchTier(tier)), name);
        QCOMPARE(!matchTierDescription(MatchTier(tier)).isEmpty(), hasDescription);
    }

    void descriptionsAreDistinct()
    {
        QSet<QString> seen;
        for (int t = 0; t <= 3; ++t)
            seen.insert(matchTierDescription(MatchTier(t)));
        QCOMPARE(seen.size(), 4);
        QVERIFY(matchTierDescription(Metadata).startsWith("Artist, title and duration agree."));
    }

    void qualityString_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("bitrate");
        QTest::addColumn<int>("sampleRate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<QString>("expected");
        QTest::newRow("mp3 cbr") << "mp3" << 320 << 44100 << 2 << "MP3 320 kbps 44.1 kHz stereo";
        QTest::newRow("6ch wav") << "wav" << 0 << 48000 << 6 << "WAV 48 kHz 6 ch";
        QTest::newRow("mono") << "flac" << 0 << 22050 << 1 << "FLAC 22.1 kHz mono";
        QTest::newRow("high rate") << "flac" << 1411 << 192000 << 2 << "FLAC 1411 kbps 192 kHz stereo";
        QTest::newRow("8 kHz") << "wav" << 0 << 8000 << 1 << "WAV 8 kHz mono";
        QTest::newRow("11025") << "wav" << 0 << 11025 << 0 << "WAV 11 kHz";
        QTest::newRow("nothing known") << "" << 0 << 0 << 0 << "";
        QTest::newRow("negative channels") << "" << -5 << -1 << -2 << "";
        QTest::newRow("only channels") << "" << 0 << 0 << 3 << "3 ch";
    }
    void qualityString()
    {
        QFETCH(QString, format);
        QFETCH(int, bitrate);
        QFETCH(int, sampleRate);
        QFETCH(int, channels);
        QFETCH(QString, expected);
        TrackInfo t;
        t.format = format;
        t.bitrate = bitrate;
        t.sampleRate = sampleRate;
        t.channels = channels;
        QCOMPARE(t.qualityString(), expected);
    }

    void display_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("artist");
        QTest::addColumn<QString>("albumArtist");
        QTest::addColumn<QString>("displayTitle");
        QTest::addColumn<QString>("displayArtist");
        QTest::newRow("tags") << "/m/a.mp3" << "Song" << "Band" << "Various" << "Song" << "Band";
        QTest::newRow("album artist") << "/m/a.mp3" << "Song" << "" << "Various" << "Song" << "Various";
        QTest::newRow("no tags") << "/m/Song.Live.mp3" << "" << "" << "" << "Song.Live" << "(unknown artist)";
        QTest::newRow("no suffix") << "/m/Jingle" << "" << "" << "" << "Jingle" << "(unknown artist)";
        QTest::newRow("dot folder") << "/m.v2/take.one.flac" << "" << "X" << "" << "take.one" << "X";
    }
    void display()
    {
        QFETCH(QString, path);
        QFETCH(QString, title);
        QFETCH(QString, artist);
        QFETCH(QString, albumArtist);
        QFETCH(QString, displayTitle);
        QFETCH(QString, displayArtist);
        TrackInfo t;
        t.path = path;
        t.title = title;
        t.artist = artist;
        t.albumArtist = albumArtist;
        QCOMPARE(t.displayTitle(), displayTitle);
        QCOMPARE(t.displayArtist(), displayArtist);
    }

    void keeperLabels()
    {
        QCOMPARE(keeperPolicyLabel(HighestBitrate), QStringLiteral("Highest bitrate"));
        QCOMPARE(keeperPolicyLabel(MostCompleteTags), QStringLiteral("Most complete tags"));
        QVERIFY(keeperPolicyLabel(8).isEmpty());
    }

    void travelsThroughQVariant()
    {
        TrackInfo t;
        t.path = "/x.flac";
        t.fingerprint = {1u, 2u, 0xFFFFFFFFu};
        const QVariant v = QVariant::fromValue(t);
        const TrackInfo back = v.value<TrackInfo>();
        QCOMPARE(back.path, t.path);
        QCOMPARE(back.fingerprint, t.fingerprint);
    }
};

QTEST_GUILESS_MAIN(TestTypes)
#include "tst_types.moc"

#include "core/Types.h"

#include <QLocale>
#include <QtTest>

using namespace rvw;

class TestTypes : public QObject
{
    Q_OBJECT
private slots:
    // Each tier and policy says something of its own; anything out of range is "Unmatched" or nothing.
    void textsAreDistinct()
    {
        QSet<QString> texts;
        for (int i = -1; i <= 8; ++i)
            texts << matchTierName(MatchTier(i)) << matchTierDescription(MatchTier(i))
                  << keeperPolicyLabel(i);
        QCOMPARE(texts.size(), 5 + 4 + 8 + 1); // names, descriptions, policies and the empty text
    }

    // "path|title|artist|albumArtist|format|bitrate|sampleRate|channels = title|artist|quality"
    void describe_data()
    {
        QTest::addColumn<QString>("row");
        // clang-format off
        QTest::newRow("all known") << "/a.mp3|S|B|V|mp3|320|44100|2 = S|B|MP3 320 kbps 44.1 kHz stereo";
        QTest::newRow("album artist, 3 ch") << "/a.mp3|S||V|flac|1|22050|3 = S|V|FLAC 1 kbps 22.1 kHz 3 ch";
        QTest::newRow("no tags, mono") << "/m.v2/S.Live.mp3||||wav|0|8000|1 = S.Live|(unknown artist)|WAV 8 kHz mono";
        QTest::newRow("nothing known") << "/x|||||0|0|0 = x|(unknown artist)|";
        // clang-format on
    }
    void describe()
    {
        QFETCH(QString, row);
        QLocale::setDefault(QLocale::c());
        const QStringList f = row.section(" = ", 0, 0).split('|');
        TrackInfo t;
        t.path = f[0], t.title = f[1], t.artist = f[2], t.albumArtist = f[3], t.format = f[4];
        t.bitrate = f[5].toInt(), t.sampleRate = f[6].toInt(), t.channels = f[7].toInt();
        QCOMPARE(t.displayTitle() + '|' + t.displayArtist() + '|' + t.qualityString(), row.section(" = ", 1));
    }
};

QTEST_GUILESS_MAIN(TestTypes)
#include "tst_types.moc"

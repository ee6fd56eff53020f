#include "app/Platform.h"
#include "audio/AudioDecode.h"
#include "audio/Fingerprint.h"
#include "support/AudioFixtures.h"
#include "ui/AudioFixture.h"
#include "ui/ComparePlayer.h"
#include "ui/vfd/VfdWidgets.h"

#include <QAudioOutput>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QKeySequence>
#include <QLabel>
#include <QLocale>
#include <QMediaPlayer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using rvw::ComparePlayer;
using rvw::TrackInfo;

namespace {

const QString kDash = QStringLiteral("\u2014");

struct Deck
{
    QMediaPlayer *player;
    QAudioOutput *output;
    rvw::vfd::SevenSegment *clock;
    rvw::vfd::Scrubber *scrubber;
    rvw::vfd::LevelMeter *meter;
    rvw::vfd::Badge *quality;
    rvw::vfd::ElidingLabel *title;
    QLabel *size;
    QLabel *total;
    rvw::vfd::Lamp *monitor;
};

Deck deckOf(ComparePlayer &p, const QString &letter)
{
    return Deck{p.findChild<QMediaPlayer *>("player" + letter),
                p.findChild<QAudioOutput *>("output" + letter),
                p.findChild<rvw::vfd::SevenSegment *>("clock" + letter),
                p.findChild<rvw::vfd::Scrubber *>("scrubber" + letter),
                p.findChild<rvw::vfd::LevelMeter *>("meter" + letter),
                p.findChild<rvw::vfd::Badge *>("quality" + letter),
                p.findChild<rvw::vfd::ElidingLabel *>("title" + letter),
                p.findChild<QLabel *>("size" + letter),
                p.findChild<QLabel *>("total" + letter),
                p.findChild<rvw::vfd::Lamp *>("monitor" + letter)};
}

bool playing(const Deck &d)
{
    return d.player->playbackState() == QMediaPlayer::PlayingState;
}

QStringList logLines(const QSignalSpy &log)
{
    QStringList lines;
    for (const QList<QVariant> &args : log)
        lines << args.at(0).toString();
    return lines;
}

// How many of this process's descriptors refer to the file (Linux only, -1 elsewhere).
int openHandles(const QString &path)
{
    const QDir fds(QStringLiteral("/proc/self/fd"));
    if (!fds.exists())
        return -1;
    const QString target = QFileInfo(path).canonicalFilePath();
    int n = 0;
    for (const QString &fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        n += QFileInfo(fds.filePath(fd)).symLinkTarget() == target ? 1 : 0;
    return n;
}

// The built-in fingerprint of the whole file, as a scan stores it.
QList<quint32> fingerprintOf(const QString &path)
{
    std::vector<float> samples;
    qint64 durationMs = 0;
    QString error;
    if (!rvw::AudioDecode::decodeWithFfmpeg(path, rvw::Fingerprint::kSampleRate, 0, samples, durationMs, error))
        return {};
    rvw::Fingerprint::Analyzer analyzer;
    analyzer.configure(rvw::Fingerprint::kSampleRate);
    analyzer.feed(samples.data(), int(samples.size()));
    return analyzer.mainGenerator.finish();
}

bool isBackground(const QColor &c)
{
    const QColor bg = rvw::vfd::colour::scrubberBackground();
    return qAbs(c.red() - bg.red()) <= 2 && qAbs(c.green() - bg.green()) <= 2 && qAbs(c.blue() - bg.blue()) <= 2;
}

// The column of the playhead in the scrubber's top row (the waveform never reaches it).
int playheadColumn(const QImage &image)
{
    const QColor head = rvw::vfd::colour::playhead();
    for (int x = 0; x < image.width(); ++x) {
        const QColor c = image.pixelColor(x, 0);
        if (qAbs(c.red() - head.red()) <= 40 && qAbs(c.green() - head.green()) <= 40 &&
            qAbs(c.blue() - head.blue()) <= 40)
            return x;
    }
    return -1;
}

} // namespace

class tst_ComparePlayer : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    TrackInfo m_wav;   // 8 s
    TrackInfo m_flac;  // 8 s
    TrackInfo m_short; // 3 s
    TrackInfo m_half;  // the first 4 s of the 8 s music
    TrackInfo m_quiet; // the 8 s music 6 dB down
    TrackInfo m_song;      // 12 s
    TrackInfo m_songLater; // the same with 1.5 s of silence before it
    TrackInfo m_otherSong; // 12 s of a different tune
    TrackInfo m_broken;

    TrackInfo track(const QString &path, const QString &format, int bitrate, qint64 durationMs)
    {
        TrackInfo t;
        t.path = path;
        t.fileName = QFileInfo(path).fileName();
        t.format = format;
        t.size = QFileInfo(path).size();
        t.bitrate = bitrate;
        t.durationMs = durationMs;
        return t;
    }

    // Both decks loaded, their waveforms in, paused at the start.
    void loadBoth(ComparePlayer &p)
    {
        p.loadDeck(ComparePlayer::A, m_wav);
        p.loadDeck(ComparePlayer::B, m_flac);
        QTRY_VERIFY_WITH_TIMEOUT(!deckOf(p, "A").scrubber->isBusy() && !deckOf(p, "B").scrubber->isBusy(),
                                 15000);
        QTRY_VERIFY_WITH_TIMEOUT(deckOf(p, "A").player->mediaStatus() == QMediaPlayer::LoadedMedia &&
                                     deckOf(p, "B").player->mediaStatus() == QMediaPlayer::LoadedMedia,
                                 10000);
    }

    void waitPlaying(const Deck &d, qint64 beyondMs)
    {
        QTRY_VERIFY_WITH_TIMEOUT(playing(d) && d.player->position() > beyondMs, 10000);
    }

private slots:
    void initTestCase()
    {
        rvw::Platform::applyDecoderRanking();
        qRegisterMetaType<rvw::Envelope>("rvw::Envelope");
        QVERIFY(m_dir.isValid());
        if (!rvw::test::haveFfmpeg())
            QSKIP("ffmpeg is not installed; the player is tested on files it makes");
        const QDir dir(m_dir.path());
        const QString music = QStringLiteral("aevalsrc=exprs='(0.45+0.4*sin(2*PI*0.6*t))*sin(2*PI*220*t)|(0."
                                             "45+0.4*sin(2*PI*0.6*t))*sin(2*PI*330*t)'"
                                             ":s=44100:d=%1");
        const QString wav =
            rvw::test::makeAudio(dir, "Artist - Song.wav", music.arg(8), {"-c:a", "pcm_s16le"});
        const QString flac = rvw::test::makeAudio(dir, "Artist - Song (copy).flac", music.arg(8),
                                                  {"-c:a", "flac", "-sample_fmt", "s16"});
        const QString shorter = rvw::test::makeAudio(dir, "short.wav", music.arg(3), {"-c:a", "pcm_s16le"});
        const QString half = rvw::test::makeAudio(dir, "half.wav", music.arg(4), {"-c:a", "pcm_s16le"});
        QVERIFY(!wav.isEmpty() && !flac.isEmpty() && !shorter.isEmpty() && !half.isEmpty());
        m_half = track(half, "wav", 1411, 4000);
        const QString quiet = rvw::test::makeAudio(dir, "quiet.wav", music.arg(8),
                                                   {"-af", "volume=0.5", "-c:a", "pcm_s16le"});
        QVERIFY(!quiet.isEmpty());
        m_quiet = track(quiet, "wav", 1411, 8000);

        const QString song = dir.absoluteFilePath("song.wav");
        const QString later = dir.absoluteFilePath("song (lead-in).wav");
        const QString otherSong = dir.absoluteFilePath("other.wav");
        QString error;
        QVERIFY2(rvwtest::ffmpeg(rvwtest::melodyInput(3, 12) + QStringList{song}, &error), qPrintable(error));
        QVERIFY2(rvwtest::ffmpeg(rvwtest::melodyInput(3, 12) +
                                     QStringList{"-af", "adelay=delays=1500:all=1", later},
                                 &error),
                 qPrintable(error));
        QVERIFY2(rvwtest::ffmpeg(rvwtest::melodyInput(8, 12) + QStringList{otherSong}, &error), qPrintable(error));
        m_song = track(song, "wav", 705, 12000);
        m_songLater = track(later, "wav", 705, 13500);
        m_otherSong = track(otherSong, "wav", 705, 12000);
        m_song.fingerprint = fingerprintOf(song);
        m_songLater.fingerprint = fingerprintOf(later);
        m_otherSong.fingerprint = fingerprintOf(otherSong);
        QVERIFY(m_song.fingerprint.size() > 50 && m_songLater.fingerprint.size() > 50 &&
                m_otherSong.fingerprint.size() > 50);
        m_wav = track(wav, "wav", 1411, 8000);
        m_wav.sampleRate = 44100;
        m_wav.channels = 2;
        m_flac = track(flac, "flac", 900, 7980);
        m_short = track(shorter, "wav", 1411, 3000);

        const QString broken = dir.absoluteFilePath("broken.flac");
        QFile file(broken);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(8192, 'z'));
        file.close();
        m_broken = track(broken, "flac", 0, 0);
    }

    void formatClock_data()
    {
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << qint64(0) << "0:00:00";
        QTest::newRow("negative") << qint64(-5000) << "0:00:00";
        QTest::newRow("truncated") << qint64(59999) << "0:00:59";
        QTest::newRow("minute") << qint64(60000) << "0:01:00";
        QTest::newRow("hour, minute, second") << qint64(3723000) << "1:02:03";
        QTest::newRow("no minimum width for hours") << qint64(40 * 3600000LL + 5000) << "40:00:05";
    }

    void formatClock()
    {
        QFETCH(qint64, ms);
        QFETCH(QString, text);
        QCOMPARE(ComparePlayer::formatClock(ms), text);
    }

    void driftRule_data()
    {
        QTest::addColumn<qint64>("active");
        QTest::addColumn<qint64>("other");
        QTest::addColumn<bool>("corrected");
        QTest::newRow("in step") << qint64(5000) << qint64(5000) << false;
        QTest::newRow("100 ms behind") << qint64(5000) << qint64(4900) << false;
        QTest::newRow("140 ms ahead") << qint64(5000) << qint64(5140) << false;
        QTest::newRow("141 ms ahead") << qint64(5000) << qint64(5141) << true;
        QTest::newRow("200 ms behind") << qint64(5000) << qint64(4800) << true;
        QTest::newRow("far apart") << qint64(0) << qint64(std::numeric_limits<qint64>::max()) << true;
    }

    void driftRule()
    {
        QFETCH(qint64, active);
        QFETCH(qint64, other);
        QFETCH(bool, corrected);
        QCOMPARE(ComparePlayer::needsDriftCorrection(active, other), corrected);
    }

    void alignmentOffset_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("aligned");
        QTest::addColumn<qint64>("offsetMs");
        QTest::newRow("B has 1.5 s more lead-in") << "song" << "later" << true << qint64(1500);
        QTest::newRow("A has 1.5 s more lead-in") << "later" << "song" << true << qint64(-1500);
        QTest::newRow("same file") << "song" << "song" << true << qint64(0);
        QTest::newRow("different songs") << "song" << "other" << false << qint64(0);
        QTest::newRow("no fingerprint") << "song" << "none" << false << qint64(0);
    }

    void alignmentOffset()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, aligned);
        QFETCH(qint64, offsetMs);
        const auto pick = [this](const QString &name) {
            if (name == "song")
                return m_song;
            if (name == "later")
                return m_songLater;
            if (name == "other")
                return m_otherSong;
            return m_wav;
        };
        qint64 offset = 12345;
        QCOMPARE(ComparePlayer::alignmentOffset(pick(a).fingerprint, pick(b).fingerprint, offset), aligned);
        // Within one fingerprint frame (1365 samples at 11,025 Hz).
        QVERIFY2(qAbs(offset - offsetMs) <= 124, qPrintable(QString::number(offset)));
    }

    // Linked, the deck with the longer lead-in is kept at the same moment of the recording.
    void linkedDecksFollowTheAlignment()
    {
        ComparePlayer p;
        const Deck a = deckOf(p, "A");
        const Deck b = deckOf(p, "B");
        p.loadDeck(ComparePlayer::A, m_song);
        p.loadDeck(ComparePlayer::B, m_songLater);
        QVERIFY2(qAbs(p.linkOffset() - 1500) <= 124, qPrintable(QString::number(p.linkOffset())));
        QTRY_VERIFY_WITH_TIMEOUT(a.player->mediaStatus() == QMediaPlayer::LoadedMedia &&
                                     b.player->mediaStatus() == QMediaPlayer::LoadedMedia,
                                 10000);
        p.seek(ComparePlayer::A, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(a.player->position() >= 2900 && b.player->position() >= 2900, 5000);
        QTest::qWait(100);
        QCOMPARE(a.player->position(), 3000);
        QCOMPARE(b.player->position(), 3000 + p.linkOffset());

        // A seek on deck B lands deck A at the matching moment, too.
        p.seek(ComparePlayer::B, 6000);
        QTRY_VERIFY_WITH_TIMEOUT(b.player->position() == 6000, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(a.player->position(), 6000 - p.linkOffset(), 5000);

        // A different song on deck B is not shifted.
        p.loadDeck(ComparePlayer::B, m_otherSong);
        QCOMPARE(p.linkOffset(), 0);
    }

    void monitorToolTipsNameShortcuts_data()
    {
        QTest::addColumn<QString>("letter");
        QTest::addColumn<QString>("shortcut");
        QTest::newRow("deck A") << "A" << "Ctrl+1";
        QTest::newRow("deck B") << "B" << "Ctrl+2";
    }

    void monitorToolTipsNameShortcuts()
    {
        QFETCH(QString, letter);
        QFETCH(QString, shortcut);
        ComparePlayer p;
        const QString tip = deckOf(p, letter).monitor->toolTip();
        QVERIFY2(tip.contains(QKeySequence(shortcut).toString(QKeySequence::NativeText)), qPrintable(tip));
    }

    void linkLampAndSignalAgree()
    {
        ComparePlayer p;
        QSignalSpy changed(&p, &ComparePlayer::linkedChanged);
        auto *lamp = p.findChild<rvw::vfd::Lamp *>("linkLamp");
        QTest::mouseClick(lamp, Qt::LeftButton);
        QVERIFY(!p.isLinked());
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toBool(), false);
        p.setLinked(true);
        QVERIFY(lamp->isOn());
        QCOMPARE(changed.count(), 2);
        QCOMPARE(changed.at(1).at(0).toBool(), true);
        p.setLinked(true); // no change, no signal
        QCOMPARE(changed.count(), 2);
    }

    // Every key of the console and both waveforms are reached with Tab, left to right as they
    // stand, and pressed from the keyboard as a button would be.
    void keyboardReachesEveryControl()
    {
        ComparePlayer p;
        p.show();
        QVERIFY(QTest::qWaitForWindowActive(&p));
        QStringList chain;
        QWidget *w = &p;
        for (int guard = 0; guard < 100; ++guard) {
            w = w->nextInFocusChain();
            if (w == &p)
                break;
            if ((w->focusPolicy() & Qt::TabFocus) && w->isVisible())
                chain << w->objectName();
        }
        QCOMPARE(chain, (QStringList{"scrubberA", "monitorA", "monitorB", "playLamp", "stopLamp", "linkLamp",
                                     "levelLamp", "scrubberB"}));

        const auto press = [&p](const char *name, Qt::Key key) {
            auto *lamp = p.findChild<rvw::vfd::Lamp *>(name);
            lamp->setFocus();
            QTest::keyClick(lamp, key);
        };
        press("monitorB", Qt::Key_Space);
        QCOMPARE(p.activeDeck(), ComparePlayer::B);
        press("linkLamp", Qt::Key_Return);
        QVERIFY(!p.isLinked());
        press("levelLamp", Qt::Key_Space);
        QVERIFY(p.isLevelMatched());
        press("monitorA", Qt::Key_A); // not a key that presses
        QCOMPARE(p.activeDeck(), ComparePlayer::B);
    }

    void emptyPlayer()
    {
        ComparePlayer p;
        QCOMPARE(p.minimumHeight(), 150);
        for (const char *letter : {"A", "B"}) {
            const Deck d = deckOf(p, letter);
            QVERIFY(d.player && d.output && d.clock && d.scrubber && d.meter && d.quality && d.title &&
                    d.size && d.total && d.monitor);
            QCOMPARE(d.clock->text(), QStringLiteral("0:00:00"));
            QCOMPARE(d.clock->digitHeight(), 30);
            QVERIFY(d.clock->isDimmed());
            QCOMPARE(d.total->text(), QStringLiteral("/ 0:00:00"));
            QCOMPARE(d.title->text(), QStringLiteral("— no file loaded —"));
            QVERIFY(d.quality->text().isEmpty());
            QVERIFY(d.size->text().isEmpty());
            QVERIFY(!d.scrubber->isBusy());
        }
        QCOMPARE(deckOf(p, "A").output->volume(), 1.0f);
        QCOMPARE(deckOf(p, "B").output->volume(), 0.0f);
        QVERIFY(deckOf(p, "A").monitor->isOn());
        QVERIFY(!deckOf(p, "B").monitor->isOn());
        QVERIFY(p.isLinked());
        QVERIFY(p.findChild<rvw::vfd::Lamp *>("linkLamp")->isOn());
        QCOMPARE(p.findChild<QLabel *>("durationDifference")->text(), kDash);
        QCOMPARE(p.findChild<QLabel *>("bitrateDifference")->text(), kDash);
        QCOMPARE(p.findChild<rvw::vfd::Lamp *>("playLamp")->text(), QStringLiteral("PLAY"));

        // Nothing to play.
        p.playPause();
        QVERIFY(!playing(deckOf(p, "A")) && !playing(deckOf(p, "B")));
    }

    void loadShowsTrackAndWaveform()
    {
        ComparePlayer p;
        const Deck a = deckOf(p, "A");
        const Deck b = deckOf(p, "B");
        p.loadDeck(ComparePlayer::A, m_wav);
        QVERIFY(p.hasAudio(ComparePlayer::A));
        QVERIFY(!p.hasAudio(ComparePlayer::B));
        QCOMPARE(a.title->text(), QStringLiteral("Artist - Song.wav"));
        QVERIFY2(a.title->toolTip().contains(QDir::toNativeSeparators(QFileInfo(m_wav.path).absolutePath())),
                 qPrintable(a.title->toolTip()));
        QCOMPARE(a.quality->text(), m_wav.qualityString().toUpper());
        QCOMPARE(a.size->text(),
                 QLocale().formattedDataSize(m_wav.size, 1, QLocale::DataSizeTraditionalFormat).toUpper());
        QVERIFY(a.scrubber->isBusy());
        // The monitored deck lights its clock as soon as it holds a file.
        QVERIFY(!a.clock->isDimmed());

        QTRY_VERIFY_WITH_TIMEOUT(!a.scrubber->isBusy(), 15000);
        QCOMPARE(a.scrubber->waveform().size(), 200);
        QCOMPARE(a.total->text(), QStringLiteral("/ 0:00:08"));

        // A track without further details shows its format.
        TrackInfo plain = track(m_flac.path, "flac", 0, 0);
        p.loadDeck(ComparePlayer::B, plain);
        QCOMPARE(b.quality->text(), QStringLiteral("FLAC"));
        QVERIFY(b.clock->isDimmed()); // loaded but not monitored
        p.setActiveDeck(ComparePlayer::B);
        QVERIFY(!b.clock->isDimmed());
        QVERIFY(a.clock->isDimmed());
    }

    void sameTrackTwiceDoesNothing()
    {
        ComparePlayer p;
        const Deck a = deckOf(p, "A");
        p.loadDeck(ComparePlayer::A, m_wav);
        QTRY_VERIFY_WITH_TIMEOUT(!a.scrubber->isBusy(), 15000);
        p.seek(ComparePlayer::A, 2000);
        QTRY_VERIFY_WITH_TIMEOUT(a.player->position() >= 2000, 5000);
        p.loadDeck(ComparePlayer::A, m_wav);
        QVERIFY(!a.scrubber->isBusy()); // no new analysis
        QTest::qWait(200);
        QVERIFY(a.player->position() >= 2000); // no restart
    }

    void differences()
    {
        ComparePlayer p;
        QLabel *duration = p.findChild<QLabel *>("durationDifference");
        QLabel *bitrate = p.findChild<QLabel *>("bitrateDifference");
        p.loadDeck(ComparePlayer::A, m_wav);
        QCOMPARE(duration->text(), kDash);
        p.loadDeck(ComparePlayer::B, m_flac);
        QCOMPARE(duration->text(), QStringLiteral("\u22120.02 s"));
        QCOMPARE(bitrate->text(), QStringLiteral("\u2212511 k"));
        QCOMPARE(bitrate->toolTip(), QStringLiteral("Bit rate of deck B relative to deck A."));

        p.loadDeck(ComparePlayer::B, m_short);
        QCOMPARE(duration->text(), QStringLiteral("\u22125.00 s"));
        QCOMPARE(bitrate->text(), QStringLiteral("+0 k"));
        p.loadDeck(ComparePlayer::A, m_short);
        QCOMPARE(duration->text(), QStringLiteral("+0.00 s"));
        p.loadDeck(ComparePlayer::A, m_flac);
        QCOMPARE(duration->text(), QStringLiteral("\u22124.98 s"));

        p.clearDeck(ComparePlayer::B);
        QCOMPARE(duration->text(), kDash);
        QCOMPARE(bitrate->text(), kDash);
    }

    void linkedPlayStartsBothAtMonitoredPosition()
    {
        ComparePlayer p;
        loadBoth(p);
        const Deck a = deckOf(p, "A");
        const Deck b = deckOf(p, "B");
        p.setActiveDeck(ComparePlayer::B);
        b.player->setPosition(3000); // only the monitored deck moved
        QTRY_VERIFY_WITH_TIMEOUT(b.player->position() >= 3000, 5000);
        QVERIFY(a.player->position() < 1000);

        auto *playLamp = p.findChild<rvw::vfd::Lamp *>("playLamp");
        auto *console = p.findChild<rvw::vfd::Panel *>("console");
        const QSize lampSize = playLamp->sizeHint();
        const QSize consoleSize = console->sizeHint();
        p.playPause();
        QTRY_VERIFY_WITH_TIMEOUT(playing(a) && playing(b), 5000);
        QVERIFY2(a.player->position() >= 2900, qPrintable(QString::number(a.player->position())));
        // "PAUSE" is wider than "PLAY", yet nothing moves.
        QCOMPARE(playLamp->sizeHint(), lampSize);
        QCOMPARE(console->sizeHint(), consoleSize);
        QVERIFY(playLamp->isOn());
        QCOMPARE(playLamp->text(), QStringLiteral("PAUSE"));

        p.playPause();
        QTRY_VERIFY_WITH_TIMEOUT(!playing(a) && !playing(b), 5000);
        QVERIFY(!playLamp->isOn());
        QCOMPARE(playLamp->text(), QStringLiteral("PLAY"));
    }

    void unlinkedPlayStartsOnlyMonitoredDeck()
    {
        ComparePlayer p;
        loadBoth(p);
        const Deck a = deckOf(p, "A");
        const Deck b = deckOf(p, "B");
        p.findChild<rvw::vfd::Lamp *>("linkLamp")->setOn(false);
        p.setLinked(false);
        p.setActiveDeck(ComparePlayer::B);
        p.playPause();
        QTRY_VERIFY_WITH_TIMEOUT(playing(b), 5000);
        QTest::qWait(200);
        QVERIFY(!playing(a));
        p.stop();
        QTRY_VERIFY_WITH_TIMEOUT(b.player->playbackState() == QMediaPlayer::StoppedState, 5000);
    }

    void switchingDecksChangesOnlyVolumesAndLamps()
    {
        ComparePlayer p;
        loadBoth(p);
        const Deck a = deckOf(p, "A");
        const Deck b = deckOf(p, "B");
        p.seek(ComparePlayer::A, 4000);
        QTRY_VERIFY_WITH_TIMEOUT(a.player->position() >= 4000 && b.player->position() >= 4000, 5000);
        const qint64 posA = a.player->position();
        const qint64 posB = b.player->position();

        p.monitorDeckB();
        QCOMPARE(p.activeDeck(), ComparePlayer::B);
        QCOMPARE(a.output->volume(), 0.0f);
        QCOMPARE(b.output->volume(), 1.0f);
        QVERIFY(!a.monitor->isOn() && b.monitor->isOn());
        QVERIFY(a.clock->isDimmed() && !b.clock->isDimmed());
        QTest::qWait(100);
        QCOMPARE(a.player->position(), posA);
        QCOMPARE(b.player->position(), posB);

        p.swapMonitor();
        QCOMPARE(p.activeDeck(), ComparePlayer::A);
        QCOMPARE(a.output->volume(), 1.0f);
        QTest::mouseClick(b.monitor, Qt::LeftButton);
        QCOMPARE(p.activeDeck(), ComparePlayer::B);
        p.monitorDeckA();
        QCOMPARE(p.activeDeck(), ComparePlayer::A);
        QVERIFY(!b.monitor->isOn());
    }

    void seekFollowsLink()
    {
        ComparePlayer p;
        loadBoth(p);
        const Deck a = deckOf(p, "A");
        const Deck b = deckOf(p, "B");
        // A click on deck B's waveform moves both decks while linked.
        b.scrubber->emitSeek(b.scrubber->width() / 2);
        QTRY_VERIFY_WITH_TIMEOUT(a.player->position() >= 3500 && b.player->position() >= 3500, 5000);

        p.setLinked(false);
        QVERIFY(!p.findChild<rvw::vfd::Lamp *>("linkLamp")->isOn());
        p.seek(ComparePlayer::B, 1000);
        QTRY_VERIFY_WITH_TIMEOUT(b.player->position() < 1500, 5000);
        QTest::qWait(100);
        QVERIFY(a.player->position() >= 3500);

        // Linking again brings B to A.
        QTest::mouseClick(p.findChild<rvw::vfd::Lamp *>("linkLamp"), Qt::LeftButton);
        QVERIFY(p.isLinked());
        QTRY_VERIFY_WITH_TIMEOUT(b.player->position() >= 3500, 5000);

        // From the keyboard: Home goes back to the start, Right steps on by 5 s.
        QTest::keyClick(a.scrubber, Qt::Key_Home);
        QTRY_VERIFY_WITH_TIMEOUT(a.player->position() < 500 && b.player->position() < 500, 5000);
        QTest::keyClick(a.scrubber, Qt::Key_Right);
        QTRY_VERIFY_WITH_TIMEOUT(a.player->position() >= 4500 && b.player->position() >= 4500, 5000);
    }

    void driftIsCorrected()
    {
        ComparePlayer p;
        loadBoth(p);
        const Deck a = deckOf(p, "A");
        const Deck b = deckOf(p, "B");
        p.playPause();
        waitPlaying(a, 300);
        waitPlaying(b, 300);

        // 100 ms apart is left alone for more than a correction period.
        b.player->setPosition(a.player->position() + 100);
        QTest::qWait(1300);
        const qint64 small = b.player->position() - a.player->position();
        QVERIFY2(small > 50, qPrintable(QString::number(small)));

        // 200 ms apart: the unmonitored deck is moved back to the monitored one.
        b.player->setPosition(a.player->position() + 300);
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(b.player->position() - a.player->position()) < 60, 2500);
        p.stop();
    }

    void loadingWhilePlayingResumes()
    {
        ComparePlayer p;
        const Deck a = deckOf(p, "A");
        const Deck b = deckOf(p, "B");
        p.loadDeck(ComparePlayer::A, m_wav);
        p.seek(ComparePlayer::A, 2000);
        p.playPause();
        waitPlaying(a, 2300);

        p.loadDeck(ComparePlayer::B, m_flac);
        QTRY_VERIFY_WITH_TIMEOUT(playing(b) && b.player->position() > 0, 5000);
        const qint64 gap = qAbs(b.player->position() - a.player->position());
        QVERIFY2(gap < 400, qPrintable(QString::number(gap)));
        QVERIFY(b.player->position() >= 2000);
        QCOMPARE(b.output->volume(), 0.0f);

        // The meter follows the waveform while playing.
        QTRY_VERIFY_WITH_TIMEOUT(a.meter->leftLevel() > 0.0, 5000);
        p.stop();
        QCOMPARE(a.meter->leftLevel(), 0.0);
        QCOMPARE(a.meter->leftPeak(), 0.0);
    }

    void failedAnalysisIsLogged()
    {
        ComparePlayer p;
        QSignalSpy log(&p, &ComparePlayer::logMessage);
        const Deck b = deckOf(p, "B");
        p.loadDeck(ComparePlayer::B, m_broken);
        QTRY_VERIFY_WITH_TIMEOUT(!b.scrubber->isBusy(), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(!log.isEmpty(), 5000);
        QTest::qWait(500); // room for a second report
        const QStringList lines = logLines(log);
        QVERIFY2(lines.size() == 1, qPrintable(lines.join(" | ")));
        QVERIFY2(lines.at(0).startsWith("Deck B: broken.flac"), qPrintable(lines.at(0)));
        // The deck is empty again rather than holding a file it cannot play.
        QVERIFY(b.scrubber->waveform().isEmpty());
        QVERIFY(!p.hasAudio(ComparePlayer::B));
        QCOMPARE(b.title->text(), QStringLiteral("— no file loaded —"));
        QVERIFY(b.title->toolTip().isEmpty());
        QCOMPARE(b.quality->text(), QString());
    }

    // A result for a file the deck no longer holds is never shown.
    void lateWaveformAfterClearIsDiscarded()
    {
        ComparePlayer p;
        const Deck a = deckOf(p, "A");
        p.loadDeck(ComparePlayer::A, m_wav);
        p.clearDeck(ComparePlayer::A);
        QTest::qWait(1500);
        QVERIFY(a.scrubber->waveform().isEmpty());
        QVERIFY(!a.scrubber->isBusy());
        QCOMPARE(a.total->text(), QStringLiteral("/ 0:00:00"));
        QCOMPARE(a.title->text(), QStringLiteral("— no file loaded —"));
        QVERIFY(a.clock->isDimmed());
    }

    void lateWaveformAfterReloadIsDiscarded()
    {
        ComparePlayer p;
        const Deck b = deckOf(p, "B");
        p.loadDeck(ComparePlayer::B, m_wav);
        p.loadDeck(ComparePlayer::B, m_short);
        QTRY_VERIFY_WITH_TIMEOUT(!b.scrubber->isBusy(), 15000);
        QTest::qWait(500);
        QCOMPARE(b.scrubber->waveform().size(), 75);
        QCOMPARE(b.scrubber->duration(), 3000);
    }

    // A copy cut to half its length draws half the width, and its playhead sits over the
    // audio at that time, the same place as the full copy's.
    void waveformsShareOneTimeAxis()
    {
        ComparePlayer p;
        p.resize(1100, 190);
        p.show();
        const Deck a = deckOf(p, "A");
        const Deck b = deckOf(p, "B");
        p.loadDeck(ComparePlayer::A, m_wav);
        p.loadDeck(ComparePlayer::B, m_half);
        QTRY_VERIFY_WITH_TIMEOUT(!a.scrubber->isBusy() && !b.scrubber->isBusy(), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(a.player->mediaStatus() == QMediaPlayer::LoadedMedia &&
                                     b.player->mediaStatus() == QMediaPlayer::LoadedMedia,
                                 10000);
        p.seek(ComparePlayer::A, 2000);
        QTRY_VERIFY_WITH_TIMEOUT(a.player->position() == 2000 && b.player->position() == 2000, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(a.scrubber->position() == 2000 && b.scrubber->position() == 2000, 5000);

        const QImage full = a.scrubber->grab().toImage();
        const QImage truncated = b.scrubber->grab().toImage();
        // The layout may give the two decks widths a pixel apart.
        const int w = truncated.width();
        QVERIFY(w > 100 && qAbs(full.width() - w) <= 1);
        const int mid = truncated.height() / 2;
        const int head = playheadColumn(truncated);
        QVERIFY2(qAbs(head - w / 4) <= 1, qPrintable(QStringLiteral("%1 of %2").arg(head).arg(w)));
        const int fullHead = playheadColumn(full);
        QVERIFY2(qAbs(fullHead - full.width() / 4) <= 1, qPrintable(QString::number(fullHead)));
        for (int x = 2; x < w / 2 - 2; ++x) {
            if (x != head)
                QVERIFY2(!isBackground(truncated.pixelColor(x, mid)), qPrintable(QString::number(x)));
        }
        for (int x = w / 2 + 2; x < w; ++x) {
            for (int y = 0; y < truncated.height(); ++y)
                QVERIFY2(isBackground(truncated.pixelColor(x, y)), qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
        }
        for (int x = full.width() / 2; x < full.width() - 2; ++x)
            QVERIFY2(!isBackground(full.pixelColor(x, mid)), qPrintable(QString::number(x)));

        // A click halfway along the truncated deck's waveform means 4 s, the time drawn there.
        p.setLinked(false);
        b.scrubber->emitSeek(w / 2);
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(b.player->position() - 4000) <= 100, 5000);
    }

    void levelMatching_data()
    {
        QTest::addColumn<bool>("matched");
        QTest::addColumn<int>("monitored");
        QTest::addColumn<double>("volume");
        QTest::newRow("louder deck turned down") << true << int(ComparePlayer::A) << 0.5;
        QTest::newRow("quieter deck left alone") << true << int(ComparePlayer::B) << 1.0;
        QTest::newRow("matching off") << false << int(ComparePlayer::A) << 1.0;
    }

    void levelMatching()
    {
        QFETCH(bool, matched);
        QFETCH(int, monitored);
        QFETCH(double, volume);
        ComparePlayer p;
        const Deck a = deckOf(p, "A");
        const Deck b = deckOf(p, "B");
        auto *lamp = p.findChild<rvw::vfd::Lamp *>("levelLamp");
        QVERIFY(lamp);
        p.loadDeck(ComparePlayer::A, m_wav);
        p.loadDeck(ComparePlayer::B, m_quiet);
        QTRY_VERIFY_WITH_TIMEOUT(!a.scrubber->isBusy() && !b.scrubber->isBusy(), 15000);
        if (matched)
            QTest::mouseClick(lamp, Qt::LeftButton);
        QCOMPARE(p.isLevelMatched(), matched);
        p.setActiveDeck(ComparePlayer::Deck(monitored));
        const Deck heard = monitored == ComparePlayer::A ? a : b;
        const Deck muted = monitored == ComparePlayer::A ? b : a;
        QVERIFY2(qAbs(heard.output->volume() - volume) < 0.02, qPrintable(QString::number(heard.output->volume())));
        QCOMPARE(muted.output->volume(), 0.0f);

        // With one deck gone there is nothing to match.
        p.clearDeck(ComparePlayer::Deck(1 - monitored));
        QCOMPARE(heard.output->volume(), 1.0f);
    }

    void clearAllEmptiesBoth()
    {
        ComparePlayer p;
        loadBoth(p);
        p.clearAll();
        QVERIFY(!p.hasAudio(ComparePlayer::A) && !p.hasAudio(ComparePlayer::B));
        QVERIFY(deckOf(p, "A").player->source().isEmpty());
        QVERIFY(deckOf(p, "A").scrubber->waveform().isEmpty());
        QCOMPARE(p.findChild<QLabel *>("durationDifference")->text(), kDash);
        // Monitoring survives.
        QCOMPARE(deckOf(p, "A").output->volume(), 1.0f);
    }

    // A deck reads from the file it holds; once cleared or reloaded it lets go, so a
    // clean-up can move or delete the file.
    void fileIsReleased()
    {
        if (openHandles(m_wav.path) < 0)
            QSKIP("needs /proc/self/fd to see open files");
        ComparePlayer p;
        const Deck a = deckOf(p, "A");
        p.loadDeck(ComparePlayer::A, m_wav);
        QTRY_VERIFY_WITH_TIMEOUT(!a.scrubber->isBusy(), 15000);
        QTRY_COMPARE_WITH_TIMEOUT(a.player->mediaStatus(), QMediaPlayer::LoadedMedia, 5000);
        QCOMPARE(openHandles(m_wav.path), 1);
        p.loadDeck(ComparePlayer::A, m_short);
        QCOMPARE(openHandles(m_wav.path), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!a.scrubber->isBusy(), 15000);
        p.clearDeck(ComparePlayer::A);
        QCOMPARE(openHandles(m_short.path), 0);
        // The deck still plays a file loaded after it was cleared.
        p.loadDeck(ComparePlayer::A, m_wav);
        p.playPause();
        waitPlaying(a, 300);
        p.stop();
    }

    void stopRewindsDeckMovedWhileStopped()
    {
        ComparePlayer p;
        loadBoth(p);
        const Deck a = deckOf(p, "A");
        const Deck b = deckOf(p, "B");
        p.seek(ComparePlayer::A, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(a.player->position() >= 3000 && b.player->position() >= 3000, 5000);
        p.stop();
        QTRY_VERIFY_WITH_TIMEOUT(a.player->position() == 0 && b.player->position() == 0, 5000);
    }

    // Loading a copy while the decks play and asking to play keeps them playing.
    void playWhilePlayingKeepsPlaying()
    {
        ComparePlayer p;
        const Deck a = deckOf(p, "A");
        const Deck b = deckOf(p, "B");
        p.loadDeck(ComparePlayer::A, m_wav);
        p.play();
        waitPlaying(a, 300);
        p.loadDeck(ComparePlayer::B, m_flac);
        p.setActiveDeck(ComparePlayer::B);
        p.play();
        QTRY_VERIFY_WITH_TIMEOUT(playing(b) && b.player->position() > 300, 5000);
        QTest::qWait(300);
        QVERIFY(playing(a) && playing(b));
        p.stop();
    }

    void stopWhileLoadingHoldsDeckAtStart()
    {
        ComparePlayer p;
        const Deck a = deckOf(p, "A");
        p.loadDeck(ComparePlayer::A, m_wav);
        p.seek(ComparePlayer::A, 3000);
        p.playPause();
        p.stop();
        QTRY_COMPARE_WITH_TIMEOUT(a.player->mediaStatus(), QMediaPlayer::LoadedMedia, 5000);
        QTest::qWait(300);
        QVERIFY(!playing(a));
        QVERIFY2(a.player->position() < 100, qPrintable(QString::number(a.player->position())));
    }

    void missingFileIsReported()
    {
        ComparePlayer p;
        QSignalSpy log(&p, &ComparePlayer::logMessage);
        TrackInfo gone = m_wav;
        gone.path = QDir(m_dir.path()).absoluteFilePath(QStringLiteral("gone.wav"));
        p.loadDeck(ComparePlayer::B, gone);
        QTRY_VERIFY_WITH_TIMEOUT(!logLines(log).filter(QRegularExpression("^Deck B: .+")).isEmpty(), 5000);
    }

    // Renders the player with two loaded decks for the documentation.
    void picture()
    {
        ComparePlayer p;
        p.resize(1100, 190);
        TrackInfo a = m_wav;
        TrackInfo b = m_flac;
        b.sampleRate = 44100;
        b.channels = 2;
        p.loadDeck(ComparePlayer::A, a);
        p.loadDeck(ComparePlayer::B, b);
        QTRY_VERIFY_WITH_TIMEOUT(!deckOf(p, "A").scrubber->isBusy() && !deckOf(p, "B").scrubber->isBusy(),
                                 15000);
        p.seek(ComparePlayer::A, 2500);
        p.playPause();
        waitPlaying(deckOf(p, "A"), 3100);
        p.playPause();
        QTRY_VERIFY_WITH_TIMEOUT(!playing(deckOf(p, "A")), 5000);
        const QString out = QCoreApplication::applicationDirPath() + QStringLiteral("/compareplayer.png");
        QVERIFY(p.grab().save(out));
    }
};

QTEST_MAIN(tst_ComparePlayer)
#include "tst_compareplayer.moc"

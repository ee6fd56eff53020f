#include "app/Platform.h"
#include "audio/AudioDecode.h"
#include "audio/Fingerprint.h"
#include "support/AudioFixtures.h"
#include "ui/AudioFixture.h"
#include "ui/ComparePlayer.h"
#include "ui/vfd/VfdWidgets.h"

#include <QAudioOutput>
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
using rvw::vfd::Lamp;

namespace {

const QString kDash = QStringLiteral("\u2014");
const QString kNoFile = QStringLiteral("— no file loaded —");

struct Deck
{
    Deck(ComparePlayer &p, ComparePlayer::Deck deck) : p(p), l(deck == ComparePlayer::A ? "A" : "B") {}
    ComparePlayer &p;
    const QString l;
    QMediaPlayer *player = p.findChild<QMediaPlayer *>("player" + l);
    QAudioOutput *output = p.findChild<QAudioOutput *>("output" + l);
    rvw::vfd::SevenSegment *clock = p.findChild<rvw::vfd::SevenSegment *>("clock" + l);
    rvw::vfd::Scrubber *scrubber = p.findChild<rvw::vfd::Scrubber *>("scrubber" + l);
    rvw::vfd::LevelMeter *meter = p.findChild<rvw::vfd::LevelMeter *>("meter" + l);
    rvw::vfd::ElidingLabel *title = p.findChild<rvw::vfd::ElidingLabel *>("title" + l);
    QLabel *total = p.findChild<QLabel *>("total" + l);
    Lamp *monitor = p.findChild<Lamp *>("monitor" + l);
    qint64 at() const { return player->position(); }
    bool playing() const { return player->playbackState() == QMediaPlayer::PlayingState; }
    bool ready() const { return !scrubber->isBusy() && player->mediaStatus() == QMediaPlayer::LoadedMedia; }
};

Lamp *lamp(ComparePlayer &p, const char *name)
{
    return p.findChild<Lamp *>(name);
}

// How many of this process's descriptors refer to the file (-1 where that cannot be seen).
int openHandles(const QString &path)
{
    const QDir fds(QStringLiteral("/proc/self/fd"));
    if (!fds.exists())
        return -1;
    const QStringList all = fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    return int(std::count_if(all.cbegin(), all.cend(), [&](const QString &fd) {
        return QFileInfo(fds.filePath(fd)).symLinkTarget() == QFileInfo(path).canonicalFilePath();
    }));
}

// The built-in fingerprint of the whole file, as a scan stores it.
QList<quint32> fingerprintOf(const QString &path)
{
    std::vector<float> samples;
    qint64 durationMs = 0;
    QString error;
    if (!rvw::AudioDecode::decodeWithFfmpeg(path, rvw::Fingerprint::kSampleRate, 0, samples, durationMs,
                                            error))
        return {};
    rvw::Fingerprint::Analyzer analyzer;
    analyzer.configure(rvw::Fingerprint::kSampleRate);
    analyzer.feed(samples.data(), int(samples.size()));
    return analyzer.mainGenerator.finish();
}

bool alike(const QColor &c, const QColor &to, int tolerance)
{
    return qAbs(c.red() - to.red()) <= tolerance && qAbs(c.green() - to.green()) <= tolerance &&
           qAbs(c.blue() - to.blue()) <= tolerance;
}

// The column of the playhead in the scrubber's top row (the waveform never reaches it).
int playheadColumn(const QImage &image)
{
    for (int x = 0; x < image.width(); ++x) {
        if (alike(image.pixelColor(x, 0), rvw::vfd::colour::playhead(), 40))
            return x;
    }
    return -1;
}

} // namespace

class tst_ComparePlayer : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QMap<QString, TrackInfo> m_tracks;

    // Loads the named tracks and waits until both waveforms and both media are in.
    void loadBoth(ComparePlayer &p, const QString &a = "wav", const QString &b = "flac")
    {
        p.loadDeck(ComparePlayer::A, m_tracks.value(a));
        p.loadDeck(ComparePlayer::B, m_tracks.value(b));
        QTRY_VERIFY_WITH_TIMEOUT(Deck(p, ComparePlayer::A).ready() && Deck(p, ComparePlayer::B).ready(),
                                 15000);
    }

private slots:
    void initTestCase()
    {
        rvw::Platform::applyDecoderRanking();
        qRegisterMetaType<rvw::Envelope>("rvw::Envelope");
        QVERIFY(m_dir.isValid());
        if (!rvw::test::haveFfmpeg())
            QSKIP("ffmpeg is not installed; the player is tested on files it makes");
        const QString music = "aevalsrc=exprs='(0.45+0.4*sin(2*PI*0.6*t))*sin(2*PI*220*t)|"
                              "(0.45+0.4*sin(2*PI*0.6*t))*sin(2*PI*330*t)':s=44100:d=";
        const auto tone = [&](int s) { return QStringList{"-f", "lavfi", "-i", music + QString::number(s)}; };
        const QStringList s16{"-c:a", "pcm_s16le"};
        const QStringList delay{"-af", "adelay=delays=1500:all=1"};
        const struct
        {
            const char *key, *file;
            QStringList args;
            int bitrate;
            qint64 ms;
        } files[] = {
            {"wav", "Artist - Song.wav", tone(8) + s16, 1411, 8000},
            {"flac", "Artist - Song (copy).flac", tone(8) + QStringList{"-c:a", "flac", "-sample_fmt", "s16"},
             900, 7980},
            {"short", "short.wav", tone(3) + s16, 1411, 3000},
            {"half", "half.wav", tone(4) + s16, 1411, 4000}, // the first half of the 8 s
            {"quiet", "quiet.wav", tone(8) + QStringList{"-af", "volume=0.5"} + s16, 1411, 8000}, // 6 dB down
            {"song", "song.wav", rvwtest::melodyInput(3, 12), 705, 12000},
            {"later", "later.wav", rvwtest::melodyInput(3, 12) + delay, 705, 13500}, // 1.5 s more lead-in
            {"other", "other.wav", rvwtest::melodyInput(8, 12), 705, 12000},         // a different song
        };
        for (const auto &f : files) {
            TrackInfo &t = m_tracks[f.key];
            t.path = QDir(m_dir.path()).absoluteFilePath(f.file);
            QString error;
            QVERIFY2(rvwtest::ffmpeg(f.args + QStringList{t.path}, &error), qPrintable(error));
            t.fileName = f.file;
            t.format = QFileInfo(t.path).suffix();
            t.size = QFileInfo(t.path).size();
            t.bitrate = f.bitrate;
            t.durationMs = f.ms;
            t.fingerprint = fingerprintOf(t.path);
        }
        QFile broken(m_dir.filePath("broken.flac"));
        QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write(QByteArray(8192, 'z')) == 8192);
        m_tracks["broken"].path = broken.fileName();
        m_tracks["missing"].path = m_dir.filePath("gone.wav");
    }

    void formatClock_data()
    {
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << qint64(0) << "0:00:00";
        QTest::newRow("negative") << qint64(-5000) << "0:00:00";
        QTest::newRow("truncated") << qint64(59999) << "0:00:59";
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
        QTest::addColumn<qint64>("other");
        QTest::addColumn<bool>("corrected");
        QTest::newRow("140 ms ahead") << qint64(5140) << false;
        QTest::newRow("141 ms ahead") << qint64(5141) << true;
        QTest::newRow("140 ms behind") << qint64(4860) << false;
        QTest::newRow("200 ms behind") << qint64(4800) << true;
        QTest::newRow("far apart") << std::numeric_limits<qint64>::max() << true;
    }

    void driftRule()
    {
        QFETCH(qint64, other);
        QFETCH(bool, corrected);
        QCOMPARE(ComparePlayer::needsDriftCorrection(5000, other), corrected);
    }

    // "key:n" takes the first n words of the track's fingerprint.
    void alignmentOffset_data()
    {
        QTest::addColumn<QStringList>("decks");
        QTest::addColumn<bool>("aligned");
        QTest::addColumn<qint64>("offsetMs");
        QTest::newRow("B has 1.5 s more lead-in") << QStringList{"song", "later"} << true << qint64(1500);
        QTest::newRow("A has 1.5 s more lead-in") << QStringList{"later", "song"} << true << qint64(-1500);
        QTest::newRow("same file") << QStringList{"song", "song"} << true << qint64(0);
        QTest::newRow("different songs") << QStringList{"song", "other"} << false << qint64(0);
        QTest::newRow("no fingerprint") << QStringList{"song", "broken"} << false << qint64(0);
        QTest::newRow("16 words are enough") << QStringList{"song:16", "song:16"} << true << qint64(0);
        QTest::newRow("15 words are too few") << QStringList{"song:15", "song:15"} << false << qint64(0);
    }

    void alignmentOffset()
    {
        QFETCH(QStringList, decks);
        QFETCH(bool, aligned);
        QFETCH(qint64, offsetMs);
        QList<quint32> words[2];
        for (int i = 0; i < 2; ++i) {
            words[i] = m_tracks.value(decks.at(i).section(':', 0, 0)).fingerprint;
            if (decks.at(i).contains(':'))
                words[i].resize(decks.at(i).section(':', 1).toInt());
        }
        qint64 offset = 12345;
        QCOMPARE(ComparePlayer::alignmentOffset(words[0], words[1], offset), aligned);
        // Within one fingerprint frame (1365 samples at 11,025 Hz).
        QVERIFY2(qAbs(offset - offsetMs) <= 124, qPrintable(QString::number(offset)));
    }

    // The empty player: lamps and LINK agree with linkedChanged, every key of the console and
    // both waveforms are reached with Tab, left to right, and pressed as a button would be.
    void controls()
    {
        ComparePlayer p;
        p.show();
        QVERIFY(QTest::qWaitForWindowActive(&p));
        for (const ComparePlayer::Deck deck : {ComparePlayer::A, ComparePlayer::B}) {
            const Deck d(p, deck);
            QVERIFY(d.clock->isDimmed() && d.title->text() == kNoFile && !d.scrubber->isBusy());
            QCOMPARE(d.output->volume(), deck == ComparePlayer::A ? 1.0f : 0.0f);
            QCOMPARE(d.monitor->isOn(), deck == ComparePlayer::A);
            const QKeySequence shortcut(deck == ComparePlayer::A ? "Ctrl+1" : "Ctrl+2");
            QVERIFY(d.monitor->toolTip().contains(shortcut.toString(QKeySequence::NativeText)));
        }
        p.monitorDeckB();
        QCOMPARE(p.activeDeck(), ComparePlayer::B);
        p.swapMonitor();
        QCOMPARE(p.activeDeck(), ComparePlayer::A);
        p.playPause(); // nothing to play
        QVERIFY(!Deck(p, ComparePlayer::A).playing() && !Deck(p, ComparePlayer::B).playing());

        QSignalSpy changed(&p, &ComparePlayer::linkedChanged);
        QVERIFY(p.isLinked() && lamp(p, "linkLamp")->isOn());
        p.setLinked(false);
        QVERIFY(!lamp(p, "linkLamp")->isOn());
        QTest::mouseClick(lamp(p, "linkLamp"), Qt::LeftButton);
        QVERIFY(p.isLinked());
        p.setLinked(true); // no change, no signal
        QCOMPARE(changed.count(), 2);
        QVERIFY(!changed.at(0).at(0).toBool() && changed.at(1).at(0).toBool());

        QStringList chain;
        for (QWidget *w = p.nextInFocusChain(); w != &p && chain.size() < 100; w = w->nextInFocusChain()) {
            if ((w->focusPolicy() & Qt::TabFocus) && w->isVisible())
                chain << w->objectName();
        }
        QCOMPARE(chain, (QStringList{"scrubberA", "monitorA", "monitorB", "playLamp", "stopLamp", "linkLamp",
                                     "levelLamp", "scrubberB"}));
        const auto press = [&p](const char *name, Qt::Key key) {
            lamp(p, name)->setFocus();
            QTest::keyClick(lamp(p, name), key);
        };
        press("monitorB", Qt::Key_Space);
        QCOMPARE(p.activeDeck(), ComparePlayer::B);
        p.monitorDeckA();
        press("monitorB", Qt::Key_Enter);
        QCOMPARE(p.activeDeck(), ComparePlayer::B);
        press("linkLamp", Qt::Key_Return);
        QVERIFY(!p.isLinked() && !lamp(p, "linkLamp")->isOn() && changed.count() == 3);
        press("levelLamp", Qt::Key_Space);
        QVERIFY(p.isLevelMatched());
        press("monitorA", Qt::Key_A); // not a key that presses
        QCOMPARE(p.activeDeck(), ComparePlayer::B);
    }

    void loadShowsTrackAndWaveform()
    {
        ComparePlayer p;
        const Deck a(p, ComparePlayer::A);
        const TrackInfo &wav = m_tracks["wav"];
        p.loadDeck(ComparePlayer::A, wav);
        QVERIFY(p.hasAudio(ComparePlayer::A) && !p.hasAudio(ComparePlayer::B));
        QCOMPARE(a.title->text(), QStringLiteral("Artist - Song.wav"));
        QVERIFY(a.title->toolTip().contains(QDir::toNativeSeparators(m_dir.path())));
        QCOMPARE(p.findChild<rvw::vfd::Badge *>("qualityA")->text(), wav.qualityString().toUpper());
        QCOMPARE(p.findChild<QLabel *>("sizeA")->text(),
                 QLocale().formattedDataSize(wav.size, 1, QLocale::DataSizeTraditionalFormat).toUpper());
        QVERIFY(a.scrubber->isBusy() && !a.clock->isDimmed()); // lit once the heard deck holds a file

        // Stopped while still loading, the deck is held at its start.
        p.seek(ComparePlayer::A, 3000);
        p.playPause();
        p.stop();
        QTRY_VERIFY_WITH_TIMEOUT(a.ready(), 15000);
        QCOMPARE(a.scrubber->waveform().size(), 200);
        QCOMPARE(a.total->text(), QStringLiteral("/ 0:00:08"));
        QTest::qWait(300);
        QVERIFY2(!a.playing() && a.at() < 100, qPrintable(QString::number(a.at())));

        // The same track again is neither analysed again nor restarted.
        p.seek(ComparePlayer::A, 2000);
        QTRY_COMPARE_WITH_TIMEOUT(a.at(), 2000, 5000);
        p.loadDeck(ComparePlayer::A, wav);
        QVERIFY(!a.scrubber->isBusy());
        QTest::qWait(200);
        QCOMPARE(a.at(), 2000);
        // STOP rewinds a deck moved while stopped.
        QTest::mouseClick(lamp(p, "stopLamp"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(a.at(), 0, 5000);

        // A deck that is not heard stays dim.
        p.loadDeck(ComparePlayer::B, m_tracks["short"]);
        QVERIFY(Deck(p, ComparePlayer::B).clock->isDimmed());
        p.setActiveDeck(ComparePlayer::B);
        QVERIFY(!Deck(p, ComparePlayer::B).clock->isDimmed() && a.clock->isDimmed());
    }

    // Durations and bit rates of deck B against deck A.
    void differences_data()
    {
        QTest::addColumn<QStringList>("decks");
        QTest::addColumn<QString>("shown");
        QTest::newRow("B shorter, lower rate") << QStringList{"wav", "flac"} << "\u22120.02 s \u2212511 k";
        QTest::newRow("B 5 s shorter") << QStringList{"wav", "short"} << "\u22125.00 s +0 k";
        QTest::newRow("B shorter, higher rate") << QStringList{"flac", "short"} << "\u22124.98 s +511 k";
        QTest::newRow("B 1 s longer") << QStringList{"short", "half"} << "+1.00 s +0 k";
        QTest::newRow("same file") << QStringList{"short", "short"} << "+0.00 s +0 k";
        QTest::newRow("deck B empty") << QStringList{"wav", "none"} << kDash + " " + kDash;
    }

    void differences()
    {
        QFETCH(QStringList, decks);
        QFETCH(QString, shown);
        ComparePlayer p;
        const auto text = [&p] {
            return p.findChild<QLabel *>("durationDifference")->text() + " " +
                   p.findChild<QLabel *>("bitrateDifference")->text();
        };
        p.loadDeck(ComparePlayer::A, m_tracks.value(decks.at(0)));
        QCOMPARE(text(), kDash + " " + kDash);
        p.loadDeck(ComparePlayer::B, m_tracks.value(decks.at(1)));
        QCOMPARE(text(), shown);
        p.clearDeck(ComparePlayer::B);
        QCOMPARE(text(), kDash + " " + kDash);
    }

    // Switching decks changes only volumes and lamps, and LEVEL turns the louder deck down to
    // the quieter one's loudness. PLAY starts both decks from where the heard one stands while
    // linked, where they are kept together; unlinked only the heard one plays.
    void transport_data()
    {
        QTest::addColumn<bool>("linked");
        QTest::addColumn<bool>("matched");
        QTest::addColumn<int>("heard");
        QTest::addColumn<double>("volume");
        QTest::newRow("matched, louder A heard") << true << true << int(ComparePlayer::A) << 0.5;
        QTest::newRow("matched, quieter B heard") << true << true << int(ComparePlayer::B) << 1.0;
        QTest::newRow("unmatched, unlinked") << false << false << int(ComparePlayer::A) << 1.0;
    }

    void transport()
    {
        QFETCH(bool, linked);
        QFETCH(bool, matched);
        QFETCH(int, heard);
        QFETCH(double, volume);
        ComparePlayer p;
        loadBoth(p, "wav", "quiet");
        const Deck on(p, ComparePlayer::Deck(heard));
        const Deck off(p, ComparePlayer::Deck(1 - heard));
        if (matched)
            QTest::mouseClick(lamp(p, "levelLamp"), Qt::LeftButton);
        QCOMPARE(p.isLevelMatched(), matched);
        p.setLinked(linked);
        p.setActiveDeck(ComparePlayer::Deck(1 - heard));
        on.player->setPosition(3000); // only the deck about to be heard moves
        QTRY_COMPARE_WITH_TIMEOUT(on.at(), 3000, 5000);
        QTest::mouseClick(on.monitor, Qt::LeftButton);
        QCOMPARE(int(p.activeDeck()), heard);
        QVERIFY2(qAbs(on.output->volume() - volume) < 0.02, qPrintable(QString::number(on.output->volume())));
        QVERIFY(off.output->volume() == 0.0f && on.monitor->isOn() && !off.monitor->isOn());
        QVERIFY(!on.clock->isDimmed() && off.clock->isDimmed());
        QTest::qWait(100);
        QVERIFY(on.at() == 3000 && off.at() == 0);

        Lamp *play = lamp(p, "playLamp");
        const QSize lampSize = play->sizeHint();
        const QSize consoleSize = p.findChild<rvw::vfd::Panel *>("console")->sizeHint();
        QTest::mouseClick(play, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(on.playing() && on.at() > 3000, 5000);
        QTest::qWait(200);
        QCOMPARE(off.playing(), linked);
        QVERIFY2(linked ? off.at() >= 2900 : off.at() == 0, qPrintable(QString::number(off.at())));
        // "PAUSE" is wider than "PLAY", yet nothing moves.
        QVERIFY(play->isOn() && play->text() == "PAUSE");
        QCOMPARE(play->sizeHint(), lampSize);
        QCOMPARE(p.findChild<rvw::vfd::Panel *>("console")->sizeHint(), consoleSize);
        if (linked) { // pulled 300 ms apart, the deck not heard is brought back
            off.player->setPosition(on.at() + 300);
            QTRY_VERIFY_WITH_TIMEOUT(qAbs(off.at() - on.at()) < 60, 2500);
        }
        p.playPause();
        QTRY_VERIFY_WITH_TIMEOUT(!on.playing() && !off.playing() && !play->isOn(), 5000);
        QCOMPARE(play->text(), QStringLiteral("PLAY"));
        p.clearDeck(off.l == "A" ? ComparePlayer::A : ComparePlayer::B); // nothing left to match
        QCOMPARE(on.output->volume(), 1.0f);
    }

    // Linked, a seek on either deck lands the other at the same moment of the recording, the
    // copy with 1.5 s more lead-in 1.5 s further on; unlinked, only the deck sought moves.
    void seekFollowsLink()
    {
        ComparePlayer p;
        loadBoth(p, "song", "later");
        const Deck a(p, ComparePlayer::A);
        const Deck b(p, ComparePlayer::B);
        const qint64 offset = p.linkOffset();
        QVERIFY2(qAbs(offset - 1500) <= 124, qPrintable(QString::number(offset)));
        p.seek(ComparePlayer::B, 6000);
        QTRY_VERIFY_WITH_TIMEOUT(a.at() == 6000 - offset && b.at() == 6000, 5000);

        p.setLinked(false);
        p.seek(ComparePlayer::B, 1000);
        QTRY_COMPARE_WITH_TIMEOUT(b.at(), 1000, 5000);
        QTest::qWait(100);
        QCOMPARE(a.at(), 6000 - offset);
        QTest::mouseClick(lamp(p, "linkLamp"), Qt::LeftButton); // linking again brings B to A
        QTRY_COMPARE_WITH_TIMEOUT(b.at(), a.at() + offset, 5000);

        // From the keyboard: Home goes back to the start, Right steps on by 5 s.
        QTest::keyClick(a.scrubber, Qt::Key_Home);
        QTRY_VERIFY_WITH_TIMEOUT(a.at() == 0 && b.at() == offset, 5000);
        QTest::keyClick(a.scrubber, Qt::Key_Right);
        QTRY_VERIFY_WITH_TIMEOUT(a.at() == 5000 && b.at() == 5000 + offset, 5000);

        p.loadDeck(ComparePlayer::B, m_tracks["other"]); // a different song is not shifted
        QCOMPARE(p.linkOffset(), 0);
    }

    // A deck loaded while the other plays joins it at its place, playing but not heard, and a
    // second play() keeps both playing.
    void loadingWhilePlayingResumes()
    {
        ComparePlayer p;
        const Deck a(p, ComparePlayer::A);
        const Deck b(p, ComparePlayer::B);
        p.loadDeck(ComparePlayer::A, m_tracks["wav"]);
        p.seek(ComparePlayer::A, 2000);
        p.play();
        QTRY_VERIFY_WITH_TIMEOUT(a.playing() && a.at() > 2300, 10000);
        p.loadDeck(ComparePlayer::B, m_tracks["flac"]);
        QTRY_VERIFY_WITH_TIMEOUT(b.playing() && b.at() > 0, 5000);
        QVERIFY2(qAbs(b.at() - a.at()) < 400 && b.at() >= 2000, qPrintable(QString::number(b.at())));
        QCOMPARE(b.output->volume(), 0.0f);
        p.setActiveDeck(ComparePlayer::B);
        p.play();
        QTest::qWait(300);
        QVERIFY(a.playing() && b.playing());
        // The meter follows the waveform while playing; STOP resets it.
        QTRY_VERIFY_WITH_TIMEOUT(b.meter->leftLevel() > 0.0, 5000);
        p.stop();
        QVERIFY(b.meter->leftLevel() == 0.0 && b.meter->leftPeak() == 0.0);
    }

    // A file that cannot be loaded gives one log line and leaves the deck empty.
    void unloadableFile_data()
    {
        QTest::addColumn<QString>("key");
        QTest::newRow("damaged") << "broken";
        QTest::newRow("missing") << "missing";
    }

    void unloadableFile()
    {
        QFETCH(QString, key);
        ComparePlayer p;
        QSignalSpy log(&p, &ComparePlayer::logMessage);
        const Deck b(p, ComparePlayer::B);
        p.loadDeck(ComparePlayer::B, m_tracks[key]);
        QTRY_VERIFY_WITH_TIMEOUT(!log.isEmpty() && !b.scrubber->isBusy(), 15000);
        QTest::qWait(500); // room for a second report
        QCOMPARE(log.count(), 1);
        const QString line = log.at(0).at(0).toString();
        QVERIFY2(line.startsWith("Deck B: " + QFileInfo(m_tracks[key].path).fileName()), qPrintable(line));
        QVERIFY(!p.hasAudio(ComparePlayer::B) && b.scrubber->waveform().isEmpty());
        QVERIFY(b.title->text() == kNoFile && b.title->toolTip().isEmpty());
    }

    // A deck lets go of a file it no longer holds, so a clean-up can move or delete it, and
    // never shows a waveform that arrives for it late.
    void replacedFileIsLetGo()
    {
        ComparePlayer p;
        const Deck a(p, ComparePlayer::A);
        const Deck b(p, ComparePlayer::B);
        p.loadDeck(ComparePlayer::A, m_tracks["wav"]);
        p.loadDeck(ComparePlayer::B, m_tracks["flac"]);
        p.loadDeck(ComparePlayer::A, m_tracks["short"]);
        p.clearDeck(ComparePlayer::B);
        QTRY_VERIFY_WITH_TIMEOUT(a.ready(), 15000);
        QTest::qWait(1500);
        QTRY_VERIFY(openHandles(m_tracks["wav"].path) <= 0 && openHandles(m_tracks["flac"].path) <= 0);
        QVERIFY(openHandles(m_tracks["short"].path) != 0);
        QVERIFY(a.scrubber->waveform().size() == 75 && a.total->text() == "/ 0:00:03");
        QVERIFY(b.scrubber->waveform().isEmpty() && !b.scrubber->isBusy() && b.total->text() == "/ 0:00:00");
        QVERIFY(b.title->text() == kNoFile && b.clock->isDimmed());

        p.loadDeck(ComparePlayer::B, m_tracks["flac"]);
        p.clearAll();
        QVERIFY(!p.hasAudio(ComparePlayer::A) && !p.hasAudio(ComparePlayer::B));
        QTRY_VERIFY(openHandles(m_tracks["short"].path) <= 0 && openHandles(m_tracks["flac"].path) <= 0);
        QVERIFY(a.scrubber->waveform().isEmpty() && a.output->volume() == 1.0f); // monitoring survives
        // The deck still plays a file loaded after it was cleared.
        p.loadDeck(ComparePlayer::A, m_tracks["wav"]);
        p.playPause();
        QTRY_VERIFY_WITH_TIMEOUT(a.playing() && a.at() > 300, 10000);
        p.stop();
    }

    // A copy cut to half its length draws half the width, and its playhead sits over the
    // audio at that time, the same place as the full copy's.
    void waveformsShareOneTimeAxis()
    {
        ComparePlayer p;
        p.resize(1100, 190);
        p.show();
        loadBoth(p, "wav", "half");
        const Deck a(p, ComparePlayer::A);
        const Deck b(p, ComparePlayer::B);
        p.seek(ComparePlayer::A, 2000);
        QTRY_VERIFY_WITH_TIMEOUT(a.scrubber->position() == 2000 && b.scrubber->position() == 2000, 5000);
        const QImage full = a.scrubber->grab().toImage();
        const QImage truncated = b.scrubber->grab().toImage();
        const int w = truncated.width(); // the layout may give the decks widths a pixel apart
        QVERIFY(w > 100 && qAbs(full.width() - w) <= 1);
        const int mid = truncated.height() / 2;
        const int head = playheadColumn(truncated);
        QVERIFY2(qAbs(head - w / 4) <= 1 && qAbs(playheadColumn(full) - full.width() / 4) <= 1,
                 qPrintable(QStringLiteral("%1 and %2 of %3").arg(head).arg(playheadColumn(full)).arg(w)));
        const QColor background = rvw::vfd::colour::scrubberBackground();
        for (int x = 2; x < w; ++x) {
            if (x != head && x < w / 2 - 2)
                QVERIFY2(!alike(truncated.pixelColor(x, mid), background, 2), qPrintable(QString::number(x)));
            for (int y = 0; x > w / 2 + 2 && y < truncated.height(); ++y)
                QVERIFY2(alike(truncated.pixelColor(x, y), background, 2), qPrintable(QString::number(x)));
            if (x > w / 2 && x < full.width() - 2)
                QVERIFY2(!alike(full.pixelColor(x, mid), background, 2), qPrintable(QString::number(x)));
        }
        // A click halfway along the truncated deck's waveform means 4 s, the time drawn there.
        p.setLinked(false);
        b.scrubber->emitSeek(w / 2);
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(b.at() - 4000) <= 100, 5000);
    }
};

QTEST_MAIN(tst_ComparePlayer)
#include "tst_compareplayer.moc"

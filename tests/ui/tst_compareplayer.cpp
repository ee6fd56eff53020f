#include "app/Platform.h"
#include "audio/AudioDecode.h"
#include "audio/Fingerprint.h"
#include "support/AudioFixtures.h"
#include "ui/ComparePlayer.h"
#include "ui/vfd/VfdWidgets.h"

#include <QAudioOutput>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMediaPlayer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using rvw::ComparePlayer;
using rvw::TrackInfo;
using rvw::vfd::Lamp;

namespace {

constexpr ComparePlayer::Deck A = ComparePlayer::A, B = ComparePlayer::B;

struct Deck
{
    Deck(ComparePlayer &p, ComparePlayer::Deck deck) : l(deck == A ? "A" : "B"), p(p) {}
    const QString l;
    ComparePlayer &p;
    QMediaPlayer *player = p.findChild<QMediaPlayer *>("player" + l);
    QAudioOutput *output = p.findChild<QAudioOutput *>("output" + l);
    rvw::vfd::SevenSegment *clock = p.findChild<rvw::vfd::SevenSegment *>("clock" + l);
    rvw::vfd::Scrubber *scrubber = p.findChild<rvw::vfd::Scrubber *>("scrubber" + l);
    Lamp *monitor = p.findChild<Lamp *>("monitor" + l);
    qint64 at() const { return player->position(); }
    float volume() const { return output->volume(); }
    QString heard() const { return QStringLiteral("%1/%2").arg(monitor->isOn()).arg(volume()); }
    bool playing() const { return player->playbackState() == QMediaPlayer::PlayingState; }
    bool ready() const { return !scrubber->isBusy() && player->mediaStatus() == QMediaPlayer::LoadedMedia; }
};

// How many of this process's descriptors refer to the file (-1 where that cannot be seen).
int openHandles(const QString &path)
{
    const QDir fds(QStringLiteral("/proc/self/fd"));
    const QStringList all = fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    return !fds.exists() ? -1 : int(std::count_if(all.cbegin(), all.cend(), [&](const QString &fd) {
        return QFileInfo(fds.filePath(fd)).symLinkTarget() == QFileInfo(path).canonicalFilePath();
    }));
}

// The built-in fingerprint of the whole file, as a scan stores it.
QList<quint32> fingerprintOf(const QString &path)
{
    std::vector<float> samples;
    qint64 durationMs = 0;
    QString error;
    rvw::AudioDecode::decodeWithFfmpeg(path, rvw::Fingerprint::kSampleRate, 0, samples, durationMs, error);
    rvw::Fingerprint::Analyzer analyzer;
    analyzer.configure(rvw::Fingerprint::kSampleRate);
    analyzer.feed(samples.data(), int(samples.size()));
    return analyzer.mainGenerator.finish();
}

} // namespace

class tst_ComparePlayer : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QMap<QString, TrackInfo> m_tracks;

    static Lamp *lamp(ComparePlayer &p, const char *name) { return p.findChild<Lamp *>(name); }
    // The B - A readout: duration, then bit rate.
    static QString differences(ComparePlayer &p)
    {
        return p.findChild<QLabel *>("durationDifference")->text() + " " +
               p.findChild<QLabel *>("bitrateDifference")->text();
    }

private slots:
    void initTestCase()
    {
        rvw::Platform::applyDecoderRanking();
        qRegisterMetaType<rvw::Envelope>("rvw::Envelope");
        QVERIFY(m_dir.isValid());
        if (rvwtest::ffmpegPath().isEmpty())
            QSKIP("ffmpeg is not installed; the player is tested on files it makes");
        const QStringList s16{"-c:a", "pcm_s16le"}, song = rvwtest::melodyInput(3, 6);
        const QMap<QString, QStringList> files{
            {"song.wav", song + s16},
            {"later.flac", song + QStringList{"-af", "adelay=delays=1500:all=1", "-sample_fmt", "s16"}},
            {"other.wav", rvwtest::melodyInput(8, 4) + s16},
            {"half.wav", rvwtest::melodyInput(3, 3) + QStringList{"-af", "volume=0.5"} + s16}, // 6 dB down
        };
        for (auto f = files.cbegin(); f != files.cend(); ++f) {
            TrackInfo &t = m_tracks[f.key().section('.', 0, 0)];
            t.path = m_dir.filePath(f.key());
            QVERIFY(rvwtest::ffmpeg(f.value() + QStringList{t.path}));
            t.fingerprint = fingerprintOf(t.path);
        }
        // Length and bit rate as a scan reads them, for the B - A readout.
        for (const auto &[key, ms, kbps] :
             {std::tuple("song", 6000, 1411), {"later", 7500, 1411}, {"half", 3000, 705}})
            std::tie(m_tracks[key].durationMs, m_tracks[key].bitrate) = std::pair(ms, kbps);
        QFile broken(m_dir.filePath("broken.flac"));
        QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write(QByteArray(8192, 'z')) == 8192);
        m_tracks["broken"].path = broken.fileName();
        m_tracks["missing"].path = m_dir.filePath("gone.wav");
    }

    // Clock readouts, and which distances between the decks the drift rule corrects.
    void rules()
    {
        QStringList clocks;
        for (const qint64 ms : {-5000LL, 59999LL, 3723000LL, 40 * 3600000LL + 5000})
            clocks << ComparePlayer::formatClock(ms);
        QCOMPARE(clocks.join(' '), "0:00:00 0:00:59 1:02:03 40:00:05");
        QString corrected;
        for (const qint64 other : {5140LL, 5141LL, 4860LL, 4859LL, std::numeric_limits<qint64>::max()})
            corrected += ComparePlayer::needsDriftCorrection(5000, other) ? '1' : '0';
        QCOMPARE(corrected, "01011");
    }

    // "key:n" takes the first n words of the track's fingerprint; -1: not aligned.
    void alignmentOffset_data()
    {
        QTest::addColumn<QStringList>("decks");
        QTest::addColumn<int>("offsetMs");
        QTest::newRow("B has 1.5 s more lead-in") << QStringList{"song", "later"} << 1500;
        QTest::newRow("A has 1.5 s more lead-in") << QStringList{"later", "song"} << -1500;
        QTest::newRow("different songs") << QStringList{"song", "other"} << -1;
        QTest::newRow("16 words are enough") << QStringList{"song:16", "song:16"} << 0;
        QTest::newRow("15 words are too few") << QStringList{"song:15", "song"} << -1;
    }

    void alignmentOffset()
    {
        QFETCH(QStringList, decks);
        QFETCH(int, offsetMs);
        QList<quint32> words[2];
        for (int i = 0; i < 2; ++i) {
            words[i] = m_tracks.value(decks.at(i).section(':', 0, 0)).fingerprint;
            if (decks.at(i).contains(':'))
                words[i].resize(decks.at(i).section(':', 1).toInt());
        }
        qint64 offset = 12345;
        QCOMPARE(ComparePlayer::alignmentOffset(words[0], words[1], offset), offsetMs != -1);
        // Within one fingerprint frame (1365 samples at 11,025 Hz); not aligned reads 0.
        QVERIFY2(qAbs(offset - (offsetMs == -1 ? 0 : offsetMs)) <= 124, qPrintable(QString::number(offset)));
    }

    // The empty player: monitoring, LINK and linkedChanged agree; every key of the console and
    // both waveforms are reached with Tab, left to right.
    void controls()
    {
        ComparePlayer p;
        p.show();
        QVERIFY(QTest::qWaitForWindowActive(&p));
        const Deck a(p, A), b(p, B);
        QCOMPARE(a.heard() + " " + b.heard(), "1/1 0/0");
        p.monitorDeckB();
        QCOMPARE(a.heard() + " " + b.heard(), "0/0 1/1");
        p.swapMonitor();
        QCOMPARE(a.heard() + " " + b.heard(), "1/1 0/0");
        QSignalSpy changed(&p, &ComparePlayer::linkedChanged);
        p.setLinked(false);
        QVERIFY(!p.isLinked() && !lamp(p, "linkLamp")->isOn());
        QTest::mouseClick(lamp(p, "linkLamp"), Qt::LeftButton);
        p.setLinked(true); // no change, no signal
        QVERIFY(p.isLinked() && lamp(p, "linkLamp")->isOn());
        QVERIFY(changed.count() == 2 && !changed.at(0).at(0).toBool() && changed.at(1).at(0).toBool());

        QStringList chain;
        for (QWidget *w = p.nextInFocusChain(); w != &p && chain.size() < 100; w = w->nextInFocusChain()) {
            if ((w->focusPolicy() & Qt::TabFocus) && w->isVisible())
                chain << w->objectName();
        }
        QCOMPARE(chain.join(' '),
                 "scrubberA monitorA monitorB playLamp stopLamp linkLamp levelLamp scrubberB");
    }

    // Linked, the decks stay at one moment of the recording: B, with 1.5 s more lead-in, 1.5 s
    // further on; PLAY starts both from the heard deck's place and keeps them together. Switching
    // decks changes what is heard, never where they stand; unlinked, only the heard deck plays.
    // A deck loaded while the other plays joins it at its place, playing but not heard; loading
    // the same track again changes nothing. STOP rewinds both and resets the meters.
    void linkedDecks()
    {
        ComparePlayer p;
        const Deck a(p, A), b(p, B);
        const auto at = [&] { return QStringLiteral("%1 %2").arg(a.at()).arg(b.at()); };
        p.loadDeck(A, m_tracks["song"]);
        p.loadDeck(B, m_tracks["later"]);
        QTRY_VERIFY_WITH_TIMEOUT(a.ready() && b.ready(), 15000);
        const qint64 offset = p.linkOffset();
        QVERIFY2(qAbs(offset - 1500) <= 124, qPrintable(QString::number(offset)));
        QTRY_COMPARE(at(), QStringLiteral("0 %1").arg(offset)); // B joined A, loaded first, in step
        QCOMPARE(differences(p), "+1.50 s +0 k");
        p.seek(B, 1000); // before the music starts on A, which waits at its start
        QTRY_COMPARE(at(), "0 1000");
        QTest::mouseClick(b.monitor, Qt::LeftButton);
        QVERIFY(a.heard() == "0/0" && b.heard() == "1/1" && a.clock->isDimmed() && !b.clock->isDimmed());
        QTest::mouseClick(a.monitor, Qt::LeftButton);
        QCOMPARE(at(), "0 1000");
        QTest::mouseClick(lamp(p, "playLamp"), Qt::LeftButton);
        QTRY_VERIFY(a.playing() && b.playing() && b.at() > offset && lamp(p, "playLamp")->isOn());
        QVERIFY2(qAbs(b.at() - a.at() - offset) < 150, qPrintable(at()));
        b.player->setPosition(b.at() + 300); // drifted: the deck not heard is brought back
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(b.at() - a.at() - offset) < 60, 2500);
        p.playPause();
        QTRY_VERIFY(!a.playing() && !b.playing() && !lamp(p, "playLamp")->isOn());
        p.setLinked(false);
        p.play();
        QTRY_VERIFY(a.playing() && a.at() > b.at() - offset + 200);
        QVERIFY(!b.playing());
        const qint64 relinked = a.at();
        QTest::mouseClick(lamp(p, "linkLamp"), Qt::LeftButton); // linking again brings B to A
        QTRY_VERIFY(b.at() >= relinked + offset && b.at() <= a.at() + offset);
        p.loadDeck(A, m_tracks["song"]);
        QVERIFY(!a.scrubber->isBusy() && a.playing());
        p.clearDeck(B);
        p.loadDeck(B, m_tracks["later"]);
        QTRY_VERIFY_WITH_TIMEOUT(b.playing() && b.at() > 0, 10000);
        QVERIFY2(qAbs(b.at() - a.at() - offset) < 400 && b.volume() == 0.0f, qPrintable(at()));
        const auto *meter = p.findChild<rvw::vfd::LevelMeter *>("meterA");
        QTRY_VERIFY(meter->leftLevel() > 0.0);
        p.stop();
        QVERIFY(meter->leftLevel() == 0.0 && meter->leftPeak() == 0.0);
        QTRY_VERIFY(!a.playing() && !b.playing() && a.at() == 0 && b.at() == 0);
    }

    // LEVEL turns the louder deck down to the quieter one's loudness once both are measured. A
    // position asked for while loading is kept. A copy cut to half its length shares the full copy's time
    // axis: its playhead stands at the same time, and halfway along its waveform is 3 s, not 1.5 s.
    void levelAndTimeAxis()
    {
        ComparePlayer p;
        const Deck a(p, A), b(p, B);
        QTest::mouseClick(lamp(p, "levelLamp"), Qt::LeftButton);
        p.loadDeck(A, m_tracks["song"]);
        p.loadDeck(B, m_tracks["half"]);
        p.seek(A, 1500);
        QVERIFY(a.scrubber->isBusy() && a.volume() == 1.0f);
        QCOMPARE(differences(p), "\u22123.00 s \u2212706 k");
        QTRY_VERIFY_WITH_TIMEOUT(a.ready() && b.ready(), 15000);
        QVERIFY2(qAbs(a.volume() - 0.5) < 0.05, qPrintable(QString::number(a.volume())));
        p.setActiveDeck(B);
        QVERIFY(b.volume() == 1.0f && a.volume() == 0.0f);
        QTRY_VERIFY(a.at() == 1500 && a.scrubber->position() == 1500 && b.scrubber->position() == 1500);
        p.setLinked(false); // so A stays
        b.scrubber->emitSeek(b.scrubber->width() / 2);
        QTRY_VERIFY(qAbs(b.at() - 3000) <= 100);
        QCOMPARE(a.at(), 1500);
    }

    // A file that cannot be loaded gives one log line and leaves its deck empty. A deck lets go
    // of a file it no longer holds, so a clean-up can move or delete it, and never shows a
    // waveform that arrives for it late.
    void filesAreLetGo()
    {
        ComparePlayer p;
        const Deck a(p, A), b(p, B);
        const auto handles = [&](const char *key) { return openHandles(m_tracks[key].path); };
        QSignalSpy log(&p, &ComparePlayer::logMessage);
        p.loadDeck(A, m_tracks["broken"]);
        p.loadDeck(B, m_tracks["missing"]);
        QTRY_VERIFY_WITH_TIMEOUT(log.count() == 2 && !a.scrubber->isBusy() && !b.scrubber->isBusy(), 15000);
        QTest::qWait(300); // room for a second report of either
        QStringList lines;
        for (const QVariantList &args : log)
            lines << args.at(0).toString().section(':', 0, 1);
        lines.sort();
        QCOMPARE(lines.join('\n'),
                 "Deck A: broken.flac could not be loaded\nDeck B: gone.wav could not be loaded");
        QVERIFY(!p.hasAudio(A) && !p.hasAudio(B) && a.scrubber->waveform().isEmpty());
        QTRY_VERIFY(handles("broken") <= 0);

        p.loadDeck(A, m_tracks["song"]);
        p.loadDeck(B, m_tracks["later"]);
        p.loadDeck(A, m_tracks["half"]);
        p.clearDeck(B);
        QCOMPARE(differences(p), "\u2014 \u2014");
        // Analyses run in order, so a late waveform of the replaced files would have come by now.
        QTRY_VERIFY_WITH_TIMEOUT(a.ready(), 15000);
        QTRY_VERIFY(handles("song") <= 0 && handles("later") <= 0);
        QVERIFY(handles("half") != 0);
        QCOMPARE(p.findChild<rvw::vfd::ElidingLabel *>("titleA")->text(), "half.wav");
        QVERIFY(a.scrubber->waveform().size() == 75 && b.scrubber->waveform().isEmpty() &&
                !b.scrubber->isBusy());
        p.clearAll();
        QVERIFY(!p.hasAudio(A) && a.scrubber->waveform().isEmpty() && a.volume() == 1.0f);
        QTRY_VERIFY(handles("half") <= 0);
        p.loadDeck(A, m_tracks["song"]); // a cleared deck still plays
        p.playPause();
        QTRY_VERIFY_WITH_TIMEOUT(a.playing() && a.at() > 300, 10000);
    }
};

QTEST_MAIN(tst_ComparePlayer)
#include "tst_compareplayer.moc"

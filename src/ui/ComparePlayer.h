#pragma once

#include "core/Types.h"
#include "ui/WaveformLoader.h"

#include <QString>
#include <QWidget>

#include <memory>

class QAudioOutput;
class QFile;
class QLabel;
class QMediaPlayer;
class QTimer;

namespace rvw {

namespace vfd {
class Badge;
class ElidingLabel;
class Lamp;
class LevelMeter;
class Panel;
class Scrubber;
class SevenSegment;
} // namespace vfd

// Two-deck A/B player: both decks play at once and stay in step; monitoring decides, by
// volume alone, which one is heard, so switching never loses the place in the recording.
// Two copies of one recording whose starts differ (a longer lead-in) are kept at the same
// moment of the music, by the alignment of their fingerprints.
class ComparePlayer : public QWidget
{
    Q_OBJECT
public:
    enum Deck
    {
        A = 0,
        B = 1
    };

    // The linked decks are pulled together when they drift further apart than this.
    static constexpr qint64 kDriftToleranceMs = 140;

    explicit ComparePlayer(QWidget *parent = nullptr);
    ~ComparePlayer() override;

    void loadDeck(Deck deck, const TrackInfo &track);
    void clearDeck(Deck deck);
    void clearAll();
    void seek(Deck deck, qint64 ms);
    void setActiveDeck(Deck deck);
    Deck activeDeck() const { return m_active; }
    bool isLinked() const { return m_linked; }
    bool isLevelMatched() const { return m_levelMatched; }
    bool hasAudio(Deck deck) const;

    // How far deck B is ahead of deck A in the recording while linked (B's position is A's
    // plus this); 0 unless both decks hold copies of one recording.
    qint64 linkOffset() const { return m_offsetMs; }

    // "H:MM:SS"; negative times read as 0.
    static QString formatClock(qint64 ms);
    // When fingerprints a and b (TrackInfo::fingerprint) align as copies of one recording, sets
    // offsetMs to how much later the common audio starts in b (negative: earlier) and returns
    // true; otherwise offsetMs is 0.
    static bool alignmentOffset(const QList<quint32> &a, const QList<quint32> &b, qint64 &offsetMs);
    // Whether the unmonitored deck must be moved to the monitored one's position.
    static bool needsDriftCorrection(qint64 activePositionMs, qint64 otherPositionMs);

signals:
    void logMessage(const QString &message);
    // Whenever the link changes, also by a click on the LINK lamp.
    void linkedChanged(bool linked);

public slots:
    void playPause();
    // Starts playback unless it is already running.
    void play();
    void stop();
    void monitorDeckA();
    void monitorDeckB();
    void swapMonitor();
    void setLinked(bool linked);
    // Turns the louder deck down to the quieter one's loudness, so the comparison is not won
    // by whichever copy is simply louder.
    void setLevelMatched(bool matched);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    struct Channel
    {
        QMediaPlayer *player = nullptr;
        QAudioOutput *output = nullptr;
        std::unique_ptr<QFile> source; // the open file the player reads; outlives the player
        vfd::Panel *panel = nullptr;
        vfd::SevenSegment *clock = nullptr;
        vfd::LevelMeter *meter = nullptr;
        vfd::Scrubber *scrubber = nullptr;
        vfd::Badge *quality = nullptr;
        vfd::ElidingLabel *title = nullptr;
        QLabel *size = nullptr;
        QLabel *total = nullptr;
        vfd::Lamp *monitorLamp = nullptr;
        Envelope envelope;
        QString path;
        QList<quint32> fingerprint;
        int bitrate = 0;
        qint64 durationMs = 0;
        qint64 pendingPosition = -1; // asked for while the media was still loading
    };

    QWidget *buildChannel(Deck deck);
    QWidget *buildConsole();
    void applyMonitoring();
    void correctDrift();
    void updateReadout(Deck deck);
    void updateDifference();
    void updateTransportLamp();
    void onWaveformLoaded(int deck, const Envelope &envelope);
    void onWaveformFailed(int deck, const QString &error);
    bool anyPlaying() const;
    void setDeckPosition(Deck deck, qint64 ms);
    void setDeckSource(Deck deck, const QString &path);
    bool isLoading(Deck deck) const;
    qint64 deckPosition(Deck deck) const;
    void onMediaStatus(Deck deck, int status);
    void failDeck(Deck deck, const QString &error);
    void updateOffset();
    double monitorGain(Deck deck) const;
    void updateTimeSpan();
    qint64 deckLength(Deck deck) const;
    // The position of deck `to` that matches position ms of deck `from` while linked.
    qint64 linkedPosition(Deck from, Deck to, qint64 ms) const;
    static Deck other(Deck deck) { return deck == A ? B : A; }

    Channel m_decks[2];
    WaveformLoader *m_loader = nullptr;
    QTimer *m_driftTimer = nullptr;
    Deck m_active = A;
    bool m_linked = true;
    bool m_levelMatched = false;
    qint64 m_offsetMs = 0;
    vfd::Lamp *m_playLamp = nullptr;
    vfd::Lamp *m_stopLamp = nullptr;
    vfd::Lamp *m_linkLamp = nullptr;
    vfd::Lamp *m_levelLamp = nullptr;
    QLabel *m_durationDifference = nullptr;
    QLabel *m_bitrateDifference = nullptr;
};

} // namespace rvw

#include "ui/ComparePlayer.h"

#include "audio/Fingerprint.h"
#include "ui/vfd/VfdWidgets.h"

#include <QAudioOutput>
#include <QBoxLayout>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLocale>
#include <QMediaPlayer>
#include <QPainter>
#include <QTimer>
#include <QUrl>

#include <cmath>
#include <memory>

namespace rvw {

namespace {

const QChar kMinus(0x2212);

QString deckLetter(int deck)
{
    return deck == ComparePlayer::A ? QStringLiteral("A") : QStringLiteral("B");
}

QLabel *legendLabel(const QString &text, const QColor &colour, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setFont(vfd::legendFont(7, true));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    return label;
}

QString signOf(double value)
{
    return value < 0 ? QString(kMinus) : QStringLiteral("+");
}

// One fingerprint word stands for one hop of audio at the analysis rate; fpcalc's words
// have the same length.
constexpr double kFingerprintFrameMs = 1000.0 * Fingerprint::kHop / Fingerprint::kSampleRate;
// Further apart than this (about 30 s) two files are not taken for copies of one recording.
constexpr int kMaxAlignmentFrames = 240;
// Fewer common words (about 2 s) say too little to align by.
constexpr int kMinAlignmentFrames = 16;
// Unrelated audio lands near 0.5; copies of one recording well below this.
constexpr double kAlignedBitErrorRate = 0.3;

} // namespace

ComparePlayer::ComparePlayer(QWidget *parent) : QWidget(parent)
{
    setAutoFillBackground(false);
    setMinimumHeight(150);

    m_loader = new WaveformLoader(this);
    connect(m_loader, &WaveformLoader::loaded, this, &ComparePlayer::onWaveformLoaded);
    connect(m_loader, &WaveformLoader::failed, this, &ComparePlayer::onWaveformFailed);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->setSpacing(8);
    QWidget *channelA = buildChannel(A);
    QWidget *console = buildConsole();
    QWidget *channelB = buildChannel(B);
    layout->addWidget(channelA, 1);
    layout->addWidget(console, 0);
    layout->addWidget(channelB, 1);

    for (const Deck deck : {A, B}) {
        Channel &ch = m_decks[deck];
        ch.output = new QAudioOutput(this);
        ch.output->setObjectName(QStringLiteral("output") + deckLetter(deck));
        ch.player = new QMediaPlayer(this);
        ch.player->setObjectName(QStringLiteral("player") + deckLetter(deck));
        ch.player->setAudioOutput(ch.output);
        connect(ch.player, &QMediaPlayer::positionChanged, this, [this, deck] { updateReadout(deck); });
        connect(ch.player, &QMediaPlayer::durationChanged, this, [this, deck] {
            updateTimeSpan();
            updateReadout(deck);
        });
        connect(ch.player, &QMediaPlayer::playbackStateChanged, this, &ComparePlayer::updateTransportLamp);
        connect(ch.player, &QMediaPlayer::mediaStatusChanged, this,
                [this, deck](QMediaPlayer::MediaStatus status) { onMediaStatus(deck, status); });
        connect(ch.player, &QMediaPlayer::errorOccurred, this,
                [this, deck] { failDeck(deck, m_decks[deck].player->errorString()); });
    }

    applyMonitoring();
    m_driftTimer = new QTimer(this);
    m_driftTimer->setInterval(1000);
    connect(m_driftTimer, &QTimer::timeout, this, &ComparePlayer::correctDrift);
    m_driftTimer->start();
    clearDeck(A);
    clearDeck(B);
}

ComparePlayer::~ComparePlayer()
{
    // The players go first, emptied: the back end calls into a player that is being
    // destroyed if its decoder still holds outputs then, and it may still read the files.
    for (Channel &ch : m_decks) {
        disconnect(ch.player, nullptr, this, nullptr);
        ch.player->setSource(QUrl());
    }
    for (Channel &ch : m_decks) {
        delete ch.player;
        ch.player = nullptr;
        ch.source.reset();
    }
}

QWidget *ComparePlayer::buildChannel(Deck deck)
{
    Channel &ch = m_decks[deck];
    const QString letter = deckLetter(deck);
    ch.panel = new vfd::Panel(this);
    ch.panel->setObjectName(QStringLiteral("panel") + letter);
    auto *grid = new QGridLayout(ch.panel);
    grid->setContentsMargins(10, 7, 10, 7);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(4);

    auto *header = new QHBoxLayout;
    header->setSpacing(6);
    auto *deckBadge = new vfd::Badge(ch.panel);
    deckBadge->setText(tr("DECK %1").arg(letter));
    deckBadge->setColour(vfd::colour::legend());
    ch.title = new vfd::ElidingLabel(ch.panel);
    ch.title->setObjectName(QStringLiteral("title") + letter);
    ch.title->setText(tr("— no file loaded —"));
    ch.quality = new vfd::Badge(ch.panel);
    ch.quality->setObjectName(QStringLiteral("quality") + letter);
    ch.quality->setColour(vfd::colour::teal());
    header->addWidget(deckBadge);
    header->addWidget(ch.title, 1);
    header->addWidget(ch.quality);
    grid->addLayout(header, 0, 0, 1, 3);

    ch.clock = new vfd::SevenSegment(ch.panel);
    ch.clock->setObjectName(QStringLiteral("clock") + letter);
    ch.clock->setDigitHeight(30);
    grid->addWidget(ch.clock, 1, 0, Qt::AlignLeft | Qt::AlignVCenter);

    auto *readouts = new QVBoxLayout;
    readouts->setSpacing(0);
    ch.total = legendLabel(QStringLiteral("/ 0:00:00"), vfd::colour::legend(), ch.panel);
    ch.total->setObjectName(QStringLiteral("total") + letter);
    ch.size = legendLabel(QString(), vfd::colour::playhead(), ch.panel);
    ch.size->setObjectName(QStringLiteral("size") + letter);
    readouts->addStretch();
    readouts->addWidget(ch.total);
    readouts->addWidget(ch.size);
    readouts->addStretch();
    grid->addLayout(readouts, 1, 1);

    ch.meter = new vfd::LevelMeter(ch.panel);
    ch.meter->setObjectName(QStringLiteral("meter") + letter);
    ch.meter->setMinimumWidth(180);
    grid->addWidget(ch.meter, 1, 2);
    grid->setColumnStretch(2, 1);

    ch.scrubber = new vfd::Scrubber(ch.panel);
    ch.scrubber->setObjectName(QStringLiteral("scrubber") + letter);
    connect(ch.scrubber, &vfd::Scrubber::seekRequested, this, [this, deck](qint64 ms) { seek(deck, ms); });
    // The scrubber has no natural height of its own: without these it is squeezed to nothing
    // by the rows above it.
    ch.scrubber->setMinimumHeight(24);
    grid->addWidget(ch.scrubber, 2, 0, 1, 3);
    grid->setRowStretch(2, 1);
    return ch.panel;
}

QWidget *ComparePlayer::buildConsole()
{
    auto *panel = new vfd::Panel(this);
    panel->setObjectName(QStringLiteral("console"));
    auto *column = new QVBoxLayout(panel);
    column->setContentsMargins(8, 7, 8, 7);
    column->setSpacing(5);

    column->addWidget(legendLabel(tr("MONITOR"), vfd::colour::legend(), panel), 0, Qt::AlignHCenter);

    auto *monitors = new QHBoxLayout;
    monitors->setSpacing(4);
    for (const Deck deck : {A, B}) {
        const QString letter = deckLetter(deck);
        auto *lamp = new vfd::Lamp(letter, panel);
        lamp->setObjectName(QStringLiteral("monitor") + letter);
        const QKeySequence shortcut(deck == A ? QStringLiteral("Ctrl+1") : QStringLiteral("Ctrl+2"));
        lamp->setToolTip(
            tr("Listen to deck %1 (%2)").arg(letter, shortcut.toString(QKeySequence::NativeText)));
        connect(lamp, &vfd::Lamp::clicked, this, [this, deck] { setActiveDeck(deck); });
        m_decks[deck].monitorLamp = lamp;
        monitors->addWidget(lamp);
    }
    column->addLayout(monitors);

    auto *transport = new QHBoxLayout;
    transport->setSpacing(4);
    m_playLamp = new vfd::Lamp(tr("PLAY"), panel);
    m_playLamp->setObjectName(QStringLiteral("playLamp"));
    m_playLamp->setToolTip(tr("Play or pause both decks"));
    m_playLamp->setReservedText(tr("PAUSE"));
    connect(m_playLamp, &vfd::Lamp::clicked, this, &ComparePlayer::playPause);
    m_stopLamp = new vfd::Lamp(tr("STOP"), panel);
    m_stopLamp->setObjectName(QStringLiteral("stopLamp"));
    connect(m_stopLamp, &vfd::Lamp::clicked, this, &ComparePlayer::stop);
    transport->addWidget(m_playLamp);
    transport->addWidget(m_stopLamp);
    column->addLayout(transport);

    m_linkLamp = new vfd::Lamp(tr("LINK"), panel);
    m_linkLamp->setObjectName(QStringLiteral("linkLamp"));
    m_linkLamp->setCheckable(true);
    m_linkLamp->setOn(true);
    m_linkLamp->setColour(vfd::colour::playhead());
    m_linkLamp->setToolTip(tr("Keep both decks at the same position so the A/B switch\n"
                              "compares the same moment of the recording."));
    connect(m_linkLamp, &vfd::Lamp::toggled, this, &ComparePlayer::setLinked);
    column->addWidget(m_linkLamp);

    m_levelLamp = new vfd::Lamp(tr("LEVEL"), panel);
    m_levelLamp->setObjectName(QStringLiteral("levelLamp"));
    m_levelLamp->setCheckable(true);
    m_levelLamp->setColour(vfd::colour::playhead());
    m_levelLamp->setToolTip(tr("Play the louder deck as loud as the quieter one, measured over\n"
                               "the whole file, so the louder copy does not sound better for it."));
    connect(m_levelLamp, &vfd::Lamp::toggled, this, &ComparePlayer::setLevelMatched);
    column->addWidget(m_levelLamp);

    column->addSpacing(4);
    column->addWidget(legendLabel(tr("B \u2212 A"), vfd::colour::legend(), panel), 0, Qt::AlignHCenter);
    m_durationDifference = legendLabel(QStringLiteral("\u2014"), vfd::colour::playhead(), panel);
    m_durationDifference->setObjectName(QStringLiteral("durationDifference"));
    m_bitrateDifference = legendLabel(QStringLiteral("\u2014"), vfd::colour::playhead(), panel);
    m_bitrateDifference->setObjectName(QStringLiteral("bitrateDifference"));
    column->addWidget(m_durationDifference, 0, Qt::AlignHCenter);
    column->addWidget(m_bitrateDifference, 0, Qt::AlignHCenter);
    column->addStretch();
    return panel;
}

void ComparePlayer::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0x02, 0x08, 0x08));
}

QString ComparePlayer::formatClock(qint64 ms)
{
    const qint64 seconds = std::max<qint64>(ms, 0) / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600)
        .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

bool ComparePlayer::needsDriftCorrection(qint64 activePositionMs, qint64 otherPositionMs)
{
    // Positions come from the media back end; compare in double so no difference overflows.
    return std::abs(double(activePositionMs) - double(otherPositionMs)) > double(kDriftToleranceMs);
}

bool ComparePlayer::hasAudio(Deck deck) const
{
    return !m_decks[deck].path.isEmpty();
}

bool ComparePlayer::anyPlaying() const
{
    return m_decks[A].player->playbackState() == QMediaPlayer::PlayingState ||
           m_decks[B].player->playbackState() == QMediaPlayer::PlayingState;
}

void ComparePlayer::applyMonitoring()
{
    for (const Deck deck : {A, B}) {
        Channel &ch = m_decks[deck];
        const bool active = deck == m_active;
        ch.output->setVolume(active ? float(monitorGain(deck)) : 0.0f);
        ch.monitorLamp->setOn(active);
        ch.clock->setDimmed(!(active && hasAudio(deck)));
    }
}

// While a source is still loading the position is only noted and applied once the media
// is there: the back end would drop it, so a deck loaded during playback would start from
// the beginning instead of at the other deck's place, and seeking while the decoder is
// still setting itself up can lock the back end up.
void ComparePlayer::setDeckPosition(Deck deck, qint64 ms)
{
    Channel &ch = m_decks[deck];
    if (isLoading(deck)) {
        ch.pendingPosition = ms;
        return;
    }
    ch.pendingPosition = -1;
    ch.player->setPosition(ms);
}

bool ComparePlayer::isLoading(Deck deck) const
{
    return m_decks[deck].player->mediaStatus() == QMediaPlayer::LoadingMedia;
}

// Where the deck is, or will be once loaded.
qint64 ComparePlayer::deckPosition(Deck deck) const
{
    const Channel &ch = m_decks[deck];
    return ch.pendingPosition >= 0 && isLoading(deck) ? ch.pendingPosition : ch.player->position();
}

// Given a file name, the GStreamer back end starts the new pipeline and seeks it before
// setSource returns; when the decoder's own thread is adding its outputs at that moment
// the two wait for each other for good and the window freezes. Fed from an open file,
// the decoder only receives data through this thread's event loop, so it cannot get that
// far until setSource has returned.
void ComparePlayer::setDeckSource(Deck deck, const QString &path)
{
    Channel &ch = m_decks[deck];
    const QUrl url = QUrl::fromLocalFile(path);
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly)) {
        ch.player->setSource(url); // the back end reports why it cannot be read
        return;
    }
    ch.player->setSourceDevice(file.get(), url);
    // The player has let go of the previous file now.
    ch.source = std::move(file);
}

void ComparePlayer::onMediaStatus(Deck deck, int status)
{
    Channel &ch = m_decks[deck];
    if (ch.pendingPosition < 0)
        return;
    // Playback that was asked for during loading starts once the media is buffered and
    // would begin at 0 again, so the position is set on both steps.
    if (status == QMediaPlayer::LoadedMedia) {
        ch.player->setPosition(ch.pendingPosition);
    } else if (status == QMediaPlayer::BufferedMedia) {
        const qint64 ms = ch.pendingPosition;
        ch.pendingPosition = -1;
        ch.player->setPosition(ms);
    } else if (status != QMediaPlayer::LoadingMedia && status != QMediaPlayer::BufferingMedia) {
        ch.pendingPosition = -1;
    }
}

void ComparePlayer::setActiveDeck(Deck deck)
{
    if (deck == m_active)
        return;
    m_active = deck;
    applyMonitoring();
}

void ComparePlayer::monitorDeckA()
{
    setActiveDeck(A);
}

void ComparePlayer::monitorDeckB()
{
    setActiveDeck(B);
}

void ComparePlayer::swapMonitor()
{
    setActiveDeck(other(m_active));
}

void ComparePlayer::playPause()
{
    if (anyPlaying()) {
        m_decks[A].player->pause();
        m_decks[B].player->pause();
        return;
    }
    play();
}

void ComparePlayer::play()
{
    if (anyPlaying() || (!hasAudio(A) && !hasAudio(B)))
        return;
    if (hasAudio(A) && m_linked && hasAudio(B)) {
        const qint64 position = deckPosition(m_active);
        setDeckPosition(m_active, position);
        setDeckPosition(other(m_active), linkedPosition(m_active, other(m_active), position));
        m_decks[A].player->play();
        m_decks[B].player->play();
        return;
    }
    m_decks[m_active].player->play();
}

void ComparePlayer::stop()
{
    for (const Deck deck : {A, B}) {
        Channel &ch = m_decks[deck];
        if (isLoading(deck)) {
            // The back end's stop seeks; a deck still loading is held at the start instead.
            ch.player->pause();
            ch.pendingPosition = 0;
        } else {
            ch.player->stop();
            // A player that is already stopped ignores stop(), so a deck moved while
            // stopped would stay where it was.
            if (hasAudio(deck) && ch.player->position() != 0)
                ch.player->setPosition(0);
        }
        ch.meter->reset();
    }
}

void ComparePlayer::seek(Deck deck, qint64 ms)
{
    if (m_linked) {
        for (const Deck d : {A, B}) {
            if (hasAudio(d))
                setDeckPosition(d, linkedPosition(deck, d, ms));
        }
        return;
    }
    if (hasAudio(deck))
        setDeckPosition(deck, ms);
}

void ComparePlayer::setLinked(bool linked)
{
    const bool changed = linked != m_linked;
    m_linked = linked;
    if (m_linkLamp->isOn() != linked)
        m_linkLamp->setOn(linked);
    if (linked && changed && hasAudio(A) && hasAudio(B))
        setDeckPosition(B, linkedPosition(A, B, deckPosition(A)));
    if (changed)
        emit linkedChanged(linked);
}

void ComparePlayer::setLevelMatched(bool matched)
{
    m_levelMatched = matched;
    if (m_levelLamp->isOn() != matched)
        m_levelLamp->setOn(matched);
    applyMonitoring();
}

double ComparePlayer::monitorGain(Deck deck) const
{
    if (!m_levelMatched || !hasAudio(A) || !hasAudio(B))
        return 1.0;
    const double own = m_decks[deck].envelope.rms;
    const double quieter = std::min(own, m_decks[other(deck)].envelope.rms);
    // Until both are measured, or for a silent file, there is nothing to match against.
    if (own <= 0.0 || quieter <= 0.0)
        return 1.0;
    return quieter / own;
}

qint64 ComparePlayer::linkedPosition(Deck from, Deck to, qint64 ms) const
{
    if (from == to)
        return ms;
    const qint64 shift = to == B ? m_offsetMs : -m_offsetMs;
    return std::max<qint64>(0, ms + shift);
}

bool ComparePlayer::alignmentOffset(const QList<quint32> &a, const QList<quint32> &b, qint64 &offsetMs)
{
    offsetMs = 0;
    const qsizetype shorter = std::min(a.size(), b.size());
    if (shorter < kMinAlignmentFrames)
        return false;
    // Copies of one recording share most of the shorter one; a chance likeness over a short
    // stretch of two different songs must not count.
    const int minOverlap = int(std::max<qsizetype>(kMinAlignmentFrames, shorter / 2));
    int frames = 0;
    const double rate =
        Fingerprint::bestBitErrorRate(a, b, kMaxAlignmentFrames, minOverlap, &frames);
    if (rate > kAlignedBitErrorRate)
        return false;
    offsetMs = qint64(std::llround(frames * kFingerprintFrameMs));
    return true;
}

void ComparePlayer::correctDrift()
{
    if (!m_linked || !hasAudio(A) || !hasAudio(B))
        return;
    QMediaPlayer *active = m_decks[m_active].player;
    QMediaPlayer *follower = m_decks[other(m_active)].player;
    if (active->playbackState() != QMediaPlayer::PlayingState ||
        follower->playbackState() != QMediaPlayer::PlayingState)
        return;
    const qint64 target = linkedPosition(m_active, other(m_active), active->position());
    // Before its start (or before the other's) a deck waits at 0 and is not chased there.
    if (target <= 0)
        return;
    if (needsDriftCorrection(target, follower->position()))
        setDeckPosition(other(m_active), target);
}

void ComparePlayer::loadDeck(Deck deck, const TrackInfo &track)
{
    Channel &ch = m_decks[deck];
    if (track.path == ch.path)
        return;
    const bool wasPlaying = anyPlaying();

    ch.path = track.path;
    ch.fingerprint = track.fingerprint;
    ch.envelope = Envelope();
    updateOffset();
    const qint64 resume = m_linked && hasAudio(other(deck))
                              ? linkedPosition(other(deck), deck, deckPosition(other(deck)))
                              : 0;

    const QFileInfo info(track.path);
    ch.title->setText(info.fileName());
    ch.title->setToolTip(tr("%1\nin %2").arg(info.fileName(), QDir::toNativeSeparators(info.absolutePath())));
    const QString quality = track.qualityString();
    ch.quality->setText((quality.isEmpty() ? track.format : quality).toUpper());
    ch.size->setText(
        QLocale().formattedDataSize(track.size, 1, QLocale::DataSizeTraditionalFormat).toUpper());

    ch.scrubber->clear();
    ch.scrubber->setBusy(true);
    ch.meter->reset();

    setDeckSource(deck, QFileInfo(track.path).absoluteFilePath());
    // A file the back end refuses at once has already emptied the deck again.
    if (ch.path != track.path)
        return;
    if (resume > 0)
        setDeckPosition(deck, resume);
    if (wasPlaying)
        ch.player->play();

    ch.bitrate = track.bitrate;
    ch.durationMs = track.durationMs;
    m_loader->load(deck, track.path);
    updateTimeSpan();
    updateReadout(deck);
    updateDifference();
    // A deck that was empty showed a dimmed clock; it lights up if it is the one heard.
    applyMonitoring();
}

void ComparePlayer::clearDeck(Deck deck)
{
    Channel &ch = m_decks[deck];
    // An analysis still under way belongs to the file that is going away.
    m_loader->cancel(deck);
    // Emptying the player stops it; stopping first would seek, which is unsafe while loading.
    ch.player->setSource(QUrl());
    // Closed so the file is not held open; the object stays until the next file replaces
    // it, since the back end keeps a pointer to it.
    if (ch.source)
        ch.source->close();
    ch.pendingPosition = -1;
    ch.path.clear();
    ch.fingerprint.clear();
    ch.envelope = Envelope();
    updateOffset();
    ch.title->setText(tr("— no file loaded —"));
    ch.title->setToolTip(QString());
    ch.quality->setText(QString());
    ch.size->setText(QString());
    ch.total->setText(QStringLiteral("/ 0:00:00"));
    ch.clock->setText(QStringLiteral("0:00:00"));
    ch.clock->setDimmed(true);
    ch.scrubber->clear();
    ch.meter->reset();
    ch.bitrate = 0;
    ch.durationMs = 0;
    updateTimeSpan();
    updateDifference();
    applyMonitoring();
}

void ComparePlayer::updateOffset()
{
    m_offsetMs = 0;
    if (!hasAudio(A) || !hasAudio(B))
        return;
    qint64 offset = 0;
    if (alignmentOffset(m_decks[A].fingerprint, m_decks[B].fingerprint, offset))
        m_offsetMs = offset;
}

qint64 ComparePlayer::deckLength(Deck deck) const
{
    const Channel &ch = m_decks[deck];
    if (!hasAudio(deck))
        return 0;
    if (ch.envelope.durationMs > 0)
        return ch.envelope.durationMs;
    if (ch.player->duration() > 0)
        return ch.player->duration();
    return ch.durationMs;
}

// Both waveforms share one time axis, the longer deck's length, so a truncated copy shows
// as a shorter waveform instead of one stretched to the full width.
void ComparePlayer::updateTimeSpan()
{
    const qint64 span = std::max(deckLength(A), deckLength(B));
    for (Channel &ch : m_decks)
        ch.scrubber->setTimeSpan(span);
}

void ComparePlayer::failDeck(Deck deck, const QString &error)
{
    Channel &ch = m_decks[deck];
    // The player and the waveform analysis both notice a bad file; one line is enough.
    if (ch.path.isEmpty())
        return;
    const QString name = QFileInfo(ch.path).fileName();
    clearDeck(deck);
    emit logMessage(tr("Deck %1: %2 could not be loaded: %3").arg(deckLetter(deck), name, error));
}

void ComparePlayer::clearAll()
{
    clearDeck(A);
    clearDeck(B);
}

void ComparePlayer::updateReadout(Deck deck)
{
    Channel &ch = m_decks[deck];
    const qint64 position = ch.player->position();
    const qint64 total = ch.player->duration() > 0 ? ch.player->duration() : ch.envelope.durationMs;
    ch.clock->setText(formatClock(position));
    ch.total->setText(QStringLiteral("/ %1").arg(formatClock(total)));
    if (ch.envelope.peaks.isEmpty())
        return;
    ch.scrubber->setPosition(position);
    if (ch.player->playbackState() == QMediaPlayer::PlayingState) {
        double left = 0.0;
        double right = 0.0;
        ch.envelope.levelsAt(position, left, right);
        ch.meter->setLevels(left, right);
    }
}

void ComparePlayer::updateDifference()
{
    if (!hasAudio(A) || !hasAudio(B)) {
        m_durationDifference->setText(QStringLiteral("\u2014"));
        m_bitrateDifference->setText(QStringLiteral("\u2014"));
        return;
    }
    const double d = double(m_decks[B].durationMs) - double(m_decks[A].durationMs);
    m_durationDifference->setText(tr("%1%2 s").arg(signOf(d), QString::number(std::abs(d) / 1000.0, 'f', 2)));
    const qint64 k = qint64(m_decks[B].bitrate) - qint64(m_decks[A].bitrate);
    m_bitrateDifference->setText(tr("%1%2 k").arg(signOf(double(k))).arg(k < 0 ? -k : k));
    m_bitrateDifference->setToolTip(tr("Bit rate of deck B relative to deck A."));
}

void ComparePlayer::updateTransportLamp()
{
    const bool playing = anyPlaying();
    m_playLamp->setOn(playing);
    m_playLamp->setText(playing ? tr("PAUSE") : tr("PLAY"));
}

void ComparePlayer::onWaveformLoaded(int deck, const Envelope &envelope)
{
    if (deck != A && deck != B)
        return;
    Channel &ch = m_decks[deck];
    // The loader already drops results of replaced requests; a deck emptied meanwhile
    // must not show the old file's waveform either.
    if (ch.path.isEmpty())
        return;
    ch.envelope = envelope;
    ch.scrubber->setEnvelope(envelope.peaks, envelope.durationMs, envelope.bucketMs);
    updateTimeSpan();
    applyMonitoring();
    updateReadout(Deck(deck));
}

void ComparePlayer::onWaveformFailed(int deck, const QString &error)
{
    if (deck != A && deck != B)
        return;
    failDeck(Deck(deck), error);
}

} // namespace rvw

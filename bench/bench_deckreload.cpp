// Deck reloads: loads short WAV and FLAC files into both decks of the A/B player again and
// again, as a librarian stepping quickly through the results does, with a few milliseconds
// of event handling between loads. Prints loads per second; a load that does not return
// within 10 s means the media back end has locked up, and the run stops with exit code 1.
// Every tenth load is waited for, and loads that never become playable are counted.
//   QT_QPA_PLATFORM=offscreen bench_deckreload [loads]
#include "app/Platform.h"
#include "ui/AudioFixture.h"
#include "ui/ComparePlayer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMediaPlayer>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

using namespace rvw;

namespace {

void handleEvents(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

} // namespace

int main(int argc, char **argv)
{
    Platform::applyDecoderRanking();
    QApplication app(argc, argv);
    const int loads = argc > 1 ? atoi(argv[1]) : 2000;

    QTemporaryDir dir;
    QList<TrackInfo> tracks;
    for (const auto &[name, seconds] : {std::pair{"a.wav", 8}, std::pair{"b.flac", 8}, std::pair{"c.wav", 3}}) {
        TrackInfo t;
        t.path = test::makeAudio(QDir(dir.path()), QString::fromLatin1(name),
                                 QStringLiteral("sine=frequency=440:duration=%1").arg(seconds), {});
        if (t.path.isEmpty()) {
            std::fprintf(stderr, "ffmpeg could not make %s\n", name);
            return 2;
        }
        t.durationMs = seconds * 1000;
        tracks.append(t);
    }

    std::atomic<int> done{0};
    std::atomic<bool> finished{false};
    std::thread watchdog([&] {
        int last = -1;
        auto since = std::chrono::steady_clock::now();
        while (!finished) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            const int now = done;
            if (now != last) {
                last = now;
                since = std::chrono::steady_clock::now();
            } else if (std::chrono::steady_clock::now() - since > std::chrono::seconds(10)) {
                std::printf("FROZE: load %d did not return within 10 s\n", now + 1);
                std::fflush(stdout);
                std::_Exit(1);
            }
        }
    });

    QRandomGenerator rng(20261207);
    {
        ComparePlayer player;
        QMediaPlayer *players[] = {player.findChild<QMediaPlayer *>(QStringLiteral("playerA")),
                                   player.findChild<QMediaPlayer *>(QStringLiteral("playerB"))};
        int checked = 0;
        int unplayable = 0;
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < loads; ++i) {
            const auto deck = (i % 2) ? ComparePlayer::B : ComparePlayer::A;
            player.loadDeck(deck, tracks.at((i / 2 + i % 2) % tracks.size()));
            done = i + 1;
            if (i % 10 == 9) {
                QElapsedTimer wait;
                wait.start();
                while (players[deck]->mediaStatus() != QMediaPlayer::LoadedMedia && wait.elapsed() < 3000)
                    handleEvents(5);
                ++checked;
                if (players[deck]->mediaStatus() != QMediaPlayer::LoadedMedia || players[deck]->duration() <= 0)
                    ++unplayable;
            } else {
                handleEvents(int(rng.bounded(30)));
            }
        }
        const double seconds = clock.nsecsElapsed() / 1e9;
        std::printf("%d loads in %.1f s: %.1f loads/s, no lock-up; %d of %d waited-for loads not playable\n",
                    loads, seconds, loads / seconds, unplayable, checked);
    }
    finished = true;
    watchdog.join();
    return 0;
}

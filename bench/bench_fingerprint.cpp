// Speed of the built-in fingerprint: the analyser alone, the whole ffmpeg + analyser path next
// to fpcalc, and the comparisons the grouper runs for every candidate pair.
//
// Usage: bench_fingerprint [seconds-of-audio]   (default 60; needs ffmpeg, fpcalc optional)

#include "audio/AudioDecode.h"
#include "audio/Chromaprint.h"
#include "audio/Fingerprint.h"

#include "BenchClock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

using namespace rvw;

namespace {

// Chords, a beat and noise bursts, from ffmpeg's expression source.
bool makeRecording(const QString &path, int seconds, int variant)
{
    const QString expr =
        variant == 1
            ? QStringLiteral(
                  "0.2*sin(2*PI*(262+44*mod(floor(t*2),6))*t)+0.15*sin(2*PI*(392-30*mod(floor(t),4))*t)"
                  "+0.3*exp(-mod(t,0.45)*22)*sin(2*PI*65*t)+0.2*(random(0)-0.5)*lt(mod(t,1.3),0.1)")
            : QStringLiteral(
                  "0.2*sin(2*PI*(311+37*mod(floor(t*3),5))*t)+0.15*sin(2*PI*(466-25*mod(floor(t*1.5),3))*t)"
                  "+0.3*exp(-mod(t,0.61)*17)*sin(2*PI*90*t)+0.2*(random(0)-0.5)*lt(mod(t,0.9),0.06)");
    QProcess p;
    p.start(QStringLiteral("ffmpeg"),
            {"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
             QStringLiteral("aevalsrc='%1':s=44100:d=%2").arg(expr).arg(seconds), "-c:a", "flac", path});
    return p.waitForFinished(120000) && p.exitCode() == 0;
}

struct Prints
{
    QList<quint32> main, mainMask, alt, altMask;
};

Prints analyse(const std::vector<float> &samples, int rate)
{
    Fingerprint::Analyzer analyzer;
    analyzer.configure(rate);
    analyzer.feed(samples.data(), int(samples.size()));
    return {analyzer.mainGenerator.finish(), analyzer.mainGenerator.finishMask(),
            analyzer.altGenerator.finish(), analyzer.altGenerator.finishMask()};
}

template <typename F> double perSecond(F &&f)
{
    // Enough repetitions for at least half a second of CPU time.
    long runs = 0;
    volatile double sink = 0.0;
    const double start = cpuSeconds();
    double elapsed = 0.0;
    while (elapsed < 0.5) {
        for (int i = 0; i < 100; ++i)
            sink = sink + f();
        runs += 100;
        elapsed = cpuSeconds() - start;
    }
    return double(runs) / elapsed;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(5, QString::fromLocal8Bit(argv[1]).toInt()) : 60;
    if (!AudioDecode::ffmpegAvailable()) {
        std::fprintf(stderr, "ffmpeg not found\n");
        return 1;
    }
    QTemporaryDir dir;
    const QString fileA = dir.filePath(QStringLiteral("a.flac"));
    const QString fileB = dir.filePath(QStringLiteral("b.flac"));
    if (!makeRecording(fileA, seconds, 1) || !makeRecording(fileB, seconds, 2)) {
        std::fprintf(stderr, "could not make the test recordings\n");
        return 1;
    }

    // 1. The analyser on 44.1 kHz samples already in memory.
    std::vector<float> samples;
    qint64 duration = 0;
    QString error;
    if (!AudioDecode::decodeWithFfmpeg(fileA, 44100, 0, samples, duration, error)) {
        std::fprintf(stderr, "decode failed: %s\n", qPrintable(error));
        return 1;
    }
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
        const double t0 = cpuSeconds();
        const Prints p = analyse(samples, 44100);
        best = std::min(best, cpuSeconds() - t0);
        if (p.main.isEmpty())
            return 1;
    }
    const double audioSeconds = double(samples.size()) / 44100.0;
    std::printf("Analyzer, 44.1 kHz in memory: %.1f s of audio in %.4f CPU s = %.0f x real time\n",
                audioSeconds, best, audioSeconds / best);

    std::vector<float> at11k;
    if (!AudioDecode::decodeWithFfmpeg(fileA, 11025, seconds, at11k, duration, error))
        return 1;
    double analysis11k = 1e9;
    for (int i = 0; i < 5; ++i) {
        const double t0 = cpuSeconds();
        analyse(at11k, 11025);
        analysis11k = std::min(analysis11k, cpuSeconds() - t0);
    }
    std::printf("Analyzer, 11,025 Hz in memory (as the worker feeds it): %.4f CPU s\n", analysis11k);

    // 2. Whole built-in path (ffmpeg decode to 11,025 Hz + analysis) next to fpcalc.
    double builtIn = 1e9;
    Prints a;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer wall;
        wall.start();
        std::vector<float> mono;
        if (!AudioDecode::decodeWithFfmpeg(fileA, 11025, seconds, mono, duration, error))
            return 1;
        a = analyse(mono, 11025);
        builtIn = std::min(builtIn, wall.nsecsElapsed() * 1e-9);
    }
    double decodeOnly = 1e9;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer wall;
        wall.start();
        std::vector<float> mono;
        AudioDecode::decodeWithFfmpeg(fileA, 11025, seconds, mono, duration, error);
        decodeOnly = std::min(decodeOnly, wall.nsecsElapsed() * 1e-9);
    }
    std::printf("Built-in path, %d s FLAC (ffmpeg + analyser): %.3f s wall, of which ffmpeg alone %.3f s\n",
                seconds, builtIn, decodeOnly);
    if (Chromaprint::available()) {
        double fpcalc = 1e9;
        for (int i = 0; i < 3; ++i) {
            QElapsedTimer wall;
            wall.start();
            const ChromaprintResult r = Chromaprint::fingerprint(fileA, seconds);
            fpcalc = std::min(fpcalc, wall.nsecsElapsed() * 1e-9);
            if (r.fingerprint.isEmpty())
                std::fprintf(stderr, "fpcalc: %s\n", qPrintable(r.error));
        }
        std::printf("fpcalc -length %d on the same file: %.3f s wall; built-in / fpcalc = %.2f\n", seconds,
                    fpcalc, builtIn / fpcalc);
    } else {
        std::printf("fpcalc not found: no comparison\n");
    }

    // 3. Comparisons on 480-word prints.
    std::vector<float> monoB;
    if (!AudioDecode::decodeWithFfmpeg(fileB, 11025, seconds, monoB, duration, error))
        return 1;
    const Prints b = analyse(monoB, 11025);
    auto first = [](const QList<quint32> &w) { return w.mid(0, std::min<qsizetype>(480, w.size())); };
    const Prints a480{first(a.main), first(a.mainMask), first(a.alt), first(a.altMask)};
    const Prints b480{first(b.main), first(b.mainMask), first(b.alt), first(b.altMask)};
    // The same piece with 13 words more lead-in: off the five coarse offsets.
    Prints shifted = a480;
    for (int i = 0; i < 13; ++i) {
        shifted.main.prepend(0);
        shifted.mainMask.prepend(0);
    }
    shifted.main.resize(480);
    shifted.mainMask.resize(480);

    const double nine = perSecond([&] {
        return Fingerprint::bestBitErrorRate(a480.main, a480.mainMask, b480.main, b480.mainMask, b480.alt,
                                             b480.altMask, 48, 40, nullptr);
    });
    const double sameStart =
        perSecond([&] { return double(Fingerprint::couldMatch(a480.main, a480.main, 0.25)); });
    const double offGrid =
        perSecond([&] { return double(Fingerprint::couldMatch(a480.main, shifted.main, 0.25)); });
    const double reject =
        perSecond([&] { return double(Fingerprint::couldMatch(a480.main, b480.main, 0.25)); });
    const double chromaReject =
        perSecond([&] { return double(Chromaprint::couldMatch(a480.main, b480.main, 0.12)); });
    std::printf("bestBitErrorRate, nine arguments, 480 words, +-48: %.0f comparisons/s\n", nine);
    std::printf("couldMatch passing at a coarse offset:             %.0f /s (%.1fx the full search)\n",
                sameStart, sameStart / nine);
    std::printf("couldMatch passing off the coarse offsets (13):    %.0f /s (%.1fx the full search) -> %s\n",
                offGrid, offGrid / nine,
                Fingerprint::couldMatch(a480.main, shifted.main, 0.25) ? "passes" : "rejected");
    std::printf("couldMatch rejecting a different recording:        %.0f /s (%.1fx the full search)\n",
                reject, reject / nine);
    std::printf("Chromaprint::couldMatch rejecting:                 %.0f /s\n", chromaReject);
    return 0;
}

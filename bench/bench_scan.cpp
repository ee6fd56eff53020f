// Whole scan: a generated library (default 2,000 WAV files of 6 s, a fifth of them
// copies or near copies), scanned twice with each engine (the built-in one, and fpcalc when
// installed) and the cache on. Prints both wall times, files/s and the cached re-scan's speed-up.
//   bench_scan [files] [folder]
#include "scan/CacheDatabase.h"
#include "scan/ScanController.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtEndian>

#include <cmath>
#include <cstdio>

using namespace rvw;

namespace {

constexpr int kRate = 22050;

void appendLE(QByteArray &out, quint32 v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(char((v >> (8 * i)) & 0xFF));
}

// A mono 16-bit tune: notes of a seeded scale changing every 200 ms.
QByteArray tune(quint32 seed, double seconds, double gain)
{
    QRandomGenerator rng(seed);
    const int frames = int(seconds * kRate);
    QByteArray pcm;
    pcm.reserve(frames * 2);
    double phase = 0;
    double freq = 220;
    for (int i = 0; i < frames; ++i) {
        if (i % (kRate / 5) == 0)
            freq = 180.0 * std::pow(2.0, rng.bounded(24) / 12.0);
        phase += 2 * M_PI * freq / kRate;
        const double v = gain * (0.6 * std::sin(phase) + 0.3 * std::sin(2.01 * phase));
        appendLE(pcm, quint16(qint16(v * 32000)), 2);
    }
    return pcm;
}

bool writeWav(const QString &path, const QByteArray &pcm)
{
    QByteArray out("RIFF");
    appendLE(out, quint32(36 + pcm.size()), 4);
    out.append("WAVEfmt ");
    appendLE(out, 16, 4);
    appendLE(out, 1, 2);
    appendLE(out, 1, 2);
    appendLE(out, kRate, 4);
    appendLE(out, kRate * 2, 4);
    appendLE(out, 2, 2);
    appendLE(out, 16, 2);
    out.append("data");
    appendLE(out, quint32(pcm.size()), 4);
    out.append(pcm);
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(out) == out.size();
}

struct Result
{
    qint64 ms = 0;
    int files = 0;
    int groups = 0;
};

Result runScan(const ScanOptions &options)
{
    QThread thread;
    auto *controller = new ScanController;
    controller->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, controller, &QObject::deleteLater);
    thread.start();
    Result r;
    QEventLoop loop;
    QObject::connect(controller, &ScanController::finished, &loop,
                     [&](const QList<TrackInfo> &tracks, const QList<MatchGroup> &groups, bool, qint64 ms) {
                         r.ms = ms;
                         r.files = int(tracks.size());
                         r.groups = int(groups.size());
                         loop.quit();
                     });
    QMetaObject::invokeMethod(controller, "start", Qt::QueuedConnection, Q_ARG(rvw::ScanOptions, options));
    loop.exec();
    thread.quit();
    thread.wait();
    return r;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("KestrilonBench"));
    QCoreApplication::setApplicationName(QStringLiteral("RavelwickBench"));
    qRegisterMetaType<rvw::ScanOptions>("rvw::ScanOptions");
    qRegisterMetaType<QList<rvw::TrackInfo>>("QVector<rvw::TrackInfo>");
    qRegisterMetaType<QList<rvw::MatchGroup>>("QVector<rvw::MatchGroup>");
    qRegisterMetaType<rvw::FingerprintResult>("rvw::FingerprintResult");

    const int count = argc > 1 ? atoi(argv[1]) : 2000;
    QTemporaryDir temp;
    const QString root = argc > 2 ? QString::fromLocal8Bit(argv[2]) : temp.path();
    const int originals = count - count / 5;
    std::printf("making %d files in %s ...\n", count, qPrintable(root));
    for (int i = 0; i < count; ++i) {
        const QString dir = QStringLiteral("%1/folder%2").arg(root).arg(i % 50);
        QDir().mkpath(dir);
        const QString path = QStringLiteral("%1/track%2.wav").arg(dir).arg(i);
        if (QFile::exists(path))
            continue;
        // the last fifth: copies (odd) and quieter versions (even) of earlier tracks
        const bool copy = i >= originals;
        const quint32 seed = copy ? quint32(i - originals) : quint32(i);
        const double gain = copy && i % 2 == 0 ? 0.7 : 1.0;
        if (!writeWav(path, tune(seed, 6.0, gain))) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 2;
        }
    }

    std::printf("%-22s %10s %10s %8s\n", "scan", "seconds", "files/s", "groups");
    for (const int engine : {0, 1}) {
        if (engine == 1 && QStandardPaths::findExecutable(QStringLiteral("fpcalc")).isEmpty()) {
            std::printf("fpcalc is not installed: its engine is not measured\n");
            continue;
        }
        for (const char *suffix : {"", "-wal", "-shm"})
            QFile::remove(CacheDatabase::defaultPath() + QLatin1String(suffix));
        ScanOptions options;
        options.folders = {root};
        options.engine = engine;
        options.fingerprintSeconds = 30;
        options.useCache = true;
        options.minBytes = 0;
        options.minDurationMs = 0;
        const Result first = runScan(options);
        const Result second = runScan(options);
        const char *name = engine == 0 ? "built-in" : "fpcalc";
        std::printf("%-8s %-13s %10.2f %10.1f %8d\n", name, "first", first.ms / 1000.0,
                    first.files * 1000.0 / qMax<qint64>(1, first.ms), first.groups);
        std::printf("%-8s %-13s %10.2f %10.1f %8d\n", name, "cached", second.ms / 1000.0,
                    second.files * 1000.0 / qMax<qint64>(1, second.ms), second.groups);
        std::printf("%-8s speed-up %.1fx\n", name, double(first.ms) / qMax<qint64>(1, second.ms));
    }
    for (const char *suffix : {"", "-wal", "-shm"})
        QFile::remove(CacheDatabase::defaultPath() + QLatin1String(suffix));
    return 0;
}

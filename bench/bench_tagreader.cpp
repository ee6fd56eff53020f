// Tag and stream reading speed: TagReader::read over a generated library of mixed formats, with
// the page cache warm, so the figure is the parser's own cost and not the disk's.
//
// Usage: bench_tagreader [files]   (default 1024; needs ffmpeg)

#include "audio/TagReader.h"

#include "BenchClock.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

using namespace rvw;

namespace {

struct Format
{
    const char *suffix;
    QStringList codecArgs;
};

bool makeSource(const QString &path, const Format &format, int variant)
{
    QStringList args{
        "-hide_banner",
        "-loglevel",
        "error",
        "-y",
        "-f",
        "lavfi",
        "-i",
        QStringLiteral("sine=frequency=%1:duration=%2").arg(300 + 40 * variant).arg(2 + variant)};
    args << format.codecArgs;
    args << "-metadata" << QStringLiteral("title=Song number %1").arg(variant) << "-metadata"
         << "artist=The Test Band"
         << "-metadata"
         << "album=Benchmark Sessions"
         << "-metadata" << QStringLiteral("track=%1").arg(variant + 1) << path;
    QProcess p;
    p.start(QStringLiteral("ffmpeg"), args);
    return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int wanted = argc > 1 ? qMax(1, QByteArray(argv[1]).toInt()) : 1024;

    const QList<Format> formats{
        {"mp3", {"-c:a", "libmp3lame", "-b:a", "128k", "-id3v2_version", "3"}},
        {"mp3", {"-c:a", "libmp3lame", "-q:a", "4", "-id3v2_version", "4"}},
        {"flac", {"-c:a", "flac"}},
        {"ogg", {"-c:a", "libvorbis", "-q:a", "3"}},
        {"opus", {"-c:a", "libopus", "-b:a", "64k"}},
        {"m4a", {"-c:a", "aac", "-b:a", "96k"}},
        {"wav", {"-c:a", "pcm_s16le"}},
        {"aiff", {"-c:a", "pcm_s16be"}},
    };
    constexpr int kVariants = 4;

    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot make a temporary folder\n");
        return 1;
    }
    QStringList sources;
    for (int f = 0; f < formats.size(); ++f) {
        for (int v = 0; v < kVariants; ++v) {
            const QString path =
                dir.filePath(QStringLiteral("src-%1-%2.%3").arg(f).arg(v).arg(formats[f].suffix));
            if (!makeSource(path, formats[f], v)) {
                std::fprintf(stderr, "ffmpeg could not make %s\n", qPrintable(path));
                return 1;
            }
            sources << path;
        }
    }
    // Copies of the sources under their own names fill the library; the reader cost depends on
    // the layout of each file, not on its name.
    QStringList library;
    qint64 bytes = 0;
    for (int i = 0; i < wanted; ++i) {
        const QString &src = sources[i % sources.size()];
        const QString path = dir.filePath(QStringLiteral("lib/%1-%2").arg(i).arg(QFileInfo(src).fileName()));
        QDir().mkpath(QFileInfo(path).path());
        if (!QFile::copy(src, path)) {
            std::fprintf(stderr, "cannot copy %s\n", qPrintable(src));
            return 1;
        }
        bytes += QFileInfo(path).size();
        library << path;
    }

    auto readAll = [&library](int *failures) {
        for (const QString &path : library) {
            AudioMetadata meta;
            QString error;
            if (!TagReader::read(path, meta, &error))
                ++*failures;
        }
    };
    int failures = 0;
    readAll(&failures); // warms the page cache
    if (failures) {
        std::fprintf(stderr, "%d files failed to read\n", failures);
        return 1;
    }

    constexpr int kRounds = 5;
    QElapsedTimer wall;
    const double cpu0 = cpuSeconds();
    wall.start();
    for (int r = 0; r < kRounds; ++r)
        readAll(&failures);
    const double wallS = double(wall.nsecsElapsed()) * 1e-9;
    const double cpuS = cpuSeconds() - cpu0;
    const double files = double(kRounds) * double(library.size());

    std::printf("TagReader::read, %lld files (%d formats, %.1f MiB), warm cache, %d rounds, one thread\n",
                static_cast<long long>(library.size()), int(formats.size()), double(bytes) / 1048576.0,
                kRounds);
    std::printf("  wall %.3f s   %.0f files/s\n", wallS, files / wallS);
    std::printf("  cpu  %.3f s   %.0f files/s per core   (goal 5000)\n", cpuS, files / cpuS);
    return failures ? 1 : 0;
}

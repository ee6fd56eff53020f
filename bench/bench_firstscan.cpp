// A first scan against the bare tools: how many bytes the scan itself reads (rchar of this
// process's threads, so the fingerprinter's own reads are not counted) against the library's size, and how
// long an fpcalc-engine first scan takes against a bare parallel `fpcalc -length 60` loop over the
// same files. The library is made once with ffmpeg: originals in several formats, and for some of
// them a byte copy, a retagged copy and a re-encode.
//
// Usage: bench_firstscan [originals] [folder]   (default 100; needs ffmpeg and fpcalc)

#include "scan/CacheDatabase.h"
#include "scan/ScanController.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <cmath>
#include <cstdio>

using namespace rvw;

namespace {

bool ffmpeg(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("ffmpeg"), QStringList{"-hide_banner", "-loglevel", "error", "-y"} + args);
    return p.waitForFinished(300000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// What this process's threads have read, without its children: /proc/self/io also counts every
// fpcalc the scan started and reaped, so the threads are summed one by one instead. Threads that
// ended during the scan (the fingerprint lanes, which only read the tools' pipes) are not counted.
qint64 bytesRead()
{
    qint64 total = 0;
    for (const QString &task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(QStringLiteral("/proc/self/task/%1/io").arg(task));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : f.readAll().split('\n')) {
            if (line.startsWith("rchar:"))
                total += line.mid(6).trimmed().toLongLong();
        }
    }
    return total;
}

// A tune of its own for every seed: sixteen notes a bar, each of a seeded pitch over two octaves,
// so no two originals share a melody (fingerprints compare pitch classes over time).
QStringList tuneInput(int seed, int seconds)
{
    QRandomGenerator rng(quint32(seed) * 2654435761u);
    QStringList notes;
    for (int n = 0; n < 16; ++n) {
        const double hz = 196.0 * std::pow(2.0, rng.bounded(24) / 12.0);
        notes << QStringLiteral("between(mod(t\\,4)\\,%1\\,%2)*sin(2*PI*t*%3)")
                     .arg(n * 0.25)
                     .arg(n * 0.25 + 0.2499)
                     .arg(hz, 0, 'f', 2);
    }
    return {"-f", "lavfi", "-i",
            QStringLiteral("aevalsrc=0.5*(%1):s=22050:d=%2").arg(notes.join(QLatin1Char('+'))).arg(seconds)};
}

bool makeLibrary(const QString &root, int originals)
{
    const QList<QStringList> codecs{{"-c:a", "libmp3lame", "-b:a", "192k"},
                                    {"-c:a", "flac"},
                                    {"-c:a", "aac", "-b:a", "160k"},
                                    {"-c:a", "libvorbis", "-q:a", "5"}};
    const QStringList suffixes{"mp3", "flac", "m4a", "ogg"};
    for (int i = 0; i < originals; ++i) {
        const int kind = i % 4;
        const QString dir = QStringLiteral("%1/album%2").arg(root).arg(i / 10);
        QDir().mkpath(dir);
        const QString path = QStringLiteral("%1/track%2.%3").arg(dir).arg(i).arg(suffixes[kind]);
        if (QFile::exists(path))
            continue;
        if (!ffmpeg(tuneInput(i, 60 + (i * 37) % 61) + QStringList{"-ac", "2", "-ar", "44100"} + codecs[kind] +
                    QStringList{"-metadata", QStringLiteral("title=Track %1").arg(i), path}))
            return false;
        // Every tenth original has copies: a byte copy, a retagged copy and a re-encode.
        if (i % 10 != 0)
            continue;
        const QString copies = root + QStringLiteral("/incoming");
        QDir().mkpath(copies);
        const QString base = QStringLiteral("%1/copy%2").arg(copies).arg(i);
        if (!QFile::copy(path, base + "." + suffixes[kind]) ||
            !ffmpeg({"-i", path, "-c", "copy", "-metadata", "title=Retagged", base + "-retag." + suffixes[kind]}) ||
            !ffmpeg({"-i", path, "-c:a", "libmp3lame", "-b:a", "128k", base + "-reencode.mp3"}))
            return false;
    }
    return true;
}

struct Scan
{
    qint64 ms = 0;
    int files = 0;
    int groups = 0;
    qint64 readBytes = 0;
};

Scan scan(const ScanOptions &options)
{
    QThread thread;
    auto *controller = new ScanController;
    controller->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, controller, &QObject::deleteLater);
    thread.start();
    Scan r;
    QEventLoop loop;
    QObject::connect(controller, &ScanController::finished, &loop,
                     [&](const QList<TrackInfo> &tracks, const QList<MatchGroup> &groups, bool, qint64) {
                         r.files = int(tracks.size());
                         r.groups = int(groups.size());
                         loop.quit();
                     });
    const qint64 before = bytesRead();
    QElapsedTimer t;
    t.start();
    QMetaObject::invokeMethod(controller, "start", Qt::QueuedConnection, Q_ARG(rvw::ScanOptions, options));
    loop.exec();
    r.ms = t.elapsed();
    r.readBytes = bytesRead() - before;
    thread.quit();
    thread.wait();
    return r;
}

// `fpcalc -length 60` over every file, `lanes` at a time, as a shell loop with xargs -P would.
qint64 bareFpcalcMs(const QStringList &files, int lanes)
{
    QElapsedTimer t;
    t.start();
    QList<QProcess *> running;
    int next = 0;
    while (next < files.size() || !running.isEmpty()) {
        while (running.size() < lanes && next < files.size()) {
            auto *p = new QProcess;
            p->start(QStringLiteral("fpcalc"), {"-raw", "-length", "60", files[next++]});
            running.append(p);
        }
        running.first()->waitForFinished(-1);
        for (int i = int(running.size()) - 1; i >= 0; --i) {
            if (running[i]->state() == QProcess::NotRunning) {
                delete running[i];
                running.removeAt(i);
            }
        }
    }
    return t.elapsed();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("KestrilonBench"));
    QCoreApplication::setApplicationName(QStringLiteral("RavelwickFirstScan"));
    ScanController::registerMetaTypes();
    if (QStandardPaths::findExecutable(QStringLiteral("fpcalc")).isEmpty()) {
        std::fprintf(stderr, "fpcalc is not installed\n");
        return 2;
    }
    const int originals = argc > 1 ? qMax(4, atoi(argv[1])) : 100;
    QTemporaryDir temp;
    const QString root = argc > 2 ? QString::fromLocal8Bit(argv[2]) : temp.path();
    std::printf("making the library in %s ...\n", qPrintable(root));
    if (!makeLibrary(root, originals)) {
        std::fprintf(stderr, "ffmpeg failed\n");
        return 2;
    }
    QStringList files;
    qint64 libraryBytes = 0;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        files << it.next();
        libraryBytes += it.fileInfo().size();
    }
    files.sort();
    const int lanes = qMax(1, QThread::idealThreadCount());

    for (const char *suffix : {"", "-wal", "-shm"})
        QFile::remove(CacheDatabase::defaultPath() + QLatin1String(suffix));
    ScanOptions options;
    options.folders = {root};
    options.engine = 1;
    options.fingerprintSeconds = 60;
    options.decoderThreads = lanes;
    options.useCache = true;
    options.minBytes = 0;
    const Scan first = scan(options);
    const qint64 bare = bareFpcalcMs(files, lanes);
    for (const char *suffix : {"", "-wal", "-shm"})
        QFile::remove(CacheDatabase::defaultPath() + QLatin1String(suffix));

    std::printf("library: %lld files, %.1f MB; %d lanes\n", qlonglong(files.size()), libraryBytes / 1e6, lanes);
    std::printf("first scan (fpcalc engine): %.2f s, %d groups\n", first.ms / 1000.0, first.groups);
    std::printf("bare fpcalc -length 60 loop: %.2f s\n", bare / 1000.0);
    std::printf("scan's own reads: %.1f MB = %.2fx the library\n", first.readBytes / 1e6,
                double(first.readBytes) / double(qMax<qint64>(1, libraryBytes)));
    std::printf("time ratio scan/bare: %.2f\n", double(first.ms) / double(qMax<qint64>(1, bare)));
    return 0;
}

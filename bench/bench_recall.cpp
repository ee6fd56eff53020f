// Acoustic grouping on real lossy copies at scale: the recall suite's library of planted
// copies, padded with distinct tracks spliced from real fingerprints. Prints, per engine and
// library size, the planted copies grouped with their base (and which were missed), the false
// pairs (tracks of different recordings in one group), the wall time of grouping and its peak
// memory (each engine and size in a process of its own). The files are made in a work folder.
//   bench_recall [--sizes 1000,5000,100000] [--engines builtin,fpcalc] [--cache DIR]
//                [--list]
#include "audio/Chromaprint.h"
#include "scan/DuplicateGrouper.h"
#include "support/PlantedLibrary.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <cstdio>

using namespace rvw;
using namespace rvwtest;

namespace {

constexpr quint32 kPaddingSeed = 20240611;

// A "Vm...:" figure of /proc/self/status in KiB; -1 where there is none.
qint64 statusKiB(const QByteArray &field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// Lets the next VmHWM reading show the peak of what follows rather than of the whole process
// (writing 5 to clear_refs resets it); false on kernels without that.
bool resetPeakRss()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    return f.open(QIODevice::WriteOnly) && f.write("5") == 1;
}

struct Settings
{
    QList<int> sizes;
    QList<Engine> engines;
    QString cache;
    bool list = false;
    bool oneRun = false; // a child measuring one engine and size
};

bool parse(const QCoreApplication &app, Settings &s)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Recall and false pairs of acoustic grouping on planted copies"));
    parser.addHelpOption();
    const QCommandLineOption sizes(QStringLiteral("sizes"), QStringLiteral("Library sizes, comma separated."),
                                   QStringLiteral("list"), QStringLiteral("1000,5000,100000"));
    const QCommandLineOption engines(QStringLiteral("engines"), QStringLiteral("builtin, fpcalc or both."),
                                     QStringLiteral("list"), QStringLiteral("builtin,fpcalc"));
    const QCommandLineOption cache(
        QStringLiteral("cache"), QStringLiteral("Folder for the generated files."), QStringLiteral("dir"),
        QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/planted-library"));
    const QCommandLineOption list(QStringLiteral("list"),
                                  QStringLiteral("Print every file of the library as each engine saw it."));
    QCommandLineOption oneRun(QStringLiteral("one-run"));
    oneRun.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({sizes, engines, cache, list, oneRun});
    parser.process(app);

    for (const QString &item : parser.value(sizes).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int n = item.trimmed().toInt(&ok);
        if (!ok || n < 2) {
            std::fprintf(stderr, "not a library size: %s\n", qPrintable(item));
            return false;
        }
        s.sizes.append(n);
    }
    for (const QString &item : parser.value(engines).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (item.trimmed() == QLatin1String("builtin"))
            s.engines.append(Engine::BuiltIn);
        else if (item.trimmed() == QLatin1String("fpcalc"))
            s.engines.append(Engine::Fpcalc);
        else {
            std::fprintf(stderr, "not an engine: %s\n", qPrintable(item));
            return false;
        }
    }
    s.cache = parser.value(cache);
    s.oneRun = parser.isSet(oneRun);
    s.list = parser.isSet(list);
    return true;
}

void listTracks(const PlantedLibrary &library, Engine engine)
{
    const LabelledTracks lib = library.tracks(engine);
    for (int i = 0; i < lib.tracks.size(); ++i) {
        const TrackInfo &t = lib.tracks[i];
        std::printf("%-8s %3d %-26s %-16s %8lld ms %4d words\n", qPrintable(engineName(engine)), i,
                    qPrintable(t.fileName), qPrintable(lib.labels[i]), (long long)t.durationMs,
                    int(t.fingerprint.size()));
    }
}

void runOne(const PlantedLibrary &library, Engine engine, int size)
{
    LabelledTracks lib = library.tracks(engine);
    const int planted = int(lib.tracks.size());
    const int pool = padTo(lib, size, kPaddingSeed);

    ScanOptions options;
    options.engine = int(engine);
    options.detectMetadata = false;
    const qint64 before = statusKiB("VmRSS:");
    const bool isolated = resetPeakRss();
    QElapsedTimer timer;
    timer.start();
    const QList<MatchGroup> groups = DuplicateGrouper::group(lib.tracks, options, QAtomicInt(0));
    const qint64 ms = timer.elapsed();
    const qint64 peak = statusKiB("VmHWM:");

    const Verdict v = judge(groups, lib, library);
    std::printf("%-8s %7lld tracks  recall %2d/%-2lld  false pairs %lld  "
                "group() %.2f s  peak RSS %.1f MiB%s (%.1f MiB before)\n",
                qPrintable(engineName(engine)), (long long)lib.tracks.size(), v.found,
                (long long)library.copies().size(), (long long)v.falsePairs, ms / 1000.0, peak / 1024.0,
                isolated ? "" : " (whole process)", before / 1024.0);
    std::printf("         padding %lld tracks from %d pool items\n", (long long)lib.tracks.size() - planted,
                pool);
    for (const QString &p : v.problems)
        std::printf("         %s\n", qPrintable(p));
    std::fflush(stdout);
}

} // namespace

// Each engine and size runs in a process of its own: memory a run has freed stays with the
// process, and would pass for the next run's baseline.
void runEachInChild(const Settings &s, const PlantedLibrary &library)
{
    for (Engine engine : s.engines) {
        if (!library.hasEngine(engine)) {
            std::printf("%s: not installed, skipped\n", qPrintable(engineName(engine)));
            continue;
        }
        const QString name = engine == Engine::BuiltIn ? QStringLiteral("builtin") : QStringLiteral("fpcalc");
        for (int size : s.sizes) {
            QStringList args{"--one-run",           "--engines", name,   "--sizes",
                             QString::number(size), "--cache",   s.cache};
            if (s.list && size == s.sizes.first())
                args << "--list";
            std::fflush(stdout);
            QProcess child;
            child.setProcessChannelMode(QProcess::ForwardedChannels);
            child.start(QCoreApplication::applicationFilePath(), args);
            if (!child.waitForFinished(-1) || child.exitCode() != 0)
                std::printf("%s, %d tracks: the run failed\n", qPrintable(engineName(engine)), size);
        }
    }
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ravelwick-bench"));
    Settings settings;
    if (!parse(app, settings))
        return 2;
    if (!QDir().mkpath(settings.cache)) {
        std::fprintf(stderr, "cannot make %s\n", qPrintable(settings.cache));
        return 2;
    }

    QElapsedTimer timer;
    timer.start();
    PlantedLibrary library;
    QString error;
    if (!library.build(settings.cache, ScanOptions().fingerprintSeconds, &error)) {
        std::fprintf(stderr, "cannot make the library: %s\n", qPrintable(error));
        return 2;
    }
    if (!settings.oneRun) {
        std::printf("library: %d files in %s, ready in %.1f s\n", library.fileCount(),
                    qPrintable(settings.cache), timer.elapsed() / 1000.0);
        runEachInChild(settings, library);
        return 0;
    }
    for (Engine engine : std::as_const(settings.engines)) {
        if (!library.hasEngine(engine)) {
            std::printf("%s: not installed, skipped\n", qPrintable(engineName(engine)));
            continue;
        }
        if (settings.list)
            listTracks(library, engine);
        for (int size : std::as_const(settings.sizes))
            runOne(library, engine, size);
    }
    return 0;
}

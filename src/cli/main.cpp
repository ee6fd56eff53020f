// ravelwick-cli: the scan, the report and a reversible clean-up from a shell, for
// servers and nightly jobs. Shares the window's cache, quarantine and undo manifests.
#include "app/AppInfo.h"
#include "app/Platform.h"
#include "app/Translations.h"
#include "cleanup/ActionRunner.h"
#include "cli/CliArguments.h"
#include "cli/ConsoleProgress.h"
#include "cli/ReportQuarantine.h"
#include "core/Types.h"
#include "report/ReportWriter.h"
#include "scan/ScanController.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <unistd.h>

using namespace rvw;

namespace {

// A count in English with its plural ("1 file", "2 files"), from the English catalogue.
QString plural(const char *text, int n)
{
    return QCoreApplication::translate("ravelwick-cli", text, nullptr, n);
}

enum ExitCode
{
    NoDuplicates = 0,
    DuplicatesFound = 1,
    UsageOrIoError = 2,
    Interrupted = 130
};

// The number of the signal that asked to stop, 0 while none did. Lock-free, so a signal
// handler may set it; the clean-up reads it between two files.
QAtomicInt g_interrupted(0);

extern "C" void onInterrupt(int signal)
{
    g_interrupted.storeRelaxed(signal);
}

// 128 plus the signal's number, as shells report a process ended by that signal.
int interruptedExitCode()
{
    const int signal = g_interrupted.loadRelaxed();
    return signal > 0 ? 128 + signal : int(Interrupted);
}

void catchStopSignals()
{
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void err(const QString &text)
{
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

void out(const QString &text)
{
    std::fprintf(stdout, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stdout);
}

QString dataSize(qint64 bytes)
{
    return QLocale().formattedDataSize(bytes, 2, QLocale::DataSizeTraditionalFormat);
}

void printSummary(const QList<TrackInfo> &tracks, const QList<MatchGroup> &groups, qint64 elapsedMs,
                  int uncheckedFolders, int uncheckedFiles)
{
    int perTier[4] = {0, 0, 0, 0};
    int redundant = 0;
    qint64 reclaimable = 0;
    for (const MatchGroup &g : groups) {
        if (g.tier >= Identical && g.tier <= Metadata)
            ++perTier[g.tier];
        redundant += g.redundantCount();
        reclaimable += g.reclaimableBytes;
    }
    out(QStringLiteral("Files scanned: %1").arg(tracks.size()));
    // Only when something was left out, so that the usual summary stays as scripts know it.
    if (uncheckedFolders > 0 || uncheckedFiles > 0)
        out(plural(QT_TRANSLATE_N_NOOP("ravelwick-cli", "Not checked: %n folder(s)"), uncheckedFolders) +
            plural(QT_TRANSLATE_N_NOOP("ravelwick-cli", ", %n file(s)"), uncheckedFiles) +
            QStringLiteral(" (--verbose names them)"));
    out(QStringLiteral("Duplicate groups: %1").arg(groups.size()));
    for (int t = Identical; t <= Metadata; ++t)
        out(QStringLiteral("  %1: %2").arg(matchTierName(MatchTier(t))).arg(perTier[t]));
    out(QStringLiteral("Redundant copies: %1").arg(redundant));
    out(QStringLiteral("Reclaimable: %1").arg(dataSize(reclaimable)));
    out(QStringLiteral("Time: %1 s").arg(QString::number(elapsedMs / 1000.0, 'f', 1)));
}

int runScan(const CliCommand &cmd)
{
    const bool terminal = isatty(fileno(stderr));
    ConsoleProgress progress(stderr, terminal);

    QThread thread;
    thread.setObjectName(QStringLiteral("rvw-scan"));
    auto *controller = new ScanController;
    controller->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, controller, &QObject::deleteLater);
    thread.start();

    int exitCode = UsageOrIoError;
    if (!cmd.quiet) {
        QObject::connect(controller, &ScanController::phaseChanged, qApp,
                         [&progress](const QString &phase) { progress.phase(phase); });
        QObject::connect(controller, &ScanController::progress, qApp,
                         [&progress](int done, int total, const QString &detail) {
                             progress.progress(done, total, detail);
                         });
    }
    if (cmd.verbose) {
        QObject::connect(controller, &ScanController::logMessage, qApp, [&progress](const QString &message) {
            progress.finish();
            err(QStringLiteral("[%1] %2").arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")),
                                              message));
        });
    }
    int uncheckedFolders = 0;
    int uncheckedFiles = 0;
    QObject::connect(controller, &ScanController::discoveryGaps, qApp, [&](int folders, int files) {
        uncheckedFolders = folders;
        uncheckedFiles = files;
    });
    QObject::connect(
        controller, &ScanController::finished, qApp,
        [&](const QList<TrackInfo> &tracks, const QList<MatchGroup> &groups, bool cancelled,
            qint64 elapsedMs) {
            progress.finish();
            if (cancelled || g_interrupted.loadRelaxed()) {
                err(QStringLiteral("Scan cancelled; finished analyses are kept in the cache."));
                exitCode = interruptedExitCode();
                QCoreApplication::exit(0);
                return;
            }
            exitCode = groups.isEmpty() ? NoDuplicates : DuplicatesFound;
            if (!cmd.reportPath.isEmpty()) {
                QString error;
                if (!ReportWriter::write(cmd.reportPath, ReportWriter::Format(cmd.reportFormat), tracks,
                                         groups, cmd.options, &error)) {
                    err(QStringLiteral("Cannot write the report %1: %2").arg(cmd.reportPath, error));
                    exitCode = UsageOrIoError;
                } else {
                    out(QStringLiteral("Report: %1").arg(QFileInfo(cmd.reportPath).absoluteFilePath()));
                }
            }
            printSummary(tracks, groups, elapsedMs, uncheckedFolders, uncheckedFiles);
            QCoreApplication::exit(0);
        });

    // A signal handler may only set a flag; the event loop turns it into a cancel.
    QTimer interruptWatch;
    QObject::connect(&interruptWatch, &QTimer::timeout, qApp, [controller, &progress] {
        if (g_interrupted.loadRelaxed()) {
            static bool told = false;
            if (!told) {
                told = true;
                progress.finish();
                err(QStringLiteral("Interrupted: stopping after the work in hand..."));
            }
            controller->cancel();
        }
    });
    interruptWatch.start(100);

    QMetaObject::invokeMethod(controller, "start", Qt::QueuedConnection,
                              Q_ARG(rvw::ScanOptions, cmd.options));
    QCoreApplication::exec();
    interruptWatch.stop();
    thread.quit();
    thread.wait();
    return exitCode;
}

int runQuarantine(const CliCommand &cmd)
{
    ReportQuarantine::Plan plan;
    QString error;
    if (!ReportQuarantine::plan(cmd.reportFile, plan, &error)) {
        err(error);
        return UsageOrIoError;
    }
    for (const QString &s : std::as_const(plan.skipped))
        err(s);
    const QString root =
        cmd.quarantineRoot.isEmpty() ? ActionRunner::defaultQuarantineRoot() : cmd.quarantineRoot;
    if (cmd.dryRun) {
        for (const ReportQuarantine::Move &m : std::as_const(plan.moves))
            out(QStringLiteral("would move %1 (%2)").arg(m.path, dataSize(m.size)));
        out(plural(QT_TRANSLATE_N_NOOP("ravelwick-cli", "Would move %n file(s) into %1, freeing %2."),
                   int(plan.moves.size()))
                .arg(QDir::toNativeSeparators(root), dataSize(plan.bytes)));
        return plan.skipped.isEmpty() ? 0 : 1;
    }
    if (plan.moves.isEmpty()) {
        out(QStringLiteral("Nothing to move."));
        return plan.skipped.isEmpty() ? 0 : 1;
    }
    QStringList paths;
    for (const ReportQuarantine::Move &m : std::as_const(plan.moves))
        paths.append(m.path);
    // A stop signal ends the batch after the file in hand, with its manifest closed.
    catchStopSignals();
    const ActionRunner::Result r =
        ActionRunner::execute(paths, ActionRunner::Quarantine, root, plan.roots, &g_interrupted);
    for (const QString &e : r.errors)
        err(e);
    out(plural(QT_TRANSLATE_N_NOOP("ravelwick-cli", "Moved %n file(s) into %1, freeing %2; "), r.succeeded)
            .arg(QDir::toNativeSeparators(root), dataSize(r.bytesFreed)) +
        QStringLiteral("%1 failed.").arg(r.failed));
    if (!r.manifestPath.isEmpty())
        out(QStringLiteral("Undo manifest: %1").arg(r.manifestPath));
    if (r.cancelled) {
        err(plural(QT_TRANSLATE_N_NOOP("ravelwick-cli", "Interrupted: %n file(s) were left in place."),
                   int(paths.size()) - r.succeeded - r.failed));
        return interruptedExitCode();
    }
    if (r.succeeded > 0 && !r.manifestComplete)
        return UsageOrIoError;
    return r.failed == 0 && plan.skipped.isEmpty() ? 0 : 1;
}

int runUndo(const CliCommand &cmd)
{
    if (cmd.manifest.isEmpty()) {
        const QStringList list = ActionRunner::manifests();
        if (list.isEmpty())
            out(QStringLiteral("No clean-up to undo."));
        for (const QString &m : list)
            out(QStringLiteral("%1\t%2").arg(m, ActionRunner::describeManifest(m)));
        return 0;
    }
    QString path = cmd.manifest;
    if (!QFileInfo::exists(path)) {
        const QString inFolder = QDir(ActionRunner::manifestDirectory()).filePath(path);
        if (QFileInfo::exists(inFolder))
            path = inFolder;
    }
    QString error;
    const ActionRunner::Result r = ActionRunner::undo(path, &error);
    if (!error.isEmpty()) {
        err(error);
        return UsageOrIoError;
    }
    for (const QString &e : r.errors)
        err(e);
    out(plural(QT_TRANSLATE_N_NOOP("ravelwick-cli", "Restored %n file(s); "), r.succeeded) +
        QStringLiteral("%1 failed.").arg(r.failed));
    if (r.failed > 0)
        out(QStringLiteral("The manifest is kept, so the undo can be tried again."));
    return r.failed == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    Platform::applyDecoderRanking();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(AppInfo::applicationName());
    QCoreApplication::setApplicationVersion(AppInfo::versionString());
    QCoreApplication::setOrganizationName(AppInfo::organisation());
    QCoreApplication::setOrganizationDomain(AppInfo::organisationDomain());
    Translations::install(QLocale(QLocale::English, QLocale::UnitedStates));
    ScanController::registerMetaTypes();

    const CliCommand cmd = CliArguments::parse(app.arguments().mid(1));
    switch (cmd.kind) {
    case CliCommand::Invalid:
        err(QStringLiteral("ravelwick-cli: %1").arg(cmd.error));
        err(QStringLiteral("Try 'ravelwick-cli --help'."));
        return UsageOrIoError;
    case CliCommand::Help:
        std::fputs(CliArguments::usage().toLocal8Bit().constData(), stdout);
        return 0;
    case CliCommand::Version:
        out(QStringLiteral("ravelwick-cli %1").arg(AppInfo::versionString()));
        return 0;
    case CliCommand::Scan:
        break;
    case CliCommand::Quarantine:
        return runQuarantine(cmd);
    case CliCommand::Undo:
        return runUndo(cmd);
    }

    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
    catchStopSignals();
    return runScan(cmd);
}

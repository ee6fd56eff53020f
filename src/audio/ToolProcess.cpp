#include "audio/ToolProcess.h"

#include <QDeadlineTimer>
#include <QProcess>

namespace rvw::ToolProcess {

namespace {

constexpr int kStartTimeoutMs = 5000;
constexpr int kKillWaitMs = 2000;
constexpr int kPollMs = 100;

} // namespace

int floorSeconds()
{
    bool ok = false;
    const int asked = qEnvironmentVariableIntValue("RVW_TOOL_MIN_SECONDS", &ok);
    return ok && asked >= 1 && asked <= 3600 ? asked : 30;
}

ToolRun run(const QString &program, const QStringList &args, int limitMs, qint64 outputCap,
            const QAtomicInt *cancel)
{
    ToolRun result;
    QProcess proc;
    proc.setProcessChannelMode(QProcess::SeparateChannels);
    proc.setReadChannel(QProcess::StandardOutput);
    proc.start(program, args, QIODevice::ReadOnly);
    if (!proc.waitForStarted(kStartTimeoutMs))
        return result;
    result.started = true;

    const auto drain = [&] {
        // Read whatever is waiting, keeping only up to each cap, so a tool that floods a channel
        // costs bounded memory.
        const QByteArray errors = proc.readAllStandardError();
        result.errors += errors.left(qMax<qsizetype>(kMaxErrorBytes - result.errors.size(), 0));
        const QByteArray output = proc.readAllStandardOutput();
        if (result.output.size() + output.size() > outputCap) {
            result.output += output.left(qMax<qint64>(outputCap - result.output.size(), 0));
            result.overflowed = true;
        } else {
            result.output += output;
        }
    };
    const QDeadlineTimer deadline(qMax(limitMs, 1));
    while (proc.state() != QProcess::NotRunning) {
        if (cancel && cancel->loadRelaxed())
            result.cancelled = true;
        else if (deadline.hasExpired())
            result.timedOut = true;
        if (result.cancelled || result.timedOut || result.overflowed) {
            proc.kill();
            proc.waitForFinished(kKillWaitMs);
            return result;
        }
        // Once standard output is closed this returns at once; the wait for the end then paces
        // the loop instead.
        if (!proc.waitForReadyRead(kPollMs) && proc.state() != QProcess::NotRunning)
            proc.waitForFinished(kPollMs);
        drain();
    }
    drain();
    if (result.overflowed)
        return result;
    result.crashed = proc.exitStatus() != QProcess::NormalExit;
    result.exitCode = proc.exitCode();
    return result;
}

} // namespace rvw::ToolProcess

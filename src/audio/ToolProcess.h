#pragma once

#include <QAtomicInt>
#include <QByteArray>
#include <QString>
#include <QStringList>

namespace rvw {

// How one run of an outside tool (ffmpeg, fpcalc) ended.
struct ToolRun
{
    QByteArray output; // standard output, at most the cap asked for
    QByteArray errors; // standard error, at most ToolProcess::kMaxErrorBytes
    bool started = false;
    bool timedOut = false;  // killed when its time was up
    bool cancelled = false; // killed because the scan was stopped
    bool overflowed = false; // killed for writing more than the cap
    bool crashed = false;
    int exitCode = -1;

    // Ran to its own end (with any exit status).
    bool ended() const { return started && !timedOut && !cancelled && !overflowed && !crashed; }
};

namespace ToolProcess {

constexpr qsizetype kMaxErrorBytes = 64 * 1024;

// The least time, in seconds, one run of a tool is given, however little audio it is asked
// for: 30, or RVW_TOOL_MIN_SECONDS (1 to 3600) for libraries on very slow storage, or for
// checking the time limit without waiting half a minute.
int floorSeconds();

// Runs `program` and collects what it writes. The run ends when the tool does, when `limitMs`
// have passed since the start in total (however busy the tool is), when it writes more than
// `outputCap` bytes, or within a tenth of a second of `cancel` being set; in the last three cases
// the tool is killed and reaped before this returns, so no child outlives a stopped scan.
ToolRun run(const QString &program, const QStringList &args, int limitMs, qint64 outputCap,
            const QAtomicInt *cancel);

} // namespace ToolProcess

} // namespace rvw

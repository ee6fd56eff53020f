#include "audio/AudioDecode.h"

#include "audio/ToolProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QStandardPaths>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>

namespace rvw::AudioDecode {

namespace {

// Codec delay and resampling leave a decode cut at its limit up to ~50 ms short of it, so one
// ending this close to the limit may have been cut there rather than have run out of stream.
constexpr qint64 kCutSlackMs = 500;
// Far beyond any recording; keeps a damaged length from overflowing.
constexpr qint64 kMaxHours = 1000000;

// A folder is "executable" to QFileInfo too, but it cannot be started.
bool isProgram(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

int waitLimitMs(int seconds)
{
    return int(std::min<qint64>(qint64(std::max(seconds, ToolProcess::floorSeconds())) * 1000, INT_MAX));
}

// With "-loglevel level+..." ffmpeg tags each line "[level] ", after the "[component @ 0x...] "
// that some lines start with. Removes the tag and returns the level, empty for an untagged line.
QByteArray takeLevel(QByteArray &line)
{
    static const QByteArrayList levels{"panic", "fatal",   "error", "warning",
                                       "info",  "verbose", "debug", "trace"};
    qsizetype at = 0;
    for (int prefix = 0; prefix < 2 && at < line.size() && line.at(at) == '['; ++prefix) {
        const qsizetype close = line.indexOf(']', at);
        if (close < 0)
            break;
        const QByteArray word = line.mid(at + 1, close - at - 1);
        qsizetype end = close + 1;
        if (end < line.size() && line.at(end) == ' ')
            ++end;
        if (levels.contains(word)) {
            line.remove(at, end - at);
            return word;
        }
        at = end;
    }
    return {};
}

// The input's length from the text after "Duration: " ("HH:MM:SS.cc, start: ..."); -1 for "N/A"
// or anything unexpected.
qint64 parseDuration(const QByteArray &text)
{
    const qsizetype comma = text.indexOf(',');
    const QByteArrayList parts = text.left(comma < 0 ? text.size() : comma).trimmed().split(':');
    if (parts.size() != 3)
        return -1;
    bool okH = false, okM = false, okS = false;
    const qint64 hours = parts[0].toLongLong(&okH);
    const int minutes = parts[1].toInt(&okM);
    const double secs = parts[2].toDouble(&okS);
    if (!okH || !okM || !okS || hours < 0 || hours > kMaxHours || minutes < 0 || minutes > 59 ||
        !(secs >= 0.0 && secs < 60.0))
        return -1;
    return (hours * 3600 + minutes * 60) * 1000 + std::llround(secs * 1000.0);
}

// Splits ffmpeg's log into the error lines (and any untagged ones) and the input's length, -1
// when it gave none.
void readLog(const QByteArray &log, QString &errors, qint64 &reportedMs)
{
    // Indented by exactly two, unlike the metadata lines above it, whose keys are free text.
    static const QByteArray durationKey("  Duration: ");
    QByteArrayList kept;
    bool seenDuration = false;
    reportedMs = -1;
    for (QByteArray line : log.split('\n')) {
        const QByteArray level = takeLevel(line);
        if (level.isEmpty() || level == "error" || level == "fatal" || level == "panic") {
            line = line.trimmed();
            if (!line.isEmpty())
                kept.append(line);
        } else if (level == "info" && !seenDuration && line.startsWith(durationKey)) {
            seenDuration = true;
            reportedMs = parseDuration(line.mid(durationKey.size()));
        }
    }
    errors = QString::fromLocal8Bit(kept.join('\n'));
}

} // namespace

QString locateTool(const QString &name, const char *variable)
{
    const QByteArray fromEnv = qgetenv(variable);
    if (!fromEnv.isEmpty()) {
        const QString candidate = QString::fromLocal8Bit(fromEnv);
        if (isProgram(candidate))
            return candidate;
    }
    if (QCoreApplication::instance()) {
        const QString base = QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
        if (isProgram(base + QStringLiteral(".exe")))
            return base + QStringLiteral(".exe");
        if (isProgram(base))
            return base;
    }
    return QStandardPaths::findExecutable(name);
}

QString ffmpegPath()
{
    static QMutex mutex;
    static bool resolved = false;
    static QString path;
    QMutexLocker lock(&mutex);
    if (!resolved) {
        path = locateTool(QStringLiteral("ffmpeg"), "RVW_FFMPEG");
        resolved = true;
    }
    return path;
}

bool ffmpegAvailable()
{
    return !ffmpegPath().isEmpty();
}

bool decodeWithFfmpeg(const QString &path, int sampleRate, int seconds, std::vector<float> &samples,
                      qint64 &durationMs, QString &error, const QAtomicInt *cancel)
{
    const QString program = ffmpegPath();
    if (program.isEmpty()) {
        error = QStringLiteral("ffmpeg not found");
        return false;
    }
    QStringList args{QStringLiteral("-nostdin"), QStringLiteral("-hide_banner"), QStringLiteral("-nostats")};
    // Info level for the input's "Duration:" line; the level tags tell it from the errors.
    args << QStringLiteral("-loglevel") << QStringLiteral("level+info") << QStringLiteral("-i") << path;
    if (seconds > 0)
        args << QStringLiteral("-t") << QString::number(seconds);
    args << QStringLiteral("-ac") << QStringLiteral("1") << QStringLiteral("-ar")
         << QString::number(sampleRate) << QStringLiteral("-f") << QStringLiteral("f32le")
         << QStringLiteral("-");

    // Twice the audio asked for, and a megabyte: more than -t lets through means a broken tool.
    const qint64 expected = qint64(std::max(seconds, 1)) * std::max(sampleRate, 1) * 4;
    const qint64 cap = seconds > 0 ? 2 * expected + (1 << 20) : std::numeric_limits<qint64>::max();
    const ToolRun run = ToolProcess::run(program, args, waitLimitMs(seconds), cap, cancel);
    if (!run.started) {
        error = QStringLiteral("could not start ffmpeg");
        return false;
    }
    if (run.cancelled) {
        error = QStringLiteral("cancelled");
        return false;
    }
    if (run.timedOut) {
        error = QStringLiteral("ffmpeg timed out");
        return false;
    }
    if (run.overflowed) {
        error = QStringLiteral("ffmpeg wrote more audio than asked for");
        return false;
    }
    const QByteArray &output = run.output;
    qint64 reportedMs = -1;
    readLog(run.errors, error, reportedMs);
    if (run.crashed || run.exitCode != 0) {
        if (error.isEmpty())
            error = QStringLiteral("ffmpeg failed (exit %1)").arg(run.exitCode);
        if (output.isEmpty())
            return false;
    }

    const qsizetype count = output.size() / qsizetype(sizeof(float));
    if (count < 1) {
        if (error.isEmpty())
            error = QStringLiteral("ffmpeg produced no audio");
        return false;
    }
    samples.resize(size_t(count));
    // f32le is the machine's own float layout on every platform this runs on.
    std::memcpy(samples.data(), output.constData(), size_t(count) * sizeof(float));
    // The decoded length is the stream's only when the decode ran out of stream before the limit;
    // a length shorter than what was decoded cannot be the stream's.
    const qint64 decodedMs = sampleRate > 0 ? qint64(count) * 1000 / sampleRate : 0;
    if (seconds <= 0 || decodedMs + kCutSlackMs < qint64(seconds) * 1000)
        durationMs = decodedMs;
    else if (reportedMs > 0 && reportedMs + kCutSlackMs >= decodedMs)
        durationMs = reportedMs;
    else
        durationMs = 0;
    error.clear();
    return true;
}

} // namespace rvw::AudioDecode

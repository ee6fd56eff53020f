#include "audio/AudioDecode.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <climits>
#include <cstring>

namespace rvw::AudioDecode {

namespace {

constexpr int kStartTimeoutMs = 5000;
constexpr int kKillWaitMs = 2000;
// Only a capacity hint; a long decode still grows past it.
constexpr qint64 kMaxReserveBytes = qint64(64) * 1024 * 1024;

// A folder is "executable" to QFileInfo too, but it cannot be started.
bool isProgram(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

int waitLimitMs(int seconds)
{
    return int(std::min<qint64>(qint64(std::max(seconds, 30)) * 1000, INT_MAX));
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
                      qint64 &durationMs, QString &error)
{
    const QString program = ffmpegPath();
    if (program.isEmpty()) {
        error = QStringLiteral("ffmpeg not found");
        return false;
    }
    QStringList args{QStringLiteral("-nostdin"), QStringLiteral("-loglevel"), QStringLiteral("error"),
                     QStringLiteral("-i"), path};
    if (seconds > 0)
        args << QStringLiteral("-t") << QString::number(seconds);
    args << QStringLiteral("-ac") << QStringLiteral("1") << QStringLiteral("-ar")
         << QString::number(sampleRate) << QStringLiteral("-f") << QStringLiteral("f32le")
         << QStringLiteral("-");

    QProcess proc;
    proc.setProcessChannelMode(QProcess::SeparateChannels);
    proc.setReadChannel(QProcess::StandardOutput);
    proc.start(program, args, QIODevice::ReadOnly);
    if (!proc.waitForStarted(kStartTimeoutMs)) {
        error = QStringLiteral("could not start ffmpeg");
        return false;
    }

    QByteArray output;
    const qint64 reserve = qint64(std::max(seconds, 1)) * std::max(sampleRate, 1) * 4;
    output.reserve(qsizetype(std::min(reserve, kMaxReserveBytes)));
    const int limit = waitLimitMs(seconds);
    while (proc.state() != QProcess::NotRunning) {
        const bool more = proc.waitForReadyRead(limit);
        if (!more && proc.state() != QProcess::NotRunning) {
            proc.kill();
            proc.waitForFinished(kKillWaitMs);
            error = QStringLiteral("ffmpeg timed out");
            return false;
        }
        output += proc.readAllStandardOutput();
    }
    output += proc.readAllStandardOutput();
    proc.waitForFinished(kKillWaitMs);

    error.clear();
    if (proc.exitStatus() != QProcess::NormalExit || proc.exitCode() != 0) {
        const QString text = QString::fromLocal8Bit(proc.readAllStandardError()).trimmed();
        error = text.isEmpty() ? QStringLiteral("ffmpeg failed (exit %1)").arg(proc.exitCode()) : text;
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
    durationMs = sampleRate > 0 ? qint64(count) * 1000 / sampleRate : 0;
    error.clear();
    return true;
}

} // namespace rvw::AudioDecode

#pragma once

// Test audio made with ffmpeg in a temporary folder.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

namespace rvwtest {

inline QString ffmpegPath()
{
    return QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
}

// Runs ffmpeg with the given arguments; on failure its error output goes to `error`, or to the
// test log when no `error` is given.
inline bool ffmpeg(const QStringList &args, QString *error = nullptr)
{
    QProcess p;
    p.start(ffmpegPath(), QStringList{"-nostdin", "-hide_banner", "-loglevel", "error", "-y"} + args);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        const QString text = QString::fromLocal8Bit(p.readAllStandardError());
        if (error)
            *error = text;
        else
            qWarning("ffmpeg failed: %s", qPrintable(text));
        return false;
    }
    return true;
}

// A "song": a tune of notes that change every quarter second, shaped by `seed`, so two
// seeds sound different and one seed always sounds the same.
inline QString melodyExpression(int seed)
{
    return QStringLiteral("0.4*sin(2*PI*t*(220+%1*mod(floor(t*4)*%2\\,7)))*(0.6+0.4*sin(2*PI*t*%3))"
                          "+0.2*sin(2*PI*t*(330+%4*mod(floor(t*2)*%5\\,5)))")
        .arg(40 + seed * 7)
        .arg(3 + seed)
        .arg(0.5 + seed * 0.3)
        .arg(25 + seed * 5)
        .arg(2 + seed % 3);
}

inline QStringList melodyInput(int seed, double seconds)
{
    return {"-f", "lavfi", "-i",
            QStringLiteral("aevalsrc=%1:s=44100:d=%2").arg(melodyExpression(seed)).arg(seconds)};
}

inline bool copyFile(const QString &from, const QString &to)
{
    QFile::remove(to);
    return QFile::copy(from, to);
}

} // namespace rvwtest

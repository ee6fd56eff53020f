#pragma once

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

// Test audio made on the spot with ffmpeg's signal generators.
namespace rvw::test {

inline bool haveFfmpeg()
{
    return !QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty();
}

// source: an lavfi graph such as "sine=frequency=440:duration=2"; output: codec and rate
// options placed before the file name. Returns the absolute path, or empty on failure.
inline QString makeAudio(const QDir &dir, const QString &name, const QString &source,
                         const QStringList &output)
{
    const QString path = dir.absoluteFilePath(name);
    QStringList args{QStringLiteral("-y"),        QStringLiteral("-hide_banner"),
                     QStringLiteral("-loglevel"), QStringLiteral("error"),
                     QStringLiteral("-f"),        QStringLiteral("lavfi"),
                     QStringLiteral("-i"),        source};
    args << output << path;
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), args);
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitStatus() != QProcess::NormalExit ||
        ffmpeg.exitCode() != 0)
        return QString();
    return path;
}

} // namespace rvw::test

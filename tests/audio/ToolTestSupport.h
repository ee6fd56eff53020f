#pragma once

// Helpers for tests of the outside-tool wrappers. The tool paths are looked up once per
// process, so every case that needs its own RVW_FFMPEG / RVW_FPCALC / PATH runs the same test
// function (and data row) again in a child copy of the test program with that environment.

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>
#include <QtTest>

namespace toolsupport {

inline bool inChild()
{
    return qEnvironmentVariableIsSet("RVW_TEST_CHILD");
}

// Writes a /bin/sh script; executable unless told otherwise.
inline QString writeScript(const QString &dir, const QString &name, const QByteArray &body,
                           bool executable = true)
{
    const QString path = dir + QLatin1Char('/') + name;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QString();
    f.write("#!/bin/sh\n" + body + "\n");
    f.close();
    QFile::Permissions perms = QFile::ReadOwner | QFile::WriteOwner;
    if (executable)
        perms |= QFile::ExeOwner;
    f.setPermissions(perms);
    return path;
}

// Runs the current test function and data row in a child process with `env` added (an empty
// value removes the variable). Returns true when the child passed; *log gets its output.
inline bool runInChild(const QMap<QString, QString> &env, QString *log, const QString &program = QString(),
                       int timeoutMs = 60000)
{
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.remove(QStringLiteral("RVW_FFMPEG"));
    e.remove(QStringLiteral("RVW_FPCALC"));
    e.insert(QStringLiteral("RVW_TEST_CHILD"), QStringLiteral("1"));
    for (auto it = env.cbegin(); it != env.cend(); ++it) {
        if (it.value().isEmpty())
            e.remove(it.key());
        else
            e.insert(it.key(), it.value());
    }
    QString selector = QString::fromLatin1(QTest::currentTestFunction());
    if (QTest::currentDataTag() && *QTest::currentDataTag())
        selector += QLatin1Char(':') + QString::fromUtf8(QTest::currentDataTag());
    QProcess p;
    p.setProcessEnvironment(e);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program.isEmpty() ? QCoreApplication::applicationFilePath() : program, {selector});
    const bool finished = p.waitForStarted(10000) && p.waitForFinished(timeoutMs);
    if (!finished)
        p.kill();
    p.waitForFinished(2000);
    *log = QString::fromLocal8Bit(p.readAll());
    const QRegularExpression passed(
        QStringLiteral("PASS   : \\S+::%1\\(").arg(QString::fromLatin1(QTest::currentTestFunction())));
    return finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0 && log->contains(passed) &&
           !log->contains(QStringLiteral("SKIP   :"));
}

inline bool haveTool(const char *name)
{
    return !QStandardPaths::findExecutable(QString::fromLatin1(name)).isEmpty();
}

// Runs the real ffmpeg to make a test file; false (with the reason) when it fails.
inline bool ffmpeg(const QStringList &args, QString *error = nullptr)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("ffmpeg"), QStringList{QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
                                                  QStringLiteral("error"), QStringLiteral("-y")} +
                                          args);
    const bool ok = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!ok && error)
        *error = QString::fromLocal8Bit(p.readAll());
    return ok;
}

// A recording with the texture of music: changing chords, a beat and noise bursts. `variant`
// 1 and 2 are different pieces.
inline QString musicExpression(int variant)
{
    if (variant == 1)
        return QStringLiteral(
            "0.18*sin(2*PI*(220+55*mod(floor(t*2),5))*t)+0.14*sin(2*PI*(330+66*mod(floor(t*2+1),4))*t)"
            "+0.1*sin(2*PI*(495+33*mod(floor(t*4),7))*t)+0.35*exp(-mod(t,0.5)*25)*sin(2*PI*70*t)"
            "+0.25*(random(0)-0.5)*lt(mod(t,1.7),0.12)");
    return QStringLiteral(
        "0.2*sin(2*PI*(196+49*mod(floor(t*3),6))*t)+0.12*sin(2*PI*(587-41*mod(floor(t*1.5),5))*t)"
        "+0.1*sin(2*PI*(784+20*mod(floor(t*5),3))*t)+0.3*exp(-mod(t,0.37)*18)*sin(2*PI*95*t)"
        "+0.2*(random(0)-0.5)*lt(mod(t,1.1),0.07)");
}

// Makes `seconds` of the given piece as `path`, with `codecArgs` (e.g. "-c:a", "flac") and
// optionally `leadIn` seconds of silence in front.
inline bool makeMusic(const QString &path, int variant, double seconds, const QStringList &codecArgs,
                      double leadIn = 0.0, QString *error = nullptr)
{
    QStringList args{QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                     QStringLiteral("aevalsrc='%1':s=44100:d=%2").arg(musicExpression(variant)).arg(seconds)};
    if (leadIn > 0.0)
        args << QStringLiteral("-af") << QStringLiteral("adelay=%1:all=1").arg(int(leadIn * 1000));
    return ffmpeg(args + codecArgs + QStringList{path}, error);
}

} // namespace toolsupport

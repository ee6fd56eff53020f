#pragma once

// Helpers for tests of the outside-tool wrappers. The tool paths are looked up once per
// process, so every case that needs its own RVW_FFMPEG / RVW_FPCALC / PATH runs the same test
// function (and data row) again in a child copy of the test program with that environment.

#include "support/AudioFixtures.h"

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

// In the parent: passes when the current test function and row pass in a child with `env` (and,
// optionally, another copy of the program), failing with the child's output otherwise.
#define VERIFY_IN_CHILD(...)                                                                                 \
    do {                                                                                                     \
        QString childLog_;                                                                                   \
        QVERIFY2(toolsupport::childPasses(&childLog_, __VA_ARGS__), qPrintable(childLog_));                  \
    } while (false)

inline bool childPasses(QString *log, const QMap<QString, QString> &env, const QString &program = QString())
{
    return runInChild(env, log, program);
}

inline bool haveTool(const char *name)
{
    return !QStandardPaths::findExecutable(QString::fromLatin1(name)).isEmpty();
}

// Runs the real ffmpeg to make a test file; false (with the reason) when it fails.
using rvwtest::ffmpeg;

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

// Twenty seconds of piece 1 as ref.flac, re-encoded as a.mp3, a.m4a and a.ogg, again with 1.5 s of
// silence in front (late.flac), and piece 2 (other.flac): what an engine must match or tell apart.
inline bool makeReencodes(const QTemporaryDir &dir)
{
    const auto file = [&](const char *name) { return dir.filePath(QString::fromLatin1(name)); };
    return makeMusic(file("ref.flac"), 1, 20, {"-c:a", "flac"}) &&
           makeMusic(file("a.mp3"), 1, 20, {"-c:a", "libmp3lame", "-b:a", "128k"}) &&
           makeMusic(file("a.m4a"), 1, 20, {"-c:a", "aac", "-b:a", "128k"}) &&
           makeMusic(file("a.ogg"), 1, 20, {"-c:a", "libvorbis", "-q:a", "4"}) &&
           makeMusic(file("late.flac"), 1, 20, {"-c:a", "flac"}, 1.5) &&
           makeMusic(file("other.flac"), 2, 20, {"-c:a", "flac"});
}

// The rows for makeReencodes: each file and whether it is the reference recording.
inline void addReencodeRows()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("same");
    QTest::newRow("MP3 128k") << "a.mp3" << true;
    QTest::newRow("AAC") << "a.m4a" << true;
    QTest::newRow("Vorbis") << "a.ogg" << true;
    QTest::newRow("1.5 s of leading silence") << "late.flac" << true;
    QTest::newRow("a different recording") << "other.flac" << false;
}

// Logs how an engine judged one of those files against ref.flac and checks the verdict: a copy
// errs in fewer than `copyBelow` of its bits and passes the pre-check, the other piece in more
// than `otherAbove`.
inline void checkVerdict(const QString &file, bool same, double ber, bool pass, double copyBelow,
                         double otherAbove)
{
    const QString detail = QStringLiteral("BER %1, pre-check %2").arg(ber).arg(pass);
    qInfo("%s: %s", qPrintable(file), qPrintable(detail));
    if (same) {
        QVERIFY2(ber < copyBelow, qPrintable(detail));
        QVERIFY2(pass, qPrintable(detail));
    } else {
        QVERIFY2(ber > otherAbove, qPrintable(detail));
    }
}

// A fake tool that writes its arguments, one a line, to the file named by $RVW_TEST_ARGS, then
// runs `then`.
inline QString writeArgsRecorder(const QString &dir, const QString &name, const QByteArray &then)
{
    return writeScript(dir, name,
                       "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$RVW_TEST_ARGS\"; " + then);
}

inline QStringList recordedArgs(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts)
                                       : QStringList{QStringLiteral("<no arguments recorded>")};
}

} // namespace toolsupport

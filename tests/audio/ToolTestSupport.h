#pragma once

// Helpers for tests of the outside-tool wrappers. The tool paths are looked up once per
// process, so every case that needs its own RVW_FFMPEG / RVW_FPCALC / PATH runs the same test
// function (and data row) again in a child copy of the test program with that environment.

#include "support/AudioFixtures.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QtTest>

namespace toolsupport {

using rvwtest::ffmpeg;

inline bool inChild()
{
    return qEnvironmentVariableIsSet("RVW_TEST_CHILD");
}

inline bool haveTool(const char *name)
{
    return !QStandardPaths::findExecutable(QString::fromLatin1(name)).isEmpty();
}

// A /bin/sh script (unless `body` names its own interpreter), executable unless told otherwise.
inline QString writeScript(const QString &dir, const QString &name, const QByteArray &body,
                           bool executable = true)
{
    const QString path = dir + QLatin1Char('/') + name;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QString();
    f.write((body.startsWith("#!") ? body : "#!/bin/sh\n" + body) + "\n");
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner |
                     (executable ? QFile::ExeOwner : QFile::Permissions()));
    return path;
}

// A fake tool that writes its arguments, one a line, to $RVW_TEST_ARGS, then runs `then`.
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

// Runs the current test function and row in a child process with `env` added (an empty value
// removes the variable), optionally as another copy of the program. True when the child passed.
inline bool childPasses(QString *log, const QMap<QString, QString> &env, const QString &program = QString())
{
    // The parent's own tool choices are not inherited.
    QMap<QString, QString> all{{"RVW_FFMPEG", ""}, {"RVW_FPCALC", ""}, {"RVW_TEST_CHILD", "1"}};
    all.insert(env);
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (auto it = all.cbegin(); it != all.cend(); ++it)
        it.value().isEmpty() ? e.remove(it.key()) : e.insert(it.key(), it.value());
    const QString function = QString::fromLatin1(QTest::currentTestFunction());
    const QString tag = QString::fromUtf8(QTest::currentDataTag() ? QTest::currentDataTag() : "");
    QProcess p;
    p.setProcessEnvironment(e);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program.isEmpty() ? QCoreApplication::applicationFilePath() : program,
            {tag.isEmpty() ? function : function + QLatin1Char(':') + tag});
    const bool finished = p.waitForStarted(10000) && p.waitForFinished(60000);
    if (!finished)
        p.kill();
    p.waitForFinished(2000);
    *log = QString::fromLocal8Bit(p.readAll());
    // A child that skipped, or ran no test of that name, proves nothing.
    return finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0 &&
           log->contains(QStringLiteral("PASS   : ")) &&
           log->contains(QLatin1String("::") + function + '(') && !log->contains(QStringLiteral("SKIP   :"));
}

#define VERIFY_IN_CHILD(...)                                                                                 \
    do {                                                                                                     \
        QString childLog_;                                                                                   \
        QVERIFY2(toolsupport::childPasses(&childLog_, __VA_ARGS__), qPrintable(childLog_));                  \
    } while (false)

} // namespace toolsupport

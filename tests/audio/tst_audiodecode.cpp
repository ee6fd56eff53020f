#include "audio/AudioDecode.h"

#include "audio/ToolTestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace rvw;

class TestAudioDecode : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        haveFfmpeg = toolsupport::haveTool("ffmpeg");
        if (toolsupport::inChild() || !haveFfmpeg)
            return;
        QFile garbage(dir.filePath(QStringLiteral("garbage.mp3")));
        QVERIFY(garbage.open(QIODevice::WriteOnly) && garbage.write(QByteArray(5000, 'x')) == 5000);
        QString error;
        QVERIFY2(
            toolsupport::ffmpeg({"-f", "lavfi", "-i", "sine=frequency=440:duration=3:sample_rate=44100",
                                 "-ac", "2", "-c:a", "pcm_s16le", dir.filePath(QStringLiteral("tone.wav"))},
                                &error),
            qPrintable(error));
    }

    // Real ffmpeg runs: the part asked for at the rate asked for, the file's length however much
    // of it was decoded, and ffmpeg's own error lines without their level tags when it fails.
    void decodesRealFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("seconds");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("expected"); // samples; -1: fails with `error` in the message
        QTest::addColumn<QString>("error");
        QTest::newRow("one second at 11,025 Hz") << "tone.wav" << 1 << 11025 << 11025 << "";
        QTest::newRow("whole file when seconds is 0") << "tone.wav" << 0 << 11025 << 33075 << "";
        QTest::newRow("limit beyond the end") << "tone.wav" << 10 << 11025 << 33075 << "";
        QTest::newRow("two seconds at 8 kHz") << "tone.wav" << 2 << 8000 << 16000 << "";
        QTest::newRow("damaged") << "garbage.mp3" << 5 << 11025 << -1 << "";
        QTest::newRow("missing") << "missing.flac" << 5 << 11025 << -1 << "No such file or directory";
    }
    void decodesRealFile()
    {
        if (!haveFfmpeg)
            QSKIP("ffmpeg is not installed");
        QFETCH(QString, name);
        QFETCH(int, seconds);
        QFETCH(int, rate);
        QFETCH(int, expected);
        QFETCH(QString, error);
        std::vector<float> samples;
        qint64 duration = -1;
        QString message = QStringLiteral("stale");
        QCOMPARE(AudioDecode::decodeWithFfmpeg(dir.filePath(name), rate, seconds, samples, duration, message),
                 expected >= 0);
        if (expected < 0) {
            QVERIFY2(!message.isEmpty() && !message.startsWith(QStringLiteral("ffmpeg failed")) &&
                         message.contains(error) && !message.contains(QLatin1String("[error]")) &&
                         !message.contains(QLatin1String("[warning]")),
                     qPrintable(message));
            return;
        }
        QVERIFY2(message.isEmpty(), qPrintable(message));
        QVERIFY2(std::abs(int(samples.size()) - expected) <= 64, qPrintable(QString::number(samples.size())));
        QCOMPARE(duration, qint64(3000));
        // The default sine source peaks at 1/8 of full scale.
        float peak = 0.0f;
        for (float v : samples)
            peak = std::max(peak, std::fabs(v));
        QVERIFY2(peak > 0.1f && peak < 0.15f, qPrintable(QString::number(peak)));
    }

    void fakeTool_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<int>("seconds");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("samples");
        QTest::addColumn<qint64>("durationMs");
        // Ending before the limit, the decode measured the whole stream.
        QTest::newRow("warning and exit 1 after audio")
            << QByteArray("head -c 4000 /dev/zero; echo 'some warning' >&2; exit 1") << 5 << true << QString()
            << 1000 << qint64(90);
        QTest::newRow("partial sample ignored")
            << QByteArray("head -c 4003 /dev/zero") << 5 << true << QString() << 1000 << qint64(90);
        QTest::newRow("cut at the limit, no length given")
            << QByteArray("head -c 44100 /dev/zero") << 1 << true << QString() << 11025 << qint64(0);
        // The input's length is the line indented by two; metadata lines are indented further.
        QTest::newRow("cut at the limit, length given")
            << QByteArray(
                   "printf '%s\\n' '[info]     Duration: 00:00:09.00, x' '[info]   Duration: 01:02:03.45, "
                   "start: 0.000000, bitrate: 128 kb/s' >&2; head -c 44100 /dev/zero")
            << 1 << true << QString() << 11025 << qint64(3723450);
        QTest::newRow("only the error lines")
            << QByteArray("printf '%s\\n' \"[info] Input #0, mp3, from 'x.mp3':\" '[info]   Duration: N/A' "
                          "'[mp3 @ 0x5a] [warning] odd frame' '[mp3 @ 0x5a] [error] Header missing' "
                          "'[error] x.mp3: Invalid data found' >&2; exit 1")
            << 5 << false << "[mp3 @ 0x5a] Header missing\nx.mp3: Invalid data found" << 0 << qint64(0);
        QTest::newRow("stderr text, trimmed") << QByteArray("echo '  Invalid data found  ' >&2; exit 1") << 5
                                              << false << "Invalid data found" << 0 << qint64(0);
        QTest::newRow("exit code only")
            << QByteArray("exit 3") << 5 << false << "ffmpeg failed (exit 3)" << 0 << qint64(0);
        QTest::newRow("nothing produced")
            << QByteArray("exit 0") << 5 << false << "ffmpeg produced no audio" << 0 << qint64(0);
        QTest::newRow("less than one sample")
            << QByteArray("printf abc") << 5 << false << "ffmpeg produced no audio" << 0 << qint64(0);
        QTest::newRow("crashes") << QByteArray("kill -9 $$") << 5 << false << "ffmpeg failed (exit" << 0
                                 << qint64(0);
        QTest::newRow("cannot start") << QByteArray("#!/nonexistent/interpreter") << 5 << false
                                      << "could not start ffmpeg" << 0 << qint64(0);
        // A run's time counts from its start: a tool that keeps writing a little never earns more.
        // (The child runs with a time floor of 2 s instead of 30 s.)
        QTest::newRow("trickles past its time")
            << QByteArray("i=0; while [ $i -lt 60 ]; do head -c 4 /dev/zero; sleep 0.2; i=$((i+1)); done")
            << 1 << false << "ffmpeg timed out" << 0 << qint64(0);
    }
    void fakeTool()
    {
        QFETCH(QByteArray, script);
        QFETCH(int, seconds);
        QFETCH(bool, ok);
        QFETCH(QString, error);
        QFETCH(int, samples);
        QFETCH(qint64, durationMs);
        if (!toolsupport::inChild()) {
            const QString path = toolsupport::writeScript(dir.path(), QStringLiteral("ffmpeg-fake"), script);
            VERIFY_IN_CHILD({{"RVW_FFMPEG", path}, {"RVW_TOOL_MIN_SECONDS", "2"}});
            return;
        }
        std::vector<float> out{1.0f};
        qint64 duration = -1;
        QString message = QStringLiteral("stale");
        QCOMPARE(AudioDecode::decodeWithFfmpeg(QStringLiteral("/some/file.mp3"), 11025, seconds, out,
                                               duration, message),
                 ok);
        if (error.isEmpty())
            QCOMPARE(message, error);
        else
            QVERIFY2(message.startsWith(error), qPrintable(message));
        if (ok) {
            QCOMPARE(int(out.size()), samples);
            QCOMPARE(out.front(), 0.0f);
            QCOMPARE(duration, durationMs);
        }
    }

    void commandLine_data()
    {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<int>("rate");
        QTest::addColumn<QStringList>("limit");
        QTest::newRow("with a limit") << 7 << 11025 << QStringList{"-t", "7"};
        QTest::newRow("no limit") << 0 << 22050 << QStringList{};
    }
    void commandLine()
    {
        QFETCH(int, seconds);
        QFETCH(int, rate);
        QFETCH(QStringList, limit);
        const QString file = QStringLiteral("/music/A Song (live).flac");
        const QStringList expected =
            QStringList{"-nostdin", "-hide_banner", "-nostats", "-loglevel", "level+info", "-i", file} +
            limit + QStringList{"-ac", "1", "-ar", QString::number(rate), "-f", "f32le", "-"};
        const QString argsFile = dir.filePath(QStringLiteral("args.txt"));
        if (!toolsupport::inChild()) {
            const QString path = toolsupport::writeArgsRecorder(dir.path(), QStringLiteral("ffmpeg-args"),
                                                                "head -c 8 /dev/zero");
            VERIFY_IN_CHILD({{"RVW_FFMPEG", path}, {"RVW_TEST_ARGS", argsFile}});
            QCOMPARE(toolsupport::recordedArgs(argsFile), expected);
            return;
        }
        std::vector<float> out;
        qint64 duration = 0;
        QString error;
        QVERIFY2(AudioDecode::decodeWithFfmpeg(file, rate, seconds, out, duration, error), qPrintable(error));
        QCOMPARE(out.size(), size_t(2));
    }

    void lookupOrder_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<bool>("system"); // the lookup falls through to the search path
        QTest::newRow("variable names a program") << "env" << false;
        QTest::newRow("variable names a non-executable file") << "env-noexec" << true;
        QTest::newRow("variable names a folder") << "env-folder" << true;
        QTest::newRow("program folder, .exe first") << "appdir-both" << false;
        QTest::newRow("program folder, plain name") << "appdir-plain" << false;
        QTest::newRow("nothing anywhere") << "none" << false;
    }
    void lookupOrder()
    {
        QFETCH(QString, setup);
        QFETCH(bool, system);
        if (!toolsupport::inChild()) {
            QTemporaryDir where;
            QVERIFY(where.isValid());
            QMap<QString, QString> env;
            QString program;
            QString expected;
            if (setup.startsWith(QLatin1String("env"))) {
                const QString tool = setup == QLatin1String("env-folder")
                                         ? where.path()
                                         : toolsupport::writeScript(where.path(), QStringLiteral("my-ffmpeg"),
                                                                    "exit 0", setup == QLatin1String("env"));
                env.insert(QStringLiteral("RVW_FFMPEG"), tool);
                expected = tool;
            } else if (setup.startsWith(QLatin1String("appdir"))) {
                program = where.filePath(QStringLiteral("tst_copy"));
                QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), program));
                QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner));
                expected = toolsupport::writeScript(where.path(), QStringLiteral("ffmpeg"), "exit 0");
                if (setup == QLatin1String("appdir-both"))
                    expected = toolsupport::writeScript(where.path(), QStringLiteral("ffmpeg.exe"), "exit 0");
            } else {
                env.insert(QStringLiteral("PATH"), where.path());
            }
            if (system)
                expected = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
            env.insert(QStringLiteral("RVW_TEST_EXPECTED"), expected); // empty: not set at all
            VERIFY_IN_CHILD(env, program);
            return;
        }
        const QString expected = qEnvironmentVariable("RVW_TEST_EXPECTED");
        QCOMPARE(AudioDecode::ffmpegPath(), expected);
        QCOMPARE(AudioDecode::ffmpegAvailable(), !expected.isEmpty());
        // Resolved once: later changes to the environment are not seen.
        qputenv("RVW_FFMPEG", QFile::encodeName(QCoreApplication::applicationFilePath()));
        QCOMPARE(AudioDecode::ffmpegPath(), expected);
        if (expected.isEmpty()) {
            std::vector<float> out;
            qint64 duration = 0;
            QString error;
            QVERIFY(!AudioDecode::decodeWithFfmpeg(QStringLiteral("/x.mp3"), 11025, 5, out, duration, error));
            QCOMPARE(error, QStringLiteral("ffmpeg not found"));
        }
    }

private:
    QTemporaryDir dir;
    bool haveFfmpeg = false;
};

QTEST_MAIN(TestAudioDecode)
#include "tst_audiodecode.moc"

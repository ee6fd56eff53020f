// Decoding through ffmpeg: real runs, fake tools for every way a run can end, the command line, and
// where the program is looked for.

#include "audio/AudioDecode.h"

#include "audio/ToolTestSupport.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace rvw;

class TestAudioDecode : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    // "<samples> samples from <first>, <duration> ms" and any message left, or the message alone.
    static QString decode(const QString &file, int seconds, std::vector<float> &out, int rate = 11025)
    {
        qint64 duration = -1;
        QString message = "stale";
        if (!AudioDecode::decodeWithFfmpeg(file, rate, seconds, out, duration, message))
            return message;
        return QString("%1 samples from %2, %3 ms").arg(out.size()).arg(out.front()).arg(duration) + message;
    }

private slots:
    // Real ffmpeg runs: the part asked for, the file's length however much of it was decoded, and
    // ffmpeg's own error lines without their level tags when it fails.
    void decodesRealFile_data()
    {
        QTest::addColumn<QString>("row"); // "file seconds samples", or "file seconds fail: error"
        QTest::newRow("one second") << "tone.wav 1 11025";
        QTest::newRow("whole file when seconds is 0") << "tone.wav 0 33075";
        QTest::newRow("damaged") << "garbage.mp3 5 fail: ";
        QTest::newRow("missing") << "missing.flac 5 fail: No such file or directory";
    }
    void decodesRealFile()
    {
        QFETCH(QString, row);
        if (!toolsupport::haveTool("ffmpeg"))
            QSKIP("ffmpeg is not installed");
        const QString tone = dir.filePath("tone.wav"), garbage = dir.filePath("garbage.mp3");
        QString error;
        QVERIFY2(QFile::exists(tone) || toolsupport::ffmpeg({"-f", "lavfi", "-i", "sine=f=440:d=3:r=44100",
                                                             "-ac", "2", "-c:a", "pcm_s16le", tone},
                                                            &error),
                 qPrintable(error));
        QFile damaged(garbage);
        QVERIFY(damaged.open(QIODevice::WriteOnly | QIODevice::Unbuffered) &&
                damaged.write(QByteArray(5000, 'x')));
        std::vector<float> samples;
        const QStringList f = row.split(' ');
        const QString got = decode(dir.filePath(f[0]), f[1].toInt(), samples);
        if (f[2] == "fail:") {
            QVERIFY2(!got.isEmpty() && got.contains(row.section(' ', 3)) && !got.contains(" samples from ") &&
                         !got.contains("ffmpeg failed") && !got.contains("[error]") &&
                         !got.contains("[warning]"),
                     qPrintable(got));
            return;
        }
        QVERIFY2(got.endsWith(", 3000 ms") && std::abs(int(samples.size()) - f[2].toInt()) <= 64,
                 qPrintable(got));
        // The default sine source peaks at 1/8 of full scale.
        const float peak = std::fabs(*std::max_element(
            samples.begin(), samples.end(), [](float a, float b) { return std::fabs(a) < std::fabs(b); }));
        QVERIFY2(peak > 0.1f && peak < 0.15f, qPrintable(QString::number(peak)));
    }

    // Fake tools at 11,025 Hz, a 4-byte float a sample. Ending before the limit, the decode measured
    // the whole stream; the input's length is the line indented by two, metadata lines further.
    void fakeTool_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("seconds");
        QTest::addColumn<QString>("expect");
        // clang-format off
        QTest::newRow("warning, exit 1 and a partial sample after audio") << "head -c 4003 /dev/zero; echo 'some warning' >&2; exit 1" << 5 << "1000 samples from 0, 90 ms";
        QTest::newRow("cut at the limit, no length given") << "head -c 44100 /dev/zero" << 1 << "11025 samples from 0, 0 ms";
        QTest::newRow("cut at the limit, length given") << "printf '%s\\n' '[info]     Duration: 00:00:09.00, x' '[info]   Duration: 01:02:03.45, start: 0.000000, bitrate: 128 kb/s' >&2; head -c 44100 /dev/zero" << 1 << "11025 samples from 0, 3723450 ms";
        QTest::newRow("only the error lines and untagged ones, trimmed") << "printf '%s\\n' \"[info] Input #0, mp3, from 'x.mp3':\" '[info]   Duration: N/A' '[mp3 @ 0x5a] [warning] odd frame' '[mp3 @ 0x5a] [error] Header missing' '[error] x.mp3: Invalid data found' '  Untagged  ' '[a] [b] [info] a tag only after two prefixes' >&2; exit 1" << 5 << "[mp3 @ 0x5a] Header missing\nx.mp3: Invalid data found\nUntagged\n[a] [b] [info] a tag only after two prefixes";
        QTest::newRow("exit code only") << "exit 3" << 5 << "ffmpeg failed (exit 3)";
        QTest::newRow("crashes") << "kill -9 $$" << 5 << "ffmpeg failed (exit 9)";
        QTest::newRow("less than one sample") << "printf abc" << 5 << "ffmpeg produced no audio";
        QTest::newRow("cannot start") << "#!/nonexistent/interpreter" << 5 << "could not start ffmpeg";
        // A run's time counts from its start: a tool that keeps writing a little never earns more.
        // (The child runs with a time floor of 2 s instead of 30 s.)
        QTest::newRow("trickles past its time") << "i=0; while [ $i -lt 60 ]; do head -c 4 /dev/zero; sleep 0.2; i=$((i+1)); done" << 1 << "ffmpeg timed out";
        // clang-format on
    }
    void fakeTool()
    {
        QFETCH(QString, script);
        QFETCH(int, seconds);
        QFETCH(QString, expect);
        if (!toolsupport::inChild()) {
            const QString path = toolsupport::writeScript(dir.path(), "ffmpeg-fake", script.toUtf8());
            VERIFY_IN_CHILD({{"RVW_FFMPEG", path}, {"RVW_TOOL_MIN_SECONDS", "2"}});
            return;
        }
        std::vector<float> out{1.0f};
        QCOMPARE(decode("/some/file.mp3", seconds, out), expect);
    }

    void commandLine()
    {
        const QString file = "/music/A Song (live).flac";
        const QString args =
            toolsupport::inChild() ? qEnvironmentVariable("RVW_TEST_ARGS") : dir.filePath("args.txt");
        if (!toolsupport::inChild()) {
            const QString path =
                toolsupport::writeArgsRecorder(dir.path(), "ffmpeg-args", "head -c 8 /dev/zero");
            VERIFY_IN_CHILD({{"RVW_FFMPEG", path}, {"RVW_TEST_ARGS", args}});
            return;
        }
        const QStringList head{"-nostdin", "-hide_banner", "-nostats", "-loglevel", "level+info", "-i", file};
        for (const int seconds : {7, 0}) {
            std::vector<float> out;
            const QString rate = seconds ? "11025" : "22050";
            QCOMPARE(decode(file, seconds, out, rate.toInt()), "2 samples from 0, 0 ms");
            const QStringList limit = seconds ? QStringList{"-t", "7"} : QStringList();
            const QStringList tail{"-ac", "1", "-ar", rate, "-f", "f32le", "-"};
            QCOMPARE(toolsupport::recordedArgs(args), head + limit + tail);
        }
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
            QMap<QString, QString> env{
                {"PATH", setup == "none" ? where.path() : qEnvironmentVariable("PATH")}};
            QString program, expected;
            if (setup.startsWith("env")) {
                expected = setup == "env-folder" ? where.path()
                                                 : toolsupport::writeScript(where.path(), "my-ffmpeg",
                                                                            "exit 0", setup == "env");
                env.insert("RVW_FFMPEG", expected);
            } else if (setup.startsWith("appdir")) {
                program = where.filePath("tst_copy");
                QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), program));
                QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner));
                expected = toolsupport::writeScript(where.path(), "ffmpeg", "exit 0");
                if (setup == "appdir-both")
                    expected = toolsupport::writeScript(where.path(), "ffmpeg.exe", "exit 0");
            }
            if (system)
                expected = QStandardPaths::findExecutable("ffmpeg");
            env.insert("RVW_TEST_EXPECTED", expected); // empty: not set at all
            VERIFY_IN_CHILD(env, program);
            return;
        }
        const QString expected = qEnvironmentVariable("RVW_TEST_EXPECTED");
        QCOMPARE(AudioDecode::ffmpegPath(), expected);
        QCOMPARE(AudioDecode::ffmpegAvailable(), !expected.isEmpty());
        // Resolved once: later changes to the environment are not seen.
        qputenv("RVW_FFMPEG", QFile::encodeName(QCoreApplication::applicationFilePath()));
        QCOMPARE(AudioDecode::ffmpegPath(), expected);
        std::vector<float> out;
        QCOMPARE(decode("/x.mp3", 5, out).startsWith("ffmpeg not found"), expected.isEmpty());
    }
};

QTEST_MAIN(TestAudioDecode)
#include "tst_audiodecode.moc"

#include "app/Platform.h"
#include "audio/Fingerprint.h"
#include "audio/FingerprintPool.h"

#include "audio/ToolTestSupport.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

using namespace rvw;
using Jobs = QList<std::pair<int, QString>>;

namespace {

FingerprintResult resultAt(const QSignalSpy &spy, int i)
{
    return spy.at(i).at(1).value<FingerprintResult>();
}

// Runs one job through a one-lane pool: every result reported.
QList<FingerprintResult> runOne(const QString &path, bool useFpcalc = false, int seconds = 10)
{
    FingerprintPool pool(1, seconds, useFpcalc);
    QSignalSpy completed(&pool, &FingerprintPool::completed);
    pool.run({{5, path}});
    QList<FingerprintResult> results;
    for (int i = 0; i < completed.count(); ++i)
        results.append(resultAt(completed, i));
    return results;
}

// Which tools a job finds: the system's, ffmpeg alone, a broken ffmpeg, or none.
constexpr int System = 0, FfmpegOnly = 1, Broken = 2, NoTools = 3;

bool near(qint64 value, qint64 expected, int percent)
{
    return std::abs(value - expected) * 100 <= expected * percent;
}

} // namespace

class TestFingerprintPool : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Before any multimedia object exists, so Qt's decoder handles MP3 here too.
        Platform::applyDecoderRanking();
        QVERIFY(dir.isValid());
        // A child works on the files its parent made.
        base = toolsupport::inChild() ? qEnvironmentVariable("RVW_TEST_DIR") : dir.path();
        haveFiles = toolsupport::inChild();
        if (haveFiles || !toolsupport::haveTool("ffmpeg"))
            return;
        QVERIFY(toolsupport::ffmpeg(rvwtest::melodyInput(1, 3) +
                                    QStringList{"-c:a", "pcm_s16le", file("music.wav")}));
        // 16-bit: Qt's GStreamer decoder here cannot take the 24-bit FLAC ffmpeg makes by default.
        // Streamed Matroska carries no length. The long files run past the 60 s analysed by
        // default, in formats the tag reader gives no length for.
        QStringList args = QStringLiteral("-i music.wav -stream_loop 24 -i music.wav "
                                          "-map 0 -c:a flac -sample_fmt s16 music.flac "
                                          "-map 0 -c:a libmp3lame -b:a 128k music.mp3 "
                                          "-map 0 -c:a flac -sample_fmt s16 -f matroska -live 1 music.mka "
                                          "-map 0 -t 0.3 -c:a pcm_s16le short.wav "
                                          "-map 1 -c:a wmav2 long.wma -map 1 -c:a aac -f adts long.aac "
                                          "-map 1 -c:a flac -sample_fmt s16 -f matroska -live 1 long.mka")
                               .split(QLatin1Char(' '));
        for (QString &a : args)
            if (a.contains(QLatin1Char('.')) && !a.startsWith(QLatin1Char('0')))
                a = file(a);
        QVERIFY(toolsupport::ffmpeg(args));
        QVERIFY(QFile::copy(file("music.wav"), file("slow.wav")));
        QFile garbage(file("garbage.mp3"));
        QVERIFY(garbage.open(QIODevice::WriteOnly) && garbage.write(QByteArray(20000, '\x5a')) == 20000);
        haveFiles = true;
    }

    // Every job reported once, with progress counting up, on 1..16 lanes, each a running thread the
    // pool owns; the same pool takes another batch and gives the same words for the same file. A
    // decoder that holds the slow file until three others are decoded holds only its own lane: the
    // rest pass it, in job order.
    void batches_data()
    {
        QTest::addColumn<int>("threads");
        QTest::addColumn<int>("lanes");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QList<int>>("order"); // of completion, where it is certain
        const QStringList three{"music.wav", "music.flac", "music.mp3"};
        QTest::newRow("ten jobs on two lanes")
            << 2 << 2
            << QString("music.wav music.flac ").repeated(5).split(QLatin1Char(' '), Qt::SkipEmptyParts)
            << QList<int>{};
        QTest::newRow("no thread count: one lane") << 0 << 1 << three << QList<int>{100, 101, 102, 1};
        QTest::newRow("17 threads: 16 lanes") << 17 << 16 << three << QList<int>{};
        QTest::newRow("slow first job on two lanes")
            << 2 << 2 << QStringList{"slow.wav", "music.wav", "music.flac", "music.wav"}
            << QList<int>{101, 102, 103, 100, 1};
    }
    void batches()
    {
        if (!haveFiles)
            QSKIP("ffmpeg is not installed");
        QFETCH(int, threads);
        QFETCH(int, lanes);
        QFETCH(QStringList, files);
        QFETCH(QList<int>, order);
        if (!toolsupport::inChild()) {
            QTemporaryDir bin;
            const QByteArray marks = QFile::encodeName(bin.filePath("mark"));
            const QByteArray script =
                "case \"$*\" in *slow*) i=0; while [ $(ls '" + marks +
                "'.* 2>/dev/null | wc -l) -lt 3 ] && "
                "[ $i -lt 400 ]; do sleep 0.05; i=$((i+1)); done; sleep 0.5 ;; esac\n'" +
                QFile::encodeName(QStandardPaths::findExecutable(QStringLiteral("ffmpeg"))) +
                "' \"$@\"; rc=$?; touch '" + marks + ".'$$; exit $rc";
            const QString fake = toolsupport::writeScript(bin.path(), QStringLiteral("ffmpeg-slow"), script);
            VERIFY_IN_CHILD({{"RVW_FFMPEG", fake}, {"RVW_TEST_DIR", dir.path()}});
            return;
        }
        FingerprintPool pool(threads, 10, false);
        QCOMPARE(pool.laneCount(), lanes);
        for (QThread *t : pool.laneThreads())
            QVERIFY(t->isRunning() && t->parent() == &pool);
        QSignalSpy completed(&pool, &FingerprintPool::completed);
        QSignalSpy progress(&pool, &FingerprintPool::progress);
        // An empty batch, or one cancelled before it starts, hands out no job.
        const QAtomicInt cancel(1);
        pool.run({});
        pool.run({{1, file("missing.flac")}}, &cancel);
        Jobs jobs;
        for (int i = 0; i < files.size(); ++i)
            jobs.append({100 + i, file(files[i])});
        pool.run(jobs);
        pool.run({{1, file("music.wav")}});
        const int n = int(files.size());
        QCOMPARE(completed.count(), n + 1);
        QStringList seen, expected;
        QList<int> ids;
        for (int i = 0; i <= n; ++i) {
            const FingerprintResult r = resultAt(completed, i);
            ids << completed.at(i).at(0).toInt();
            seen << QStringLiteral("%1/%2 %3 words>=15:%4 masks:%5 3 s:%6")
                        .arg(progress.at(i).at(0).toInt())
                        .arg(progress.at(i).at(1).toInt())
                        .arg(r.error)
                        .arg(r.fingerprint.size() >= 15)
                        .arg(r.fingerprintMask.size() == r.fingerprint.size() &&
                             r.fingerprintAltMask.size() == r.fingerprintAlt.size())
                        .arg(near(r.durationMs, 3000, 2));
            expected << QStringLiteral("%1/%2  words>=15:1 masks:1 3 s:1")
                            .arg(i < n ? i + 1 : 1)
                            .arg(i < n ? n : 1);
            if (ids.last() == 100) // music.wav or its copy, as job 1 of the second batch
                QCOMPARE(resultAt(completed, n).fingerprint, r.fingerprint);
        }
        QCOMPARE(seen, expected);
        if (order.isEmpty()) { // which lane finishes first is up to the scheduler
            std::sort(ids.begin(), ids.end());
            order << 1;
            for (int i = 0; i < n; ++i)
                order << 100 + i;
        }
        QCOMPARE(ids, order);
    }

    // Which engine and decoder a job ends up with, and what it reports. The length of a file
    // analysed only in part (the long ones, at 60 s) is the stream's, or unknown (0); never that of
    // the part. ffmpeg estimates a raw stream's length from its bitrate; close enough for the grouper.
    void oneJob_data()
    {
        QTest::addColumn<int>("tools");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("useFpcalc");
        QTest::addColumn<qint64>("durationMs"); // -1: fails
        QTest::newRow("0.3 s") << System << "short.wav" << false << qint64(-1);
        QTest::newRow("missing") << System << "missing.flac" << false << qint64(-1);
        QTest::newRow("fpcalc") << System << "music.flac" << true << qint64(3000);
        QTest::newRow("no fpcalc, built-in") << FfmpegOnly << "music.flac" << true << qint64(3000);
        QTest::newRow("ffmpeg fails, Qt decodes") << Broken << "music.wav" << false << qint64(3000);
        QTest::newRow("no ffmpeg, Qt decodes") << NoTools << "music.flac" << false << qint64(3000);
        QTest::newRow("both fail") << Broken << "garbage.mp3" << false << qint64(-1);
        QTest::newRow("WMA") << System << "long.wma" << false << qint64(75000);
        QTest::newRow("raw ADTS") << System << "long.aac" << false << qint64(75000);
        QTest::newRow("streamed Matroska") << System << "long.mka" << false << qint64(0);
    }
    void oneJob()
    {
        QFETCH(int, tools);
        QFETCH(QString, name);
        QFETCH(bool, useFpcalc);
        QFETCH(qint64, durationMs);
        if (!haveFiles || (useFpcalc && tools == System && !toolsupport::haveTool("fpcalc")))
            QSKIP("ffmpeg or fpcalc is not installed");
        if (tools != System && !toolsupport::inChild()) {
            QTemporaryDir bin;
            QMap<QString, QString> env{{"RVW_TEST_DIR", dir.path()}, {"PATH", bin.path()}};
            if (tools == Broken)
                env.insert(QStringLiteral("RVW_FFMPEG"),
                           toolsupport::writeScript(bin.path(), QStringLiteral("ff"),
                                                    "echo 'broken decoder' >&2; exit 1"));
            else if (tools == FfmpegOnly)
                QVERIFY(QFile::link(QStandardPaths::findExecutable(QStringLiteral("ffmpeg")),
                                    bin.filePath("ffmpeg")));
            VERIFY_IN_CHILD(env);
            return;
        }
        const QList<FingerprintResult> results =
            runOne(file(name), useFpcalc, name.startsWith("long") ? 60 : 10);
        QCOMPARE(results.size(), 1);
        const FingerprintResult &r = results[0];
        if (durationMs < 0) {
            QVERIFY(r.fingerprint.isEmpty() && !r.error.isEmpty());
            return;
        }
        QVERIFY2(r.error.isEmpty(), qPrintable(r.error));
        const bool builtIn = !(useFpcalc && tools == System);
        QVERIFY(r.fingerprint.size() >= (builtIn ? 15 : 1));
        QVERIFY2(near(r.durationMs, durationMs, 5), qPrintable(QString::number(r.durationMs)));
        QCOMPARE(r.fingerprintMask.size(), builtIn ? r.fingerprint.size() : 0);
        QCOMPARE(r.fingerprintAltMask.size(), r.fingerprintAlt.size());
        QCOMPARE(r.fingerprintAlt.isEmpty(), !builtIn);
    }

    // Qt's decoder alone: the frame budget, the stream's length; and the same audio through ffmpeg's
    // resampler gives nearly the same words. (Damaged input: "both fail" above.)
    void decodeWithQt_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("seconds");
        QTest::addColumn<int>("minWords");
        QTest::addColumn<int>("maxWords");
        QTest::newRow("WAV") << "music.wav" << 10 << 15 << 30;
        QTest::newRow("MP3") << "music.mp3" << 10 << 15 << 30;
        QTest::newRow("Matroska without a length") << "music.mka" << 10 << 15 << 30;
        // One second is 48,000 frames, or a little more (whole buffers) at 11,025 Hz: 4 to 6 words.
        QTest::newRow("frame budget") << "music.wav" << 1 << 4 << 6;
    }
    void decodeWithQt()
    {
        if (!haveFiles)
            QSKIP("ffmpeg is not installed");
        QFETCH(QString, name);
        QFETCH(int, seconds);
        QFETCH(int, minWords);
        QFETCH(int, maxWords);
        FingerprintWorker worker(seconds, false);
        Fingerprint::Analyzer analyzer;
        qint64 durationMs = 0;
        QString error;
        worker.decodeWithQt(analyzer, file(name), durationMs, error);
        const QList<quint32> words = analyzer.mainGenerator.finish();
        const int count = analyzer.mainGenerator.wordCount();
        QVERIFY2(count >= minWords && count <= maxWords, qPrintable(QString::number(count)));
        QVERIFY2(error.isEmpty(), qPrintable(error));
        // On a slow machine a decoder stopped early may not have announced the length at all.
        QVERIFY2((seconds < 3 && durationMs == 0) || near(durationMs, 3000, 3),
                 qPrintable(QString::number(durationMs)));
        if (seconds < 3)
            return;
        const QList<FingerprintResult> viaFfmpeg = runOne(file(name));
        QCOMPARE(viaFfmpeg.size(), 1);
        const FingerprintResult &f = viaFfmpeg[0];
        const double ber = Fingerprint::bestBitErrorRate(words, analyzer.mainGenerator.finishMask(),
                                                         f.fingerprint, f.fingerprintMask, f.fingerprintAlt,
                                                         f.fingerprintAltMask, 48, 10, nullptr);
        QVERIFY2(ber < 0.15, qPrintable(QString::number(ber)));
    }

private:
    QString file(const QString &name) const { return base + QLatin1Char('/') + name; }

    QTemporaryDir dir;
    QString base;
    bool haveFiles = false;
};

QTEST_MAIN(TestFingerprintPool)
#include "tst_fingerprintpool.moc"

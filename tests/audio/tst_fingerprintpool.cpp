#include "app/Platform.h"
#include "audio/Fingerprint.h"
#include "audio/FingerprintPool.h"

#include "audio/ToolTestSupport.h"

#include <QFile>
#include <QSet>
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

// Runs one job (id 5) through a one-lane pool: every result reported for it.
QList<FingerprintResult> runOne(const QString &path, bool useFpcalc = false, int seconds = 10)
{
    FingerprintPool pool(1, seconds, useFpcalc);
    QSignalSpy completed(&pool, &FingerprintPool::completed);
    pool.run({{5, path}});
    QList<FingerprintResult> results;
    for (int i = 0; i < completed.count(); ++i)
        if (completed.at(i).at(0).toInt() == 5)
            results.append(resultAt(completed, i));
    return results;
}

struct QtDecoded
{
    QList<quint32> words, mask;
    int wordCount = 0;
    qint64 durationMs = 0;
    QString error;
};

QtDecoded qtDecode(const QString &path, int seconds)
{
    FingerprintWorker worker(seconds, false);
    Fingerprint::Analyzer analyzer;
    QtDecoded d;
    worker.decodeWithQt(analyzer, path, d.durationMs, d.error);
    d.words = analyzer.mainGenerator.finish();
    d.mask = analyzer.mainGenerator.finishMask();
    d.wordCount = analyzer.mainGenerator.wordCount();
    return d;
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
        QString error;
        QVERIFY2(toolsupport::makeMusic(file("music.wav"), 1, 3, {"-c:a", "pcm_s16le"}, 0.0, &error),
                 qPrintable(error));
        // 16-bit: Qt's GStreamer decoder here cannot take the 24-bit FLAC ffmpeg makes by default.
        QVERIFY(toolsupport::makeMusic(file("music.flac"), 1, 3, {"-c:a", "flac", "-sample_fmt", "s16"}));
        QVERIFY(toolsupport::makeMusic(file("music.mp3"), 1, 3, {"-c:a", "libmp3lame", "-b:a", "128k"}));
        QVERIFY(toolsupport::makeMusic(file("slow.wav"), 1, 3, {"-c:a", "pcm_s16le"}));
        QVERIFY(toolsupport::makeMusic(file("short.wav"), 1, 0.3, {"-c:a", "pcm_s16le"}));
        // Streamed Matroska carries no length.
        QVERIFY(toolsupport::ffmpeg(
            {"-i", file("music.flac"), "-c:a", "copy", "-f", "matroska", "-live", "1", file("music.mka")}));
        // Longer than the 60 s analysed by default, in formats the tag reader gives no length for.
        QVERIFY(toolsupport::makeMusic(file("long.flac"), 1, 75, {"-c:a", "flac", "-sample_fmt", "s16"}));
        QVERIFY(toolsupport::ffmpeg({"-i", file("long.flac"), "-c:a", "wmav2", file("long.wma")}));
        QVERIFY(
            toolsupport::ffmpeg({"-i", file("long.flac"), "-c:a", "aac", "-f", "adts", file("long.aac")}));
        QVERIFY(toolsupport::ffmpeg(
            {"-i", file("long.flac"), "-c:a", "copy", "-f", "matroska", "-live", "1", file("long.mka")}));
        QFile garbage(file("garbage.mp3"));
        QVERIFY(garbage.open(QIODevice::WriteOnly) && garbage.write(QByteArray(20000, '\x5a')) == 20000);
        haveFiles = true;
    }

    void laneCount_data()
    {
        QTest::addColumn<int>("threads");
        QTest::addColumn<int>("lanes");
        QTest::newRow("0 gives one") << 0 << 1;
        QTest::newRow("negative gives one") << -3 << 1;
        QTest::newRow("4") << 4 << 4;
        QTest::newRow("16") << 16 << 16;
        QTest::newRow("40 gives 16") << 40 << 16;
    }
    void laneCount()
    {
        QFETCH(int, threads);
        QFETCH(int, lanes);
        FingerprintPool pool(threads, 10, false);
        QCOMPARE(pool.laneCount(), lanes);
        const QList<QThread *> threadsOfPool = pool.laneThreads();
        for (int i = 0; i < threadsOfPool.size(); ++i) {
            QCOMPARE(threadsOfPool[i]->objectName(), QStringLiteral("rvw-fingerprint-%1").arg(i));
            QVERIFY(threadsOfPool[i]->isRunning());
            QCOMPARE(threadsOfPool[i]->parent(), &pool);
        }
    }

    void emptyBatchReturnsAtOnce()
    {
        FingerprintPool pool(2, 10, false);
        QSignalSpy completed(&pool, &FingerprintPool::completed);
        QSignalSpy progress(&pool, &FingerprintPool::progress);
        pool.run({});
        QCOMPARE(completed.count(), 0);
        QCOMPARE(progress.count(), 0);
    }

    void batches_data()
    {
        QTest::addColumn<int>("lanes");
        QTest::addColumn<QStringList>("files");
        QStringList ten;
        for (int i = 0; i < 10; ++i)
            ten << (i % 2 ? "music.flac" : "music.wav");
        QTest::newRow("ten jobs on two lanes") << 2 << ten;
        QTest::newRow("three jobs on four lanes") << 4 << QStringList{"music.wav", "music.flac", "music.mp3"};
    }
    void batches()
    {
        if (!haveFiles)
            QSKIP("ffmpeg is not installed");
        QFETCH(int, lanes);
        QFETCH(QStringList, files);
        FingerprintPool pool(lanes, 10, false);
        QSignalSpy completed(&pool, &FingerprintPool::completed);
        QSignalSpy progress(&pool, &FingerprintPool::progress);
        Jobs jobs;
        for (int i = 0; i < files.size(); ++i)
            jobs.append({100 + i, file(files[i])});
        pool.run(jobs);
        const int n = int(files.size());
        QCOMPARE(completed.count(), n);
        QCOMPARE(progress.count(), n);
        QSet<int> ids;
        for (int i = 0; i < n; ++i) {
            ids.insert(completed.at(i).at(0).toInt());
            QCOMPARE(progress.at(i), (QVariantList{i + 1, n}));
            const FingerprintResult r = resultAt(completed, i);
            QVERIFY2(r.error.isEmpty(), qPrintable(r.error));
            QVERIFY(r.fingerprint.size() >= 15);
            QCOMPARE(r.fingerprintMask.size(), r.fingerprint.size());
            QCOMPARE(r.fingerprintAltMask.size(), r.fingerprintAlt.size());
            QVERIFY2(std::abs(r.durationMs - 3000) < 50, qPrintable(QString::number(r.durationMs)));
        }
        QCOMPARE(ids.size(), n);
        QVERIFY(ids.contains(100) && ids.contains(100 + n - 1));
        // The same pool takes another batch, and gives the same words for the same file.
        pool.run({{1, file("music.wav")}});
        QCOMPARE(completed.count(), n + 1);
        QCOMPARE(progress.last(), (QVariantList{1, 1}));
        for (int i = 0; i < n; ++i) {
            if (completed.at(i).at(0).toInt() == 100) { // job 100 is music.wav
                QCOMPARE(resultAt(completed, n).fingerprint, resultAt(completed, i).fingerprint);
                break;
            }
        }
    }

    void completionOrderIsNotJobOrder()
    {
        if (!haveFiles)
            QSKIP("ffmpeg is not installed");
        if (!toolsupport::inChild()) {
            // A decoder that takes seconds for one file holds only its own lane.
            const QByteArray script =
                "case \"$*\" in *slow*) sleep 8 ;; esac\nexec '" +
                QFile::encodeName(QStandardPaths::findExecutable(QStringLiteral("ffmpeg"))) + "' \"$@\"";
            const QString fake = toolsupport::writeScript(dir.path(), QStringLiteral("ffmpeg-slow"), script);
            VERIFY_IN_CHILD({{"RVW_FFMPEG", fake}, {"RVW_TEST_DIR", dir.path()}});
            return;
        }
        FingerprintPool pool(2, 10, false);
        QSignalSpy completed(&pool, &FingerprintPool::completed);
        QSignalSpy progress(&pool, &FingerprintPool::progress);
        pool.run(
            {{0, file("slow.wav")}, {1, file("music.wav")}, {2, file("music.flac")}, {3, file("music.wav")}});
        QCOMPARE(completed.count(), 4);
        QList<int> order;
        for (const QList<QVariant> &args : std::as_const(completed))
            order.append(args.at(0).toInt());
        // the slow job finishes last; the fast ones share the other lane in job order
        QCOMPARE(order, (QList<int>{1, 2, 3, 0}));
        QCOMPARE(progress.last(), (QVariantList{4, 4}));
        QVERIFY(!resultAt(completed, 3).fingerprint.isEmpty());
    }

    void tooShortOrMissingFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("error");
        QTest::newRow("0.3 s") << "short.wav"
                               << "No decodable audio found";
        QTest::newRow("missing") << "missing.flac" << QString();
    }
    void tooShortOrMissingFile()
    {
        if (!haveFiles)
            QSKIP("ffmpeg is not installed");
        QFETCH(QString, name);
        QFETCH(QString, error);
        const QList<FingerprintResult> results = runOne(file(name));
        QCOMPARE(results.size(), 1);
        QVERIFY(results[0].fingerprint.isEmpty());
        if (error.isEmpty())
            QVERIFY(!results[0].error.isEmpty());
        else
            QCOMPARE(results[0].error, error);
    }

    void fpcalcEngine()
    {
        if (!haveFiles || !toolsupport::haveTool("fpcalc"))
            QSKIP("ffmpeg or fpcalc is not installed");
        const QList<FingerprintResult> results = runOne(file("music.flac"), true);
        QCOMPARE(results.size(), 1);
        const FingerprintResult &r = results[0];
        QVERIFY2(r.error.isEmpty(), qPrintable(r.error));
        QVERIFY(!r.fingerprint.isEmpty());
        QVERIFY(r.fingerprintMask.isEmpty() && r.fingerprintAlt.isEmpty() && r.fingerprintAltMask.isEmpty());
        QCOMPARE(r.durationMs, qint64(3000));
    }

    // Without fpcalc the built-in engine takes over.
    void fpcalcSelectedButMissing()
    {
        if (!haveFiles)
            QSKIP("ffmpeg is not installed");
        if (!toolsupport::inChild()) {
            // A search path with ffmpeg on it and no fpcalc.
            QTemporaryDir bin;
            QVERIFY(QFile::link(QStandardPaths::findExecutable(QStringLiteral("ffmpeg")),
                                bin.filePath("ffmpeg")));
            VERIFY_IN_CHILD({{"PATH", bin.path()}, {"RVW_TEST_DIR", dir.path()}});
            return;
        }
        const QList<FingerprintResult> results = runOne(file("music.flac"), true);
        QCOMPARE(results.size(), 1);
        const FingerprintResult &r = results[0];
        QVERIFY2(r.error.isEmpty(), qPrintable(r.error));
        QVERIFY(!r.fingerprint.isEmpty());
        QCOMPARE(r.fingerprintMask.size(), r.fingerprint.size());
        QVERIFY(!r.fingerprintAlt.isEmpty());
    }

    void qtDecoderWhenFfmpegFails_data()
    {
        QTest::addColumn<QString>("ffmpeg");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("words");
        QTest::newRow("ffmpeg fails, Qt decodes") << "broken"
                                                  << "music.wav" << true;
        QTest::newRow("no ffmpeg, Qt decodes") << "none"
                                               << "music.flac" << true;
        QTest::newRow("both fail") << "broken"
                                   << "garbage.mp3" << false;
    }
    void qtDecoderWhenFfmpegFails()
    {
        if (!haveFiles)
            QSKIP("ffmpeg is not installed");
        QFETCH(QString, ffmpeg);
        QFETCH(QString, name);
        QFETCH(bool, words);
        if (!toolsupport::inChild()) {
            QTemporaryDir bin;
            QMap<QString, QString> env{{"RVW_TEST_DIR", dir.path()}, {"PATH", bin.path()}};
            if (ffmpeg == QLatin1String("broken"))
                env.insert(QStringLiteral("RVW_FFMPEG"),
                           toolsupport::writeScript(bin.path(), QStringLiteral("ff"),
                                                    "echo 'broken decoder' >&2; exit 1"));
            VERIFY_IN_CHILD(env);
            return;
        }
        const QList<FingerprintResult> results = runOne(file(name));
        QCOMPARE(results.size(), 1);
        const FingerprintResult &r = results[0];
        if (words) {
            QVERIFY2(r.error.isEmpty(), qPrintable(r.error));
            QVERIFY(r.fingerprint.size() >= 15);
            QVERIFY(std::abs(r.durationMs - 3000) < 100);
        } else {
            QVERIFY(r.fingerprint.isEmpty());
            QVERIFY(!r.error.isEmpty());
        }
    }

    // The length of a file analysed only in part is the stream's, or unknown; never that of the part.
    void lengthBeyondTheLimit_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("expected"); // 0: unknown
        QTest::addColumn<int>("percent");
        QTest::newRow("WMA") << "long.wma" << qint64(75000) << 1;
        // ffmpeg estimates a raw stream's length from its bitrate; close enough for the grouper.
        QTest::newRow("raw ADTS") << "long.aac" << qint64(75000) << 5;
        QTest::newRow("streamed Matroska") << "long.mka" << qint64(0) << 0;
    }
    void lengthBeyondTheLimit()
    {
        if (!haveFiles)
            QSKIP("ffmpeg is not installed");
        QFETCH(QString, name);
        QFETCH(qint64, expected);
        QFETCH(int, percent);
        const QList<FingerprintResult> results = runOne(file(name), false, 60);
        QCOMPARE(results.size(), 1);
        const FingerprintResult &r = results[0];
        QVERIFY2(r.error.isEmpty(), qPrintable(r.error));
        QVERIFY(!r.fingerprint.isEmpty());
        QVERIFY2(std::abs(r.durationMs - expected) * 100 <= expected * percent,
                 qPrintable(QString::number(r.durationMs)));
    }

    void decodeWithQt_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("WAV") << "music.wav";
        QTest::newRow("FLAC") << "music.flac";
        QTest::newRow("MP3") << "music.mp3";
        QTest::newRow("Matroska without a length") << "music.mka";
    }
    void decodeWithQt()
    {
        if (!haveFiles)
            QSKIP("ffmpeg is not installed");
        QFETCH(QString, name);
        const QtDecoded d = qtDecode(file(name), 10);
        QVERIFY2(d.error.isEmpty(), qPrintable(d.error));
        QVERIFY(d.words.size() >= 15);
        QVERIFY2(std::abs(d.durationMs - 3000) < 100, qPrintable(QString::number(d.durationMs)));

        // The same audio through ffmpeg's resampler gives nearly the same words.
        const QList<FingerprintResult> viaFfmpeg = runOne(file(name));
        QCOMPARE(viaFfmpeg.size(), 1);
        const FingerprintResult &f = viaFfmpeg[0];
        const double ber =
            Fingerprint::bestBitErrorRate(d.words, d.mask, f.fingerprint, f.fingerprintMask, f.fingerprintAlt,
                                          f.fingerprintAltMask, 48, 10, nullptr);
        QVERIFY2(ber < 0.15, qPrintable(QString::number(ber)));
    }

    void decodeWithQtFrameBudget()
    {
        if (!haveFiles)
            QSKIP("ffmpeg is not installed");
        // One second is 48,000 frames: a bit more than a second of this 44.1 kHz file.
        const QtDecoded d = qtDecode(file("music.wav"), 1);
        QVERIFY2(d.error.isEmpty(), qPrintable(d.error));
        // 48,000 frames or a little more (whole buffers) at 11,025 Hz: 4 to 6 words, not 21.
        QVERIFY2(d.wordCount >= 4 && d.wordCount <= 6, qPrintable(QString::number(d.wordCount)));
        // The duration is the stream's, never the length of the part decoded. On a slow machine the
        // decoder may be stopped before it announced the length at all, which leaves it unknown.
        QVERIFY2(d.durationMs == 0 || std::abs(d.durationMs - 3000) < 100,
                 qPrintable(QString::number(d.durationMs)));
        QCOMPARE(FingerprintWorker(0, false).secondsToAnalyse(), 120);
    }

    void decodeWithQtDamagedFile()
    {
        if (!haveFiles)
            QSKIP("ffmpeg is not installed");
        const QtDecoded d = qtDecode(file("garbage.mp3"), 5);
        QVERIFY(!d.error.isEmpty());
        QCOMPARE(d.wordCount, 0);
    }

private:
    QString file(const QString &name) const { return base + QLatin1Char('/') + name; }

    QTemporaryDir dir;
    QString base;
    bool haveFiles = false;
};

QTEST_MAIN(TestFingerprintPool)
#include "tst_fingerprintpool.moc"

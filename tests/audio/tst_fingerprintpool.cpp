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

} // namespace

class TestFingerprintPool : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void laneCount_data();
    void laneCount();
    void emptyBatchReturnsAtOnce();
    void tenJobsOnTwoLanes();
    void threeJobsOnFourLanes();
    void completionOrderIsNotJobOrder();
    void tooShortOrMissingFile_data();
    void tooShortOrMissingFile();
    void fpcalcEngine();
    void fpcalcSelectedButMissing();
    void qtDecoderWhenFfmpegFails_data();
    void qtDecoderWhenFfmpegFails();
    void decodeWithQt_data();
    void decodeWithQt();
    void decodeWithQtFrameBudget();
    void decodeWithQtDamagedFile();

private:
    QString file(const char *name) const { return dir.filePath(QString::fromLatin1(name)); }
    void requireTools();

    QTemporaryDir dir;
    bool haveFiles = false;
};

void TestFingerprintPool::initTestCase()
{
    // Before any multimedia object exists, so Qt's decoder handles MP3 here too.
    Platform::applyDecoderRanking();
    QVERIFY(dir.isValid());
    if (toolsupport::inChild()) {
        return;
    }
    if (!toolsupport::haveTool("ffmpeg"))
        return;
    QString error;
    QVERIFY2(toolsupport::makeMusic(file("music.wav"), 1, 3, {"-c:a", "pcm_s16le"}, 0.0, &error),
             qPrintable(error));
    // 16-bit: Qt's GStreamer decoder here cannot take the 24-bit FLAC ffmpeg makes by default.
    QVERIFY(toolsupport::makeMusic(file("music.flac"), 1, 3, {"-c:a", "flac", "-sample_fmt", "s16"}));
    QVERIFY(toolsupport::makeMusic(file("music.mp3"), 1, 3, {"-c:a", "libmp3lame", "-b:a", "128k"}));
    QVERIFY(toolsupport::makeMusic(file("slow.wav"), 1, 3, {"-c:a", "pcm_s16le"}));
    QVERIFY(toolsupport::makeMusic(file("short.wav"), 1, 0.3, {"-c:a", "pcm_s16le"}));
    QFile garbage(file("garbage.mp3"));
    QVERIFY(garbage.open(QIODevice::WriteOnly));
    garbage.write(QByteArray(20000, '\x5a'));
    haveFiles = true;
}

void TestFingerprintPool::requireTools()
{
    if (toolsupport::inChild())
        haveFiles = true;
}

void TestFingerprintPool::laneCount_data()
{
    QTest::addColumn<int>("threads");
    QTest::addColumn<int>("lanes");
    QTest::newRow("0 gives one") << 0 << 1;
    QTest::newRow("negative gives one") << -3 << 1;
    QTest::newRow("4") << 4 << 4;
    QTest::newRow("16") << 16 << 16;
    QTest::newRow("40 gives 16") << 40 << 16;
}

void TestFingerprintPool::laneCount()
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

void TestFingerprintPool::emptyBatchReturnsAtOnce()
{
    FingerprintPool pool(2, 10, false);
    QSignalSpy completed(&pool, &FingerprintPool::completed);
    QSignalSpy progress(&pool, &FingerprintPool::progress);
    pool.run({});
    QCOMPARE(completed.count(), 0);
    QCOMPARE(progress.count(), 0);
}

void TestFingerprintPool::tenJobsOnTwoLanes()
{
    if (!haveFiles)
        QSKIP("ffmpeg is not installed");
    FingerprintPool pool(2, 10, false);
    QSignalSpy completed(&pool, &FingerprintPool::completed);
    QSignalSpy progress(&pool, &FingerprintPool::progress);
    Jobs jobs;
    for (int i = 0; i < 10; ++i)
        jobs.append({100 + i, file(i % 2 ? "music.flac" : "music.wav")});
    pool.run(jobs);
    QCOMPARE(completed.count(), 10);
    QCOMPARE(progress.count(), 10);
    QSet<int> ids;
    for (int i = 0; i < 10; ++i) {
        ids.insert(completed.at(i).at(0).toInt());
        QCOMPARE(progress.at(i).at(0).toInt(), i + 1);
        QCOMPARE(progress.at(i).at(1).toInt(), 10);
        const FingerprintResult r = resultAt(completed, i);
        QVERIFY2(r.error.isEmpty(), qPrintable(r.error));
        QVERIFY(r.fingerprint.size() >= 15);
        QCOMPARE(r.fingerprintMask.size(), r.fingerprint.size());
        QCOMPARE(r.fingerprintAltMask.size(), r.fingerprintAlt.size());
        QVERIFY(std::abs(r.durationMs - 3000) < 50);
    }
    QCOMPARE(ids.size(), 10);
    QVERIFY(ids.contains(100) && ids.contains(109));
    // The same pool takes another batch.
    pool.run({{1, file("music.wav")}});
    QCOMPARE(completed.count(), 11);
    QCOMPARE(progress.last().at(0).toInt(), 1);
    for (int i = 0; i < 10; ++i) {
        if (completed.at(i).at(0).toInt() % 2 == 0) {
            QCOMPARE(resultAt(completed, 10).fingerprint, resultAt(completed, i).fingerprint);
            break;
        }
    }
}

void TestFingerprintPool::threeJobsOnFourLanes()
{
    if (!haveFiles)
        QSKIP("ffmpeg is not installed");
    FingerprintPool pool(4, 10, false);
    QSignalSpy progress(&pool, &FingerprintPool::progress);
    pool.run({{7, file("music.wav")}, {8, file("music.flac")}, {9, file("music.mp3")}});
    QCOMPARE(progress.count(), 3);
    QCOMPARE(progress.last(), (QVariantList{3, 3}));
}

void TestFingerprintPool::completionOrderIsNotJobOrder()
{
    requireTools();
    if (!haveFiles)
        QSKIP("ffmpeg is not installed");
    if (!toolsupport::inChild()) {
        // A decoder that takes seconds for one file holds only its own lane.
        const QByteArray script =
            "case \"$*\" in *slow*) sleep 8 ;; esac\nexec '" +
            QFile::encodeName(QStandardPaths::findExecutable(QStringLiteral("ffmpeg"))) + "' \"$@\"";
        const QString fake = toolsupport::writeScript(dir.path(), QStringLiteral("ffmpeg-slow"), script);
        QString log;
        QVERIFY2(toolsupport::runInChild({{"RVW_FFMPEG", fake}, {"RVW_TEST_DIR", dir.path()}}, &log),
                 qPrintable(log));
        return;
    }
    const QString base = qEnvironmentVariable("RVW_TEST_DIR") + QLatin1Char('/');
    FingerprintPool pool(2, 10, false);
    QSignalSpy completed(&pool, &FingerprintPool::completed);
    QSignalSpy progress(&pool, &FingerprintPool::progress);
    pool.run(
        {{0, base + "slow.wav"}, {1, base + "music.wav"}, {2, base + "music.flac"}, {3, base + "music.wav"}});
    QCOMPARE(completed.count(), 4);
    QList<int> order;
    for (const QList<QVariant> &args : std::as_const(completed))
        order.append(args.at(0).toInt());
    // the slow job finishes last; the fast ones share the other lane in job order
    QCOMPARE(order.last(), 0);
    QCOMPARE(order.mid(0, 3), (QList<int>{1, 2, 3}));
    QCOMPARE(progress.last(), (QVariantList{4, 4}));
    QVERIFY(!resultAt(completed, 3).fingerprint.isEmpty());
}

void TestFingerprintPool::tooShortOrMissingFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("error");
    QTest::newRow("0.3 s") << "short.wav"
                           << "No decodable audio found";
    QTest::newRow("missing") << "missing.flac" << QString();
}

void TestFingerprintPool::tooShortOrMissingFile()
{
    if (!haveFiles)
        QSKIP("ffmpeg is not installed");
    QFETCH(QString, name);
    QFETCH(QString, error);
    FingerprintPool pool(1, 10, false);
    QSignalSpy completed(&pool, &FingerprintPool::completed);
    pool.run({{5, dir.filePath(name)}});
    QCOMPARE(completed.count(), 1);
    QCOMPARE(completed.at(0).at(0).toInt(), 5);
    const FingerprintResult r = resultAt(completed, 0);
    QVERIFY(r.fingerprint.isEmpty());
    if (error.isEmpty())
        QVERIFY(!r.error.isEmpty());
    else
        QCOMPARE(r.error, error);
}

void TestFingerprintPool::fpcalcEngine()
{
    if (!haveFiles || !toolsupport::haveTool("fpcalc"))
        QSKIP("ffmpeg or fpcalc is not installed");
    FingerprintPool pool(1, 10, true);
    QSignalSpy completed(&pool, &FingerprintPool::completed);
    pool.run({{1, file("music.flac")}});
    QCOMPARE(completed.count(), 1);
    const FingerprintResult r = resultAt(completed, 0);
    QVERIFY2(r.error.isEmpty(), qPrintable(r.error));
    QVERIFY(!r.fingerprint.isEmpty());
    QVERIFY(r.fingerprintMask.isEmpty() && r.fingerprintAlt.isEmpty() && r.fingerprintAltMask.isEmpty());
    QCOMPARE(r.durationMs, qint64(3000));
}

void TestFingerprintPool::fpcalcSelectedButMissing()
{
    requireTools();
    if (!haveFiles)
        QSKIP("ffmpeg is not installed");
    if (!toolsupport::inChild()) {
        // A search path with ffmpeg on it and no fpcalc.
        QTemporaryDir bin;
        QVERIFY(
            QFile::link(QStandardPaths::findExecutable(QStringLiteral("ffmpeg")), bin.filePath("ffmpeg")));
        QString log;
        QVERIFY2(toolsupport::runInChild({{"PATH", bin.path()}, {"RVW_TEST_DIR", dir.path()}}, &log),
                 qPrintable(log));
        return;
    }
    FingerprintPool pool(1, 10, true);
    QSignalSpy completed(&pool, &FingerprintPool::completed);
    pool.run({{1, qEnvironmentVariable("RVW_TEST_DIR") + "/music.flac"}});
    QCOMPARE(completed.count(), 1);
    const FingerprintResult r = resultAt(completed, 0);
    QVERIFY2(r.error.isEmpty(), qPrintable(r.error));
    QVERIFY(!r.fingerprint.isEmpty());
    QCOMPARE(r.fingerprintMask.size(), r.fingerprint.size());
    QVERIFY(!r.fingerprintAlt.isEmpty());
}

void TestFingerprintPool::qtDecoderWhenFfmpegFails_data()
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

void TestFingerprintPool::qtDecoderWhenFfmpegFails()
{
    requireTools();
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
        QString log;
        QVERIFY2(toolsupport::runInChild(env, &log), qPrintable(log));
        return;
    }
    FingerprintPool pool(1, 10, false);
    QSignalSpy completed(&pool, &FingerprintPool::completed);
    pool.run({{1, qEnvironmentVariable("RVW_TEST_DIR") + QLatin1Char('/') + name}});
    QCOMPARE(completed.count(), 1);
    const FingerprintResult r = resultAt(completed, 0);
    if (words) {
        QVERIFY2(r.error.isEmpty(), qPrintable(r.error));
        QVERIFY(r.fingerprint.size() >= 15);
        QVERIFY(std::abs(r.durationMs - 3000) < 100);
    } else {
        QVERIFY(r.fingerprint.isEmpty());
        QVERIFY(!r.error.isEmpty());
    }
}

void TestFingerprintPool::decodeWithQt_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("WAV") << "music.wav";
    QTest::newRow("FLAC") << "music.flac";
    QTest::newRow("MP3") << "music.mp3";
}

void TestFingerprintPool::decodeWithQt()
{
    if (!haveFiles)
        QSKIP("ffmpeg is not installed");
    QFETCH(QString, name);
    FingerprintWorker worker(10, false);
    Fingerprint::Analyzer analyzer;
    qint64 duration = 0;
    QString error;
    worker.decodeWithQt(analyzer, dir.filePath(name), duration, error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QList<quint32> words = analyzer.mainGenerator.finish();
    QVERIFY(words.size() >= 15);
    QVERIFY2(std::abs(duration - 3000) < 100, qPrintable(QString::number(duration)));

    // The same audio through ffmpeg's resampler gives nearly the same words.
    FingerprintPool pool(1, 10, false);
    QSignalSpy completed(&pool, &FingerprintPool::completed);
    pool.run({{1, dir.filePath(name)}});
    const FingerprintResult viaFfmpeg = resultAt(completed, 0);
    const double ber = Fingerprint::bestBitErrorRate(
        words, analyzer.mainGenerator.finishMask(), viaFfmpeg.fingerprint, viaFfmpeg.fingerprintMask,
        viaFfmpeg.fingerprintAlt, viaFfmpeg.fingerprintAltMask, 48, 10, nullptr);
    QVERIFY2(ber < 0.15, qPrintable(QString::number(ber)));
}

void TestFingerprintPool::decodeWithQtFrameBudget()
{
    if (!haveFiles)
        QSKIP("ffmpeg is not installed");
    // One second is 48,000 frames: a bit more than a second of this 44.1 kHz file.
    FingerprintWorker worker(1, false);
    QCOMPARE(worker.secondsToAnalyse(), 1);
    Fingerprint::Analyzer analyzer;
    qint64 duration = 0;
    QString error;
    worker.decodeWithQt(analyzer, file("music.wav"), duration, error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const int words = analyzer.mainGenerator.wordCount();
    // 48,000 frames or a little more (whole buffers) at 11,025 Hz: 4 to 6 words, not 21.
    QVERIFY2(words >= 4 && words <= 6, qPrintable(QString::number(words)));
    // The duration is the stream's, never the length of the part decoded. On a slow machine the
    // decoder may be stopped before it announced the length at all, which leaves it unknown.
    QVERIFY2(duration == 0 || std::abs(duration - 3000) < 100, qPrintable(QString::number(duration)));
    QCOMPARE(FingerprintWorker(0, false).secondsToAnalyse(), 120);
}

void TestFingerprintPool::decodeWithQtDamagedFile()
{
    if (!haveFiles)
        QSKIP("ffmpeg is not installed");
    FingerprintWorker worker(5, false);
    Fingerprint::Analyzer analyzer;
    qint64 duration = 0;
    QString error;
    worker.decodeWithQt(analyzer, file("garbage.mp3"), duration, error);
    QVERIFY(!error.isEmpty());
    QCOMPARE(analyzer.mainGenerator.wordCount(), 0);
}

QTEST_MAIN(TestFingerprintPool)
#include "tst_fingerprintpool.moc"

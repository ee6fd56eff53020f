#include "app/Platform.h"
#include "ui/AudioFixture.h"
#include "ui/WaveformLoader.h"

#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using rvw::Envelope;
using rvw::WaveformLoader;

class tst_WaveformLoader : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QList<Envelope> m_envelopes; // of the last run, in order

    QString make(const QString &name, const QString &source,
                 const QStringList &output = {"-c:a", "pcm_s16le"})
    {
        return rvw::test::makeAudio(QDir(m_dir.path()), name, source, output);
    }

    // Runs the steps ("<deck>:<file>" loads, "-" for no file at all, "c" cancels all, "c<deck>" one deck, "s" sleeps
    // without events, so nothing is delivered before the next step), waits for the expected
    // number of results, then drops the loader. Results in order: "<deck>=<buckets>" loaded,
    // "<deck>!" failed with a reason.
    QStringList run(const QStringList &steps, qsizetype expected)
    {
        QStringList results;
        m_envelopes.clear();
        QPointer<QThread> thread;
        {
            WaveformLoader loader;
            thread = loader.findChild<QThread *>();
            connect(&loader, &WaveformLoader::loaded, this, [&](int deck, const Envelope &envelope) {
                results << QStringLiteral("%1=%2").arg(deck).arg(envelope.peaks.size());
                m_envelopes << envelope;
            });
            connect(&loader, &WaveformLoader::failed, this, [&](int deck, const QString &error) {
                results << QStringLiteral("%1!%2").arg(deck).arg(error.isEmpty() ? "(no reason)" : "");
            });
            for (const QString &step : steps) {
                if (step == "s")
                    QThread::msleep(50);
                else if (step.startsWith('c'))
                    step == "c" ? loader.cancel() : loader.cancel(step.mid(1).toInt());
                else if (const QString file = step.section(':', 1); file != "-")
                    loader.load(step.section(':', 0, 0).toInt(), QDir(m_dir.path()).filePath(file));
                else
                    loader.load(step.section(':', 0, 0).toInt(), QString());
            }
            if (!QTest::qWaitFor([&] { return results.size() >= expected; }, 20000))
                results << "timed out";
        }
        // Even mid-analysis the loader stops and joins its thread when it goes.
        if (thread)
            results << "thread left running";
        return results;
    }

private slots:
    void initTestCase()
    {
        rvw::Platform::applyDecoderRanking();
        qRegisterMetaType<rvw::Envelope>("rvw::Envelope");
        QVERIFY(m_dir.isValid());
        if (rvwtest::ffmpegPath().isEmpty())
            QSKIP("ffmpeg is not installed; the loader is tested on files it makes");
        QVERIFY(!make("one", "sine=frequency=440:duration=1", {"-c:a", "pcm_s16le", "-f", "wav"}).isEmpty());
        QVERIFY(!make("two", "sine=frequency=440:duration=2", {"-c:a", "pcm_s16le", "-f", "wav"}).isEmpty());
        QVERIFY(!make("long", "sine=frequency=440:duration=30", {"-c:a", "flac", "-f", "flac"}).isEmpty());
        QFile broken(m_dir.filePath("broken"));
        QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write(QByteArray(4096, 'x')) == 4096);
    }

    // Only bucket 10 holds sound (level left, twice that right), so a wrong bucket length shows
    // as sound leaking into bucket 9 or 11. Shown: each bucket with sound as left/right/drawn
    // peak (normalised to 0.98 unless louder already), then the RMS of the whole file.
    void buckets_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<QStringList>("output");
        QTest::addColumn<QList<double>>("levels"); // left, and right for a stereo file
        QTest::addColumn<QString>("shown");
        const QStringList s16{"-c:a", "pcm_s16le"}, flac{"-c:a", "flac", "-sample_fmt", "s16"};
        const QStringList u8{"-c:a", "pcm_u8"}, s32{"-c:a", "pcm_s32le"}, f32{"-c:a", "pcm_f32le"};
        const QList<double> stereo{0.25, 0.5};
        QTest::newRow("flac stereo 48k") << 48000 << flac << stereo << "10:0.25/0.50/0.98 0.056";
        QTest::newRow("wav unsigned 8-bit") << 44100 << u8 << stereo << "10:0.25/0.50/0.98 0.056";
        QTest::newRow("wav signed 32-bit") << 48000 << s32 << stereo << "10:0.25/0.50/0.98 0.056";
        QTest::newRow("wav float") << 44100 << f32 << stereo << "10:0.25/0.50/0.98 0.056";
        QTest::newRow("wav 16-bit mono") << 44100 << s16 << QList<double>{0.25} << "10:0.25/0.25/0.98 0.035";
        // Decoded only when asked for float samples.
        QTest::newRow("flac 24-bit mono 44.1k")
            << 44100 << QStringList{"-c:a", "flac"} << QList<double>{0.25} << "10:0.25/0.25/0.98 0.035";
        QTest::newRow("wav 16-bit at full scale, never scaled down")
            << 44100 << s16 << QList<double>{0.5, 1} << "10:0.50/1.00/1.00 0.112";
        QTest::newRow("silence is still delivered") << 48000 << flac << QList<double>{0, 0} << "0.000";
    }

    void buckets()
    {
        QFETCH(int, rate);
        QFETCH(QStringList, output);
        QFETCH(QList<double>, levels);
        QFETCH(QString, shown);
        QStringList channels;
        for (const double level : levels)
            channels << QString::asprintf("%g*between(n,%d,%d)", level, 10 * rate / 25, 11 * rate / 25 - 1);
        const QString name =
            QStringLiteral("%1.%2").arg(QTest::currentDataTag(), output.at(1) == "flac" ? "flac" : "wav");
        const QString path = make(
            name, QStringLiteral("aevalsrc=exprs='%1':s=%2:d=2").arg(channels.join('|')).arg(rate), output);
        QCOMPARE(run({"0:" + path}, 1), QStringList{"0=50"});
        const Envelope &env = m_envelopes.at(0);
        QVERIFY(env.bucketMs == 40 && env.left.size() == 50 && env.right.size() == 50);
        QVERIFY2(qAbs(env.durationMs - 2000) <= 30, qPrintable(QString::number(env.durationMs)));
        QStringList buckets;
        for (int i = 0; i < 50; ++i) {
            if (env.left.at(i) + env.right.at(i) + env.peaks.at(i) > 0.005)
                buckets << QString::asprintf("%d:%.2f/%.2f/%.2f", i, env.left.at(i), env.right.at(i),
                                             env.peaks.at(i));
        }
        QCOMPARE((buckets << QString::asprintf("%.3f", env.rms)).join(' '), shown);
    }

    // Past 40 minutes the buckets grow instead of the analysis stopping, so the whole file is
    // still drawn; a low sample rate keeps the file small. The level steps up in the last
    // 40 ms bucket before the merge, so a merge that pairs the wrong buckets shows.
    void longFileIsCoveredToItsEnd()
    {
        const QString path = make("hour.wav", "aevalsrc=exprs='0.1+0.2*gte(n,2399960)':s=1000:d=2410");
        QCOMPARE(run({"0:" + path}, 1), QStringList{"0=30125"}); // 2410 s in 80 ms buckets
        const Envelope &env = m_envelopes.at(0);
        QVERIFY(env.bucketMs == 80 && env.left.size() == 30125 && env.right.size() == 30125);
        QVERIFY2(qAbs(env.durationMs - 2410000) <= 100, qPrintable(QString::number(env.durationMs)));
        for (int i = 0; i < env.left.size(); ++i)
            QVERIFY2(qAbs(env.left.at(i) - (i < 29999 ? 0.1 : 0.3)) < 0.01, qPrintable(QString::number(i)));
    }

    void requests_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("results");
        QTest::newRow("second load wins, invalid decks ignored")
            << QStringList{"0:two", "2:one", "-1:one", "0:one"} << "0=25";
        QTest::newRow("damaged and missing files fail") << QStringList{"1:broken", "0:missing"} << "1! 0!";
        QTest::newRow("a folder or no file at all fails") << QStringList{"1:", "0:-"} << "1! 0!";
        QTest::newRow("cancel, queued and decoding")
            << QStringList{"0:long", "c", "1:long", "s", "c", "0:one"} << "0=25";
        QTest::newRow("dropped while decoding") << QStringList{"0:long", "s"} << "";
        QTest::newRow("cancel one deck, the other goes on")
            << QStringList{"1:long", "s", "c1", "0:two", "1:one"} << "0=50 1=25";
    }

    void requests()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, results);
        const QStringList expected = results.split(' ', Qt::SkipEmptyParts);
        QCOMPARE(run(steps, expected.size()), expected);
    }

    // Left and right level at a time: a right list shorter than the left falls back to the left.
    void levelsAt()
    {
        Envelope env;
        QStringList shown;
        const auto levels = [&](qint64 ms) {
            double l = -1.0, r = -1.0;
            env.levelsAt(ms, l, r);
            shown << QStringLiteral("%1/%2").arg(l).arg(r);
        };
        levels(0); // empty
        env.left = {0.25f, 0.75f, 0.125f};
        env.right = {0.5f, 1.0f};
        for (const qint64 ms : {0, 39, 40, 80, 120, -1})
            levels(ms);
        env.bucketMs = 0;
        levels(0);
        QCOMPARE(shown.join(' '), "0/0 0.25/0.5 0.25/0.5 0.75/1 0.125/0.125 0/0 0/0 0/0");
    }
};

QTEST_MAIN(tst_WaveformLoader)
#include "tst_waveformloader.moc"

#include "app/Platform.h"
#include "ui/AudioFixture.h"
#include "ui/WaveformLoader.h"

#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cmath>

using rvw::Envelope;
using rvw::WaveformLoader;

class tst_WaveformLoader : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString make(const QString &name, const QString &source, const QStringList &output)
    {
        return rvw::test::makeAudio(QDir(m_dir.path()), name, source, output);
    }

    QString file(const QString &name) const
    {
        return name.contains('/') ? name : m_dir.filePath(name + (name == "long" ? ".flac" : ".wav"));
    }

    // Runs the steps ("<deck>:<file>" loads, "c" cancels all, "c<deck>" one deck, "s" sleeps
    // without events, so nothing is delivered before the next step), waits for the expected
    // number of results, then drops the loader. Results in order: "<deck>=<buckets>" loaded,
    // "<deck>!" failed with a reason.
    QStringList run(const QStringList &steps, qsizetype expected, QList<Envelope> *envelopes = nullptr)
    {
        QStringList results;
        QPointer<QThread> thread;
        {
            WaveformLoader loader;
            thread = loader.findChild<QThread *>();
            connect(&loader, &WaveformLoader::loaded, this, [&](int deck, const Envelope &envelope) {
                results << QStringLiteral("%1=%2").arg(deck).arg(envelope.peaks.size());
                if (envelopes)
                    envelopes->append(envelope);
            });
            connect(&loader, &WaveformLoader::failed, this, [&](int deck, const QString &error) {
                results << QStringLiteral("%1!%2").arg(deck).arg(error.isEmpty() ? "(no reason)" : "");
            });
            for (const QString &step : steps) {
                if (step == "s")
                    QThread::msleep(50);
                else if (step.startsWith('c'))
                    step == "c" ? loader.cancel() : loader.cancel(step.mid(1).toInt());
                else
                    loader.load(step.section(':', 0, 0).toInt(), file(step.section(':', 1)));
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
        if (!rvw::test::haveFfmpeg())
            QSKIP("ffmpeg is not installed; the loader is tested on files it makes");
        const QStringList wav{"-c:a", "pcm_s16le"};
        QVERIFY(!make("one.wav", "sine=frequency=440:duration=1", wav).isEmpty());
        QVERIFY(!make("two.wav", "sine=frequency=440:duration=2", wav).isEmpty());
        QVERIFY(!make("long.flac", "sine=frequency=440:duration=30", {"-c:a", "flac"}).isEmpty());
        QFile broken(file("broken"));
        QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write(QByteArray(4096, 'x')) == 4096);
    }

    // Only bucket 10 holds sound (level left, twice that right), so a wrong bucket length shows
    // as sound leaking into bucket 9 or 11.
    void buckets_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<QStringList>("output");
        QTest::addColumn<double>("level");
        const QStringList s16{"-c:a", "pcm_s16le"};
        const QStringList flac{"-c:a", "flac", "-sample_fmt", "s16"};
        const QStringList flac24{"-c:a", "flac"}; // 24-bit: decoded only when converted to float
        QTest::newRow("wav mono 44.1k") << 44100 << 1 << s16 << 0.25;
        QTest::newRow("flac stereo 48k") << 48000 << 2 << flac << 0.25;
        QTest::newRow("wav unsigned 8-bit") << 44100 << 2 << QStringList{"-c:a", "pcm_u8"} << 0.25;
        QTest::newRow("wav signed 32-bit") << 48000 << 2 << QStringList{"-c:a", "pcm_s32le"} << 0.25;
        QTest::newRow("flac 24-bit") << 44100 << 2 << flac24 << 0.25;
        QTest::newRow("flac 24-bit mono") << 44100 << 1 << flac24 << 0.25;
        QTest::newRow("wav 24-bit") << 44100 << 2 << QStringList{"-c:a", "pcm_s24le"} << 0.25;
        QTest::newRow("wav float") << 44100 << 2 << QStringList{"-c:a", "pcm_f32le"} << 0.25;
        QTest::newRow("full scale is never scaled down") << 44100 << 2 << s16 << 0.5;
        QTest::newRow("silence is still delivered") << 48000 << 2 << flac << 0.0;
    }

    void buckets()
    {
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(QStringList, output);
        QFETCH(double, level);
        const int frames = rate / 25;
        const QString pulse =
            QStringLiteral("%1*between(n,%2,%3)").arg(level).arg(10 * frames).arg(11 * frames - 1);
        const QString exprs = channels == 2 ? pulse + "|2*" + pulse : pulse;
        const QString path = make(
            QStringLiteral("%1.%2").arg(QTest::currentDataTag(), output.at(1) == "flac" ? "flac" : "wav"),
            QStringLiteral("aevalsrc=exprs='%1':s=%2:d=2").arg(exprs).arg(rate), output);
        QList<Envelope> envelopes;
        QCOMPARE(run({"0:" + path}, 1, &envelopes), QStringList{"0=50"});
        const Envelope &env = envelopes.at(0);
        QCOMPARE(env.bucketMs, 40);
        QCOMPARE(env.left.size(), 50);
        QCOMPARE(env.right.size(), 50);
        QVERIFY2(qAbs(env.durationMs - 2000) <= 30, qPrintable(QString::number(env.durationMs)));
        const double right = channels == 2 ? 2 * level : level;
        for (int i = 0; i < 50; ++i) {
            const bool sound = i == 10;
            QVERIFY2(qAbs(env.left.at(i) - (sound ? level : 0.0)) < 0.01, qPrintable(QString::number(i)));
            QVERIFY2(qAbs(env.right.at(i) - (sound ? right : 0.0)) < 0.01, qPrintable(QString::number(i)));
            // Only the drawn list is normalised, to 0.98 unless it is louder already.
            const double peak = sound && level > 0 ? std::max(right, 0.98) : 0.0;
            QVERIFY2(qAbs(env.peaks.at(i) - peak) < 0.002, qPrintable(QString::number(env.peaks.at(i))));
        }
        // One bucket in 50 holds sound, so the mean square is that bucket's over 50.
        const double rms = std::sqrt((level * level + right * right) / 2.0 / 50.0);
        QVERIFY2(qAbs(env.rms - rms) <= 0.02 * rms, qPrintable(QString::number(env.rms)));
    }

    // Past 40 minutes the buckets grow instead of the analysis stopping, so the whole file is
    // still drawn; a low sample rate keeps the file small.
    void longFileIsCoveredToItsEnd()
    {
        const QString path = make("hour.wav", "aevalsrc=exprs='0.1':s=1000:d=2410", {"-c:a", "pcm_s16le"});
        QList<Envelope> envelopes;
        QCOMPARE(run({"0:" + path}, 1, &envelopes), QStringList{"0=30125"}); // 2410 s in 80 ms buckets
        const Envelope &env = envelopes.at(0);
        QCOMPARE(env.bucketMs, 80);
        QCOMPARE(env.left.size() + env.right.size(), 2 * env.peaks.size());
        QVERIFY2(qAbs(env.durationMs - 2410000) <= 100, qPrintable(QString::number(env.durationMs)));
        QVERIFY(qAbs(env.left.first() - 0.1f) < 0.01f && qAbs(env.right.last() - 0.1f) < 0.01f);
    }

    void requests_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("results");
        QTest::newRow("second of two loads wins") << QStringList{"0:two", "0:one"} << "0=25";
        QTest::newRow("decks are independent") << QStringList{"0:one", "1:two"} << "0=25 1=50";
        QTest::newRow("damaged file fails") << QStringList{"1:broken"} << "1!";
        QTest::newRow("missing file fails") << QStringList{"0:missing"} << "0!";
        QTest::newRow("invalid decks ignored") << QStringList{"2:one", "-1:one", "0:one"} << "0=25";
        QTest::newRow("cancel, queued and decoding")
            << QStringList{"0:long", "c", "1:long", "s", "c", "0:one"} << "0=25";
        QTest::newRow("dropped while decoding") << QStringList{"0:long", "s"} << "";
        QTest::newRow("cancel one deck") << QStringList{"1:long", "s", "c1", "0:two"} << "0=50";
    }

    void requests()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, results);
        const QStringList expected = results.split(' ', Qt::SkipEmptyParts);
        QCOMPARE(run(steps, expected.size()), expected);
    }

    void levelsAt_data()
    {
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<int>("bucketMs");
        QTest::addColumn<double>("left");
        QTest::addColumn<double>("right");
        QTest::newRow("first bucket") << qint64(0) << 40 << 0.25 << 0.5;
        QTest::newRow("end of first bucket") << qint64(39) << 40 << 0.25 << 0.5;
        QTest::newRow("second bucket") << qint64(40) << 40 << 0.75 << 1.0;
        QTest::newRow("right list too short") << qint64(80) << 40 << 0.125 << 0.125;
        QTest::newRow("beyond the end") << qint64(120) << 40 << 0.0 << 0.0;
        QTest::newRow("negative time") << qint64(-1) << 40 << 0.0 << 0.0;
        QTest::newRow("no bucket length") << qint64(0) << 0 << 0.0 << 0.0;
        QTest::newRow("empty") << qint64(0) << -1 << 0.0 << 0.0;
    }

    void levelsAt()
    {
        QFETCH(qint64, ms);
        QFETCH(int, bucketMs);
        QFETCH(double, left);
        QFETCH(double, right);
        Envelope env;
        if (bucketMs >= 0) {
            env.left = {0.25f, 0.75f, 0.125f};
            env.right = {0.5f, 1.0f};
            env.bucketMs = bucketMs;
        }
        double l = -1.0;
        double r = -1.0;
        env.levelsAt(ms, l, r);
        QCOMPARE(l, left);
        QCOMPARE(r, right);
    }
};

QTEST_MAIN(tst_WaveformLoader)
#include "tst_waveformloader.moc"

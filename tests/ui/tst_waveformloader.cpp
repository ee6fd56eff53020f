#include "app/Platform.h"
#include "ui/AudioFixture.h"
#include "ui/WaveformLoader.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <cmath>

using rvw::Envelope;
using rvw::WaveformLoader;

namespace {

float largest(const QList<float> &values)
{
    float m = 0.0f;
    for (const float v : values)
        m = std::max(m, v);
    return m;
}

} // namespace

class tst_WaveformLoader : public QObject
{
    Q_OBJECT

private:
    QString make(const QString &name, const QString &source, const QStringList &output)
    {
        const QString path = rvw::test::makeAudio(QDir(m_dir.path()), name, source, output);
        if (path.isEmpty())
            qWarning("ffmpeg could not make %s", qPrintable(name));
        return path;
    }

    // Loads one file into deck 0 and returns what the loader delivered.
    bool analyse(const QString &path, Envelope &envelope, QString *error = nullptr)
    {
        WaveformLoader loader;
        QSignalSpy loaded(&loader, &WaveformLoader::loaded);
        QSignalSpy failed(&loader, &WaveformLoader::failed);
        loader.load(0, path);
        if (!QTest::qWaitFor([&] { return loaded.count() + failed.count() > 0; }, 20000))
            return false;
        if (!failed.isEmpty()) {
            if (error)
                *error = failed.at(0).at(1).toString();
            return false;
        }
        envelope = qvariant_cast<Envelope>(loaded.at(0).at(1));
        return loaded.at(0).at(0).toInt() == 0;
    }

    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        rvw::Platform::applyDecoderRanking();
        qRegisterMetaType<rvw::Envelope>("rvw::Envelope");
        QVERIFY(m_dir.isValid());
        if (!rvw::test::haveFfmpeg())
            QSKIP("ffmpeg is not installed; the loader is tested on files it makes");
    }

    // Only bucket 10 holds sound (0.25 left, 0.5 right), so a wrong bucket length shows as
    // sound leaking into bucket 9 or 11.
    void buckets_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<QStringList>("output");

        const QStringList s16{"-c:a", "pcm_s16le"};
        const QStringList flac{"-c:a", "flac", "-sample_fmt", "s16"};
        QTest::newRow("wav mono 44.1k") << "mono44.wav" << 44100 << 1 << s16;
        QTest::newRow("wav stereo 44.1k") << "stereo44.wav" << 44100 << 2 << s16;
        QTest::newRow("wav mono 48k") << "mono48.wav" << 48000 << 1 << s16;
        QTest::newRow("wav stereo 48k") << "stereo48.wav" << 48000 << 2 << s16;
        QTest::newRow("flac mono 44.1k") << "mono44.flac" << 44100 << 1 << flac;
        QTest::newRow("flac stereo 48k") << "stereo48.flac" << 48000 << 2 << flac;
        QTest::newRow("wav signed 32-bit") << "s32.wav" << 48000 << 2 << QStringList{"-c:a", "pcm_s32le"};
        // 24-bit samples only decode when converted (same rate, so no resampling blur).
        QTest::newRow("flac 24-bit") << "s24.flac" << 44100 << 2 << QStringList{"-c:a", "flac"};
        QTest::newRow("flac 24-bit mono") << "s24mono.flac" << 44100 << 1 << QStringList{"-c:a", "flac"};
        QTest::newRow("wav 24-bit") << "s24.wav" << 44100 << 2 << QStringList{"-c:a", "pcm_s24le"};
        QTest::newRow("wav float") << "f32.wav" << 44100 << 2 << QStringList{"-c:a", "pcm_f32le"};
    }

    void buckets()
    {
        QFETCH(QString, name);
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(QStringList, output);

        const int framesPerBucket = rate / 25;
        const QString window =
            QStringLiteral("between(n,%1,%2)").arg(10 * framesPerBucket).arg(11 * framesPerBucket - 1);
        QString exprs = QStringLiteral("0.25*") + window;
        if (channels == 2)
            exprs += QStringLiteral("|0.5*") + window;
        const QString path =
            make(name, QStringLiteral("aevalsrc=exprs='%1':s=%2:d=2").arg(exprs).arg(rate), output);
        QVERIFY(!path.isEmpty());

        Envelope env;
        QString error;
        QVERIFY2(analyse(path, env, &error), qPrintable(error));
        QCOMPARE(env.bucketMs, 40);
        QCOMPARE(env.peaks.size(), 50);
        QCOMPARE(env.left.size(), 50);
        QCOMPARE(env.right.size(), 50);
        QVERIFY2(qAbs(env.durationMs - 2000) <= 30, qPrintable(QString::number(env.durationMs)));

        const float rightLevel = channels == 2 ? 0.5f : 0.25f;
        for (int i = 0; i < 50; ++i) {
            if (i == 10)
                continue;
            QVERIFY2(env.left.at(i) < 0.01f && env.right.at(i) < 0.01f && env.peaks.at(i) < 0.01f,
                     qPrintable(QStringLiteral("bucket %1 should be silent").arg(i)));
        }
        QVERIFY2(qAbs(env.left.at(10) - 0.25f) < 0.01f, qPrintable(QString::number(env.left.at(10))));
        QVERIFY2(qAbs(env.right.at(10) - rightLevel) < 0.01f, qPrintable(QString::number(env.right.at(10))));
        // Only the drawn list is normalised.
        QVERIFY2(qAbs(env.peaks.at(10) - 0.98f) < 0.001f, qPrintable(QString::number(env.peaks.at(10))));
        if (channels == 1)
            QCOMPARE(env.right, env.left);
        // One bucket in 50 holds sound, so the mean square is that bucket's over 50.
        const double meanSquare = (0.25 * 0.25 + double(rightLevel) * rightLevel) / 2.0 / 50.0;
        QVERIFY2(qAbs(env.rms / std::sqrt(meanSquare) - 1.0) < 0.02, qPrintable(QString::number(env.rms)));
    }

    void mp3Decodes()
    {
        const QString path =
            make(QStringLiteral("tone.mp3"),
                 QStringLiteral("aevalsrc=exprs='0.5*sin(2*PI*440*t)|0.3*sin(2*PI*660*t)':s=44100:d=2"),
                 {"-c:a", "libmp3lame", "-b:a", "128k"});
        QVERIFY(!path.isEmpty());
        Envelope env;
        QString error;
        QVERIFY2(analyse(path, env, &error), qPrintable(error));
        // The encoder's padding may add a few buckets.
        QVERIFY2(env.peaks.size() >= 50 && env.peaks.size() <= 56,
                 qPrintable(QString::number(env.peaks.size())));
        QVERIFY(qAbs(largest(env.left) - 0.5f) < 0.05f);
        QVERIFY(qAbs(largest(env.right) - 0.3f) < 0.05f);
        QVERIFY(qAbs(largest(env.peaks) - 0.98f) < 0.001f);
    }

    void loudFileIsNeverScaledDown()
    {
        const QString path =
            make(QStringLiteral("loud.wav"), QStringLiteral("aevalsrc=exprs='sin(2*PI*100*t)':s=44100:d=1"),
                 {"-c:a", "pcm_s16le"});
        QVERIFY(!path.isEmpty());
        Envelope env;
        QVERIFY(analyse(path, env));
        QCOMPARE(env.peaks.size(), 25);
        QVERIFY(largest(env.peaks) >= 0.98f);
        for (int i = 0; i < env.peaks.size(); ++i)
            QCOMPARE(env.peaks.at(i), std::max(env.left.at(i), env.right.at(i)));
    }

    void silentFileIsDelivered()
    {
        const QString path =
            make(QStringLiteral("silent.flac"), QStringLiteral("aevalsrc=exprs='0|0':s=48000:d=1"),
                 {"-c:a", "flac", "-sample_fmt", "s16"});
        QVERIFY(!path.isEmpty());
        Envelope env;
        QVERIFY(analyse(path, env));
        QCOMPARE(env.peaks.size(), 25);
        QCOMPARE(largest(env.peaks), 0.0f);
        QCOMPARE(largest(env.left), 0.0f);
        QCOMPARE(env.rms, 0.0);
    }

    // Past 40 minutes the buckets grow instead of the analysis stopping, so the whole file is
    // still drawn; a low sample rate keeps the file small.
    void longFileIsCoveredToItsEnd()
    {
        const QString path =
            make(QStringLiteral("long.wav"), QStringLiteral("aevalsrc=exprs='0.1':s=1000:d=2410"),
                 {"-c:a", "pcm_s16le"});
        QVERIFY(!path.isEmpty());
        Envelope env;
        QString error;
        QVERIFY2(analyse(path, env, &error), qPrintable(error));
        QCOMPARE(env.bucketMs, 80);
        QCOMPARE(env.peaks.size(), 30125); // 2410 s in 80 ms buckets
        QCOMPARE(env.left.size(), env.peaks.size());
        QCOMPARE(env.right.size(), env.peaks.size());
        QVERIFY2(qAbs(env.durationMs - 2410000) <= 100, qPrintable(QString::number(env.durationMs)));
        // The last seconds, beyond 40 minutes, carry the signal.
        double left = 0.0;
        double right = 0.0;
        env.levelsAt(2405000, left, right);
        QVERIFY2(qAbs(left - 0.1) < 0.01, qPrintable(QString::number(left)));
        env.levelsAt(1000, left, right);
        QVERIFY2(qAbs(left - 0.1) < 0.01, qPrintable(QString::number(left)));
    }

    void undecodableFileFails()
    {
        const QString path = m_dir.filePath(QStringLiteral("broken.flac"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'x'));
        file.close();

        WaveformLoader loader;
        QSignalSpy loaded(&loader, &WaveformLoader::loaded);
        QSignalSpy failed(&loader, &WaveformLoader::failed);
        loader.load(1, path);
        QVERIFY(failed.wait(20000));
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(0).toInt(), 1);
        QVERIFY(!failed.at(0).at(1).toString().isEmpty());
        QCOMPARE(loaded.count(), 0);
    }

    void missingFileFails()
    {
        WaveformLoader loader;
        QSignalSpy failed(&loader, &WaveformLoader::failed);
        loader.load(0, m_dir.filePath(QStringLiteral("does-not-exist.wav")));
        QVERIFY(failed.wait(20000));
        QVERIFY(!failed.at(0).at(1).toString().isEmpty());
    }

    void secondOfTwoQuickLoadsWins()
    {
        const QString first = make(QStringLiteral("first.wav"),
                                   QStringLiteral("sine=frequency=440:duration=3"), {"-c:a", "pcm_s16le"});
        const QString second = make(QStringLiteral("second.wav"),
                                    QStringLiteral("sine=frequency=440:duration=1"), {"-c:a", "pcm_s16le"});
        QVERIFY(!first.isEmpty() && !second.isEmpty());

        WaveformLoader loader;
        QSignalSpy loaded(&loader, &WaveformLoader::loaded);
        QSignalSpy failed(&loader, &WaveformLoader::failed);
        loader.load(0, first);
        loader.load(0, second);
        QVERIFY(loaded.wait(20000));
        // Give a stray result of the first request time to show up.
        QTest::qWait(500);
        QCOMPARE(loaded.count(), 1);
        QCOMPARE(failed.count(), 0);
        QCOMPARE(qvariant_cast<Envelope>(loaded.at(0).at(1)).peaks.size(), 25);
    }

    void decksAreIndependent()
    {
        const QString a = make(QStringLiteral("deckA.wav"), QStringLiteral("sine=frequency=440:duration=1"),
                               {"-c:a", "pcm_s16le"});
        const QString b = make(QStringLiteral("deckB.wav"), QStringLiteral("sine=frequency=440:duration=2"),
                               {"-c:a", "pcm_s16le"});
        QVERIFY(!a.isEmpty() && !b.isEmpty());
        WaveformLoader loader;
        QSignalSpy loaded(&loader, &WaveformLoader::loaded);
        loader.load(0, a);
        loader.load(1, b);
        QTRY_COMPARE_WITH_TIMEOUT(loaded.count(), 2, 20000);
        QMap<int, qsizetype> sizes;
        for (const QList<QVariant> &args : loaded)
            sizes[args.at(0).toInt()] = qvariant_cast<Envelope>(args.at(1)).peaks.size();
        QCOMPARE(sizes.value(0), 25);
        QCOMPARE(sizes.value(1), 50);
    }

    void cancelDeliversNothing()
    {
        const QString path = make(QStringLiteral("cancel.flac"),
                                  QStringLiteral("sine=frequency=440:duration=30"), {"-c:a", "flac"});
        QVERIFY(!path.isEmpty());
        WaveformLoader loader;
        QSignalSpy loaded(&loader, &WaveformLoader::loaded);
        QSignalSpy failed(&loader, &WaveformLoader::failed);

        loader.load(0, path); // stale while still queued
        loader.cancel();
        loader.load(1, path); // stale while decoding, or while its result waits to be delivered
        QThread::msleep(50);  // no events here, so nothing can be delivered before the cancel
        loader.cancel();
        QTest::qWait(800);
        QCOMPARE(loaded.count(), 0);
        QCOMPARE(failed.count(), 0);

        // The loader keeps working after a cancel.
        loader.load(1, path);
        QVERIFY(loaded.wait(20000));
        QCOMPARE(loaded.at(0).at(0).toInt(), 1);
    }

    void invalidDeckIsIgnored()
    {
        const QString path = make(QStringLiteral("deck.wav"), QStringLiteral("sine=frequency=440:duration=1"),
                                  {"-c:a", "pcm_s16le"});
        QVERIFY(!path.isEmpty());
        WaveformLoader loader;
        QSignalSpy loaded(&loader, &WaveformLoader::loaded);
        QSignalSpy failed(&loader, &WaveformLoader::failed);
        loader.load(2, path);
        loader.load(-1, path);
        loader.load(0, path);
        QVERIFY(loaded.wait(20000));
        QTest::qWait(300);
        QCOMPARE(loaded.count(), 1);
        QCOMPARE(loaded.at(0).at(0).toInt(), 0);
        QCOMPARE(failed.count(), 0);
    }

    void destroyedWhileDecoding()
    {
        const QString path = make(QStringLiteral("busy.flac"),
                                  QStringLiteral("sine=frequency=440:duration=30"), {"-c:a", "flac"});
        QVERIFY(!path.isEmpty());
        auto *loader = new WaveformLoader;
        loader->load(0, path);
        QTest::qWait(50);
        delete loader; // must stop the analysis and join its thread
        QVERIFY(true);
    }

    void levelsAt_data()
    {
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<double>("left");
        QTest::addColumn<double>("right");
        QTest::newRow("first bucket") << qint64(0) << 0.25 << 0.5;
        QTest::newRow("end of first bucket") << qint64(39) << 0.25 << 0.5;
        QTest::newRow("second bucket") << qint64(40) << 0.75 << 1.0;
        QTest::newRow("right list too short") << qint64(80) << 0.125 << 0.125;
        QTest::newRow("beyond the end") << qint64(120) << 0.0 << 0.0;
        QTest::newRow("negative time") << qint64(-1) << 0.0 << 0.0;
    }

    void levelsAt()
    {
        QFETCH(qint64, ms);
        QFETCH(double, left);
        QFETCH(double, right);
        Envelope env;
        env.left = {0.25f, 0.75f, 0.125f};
        env.right = {0.5f, 1.0f};
        double l = -1.0;
        double r = -1.0;
        env.levelsAt(ms, l, r);
        QCOMPARE(l, left);
        QCOMPARE(r, right);
    }

    void levelsAtEmptyOrWithoutBuckets()
    {
        Envelope empty;
        double l = -1.0;
        double r = -1.0;
        empty.levelsAt(0, l, r);
        QCOMPARE(l, 0.0);
        QCOMPARE(r, 0.0);

        Envelope zeroBucket;
        zeroBucket.left = {0.5f};
        zeroBucket.right = {0.5f};
        zeroBucket.bucketMs = 0;
        l = r = -1.0;
        zeroBucket.levelsAt(0, l, r);
        QCOMPARE(l, 0.0);
        QCOMPARE(r, 0.0);
    }
};

QTEST_MAIN(tst_WaveformLoader)
#include "tst_waveformloader.moc"

#include "audio/Chromaprint.h"

#include "audio/ToolTestSupport.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using namespace rvw;
using Words = QList<quint32>;

namespace {

Words randomWords(int count, quint32 seed)
{
    Words w(count);
    QRandomGenerator(seed).fillRange(w.data(), count);
    return w;
}

} // namespace

// The offset search itself is checked against a model in tst_fingerprint; these tests pin what
// the fpcalc wrappers add: the head comparison of short lists and the pre-check's window.
class TestChromaprint : public QObject
{
    Q_OBJECT

private slots:
    // Lists shorter than the overlap (80) are compared head to head at offset 0 only, however they
    // align; under 8 words there is nothing to compare.
    void bitErrorRateOfShortLists()
    {
        const Words r = randomWords(200, 1), shifted = randomWords(5, 7) + r.mid(0, 65);
        QCOMPARE(Chromaprint::bitErrorRate(r, randomWords(17, 3) + r, 40, 80), 0.0); // long: searched
        QCOMPARE(Chromaprint::bitErrorRate(r.mid(0, 50), r.mid(0, 70), 40, 80), 0.0);
        int bits = 0;
        for (int i = 0; i < 50; ++i)
            bits += qPopulationCount(r[i] ^ shifted[i]);
        QCOMPARE(Chromaprint::bitErrorRate(r.mid(0, 50), shifted, 40, 80), bits / (32.0 * 50));
        QCOMPARE(Chromaprint::bitErrorRate(r.mid(0, 8), r.mid(0, 9), 40, 80), 0.0);
        QCOMPARE(Chromaprint::bitErrorRate(r.mid(0, 7), r, 40, 80), 1.0);
    }

    // Coarse steps of 20 words up to 40, a margin of 0.12 over the threshold.
    void couldMatchWindow()
    {
        const Words r = randomWords(300, 11);
        QVERIFY(Chromaprint::couldMatch(r, randomWords(20, 12) + r, 0.0));
        QVERIFY(!Chromaprint::couldMatch(r, randomWords(44, 14) + r, 0.12));
        // Half the bits differ: within 0.39 + 0.12, not within 0.37 + 0.12.
        QVERIFY(Chromaprint::couldMatch(Words(100, 0), Words(100, 0xFFFF), 0.39));
        QVERIFY(!Chromaprint::couldMatch(Words(100, 0), Words(100, 0xFFFF), 0.37));
    }

    // A fake fpcalc per row, which records its arguments (unless it cannot run) before its script.
    void fakeTool_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<int>("seconds");
        QTest::addColumn<Words>("words");
        QTest::addColumn<qint64>("durationMs");
        QTest::addColumn<QString>("error");
        QTest::newRow("well formed") << QByteArray("printf 'DURATION=183.5\\nFINGERPRINT=1,2,3\\n'") << 90
                                     << Words{1, 2, 3} << qint64(183500) << QString();
        // A damaged DURATION after a good one is ignored, not taken.
        QTest::newRow("bad items skipped")
            << QByteArray("printf 'DURATION=10\\nDURATION=1e300\\n"
                          "FINGERPRINT=10,20,x7,40, 50 ,4294967295,4294967296,-1\\n'")
            << 1 << Words{10, 20, 40, 50, 4294967295u} << qint64(10000) << QString();
        QTest::newRow("second line appends")
            << QByteArray("printf 'FINGERPRINT=1,2\\nFINGERPRINT=3\\nDURATION=2.9999\\n'") << 1
            << Words{1, 2, 3} << qint64(2999) << QString();
        QTest::newRow("garbage and only bad items")
            << QByteArray("echo 'hello there'; echo '=,,='; printf 'DURATION=12\\nFINGERPRINT=a,b\\n'") << 1
            << Words{} << qint64(12000) << "fpcalc produced no fingerprint";
        QTest::newRow("stderr text on failure")
            << QByteArray("echo 'DURATION=3'; echo ' ERROR: could not open ' >&2; exit 2") << 1 << Words{}
            << qint64(0) << "ERROR: could not open";
        // What fpcalc does for every file shorter than -length.
        QTest::newRow("error status after a fingerprint")
            << QByteArray("printf 'DURATION=20\\nFINGERPRINT=8,9\\n'; "
                          "echo 'ERROR: Error decoding audio frame (End of file)' >&2; exit 3")
            << 1 << Words{8, 9} << qint64(20000) << QString();
        QTest::newRow("crash after a fingerprint") << QByteArray("echo 'FINGERPRINT=8,9'; kill -9 $$") << 1
                                                   << Words{} << qint64(0) << "fpcalc failed (exit";
        QTest::newRow("exit code only, zero seconds")
            << QByteArray("exit 4") << 0 << Words{} << qint64(0) << "fpcalc failed (exit 4)";
        // The child runs with a time floor of 2 s instead of 30 s.
        QTest::newRow("hangs") << QByteArray("exec sleep 45") << 1 << Words{} << qint64(0)
                               << "fpcalc timed out";
        QTest::newRow("cannot start") << QByteArray("#!/nonexistent/interpreter") << 1 << Words{} << qint64(0)
                                      << "could not start fpcalc";
        QTest::newRow("not installed") << QByteArray() << 1 << Words{} << qint64(0) << "fpcalc not found";
    }
    void fakeTool()
    {
        QFETCH(QByteArray, script);
        QFETCH(int, seconds);
        QFETCH(Words, words);
        QFETCH(qint64, durationMs);
        QFETCH(QString, error);
        const QString argsFile = dir.filePath(QStringLiteral("args.txt"));
        const bool runs = !script.isEmpty() && !script.startsWith("#!");
        if (!toolsupport::inChild()) {
            // Not installed: no variable, and a search path holding no fpcalc.
            const QString name = QStringLiteral("fpcalc-fake");
            const QString path = script.isEmpty() ? QString()
                                 : runs           ? toolsupport::writeArgsRecorder(dir.path(), name, script)
                                                  : toolsupport::writeScript(dir.path(), name, script);
            QFile::remove(argsFile);
            VERIFY_IN_CHILD({{"RVW_FPCALC", path},
                             {"RVW_TEST_ARGS", argsFile},
                             {"RVW_TOOL_MIN_SECONDS", "2"},
                             {"PATH", script.isEmpty() ? dir.path() : qEnvironmentVariable("PATH")}});
            if (runs)
                QCOMPARE(toolsupport::recordedArgs(argsFile),
                         (QStringList{"-raw", "-length", QString::number(qMax(seconds, 1)), file}));
            return;
        }
        const QString tool = qEnvironmentVariable("RVW_FPCALC");
        QCOMPARE(Chromaprint::fpcalcPath(), tool);
        QCOMPARE(Chromaprint::available(), !tool.isEmpty());
        qputenv("RVW_FPCALC", "/bin/true"); // looked up once: later changes are not seen
        QCOMPARE(Chromaprint::fpcalcPath(), tool);
        const ChromaprintResult r = Chromaprint::fingerprint(file, seconds);
        if (error.endsWith(QLatin1String("(exit")))
            QVERIFY2(r.error.startsWith(error), qPrintable(r.error));
        else
            QCOMPARE(r.error, error);
        QCOMPARE(r.fingerprint, words);
        QCOMPARE(r.durationMs, durationMs);
    }

private:
    const QString file = QStringLiteral("/music/Track, with comma.mp3");
    QTemporaryDir dir;
};

QTEST_MAIN(TestChromaprint)
#include "tst_chromaprint.moc"

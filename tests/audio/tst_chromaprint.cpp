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
    QRandomGenerator rng(seed);
    Words w;
    for (int i = 0; i < count; ++i)
        w.append(rng.generate());
    return w;
}

double naiveBer(const Words &a, const Words &b, int count)
{
    int bits = 0;
    for (int i = 0; i < count; ++i)
        bits += qPopulationCount(a[i] ^ b[i]);
    return double(bits) / (32.0 * count);
}

} // namespace

class TestChromaprint : public QObject
{
    Q_OBJECT

private slots:
    void bitErrorRateRules_data()
    {
        QTest::addColumn<Words>("a");
        QTest::addColumn<Words>("b");
        QTest::addColumn<int>("maxOffset");
        QTest::addColumn<int>("minOverlap");
        QTest::addColumn<double>("expected");

        const Words r = randomWords(200, 1);
        const Words other = randomWords(200, 2);
        QTest::newRow("identical") << r << r << 40 << 80 << 0.0;
        QTest::newRow("b with 17 words of lead-in") << r << randomWords(17, 3) + r << 40 << 80 << 0.0;
        QTest::newRow("a with 33 words of lead-in") << randomWords(33, 4) + r << r << 40 << 80 << 0.0;
        QTest::newRow("shift beyond the search") << r << randomWords(41, 5) + r << 40 << 80 << -1.0;
        QTest::newRow("negative maxOffset") << r << r << -1 << 80 << 1.0;
        // Shorter than minOverlap: the common head at offset 0 only, however the lists align.
        QTest::newRow("50 and 70 words: head at offset 0") << r.mid(0, 50) << r.mid(0, 70) << 40 << 80 << 0.0;
        QTest::newRow("50 and 70 words, shifted: no search")
            << r.mid(0, 50) << randomWords(5, 7) + r.mid(0, 65) << 40 << 80 << -2.0;
        QTest::newRow("8 words") << r.mid(0, 8) << r.mid(0, 9) << 40 << 80 << 0.0;
        QTest::newRow("7 words") << r.mid(0, 7) << r << 40 << 80 << 1.0;
        QTest::newRow("empty") << Words{} << r << 40 << 80 << 1.0;
        QTest::newRow("unrelated") << r << other << 40 << 80 << -3.0;
    }
    void bitErrorRateRules()
    {
        QFETCH(Words, a);
        QFETCH(Words, b);
        QFETCH(int, maxOffset);
        QFETCH(int, minOverlap);
        QFETCH(double, expected);
        const double ber = Chromaprint::bitErrorRate(a, b, maxOffset, minOverlap);
        if (expected == -2.0) {
            // The exact head comparison, not the (perfect) shifted one.
            QCOMPARE(ber, naiveBer(a, b, int(std::min(a.size(), b.size()))));
            QVERIFY(ber > 0.3);
        } else if (expected < 0.0) {
            QVERIFY2(ber > 0.4 && ber < 0.5, qPrintable(QString::number(ber)));
        } else {
            QCOMPARE(ber, expected);
        }
    }

    void couldMatchRules_data()
    {
        QTest::addColumn<Words>("a");
        QTest::addColumn<Words>("b");
        QTest::addColumn<double>("threshold");
        QTest::addColumn<bool>("expected");
        const Words r = randomWords(300, 11);
        QTest::newRow("same") << r << r << 0.0 << true;
        QTest::newRow("20 words of lead-in") << r << randomWords(20, 12) + r << 0.0 << true;
        QTest::newRow("27 words of lead-in") << r << randomWords(27, 13) + r << 0.0 << true;
        QTest::newRow("9 words less lead-in") << r << r.mid(9) << 0.0 << true;
        QTest::newRow("lead-in beyond 40 words") << r << randomWords(44, 14) + r << 0.12 << false;
        QTest::newRow("unrelated") << r << randomWords(300, 15) << 0.12 << false;
        QTest::newRow("39 words pass unjudged") << r.mid(0, 39) << randomWords(300, 16) << 0.0 << true;
        QTest::newRow("40 words are judged") << r.mid(0, 40) << randomWords(300, 16) << 0.12 << false;
        QTest::newRow("empty") << Words{} << r << 1.0 << false;
        // Half the bits differ: within 0.39 + 0.12, not within 0.37 + 0.12.
        QTest::newRow("inside the margin") << Words(100, 0) << Words(100, 0xFFFF) << 0.39 << true;
        QTest::newRow("outside the margin") << Words(100, 0) << Words(100, 0xFFFF) << 0.37 << false;
    }
    void couldMatchRules()
    {
        QFETCH(Words, a);
        QFETCH(Words, b);
        QFETCH(double, threshold);
        QFETCH(bool, expected);
        QCOMPARE(Chromaprint::couldMatch(a, b, threshold), expected);
    }

    void fakeTool_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<Words>("words");
        QTest::addColumn<qint64>("durationMs");
        QTest::addColumn<QString>("error");
        QTest::newRow("well formed") << QByteArray("printf 'DURATION=183.5\\nFINGERPRINT=1,2,3\\n'")
                                     << Words{1, 2, 3} << qint64(183500) << QString();
        QTest::newRow("third item not a number")
            << QByteArray("printf 'DURATION=10\\nFINGERPRINT=10,20,x7,40, 50 ,4294967295\\n'")
            << Words{10, 20, 40, 50, 4294967295u} << qint64(10000) << QString();
        QTest::newRow("out of range and negative items skipped")
            << QByteArray("printf 'FINGERPRINT=4294967296,-1,7\\n'") << Words{7} << qint64(0) << QString();
        QTest::newRow("second line appends")
            << QByteArray("printf 'FINGERPRINT=1,2\\nFINGERPRINT=3\\nDURATION=2.9999\\n'") << Words{1, 2, 3}
            << qint64(2999) << QString();
        QTest::newRow("damaged duration ignored")
            << QByteArray("printf 'DURATION=1e300\\nFINGERPRINT=5\\n'") << Words{5} << qint64(0) << QString();
        QTest::newRow("garbage") << QByteArray("echo 'hello there'; echo '=,,='") << Words{} << qint64(0)
                                 << "fpcalc produced no fingerprint";
        QTest::newRow("only bad items") << QByteArray("printf 'DURATION=12\\nFINGERPRINT=a,b\\n'") << Words{}
                                        << qint64(12000) << "fpcalc produced no fingerprint";
        QTest::newRow("stderr text on failure")
            << QByteArray("echo 'DURATION=3'; echo ' ERROR: could not open ' >&2; exit 2") << Words{}
            << qint64(0) << "ERROR: could not open";
        // What fpcalc does for every file shorter than -length.
        QTest::newRow("error status after a fingerprint")
            << QByteArray("printf 'DURATION=20\\nFINGERPRINT=8,9\\n'; echo 'ERROR: Error decoding audio "
                          "frame (End of "
                          "file)' >&2; exit 3")
            << Words{8, 9} << qint64(20000) << QString();
        QTest::newRow("crash after a fingerprint") << QByteArray("echo 'FINGERPRINT=8,9'; kill -9 $$")
                                                   << Words{} << qint64(0) << "fpcalc failed (exit";
        QTest::newRow("exit code only")
            << QByteArray("exit 4") << Words{} << qint64(0) << "fpcalc failed (exit 4)";
        // Every row asks for 1 s; the child runs with a time floor of 2 s instead of 30 s.
        QTest::newRow("hangs") << QByteArray("exec sleep 45") << Words{} << qint64(0) << "fpcalc timed out";
        QTest::newRow("cannot start")
            << QByteArray("#!/nonexistent/interpreter") << Words{} << qint64(0) << "could not start fpcalc";
        QTest::newRow("not installed") << QByteArray() << Words{} << qint64(0) << "fpcalc not found";
    }
    void fakeTool()
    {
        QFETCH(QByteArray, script);
        QFETCH(Words, words);
        QFETCH(qint64, durationMs);
        QFETCH(QString, error);
        if (!toolsupport::inChild()) {
            // Not installed: no variable, and a search path holding no fpcalc.
            const QString path =
                script.isEmpty()
                    ? QString()
                    : toolsupport::writeScript(dir.path(), QStringLiteral("fpcalc-fake"), script);
            VERIFY_IN_CHILD({{"RVW_FPCALC", path},
                             {"RVW_TOOL_MIN_SECONDS", "2"},
                             {"PATH", script.isEmpty() ? dir.path() : qEnvironmentVariable("PATH")}});
            return;
        }
        const QString tool = qEnvironmentVariable("RVW_FPCALC");
        QCOMPARE(Chromaprint::fpcalcPath(), tool);
        QCOMPARE(Chromaprint::available(), !tool.isEmpty());
        qputenv("RVW_FPCALC", "/bin/true"); // looked up once: later changes are not seen
        QCOMPARE(Chromaprint::fpcalcPath(), tool);
        const ChromaprintResult r = Chromaprint::fingerprint(QStringLiteral("/music/x.flac"), 1);
        if (error.endsWith(QLatin1String("(exit")))
            QVERIFY2(r.error.startsWith(error), qPrintable(r.error));
        else
            QCOMPARE(r.error, error);
        QCOMPARE(r.fingerprint, words);
        QCOMPARE(r.durationMs, durationMs);
    }

    void commandLine_data()
    {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<QStringList>("expected");
        const QString file = QStringLiteral("/music/Track, with comma.mp3");
        QTest::newRow("seconds") << 90 << QStringList{"-raw", "-length", "90", file};
        QTest::newRow("zero becomes 1") << 0 << QStringList{"-raw", "-length", "1", file};
    }
    void commandLine()
    {
        QFETCH(int, seconds);
        QFETCH(QStringList, expected);
        if (!toolsupport::inChild()) {
            const QString argsFile = dir.filePath(QStringLiteral("args.txt"));
            const QString path = toolsupport::writeArgsRecorder(dir.path(), QStringLiteral("fpcalc-args"),
                                                                "echo FINGERPRINT=1");
            VERIFY_IN_CHILD({{"RVW_FPCALC", path}, {"RVW_TEST_ARGS", argsFile}});
            QCOMPARE(toolsupport::recordedArgs(argsFile), expected);
            return;
        }
        const ChromaprintResult r = Chromaprint::fingerprint(expected.last(), seconds);
        QCOMPARE(r.fingerprint, Words{1});
    }

private:
    QTemporaryDir dir;
};

QTEST_MAIN(TestChromaprint)
#include "tst_chromaprint.moc"

// The accelerated SHA-256 against the framework's, over lengths around every padding boundary
// and over every way of splitting the input between calls.

#include "audio/Sha256.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QtTest>

using namespace rvw;

Q_DECLARE_METATYPE(rvw::Sha256::Engine)

namespace {

QByteArray randomBytes(qsizetype n, quint32 seed)
{
    QByteArray b(n, Qt::Uninitialized);
    QRandomGenerator r(seed);
    for (char &c : b)
        c = char(r.bounded(256));
    return b;
}

QByteArray reference(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256);
}

} // namespace

class TstSha256 : public QObject
{
    Q_OBJECT

    static void addEngines()
    {
        QTest::addColumn<Sha256::Engine>("engine");
        QTest::newRow("fastest") << Sha256::Engine::Fastest;
        QTest::newRow("framework") << Sha256::Engine::Framework;
    }

private slots:
    void engineChoice()
    {
        // The fast path must actually be taken where the processor offers it, or the speed of
        // whole-file hashing silently falls back to the portable code.
        QCOMPARE(Sha256().usesProcessorInstructions(), Sha256::processorHasShaInstructions());
        QVERIFY(!Sha256(Sha256::Engine::Framework).usesProcessorInstructions());
        if (!Sha256::processorHasShaInstructions())
            qInfo("this processor has no SHA instructions: both rows test the framework's code");
    }

    void everyLengthInOneCall_data() { addEngines(); }
    void everyLengthInOneCall()
    {
        QFETCH(Sha256::Engine, engine);
        const QByteArray data = randomBytes(300, 7);
        // 0..300 covers the padding cases: room for the length in the last block (up to 55),
        // not (56..63), exact blocks, and several blocks.
        for (int n = 0; n <= data.size(); ++n) {
            Sha256 h(engine);
            h.addData(data.constData(), n);
            QCOMPARE(h.result().toHex(), reference(data.left(n)).toHex());
        }
    }

    void splitBetweenCalls_data() { addEngines(); }
    void splitBetweenCalls()
    {
        QFETCH(Sha256::Engine, engine);
        const QByteArray data = randomBytes(1000, 11);
        const QByteArray expected = reference(data);
        for (int first = 0; first <= 200; ++first) {
            for (int second : {0, 1, 63, 64, 65, 127, 300}) {
                Sha256 h(engine);
                h.addData(data.constData(), first);
                h.addData(data.constData() + first, second);
                h.addData(data.constData() + first + second, data.size() - first - second);
                QCOMPARE(h.result(), expected);
            }
        }
    }

    void manySmallPieces_data() { addEngines(); }
    void manySmallPieces()
    {
        QFETCH(Sha256::Engine, engine);
        const QByteArray data = randomBytes(3 * 1048576 + 17, 13);
        Sha256 h(engine);
        QRandomGenerator r(5);
        qsizetype pos = 0;
        while (pos < data.size()) {
            const qsizetype n = qMin<qsizetype>(data.size() - pos, r.bounded(1, 5000));
            h.addData(data.constData() + pos, n);
            pos += n;
        }
        QCOMPARE(h.result(), reference(data));
    }

    void knownVectors_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("digest");
        QTest::newRow("empty") << QByteArray()
                               << QByteArray(
                                      "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
        QTest::newRow("abc") << QByteArray("abc")
                             << QByteArray(
                                    "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
        QTest::newRow("896 bits") << QByteArray("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijk"
                                                "lmnoijklmnopjklmnopqklmnopqrlmnopqrs"
                                                "mnopqrstnopqrstu")
                                  << QByteArray(
                                         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
    }
    void knownVectors()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, digest);
        Sha256 h;
        h.addData(input.constData(), input.size());
        QCOMPARE(h.result().toHex(), digest);
    }

    void negativeAndEmptyLengthsAddNothing()
    {
        Sha256 h;
        h.addData("xyz", 0);
        h.addData("xyz", -5);
        h.addData("abc", 3);
        QCOMPARE(h.result(), reference("abc"));
    }
};

QTEST_GUILESS_MAIN(TstSha256)
#include "tst_sha256.moc"

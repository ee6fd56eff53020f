// The accelerated SHA-256 against the framework's, over every padding case and every way of
// splitting the input between calls.

#include "audio/Sha256.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QtTest>

using namespace rvw;

class TstSha256 : public QObject
{
    Q_OBJECT

private slots:
    void matchesFramework()
    {
        // Without the fast path where the processor offers it, whole-file hashing silently slows down.
        QCOMPARE(Sha256().usesProcessorInstructions(), Sha256::processorHasShaInstructions());
        QVERIFY(!Sha256(Sha256::Engine::Framework).usesProcessorInstructions());
        QByteArray data(1000, Qt::Uninitialized);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(data.data()), data.size() / 4);
        for (const Sha256::Engine engine : {Sha256::Engine::Fastest, Sha256::Engine::Framework}) {
            const auto hash = [&](std::initializer_list<int> pieces) {
                Sha256 h(engine);
                int pos = 0;
                for (int n : pieces)
                    h.addData(data.constData() + pos, n), pos += qMax(n, 0);
                return h.result().toHex();
            };
            // 0..300 bytes: the length fits in the last block (up to 55), does not (56..63), exact
            // blocks, several blocks.
            for (int n = 0; n <= 300; ++n)
                QCOMPARE(hash({n}),
                         QCryptographicHash::hash(data.left(n), QCryptographicHash::Sha256).toHex());
            const QByteArray whole = QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
            for (int first = 0; first <= 200; ++first)
                for (int second : {-5, 0, 1, 63, 64, 65, 127, 300})
                    QCOMPARE(hash({first, second, int(data.size()) - first - qMax(second, 0)}), whole);
        }
    }
};

QTEST_GUILESS_MAIN(TstSha256)
#include "tst_sha256.moc"

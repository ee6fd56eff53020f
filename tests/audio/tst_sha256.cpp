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
        const auto framework = [&](int n) {
            return QCryptographicHash::hash(data.left(n), QCryptographicHash::Sha256).toHex();
        };
        for (const Sha256::Engine engine : {Sha256::Engine::Fastest, Sha256::Engine::Framework}) {
            const auto hash = [&](std::initializer_list<int> pieces) {
                Sha256 h(engine);
                int pos = 0;
                for (int n : pieces)
                    h.addData(data.constData() + pos, n), pos += qMax(n, 0);
                return h.result().toHex();
            };
            // Up to 300 bytes in one call: the length fits in the last block (up to 55), does not
            // (56..63), exact blocks, several blocks; then the whole in three calls.
            for (int first = 0; first <= 300; ++first) {
                QCOMPARE(hash({first}), framework(first));
                for (int second : {-5, 0, 1, 63, 64, 65, 127, 300})
                    QCOMPARE(hash({first, second, 1000 - first - qMax(second, 0)}), framework(1000));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TstSha256)
#include "tst_sha256.moc"

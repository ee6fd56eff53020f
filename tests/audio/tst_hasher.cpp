// Whole-file, range and quick hashes on real files.

#include "audio/Hasher.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using namespace rvw;

namespace {

QString sha256(const QByteArray &data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
}

QByteArray randomBytes(qsizetype n, quint32 seed)
{
    QByteArray b(n, '\0');
    QRandomGenerator r(seed);
    for (char &c : b)
        c = char(r.bounded(256));
    return b;
}

} // namespace

class TstHasher : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString write(const QString &name, const QByteArray &content)
    {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(content) != content.size())
            return QString();
        return path;
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // Against the framework's SHA-256: nothing, a few bytes, and around the 1 MiB read block.
    void wholeFile_data()
    {
        QTest::addColumn<int>("size");
        for (int size : {0, 3, 1000000, 1048576, 1048577, 2 * 1048576 + 5})
            QTest::addRow("%d bytes", size) << size;
    }
    void wholeFile()
    {
        QFETCH(int, size);
        const QByteArray content = randomBytes(size, quint32(size));
        const QString path = write(QStringLiteral("whole"), content);
        QString error;
        QCOMPARE(Hasher::hashWholeFile(path, &error), sha256(content));
        QVERIFY(error.isEmpty());
        QCOMPARE(Hasher::hashRange(path, 0, size, &error), size == 0 ? QString() : sha256(content));
    }

    void rangeAcrossBlocks_data()
    {
        QTest::addColumn<qint64>("offset");
        QTest::addColumn<qint64>("length");
        const qint64 mib = 1048576;
        QTest::newRow("inside the first block") << qint64(10) << qint64(1000);
        QTest::newRow("exactly one block") << qint64(0) << mib;
        QTest::newRow("one byte over a block") << qint64(3) << mib + 1;
        QTest::newRow("several blocks from an odd offset") << qint64(12345) << 2 * mib + 777;
        QTest::newRow("to the last byte") << 3 * mib << qint64(17);
        QTest::newRow("past the end: what exists") << 3 * mib << qint64(100000);
        QTest::newRow("starting past the end") << 4 * mib << qint64(10);
    }
    void rangeAcrossBlocks()
    {
        QFETCH(qint64, offset);
        QFETCH(qint64, length);
        static const QByteArray content = randomBytes(3 * 1048576 + 17, 7);
        const QString path = write(QStringLiteral("range.bin"), content);
        QString error;
        QCOMPARE(Hasher::hashRange(path, offset, length, &error), sha256(content.mid(offset, length)));
        QVERIFY(error.isEmpty());
        // One read gives both, also when the payload comes in pieces with gaps between them.
        const qint64 half = length / 2;
        const QList<ByteRange> pieces{{offset, half}, {offset + half + 7, length - half}};
        const Hasher::Digests d = Hasher::hashFile(path, pieces, true, &error);
        QCOMPARE(d.whole, sha256(content));
        QCOMPARE(d.payload, sha256(content.mid(offset, half) + content.mid(offset + half + 7, length - half)));
        QCOMPARE(Hasher::hashFile(path, pieces, false, &error).payload, d.payload);
    }

    void failures()
    {
        const QString missing = m_dir.filePath(QStringLiteral("missing.mp3"));
        QString error;
        QVERIFY(Hasher::hashWholeFile(missing, &error).isEmpty());
        QVERIFY2(error.startsWith(QStringLiteral("Cannot read %1: ").arg(missing)) &&
                     error.size() > QStringLiteral("Cannot read %1: ").arg(missing).size(),
                 qPrintable(error));
        error.clear();
        QVERIFY(Hasher::hashRange(missing, 0, 10, &error).isEmpty());
        QVERIFY(error.startsWith(QStringLiteral("Cannot read %1: ").arg(missing)));
        QVERIFY(Hasher::hashWholeFile(missing, nullptr).isEmpty());
        QVERIFY(Hasher::quickSignature(missing).isEmpty());

        const QString path = write(QStringLiteral("small"), "0123456789");
        error = QStringLiteral("untouched");
        QVERIFY(Hasher::hashRange(path, 0, 0, &error).isEmpty());
        QVERIFY(Hasher::hashRange(missing, 0, -5, &error).isEmpty()); // no file access for an empty range
        QCOMPARE(error, QStringLiteral("untouched"));

        QVERIFY(Hasher::hashRange(path, -1, 5, &error).isEmpty());
        QCOMPARE(error, QStringLiteral("Cannot seek within %1").arg(path));

        // A device would be read for ever: refused at once.
        error.clear();
        QVERIFY(Hasher::hashWholeFile(QStringLiteral("/dev/zero"), &error).isEmpty());
        QVERIFY2(error.endsWith(QStringLiteral("not a regular file")), qPrintable(error));
        QVERIFY(Hasher::hashFile(QStringLiteral("/dev/zero"), {}, true, &error).whole.isEmpty());

        // A directory cannot be hashed, and says so.
        error.clear();
        QVERIFY(Hasher::hashWholeFile(m_dir.path(), &error).isEmpty());
        QVERIFY(!error.isEmpty());
    }

    void quickSignature_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("tailSampled");
        QTest::newRow("smaller than one sample") << 1000 << false;
        QTest::newRow("100,000 bytes: head only") << 100000 << false;
        QTest::newRow("exactly two samples: head only") << 131072 << false;
        QTest::newRow("one byte over two samples") << 131073 << true;
        QTest::newRow("200,000 bytes: head and tail") << 200000 << true;
    }
    void quickSignature()
    {
        QFETCH(int, size);
        QFETCH(bool, tailSampled);
        QByteArray content = randomBytes(size, quint32(size));
        const QString path = write(QStringLiteral("quick.bin"), content);
        const QString signature = Hasher::quickSignature(path);
        QByteArray expected = QByteArray::number(size) + content.left(65536);
        if (tailSampled)
            expected += content.right(65536);
        QCOMPARE(signature, sha256(expected));

        // The last byte counts only when the tail is sampled; the size always counts.
        content[size - 1] = char(content[size - 1] ^ 1);
        write(QStringLiteral("quick.bin"), content);
        QCOMPARE(Hasher::quickSignature(path) != signature, tailSampled || size <= 65536);
        write(QStringLiteral("quick.bin"), content + 'x');
        QVERIFY(Hasher::quickSignature(path) != signature);
    }
};

QTEST_GUILESS_MAIN(TstHasher)
#include "tst_hasher.moc"

// Whole-file, range and quick hashes on real files, against the framework's SHA-256.

#include "audio/Hasher.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using namespace rvw;

namespace {

constexpr qint64 kMiB = 1048576;

QString sha256(const QByteArray &data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
}

} // namespace

class TstHasher : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QByteArray m_big = QByteArray(3 * kMiB + 20, '\0');

    QString write(const QString &name, const QByteArray &content)
    {
        QFile f(m_dir.filePath(name));
        const bool ok = f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(content) == content.size();
        return ok ? f.fileName() : QString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(m_big.data()), m_big.size() / 4);
    }

    // Around the 1 MiB read block; the payload also in two pieces with a gap between them, from
    // the same read as the whole. An empty file has a hash, an empty range none.
    void hashes_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<qint64>("offset");
        QTest::addColumn<qint64>("length");
        const int big = int(m_big.size());
        QTest::newRow("empty file") << 0 << qint64(0) << qint64(0);
        QTest::newRow("one block") << int(kMiB) << qint64(0) << kMiB;
        QTest::newRow("one byte over a block, range past the end") << int(kMiB) + 1 << qint64(3) << kMiB + 1;
        QTest::newRow("inside the first block") << big << qint64(10) << qint64(1000);
        QTest::newRow("several blocks from an odd offset") << big << qint64(12345) << 2 * kMiB + 777;
        QTest::newRow("starting past the end") << big << 4 * kMiB << qint64(10);
    }
    void hashes()
    {
        QFETCH(int, size);
        QFETCH(qint64, offset);
        QFETCH(qint64, length);
        const QByteArray content = m_big.left(size);
        const QString path = write(QStringLiteral("file"), content);
        const auto expected = [&](const QByteArray &part) { return length == 0 ? QString() : sha256(part); };
        QString error;
        QCOMPARE(Hasher::hashWholeFile(path, &error), sha256(content));
        QCOMPARE(Hasher::hashRange(path, offset, length, &error), expected(content.mid(offset, length)));
        const qint64 half = length / 2;
        const QList<ByteRange> pieces{{offset, half}, {offset + half + 7, length - half}};
        const Hasher::Digests d = Hasher::hashFile(path, pieces, true, &error);
        QCOMPARE(d.whole, sha256(content));
        QCOMPARE(d.payload, expected(content.mid(offset, half) + content.mid(offset + half + 7, length - half)));
        QCOMPARE(Hasher::hashFile(path, pieces, false, &error).payload, d.payload);
        QVERIFY(error.isEmpty());
    }

    // An offset of -2 stands for the whole file. The error is a prefix; "untouched" means none.
    void failures_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<qint64>("offset");
        QTest::addColumn<qint64>("length");
        QTest::addColumn<QString>("error");
        const QString missing = m_dir.filePath(QStringLiteral("missing.mp3")), small = write("small", "0123456789");
        QTest::newRow("missing") << missing << qint64(-2) << qint64(0) << QString("Cannot read %1: ").arg(missing);
        QTest::newRow("missing, range") << missing << qint64(0) << qint64(10) << QString("Cannot read %1: ").arg(missing);
        // A device or a folder would be read for ever or not at all: refused at once.
        QTest::newRow("device") << "/dev/zero" << qint64(-2) << qint64(0) << "Cannot read /dev/zero: not a regular file";
        QTest::newRow("folder") << m_dir.path() << qint64(0) << qint64(5)
                                << QString("Cannot read %1: not a regular file").arg(m_dir.path());
        QTest::newRow("negative offset") << small << qint64(-1) << qint64(5) << "Cannot seek within " + small;
        QTest::newRow("offset out of reach") << small << (qint64(1) << 60) << qint64(1) << "Cannot seek within " + small;
        QTest::newRow("empty range") << small << qint64(0) << qint64(0) << "untouched";
        QTest::newRow("negative length: file not opened") << missing << qint64(0) << qint64(-5) << "untouched";
    }
    void failures()
    {
        QFETCH(QString, path);
        QFETCH(qint64, offset);
        QFETCH(qint64, length);
        QFETCH(QString, error);
        const auto hash = [&](QString *e) {
            if (offset > kMiB)
                QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Cannot set file position"));
            return offset == -2 ? Hasher::hashWholeFile(path, e) : Hasher::hashRange(path, offset, length, e);
        };
        QString got = QStringLiteral("untouched");
        QVERIFY(hash(&got).isEmpty());
        QVERIFY2(got.startsWith(error), qPrintable(got));
        QVERIFY(hash(nullptr).isEmpty());
    }

    void quickSignature_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("tailSampled");
        QTest::newRow("smaller than one sample") << 1000 << false;
        QTest::newRow("exactly two samples: head only") << 131072 << false;
        QTest::newRow("one byte over two samples") << 131073 << true;
    }
    void quickSignature()
    {
        QFETCH(int, size);
        QFETCH(bool, tailSampled);
        const QByteArray content = m_big.left(size);
        QCOMPARE(Hasher::quickSignature(write(QStringLiteral("quick.bin"), content)), sha256(QByteArray::number(size) + content.left(65536) + (tailSampled ? content.right(65536) : "")));
        QVERIFY(Hasher::quickSignature(m_dir.filePath(QStringLiteral("missing"))).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TstHasher)
#include "tst_hasher.moc"

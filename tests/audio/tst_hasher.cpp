// Whole-file, range and quick hashes on real files, against the framework's SHA-256.

#include "audio/Hasher.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using namespace rvw;

constexpr qint64 kMiB = 1048576;
constexpr auto kSha256 = QCryptographicHash::Sha256;

class TstHasher : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QByteArray m_big = QByteArray(3 * kMiB + 20, '\0');

    static QString sha256(const QByteArray &d) { return QCryptographicHash::hash(d, kSha256).toHex(); }
    QString write(const QString &name, const QByteArray &content)
    {
        QFile f(m_dir.filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write(content) == content.size() ? f.fileName() : QString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(!write(QStringLiteral("small"), "0123456789").isEmpty());
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(m_big.data()), m_big.size() / 4);
    }

    // Around the 1 MiB read block and the quick signature's two 64 KiB samples; the payload also
    // in two pieces with a gap between them, from the same read as the whole file.
    void hashes_data()
    {
        QTest::addColumn<QList<qint64>>("sizeOffsetLength");
        // clang-format off
        QTest::newRow("empty file: a hash, the empty range none") << QList<qint64>{0, 0, 0};
        QTest::newRow("exactly two samples: head only") << QList<qint64>{131072, 65535, 2};
        QTest::newRow("one byte over two samples") << QList<qint64>{131073, 0, 131073};
        QTest::newRow("one block") << QList<qint64>{kMiB, 0, kMiB};
        QTest::newRow("one byte over a block, range past the end") << QList<qint64>{kMiB + 1, 3, kMiB + 1};
        QTest::newRow("inside the first block") << QList<qint64>{m_big.size(), 10, 1000};
        QTest::newRow("several blocks from an odd offset") << QList<qint64>{m_big.size(), 12345, 2 * kMiB + 777};
        QTest::newRow("starting past the end") << QList<qint64>{m_big.size(), 4 * kMiB, 10};
        // clang-format on
    }
    void hashes()
    {
        QFETCH(QList<qint64>, sizeOffsetLength);
        const qint64 size = sizeOffsetLength[0], offset = sizeOffsetLength[1], length = sizeOffsetLength[2];
        const qint64 half = length / 2;
        const QByteArray c = m_big.left(size), tail = size > 131072 ? c.right(65536) : QByteArray();
        const QString path = write(QStringLiteral("file"), c);
        const auto expected = [&](const QByteArray &part) { return length == 0 ? QString() : sha256(part); };
        const QString payload = expected(c.mid(offset, half) + c.mid(offset + half + 7, length - half));
        const QList<ByteRange> pieces{{offset, half}, {offset + half + 7, length - half}};
        QString error;
        const Hasher::Digests d = Hasher::hashFile(path, pieces, true, &error);
        QCOMPARE(Hasher::hashWholeFile(path, &error) + ' ' + Hasher::hashRange(path, offset, length, &error),
                 sha256(c) + ' ' + expected(c.mid(offset, length)));
        QCOMPARE(d.whole + ' ' + d.payload + ' ' + Hasher::hashFile(path, pieces, false, &error).payload,
                 sha256(c) + ' ' + payload + ' ' + payload);
        QCOMPARE(Hasher::quickSignature(path) + error,
                 sha256(QByteArray::number(size) + c.left(65536) + tail));
    }

    // "file offset length = error": an offset of -2 hashes the whole file; the error is a prefix,
    // "untouched" means none.
    void failures_data()
    {
        QTest::addColumn<QString>("row");
        QTest::newRow("missing") << "missing -2 0 = Cannot read %1: ";
        // A device would be read for ever: refused at once.
        QTest::newRow("device") << "/dev/zero -2 0 = Cannot read %1: not a regular file";
        QTest::newRow("negative offset") << "small -1 5 = Cannot seek within %1";
        QTest::newRow("offset out of reach") << "small 1152921504606846976 1 = Cannot seek within %1";
        QTest::newRow("empty range") << "small 0 0 = untouched";
        QTest::newRow("negative length: file not opened") << "missing 0 -5 = untouched";
    }
    void failures()
    {
        QFETCH(QString, row);
        const QStringList f = row.split(' ');
        const QString path = f[0].startsWith('/') ? f[0] : m_dir.filePath(f[0]);
        const qint64 offset = f[1].toLongLong(), length = f[2].toLongLong();
        const auto hash = [&](QString *e) {
            if (offset > kMiB)
                QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Cannot set file position"));
            return offset == -2 ? Hasher::hashWholeFile(path, e) : Hasher::hashRange(path, offset, length, e);
        };
        QString error = QStringLiteral("untouched");
        QVERIFY(hash(&error).isEmpty() && hash(nullptr).isEmpty());
        QVERIFY2(error.startsWith(row.section(" = ", 1).replace("%1", path)), qPrintable(error));
        QCOMPARE(Hasher::quickSignature(path).isEmpty(), f[0] == "missing");
    }
};

QTEST_GUILESS_MAIN(TstHasher)
#include "tst_hasher.moc"

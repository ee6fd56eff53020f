// Whole-file, range and quick hashes on real files, against the framework's SHA-256.

#include "audio/Hasher.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using namespace rvw;

constexpr qint64 kMiB = 1048576;

class TstHasher : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QByteArray m_big = QByteArray(3 * kMiB + 20, '\0');

    static QString sha256(const QByteArray &data)
    {
        return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
    }
    QString write(const QString &name, const QByteArray &content)
    {
        QFile f(m_dir.filePath(name));
        const bool ok =
            f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(content) == content.size();
        return ok ? f.fileName() : QString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(!write(QStringLiteral("small"), "0123456789").isEmpty());
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(m_big.data()), m_big.size() / 4);
    }

    // Around the 1 MiB read block; the payload also in two pieces with a gap between them, from
    // the same read as the whole file.
    void hashes_data()
    {
        QTest::addColumn<QList<qint64>>("sizeOffsetLength");
        const qint64 big = m_big.size();
        QTest::newRow("empty file: a hash, the empty range none") << QList<qint64>{0, 0, 0};
        QTest::newRow("one block") << QList<qint64>{kMiB, 0, kMiB};
        QTest::newRow("one byte over a block, range past the end") << QList<qint64>{kMiB + 1, 3, kMiB + 1};
        QTest::newRow("inside the first block") << QList<qint64>{big, 10, 1000};
        QTest::newRow("several blocks from an odd offset") << QList<qint64>{big, 12345, 2 * kMiB + 777};
        QTest::newRow("starting past the end") << QList<qint64>{big, 4 * kMiB, 10};
    }
    void hashes()
    {
        QFETCH(QList<qint64>, sizeOffsetLength);
        const qint64 offset = sizeOffsetLength[1], length = sizeOffsetLength[2], half = length / 2;
        const QByteArray content = m_big.left(sizeOffsetLength[0]);
        const QString path = write(QStringLiteral("file"), content);
        const auto expected = [&](const QByteArray &part) { return length == 0 ? QString() : sha256(part); };
        const QList<ByteRange> pieces{{offset, half}, {offset + half + 7, length - half}};
        QString error;
        QCOMPARE(Hasher::hashWholeFile(path, &error), sha256(content));
        QCOMPARE(Hasher::hashRange(path, offset, length, &error), expected(content.mid(offset, length)));
        const Hasher::Digests d = Hasher::hashFile(path, pieces, true, &error);
        QCOMPARE(d.whole, sha256(content));
        QCOMPARE(d.payload,
                 expected(content.mid(offset, half) + content.mid(offset + half + 7, length - half)));
        QCOMPARE(Hasher::hashFile(path, pieces, false, &error).payload, d.payload);
        QVERIFY(error.isEmpty());
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
        const QString name = row.section(' ', 0, 0),
                      path = name.startsWith('/') ? name : m_dir.filePath(name);
        const qint64 offset = row.section(' ', 1, 1).toLongLong(),
                     length = row.section(' ', 2, 2).toLongLong();
        const auto hash = [&](QString *e) {
            if (offset > kMiB)
                QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Cannot set file position"));
            return offset == -2 ? Hasher::hashWholeFile(path, e) : Hasher::hashRange(path, offset, length, e);
        };
        QString error = QStringLiteral("untouched");
        QVERIFY(hash(&error).isEmpty());
        QVERIFY2(error.startsWith(row.section(" = ", 1).replace("%1", path)), qPrintable(error));
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
        const QByteArray c = m_big.left(size), tail = tailSampled ? c.right(65536) : QByteArray();
        QCOMPARE(Hasher::quickSignature(write("quick", c)),
                 sha256(QByteArray::number(size) + c.left(65536) + tail));
        QVERIFY(Hasher::quickSignature(m_dir.filePath(QStringLiteral("missing"))).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TstHasher)
#include "tst_hasher.moc"

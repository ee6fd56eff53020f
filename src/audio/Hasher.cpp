#include "audio/Hasher.h"

#include <QCryptographicHash>
#include <QFile>
#include <QObject>

namespace rvw::Hasher {

namespace {

constexpr qint64 kBlockSize = 1048576;
constexpr qint64 kSampleSize = 65536;

bool openForHashing(QFile &f, const QString &path, QString *error)
{
    if (f.open(QIODevice::ReadOnly))
        return true;
    if (error)
        *error = QObject::tr("Cannot read %1: %2").arg(path, f.errorString());
    return false;
}

} // namespace

QString hashWholeFile(const QString &path, QString *error)
{
    QFile f(path);
    if (!openForHashing(f, path, error))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&f)) {
        if (error)
            *error = QObject::tr("Read error while hashing %1").arg(path);
        return {};
    }
    return QString::fromLatin1(hash.result().toHex());
}

QString hashRange(const QString &path, qint64 offset, qint64 length, QString *error)
{
    if (length < 1)
        return {};
    QFile f(path);
    if (!openForHashing(f, path, error))
        return {};
    if (!f.seek(offset)) {
        if (error)
            *error = QObject::tr("Cannot seek within %1").arg(path);
        return {};
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray block;
    qint64 remaining = length;
    while (remaining >= 1) {
        block.resize(qMin(remaining, kBlockSize));
        const qint64 got = f.read(block.data(), block.size());
        if (got <= 0)
            break;
        remaining -= got;
        hash.addData(QByteArrayView(block.constData(), got));
    }
    return QString::fromLatin1(hash.result().toHex());
}

QString quickSignature(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const qint64 size = f.size();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArray::number(size));
    hash.addData(f.read(kSampleSize));
    if (size > 2 * kSampleSize && f.seek(size - kSampleSize))
        hash.addData(f.read(kSampleSize));
    return QString::fromLatin1(hash.result().toHex());
}

} // namespace rvw::Hasher

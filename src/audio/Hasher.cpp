#include "audio/Hasher.h"

#include "audio/Sha256.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QObject>

#include <limits>

namespace rvw::Hasher {

namespace {

constexpr qint64 kBlockSize = 1048576;
constexpr qint64 kSampleSize = 65536;

bool openForHashing(QFile &f, const QString &path, QString *error)
{
    // A device or a FIFO (a link to /dev/zero in a report) would be read for ever.
    if (!QFileInfo(path).isFile()) {
        if (error)
            *error = QObject::tr("Cannot read %1: not a regular file").arg(path);
        return false;
    }
    // The reads are 1 MiB blocks already; the device's own buffer would only add a copy.
    if (f.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return true;
    if (error)
        *error = QObject::tr("Cannot read %1: %2").arg(path, f.errorString());
    return false;
}

bool cancelled(const QAtomicInt *cancel)
{
    return cancel && cancel->loadRelaxed();
}

// Feeds up to `length` bytes from the current position in blocks of at most 1 MiB, so memory use
// stays bounded whatever the size. False when a read failed (the end of the file is no failure).
bool feedToEnd(QFile &f, qint64 length, Sha256 &hash, const QAtomicInt *cancel)
{
    QByteArray block(int(kBlockSize), Qt::Uninitialized);
    qint64 remaining = length;
    while (remaining >= 1) {
        if (cancelled(cancel))
            return true;
        const qint64 got = f.read(block.data(), qMin(remaining, kBlockSize));
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        remaining -= got;
        hash.addData(block.constData(), got);
    }
    return true;
}

} // namespace

QString hashWholeFile(const QString &path, QString *error, const QAtomicInt *cancel)
{
    QFile f(path);
    if (!openForHashing(f, path, error))
        return {};
    Sha256 hash;
    if (!feedToEnd(f, std::numeric_limits<qint64>::max(), hash, cancel)) {
        if (error)
            *error = QObject::tr("Read error while hashing %1").arg(path);
        return {};
    }
    if (cancelled(cancel))
        return {};
    return QString::fromLatin1(hash.result().toHex());
}

QString hashRange(const QString &path, qint64 offset, qint64 length, QString *error)
{
    return hashRanges(path, {ByteRange{offset, length}}, error);
}

QString hashRanges(const QString &path, const QList<ByteRange> &ranges, QString *error, const QAtomicInt *cancel)
{
    qint64 total = 0;
    for (const ByteRange &r : ranges) {
        if (r.length < 0 || (total += r.length) < 0)
            return {};
    }
    if (total < 1)
        return {};
    QFile f(path);
    if (!openForHashing(f, path, error))
        return {};
    Sha256 hash;
    QByteArray block(int(kBlockSize), Qt::Uninitialized);
    qint64 blockStart = -1;
    qint64 blockSize = 0;
    qint64 previousEnd = std::numeric_limits<qint64>::min();
    for (const ByteRange &r : ranges) {
        if (r.offset < previousEnd) // out of order or overlapping: not a layout any container has
            return {};
        previousEnd = r.offset + r.length;
        qint64 pos = r.offset;
        while (pos < previousEnd) {
            if (pos < blockStart || pos >= blockStart + blockSize) {
                if (cancelled(cancel))
                    return {};
                // A read error or the end of the file ends the hash where the readable bytes end.
                if (!f.seek(pos)) {
                    if (error && blockStart < 0)
                        *error = QObject::tr("Cannot seek within %1").arg(path);
                    return blockStart < 0 ? QString() : QString::fromLatin1(hash.result().toHex());
                }
                blockSize = f.read(block.data(), kBlockSize);
                blockStart = pos;
                if (blockSize < 1)
                    return QString::fromLatin1(hash.result().toHex());
            }
            const qint64 n = qMin(previousEnd, blockStart + blockSize) - pos;
            hash.addData(block.constData() + (pos - blockStart), n);
            pos += n;
        }
    }
    return QString::fromLatin1(hash.result().toHex());
}

Digests hashFile(const QString &path, const QList<ByteRange> &payload, bool wantWhole, QString *error,
                 const QAtomicInt *cancel)
{
    qint64 payloadBytes = 0;
    qint64 previousEnd = 0;
    for (const ByteRange &r : payload) {
        // Out of order, overlapping or negative: not a layout any container has.
        if (r.offset < previousEnd || r.length < 0 || r.offset > std::numeric_limits<qint64>::max() - r.length)
            return {};
        previousEnd = r.offset + r.length;
        payloadBytes += r.length;
    }
    const bool wantPayload = payloadBytes > 0;
    if (!wantWhole && !wantPayload)
        return {};
    QFile f(path);
    if (!openForHashing(f, path, error))
        return {};
    const qint64 start = wantWhole ? 0 : payload.first().offset;
    const qint64 stop = wantWhole ? std::numeric_limits<qint64>::max() : previousEnd;
    if (start > 0 && !f.seek(start)) {
        if (error)
            *error = QObject::tr("Cannot seek within %1").arg(path);
        return {};
    }
    Sha256 whole, part;
    QByteArray block(int(kBlockSize), Qt::Uninitialized);
    qsizetype range = 0;
    qint64 pos = start;
    while (pos < stop) {
        if (cancelled(cancel))
            return {};
        const qint64 got = f.read(block.data(), qMin(kBlockSize, stop - pos));
        if (got < 0) {
            if (error)
                *error = QObject::tr("Read error while hashing %1").arg(path);
            return {};
        }
        if (got == 0)
            break;
        if (wantWhole)
            whole.addData(block.constData(), got);
        // The parts of this block that lie in payload ranges, in order.
        const qint64 blockEnd = pos + got;
        while (range < payload.size()) {
            const ByteRange &r = payload.at(range);
            const qint64 from = qMax(r.offset, pos);
            const qint64 to = qMin(r.offset + r.length, blockEnd);
            if (to > from)
                part.addData(block.constData() + (from - pos), to - from);
            if (r.offset + r.length > blockEnd)
                break; // continues in the next block
            ++range;
        }
        pos = blockEnd;
    }
    Digests d;
    if (wantWhole)
        d.whole = QString::fromLatin1(whole.result().toHex());
    if (wantPayload)
        d.payload = QString::fromLatin1(part.result().toHex());
    return d;
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

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

} // namespace

QString hashWholeFile(const QString &path, QString *error, const QAtomicInt *cancel)
{
    return hashFile(path, {}, true, error, cancel).whole;
}

QString hashRange(const QString &path, qint64 offset, qint64 length, QString *error)
{
    return hashRanges(path, {ByteRange{offset, length}}, error);
}

QString hashRanges(const QString &path, const QList<ByteRange> &ranges, QString *error, const QAtomicInt *cancel)
{
    return hashFile(path, ranges, false, error, cancel).payload;
}

Digests hashFile(const QString &path, const QList<ByteRange> &payload, bool wantWhole, QString *error,
                 const QAtomicInt *cancel)
{
    qint64 payloadBytes = 0;
    qint64 previousEnd = 0;
    if (!payload.isEmpty() && payload.first().offset < 0) {
        if (error)
            *error = QObject::tr("Cannot seek within %1").arg(path);
        return {};
    }
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

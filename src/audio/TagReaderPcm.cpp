// WAVE and AIFF branches of the tag reader: chunk walks for the format, the sample data and the
// few text chunks these files carry.

#include "audio/TagReaderInternal.h"

#include <QFile>
#include <QList>
#include <QPair>

#include <limits>

namespace rvw::tagreader {

namespace {

constexpr qint64 kMaxListChunk = 1048575;
constexpr qint64 kMaxAiffText = 4096;

constexpr qint64 kSize32Unknown = 0xFFFFFFFF;
constexpr int kMaxChunks = 4096;
constexpr int kMaxDs64Table = 64;

// The 64-bit sizes of an RF64 or BW64 file: the data size, and a table for any other chunk too
// large for its 32-bit field. Sizes that do not fit a qint64 read as -1, which no chunk accepts.
struct Ds64
{
    qint64 dataSize = -1;
    QList<QPair<QByteArray, qint64>> table;

    bool sizeOf(const QByteArray &id, qint64 *size) const
    {
        for (const auto &entry : table) {
            if (entry.first == id) {
                *size = entry.second;
                return true;
            }
        }
        return false;
    }
};

qint64 signedSize(quint64 v)
{
    return v <= quint64(std::numeric_limits<qint64>::max()) ? qint64(v) : -1;
}

Ds64 readDs64(ByteSource &f, qint64 at, qint64 size)
{
    Ds64 d;
    // RIFF size (8), data size (8), sample count (8), table length (4), then 12-byte entries.
    const QByteArray b = readAt(f, at, qMin<qint64>(size, 28 + 12 * kMaxDs64Table));
    if (b.size() < 16)
        return d;
    d.dataSize = signedSize(le64(b, 8));
    const qint64 entries = qMin<qint64>(le32(b, 24), kMaxDs64Table);
    for (qint64 i = 0; i < entries && 28 + 12 * (i + 1) <= b.size(); ++i)
        d.table.append({b.mid(28 + 12 * i, 4), signedSize(le64(b, 28 + 12 * i + 4))});
    return d;
}

void parseInfoList(const QByteArray &chunk, AudioMetadata &meta)
{
    const qint64 size = chunk.size();
    if (size < 12 || !bytesAre(chunk, 0, "INFO"))
        return;
    qint64 offset = 4;
    while (offset + 7 < size) {
        const QByteArray id = chunk.mid(offset, 4);
        const qint64 subSize = le32(chunk, offset + 4);
        if (offset + 8 + subSize > size)
            break;
        const QString value = tidy(QString::fromLatin1(capTextBytes(chunk.mid(offset + 8, subSize))));
        if (!value.isEmpty()) {
            if (id == "INAM")
                meta.title = value;
            else if (id == "IART")
                meta.artist = value;
            else if (id == "IPRD")
                meta.album = value;
            else if (id == "ICRD")
                meta.year = value.left(4);
            else if (id == "IGNR")
                meta.genre = value;
            else if (id == "ICMT")
                meta.comment = value;
            else if (id == "ITRK")
                meta.trackNo = value.trimmed().toInt();
        }
        offset += 8 + subSize + (subSize & 1);
    }
}

// The 80-bit extended float of an AIFF sample rate. Values that do not fit an int (or are not
// finite) give 0, which is "unknown", rather than an undefined conversion.
int extendedToInt(quint16 exponent, quint64 mantissa)
{
    if (exponent == 0 && mantissa == 0)
        return 0;
    const int shift = int(exponent) - 16446;
    constexpr quint64 intMax = quint64(std::numeric_limits<int>::max());
    if (shift >= 0) {
        if (shift >= 31 || mantissa > (intMax >> shift))
            return 0;
        return int(mantissa << shift);
    }
    if (shift <= -64)
        return 0;
    const quint64 v = mantissa >> -shift;
    return v <= intMax ? int(v) : 0;
}

} // namespace

bool parseWav(ByteSource &f, AudioMetadata &meta)
{
    meta.formatName = QStringLiteral("WAVE");
    const qint64 fileSize = f.size();
    const QByteArray riff = readAt(f, 0, 12);
    if (riff.size() < 12 || !bytesAre(riff, 8, "WAVE"))
        return false;
    // RF64 and BW64 keep the true 64-bit sizes in a ds64 chunk and put 0xFFFFFFFF in the 32-bit
    // fields it stands in for.
    const bool sizes64 = bytesAre(riff, 0, "RF64") || bytesAre(riff, 0, "BW64");
    if (!sizes64 && !bytesAre(riff, 0, "RIFF"))
        return false;
    if (fileSize < 20)
        return meta.hasAudioRange;
    Ds64 ds64;
    quint32 byteRate = 0;
    qint64 pos = 12;
    for (int count = 0; count < kMaxChunks; ++count) {
        const QByteArray header = readAt(f, pos, 8);
        if (header.size() < 8)
            break;
        const QByteArray id = header.left(4);
        const qint64 body = pos + 8;
        const qint64 left = fileSize - body; // never negative: the header was read whole
        qint64 size = le32(header, 4);
        if (sizes64 && size == kSize32Unknown) {
            if (id == "data")
                size = ds64.dataSize;
            else if (!ds64.sizeOf(id, &size))
                break; // a size given nowhere: what follows cannot be found
        }
        const bool data = id == "data";
        // A data chunk written while streaming keeps the size the writer started with (0, or
        // 0xFFFFFFFF): its samples run to the end of the file.
        if (data && (size == 0 || (!sizes64 && size == kSize32Unknown)))
            size = left;
        if (size < 0 || size > left + 1)
            break; // a chunk cut short: its contents are not trusted
        if (count == 0 && sizes64 && id == "ds64") {
            ds64 = readDs64(f, body, size);
        } else if (id == "fmt " && size >= 16) {
            const QByteArray fmt = readAt(f, body, 16);
            meta.channels = le16(fmt, 2);
            meta.sampleRate = clampToInt(qint64(le32(fmt, 4)));
            byteRate = le32(fmt, 8);
        } else if (data) {
            const qint64 length = qMin(left, size);
            meta.audioOffset = body;
            meta.audioLength = length;
            meta.hasAudioRange = length > 0;
            if (byteRate != 0)
                meta.durationMs = qMax<qint64>(scaledMs(quint64(length), byteRate), 0);
        } else if (id == "LIST" && size >= 5 && size <= kMaxListChunk) {
            parseInfoList(readAt(f, body, size), meta);
        }
        if (size >= left) // size <= left + 1 keeps this sum in range
            break;
        pos = body + size + (size & 1);
        if (fileSize <= pos + 7)
            break;
    }
    if (byteRate != 0)
        meta.bitrate = clampToInt(qint64(byteRate) * 8 / 1000);
    return meta.hasAudioRange;
}

bool parseAiff(ByteSource &f, AudioMetadata &meta)
{
    meta.formatName = QStringLiteral("AIFF");
    const qint64 fileSize = f.size();
    const QByteArray form = readAt(f, 0, 12);
    if (form.size() < 12 || !bytesAre(form, 0, "FORM"))
        return false;
    if (fileSize < 20)
        return meta.durationMs > 0;
    quint32 sampleFrames = 0;
    int bits = 16;
    qint64 pos = 12;
    for (int count = 0; count < kMaxChunks; ++count) {
        const QByteArray header = readAt(f, pos, 8);
        if (header.size() < 8)
            break;
        const qint64 size = be32(header, 4);
        const qint64 next = pos + 8 + size;
        if (next > fileSize + 1)
            break;
        if (bytesAre(header, 0, "COMM") && size >= 18) {
            const QByteArray comm = readAt(f, pos + 8, 18);
            if (comm.size() == 18) {
                meta.channels = be16(comm, 0);
                sampleFrames = be32(comm, 2);
                bits = be16(comm, 6);
                meta.sampleRate = extendedToInt(be16(comm, 8) & 0x7FFF, be64(comm, 10));
            }
        } else if (bytesAre(header, 0, "SSND")) {
            meta.hasAudioRange = size > 8;
            meta.audioOffset = pos + 16;
            meta.audioLength = qMax<qint64>(size - 8, 0);
        } else if (bytesAre(header, 0, "NAME") && size < kMaxAiffText) {
            meta.title = tidy(QString::fromLatin1(readAt(f, pos + 8, size)));
        } else if (bytesAre(header, 0, "AUTH") && size < kMaxAiffText) {
            meta.artist = tidy(QString::fromLatin1(readAt(f, pos + 8, size)));
        }
        pos = next + (size & 1);
        if (fileSize <= pos + 7)
            break;
    }
    if (sampleFrames != 0 && meta.sampleRate >= 1) {
        meta.durationMs = qint64(sampleFrames) * 1000 / meta.sampleRate;
        meta.bitrate = clampToInt(qint64(meta.sampleRate) * meta.channels * bits / 1000);
    }
    return meta.durationMs >= 1;
}

} // namespace rvw::tagreader

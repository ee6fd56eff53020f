// WAVE and AIFF branches of the tag reader: chunk walks for the format, the sample data and the
// few text chunks these files carry.

#include "audio/TagReaderInternal.h"

#include <QFile>

#include <limits>

namespace rvw::tagreader {

namespace {

constexpr qint64 kMaxListChunk = 1048575;
constexpr qint64 kMaxAiffText = 4096;

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
        const QString value = tidy(QString::fromLatin1(chunk.constData() + offset + 8, subSize));
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

bool parseWav(QFile &f, AudioMetadata &meta)
{
    meta.formatName = QStringLiteral("WAVE");
    const qint64 fileSize = f.size();
    const QByteArray riff = readAt(f, 0, 12);
    if (riff.size() < 12 || !bytesAre(riff, 0, "RIFF") || !bytesAre(riff, 8, "WAVE"))
        return false;
    if (fileSize < 20)
        return meta.hasAudioRange;
    quint32 byteRate = 0;
    qint64 pos = 12;
    for (;;) {
        const QByteArray header = readAt(f, pos, 8);
        if (header.size() < 8)
            break;
        const qint64 size = le32(header, 4);
        const qint64 next = pos + 8 + size;
        if (next > fileSize + 1)
            break; // a chunk cut short: its contents are not trusted
        if (bytesAre(header, 0, "fmt ") && size >= 16) {
            const QByteArray fmt = readAt(f, pos + 8, 16);
            meta.channels = le16(fmt, 2);
            meta.sampleRate = clampToInt(qint64(le32(fmt, 4)));
            byteRate = le32(fmt, 8);
        } else if (bytesAre(header, 0, "data")) {
            const qint64 length = qMin(fileSize - (pos + 8), size);
            meta.audioOffset = pos + 8;
            meta.audioLength = length;
            meta.hasAudioRange = length > 0;
            if (byteRate != 0)
                meta.durationMs = length * 1000 / byteRate;
        } else if (bytesAre(header, 0, "LIST") && size >= 5 && size <= kMaxListChunk) {
            parseInfoList(readAt(f, pos + 8, size), meta);
        }
        pos = next + (size & 1);
        if (fileSize <= pos + 7)
            break;
    }
    if (byteRate != 0)
        meta.bitrate = int(quint32(byteRate * 8u) / 1000u);
    return meta.hasAudioRange;
}

bool parseAiff(QFile &f, AudioMetadata &meta)
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
    for (;;) {
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

// FLAC and Ogg (Vorbis, Opus) branches of the tag reader, with the Vorbis comment block both use.

#include "audio/TagReaderInternal.h"

#include <QFile>

namespace rvw::tagreader {

namespace {

constexpr qint64 kMaxCommentBlock = 8388607;
constexpr qint64 kOggTailBytes = 131072;

void assignVorbisComment(AudioMetadata &meta, const QString &key, const QString &value)
{
    if (key == QLatin1String("TITLE"))
        meta.title = value;
    else if (key == QLatin1String("ARTIST"))
        meta.artist = value;
    else if (key == QLatin1String("ALBUM"))
        meta.album = value;
    else if (key == QLatin1String("ALBUMARTIST"))
        meta.albumArtist = value;
    else if (key == QLatin1String("GENRE"))
        meta.genre = value;
    else if (key == QLatin1String("DATE"))
        meta.year = value.left(4);
    else if (key == QLatin1String("COMMENT") || key == QLatin1String("DESCRIPTION"))
        meta.comment = value;
    else if (key == QLatin1String("TRACKNUMBER"))
        meta.trackNo = leadingNumber(value);
}

// One header packet of an Ogg stream: identification or comments of Vorbis or Opus.
void inspectOggPacket(const QByteArray &packet, AudioMetadata &meta, qint64 &clockRate)
{
    if (packet.size() >= 16 && packet[0] == 1 && bytesAre(packet, 1, "vorbis")) {
        meta.channels = quint8(packet[11]);
        meta.sampleRate = clampToInt(qint64(le32(packet, 12)));
        meta.formatName = QStringLiteral("Ogg Vorbis");
        clockRate = meta.sampleRate;
    } else if (packet.size() >= 16 && bytesAre(packet, 0, "OpusHead")) {
        meta.channels = quint8(packet[9]);
        meta.sampleRate = clampToInt(qint64(le32(packet, 12)));
        meta.formatName = QStringLiteral("Opus");
        clockRate = 48000; // Opus granules always count 48 kHz samples
    } else if (packet.size() >= 7 && packet[0] == 3 && bytesAre(packet, 1, "vorbis")) {
        parseVorbisCommentBlock(packet.mid(7), meta);
    } else if (bytesAre(packet, 0, "OpusTags")) {
        parseVorbisCommentBlock(packet.mid(8), meta);
    }
}

} // namespace

void parseVorbisCommentBlock(const QByteArray &block, AudioMetadata &meta)
{
    const qint64 size = block.size();
    if (size < 8)
        return;
    qint64 pos = qint64(le32(block, 0)) + 4; // past the vendor string
    if (pos + 3 >= size)
        return;
    const quint32 count = le32(block, pos);
    pos += 4;
    if (count == 0 || pos + 3 >= size)
        return;
    for (quint32 i = 0; i < count; ++i) {
        const qint64 len = le32(block, pos);
        if (len > size || pos + 4 + len > size)
            return;
        // Cut before decoding: a picture entry can be megabytes long.
        const QString entry = QString::fromUtf8(capTextBytes(block.mid(pos + 4, len)));
        pos += 4 + len;
        const qsizetype eq = entry.indexOf(QLatin1Char('='));
        if (eq > 0) {
            const QString value = tidy(entry.mid(eq + 1));
            if (!value.isEmpty())
                assignVorbisComment(meta, entry.left(eq).toUpper(), value);
        }
        if (pos + 3 >= size)
            return;
    }
}

bool readFlac(ByteSource &f, AudioMetadata &meta)
{
    meta.formatName = QStringLiteral("FLAC");
    const qint64 fileSize = f.size();
    if (!bytesAre(readAt(f, 0, 4), 0, "fLaC"))
        return false;
    qint64 pos = 4;
    quint64 totalSamples = 0;
    for (;;) {
        const QByteArray header = readAt(f, pos, 4);
        if (header.size() < 4)
            return false;
        const bool last = quint8(header[0]) & 0x80;
        const int type = quint8(header[0]) & 0x7F;
        const qint64 length = qint64(be32(header, 0) & 0xFFFFFF);
        if (type == 0 && length >= 18) {
            const QByteArray info = readAt(f, pos + 4, 18);
            if (info.size() == 18) {
                const quint8 b10 = quint8(info[10]), b11 = quint8(info[11]), b12 = quint8(info[12]);
                meta.sampleRate = b10 << 12 | b11 << 4 | b12 >> 4;
                meta.channels = ((b12 >> 1) & 7) + 1;
                totalSamples = (quint64(quint8(info[13]) & 0x0F) << 32) | be32(info, 14);
            }
        } else if (type == 4 && length >= 1 && length <= kMaxCommentBlock) {
            parseVorbisCommentBlock(readAt(f, pos + 4, length), meta);
        }
        pos += 4 + length;
        if (last)
            break;
        if (pos >= fileSize)
            return false;
    }
    meta.audioOffset = pos;
    meta.audioLength = qMax<qint64>(fileSize - pos, 0);
    meta.hasAudioRange = meta.audioLength > 0;
    if (meta.sampleRate >= 1 && totalSamples != 0) {
        meta.durationMs = qMax<qint64>(scaledMs(totalSamples, quint64(meta.sampleRate)), 0);
        if (meta.durationMs >= 1)
            meta.bitrate = clampToInt(meta.audioLength * 8 / meta.durationMs);
    }
    return true;
}

bool parseOgg(ByteSource &f, AudioMetadata &meta)
{
    meta.formatName = QStringLiteral("Ogg");
    const qint64 fileSize = f.size();
    if (!bytesAre(readAt(f, 0, 4), 0, "OggS"))
        return false;

    qint64 pos = 0;
    int packets = 0;
    qint64 clockRate = 0;
    while (pos < fileSize && packets < 3) {
        const QByteArray header = readAt(f, pos, 27);
        if (header.size() < 27 || !bytesAre(header, 0, "OggS"))
            break;
        const int segments = quint8(header[26]);
        const QByteArray lacing = readAt(f, pos + 27, segments);
        if (lacing.size() < segments)
            break;
        qint64 bodySize = 0;
        for (char v : lacing)
            bodySize += quint8(v);
        const QByteArray body = readAt(f, pos + 27 + segments, bodySize);
        if (body.size() < bodySize)
            break;
        // Packets are cut from this page alone: one still open at the page end is dropped, and
        // its continuation on the next page is taken as a packet of its own.
        qint64 start = 0;
        qint64 at = 0;
        for (char v : lacing) {
            at += quint8(v);
            if (quint8(v) < 255) {
                inspectOggPacket(body.mid(start, at - start), meta, clockRate);
                start = at;
                if (++packets == 3)
                    break;
            }
        }
        pos += 27 + segments + bodySize;
    }

    const qint64 tailSize = qMin(fileSize, kOggTailBytes);
    const QByteArray tail = readAt(f, fileSize - tailSize, tailSize);
    for (qint64 i = tail.size() - 27; i >= 0; --i) {
        if (bytesAre(tail, i, "OggS")) {
            const qint64 granule = qint64(le64(tail, i + 6));
            // A negative granule (-1: no packet ends on the page) says nothing about the length.
            if (granule > 0 && clockRate >= 1) {
                meta.durationMs = qMax<qint64>(scaledMs(quint64(granule), quint64(clockRate)), 0);
                if (meta.durationMs > 0)
                    meta.bitrate = clampToInt(fileSize * 8 / meta.durationMs);
            }
            break;
        }
    }
    meta.hasAudioRange = false;
    return true;
}

} // namespace rvw::tagreader

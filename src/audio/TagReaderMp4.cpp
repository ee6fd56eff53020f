// The MP4 family branch of the tag reader (m4a, m4b, mp4, and aac files, which are read as MP4):
// an atom walk for the movie header, the iTunes-style item list and the media data.

#include "audio/TagReaderInternal.h"

#include <QFile>

namespace rvw::tagreader {

namespace {

constexpr int kMaxDepth = 9;
constexpr qint64 kMaxItemBody = 4096;

void readMovieHeader(QFile &f, qint64 payloadStart, AudioMetadata &meta)
{
    const QByteArray h = readAt(f, payloadStart, 32);
    if (h.size() < 32)
        return;
    quint64 timeScale, duration;
    if (h[0] == 1) {
        timeScale = be32(h, 20);
        duration = be64(h, 24);
    } else {
        timeScale = be32(h, 12);
        duration = be32(h, 16);
    }
    if (timeScale != 0) {
        const qint64 ms = scaledMs(duration, timeScale);
        if (ms >= 0)
            meta.durationMs = ms;
    }
}

} // namespace

void walkMp4(QFile &f, qint64 begin, qint64 end, AudioMetadata &meta, int depth)
{
    if (depth >= kMaxDepth || end <= begin + 7)
        return;
    qint64 pos = begin;
    for (;;) {
        const QByteArray header = readAt(f, pos, 8);
        if (header.size() < 8)
            return;
        quint64 size = be32(header, 0);
        const QByteArray type = header.mid(4, 4);
        qint64 payloadStart = pos + 8;
        if (size == 1) {
            const QByteArray large = readAt(f, pos + 8, 8);
            if (large.size() < 8)
                return;
            size = be64(large, 0);
            payloadStart = pos + 16;
            if (size < 16)
                return; // smaller than its own header
        } else if (size == 0) {
            size = quint64(end - pos);
        }
        if (size < 8 || size > quint64(end - pos))
            return;
        const qint64 next = pos + qint64(size);
        if (type == "moov" || type == "trak" || type == "mdia" || type == "udta") {
            walkMp4(f, payloadStart, next, meta, depth + 1);
        } else if (type == "meta") {
            walkMp4(f, payloadStart + 4, next, meta, depth + 1); // past version and flags
        } else if (type == "ilst") {
            parseIlst(f, payloadStart, next, meta);
        } else if (type == "mvhd") {
            readMovieHeader(f, payloadStart, meta);
        } else if (type == "mdat") {
            meta.audioOffset = payloadStart;
            meta.audioLength = next - payloadStart;
            meta.hasAudioRange = meta.audioLength > 0;
        }
        pos = next;
        if (end <= pos + 7)
            return;
    }
}

void parseIlst(QFile &f, qint64 begin, qint64 end, AudioMetadata &meta)
{
    qint64 pos = begin;
    while (pos + 8 <= end) {
        const QByteArray header = readAt(f, pos, 8);
        if (header.size() < 8)
            return;
        const qint64 size = be32(header, 0);
        if (size < 8 || pos + size > end)
            return;
        const qint64 itemStart = pos;
        pos += size;
        const QByteArray body = readAt(f, itemStart + 8, qMin<qint64>(size - 8, kMaxItemBody));
        if (body.size() < 16 || !bytesAre(body, 4, "data"))
            continue;
        const qint64 declared = qint64(be32(body, 0)) - 16;
        const QByteArray value = declared > 0 ? body.mid(16, declared) : QByteArray();
        const QByteArray type = header.mid(4, 4);
        const QString text = tidy(QString::fromUtf8(value));
        if (type == "\xA9nam") {
            meta.title = text;
        } else if (type == "\xA9"
                           "ART") {
            meta.artist = text;
        } else if (type == "\xA9"
                           "alb") {
            meta.album = text;
        } else if (type == "aART") {
            meta.albumArtist = text;
        } else if (type == "\xA9gen") {
            meta.genre = text;
        } else if (type == "gnre") {
            if (value.size() >= 2) {
                const QString name = genreName(int(be16(value, 0)) - 1);
                if (!name.isEmpty())
                    meta.genre = name;
            }
        } else if (type == "\xA9"
                           "day") {
            meta.year = text.left(4);
        } else if (type == "\xA9"
                           "cmt") {
            meta.comment = text;
        } else if (type == "trkn") {
            if (value.size() >= 4)
                meta.trackNo = be16(value, 2);
        }
    }
}

bool readMp4(QFile &f, AudioMetadata &meta)
{
    meta.formatName = QStringLiteral("MPEG-4 Audio");
    const qint64 fileSize = f.size();
    walkMp4(f, 0, fileSize, meta, 0);
    if (meta.channels == 0)
        meta.channels = 2; // the walk does not read sample descriptions
    if (meta.durationMs > 0) {
        meta.bitrate = clampToInt(fileSize * 8 / meta.durationMs);
        return true;
    }
    return meta.hasAudioRange;
}

} // namespace rvw::tagreader

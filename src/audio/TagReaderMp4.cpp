// The MP4 family branch of the tag reader (m4a, m4b, mp4, and aac files, which are read as MP4):
// an atom walk for the movie header, the iTunes-style item list and the media data.

#include "audio/TagReaderInternal.h"

#include <QFile>

namespace rvw::tagreader {

namespace {

constexpr int kMaxDepth = 9;
constexpr qint64 kMaxItemBody = 4096;
// A box takes at least 8 bytes, so every walk ends; the count bounds the work on a file of
// millions of tiny boxes while leaving room for ten hours fragmented at one fragment per frame.
constexpr int kMaxBoxesPerLevel = 1 << 22;

struct Box
{
    QByteArray type;
    qint64 start = 0;
    qint64 payload = 0; // first byte after the header
    qint64 next = 0;    // first byte after the box
};

// The header of the box at pos, which has to end by `end`. False when it is cut short or its size
// does not fit.
bool readBox(ByteSource &f, qint64 pos, qint64 end, Box &box)
{
    const QByteArray header = readAt(f, pos, 8);
    if (header.size() < 8)
        return false;
    quint64 size = be32(header, 0);
    box.type = header.mid(4, 4);
    box.start = pos;
    box.payload = pos + 8;
    if (size == 1) {
        const QByteArray large = readAt(f, pos + 8, 8);
        if (large.size() < 8)
            return false;
        size = be64(large, 0);
        box.payload = pos + 16;
        if (size < 16)
            return false; // smaller than its own header
    } else if (size == 0) {
        size = quint64(end - pos);
    }
    if (size < 8 || size > quint64(end - pos))
        return false;
    box.next = pos + qint64(size);
    return true;
}

void readMovieHeader(ByteSource &f, qint64 payloadStart, AudioMetadata &meta)
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

// Tags and the movie header, at any level.
void visitBox(ByteSource &f, const Box &box, AudioMetadata &meta, int depth)
{
    if (box.type == "moov" || box.type == "trak" || box.type == "mdia" || box.type == "udta")
        walkMp4(f, box.payload, box.next, meta, depth + 1);
    else if (box.type == "meta")
        walkMp4(f, box.payload + 4, box.next, meta, depth + 1); // past version and flags
    else if (box.type == "ilst")
        parseIlst(f, box.payload, box.next, meta);
    else if (box.type == "mvhd")
        readMovieHeader(f, box.payload, meta);
}

// Where the coded audio lies among the top-level boxes: a plain file keeps it in one mdat, a
// fragmented one spreads it over moof/mdat pairs.
struct MediaLayout
{
    int mdatCount = 0;
    bool fragmented = false;
    bool interrupted = false; // another box came after the first moof or mdat
    bool gap = false;         // ... and more fragments after that box
    bool complete = true;     // the walk reached the end of the file
    qint64 firstFragment = -1;
    qint64 lastPayload = 0;
    qint64 lastEnd = 0;
};

MediaLayout walkTopLevel(ByteSource &f, qint64 fileSize, AudioMetadata &meta)
{
    MediaLayout layout;
    Box box;
    qint64 pos = 0;
    for (int count = 0; fileSize - pos >= 8; ++count) {
        if (count == kMaxBoxesPerLevel || !readBox(f, pos, fileSize, box)) {
            layout.complete = false;
            break;
        }
        if (box.type == "moof" || box.type == "mdat") {
            if (layout.firstFragment < 0)
                layout.firstFragment = box.start;
            layout.gap = layout.gap || layout.interrupted;
            if (box.type == "moof") {
                layout.fragmented = true;
            } else {
                ++layout.mdatCount;
                layout.lastPayload = box.payload;
                layout.lastEnd = box.next;
            }
        } else {
            layout.interrupted = layout.firstFragment >= 0;
            visitBox(f, box, meta, 0);
        }
        pos = box.next;
    }
    return layout;
}

// Every mdat has to lie inside the range, or two songs whose last fragments match (a silent
// ending) would share a payload hash. Several mdats make one range from the first fragment to
// the end of the last mdat: the moof boxes come along, the tags in the moov before stay out, and
// so does a trailing mfra. No range when the span could hold anything else or miss a fragment.
void setPayloadRange(const MediaLayout &layout, AudioMetadata &meta)
{
    if (layout.mdatCount == 0)
        return;
    const bool several = layout.fragmented || layout.mdatCount > 1;
    if (several && (layout.gap || !layout.complete))
        return;
    meta.audioOffset = layout.mdatCount == 1 ? layout.lastPayload : layout.firstFragment;
    meta.audioLength = layout.lastEnd - meta.audioOffset;
    meta.hasAudioRange = meta.audioLength > 0;
}

} // namespace

void walkMp4(ByteSource &f, qint64 begin, qint64 end, AudioMetadata &meta, int depth)
{
    if (depth >= kMaxDepth)
        return;
    Box box;
    for (int count = 0; count < kMaxBoxesPerLevel && end - begin >= 8 && readBox(f, begin, end, box);
         ++count) {
        visitBox(f, box, meta, depth);
        begin = box.next;
    }
}

void parseIlst(ByteSource &f, qint64 begin, qint64 end, AudioMetadata &meta)
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
        const QString text = tidy(QString::fromUtf8(capTextBytes(value)));
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

bool readMp4(ByteSource &f, AudioMetadata &meta)
{
    meta.formatName = QStringLiteral("MPEG-4 Audio");
    const qint64 fileSize = f.size();
    setPayloadRange(walkTopLevel(f, fileSize, meta), meta);
    if (meta.channels == 0)
        meta.channels = 2; // the walk does not read sample descriptions
    if (meta.durationMs > 0) {
        meta.bitrate = clampToInt(fileSize * 8 / meta.durationMs);
        return true;
    }
    return meta.hasAudioRange;
}

} // namespace rvw::tagreader

// The MPEG audio branch of the tag reader: ID3v2 at the start, ID3v1 and APEv2 at the end, the
// first frame header and an optional Xing/Info/VBRI frame (or else a count of the frames), from
// which duration and payload follow.

#include "audio/TagReaderInternal.h"

#include <QFile>

#include <limits>

namespace rvw::tagreader {

namespace {

constexpr qint64 kMaxId3Body = 64 * 1024 * 1024;
constexpr qint64 kFrameSearchBytes = 262144;
// Real tags hold tens of frames; the cap bounds the work on a tag made of millions of tiny ones.
constexpr int kMaxId3Frames = 4096;

void walkId3v2Frames(const QByteArray &body, int version, quint8 flags, AudioMetadata &meta)
{
    const int maxFrames = kMaxId3Frames;
    const qint64 bodySize = body.size();
    if (bodySize == 0)
        return;
    const qint64 headerSize = version < 3 ? 6 : 10;
    const int idLength = version < 3 ? 3 : 4;
    qint64 pos = 0;
    if (flags & 0x40) {
        if (bodySize < 4)
            return;
        const qint64 extended = version < 4 ? qint64(be32(body, 0)) + 4 : qint64(syncsafe32(body, 0));
        pos = qMax<qint64>(extended, 6);
    }
    for (int frames = 0; pos + headerSize <= bodySize && frames < maxFrames; ++frames) {
        if (body[pos] == 0)
            break; // padding
        const QString id = QString::fromLatin1(body.constData() + pos, idLength);
        qint64 frameSize;
        if (version < 3)
            frameSize = qint64(be32(body, pos + 2) & 0xFFFFFF);
        else if (version == 3)
            frameSize = qint64(be32(body, pos + 4));
        else
            frameSize = qint64(syncsafe32(body, pos + 4));
        const qint64 next = pos + headerSize + frameSize;
        if (frameSize == 0 || next > bodySize)
            break;
        const QByteArray data = body.mid(pos + headerSize, frameSize);
        if (id.startsWith(QLatin1Char('T')) && data.size() > 1) {
            assignFrame(meta, id, decodeId3Text(quint8(data[0]), data.mid(1)));
        } else if (id.startsWith(QLatin1String("COM")) && data.size() >= 5) {
            const quint8 enc = quint8(data[0]);
            const QByteArray rest = data.mid(4); // after the encoding byte and the language
            qsizetype textStart = -1;
            if (enc == 1 || enc == 2) {
                for (qsizetype i = 0; i + 1 < rest.size(); i += 2) {
                    if (rest[i] == 0 && rest[i + 1] == 0) {
                        textStart = i + 2;
                        break;
                    }
                }
            } else {
                const qsizetype zero = rest.indexOf('\0');
                if (zero >= 0)
                    textStart = zero + 1;
            }
            assignFrame(meta, QStringLiteral("COMM"),
                        decodeId3Text(enc, textStart < 0 ? rest : rest.mid(textStart)));
        }
        pos = next;
    }
}

// Reads the ID3v2 tag at the start, if any; returns where the audio region begins.
qint64 readId3v2(ByteSource &f, AudioMetadata &meta)
{
    const QByteArray header = readAt(f, 0, 10);
    if (header.size() < 10 || !bytesAre(header, 0, "ID3"))
        return 0;
    const quint8 flags = quint8(header[5]);
    const int version = quint8(header[3]);
    const qint64 size = syncsafe32(header, 6);
    const qint64 id3Size = size + ((flags & 0x10) ? 20 : 10);
    if (size > 0 && size <= kMaxId3Body)
        walkId3v2Frames(readAt(f, 10, size), version, flags, meta);
    return id3Size;
}

void readId3v1(const QByteArray &v1, AudioMetadata &meta)
{
    auto field = [&](int at, int n) { return tidy(QString::fromLatin1(v1.constData() + at, n)); };
    if (meta.title.isEmpty())
        meta.title = field(3, 30);
    if (meta.artist.isEmpty())
        meta.artist = field(33, 30);
    if (meta.album.isEmpty())
        meta.album = field(63, 30);
    if (meta.year.isEmpty())
        meta.year = field(93, 4);
    if (meta.trackNo == 0 && v1[125] == 0)
        meta.trackNo = quint8(v1[126]);
    if (meta.genre.isEmpty())
        meta.genre = genreName(quint8(v1[127]));
}

// ID3v1 fills only what ID3v2 left empty. Taggers write ID3v1 and APEv2 in either order, so each
// is looked for at the end of what the other left. Returns the bytes the trailing tags take.
qint64 readTrailingTags(ByteSource &f, AudioMetadata &meta)
{
    const qint64 fileSize = f.size();
    qint64 tailBytes = 0;
    bool haveV1 = false;
    bool haveApe = false;
    for (int round = 0; round < 2; ++round) {
        const qint64 end = fileSize - tailBytes;
        if (!haveV1 && end > 128) {
            const QByteArray v1 = readAt(f, end - 128, 128);
            if (v1.size() == 128 && bytesAre(v1, 0, "TAG")) {
                haveV1 = true;
                tailBytes += 128;
                readId3v1(v1, meta);
                continue;
            }
        }
        if (!haveApe && end >= 33) {
            const QByteArray footer = readAt(f, end - 32, 32);
            if (footer.size() == 32 && bytesAre(footer, 0, "APETAGEX")) {
                haveApe = true;
                tailBytes += qint64(le32(footer, 12)); // at most 4 GiB: no overflow in 64 bits
                if (le32(footer, 20) & 0x80000000u)
                    tailBytes += 32; // the tag also has a header in front
                continue;
            }
        }
        break;
    }
    return tailBytes;
}

bool sameStream(const MpegFrameHeader &a, const MpegFrameHeader &b)
{
    return a.valid && b.valid && a.versionBits == b.versionBits && a.layer == b.layer &&
           a.sampleRate == b.sampleRate && a.freeFormat == b.freeFormat;
}

// A free-format header carries no frame length, so only a matching header at a plausible distance
// (a frame of at most 640 kbit/s) tells it from chance bytes.
bool freeFormatConfirmed(const uchar *p, qint64 pos, qint64 size, const MpegFrameHeader &h)
{
    const qint64 maxLength = qint64(h.samplesPerFrame) / 8 * 640000 / h.sampleRate + 4;
    const qint64 last = qMin(pos + maxLength, size - 4);
    for (qint64 q = pos + 4 + h.sideInfoSize; q <= last; ++q) {
        if (p[q] == 0xFF && sameStream(h, decodeMpegHeader(p + q)))
            return true;
    }
    return false;
}

// The first position holding a frame header confirmed by the next one (or whose frame runs past
// the buffer); -1 when there is none.
qint64 findFirstFrame(const QByteArray &buf, MpegFrameHeader &h1)
{
    const auto *p = reinterpret_cast<const uchar *>(buf.constData());
    const qint64 size = buf.size();
    for (qint64 pos = 0; pos + 4 <= size; ++pos) {
        if (p[pos] == 0xFF) {
            h1 = decodeMpegHeader(p + pos);
            if (h1.valid) {
                if (h1.freeFormat) {
                    if (freeFormatConfirmed(p, pos, size, h1))
                        return pos;
                } else if (pos + h1.frameLength + 4 > size) {
                    return pos;
                } else if (decodeMpegHeader(p + pos + h1.frameLength).valid) {
                    return pos;
                }
            }
        }
        if (pos + 5 > size)
            break;
    }
    h1 = MpegFrameHeader();
    return -1;
}

// The shortest frame the stream of this header can have: its lowest bit rate, no padding.
int minimumFrameLength(const uchar *header)
{
    const uchar lowest[4] = {header[0], header[1], uchar((header[2] & 0x0C) | 0x10), header[3]};
    return decodeMpegHeader(lowest).frameLength;
}

// Counts the frames of h1's stream from `begin` to `end`, reading in large blocks. A byte that
// starts no matching frame is skipped, so junk between frames costs a resync, not the count.
quint64 countFrames(ByteSource &f, qint64 begin, qint64 end, const MpegFrameHeader &h1)
{
    constexpr qint64 kBlock = 1024 * 1024;
    constexpr quint64 kMaxFrames = 10000000;
    QByteArray block;
    qint64 blockStart = begin;
    quint64 frames = 0;
    qint64 pos = begin;
    while (pos + 4 <= end && frames < kMaxFrames) {
        if (pos < blockStart || pos + 4 > blockStart + block.size()) {
            blockStart = pos;
            block = readAt(f, pos, qMin(kBlock, end - pos));
            if (block.size() < 4)
                break;
        }
        const auto *p = reinterpret_cast<const uchar *>(block.constData()) + (pos - blockStart);
        const MpegFrameHeader h = p[0] == 0xFF ? decodeMpegHeader(p) : MpegFrameHeader();
        if (sameStream(h1, h) && h.frameLength > 0) {
            ++frames;
            pos += h.frameLength;
        } else {
            ++pos; // every step moves forward, so the walk ends within end - begin steps
        }
    }
    return frames;
}

} // namespace

void readId3v2Tag(const QByteArray &tag, AudioMetadata &meta)
{
    if (tag.size() < 10 || !bytesAre(tag, 0, "ID3"))
        return;
    const qint64 size = syncsafe32(tag, 6);
    if (size > 0)
        walkId3v2Frames(tag.mid(10, size), quint8(tag[3]), quint8(tag[5]), meta);
}

MpegFrameHeader decodeMpegHeader(const uchar *p)
{
    MpegFrameHeader h;
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return h;
    const int versionBits = (p[1] >> 3) & 3;
    const int layerBits = (p[1] >> 1) & 3;
    const int bitrateIndex = p[2] >> 4;
    const int rateIndex = (p[2] >> 2) & 3;
    if (versionBits == 1 || layerBits == 0 || bitrateIndex == 15 || rateIndex == 3)
        return h;
    const int layer = 4 - layerBits;
    const bool mpeg1 = versionBits == 3;

    static const int kBitrates[5][15] = {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}, // MPEG-1 Layer I
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},    // MPEG-1 Layer II
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},     // MPEG-1 Layer III
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},    // MPEG-2/2.5 Layer I
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},         // MPEG-2/2.5 Layer II, III
    };
    static const int kRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

    const int row = mpeg1 ? layer - 1 : (layer == 1 ? 3 : 4);
    const int rateRow = mpeg1 ? 0 : (versionBits == 2 ? 1 : 2);
    h.versionBits = versionBits;
    h.layer = layer;
    h.bitrateKbps = kBitrates[row][bitrateIndex];
    h.sampleRate = kRates[rateRow][rateIndex];
    h.freeFormat = bitrateIndex == 0;
    if (h.sampleRate == 0)
        return MpegFrameHeader();
    const int padding = (p[2] >> 1) & 1;
    h.channels = (p[3] >> 6) == 3 ? 1 : 2;
    const int br = h.bitrateKbps;
    const int sr = h.sampleRate;
    if (layer == 1) {
        h.samplesPerFrame = 384;
        h.frameLength = br ? (12000 * br / sr + padding) * 4 : 0;
    } else if (layer == 2 || mpeg1) {
        h.samplesPerFrame = 1152;
        h.frameLength = br ? 144000 * br / sr + padding : 0;
    } else {
        h.samplesPerFrame = 576;
        h.frameLength = br ? 72000 * br / sr + padding : 0;
    }
    if (mpeg1)
        h.sideInfoSize = h.channels == 2 ? 32 : 17;
    else
        h.sideInfoSize = h.channels == 2 ? 17 : 9;
    h.valid = true;
    return h;
}

bool readMpeg(ByteSource &f, AudioMetadata &meta)
{
    meta.formatName = QStringLiteral("MPEG Audio");
    const qint64 fileSize = f.size();
    const qint64 id3Size = readId3v2(f, meta);
    const qint64 tailBytes = readTrailingTags(f, meta);

    meta.audioOffset = id3Size;
    meta.audioLength = fileSize - id3Size - tailBytes;
    if (meta.audioLength < 1)
        return false;
    // From here on a failure leaves this provisional range, which the scan still hashes.
    meta.hasAudioRange = true;
    const QByteArray buf = readAt(f, meta.audioOffset, qMin(meta.audioLength, kFrameSearchBytes));
    if (buf.size() < 4)
        return false;
    MpegFrameHeader h1;
    const qint64 pos = findFirstFrame(buf, h1);
    if (pos < 0)
        return false;
    meta.sampleRate = h1.sampleRate;
    meta.channels = h1.channels;

    quint32 frames = 0;
    quint32 tagBytes = 0;
    bool tagFound = false;
    const qint64 x = pos + 4 + h1.sideInfoSize;
    if (x + 16 <= buf.size() && (bytesAre(buf, x, "Xing") || bytesAre(buf, x, "Info"))) {
        tagFound = true;
        const quint32 flags = be32(buf, x + 4);
        if (flags & 1) {
            frames = be32(buf, x + 8);
            if (flags & 2)
                tagBytes = be32(buf, x + 12);
        } else if (flags & 2) {
            tagBytes = be32(buf, x + 8);
        }
    }
    if (frames == 0 && pos + 62 <= buf.size() && bytesAre(buf, pos + 36, "VBRI")) {
        tagFound = true;
        tagBytes = be32(buf, pos + 46);
        frames = be32(buf, pos + 50);
    }
    // The frame holding a VBR tag carries no audio.
    meta.audioOffset += tagFound && h1.frameLength >= 1 ? pos + h1.frameLength : pos;
    meta.audioLength = fileSize - meta.audioOffset - tailBytes;
    meta.hasAudioRange = meta.audioLength >= 1;
    if (!meta.hasAudioRange)
        meta.audioLength = 0; // a tag frame running past the end leaves nothing, not less

    // A frame count the payload cannot hold (a damaged or foreign tag) is not believed.
    const int minLength = minimumFrameLength(reinterpret_cast<const uchar *>(buf.constData()) + pos);
    if (frames != 0 && (minLength < 1 || quint64(frames) > quint64(meta.audioLength) / quint64(minLength)))
        frames = 0;

    if (frames != 0) {
        const quint64 samples = quint64(h1.samplesPerFrame) * frames;
        meta.durationMs = qMax<qint64>(scaledMs(samples, quint64(h1.sampleRate)), 0);
        if (meta.durationMs > 0)
            meta.bitrate = clampToInt((tagBytes ? qint64(tagBytes) : meta.audioLength) * 8 / meta.durationMs);
    } else if (!h1.freeFormat && meta.hasAudioRange) {
        // Without a usable VBR tag the first frame's bit rate says nothing of the rest: count.
        const quint64 counted = countFrames(f, meta.audioOffset, meta.audioOffset + meta.audioLength, h1);
        const quint64 samples = quint64(h1.samplesPerFrame) * counted;
        meta.durationMs = qMax<qint64>(scaledMs(samples, quint64(h1.sampleRate)), 0);
        // kbit/s are bits per millisecond; audioLength is a file size, far below 2^60
        if (meta.durationMs > 0)
            meta.bitrate = clampToInt((meta.audioLength * 8 + meta.durationMs / 2) / meta.durationMs);
    }
    return meta.hasAudioRange;
}

} // namespace rvw::tagreader

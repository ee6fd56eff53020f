// The .aac branch of the tag reader: a raw ADTS stream, optionally behind an ID3v2 tag, is read
// frame by frame (rate and channels from the first header, the duration from a count of the
// frames); anything else is handed to the MP4 reader.

#include "audio/TagReaderInternal.h"

#include <QFile>

namespace rvw::tagreader {

namespace {

constexpr qint64 kMaxId3Bytes = 64 * 1024 * 1024;
constexpr int kHeaderBytes = 7;
constexpr int kMaxFrameLength = 8191; // 13 bits
constexpr quint64 kMaxFrames = 10000000;
constexpr qint64 kBlock = 1024 * 1024;

struct AdtsHeader
{
    bool valid = false;
    int versionBit = 0;
    int profile = 0;
    int rateIndex = 0;
    int channelConfig = 0;
    int headerSize = 0;
    int frameLength = 0;
    int blocks = 0;
};

bool isAdtsSync(const uchar *p)
{
    return p[0] == 0xFF && (p[1] & 0xF6) == 0xF0; // 12 sync bits, layer 0
}

// Decodes the 7 bytes at p (the caller guarantees they exist); invalid when they are no header
// or the frame would be shorter than its own header.
AdtsHeader decodeAdts(const uchar *p)
{
    AdtsHeader h;
    if (!isAdtsSync(p))
        return h;
    h.versionBit = (p[1] >> 3) & 1;
    h.headerSize = (p[1] & 1) ? 7 : 9; // without or with a CRC
    h.profile = p[2] >> 6;
    h.rateIndex = (p[2] >> 2) & 0xF;
    h.channelConfig = ((p[2] & 1) << 2) | (p[3] >> 6);
    h.frameLength = ((p[3] & 3) << 11) | (p[4] << 3) | (p[5] >> 5);
    h.blocks = (p[6] & 3) + 1;
    h.valid = h.rateIndex < 13 && h.frameLength >= h.headerSize;
    return h;
}

int adtsRate(int index)
{
    static const int kRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                   22050, 16000, 12000, 11025, 8000,  7350};
    return index >= 0 && index < 13 ? kRates[index] : 0;
}

bool sameStream(const AdtsHeader &a, const AdtsHeader &b)
{
    return a.valid && b.valid && a.versionBit == b.versionBit && a.profile == b.profile &&
           a.rateIndex == b.rateIndex && a.channelConfig == b.channelConfig;
}

struct FrameCount
{
    quint64 frames = 0;
    quint64 blocks = 0;
    qint64 lastEnd = 0; // the end of the last whole frame
};

// Counts the whole frames of h1's stream from `begin` (a frame) to `end`, reading in large
// blocks. Bytes that start no frame are skipped; a frame found that way counts only when the
// next header follows it (or it ends the file), so a tag or junk after the audio adds nothing.
FrameCount countFrames(ByteSource &f, qint64 begin, qint64 end, const AdtsHeader &h1)
{
    FrameCount c;
    c.lastEnd = begin;
    QByteArray block;
    qint64 blockStart = begin;
    qint64 pos = begin;
    bool inSync = true;
    while (end - pos >= kHeaderBytes && c.frames < kMaxFrames) {
        // Keep a whole frame and the next header in the buffer.
        const qint64 wanted = qMin<qint64>(end - pos, kMaxFrameLength + kHeaderBytes);
        if (pos < blockStart || pos + wanted > blockStart + block.size()) {
            blockStart = pos;
            block = readAt(f, pos, qMin(kBlock, end - pos));
            if (block.size() < wanted)
                break; // a read error
        }
        const auto *p = reinterpret_cast<const uchar *>(block.constData()) + (pos - blockStart);
        const AdtsHeader h = decodeAdts(p);
        if (!sameStream(h1, h)) {
            if (inSync && isAdtsSync(p) && h.frameLength < h.headerSize)
                break; // a header whose frame cannot hold it: the stream is over
            inSync = false;
            ++pos; // every step moves forward, so the walk ends within end - begin steps
            continue;
        }
        if (h.frameLength > end - pos)
            break; // the last frame is cut short
        if (!inSync) {
            const qint64 following = pos + h.frameLength;
            const bool confirmed = following == end || (end - following >= kHeaderBytes &&
                                                        sameStream(h1, decodeAdts(p + h.frameLength)));
            if (!confirmed) {
                ++pos;
                continue;
            }
        }
        inSync = true;
        ++c.frames;
        c.blocks += quint64(h.blocks);
        pos += h.frameLength;
        c.lastEnd = pos;
    }
    return c;
}

// The size of the ID3v2 tag at the start of the file, footer included; 0 when there is none.
qint64 id3v2Size(ByteSource &f)
{
    const QByteArray header = readAt(f, 0, 10);
    if (header.size() < 10 || !bytesAre(header, 0, "ID3"))
        return 0;
    return qint64(syncsafe32(header, 6)) + ((quint8(header[5]) & 0x10) ? 20 : 10);
}

bool readAdts(ByteSource &f, qint64 first, AudioMetadata &meta)
{
    meta.formatName = QStringLiteral("AAC (ADTS)");
    if (first > 0)
        readId3v2Tag(readAt(f, 0, qMin(first, kMaxId3Bytes)), meta);
    const QByteArray head = readAt(f, first, kHeaderBytes);
    if (head.size() < kHeaderBytes)
        return false;
    const AdtsHeader h1 = decodeAdts(reinterpret_cast<const uchar *>(head.constData()));
    if (!h1.valid)
        return false;
    const int rate = adtsRate(h1.rateIndex);
    meta.sampleRate = rate;
    // Configuration 0 leaves the layout to the stream itself; 7 is 7.1.
    meta.channels = h1.channelConfig == 7 ? 8 : h1.channelConfig;

    const FrameCount c = countFrames(f, first, f.size(), h1);
    if (c.frames == 0)
        return false;
    meta.audioOffset = first;
    meta.audioLength = c.lastEnd - first;
    meta.hasAudioRange = true;
    // Each raw data block codes 1,024 samples; the count is capped, so no overflow.
    meta.durationMs = qMax<qint64>(scaledMs(c.blocks * 1024, quint64(rate)), 0);
    // kbit/s are bits per millisecond; audioLength is a file size, far below 2^60
    if (meta.durationMs > 0)
        meta.bitrate = clampToInt((meta.audioLength * 8 + meta.durationMs / 2) / meta.durationMs);
    return true;
}

} // namespace

bool readAac(ByteSource &f, AudioMetadata &meta)
{
    const qint64 first = id3v2Size(f);
    const QByteArray sync = readAt(f, first, 2);
    if (sync.size() == 2 && isAdtsSync(reinterpret_cast<const uchar *>(sync.constData())))
        return readAdts(f, first, meta);
    return readMp4(f, meta);
}

} // namespace rvw::tagreader

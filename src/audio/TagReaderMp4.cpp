// The MP4 family branch of the tag reader (m4a, m4b, mp4, and aac files that are not ADTS): a
// box walk for the tags, the sound track's sample description, timing and sizes, and the media
// data.

#include "audio/TagReaderInternal.h"

#include <QFile>

#include <cmath>
#include <cstring>
#include <limits>

namespace rvw::tagreader {

namespace {

constexpr int kMaxDepth = 9;
constexpr qint64 kMaxItemBody = 4096;
// Every box header read counts against one budget for the whole file, so a file of millions of
// tiny boxes (at any level, or as ilst items) costs a bounded walk. Real files stay far below it:
// ten hours fragmented at one fragment per second is 72,000 top-level boxes.
constexpr int kMaxBoxes = 1 << 18;
// The sample size table is summed only up to this many entries (16 MB of table, a day of AAC);
// beyond it the media data lengths stand in.
constexpr quint64 kMaxSummedSizes = 1 << 22;
constexpr qint64 kTableBlock = 1 << 20;
// A run of samples in one fragment larger than this is not believed.
constexpr qint64 kMaxRunBytes = 1 << 20;

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

// What the walk learns of one track.
struct Track
{
    quint32 id = 0;
    bool sound = false;
    quint64 timeScale = 0;
    quint64 duration = 0;
    // What its edit list presents, in the movie time scale: the coded media less the encoder's
    // priming and padding. 0 without an edit list.
    quint64 editedDuration = 0;
    // Where its sample description and sample size table lie (0 when absent); read only for the
    // track that is chosen.
    qint64 stsdPayload = 0, stsdEnd = 0;
    qint64 stszPayload = 0, stszEnd = 0;
};

struct Walk
{
    Walk(ByteSource &source, AudioMetadata &m) : f(source), meta(m) {}
    ByteSource &f;
    AudioMetadata &meta;
    int boxesLeft = kMaxBoxes;
    bool exhausted = false; // the box budget ran out
    quint64 movieScale = 0;
    quint64 movieDuration = 0;
    quint64 fragmentDuration = 0; // from mehd, in the movie time scale
    bool haveSound = false;
    Track sound; // the first sound track
    // Fragment defaults by track (trex), a few tracks at most.
    QList<QPair<quint32, quint32>> defaultDurations;

    bool next(qint64 pos, qint64 end, Box &box)
    {
        if (boxesLeft <= 0) {
            exhausted = true;
            return false;
        }
        if (end - pos < 8 || !readBox(f, pos, end, box))
            return false;
        --boxesLeft;
        return true;
    }
};

// Time scale and duration of an mvhd or mdhd (same layout up to the duration).
bool readTiming(ByteSource &f, qint64 payload, quint64 &timeScale, quint64 &duration)
{
    const QByteArray h = readAt(f, payload, 32);
    if (h.size() < 20)
        return false;
    if (h[0] == 1) {
        if (h.size() < 32)
            return false;
        timeScale = be32(h, 20);
        duration = be64(h, 24);
        // All ones means the duration is unknown.
        if (duration == std::numeric_limits<quint64>::max())
            duration = 0;
    } else {
        timeScale = be32(h, 12);
        duration = be32(h, 16);
        if (duration == 0xFFFFFFFFu)
            duration = 0;
    }
    return true;
}

void parseIlst(Walk &w, qint64 begin, qint64 end)
{
    AudioMetadata &meta = w.meta;
    qint64 pos = begin;
    while (pos + 8 <= end) {
        if (w.boxesLeft <= 0) {
            w.exhausted = true;
            return;
        }
        --w.boxesLeft;
        const QByteArray header = readAt(w.f, pos, 8);
        if (header.size() < 8)
            return;
        const qint64 size = be32(header, 0);
        if (size < 8 || pos + size > end)
            return;
        const qint64 itemStart = pos;
        pos += size;
        const QByteArray body = readAt(w.f, itemStart + 8, qMin<qint64>(size - 8, kMaxItemBody));
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

void walkBoxes(Walk &w, qint64 begin, qint64 end, int depth);

// The sum of the segments of an edit list that show media; empty edits (a delay) and a list
// longer than any real one give 0, which leaves the track's own duration in charge.
quint64 editedDuration(ByteSource &f, const Box &box)
{
    constexpr quint32 kMaxEdits = 64;
    const QByteArray head = readAt(f, box.payload, 8);
    if (head.size() < 8)
        return 0;
    const bool wide = head[0] == 1;
    const quint32 count = be32(head, 4);
    const qint64 entrySize = wide ? 20 : 12;
    if (count == 0 || count > kMaxEdits || box.payload + 8 + entrySize * count > box.next)
        return 0;
    const QByteArray entries = readAt(f, box.payload + 8, entrySize * count);
    quint64 total = 0;
    for (quint32 i = 0; i < count; ++i) {
        const qint64 at = entrySize * i;
        const quint64 segment = wide ? be64(entries, at) : be32(entries, at);
        const qint64 mediaTime = wide ? qint64(be64(entries, at + 8)) : qint32(be32(entries, at + 4));
        if (mediaTime < 0)
            continue;
        if (segment > std::numeric_limits<quint64>::max() - total)
            return 0;
        total += segment;
    }
    return total;
}

// A trak: its id, handler and timing, and where its sample tables are.
void walkTrack(Walk &w, qint64 begin, qint64 end, Track &t, int depth)
{
    if (depth >= kMaxDepth)
        return;
    Box box;
    while (w.next(begin, end, box)) {
        if (box.type == "mdia" || box.type == "minf" || box.type == "stbl" || box.type == "edts") {
            walkTrack(w, box.payload, box.next, t, depth + 1);
        } else if (box.type == "elst") {
            t.editedDuration = editedDuration(w.f, box);
        } else if (box.type == "tkhd") {
            const QByteArray h = readAt(w.f, box.payload, 24);
            t.id = h.size() >= 1 && h[0] == 1 ? be32(h, 20) : be32(h, 12);
        } else if (box.type == "hdlr") {
            t.sound = bytesAre(readAt(w.f, box.payload + 8, 4), 0, "soun");
        } else if (box.type == "mdhd") {
            readTiming(w.f, box.payload, t.timeScale, t.duration);
        } else if (box.type == "stsd") {
            t.stsdPayload = box.payload;
            t.stsdEnd = box.next;
        } else if (box.type == "stsz") {
            t.stszPayload = box.payload;
            t.stszEnd = box.next;
        } else if (box.type == "udta" || box.type == "meta") {
            walkBoxes(w, box.type == "meta" ? box.payload + 4 : box.payload, box.next, depth + 1);
        }
        begin = box.next;
    }
}

// Tags, the movie header, the tracks and the fragment defaults, at any level.
void visitBox(Walk &w, const Box &box, int depth)
{
    if (box.type == "moov" || box.type == "udta" || box.type == "mvex") {
        walkBoxes(w, box.payload, box.next, depth + 1);
    } else if (box.type == "meta") {
        walkBoxes(w, box.payload + 4, box.next, depth + 1); // past version and flags
    } else if (box.type == "ilst") {
        parseIlst(w, box.payload, box.next);
    } else if (box.type == "mvhd") {
        readTiming(w.f, box.payload, w.movieScale, w.movieDuration);
    } else if (box.type == "trak") {
        Track t;
        walkTrack(w, box.payload, box.next, t, depth + 1);
        if (t.sound && !w.haveSound) {
            w.haveSound = true;
            w.sound = t;
        }
    } else if (box.type == "mehd") {
        const QByteArray h = readAt(w.f, box.payload, 12);
        w.fragmentDuration = h.size() >= 1 && h[0] == 1 ? be64(h, 4) : be32(h, 4);
    } else if (box.type == "trex") {
        const QByteArray h = readAt(w.f, box.payload, 16);
        if (h.size() == 16 && w.defaultDurations.size() < 64)
            w.defaultDurations.append({be32(h, 4), be32(h, 12)});
    }
}

void walkBoxes(Walk &w, qint64 begin, qint64 end, int depth)
{
    if (depth >= kMaxDepth)
        return;
    Box box;
    while (w.next(begin, end, box)) {
        visitBox(w, box, depth);
        begin = box.next;
    }
}

// ---- Sample description -------------------------------------------------------------------------

// Reads bits from the front of a buffer; past its end every read gives 0 and sets `overrun`.
class BitReader
{
public:
    explicit BitReader(const QByteArray &bytes) : m_bytes(bytes) {}
    quint32 read(int n)
    {
        quint32 v = 0;
        for (int i = 0; i < n; ++i) {
            const qint64 byte = m_pos >> 3;
            int bit = 0;
            if (byte < m_bytes.size())
                bit = (quint8(m_bytes[byte]) >> (7 - (m_pos & 7))) & 1;
            else
                overrun = true;
            v = (v << 1) | quint32(bit);
            ++m_pos;
        }
        return v;
    }
    qint64 left() const { return qint64(m_bytes.size()) * 8 - m_pos; }
    bool overrun = false;

private:
    const QByteArray &m_bytes;
    qint64 m_pos = 0;
};

int audioObjectType(BitReader &b)
{
    const int type = int(b.read(5));
    return type == 31 ? 32 + int(b.read(6)) : type;
}

// A sampling frequency index, or the explicit frequency that follows index 15; 0 when reserved.
int samplingFrequency(BitReader &b)
{
    static const int kRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                   22050, 16000, 12000, 11025, 8000,  7350};
    const int index = int(b.read(4));
    if (index == 15)
        return int(b.read(24));
    return index < 13 ? kRates[index] : 0;
}

// Channels of an MPEG-4 channel configuration; 0 for 0 (a program config element decides) and
// for reserved values.
int configChannels(int config)
{
    static const int kChannels[15] = {0, 1, 2, 3, 4, 5, 6, 8, 0, 0, 0, 7, 8, 24, 8};
    return config >= 0 && config < 15 ? kChannels[config] : 0;
}

// The output rate and channels an AudioSpecificConfig describes. A decoder runs SBR at twice the
// core rate and, as ffmpeg does, gives a mono core with SBR two channels in case parametric
// stereo turns up, unless the config rules it out.
void readAudioSpecificConfig(const QByteArray &asc, int &rate, int &channels)
{
    BitReader b(asc);
    int type = audioObjectType(b);
    const int coreRate = samplingFrequency(b);
    const int config = int(b.read(4));
    int outRate = coreRate;
    bool sbr = false;
    bool psRuledOut = false;
    if (type == 5 || type == 29) {
        sbr = true;
        outRate = samplingFrequency(b);
        type = audioObjectType(b);
    } else if (config != 0 && ((type >= 1 && type <= 4) || type == 6 || type == 7)) {
        // Backward-compatible signalling: the general audio config, then a sync extension.
        b.read(1); // frame length flag
        if (b.read(1))
            b.read(14); // core coder delay
        const bool extension = b.read(1);
        if (type == 6)
            b.read(3); // layer
        if (extension)
            b.read(1);
        if (b.left() >= 16 && b.read(11) == 0x2B7 && audioObjectType(b) == 5 && b.read(1)) {
            const int extensionRate = samplingFrequency(b);
            if (!b.overrun && extensionRate > 0) {
                sbr = true;
                outRate = extensionRate;
                if (b.left() >= 12 && b.read(11) == 0x548)
                    psRuledOut = b.read(1) == 0 && !b.overrun;
            }
        }
    }
    if (b.overrun)
        return;
    if (outRate > 0)
        rate = outRate;
    const int n = configChannels(config);
    if (n > 0)
        channels = sbr && n == 1 && !psRuledOut ? 2 : n;
}

// The length of an MPEG-4 descriptor at pos (after its tag), moving pos past the length bytes.
qint64 descriptorLength(const QByteArray &d, qint64 &pos)
{
    qint64 length = 0;
    for (int i = 0; i < 4 && pos < d.size(); ++i) {
        const quint8 c = quint8(d[pos++]);
        length = (length << 7) | (c & 0x7F);
        if (!(c & 0x80))
            return length;
    }
    return -1;
}

// The AudioSpecificConfig of an esds box: the decoder specific info of the decoder config of the
// elementary stream descriptor; empty when the stream is not MPEG-4 or MPEG-2 AAC audio.
QByteArray audioSpecificConfig(const QByteArray &esds)
{
    qint64 pos = 4; // version and flags
    if (pos >= esds.size() || quint8(esds[pos++]) != 0x03)
        return {};
    if (descriptorLength(esds, pos) < 0 || pos + 3 > esds.size())
        return {};
    const quint8 flags = quint8(esds[pos + 2]);
    pos += 3; // ES_ID and flags
    if (flags & 0x80)
        pos += 2; // depends-on ES_ID
    if (flags & 0x40 && pos < esds.size())
        pos += 1 + quint8(esds[pos]); // URL
    if (flags & 0x20)
        pos += 2; // OCR ES_ID
    if (pos >= esds.size() || quint8(esds[pos++]) != 0x04)
        return {};
    if (descriptorLength(esds, pos) < 13 || pos + 13 > esds.size())
        return {};
    const quint8 objectType = quint8(esds[pos]);
    if (objectType != 0x40 && (objectType < 0x66 || objectType > 0x68))
        return {};
    pos += 13;
    if (pos >= esds.size() || quint8(esds[pos++]) != 0x05)
        return {};
    const qint64 length = descriptorLength(esds, pos);
    if (length < 2 || pos >= esds.size())
        return {};
    return esds.mid(pos, length);
}

void readCodecBoxes(Walk &w, const QByteArray &entryType, qint64 begin, qint64 end, int depth)
{
    if (depth >= kMaxDepth)
        return;
    AudioMetadata &meta = w.meta;
    Box box;
    while (w.next(begin, end, box)) {
        const qint64 length = box.next - box.payload;
        if (box.type == "esds") {
            readAudioSpecificConfig(audioSpecificConfig(readAt(w.f, box.payload, qMin<qint64>(length, 256))),
                                    meta.sampleRate, meta.channels);
        } else if (box.type == "alac" && length >= 28) {
            // The magic cookie: version and flags, then 24 bytes with channels at 9 and rate at 20.
            const QByteArray c = readAt(w.f, box.payload + 4, 24);
            if (c.size() == 24 && quint8(c[9]) > 0 && be32(c, 20) > 0) {
                meta.channels = quint8(c[9]);
                meta.sampleRate = clampToInt(be32(c, 20));
            }
        } else if (box.type == "dfLa" && length >= 42) {
            // Version and flags, a metadata block header, then STREAMINFO.
            const QByteArray s = readAt(w.f, box.payload + 4, 38);
            if (s.size() == 38 && (quint8(s[0]) & 0x7F) == 0 && (be32(s, 0) & 0xFFFFFF) >= 34) {
                const quint32 rate = be32(s, 14) >> 12;
                if (rate > 0) {
                    meta.sampleRate = int(rate);
                    meta.channels = int((quint8(s[16]) >> 1) & 7) + 1;
                }
            }
        } else if (box.type == "dOps" && length >= 11) {
            const QByteArray o = readAt(w.f, box.payload, 2);
            if (o.size() == 2 && quint8(o[1]) > 0)
                meta.channels = quint8(o[1]);
        } else if (box.type == "wave") {
            // QuickTime keeps the codec boxes of a sound description one level down.
            readCodecBoxes(w, entryType, box.payload, box.next, depth + 1);
        }
        begin = box.next;
    }
    // Opus decodes at 48 kHz whatever rate the input had.
    if (entryType == "Opus")
        meta.sampleRate = 48000;
}

// The first sample entry of the sound track: the rate and channels it states, corrected by what
// its codec configuration says.
void readSampleDescription(Walk &w, const Track &t)
{
    Box entry;
    if (t.stsdEnd - t.stsdPayload < 16 || !w.next(t.stsdPayload + 8, t.stsdEnd, entry))
        return;
    // Reserved and data reference (8), then version, revision, vendor, channels, sample size,
    // compression id, packet size and the 16.16 rate (20); QuickTime versions 1 and 2 add more.
    const QByteArray e = readAt(w.f, entry.payload, 64);
    if (e.size() < 28 || entry.next - entry.payload < 28)
        return;
    const int version = be16(e, 8);
    int channels = be16(e, 16);
    double rate = be32(e, 24) >> 16;
    qint64 children = entry.payload + 28;
    if (version == 1) {
        children += 16;
    } else if (version == 2) {
        if (e.size() < 64)
            return;
        const quint64 bits = be64(e, 32);
        std::memcpy(&rate, &bits, sizeof rate);
        channels = clampToInt(be32(e, 40));
        children += 36;
    }
    if (std::isfinite(rate) && rate >= 1 && rate <= 10000000)
        w.meta.sampleRate = int(std::lround(rate));
    if (channels > 0 && channels <= 1024)
        w.meta.channels = channels;
    readCodecBoxes(w, entry.type, children, entry.next, 0);
}

// The bytes of the track's samples from its size table; false when there is no usable table.
bool sumSampleSizes(ByteSource &f, const Track &t, quint64 &total)
{
    const QByteArray h = readAt(f, t.stszPayload, 12);
    if (t.stszEnd - t.stszPayload < 12 || h.size() < 12)
        return false;
    const quint64 constant = be32(h, 4);
    const quint64 count = be32(h, 8);
    if (count == 0)
        return false; // the samples are in fragments
    if (constant != 0) {
        total = constant * count; // both below 2^32
        return true;
    }
    if (count > kMaxSummedSizes || count * 4 > quint64(t.stszEnd - t.stszPayload - 12))
        return false;
    total = 0;
    const qint64 tableEnd = t.stszPayload + 12 + qint64(count) * 4;
    for (qint64 pos = t.stszPayload + 12; pos < tableEnd;) {
        const QByteArray block = readAt(f, pos, qMin(kTableBlock, tableEnd - pos));
        if (block.size() < 4 || block.size() % 4 != 0)
            return false;
        for (qint64 i = 0; i < block.size(); i += 4)
            total += be32(block, i); // at most 2^22 entries of 2^32: no overflow
        pos += block.size();
    }
    return true;
}

// ---- Layout and fragments -----------------------------------------------------------------------

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
    qint64 mdatBytes = 0; // the payloads of all mdat boxes
    Box lastMoof;
};

MediaLayout walkTopLevel(Walk &w)
{
    MediaLayout layout;
    const qint64 fileSize = w.f.size();
    Box box;
    qint64 pos = 0;
    while (fileSize - pos >= 8) {
        if (!w.next(pos, fileSize, box)) {
            layout.complete = false;
            break;
        }
        if (box.type == "moof" || box.type == "mdat") {
            if (layout.firstFragment < 0)
                layout.firstFragment = box.start;
            layout.gap = layout.gap || layout.interrupted;
            if (box.type == "moof") {
                layout.fragmented = true;
                layout.lastMoof = box;
            } else {
                ++layout.mdatCount;
                layout.lastPayload = box.payload;
                layout.lastEnd = box.next;
                layout.mdatBytes += box.next - box.payload;
            }
        } else {
            layout.interrupted = layout.firstFragment >= 0;
            visitBox(w, box, 0);
        }
        pos = box.next;
    }
    return layout;
}

// The end of the sound track's last fragment in its time scale: the decode time of the fragment
// plus the durations of its samples. 0 when the fragment does not say.
quint64 lastFragmentEnd(Walk &w, const Box &moof)
{
    Box traf;
    qint64 pos = moof.payload;
    while (w.next(pos, moof.next, traf)) {
        pos = traf.next;
        if (traf.type != "traf")
            continue;
        quint32 defaultDuration = 0;
        bool ours = false;
        bool haveTime = false;
        quint64 time = 0;
        quint64 runs = 0;
        Box box;
        qint64 at = traf.payload;
        while (w.next(at, traf.next, box)) {
            at = box.next;
            const qint64 length = box.next - box.payload;
            if (box.type == "tfhd") {
                const QByteArray h = readAt(w.f, box.payload, qMin<qint64>(length, 32));
                const quint32 flags = be32(h, 0) & 0xFFFFFF;
                ours = h.size() >= 8 && be32(h, 4) == w.sound.id;
                for (const auto &d : std::as_const(w.defaultDurations)) {
                    if (d.first == w.sound.id)
                        defaultDuration = d.second;
                }
                if (flags & 0x08) {
                    const qint64 offset = 8 + ((flags & 0x01) ? 8 : 0) + ((flags & 0x02) ? 4 : 0);
                    if (offset + 4 <= h.size())
                        defaultDuration = be32(h, offset);
                }
            } else if (box.type == "tfdt") {
                const QByteArray h = readAt(w.f, box.payload, 12);
                haveTime = h.size() >= 8 && (h[0] != 1 || h.size() == 12);
                time = h.size() >= 1 && h[0] == 1 ? be64(h, 4) : be32(h, 4);
            } else if (box.type == "trun" && length >= 8) {
                const QByteArray h = readAt(w.f, box.payload, 8);
                const quint32 flags = be32(h, 0) & 0xFFFFFF;
                const quint64 count = be32(h, 4);
                if (!(flags & 0x100)) {
                    runs += count * defaultDuration; // both below 2^32
                    continue;
                }
                const qint64 fields = ((flags & 0x01) ? 4 : 0) + ((flags & 0x04) ? 4 : 0);
                int recordSize = 0;
                for (quint32 bit = 0x100; bit <= 0x800; bit <<= 1)
                    recordSize += (flags & bit) ? 4 : 0;
                const qint64 bytes = qint64(count) * recordSize;
                if (bytes > kMaxRunBytes || 8 + fields + bytes > length)
                    return 0;
                const QByteArray records = readAt(w.f, box.payload + 8 + fields, bytes);
                if (records.size() != bytes)
                    return 0;
                for (qint64 i = 0; i < bytes; i += recordSize)
                    runs += be32(records, i);
            }
        }
        if (ours) {
            if (!haveTime || time > std::numeric_limits<quint64>::max() - runs)
                return 0;
            return time + runs;
        }
    }
    return 0;
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

bool readMp4(ByteSource &f, AudioMetadata &meta)
{
    meta.formatName = QStringLiteral("MPEG-4 Audio");
    Walk w(f, meta);
    const MediaLayout layout = walkTopLevel(w);
    setPayloadRange(layout, meta);

    // The duration of the sound track in its own time scale; the movie's covers every track.
    qint64 ms = -1;
    if (w.haveSound) {
        readSampleDescription(w, w.sound);
        if (layout.fragmented && w.sound.timeScale != 0) {
            const quint64 end = lastFragmentEnd(w, layout.lastMoof);
            if (end != 0)
                ms = scaledMs(end, w.sound.timeScale);
        }
        if (ms <= 0 && !layout.fragmented && w.movieScale != 0 && w.sound.editedDuration != 0)
            ms = scaledMs(w.sound.editedDuration, w.movieScale);
        if (ms <= 0 && w.sound.timeScale != 0 && w.sound.duration != 0)
            ms = scaledMs(w.sound.duration, w.sound.timeScale);
    }
    if (ms <= 0 && w.movieScale != 0 && w.fragmentDuration != 0)
        ms = scaledMs(w.fragmentDuration, w.movieScale);
    if (ms <= 0 && w.movieScale != 0 && w.movieDuration != 0)
        ms = scaledMs(w.movieDuration, w.movieScale);
    if (ms > 0)
        meta.durationMs = ms;

    // The bit rate of the audio alone: artwork sits in the tags and a video track has its own
    // samples, so neither the file size nor the media data length will do when a table says more.
    quint64 audioBytes = 0;
    const bool fromTable = w.haveSound && !layout.fragmented && sumSampleSizes(f, w.sound, audioBytes);
    if (!fromTable)
        audioBytes = quint64(layout.mdatBytes);
    // Over the coded length (priming and padding included), as the bytes carry that much.
    qint64 codedMs = meta.durationMs;
    if (!layout.fragmented && w.haveSound && w.sound.timeScale != 0 && w.sound.duration != 0) {
        const qint64 coded = scaledMs(w.sound.duration, w.sound.timeScale);
        codedMs = coded > 0 ? coded : codedMs;
    }
    if (codedMs > 0 && audioBytes > 0 && audioBytes <= quint64(std::numeric_limits<qint64>::max() / 16))
        meta.bitrate = clampToInt((qint64(audioBytes) * 8 + codedMs / 2) / codedMs);

    // A file of more boxes than any real one is hostile or damaged: what was read stays, but the
    // file is not taken as read.
    if (w.exhausted)
        return false;
    if (meta.durationMs > 0)
        return true;
    return meta.hasAudioRange;
}

} // namespace rvw::tagreader

// FLAC and Ogg (Vorbis, Opus) branches of the tag reader, with the Vorbis comment block both use.

#include "audio/TagReaderInternal.h"

#include <QFile>

namespace rvw::tagreader {

namespace {

constexpr qint64 kMaxCommentBlock = 8388607;
// Real files carry a handful of metadata blocks; thousands of empty ones are a hostile file whose
// walk would otherwise run for as long as the file is big.
constexpr int kMaxFlacBlocks = 1024;
// An ID3v2 tag that someone put before the FLAC stream is read up to this size, skipped beyond it.
constexpr qint64 kMaxId3Tag = 64 * 1024 * 1024;
constexpr qint64 kOggTailBytes = 131072;
// A header packet holds at most this much: a comment packet with artwork is a few megabytes, a
// larger one is skipped rather than held in memory.
constexpr qint64 kMaxOggPacket = 16 * 1024 * 1024;
// Header pages walked before giving up on the headers: enough for a comment packet of several
// times kMaxOggPacket cut into 4 KiB pages.
constexpr int kMaxOggHeaderPages = 16384;
// Pages walked in all: hours of audio in pages of a few kilobytes. Past it the file gets no payload
// range and is hashed whole.
constexpr int kMaxOggPages = 1 << 18;

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
        // Opus always decodes at 48 kHz; the header's rate only records what the encoder was given.
        meta.sampleRate = 48000;
        meta.formatName = QStringLiteral("Opus");
        clockRate = 48000; // and its granules count 48 kHz samples
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
    // Some taggers put an ID3v2 tag before the stream; the FLAC starts right after it.
    qint64 start = 0;
    AudioMetadata id3;
    const QByteArray id3Header = readAt(f, 0, 10);
    if (bytesAre(id3Header, 0, "ID3") && id3Header.size() == 10) {
        const qint64 body = syncsafe32(id3Header, 6);
        start = 10 + body + ((quint8(id3Header[5]) & 0x10) ? 10 : 0);
        if (body <= kMaxId3Tag)
            readId3v2Tag(readAt(f, 0, 10 + body), id3);
    }
    if (!bytesAre(readAt(f, start, 4), 0, "fLaC"))
        return false;
    qint64 pos = start + 4;
    quint64 totalSamples = 0;
    for (int blocks = 1;; ++blocks) {
        if (blocks > kMaxFlacBlocks)
            return false;
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
    // The Vorbis comment is the file's own tag; the ID3v2 tag only fills what it leaves empty.
    for (auto field :
         {&AudioMetadata::title, &AudioMetadata::artist, &AudioMetadata::album, &AudioMetadata::albumArtist,
          &AudioMetadata::genre, &AudioMetadata::year, &AudioMetadata::comment}) {
        if ((meta.*field).isEmpty())
            meta.*field = id3.*field;
    }
    if (meta.trackNo == 0)
        meta.trackNo = id3.trackNo;
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

namespace {

struct OggPage
{
    qint64 offset = 0;
    qint64 bodyOffset = 0;
    qint64 bodySize = 0;
    quint8 flags = 0;
    qint64 granule = 0;
    quint32 serial = 0;
    QByteArray lacing;
};

// The page whose header starts at pos; false when there is none there or its body runs past the
// end of the file.
bool readOggPage(ByteSource &f, qint64 pos, OggPage &page)
{
    const QByteArray header = readAt(f, pos, 27);
    if (header.size() < 27 || !bytesAre(header, 0, "OggS") || header[4] != 0)
        return false;
    const int segments = quint8(header[26]);
    page.lacing = readAt(f, pos + 27, segments);
    if (page.lacing.size() < segments)
        return false;
    qint64 bodySize = 0;
    for (char v : page.lacing)
        bodySize += quint8(v);
    page.offset = pos;
    page.bodyOffset = pos + 27 + segments;
    page.bodySize = bodySize;
    page.flags = quint8(header[5]);
    page.granule = qint64(le64(header, 6));
    page.serial = le32(header, 14);
    // pos is inside the file and a page is at most 65,307 bytes long: no overflow here.
    return page.bodyOffset + bodySize <= f.size();
}

// Joins the header packets of one logical stream from its pages, packets crossing page ends
// included, and hands each whole packet to inspectOggPacket.
class OggHeaderReader
{
public:
    explicit OggHeaderReader(AudioMetadata &meta) : m_meta(meta) {}

    // Takes the packets of the page; false on a read error. done() tells whether the header
    // packets ended on it, endsPage() whether they ended with it.
    bool addPage(ByteSource &f, const OggPage &page)
    {
        if (page.flags & 1) {
            // The page goes on with a packet; when its beginning was never seen, that part is
            // no packet to read.
            if (!m_open)
                m_orphan = true;
        } else if (m_open) {
            // The packet left open on the last page never ends: it is dropped.
            reset();
        }
        m_body = QByteArray();
        m_bodyRead = false;
        qint64 at = 0;
        qint64 partStart = 0;
        const qsizetype n = page.lacing.size();
        for (qsizetype i = 0; i < n; ++i) {
            const int v = quint8(page.lacing[i]);
            at += v;
            if (v == 255)
                continue;
            if (!addPart(f, page, partStart, at))
                return false;
            finishPacket();
            partStart = at;
            if (done()) {
                m_endsPage = i + 1 == n;
                return true;
            }
        }
        m_open = at > partStart;
        if (m_open && !addPart(f, page, partStart, at))
            return false;
        return true;
    }

    bool done() const { return m_wanted > 0 && m_seen >= m_wanted; }
    // False once the first packet named no stream this reader knows: its headers cannot be told.
    bool known() const { return m_wanted != 0; }
    bool endsPage() const { return m_endsPage; }
    qint64 clockRate() const { return m_clockRate; }

private:
    bool addPart(ByteSource &f, const OggPage &page, qint64 from, qint64 to)
    {
        if (m_orphan || m_skipping || to == from)
            return true;
        if (to - from > kMaxOggPacket - m_packet.size()) {
            m_skipping = true;
            m_packet = QByteArray();
            return true;
        }
        if (!m_bodyRead) {
            m_body = readAt(f, page.bodyOffset, page.bodySize);
            m_bodyRead = true;
        }
        if (m_body.size() < page.bodySize)
            return false;
        m_packet.append(m_body.constData() + from, to - from);
        return true;
    }

    void finishPacket()
    {
        if (!m_orphan) {
            if (!m_skipping)
                inspectOggPacket(m_packet, m_meta, m_clockRate);
            if (m_seen == 0) {
                // The first packet names the codec, and with it how many header packets follow.
                if (m_meta.formatName == QLatin1String("Ogg Vorbis"))
                    m_wanted = 3;
                else if (m_meta.formatName == QLatin1String("Opus"))
                    m_wanted = 2;
                else
                    m_wanted = 0;
            }
            ++m_seen;
        }
        reset();
    }

    void reset()
    {
        m_packet = QByteArray();
        m_open = false;
        m_orphan = false;
        m_skipping = false;
    }

    AudioMetadata &m_meta;
    QByteArray m_packet;
    QByteArray m_body;
    bool m_bodyRead = false;
    bool m_open = false;
    bool m_orphan = false;
    bool m_skipping = false;
    bool m_endsPage = false;
    int m_wanted = -1;
    int m_seen = 0;
    qint64 m_clockRate = 0;
};

// The granule position of the last page in the tail of the file, -1 when none is found.
qint64 tailGranule(ByteSource &f)
{
    const qint64 fileSize = f.size();
    const qint64 tailSize = qMin(fileSize, kOggTailBytes);
    const QByteArray tail = readAt(f, fileSize - tailSize, tailSize);
    for (qint64 i = tail.size() - 27; i >= 0; --i) {
        if (bytesAre(tail, i, "OggS"))
            return qint64(le64(tail, i + 6));
    }
    return -1;
}

} // namespace

bool parseOgg(ByteSource &f, AudioMetadata &meta)
{
    meta.formatName = QStringLiteral("Ogg");
    meta.hasAudioRange = false;
    const qint64 fileSize = f.size();
    if (!bytesAre(readAt(f, 0, 4), 0, "OggS"))
        return false;

    // One forward walk over the page headers: the header packets first, then every page after
    // them is audio. Only the audio pages' bodies stay the same when the comment packet changes
    // size (the pages around it are cut anew, and sequence numbers and checksums change), so
    // they, without their headers, are the payload.
    OggHeaderReader headers(meta);
    quint32 serial = 0;
    bool singleStream = true;
    bool walkComplete = false;
    qint64 firstAudioPage = -1;
    qint64 audioEnd = 0;
    qint64 audioBytes = 0;
    qint64 lastGranule = -1;
    QList<ByteRange> pieces;
    qint64 pos = 0;
    for (int pages = 0;; ++pages) {
        if (pos == fileSize) {
            walkComplete = true;
            break;
        }
        OggPage page;
        if (pages == kMaxOggPages || !readOggPage(f, pos, page))
            break;
        pos = page.bodyOffset + page.bodySize;
        if (pages == 0) {
            serial = page.serial;
        } else if (page.serial != serial || (page.flags & 2)) {
            // Multiplexed or chained streams (another serial number, or a second first page):
            // the headers of the first stream can still be read, but its pages are no longer one
            // run of audio, so the file gets no payload range and is hashed whole.
            singleStream = false;
            if (headers.done())
                break;
            continue;
        }
        if (!headers.done()) {
            if (pages >= kMaxOggHeaderPages || !headers.addPage(f, page) || !headers.known())
                break;
            // The first audio packet starts a fresh page; when it shares the last header page,
            // no page boundary separates audio from headers.
            if (headers.done() && !headers.endsPage())
                break;
            continue;
        }
        if (firstAudioPage < 0)
            firstAudioPage = page.offset;
        if (page.bodySize > 0)
            pieces.append(ByteRange{page.bodyOffset, page.bodySize});
        audioBytes += page.bodySize;
        audioEnd = pos;
        // -1: no packet ends on the page, which says nothing about the length.
        if (page.granule > 0)
            lastGranule = page.granule;
    }

    const qint64 clockRate = headers.clockRate();
    const bool audioWalked = walkComplete && singleStream && firstAudioPage >= 0;
    const qint64 granule = audioWalked ? lastGranule : tailGranule(f);
    if (granule > 0 && clockRate >= 1)
        meta.durationMs = qMax<qint64>(scaledMs(quint64(granule), quint64(clockRate)), 0);
    if (audioWalked && audioBytes > 0) {
        meta.audioOffset = firstAudioPage;
        meta.audioLength = audioEnd - firstAudioPage;
        meta.audioPieces = pieces;
        meta.hasAudioRange = true;
    }
    if (meta.durationMs > 0) {
        // Artwork in the comment packet is no part of the bit rate.
        const qint64 audio = audioWalked ? audioBytes : fileSize - (firstAudioPage >= 0 ? firstAudioPage : 0);
        meta.bitrate = clampToInt(audio * 8 / meta.durationMs);
    }
    return true;
}

} // namespace rvw::tagreader

// WAVE and AIFF branches of the tag reader: chunk walks for the format, the sample data and the
// text chunks these files carry (an embedded ID3v2 tag, the broadcast cart chunk, RIFF INFO and
// the AIFF text chunks).

#include "audio/TagReaderInternal.h"

#include <QFile>
#include <QList>
#include <QPair>
#include <QStringDecoder>

#include <limits>

namespace rvw::tagreader {

namespace {

constexpr qint64 kMaxListChunk = 1048575;
constexpr qint64 kMaxAiffText = 4096;
constexpr int kMaxInfoItems = 1024;
// An ID3v2 tag in a chunk: text frames come first, so a tag cut here still gives its text even
// when it carries large artwork.
constexpr qint64 kMaxId3Chunk = 16 * 1024 * 1024;
// The cart chunk's fixed-width text fields: a 4-byte version, then title and artist of 64 bytes.
constexpr qint64 kCartTitleAt = 4;
constexpr qint64 kCartArtistAt = 68;
constexpr qint64 kCartFieldWidth = 64;

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

// Text of a chunk that names no encoding: UTF-8 when the bytes are valid UTF-8 (what current
// writers put there), otherwise Latin-1 (what older ones did). The text ends at its first NUL.
QString decode8Bit(const QByteArray &raw)
{
    const qsizetype nul = raw.indexOf('\0');
    const QByteArray bytes = capTextBytes(nul < 0 ? raw : raw.left(nul));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    return tidy(utf8.hasError() ? QString::fromLatin1(bytes) : text);
}

// Each source of text is read into its own record and merged at the end, so that which source
// wins does not depend on the order of the chunks in the file.
struct TextSources
{
    AudioMetadata id3;
    AudioMetadata cart;
    AudioMetadata info; // RIFF INFO, or the AIFF text chunks
    bool haveId3 = false;
    bool haveCart = false;
    bool haveInfo = false;
};

void fillEmpty(AudioMetadata &meta, const AudioMetadata &from)
{
    auto fill = [](QString &field, const QString &value) {
        if (field.isEmpty())
            field = value;
    };
    fill(meta.title, from.title);
    fill(meta.artist, from.artist);
    fill(meta.album, from.album);
    fill(meta.albumArtist, from.albumArtist);
    fill(meta.genre, from.genre);
    fill(meta.year, from.year);
    fill(meta.comment, from.comment);
    if (meta.trackNo == 0)
        meta.trackNo = from.trackNo;
}

// The ID3v2 tag first, then the cart chunk, then INFO: each fills only what the earlier left empty.
void mergeText(AudioMetadata &meta, const TextSources &text)
{
    fillEmpty(meta, text.id3);
    fillEmpty(meta, text.cart);
    fillEmpty(meta, text.info);
}

void readId3Chunk(ByteSource &f, qint64 body, qint64 size, TextSources &text)
{
    // One tag per file: a second one is either a stale copy or a way to make the reader work.
    if (text.haveId3)
        return;
    text.haveId3 = true;
    readId3v2Tag(readAt(f, body, qMin(size, kMaxId3Chunk)), text.id3);
}

// A field is read only when the chunk holds it whole.
void parseCart(const QByteArray &cart, AudioMetadata &meta)
{
    auto field = [&](qint64 at) {
        return at + kCartFieldWidth <= cart.size() ? decode8Bit(cart.mid(at, kCartFieldWidth)) : QString();
    };
    meta.title = field(kCartTitleAt);
    meta.artist = field(kCartArtistAt);
}

void parseInfoList(const QByteArray &chunk, AudioMetadata &meta)
{
    const qint64 size = chunk.size();
    qint64 offset = 4; // after "INFO"
    for (int count = 0; count < kMaxInfoItems && offset + 7 < size; ++count) {
        const QByteArray id = chunk.mid(offset, 4);
        const qint64 subSize = le32(chunk, offset + 4);
        if (offset + 8 + subSize > size)
            break;
        QString *field = nullptr;
        if (id == "INAM")
            field = &meta.title;
        else if (id == "IART")
            field = &meta.artist;
        else if (id == "IPRD")
            field = &meta.album;
        else if (id == "ICRD")
            field = &meta.year;
        else if (id == "IGNR")
            field = &meta.genre;
        else if (id == "ICMT")
            field = &meta.comment;
        const bool track = id == "ITRK";
        if (field || track) {
            const QString value = decode8Bit(chunk.mid(offset + 8, subSize));
            if (!value.isEmpty()) {
                if (track)
                    meta.trackNo = value.toInt();
                else
                    *field = field == &meta.year ? value.left(4) : value;
            }
        }
        offset += 8 + subSize + (subSize & 1);
    }
}

// After a data chunk that declares no bytes: true when what follows is whole chunks running
// exactly to the end of the file, so the data is empty rather than written while streaming (whose
// samples run to the end and do not chain up as chunk headers).
bool chunksRunToEnd(ByteSource &f, qint64 pos)
{
    const qint64 fileSize = f.size();
    for (int count = 0; count < kMaxChunks; ++count) {
        if (pos == fileSize)
            return true;
        const QByteArray header = readAt(f, pos, 8);
        if (header.size() < 8)
            return false;
        for (int i = 0; i < 4; ++i) {
            if (quint8(header[i]) < 0x20 || quint8(header[i]) > 0x7E)
                return false;
        }
        const qint64 size = le32(header, 4);
        const qint64 end = pos + 8 + size; // below 2^33: no overflow
        if (end == fileSize)
            return true; // a missing pad byte at the end is tolerated
        if (end > fileSize)
            return false;
        pos = end + (size & 1);
    }
    return false;
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
    TextSources text;
    quint32 byteRate = 0;
    bool emptyData = false;
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
        // 0xFFFFFFFF): its samples run to the end of the file. A size of 0 followed by nothing,
        // or by whole chunks, is an empty recording.
        if (data && size == 0 && chunksRunToEnd(f, body))
            emptyData = true;
        else if (data && (size == 0 || (!sizes64 && size == kSize32Unknown)))
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
        } else if (id == "id3 " || id == "ID3 ") {
            readId3Chunk(f, body, size, text);
        } else if (id == "cart" && !text.haveCart) {
            text.haveCart = true;
            parseCart(readAt(f, body, qMin(size, kCartArtistAt + kCartFieldWidth)), text.cart);
        } else if (id == "LIST" && !text.haveInfo && size >= 5 && size <= kMaxListChunk &&
                   bytesAre(readAt(f, body, 4), 0, "INFO")) {
            text.haveInfo = true;
            parseInfoList(readAt(f, body, size), text.info);
        }
        if (size >= left) // size <= left + 1 keeps this sum in range
            break;
        pos = body + size + (size & 1);
        if (fileSize <= pos + 7)
            break;
    }
    mergeText(meta, text);
    if (byteRate != 0)
        meta.bitrate = clampToInt(qint64(byteRate) * 8 / 1000);
    return meta.hasAudioRange || emptyData;
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
    TextSources text;
    // The first of each text chunk counts; later ones only cost a header read.
    auto textChunk = [&](QString &field, qint64 body, qint64 size) {
        if (field.isEmpty() && size < kMaxAiffText)
            field = decode8Bit(readAt(f, body, size));
    };
    quint32 sampleFrames = 0;
    int bits = 16;
    bool sawSound = false;
    bool walkedToEnd = false;
    qint64 pos = 12;
    for (int count = 0; count < kMaxChunks; ++count) {
        const QByteArray header = readAt(f, pos, 8);
        if (header.size() < 8) {
            walkedToEnd = true;
            break;
        }
        const qint64 size = be32(header, 4);
        const qint64 body = pos + 8;
        const qint64 next = body + size;
        if (next > fileSize + 1)
            break;
        if (bytesAre(header, 0, "COMM") && size >= 18) {
            const QByteArray comm = readAt(f, body, 18);
            if (comm.size() == 18) {
                meta.channels = be16(comm, 0);
                sampleFrames = be32(comm, 2);
                bits = be16(comm, 6);
                meta.sampleRate = extendedToInt(be16(comm, 8) & 0x7FFF, be64(comm, 10));
            }
        } else if (bytesAre(header, 0, "SSND")) {
            sawSound = true;
            // A chunk may lack its pad byte at the very end, never its samples.
            meta.audioOffset = pos + 16;
            meta.audioLength = qBound<qint64>(0, size - 8, fileSize - meta.audioOffset);
            meta.hasAudioRange = meta.audioLength > 0;
        } else if (bytesAre(header, 0, "NAME")) {
            textChunk(text.info.title, body, size);
        } else if (bytesAre(header, 0, "AUTH")) {
            textChunk(text.info.artist, body, size);
        } else if (bytesAre(header, 0, "ANNO")) {
            textChunk(text.info.comment, body, size);
        } else if (bytesAre(header, 0, "ID3 ") || bytesAre(header, 0, "id3 ")) {
            readId3Chunk(f, body, size, text);
        }
        pos = next + (size & 1);
        if (fileSize <= pos + 7) {
            walkedToEnd = true;
            break;
        }
    }
    mergeText(meta, text);
    if (sampleFrames != 0 && meta.sampleRate >= 1) {
        meta.durationMs = qint64(sampleFrames) * 1000 / meta.sampleRate;
        meta.bitrate = clampToInt(qint64(meta.sampleRate) * meta.channels * bits / 1000);
    }
    // A walk given up at the chunk limit before the sound data has not seen the file: the sound
    // may lie past it, so the file is not reported as one without audio.
    if (!sawSound && !walkedToEnd)
        return false;
    return meta.durationMs >= 1;
}

} // namespace rvw::tagreader

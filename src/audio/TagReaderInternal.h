#pragma once

// Pieces shared by the container parsers of the tag reader. Not for use outside it.

#include "audio/TagReader.h"

#include <QByteArray>
#include <QString>

#include <QFile>

namespace rvw::tagreader {

// The one way the parsers read a file: positioned reads served from a window of the file, so a
// walk over thousands of small headers costs memory copies rather than a system call each. The
// window starts small and doubles while the reads run on through the file, so a walk that jumps
// from header to header (Ogg pages) reads the headers, not the audio between them. The size is
// taken once; nothing is read past it, so a damaged size field cannot drive a large allocation.
class ByteSource
{
public:
    explicit ByteSource(QFile &file);
    qint64 size() const { return m_size; }
    // Up to `count` bytes at `pos`: fewer (or none) at the end of the file or after a read error.
    QByteArray read(qint64 pos, qint64 count);

private:
    static constexpr qint64 kSmallWindow = 512;
    static constexpr qint64 kWindow = 65536;
    QFile &m_file;
    qint64 m_size = 0;
    qint64 m_windowStart = 0;
    qint64 m_nextWindow = kSmallWindow;
    QByteArray m_window;
};

// Big- and little-endian reads from a buffer. Out-of-range positions read as 0, so a parser that
// miscounts can never read past its buffer.
quint16 be16(const QByteArray &b, qint64 at);
quint32 be32(const QByteArray &b, qint64 at);
quint64 be64(const QByteArray &b, qint64 at);
quint16 le16(const QByteArray &b, qint64 at);
quint32 le32(const QByteArray &b, qint64 at);
quint64 le64(const QByteArray &b, qint64 at);
quint32 syncsafe32(const QByteArray &b, qint64 at);
// True when the bytes at `at` equal the text (no terminator compared).
bool bytesAre(const QByteArray &b, qint64 at, const char *text);

inline QByteArray readAt(ByteSource &f, qint64 pos, qint64 count)
{
    return f.read(pos, count);
}

// The longest tag value kept, in characters: a 60 MB title frame is damage, not a title, and must
// not reach the cache and the reports whole.
constexpr qsizetype kMaxTextLength = 1024;

// units * 1000 / rate without overflow; -1 when the result does not fit in 63 bits or rate is 0.
qint64 scaledMs(quint64 units, quint64 rate);
// A 64-bit bit rate or count brought into int range (saturating; never undefined).
int clampToInt(qint64 v);

// Genre name of an ID3v1 genre number, empty outside 0-83.
QString genreName(int index);

// The text up to its first NUL, trimmed and cut to kMaxTextLength.
QString tidy(const QString &s);
// Bytes enough for kMaxTextLength characters in any encoding the tags use.
QByteArray capTextBytes(const QByteArray &bytes);
QString decodeId3Text(quint8 encoding, const QByteArray &bytes);
// The frames of a whole ID3v2 tag held in memory (header first), as the MP3 reader reads them;
// a tag longer than `tag` is read as far as it goes, and at most a few thousand frames.
void readId3v2Tag(const QByteArray &tag, AudioMetadata &meta);
void assignFrame(AudioMetadata &meta, const QString &frameId, const QString &value);
// Text before the first "/" as a number, 0 when it is not one ("7/12" gives 7).
int leadingNumber(const QString &s);

struct MpegFrameHeader
{
    bool valid = false;
    int versionBits = 0;
    int layer = 0;
    int bitrateKbps = 0;
    int sampleRate = 0;
    int channels = 0;
    int frameLength = 0;
    int samplesPerFrame = 0;
    int sideInfoSize = 0;
    bool freeFormat = false;
};
// Decodes the 4 bytes at p (the caller guarantees they exist).
MpegFrameHeader decodeMpegHeader(const uchar *p);

bool readMpeg(ByteSource &f, AudioMetadata &meta);
bool readFlac(ByteSource &f, AudioMetadata &meta);
bool readMp4(ByteSource &f, AudioMetadata &meta);
// An .aac file: raw ADTS (after an optional ID3v2 tag), or else MP4.
bool readAac(ByteSource &f, AudioMetadata &meta);
bool parseOgg(ByteSource &f, AudioMetadata &meta);
bool parseWav(ByteSource &f, AudioMetadata &meta);
bool parseAiff(ByteSource &f, AudioMetadata &meta);
void parseVorbisCommentBlock(const QByteArray &block, AudioMetadata &meta);

} // namespace rvw::tagreader

#include "audio/TagReader.h"

#include "audio/TagReaderInternal.h"

#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QStringList>

#include <limits>

namespace rvw {

namespace tagreader {

namespace {

// The ID3v1 genre list with the first four extensions; shared by ID3v1, numeric TCON and MP4 gnre.
const char *const kGenreNames[84] = {"Blues",
                                     "Classic Rock",
                                     "Country",
                                     "Dance",
                                     "Disco",
                                     "Funk",
                                     "Grunge",
                                     "Hip-Hop",
                                     "Jazz",
                                     "Metal",
                                     "New Age",
                                     "Oldies",
                                     "Other",
                                     "Pop",
                                     "R&B",
                                     "Rap",
                                     "Reggae",
                                     "Rock",
                                     "Techno",
                                     "Industrial",
                                     "Alternative",
                                     "Ska",
                                     "Death Metal",
                                     "Pranks",
                                     "Soundtrack",
                                     "Euro-Techno",
                                     "Ambient",
                                     "Trip-Hop",
                                     "Vocal",
                                     "Jazz+Funk",
                                     "Fusion",
                                     "Trance",
                                     "Classical",
                                     "Instrumental",
                                     "Acid",
                                     "House",
                                     "Game",
                                     "Sound Clip",
                                     "Gospel",
                                     "Noise",
                                     "Alt. Rock",
                                     "Bass",
                                     "Soul",
                                     "Punk",
                                     "Space",
                                     "Meditative",
                                     "Instrumental Pop",
                                     "Instrumental Rock",
                                     "Ethnic",
                                     "Gothic",
                                     "Darkwave",
                                     "Techno-Industrial",
                                     "Electronic",
                                     "Pop-Folk",
                                     "Eurodance",
                                     "Dream",
                                     "Southern Rock",
                                     "Comedy",
                                     "Cult",
                                     "Gangsta Rap",
                                     "Top 40",
                                     "Christian Rap",
                                     "Pop/Funk",
                                     "Jungle",
                                     "Native American",
                                     "Cabaret",
                                     "New Wave",
                                     "Psychedelic",
                                     "Rave",
                                     "Showtunes",
                                     "Trailer",
                                     "Lo-Fi",
                                     "Tribal",
                                     "Acid Punk",
                                     "Acid Jazz",
                                     "Polka",
                                     "Retro",
                                     "Musical",
                                     "Rock & Roll",
                                     "Hard Rock",
                                     "Folk",
                                     "Folk/Rock",
                                     "National Folk",
                                     "Swing"};

bool inRange(const QByteArray &b, qint64 at, qint64 n)
{
    return at >= 0 && n <= b.size() && at <= b.size() - n;
}

quint64 bigEndian(const QByteArray &b, qint64 at, int n)
{
    if (!inRange(b, at, n))
        return 0;
    quint64 v = 0;
    for (int i = 0; i < n; ++i)
        v = (v << 8) | quint8(b[at + i]);
    return v;
}

quint64 littleEndian(const QByteArray &b, qint64 at, int n)
{
    if (!inRange(b, at, n))
        return 0;
    quint64 v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = (v << 8) | quint8(b[at + i]);
    return v;
}

} // namespace

quint16 be16(const QByteArray &b, qint64 at)
{
    return quint16(bigEndian(b, at, 2));
}
quint32 be32(const QByteArray &b, qint64 at)
{
    return quint32(bigEndian(b, at, 4));
}
quint64 be64(const QByteArray &b, qint64 at)
{
    return bigEndian(b, at, 8);
}
quint16 le16(const QByteArray &b, qint64 at)
{
    return quint16(littleEndian(b, at, 2));
}
quint32 le32(const QByteArray &b, qint64 at)
{
    return quint32(littleEndian(b, at, 4));
}
quint64 le64(const QByteArray &b, qint64 at)
{
    return littleEndian(b, at, 8);
}

quint32 syncsafe32(const QByteArray &b, qint64 at)
{
    if (!inRange(b, at, 4))
        return 0;
    quint32 v = 0;
    for (int i = 0; i < 4; ++i)
        v = (v << 7) | (quint8(b[at + i]) & 0x7F);
    return v;
}

bool bytesAre(const QByteArray &b, qint64 at, const char *text)
{
    const qint64 n = qint64(qstrlen(text));
    return inRange(b, at, n) && memcmp(b.constData() + at, text, size_t(n)) == 0;
}

ByteSource::ByteSource(QFile &file) : m_file(file), m_size(file.size()) {}

QByteArray ByteSource::read(qint64 pos, qint64 count)
{
    if (pos < 0 || count <= 0 || pos >= m_size)
        return {};
    count = qMin(count, m_size - pos);
    const qint64 windowEnd = m_windowStart + m_window.size();
    if (pos >= m_windowStart && pos + count <= windowEnd)
        return m_window.mid(pos - m_windowStart, count);
    if (count > kWindow / 2) {
        // Large reads (a tag, a block of frames) go straight to the caller.
        if (!m_file.seek(pos))
            return {};
        return m_file.read(count);
    }
    // Reads running on from the window earn a larger one; a jump starts small again.
    const bool runsOn = !m_window.isEmpty() && pos >= m_windowStart && pos <= windowEnd + kSmallWindow;
    m_nextWindow = runsOn ? qMin(m_nextWindow * 2, kWindow) : kSmallWindow;
    m_window.clear();
    if (!m_file.seek(pos))
        return {};
    m_window = m_file.read(qMin(qMax(m_nextWindow, count), m_size - pos));
    m_windowStart = pos;
    return m_window.left(count);
}

qint64 scaledMs(quint64 units, quint64 rate)
{
    if (rate == 0)
        return -1;
    constexpr quint64 limit = quint64(std::numeric_limits<qint64>::max());
    const quint64 whole = units / rate;
    if (whole > limit / 1000)
        return -1;
    // The remainder is below rate, so remainder * 1000 only overflows for rates beyond 2^54.
    const quint64 rest = units % rate;
    const quint64 frac =
        rest <= std::numeric_limits<quint64>::max() / 1000 ? rest * 1000 / rate : rest / (rate / 1000);
    const quint64 ms = whole * 1000 + frac;
    return ms > limit ? -1 : qint64(ms);
}

int clampToInt(qint64 v)
{
    return int(qBound(qint64(std::numeric_limits<int>::min()), v, qint64(std::numeric_limits<int>::max())));
}

QString genreName(int index)
{
    return index >= 0 && index < 84 ? QString::fromLatin1(kGenreNames[index]) : QString();
}

QString tidy(const QString &s)
{
    const qsizetype nul = s.indexOf(QChar(0));
    QString text = (nul < 0 ? s : s.left(nul)).trimmed();
    if (text.size() > kMaxTextLength) {
        text.truncate(kMaxTextLength);
        if (text.back().isHighSurrogate())
            text.chop(1);
    }
    return text;
}

QByteArray capTextBytes(const QByteArray &bytes)
{
    // Four bytes per character covers UTF-8 and a UTF-16 surrogate pair; a byte order mark more.
    return bytes.left(4 * kMaxTextLength + 4);
}

QString decodeId3Text(quint8 encoding, const QByteArray &whole)
{
    const QByteArray bytes = capTextBytes(whole);
    const bool utf16 = encoding == 1 || encoding == 2;
    qsizetype len = bytes.size();
    if (utf16) {
        // Whole code units only: the odd trailing byte is not part of the text, and a terminator
        // is a zero pair at an even offset, so "B\0" followed by "\0\0" keeps its "B".
        len &= ~qsizetype(1);
        while (len >= 2 && bytes[len - 2] == 0 && bytes[len - 1] == 0)
            len -= 2;
    } else {
        while (len >= 1 && bytes[len - 1] == 0)
            --len;
    }
    const char *d = bytes.constData();
    QString text;
    if (encoding == 0) {
        text = QString::fromLatin1(d, len);
    } else if (utf16) {
        bool little = encoding == 1;
        qsizetype at = 0;
        if (encoding == 1 && len >= 2) {
            const quint8 b0 = quint8(d[0]), b1 = quint8(d[1]);
            if (b0 == 0xFF && b1 == 0xFE) {
                at = 2;
            } else if (b0 == 0xFE && b1 == 0xFF) {
                little = false;
                at = 2;
            }
        }
        text.reserve((len - at) / 2);
        for (; at + 1 < len; at += 2) {
            const quint8 lo = quint8(little ? d[at] : d[at + 1]);
            const quint8 hi = quint8(little ? d[at + 1] : d[at]);
            text.append(QChar(char16_t(hi << 8 | lo)));
        }
    } else {
        text = QString::fromUtf8(d, len);
    }
    return tidy(text);
}

int leadingNumber(const QString &s)
{
    const qsizetype slash = s.indexOf(QLatin1Char('/'));
    bool ok = false;
    const int n = (slash < 0 ? s : s.left(slash)).trimmed().toInt(&ok);
    return ok ? n : 0;
}

void assignFrame(AudioMetadata &meta, const QString &frameId, const QString &value)
{
    if (value.isEmpty())
        return;
    const QString id = frameId.toUpper();
    if (id == QLatin1String("TIT2") || id == QLatin1String("TT2")) {
        meta.title = value;
    } else if (id == QLatin1String("TPE1") || id == QLatin1String("TP1")) {
        meta.artist = value;
    } else if (id == QLatin1String("TALB") || id == QLatin1String("TAL")) {
        meta.album = value;
    } else if (id == QLatin1String("TPE2") || id == QLatin1String("TP2")) {
        meta.albumArtist = value;
    } else if (id == QLatin1String("TCON") || id == QLatin1String("TCO")) {
        // "(17)", "17" and "(17)Rock" are all number 17; "(200)" and names stay as written.
        QString t = value.trimmed();
        const qsizetype close = t.indexOf(QLatin1Char(')'));
        if (t.startsWith(QLatin1Char('(')) && close > 0)
            t = t.mid(1, close - 1);
        bool ok = false;
        const int n = t.toInt(&ok);
        meta.genre = ok && n >= 0 && n < 84 ? genreName(n) : value.trimmed();
    } else if (id == QLatin1String("COMM") || id == QLatin1String("COM")) {
        meta.comment = value;
    } else if (id == QLatin1String("TRCK") || id == QLatin1String("TRK")) {
        meta.trackNo = leadingNumber(value);
    } else if (id == QLatin1String("TYER") || id == QLatin1String("TYE") || id == QLatin1String("TDRC") ||
               id == QLatin1String("TDRL")) {
        meta.year = value.left(4);
    }
}

} // namespace tagreader

QList<ByteRange> AudioMetadata::payloadRanges() const
{
    if (!hasAudioRange || audioLength < 1)
        return {};
    if (!audioPieces.isEmpty())
        return audioPieces;
    return {ByteRange{audioOffset, audioLength}};
}

qint64 AudioMetadata::payloadLength() const
{
    qint64 total = 0;
    for (const ByteRange &r : payloadRanges())
        total += r.length;
    return total;
}

namespace TagReader {

bool read(const QString &path, AudioMetadata &meta, QString *error)
{
    using namespace tagreader;
    QFile file(path);
    // Unbuffered: ByteSource keeps its own window, and QFile's buffer would only add a copy.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        if (error)
            *error = QObject::tr("Cannot open file: %1").arg(file.errorString());
        return false;
    }
    ByteSource f(file);
    const QString suffix = QFileInfo(path).suffix().toLower();
    bool ok = false;
    if (suffix == QLatin1String("mp3") || suffix == QLatin1String("mp2")) {
        ok = readMpeg(f, meta);
    } else if (suffix == QLatin1String("ogg") || suffix == QLatin1String("oga") ||
               suffix == QLatin1String("opus")) {
        ok = parseOgg(f, meta);
    } else if (suffix == QLatin1String("flac")) {
        ok = readFlac(f, meta);
    } else if (suffix == QLatin1String("m4a") || suffix == QLatin1String("m4b") ||
               suffix == QLatin1String("mp4")) {
        ok = readMp4(f, meta);
    } else if (suffix == QLatin1String("aac")) {
        ok = readAac(f, meta);
    } else if (suffix == QLatin1String("wav") || suffix == QLatin1String("wave")) {
        ok = parseWav(f, meta);
    } else if (suffix == QLatin1String("aiff") || suffix == QLatin1String("aif") ||
               suffix == QLatin1String("aifc")) {
        ok = parseAiff(f, meta);
    } else {
        meta.formatName = suffix.toUpper();
        meta.hasAudioRange = false;
        return true;
    }
    if (!ok && error && error->isEmpty())
        *error = QObject::tr("Unrecognised or damaged %1 container").arg(suffix.toUpper());
    return ok;
}

bool isSupportedExtension(const QString &suffix)
{
    static const QStringList supported = {
        QStringLiteral("mp3"),  QStringLiteral("mp2"), QStringLiteral("flac"), QStringLiteral("wav"),
        QStringLiteral("wave"), QStringLiteral("m4a"), QStringLiteral("m4b"),  QStringLiteral("mp4"),
        QStringLiteral("aac"),  QStringLiteral("ogg"), QStringLiteral("oga"),  QStringLiteral("opus"),
        QStringLiteral("aiff"), QStringLiteral("aif"), QStringLiteral("aifc")};
    return supported.contains(suffix, Qt::CaseSensitive);
}

} // namespace TagReader

} // namespace rvw

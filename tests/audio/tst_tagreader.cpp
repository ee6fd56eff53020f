// The tag reader on hand-built files for the exact rules, on files ffmpeg writes, and on damage.

#include "audio/Hasher.h"
#include "audio/TagReader.h"

#include "support/AudioFixtures.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using namespace rvw;

namespace {

QByteArray bytes(std::initializer_list<int> list)
{
    QByteArray b;
    for (int v : list)
        b.append(char(v));
    return b;
}
QByteArray number(quint64 v, int size, bool bigEndian)
{
    QByteArray b;
    for (int i = 0; i < size; ++i)
        b += char(v >> (8 * (bigEndian ? size - 1 - i : i)));
    return b;
}
const auto be32 = [](quint32 v) { return number(v, 4, true); };
const auto be16 = [](quint16 v) { return number(v, 2, true); };
const auto le32 = [](quint32 v) { return number(v, 4, false); };
const auto le16 = [](quint16 v) { return number(v, 2, false); };
QByteArray syncsafe(quint32 v)
{
    return bytes({int(v >> 21) & 0x7F, int(v >> 14) & 0x7F, int(v >> 7) & 0x7F, int(v) & 0x7F});
}

// ---- MPEG -------------------------------------------------------------------------------------

// MPEG-1 Layer III, 128 kbit/s, 44.1 kHz, joint stereo: 417-byte frames.
const QByteArray kFrameHeader = bytes({0xFF, 0xFB, 0x90, 0x64});
constexpr int kFrameLength = 417;

QByteArray mpegFrames(int count, const QByteArray &header = kFrameHeader, int length = kFrameLength)
{
    QByteArray frame = header + QByteArray(length - 4, '\x55');
    return frame.repeated(count);
}

QByteArray id3Frame(int version, const QByteArray &id, const QByteArray &data)
{
    if (version < 3)
        return id + be32(quint32(data.size())).mid(1) + data;
    const QByteArray size = version == 3 ? be32(quint32(data.size())) : syncsafe(quint32(data.size()));
    return id + size + QByteArray(2, '\0') + data;
}

QByteArray id3Tag(int version, const QByteArray &body, quint8 flags = 0, int padding = 0)
{
    const QByteArray padded = body + QByteArray(padding, '\0');
    return QByteArray("ID3") + char(version) + char(0) + char(flags) + syncsafe(quint32(padded.size())) +
           padded;
}

QByteArray textFrame(int version, const QByteArray &id, quint8 enc, const QByteArray &text)
{
    return id3Frame(version, id, char(enc) + text);
}

QByteArray utf16(const QString &s, bool bigEndian)
{
    QByteArray b;
    for (QChar c : s)
        b += number(c.unicode(), 2, bigEndian);
    return b;
}

QByteArray id3v1(const QByteArray &title, const QByteArray &artist, int track, int genre)
{
    QByteArray t("TAG");
    auto field = [](const QByteArray &v, int n) {
        return v.left(n) + QByteArray(n - qMin<int>(n, v.size()), '\0');
    };
    t += field(title, 30) + field(artist, 30) + field("Album1", 30) + field("1999", 4) + field("", 28);
    t += char(track < 0 ? 'x' : 0);
    t += char(track < 0 ? 'y' : track);
    t += char(genre);
    return t;
}

QByteArray apeTag(bool withHeader, int itemBytes)
{
    const QByteArray items(itemBytes, 'a');
    const quint32 size = quint32(itemBytes + 32); // items and footer, never the header
    auto block = [&](bool isHeader) {
        quint32 flags = withHeader ? 0x80000000u : 0;
        if (isHeader)
            flags |= 0x20000000u;
        return QByteArray("APETAGEX") + le32(2000) + le32(size) + le32(1) + le32(flags) + QByteArray(8, '\0');
    };
    return (withHeader ? block(true) : QByteArray()) + items + block(false);
}

// A frame carrying a Xing/Info tag (side information of 32 bytes for MPEG-1 stereo).
QByteArray xingFrame(const char *magic, quint32 flags, quint32 frames, quint32 tagBytes)
{
    QByteArray body = QByteArray(32, '\0') + QByteArray(magic) + be32(flags);
    if (flags & 1)
        body += be32(frames);
    if (flags & 2)
        body += be32(tagBytes);
    body += QByteArray(kFrameLength - 4 - body.size(), '\0');
    return kFrameHeader + body;
}

QByteArray vbriFrame(quint32 frames, quint32 tagBytes)
{
    QByteArray body =
        QByteArray(32, '\0') + "VBRI" + be16(1) + be16(0) + be16(75) + be32(tagBytes) + be32(frames);
    body += QByteArray(kFrameLength - 4 - body.size(), '\0');
    return kFrameHeader + body;
}

// ---- FLAC, Ogg ----------------------------------------------------------------------------------

QByteArray vorbisComments(const QList<QByteArray> &entries)
{
    QByteArray b = le32(6) + "vendor" + le32(quint32(entries.size()));
    for (const QByteArray &e : entries)
        b += le32(quint32(e.size())) + e;
    return b;
}

QByteArray flacBlock(int type, const QByteArray &data, bool last)
{
    return char(type | (last ? 0x80 : 0)) + be32(quint32(data.size())).mid(1) + data;
}

// STREAMINFO for 44.1 kHz stereo with the given number of samples.
QByteArray streamInfo(quint64 samples, int rate = 44100, int channels = 2)
{
    QByteArray s(18, '\0');
    s[10] = char(rate >> 12);
    s[11] = char(rate >> 4);
    s[12] = char(((rate & 0xF) << 4) | ((channels - 1) << 1));
    s[13] = char((samples >> 32) & 0x0F);
    return s.replace(14, 4, be32(quint32(samples)));
}

// flags: 1 the page goes on with a packet from the page before, 2 the first page of a stream.
QByteArray oggPage(const QList<int> &lacing, const QByteArray &body, qint64 granule = 0, int flags = 0,
                   quint32 serial = 1)
{
    QByteArray h("OggS");
    h += QByteArray(1, '\0') + char(flags); // version, header type
    for (int i = 0; i < 8; ++i)
        h += char(quint64(granule) >> (8 * i));
    h += le32(serial) + le32(0) + le32(0) + char(lacing.size());
    for (int v : lacing)
        h += char(v);
    return h + body;
}

// One page per packet for packets under 255 bytes.
QByteArray oggPacketPage(const QByteArray &packet, qint64 granule = 0)
{
    return oggPage({int(packet.size())}, packet, granule);
}

// A packet of any size laid out as a muxer does: 255-byte segments, at most `perPage` segments a
// page, the pages after the first marked as continued, the granule on the page the packet ends.
QByteArray oggPacketPages(const QByteArray &packet, qint64 granule = 0, int perPage = 255)
{
    QList<int> lacing;
    qsizetype left = packet.size();
    for (; left >= 255; left -= 255)
        lacing << 255;
    lacing << int(left);
    QByteArray pages;
    qsizetype at = 0;
    for (qsizetype i = 0; i < lacing.size(); i += perPage) {
        const QList<int> part = lacing.mid(i, perPage);
        qsizetype size = 0;
        for (int v : part)
            size += v;
        const bool last = i + perPage >= lacing.size();
        pages += oggPage(part, packet.mid(at, size), last ? granule : -1, i > 0 ? 1 : 0);
        at += size;
    }
    return pages;
}

// A METADATA_BLOCK_PICTURE comment as taggers write cover art: a FLAC picture block in base64.
QByteArray pictureComment(int imageBytes)
{
    QByteArray image(imageBytes, '\0');
    for (int i = 0; i < imageBytes; ++i)
        image[i] = char((i * 131) ^ (i >> 7));
    const QByteArray block = number(3, 4, true) + number(9, 4, true) + "image/png" + number(0, 4, true) +
                             number(1, 4, true) + number(1, 4, true) + number(24, 4, true) +
                             number(0, 4, true) + number(quint32(imageBytes), 4, true) + image;
    return "METADATA_BLOCK_PICTURE=" + block.toBase64();
}

QByteArray vorbisIdent(int channels, quint32 rate)
{
    return char(1) + QByteArray("vorbis") + le32(0) + char(channels) + le32(rate) + QByteArray(13, '\0');
}

// ---- MP4 --------------------------------------------------------------------------------------

QByteArray atom(const QByteArray &type, const QByteArray &payload)
{
    return be32(quint32(payload.size() + 8)) + type + payload;
}

QByteArray ilstText(const QByteArray &type, const QByteArray &value, quint32 dataType = 1)
{
    return atom(type, atom("data", be32(dataType) + be32(0) + value));
}

QByteArray mvhd(quint32 scale, quint32 duration)
{
    return atom("mvhd", QByteArray(4, '\0') + be32(0) + be32(0) + be32(scale) + be32(duration) +
                            QByteArray(80, '\0'));
}

QByteArray fullAtom(const QByteArray &type, const QByteArray &payload, quint32 versionAndFlags = 0)
{
    return atom(type, be32(versionAndFlags) + payload);
}

QByteArray mdhd(quint32 scale, quint32 duration)
{
    return fullAtom("mdhd", be32(0) + be32(0) + be32(scale) + be32(duration) + be32(0));
}

// A track: header, media header, handler and the sample table boxes given.
QByteArray trak(quint32 id, const char *handler, const QByteArray &mediaHeader, const QByteArray &stbl)
{
    const QByteArray tkhd = fullAtom("tkhd", be32(0) + be32(0) + be32(id) + QByteArray(72, '\0'));
    const QByteArray hdlr = fullAtom("hdlr", be32(0) + handler + QByteArray(13, '\0'));
    return atom("trak", tkhd + atom("mdia", mediaHeader + hdlr + atom("minf", atom("stbl", stbl))));
}

// A sound sample entry (version 0) stating `channels` and `rate`, then its codec boxes, in an stsd.
QByteArray soundEntry(const QByteArray &type, int channels, quint32 rate, const QByteArray &boxes)
{
    const QByteArray entry =
        atom(type, QByteArray(6, '\0') + be16(1) + be16(0) + be16(0) + be32(0) + be16(quint16(channels)) +
                       be16(16) + be32(0) + be32(rate << 16) + boxes);
    return fullAtom("stsd", be32(1) + entry);
}

// Bit fields, most significant first, as (width, value), padded with zero bits to whole bytes.
QByteArray bitFields(const QList<QPair<int, quint32>> &fields)
{
    QByteArray out;
    quint32 acc = 0;
    int bits = 0;
    for (const auto &[width, value] : fields) {
        for (int i = width - 1; i >= 0; --i) {
            acc = (acc << 1) | ((value >> i) & 1);
            if (++bits == 8) {
                out += char(acc);
                acc = 0;
                bits = 0;
            }
        }
    }
    if (bits > 0)
        out += char(acc << (8 - bits));
    return out;
}

// An esds holding `config` as the decoder specific info of a stream of `objectType`.
QByteArray esds(const QByteArray &config, int objectType = 0x40)
{
    const QByteArray specific = char(0x05) + QByteArray(1, char(config.size())) + config;
    const QByteArray decoder = char(0x04) + QByteArray(1, char(13 + specific.size())) + char(objectType) +
                               char(0x15) + QByteArray(3, '\0') + be32(0) + be32(0) + specific;
    const QByteArray es = be16(1) + char(0) + decoder + bytes({0x06, 0x01, 0x02});
    return fullAtom("esds", char(0x03) + QByteArray(1, char(es.size())) + es);
}

QByteArray stsz(quint32 constant, const QList<quint32> &sizes, quint32 count = 0)
{
    QByteArray table;
    for (quint32 v : sizes)
        table += be32(v);
    return fullAtom("stsz", be32(constant) + be32(count ? count : quint32(sizes.size())) + table);
}

// ---- ADTS -------------------------------------------------------------------------------------

// One ADTS frame of `payload` bytes: MPEG-4 AAC LC at the given rate index and channel
// configuration, `blocks` raw data blocks, a CRC when asked.
QByteArray adtsFrame(int rateIndex, int channelConfig, int payload, int blocks = 1, bool crc = false)
{
    const int length = (crc ? 9 : 7) + payload;
    QByteArray h = bitFields({{12, 0xFFF},
                              {1, 0},
                              {2, 0},
                              {1, crc ? 0 : 1},
                              {2, 1},
                              {4, quint32(rateIndex)},
                              {1, 0},
                              {3, quint32(channelConfig)},
                              {4, 0},
                              {13, quint32(length)},
                              {11, 0x7FF},
                              {2, quint32(blocks - 1)}});
    if (crc)
        h += QByteArray(2, '\0');
    return h + QByteArray(payload, '\x21');
}

// ---- WAVE, AIFF -------------------------------------------------------------------------------

// A RIFF (little-endian) or IFF (big-endian) chunk with its pad byte.
QByteArray chunk(const QByteArray &id, const QByteArray &data, bool bigEndian)
{
    return id + number(quint32(data.size()), 4, bigEndian) + data + QByteArray(data.size() % 2, '\0');
}
const auto riffChunk = [](const QByteArray &id, const QByteArray &data) { return chunk(id, data, false); };
const auto iffChunk = [](const QByteArray &id, const QByteArray &data) { return chunk(id, data, true); };

QByteArray wavFmt(int channels, quint32 rate, int bits)
{
    const quint32 byteRate = rate * quint32(channels) * quint32(bits / 8);
    return riffChunk("fmt ", le16(1) + le16(quint16(channels)) + le32(rate) + le32(byteRate) +
                                 le16(quint16(channels * bits / 8)) + le16(quint16(bits)));
}

QByteArray riffWave(const QByteArray &chunks)
{
    return "RIFF" + le32(quint32(chunks.size() + 4)) + "WAVE" + chunks;
}

// COMM with the sample rate as an 80-bit extended float.
QByteArray aiffComm(int channels, quint32 frames, int bits, quint16 exponent, quint64 mantissa)
{
    return iffChunk("COMM", be16(quint16(channels)) + be32(frames) + be16(quint16(bits)) + be16(exponent) +
                                number(mantissa, 8, true));
}

QByteArray formAiff(const QByteArray &chunks)
{
    return "FORM" + be32(quint32(chunks.size() + 4)) + "AIFF" + chunks;
}

QVariantMap fields(const AudioMetadata &m)
{
    return {{"title", m.title},
            {"artist", m.artist},
            {"album", m.album},
            {"albumArtist", m.albumArtist},
            {"genre", m.genre},
            {"year", m.year},
            {"comment", m.comment},
            {"formatName", m.formatName},
            {"trackNo", m.trackNo},
            {"durationMs", m.durationMs},
            {"bitrate", m.bitrate},
            {"sampleRate", m.sampleRate},
            {"channels", m.channels},
            {"audioOffset", m.audioOffset},
            {"audioLength", m.audioLength},
            {"hasAudioRange", m.hasAudioRange},
            {"pieces", m.audioPieces.size()},
            {"payloadLength", m.payloadLength()}};
}

using Expect = QVariantMap;

// "key=value;key=value" (values compared as text), plus values that are easier computed.
Expect ex(const char *pairs, Expect extra = {})
{
    for (const QString &pair : QString::fromUtf8(pairs).split(';', Qt::SkipEmptyParts))
        extra.insert(pair.section('=', 0, 0), pair.section('=', 1));
    return extra;
}

// ffmpeg renders the lavfi `source` into `path` with the given codec and metadata arguments.
bool makeFile(const QString &path, const char *source, const QStringList &args, QString *error)
{
    return rvwtest::ffmpeg(QStringList{"-f", "lavfi", "-i", source} + args + QStringList{path}, error);
}

QStringList metadata(const QStringList &pairs)
{
    QStringList args;
    for (const QString &p : pairs)
        args << QStringLiteral("-metadata") << p;
    return args;
}

// What ffprobe reports: sample rate, channels and duration in milliseconds.
bool probe(const QString &path, int *rate, int *channels, qint64 *durationMs)
{
    QProcess p;
    p.start(QStringLiteral("ffprobe"),
            {"-v", "error", "-show_entries", "stream=sample_rate,channels:format=duration", "-of",
             "default=noprint_wrappers=1", path});
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return false;
    const QStringList lines = QString::fromLatin1(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        const QString value = line.section('=', 1);
        if (line.startsWith("sample_rate="))
            *rate = value.toInt();
        else if (line.startsWith("channels="))
            *channels = value.toInt();
        else if (line.startsWith("duration="))
            *durationMs = qRound64(value.toDouble() * 1000);
    }
    return true;
}

// What ffprobe reports of the first audio stream: rate, channels, bit rate (bit/s) and the
// file's duration in milliseconds.
bool probeAudio(const QString &path, int *rate, int *channels, qint64 *bitRate, qint64 *durationMs)
{
    QProcess p;
    p.start(QStringLiteral("ffprobe"), {"-v", "error", "-select_streams", "a:0", "-show_entries",
                                        "stream=sample_rate,channels,bit_rate:format=duration", "-of",
                                        "default=noprint_wrappers=1", path});
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return false;
    for (const QString &line :
         QString::fromLatin1(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts)) {
        const QString value = line.section('=', 1);
        if (line.startsWith("sample_rate="))
            *rate = value.toInt();
        else if (line.startsWith("channels="))
            *channels = value.toInt();
        else if (line.startsWith("bit_rate="))
            *bitRate = value.toLongLong();
        else if (line.startsWith("duration="))
            *durationMs = qRound64(value.toDouble() * 1000);
    }
    return true;
}

bool haveEncoder(const QString &name)
{
    QProcess p;
    p.start(QStringLiteral("ffmpeg"), {"-hide_banner", "-encoders"});
    return p.waitForFinished(30000) && p.exitCode() == 0 &&
           QString::fromLatin1(p.readAllStandardOutput())
               .contains(QLatin1Char(' ') + name + QLatin1Char(' '));
}

} // namespace

class TstTagReader : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_serial = 0;

    QString writeFile(const QString &suffix, const QByteArray &content)
    {
        const QString path = m_dir.filePath(QStringLiteral("f%1.%2").arg(++m_serial).arg(suffix));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
            return QString();
        return path;
    }

    static void mp3Row(const char *name, const QByteArray &content, bool ok, const Expect &e)
    {
        QTest::newRow(name) << "mp3" << content << ok << e;
    }

    static void addColumns()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<Expect>("expect");
    }

    void checkRow()
    {
        QFETCH(QString, suffix);
        QFETCH(QByteArray, content);
        QFETCH(bool, ok);
        QFETCH(Expect, expect);
        const QString path = writeFile(suffix, content);
        QVERIFY(!path.isEmpty());
        AudioMetadata meta;
        QString error;
        QCOMPARE(TagReader::read(path, meta, &error), ok);
        if (ok)
            QVERIFY2(error.isEmpty(), qPrintable(error));
        else
            QCOMPARE(error, QStringLiteral("Unrecognised or damaged %1 container").arg(suffix.toUpper()));
        const QVariantMap actualFields = fields(meta);
        for (auto it = expect.cbegin(); it != expect.cend(); ++it) {
            const QVariant actual = actualFields.value(it.key(), QStringLiteral("<no such field>"));
            QVERIFY2(actual.toString() == it.value().toString(),
                     qPrintable(QStringLiteral("%1: got %2, expected %3")
                                    .arg(it.key(), actual.toString(), it.value().toString())));
        }
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void id3Frames_data()
    {
        addColumns();
        const QByteArray audio = mpegFrames(4);
        auto row = [&](const char *name, int version, const QByteArray &body, const Expect &e,
                       quint8 flags = 0) {
            QTest::newRow(name) << "mp3" << id3Tag(version, body, flags, 16) + audio << true << e;
        };
        row("v2.2 latin-1", 2, textFrame(2, "TT2", 0, "Caf\xe9") + textFrame(2, "TP1", 0, "Band"),
            {{"title", QString::fromUtf8("Café")}, {"artist", "Band"}});
        row("v2.3 utf-16 bom le, terminator kept off the last letter", 3,
            textFrame(3, "TIT2", 1, bytes({0xFF, 0xFE}) + utf16("AB", false) + QByteArray(2, '\0')),
            {{"title", "AB"}});
        row("v2.3 utf-16 bom be", 3,
            textFrame(3, "TIT2", 1, bytes({0xFE, 0xFF}) + utf16(QString::fromUtf8("Ωx"), true)),
            {{"title", QString::fromUtf8("Ωx")}});
        row("v2.3 utf-16 without bom is little-endian", 3, textFrame(3, "TIT2", 1, utf16("Hi", false)),
            {{"title", "Hi"}});
        row("v2.4 utf-16be", 4, textFrame(4, "TIT2", 2, utf16("Zed", true) + QByteArray(2, '\0')),
            {{"title", "Zed"}});
        row("v2.4 utf-8 with padding", 4,
            textFrame(4, "TIT2", 3, QByteArray("\xc3\xa9t\xc3\xa9") + QByteArray(3, '\0')),
            {{"title", QString::fromUtf8("été")}});
        row("utf-16 odd trailing byte ignored", 3,
            textFrame(3, "TIT2", 1, bytes({0xFF, 0xFE}) + utf16("Ok", false) + "\x41"), {{"title", "Ok"}});
        row("text cut at an inner nul and trimmed", 3, textFrame(3, "TALB", 0, QByteArray("  One\0Two", 9)),
            {{"album", "One"}});
        row("comm utf-16 one-letter description", 3,
            id3Frame(3, "COMM",
                     char(1) + QByteArray("eng") + bytes({0xFF, 0xFE}) + utf16("d", false) +
                         QByteArray(2, '\0') + bytes({0xFF, 0xFE}) + utf16("Nice", false)),
            {{"comment", "Nice"}});
        row("comm latin-1 with description", 3,
            id3Frame(3, "COMM", char(0) + QByteArray("eng") + "desc" + '\0' + "Text"), {{"comment", "Text"}});
        row("comm without terminator takes the whole rest", 3,
            id3Frame(3, "COMM", char(0) + QByteArray("engWhole")), {{"comment", "Whole"}});
        row("v2.2 COM", 2, id3Frame(2, "COM", char(0) + QByteArray("eng") + '\0' + "Old"),
            {{"comment", "Old"}});
        row("genre number in parentheses", 3, textFrame(3, "TCON", 0, "(17)"), {{"genre", "Rock"}});
        row("genre bare number", 3, textFrame(3, "TCON", 0, "14"), {{"genre", "R&B"}});
        row("genre number with refinement", 3, textFrame(3, "TCON", 0, "(78)Rock & Roll"),
            {{"genre", "Rock & Roll"}});
        row("genre out of table stays as written", 3, textFrame(3, "TCON", 0, "(200)"), {{"genre", "(200)"}});
        row("genre name", 3, textFrame(3, "TCON", 0, " Synthwave "), {{"genre", "Synthwave"}});
        row("track with total", 3, textFrame(3, "TRCK", 0, "7/12"), {{"trackNo", 7}});
        row("track not a number", 3, textFrame(3, "TRCK", 0, "A1"), {{"trackNo", 0}});
        row("full date gives the year", 4, textFrame(4, "TDRC", 3, "2019-05-01T10:00"), {{"year", "2019"}});
        row("album artist and TYER", 3, textFrame(3, "TPE2", 0, "Various") + textFrame(3, "TYER", 0, "85"),
            {{"albumArtist", "Various"}, {"year", "85"}});
        row("last frame of a kind wins", 3,
            textFrame(3, "TIT2", 0, "First") + textFrame(3, "TIT2", 0, "Second"), {{"title", "Second"}});
        row("empty text keeps the earlier value", 3,
            textFrame(3, "TIT2", 0, "Kept") + textFrame(3, "TIT2", 0, "  "), {{"title", "Kept"}});
        row("v2.3 extended header", 3, be32(6) + QByteArray(6, '\0') + textFrame(3, "TIT2", 0, "Ext"),
            {{"title", "Ext"}}, 0x40);
        row("v2.4 extended header (syncsafe, counts itself)", 4,
            syncsafe(6) + bytes({1, 0}) + textFrame(4, "TIT2", 0, "Ext4"), {{"title", "Ext4"}}, 0x40);
        row("v2.4 frame size is syncsafe", 4,
            textFrame(4, "TIT2", 0, QByteArray(200, 'x')) + textFrame(4, "TPE1", 0, "A"),
            {{"title", QString(200, 'x')}, {"artist", "A"}});
        row("a title frame of megabytes is cut to 1024 characters", 4,
            textFrame(4, "TIT2", 3, QByteArray(3000000, 'x')) + textFrame(4, "TPE1", 0, "After"),
            {{"title", QString(1024, 'x')}, {"artist", "After"}});
        row("the cut never splits a surrogate pair", 3,
            textFrame(3, "TIT2", 1, bytes({0xFF, 0xFE}) + utf16(QString(1023, 'a'), false) +
                                        bytes({0x3C, 0xD8, 0xB5, 0xDF}) + utf16("zz", false)),
            {{"title", QString(1023, 'a')}});
        row("frame running past the body stops the walk", 3,
            textFrame(3, "TPE1", 0, "Seen") + "TIT2" + be32(5000) + QByteArray(2, '\0') + "\0Lost",
            {{"artist", "Seen"}, {"title", ""}});
        row("padding stops the walk", 3,
            textFrame(3, "TIT2", 0, "T") + QByteArray(12, '\0') + textFrame(3, "TPE1", 0, "X"),
            {{"title", "T"}, {"artist", ""}});
        QTest::newRow("footer flag moves the audio by 20")
            << "mp3"
            << id3Tag(4, textFrame(4, "TIT2", 0, "F"), 0x10) + QByteArray("3DI") + QByteArray(7, '\0') + audio
            << true << Expect{{"title", "F"}, {"audioOffset", 10 + 12 + 10}};
    }
    void id3Frames() { checkRow(); }

    void mpegStream_data()
    {
        addColumns();
        const QByteArray tag = id3Tag(3, textFrame(3, "TIT2", 0, "T"));
        const qint64 t = tag.size();
        // Ten 417-byte frames are 4,170 bytes of audio.
        mp3Row("cbr without tag frame", tag + mpegFrames(10), true,
               ex("audioLength=4170;bitrate=128;durationMs=261;sampleRate=44100;channels=2;"
                  "formatName=MPEG Audio",
                  {{"audioOffset", t}}));
        mp3Row("stray 0xFF before the first frame is skipped",
               tag + bytes({0xFF, 0xFB, 0x90, 0x64, 0x00}) + mpegFrames(10), true,
               ex("audioLength=4170", {{"audioOffset", t + 5}}));
        mp3Row("lone header whose frame runs past the buffer is accepted",
               bytes({0, 0}) + kFrameHeader + QByteArray(100, '\0'), true,
               ex("audioOffset=2;audioLength=104"));
        mp3Row("xing with frames and bytes", tag + xingFrame("Xing", 3, 30, 4000) + mpegFrames(10), true,
               ex("audioLength=4170;durationMs=783;bitrate=40", {{"audioOffset", t + kFrameLength}}));
        // 4,170 bytes hold at most 40 frames of 104 bytes (32 kbit/s).
        mp3Row("xing frame count the payload cannot hold: frames counted",
               xingFrame("Xing", 1, 80000, 0) + mpegFrames(10), true, ex("durationMs=261;bitrate=128"));
        mp3Row("info with frames only uses the payload for the bitrate",
               xingFrame("Info", 1, 10, 0) + mpegFrames(10), true,
               ex("audioOffset=417;durationMs=261;bitrate=127"));
        mp3Row("xing with bytes only: frames counted", xingFrame("Xing", 2, 0, 5000) + mpegFrames(10), true,
               ex("audioOffset=417;bitrate=128;durationMs=261"));
        mp3Row("vbri", vbriFrame(20, 3000) + mpegFrames(10), true,
               ex("audioOffset=417;durationMs=522;bitrate=45"));
        // 32 then 320 kbit/s frames: the first frame's rate alone would give 8,610 ms.
        mp3Row("no vbr tag: frames of differing rates counted",
               mpegFrames(30, bytes({0xFF, 0xFB, 0x10, 0x64}), 104) +
                   mpegFrames(30, bytes({0xFF, 0xFB, 0xE0, 0x64}), 1044),
               true, ex("durationMs=1567;bitrate=176"));
        mp3Row("tag frame only: nothing left to hash", tag + xingFrame("Xing", 1, 10, 0), false,
               ex("hasAudioRange=false"));
        mp3Row("free format confirmed by the next header, no duration",
               (bytes({0xFF, 0xFB, 0x00, 0xC4}) + QByteArray(300, '\x11')).repeated(2), true,
               ex("audioOffset=0;durationMs=0;bitrate=0;channels=1;sampleRate=44100"));
        // Picture bytes that look like an 11,025 Hz free-format header, nothing like it after.
        const QByteArray picture =
            id3Tag(3, id3Frame(3, "APIC", bytes({0xFF, 0xE3, 0x00, 0x00}) + QByteArray(600, 'j')));
        mp3Row("free format unconfirmed in a second id3v2 tag is skipped", tag + picture + mpegFrames(10),
               true,
               ex("sampleRate=44100;audioLength=4170", {{"audioOffset", t + picture.size()}}));
        mp3Row("mpeg-2 layer iii mono", mpegFrames(6, bytes({0xFF, 0xF3, 0x40, 0xC0}), 72000 * 32 / 22050),
               true, ex("sampleRate=22050;channels=1;bitrate=32"));
        mp3Row("mpeg-2.5 layer iii", mpegFrames(6, bytes({0xFF, 0xE3, 0x80, 0x00}), 72000 * 64 / 11025), true,
               ex("sampleRate=11025;bitrate=64"));
        QTest::newRow("layer ii in an mp2")
            << "mp2" << mpegFrames(6, bytes({0xFF, 0xFD, 0xA4, 0x00}), 144000 * 192 / 48000) << true
            << ex("sampleRate=48000;bitrate=192");
        mp3Row("reserved version bits are no header", mpegFrames(6, bytes({0xFF, 0xEB, 0x90, 0x64})), false,
               ex("hasAudioRange=true"));
        mp3Row("zero-length", QByteArray(), false, ex("hasAudioRange=false"));
        mp3Row("only an ID3v2 tag", tag, false, ex("title=T;hasAudioRange=false"));
        mp3Row("huge declared ID3v2 size", QByteArray("ID3\x03\x00\x00\x7f\x7f\x7f\x7f", 10) + mpegFrames(3),
               false, ex("audioOffset=268435465;hasAudioRange=false"));
        mp3Row("no frame: provisional range kept for hashing", tag + QByteArray(5000, 'z'), false,
               ex("hasAudioRange=true;audioLength=5000", {{"audioOffset", t}}));
    }
    void mpegStream() { checkRow(); }

    void trailingTags_data()
    {
        addColumns();
        const QByteArray audio = mpegFrames(4); // 1,668 bytes
        const QByteArray v2 = id3Tag(3, textFrame(3, "TIT2", 0, "V2 title"));
        mp3Row("id3v1 fills an untagged file", audio + id3v1("V1 title", "V1 artist", 5, 17), true,
               ex("title=V1 title;artist=V1 "
                  "artist;album=Album1;year=1999;trackNo=5;genre=Rock;audioLength=1668"));
        mp3Row("id3v1 never overrides id3v2", v2 + audio + id3v1("V1 title", "V1 artist", 3, 0), true,
               ex("title=V2 title;artist=V1 artist;audioLength=1668"));
        mp3Row("id3v1.0 comment bytes are not a track", audio + id3v1("T", "A", -1, 255), true,
               ex("trackNo=0;genre="));
        mp3Row("id3v1 genre 84 and above has no name", audio + id3v1("T", "A", 1, 84), true, ex("genre="));
        mp3Row("ape without header", audio + apeTag(false, 40), true, ex("audioLength=1668"));
        mp3Row("ape with header", audio + apeTag(true, 40), true, ex("audioLength=1668"));
        mp3Row("id3v1 before ape", v2 + audio + id3v1("x", "V1 artist", 1, 1) + apeTag(true, 7), true,
               ex("artist=V1 artist;audioLength=1668", {{"audioOffset", v2.size()}}));
        mp3Row("ape before id3v1", v2 + audio + apeTag(true, 7) + id3v1("x", "y", 1, 1), true,
               ex("audioLength=1668", {{"audioOffset", v2.size()}}));
        mp3Row("ape larger than the file leaves no audio",
               audio.left(200) + QByteArray("APETAGEX") + le32(2000) + le32(0x7FFFFFFF) +
                   QByteArray(16, '\0'),
               false, ex("hasAudioRange=false"));
    }
    void trailingTags() { checkRow(); }

    void flac_data()
    {
        addColumns();
        const QByteArray info = flacBlock(0, streamInfo(441000), false);
        const QByteArray comments = flacBlock(
            4,
            vorbisComments({"title=Lower", "ARTIST=Upper", "Album=  Mixed  ", "GENRE=17", "DATE=2001-02-03",
                            "TRACKNUMBER=3/9", "DESCRIPTION=Desc", "ALBUMARTIST=", "=novalue", "noequals"}),
            true);
        const QByteArray audio(1000, '\x42');
        QTest::newRow("streaminfo and comments")
            << "flac"
            << "fLaC" + info + comments + audio << true
            << ex("formatName=FLAC;sampleRate=44100;channels=2;durationMs=10000;bitrate=0;title=Lower;"
                  "artist=Upper;album=Mixed;genre=17;year=2001;trackNo=3;comment=Desc;albumArtist=;"
                  "audioLength=1000;hasAudioRange=true",
                  {{"audioOffset", 4 + info.size() + comments.size()}});
        QTest::newRow("last block ends exactly at the end: empty payload succeeds")
            << "flac"
            << "fLaC" + flacBlock(0, streamInfo(100), true) << true
            << ex("hasAudioRange=false;audioLength=0");
        QTest::newRow("walk reaches the end without a last block")
            << "flac"
            << "fLaC" + info + flacBlock(1, QByteArray(10, '\0'), false) << false << ex("sampleRate=44100");
        QTest::newRow("truncated block header") << "flac"
                                                << "fLaC" + info + "\x01\x00" << false << Expect{};
        QTest::newRow("6-channel 96 kHz, 36-bit sample count")
            << "flac"
            << "fLaC" + flacBlock(0, streamInfo(0x123456789ULL, 96000, 6), true) + audio << true
            << ex("sampleRate=96000;channels=6;durationMs=50903316");
        QTest::newRow("comment entry longer than its block stops quietly")
            << "flac"
            << "fLaC" + flacBlock(4, le32(0) + le32(2) + le32(7) + "TITLE=A" + le32(99999) + "ARTIST=B", true)
            << true << ex("title=A;artist=");
        // A tag some taggers put before the stream: the Vorbis comment wins, the ID3v2 frames fill
        // the fields it leaves empty, and the payload starts after the metadata as ever.
        const QByteArray ownTags = flacBlock(4, vorbisComments({"TITLE=Own title", "GENRE=Own"}), true);
        const QByteArray id3Frames = textFrame(3, "TIT2", 0, "Id3 title") +
                                     textFrame(3, "TPE1", 0, "Id3 artist") + textFrame(3, "TRCK", 0, "5");
        const QByteArray id3 = id3Tag(3, id3Frames, 0, 32);
        QTest::newRow("id3v2 tag before the stream")
            << "flac" << id3 + "fLaC" + info + ownTags + audio << true
            << ex("title=Own title;artist=Id3 artist;genre=Own;trackNo=5;sampleRate=44100;durationMs=10000;"
                  "audioLength=1000",
                  {{"audioOffset", id3.size() + 4 + info.size() + ownTags.size()}});
        const QByteArray id3WithFooter =
            id3Tag(4, textFrame(4, "TALB", 0, "Footed"), 0x10) + "3DI" + QByteArray(7, '\0');
        QTest::newRow("id3v2.4 tag with a footer before the stream")
            << "flac" << id3WithFooter + "fLaC" + info + ownTags + audio << true
            << ex("album=Footed;title=Own title;audioLength=1000",
                  {{"audioOffset", id3WithFooter.size() + 4 + info.size() + ownTags.size()}});
        // Real files have a handful of blocks; a file of thousands of empty ones is refused at once.
        QTest::newRow("more than 1024 metadata blocks are damage")
            << "flac"
            << "fLaC" + info + flacBlock(1, {}, false).repeated(1023) + flacBlock(1, {}, true) + audio
            << false << ex("sampleRate=44100;hasAudioRange=false");
        QTest::newRow("not flac") << "flac" << QByteArray("RIFF0000WAVE") << false << Expect{};
    }
    void flac() { checkRow(); }

    void ogg_data()
    {
        addColumns();
        const QByteArray comments =
            char(3) + QByteArray("vorbis") + vorbisComments({"TITLE=Song", "artist=Singer"});
        const QByteArray setup = char(5) + QByteArray("vorbis") + QByteArray(20, '\0');
        const QByteArray vorbisHeaders =
            oggPacketPage(vorbisIdent(2, 44100)) + oggPacketPage(comments) + oggPacketPage(setup);
        // One audio page of 128 bytes, its body of 100 the payload; 100 bytes over ten seconds.
        QTest::newRow("vorbis") << "ogg" << vorbisHeaders + oggPacketPage(QByteArray(100, 'a'), 441000)
                                << true
                                << ex("formatName=Ogg Vorbis;channels=2;sampleRate=44100;durationMs=10000;"
                                      "bitrate=0;title=Song;artist=Singer;hasAudioRange=true;audioLength=128;"
                                      "pieces=1;payloadLength=100",
                                      {{"audioOffset", vorbisHeaders.size()}});
        QTest::newRow("several packets on one page")
            << "oga"
            << oggPage({int(vorbisIdent(1, 8000).size()), int(comments.size()), 20},
                       vorbisIdent(1, 8000) + comments + QByteArray(20, 'x'), 16000)
            << true << ex("channels=1;sampleRate=8000;title=Song;durationMs=2000");
        const QByteArray longComments =
            char(3) + QByteArray("vorbis") + vorbisComments({"TITLE=" + QByteArray(300, 't')});
        const QByteArray part1 = longComments.left(255), part2 = longComments.mid(255);
        QTest::newRow("comment spanning two pages is joined")
            << "ogg"
            << oggPacketPage(vorbisIdent(2, 48000)) + oggPage({255}, part1, -1) +
                   oggPage({int(part2.size())}, part2, 0, 1) + oggPacketPage(setup, 96000)
            << true
            << ex("formatName=Ogg Vorbis;sampleRate=48000;durationMs=2000;hasAudioRange=false",
                  {{"title", QString(300, 't')}});
        // Cover art before the title: the title is read only when all four pages of the packet are
        // joined. 25,000 bytes of audio over ten seconds are 20 kbit/s, the picture no part of it.
        const QByteArray pictureHeaders =
            oggPacketPage(vorbisIdent(2, 44100)) +
            oggPacketPages(char(3) + QByteArray("vorbis") +
                           vorbisComments({pictureComment(150000), "TITLE=After the picture", "ARTIST=A"})) +
            oggPacketPage(setup);
        QByteArray fiveAudioPages;
        for (int i = 1; i <= 5; ++i)
            fiveAudioPages += oggPacketPages(QByteArray(5000, char('0' + i)), 88200 * i);
        QTest::newRow("comment of 200 KB with a picture")
            << "ogg" << pictureHeaders + fiveAudioPages << true
            << ex("title=After the picture;artist=A;durationMs=10000;bitrate=20;pieces=5;payloadLength=25000",
                  {{"audioOffset", pictureHeaders.size()}, {"audioLength", fiveAudioPages.size()}});
        // Not held in memory: the tags are lost, the audio after the packet is still found.
        QTest::newRow("comment packet over 16 MiB is skipped")
            << "ogg"
            << oggPacketPage(vorbisIdent(2, 44100)) +
                   oggPacketPages(char(3) + QByteArray("vorbis") +
                                  vorbisComments({"TITLE=T", "COMMENT=" + QByteArray(16 << 20, 'c')})) +
                   oggPacketPage(setup) + oggPacketPage("audio", 44100)
            << true << ex("formatName=Ogg Vorbis;title=;comment=;durationMs=1000;pieces=1;payloadLength=5");
        // The pages of another stream between the headers are not packets of this one; with two
        // streams the pages after the headers are not all audio of this one either.
        const QByteArray other = oggPage({40}, "\x80theora" + QByteArray(33, '\0'), 0, 2, 7);
        QTest::newRow("second logical stream between the headers")
            << "ogg"
            << oggPacketPage(vorbisIdent(2, 44100)) + other + other + oggPacketPage(comments) +
                   oggPacketPage(setup) + oggPacketPage(QByteArray(100, 'a'), 441000)
            << true << ex("formatName=Ogg Vorbis;title=Song;durationMs=10000;hasAudioRange=false");
        const QByteArray opusHead =
            QByteArray("OpusHead") + char(1) + char(2) + le16(312) + le32(44100) + le16(0) + char(0);
        const QByteArray opusTags = QByteArray("OpusTags") + vorbisComments({"TITLE=Talk"});
        QTest::newRow("opus runs at 48 kHz whatever its input rate")
            << "opus" << oggPacketPage(opusHead) + oggPacketPage(opusTags) + oggPacketPage("x", 48000 * 3)
            << true
            << ex("formatName=Opus;sampleRate=48000;channels=2;durationMs=3000;title=Talk;pieces=1;"
                  "payloadLength=1",
                  {{"audioOffset", 2 * 28 + opusHead.size() + opusTags.size()}});
        // The walk over the pages stops after 2^18 of them; a file of more is hashed whole. Its bit
        // rate still leaves out the 100 KB comment packet.
        const QByteArray bigHeaders = oggPacketPage(vorbisIdent(2, 44100)) +
                                      oggPacketPages(char(3) + QByteArray("vorbis") +
                                                     vorbisComments({"COMMENT=" + QByteArray(100000, 'c')})) +
                                      oggPacketPage(setup);
        const int headerPages = int(bigHeaders.count("OggS"));
        QByteArray tinyPages;
        for (int i = 1; i <= (1 << 18) - headerPages; ++i)
            tinyPages += oggPacketPage("a", i == (1 << 18) - headerPages ? 441000 : i);
        QTest::newRow("audio pages up to the walk limit")
            << "ogg" << bigHeaders + tinyPages << true
            << ex("durationMs=10000;hasAudioRange=true",
                  {{"pieces", (1 << 18) - headerPages}, {"bitrate", ((1 << 18) - headerPages) * 8 / 10000}});
        const QByteArray pastLimit = tinyPages + oggPacketPage("a", 441000);
        QTest::newRow("one page past the walk limit gives no range")
            << "ogg" << bigHeaders + pastLimit << true
            << ex("durationMs=10000;hasAudioRange=false", {{"bitrate", pastLimit.size() * 8 / 10000}});
        QTest::newRow("negative last granule gives no duration")
            << "ogg" << oggPacketPage(vorbisIdent(2, 44100)) + oggPacketPage("x", -1) << true
            << ex("durationMs=0;bitrate=0");
        QTest::newRow("unknown stream keeps the plain name")
            << "ogg" << oggPacketPage("\x80theora" + QByteArray(40, '\0')) << true << ex("formatName=Ogg");
        QTest::newRow("not ogg") << "ogg" << QByteArray("fLaC....") << false << Expect{};
    }
    void ogg() { checkRow(); }

    void mp4_data()
    {
        addColumns();
        const QByteArray ilst = atom("ilst", ilstText("\xA9nam", "Name") +
                                                 ilstText("\xA9"
                                                          "ART",
                                                          "Artist") +
                                                 ilstText("\xA9"
                                                          "alb",
                                                          "Alb") +
                                                 ilstText("aART", "AA") +
                                                 ilstText("\xA9"
                                                          "day",
                                                          "2010-01-01") +
                                                 ilstText("\xA9"
                                                          "cmt",
                                                          "C") +
                                                 ilstText("trkn", be16(0) + be16(4) + be16(12) + be16(0), 0) +
                                                 ilstText("gnre", be16(18), 0));
        const QByteArray moov =
            atom("moov", mvhd(1000, 5000) + atom("udta", atom("meta", QByteArray(4, '\0') + ilst)));
        const QByteArray ftyp = atom("ftyp", "M4A " + be32(0)); // 16 bytes
        const QByteArray mdat = atom("mdat", QByteArray(2000, 'm'));
        const QByteArray file = ftyp + moov + mdat;
        QTest::newRow("tags, duration and mdat")
            << "m4a" << file << true
            << ex("formatName=MPEG-4 Audio;title=Name;artist=Artist;album=Alb;albumArtist=AA;year=2010;"
                  "comment=C;trackNo=4;genre=Rock;durationMs=5000;channels=0;sampleRate=0;audioLength=2000;"
                  "bitrate=3",
                  {{"audioOffset", ftyp.size() + moov.size() + 8}});
        QTest::newRow("64-bit mdat size")
            << "mp4" << ftyp + be32(1) + "mdat" + QByteArray(4, '\0') + be32(16 + 300) + QByteArray(300, 'b')
            << true << ex("audioOffset=32;audioLength=300;durationMs=0");
        QTest::newRow("mdat running to the end (size 0)")
            << "m4b" << ftyp + be32(0) + "mdat" + QByteArray(50, 'c') << true
            << ex("audioOffset=24;audioLength=50");
        QTest::newRow("raw adts in an aac file: one frame, then zeros that are no frame")
            << "aac" << bytes({0xFF, 0xF1, 0x50, 0x80, 0x02, 0x1F, 0xFC}) + QByteArray(500, '\0') << true
            << ex("formatName=AAC (ADTS);sampleRate=44100;channels=2;audioOffset=0;audioLength=16;"
                  "durationMs=23");
        QTest::newRow("atom larger than its parent stops the walk")
            << "m4a" << ftyp + be32(99999) + "moov" + QByteArray(20, '\0') << false << Expect{};
        const QByteArray badGenre =
            atom("ilst", ilstText("gnre", be16(0), 0) + ilstText("\xA9nam", QByteArray()));
        QTest::newRow("gnre outside the table leaves the genre")
            << "m4a" << atom("moov", atom("udta", atom("meta", QByteArray(4, '\0') + badGenre))) + mdat
            << true << ex("genre=;title=");
        // Atoms nested deeper than the walk goes are never read.
        QByteArray deep = mvhd(1000, 5000);
        for (int i = 0; i < 9; ++i)
            deep = atom("moov", deep);
        QTest::newRow("walk stops at depth 8") << "mp4" << deep + mdat << true << ex("durationMs=0");
        // Fragmented: one mdat per fragment, then a random-access index.
        const QByteArray moof = atom("moof", atom("mfhd", be32(0) + be32(1)));
        const QByteArray fragments = moof + atom("mdat", QByteArray(300, 'a')) + moof + mdat;
        QTest::newRow("fragments: first moof to the end of the last mdat, mfra left out")
            << "m4a" << ftyp + moov + fragments + atom("mfra", QByteArray(40, 'z')) << true
            << Expect{{"audioOffset", ftyp.size() + moov.size()}, {"audioLength", fragments.size()}};
        QTest::newRow("box between fragments gives no range")
            << "m4a" << ftyp + moov + moof + mdat + atom("free", "x") + moof + mdat << true
            << ex("hasAudioRange=false");
        QTest::newRow("fragment cut short gives no range")
            << "m4a" << ftyp + moov + fragments.chopped(1) << true << ex("hasAudioRange=false");

        // The sound track: rate and channels from its sample description, duration from its own
        // media header (2 s), bit rate from its sample sizes.
        auto movie = [&](const QByteArray &tracks, const QByteArray &media = QByteArray(2000, 'm')) {
            return ftyp + atom("moov", mvhd(1000, 5000) + tracks) + atom("mdat", media);
        };
        auto sound = [&](const QByteArray &sampleDescription, const QByteArray &sizes = QByteArray()) {
            return trak(1, "soun", mdhd(22050, 44100), sampleDescription + sizes);
        };
        auto mp4Row = [&](const char *name, const QByteArray &content, const char *expect, bool ok = true) {
            QTest::newRow(name) << "m4a" << content << ok << ex(expect);
        };
        // Audio object type, rate index, channel configuration, then three zero bits of GA config.
        auto lc = [](int rateIndex, int config) {
            return QList<QPair<int, quint32>>{{5, 2}, {4, quint32(rateIndex)}, {4, quint32(config)}, {3, 0}};
        };
        mp4Row("mp4a: the AudioSpecificConfig over the entry's fields, mdhd over mvhd",
               movie(sound(soundEntry("mp4a", 2, 44100, esds(bitFields(lc(7, 1)))))),
               "sampleRate=22050;channels=1;durationMs=2000;bitrate=8");
        mp4Row("mp4a: explicit frequency",
               movie(sound(soundEntry("mp4a", 2, 44100,
                                      esds(bitFields({{5, 2}, {4, 15}, {24, 37800}, {4, 2}, {3, 0}}))))),
               "sampleRate=37800;channels=2");
        mp4Row("mp4a: 5.1 configuration",
               movie(sound(soundEntry("mp4a", 2, 48000, esds(bitFields(lc(3, 6)))))),
               "sampleRate=48000;channels=6");
        mp4Row("mp4a: HE-AAC (object type 5) gives the SBR rate",
               movie(sound(soundEntry("mp4a", 2, 24000,
                                      esds(bitFields({{5, 5}, {4, 6}, {4, 2}, {4, 3}, {5, 2}, {3, 0}}))))),
               "sampleRate=48000;channels=2");
        mp4Row("mp4a: HE-AAC v2 (object type 29), a mono core decodes to stereo",
               movie(sound(soundEntry("mp4a", 1, 22050,
                                      esds(bitFields({{5, 29}, {4, 7}, {4, 1}, {4, 4}, {5, 2}, {3, 0}}))))),
               "sampleRate=44100;channels=2");
        mp4Row("mp4a: SBR signalled after the LC config",
               movie(sound(soundEntry(
                   "mp4a", 1, 22050,
                   esds(bitFields(lc(7, 1) +
                                  QList<QPair<int, quint32>>{{11, 0x2B7}, {5, 5}, {1, 1}, {4, 4}}))))),
               "sampleRate=44100;channels=2");
        mp4Row("mp4a: SBR and parametric stereo signalled absent",
               movie(sound(soundEntry(
                   "mp4a", 1, 22050,
                   esds(bitFields(lc(7, 1) +
                                  QList<QPair<int, quint32>>{
                                      {11, 0x2B7}, {5, 5}, {1, 1}, {4, 4}, {11, 0x548}, {1, 0}}))))),
               "sampleRate=44100;channels=1");
        mp4Row("mp4a: SBR extension switched off",
               movie(sound(soundEntry(
                   "mp4a", 2, 44100,
                   esds(bitFields(lc(7, 1) + QList<QPair<int, quint32>>{{11, 0x2B7}, {5, 5}, {1, 0}}))))),
               "sampleRate=22050;channels=1");
        QTest::newRow("mp4 in an aac file reads as mp4, sound track included")
            << "aac" << movie(sound(soundEntry("mp4a", 2, 44100, esds(bitFields(lc(7, 1)))))) << true
            << ex("formatName=MPEG-4 Audio;sampleRate=22050;channels=1;audioLength=2000");
        mp4Row("mp4a without esds: the entry's fields", movie(sound(soundEntry("mp4a", 1, 32000, {}))),
               "sampleRate=32000;channels=1");
        mp4Row("mp4a holding mp3: the entry's fields",
               movie(sound(soundEntry("mp4a", 1, 32000, esds(bitFields(lc(3, 2)), 0x6B)))),
               "sampleRate=32000;channels=1");
        mp4Row(
            "mp4a: esds descriptor longer than the box keeps the entry's fields",
            movie(sound(soundEntry("mp4a", 1, 32000, fullAtom("esds", bytes({0x03, 0x7F, 0, 1, 0, 0x04}))))),
            "sampleRate=32000;channels=1");
        const QByteArray cookie = fullAtom("alac", be32(4096) + bytes({0, 24, 40, 10, 14, 6}) + be16(255) +
                                                       be32(0) + be32(0) + be32(96000));
        mp4Row("alac: rate and channels from the magic cookie",
               movie(sound(soundEntry("alac", 2, 0, cookie))), "sampleRate=96000;channels=6");
        mp4Row("fLaC: rate and channels from the STREAMINFO in dfLa",
               movie(sound(soundEntry("fLaC", 2, 44100,
                                      fullAtom("dfLa", bytes({0x80, 0, 0, 34}) + streamInfo(1000, 88200, 1) +
                                                           QByteArray(16, '\0'))))),
               "sampleRate=88200;channels=1");
        mp4Row("Opus: channels from dOps, 48 kHz whatever the input rate",
               movie(sound(soundEntry("Opus", 2, 44100,
                                      atom("dOps", bytes({0, 6}) + be16(312) + be32(44100) + be16(0) +
                                                       char(1) + bytes({4, 2, 0, 4, 1, 2, 3, 5}))))),
               "sampleRate=48000;channels=6");
        const QByteArray video = trak(1, "vide", mdhd(90000, 900000),
                                      atom("stsd", be32(0) + be32(1) + atom("avc1", QByteArray(80, 'v'))) +
                                          stsz(0, {40000, 5000, 4000}));
        mp4Row("the sound track after a video track; bit rate from its own sample sizes",
               movie(video + trak(2, "soun", mdhd(44100, 88200),
                                  soundEntry("mp4a", 1, 44100, esds(bitFields(lc(4, 1)))) +
                                      stsz(0, {1000, 1500, 2500})),
                     QByteArray(54000, 'v')),
               "sampleRate=44100;channels=1;durationMs=2000;bitrate=20");
        mp4Row("constant sample size", movie(sound(soundEntry("mp4a", 2, 44100, {}), stsz(250, {}, 80))),
               "durationMs=2000;bitrate=80");
        mp4Row("sample size table longer than its box: the media data stands in",
               movie(sound(soundEntry("mp4a", 2, 44100, {}), stsz(0, {7, 7, 7}, 1000000)),
                     QByteArray(5000, 'm')),
               "durationMs=2000;bitrate=20");
        const QByteArray cover = atom("covr", atom("data", be32(14) + be32(0) + QByteArray(200000, 'p')));
        mp4Row("cover art leaves the bit rate alone",
               ftyp +
                   atom("moov", mvhd(1000, 5000) +
                                    atom("udta", atom("meta", QByteArray(4, '\0') + atom("ilst", cover)))) +
                   mdat,
               "durationMs=5000;bitrate=3;audioLength=2000");

        // Fragmented: the duration is where the last fragment of the sound track ends.
        const QByteArray emptyMoov = atom(
            "moov", mvhd(1000, 0) +
                        trak(7, "soun", mdhd(44100, 0), soundEntry("mp4a", 2, 44100, {}) + stsz(0, {})) +
                        atom("mvex", fullAtom("trex", be32(7) + be32(1) + be32(2048) + be32(0) + be32(0))));
        // tfhd with a default duration of 1,024 (flag 0x08) or none; tfdt version 1; trun of
        // `count` samples, with per-sample durations when given.
        auto trackFragment = [&](quint32 track, quint64 decodeTime, quint32 count, bool ownDefault,
                                 const QList<quint32> &durations) {
            const QByteArray tfhd =
                ownDefault ? fullAtom("tfhd", be32(track) + be32(1024), 0x08) : fullAtom("tfhd", be32(track));
            const QByteArray tfdt = fullAtom("tfdt", number(decodeTime, 8, true), 0x01000000);
            QByteArray records;
            for (quint32 d : durations)
                records += be32(d) + be32(10);
            const QByteArray trun = durations.isEmpty() ? fullAtom("trun", be32(count))
                                                        : fullAtom("trun", be32(count) + records, 0x300);
            return atom("traf", tfhd + tfdt + trun);
        };
        auto fragment = [&](quint32 track, quint64 decodeTime, quint32 count, bool ownDefault,
                            const QList<quint32> &durations, int mediaBytes) {
            return atom("moof", atom("mfhd", be32(0) + be32(1)) +
                                    trackFragment(track, decodeTime, count, ownDefault, durations)) +
                   atom("mdat", QByteArray(mediaBytes, 'f'));
        };
        // 88,200 + 5 x 1,024 samples at 44.1 kHz end at 2,116 ms; 3,000 + 5,000 bytes over that.
        mp4Row("fragments: duration from the last fragment's decode time and its default durations",
               ftyp + emptyMoov + fragment(7, 0, 5, true, {}, 3000) + fragment(7, 88200, 5, true, {}, 5000),
               "durationMs=2116;bitrate=30;sampleRate=44100;hasAudioRange=true");
        mp4Row("fragments: per-sample durations",
               ftyp + emptyMoov + fragment(7, 88200, 3, false, {1000, 1000, 2410}, 5000),
               "durationMs=2100;bitrate=19");
        mp4Row("fragments: the track's default duration from trex",
               ftyp + emptyMoov + fragment(7, 88200, 2, false, {}, 5000), "durationMs=2092");
        mp4Row("fragments: another track's run in the same fragment is not the sound's",
               ftyp + emptyMoov +
                   atom("moof", atom("mfhd", be32(0) + be32(1)) + trackFragment(3, 900000000, 2, true, {}) +
                                    trackFragment(7, 88200, 2, true, {})) +
                   atom("mdat", QByteArray(5000, 'f')),
               "durationMs=2046");
        // Ten hours at one fragment a second is 36,000 fragments: all read, the last one counts.
        QByteArray longFile = ftyp + emptyMoov;
        for (int i = 0; i < 36000; ++i)
            longFile += fragment(7, quint64(i) * 44100, 1, false, {44100}, 4);
        mp4Row("36,000 fragments read to the end", longFile,
               "durationMs=36000000;hasAudioRange=true;sampleRate=44100");
        // Far more boxes than a real file holds: the walk gives up, keeping what it read.
        const QByteArray manyBoxes = atom("free", {}).repeated(300000);
        QTest::newRow("300,000 boxes before the media data: the walk gives up")
            << "m4a" << ftyp + moov + manyBoxes + mdat << false
            << ex("title=Name;durationMs=5000;hasAudioRange=false");
        QTest::newRow("300,000 boxes inside the movie: the walk gives up")
            << "m4a"
            << ftyp + atom("moov", mvhd(1000, 5000) + manyBoxes + sound(soundEntry("mp4a", 1, 8000, {}))) +
                   mdat
            << false << ex("sampleRate=0;hasAudioRange=false");
    }
    void mp4() { checkRow(); }

    void adts_data()
    {
        addColumns();
        auto row = [](const char *name, const QByteArray &content, bool ok, const Expect &e) {
            QTest::newRow(name) << "aac" << content << ok << e;
        };
        // 100 frames of 207 bytes at 44.1 kHz: 102,400 samples, 2,321 ms.
        const QByteArray stereo = adtsFrame(4, 2, 200).repeated(100);
        row("stereo 44.1 kHz", stereo, true,
            ex("formatName=AAC (ADTS);sampleRate=44100;channels=2;audioOffset=0;audioLength=20700;"
               "durationMs=2321;bitrate=71;hasAudioRange=true"));
        row("mono 8 kHz, CRC, four raw data blocks a frame", adtsFrame(11, 1, 300, 4, true).repeated(10),
            true, ex("sampleRate=8000;channels=1;durationMs=5120;audioLength=3090"));
        row("7.1", adtsFrame(3, 7, 50).repeated(3), true, ex("sampleRate=48000;channels=8"));
        row("channel configuration 0 leaves the channels to the stream", adtsFrame(3, 0, 50).repeated(3),
            true, ex("sampleRate=48000;channels=0"));
        const QByteArray tag =
            id3Tag(4, textFrame(4, "TIT2", 3, "Adts title") + textFrame(4, "TPE1", 0, "Who"), 0, 100);
        row("leading id3v2 tag: tags read, audio after it", tag + stereo, true,
            ex("title=Adts title;artist=Who;audioLength=20700;durationMs=2321",
               {{"audioOffset", tag.size()}}));
        row("truncated last frame left out", stereo + adtsFrame(4, 2, 200).left(120), true,
            ex("audioLength=20700;durationMs=2321"));
        row("trailing ape and id3v1 left out", stereo + apeTag(true, 300) + id3v1("V1", "A", 1, 1), true,
            ex("audioLength=20700;durationMs=2321"));
        row("junk between frames is skipped", stereo + QByteArray(333, '\x07') + stereo, true,
            ex("audioLength=41733;durationMs=4643"));
        // A header with the stream's fields but a length of 3 is no frame: nothing after it counts.
        const QByteArray stub = adtsFrame(4, 2, 0).left(7);
        QByteArray shortHeader = stub;
        shortHeader[4] = 0;
        shortHeader[5] = char(3 << 5);
        row("a frame length below the header size ends the stream", stereo + shortHeader + stereo, true,
            ex("audioLength=20700;durationMs=2321"));
        row("a sync word in junk needs the next header to follow",
            stereo + QByteArray(5, '\x07') + adtsFrame(4, 2, 40) + QByteArray(90, '\x07'), true,
            ex("audioLength=20700;durationMs=2321"));
        row("a frame of another stream after the junk does not count",
            stereo + QByteArray(5, '\x07') + adtsFrame(3, 2, 200).repeated(2), true,
            ex("audioLength=20700;sampleRate=44100"));
        row("reserved rate index", adtsFrame(13, 2, 50).repeated(3), false,
            ex("formatName=AAC (ADTS);hasAudioRange=false"));
        row("first frame cut short", adtsFrame(4, 2, 200).left(100), false,
            ex("formatName=AAC (ADTS);hasAudioRange=false;sampleRate=44100"));
    }
    void adts() { checkRow(); }

    // MP4 and ADTS files as ffmpeg writes them, against what ffprobe says of the audio stream.
    void aacFamilyFiles_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("source");     // lavfi audio
        QTest::addColumn<QStringList>("inputs"); // more inputs; "%cover" is a generated 1.4 MB PNG
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("formatName");
        QTest::addColumn<QString>("encoder");     // needed by the row, when ffmpeg might lack it
        QTest::addColumn<QByteArray>("ascPatch"); // written over a 5-byte AudioSpecificConfig
        const QString mp4 = QStringLiteral("MPEG-4 Audio"), adts = QStringLiteral("AAC (ADTS)");
        const QString mono22 = QStringLiteral("sine=frequency=440:duration=3:sample_rate=22050");
        const QString stereo48 = QStringLiteral("sine=frequency=440:duration=3:sample_rate=48000");
        const QString stereo44 = QStringLiteral("sine=frequency=440:duration=3:sample_rate=44100");
        const QStringList aac{"-c:a", "aac"};
        const QStringList two{"-ac", "2"};
        QTest::newRow("aac mono 22050")
            << "mono.m4a" << mono22 << QStringList{} << aac << mp4 << "" << QByteArray();
        // At 8 kHz the encoder's priming frame is 128 ms: only the edit list gives the true length.
        QTest::newRow("aac 8000 Hz, a third of a second")
            << "short.m4a" << QStringLiteral("sine=frequency=440:duration=0.3:sample_rate=8000") << QStringList{}
            << aac << mp4 << "" << QByteArray();
        QTest::newRow("aac stereo 48000")
            << "stereo.m4a" << stereo48 << QStringList{} << two + aac << mp4 << "" << QByteArray();
        QTest::newRow("aac with a large cover")
            << "cover.m4a" << stereo44 << QStringList{"-i", "%cover"}
            << QStringList{"-map",         "0",    "-map", "1", "-c:v", "copy", "-disposition:v",
                           "attached_pic", "-b:a", "96k"} +
                   aac
            << mp4 << "" << QByteArray();
        QTest::newRow("aac beside a video track")
            << "video.mp4" << stereo44 << QStringList{"-f", "lavfi", "-i", "testsrc=s=320x240:d=3"}
            << QStringList{"-c:v", "mpeg4", "-q:v", "2", "-b:a", "96k"} + aac << mp4 << "" << QByteArray();
        QTest::newRow("aac fragmented")
            << "frag.m4a" << stereo44 << QStringList{}
            << aac + QStringList{"-movflags", "+frag_keyframe+empty_moov+default_base_moof", "-frag_duration",
                                 "500000"}
            << mp4 << "" << QByteArray();
        QTest::newRow("he-aac") << "he.m4a" << stereo44 << QStringList{}
                                << two + QStringList{"-c:a", "libfdk_aac", "-profile:a", "aac_he"} << mp4
                                << "libfdk_aac" << QByteArray();
        // ffmpeg's LC encoder cannot write SBR, so its 22,050 Hz mono config is rewritten to signal
        // it, in the three ways decoders know (ffprobe decodes the LC frames with SBR on top).
        const QList<QPair<int, quint32>> lcMono{{5, 2}, {4, 7}, {4, 1}, {3, 0}};
        QTest::newRow("sbr signalled after the lc config")
            << "sbr1.m4a" << mono22 << QStringList{} << aac << mp4 << ""
            << bitFields(lcMono + QList<QPair<int, quint32>>{{11, 0x2B7}, {5, 5}, {1, 1}, {4, 4}});
        QTest::newRow("he-aac object type 5")
            << "sbr2.m4a" << mono22 << QStringList{} << aac << mp4 << ""
            << bitFields({{5, 5}, {4, 7}, {4, 1}, {4, 4}, {5, 2}, {3, 0}}).leftJustified(5, '\0');
        QTest::newRow("he-aac v2 object type 29")
            << "sbr3.m4a" << mono22 << QStringList{} << aac << mp4 << ""
            << bitFields({{5, 29}, {4, 7}, {4, 1}, {4, 4}, {5, 2}, {3, 0}}).leftJustified(5, '\0');
        QTest::newRow("alac") << "a.m4a" << stereo44 << QStringList{} << two + QStringList{"-c:a", "alac"}
                              << mp4 << "" << QByteArray();
        QTest::newRow("flac in mp4") << "flac.mp4" << stereo44 << QStringList{}
                                     << two + QStringList{"-c:a", "flac", "-strict", "-2"} << mp4 << ""
                                     << QByteArray();
        QTest::newRow("opus in mp4") << "opus.mp4" << stereo44 << QStringList{}
                                     << two + QStringList{"-c:a", "libopus", "-strict", "-2"} << mp4 << ""
                                     << QByteArray();
        QTest::newRow("adts stereo 44100")
            << "s.aac" << stereo44 << QStringList{} << two + aac + QStringList{"-f", "adts"} << adts << ""
            << QByteArray();
        QTest::newRow("adts mono 16000") << "m.aac"
                                         << "sine=frequency=300:duration=4:sample_rate=16000" << QStringList{}
                                         << aac + QStringList{"-f", "adts"} << adts << "" << QByteArray();
        QTest::newRow("adts 48000 behind an id3v2 tag")
            << "t.aac" << stereo48 << QStringList{}
            << two + aac + QStringList{"-f", "adts", "-write_id3v2", "1", "-metadata", "title=Tagged"} << adts
            << "" << QByteArray();
    }
    void aacFamilyFiles()
    {
        QFETCH(QString, file);
        QFETCH(QString, source);
        QFETCH(QStringList, inputs);
        QFETCH(QStringList, args);
        QFETCH(QString, formatName);
        QFETCH(QString, encoder);
        QFETCH(QByteArray, ascPatch);
        if (!encoder.isEmpty() && !haveEncoder(encoder))
            QSKIP(qPrintable(QStringLiteral("ffmpeg has no %1 encoder").arg(encoder)));
        QString error;
        const QString cover = m_dir.filePath("cover.png");
        if (inputs.contains("%cover") && !QFileInfo::exists(cover))
            QVERIFY2(rvwtest::ffmpeg({"-f", "lavfi", "-i", "nullsrc=s=1024x1024,geq=random(1)*255:128:128",
                                      "-frames:v", "1", "-c:v", "png", cover},
                                     &error),
                     qPrintable(error));
        inputs.replaceInStrings("%cover", cover);
        const QString path = m_dir.filePath(file);
        QVERIFY2(rvwtest::ffmpeg(QStringList{"-f", "lavfi", "-i", source} + inputs + args + QStringList{path},
                                 &error),
                 qPrintable(error));
        if (!ascPatch.isEmpty()) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QByteArray whole = f.readAll();
            const qsizetype at = whole.indexOf(QByteArray("\x05\x80\x80\x80\x05", 5));
            QVERIFY2(at > 0 && ascPatch.size() == 5, "no 5-byte decoder specific info to rewrite");
            whole.replace(at + 5, 5, ascPatch);
            QVERIFY(f.seek(0) && f.write(whole) == whole.size());
        }
        int rate = 0, channels = 0;
        qint64 bitRate = 0, durationMs = 0;
        QVERIFY(probeAudio(path, &rate, &channels, &bitRate, &durationMs));
        QVERIFY(rate > 0 && channels > 0 && bitRate > 0 && durationMs > 0);

        AudioMetadata meta;
        QVERIFY2(TagReader::read(path, meta, &error), qPrintable(error));
        QCOMPARE(meta.formatName, formatName);
        QCOMPARE(meta.sampleRate, rate);
        QCOMPARE(meta.channels, channels);
        QVERIFY2(
            qAbs(meta.durationMs - durationMs) <= qMax<qint64>(120, durationMs / 100),
            qPrintable(QStringLiteral("%1 ms against ffprobe's %2 ms").arg(meta.durationMs).arg(durationMs)));
        // The audio's own rate: a cover or a video track would be many times it.
        QVERIFY2(qAbs(qint64(meta.bitrate) * 1000 - bitRate) <= qMax<qint64>(2000, bitRate * 3 / 100),
                 qPrintable(
                     QStringLiteral("%1 kbit/s against ffprobe's %2 bit/s").arg(meta.bitrate).arg(bitRate)));
        QVERIFY(meta.hasAudioRange && meta.audioOffset >= 0 && meta.audioLength > 0 &&
                meta.audioOffset + meta.audioLength <= QFileInfo(path).size());
        if (args.contains("title=Tagged"))
            QCOMPARE(meta.title, QStringLiteral("Tagged"));
    }

    void wave_data()
    {
        addColumns();
        const QByteArray pcm(44100 * 4, '\x01');
        const QByteArray list = riffChunk(
            "LIST", "INFO" + riffChunk("INAM", "Name\0") + riffChunk("IART", "Art") +
                        riffChunk("IPRD", "Prd") + riffChunk("ICRD", "1977-01") + riffChunk("IGNR", "Pop") +
                        riffChunk("ICMT", "Cm") + riffChunk("ITRK", "9"));
        const QByteArray fmt = wavFmt(2, 44100, 16); // 24 bytes
        QTest::newRow("fmt, data and info")
            << "wav" << riffWave(fmt + riffChunk("data", pcm) + list) << true
            << ex("formatName=WAVE;channels=2;sampleRate=44100;durationMs=1000;bitrate=1411;audioOffset=44;"
                  "audioLength=176400;title=Name;artist=Art;album=Prd;year=1977;genre=Pop;comment=Cm;trackNo="
                  "9");
        QTest::newRow("info text: utf-8 when valid, else latin-1")
            << "wav"
            << riffWave(fmt + riffChunk("data", pcm) +
                        riffChunk("LIST", "INFO" + riffChunk("INAM", "Caf\xc3\xa9") + riffChunk("IART", "Caf\xe9")))
            << true << Expect{{"title", QString::fromUtf8("Café")}, {"artist", QString::fromUtf8("Café")}};
        QTest::newRow("data before fmt: range and bitrate, no duration")
            << "wave" << riffWave(riffChunk("data", pcm) + fmt) << true
            << ex("audioOffset=20;durationMs=0;bitrate=1411");
        QTest::newRow("data cut short by more than a byte gives no range")
            << "wav" << riffWave(fmt + "data" + le32(quint32(pcm.size()))) + pcm.left(1000) << false
            << ex("hasAudioRange=false;sampleRate=44100");
        QTest::newRow("odd data missing its pad byte still counts")
            << "wav" << riffWave(fmt + "data" + le32(3) + "abc") << true << ex("audioLength=3");
        for (const quint32 streamed : {0u, 0xFFFFFFFFu})
            QTest::newRow(qPrintable(QStringLiteral("streamed data size %1 runs to the end").arg(streamed)))
                << "wav" << riffWave(fmt + "data" + le32(streamed) + pcm) << true
                << ex("durationMs=1000;audioOffset=44;audioLength=176400");
        // 64-bit sizes in ds64 (RIFF size, data size, sample count, no table), 0xFFFFFFFF in the
        // 32-bit fields; a LIST after the data shows the walk went on past it.
        auto wave64 = [&](const char *magic, quint64 dataSize) {
            const QByteArray ds64 = riffChunk("ds64", number(0, 8, false) + number(dataSize, 8, false) +
                                                          number(44100, 8, false) + le32(0));
            return magic + le32(0xFFFFFFFF) + "WAVE" + ds64 + fmt + "data" + le32(0xFFFFFFFF) + pcm + list;
        };
        for (const char *magic : {"RF64", "BW64"})
            QTest::newRow(magic) << "wav" << wave64(magic, quint64(pcm.size())) << true
                                 << ex("channels=2;sampleRate=44100;durationMs=1000;audioOffset=80;"
                                       "audioLength=176400;title=Name");
        QTest::newRow("RF64 data size beyond the file is not trusted")
            << "wav" << wave64("RF64", quint64(1) << 62) << false
            << ex("sampleRate=44100;hasAudioRange=false");
        QTest::newRow("no data chunk") << "wav" << riffWave(fmt) << false << ex("channels=2");

        // What an ffmpeg -t 0 recording looks like: the data chunk declares nothing and ends the file.
        QTest::newRow("empty data chunk at the end, after chunks of size 0")
            << "wav"
            << riffWave(fmt + riffChunk("JUNK", "") + list + riffChunk("LIST", "") + riffChunk("data", ""))
            << true
            << ex("hasAudioRange=false;audioLength=0;durationMs=0;channels=2;sampleRate=44100;bitrate=1411;"
                  "title=Name");
        // Not a stream: what follows the header is whole chunks ending with the file, not samples.
        QTest::newRow("empty data chunk followed by INFO: the INFO is no audio")
            << "wav" << riffWave(fmt + riffChunk("data", "") + list) << true
            << ex("hasAudioRange=false;audioLength=0;title=Name;artist=Art");

        const QByteArray id3 = riffChunk(
            "id3 ",
            id3Tag(4,
                   textFrame(4, "TIT2", 3, "T\xc3\xaftle") + textFrame(4, "TPE1", 3, "\xc3\x84rtist") +
                       textFrame(4, "TALB", 3, "Id3 album") + textFrame(4, "TRCK", 0, "5/9"),
                   0, 20));
        QTest::newRow("id3 chunk after the data")
            << "wav" << riffWave(fmt + riffChunk("data", pcm) + id3) << true
            << Expect{{"title", QString::fromUtf8("Tïtle")},
                      {"artist", QString::fromUtf8("Ärtist")},
                      {"album", "Id3 album"},
                      {"trackNo", 5},
                      {"audioOffset", 44},
                      {"audioLength", pcm.size()},
                      {"durationMs", 1000}};
        const QByteArray upperId3 = riffChunk("ID3 ", id3Tag(3, textFrame(3, "TIT2", 0, "Upper")));
        QTest::newRow("ID3 chunk before the data")
            << "wav" << riffWave(fmt + upperId3 + riffChunk("data", pcm)) << true
            << ex("title=Upper;durationMs=1000", {{"audioOffset", 44 + upperId3.size()}});

        // AES46 cart: a version, then text fields of 64 bytes, NUL- or space-padded, 2,048 bytes in all.
        auto cartField = [](const QByteArray &text, char pad) {
            return text + QByteArray(64 - text.size(), pad);
        };
        auto cart = [&](const QByteArray &title, const QByteArray &artist) {
            return riffChunk("cart", "0101" + cartField(title, '\0') + cartField(artist, ' ') +
                                         cartField("CUT042", ' ') + QByteArray(2048 - 196, '\0'));
        };
        const QByteArray bext =
            riffChunk("bext", cartField("A bext description", '\0') + QByteArray(602 - 64, '\0'));
        QTest::newRow("cart after bext")
            << "wav" << riffWave(fmt + bext + cart("Song", "Band") + riffChunk("data", pcm)) << true
            << ex("title=Song;artist=Band;durationMs=1000;audioLength=176400",
                  {{"audioOffset", 36 + bext.size() + 2056 + 8}});
        QTest::newRow("cart over INFO, INFO fills what cart leaves empty")
            << "wav" << riffWave(fmt + list + cart("Cart title", "") + riffChunk("data", pcm)) << true
            << ex("title=Cart title;artist=Art;album=Prd");
        QTest::newRow("cart cut short: a field it does not hold whole is not read")
            << "wav"
            << riffWave(fmt + riffChunk("cart", "0101" + cartField("Short", ' ') + "Half an artist") + list +
                        riffChunk("data", pcm))
            << true << ex("title=Short;artist=Art");
        QTest::newRow("id3, then cart, then INFO, whatever their order in the file")
            << "wav"
            << riffWave(fmt +
                        riffChunk("LIST", "INFO" + riffChunk("INAM", "Info title") +
                                              riffChunk("IART", "Info artist") +
                                              riffChunk("IPRD", "Info album")) +
                        cart("Cart title", "Cart artist") + riffChunk("data", pcm) +
                        riffChunk("id3 ", id3Tag(3, textFrame(3, "TIT2", 0, "Id3 title"))))
            << true << ex("title=Id3 title;artist=Cart artist;album=Info album");
        QTest::newRow("not wave") << "wav" << QByteArray("RIFF\0\0\0\0AVI LIST", 16) << false << Expect{};
    }
    void wave() { checkRow(); }

    void aiff_data()
    {
        addColumns();
        // 44100 as an 80-bit float: exponent 16398, mantissa 0xAC44 << 48.
        const QByteArray comm = aiffComm(2, 88200, 16, 0x400E, 0xAC44000000000000ULL); // 26 bytes
        const QByteArray ssnd = iffChunk("SSND", le32(0) + le32(0) + QByteArray(1000, 's'));
        QTest::newRow("comm, ssnd, name, auth")
            << "aiff" << formAiff(comm + iffChunk("NAME", "Title ") + iffChunk("AUTH", "Who") + ssnd) << true
            << ex("formatName=AIFF;channels=2;sampleRate=44100;durationMs=2000;bitrate=1411;title=Title;"
                  "artist=Who;hasAudioRange=true;audioOffset=80;audioLength=1000");
        QTest::newRow("8 kHz mono 8-bit aifc")
            << "aifc" << formAiff(aiffComm(1, 8000, 8, 0x400B, 0xFA00000000000000ULL) + ssnd) << true
            << ex("sampleRate=8000;durationMs=1000;bitrate=64");
        QTest::newRow("comm without ssnd succeeds without a range")
            << "aif" << formAiff(comm) << true << ex("hasAudioRange=false;durationMs=2000");
        QTest::newRow("ssnd without comm fails but keeps its range")
            << "aiff" << formAiff(ssnd) << false << ex("hasAudioRange=true;audioLength=1000");
        QTest::newRow("huge exponent is no sample rate")
            << "aiff" << formAiff(aiffComm(2, 100, 16, 0x7FFF, 0xFFFFFFFFFFFFFFFFULL) + ssnd) << false
            << ex("sampleRate=0");
        QTest::newRow("tiny exponent is no sample rate")
            << "aiff" << formAiff(aiffComm(2, 100, 16, 0x0001, 0x8000000000000000ULL) + ssnd) << false
            << ex("sampleRate=0");
        QTest::newRow("ssnd of 8 bytes has no range")
            << "aiff" << formAiff(comm + iffChunk("SSND", QByteArray(8, '\0'))) << true
            << ex("hasAudioRange=false");
        QTest::newRow("utf-8 name, latin-1 author")
            << "aiff"
            << formAiff(comm + iffChunk("NAME", "T\xc3\xaftle") + iffChunk("AUTH", "Caf\xe9") + ssnd) << true
            << Expect{{"title", QString::fromUtf8("Tïtle")}, {"artist", QString::fromUtf8("Café")}};
        // A sequence cut at the end and an overlong "/" are not UTF-8.
        QTest::newRow("anno is the comment; broken utf-8 reads as latin-1")
            << "aiff"
            << formAiff(comm + iffChunk("NAME", "A\xc3") + iffChunk("AUTH", bytes({0xC0, 0xAF, 'B'})) +
                        iffChunk("ANNO", QByteArray("Note\0", 5)) + ssnd)
            << true
            << Expect{{"title", QString::fromLatin1("A\xc3")},
                      {"artist", QString::fromLatin1(bytes({0xC0, 0xAF, 'B'}))},
                      {"comment", "Note"}};
        QTest::newRow("id3 chunk after the sound wins over name and author")
            << "aiff"
            << formAiff(comm + iffChunk("NAME", "Name") + iffChunk("AUTH", "Auth") +
                        iffChunk("ANNO", "Note") + ssnd +
                        iffChunk("ID3 ", id3Tag(3, textFrame(3, "TIT2", 1,
                                                             bytes({0xFF, 0xFE}) +
                                                                 utf16(QString::fromUtf8("Ωmega"), false)))))
            << true
            << Expect{{"title", QString::fromUtf8("Ωmega")},
                      {"artist", "Auth"},
                      {"comment", "Note"},
                      {"audioOffset", 90},
                      {"audioLength", 1000}};
        // The walk stops at 4,096 chunks: sound beyond is never seen, which is damage, not silence.
        QTest::newRow("ssnd past the chunk limit fails")
            << "aiff" << formAiff(comm + iffChunk("ANNO", "").repeated(4100) + ssnd) << false
            << ex("hasAudioRange=false;sampleRate=44100");
        QTest::newRow("ssnd one byte past the end has no samples past it")
            << "aiff" << QByteArray("FORM") + be32(20) + "AIFF" + "SSND" + be32(9) + QByteArray(8, '\0') << false
            << ex("hasAudioRange=false");
        QTest::newRow("ssnd cut short fails")
            << "aiff" << formAiff(comm) + "SSND" + be32(5000) + QByteArray(100, '\0') << false
            << ex("hasAudioRange=false;channels=2");
        QTest::newRow("not aiff") << "aiff" << QByteArray("RIFF........") << false << Expect{};
    }
    void aiff() { checkRow(); }

    void ffmpegFiles_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("codec");
        QTest::addColumn<QString>("formatName");
        QTest::addColumn<int>("frameMs"); // one coded frame: the duration tolerance
        QTest::addColumn<bool>("hasRange");
        const QStringList lame{"-c:a", "libmp3lame", "-id3v2_version"};
        QTest::newRow("mp3 cbr id3v2.3")
            << "cbr.mp3" << lame + QStringList{"3", "-b:a", "128k"} << "MPEG Audio" << 27 << true;
        QTest::newRow("mp3 vbr id3v2.4")
            << "vbr.mp3" << lame + QStringList{"4", "-q:a", "4"} << "MPEG Audio" << 27 << true;
        QTest::newRow("flac") << "a.flac" << QStringList{"-c:a", "flac"} << "FLAC" << 1 << true;
        QTest::newRow("ogg vorbis") << "a.ogg" << QStringList{"-c:a", "libvorbis"} << "Ogg Vorbis" << 24
                                    << true;
        QTest::newRow("opus") << "a.opus" << QStringList{"-c:a", "libopus"} << "Opus" << 20 << true;
        // ffmpeg cannot attach a picture to Ogg, but it copies a METADATA_BLOCK_PICTURE comment from a
        // metadata file: 200 KB of cover art make a comment packet of four pages.
        const QString cover = m_dir.filePath("cover.ffmeta");
        QFile coverFile(cover);
        if (coverFile.open(QIODevice::WriteOnly))
            coverFile.write(";FFMETADATA1\n" + pictureComment(150000) + "\n");
        coverFile.close();
        // The ffmetadata input takes the "-ac" the test puts before the codec; the second is the output's.
        const QStringList withCover{"-f", "ffmetadata", "-i", cover, "-map_metadata", "1", "-ac", "2"};
        QTest::newRow("ogg vorbis with a 200 KB cover")
            << "cover.ogg" << withCover + QStringList{"-c:a", "libvorbis"} << "Ogg Vorbis" << 24 << true;
        QTest::newRow("opus with a 200 KB cover")
            << "cover.opus" << withCover + QStringList{"-c:a", "libopus"} << "Opus" << 20 << true;
        QTest::newRow("m4a") << "a.m4a" << QStringList{"-c:a", "aac"} << "MPEG-4 Audio" << 24 << true;
        QTest::newRow("wav") << "a.wav" << QStringList{"-c:a", "pcm_s16le"} << "WAVE" << 1 << true;
        // Files named "id3.*" carry an ID3v2 chunk. ffmpeg's WAVE writer has no option for one, so
        // the test adds the tag ffmpeg writes for MP3.
        QTest::newRow("wav with id3 chunk")
            << "id3.wav" << QStringList{"-c:a", "pcm_s16le"} << "WAVE" << 1 << true;
        const QStringList rf64{"-c:a", "pcm_s16le", "-rf64", "always"};
        QTest::newRow("rf64") << "rf64.wav" << rf64 << "WAVE" << 1 << true;
        // Written as a stream: the sizes in ds64 stay 0 and the data runs to the end of the file.
        QTest::newRow("rf64 streamed") << "rf64s.wav" << rf64 + QStringList{"-seekable", "0"} << "WAVE" << 1
                                       << true;
        const QStringList aiff = QStringList{"-c:a", "pcm_s16be"} + metadata({"author=Ärtist"});
        QTest::newRow("aiff") << "a.aiff" << aiff << "AIFF" << 1 << true;
        QTest::newRow("aiff with id3 chunk")
            << "id3.aiff" << aiff + QStringList{"-write_id3v2", "1"} << "AIFF" << 1 << true;
    }
    void ffmpegFiles()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, codec);
        QFETCH(QString, formatName);
        QFETCH(int, frameMs);
        QFETCH(bool, hasRange);
        const QString path = m_dir.filePath(file);
        const bool id3Chunk = file.startsWith(QLatin1String("id3."));
        const QStringList tags = metadata({"title=Tïtle One", "artist=Ärtist", "album=Album", "genre=Jazz",
                                           "date=2021", "track=4/10", "comment=Cmt"});
        QString error;
        QVERIFY2(makeFile(path, "sine=frequency=440:duration=3:sample_rate=44100",
                          QStringList{"-ac", "2"} + codec + tags, &error),
                 qPrintable(error));
        if (id3Chunk && formatName == QLatin1String("WAVE")) {
            const QString mp3 = path + QStringLiteral(".mp3");
            QVERIFY2(makeFile(mp3, "sine=duration=0.1",
                              QStringList{"-c:a", "libmp3lame", "-id3v2_version", "3"} + tags, &error),
                     qPrintable(error));
            QFile tagSource(mp3);
            QVERIFY(tagSource.open(QIODevice::ReadOnly));
            const QByteArray head = tagSource.peek(10);
            QVERIFY(head.size() == 10 && head.startsWith("ID3"));
            const QByteArray tag = tagSource.read(10 + ((head[6] & 0x7F) << 21 | (head[7] & 0x7F) << 14 |
                                                        (head[8] & 0x7F) << 7 | (head[9] & 0x7F)));
            QFile wave(path);
            QVERIFY(wave.open(QIODevice::ReadWrite));
            QByteArray whole = wave.readAll() + riffChunk("id3 ", tag);
            whole.replace(4, 4, le32(quint32(whole.size() - 8)));
            QVERIFY(wave.seek(0) && wave.write(whole) == whole.size());
        }
        int rate = 0, channels = 0;
        qint64 durationMs = 0;
        QVERIFY(probe(path, &rate, &channels, &durationMs));

        AudioMetadata meta;
        QVERIFY2(TagReader::read(path, meta, &error), qPrintable(error));
        QCOMPARE(meta.formatName, formatName);
        QCOMPARE(meta.channels, channels);
        QCOMPARE(meta.sampleRate, rate);
        QVERIFY2(
            qAbs(meta.durationMs - durationMs) <= frameMs,
            qPrintable(QStringLiteral("%1 ms against ffprobe's %2 ms").arg(meta.durationMs).arg(durationMs)));
        QVERIFY(meta.bitrate > 0);
        QCOMPARE(meta.hasAudioRange, hasRange);
        if (hasRange)
            QVERIFY(meta.audioOffset > 0 && meta.audioLength > 0 &&
                    meta.audioOffset + meta.audioLength <= QFileInfo(path).size());
        // Every container here carries ffmpeg's UTF-8 text, named as such (ID3v2, Vorbis comments,
        // MP4) or not (RIFF INFO, AIFF), and reads back as written.
        auto written = [](const char *utf8) { return QString::fromUtf8(utf8); };
        QCOMPARE(meta.title, written("T\xc3\xaftle One"));
        QCOMPARE(meta.artist, written("\xc3\x84rtist"));
        if (formatName == QLatin1String("AIFF") && !id3Chunk) { // only a name, an author and a comment
            QCOMPARE(meta.comment, QStringLiteral("Cmt"));
            return;
        }
        QCOMPARE(meta.album, QStringLiteral("Album"));
        QCOMPARE(meta.genre, QStringLiteral("Jazz"));
        QCOMPARE(meta.year, QStringLiteral("2021"));
        // ffmpeg writes the track of a WAVE file as IPRT and an ID3v2 comment as TXXX, neither of
        // which the reader takes; beside an ID3v2 chunk, INFO or ANNO still give the comment.
        if (formatName != QLatin1String("WAVE") || id3Chunk)
            QCOMPARE(meta.trackNo, 4);
        if (formatName != QLatin1String("MPEG Audio"))
            QCOMPARE(meta.comment, QStringLiteral("Cmt"));
    }

    // A VBR file written without a Xing or VBRI header: its frames are counted, as ffprobe counts
    // its packets, where the first frame's bit rate would give nothing like the 40 s.
    void mp3VbrWithoutTag()
    {
        const QString path = m_dir.filePath("noxing.mp3");
        QString error;
        QVERIFY2(rvwtest::ffmpeg({"-f", "lavfi", "-i", "sine=frequency=440:duration=20", "-f", "lavfi",
                                  "-i", "anoisesrc=d=20", "-filter_complex", "concat=n=2:v=0:a=1", "-c:a",
                                  "libmp3lame", "-q:a", "2", "-write_xing", "0", path},
                                 &error),
                 qPrintable(error));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray head = f.read(8192);
        QVERIFY(!head.contains("Xing") && !head.contains("Info") && !head.contains("VBRI"));
        QProcess p;
        p.start(QStringLiteral("ffprobe"), {"-v", "error", "-count_packets", "-show_entries",
                                            "stream=nb_read_packets,sample_rate", "-of", "default=nw=1",
                                            path});
        QVERIFY(p.waitForFinished(30000) && p.exitCode() == 0);
        qint64 packets = 0, rate = 0;
        for (const QString &line : QString::fromLatin1(p.readAllStandardOutput()).split('\n')) {
            if (line.startsWith("nb_read_packets="))
                packets = line.section('=', 1).toLongLong();
            else if (line.startsWith("sample_rate="))
                rate = line.section('=', 1).toLongLong();
        }
        QVERIFY(packets > 0 && rate > 0);
        const qint64 expectedMs = packets * 1152 * 1000 / rate;
        AudioMetadata meta;
        QVERIFY2(TagReader::read(path, meta, &error), qPrintable(error));
        QVERIFY2(qAbs(meta.durationMs - expectedMs) <= qMax<qint64>(120, expectedMs / 100),
                 qPrintable(QStringLiteral("%1 ms against %2 ms").arg(meta.durationMs).arg(expectedMs)));
        const qint64 expectedKbps = meta.audioLength * 8 / expectedMs;
        QVERIFY2(qAbs(meta.bitrate - expectedKbps) <= 2,
                 qPrintable(QStringLiteral("%1 kbit/s against %2").arg(meta.bitrate).arg(expectedKbps)));
    }

    // Copies whose tags differ but whose coded audio is the same share the payload hash.
    void payloadIdentity_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QStringList>("baseCodec");
        QTest::addColumn<QStringList>("variantArgs"); // applied with -c copy to the base
        QTest::addColumn<QByteArray>("appended");     // bytes added to the end of the variant
        const QStringList mp3 = QStringList{"-c:a", "libmp3lame", "-b:a", "96k", "-id3v2_version", "3"} +
                                metadata({"title=Base"});
        const QStringList flac = QStringList{"-c:a", "flac"} + metadata({"title=Base"});
        QTest::newRow("mp3 other tags")
            << "mp3" << mp3 << metadata({"title=Other", "artist=New"}) << QByteArray();
        QTest::newRow("mp3 resized id3v2")
            << "mp3" << mp3 << metadata({"comment=" + QString(5000, 'c')}) << QByteArray();
        QTest::newRow("mp3 id3v2.4") << "mp3" << mp3 << QStringList{"-id3v2_version", "4"} << QByteArray();
        QTest::newRow("mp3 with id3v1")
            << "mp3" << mp3 << QStringList{"-write_id3v1", "1"} + metadata({"artist=V1"}) << QByteArray();
        QTest::newRow("mp3 with apev2") << "mp3" << mp3 << QStringList{} << apeTag(true, 64);
        QTest::newRow("mp3 with apev2 and id3v1")
            << "mp3" << mp3 << QStringList{} << apeTag(false, 20) + id3v1("x", "y", 2, 3);
        QTest::newRow("mp3 with id3v1 and apev2")
            << "mp3" << mp3 << QStringList{} << id3v1("x", "y", 2, 3) + apeTag(true, 20);
        QTest::newRow("flac other comments")
            << "flac" << flac << metadata({"title=Other", "genre=Ska"}) << QByteArray();
        // Ogg: the audio pages' bodies, whatever the pages before them and their headers became.
        const QStringList vorbis = QStringList{"-c:a", "libvorbis"} + metadata({"title=Base"});
        const QStringList opus = QStringList{"-c:a", "libopus"} + metadata({"title=Base"});
        const QStringList longComment = metadata({"comment=" + QString(100000, 'c')}); // over a page
        QTest::newRow("ogg vorbis other tags")
            << "ogg" << vorbis << metadata({"title=Other", "artist=New"}) << QByteArray();
        QTest::newRow("ogg vorbis comment packet pushed over page boundaries")
            << "ogg" << vorbis << longComment << QByteArray();
        QTest::newRow("opus other tags")
            << "opus" << opus << metadata({"title=Other", "artist=New"}) << QByteArray();
        QTest::newRow("opus comment packet pushed over page boundaries")
            << "opus" << opus << longComment << QByteArray();
    }
    void payloadIdentity()
    {
        QFETCH(QString, suffix);
        QFETCH(QStringList, baseCodec);
        QFETCH(QStringList, variantArgs);
        QFETCH(QByteArray, appended);
        const QString base = m_dir.filePath(QStringLiteral("base%1.%2").arg(++m_serial).arg(suffix));
        const QString variant = m_dir.filePath(QStringLiteral("variant%1.%2").arg(++m_serial).arg(suffix));
        QString error;
        QVERIFY2(makeFile(base, "sine=frequency=330:duration=2:sample_rate=44100", baseCodec, &error),
                 qPrintable(error));
        QVERIFY2(rvwtest::ffmpeg(QStringList{"-i", base, "-map_metadata", "0", "-c", "copy"} + variantArgs +
                                     QStringList{variant},
                                 &error),
                 qPrintable(error));
        QFile f(variant);
        QVERIFY(f.open(QIODevice::Append) && f.write(appended) == appended.size());
        f.close();
        AudioMetadata a, b;
        QVERIFY2(TagReader::read(base, a, &error), qPrintable(error));
        QVERIFY2(TagReader::read(variant, b, &error), qPrintable(error));
        QVERIFY(a.hasAudioRange && b.hasAudioRange);
        QCOMPARE(b.payloadLength(), a.payloadLength());
        const QString payloadA = Hasher::hashRanges(base, a.payloadRanges(), &error);
        QCOMPARE(payloadA.size(), 64);
        QCOMPARE(Hasher::hashRanges(variant, b.payloadRanges(), &error), payloadA);
        QVERIFY(Hasher::hashWholeFile(base, &error) != Hasher::hashWholeFile(variant, &error));
    }

    // An ffmpeg FLAC file behind an ID3v2 tag reads as the file without it, payload included.
    void flacAfterId3v2()
    {
        const QString plain = m_dir.filePath("plain.flac");
        QString error;
        QVERIFY2(makeFile(plain, "sine=frequency=440:duration=2:sample_rate=48000",
                          QStringList{"-c:a", "flac"} + metadata({"title=Flac title", "artist=Flac artist"}),
                          &error),
                 qPrintable(error));
        QFile plainFile(plain);
        QVERIFY(plainFile.open(QIODevice::ReadOnly));
        const QByteArray tag =
            id3Tag(3, textFrame(3, "TIT2", 0, "Id3 title") + textFrame(3, "TALB", 0, "Id3 album"), 0, 500);
        const QString tagged = writeFile("flac", tag + plainFile.readAll());
        QVERIFY(!tagged.isEmpty());
        int rate = 0, channels = 0;
        qint64 durationMs = 0;
        QVERIFY(probe(tagged, &rate, &channels, &durationMs));

        AudioMetadata a, b;
        QVERIFY2(TagReader::read(plain, a, &error), qPrintable(error));
        QVERIFY2(TagReader::read(tagged, b, &error), qPrintable(error));
        QCOMPARE(b.title, QStringLiteral("Flac title"));
        QCOMPARE(b.artist, QStringLiteral("Flac artist"));
        QCOMPARE(b.album, QStringLiteral("Id3 album"));
        QCOMPARE(b.sampleRate, rate);
        QCOMPARE(b.channels, channels);
        QVERIFY2(qAbs(b.durationMs - durationMs) <= 1, qPrintable(QString::number(b.durationMs)));
        QCOMPARE(b.bitrate, a.bitrate);
        QCOMPARE(b.audioOffset, a.audioOffset + tag.size());
        QCOMPARE(b.audioLength, a.audioLength);
        const QString payload = Hasher::hashRanges(plain, a.payloadRanges(), &error);
        QCOMPARE(payload.size(), 64);
        QCOMPARE(Hasher::hashRanges(tagged, b.payloadRanges(), &error), payload);
    }

    // Two songs that end alike (here in silence) write the same last fragments, so the payload of a
    // fragmented file has to take in every fragment. A remux that keeps the fragments keeps it.
    void fragmentedMp4Payload()
    {
        // 8.192 s at 32 kHz is a whole number of AAC frames, so a remux leaves the last fragment as
        // the encoder wrote it; moof-relative offsets let the moov grow without touching the fragments.
        const QStringList fragmented{"-c:a",           "aac",
                                     "-movflags",      "+frag_keyframe+empty_moov+default_base_moof",
                                     "-frag_duration", "1000000"};
        auto song = [&](const QString &name, int hz, QString *error) {
            const QByteArray source =
                QStringLiteral("aevalsrc=if(lt(t\\,4)\\,0.5*sin(2*PI*%1*t)\\,0):s=32000:d=8.192")
                    .arg(hz)
                    .toUtf8();
            return makeFile(m_dir.filePath(name), source.constData(), fragmented, error);
        };
        QString error;
        QVERIFY2(song("fragA.m4a", 440, &error) && song("fragB.m4a", 660, &error), qPrintable(error));
        const QString retagged = m_dir.filePath("fragA-retagged.m4a");
        QVERIFY2(rvwtest::ffmpeg(
                     QStringList{"-i", m_dir.filePath("fragA.m4a"), "-c", "copy"} + fragmented.mid(2) +
                         metadata({"title=A title long enough to grow the moov"}) + QStringList{retagged},
                     &error),
                 qPrintable(error));

        QStringList payloads, firstBoxes;
        for (const char *name : {"fragA.m4a", "fragB.m4a", "fragA-retagged.m4a"}) {
            const QString path = m_dir.filePath(QLatin1String(name));
            AudioMetadata meta;
            QVERIFY2(TagReader::read(path, meta, &error), qPrintable(error));
            QVERIFY(meta.hasAudioRange);
            payloads << Hasher::hashRange(path, meta.audioOffset, meta.audioLength, &error);
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly) && f.seek(meta.audioOffset + 4));
            firstBoxes << QString::fromLatin1(f.read(4));
        }
        QCOMPARE(payloads[0].size(), 64);
        QVERIFY(payloads[0] != payloads[1]);
        QCOMPARE(payloads[2], payloads[0]);
        QCOMPARE(firstBoxes, QStringList({"moof", "moof", "moof"})); // the files really are fragmented
        QVERIFY(Hasher::hashWholeFile(m_dir.filePath("fragA.m4a"), &error) !=
                Hasher::hashWholeFile(retagged, &error));
    }

    // Damaged files never crash the reader and always fail with the container message.
    void damagedFiles_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QStringList>("codec");
        QTest::addColumn<QByteArray>("magic"); // so that random bytes after it go deep into the walk
        const QStringList title = metadata({"title=T"});
        QTest::newRow("mp3") << "mp3" << QStringList{"-c:a", "libmp3lame"} + title << QByteArray("ID3\x03");
        QTest::newRow("flac") << "flac" << QStringList{"-c:a", "flac"} + title << QByteArray("fLaC");
        QTest::newRow("ogg") << "ogg" << QStringList{"-c:a", "libvorbis"} + title << QByteArray("OggS");
        QTest::newRow("opus") << "opus" << QStringList{"-c:a", "libopus"} << QByteArray("OggS");
        QTest::newRow("m4a") << "m4a" << QStringList{"-c:a", "aac"} + title << QByteArray("\0\0\0\x10", 4);
        QTest::newRow("wav") << "wav" << QStringList{"-c:a", "pcm_s16le"} + title
                             << QByteArray("RIFF\xff\xff\xff\xffWAVE");
        QTest::newRow("aiff") << "aiff" << QStringList{"-c:a", "pcm_s16be"}
                              << QByteArray("FORM\xff\xff\xff\xff"
                                            "AIFF");
    }
    void damagedFiles()
    {
        QFETCH(QString, suffix);
        QFETCH(QStringList, codec);
        QFETCH(QByteArray, magic);
        const QString source = m_dir.filePath(QStringLiteral("whole%1.%2").arg(++m_serial).arg(suffix));
        QString error;
        QVERIFY2(makeFile(source, "sine=frequency=500:duration=0.5:sample_rate=22050", codec, &error),
                 qPrintable(error));
        QFile sourceFile(source);
        QVERIFY(sourceFile.open(QIODevice::ReadOnly));
        const QByteArray whole = sourceFile.readAll();
        QVERIFY(whole.size() > 1024);
        const QString expected = QStringLiteral("Unrecognised or damaged %1 container").arg(suffix.toUpper());
        const QString path = m_dir.filePath(QStringLiteral("cut.%1").arg(suffix));
        // Reads `content` as the file; false when the reader gave up (with the container message).
        auto survives = [&](const QByteArray &content, AudioMetadata &meta) {
            QFile f(path);
            if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(content) != content.size())
                return false;
            f.close();
            error.clear();
            const bool ok = TagReader::read(path, meta, &error);
            return ok ? error.isEmpty() : error == expected;
        };

        // Every cut in the headers, then cuts spread through the rest.
        QList<qsizetype> cuts;
        for (qsizetype n = 0; n < 1024; ++n)
            cuts << n;
        for (int i = 1; i < 64; ++i)
            cuts << 1024 + (whole.size() - 1024) * i / 64;
        cuts << whole.size() - 1;
        int failures = 0;
        for (qsizetype n : cuts) {
            AudioMetadata meta;
            QVERIFY2(survives(whole.left(n), meta),
                     qPrintable(QStringLiteral("cut at %1: %2").arg(n).arg(error)));
            failures += error.isEmpty() ? 0 : 1;
            // Whatever the reader claims as payload lies inside the file (a missing pad byte aside).
            if (meta.hasAudioRange)
                QVERIFY2(meta.audioOffset >= 0 && meta.audioLength >= 1 &&
                             meta.audioOffset + meta.audioLength <= n + 1,
                         qPrintable(QStringLiteral("cut at %1").arg(n)));
        }
        QVERIFY(failures > 0); // at least the empty and header-only cuts fail

        QRandomGenerator random(0x5eed + m_serial);
        for (int round = 0; round < 300; ++round) {
            QByteArray noise(random.bounded(4096), '\0');
            for (char &c : noise)
                c = char(random.bounded(256));
            if (round % 2 == 0)
                noise.prepend(magic);
            else if (round % 3 == 0)
                noise = whole.left(random.bounded(int(whole.size()))) + noise; // good start, bad rest
            AudioMetadata meta;
            QVERIFY2(survives(noise, meta), qPrintable(error));
        }
    }

    void unknownSuffixAndOpenFailure()
    {
        AudioMetadata meta;
        QString error;
        QVERIFY(TagReader::read(writeFile("wma", "anything"), meta, &error));
        QCOMPARE(meta.formatName, QStringLiteral("WMA"));
        QVERIFY(!meta.hasAudioRange);
        QVERIFY(error.isEmpty());

        error = QStringLiteral("old");
        QVERIFY(!TagReader::read(m_dir.filePath("missing.mp3"), meta, &error));
        QVERIFY2(error.startsWith(QStringLiteral("Cannot open file: ")) && error.size() > 18,
                 qPrintable(error));
        QVERIFY(!TagReader::read(m_dir.filePath("missing.mp3"), meta, nullptr)); // no error pointer is fine

        // A message already present is not replaced by the container message.
        error = QStringLiteral("earlier");
        QVERIFY(!TagReader::read(writeFile("flac", "junk"), meta, &error));
        QCOMPARE(error, QStringLiteral("earlier"));
    }

    void supportedExtensions_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<bool>("supported");
        for (const char *s : {"mp3", "mp2", "flac", "wav", "wave", "m4a", "m4b", "mp4", "aac", "ogg", "oga",
                              "opus", "aiff", "aif", "aifc"})
            QTest::newRow(s) << QString::fromLatin1(s) << true;
        QTest::newRow("upper case") << "MP3" << false;
        QTest::newRow("wma") << "wma" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("with dot") << ".mp3" << false;
    }
    void supportedExtensions()
    {
        QFETCH(QString, suffix);
        QFETCH(bool, supported);
        QCOMPARE(TagReader::isSupportedExtension(suffix), supported);
    }
};

QTEST_GUILESS_MAIN(TstTagReader)
#include "tst_tagreader.moc"

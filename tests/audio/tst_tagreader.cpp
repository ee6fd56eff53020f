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

QByteArray oggPage(const QList<int> &lacing, const QByteArray &body, qint64 granule = 0)
{
    QByteArray h("OggS");
    h += QByteArray(2, '\0'); // version, header type
    for (int i = 0; i < 8; ++i)
        h += char(quint64(granule) >> (8 * i));
    h += le32(1) + le32(0) + le32(0) + char(lacing.size());
    for (int v : lacing)
        h += char(v);
    return h + body;
}

// One page per packet for packets under 255 bytes.
QByteArray oggPacketPage(const QByteArray &packet, qint64 granule = 0)
{
    return oggPage({int(packet.size())}, packet, granule);
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
        QTest::newRow("not flac") << "flac" << QByteArray("RIFF0000WAVE") << false << Expect{};
    }
    void flac() { checkRow(); }

    void ogg_data()
    {
        addColumns();
        const QByteArray comments =
            char(3) + QByteArray("vorbis") + vorbisComments({"TITLE=Song", "artist=Singer"});
        const QByteArray setup = char(5) + QByteArray("vorbis") + QByteArray(20, '\0');
        // 320 bytes over ten seconds
        const QByteArray vorbis = oggPacketPage(vorbisIdent(2, 44100)) + oggPacketPage(comments) +
                                  oggPacketPage(setup) + oggPacketPage(QByteArray(100, 'a'), 441000);
        QTest::newRow("vorbis") << "ogg" << vorbis << true
                                << ex("formatName=Ogg Vorbis;channels=2;sampleRate=44100;durationMs=10000;"
                                      "bitrate=0;title=Song;artist=Singer;hasAudioRange=false");
        QTest::newRow("several packets on one page")
            << "oga"
            << oggPage({int(vorbisIdent(1, 8000).size()), int(comments.size()), 20},
                       vorbisIdent(1, 8000) + comments + QByteArray(20, 'x'), 16000)
            << true << ex("channels=1;sampleRate=8000;title=Song;durationMs=2000");
        // A comment packet cut over two pages is two packets, neither of them a whole comment block.
        const QByteArray longComments =
            char(3) + QByteArray("vorbis") + vorbisComments({"TITLE=" + QByteArray(300, 't')});
        const QByteArray part1 = longComments.left(255), part2 = longComments.mid(255);
        QTest::newRow("comment spanning two pages gives no tags")
            << "ogg"
            << oggPacketPage(vorbisIdent(2, 48000)) + oggPage({255}, part1) +
                   oggPage({int(part2.size())}, part2) + oggPacketPage(setup, 96000)
            << true << ex("formatName=Ogg Vorbis;sampleRate=48000;title=;durationMs=2000");
        const QByteArray opusHead =
            QByteArray("OpusHead") + char(1) + char(2) + le16(312) + le32(44100) + le16(0) + char(0);
        const QByteArray opusTags = QByteArray("OpusTags") + vorbisComments({"TITLE=Talk"});
        QTest::newRow("opus counts 48 kHz granules whatever its input rate")
            << "opus" << oggPacketPage(opusHead) + oggPacketPage(opusTags) + oggPacketPage("x", 48000 * 3)
            << true << ex("formatName=Opus;sampleRate=44100;channels=2;durationMs=3000;title=Talk");
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
                  "comment=C;trackNo=4;genre=Rock;durationMs=5000;channels=2;sampleRate=0;audioLength=2000",
                  {{"bitrate", file.size() * 8 / 5000}, {"audioOffset", ftyp.size() + moov.size() + 8}});
        QTest::newRow("64-bit mdat size")
            << "mp4" << ftyp + be32(1) + "mdat" + QByteArray(4, '\0') + be32(16 + 300) + QByteArray(300, 'b')
            << true << ex("audioOffset=32;audioLength=300;durationMs=0");
        QTest::newRow("mdat running to the end (size 0)")
            << "m4b" << ftyp + be32(0) + "mdat" + QByteArray(50, 'c') << true
            << ex("audioOffset=24;audioLength=50");
        QTest::newRow("raw adts in an aac file fails")
            << "aac" << bytes({0xFF, 0xF1, 0x50, 0x80, 0x02, 0x1F, 0xFC}) + QByteArray(500, '\0') << false
            << ex("formatName=MPEG-4 Audio;hasAudioRange=false");
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
    }
    void mp4() { checkRow(); }

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
                                    << false;
        QTest::newRow("opus") << "a.opus" << QStringList{"-c:a", "libopus"} << "Opus" << 20 << false;
        QTest::newRow("m4a") << "a.m4a" << QStringList{"-c:a", "aac"} << "MPEG-4 Audio" << 24 << true;
        QTest::newRow("wav") << "a.wav" << QStringList{"-c:a", "pcm_s16le"} << "WAVE" << 1 << true;
        const QStringList rf64{"-c:a", "pcm_s16le", "-rf64", "always"};
        QTest::newRow("rf64") << "rf64.wav" << rf64 << "WAVE" << 1 << true;
        // Written as a stream: the sizes in ds64 stay 0 and the data runs to the end of the file.
        QTest::newRow("rf64 streamed") << "rf64s.wav" << rf64 + QStringList{"-seekable", "0"} << "WAVE" << 1
                                       << true;
        QTest::newRow("aiff") << "a.aiff" << QStringList{"-c:a", "pcm_s16be"} + metadata({"author=Ärtist"})
                              << "AIFF" << 1 << true;
    }
    void ffmpegFiles()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, codec);
        QFETCH(QString, formatName);
        QFETCH(int, frameMs);
        QFETCH(bool, hasRange);
        const QString path = m_dir.filePath(file);
        QString error;
        QVERIFY2(makeFile(path, "sine=frequency=440:duration=3:sample_rate=44100",
                          QStringList{"-ac", "2"} + codec +
                              metadata({"title=Tïtle One", "artist=Ärtist", "album=Album", "genre=Jazz",
                                        "date=2021", "track=4/10", "comment=Cmt"}),
                          &error),
                 qPrintable(error));
        int rate = 0, channels = 0;
        qint64 durationMs = 0;
        QVERIFY(probe(path, &rate, &channels, &durationMs));

        AudioMetadata meta;
        QVERIFY2(TagReader::read(path, meta, &error), qPrintable(error));
        QCOMPARE(meta.formatName, formatName);
        QCOMPARE(meta.channels, channels);
        if (formatName != QLatin1String("MPEG-4 Audio")) // the MP4 walk does not read the sample rate
            QCOMPARE(meta.sampleRate, rate);
        QVERIFY2(
            qAbs(meta.durationMs - durationMs) <= frameMs,
            qPrintable(QStringLiteral("%1 ms against ffprobe's %2 ms").arg(meta.durationMs).arg(durationMs)));
        QVERIFY(meta.bitrate > 0);
        QCOMPARE(meta.hasAudioRange, hasRange);
        if (hasRange)
            QVERIFY(meta.audioOffset > 0 && meta.audioLength > 0 &&
                    meta.audioOffset + meta.audioLength <= QFileInfo(path).size());
        // RIFF INFO and AIFF text chunks are Latin-1, so ffmpeg's UTF-8 bytes read as Latin-1 there.
        const bool latin1 = formatName == QLatin1String("WAVE") || formatName == QLatin1String("AIFF");
        auto written = [&](const char *utf8) {
            return latin1 ? QString::fromLatin1(utf8) : QString::fromUtf8(utf8);
        };
        QCOMPARE(meta.title, written("T\xc3\xaftle One"));
        QCOMPARE(meta.artist, written("\xc3\x84rtist"));
        if (formatName == QLatin1String("AIFF")) // AIFF carries only a name and an author
            return;
        QCOMPARE(meta.album, QStringLiteral("Album"));
        QCOMPARE(meta.genre, QStringLiteral("Jazz"));
        QCOMPARE(meta.year, QStringLiteral("2021"));
        // ffmpeg writes the track of a WAVE file as IPRT and an MP3 comment as TXXX, neither of
        // which the reader takes.
        if (formatName != QLatin1String("WAVE"))
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

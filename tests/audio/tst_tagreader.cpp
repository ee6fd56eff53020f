// The tag reader on hand-built files for the exact rules, on files ffmpeg writes, and on damage.

#include "audio/Hasher.h"
#include "audio/TagReader.h"

#include "support/AudioFixtures.h"

#include <QRandomGenerator>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>

using namespace rvw;

namespace {

// clang-format off
using Bytes = QByteArray;
using Fields = QList<QPair<int, quint32>>; // bit fields as (width, value), most significant first
Bytes num(quint64 v, int size, bool big = true) { Bytes b(size, 0); for (int i = 0; i < size; ++i) b[big ? size - 1 - i : i] = char(v >> 8 * i); return b; }
Bytes bitFields(const Fields &fields) { QString bits; for (const auto &[width, value] : fields) bits += QString::number(value, 2).rightJustified(width, '0'); Bytes out; for (qsizetype i = 0; i < bits.size(); i += 8) out += char(bits.mid(i, 8).leftJustified(8, '0').toInt(nullptr, 2)); return out; }
Bytes vorbisComments(const QList<Bytes> &entries) { Bytes b = num(6, 4, false) + "vendor" + num(entries.size(), 4, false); for (const Bytes &e : entries) b += num(e.size(), 4, false) + e; return b; }
// Page flags: 1 the page goes on with a packet from the page before, 2 a stream's first.
Bytes oggPage(const QList<int> &lacing, const Bytes &body, qint64 granule = 0, int flags = 0, int serial = 1) { Bytes page = "OggS" + num(flags, 2) + num(granule, 8, false) + num(serial, 4, false) + Bytes(8, 0) + char(lacing.size()); for (int v : lacing) page += char(v); return page + body; }
// A packet as a muxer lays it out: 255 segments a page, later pages continued, the granule on the last.
Bytes oggPacket(const Bytes &packet, qint64 granule = 0) { const QList<int> lacing = QList<int>(packet.size() / 255, 255) << int(packet.size() % 255); Bytes pages; for (qsizetype i = 0; i < lacing.size(); i += 255) pages += oggPage(lacing.mid(i, 255), packet.mid(i * 255, 65025), i + 255 < lacing.size() ? -1 : granule, i > 0); return pages; }
const auto be32 = [](quint32 v) { return num(v, 4); };
const auto be16 = [](quint16 v) { return num(v, 2); };
const auto le32 = [](quint32 v) { return num(v, 4, false); };
const auto le16 = [](quint16 v) { return num(v, 2, false); };
const auto hex = [](const char *h) { return Bytes::fromHex(h); };
const auto zeros = [](qsizetype n) { return Bytes(n, '\0'); };
const auto syncsafe = [](quint32 v) { return be32((v & 0xFE00000) << 3 | (v & 0x1FC000) << 2 | (v & 0x3F80) << 1 | (v & 127)); };
const auto utf16 = [](const QString &s, bool big) { return Bytes(QStringEncoder(big ? QStringConverter::Utf16BE : QStringConverter::Utf16LE).encode(s)); };
// ID3, APE and MPEG audio frames (MPEG-1 Layer III, 128 kbit/s, 44.1 kHz, stereo: 417 bytes).
const auto id3Frame = [](int v, const Bytes &id, const Bytes &data) { const quint32 n = quint32(data.size()); return id + (v < 3 ? be32(n).mid(1) : (v == 3 ? be32(n) : syncsafe(n)) + zeros(2)) + data; };
const auto text = [](int v, const Bytes &id, const Bytes &value, int enc = 0) { return id3Frame(v, id, char(enc) + value); };
const auto id3Tag = [](int version, const Bytes &frames, int flags = 0, int padding = 16) { return "ID3" + num(version << 16 | flags, 3) + syncsafe(frames.size() + padding) + frames + zeros(padding) + (flags & 0x10 ? "3DI" + zeros(7) : Bytes()); };
const auto id3v1 = [](const Bytes &title, const Bytes &artist, int track, int genre) { return "TAG" + title.leftJustified(30, '\0') + artist.leftJustified(30, '\0') + Bytes("Album1").leftJustified(30, '\0') + "1999" + zeros(28) + (track < 0 ? Bytes("xy") : zeros(1) + char(track)) + char(genre); };
const auto apeBlock = [](int itemBytes, quint32 flags) { return "APETAGEX" + le32(2000) + le32(itemBytes + 32) + le32(1) + le32(flags) + zeros(8); };
const auto apeTag = [](bool withHeader, int n) { return (withHeader ? apeBlock(n, 0xA0000000u) : Bytes()) + Bytes(n, 'a') + apeBlock(n, withHeader ? 0x80000000u : 0); };
const Bytes kMpeg = hex("FFFB9064");
const auto frames = [](int n, const Bytes &header = kMpeg, int length = 417) { return (header + Bytes(length - 4, 'U')).repeated(n); };
const auto vbr = [](const Bytes &tag) { return kMpeg + (zeros(32) + tag).leftJustified(413, '\0'); }; // Xing, Info, VBRI
// FLAC and Ogg.
const auto flacBlock = [](int type, const Bytes &data, bool last = false) { return char(type | last << 7) + be32(data.size()).mid(1) + data; };
const auto streamInfo = [](quint64 samples, int rate = 44100, int ch = 2) { return zeros(10) + bitFields({{20, rate}, {3, ch - 1}, {5, 15}, {4, quint32(samples >> 32)}}) + be32(samples); };
const auto vorbisIdent = [](int ch, quint32 rate) { return "\x01vorbis" + le32(0) + char(ch) + le32(rate) + zeros(13); };
// MP4: boxes, mvhd or mdhd timing (64-bit when wide), tag items, tracks, sample entries, esds, sizes.
const auto atom = [](const Bytes &type, const Bytes &payload) { return be32(payload.size() + 8) + type + payload; };
const auto fullAtom = [](const Bytes &type, const Bytes &payload, quint32 flags = 0) { return atom(type, be32(flags) + payload); };
const auto timing = [](const Bytes &type, quint32 scale, quint32 duration, bool wide = false) { return wide ? fullAtom(type, zeros(16) + be32(scale) + num(duration, 8), 1 << 24) : fullAtom(type, zeros(8) + be32(scale) + be32(duration)); };
const auto item = [](const Bytes &type, const Bytes &value, quint32 kind = 1) { return atom(type, atom("data", be32(kind) + be32(0) + value)); };
const auto trak = [](quint32 id, const char *handler, const Bytes &mdhd, const Bytes &stbl, const Bytes &edts = {}) { return atom("trak", fullAtom("tkhd", zeros(8) + be32(id) + zeros(72)) + edts + atom("mdia", mdhd + fullAtom("hdlr", be32(0) + handler + zeros(13)) + atom("minf", atom("stbl", stbl)))); };
const auto entry = [](const Bytes &type, int ch, quint32 rate, const Bytes &boxes = {}) { return fullAtom("stsd", be32(1) + atom(type, zeros(6) + be16(1) + zeros(8) + be16(ch) + be16(16) + be32(0) + be32(rate << 16) + boxes)); };
const auto descriptor = [](int tag, const Bytes &body) { return char(tag) + num(body.size(), 1) + body; };
const auto esds = [](const Fields &config, int objectType = 0x40) { return fullAtom("esds", descriptor(3, hex("000100") + descriptor(4, num(objectType << 8 | 0x15, 2) + zeros(11) + descriptor(5, bitFields(config))) + hex("060102"))); };
const auto lc = [](int rateIndex, int config, const Fields &more = {}) { return Fields{{5, 2}, {4, rateIndex}, {4, config}, {3, 0}} + more; }; // AAC LC, then `more`
const auto stsz = [](quint32 constant, const QList<quint32> &sizes, quint32 count = 0) { Bytes t = be32(constant) + be32(count ? count : sizes.size()); for (quint32 v : sizes) t += be32(v); return fullAtom("stsz", t); };
// ADTS frames (AAC LC at a rate index and channel configuration); RIFF and IFF chunks.
const auto adtsFrame = [](int rateIndex, int config, int payload, int blocks = 1, bool crc = false) { return num(quint64(0xFFF0 | !crc) << 40 | 1ULL << 38 | quint64(rateIndex) << 34 | quint64(config) << 30 | quint64(payload + 7 + 2 * crc) << 13 | 0x7FF << 2 | (blocks - 1), 7) + zeros(2 * crc) + Bytes(payload, '!'); };
const auto chunk = [](const Bytes &id, const Bytes &data, bool big = false) { return id + num(data.size(), 4, big) + data + zeros(data.size() % 2); };
const auto iff = [](const Bytes &id, const Bytes &data) { return chunk(id, data, true); };
const auto riff = [](const Bytes &chunks) { return "RIFF" + le32(chunks.size() + 4) + "WAVE" + chunks; };
const auto form = [](const Bytes &chunks) { return "FORM" + be32(chunks.size() + 4) + "AIFF" + chunks; };
const auto fmt = [](int ch, quint32 rate, int bits) { return chunk("fmt ", le16(1) + le16(ch) + le32(rate) + le32(rate * ch * bits / 8) + le16(ch * bits / 8) + le16(bits)); };
const auto comm = [](int ch, quint32 frames, int bits, quint16 exponent, quint64 mantissa) { return iff("COMM", be16(ch) + be32(frames) + be16(bits) + be16(exponent) + num(mantissa, 8)); }; // an 80-bit rate
bool writeBytes(const QString &path, const Bytes &content) { QFile f(path); return f.open(QIODevice::WriteOnly) && f.write(content) == content.size(); }
Bytes readBytes(const QString &path) { QFile f(path); return f.open(QIODevice::ReadOnly) ? f.readAll() : Bytes(); }

// The fields an expectation ("key=value;...") names, with the values read, in its order.
QString describe(const AudioMetadata &m, bool ok, const QString &expect)
{
    const QVariantMap all{{"ok", int(ok)}, {"fmt", m.formatName}, {"title", m.title}, {"artist", m.artist}, {"album", m.album}, {"aa", m.albumArtist}, {"genre", m.genre}, {"year", m.year}, {"comment", m.comment}, {"track", m.trackNo}, {"ms", m.durationMs}, {"kbps", m.bitrate}, {"rate", m.sampleRate}, {"ch", m.channels}, {"off", m.audioOffset}, {"len", m.audioLength}, {"range", int(m.hasAudioRange)}, {"pieces", m.audioPieces.size()}, {"payload", m.payloadLength()}};
    QStringList out;
    for (const QString &pair : expect.split(';', Qt::SkipEmptyParts)) out << pair.section('=', 0, 0) + '=' + all.value(pair.section('=', 0, 0), "?").toString();
    return out.join(';');
}
// clang-format on

} // namespace

class TstTagReader : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_serial = 0;

    QString temp(const QString &name) { return m_dir.filePath(QString::number(++m_serial) + name); }

private slots:
    // Whole files: `expect` names the fields to compare, "ok=0;" first when the read is to fail; %1,
    // %2... in it are `values`.
    void containers_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<Bytes>("content");
        QTest::addColumn<QString>("expect");
        const char *suffix = "mp3";
        // clang-format off
        const auto row = [&](const char *name, const Bytes &content, QString expect, const QList<qint64> &values = {}, const char *own = nullptr) { for (qint64 v : values) expect = expect.arg(v); QTest::newRow(name) << QString(own ? own : suffix) << content << expect; };
        // A limit of a walk: make(0) the file at it, make(1) the file one step past it.
        const auto limit = [&](const char *name, const auto &make, const QString &at, const QString &past, const char *own = nullptr) { row(name, make(0), at, {}, own); row(qPrintable(name + QString(": one past")), make(1), past, {}, own); };
        const Bytes audio = frames(4), le = hex("FFFE"), be = hex("FEFF"), nul2 = zeros(2); // audio: 1,668 bytes
        const Bytes tag = id3Tag(3, text(3, "TIT2", "T")); // then ten frames: 4,170 bytes
        const Bytes v24 = id3Tag(4, syncsafe(6) + hex("0100") + text(4, "TIT2", "\xc3\xa9t\xc3\xa9" + zeros(3), 3) + text(4, "TPE1", Bytes(3000000, 'x'), 3) + text(4, "TPE2", le + utf16(QString(1023, 'a') + QString::fromUtf8("\U0001F3B5zz"), false), 1) + text(4, "TALB", Bytes("  One\0Two", 9)) + text(4, "TRCK", "7/12") + text(4, "TDRC", "2019-05-01T10:00", 3) + text(4, "TCON", "(84)") + id3Frame(4, "COMM", Bytes("\0engdesc\0Text", 13)), 0x50);
        // Picture bytes that look like an 11,025 Hz free-format header, nothing like it after.
        const Bytes apic = id3Tag(3, id3Frame(3, "APIC", hex("FFE30000") + Bytes(600, 'j')));
        row("id3v2.2: short ids and sizes; a frame ending the body; genre 0", id3Tag(2, text(2, "TT2", "Caf\xe9") + text(2, "TP1", "Band") + text(2, "TAL", "Alb") + text(2, "TCO", "(0)") + text(2, "TRK", "3") + text(2, "TYE", "1985") + id3Frame(2, "COM", Bytes("\0eng\0Old", 8)), 0, 0) + audio, "title=Café;artist=Band;album=Alb;genre=Blues;track=3;year=1985;comment=Old");
        row("id3v2.3: extended header; utf-16 with and without bom, odd byte, terminators; padding ends it", id3Tag(3, be32(6) + zeros(6) + text(3, "TIT2", le + utf16("AB", false) + nul2, 1) + text(3, "TPE1", be + utf16("Ωx", true) + "A", 1) + text(3, "TALB", utf16("Hi", false), 1) + text(3, "TPE2", utf16("Zed", true) + nul2, 2) + text(3, "TYER", "85") + text(3, "TCON", "83") + id3Frame(3, "COMM", hex("01") + "eng" + le + utf16("d", false) + nul2 + le + utf16("Nice", false)) + zeros(12) + text(3, "TPE2", "Past padding"), 0x40) + audio, "title=AB;artist=Ωx;album=Hi;aa=Zed;year=85;genre=Swing;comment=Nice");
        row("id3v2.4: syncsafe sizes, extended header, utf-8; a footer; values cut at 1024 characters, never inside a surrogate pair", v24 + audio, "title=été;artist=" + QString(1024, 'x') + ";aa=" + QString(1023, 'a') + ";album=One;track=7;year=2019;genre=(84);comment=Text;off=%1", {v24.size()});
        row("last frame wins, empty or NUL-led text keeps; a frame past the body stops the walk", id3Tag(3, text(3, "TIT2", "First") + text(3, "TIT2", "Second") + text(3, "TIT2", "  ") + text(3, "TIT2", Bytes("\0Hidden", 7)) + id3Frame(3, "COMM", Bytes("\0engWhole", 9)) + text(3, "TPE1", "Seen") + "TALB" + be32(5000) + nul2 + "Lost") + audio, "title=Second;comment=Whole;artist=Seen;album=");
        row("cbr without tag frame; a stray header skipped", tag + kMpeg + '\0' + frames(10), "fmt=MPEG Audio;rate=44100;ch=2;len=4170;kbps=128;ms=261;off=%1", {tag.size() + 5});
        row("lone header whose frame runs past the buffer", hex("0000") + kMpeg + zeros(100), "off=2;len=104");
        row("xing with frames and bytes", tag + vbr("Xing" + be32(3) + be32(30) + be32(4000)) + frames(10), "len=4170;ms=783;kbps=40;off=%1", {tag.size() + 417});
        // 4,170 bytes hold at most 40 frames of 104 bytes (32 kbit/s).
        row("xing frame count the payload cannot hold: frames counted", vbr("Xing" + be32(1) + be32(80000)) + frames(10), "ms=261;kbps=128");
        row("info with frames only: bitrate from the payload", vbr("Info" + be32(1) + be32(10)) + frames(10), "off=417;ms=261;kbps=127");
        row("vbri", vbr("VBRI" + hex("00010000004B") + be32(3000) + be32(20)) + frames(10), "off=417;ms=522;kbps=45");
        row("no vbr tag: frames of 48 and 320 kbit/s counted", frames(30, hex("FFFB3064"), 156) + frames(30, hex("FFFBE064"), 1044), "ms=1567;kbps=184");
        row("tag frame only: nothing left to hash", tag + vbr("Xing" + be32(1) + be32(10)), "ok=0;range=0");
        row("free format confirmed by the next header", (hex("FFFB00C4") + zeros(300)).repeated(2), "off=0;ms=0;kbps=0;ch=1;rate=44100");
        row("free format unconfirmed in a second id3v2 tag", tag + apic + frames(10), "rate=44100;len=4170;off=%1", {tag.size() + apic.size()});
        row("mpeg-2 layer iii mono", frames(6, hex("FFF340C0"), 104), "rate=22050;ch=1;kbps=32;ms=156");
        row("mpeg-2.5 layer iii", frames(6, hex("FFE38000"), 417), "rate=11025;kbps=64;ms=313");
        row("layer ii at 32 kbit/s", frames(6, hex("FFFD1400"), 96), "rate=48000;kbps=32;ms=144", {}, "mp2");
        row("reserved version bits or bit rate index are no header", frames(3, hex("FFEB9064")) + frames(3, hex("FFFBF064")), "ok=0;range=1");
        row("only an ID3v2 tag", tag, "ok=0;title=T;range=0");
        row("huge declared ID3v2 size", "ID3" + hex("030000") + "\x7f\x7f\x7f\x7f" + frames(3), "ok=0;off=268435465;range=0");
        row("no frame: provisional range kept for hashing", tag + Bytes(5000, 'z'), "ok=0;range=1;len=5000;off=%1", {tag.size()});
        row("id3v1 fills an untagged file; a title of all 30 bytes; v1.0 comment bytes", audio + id3v1(Bytes(30, 'v'), "V1 artist", -1, 17), "title=" + QString(30, 'v') + ";artist=V1 artist;album=Album1;year=1999;track=0;genre=Rock;len=1668");
        row("id3v1 after ape with a header; genre 84 has no name", tag + audio + apeTag(true, 7) + id3v1("x", "V1", 5, 84), "title=T;artist=V1;track=5;genre=;len=1668;off=%1", {tag.size()});
        row("ape without a header after id3v1", tag + audio + id3v1("x", "y", 1, 1) + apeTag(false, 40), "title=T;artist=y;len=1668;off=%1", {tag.size()});
        row("unknown suffix: read as its name, without a range", "anything", "fmt=WMA;range=0", {}, "wma");
        row("ape larger than the file leaves no audio", audio.left(200) + "APETAGEX" + le32(2000) + le32(-1u / 2) + zeros(16), "ok=0;range=0");
        suffix = "flac";
        const Bytes info = flacBlock(0, streamInfo(441000)), flacAudio(1000, 'B');
        const Bytes flacTags = flacBlock(4, vorbisComments({"title=Lower", "ARTIST=Upper", "Album=  Mixed  ", "GENRE=17", "DATE=2001-02-03", "TRACKNUMBER=3/9", "DESCRIPTION=Desc", "ALBUMARTIST=", "=novalue", "noequals"}), true);
        // The Vorbis comment wins, the ID3v2 frames fill what it leaves empty, the payload as ever.
        const Bytes own = flacBlock(4, vorbisComments({"TITLE=Own title", "GENRE=Own"}), true), id3 = id3Tag(4, text(4, "TIT2", "Id3") + text(4, "TPE1", "Id3 artist") + text(4, "TALB", "Footed") + text(4, "TRCK", "5"), 0x10);
        row("streaminfo and comments", "fLaC" + info + flacTags + flacAudio, "fmt=FLAC;rate=44100;ch=2;ms=10000;kbps=0;title=Lower;artist=Upper;album=Mixed;genre=17;year=2001;track=3;comment=Desc;aa=;len=1000;range=1;off=%1", {4 + info.size() + flacTags.size()});
        row("6-channel 96 kHz, 36-bit sample count; a last block ending the file leaves no payload", "fLaC" + flacBlock(0, streamInfo(0x123456789, 96000, 6), true), "rate=96000;ch=6;ms=50903316;range=0;len=0");
        row("walk reaches the end without a last block", "fLaC" + info + flacBlock(1, zeros(10)), "ok=0;rate=44100");
        row("truncated block header", "fLaC" + info + hex("0100"), "ok=0");
        row("comment entry longer than its block stops quietly; a single sample at 1 kHz", "fLaC" + flacBlock(0, streamInfo(1, 1000)) + flacBlock(4, le32(0) + le32(2) + le32(7) + "TITLE=A" + le32(99999) + "ARTIST=B", true), "title=A;artist=;ms=1");
        row("id3v2.4 tag with a footer before the stream", id3 + "fLaC" + info + own + flacAudio, "title=Own title;artist=Id3 artist;album=Footed;genre=Own;track=5;ms=10000;len=1000;off=%1", {id3.size() + 4 + info.size() + own.size()});
        limit("1024 metadata blocks", [&](int k) { return "fLaC" + info + flacBlock(1, {}).repeated(1022 + k) + flacBlock(1, {}, true) + flacAudio; }, "rate=44100;range=1", "ok=0;range=0");
        suffix = "ogg";
        const Bytes comments = "\x03vorbis" + vorbisComments({"TITLE=Song", "artist=Singer"}), setup = "\x05vorbis" + zeros(20), ident = oggPacket(vorbisIdent(2, 44100));
        const Bytes headers = ident + oggPacket(comments) + oggPacket(setup);
        Bytes fivePages, tiny, deep = timing("mvhd", 1000, 5000);
        for (int i = 1; i <= 5; ++i) fivePages += oggPacket(Bytes(5000, char('0' + i)), 88200 * i);
        // The walk stops after 2^18 pages; a file of more is hashed whole.
        const Bytes big = ident + oggPacket("\x03vorbis" + vorbisComments({"COMMENT=" + Bytes(100000, 'c')})) + oggPacket(setup);
        const int pages = (1 << 18) - int(big.count("OggS"));
        for (int i = 1; i <= pages; ++i) tiny += oggPacket("a", i == pages ? 441000 : i);
        // The title is read only when the four pages of the packet are joined; 25,000 bytes of audio
        // over ten seconds are 20 kbit/s, the picture no part of it.
        const Bytes pictured = ident + oggPacket("\x03vorbis" + vorbisComments({"METADATA_BLOCK_PICTURE=" + Bytes(150000, 'p').toBase64(), "TITLE=After", "ARTIST=A"})) + oggPacket(setup);
        // Another stream's pages are no packets of this one, nor its audio; the header packets are
        // looked for in the first 16,384 pages only.
        const Bytes other = oggPage({40}, "\x80theora" + zeros(33), 0, 2, 7), rest = oggPacket(comments) + oggPacket(setup) + oggPacket(Bytes(100, 'a'), 441000);
        const Bytes opusHead = "OpusHead" + hex("0102") + le16(312) + le32(44100) + zeros(3), opusTags = "OpusTags" + vorbisComments({"TITLE=Talk"});
        // One audio page of 128 bytes, its body of 100 the payload; 100 bytes over ten seconds.
        row("vorbis", headers + oggPacket(Bytes(100, 'a'), 441000), "fmt=Ogg Vorbis;ch=2;rate=44100;ms=10000;kbps=0;title=Song;artist=Singer;range=1;len=128;pieces=1;payload=100;off=%1", {headers.size()});
        row("several packets on one page; a clock of 1 Hz", oggPage({29, int(comments.size()), 20}, vorbisIdent(1, 1) + comments + zeros(20), 2), "ch=1;rate=1;title=Song;ms=2000", {}, "oga");
        row("comment of 200 KB with a picture", pictured + fivePages, "title=After;artist=A;ms=10000;kbps=20;pieces=5;payload=25000;off=%1;len=%2", {pictured.size(), fivePages.size()});
        row("comment packet over 16 MiB is skipped, the audio after it found", ident + oggPacket("\x03vorbis" + vorbisComments({"TITLE=T", "COMMENT=" + Bytes(16 << 20, 'c')})) + oggPacket(setup) + oggPacket("audio", 44100), "fmt=Ogg Vorbis;title=;comment=;ms=1000;pieces=1;payload=5");
        limit("header packets within 16,384 pages", [&](int k) { return ident + other.repeated(16382 + k) + rest; }, "fmt=Ogg Vorbis;title=Song;ms=10000;range=0", "fmt=Ogg Vorbis;title=;ms=10000;range=0");
        row("opus runs at 48 kHz whatever its input rate; a bit rate over 1 ms", oggPacket(opusHead) + oggPacket(opusTags) + oggPacket("x", 48), "fmt=Opus;rate=48000;ch=2;ms=1;kbps=8;title=Talk;pieces=1;payload=1;off=%1", {2 * 28 + opusHead.size() + opusTags.size()}, "opus");
        // The bit rate leaves out the 100 KB comment packet, with a range or without.
        row("audio pages up to the walk limit", big + tiny, "ms=10000;range=1;pieces=%1;kbps=%2", {pages, pages * 8 / 10000});
        row("one page past the walk limit gives no range", big + tiny + oggPacket("a", 441000), "ms=10000;range=0;kbps=%1", {(tiny.size() + 29) * 8 / 10000});
        row("negative last granule gives no duration", ident + oggPacket("x", -1), "ms=0;kbps=0");
        row("unknown stream keeps the plain name", oggPacket("\x80theora" + zeros(40)), "fmt=Ogg");
        suffix = "m4a";
        const Bytes ftyp = atom("ftyp", "M4A " + be32(0)), mdat = atom("mdat", Bytes(2000, 'm'));
        for (int i = 0; i < 8; ++i) deep = atom("moov", deep);
        // tfhd with a default duration of 1,024 (flag 8) or none; tfdt version 1; a trun of `count`
        // samples, with per-sample durations when given.
        auto traf = [](quint32 track, quint64 time, quint32 count, bool ownDefault, const QList<quint32> &durations = {}) { Bytes records; for (quint32 d : durations) records += be32(d) + be32(10); return atom("traf", fullAtom("tfhd", be32(track) + (ownDefault ? be32(1024) : Bytes()), ownDefault * 8) + fullAtom("tfdt", num(time, 8), 1 << 24) + fullAtom("trun", be32(count) + records, durations.isEmpty() ? 0 : 0x300)); };
        auto fragment = [&](const Bytes &trafs, int mediaBytes) { return atom("moof", atom("mfhd", be32(0) + be32(1)) + trafs) + atom("mdat", Bytes(mediaBytes, 'f')); };
        const Bytes emptyMoov = ftyp + atom("moov", timing("mvhd", 1000, 0) + trak(7, "soun", timing("mdhd", 44100, 0), entry("mp4a", 2, 44100) + stsz(0, {})) + atom("mvex", fullAtom("trex", be32(7) + be32(1) + be32(2048) + zeros(8))));
        // Ten hours at one fragment a second are 36,000 fragments: all read, the last one counts.
        Bytes longFile = emptyMoov;
        for (int i = 0; i < 36000; ++i) longFile += fragment(traf(7, quint64(i) * 44100, 1, false, {44100}), 4);
        // The sound track: rate and channels from its sample description, duration from its media
        // header (2 s), bit rate from its sample sizes.
        auto movie = [&](const Bytes &tracks, int media = 2000) { return ftyp + atom("moov", timing("mvhd", 1000, 5000) + tracks) + atom("mdat", Bytes(media, 'm')); };
        auto sound = [&](const Bytes &stbl, const Bytes &mdhd = timing("mdhd", 22050, 44100), const Bytes &edts = {}) { return movie(trak(1, "soun", mdhd, stbl, edts)); };
        auto aac = [&](int ch, quint32 rate, const Fields &config, int type = 0x40) { return sound(entry("mp4a", ch, rate, esds(config, type))); };
        auto dfLa = [&](int rate) { return sound(entry("fLaC", 2, 44100, fullAtom("dfLa", hex("80000022") + streamInfo(1000, rate, 1) + zeros(16)))); };
        const Bytes moov = atom("moov", timing("mvhd", 1000, 5000) + atom("udta", atom("meta", be32(0) + atom("ilst", item("\251nam", "Name") + item("\251ART", "Artist") + item("\251alb", "Alb") + item("aART", "AA") + item("\251day", "2010-01-01") + item("\251cmt", "C") + item("trkn", hex("00000004000C0000"), 0) + item("gnre", be16(18), 0) + atom("covr", atom("data", be32(14) + be32(0) + Bytes(200000, 'p'))))))), moof = atom("moof", atom("mfhd", be32(0) + be32(1))), fragments = moof + atom("mdat", zeros(300)) + moof + mdat;
        row("tags, duration and mdat; cover art leaves the bit rate alone", ftyp + moov + mdat, "fmt=MPEG-4 Audio;title=Name;artist=Artist;album=Alb;aa=AA;year=2010;comment=C;track=4;genre=Rock;ms=5000;ch=0;rate=0;len=2000;kbps=3;off=%1", {ftyp.size() + moov.size() + 8});
        row("64-bit mdat size", ftyp + be32(1) + "mdat" + be32(0) + be32(316) + zeros(300), "off=32;len=300;ms=0", {}, "mp4");
        row("mdat running to the end (size 0)", ftyp + be32(0) + "mdat" + zeros(50), "off=24;len=50", {}, "m4b");
        row("atom larger than its parent stops the walk", ftyp + be32(99999) + "moov" + zeros(20), "ok=0");
        row("gnre outside the table leaves the genre", atom("moov", atom("udta", atom("meta", be32(0) + atom("ilst", item("gnre", be16(0), 0))))) + mdat, "genre=");
        limit("walk reads depth 8", [&](int k) { return (k ? atom("moov", deep) : deep) + mdat; }, "ms=5000", "ms=0", "mp4");
        row("fragments: first moof to the end of the last mdat, mfra left out", ftyp + moov + fragments + atom("mfra", zeros(40)), "off=%1;len=%2", {ftyp.size() + moov.size(), fragments.size()});
        row("box between fragments gives no range", ftyp + moov + moof + mdat + atom("free", "x") + moof + mdat, "range=0");
        row("fragment cut short gives no range", ftyp + moov + fragments.chopped(1), "range=0");
        // Every box read counts against 2^18 for the whole file; past it the walk gives up.
        limit("2^18 boxes are read", [&](int k) { return ftyp + atom("free", {}).repeated((1 << 18) - 2 + k) + mdat; }, "range=1", "ok=0;range=0");
        row("mp4a: the AudioSpecificConfig over the entry, mdhd over mvhd; mp4 in an aac file reads as mp4", aac(2, 44100, lc(7, 1)), "fmt=MPEG-4 Audio;rate=22050;ch=1;ms=2000;kbps=8;len=2000", {}, "aac");
        row("64-bit mdhd", sound(entry("mp4a", 2, 44100), timing("mdhd", 44100, 132300, true)), "ms=3000;kbps=5");
        // An empty edit (a delay) shows nothing; the bit rate stays over the coded length.
        row("edit list: the length it presents", sound(entry("mp4a", 2, 44100), timing("mdhd", 22050, 44100), atom("edts", fullAtom("elst", be32(2) + be32(500) + be32(-1) + be32(0x10000) + be32(1500) + be32(1024) + be32(0x10000)))), "ms=1500;kbps=8");
        row("mp4a: explicit frequency at its lowest, 5.1", aac(2, 44100, {{5, 2}, {4, 15}, {24, 1}, {4, 6}, {3, 0}}), "rate=1;ch=6");
        row("mp4a: reserved frequency index keeps the entry's rate", aac(2, 44100, lc(13, 1)), "rate=44100;ch=1");
        row("HE-AAC (object type 5) gives the SBR rate", aac(2, 24000, {{5, 5}, {4, 6}, {4, 2}, {4, 3}, {5, 2}, {3, 0}}), "rate=48000;ch=2");
        row("HE-AAC v2 (object type 29): a mono core decodes to stereo", aac(1, 22050, {{5, 29}, {4, 7}, {4, 1}, {4, 4}, {5, 2}, {3, 0}}), "rate=44100;ch=2");
        row("SBR signalled after the LC config", aac(1, 22050, lc(7, 1, {{11, 0x2B7}, {5, 5}, {1, 1}, {4, 4}})), "rate=44100;ch=2");
        row("SBR and parametric stereo signalled absent", aac(1, 22050, lc(7, 1, {{11, 0x2B7}, {5, 5}, {1, 1}, {4, 4}, {11, 0x548}, {1, 0}})), "rate=44100;ch=1");
        row("SBR extension switched off", aac(2, 44100, lc(7, 1, {{11, 0x2B7}, {5, 5}, {1, 0}})), "rate=22050;ch=1");
        row("mp4a holding mp3: the entry's fields", aac(1, 32000, lc(3, 2), 0x6B), "rate=32000;ch=1");
        row("esds descriptor longer than the box: the entry's fields", sound(entry("mp4a", 1, 32000, fullAtom("esds", hex("037F00010004")))), "rate=32000;ch=1");
        row("alac: rate and channels from the magic cookie", sound(entry("alac", 2, 0, fullAtom("alac", be32(4096) + hex("0018280A0E0600FF") + zeros(8) + be32(96000)))), "rate=96000;ch=6");
        row("fLaC: rate and channels from the STREAMINFO in dfLa", dfLa(88200), "rate=88200;ch=1");
        row("fLaC: a STREAMINFO rate of 0 leaves the entry's fields", dfLa(0), "rate=44100;ch=2");
        row("Opus: channels from dOps, 48 kHz whatever the input rate", sound(entry("Opus", 2, 44100, atom("dOps", hex("00060138") + be32(44100) + hex("0000010402000401020305")))), "rate=48000;ch=6");
        row("the sound track after a video track; bit rate from its own sample sizes", movie(trak(1, "vide", timing("mdhd", 90000, 900000), fullAtom("stsd", be32(1) + atom("avc1", Bytes(80, 'v'))) + stsz(0, {40000, 5000, 4000})) + trak(2, "soun", timing("mdhd", 44100, 88200), entry("mp4a", 1, 44100, esds(lc(4, 1))) + stsz(0, {1000, 1500, 2500})), 54000), "rate=44100;ch=1;ms=2000;kbps=20");
        row("constant sample size", sound(entry("mp4a", 2, 44100) + stsz(250, {}, 80)), "ms=2000;kbps=80");
        row("sample size table longer than its box: the media data stands in", movie(trak(1, "soun", timing("mdhd", 22050, 44100), entry("mp4a", 2, 44100) + stsz(0, {7, 7, 7}, 1000000)), 5000), "ms=2000;kbps=20");
        // Fragmented: the duration is where the last fragment of the sound track ends. 88,200 + 5 x 1,024
        // samples at 44.1 kHz end at 2,116 ms; 3,000 + 5,000 bytes over that.
        row("fragments: the last one's decode time and default durations", emptyMoov + fragment(traf(7, 0, 5, true), 3000) + fragment(traf(7, 88200, 5, true), 5000), "ms=2116;kbps=30;rate=44100;range=1");
        row("fragments: per-sample durations", emptyMoov + fragment(traf(7, 88200, 3, false, {1000, 1000, 2410}), 5000), "ms=2100;kbps=19");
        row("fragments: the track's default duration from trex", emptyMoov + fragment(traf(7, 88200, 2, false), 5000), "ms=2092");
        row("fragments: another track's run is not the sound's", emptyMoov + fragment(traf(3, 900000000, 2, true) + traf(7, 88200, 2, true), 5000), "ms=2046");
        row("36,000 fragments read to the end", longFile, "ms=36000000;range=1;rate=44100");
        suffix = "aac";
        // 100 frames of 207 bytes at 44.1 kHz: 102,400 samples, 2,321 ms.
        const Bytes stereo = adtsFrame(4, 2, 200).repeated(100), junk(5, 7), adtsTag = id3Tag(4, text(4, "TIT2", "Adts title", 3) + text(4, "TPE1", "Who"), 0, 100);
        const char *same = "len=20700;ms=2321";
        row("stereo 44.1 kHz after an id3v2 tag: tags read, audio after it", adtsTag + stereo, "fmt=AAC (ADTS);rate=44100;ch=2;title=Adts title;artist=Who;len=20700;ms=2321;kbps=71;range=1;off=%1", {adtsTag.size()});
        row("mono 8 kHz, CRC, four raw data blocks a frame", adtsFrame(11, 1, 300, 4, true).repeated(10), "rate=8000;ch=1;ms=5120;len=3090");
        row("7.1", adtsFrame(3, 7, 50).repeated(3), "rate=48000;ch=8");
        row("truncated last frame left out", stereo + adtsFrame(4, 2, 200).left(120), same);
        row("trailing ape and id3v1 left out", stereo + apeTag(true, 300) + id3v1("V1", "A", 1, 1), same);
        row("junk between frames is skipped", stereo + Bytes(333, 7) + stereo, "len=41733;ms=4643");
        // A header with the stream's fields but a length of 3 is no frame: nothing after it counts.
        row("a frame length below the header size ends the stream", stereo + adtsFrame(4, 2, 0).left(4) + hex("0060FC") + stereo, same);
        row("a sync word in junk needs the next header to follow", stereo + junk + adtsFrame(4, 2, 40) + Bytes(90, 7), same);
        row("a frame of another stream after junk does not count", stereo + junk + adtsFrame(3, 2, 200).repeated(2), "len=20700;rate=44100");
        row("reserved rate index", adtsFrame(13, 2, 50).repeated(3), "ok=0;fmt=AAC (ADTS);range=0");
        row("first frame cut short", adtsFrame(4, 2, 200).left(100), "ok=0;fmt=AAC (ADTS);range=0;rate=44100");
        suffix = "wav";
        const Bytes pcm(176400, 1), f = fmt(2, 44100, 16), data = chunk("data", pcm); // f: 24 bytes
        // 64-bit sizes in ds64 (RIFF size, data size, sample count, a table for the LIST, or the data
        // size alone), 0xFFFFFFFF in the 32-bit fields.
        auto wave64 = [&](const char *magic, quint64 size, int entries, const Bytes &list, bool shortDs64 = false) { return magic + le32(-1) + "WAVE" + chunk("ds64", zeros(8) + num(size, 8, false) + (shortDs64 ? Bytes() : num(44100, 8, false) + le32(entries) + "LIST" + num(list.size() - 8, 8, false))) + f + "data" + le32(-1) + pcm + "LIST" + le32(-1) + list.mid(8); };
        // AES46 cart: a version, then text fields of 64 bytes, NUL- or space-padded, 2,048 bytes in all.
        auto field = [](const Bytes &text, char pad) { return text.leftJustified(64, pad); };
        const Bytes list = chunk("LIST", "INFO" + chunk("INAM", "Caf\xc3\xa9") + chunk("IART", "Caf\xe9") + chunk("IPRD", "Prd") + chunk("ICRD", "1977-01") + chunk("IGNR", "Pop") + chunk("ICMT", "Cm") + chunk("ITRK", "9"));
        const Bytes bext = chunk("bext", field("A bext description", '\0') + zeros(538)), infoList = chunk("LIST", "INFO" + chunk("INAM", "Info title") + chunk("IART", "Info artist") + chunk("IPRD", "Info album")), cart = chunk("cart", "0101" + field("Cart title", 0) + field("Cart artist", ' ') + field("CUT042", ' ') + zeros(1852));
        row("fmt, data and info: utf-8 when valid, else latin-1", riff(f + data + list), "fmt=WAVE;ch=2;rate=44100;ms=1000;kbps=1411;off=44;len=176400;title=Café;artist=Café;album=Prd;year=1977;genre=Pop;comment=Cm;track=9");
        row("data before fmt: range and bitrate, no duration", riff(data + f), "off=20;ms=0;kbps=1411", {}, "wave");
        row("data cut short by more than a byte gives no range", riff(f + "data" + le32(176400) + pcm.left(1000)), "ok=0;range=0;rate=44100");
        row("odd data missing its pad byte still counts", riff(f + "data" + le32(3) + "abc"), "len=3");
        row("streamed data size 0 runs to the end", riff(f + "data" + le32(0) + pcm), "ms=1000;off=44;len=176400");
        row("streamed data size 0xFFFFFFFF runs to the end", riff(f + "data" + le32(-1) + pcm), "ms=1000;off=44;len=176400");
        row("RF64: the data's and the LIST's sizes from ds64", wave64("RF64", 176400, 1, list), "ch=2;rate=44100;ms=1000;off=92;len=176400;title=Café");
        row("BW64: a ds64 entry past the table's count is not used", wave64("BW64", 176400, 0, list), "ms=1000;off=92;len=176400;title=");
        row("ds64 of the data size alone", wave64("RF64", 176400, 0, list, true), "off=68;len=176400;title=");
        row("RF64 data size beyond the file is not trusted", wave64("RF64", 1ULL << 62, 1, list), "ok=0;rate=44100;range=0");
        row("no data chunk", riff(f), "ok=0;ch=2");
        // An ffmpeg -t 0 recording: the data chunk declares nothing and ends the file.
        row("empty data chunk at the end, after chunks of size 0", riff(f + chunk("JUNK", "") + list + chunk("LIST", "") + chunk("data", "")), "range=0;len=0;ms=0;ch=2;rate=44100;kbps=1411;title=Café");
        // Not a stream: what follows the header is whole chunks ending with the file, not samples.
        row("empty data chunk followed by INFO: the INFO is no audio", riff(f + chunk("data", "") + list), "range=0;len=0;album=Prd");
        row("id3 over cart over INFO, whatever their order; cart after bext", riff(f + bext + infoList + cart + data + chunk("id3 ", id3Tag(4, text(4, "TIT2", "T\xc3\xaftle", 3) + text(4, "TRCK", "5/9")))), "title=Tïtle;track=5;artist=Cart artist;album=Info album;off=%1", {36 + bext.size() + infoList.size() + cart.size() + 8});
        row("cart cut short: a field it does not hold whole is not read", riff(f + chunk("cart", "0101" + field("Short", ' ') + "Half an artist") + infoList + data), "title=Short;artist=Info artist");
        suffix = "aiff";
        // 44100 as an 80-bit float: exponent 16398, mantissa 0xAC44 << 48.
        const Bytes aiffComm = comm(2, 88200, 16, 0x400E, 0xAC44ULL << 48), ssnd = iff("SSND", zeros(8) + Bytes(1000, 's'));
        row("comm, ssnd, name, auth", form(aiffComm + iff("NAME", "Title ") + iff("AUTH", "Who") + ssnd), "fmt=AIFF;ch=2;rate=44100;ms=2000;kbps=1411;title=Title;artist=Who;range=1;off=80;len=1000");
        row("8 kHz mono 8-bit", form(comm(1, 8000, 8, 0x400B, 0xFAULL << 56) + ssnd), "rate=8000;ms=1000;kbps=64", {}, "aifc");
        row("comm without ssnd succeeds without a range", form(aiffComm), "range=0;ms=2000", {}, "aif");
        row("ssnd without comm fails but keeps its range", form(ssnd), "ok=0;range=1;len=1000");
        row("huge exponent is no sample rate", form(comm(2, 100, 16, 0x7FFF, ~0ULL) + ssnd), "ok=0;rate=0");
        limit("1 Hz is the lowest rate", [&](int k) { return form(comm(1, 100, 16, 0x3FFF - k, 1ULL << 63) + ssnd); }, "rate=1;ms=100000", "ok=0;rate=0");
        row("ssnd of 8 bytes has no range", form(aiffComm + iff("SSND", zeros(8))), "range=0");
        // A sequence cut at the end and an overlong "/" are not UTF-8.
        row("anno is the comment; broken utf-8 reads as latin-1", form(aiffComm + iff("NAME", "A\xc3") + iff("AUTH", hex("C0AF") + "B") + iff("ANNO", Bytes("Note\0", 5)) + ssnd), "title=A\u00c3;artist=\u00c0\u00afB;comment=Note");
        row("id3 chunk after the sound wins over name and author", form(aiffComm + iff("NAME", "Name") + iff("AUTH", "Auth") + iff("ANNO", "Note") + ssnd + iff("ID3 ", id3Tag(3, text(3, "TIT2", hex("FFFE") + utf16("Ωmega", false), 1)))), "title=Ωmega;artist=Auth;comment=Note;off=90;len=1000");
        // The walk stops at 4,096 chunks: sound beyond is never seen, which is damage, not silence.
        limit("ssnd as the 4096th chunk", [&](int k) { return form(aiffComm + iff("ANNO", "").repeated(4094 + k) + ssnd); }, "range=1;rate=44100", "ok=0;range=0;rate=44100");
        row("ssnd missing only its last byte keeps the rest", form(aiffComm) + "SSND" + be32(1009) + zeros(8) + Bytes(1000, 's'), "len=1000;ms=2000");
        row("ssnd cut short fails", form(aiffComm) + "SSND" + be32(5000) + zeros(100), "ok=0;range=0;ch=2");
        // clang-format on
    }
    void containers()
    {
        QFETCH(QString, suffix);
        QFETCH(Bytes, content);
        QFETCH(QString, expect);
        const QString path = temp("." + suffix), want = expect.startsWith("ok=") ? expect : "ok=1;" + expect;
        AudioMetadata meta;
        QString error;
        const bool ok = writeBytes(path, content) && TagReader::read(path, meta, &error);
        QCOMPARE(describe(meta, ok, want), want);
        QCOMPARE(error, ok ? QString() : "Unrecognised or damaged " + suffix.toUpper() + " container");
    }

    // Files as ffmpeg writes them (1.024 s at 32 kHz, a whole number of AAC frames): what they say;
    // a remux with other tags keeps the payload hash; and cut, noisy and flipped copies never crash or
    // hang the reader, fail only with the container message, and any payload they report lies inside
    // the file (a missing pad byte aside).
    void realFiles_data()
    {
        // Options of the first file and of its -c copy remux; what the first file says; bytes put before
        // the copy when an ID3v2 tag, else after it.
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("expect");
        QTest::addColumn<Bytes>("added");
        const QString other = "-metadata title=Other %long", base = "rate=32000;ch=1;title=Base;fmt=",
                      frag = "-movflags +frag_keyframe+empty_moov+default_base_moof -frag_duration 500000 ";
        // clang-format off
        QTest::newRow("mp3: id3v2 grown and made v2.4, id3v1 and apev2 added") << QStringList{"-c:a libmp3lame -b:a 96k -id3v2_version 3 -metadata title=Base", "-id3v2_version 4 -write_id3v1 1 -metadata artist=V1 %long"} << base + "MPEG Audio" << apeTag(true, 64);
        QTest::newRow("flac: other comments, an id3v2 tag put before it") << QStringList{"-c:a flac -metadata title=Base", other} << base + "FLAC" << id3Tag(3, text(3, "TIT2", "Id3 title"), 0, 500);
        // Only the audio pages' bodies, whatever the pages before them and their headers became.
        QTest::newRow("ogg: comment packet pushed over page boundaries") << QStringList{"-c:a libvorbis -metadata title=Base", other} << base + "Ogg Vorbis" << Bytes();
        QTest::newRow("opus: comment packet pushed over page boundaries") << QStringList{"-c:a libopus -metadata title=Base", other} << "rate=48000;ch=1;title=Base;fmt=Opus" << Bytes();
        // Songs that end alike write the same last fragments, so the payload takes in every fragment;
        // moof-relative offsets let the moov grow without touching them.
        QTest::newRow("m4a: fragmented, retagged with a larger moov") << QStringList{"-c:a aac -metadata title=Base " + frag, frag + "-metadata title=A_title_long_enough_to_grow_the_moov"} << base + "MPEG-4 Audio" << Bytes();
        QTest::newRow("wav: other INFO") << QStringList{"-c:a pcm_s16le -metadata title=Base", other} << base + "WAVE" << Bytes();
        QTest::newRow("aiff: other text chunks") << QStringList{"-c:a pcm_s16be -metadata title=Base", other} << base + "AIFF" << Bytes();
    }
    void realFiles()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, expect);
        QFETCH(Bytes, added);
        const QString suffix = "." + QString(QTest::currentDataTag()).section(':', 0, 0), path = temp(suffix);
        QString error;
        // ffmpeg's output for an input and options ("%long": a comment longer than an Ogg page).
        const auto make = [&](const QStringList &args, QString extra) { const QString out = temp(suffix); return rvwtest::ffmpeg(args + extra.replace("%long", "-metadata comment=" + QString(100000, 'c')).split(' ', Qt::SkipEmptyParts) << out, &error) ? out : QString(); };
        const QString first = make({"-f", "lavfi", "-i", "sine=f=330:r=32000:d=1.024"}, options[0]);
        const QString copy = first.isEmpty() ? first : make({"-i", first, "-map_metadata", "0", "-c", "copy"}, options[1]);
        const Bytes whole = readBytes(first), copied = readBytes(copy);
        QVERIFY2(!copy.isEmpty() && writeBytes(copy, added.startsWith("ID3") ? added + copied : copied + added), qPrintable(error));
        AudioMetadata a, b;
        QVERIFY2(TagReader::read(first, a, &error) && TagReader::read(copy, b, &error), qPrintable(error));
        QCOMPARE(describe(a, true, expect), expect);
        QVERIFY2(qAbs(a.durationMs - 1024) <= 100 && a.bitrate > 0, qPrintable(QString::number(a.durationMs)));
        const QString payload = Hasher::hashRanges(first, a.payloadRanges(), &error);
        QVERIFY(a.hasAudioRange && b.hasAudioRange && b.payloadLength() == a.payloadLength() && payload.size() == 64);
        QVERIFY(Hasher::hashRanges(copy, b.payloadRanges(), &error) == payload && Hasher::hashWholeFile(first, &error) != Hasher::hashWholeFile(copy, &error));
        QVERIFY(suffix != ".m4a" || copied.indexOf("moof") == b.audioOffset + 4); // the payload starts at the first fragment

        // Cuts through the headers (every byte, then every seventh) and spread through the rest, then
        // seeded noise after the file's first 12 bytes or a good start, and random bit flips.
        QList<Bytes> inputs{whole.chopped(1)};
        for (qsizetype n = 0; n < 1024; n += n < 160 ? 1 : 7) inputs << whole.left(n);
        for (int i = 1; i <= 64; ++i) inputs << whole.left(1024 + (whole.size() - 1024) * i / 65);
        QRandomGenerator random(0x5eed);
        for (int round = 0; round < 240; ++round) {
            Bytes noise(4 * random.bounded(1024), '\0');
            random.fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
            inputs << (round % 3 == 0 ? whole.left(12) + noise : round % 3 == 1 ? whole.left(random.bounded(int(whole.size()))) + noise : whole);
            for (int flips = round % 3 == 2 ? 1 + round % 8 : 0; flips > 0; --flips) inputs.last()[random.bounded(int(whole.size()))] ^= char(1 << random.bounded(8));
        }
        for (qsizetype i = 0; i < inputs.size(); ++i) {
            AudioMetadata meta;
            error.clear();
            const bool ok = writeBytes(path, inputs[i]) && TagReader::read(path, meta, &error);
            const QList<ByteRange> ranges = meta.payloadRanges() + (meta.hasAudioRange ? QList<ByteRange>{{meta.audioOffset, meta.audioLength}} : QList<ByteRange>());
            const bool inside = std::all_of(ranges.begin(), ranges.end(), [&](const ByteRange &r) { return r.offset >= 0 && r.length >= 1 && r.offset + r.length <= inputs[i].size() + 1; });
            QVERIFY2(inside && (ok ? error.isEmpty() && !inputs[i].isEmpty() : error == "Unrecognised or damaged " + suffix.mid(1).toUpper() + " container"), qPrintable(QString("input %1 of %2 bytes: %3").arg(i).arg(inputs[i].size()).arg(error)));
        }
    }

    void openFailureAndSupportedSuffixes()
    {
        AudioMetadata meta;
        const QString missing = m_dir.filePath("missing.mp3"), flac = temp(".flac");
        QString error;
        QVERIFY2(!TagReader::read(missing, meta, &error) && !TagReader::read(missing, meta, nullptr) && error.startsWith("Cannot open file: ") && error.size() > 18, qPrintable(error));
        error = "earlier"; // a message already present is not replaced by the container message
        QVERIFY(writeBytes(flac, "junk") && !TagReader::read(flac, meta, &error) && error == "earlier");
        QString supported;
        for (const char *s : {"mp3", "mp2", "flac", "wav", "wave", "m4a", "m4b", "mp4", "aac", "ogg", "oga", "opus", "aiff", "aif", "aifc", "MP3", "wma", "", ".mp3"}) supported += TagReader::isSupportedExtension(s) ? '1' : '0';
        QCOMPARE(supported, QString(15, '1') + "0000");
    }
    // clang-format on
};

QTEST_GUILESS_MAIN(TstTagReader)
#include "tst_tagreader.moc"

// libFuzzer target: any bytes, under every suffix family the reader parses, must be read without
// a crash or an out-of-bounds access; what the reader claims about the file must be possible:
// the payload span and its pieces inside the file, the pieces in order without overlap and inside
// the span, no negative duration or rate, no tag text longer than the reader's cap.

#include "audio/TagReader.h"

#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// One suffix per parser the reader chooses by suffix; the aliases (mp2, oga, opus, m4b, mp4,
// wave, aif, aifc) reach the same parsers and would only slow every run down.
const char *const kSuffixes[] = {"mp3", "flac", "ogg", "m4a", "aac", "wav", "aiff"};
constexpr int kSuffixCount = int(sizeof kSuffixes / sizeof kSuffixes[0]);

// The tag reader's cap on one text value, in characters.
constexpr qsizetype kMaxText = 1024;

struct Workspace
{
    QTemporaryDir dir;
    QString data;
    QString paths[kSuffixCount];

    // The input is written once per run to one file; a symbolic link per suffix lets the reader
    // choose each parser in turn without writing the bytes again.
    Workspace()
    {
        if (!dir.isValid())
            std::abort();
        data = dir.filePath(QStringLiteral("input"));
        for (int i = 0; i < kSuffixCount; ++i) {
            paths[i] = dir.filePath(QStringLiteral("input.") + QLatin1String(kSuffixes[i]));
            if (!rvw::TagReader::isSupportedExtension(QLatin1String(kSuffixes[i])))
                std::fprintf(stderr, "fuzz_tagreader: the reader no longer parses .%s\n", kSuffixes[i]);
            if (!QFile::link(QStringLiteral("input"), paths[i]))
                std::abort();
        }
    }
};

void check(bool condition, const char *what, const char *suffix)
{
    if (condition)
        return;
    std::fprintf(stderr, "fuzz_tagreader: .%s: %s\n", suffix, what);
    std::abort();
}

bool inside(const rvw::ByteRange &r, qint64 begin, qint64 end)
{
    // No sum that could overflow: both ends are compared by differences.
    return r.offset >= begin && r.length >= 1 && r.offset <= end && r.length <= end - r.offset;
}

void checkMeta(const rvw::AudioMetadata &meta, qint64 fileSize, const char *suffix)
{
    if (meta.hasAudioRange) {
        const rvw::ByteRange span{meta.audioOffset, meta.audioLength};
        check(inside(span, 0, fileSize), "the payload span does not lie inside the file", suffix);
        qint64 previousEnd = 0;
        for (const rvw::ByteRange &piece : meta.audioPieces) {
            check(inside(piece, meta.audioOffset, meta.audioOffset + meta.audioLength),
                  "a payload piece does not lie inside the span", suffix);
            check(piece.offset >= previousEnd, "payload pieces out of order or overlapping", suffix);
            previousEnd = piece.offset + piece.length;
        }
    }
    const QList<rvw::ByteRange> ranges = meta.payloadRanges();
    check(meta.hasAudioRange || ranges.isEmpty(), "payload ranges without a payload span", suffix);
    qint64 total = 0;
    for (const rvw::ByteRange &r : ranges) {
        check(inside(r, 0, fileSize), "a payload range does not lie inside the file", suffix);
        total += r.length; // at most the file size: the ranges lie in the file without overlap
    }
    check(meta.payloadLength() == total, "payloadLength() is not the sum of payloadRanges()", suffix);
    check(meta.durationMs >= 0 && meta.bitrate >= 0 && meta.sampleRate >= 0 && meta.channels >= 0,
          "a negative duration, rate or channel count", suffix);
    for (const QString *text : {&meta.title, &meta.artist, &meta.album, &meta.albumArtist, &meta.genre, &meta.year,
                                &meta.comment})
        check(text->size() <= kMaxText, "a tag value longer than the cap", suffix);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Workspace ws;
    QFile f(ws.data);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        f.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
        std::abort();
    f.close();
    for (int i = 0; i < kSuffixCount; ++i) {
        rvw::AudioMetadata meta;
        QString error;
        const bool ok = rvw::TagReader::read(ws.paths[i], meta, &error);
        check(ok == error.isEmpty(), "success and error message disagree", kSuffixes[i]);
        checkMeta(meta, qint64(size), kSuffixes[i]);
    }
    return 0;
}

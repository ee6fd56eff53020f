// Compares what the tag reader finds with what ffprobe reports (sample rate, channels and
// duration) on every file it can read. With no folder it first makes a varied set with ffmpeg:
// each container and codec the reader handles, at several rates and channel counts, CBR and VBR,
// with and without tags and artwork, and the odd layouts (ID3v2 before FLAC, RF64, streamed WAVE,
// fragmented MP4, raw ADTS).
//
// Usage: ravelwick_reader_vs_ffprobe [folder]   (exit 1 when any file disagrees)

#include "audio/TagReader.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

using namespace rvw;

namespace {

bool run(const QString &program, const QStringList &args, QByteArray *out = nullptr)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return false;
    if (out)
        *out = p.readAllStandardOutput();
    return true;
}

bool ffmpeg(const QStringList &args)
{
    return run(QStringLiteral("ffmpeg"), QStringList{"-hide_banner", "-loglevel", "error", "-y"} + args);
}

struct Probe
{
    int rate = 0;
    int channels = 0;
    qint64 durationMs = -1;
};

bool probe(const QString &path, Probe &p)
{
    QByteArray out;
    if (!run(QStringLiteral("ffprobe"), {"-v", "error", "-select_streams", "a:0", "-show_entries",
                                         "stream=sample_rate,channels:format=duration", "-of",
                                         "default=noprint_wrappers=1", path},
             &out))
        return false;
    for (const QByteArray &line : out.split('\n')) {
        const QByteArray value = line.mid(line.indexOf('=') + 1);
        if (line.startsWith("sample_rate="))
            p.rate = value.toInt();
        else if (line.startsWith("channels="))
            p.channels = value.toInt();
        else if (line.startsWith("duration=") && value != "N/A")
            p.durationMs = qRound64(value.toDouble() * 1000);
    }
    return p.rate > 0;
}

// The varied set: every combination below, about a hundred files.
int makeSet(const QString &dir)
{
    struct Codec
    {
        const char *suffix;
        QStringList args;
    };
    const QList<Codec> codecs{
        {"mp3", {"-c:a", "libmp3lame", "-b:a", "128k"}},
        {"mp3", {"-c:a", "libmp3lame", "-q:a", "2"}},
        {"mp3", {"-c:a", "libmp3lame", "-q:a", "6", "-write_xing", "0"}},
        {"mp2", {"-c:a", "mp2", "-b:a", "192k"}},
        {"flac", {"-c:a", "flac"}},
        {"ogg", {"-c:a", "libvorbis", "-q:a", "3"}},
        {"opus", {"-c:a", "libopus", "-b:a", "64k"}},
        {"m4a", {"-c:a", "aac", "-b:a", "96k"}},
        {"m4a", {"-c:a", "aac", "-movflags", "+frag_keyframe+empty_moov+default_base_moof"}},
        {"m4a", {"-c:a", "alac"}},
        {"aac", {"-c:a", "aac", "-f", "adts"}},
        {"wav", {"-c:a", "pcm_s16le"}},
        {"wav", {"-c:a", "pcm_s24le", "-rf64", "always"}},
        {"wav", {"-c:a", "pcm_s16le", "-rf64", "auto", "-seekable", "0"}},
        {"aiff", {"-c:a", "pcm_s16be"}},
    };
    const QList<QPair<int, int>> layouts{{8000, 1}, {22050, 2}, {32000, 1}, {44100, 2}, {48000, 2}, {96000, 2}};
    const QList<double> seconds{0.3, 7.5, 61};
    int made = 0;
    int serial = 0;
    for (const Codec &c : codecs) {
        for (const auto &layout : layouts) {
            const double length = seconds[serial % seconds.size()];
            const QString path = QStringLiteral("%1/f%2-%3hz-%4ch.%5")
                                     .arg(dir)
                                     .arg(++serial, 3, 10, QLatin1Char('0'))
                                     .arg(layout.first)
                                     .arg(layout.second)
                                     .arg(QLatin1String(c.suffix));
            QStringList args{"-f", "lavfi", "-i",
                             QStringLiteral("anoisesrc=d=%1:c=pink:r=%2").arg(length).arg(layout.first),
                             "-ac", QString::number(layout.second)};
            args << c.args << "-metadata" << "title=Probe " + QString::number(serial) << path;
            // Not every codec takes every rate (Opus resamples, MP3 has none above 48 kHz);
            // what ffmpeg refuses is simply not part of the set.
            if (ffmpeg(args))
                ++made;
        }
    }
    // FLAC behind an ID3v2 tag, as some taggers leave it.
    const QString tagged = dir + "/id3-before-flac.flac";
    if (ffmpeg({"-f", "lavfi", "-i", "sine=d=4", "-c:a", "flac", tagged}) &&
        ffmpeg({"-f", "lavfi", "-i", "sine=d=0.1", "-c:a", "libmp3lame", "-metadata", "title=Tag", dir + "/tag.mp3"})) {
        QFile tag(dir + "/tag.mp3"), flac(tagged);
        if (tag.open(QIODevice::ReadOnly) && flac.open(QIODevice::ReadOnly)) {
            const QByteArray id3 = tag.read(10);
            const qint64 size = (id3[6] << 21) | (id3[7] << 14) | (id3[8] << 7) | id3[9];
            const QByteArray whole = id3 + tag.read(size) + flac.readAll();
            flac.close();
            if (flac.open(QIODevice::WriteOnly | QIODevice::Truncate) && flac.write(whole) == whole.size())
                ++made;
        }
        QFile::remove(dir + "/tag.mp3");
    }
    return made;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir temp;
    QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (folder.isEmpty()) {
        folder = temp.path();
        std::printf("made %d files in %s\n", makeSet(folder), qPrintable(folder));
    }
    int compared = 0, disagreed = 0, unreadable = 0;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!TagReader::isSupportedExtension(QFileInfo(path).suffix().toLower()))
            continue;
        Probe p;
        if (!probe(path, p))
            continue; // ffprobe cannot read it either
        AudioMetadata meta;
        QString error;
        if (!TagReader::read(path, meta, &error)) {
            ++unreadable;
            std::printf("UNREAD %s: %s\n", qPrintable(path), qPrintable(error));
            continue;
        }
        ++compared;
        const qint64 tolerance = qMax<qint64>(120, p.durationMs / 100);
        const bool durationOk = p.durationMs < 0 || qAbs(meta.durationMs - p.durationMs) <= tolerance;
        if (meta.sampleRate != p.rate || meta.channels != p.channels || !durationOk) {
            ++disagreed;
            std::printf("DIFF   %s: reader %d Hz %d ch %lld ms, ffprobe %d Hz %d ch %lld ms\n", qPrintable(path),
                        meta.sampleRate, meta.channels, qlonglong(meta.durationMs), p.rate, p.channels,
                        qlonglong(p.durationMs));
        }
    }
    std::printf("%d files compared, %d disagree, %d not read by the reader\n", compared, disagreed, unreadable);
    return disagreed + unreadable == 0 ? 0 : 1;
}

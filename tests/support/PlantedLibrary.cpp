#include "support/PlantedLibrary.h"

#include "audio/AudioDecode.h"
#include "audio/Chromaprint.h"
#include "audio/Fingerprint.h"
#include "audio/FingerprintPool.h"
#include "scan/TrackAnalysis.h"
#include "support/AudioFixtures.h"

#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QRandomGenerator>
#include <QSet>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentMap>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <numeric>
#include <random>
#include <tuple>
#include <type_traits>
#include <vector>

using rvw::TrackInfo;

namespace rvwtest {

namespace {

constexpr double kSemitone = 0.0577622650466621; // ln(2) / 12
// Both engines look at nothing above 5.5 kHz; content up to 8 kHz still gives the lossy
// encoders something above that to spend their bits on.
constexpr int kRenderRate = 16000;

template <typename T> auto streamsOf(T &x)
{
    using List = std::conditional_t<std::is_const_v<T>, const QList<quint32>, QList<quint32>>;
    return std::array<List *, 5>{&x.fingerprint, &x.fingerprintMask, &x.fingerprintAlt, &x.fingerprintAltMask,
                                 &x.fingerprintKeys};
}

using Wave = std::function<double(double t)>;
constexpr double k2Pi = 6.283185307179586;

// White noise in [-0.5, 0.5), the same for the same sample and seed.
double noise(double t, quint32 seed)
{
    quint32 h = (quint32(t * kRenderRate + 0.5) + seed * 0x9E3779B9u) * 2654435761u;
    h ^= h >> 15;
    h *= 2246822519u;
    return (h ^ (h >> 13)) / 4294967296.0 - 0.5;
}

// Bass and triad over a four-chord progression, a plucked melody whose figure shifts every four
// bars, a kick on the beat and noise hats off it; tempo, key, mode, chords, figure and timbre
// come from the seed.
Wave song(int seed)
{
    QRandomGenerator rng(quint32(seed) * 2654435761u + 11u);
    static const int kScale[7] = {0, 2, 4, 5, 7, 9, 11};
    const double beat = 60.0 / double(84 + rng.bounded(66));
    const double root = 110.0 * std::exp(kSemitone * rng.bounded(12));
    const double third = rng.bounded(2) ? 1.18920712 : 1.25992105;
    std::array<int, 4> chord = {0, kScale[1 + rng.bounded(6)], kScale[1 + rng.bounded(6)],
                                kScale[1 + rng.bounded(6)]};
    // A stride coprime to 7: the figure visits every degree.
    const int stride = 1 + rng.bounded(6), shift = 1 + rng.bounded(6), start = rng.bounded(7);
    const double decay = 6.0 + rng.bounded(14), overtone = rng.bounded(50) / 100.0,
                 hats = 0.04 + rng.bounded(8) / 100.0;
    return [=](double t) {
        const int beats = int(t / beat);
        const double bass = root * std::exp(kSemitone * chord[(beats / 8) % 4]);
        const int degree = (int(2 * t / beat) * stride + (beats / 16) * shift + start) % 7;
        const double note = 4 * root * std::exp(kSemitone * std::floor(degree * 12.0 / 7 + 0.5));
        return 0.8 * (0.16 * std::sin(k2Pi * bass * t) +
                      0.07 * (std::sin(2 * k2Pi * bass * t) + std::sin(2 * k2Pi * bass * third * t) +
                              std::sin(2 * k2Pi * bass * 1.49830708 * t)) +
                      0.16 * std::exp(-std::fmod(t, beat / 2) * decay) *
                          (std::sin(k2Pi * note * t) + overtone * std::sin(2 * k2Pi * note * t)) +
                      0.3 * std::exp(-std::fmod(t, beat) * 25) * std::sin(k2Pi * 60 * t) +
                      hats * noise(t, quint32(seed)) * std::exp(-std::fmod(t + beat / 2, beat) * 60));
    };
}

// A station ident: a pentatonic arpeggio over a swelling chord with a noise whoosh at the
// start, fading out over the third of a second before `end`.
Wave ident(int seed, double end)
{
    QRandomGenerator rng(quint32(seed) * 2246822519u + 7u);
    const double step = 0.12 + rng.bounded(9) / 100.0;
    const double root = 220.0 * std::exp(kSemitone * rng.bounded(12));
    const double third = rng.bounded(2) ? 1.18920712 : 1.25992105;
    const int stride = 1 + rng.bounded(7), shift = 1 + rng.bounded(7);
    const double decay = 8.0 + rng.bounded(12);
    return [=](double t) {
        const int n = int(t / step);
        const double note =
            2 * root * std::exp(kSemitone * std::floor((n * stride + n / 5 * shift) % 8 * 12 / 5.0 + 0.5));
        return (0.3 * std::exp(-std::fmod(t, step) * decay) *
                    (std::sin(k2Pi * note * t) + 0.4 * std::sin(2 * k2Pi * note * t)) +
                0.1 *
                    (std::sin(k2Pi * root * t) + std::sin(k2Pi * root * third * t) +
                     std::sin(k2Pi * root * 1.49830708 * t)) *
                    (1 - std::exp(-t * 3)) +
                0.08 * noise(t, quint32(seed)) * std::exp(-t * 4)) *
               std::clamp((end - t) * 3, 0.0, 1.0);
    };
}

// One station's idents: the same sonic logo for 3.5 s, then each its own tail.
Wave loggedIdent(int tailSeed, double seconds)
{
    return [logo = ident(90, 1e9), tail = ident(tailSeed, seconds)](double t) {
        return t < 3.5 ? logo(t) : tail(t);
    };
}

// ffmpeg picks the encoder from the file name: FLAC, LAME, its own AAC.
QStringList encode(int kbps)
{
    return QStringList{"-ar", "44100", "-ac", "2"} +
           (kbps ? QStringList{"-b:a", QString::number(kbps) + "k"} : QStringList());
}

struct Source
{
    QString stem;
    double seconds;
    Wave wave; // rendered as raw samples into a file named stem
    QString suffix;
    int kbps;
};

QList<Source> sources()
{
    // Two 10 s effects followed by digital silence up to 40 s.
    const auto fade = [](double t, double in, double out) {
        return std::min({1.0, t / in, std::max(0.0, (10 - t) / out)});
    };
    return {
        {"song1", 62.0, song(1), "flac", 0},
        {"song2", 61.0, song(2), "flac", 0},
        {"ident1", 5.5, ident(1, 5.5), "flac", 0},
        {"ident2", 8.0, ident(2, 8.0), "flac", 0},
        {"logo-ident-a", 7.0, loggedIdent(91, 7.0), "mp3", 128},
        {"logo-ident-b", 6.5, loggedIdent(92, 6.5), "mp3", 128},
        {"effect-sweep", 40.0,
         [=](double t) {
             return 0.35 * std::sin(k2Pi * (180 * t + 55 * t * t)) * (0.6 + 0.4 * std::sin(k2Pi * 7 * t)) *
                    fade(t, 1.5, 2);
         },
         "mp3", 128},
        {"effect-noise", 40.0, [=](double t) { return 0.6 * noise(t, 4242) * fade(t, 3, 4); }, "mp3", 128},
    };
}

// Several copies of one song, each checked against the base directly by the suite. The costly
// ones come first, as the files are made in this order, two at a time.
// name, source, suffix, kbit/s, shift in seconds
const std::tuple<const char *, int, const char *, int, double> kPlanted[] = {
    {"62 ms more lead-in, AAC 96 kbit/s", 1, "m4a", 96, 0.062},
    {"re-encode MP3 32 kbit/s", 0, "mp3", 32, 0.0},
    {"15 s of silence in front", 0, "mp3", 256, 15.0},
    {"cold start cut by 15 s", 0, "mp3", 128, -15.0},
    {"first 0.8 s cut", 1, "mp3", 128, -0.8},
    {"110 ms more lead-in", 1, "mp3", 160, 0.110},
    {"7 s of silence in front", 1, "mp3", 128, 7.0},
    {"8 s ident, AAC 96 kbit/s, 120 ms more lead-in", 3, "m4a", 96, 0.120},
    {"5.5 s ident, MP3 128 kbit/s", 2, "mp3", 128, 0.0},
};

// What a scan knows about a file after reading its tags and fingerprinting it with its own
// worker, here on the calling thread.
TrackInfo describe(int id, const QString &file, Engine engine, int seconds)
{
    rvw::FingerprintWorker worker(seconds, engine == Engine::Fpcalc);
    rvw::FingerprintResult fp;
    QObject::connect(&worker, &rvw::FingerprintWorker::completed, &worker,
                     [&fp](int, const rvw::FingerprintResult &r) { fp = r; });
    worker.process(0, file);
    const QFileInfo info(file);
    TrackInfo t;
    t.id = id;
    t.path = info.absoluteFilePath();
    t.fileName = info.fileName();
    t.format = info.suffix();
    t.size = info.size();
    rvw::TrackAnalysis::Payload payload;
    rvw::TrackAnalysis::readTags(t, payload);
    if (t.durationMs < 1)
        t.durationMs = fp.durationMs;
    for (int i = 0; i < 5; ++i)
        *streamsOf(t)[i] = *streamsOf(fp)[i];
    if (fp.fingerprint.isEmpty())
        t.error = QStringLiteral("%1 could not fingerprint %2: %3").arg(engineName(engine), file, fp.error);
    return t;
}

// Words usable from a pool track: the span that all of its non-empty streams cover.
int usableLength(const TrackInfo &t)
{
    qsizetype n = t.fingerprint.size();
    for (const QList<quint32> *stream : streamsOf(t))
        n = stream->isEmpty() ? n : std::min(n, stream->size());
    return int(n);
}

// A key is the order of the four strongest pitch classes; a spliced run moves them as another
// song in another key would, keeping its pattern of repeats. "No key" stays as it is.
quint32 movedKey(quint32 key, const std::array<quint32, 12> &to)
{
    if (key == rvw::Fingerprint::kNoKey)
        return key;
    quint32 out = 0;
    for (quint32 i = 0, scale = 1; i < 4; ++i, key /= 12, scale *= 12)
        out += to[key % 12] * scale;
    return out;
}

// output file name, ffmpeg arguments but the output, track index
using Job = std::tuple<QString, QStringList, int>;

} // namespace

QString engineName(Engine engine)
{
    return engine == Engine::BuiltIn ? QStringLiteral("built-in") : QStringLiteral("fpcalc");
}

bool PlantedLibrary::build(const QString &folder, int seconds, QString *error)
{
    if (ffmpegPath().isEmpty() || !rvw::AudioDecode::ffmpegAvailable()) {
        *error = QStringLiteral("ffmpeg is not installed");
        return false;
    }
    const QList<Source> list = sources();
    QList<Job> jobs;
    labels.resize(list.size() + qsizetype(std::size(kPlanted)));
    const auto input = [&](const Source &s) {
        return QStringList{"-f",  "f32le", "-ar", QString::number(kRenderRate),
                           "-ac", "1",     "-i",  folder + "/" + s.stem};
    };
    for (const auto &[name, source, suffix, kbps, shift] : kPlanted) {
        const Source &s = list[source];
        const int copy = int(list.size() + jobs.size());
        const QString filter = shift > 0 ? QStringLiteral("adelay=%1:all=1").arg(qRound(shift * 1000))
                                         : QStringLiteral("atrim=start=%1,asetpts=PTS-STARTPTS").arg(-shift);
        jobs.append({QStringLiteral("%1-copy%2.%3").arg(s.stem).arg(copy).arg(suffix),
                     input(s) + QStringList{"-af", filter} + encode(kbps), copy});
        planted.append({name, source, copy, shift});
        labels[copy] = s.stem;
    }
    for (int i = 0; i < list.size(); ++i) {
        const Source &s = list[i];
        jobs.append({s.stem + "." + s.suffix, input(s) + encode(s.kbps), i});
        labels[i] = s.stem;
        std::vector<float> samples(size_t(s.seconds * kRenderRate));
        for (size_t k = 0; k < samples.size(); ++k)
            samples[k] = float(s.wave(double(k) / kRenderRate));
        QFile raw(folder + "/" + s.stem);
        if (!raw.open(QIODevice::WriteOnly) || raw.write(reinterpret_cast<const char *>(samples.data()),
                                                         qint64(samples.size() * sizeof(float))) <= 0) {
            *error = QStringLiteral("could not write %1").arg(raw.fileName());
            return false;
        }
    }
    alikes = {{"two idents sharing a 3.5 s logo", 4, 5},
              {"two 10 s effects padded to 40 s with silence", 6, 7}};
    fingerprinted[0].resize(labels.size());
    if (rvw::Chromaprint::available())
        fingerprinted[1].resize(labels.size());
    QMutex mutex;
    QThreadPool pool; // two files at a time
    pool.setMaxThreadCount(2);
    QtConcurrent::blockingMap(&pool, jobs, [&](const Job &job) {
        const auto &[name, args, file] = job;
        const QString path = folder + QLatin1Char('/') + name;
        QString why;
        if (!ffmpeg(args + QStringList{path}, &why)) {
            const QMutexLocker lock(&mutex);
            *error = QStringLiteral("could not make %1: %2").arg(name, why.trimmed());
            return;
        }
        for (Engine e : {Engine::BuiltIn, Engine::Fpcalc}) {
            if (!hasEngine(e))
                continue;
            const TrackInfo t = describe(file, path, e, seconds);
            const QMutexLocker lock(&mutex);
            if (t.fingerprint.isEmpty())
                *error = t.error;
            fingerprinted[int(e)][file] = t;
        }
    });
    return error->isEmpty();
}

int padTo(LabelledTracks &lib, int total, quint32 seed)
{
    qsizetype full = 0;
    for (const TrackInfo &t : std::as_const(lib.tracks))
        full = std::max(full, t.fingerprint.size());
    QList<int> pool;
    QSet<QString> seen;
    for (int i = 0; i < lib.tracks.size(); ++i)
        if (!seen.contains(lib.labels[i]) && lib.tracks[i].fingerprint.size() * 20 >= full * 19 &&
            usableLength(lib.tracks[i]) > 16)
            seen.insert(lib.labels[i]), pool.append(i);
    QRandomGenerator rng(seed);
    while (pool.size() >= 2 && lib.tracks.size() < total) {
        TrackInfo t;
        t.id = int(lib.tracks.size());
        t.fileName = QStringLiteral("padding%1.mp3").arg(t.id);
        t.path = QStringLiteral("/padding/") + t.fileName;
        t.durationMs = 120000 + rng.bounded(240001);
        for (int dest = 0, previous = -1, item = -1; dest < full; previous = item) {
            do
                item = pool[rng.bounded(int(pool.size()))];
            while (item == previous);
            const TrackInfo &from = lib.tracks[item];
            const int length = std::min(8 + int(rng.bounded(9)), int(full) - dest);
            const int start = int(rng.bounded(usableLength(from) - length + 1));
            quint32 flip = 0;
            for (const uint bits = 3 + rng.bounded(4u); uint(qPopulationCount(flip)) < bits;)
                flip |= 1u << rng.bounded(32);
            std::array<quint32, 12> to;
            std::iota(to.begin(), to.end(), 0u);
            std::shuffle(to.begin(), to.end(), std::mt19937_64(rng.generate64()));
            const auto in = streamsOf(from);
            const auto out = streamsOf(t);
            // Streams 0 and 2 hold words, 1 and 3 their masks, 4 the keys.
            for (int s = 0; s < 5; ++s)
                for (int k = start; k < start + length && !in[s]->isEmpty(); ++k)
                    out[s]->append(s == 4 ? movedKey(in[s]->at(k), to) : in[s]->at(k) ^ (s % 2 ? 0u : flip));
            dest += length;
        }
        lib.labels.append(QStringLiteral("padding %1").arg(t.id));
        lib.tracks.append(t);
    }
    return int(pool.size());
}

Verdict judge(const QList<rvw::MatchGroup> &groups, const LabelledTracks &lib, const PlantedLibrary &planted)
{
    Verdict v;
    QHash<int, int> groupOf;
    for (int g = 0; g < groups.size(); ++g)
        for (int m : groups[g].members)
            groupOf.insert(m, g);
    const auto together = [&](const Pair &p) {
        return groupOf.value(p.first, -1) == groupOf.value(p.second, -2);
    };
    const auto pair = [&](int a, int b) {
        return " (" + lib.tracks[a].fileName + " with " + lib.tracks[b].fileName + ")";
    };
    for (const Pair &c : planted.copies())
        if (together(c))
            ++v.found;
        else
            v.problems << "copy not grouped with its base: " + c.name + pair(c.second, c.first);
    for (const Pair &l : planted.lookAlikes())
        if (together(l))
            v.problems << "different recordings grouped: " + l.name + pair(l.first, l.second);
    for (const rvw::MatchGroup &g : groups)
        for (int i = 0; i < g.members.size(); ++i)
            for (int j = i + 1, a = g.members[i]; j < g.members.size(); ++j)
                if (const int b = g.members[j]; lib.labels[a] != lib.labels[b] && ++v.falsePairs <= 12)
                    v.problems << "false pair: " + lib.labels[a] + " / " + lib.labels[b] + pair(a, b);
    return v;
}

} // namespace rvwtest

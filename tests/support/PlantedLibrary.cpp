#include "support/PlantedLibrary.h"

#include "audio/AudioDecode.h"
#include "audio/Chromaprint.h"
#include "audio/Fingerprint.h"
#include "audio/FingerprintPool.h"
#include "audio/TagReader.h"
#include "support/AudioFixtures.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QSet>
#include <QtAlgorithms>
#include <QtConcurrent/QtConcurrentMap>

#include <algorithm>
#include <random>
#include <array>
#include <cmath>
#include <type_traits>
#include <utility>
#include <vector>

using rvw::FingerprintResult;
using rvw::MatchGroup;
using rvw::TrackInfo;

namespace rvwtest {

namespace {

// ln(2) / 12: exp(semitones * kSemitone) is the frequency ratio of an equal-tempered interval.
constexpr double kSemitone = 0.0577622650466621;
// The sources are rendered at 16 kHz, which keeps the expression evaluation (the slowest step
// of the whole build) short. Both engines look at nothing above 5.5 kHz; the content up to
// 8 kHz still gives the lossy encoders something above that to spend their bits on.
constexpr int kRenderRate = 16000;

// The positional streams of a fingerprint, one value per frame, in storage order.
enum StreamIndex
{
    kWords,
    kMask,
    kAltWords,
    kAltMask,
    kKeys,
    kStreamCount
};

// Pointers to the streams of a TrackInfo or FingerprintResult, const when it is.
template <typename T> auto streamsOf(T &x)
{
    using List = std::conditional_t<std::is_const_v<T>, const QList<quint32>, QList<quint32>>;
    return std::array<List *, kStreamCount>{&x.fingerprint, &x.fingerprintMask, &x.fingerprintAlt,
                                            &x.fingerprintAltMask, &x.fingerprintKeys};
}

QString num(double x)
{
    return QString::number(x, 'g', 8);
}

// Arguments that render an expression as a lavfi input of `seconds` seconds.
QStringList expressionInput(const QString &expression, double seconds)
{
    return {"-f", "lavfi", "-i",
            QStringLiteral("aevalsrc='%1':s=%2:d=%3").arg(expression).arg(kRenderRate).arg(num(seconds))};
}

// A song: bass and triad following a four-chord progression of two bars each, a plucked melody
// on the half beat whose figure shifts every four bars, a kick on the beat and noise hats off
// it. Tempo, key, mode, progression, figure and timbre all come from the seed, so different
// seeds make different songs.
QString songExpression(int seed)
{
    QRandomGenerator rng(quint32(seed) * 2654435761u + 11u);
    static const int kScale[7] = {0, 2, 4, 5, 7, 9, 11};
    const double beat = 60.0 / double(84 + rng.bounded(66));
    const double root = 110.0 * std::exp(kSemitone * rng.bounded(12));
    const double third = rng.bounded(2) ? 1.18920712 : 1.25992105;
    int chord[4] = {0, 0, 0, 0};
    for (int i = 1; i < 4; ++i)
        chord[i] = kScale[1 + rng.bounded(6)];
    const int stride = 1 + rng.bounded(6); // coprime to 7: the figure visits every degree
    const int shift = 1 + rng.bounded(6);
    const int start = rng.bounded(7);
    const double decay = 6.0 + rng.bounded(14);
    const double overtone = rng.bounded(50) / 100.0;
    const double hats = 0.04 + rng.bounded(8) / 100.0;
    return QStringLiteral("st(0,floor(t/%1));st(1,mod(floor(ld(0)/8),4));"
                          "st(2,%2*exp(%3*if(eq(ld(1),0),%4,if(eq(ld(1),1),%5,if(eq(ld(1),2),%6,%7)))));"
                          "st(3,mod(floor(2*t/%1)*%8+floor(ld(0)/16)*%9+%10,7));"
                          "st(4,4*%2*exp(%3*floor(ld(3)*12/7+0.5)));st(5,mod(t,%1/2));"
                          "0.8*(0.16*sin(2*PI*ld(2)*t)"
                          "+0.07*(sin(4*PI*ld(2)*t)+sin(4*PI*ld(2)*%11*t)+sin(4*PI*ld(2)*1.49830708*t))"
                          "+0.16*exp(-ld(5)*%12)*(sin(2*PI*ld(4)*t)+%13*sin(4*PI*ld(4)*t))"
                          "+0.3*exp(-mod(t,%1)*25)*sin(2*PI*60*t)"
                          "+%14*(random(9)-0.5)*exp(-mod(t+%1/2,%1)*60))")
        .arg(num(beat), num(root), num(kSemitone))
        .arg(chord[0])
        .arg(chord[1])
        .arg(chord[2])
        .arg(chord[3])
        .arg(stride)
        .arg(shift)
        .arg(start)
        .arg(num(third), num(decay), num(overtone), num(hats));
}

// The sound of a station ident: a bright pentatonic arpeggio over a swelling chord with a
// noise whoosh at the start, fading out over its last third of a second at `end` seconds.
QString jingleBody(int seed, double end)
{
    QRandomGenerator rng(quint32(seed) * 2246822519u + 7u);
    const double step = 0.12 + rng.bounded(9) / 100.0;
    const double root = 220.0 * std::exp(kSemitone * rng.bounded(12));
    const double third = rng.bounded(2) ? 1.18920712 : 1.25992105;
    const int stride = 1 + rng.bounded(7);
    const int shift = 1 + rng.bounded(7);
    const double decay = 8.0 + rng.bounded(12);
    return QStringLiteral(
               "st(0,floor(t/%1));st(1,2*%2*exp(%3*floor(mod(ld(0)*%4+floor(ld(0)/5)*%5,8)*12/5+0.5)));"
               "st(2,mod(t,%1));"
               "(0.3*exp(-ld(2)*%6)*(sin(2*PI*ld(1)*t)+0.4*sin(4*PI*ld(1)*t))"
               "+0.1*(sin(2*PI*%2*t)+sin(2*PI*%2*%7*t)+sin(2*PI*%2*1.49830708*t))*(1-exp(-t*3))"
               "+0.08*(random(9)-0.5)*exp(-t*4))*min(1,max(0,(%8-t)*3))")
        .arg(num(step), num(root), num(kSemitone))
        .arg(stride)
        .arg(shift)
        .arg(num(decay), num(third), num(end));
}

// Two idents of one station: the same sonic logo for `logoSeconds`, then each its own tail.
QString loggedJingle(int logoSeed, double logoSeconds, int tailSeed, double seconds)
{
    return QStringLiteral("if(lt(t,%1),%2,%3)")
        .arg(num(logoSeconds), jingleBody(logoSeed, 1e9), jingleBody(tailSeed, seconds));
}

// A sound effect of 10 s followed by digital silence up to `seconds`: a swept, pulsing tone
// or band-passed pink noise swelling in and out.
QStringList paddedEffectInput(int kind, double seconds)
{
    const QString pad = QStringLiteral("apad=whole_dur=%1").arg(num(seconds));
    if (kind == 0)
        return expressionInput(QStringLiteral("0.35*sin(2*PI*(180*t+55*t*t))*(0.6+0.4*sin(2*PI*7*t))"
                                              "*min(1,t/1.5)*min(1,max(0,(10-t)/2))"),
                               10) +
               QStringList{"-af", pad};
    return {"-f",
            "lavfi",
            "-i",
            QStringLiteral("anoisesrc=color=pink:seed=4242:a=0.4:d=10:r=%1").arg(kRenderRate),
            "-af",
            QStringLiteral("bandpass=f=1100:width_type=o:w=1.2,afade=t=in:d=3,afade=t=out:st=6:d=4,") + pad};
}

QStringList lossless()
{
    return {"-ar", "44100", "-ac", "2", "-c:a", "flac"};
}
QStringList mp3(int kbps)
{
    return {"-ar", "44100", "-ac", "2", "-c:a", "libmp3lame", "-b:a", QStringLiteral("%1k").arg(kbps)};
}
QStringList aac(int kbps)
{
    return {"-ar", "44100", "-ac", "2", "-c:a", "aac", "-b:a", QStringLiteral("%1k").arg(kbps)};
}

// How a copy is made from its master.
struct Derivation
{
    QStringList codec;
    QString suffix;
    double cutSeconds = 0.0;    // removed from the start
    double leadInSeconds = 0.0; // digital silence added in front
};

Derivation mp3Copy(int kbps)
{
    return {mp3(kbps), QStringLiteral("mp3")};
}
Derivation aacCopy(int kbps)
{
    return {aac(kbps), QStringLiteral("m4a")};
}
Derivation withLeadIn(Derivation d, double seconds)
{
    d.leadInSeconds = seconds;
    return d;
}
Derivation withCut(Derivation d, double seconds)
{
    d.cutSeconds = seconds;
    return d;
}

// One file to make: from a lavfi source when `master` is empty, else from that file.
struct Recipe
{
    QString name;
    QString master;
    QStringList args; // everything between ffmpeg's fixed options and the output path
};

QStringList copyArgs(const QString &masterPath, const Derivation &d)
{
    QStringList args;
    if (d.cutSeconds > 0.0)
        args << "-ss" << num(d.cutSeconds);
    args << "-i" << masterPath;
    if (d.leadInSeconds > 0.0)
        args << "-af" << QStringLiteral("adelay=%1:all=1").arg(qRound(d.leadInSeconds * 1000.0));
    return args + d.codec;
}

// Makes one file under a temporary name and renames it, so an interrupted build never leaves
// a truncated file that a later build would take as made.
bool make(const QString &folder, const Recipe &recipe, QString *error)
{
    const QString target = folder + QLatin1Char('/') + recipe.name;
    if (QFileInfo(target).size() > 0)
        return true;
    const QString partial = folder + QStringLiteral("/partial-") + recipe.name;
    QString why;
    if (!ffmpeg(recipe.args + QStringList{partial}, &why)) {
        QFile::remove(partial);
        *error = QStringLiteral("ffmpeg could not make %1: %2").arg(recipe.name, why.trimmed());
        return false;
    }
    QFile::remove(target);
    if (!QFile::rename(partial, target)) {
        *error = QStringLiteral("could not rename %1").arg(partial);
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Fingerprints and their cache

constexpr quint32 kCacheMagic = 0x52465046; // "RFPF"
constexpr quint32 kCacheVersion = 2;

QString cachePath(const QString &file, Engine engine)
{
    return file + (engine == Engine::BuiltIn ? QStringLiteral(".builtin.fp") : QStringLiteral(".fpcalc.fp"));
}

// The cached result for `file` when it was made from a file of this size, with this many
// seconds and the streams this build has.
bool readCached(const QString &file, Engine engine, int seconds, FingerprintResult &result)
{
    QFile f(cachePath(file, engine));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    QDataStream in(&f);
    quint32 magic = 0, version = 0;
    qint32 cachedSeconds = 0, streams = 0;
    qint64 size = 0;
    in >> magic >> version >> cachedSeconds >> size >> result.durationMs >> streams;
    if (in.status() != QDataStream::Ok || magic != kCacheMagic || version != kCacheVersion ||
        cachedSeconds != seconds || size != QFileInfo(file).size() || streams != kStreamCount)
        return false;
    for (QList<quint32> *stream : streamsOf(result)) {
        QByteArray blob;
        in >> blob;
        *stream = rvw::Fingerprint::fromBlob(blob);
    }
    return in.status() == QDataStream::Ok && !result.fingerprint.isEmpty();
}

void writeCached(const QString &file, Engine engine, int seconds, const FingerprintResult &result)
{
    QSaveFile f(cachePath(file, engine));
    if (!f.open(QIODevice::WriteOnly))
        return;
    QDataStream out(&f);
    out << kCacheMagic << kCacheVersion << qint32(seconds) << qint64(QFileInfo(file).size())
        << result.durationMs << qint32(kStreamCount);
    for (const QList<quint32> *stream : streamsOf(result))
        out << rvw::Fingerprint::toBlob(*stream);
    f.commit();
}

bool sameFingerprint(const FingerprintResult &a, const FingerprintResult &b)
{
    const auto sa = streamsOf(a);
    const auto sb = streamsOf(b);
    for (int i = 0; i < kStreamCount; ++i) {
        if (*sa[i] != *sb[i])
            return false;
    }
    return a.durationMs == b.durationMs;
}

// The scan's own worker, run on the calling thread.
FingerprintResult fingerprintNow(const QString &file, Engine engine, int seconds)
{
    rvw::FingerprintWorker worker(seconds, engine == Engine::Fpcalc);
    FingerprintResult out;
    QObject::connect(&worker, &rvw::FingerprintWorker::completed, &worker,
                     [&out](int, const FingerprintResult &r) { out = r; });
    worker.process(0, file);
    return out;
}

// Cached fingerprints are only as good as the engine that made them: when the program's engine
// now makes something else for one short probe file, every cached result of that engine goes.
void dropStaleCache(const QString &folder, const QString &probe, Engine engine, int seconds)
{
    FingerprintResult cached;
    if (!readCached(probe, engine, seconds, cached) ||
        sameFingerprint(cached, fingerprintNow(probe, engine, seconds)))
        return;
    const QString pattern = QStringLiteral("*") + QFileInfo(cachePath(QString(), engine)).fileName();
    for (const QString &name : QDir(folder).entryList({pattern}, QDir::Files))
        QFile::remove(folder + QLatin1Char('/') + name);
}

// What a scan knows about a file before and after fingerprinting it.
TrackInfo describe(int id, const QString &file, const FingerprintResult &fp)
{
    const QFileInfo info(file);
    TrackInfo t;
    t.id = id;
    t.path = info.absoluteFilePath();
    t.fileName = info.fileName();
    t.format = info.suffix().toLower();
    t.size = info.size();
    t.mtime = info.lastModified();
    rvw::AudioMetadata meta;
    QString error;
    if (rvw::TagReader::read(file, meta, &error)) {
        t.durationMs = meta.durationMs;
        t.bitrate = meta.bitrate;
        t.sampleRate = meta.sampleRate;
        t.channels = meta.channels;
    }
    if (t.durationMs < 1)
        t.durationMs = fp.durationMs;
    const auto from = streamsOf(fp);
    const auto to = streamsOf(t);
    for (int i = 0; i < kStreamCount; ++i)
        *to[i] = *from[i];
    t.analysed = true;
    return t;
}

// Collects the first error of a parallel step.
class FirstError
{
public:
    void set(const QString &message)
    {
        QMutexLocker lock(&mutex);
        if (text.isEmpty())
            text = message;
    }
    QString get()
    {
        QMutexLocker lock(&mutex);
        return text;
    }

private:
    QMutex mutex;
    QString text;
};

// ---------------------------------------------------------------------------------------------
// What the library holds

struct Plan
{
    QList<Recipe> recipes;
    QList<PlantedLibrary::File> files;
    QList<PlantedCopy> copies;
    QList<LookAlike> alikes;
    QString probe; // a short file, cheap to fingerprint again

    int add(const QString &name, const QString &label, const QString &master, const QStringList &args)
    {
        recipes.append({name, master, args});
        files.append({name, label});
        return int(files.size()) - 1;
    }
};

Plan plan(const QString &folder)
{
    Plan p;
    const auto path = [&](const QString &name) { return folder + QLatin1Char('/') + name; };
    const auto plantCopy = [&](const QString &caseName, const QString &stem, const QString &label,
                               const QStringList &source, const Derivation &d) {
        const QString masterName = stem + QStringLiteral(".flac");
        const int base = p.add(masterName, label, QString(), source + lossless());
        const QString copyName = stem + QStringLiteral("-copy.") + d.suffix;
        const int copy = p.add(copyName, label, masterName, copyArgs(path(masterName), d));
        p.copies.append({caseName, base, copy, d.leadInSeconds - d.cutSeconds});
    };

    // One song per case, so a copy can only reach its base directly, never through another
    // copy. 60 to 70 s: just over the fingerprinted minute, as longer songs cost build time and
    // add nothing a scan would see.
    int song = 0;
    const auto songCase = [&](const QString &caseName, const Derivation &d) {
        ++song;
        const double seconds = 60 + (song * 7) % 11;
        const QString stem = QStringLiteral("song%1").arg(song, 2, 10, QLatin1Char('0'));
        plantCopy(caseName, stem, stem, expressionInput(songExpression(song), seconds), d);
    };
    songCase(QStringLiteral("re-encode MP3 128 kbit/s"), mp3Copy(128));
    songCase(QStringLiteral("re-encode MP3 32 kbit/s"), mp3Copy(32));
    songCase(QStringLiteral("re-encode AAC 96 kbit/s"), aacCopy(96));
    songCase(QStringLiteral("40 ms more lead-in"), withLeadIn(mp3Copy(192), 0.040));
    songCase(QStringLiteral("62 ms more lead-in"), withLeadIn(aacCopy(128), 0.062));
    songCase(QStringLiteral("80 ms more lead-in"), withLeadIn(mp3Copy(128), 0.080));
    songCase(QStringLiteral("110 ms more lead-in"), withLeadIn(mp3Copy(160), 0.110));
    songCase(QStringLiteral("first 0.8 s cut"), withCut(mp3Copy(128), 0.8));
    songCase(QStringLiteral("0.5 s of silence in front"), withLeadIn(mp3Copy(192), 0.5));
    songCase(QStringLiteral("2 s of silence in front"), withLeadIn(mp3Copy(128), 2.0));
    songCase(QStringLiteral("7 s of silence in front"), withLeadIn(mp3Copy(128), 7.0));
    songCase(QStringLiteral("15 s of silence in front"), withLeadIn(mp3Copy(256), 15.0));
    songCase(QStringLiteral("cold start cut by 5 s"), withCut(mp3Copy(128), 5.0));
    songCase(QStringLiteral("cold start cut by 15 s"), withCut(aacCopy(128), 15.0));

    // Station idents, short enough that little of them is left to compare.
    int jingle = 0;
    const auto jingleCase = [&](const QString &caseName, double seconds, const Derivation &d) {
        ++jingle;
        const QString stem = QStringLiteral("ident%1").arg(jingle, 2, 10, QLatin1Char('0'));
        plantCopy(caseName, stem, stem, expressionInput(jingleBody(jingle, seconds), seconds), d);
    };
    jingleCase(QStringLiteral("5.5 s ident, MP3 128 kbit/s"), 5.5, mp3Copy(128));
    p.probe = path(p.files[p.copies.last().base].name);
    jingleCase(QStringLiteral("8 s ident, AAC 96 kbit/s"), 8.0, aacCopy(96));
    jingleCase(QStringLiteral("10 s ident, MP3 64 kbit/s"), 10.0, mp3Copy(64));
    jingleCase(QStringLiteral("6 s ident, 120 ms more lead-in"), 6.0, withLeadIn(mp3Copy(128), 0.120));
    jingleCase(QStringLiteral("9.5 s ident, 120 ms more lead-in"), 9.5, withLeadIn(aacCopy(128), 0.120));

    // Look-alikes: one station's two idents that open with the same 3.5 s logo, and two
    // different effects that are three quarters digital silence.
    constexpr int kLogoSeed = 90;
    const int logoA = p.add(QStringLiteral("logo-ident-a.mp3"), QStringLiteral("logo-ident-a"), QString(),
                            expressionInput(loggedJingle(kLogoSeed, 3.5, 91, 7.0), 7.0) + mp3(128));
    const int logoB = p.add(QStringLiteral("logo-ident-b.mp3"), QStringLiteral("logo-ident-b"), QString(),
                            expressionInput(loggedJingle(kLogoSeed, 3.5, 92, 6.5), 6.5) + mp3(128));
    p.alikes.append({QStringLiteral("two idents sharing a 3.5 s logo"), logoA, logoB, 3.5, true});
    const int effectA = p.add(QStringLiteral("effect-sweep.mp3"), QStringLiteral("effect-sweep"), QString(),
                              paddedEffectInput(0, 40.0) + mp3(128));
    const int effectB = p.add(QStringLiteral("effect-noise.mp3"), QStringLiteral("effect-noise"), QString(),
                              paddedEffectInput(1, 40.0) + mp3(128));
    p.alikes.append(
        {QStringLiteral("two 10 s effects padded to 40 s with silence"), effectA, effectB, 30.0, false});
    return p;
}

// One master, the copies made from it and, once all are made, their fingerprints per engine.
struct Chain
{
    QList<int> files;                    // the master first
    QList<FingerprintResult> results[2]; // per engine, parallel to files
};

QList<Chain> chainsOf(const Plan &p)
{
    QList<Chain> chains;
    for (int i = 0; i < p.recipes.size(); ++i) {
        if (!p.recipes[i].master.isEmpty())
            continue;
        Chain chain;
        chain.files.append(i);
        for (int j = 0; j < p.recipes.size(); ++j) {
            if (p.recipes[j].master == p.recipes[i].name)
                chain.files.append(j);
        }
        chains.append(chain);
    }
    return chains;
}

// Makes the chain's files and fingerprints them, or reads their cached fingerprints.
void runChain(Chain &chain, const Plan &p, const QString &folder, const QList<Engine> &engines, int seconds,
              FirstError &failure, QAtomicInt &fresh)
{
    for (int f : std::as_const(chain.files)) {
        QString why;
        if (!make(folder, p.recipes[f], &why)) {
            failure.set(why);
            return;
        }
    }
    for (Engine e : engines) {
        for (int f : std::as_const(chain.files)) {
            const QString file = folder + QLatin1Char('/') + p.files[f].name;
            FingerprintResult result;
            if (!readCached(file, e, seconds, result)) {
                result = fingerprintNow(file, e, seconds);
                if (result.fingerprint.isEmpty()) {
                    failure.set(QStringLiteral("%1 could not fingerprint %2: %3")
                                    .arg(engineName(e), p.files[f].name, result.error));
                    return;
                }
                writeCached(file, e, seconds, result);
                fresh.fetchAndAddRelaxed(1);
            }
            chain.results[int(e)].append(result);
        }
    }
}

} // namespace

QString engineName(Engine engine)
{
    return engine == Engine::BuiltIn ? QStringLiteral("built-in") : QStringLiteral("fpcalc");
}

QString PlantedLibrary::recipeVersion()
{
    return QStringLiteral("1");
}

bool PlantedLibrary::build(const QString &where, int seconds, QString *error)
{
    if (ffmpegPath().isEmpty() || !rvw::AudioDecode::ffmpegAvailable()) {
        *error = QStringLiteral("ffmpeg is not installed");
        return false;
    }
    folder = QDir(where).absolutePath();
    const Plan p = plan(folder);
    files = p.files;
    plantedCopies = p.copies;
    alikes = p.alikes;
    builtIn.clear();
    fpcalc.clear();

    QList<Engine> engines{Engine::BuiltIn};
    if (rvw::Chromaprint::available())
        engines.append(Engine::Fpcalc);
    for (Engine e : std::as_const(engines))
        dropStaleCache(folder, p.probe, e, seconds);

    // Chains run two or more at a time, the costly songs first.
    QList<Chain> chains = chainsOf(p);
    FirstError failure;
    QAtomicInt fresh(0);
    QtConcurrent::blockingMap(
        chains, [&](Chain &chain) { runChain(chain, p, folder, engines, seconds, failure, fresh); });
    computed = fresh.loadRelaxed();
    if (!failure.get().isEmpty()) {
        *error = failure.get();
        return false;
    }
    for (Engine e : std::as_const(engines)) {
        QList<FingerprintResult> byFile(files.size());
        for (const Chain &chain : std::as_const(chains)) {
            for (int k = 0; k < chain.files.size(); ++k)
                byFile[chain.files[k]] = chain.results[int(e)][k];
        }
        QList<TrackInfo> &list = e == Engine::BuiltIn ? builtIn : fpcalc;
        for (int f = 0; f < files.size(); ++f)
            list.append(describe(f, folder + QLatin1Char('/') + files[f].name, byFile[f]));
    }
    return true;
}

bool PlantedLibrary::hasEngine(Engine engine) const
{
    return !(engine == Engine::BuiltIn ? builtIn : fpcalc).isEmpty();
}

LabelledTracks PlantedLibrary::tracks(Engine engine) const
{
    LabelledTracks out;
    out.tracks = engine == Engine::BuiltIn ? builtIn : fpcalc;
    for (const File &f : files)
        out.labels.append(f.label);
    return out;
}

// ---------------------------------------------------------------------------------------------
// Padding

namespace {

constexpr int kMinSegment = 8;
constexpr int kMaxSegment = 16;

quint32 sparseFlip(QRandomGenerator &rng)
{
    const uint bits = 3 + rng.bounded(4u);
    quint32 m = 0;
    while (qPopulationCount(m) < bits)
        m |= 1u << rng.bounded(32);
    return m;
}

// Words usable from a pool item: the span that all of its non-empty streams cover.
int usableLength(const TrackInfo &t)
{
    qsizetype n = t.fingerprint.size();
    for (const QList<quint32> *stream : streamsOf(t)) {
        if (!stream->isEmpty())
            n = std::min(n, stream->size());
    }
    return int(n);
}

QList<int> poolOf(const QList<TrackInfo> &tracks, const QStringList &labels)
{
    qsizetype fullLength = 0;
    for (const TrackInfo &t : tracks)
        fullLength = std::max(fullLength, t.fingerprint.size());
    QSet<QString> seen;
    QList<int> pool;
    for (int i = 0; i < tracks.size(); ++i) {
        if (seen.contains(labels[i]))
            continue;
        seen.insert(labels[i]);
        if (tracks[i].fingerprint.size() * 20 >= fullLength * 19 && usableLength(tracks[i]) > kMaxSegment)
            pool.append(i);
    }
    return pool;
}

// An index key is the order of the four strongest pitch classes. A spliced run moves its
// keys to other pitch classes (one permutation of the twelve per run, as another song in
// another key would have), so its pattern of repeats and changes stays while one pool run
// spliced into many tracks does not bring its keys along verbatim. "No key" stays as it is.
quint32 permutedKey(quint32 key, quint64 seed)
{
    if (key == rvw::Fingerprint::kNoKey)
        return key;
    std::array<quint32, 12> to;
    for (quint32 c = 0; c < 12; ++c)
        to[c] = c;
    std::shuffle(to.begin(), to.end(), std::mt19937_64(seed));
    quint32 digits[4];
    for (int i = 3; i >= 0; --i) {
        digits[i] = key % 12;
        key /= 12;
    }
    quint32 out = 0;
    for (quint32 d : digits)
        out = out * 12 + to[d];
    return out;
}

// Appends one segment of every stream the pool item has: words and alt words with the
// segment's bits flipped, masks as they are, keys moved to other pitch classes.
void appendSegment(TrackInfo &to, const TrackInfo &from, const PaddingSegment &s)
{
    const auto out = streamsOf(to);
    const auto in = streamsOf(from);
    for (int i = 0; i < kStreamCount; ++i) {
        if (in[i]->isEmpty())
            continue;
        for (int k = 0; k < s.length; ++k) {
            const quint32 v = (*in[i])[s.source + k];
            if (i == kWords || i == kAltWords)
                out[i]->append(v ^ s.flip);
            else if (i == kKeys)
                out[i]->append(permutedKey(v, s.keySeed));
            else
                out[i]->append(v);
        }
    }
}

TrackInfo paddingTrack(int id, QRandomGenerator &rng)
{
    TrackInfo t;
    t.id = id;
    t.fileName = QStringLiteral("%1 - Track %2.mp3").arg(id % 9973).arg(id);
    t.path = QStringLiteral("/padding/Artist %1/Album %2/%3").arg(id % 1499).arg(id % 211).arg(t.fileName);
    t.format = QStringLiteral("mp3");
    t.durationMs = 120000 + rng.bounded(240001);
    static const int kBitrates[] = {128, 160, 192, 256, 320};
    t.bitrate = kBitrates[rng.bounded(5)];
    t.size = t.durationMs * t.bitrate / 8;
    t.sampleRate = 44100;
    t.channels = 2;
    t.analysed = true;
    return t;
}

// Segments of 8 to 16 words covering `length` words, each from another pool item than the one
// before, at a random position.
QList<PaddingSegment> spliceSegments(const QList<TrackInfo> &tracks, const QList<int> &pool, int length,
                                     QRandomGenerator &rng)
{
    QList<PaddingSegment> segments;
    int previous = -1;
    for (int dest = 0; dest < length;) {
        PaddingSegment s;
        do {
            s.poolItem = int(rng.bounded(int(pool.size())));
        } while (s.poolItem == previous);
        previous = s.poolItem;
        s.length = std::min(kMinSegment + int(rng.bounded(kMaxSegment - kMinSegment + 1)), length - dest);
        s.source = int(rng.bounded(usableLength(tracks[pool[s.poolItem]]) - s.length + 1));
        s.dest = dest;
        s.flip = sparseFlip(rng);
        s.keySeed = rng.generate64();
        segments.append(s);
        dest += s.length;
    }
    return segments;
}

} // namespace

Padding padTo(QList<TrackInfo> &tracks, QStringList &labels, int total, quint32 seed)
{
    Padding padding;
    padding.firstTrack = int(tracks.size());
    padding.poolTracks = poolOf(tracks, labels);
    if (padding.poolTracks.size() < 2 || tracks.size() >= total)
        return padding;
    int length = 0;
    for (int p : std::as_const(padding.poolTracks))
        length = std::max(length, int(tracks[p].fingerprint.size()));

    QRandomGenerator rng(seed);
    tracks.reserve(total);
    labels.reserve(total);
    while (tracks.size() < total) {
        const int id = int(tracks.size());
        TrackInfo t = paddingTrack(id, rng);
        const QList<PaddingSegment> segments = spliceSegments(tracks, padding.poolTracks, length, rng);
        for (const PaddingSegment &s : segments)
            appendSegment(t, tracks[padding.poolTracks[s.poolItem]], s);
        tracks.append(t);
        labels.append(QStringLiteral("padding %1").arg(id));
        padding.segments.append(segments);
    }
    return padding;
}

namespace {

// Words shared per (track, offset) for one checked track: open addressing over a table that is
// emptied by bumping a stamp, since it is refilled thousands of times.
class ShareCounter
{
public:
    ShareCounter() : table(1 << 16) {}

    void clear()
    {
        ++stamp;
        used = 0;
    }

    void add(int track, int offset, int words)
    {
        if (used * 2 >= table.size())
            grow();
        Slot &s = find(key(track, offset));
        if (s.stamp != stamp) {
            s = {key(track, offset), 0, stamp};
            ++used;
        }
        s.words += words;
    }

    // The (track, offset) with the most words of this round.
    void best(SharedRun &run, int first) const
    {
        for (const Slot &s : table) {
            if (s.stamp == stamp && s.words > run.words) {
                run.words = s.words;
                run.first = first;
                run.second = int(s.key >> 32);
                run.offset = qint32(quint32(s.key));
            }
        }
    }

private:
    struct Slot
    {
        quint64 key = 0;
        int words = 0;
        quint32 stamp = 0;
    };

    static quint64 key(int track, int offset) { return (quint64(quint32(track)) << 32) | quint32(offset); }

    Slot &find(quint64 k)
    {
        const size_t mask = table.size() - 1;
        size_t i = size_t((k * 0x9E3779B97F4A7C15ull) >> 40) & mask;
        while (table[i].stamp == stamp && table[i].key != k)
            i = (i + 1) & mask;
        return table[i];
    }

    void grow()
    {
        std::vector<Slot> old;
        old.swap(table);
        table.assign(old.size() * 2, Slot());
        for (const Slot &s : old) {
            if (s.stamp == stamp)
                find(s.key) = s;
        }
    }

    std::vector<Slot> table;
    quint32 stamp = 1;
    size_t used = 0;
};

// The padding tracks to check: all, or `checked` of them drawn with `seed`.
QList<int> checkedTracks(int count, int checked, quint32 seed)
{
    QList<int> order(count);
    for (int i = 0; i < count; ++i)
        order[i] = i;
    if (checked > 0 && checked < count) {
        QRandomGenerator rng(seed);
        for (int i = 0; i < checked; ++i)
            std::swap(order[i], order[i + int(rng.bounded(count - i))]);
        order.resize(checked);
    }
    return order;
}

} // namespace

SharedRun longestSharedRun(const Padding &padding, int checked, quint32 seed)
{
    struct Use
    {
        int track; // padding track number
        int segment;
    };
    // For every pool item, the padding segments by their first source word.
    QList<QHash<int, QList<Use>>> byStart(padding.poolTracks.size());
    for (int t = 0; t < padding.segments.size(); ++t) {
        const QList<PaddingSegment> &list = padding.segments[t];
        for (int s = 0; s < list.size(); ++s)
            byStart[list[s].poolItem][list[s].source].append({t, s});
    }

    const QList<int> order = checkedTracks(int(padding.segments.size()), checked, seed);
    // When every track is checked, each pair needs counting from one side only.
    const bool all = order.size() == padding.segments.size();
    SharedRun best;
    ShareCounter shared;
    for (int a : order) {
        shared.clear();
        for (const PaddingSegment &s : padding.segments[a]) {
            // The pool item itself holds the words at their source positions.
            shared.add(padding.poolTracks[s.poolItem], s.source - s.dest, s.length);
            const QHash<int, QList<Use>> &starts = byStart[s.poolItem];
            for (int from = std::max(0, s.source - kMaxSegment + 1); from < s.source + s.length; ++from) {
                const auto it = starts.constFind(from);
                if (it == starts.constEnd())
                    continue;
                for (const Use &u : *it) {
                    if (u.track == a || (all && u.track < a))
                        continue;
                    const PaddingSegment &o = padding.segments[u.track][u.segment];
                    const int overlap =
                        std::min(s.source + s.length, o.source + o.length) - std::max(s.source, o.source);
                    if (overlap > 0)
                        shared.add(padding.firstTrack + u.track, (o.dest - o.source) - (s.dest - s.source),
                                   overlap);
                }
            }
        }
        shared.best(best, padding.firstTrack + a);
    }
    return best;
}

double plainBitErrorRate(const QList<quint32> &a, const QList<quint32> &b, int offset)
{
    const qsizetype begin = std::max<qsizetype>(0, -offset);
    const qsizetype end = std::min<qsizetype>(a.size(), b.size() - offset);
    if (end <= begin)
        return 1.0;
    qint64 bits = 0;
    for (qsizetype i = begin; i < end; ++i)
        bits += qPopulationCount(a[i] ^ b[i + offset]);
    return double(bits) / (32.0 * double(end - begin));
}

// ---------------------------------------------------------------------------------------------
// Judging

Verdict judge(const QList<MatchGroup> &groups, const LabelledTracks &library, const PlantedLibrary &planted)
{
    Verdict v;
    QHash<int, int> groupOf;
    for (int g = 0; g < groups.size(); ++g) {
        for (int m : groups[g].members)
            groupOf.insert(m, g);
    }
    const auto together = [&](int a, int b) {
        return groupOf.contains(a) && groupOf.value(a) == groupOf.value(b, -1);
    };
    const auto name = [&](int track) { return library.tracks[track].fileName; };

    for (const PlantedCopy &c : planted.copies()) {
        const QString line = QStringLiteral("%1 (%2 with %3)").arg(c.name, name(c.copy), name(c.base));
        (together(c.base, c.copy) ? v.found : v.missed).append(line);
    }
    for (const LookAlike &l : planted.lookAlikes()) {
        const QString line = QStringLiteral("%1 (%2 with %3)").arg(l.name, name(l.first), name(l.second));
        (together(l.first, l.second) ? v.mixedUp : v.keptApart).append(line);
    }
    constexpr int kExamples = 12;
    for (const MatchGroup &g : groups) {
        QHash<QString, qint64> perLabel;
        for (int m : g.members)
            ++perLabel[library.labels[m]];
        qint64 pairs = qint64(g.members.size()) * (g.members.size() - 1) / 2;
        for (qint64 c : std::as_const(perLabel))
            pairs -= c * (c - 1) / 2;
        v.falsePairs += pairs;
        for (int i = 0; i < g.members.size() && v.falsePairExamples.size() < kExamples; ++i) {
            for (int j = i + 1; j < g.members.size() && v.falsePairExamples.size() < kExamples; ++j) {
                const int a = g.members[i];
                const int b = g.members[j];
                if (library.labels[a] != library.labels[b])
                    v.falsePairExamples.append(
                        QStringLiteral("%1 [%2] with %3 [%4]")
                            .arg(name(a), library.labels[a], name(b), library.labels[b]));
            }
        }
    }
    return v;
}

QString Verdict::summary() const
{
    return QStringLiteral("%1 of %2 planted copies grouped with their base, %3 look-alike pair(s) grouped, "
                          "%4 false pair(s)")
        .arg(found.size())
        .arg(found.size() + missed.size())
        .arg(mixedUp.size())
        .arg(falsePairs);
}

QString Verdict::failures() const
{
    QStringList lines;
    if (!missed.isEmpty()) {
        lines << QStringLiteral("Planted copies not grouped with their base:");
        for (const QString &m : missed)
            lines << QStringLiteral("  - ") + m;
    }
    if (!mixedUp.isEmpty()) {
        lines << QStringLiteral("Different recordings grouped together:");
        for (const QString &m : mixedUp)
            lines << QStringLiteral("  - ") + m;
    }
    if (falsePairs > 0) {
        lines << QStringLiteral("%1 false pair(s) (tracks of different recordings in one group), e.g.:")
                     .arg(falsePairs);
        for (const QString &e : falsePairExamples)
            lines << QStringLiteral("  - ") + e;
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace rvwtest

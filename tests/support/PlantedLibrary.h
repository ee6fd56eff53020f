#pragma once

// A library of real audio files made with ffmpeg: distinct songs, idents and effects, lossy
// copies planted from some of them and look-alikes that are different recordings, fingerprinted
// by both engines the way a scan does. Shared by the recall suite and the recall benchmark.
// Every track carries a label naming its recording: copies share their base's label.
#include "core/Types.h"

#include <QList>
#include <QStringList>

namespace rvwtest {

// Values equal ScanOptions::engine.
enum class Engine
{
    BuiltIn = 0,
    Fpcalc = 1
};
QString engineName(Engine engine);

// Two tracks (indices). A planted copy (second) of its base (first), whose audio starts
// shiftSeconds later (negative: its start is cut), must be grouped with it; a look-alike pair is
// two different recordings made to look alike (a shared logo, mostly digital silence).
struct Pair
{
    QString name;
    int first = -1;
    int second = -1;
    double shiftSeconds = 0.0;
};

struct LabelledTracks
{
    QList<rvw::TrackInfo> tracks; // id equals the index
    QStringList labels;           // parallel to tracks
};

class PlantedLibrary
{
public:
    // Makes the files in `folder` (overwriting any there) and fingerprints them, `seconds` of
    // audio, with each engine that is installed. False with a message when ffmpeg is missing or
    // a step fails.
    bool build(const QString &folder, int seconds, QString *error);
    bool hasEngine(Engine engine) const { return !fingerprinted[int(engine)].isEmpty(); }
    LabelledTracks tracks(Engine engine) const { return {fingerprinted[int(engine)], labels}; }
    const QList<Pair> &copies() const { return planted; }
    const QList<Pair> &lookAlikes() const { return alikes; }
    int fileCount() const { return int(labels.size()); }

private:
    QStringList labels;
    QList<Pair> planted, alikes;
    QList<rvw::TrackInfo> fingerprinted[2];
};

// Appends distinct tracks until `library` holds `total`, each with its own label: runs of 8 to 16
// words (with masks, alt words and keys) spliced from the full-length tracks of different
// labels, every run with a few bits flipped and its keys moved to other pitch classes, so that
// no run recurs verbatim. Deterministic for a seed; returns the number of pool tracks used.
int padTo(LabelledTracks &library, int total, quint32 seed);

struct Verdict
{
    int found = 0;         // planted copies grouped with their base
    qint64 falsePairs = 0; // pairs of tracks with different labels in one group
    // Copies not grouped with their base, look-alikes grouped, the first false pairs.
    QStringList problems;
};

Verdict judge(const QList<rvw::MatchGroup> &groups, const LabelledTracks &library,
              const PlantedLibrary &planted);

} // namespace rvwtest

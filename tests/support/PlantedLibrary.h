#pragma once

// A library of real audio files made with ffmpeg, holding distinct recordings and planted lossy
// copies of some of them, fingerprinted by both engines the way a scan does. It measures how
// well acoustic grouping finds copies (recall) and keeps different recordings apart (false
// pairs); the recall suite and the recall benchmark share it.
//
// Every track carries a label naming the recording it holds: copies of one recording share a
// label, every other item has its own.

#include "core/Types.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace rvwtest {

// Values equal ScanOptions::engine.
enum class Engine
{
    BuiltIn = 0,
    Fpcalc = 1
};

QString engineName(Engine engine);

// A copy planted in the library and the item it copies: grouping must join the two.
struct PlantedCopy
{
    QString name;
    int base = -1; // track indices
    int copy = -1;
    double shiftSeconds = 0.0; // how much later the audio starts in the copy (negative: cut)
};

// Two different recordings made to look alike: grouping must keep them apart.
struct LookAlike
{
    QString name;
    int first = -1;
    int second = -1;
    double sharedSeconds = 0.0; // both hold the same audio this long (a logo, digital silence)
    bool sharedAtStart = true;  // at their start, else at their end
};

struct LabelledTracks
{
    QList<rvw::TrackInfo> tracks; // id equals the index
    QStringList labels;           // parallel to tracks
};

class PlantedLibrary
{
public:
    // Makes the files missing from `folder` (which must exist) and fingerprints every file with
    // each engine that is installed, `seconds` of audio like ScanOptions::fingerprintSeconds.
    // Fingerprints are cached next to their files, so a second build in the same folder only
    // reads them. False with a message when ffmpeg is missing or a step fails.
    bool build(const QString &folder, int seconds, QString *error);

    bool hasEngine(Engine engine) const;
    LabelledTracks tracks(Engine engine) const;
    const QList<PlantedCopy> &copies() const { return plantedCopies; }
    const QList<LookAlike> &lookAlikes() const { return alikes; }
    int fileCount() const { return int(files.size()); }
    // Fingerprints computed by the last build rather than read from the cache.
    int fingerprintsComputed() const { return computed; }

    // Bumped whenever a recipe changes, so a cache folder made by an older recipe is not reused.
    static QString recipeVersion();

    struct File
    {
        QString name;
        QString label;
    };

private:
    QString folder;
    QList<File> files;
    QList<PlantedCopy> plantedCopies;
    QList<LookAlike> alikes;
    QList<rvw::TrackInfo> builtIn;
    QList<rvw::TrackInfo> fpcalc;
    int computed = 0;
};

// ---------------------------------------------------------------------------------------------
// Padding: distinct tracks spliced from the fingerprints of real items, so a large library
// needs no more decoding than the planted one.

struct PaddingSegment
{
    int poolItem = 0; // index into Padding::poolTracks
    int source = 0;   // first word taken from the pool item
    int dest = 0;     // where it lands in the padding track
    int length = 0;
    quint32 flip = 0; // bits flipped in every word of the segment
    quint64 keySeed = 0; // picks the pitch classes the segment's index keys are moved to
};

struct Padding
{
    QList<int> poolTracks;                 // track index of each pool item
    int firstTrack = 0;                    // index of the first padding track
    QList<QList<PaddingSegment>> segments; // per padding track
};

// Appends distinct tracks until `tracks` holds `total`, each with its own label. The pool is
// one track per label among the existing tracks, those whose fingerprint has full length (a
// song at least as long as the fingerprinted span). Each padding track strings together runs of
// 8 to 16 words from different pool items at random positions, masks, alt words and index
// keys taken from the same positions. Every run has a few bits of its words flipped (and its
// keys moved, see the .cpp) so that a pool run does not recur verbatim in hundreds of tracks.
// Deterministic for a seed. Nothing happens with fewer than two pool items or when `tracks`
// already holds `total`.
Padding padTo(QList<rvw::TrackInfo> &tracks, QStringList &labels, int total, quint32 seed);

// The most words that one padding track shares, by origin, with another padding track or a
// pool item at one relative offset: a bound on any aligned run the two have in common,
// regardless of the flipped bits. `checked` padding tracks (all when 0 or more than there are)
// chosen with `seed` are compared with every other.
struct SharedRun
{
    int words = 0;
    int first = -1; // track indices
    int second = -1;
    int offset = 0;
};
SharedRun longestSharedRun(const Padding &padding, int checked, quint32 seed);

// Fraction of differing bits between a and b with a's word i against b's word i + offset;
// 1.0 when they do not overlap.
double plainBitErrorRate(const QList<quint32> &a, const QList<quint32> &b, int offset);

// ---------------------------------------------------------------------------------------------
// Judging a grouping of planted (and optionally padded) tracks.

struct Verdict
{
    QStringList found;     // planted copies grouped with their base
    QStringList missed;    // planted copies not grouped with their base
    QStringList keptApart; // look-alikes in different groups (or none)
    QStringList mixedUp;   // look-alikes grouped together
    qint64 falsePairs = 0; // pairs of tracks with different labels in one group
    QStringList falsePairExamples;

    bool passed() const { return missed.isEmpty() && mixedUp.isEmpty() && falsePairs == 0; }
    QString summary() const;
    QString failures() const;
};

Verdict judge(const QList<rvw::MatchGroup> &groups, const LabelledTracks &library,
              const PlantedLibrary &planted);

} // namespace rvwtest

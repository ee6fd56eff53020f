#pragma once

#include "core/Types.h"

#include <QAtomicInt>
#include <QList>

#include <functional>

namespace rvw {

// Finds the tracks that hold the same recording by their fingerprints, however large the
// library, wherever the audio starts in each file.
//
// Every track contributes keys with their positions: the built-in engine's pitch-profile keys
// (two windows half a second apart), fpcalc's values as they are. Tracks that share keys vote
// for the offset between them; only a pair with several votes at one offset is compared in
// full, and only near that offset. A pair matches when its bit error rate over the words
// that hold audio is within the threshold and the agreeing part covers most of the shorter
// item: digital silence counts neither for nor against a match, and a shared intro or logo
// followed by different audio is not the same recording.
class AcousticMatcher
{
public:
    struct Match
    {
        int a = -1;
        int b = -1;
        int offset = 0; // word i of a lies at word i + offset of b
        double rate = 1.0;
    };
    using Progress = std::function<void(double fraction, const char *text)>;
    // Pairs already known to be one recording are not compared again; `found` hears of each
    // match as soon as it is made, so it can join the pair before the next comparison.
    using Joined = std::function<bool(int a, int b)>;
    using Found = std::function<void(const Match &match)>;

    // The largest start difference between two copies that is still searched, in words.
    static constexpr int kMaxOffsetWords = 125;

    // A cancel ends the search early; the matches made so far are still returned.
    static QList<Match> find(const QList<TrackInfo> &tracks, const ScanOptions &options, const QAtomicInt &cancel,
                             const Progress &progress = Progress(), const Joined &joined = Joined(),
                             const Found &found = Found());

    // The full comparison of one pair near `offset` (within +-2 words). Exposed for tests and
    // for the benchmark; `find` uses it for every voted candidate.
    static bool compare(const TrackInfo &a, const TrackInfo &b, int offset, const ScanOptions &options,
                        Match *match = nullptr);
};

} // namespace rvw

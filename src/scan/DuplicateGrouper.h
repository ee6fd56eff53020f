#pragma once

#include "core/Types.h"

#include <QAtomicInt>
#include <QList>

#include <functional>

namespace rvw {

// Turns a scan's analysed tracks into duplicate groups. Pure apart from the progress
// callback; never touches the files.
class DuplicateGrouper
{
public:
    using Progress = std::function<void(int value, int maximum, const QString &message)>;

    // Links tracks by whole-file hash, payload hash, acoustic fingerprint and normalised
    // artist/title, merges the links into groups (a group takes the least certain tier of
    // its links), proposes a keeper per group and sorts by tier, then reclaimable bytes.
    // Members joined by anything but a metadata link are one recording; the best copy of
    // every recording besides the keeper's is proposed for keeping too.
    // Track indices are positions in `tracks` and must equal TrackInfo::id. A cancel ends
    // the acoustic phase early and skips the metadata phase; the groups found so far are
    // still returned.
    static QList<MatchGroup> group(const QList<TrackInfo> &tracks, const ScanOptions &options,
                                   const QAtomicInt &cancel, const Progress &progress = Progress());

    // The member proposed for keeping under options.keeperPolicy; -1 for an empty group.
    static int chooseKeeper(const MatchGroup &group, const QList<TrackInfo> &tracks, const ScanOptions &options);

    // Makes `keeper` the group's keeper, proposes under options.keeperPolicy the best copy
    // of each other recording of the group for keeping as well, and recounts the bytes
    // that removing the rest frees.
    static void setKeeper(MatchGroup &group, int keeper, const QList<TrackInfo> &tracks, const ScanOptions &options);
};

// Artist and title reduced to a comparable form for the metadata tier: Unicode compatibility
// form, case folded, without bracketed qualifiers such as "(Remastered 2009)", without
// accents on Latin letters, keeping only letters and digits of any script (with the marks
// they need) and single spaces, and without a leading "the ".
QString normaliseForMatching(const QString &text);

} // namespace rvw

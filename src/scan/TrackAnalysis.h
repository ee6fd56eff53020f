#pragma once

#include "audio/ByteRange.h"
#include "core/Types.h"

#include <QAtomicInt>
#include <QList>

namespace rvw {

// The per-file work of a scan before fingerprinting: tags and stream properties first, then only
// the hashes that can matter. A whole-file hash can only match a file of the same size, an audio
// hash only one of the same payload length, so a file without such a partner is not read for
// hashing at all; its hashes are made when a partner appears (the cache records which a row
// holds) or when the file ends up in a group.
namespace TrackAnalysis {

// Where a file's coded audio lies, as the tag reader found it. Kept only when small (an Ogg file
// lists every page), otherwise read again in the rare case the audio hash is wanted.
struct Payload
{
    QList<ByteRange> ranges; // empty: the whole file
    bool known = false;
};

// Reads tags, stream properties and the payload length of a track that lacks them (a cached
// track keeps its own). Never touches the hashes.
void readTags(TrackInfo &track, Payload &payload);

// Which hashes the tracks need: per track, bit HasFullHash and/or HasAudioHash for hashes the
// options ask for, that a partner of equal size or payload length makes possible, and that the
// track does not hold yet.
QList<quint8> plannedHashes(const QList<TrackInfo> &tracks, const ScanOptions &options);

// Makes the hashes in `wanted` in one read of the file. A cancel leaves the track as it was; a
// read failure sets its error.
void hash(TrackInfo &track, Payload &payload, quint8 wanted, const QAtomicInt &cancel);

} // namespace TrackAnalysis

} // namespace rvw

#include "scan/TrackAnalysis.h"

#include "audio/Hasher.h"
#include "audio/TagReader.h"

#include <QHash>

namespace rvw::TrackAnalysis {

namespace {

// Pieces kept per file between reading and hashing: one range is the usual case; an Ogg page
// list of thousands across a large library would cost more memory than reading its headers again.
constexpr qsizetype kKeptPieces = 8;

void takeMetadata(TrackInfo &track, const AudioMetadata &meta)
{
    track.title = meta.title;
    track.artist = meta.artist;
    track.album = meta.album;
    track.albumArtist = meta.albumArtist;
    track.genre = meta.genre;
    track.year = meta.year;
    track.comment = meta.comment;
    track.trackNo = meta.trackNo;
    track.durationMs = meta.durationMs;
    track.bitrate = meta.bitrate;
    track.sampleRate = meta.sampleRate;
    track.channels = meta.channels;
}

} // namespace

void readTags(TrackInfo &track, Payload &payload)
{
    if (track.analyses & TrackInfo::HasTags)
        return;
    AudioMetadata meta;
    QString error;
    if (TagReader::read(track.path, meta, &error))
        takeMetadata(track, meta);
    else if (!error.isEmpty() && track.error.isEmpty())
        track.error = error;
    const qint64 length = meta.payloadLength();
    track.payloadLength = length >= 1 ? length : track.size;
    payload.ranges = length >= 1 ? meta.payloadRanges() : QList<ByteRange>();
    payload.known = payload.ranges.size() <= kKeptPieces;
    if (!payload.known)
        payload.ranges.clear();
    track.analyses |= TrackInfo::HasTags;
}

QList<quint8> plannedHashes(const QList<TrackInfo> &tracks, const ScanOptions &options)
{
    QHash<qint64, int> sizes, payloads;
    for (const TrackInfo &t : tracks) {
        ++sizes[t.size];
        ++payloads[t.payloadLength];
    }
    QList<quint8> plan;
    plan.reserve(tracks.size());
    for (const TrackInfo &t : tracks) {
        quint8 wanted = 0;
        if (options.detectIdentical && sizes.value(t.size) >= 2 && !(t.analyses & TrackInfo::HasFullHash))
            wanted |= TrackInfo::HasFullHash;
        if (options.detectSameAudio && payloads.value(t.payloadLength) >= 2 &&
            !(t.analyses & TrackInfo::HasAudioHash))
            wanted |= TrackInfo::HasAudioHash;
        plan.append(wanted);
    }
    return plan;
}

void hash(TrackInfo &track, Payload &payload, quint8 wanted, const QAtomicInt &cancel)
{
    wanted &= quint8(~track.analyses);
    if (!(wanted & (TrackInfo::HasFullHash | TrackInfo::HasAudioHash)) || cancel.loadRelaxed())
        return;
    const bool wantAudio = wanted & TrackInfo::HasAudioHash;
    if (wantAudio && !payload.known) {
        // The ranges were not kept (or the tags came from the cache): read them again.
        AudioMetadata meta;
        TagReader::read(track.path, meta, nullptr);
        payload.ranges = meta.payloadLength() >= 1 ? meta.payloadRanges() : QList<ByteRange>();
        payload.known = true;
    }
    // Without ranges the audio is the whole file, and its hash the whole-file hash. Reading the
    // payload is reading nearly all of the file, so the whole-file hash comes along: a file that
    // ends up in a group needs it, and would otherwise be read a second time.
    const bool audioIsWhole = wantAudio && payload.ranges.isEmpty();
    const bool wantWhole = (wanted & TrackInfo::HasFullHash) || wantAudio;
    QString error;
    const Hasher::Digests d =
        Hasher::hashFile(track.path, wantAudio && !audioIsWhole ? payload.ranges : QList<ByteRange>(), wantWhole,
                         &error, &cancel);
    if (cancel.loadRelaxed())
        return;
    if (!error.isEmpty()) {
        if (track.error.isEmpty())
            track.error = error;
        return;
    }
    if (wantWhole) {
        track.fullHash = d.whole;
        track.analyses |= TrackInfo::HasFullHash;
    }
    if (wantAudio) {
        track.audioHash = audioIsWhole ? d.whole : d.payload;
        track.analyses |= TrackInfo::HasAudioHash;
    }
}

} // namespace rvw::TrackAnalysis

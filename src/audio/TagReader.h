#pragma once

#include "audio/ByteRange.h"

#include <QList>
#include <QString>
#include <QtGlobal>

namespace rvw {

// What the reader learned about one file without decoding it: tags, stream properties and the
// byte range of the coded audio (hashed on its own so that retagged copies still match).
struct AudioMetadata
{
    QString title;
    QString artist;
    QString album;
    QString albumArtist;
    QString genre;
    QString year;
    QString comment;
    QString formatName;
    int trackNo = 0;
    qint64 durationMs = 0;
    int bitrate = 0;
    int sampleRate = 0;
    int channels = 0;
    // The span of the file that holds the coded audio, tags and artwork left out.
    qint64 audioOffset = 0;
    qint64 audioLength = 0;
    bool hasAudioRange = false;
    // When the container interleaves its own framing with the audio (Ogg pages), the pieces of the
    // span that are audio, in file order; empty when the whole span is.
    QList<ByteRange> audioPieces;

    // What identifies the coded audio: the pieces, or else the span; empty without a range.
    QList<ByteRange> payloadRanges() const;
    // The bytes payloadRanges() covers.
    qint64 payloadLength() const;
};

namespace TagReader {

// Fills meta from the file's tags and stream headers, choosing the parser by suffix. Returns
// false with a message when the file cannot be opened or its container is not recognised; fields
// found before the failure (the payload range included) stay filled. meta is never cleared.
// Re-entrant: safe to call from several threads at once.
bool read(const QString &path, AudioMetadata &meta, QString *error);

// True for the suffixes the reader parses (lower case, without the dot).
bool isSupportedExtension(const QString &suffix);

} // namespace TagReader

} // namespace rvw

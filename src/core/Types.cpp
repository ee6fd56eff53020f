#include "core/Types.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLocale>

namespace rvw {

QString matchTierName(MatchTier tier)
{
    switch (tier) {
    case Identical:
        return QObject::tr("Identical file");
    case SameAudio:
        return QObject::tr("Same audio, different tags");
    case Acoustic:
        return QObject::tr("Same recording");
    case Metadata:
        return QObject::tr("Same song (metadata)");
    default:
        return QObject::tr("Unmatched");
    }
}

QString matchTierDescription(MatchTier tier)
{
    switch (tier) {
    case Identical:
        return QObject::tr("Byte-for-byte identical copies. Safe to remove all but one.");
    case SameAudio:
        return QObject::tr(
            "The audio data is identical; only tags or artwork differ. Keep the copy with the best metadata.");
    case Acoustic:
        return QObject::tr(
            "Acoustically the same recording, encoded differently. Keep the highest quality copy.");
    case Metadata:
        return QObject::tr("Artist, title and duration agree. Review before removing - these may be "
                           "legitimately different versions.");
    default:
        return QString();
    }
}

QString keeperPolicyLabel(int policy)
{
    switch (policy) {
    case HighestBitrate:
        return QObject::tr("Highest bitrate");
    case LongestDuration:
        return QObject::tr("Longest duration");
    case LargestFile:
        return QObject::tr("Largest file");
    case PreferredFormat:
        return QObject::tr("Preferred format");
    case ShallowestFolder:
        return QObject::tr("Shallowest folder");
    case OldestFile:
        return QObject::tr("Oldest file");
    case NewestFile:
        return QObject::tr("Newest file");
    case MostCompleteTags:
        return QObject::tr("Most complete tags");
    default:
        return QString();
    }
}

QString TrackInfo::displayTitle() const
{
    if (!title.isEmpty())
        return title;
    return QFileInfo(path).completeBaseName();
}

QString TrackInfo::displayArtist() const
{
    if (!artist.isEmpty())
        return artist;
    if (!albumArtist.isEmpty())
        return albumArtist;
    return QObject::tr("(unknown artist)");
}

QString TrackInfo::qualityString() const
{
    QStringList parts;
    if (!format.isEmpty())
        parts << format.toUpper();
    if (bitrate > 0)
        parts << QObject::tr("%1 kbps").arg(bitrate);
    if (sampleRate > 0)
        parts << QObject::tr("%1 kHz").arg(QLocale().toString(sampleRate / 1000.0, 'g', 3));
    if (channels == 1)
        parts << QObject::tr("mono");
    else if (channels == 2)
        parts << QObject::tr("stereo");
    else if (channels > 2)
        parts << QObject::tr("%1 ch").arg(channels);
    return parts.join(QLatin1Char(' '));
}

} // namespace rvw

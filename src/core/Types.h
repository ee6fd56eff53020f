#pragma once

#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

namespace rvw {

// How a group's members were judged alike. A lower value is a more certain match;
// grouping relies on that order when it merges groups.
enum MatchTier : int {
    Identical = 0,
    SameAudio = 1,
    Acoustic = 2,
    Metadata = 3,
    Unmatched = 4,
};

QString matchTierName(MatchTier tier);
QString matchTierDescription(MatchTier tier);

enum KeeperPolicy : int {
    HighestBitrate = 0,
    LongestDuration = 1,
    LargestFile = 2,
    PreferredFormat = 3,
    ShallowestFolder = 4,
    OldestFile = 5,
    NewestFile = 6,
    MostCompleteTags = 7,
};

QString keeperPolicyLabel(int policy);

// A byte count read from JSON (which has only doubles): a whole number from 0 to 2^53, else -1,
// so that NaN, infinities and sizes no file has never become an undefined conversion.
inline qint64 byteCountFromJson(double v)
{
    return v >= 0.0 && v <= 9007199254740992.0 ? qint64(v) : -1;
}

// Everything known about one audio file.
struct TrackInfo
{
    int id = -1;
    QString path;
    QString fileName;
    QString format;
    qint64 size = 0;
    QDateTime mtime;
    QString title;
    QString artist;
    QString album;
    QString albumArtist;
    QString genre;
    QString year;
    QString comment;
    int trackNo = 0;
    qint64 durationMs = 0;
    int bitrate = 0;
    int sampleRate = 0;
    int channels = 0;
    QString fullHash;
    QString audioHash;
    // Bytes of coded audio the audio hash covers (the whole file when the container gives no
    // range): only files of equal length can share an audio hash, so only they are hashed.
    qint64 payloadLength = 0;
    QList<quint32> fingerprint;
    QList<quint32> fingerprintMask;
    QList<quint32> fingerprintAlt;
    QList<quint32> fingerprintAltMask;
    QList<quint32> fingerprintKeys; // built-in engine: candidate index keys, one per frame window
    // Which analyses the fields above hold (TrackInfo::Analysis bits): a scan that needs one a
    // cached row lacks analyses the file for that one.
    enum Analysis : quint8 {
        HasTags = 1,
        HasFullHash = 2,
        HasAudioHash = 4,
        HasFingerprint = 8,
    };
    quint8 analyses = 0;
    quint8 cachedAnalyses = 0; // what the cache row held when the scan began: unchanged rows are not written again
    bool analysed = false;
    bool fromCache = false;
    QString error;

    QString displayTitle() const;
    QString displayArtist() const;
    QString qualityString() const;
};

// A set of files judged to be copies of one another; members are TrackInfo::id values.
// A metadata match can join different recordings of one song (a studio take and a live
// one), so a group keeps one copy of each recording: `keeper` plus `alsoKept`.
struct MatchGroup
{
    int id = 0;
    MatchTier tier = Unmatched;
    QList<int> members;
    // Parallel to members: members with the same number are copies of one recording. Empty
    // means the whole group is one recording.
    QList<int> recordings;
    int keeper = -1;
    QList<int> alsoKept; // the best copy of each recording that does not hold the keeper
    double confidence = 1.0;
    qint64 reclaimableBytes = 0;

    bool isKept(int track) const { return track == keeper || alsoKept.contains(track); }
    // Members proposed for removal.
    int redundantCount() const
    {
        int n = 0;
        for (int m : members)
            n += isKept(m) ? 0 : 1;
        return n;
    }
};

struct FingerprintResult
{
    QList<quint32> fingerprint;
    QList<quint32> fingerprintMask;
    QList<quint32> fingerprintAlt;
    QList<quint32> fingerprintAltMask;
    QList<quint32> fingerprintKeys;
    qint64 durationMs = 0; // the whole stream's length, never that of the part analysed; 0 if unknown
    QString error;
};

struct ScanOptions
{
    QStringList folders;
    QStringList extensions{"mp3", "flac", "wav", "m4a", "aac", "ogg", "opus", "aiff", "aif", "wma", "mp2"};
    // Trash and recycle folders of the desktops, NAS systems and operating systems, and our own
    // quarantine under its default name, at any depth.
    QStringList excludes{"*/.Trash/*",   "*/#recycle/*", "*/Ravelwick Quarantine/*",
                         "*/.Trash-*/*", "*/.Trashes/*", "*/$RECYCLE.BIN/*"};
    // Never scanned, whatever the excludes say; empty means ActionRunner::defaultQuarantineRoot().
    QString quarantineRoot;
    bool followSymlinks = false;
    bool includeHidden = false;
    qint64 minBytes = 32768;
    qint64 minDurationMs = 5000;
    bool detectIdentical = true;
    bool detectSameAudio = true;
    bool detectAcoustic = true;
    bool detectMetadata = false;
    int engine = 1; // 0 built-in analyser, 1 fpcalc
    int fingerprintSeconds = 60;
    double threshold = 0.25;
    double chromaprintThreshold = 0.12;
    int durationTolerance = 5;
    int decoderThreads = 4;
    int metadataTolerance = 3000;
    bool useCache = true;
    int keeperPolicy = HighestBitrate;
    QStringList preferredFormats{"flac", "wav", "aiff", "mp3", "m4a", "ogg", "opus", "wma"};
};

} // namespace rvw

Q_DECLARE_METATYPE(rvw::TrackInfo)
Q_DECLARE_METATYPE(rvw::MatchGroup)
Q_DECLARE_METATYPE(rvw::ScanOptions)
Q_DECLARE_METATYPE(rvw::FingerprintResult)

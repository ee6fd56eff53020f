#include "scan/DuplicateGrouper.h"

#include "scan/AcousticMatcher.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace rvw {

namespace {

class UnionFind
{
public:
    explicit UnionFind(int n) : m_parent(n), m_rank(n, 0), m_tier(n, Unmatched)
    {
        for (int i = 0; i < n; ++i)
            m_parent[i] = i;
    }

    int find(int x)
    {
        while (m_parent[x] != x) {
            m_parent[x] = m_parent[m_parent[x]];
            x = m_parent[x];
        }
        return x;
    }

    void link(int a, int b, MatchTier tier)
    {
        const int ra = find(a);
        const int rb = find(b);
        if (ra != rb) {
            if (m_rank[ra] < m_rank[rb]) {
                m_parent[ra] = rb;
            } else if (m_rank[ra] > m_rank[rb]) {
                m_parent[rb] = ra;
            } else {
                m_parent[rb] = ra;
                ++m_rank[ra];
            }
        }
        const int r = find(a);
        for (int x : {r, a, b}) {
            if (m_tier[x] == Unmatched || m_tier[x] < tier)
                m_tier[x] = tier;
        }
    }

    MatchTier tierOf(int x) const { return m_tier[x]; }

private:
    QList<int> m_parent;
    QList<int> m_rank;
    QList<MatchTier> m_tier;
};

struct PhaseProgress
{
    const DuplicateGrouper::Progress &callback;

    void coarse(int k, const char *text) const
    {
        if (callback)
            callback(k, 4, QObject::tr(text));
    }

    void at(double fraction, const char *text) const
    {
        if (callback)
            callback(int(fraction * 1000), 1000, QObject::tr(text));
    }
};

// Links every track to the first one carrying the same hash. Tracks already joined by an
// earlier, more certain phase are left as they are: byte-identical copies also share their
// payload hash, and linking them again would demote their group to the payload tier.
void linkEqualHashes(const QList<TrackInfo> &tracks, QString TrackInfo::*field, MatchTier tier, UnionFind &uf)
{
    QHash<QString, int> firstSeen;
    firstSeen.reserve(tracks.size());
    for (int i = 0; i < tracks.size(); ++i) {
        const QString &hash = tracks[i].*field;
        if (hash.isEmpty())
            continue;
        const auto it = firstSeen.constFind(hash);
        if (it == firstSeen.constEnd())
            firstSeen.insert(hash, i);
        else if (uf.find(it.value()) != uf.find(i))
            uf.link(it.value(), i, tier);
    }
}

void linkAcoustic(const QList<TrackInfo> &tracks, const ScanOptions &options, const QAtomicInt &cancel,
                  const PhaseProgress &progress, UnionFind &uf)
{
    AcousticMatcher::find(
        tracks, options, cancel,
        [&progress](double fraction, const char *text) { progress.at(fraction, text); },
        [&uf](int a, int b) { return uf.find(a) == uf.find(b); },
        [&uf](const AcousticMatcher::Match &m) { uf.link(m.a, m.b, Acoustic); });
}

void linkMetadata(const QList<TrackInfo> &tracks, const ScanOptions &options, UnionFind &uf)
{
    QHash<QString, QList<int>> buckets;
    for (int i = 0; i < tracks.size(); ++i) {
        const TrackInfo &t = tracks[i];
        const QString artist = normaliseForMatching(t.artist);
        const QString title = normaliseForMatching(t.title);
        // A tag made only of qualifiers or signs says nothing about the song: grouping by the
        // other part alone would join every song of an artist.
        if (artist.isEmpty() || title.isEmpty())
            continue;
        const QString key = artist + QChar(0x1F) + title;
        if (key.size() > 3)
            buckets[key].append(i);
    }
    for (auto it = buckets.cbegin(); it != buckets.cend(); ++it) {
        const QList<int> &list = it.value();
        for (qsizetype p = 0; p < list.size(); ++p) {
            for (qsizetype q = p + 1; q < list.size(); ++q) {
                const qint64 da = tracks[list[p]].durationMs;
                const qint64 db = tracks[list[q]].durationMs;
                if (da <= 0 || db <= 0 || qAbs(da - db) <= options.metadataTolerance)
                    uf.link(list[p], list[q], Metadata);
            }
        }
    }
}

double confidenceFor(MatchTier tier)
{
    switch (tier) {
    case Identical:
        return 1.0;
    case SameAudio:
        return 0.99;
    case Acoustic:
        return 0.9;
    default:
        return 0.65;
    }
}

int formatRank(const TrackInfo &t, const QStringList &preferred)
{
    const qsizetype i = preferred.indexOf(t.format);
    return int(i < 0 ? preferred.size() : i);
}

int folderDepth(const TrackInfo &t) { return int(t.path.count(QLatin1Char('/')) + t.path.count(QLatin1Char('\\'))); }

int tagScore(const TrackInfo &t)
{
    return (t.title.isEmpty() ? 0 : 3) + (t.artist.isEmpty() ? 0 : 3) + (t.album.isEmpty() ? 0 : 2) +
           (t.albumArtist.isEmpty() ? 0 : 1) + (t.genre.isEmpty() ? 0 : 1) + (t.year.isEmpty() ? 0 : 1) +
           (t.trackNo > 0 ? 1 : 0);
}

bool isBetter(const TrackInfo &c, const TrackInfo &best, const ScanOptions &options)
{
    switch (options.keeperPolicy) {
    case HighestBitrate:
        if (c.bitrate != best.bitrate)
            return c.bitrate > best.bitrate;
        return c.size > best.size;
    case LongestDuration:
        return c.durationMs > best.durationMs;
    case LargestFile:
        return c.size > best.size;
    case PreferredFormat: {
        const int rc = formatRank(c, options.preferredFormats);
        const int rb = formatRank(best, options.preferredFormats);
        if (rc != rb)
            return rc < rb;
        return c.bitrate > best.bitrate;
    }
    case ShallowestFolder: {
        const int dc = folderDepth(c);
        const int db = folderDepth(best);
        if (dc != db)
            return dc < db;
        return c.path.size() < best.path.size();
    }
    case OldestFile:
        return c.mtime < best.mtime;
    case NewestFile:
        return c.mtime > best.mtime;
    case MostCompleteTags: {
        const int sc = tagScore(c);
        const int sb = tagScore(best);
        if (sc != sb)
            return sc > sb;
        return c.bitrate > best.bitrate;
    }
    default:
        return false;
    }
}

// The candidate proposed for keeping; -1 when none names a track.
int bestOf(const QList<int> &candidates, const QList<TrackInfo> &tracks, const ScanOptions &options)
{
    int best = -1;
    for (int c : candidates) {
        if (c < 0 || c >= tracks.size())
            continue;
        if (best < 0 || isBetter(tracks[c], tracks[best], options))
            best = c;
    }
    return best;
}

// Recording numbers of a group's members, parallel to them. A list that does not match the
// members is not trusted: every member then counts as its own recording, so no copy that
// could be the last of its recording is proposed for removal.
QList<int> recordingNumbers(const MatchGroup &group)
{
    if (group.recordings.isEmpty())
        return QList<int>(group.members.size(), 0);
    if (group.recordings.size() == group.members.size())
        return group.recordings;
    QList<int> own(group.members.size());
    for (qsizetype i = 0; i < own.size(); ++i)
        own[i] = int(i);
    return own;
}

bool isMark(char32_t c)
{
    const QChar::Category category = QChar::category(c);
    return category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining ||
           category == QChar::Mark_Enclosing;
}

// Keeps the letters and digits of a decomposed text, with the marks of letters outside the
// Latin script (Devanagari vowel signs, Thai tone marks and the like are part of the word),
// and turns every run of spaces, of any kind, into one space between words. Accents on
// Latin letters are dropped on purpose: tags write "Beyoncé" and "Beyonce" for one artist.
QString keepWordCharacters(const QString &decomposed)
{
    const QList<uint> in = decomposed.toUcs4();
    std::u32string out;
    out.reserve(size_t(in.size()));
    bool marksBelong = false;
    bool spaceDue = false;
    for (const uint u : in) {
        const char32_t c = char32_t(u);
        if (isMark(c)) {
            if (marksBelong)
                out.push_back(c);
            continue;
        }
        marksBelong = false;
        if (QChar::isLetterOrNumber(c)) {
            if (spaceDue && !out.empty())
                out.push_back(U' ');
            spaceDue = false;
            out.push_back(c);
            marksBelong = QChar::isLetter(c) && QChar::script(c) != QChar::Script_Latin;
        } else if (QChar::isSpace(c)) {
            spaceDue = true;
        }
    }
    return QString::fromUcs4(out.data(), qsizetype(out.size()));
}

} // namespace

QString normaliseForMatching(const QString &text)
{
    // Qualifier words count only as whole words: "(Meditation)" is a title, not an edit.
    static const QRegularExpression qualifier(
        QStringLiteral("\\s*[\\(\\[\\{][^\\)\\]\\}]*\\b(remaster(ed|s)?|remix(ed|es)?|versions?|edit(ed|ion)?|"
                       "mono|stereo|live|explicit|clean|deluxe|bonus)\\b[^\\)\\]\\}]*[\\)\\]\\}]"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
    // No real artist or title comes near this length; the cap bounds the work on a hostile tag.
    constexpr qsizetype kMaxLength = 1024;

    // The compatibility form makes full-width and other presentation forms plain letters
    // and digits before anything is compared.
    QString s = text.left(kMaxLength).normalized(QString::NormalizationForm_KC).toCaseFolded();
    s.remove(qualifier);
    s = keepWordCharacters(s.normalized(QString::NormalizationForm_D)).normalized(QString::NormalizationForm_C);
    if (s.startsWith(QLatin1String("the ")))
        s.remove(0, 4);
    return s;
}

int DuplicateGrouper::chooseKeeper(const MatchGroup &group, const QList<TrackInfo> &tracks,
                                   const ScanOptions &options)
{
    if (group.members.isEmpty())
        return -1;
    return bestOf(group.members, tracks, options);
}

void DuplicateGrouper::setKeeper(MatchGroup &group, int keeper, const QList<TrackInfo> &tracks,
                                 const ScanOptions &options)
{
    group.keeper = keeper;
    group.alsoKept.clear();
    const QList<int> numbers = recordingNumbers(group);
    QHash<int, QList<int>> copies;
    QList<int> order;
    QSet<int> keepersRecording;
    for (qsizetype i = 0; i < group.members.size(); ++i) {
        const int m = group.members[i];
        auto it = copies.find(numbers[i]);
        if (it == copies.end()) {
            it = copies.insert(numbers[i], {});
            order.append(numbers[i]);
        }
        it->append(m);
        if (m == keeper)
            keepersRecording.insert(numbers[i]);
    }
    for (int r : std::as_const(order)) {
        if (keepersRecording.contains(r))
            continue;
        const int best = bestOf(copies.value(r), tracks, options);
        if (best >= 0)
            group.alsoKept.append(best);
    }
    group.reclaimableBytes = 0;
    for (int m : std::as_const(group.members)) {
        if (m >= 0 && m < tracks.size() && !group.isKept(m))
            group.reclaimableBytes += tracks[m].size;
    }
}

QList<MatchGroup> DuplicateGrouper::group(const QList<TrackInfo> &tracks, const ScanOptions &options,
                                          const QAtomicInt &cancel, const Progress &progress)
{
    const int n = int(tracks.size());
    if (n < 2)
        return {};
    const PhaseProgress report{progress};
    UnionFind uf(n);

    if (options.detectIdentical) {
        report.coarse(0, "Matching identical files");
        linkEqualHashes(tracks, &TrackInfo::fullHash, Identical, uf);
    }
    if (options.detectSameAudio) {
        report.coarse(1, "Matching audio payloads");
        linkEqualHashes(tracks, &TrackInfo::audioHash, SameAudio, uf);
    }
    if (options.detectAcoustic && !cancel.loadRelaxed())
        linkAcoustic(tracks, options, cancel, report, uf);
    // Metadata links join songs, not recordings; what was joined before them is one recording.
    UnionFind sameRecording = uf;
    if (options.detectMetadata && !cancel.loadRelaxed()) {
        report.coarse(3, "Comparing metadata");
        linkMetadata(tracks, options, uf);
    }

    QHash<int, MatchGroup> byRoot;
    QList<int> rootOrder;
    for (int i = 0; i < n; ++i) {
        const int root = uf.find(i);
        auto it = byRoot.find(root);
        if (it == byRoot.end()) {
            it = byRoot.insert(root, MatchGroup());
            rootOrder.append(root);
        }
        it->members.append(i);
        const MatchTier t = uf.tierOf(i);
        if (t != Unmatched && (it->tier == Unmatched || it->tier < t))
            it->tier = t;
    }

    QList<MatchGroup> result;
    for (int root : std::as_const(rootOrder)) {
        MatchGroup g = byRoot.value(root);
        if (g.members.size() < 2)
            continue;
        std::sort(g.members.begin(), g.members.end(), [&](int a, int b) {
            return QString::localeAwareCompare(tracks[a].path, tracks[b].path) < 0;
        });
        QHash<int, int> numberOfRoot;
        for (int m : std::as_const(g.members)) {
            const int r = sameRecording.find(m);
            auto it = numberOfRoot.constFind(r);
            if (it == numberOfRoot.constEnd())
                it = numberOfRoot.insert(r, int(numberOfRoot.size()));
            g.recordings.append(it.value());
        }
        setKeeper(g, chooseKeeper(g, tracks, options), tracks, options);
        g.confidence = confidenceFor(g.tier);
        result.append(g);
    }
    std::stable_sort(result.begin(), result.end(), [](const MatchGroup &a, const MatchGroup &b) {
        if (a.tier != b.tier)
            return a.tier < b.tier;
        return a.reclaimableBytes > b.reclaimableBytes;
    });
    for (int i = 0; i < result.size(); ++i)
        result[i].id = i + 1;
    report.coarse(4, "Grouping complete");
    return result;
}

} // namespace rvw

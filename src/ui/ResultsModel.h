#pragma once

#include "cleanup/RemovalGuard.h"
#include "core/Types.h"

#include <QColor>
#include <QList>
#include <QString>

class QStandardItem;
class QStandardItemModel;

namespace rvw {

// How the results tree carries its data, and the texts its cells show.
namespace Results {

// Item data of column 0.
constexpr int TrackIndexRole = Qt::UserRole + 1; // file rows
constexpr int GroupIndexRole = Qt::UserRole + 2; // group and file rows
constexpr int KeeperRole = Qt::UserRole + 3;     // file rows: this file is its group's keeper

enum Column
{
    FileColumn = 0,
    MatchColumn,
    ArtistColumn,
    TitleColumn,
    DurationColumn,
    QualityColumn,
    SizeColumn,
    ModifiedColumn,
    FolderColumn,
    ColumnCount
};

QStringList headers();

// 1024-based, two decimals, the locale's traditional unit names.
QString formatBytes(qint64 bytes);
// "-" for 0 or less; "m:ss" below an hour, "h:mm:ss" from an hour on.
QString formatDuration(qint64 ms);
QColor tierColour(MatchTier tier);
QColor keeperColour();

// One group row (column 0 to 8) and one file row of that group.
QList<QStandardItem *> groupRow(const MatchGroup &group, int groupIndex);
QList<QStandardItem *> fileRow(const TrackInfo &track, int trackIndex, int groupIndex, bool keeper);

// Writes the "Match" cell of a file row for a keeper or a duplicate.
void setMatchCell(QStandardItem *cell, bool keeper);

// The ticked file rows (column 0) whose track index is within `trackCount`, in tree order.
QList<QStandardItem *> tickedFiles(const QStandardItemModel &model, int trackCount);
// The track index a file row carries, or -1 for a group row or an index out of range.
int trackIndexOf(const QStandardItem *file, int trackCount);
// Whether the filter `needle` (already trimmed) shows a file: an empty one shows every file.
bool matchesFilter(const TrackInfo &track, const QString &needle);

enum TickMode
{
    TickDuplicates, // every copy not kept
    TickNone,
    TickInverted
};
void setTicks(QStandardItemModel &model, TickMode mode);
// Marks the file rows of group `groupIndex` after its keepers changed, ticking every copy not kept.
void markKeepers(QStandardItemModel &model, int groupIndex, const MatchGroup &group);
// Drops file rows whose file is gone from disk, then groups left with fewer than two rows.
void pruneMissing(QStandardItemModel &model, const QList<TrackInfo> &tracks);

// What the tree holds now, from the sizes the scan saw: groups a clean-up emptied are gone from it.
struct Totals
{
    int groups = 0;
    int redundant = 0; // copies not kept
    qint64 reclaimable = 0;
    int ticked = 0;
    qint64 tickedBytes = 0;
};
Totals totals(const QStandardItemModel &model, const QList<TrackInfo> &tracks);

// The tree's groups as a clean-up sees them: a ticked file is to be removed, any other is
// kept, each with the size it was scanned with. In the order of the group rows.
QList<RemovalGuard::Group> removalGroups(const QStandardItemModel &model, const QList<TrackInfo> &tracks,
                                         const QList<MatchGroup> &groups);

} // namespace Results
} // namespace rvw

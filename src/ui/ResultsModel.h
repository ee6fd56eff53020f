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

// The tree's groups as a clean-up sees them: a ticked file is to be removed, any other is
// kept, each with the size it was scanned with. In the order of the group rows.
QList<RemovalGuard::Group> removalGroups(const QStandardItemModel &model, const QList<TrackInfo> &tracks,
                                         const QList<MatchGroup> &groups);

} // namespace Results
} // namespace rvw

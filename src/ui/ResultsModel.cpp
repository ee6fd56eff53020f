#include "ui/ResultsModel.h"

#include <QFileInfo>
#include <QFont>
#include <QLocale>
#include <QStandardItemModel>

namespace rvw {
namespace Results {

namespace {

QStandardItem *cell(const QString &text = QString())
{
    auto *item = new QStandardItem(text);
    item->setEditable(false);
    return item;
}

void setWeight(QStandardItem *item, QFont::Weight weight)
{
    QFont font = item->font();
    font.setWeight(weight);
    item->setFont(font);
}

} // namespace

QStringList headers()
{
    return {QObject::tr("File"),  QObject::tr("Match"),    QObject::tr("Artist"),
            QObject::tr("Title"), QObject::tr("Duration"), QObject::tr("Quality"),
            QObject::tr("Size"),  QObject::tr("Modified"), QObject::tr("Folder")};
}

QString formatBytes(qint64 bytes)
{
    return QLocale().formattedDataSize(bytes, 2, QLocale::DataSizeTraditionalFormat);
}

QString formatDuration(qint64 ms)
{
    if (ms <= 0)
        return QStringLiteral("-");
    const qint64 seconds = ms / 1000;
    const auto two = [](qint64 v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
    if (ms < 3600000)
        return QStringLiteral("%1:%2").arg(ms / 60000).arg(two(seconds % 60));
    return QStringLiteral("%1:%2:%3").arg(ms / 3600000).arg(two(seconds / 60 % 60)).arg(two(seconds % 60));
}

QColor tierColour(MatchTier tier)
{
    switch (tier) {
    case Identical:
        return QColor(0x14, 0x6c, 0x2e);
    case SameAudio:
        return QColor(0x1c, 0x5a, 0x8a);
    case Acoustic:
        return QColor(0xb3, 0x5a, 0x0f);
    default:
        return QColor(0xa1, 0x1a, 0x1a);
    }
}

QColor keeperColour()
{
    return QColor(0x14, 0x6c, 0x2e);
}

QList<QStandardItem *> groupRow(const MatchGroup &group, int groupIndex)
{
    QList<QStandardItem *> row;
    auto *title =
        cell(QObject::tr("Group %1 - %n copies - %2 reclaimable", nullptr, int(group.members.size()))
                 .arg(group.id)
                 .arg(formatBytes(group.reclaimableBytes)));
    setWeight(title, QFont::Bold);
    title->setData(groupIndex, GroupIndexRole);
    row << title;
    auto *match = cell(matchTierName(group.tier));
    match->setForeground(tierColour(group.tier));
    match->setToolTip(matchTierDescription(group.tier));
    row << match;
    for (int c = ArtistColumn; c < ColumnCount; ++c)
        row << cell();
    return row;
}

void setMatchCell(QStandardItem *item, bool keeper)
{
    item->setText(keeper ? QObject::tr("KEEP") : QObject::tr("duplicate"));
    setWeight(item, keeper ? QFont::Bold : QFont::Normal);
    if (keeper)
        item->setForeground(keeperColour());
    else
        item->setData(QVariant(), Qt::ForegroundRole);
}

QList<QStandardItem *> fileRow(const TrackInfo &track, int trackIndex, int groupIndex, bool keeper)
{
    QList<QStandardItem *> row;
    auto *file = cell(track.fileName);
    file->setCheckable(true);
    file->setCheckState(keeper ? Qt::Unchecked : Qt::Checked);
    file->setData(trackIndex, TrackIndexRole);
    file->setData(groupIndex, GroupIndexRole);
    file->setData(keeper, KeeperRole);
    file->setToolTip(track.error.isEmpty() ? track.path
                                           : QObject::tr("%1\n\nNote: %2").arg(track.path, track.error));
    row << file;
    auto *match = cell();
    setMatchCell(match, keeper);
    row << match;
    row << cell(track.displayArtist()) << cell(track.displayTitle()) << cell(formatDuration(track.durationMs))
        << cell(track.qualityString()) << cell(formatBytes(track.size))
        << cell(QLocale().toString(track.mtime.toLocalTime(), QLocale::ShortFormat))
        << cell(QFileInfo(track.path).absolutePath());
    return row;
}

int trackIndexOf(const QStandardItem *file, int trackCount)
{
    bool ok = false;
    const int t = file->data(TrackIndexRole).toInt(&ok);
    return ok && t >= 0 && t < trackCount ? t : -1;
}

QList<QStandardItem *> tickedFiles(const QStandardItemModel &model, int trackCount)
{
    QList<QStandardItem *> ticked;
    for (int g = 0; g < model.rowCount(); ++g) {
        const QStandardItem *group = model.item(g, 0);
        for (int r = 0; r < group->rowCount(); ++r) {
            QStandardItem *file = group->child(r, 0);
            if (file->checkState() == Qt::Checked && trackIndexOf(file, trackCount) >= 0)
                ticked.append(file);
        }
    }
    return ticked;
}

void setTicks(QStandardItemModel &model, TickMode mode)
{
    for (int g = 0; g < model.rowCount(); ++g) {
        QStandardItem *group = model.item(g, 0);
        for (int r = 0; r < group->rowCount(); ++r) {
            QStandardItem *file = group->child(r, 0);
            Qt::CheckState state = Qt::Unchecked;
            if (mode == TickDuplicates)
                state = file->data(KeeperRole).toBool() ? Qt::Unchecked : Qt::Checked;
            else if (mode == TickInverted)
                state = file->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked;
            file->setCheckState(state);
        }
    }
}

void markKeepers(QStandardItemModel &model, int groupIndex, const MatchGroup &group)
{
    for (int g = 0; g < model.rowCount(); ++g) {
        QStandardItem *row = model.item(g, 0);
        if (row->data(GroupIndexRole).toInt() != groupIndex)
            continue;
        for (int r = 0; r < row->rowCount(); ++r) {
            QStandardItem *file = row->child(r, 0);
            const bool kept = group.isKept(file->data(TrackIndexRole).toInt());
            file->setData(kept, KeeperRole);
            file->setCheckState(kept ? Qt::Unchecked : Qt::Checked);
            setMatchCell(row->child(r, MatchColumn), kept);
        }
    }
}

void pruneMissing(QStandardItemModel &model, const QList<TrackInfo> &tracks)
{
    for (int g = model.rowCount() - 1; g >= 0; --g) {
        QStandardItem *group = model.item(g, 0);
        for (int r = group->rowCount() - 1; r >= 0; --r) {
            const int t = trackIndexOf(group->child(r, 0), int(tracks.size()));
            if (t >= 0 && !QFileInfo::exists(tracks.at(t).path))
                group->removeRow(r);
        }
        if (group->rowCount() < 2)
            model.removeRow(g);
    }
}

Totals totals(const QStandardItemModel &model, const QList<TrackInfo> &tracks)
{
    Totals sum;
    sum.groups = model.rowCount();
    for (int g = 0; g < model.rowCount(); ++g) {
        const QStandardItem *group = model.item(g, 0);
        for (int r = 0; r < group->rowCount(); ++r) {
            const QStandardItem *file = group->child(r, 0);
            const int t = trackIndexOf(file, int(tracks.size()));
            if (t < 0)
                continue;
            const qint64 size = tracks.at(t).size;
            if (!file->data(KeeperRole).toBool()) {
                ++sum.redundant;
                sum.reclaimable += size;
            }
            if (file->checkState() == Qt::Checked) {
                ++sum.ticked;
                sum.tickedBytes += size;
            }
        }
    }
    return sum;
}

bool matchesFilter(const TrackInfo &track, const QString &needle)
{
    if (needle.isEmpty())
        return true;
    for (const QString *field : {&track.path, &track.artist, &track.title, &track.album}) {
        if (field->contains(needle, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

QList<RemovalGuard::Group> removalGroups(const QStandardItemModel &model, const QList<TrackInfo> &tracks,
                                         const QList<MatchGroup> &groups)
{
    QList<RemovalGuard::Group> result;
    for (int g = 0; g < model.rowCount(); ++g) {
        const QStandardItem *row = model.item(g, 0);
        RemovalGuard::Group group;
        const int gi = row->data(GroupIndexRole).toInt();
        group.id = gi >= 0 && gi < groups.size() ? groups.at(gi).id : gi;
        for (int r = 0; r < row->rowCount(); ++r) {
            const QStandardItem *file = row->child(r, 0);
            bool ok = false;
            const int t = file->data(TrackIndexRole).toInt(&ok);
            if (!ok || t < 0 || t >= tracks.size())
                continue;
            group.files.append({tracks.at(t).path, file->checkState() != Qt::Checked, tracks.at(t).size});
        }
        result.append(group);
    }
    return result;
}

} // namespace Results
} // namespace rvw

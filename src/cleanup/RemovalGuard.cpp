#include "cleanup/RemovalGuard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QSet>

#include <sys/stat.h>

namespace rvw {

namespace {

// One file however its path is spelt: its device and inode when it exists (this also
// catches a second spelling on a case-blind disk and hard links), else its cleaned path.
struct Identity
{
    QString canonical;
    QString inode;

    static Identity of(const QString &path)
    {
        Identity id;
        const QFileInfo info(path);
        id.canonical = info.canonicalFilePath();
        if (id.canonical.isEmpty())
            id.canonical = QDir::cleanPath(info.absoluteFilePath());
        struct stat st = {};
        if (::stat(QFile::encodeName(path).constData(), &st) == 0)
            id.inode = QStringLiteral("%1:%2").arg(quint64(st.st_dev)).arg(quint64(st.st_ino));
        return id;
    }
};

struct KeptSet
{
    QSet<QString> paths;
    QSet<QString> inodes;

    void add(const Identity &id)
    {
        paths.insert(id.canonical);
        if (!id.inode.isEmpty())
            inodes.insert(id.inode);
    }
    bool contains(const Identity &id) const
    {
        return paths.contains(id.canonical) || (!id.inode.isEmpty() && inodes.contains(id.inode));
    }
};

bool survives(const RemovalGuard::File &file, const RemovalGuard::Check &stillSame)
{
    const QFileInfo info(file.path);
    if (!info.isFile() || (file.size >= 0 && info.size() != file.size))
        return false;
    QString why;
    return !stillSame || stillSame(file, why);
}

} // namespace

RemovalGuard::Plan RemovalGuard::plan(const QList<Group> &groups, const Check &stillSame)
{
    KeptSet kept;
    for (const Group &group : groups) {
        for (const File &file : group.files) {
            if (file.keep)
                kept.add(Identity::of(file.path));
        }
    }

    Plan plan;
    QSet<QString> planned;
    for (int g = 0; g < groups.size(); ++g) {
        const Group &group = groups.at(g);
        bool anyRemoval = false;
        bool anyKeeper = false;
        bool anySurvivor = false;
        for (const File &file : group.files) {
            anyRemoval = anyRemoval || !file.keep;
            anyKeeper = anyKeeper || file.keep;
            anySurvivor = anySurvivor || (file.keep && survives(file, stillSame));
        }
        if (!anyRemoval)
            continue;
        if (!anySurvivor) {
            plan.refused.append(g);
            plan.notes.append(
                anyKeeper ? QObject::tr("Group %1: no copy to keep is still on disk as it was scanned; the group "
                                        "is left alone")
                                .arg(group.id)
                          : QObject::tr("Group %1: every copy is marked for removal; the group is left alone")
                                .arg(group.id));
            continue;
        }
        for (const File &file : group.files) {
            if (file.keep)
                continue;
            const Identity id = Identity::of(file.path);
            if (kept.contains(id)) {
                plan.notes.append(QObject::tr("%1 is also a copy to keep; it is not removed").arg(file.path));
                continue;
            }
            if (planned.contains(id.canonical) || (!id.inode.isEmpty() && planned.contains(id.inode)))
                continue;
            QString why;
            if (stillSame && !stillSame(file, why)) {
                plan.notes.append(QObject::tr("%1; skipped").arg(why));
                continue;
            }
            planned.insert(id.canonical);
            if (!id.inode.isEmpty())
                planned.insert(id.inode);
            plan.paths.append(file.path);
            plan.bytes += QFileInfo(file.path).size();
        }
    }
    return plan;
}

} // namespace rvw

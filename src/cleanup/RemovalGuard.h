#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace rvw {

// Decides which copies of a clean-up may go, so that no group loses its last copy. The
// window and the command line both ask it just before they remove anything, because the
// disk may have changed since the scan or the report.
//
// Rules, over the whole batch:
// - a group goes ahead only when at least one of its copies to keep is on disk now, is a
//   regular file, still has the size it was scanned with and passes the caller's check;
//   otherwise the whole group is left alone;
// - a file that any group keeps is never removed, whatever spelling of its path (symbolic
//   links, "..", another case on a case-blind disk) a removal names it by;
// - a file is removed at most once.
class RemovalGuard
{
public:
    struct File
    {
        QString path;
        bool keep = true;
        qint64 size = -1; // as scanned; negative when not known
    };
    struct Group
    {
        int id = 0;
        QList<File> files;
    };
    struct Plan
    {
        QStringList paths;  // to remove, in group order, each file once
        qint64 bytes = 0;   // their sizes on disk now
        QList<int> refused; // positions in the groups given, of groups left alone whole
        QStringList notes;  // one line per group or file left alone, saying why
    };

    // Extra proof that a copy is still the one the caller judged, such as its SHA-256.
    // Returns false with `why` filled when it is not.
    using Check = std::function<bool(const File &file, QString &why)>;

    static Plan plan(const QList<Group> &groups, const Check &stillSame = Check());
};

} // namespace rvw

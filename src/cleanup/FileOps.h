#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

namespace rvw {

// The only place where the program moves, copies, removes or overwrites a user's file or an
// undo record. Every operation either completes or leaves what was there before: a file is
// never lost, never left truncated, and never exists twice after a move.
//
// Each system call that can lose data passes through a fault hook, so tests can make a rename
// fail across devices, a write fail part way, or a sync fail, and check every failure path.
namespace FileOps {

enum class Op
{
    Rename, // renaming a file to its new place (EXDEV here makes a move copy instead)
    Place,  // renaming a finished temporary copy into place
    Write,  // one block written into a new file; `position` is where the block would end
    Sync,   // flushing a file or a folder to the disk
    Remove, // unlinking a file
    // What the file system offers for a rename that never replaces (`path` is the target):
    Exclusive, // the system's own such rename (ENOTSUP here: there is none, a hard link is tried)
    Link,      // a hard link to the target (EPERM here: none either, as on some network shares)
};

// Returns the errno the operation on `path` must fail with, or 0 to let it run.
using FaultHook = std::function<int(Op op, const QString &path, qint64 position)>;

// Installs a hook for the whole process (tests only); an empty hook removes it.
void setFaultHook(FaultHook hook);

// Moves a regular file to `to`, which must not exist yet; the parent folder of `to` must.
// Within one file system this is a rename that never replaces anything. Where a rename is
// impossible (another device, a file system that refuses it) the file is copied under a
// temporary name beside `to`, synced, read back and compared with the source by size and
// SHA-256, renamed into place, the folder synced, and only then is the source removed.
// Any failure removes the partial copy and leaves the source as it was. The copy keeps the
// source's modification time and permissions.
bool moveFile(const QString &from, const QString &to, QString *error);

// Removes a file for good.
bool removeFile(const QString &path, QString *error);

// Writes `bytes` to a temporary file beside `path`, syncs it, and renames it over `path`
// (replacing it when `replace` is true, failing when something is there otherwise), then
// syncs the folder. A reader never sees half a file.
bool writeAtomically(const QString &path, const QByteArray &bytes, bool replace, QString *error);

// Appends `bytes` to `path` (created when missing) and syncs the file's data to the disk.
bool appendDurably(const QString &path, const QByteArray &bytes, QString *error);

} // namespace FileOps
} // namespace rvw

#pragma once

#include "core/Types.h"

#include <QAtomicInt>
#include <QStringList>

#include <functional>

namespace rvw {

// What a walk over the scan roots found, and what it had to leave out. Everything that leaves
// part of the library unchecked is counted, so a scan never looks more complete than it was.
struct Discovery
{
    // Absolute paths of the audio files to analyse, each file once.
    QStringList files;
    // Folders that could not be listed or whose entries could not be examined.
    QStringList unreadableFolders;
    // Folders not entered because they lie deeper than the walk goes.
    QStringList tooDeepFolders;
    // Audio files whose names cannot be represented, so they cannot be opened by name; counted
    // here instead of being scanned. `undecodableFolders` names the folders holding the
    // offending names, each once.
    int undecodableFiles = 0;
    QStringList undecodableFolders;
    // Devices, FIFOs and sockets named like audio files, met directly or through a link. Reading
    // one would never end or would read something that is not a file.
    int specialFiles = 0;
    // Further names (hard or symbolic links) of a file already found; the first name met is kept.
    int repeatedNames = 0;

    // Folders and files that were left unchecked.
    int uncheckedFolders() const { return int(unreadableFolders.size() + tooDeepFolders.size()); }
};

// Walks the scan roots and collects the audio files to analyse.
class FileScanner
{
public:
    using Progress = std::function<void(int count, const QString &folder)>;

    // The deepest folder level below a root that is entered; deeper folders are reported.
    static constexpr int kMaxDepth = 128;

    // Uses folders, extensions, excludes, quarantineRoot, minBytes, includeHidden and
    // followSymlinks. Only regular files are returned. Nothing inside the quarantine root is
    // returned, whether reached directly or through a link. Each file (by device and inode on
    // Unix) appears once, at its first discovery, even when reached through a hard or symbolic
    // link or an overlapping root; within a folder names are taken in byte order, files before
    // subfolders. Each folder is walked at most once, so link cycles end. Progress is reported
    // every 64 files or on a change of folder, and once more at the end with an empty folder. A
    // cancel returns what was found so far.
    static Discovery discover(const ScanOptions &options, const QAtomicInt &cancel,
                              const Progress &progress = Progress());

    // True when a non-blank wildcard pattern matches the path or one of its folders, the latter
    // with or without a trailing '/' (case-insensitive). '*' and '?' stay within one name, except
    // that a leading '*' reaches across folders: "*/.Trash/*" excludes everything below any
    // ".Trash" folder, "*.tmp.mp3" such a file anywhere.
    static bool isExcluded(const QString &path, const QStringList &patterns);
};

} // namespace rvw

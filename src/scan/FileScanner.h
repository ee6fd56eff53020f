#pragma once

#include "core/Types.h"

#include <QAtomicInt>
#include <QStringList>

#include <functional>

namespace rvw {

// Walks the scan roots and returns the absolute paths of the audio files to analyse.
class FileScanner
{
public:
    using Progress = std::function<void(int count, const QString &folder)>;

    // Uses folders, extensions, excludes, quarantineRoot, minBytes, includeHidden and
    // followSymlinks. Nothing inside the quarantine root is returned, whether reached directly or
    // through a link. Each file appears once, at its first discovery, even when reached through a
    // link or an overlapping root. Progress is reported every 64 files or on a change of folder,
    // and once more at the end with an empty folder. A cancel returns what was found so far.
    static QStringList discover(const ScanOptions &options, const QAtomicInt &cancel,
                                const Progress &progress = Progress());

    // True when a non-blank wildcard pattern matches the path or one of its folders, the latter
    // with or without a trailing '/' (case-insensitive). '*' and '?' stay within one name, except
    // that a leading '*' reaches across folders: "*/.Trash/*" excludes everything below any
    // ".Trash" folder, "*.tmp.mp3" such a file anywhere.
    static bool isExcluded(const QString &path, const QStringList &patterns);
};

} // namespace rvw

#pragma once

#include "core/Types.h"

#include <QList>
#include <QString>

namespace rvw {

// Exports the result of a scan as a CSV table, an HTML page, a JSON document or an M3U8
// playlist of the proposed duplicates. Stateless and synchronous.
class ReportWriter
{
public:
    enum Format : int
    {
        Csv = 0,
        Html = 1,
        Json = 2,
        M3u8 = 3,
    };

    // File suffix without the dot; "txt" for an unknown format.
    static QString suffixForFormat(Format format);
    // Translated save-dialog filter; "All files (*)" for an unknown format.
    static QString filterForFormat(Format format);

    // Writes the report to `path`, replacing the file only once the whole report is on disk.
    // Returns false, with the file system's error text in `*error` when given, when the file
    // cannot be opened or any part of the report cannot be written; an existing file is then
    // left as it was. Group members that are not valid indices into `tracks` are skipped.
    // An unknown format writes an empty file.
    static bool write(const QString &path, Format format, const QList<TrackInfo> &tracks,
                      const QList<MatchGroup> &groups, const ScanOptions &options, QString *error = nullptr);

private:
    // Builds the content of each format; defined next to the implementation.
    struct Builder;

    static QString formatDuration(qint64 ms);
    static QString csvField(const QString &text);
    // A field of text read from a file: kept as text, never a formula.
    static QString csvText(const QString &text);
};

} // namespace rvw

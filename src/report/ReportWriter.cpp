#include "report/ReportWriter.h"

#include "app/AppInfo.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QObject>
#include <QSaveFile>
#include <QUrl>

namespace rvw {

namespace {

// Each rule on its own line, selector and declarations with no spaces around the braces.
const char *const kStyleSheet = "<style>\n"
                                "body{font-family:'Segoe UI',Roboto,Helvetica,Arial,sans-serif;margin:32px;"
                                "color:#0d2440;background:#f7f9fc}\n"
                                "h1{color:#0d2440;margin-bottom:4px}h1 span{color:#ff5714}\n"
                                ".meta{color:#5b6b80;margin-bottom:24px;font-size:14px}\n"
                                ".summary{display:flex;gap:16px;flex-wrap:wrap;margin-bottom:28px}\n"
                                ".card{background:#fff;border:1px solid #dde4ee;border-radius:8px;"
                                "padding:14px 18px;min-width:150px}\n"
                                ".card b{display:block;font-size:24px;color:#0d2440}\n"
                                ".card span{font-size:12px;color:#5b6b80;text-transform:uppercase;"
                                "letter-spacing:.04em}\n"
                                ".group{background:#fff;border:1px solid #dde4ee;border-radius:8px;"
                                "margin-bottom:16px;overflow:hidden}\n"
                                ".group h2{font-size:14px;margin:0;padding:10px 14px;background:#0d2440;"
                                "color:#fff;font-weight:600}\n"
                                ".group h2 em{font-style:normal;color:#ffb59a;font-weight:400}\n"
                                "table{border-collapse:collapse;width:100%;font-size:13px}\n"
                                "th{background:#eef2f8;text-align:left;padding:7px 10px;color:#5b6b80;"
                                "font-weight:600}\n"
                                "td{padding:7px 10px;border-top:1px solid #eef2f8;vertical-align:top}\n"
                                ".keep{color:#146c2e;font-weight:700}\n"
                                ".dupe{color:#b3300f}\n"
                                ".path{color:#5b6b80;font-size:11px;word-break:break-all}\n"
                                "footer{margin-top:32px;color:#8394a8;font-size:12px}\n"
                                "</style></head><body>\n";

QString esc(const QString &text)
{
    return text.toHtmlEscaped();
}

QString dataSize(qint64 bytes)
{
    return QLocale().formattedDataSize(bytes, 2, QLocale::DataSizeTraditionalFormat);
}

// A tag holding a line break would otherwise start a line of its own in the playlist,
// which a player reads as another entry or directive.
QString singleLine(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String(" "));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

// The report is built in memory, so every write failure shows up at one of these calls.
bool writeWhole(QFileDevice &file, const QByteArray &content)
{
    return file.write(content) == content.size() && file.flush();
}

bool fail(const QString &message, QString *error)
{
    if (error)
        *error = message;
    return false;
}

bool saveContent(const QString &path, const QByteArray &content, QString *error)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile() && !info.isDir()) {
        // A device or pipe: there is no file to replace, and a temporary file renamed over
        // it would destroy it.
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
            return fail(file.errorString(), error);
        const bool written = writeWhole(file, content);
        file.close();
        if (!written || file.error() != QFileDevice::NoError)
            return fail(file.errorString(), error);
        return true;
    }

    QSaveFile file(path);
    // A file that may be rewritten in a folder that may not gain new files is still written,
    // in place; failure is still reported.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return fail(file.errorString(), error);
    if (!writeWhole(file, content)) {
        const QString message = file.errorString();
        file.cancelWriting();
        return fail(message, error);
    }
    if (!file.commit())
        return fail(file.errorString(), error);
    return true;
}

} // namespace

struct ReportWriter::Builder
{
    const QList<TrackInfo> &tracks;
    const QList<MatchGroup> &groups;
    const ScanOptions &options;
    int redundantFiles = 0;
    qint64 reclaimable = 0;
    QString reportTime;
    QString isoTime;

    Builder(const QList<TrackInfo> &t, const QList<MatchGroup> &g, const ScanOptions &o)
        : tracks(t), groups(g), options(o)
    {
        for (const MatchGroup &group : groups) {
            redundantFiles += group.redundantCount();
            reclaimable += group.reclaimableBytes;
        }
        const QDateTime now = QDateTime::currentDateTime();
        reportTime = now.toString(Qt::RFC2822Date);
        isoTime = now.toString(Qt::ISODate);
    }

    // Calls visit(track, kept) for each member that names a track, in the group's order.
    template <typename Visit> void forEachMember(const MatchGroup &group, Visit visit) const
    {
        for (int index : group.members) {
            if (index < 0 || index >= tracks.size())
                continue;
            visit(tracks.at(index), group.isKept(index));
        }
    }

    QString csv() const
    {
        QString out =
            QStringLiteral("Group,Match type,Confidence,Keep,File,Folder,Artist,Title,Album,Duration,"
                           "Bitrate (kbps),Sample rate,Channels,Format,Size (bytes),Modified\n");
        for (const MatchGroup &group : groups) {
            const QString groupPart = QString::number(group.id) + QLatin1Char(',') +
                                      csvField(matchTierName(group.tier)) + QLatin1Char(',') +
                                      QString::number(group.confidence, 'f', 2) + QLatin1Char(',');
            forEachMember(group, [&](const TrackInfo &t, bool keeper) {
                const QStringList fields{
                    keeper ? QStringLiteral("KEEP") : QStringLiteral("duplicate"),
                    csvText(t.fileName),
                    csvText(QFileInfo(t.path).absolutePath()),
                    csvText(t.artist),
                    csvText(t.title),
                    csvText(t.album),
                    csvField(formatDuration(t.durationMs)),
                    QString::number(t.bitrate),
                    QString::number(t.sampleRate),
                    QString::number(t.channels),
                    csvText(t.format.toUpper()),
                    QString::number(t.size),
                    csvField(t.mtime.toString(Qt::ISODate)),
                };
                out += groupPart + fields.join(QLatin1Char(',')) + QLatin1Char('\n');
            });
        }
        return out;
    }

    QString html() const
    {
        const QString name = AppInfo::applicationName();
        QString out =
            QStringLiteral("<!DOCTYPE html>\n<html lang=\"en-AU\"><head><meta charset=\"utf-8\">\n");
        out += QStringLiteral("<title>") + name + QStringLiteral(" duplicate report</title>\n");
        out += QLatin1String(kStyleSheet);
        out += QStringLiteral("<h1>Ravel<span>wick</span> duplicate report</h1>\n");
        out += QStringLiteral("<div class=\"meta\">Generated ") + esc(reportTime) +
               QStringLiteral(" &middot; scanned ") + esc(options.folders.join(QStringLiteral(", "))) +
               QStringLiteral("</div>\n");

        const auto card = [](const QString &value, const char *label) {
            return QStringLiteral("<div class=\"card\"><b>") + value + QStringLiteral("</b><span>") +
                   QLatin1String(label) + QStringLiteral("</span></div>");
        };
        out += QStringLiteral("<div class=\"summary\">") +
               card(QString::number(tracks.size()), "Files scanned") +
               card(QString::number(groups.size()), "Duplicate groups") +
               card(QString::number(redundantFiles), "Redundant files") +
               card(esc(dataSize(reclaimable)), "Reclaimable") + QStringLiteral("</div>\n");

        for (const MatchGroup &group : groups) {
            out += QStringLiteral("<div class=\"group\"><h2>Group ") + QString::number(group.id) +
                   QStringLiteral(" &middot; ") + esc(matchTierName(group.tier)) +
                   QStringLiteral(" <em>&middot; ") + esc(dataSize(group.reclaimableBytes)) +
                   QStringLiteral(" reclaimable</em></h2>\n");
            out += QStringLiteral(
                "<table><tr><th>Action</th><th>File</th><th>Artist / Title</th><th>Duration</th>"
                "<th>Quality</th><th>Size</th></tr>\n");
            forEachMember(group, [&](const TrackInfo &t, bool keeper) {
                out += QStringLiteral("<tr><td class=\"");
                out += keeper ? QStringLiteral("keep\">KEEP") : QStringLiteral("dupe\">remove");
                out += QStringLiteral("</td><td>") + esc(t.fileName) +
                       QStringLiteral("<div class=\"path\">") + esc(t.path) +
                       QStringLiteral("</div></td><td>");
                out += esc(t.displayArtist()) + QStringLiteral(" &ndash; ") + esc(t.displayTitle());
                out += QStringLiteral("</td><td>") + formatDuration(t.durationMs);
                out += QStringLiteral("</td><td>") + esc(t.qualityString());
                out += QStringLiteral("</td><td>") + esc(dataSize(t.size)) + QStringLiteral("</td></tr>\n");
            });
            out += QStringLiteral("</table></div>\n");
        }

        out += QStringLiteral("<footer>") + esc(name) + QLatin1Char(' ') + esc(AppInfo::versionString()) +
               QStringLiteral(" &middot; ") + esc(AppInfo::copyrightLine()) +
               QStringLiteral("</footer>\n</body></html>\n");
        return out;
    }

    QByteArray json() const
    {
        QJsonObject root;
        root.insert(QStringLiteral("application"), AppInfo::applicationName());
        root.insert(QStringLiteral("version"), AppInfo::versionString());
        root.insert(QStringLiteral("generated"), isoTime);
        root.insert(QStringLiteral("roots"), QJsonArray::fromStringList(options.folders));
        root.insert(QStringLiteral("filesScanned"), int(tracks.size()));
        root.insert(QStringLiteral("groups"), int(groups.size()));
        root.insert(QStringLiteral("duplicateFiles"), redundantFiles);
        root.insert(QStringLiteral("reclaimableBytes"), double(reclaimable));

        QJsonArray groupArray;
        for (const MatchGroup &group : groups) {
            QJsonArray files;
            forEachMember(group, [&](const TrackInfo &t, bool keeper) {
                QJsonObject file;
                file.insert(QStringLiteral("path"), t.path);
                file.insert(QStringLiteral("keep"), keeper);
                file.insert(QStringLiteral("artist"), t.artist);
                file.insert(QStringLiteral("title"), t.title);
                file.insert(QStringLiteral("album"), t.album);
                file.insert(QStringLiteral("durationMs"), t.durationMs);
                file.insert(QStringLiteral("bitrateKbps"), t.bitrate);
                file.insert(QStringLiteral("sampleRate"), t.sampleRate);
                file.insert(QStringLiteral("channels"), t.channels);
                file.insert(QStringLiteral("sizeBytes"), t.size);
                file.insert(QStringLiteral("sha256"), t.fullHash);
                file.insert(QStringLiteral("audioSha256"), t.audioHash);
                files.append(file);
            });
            QJsonObject object;
            object.insert(QStringLiteral("id"), group.id);
            object.insert(QStringLiteral("matchType"), matchTierName(group.tier));
            object.insert(QStringLiteral("confidence"), group.confidence);
            object.insert(QStringLiteral("reclaimableBytes"), group.reclaimableBytes);
            object.insert(QStringLiteral("files"), files);
            groupArray.append(object);
        }
        root.insert(QStringLiteral("duplicateGroups"), groupArray);
        return QJsonDocument(root).toJson(QJsonDocument::Indented);
    }

    QString m3u8() const
    {
        QString out = QStringLiteral("#EXTM3U\n");
        out += QStringLiteral("# ") + AppInfo::applicationName() + QLatin1Char(' ') +
               AppInfo::versionString() + QStringLiteral(" - proposed duplicates, ") + reportTime +
               QLatin1Char('\n');
        for (const MatchGroup &group : groups) {
            forEachMember(group, [&](const TrackInfo &t, bool keeper) {
                if (keeper)
                    return;
                out += QStringLiteral("#EXTINF:") + QString::number(t.durationMs / 1000) + QLatin1Char(',') +
                       singleLine(t.displayArtist() + QStringLiteral(" - ") + t.displayTitle()) +
                       QLatin1Char('\n');
                // A path holding a line break cannot stand on a line of its own; its file URL can.
                const bool oneLine = !t.path.contains(QLatin1Char('\n')) && !t.path.contains(QLatin1Char('\r'));
                out += (oneLine ? t.path : QUrl::fromLocalFile(t.path).toString(QUrl::FullyEncoded)) +
                       QLatin1Char('\n');
            });
        }
        return out;
    }
};

QString ReportWriter::suffixForFormat(Format format)
{
    switch (format) {
    case Csv:
        return QStringLiteral("csv");
    case Html:
        return QStringLiteral("html");
    case Json:
        return QStringLiteral("json");
    case M3u8:
        return QStringLiteral("m3u8");
    }
    return QStringLiteral("txt");
}

QString ReportWriter::filterForFormat(Format format)
{
    switch (format) {
    case Csv:
        return QObject::tr("Comma separated values (*.csv)");
    case Html:
        return QObject::tr("HTML report (*.html)");
    case Json:
        return QObject::tr("JSON data (*.json)");
    case M3u8:
        return QObject::tr("M3U playlist (*.m3u8)");
    }
    return QObject::tr("All files (*)");
}

bool ReportWriter::write(const QString &path, Format format, const QList<TrackInfo> &tracks,
                         const QList<MatchGroup> &groups, const ScanOptions &options, QString *error)
{
    const Builder builder(tracks, groups, options);
    QByteArray content;
    switch (format) {
    case Csv:
        content = builder.csv().toUtf8();
        break;
    case Html:
        content = builder.html().toUtf8();
        break;
    case Json:
        content = builder.json();
        break;
    case M3u8:
        content = builder.m3u8().toUtf8();
        break;
    }
    return saveContent(path, content, error);
}

QString ReportWriter::formatDuration(qint64 ms)
{
    if (ms < 1)
        return QStringLiteral("-");
    const qint64 seconds = ms / 1000;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString ReportWriter::csvField(const QString &text)
{
    QString doubled = text;
    doubled.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + doubled + QLatin1Char('"');
}

QString ReportWriter::csvText(const QString &text)
{
    // A spreadsheet opening the report would run a cell that starts like a formula (a file
    // named "=HYPERLINK(...)"); the apostrophe keeps it text.
    static const QString formulaStarts = QStringLiteral("=+-@\t\r");
    if (!text.isEmpty() && formulaStarts.contains(text.front()))
        return csvField(QLatin1Char('\'') + text);
    return csvField(text);
}

} // namespace rvw

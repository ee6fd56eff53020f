#include "report/ReportWriter.h"

#include "app/AppInfo.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#endif

using rvw::MatchGroup;
using rvw::ReportWriter;
using rvw::ScanOptions;
using rvw::TrackInfo;

Q_DECLARE_METATYPE(ReportWriter::Format)

namespace {

struct CsvField
{
    QString text;
    bool quoted = false;
};
using CsvRecord = QList<CsvField>;

// A strict reader: every record ends in "\n", a quoted field is followed by a comma or the
// record's end, and an unquoted field holds no quote. Anything else fails the parse.
bool parseCsv(const QString &text, QList<CsvRecord> *records, QString *problem)
{
    CsvRecord record;
    CsvField field;
    int i = 0;
    const int n = int(text.size());
    while (i < n) {
        if (text.at(i) == QLatin1Char('"')) {
            field.quoted = true;
            ++i;
            for (;;) {
                if (i >= n) {
                    *problem = QStringLiteral("unterminated quoted field");
                    return false;
                }
                if (text.at(i) == QLatin1Char('"')) {
                    if (i + 1 < n && text.at(i + 1) == QLatin1Char('"')) {
                        field.text += QLatin1Char('"');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field.text += text.at(i++);
            }
        } else {
            while (i < n && text.at(i) != QLatin1Char(',') && text.at(i) != QLatin1Char('\n')) {
                if (text.at(i) == QLatin1Char('"')) {
                    *problem = QStringLiteral("quote inside an unquoted field at %1").arg(i);
                    return false;
                }
                field.text += text.at(i++);
            }
        }
        if (i >= n) {
            *problem = QStringLiteral("last record not ended by a line break");
            return false;
        }
        const QChar end = text.at(i++);
        if (end != QLatin1Char(',') && end != QLatin1Char('\n')) {
            *problem = QStringLiteral("text after a closing quote at %1").arg(i - 1);
            return false;
        }
        record.append(field);
        field = CsvField();
        if (end == QLatin1Char('\n')) {
            records->append(record);
            record.clear();
        }
    }
    return true;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

TrackInfo track(int id, const QString &path, qint64 size)
{
    TrackInfo t;
    t.id = id;
    t.path = path;
    t.fileName = QFileInfo(path).fileName();
    t.format = QFileInfo(path).suffix().toLower();
    t.size = size;
    return t;
}

const QString kHeader =
    QStringLiteral("Group,Match type,Confidence,Keep,File,Folder,Artist,Title,Album,Duration,"
                   "Bitrate (kbps),Sample rate,Channels,Format,Size (bytes),Modified");

const QList<ReportWriter::Format> kFormats{ReportWriter::Csv, ReportWriter::Html, ReportWriter::Json,
                                           ReportWriter::M3u8};

} // namespace

class TestReportWriter : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QList<TrackInfo> m_tracks;
    QList<MatchGroup> m_groups;
    ScanOptions m_options;

    QString pathFor(const QString &name) const { return m_dir.filePath(name); }

    // Writes a report (of the shared scan result unless tracks are given) and returns its bytes.
    QByteArray writeReport(ReportWriter::Format format, const QString &name)
    {
        return writeReportOf(format, name, m_tracks, m_groups);
    }

    QByteArray writeReportOf(ReportWriter::Format format, const QString &name, const QList<TrackInfo> &tracks,
                             const QList<MatchGroup> &groups)
    {
        QString error;
        if (!ReportWriter::write(pathFor(name), format, tracks, groups, m_options, &error)) {
            qWarning("write failed: %s", qPrintable(error));
            return QByteArray();
        }
        return readAll(pathFor(name));
    }

    QString textOf(ReportWriter::Format format, const QString &name, const QList<TrackInfo> &tracks,
                   const QList<MatchGroup> &groups)
    {
        return QString::fromUtf8(writeReportOf(format, name, tracks, groups));
    }

    QList<CsvRecord> csvOf(const QByteArray &bytes)
    {
        QList<CsvRecord> records;
        QString problem;
        if (!parseCsv(QString::fromUtf8(bytes), &records, &problem)) {
            qWarning("CSV does not parse: %s", qPrintable(problem));
            return {};
        }
        return records;
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_dir.isValid());
        // Data sizes are locale text; fix the locale so the expected texts hold everywhere.
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));

        m_options.folders = {QStringLiteral("/music/<main>"), QStringLiteral("/music/B & C")};

        // Group 1 (Acoustic, three members, keeper in the middle), group 2 (Identical, two).
        TrackInfo a = track(0, QStringLiteral("/music/<main>/Artist, The/a \"live\".mp3"), 4000000);
        a.artist = QStringLiteral("Smith, \"Jo\"");
        a.title = QStringLiteral("Line one\nline two");
        a.album = QStringLiteral("Best, of");
        a.durationMs = 3661000;
        a.bitrate = 320;
        a.sampleRate = 44100;
        a.channels = 2;
        a.mtime = QDateTime(QDate(2024, 3, 5), QTime(7, 8, 9), Qt::UTC);
        a.fullHash = QString(64, QLatin1Char('a'));
        a.audioHash = QString(64, QLatin1Char('b'));

        TrackInfo b = track(1, QStringLiteral("/music/B & C/keeper.flac"), 30000000);
        b.artist = QStringLiteral("<script>alert(1)</script>");
        b.title = QStringLiteral("Tom & \"Jerry\"");
        b.durationMs = 3661999;
        b.bitrate = 900;
        b.sampleRate = 48000;
        b.channels = 2;

        TrackInfo c = track(2, QStringLiteral("/music/B & C/untagged.ogg"), 1536); // no tags, no duration
        c.albumArtist = QStringLiteral("Band\r\nInjected");

        TrackInfo d = track(3, QStringLiteral("/music/x/one.wav"), 5000000000LL);
        d.title = QStringLiteral("One");
        d.artist = QStringLiteral("Solo");
        d.durationMs = 999;
        TrackInfo e = track(4, QStringLiteral("/music/x/two.wav"), 5000000000LL);
        e.title = QStringLiteral("One");
        e.artist = QStringLiteral("Solo");
        e.durationMs = 4500000;

        TrackInfo lone = track(5, QStringLiteral("/music/x/lone.mp3"), 10); // in no group
        m_tracks = {a, b, c, d, e, lone};

        MatchGroup g1;
        g1.id = 1;
        g1.tier = rvw::Acoustic;
        g1.members = {0, 1, 2};
        g1.keeper = 1;
        g1.confidence = 0.8749;
        g1.reclaimableBytes = 4000000 + 1536;
        MatchGroup g2;
        g2.id = 2;
        g2.tier = rvw::Identical;
        g2.members = {4, 3};
        g2.keeper = 3;
        g2.confidence = 1.0;
        g2.reclaimableBytes = 5000000000LL;
        m_groups = {g1, g2};
    }

    void suffixAndFilter_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QString>("filter");
        QTest::newRow("csv") << 0 << QString("csv") << "Comma separated values (*.csv)";
        QTest::newRow("html") << 1 << QString("html") << "HTML report (*.html)";
        QTest::newRow("json") << 2 << QString("json") << "JSON data (*.json)";
        QTest::newRow("m3u8") << 3 << QString("m3u8") << "M3U playlist (*.m3u8)";
        QTest::newRow("past the end") << 4 << QString("txt") << "All files (*)";
        QTest::newRow("negative") << -1 << QString("txt") << "All files (*)";
    }

    void suffixAndFilter()
    {
        QFETCH(int, format);
        QFETCH(QString, suffix);
        QFETCH(QString, filter);
        QCOMPARE(ReportWriter::suffixForFormat(ReportWriter::Format(format)), suffix);
        QCOMPARE(ReportWriter::filterForFormat(ReportWriter::Format(format)), filter);
    }

    void csvRoundTrip()
    {
        const QByteArray bytes = writeReport(ReportWriter::Csv, QStringLiteral("round.csv"));
        QVERIFY(!bytes.startsWith("\xEF\xBB\xBF"));
        const QList<CsvRecord> records = csvOf(bytes);
        QCOMPARE(records.size(), 1 + 5);

        QStringList header;
        for (const CsvField &f : records.at(0)) {
            QVERIFY(!f.quoted);
            header << f.text;
        }
        QCOMPARE(header.join(QLatin1Char(',')), kHeader);

        // Text columns are always quoted, numeric and fixed-word columns never.
        const QList<int> quotedColumns{1, 4, 5, 6, 7, 8, 9, 13, 15};
        for (int r = 1; r < records.size(); ++r) {
            QCOMPARE(records.at(r).size(), 16);
            for (int col = 0; col < 16; ++col)
                QVERIFY2(records.at(r).at(col).quoted == quotedColumns.contains(col),
                         qPrintable(QStringLiteral("row %1 column %2").arg(r).arg(col)));
        }

        const auto texts = [&](int r) {
            QStringList out;
            for (const CsvField &f : records.at(r))
                out << f.text;
            return out;
        };
        QCOMPARE(texts(1),
                 (QStringList{"1", "Same recording", "0.87", "duplicate", "a \"live\".mp3",
                              "/music/<main>/Artist, The", "Smith, \"Jo\"", "Line one\nline two", "Best, of",
                              "61:01", "320", "44100", "2", "MP3", "4000000", "2024-03-05T07:08:09Z"}));
        QCOMPARE(texts(2), (QStringList{"1", "Same recording", "0.87", "KEEP", "keeper.flac", "/music/B & C",
                                        "<script>alert(1)</script>", "Tom & \"Jerry\"", "", "61:01", "900",
                                        "48000", "2", "FLAC", "30000000", ""}));
        // Missing tags stay empty (no display fallback), a missing duration is "-".
        QCOMPARE(texts(3), (QStringList{"1", "Same recording", "0.87", "duplicate", "untagged.ogg",
                                        "/music/B & C", "", "", "", "-", "0", "0", "0", "OGG", "1536", ""}));
        // Members in the group's order, not the track order.
        QCOMPARE(texts(4).mid(0, 5), (QStringList{"2", "Identical file", "1.00", "duplicate", "two.wav"}));
        QCOMPARE(texts(5).mid(3, 2), (QStringList{"KEEP", "one.wav"}));
        QCOMPARE(texts(5).at(14), QStringLiteral("5000000000"));
    }

    void durations_data()
    {
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("seconds");
        QTest::newRow("zero") << qint64(0) << QString("-") << "0";
        QTest::newRow("negative") << qint64(-4000) << QString("-") << "-4";
        QTest::newRow("one ms") << qint64(1) << QString("0:00") << "0";
        QTest::newRow("under a second") << qint64(999) << QString("0:00") << "0";
        QTest::newRow("one second") << qint64(1000) << QString("0:01") << "1";
        QTest::newRow("truncates") << qint64(59999) << QString("0:59") << "59";
        QTest::newRow("a minute") << qint64(60000) << QString("1:00") << "60";
        QTest::newRow("past an hour") << qint64(3661000) << QString("61:01") << "3661";
        QTest::newRow("75 minutes") << qint64(4500000) << QString("75:00") << "4500";
        QTest::newRow("beyond 32 bits") << qint64(6000000000000LL) << QString("100000000:00") << "6000000000";
    }

    // The same duration text appears in the CSV and HTML; the playlist gives whole seconds.
    void durations()
    {
        QFETCH(qint64, ms);
        QFETCH(QString, text);
        QFETCH(QString, seconds);
        TrackInfo keeper = track(0, QStringLiteral("/m/k.mp3"), 1);
        keeper.title = QStringLiteral("K");
        TrackInfo copy = track(1, QStringLiteral("/m/c.mp3"), 1);
        copy.durationMs = ms;
        copy.title = QStringLiteral("C");
        copy.artist = QStringLiteral("A");
        MatchGroup group;
        group.members = {0, 1};
        group.keeper = 0;
        const QList<TrackInfo> tracks{keeper, copy};

        const QList<CsvRecord> records = csvOf(writeReportOf(ReportWriter::Csv, "d.csv", tracks, {group}));
        QCOMPARE(records.size(), 3);
        QCOMPARE(records.at(2).at(9).text, text);
        QVERIFY(textOf(ReportWriter::Html, "d.html", tracks, {group})
                    .contains("A &ndash; C</td><td>" + text + "</td>"));
        const QString m3u = textOf(ReportWriter::M3u8, "d.m3u8", tracks, {group});
        QVERIFY2(m3u.contains("\n#EXTINF:" + seconds + ",A - C\n/m/c.mp3\n"), qPrintable(m3u));
    }

    void jsonKeysAndTypes()
    {
        const QByteArray bytes = writeReport(ReportWriter::Json, QStringLiteral("r.json"));
        QJsonParseError parseError;
        const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parseError);
        QVERIFY2(parseError.error == QJsonParseError::NoError, qPrintable(parseError.errorString()));
        // Indented form, four spaces per level.
        QVERIFY(bytes.startsWith("{\n    \""));
        QVERIFY(bytes.contains("\n            \"files\": ["));

        const QJsonObject root = doc.object();
        QCOMPARE(root.keys(), (QStringList{"application", "duplicateFiles", "duplicateGroups", "filesScanned",
                                           "generated", "groups", "reclaimableBytes", "roots", "version"}));
        QCOMPARE(root.value("application").toString(), rvw::AppInfo::applicationName());
        QCOMPARE(root.value("version").toString(), rvw::AppInfo::versionString());
        const QDateTime generated = QDateTime::fromString(root.value("generated").toString(), Qt::ISODate);
        QVERIFY2(generated.isValid(), qPrintable(root.value("generated").toString()));
        QCOMPARE(root.value("roots").toVariant().toStringList(), m_options.folders);
        QCOMPARE(root.value("filesScanned").toInt(), 6);
        QCOMPARE(root.value("groups").toInt(), 2);
        QCOMPARE(root.value("duplicateFiles").toInt(), 3);
        QCOMPARE(root.value("reclaimableBytes").toInteger(), 4000000LL + 1536 + 5000000000LL);

        const QJsonArray groups = root.value("duplicateGroups").toArray();
        QCOMPARE(groups.size(), 2);
        const QStringList fileKeys{"album", "artist", "audioSha256", "bitrateKbps", "channels",  "durationMs",
                                   "keep",  "path",   "sampleRate",  "sha256",      "sizeBytes", "title"};
        for (const QJsonValue &g : groups) {
            QCOMPARE(g.toObject().keys(),
                     (QStringList{"confidence", "files", "id", "matchType", "reclaimableBytes"}));
            for (const QJsonValue &f : g.toObject().value("files").toArray()) {
                QCOMPARE(f.toObject().keys(), fileKeys);
                for (const char *key : {"path", "artist", "title", "album", "sha256", "audioSha256"})
                    QVERIFY2(f.toObject().value(key).isString(), key);
                for (const char *key : {"durationMs", "bitrateKbps", "sampleRate", "channels", "sizeBytes"})
                    QVERIFY2(f.toObject().value(key).isDouble(), key);
                QVERIFY(f.toObject().value("keep").isBool());
            }
        }

        const QJsonObject g1 = groups.at(0).toObject();
        QCOMPARE(g1.value("id").toInt(), 1);
        QCOMPARE(g1.value("matchType").toString(), QStringLiteral("Same recording"));
        QCOMPARE(g1.value("confidence").toDouble(), 0.8749); // not rounded like the CSV
        QCOMPARE(g1.value("reclaimableBytes").toInteger(), 4001536LL);
        const QJsonArray files = g1.value("files").toArray();
        QCOMPARE(files.size(), 3);
        QCOMPARE(files.at(0)["path"].toString(), m_tracks.at(0).path);
        QCOMPARE(files.at(0)["keep"].toBool(), false);
        QCOMPARE(files.at(1)["keep"].toBool(), true);
        QCOMPARE(files.at(0)["title"].toString(), QStringLiteral("Line one\nline two"));
        QCOMPARE(files.at(0)["durationMs"].toInteger(), 3661000LL);
        QCOMPARE(files.at(0)["bitrateKbps"].toInt(), 320);
        QCOMPARE(files.at(0)["sha256"].toString(), m_tracks.at(0).fullHash);
        QCOMPARE(files.at(0)["audioSha256"].toString(), m_tracks.at(0).audioHash);
        QCOMPARE(files.at(2)["artist"].toString(), QString()); // the tag, not a display fallback
        QCOMPARE(groups.at(1)["files"].toArray().at(0)["path"].toString(),
                 QStringLiteral("/music/x/two.wav"));
        QCOMPARE(groups.at(1)["files"].toArray().at(1)["sizeBytes"].toInteger(), 5000000000LL);
    }

    void htmlEscapesMarkup()
    {
        const QString html = QString::fromUtf8(writeReport(ReportWriter::Html, "r.html"));
        QVERIFY(!html.contains(QStringLiteral("<script>")));
        QVERIFY(!html.contains(QStringLiteral("<main>")));
        QVERIFY(
            html.contains(QStringLiteral(" &middot; scanned /music/&lt;main&gt;, /music/B &amp; C</div>\n")));
        // The keeper's row, piece by piece.
        QVERIFY2(
            html.contains(QStringLiteral(
                "<tr><td class=\"keep\">KEEP</td><td>keeper.flac<div class=\"path\">/music/B &amp; "
                "C/keeper.flac"
                "</div></td><td>&lt;script&gt;alert(1)&lt;/script&gt; &ndash; Tom &amp; &quot;Jerry&quot;"
                "</td><td>61:01</td><td>FLAC 900 kbps 48 kHz stereo</td><td>28.61 MB</td></tr>\n")),
            qPrintable(html));
        // A file name with a quote, and a title with a line break.
        QVERIFY(html.contains(
            QStringLiteral("<tr><td class=\"dupe\">remove</td><td>a &quot;live&quot;.mp3<div class=\"path\">"
                           "/music/&lt;main&gt;/Artist, The/a &quot;live&quot;.mp3</div></td><td>Smith, "
                           "&quot;Jo&quot; &ndash; "
                           "Line one\nline two</td><td>61:01</td><td>MP3 320 kbps 44.1 kHz "
                           "stereo</td><td>3.81 MB</td></tr>\n")));
        // Display fallbacks for an untagged file.
        const QString untagged = QStringLiteral("Band\r\nInjected &ndash; untagged</td><td>-</td><td>OGG</td>"
                                                "<td>1.50 kB</td></tr>\n"); // Qt names 1024 bytes "kB"
        QVERIFY(html.contains(untagged));
    }

    void htmlFrame()
    {
        const QString html = QString::fromUtf8(writeReport(ReportWriter::Html, QStringLiteral("frame.html")));
        QVERIFY(html.startsWith(
            QStringLiteral("<!DOCTYPE html>\n<html lang=\"en-AU\"><head><meta charset=\"utf-8\">\n"
                           "<title>Ravelwick duplicate report</title>\n<style>\n")));
        QVERIFY(html.endsWith(QStringLiteral("<footer>Ravelwick 1.0.0 &middot; ") +
                              rvw::AppInfo::copyrightLine().toHtmlEscaped() +
                              QStringLiteral("</footer>\n</body></html>\n")));

        QVERIFY(
            html.contains(QStringLiteral("</style></head><body>\n<h1>Ravel<span>wick</span> duplicate report"
                                         "</h1>\n<div class=\"meta\">Generated ")));
        QVERIFY(html.contains(QStringLiteral(
            "<div class=\"summary\"><div class=\"card\"><b>6</b><span>Files scanned</span></div>"
            "<div class=\"card\"><b>2</b><span>Duplicate groups</span></div>"
            "<div class=\"card\"><b>3</b><span>Redundant files</span></div>"
            "<div class=\"card\"><b>4.66 GB</b><span>Reclaimable</span></div></div>\n")));
        QVERIFY(html.contains(QStringLiteral(
            "<div class=\"group\"><h2>Group 1 &middot; Same recording <em>&middot; 3.82 MB "
            "reclaimable</em></h2>\n"
            "<table><tr><th>Action</th><th>File</th><th>Artist / Title</th><th>Duration</th><th>Quality</th>"
            "<th>Size</th></tr>\n<tr>")));
        QCOMPARE(html.count(QStringLiteral("<div class=\"group\">")), 2);
        QCOMPARE(html.count(QStringLiteral("</table></div>\n")), 2);
        QCOMPARE(html.count(QStringLiteral("<tr><td class=")), 5);

        // The time stamp in RFC 2822 form, between "Generated " and the separator.
        const QRegularExpression meta(QStringLiteral("<div class=\"meta\">Generated (.+) &middot; scanned "));
        const QRegularExpressionMatch m = meta.match(html);
        QVERIFY(m.hasMatch());
        QVERIFY2(QDateTime::fromString(m.captured(1), Qt::RFC2822Date).isValid(), qPrintable(m.captured(1)));
    }

    void playlist()
    {
        const QString m3u = QString::fromUtf8(writeReport(ReportWriter::M3u8, QStringLiteral("r.m3u8")));
        QStringList lines = m3u.split(QLatin1Char('\n'));
        QCOMPARE(lines.takeLast(), QString()); // ends with a line break
        QCOMPARE(lines.size(), 2 + 2 * 3);
        QCOMPARE(lines.at(0), QStringLiteral("#EXTM3U"));
        const QString prefix = QStringLiteral("# Ravelwick 1.0.0 - proposed duplicates, ");
        QVERIFY(lines.at(1).startsWith(prefix));
        QVERIFY2(QDateTime::fromString(lines.at(1).mid(prefix.size()), Qt::RFC2822Date).isValid(),
                 qPrintable(lines.at(1)));
        // Keepers left out; tag text written raw; a line break in a tag does not start a line.
        QCOMPARE(lines.mid(2), (QStringList{"#EXTINF:3661,Smith, \"Jo\" - Line one line two",
                                            "/music/<main>/Artist, The/a \"live\".mp3",
                                            "#EXTINF:0,Band Injected - untagged", "/music/B & C/untagged.ogg",
                                            "#EXTINF:4500,Solo - One", "/music/x/two.wav"}));
    }

    void noGroups()
    {
        const QList<TrackInfo> tracks = m_tracks.mid(0, 4);

        QCOMPARE(writeReportOf(ReportWriter::Csv, "none.csv", tracks, {}), kHeader.toUtf8() + "\n");

        const QString html = textOf(ReportWriter::Html, "none.html", tracks, {});
        QVERIFY(html.contains(QStringLiteral(
            "<div class=\"summary\"><div class=\"card\"><b>4</b><span>Files scanned</span></div>"
            "<div class=\"card\"><b>0</b><span>Duplicate groups</span></div>"
            "<div class=\"card\"><b>0</b><span>Redundant files</span></div>"
            "<div class=\"card\"><b>0 bytes</b><span>Reclaimable</span></div></div>\n<footer>")));
        QVERIFY(!html.contains(QStringLiteral("<table>")));

        const QJsonObject json =
            QJsonDocument::fromJson(writeReportOf(ReportWriter::Json, "none.json", tracks, {})).object();
        QCOMPARE(json.value("filesScanned").toInt(), 4);
        QCOMPARE(json.value("groups").toInt(), 0);
        QVERIFY(json.value("reclaimableBytes").isDouble());
        QVERIFY(json.value("duplicateGroups").isArray());
        QVERIFY(json.value("duplicateGroups").toArray().isEmpty());

        const QStringList lines =
            textOf(ReportWriter::M3u8, "none.m3u8", tracks, {}).split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines.at(0), QStringLiteral("#EXTM3U"));
        QCOMPARE(lines.at(2), QString());
    }

    // A copy kept besides the keeper (the only copy of another recording) is written as kept.
    void alsoKeptCopiesAreKept()
    {
        MatchGroup group = m_groups.first();
        group.alsoKept = {2};
        const QList<MatchGroup> groups{group};
        const QJsonObject json =
            QJsonDocument::fromJson(writeReportOf(ReportWriter::Json, "also.json", m_tracks, groups)).object();
        QCOMPARE(json.value("duplicateFiles").toInt(), 1);
        const QJsonArray files = json.value("duplicateGroups").toArray().at(0)["files"].toArray();
        QCOMPARE(files.size(), 3);
        QCOMPARE(files.at(0)["keep"].toBool(), false);
        QCOMPARE(files.at(2)["keep"].toBool(), true);
        const QString m3u = textOf(ReportWriter::M3u8, "also.m3u8", m_tracks, groups);
        QCOMPARE(m3u.count(QStringLiteral("#EXTINF:")), 1);
        QVERIFY(!m3u.contains(m_tracks.at(2).path));
    }

    // A group that names tracks that are not in the list must not crash the export; the
    // members that exist are still reported.
    void membersOutsideTheTrackList()
    {
        MatchGroup group;
        group.id = 4;
        group.members = {-1, 0, 6, 1, 1000000};
        group.keeper = 0;
        const QList<MatchGroup> groups{group};
        const QList<TrackInfo> tracks = m_tracks.mid(0, 2);

        const QList<CsvRecord> records = csvOf(writeReportOf(ReportWriter::Csv, "bad.csv", tracks, groups));
        QCOMPARE(records.size(), 3);
        QCOMPARE(records.at(1).at(3).text, QStringLiteral("KEEP"));
        QCOMPARE(records.at(2).at(4).text, QStringLiteral("keeper.flac"));
        QCOMPARE(textOf(ReportWriter::Html, "bad.html", tracks, groups).count("<tr><td class="), 2);
        const QJsonObject json =
            QJsonDocument::fromJson(writeReportOf(ReportWriter::Json, "bad.json", tracks, groups)).object();
        QCOMPARE(json.value("duplicateGroups").toArray().at(0)["files"].toArray().size(), 2);
        const QString m3u = textOf(ReportWriter::M3u8, "bad.m3u8", tracks, groups);
        QCOMPARE(m3u.count(QStringLiteral("#EXTINF:")), 1);
        QVERIFY(m3u.contains(QStringLiteral("\n/music/B & C/keeper.flac\n")));
    }

    void unknownFormatEmptiesTheFile()
    {
        const QString path = pathFor(QStringLiteral("unknown.txt"));
        QVERIFY(writeBytes(path, "old content"));
        QString error = QStringLiteral("untouched");
        QVERIFY(ReportWriter::write(path, ReportWriter::Format(7), m_tracks, m_groups, m_options, &error));
        QCOMPARE(error, QStringLiteral("untouched"));
        QVERIFY(QFileInfo::exists(path));
        QCOMPARE(QFileInfo(path).size(), 0);
    }

    void replacesAnExistingReport()
    {
        const QString path = pathFor(QStringLiteral("again.csv"));
        QVERIFY(writeBytes(path, QByteArray(100000, 'x')));
        QVERIFY(ReportWriter::write(path, ReportWriter::Csv, m_tracks, {}, m_options, nullptr));
        QCOMPARE(readAll(path), kHeader.toUtf8() + "\n");
    }

    void unwritablePath_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("missing folder") << QStringLiteral("no/such/folder/report.csv");
        QTest::newRow("a folder") << QStringLiteral("folder");
    }

    void unwritablePath()
    {
        QFETCH(QString, name);
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("folder")));
        const QString path = pathFor(name);
        for (ReportWriter::Format format : kFormats) {
            QString error;
            QVERIFY(!ReportWriter::write(path, format, m_tracks, m_groups, m_options, &error));
            QVERIFY2(!error.isEmpty(), "an error text is expected");
            QVERIFY(!ReportWriter::write(path, format, m_tracks, m_groups, m_options, nullptr));
        }
        QVERIFY(!QFileInfo(pathFor(QStringLiteral("no"))).exists());
        QVERIFY(QFileInfo(pathFor(QStringLiteral("folder"))).isDir());
        QVERIFY(QDir(pathFor(QStringLiteral("folder"))).isEmpty());
    }

    void fullDevice()
    {
#ifdef Q_OS_UNIX
        const QString full = QStringLiteral("/dev/full");
        struct stat before;
        if (::stat("/dev/full", &before) != 0 || !S_ISCHR(before.st_mode))
            QSKIP("/dev/full is not available on this system");
        for (ReportWriter::Format format : kFormats) {
            QString error;
            QVERIFY2(!ReportWriter::write(full, format, m_tracks, m_groups, m_options, &error),
                     qPrintable(ReportWriter::suffixForFormat(format)));
            QVERIFY2(!error.isEmpty(), "an error text is expected");
        }
        // The device itself must still be the device, not a file renamed over it.
        struct stat after;
        QCOMPARE(::stat("/dev/full", &after), 0);
        QVERIFY(S_ISCHR(after.st_mode));
        QCOMPARE(after.st_rdev, before.st_rdev);
#else
        QSKIP("needs /dev/full");
#endif
    }

    // A write that fails part-way (here: the process's file size limit, as a full disk
    // would) reports the failure and leaves the earlier report in place.
    void failedWriteKeepsThePreviousReport()
    {
#ifdef Q_OS_UNIX
        const QString path = pathFor(QStringLiteral("kept.html"));
        const QByteArray previous = "previous report";
        QVERIFY(writeBytes(path, previous));

        QList<TrackInfo> tracks;
        MatchGroup group;
        group.id = 1;
        for (int i = 0; i < 400; ++i) {
            tracks << track(i, QStringLiteral("/music/many/%1.mp3").arg(i), 1000);
            group.members << i;
        }
        group.keeper = 0;

        struct rlimit saved;
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limited = saved;
        limited.rlim_cur = 16384;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limited), 0);
        QString error;
        const bool ok = ReportWriter::write(path, ReportWriter::Html, tracks, {group}, m_options, &error);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);

        QVERIFY(!ok);
        QVERIFY(!error.isEmpty());
        QCOMPARE(readAll(path), previous);
        QCOMPARE(QDir(m_dir.path()).entryList({QStringLiteral("kept.html*")}, QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("kept.html")});

        // Without the limit the same report goes through and replaces the old one.
        QVERIFY(ReportWriter::write(path, ReportWriter::Html, tracks, {group}, m_options, &error));
        QVERIFY(QFileInfo(path).size() > 16384);
#else
        QSKIP("needs a file size limit");
#endif
    }
};

QTEST_MAIN(TestReportWriter)
#include "tst_reportwriter.moc"

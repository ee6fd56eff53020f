#include "report/ReportWriter.h"

#include "app/AppInfo.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

using rvw::MatchGroup;
using rvw::ReportWriter;
using rvw::TrackInfo;

namespace {

// Reads CSV as a spreadsheet does; empty when the text is not well-formed (a stray quote, text
// after a closing quote, a last record without its line break).
QList<QStringList> parseCsv(const QString &text)
{
    static const QRegularExpression field(QStringLiteral("\"((?:[^\"]|\"\")*)\"([,\n])|([^\",\n]*)([,\n])"));
    QList<QStringList> rows{{}};
    for (qsizetype i = 0; i < text.size();) {
        const QRegularExpressionMatch m = field.match(text, i, QRegularExpression::NormalMatch,
                                                      QRegularExpression::AnchorAtOffsetMatchOption);
        if (!m.hasMatch())
            return {};
        rows.last() << (m.hasCaptured(1) ? m.captured(1).replace(QStringLiteral("\"\""), QStringLiteral("\""))
                                         : m.captured(3));
        if (m.captured(2) + m.captured(4) == u"\n")
            rows << QStringList();
        i = m.capturedEnd();
    }
    return rows.last().isEmpty() ? rows.mid(0, rows.size() - 1) : QList<QStringList>();
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TrackInfo track(const QString &path, qint64 size, const QString &artist = {}, const QString &title = {},
                qint64 ms = 0)
{
    TrackInfo t;
    t.path = path;
    t.fileName = QFileInfo(path).fileName();
    t.format = QFileInfo(path).suffix();
    t.size = size;
    t.artist = artist;
    t.title = title;
    t.durationMs = ms;
    return t;
}

// JSON text, where the expected documents may write ' for ".
QJsonObject object(QByteArray json)
{
    return QJsonDocument::fromJson(json.replace('\'', '"')).object();
}

const QByteArray kHeader = "Group,Match type,Confidence,Keep,File,Folder,Artist,Title,Album,Duration,"
                           "Bitrate (kbps),Sample rate,Channels,Format,Size (bytes),Modified\n";

} // namespace

class TestReportWriter : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QList<TrackInfo> m_tracks;
    QList<MatchGroup> m_groups;
    rvw::ScanOptions m_options;

    QString report(ReportWriter::Format format, const QList<TrackInfo> &tracks,
                   const QList<MatchGroup> &groups)
    {
        const QString path = m_dir.filePath(QStringLiteral("report"));
        QString error;
        if (!ReportWriter::write(path, format, tracks, groups, m_options, &error))
            qWarning("write failed: %s", qPrintable(error));
        return QString::fromUtf8(readAll(path));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // Data sizes are locale text; fix the locale so the expected texts hold everywhere.
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        m_options.folders = {QStringLiteral("/music/<main>"), QStringLiteral("/music/B & C")};

        TrackInfo a = track("/music/<main>/Artist, The/a \"live\".mp3", 4000000, "Smith, \"Jo\"",
                            "Line one\nline two", 3661000);
        a.album = QStringLiteral("Best, of");
        a.mtime = QDateTime(QDate(2024, 3, 5), QTime(7, 8, 9), Qt::UTC);
        TrackInfo b = track("/music/B & C/keeper.flac", 30000000, "<script>alert(1)</script>",
                            "Tom & \"Jerry\"", 3661999);
        b.bitrate = 900;
        b.sampleRate = 48000;
        b.channels = 2;
        b.fullHash = QStringLiteral("ab12");
        b.audioHash = QStringLiteral("cd34");
        TrackInfo c = track("/music/B & C/untagged.ogg", 1536); // no tags, no duration
        c.albumArtist = QStringLiteral("Band\r\nInjected");
        // The last track is in no group; the one before is kept besides its group's keeper.
        m_tracks << a << b << c << track("/music/x/one.wav", 5000000000LL, "Solo", "One", 999)
                 << track("/music/x/two.wav", 5000000000LL, "Solo", "One", 4500000)
                 << track("/music/x/also.wav", 7, "Solo", "Live") << track("/music/x/lone.mp3", 10);
        m_groups << MatchGroup{1, rvw::Acoustic, {0, 1, 2}, {}, 1, {}, 0.8749, 4001536}
                 << MatchGroup{2, rvw::Identical, {4, 3, 5}, {}, 3, {5}, 1, 5000000000LL};
    }

    void suffixAndFilter()
    {
        QStringList names;
        for (int format = -1; format <= 4; ++format)
            names << ReportWriter::suffixForFormat(ReportWriter::Format(format)) + u' ' +
                         ReportWriter::filterForFormat(ReportWriter::Format(format));
        QCOMPARE(names, (QStringList{"txt All files (*)", "csv Comma separated values (*.csv)",
                                     "html HTML report (*.html)", "json JSON data (*.json)",
                                     "m3u8 M3U playlist (*.m3u8)", "txt All files (*)"}));
    }

    // What other programs read, in the format the row's name begins with; ^ and $ stand for the
    // report's start and end.
    void texts_data()
    {
        QTest::addColumn<QString>("expected");
        QTest::newRow("csv")
            << "^" + QString::fromUtf8(kHeader) +
                   "1,\"Same recording\",0.87,duplicate,\"a \"\"live\"\".mp3\",\"/music/<main>/Artist, The\","
                   "\"Smith, \"\"Jo\"\"\",\"Line one\nline two\",\"Best, "
                   "of\",\"61:01\",0,0,0,\"MP3\",4000000,"
                   "\"2024-03-05T07:08:09Z\"\n"
                   "1,\"Same recording\",0.87,KEEP,\"keeper.flac\",\"/music/B & "
                   "C\",\"<script>alert(1)</script>\","
                   "\"Tom & \"\"Jerry\"\"\",\"\",\"61:01\",900,48000,2,\"FLAC\",30000000,\"\"\n"
                   "1,\"Same recording\",0.87,duplicate,\"untagged.ogg\",\"/music/B & "
                   "C\",\"\",\"\",\"\",\"-\","
                   "0,0,0,\"OGG\",1536,\"\"\n"
                   "2,\"Identical "
                   "file\",1.00,duplicate,\"two.wav\",\"/music/x\",\"Solo\",\"One\",\"\",\"75:00\","
                   "0,0,0,\"WAV\",5000000000,\"\"\n"
                   "2,\"Identical "
                   "file\",1.00,KEEP,\"one.wav\",\"/music/x\",\"Solo\",\"One\",\"\",\"0:00\",0,0,0,"
                   "\"WAV\",5000000000,\"\"\n"
                   "2,\"Identical "
                   "file\",1.00,KEEP,\"also.wav\",\"/music/x\",\"Solo\",\"Live\",\"\",\"-\",0,0,0,"
                   "\"WAV\",7,\"\"\n$";
        QTest::newRow("html start") << "^<!DOCTYPE html>\n";
        QTest::newRow("html roots") << " &middot; scanned /music/&lt;main&gt;, /music/B &amp; C</div>\n";
        QTest::newRow("html summary")
            << "<div class=\"summary\"><div class=\"card\"><b>7</b><span>Files scanned</span></div>"
               "<div class=\"card\"><b>2</b><span>Duplicate groups</span></div><div class=\"card\"><b>3</b>"
               "<span>Redundant files</span></div><div class=\"card\"><b>4.66 GB</b><span>Reclaimable</span>"
               "</div></div>\n<div class=\"group\"><h2>Group 1 &middot; Same recording <em>&middot; 3.82 MB "
               "reclaimable</em></h2>\n<table>";
        QTest::newRow("html escaped names")
            << "<table><tr><th>Action</th><th>File</th><th>Artist / Title</th><th>Duration</th>"
               "<th>Quality</th><th>Size</th></tr>\n<tr><td class=\"dupe\">remove</td><td>a &quot;live&quot;"
               ".mp3<div class=\"path\">/music/&lt;main&gt;/Artist, The/a &quot;live&quot;.mp3</div></td>"
               "<td>Smith, &quot;Jo&quot; &ndash; Line one\nline two</td><td>61:01</td><td>MP3</td>"
               "<td>3.81 MB</td></tr>\n<tr><td class=\"keep\">KEEP</td><td>keeper.flac<div class=\"path\">"
               "/music/B &amp; C/keeper.flac</div></td><td>&lt;script&gt;alert(1)&lt;/script&gt; &ndash; "
               "Tom &amp; &quot;Jerry&quot;</td><td>61:01</td><td>FLAC 900 kbps 48 kHz stereo</td>"
               "<td>28.61 MB</td></tr>\n";
        QTest::newRow("html display fallbacks") // Qt names 1024 bytes "kB"
            << "<td>Band\r\nInjected &ndash; untagged</td><td>-</td><td>OGG</td><td>1.50 kB</td></tr>\n"
               "</table>";
        QTest::newRow("html end")
            << "<tr><td class=\"keep\">KEEP</td><td>also.wav<div class=\"path\">/music/x/also.wav</div>"
               "</td><td>Solo &ndash; Live</td><td>-</td><td>WAV</td><td>7 bytes</td></tr>\n</table></div>\n"
               "<footer>";
        QTest::newRow("html close") << "</footer>\n</body></html>\n$";
        QTest::newRow("m3u8 start") << "^#EXTM3U\n# Ravelwick 1.0.0 - proposed duplicates, ";
        // Keepers left out; tag text raw; a line break in a tag does not start a line.
        QTest::newRow("m3u8 entries")
            << "\n#EXTINF:3661,Smith, \"Jo\" - Line one line two\n/music/<main>/Artist, The/a \"live\".mp3\n"
               "#EXTINF:0,Band Injected - untagged\n/music/B & C/untagged.ogg\n#EXTINF:4500,Solo - One\n"
               "/music/x/two.wav\n$";
    }

    void texts()
    {
        QFETCH(QString, expected);
        const QString suffix = QString::fromLatin1(QTest::currentDataTag()).section(u' ', 0, 0);
        const auto format = ReportWriter::Format(QStringList{"csv", "html", "json", "m3u8"}.indexOf(suffix));
        const QString text = u'^' + report(format, m_tracks, m_groups) + u'$';
        QVERIFY2(text.contains(expected), qPrintable(text));
    }

    void timeStamps()
    {
        const auto stamped = [this](ReportWriter::Format format, const char *pattern, Qt::DateFormat form) {
            const QString text = report(format, m_tracks, m_groups);
            return QDateTime::fromString(QRegularExpression(pattern).match(text).captured(1), form).isValid();
        };
        QVERIFY(stamped(ReportWriter::Html, "Generated (.+) &middot; scanned", Qt::RFC2822Date));
        QVERIFY(stamped(ReportWriter::M3u8, "duplicates, (.+)\n", Qt::RFC2822Date));
        QVERIFY(stamped(ReportWriter::Json, "\"generated\": \"(.+)\"", Qt::ISODate));
    }

    // The fields a peer or the quarantine command reads back.
    void json()
    {
        QJsonObject root = object(report(ReportWriter::Json, m_tracks, m_groups).toUtf8());
        const QJsonArray groups = root.take("duplicateGroups").toArray();
        root.remove("generated");
        QCOMPARE(root,
                 object("{'application': 'Ravelwick', 'version': '1.0.0', 'filesScanned': 7, 'groups': 2, "
                        "'duplicateFiles': 3, 'reclaimableBytes': 5004001536, "
                        "'roots': ['/music/<main>', '/music/B & C']}"));
        QJsonObject g1 = groups.at(0).toObject();
        const QJsonArray files = g1.take("files").toArray();
        // The confidence is not rounded as in the CSV.
        QCOMPARE(g1, object("{'id': 1, 'matchType': 'Same recording', 'confidence': 0.8749, "
                            "'reclaimableBytes': 4001536}"));
        QCOMPARE(
            files.at(1).toObject(),
            object(
                "{'path': '/music/B & C/keeper.flac', 'keep': true, 'artist': '<script>alert(1)</script>', "
                "'title': 'Tom & \\'Jerry\\'', 'album': '', 'durationMs': 3661999, 'bitrateKbps': 900, "
                "'sampleRate': 48000, 'channels': 2, 'sizeBytes': 30000000, 'sha256': 'ab12', "
                "'audioSha256': 'cd34'}"));
        QString marks;
        for (const QJsonValue &g : groups)
            for (const QJsonValue &f : g["files"].toArray())
                marks += f["keep"].toBool() ? u'K' : u'-';
        QCOMPARE(marks, QStringLiteral("-K--KK"));
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
        QTest::newRow("beyond 32 bits") << qint64(6000000000000LL) << QString("100000000:00") << "6000000000";
    }

    // The CSV and HTML give minutes and seconds, the playlist whole seconds.
    void durations()
    {
        QFETCH(qint64, ms);
        QFETCH(QString, text);
        QFETCH(QString, seconds);
        const QList<TrackInfo> tracks{track("/m/k.mp3", 1, "A", "K"), track("/m/c.mp3", 1, "A", "C", ms)};
        const QList<MatchGroup> groups{MatchGroup{1, {}, {0, 1}, {}, 0, {}, 1, 0}};
        QCOMPARE(parseCsv(report(ReportWriter::Csv, tracks, groups)).value(2).value(9), text);
        QVERIFY(report(ReportWriter::Html, tracks, groups).contains("A &ndash; C</td><td>" + text + "</td>"));
        QVERIFY(report(ReportWriter::M3u8, tracks, groups)
                    .endsWith("\n#EXTINF:" + seconds + ",A - C\n/m/c.mp3\n"));
    }

    // Seeded random names, tags and sizes: the CSV and the JSON give each back as it went in, none
    // adds markup to the HTML or a line to the playlist, and members naming no track are skipped.
    void anyTextSurvives()
    {
        QRandomGenerator rng(20240305);
        const QString oneLine = QStringLiteral(",\"'\t<>&;=+-@# aZ9\u00e9\u2713"), any = oneLine + "\r\n\r";
        const auto text = [&](const QString &from) {
            QString s;
            for (int n = rng.bounded(10); n > 0; --n)
                s += from.at(rng.bounded(int(from.size())));
            return s;
        };
        QList<TrackInfo> tracks, plain;
        MatchGroup g{1, {}, {-1}, {}, 0, {}, 1, 0};
        for (int i = 0; i < 60; ++i) {
            const qint64 size = qint64(rng.generate64() >> 14);
            tracks << track(QStringLiteral("/r/%1%2/f").arg(i).arg(text(oneLine)), size, text(any),
                            text(any));
            tracks.last().fileName = text(any);
            tracks.last().album = text(any);
            plain << track(QStringLiteral("/r/%1/f").arg(i), size, "x", "x");
            g.members << i;
        }
        g.members << 60 << 1000000;

        const QList<QStringList> csv = parseCsv(report(ReportWriter::Csv, tracks, {g}));
        const QJsonObject json =
            QJsonDocument::fromJson(report(ReportWriter::Json, tracks, {g}).toUtf8()).object();
        const QJsonArray files = json["duplicateGroups"][0]["files"].toArray();
        const QStringList m3u = report(ReportWriter::M3u8, tracks, {g}).split(u'\n');
        QCOMPARE(csv.size(), 61);
        QCOMPARE(files.size(), 60);
        QCOMPARE(m3u.size(), 2 + 2 * 59 + 1);
        for (int i = 0; i < 60; ++i) {
            const TrackInfo &t = tracks.at(i);
            const QJsonObject f = files.at(i).toObject();
            const QString size = QString::number(t.size);
            QCOMPARE(csv.at(i + 1).mid(4, 5) << csv.at(i + 1).at(14),
                     (QStringList{t.fileName, QFileInfo(t.path).path(), t.artist, t.title, t.album, size}));
            QCOMPARE((QStringList{f["path"].toString(), f["artist"].toString(), f["title"].toString(),
                                  f["album"].toString(), QString::number(f["sizeBytes"].toInteger())}),
                     (QStringList{t.path, t.artist, t.title, t.album, size}));
            QVERIFY(i == 0 ||
                    (m3u.at(2 * i).startsWith(QStringLiteral("#EXTINF:")) && m3u.at(2 * i + 1) == t.path));
        }
        const auto marks = [](const QString &h) {
            return QList<qsizetype>{h.count(u'<'), h.count(u'>'), h.count(u'"')};
        };
        QCOMPARE(marks(report(ReportWriter::Html, tracks, {g})),
                 marks(report(ReportWriter::Html, plain, {g})));
    }

    void writing_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("format");
        QTest::addColumn<qint64>("sizeLimit"); // on the files this process writes, as a full disk sets
        QTest::addColumn<QByteArray>("left");  // in the file afterwards; null when the write must fail
        QTest::newRow("replaces a report") << "previous" << 0 << qint64(-1) << kHeader;
        QTest::newRow("unknown format empties the file") << "previous" << 7 << qint64(-1) << QByteArray("");
        QTest::newRow("missing folder") << "no/such/folder/report" << 0 << qint64(-1) << QByteArray();
        QTest::newRow("a folder") << "folder" << 1 << qint64(-1) << QByteArray();
#ifdef Q_OS_UNIX
        QTest::newRow("full device") << "/dev/full" << 3 << qint64(-1) << QByteArray();
        QTest::newRow("disk full part-way") << "previous" << 2 << qint64(64) << QByteArray();
        QTest::newRow("within the size limit") << "previous" << 0 << qint64(4096) << kHeader;
#endif
    }

    // A report is written whole or not at all: a failure gives an error text and leaves the
    // folder, an earlier report and a device as they were.
    void writing()
    {
        QFETCH(QString, path);
        QFETCH(int, format);
        QFETCH(qint64, sizeLimit);
        QFETCH(QByteArray, left);
        QTemporaryDir dir;
        path = QDir(dir.path()).absoluteFilePath(path);
        if (path.startsWith(QStringLiteral("/dev/")) && !QFileInfo::exists(path))
            QSKIP("no such device here");
        QFile previous(dir.filePath(QStringLiteral("previous")));
        QVERIFY(QDir(dir.path()).mkdir("folder") && previous.open(QIODevice::WriteOnly) &&
                previous.write(QByteArray(1000, 'x')));
        previous.close();
        const auto state = [&] {
            QStringList names{QString::number(QFileInfo(path).isFile()) +
                              QString::number(QFileInfo(path).isDir())};
            for (QDirIterator it(dir.path(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                 QDirIterator::Subdirectories);
                 it.hasNext();) {
                const QString name = it.next();
                names << name + u' ' + readAll(name);
            }
            return names;
        };
        const QStringList before = state();
#ifdef Q_OS_UNIX
        rlimit saved, limited;
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        limited = saved;
        limited.rlim_cur = sizeLimit < 0 ? saved.rlim_cur : rlim_t(sizeLimit);
        std::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails instead of ending the process
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limited), 0);
        const auto restore = qScopeGuard([&] { ::setrlimit(RLIMIT_FSIZE, &saved); });
#endif
        QString error = QStringLiteral("untouched");
        const bool ok =
            ReportWriter::write(path, ReportWriter::Format(format), m_tracks, {}, m_options, &error);
        QCOMPARE(ok, !left.isNull());
        QCOMPARE(ReportWriter::write(path, ReportWriter::Format(format), m_tracks, {}, m_options), ok);
        QVERIFY2(ok ? error == u"untouched" : !error.isEmpty() && error != u"untouched", qPrintable(error));
        if (ok)
            QCOMPARE(readAll(path), left);
        else
            QCOMPARE(state(), before);
    }
};

QTEST_MAIN(TestReportWriter)
#include "tst_reportwriter.moc"

#include "report/ReportWriter.h"

#include <QtTest>

#include <csignal>
#include <sys/resource.h>

using namespace rvw;

namespace {

// Reads CSV as a spreadsheet does; empty when the text is not well-formed (a stray quote, text
// after a closing quote, a last record without its line break).
QList<QStringList> parseCsv(const QString &text)
{
    static const QRegularExpression field("\"((?:[^\"]|\"\")*)\"([,\n])|([^\",\n]*)([,\n])");
    QList<QStringList> rows{{}};
    for (qsizetype i = 0; i < text.size();) {
        const auto m = field.match(text, i, QRegularExpression::NormalMatch,
                                   QRegularExpression::AnchorAtOffsetMatchOption);
        if (!m.hasMatch())
            return {};
        rows.last() << (m.hasCaptured(1) ? m.captured(1).replace("\"\"", "\"") : m.captured(3));
        if (m.captured(2) + m.captured(4) == u"\n")
            rows << QStringList();
        i = m.capturedEnd();
    }
    return rows.last().isEmpty() ? rows.mid(0, rows.size() - 1) : QList<QStringList>();
}

const auto readAll = [](const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
};

TrackInfo track(const QString &path, qint64 size, const QString &artist = {}, const QString &title = {},
                qint64 ms = 0)
{
    TrackInfo t;
    std::tie(t.path, t.fileName, t.format, t.size, t.artist, t.title, t.durationMs) =
        std::make_tuple(path, path.section('/', -1), path.section('.', -1), size, artist, title, ms);
    return t;
}

} // namespace

class TestReportWriter : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QList<TrackInfo> m_tracks;
    QList<MatchGroup> m_groups;
    ScanOptions m_options;

    QString report(int format, const QList<TrackInfo> &tracks, const QList<MatchGroup> &groups)
    {
        QString error;
        if (!ReportWriter::write(m_dir.filePath("report"), ReportWriter::Format(format), tracks, groups,
                                 m_options, &error))
            qWarning("write failed: %s", qPrintable(error));
        return QString::fromUtf8(readAll(m_dir.filePath("report")));
    }

private slots:
    void initTestCase()
    {
        // Data sizes are locale text; fix the locale so the expected texts hold everywhere.
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        // clang-format off
        m_options.folders = {"/music/<main>", "/music/B & C"};
        TrackInfo a = track("/music/<main>/Artist, The/a \"live\".mp3", 4000000, "Smith, \"Jo\"", "Line one\nline two", 3661000);
        std::tie(a.album, a.mtime) = std::make_tuple("Best, of", QDateTime(QDate(2024, 3, 5), QTime(7, 8, 9), Qt::UTC));
        TrackInfo b = track("/music/B & C/keeper.flac", 30000000, "<script>alert(1)</script>", "Tom & \"Jerry\"", 59999);
        std::tie(b.bitrate, b.sampleRate, b.channels, b.fullHash, b.audioHash) = std::make_tuple(900, 48000, 2, "ab12", "cd34");
        TrackInfo c = track("/music/B & C/untagged.ogg", 1536); // no tags, no duration
        c.albumArtist = "Band\r\nInjected";
        // The last track is in no group.
        m_tracks << a << b << c << track("/music/x/two.wav", 5000000000LL, "Solo", "One", 1)
                 << track("/music/x/also.wav", 7, "Solo", "Live", 60000) << track("/music/x/lone.mp3", 10);
        m_groups << MatchGroup{1, Acoustic, {0, 1, 2}, {}, 1, {}, 0.8749, 4001536}
                 << MatchGroup{2, Identical, {3, 4}, {}, 4, {}, 1, 5000000000LL};
        // clang-format on
    }

    // The suffix and file filter, then the whole report with the moment it was made and the style
    // sheet left out, ' for ".
    void formats_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("expected");
        // clang-format off
        QTest::addRow("csv") << int(ReportWriter::Csv)
            << QString("csv Comma separated values (*.csv)\n"
                       "Group,Match type,Confidence,Keep,File,Folder,Artist,Title,Album,Duration,Bitrate (kbps),Sample rate,Channels,Format,Size (bytes),Modified\n"
                       "1,'Same recording',0.87,duplicate,'a ''live''.mp3','/music/<main>/Artist, The','Smith, ''Jo''','Line one\n"
                       "line two','Best, of','61:01',0,0,0,'MP3',4000000,'2024-03-05T07:08:09Z'\n"
                       "1,'Same recording',0.87,KEEP,'keeper.flac','/music/B & C','<script>alert(1)</script>','Tom & ''Jerry''','','0:59',900,48000,2,'FLAC',30000000,''\n"
                       "1,'Same recording',0.87,duplicate,'untagged.ogg','/music/B & C','','','','-',0,0,0,'OGG',1536,''\n"
                       "2,'Identical file',1.00,duplicate,'two.wav','/music/x','Solo','One','','0:00',0,0,0,'WAV',5000000000,''\n"
                       "2,'Identical file',1.00,KEEP,'also.wav','/music/x','Solo','Live','','1:00',0,0,0,'WAV',7,''\n");
        QTest::addRow("html") << int(ReportWriter::Html) << QString("html HTML report (*.html)\n"
                       "<!DOCTYPE html>\n<html lang='en-AU'><head><meta charset='utf-8'>\n<title>Ravelwick duplicate report</title>\n"
                       "<style/></head><body>\n"
                       "<h1>Ravel<span>wick</span> duplicate report</h1>\n"
                       "<div class='meta'>Generated <now> &middot; scanned /music/&lt;main&gt;, /music/B &amp; C</div>\n"
                       "<div class='summary'><div class='card'><b>6</b><span>Files scanned</span></div><div class='card'><b>2</b><span>Duplicate groups</span></div><div class='card'><b>3</b><span>Redundant files</span></div><div class='card'><b>4.66 GB</b><span>Reclaimable</span></div></div>\n"
                       "<div class='group'><h2>Group 1 &middot; Same recording <em>&middot; 3.82 MB reclaimable</em></h2>\n"
                       "<table><tr><th>Action</th><th>File</th><th>Artist / Title</th><th>Duration</th><th>Quality</th><th>Size</th></tr>\n"
                       "<tr><td class='dupe'>remove</td><td>a &quot;live&quot;.mp3<div class='path'>/music/&lt;main&gt;/Artist, The/a &quot;live&quot;.mp3</div></td><td>Smith, &quot;Jo&quot; &ndash; Line one\n"
                       "line two</td><td>61:01</td><td>MP3</td><td>3.81 MB</td></tr>\n"
                       "<tr><td class='keep'>KEEP</td><td>keeper.flac<div class='path'>/music/B &amp; C/keeper.flac</div></td><td>&lt;script&gt;alert(1)&lt;/script&gt; &ndash; Tom &amp; &quot;Jerry&quot;</td><td>0:59</td><td>FLAC 900 kbps 48 kHz stereo</td><td>28.61 MB</td></tr>\n"
                       "<tr><td class='dupe'>remove</td><td>untagged.ogg<div class='path'>/music/B &amp; C/untagged.ogg</div></td><td>Band\\r\n"
                       "Injected &ndash; untagged</td><td>-</td><td>OGG</td><td>1.50 kB</td></tr>\n"
                       "</table></div>\n<div class='group'><h2>Group 2 &middot; Identical file <em>&middot; 4.66 GB reclaimable</em></h2>\n"
                       "<table><tr><th>Action</th><th>File</th><th>Artist / Title</th><th>Duration</th><th>Quality</th><th>Size</th></tr>\n"
                       "<tr><td class='dupe'>remove</td><td>two.wav<div class='path'>/music/x/two.wav</div></td><td>Solo &ndash; One</td><td>0:00</td><td>WAV</td><td>4.66 GB</td></tr>\n"
                       "<tr><td class='keep'>KEEP</td><td>also.wav<div class='path'>/music/x/also.wav</div></td><td>Solo &ndash; Live</td><td>1:00</td><td>WAV</td><td>7 bytes</td></tr>\n"
                       "</table></div>\n<footer>Ravelwick 1.0.0 &middot; Copyright © 2026 Kestrilon Software Ltd. All rights reserved.</footer>\n"
                       "</body></html>\n");
        QTest::addRow("json") << int(ReportWriter::Json)
            << QString("json JSON data (*.json)\n"
                       "{'application':'Ravelwick','duplicateFiles':3,'duplicateGroups':[{'confidence':0.8749,'files':[\n"
                       "{'album':'Best, of','artist':'Smith, \\'Jo\\'','audioSha256':'','bitrateKbps':0,'channels':0,'durationMs':3661000,'keep':false,'path':'/music/<main>/Artist, The/a \\'live\\'.mp3','sampleRate':0,'sha256':'','sizeBytes':4000000,'title':'Line one\\nline two'},\n"
                       "{'album':'','artist':'<script>alert(1)</script>','audioSha256':'cd34','bitrateKbps':900,'channels':2,'durationMs':59999,'keep':true,'path':'/music/B & C/keeper.flac','sampleRate':48000,'sha256':'ab12','sizeBytes':30000000,'title':'Tom & \\'Jerry\\''},\n"
                       "{'album':'','artist':'','audioSha256':'','bitrateKbps':0,'channels':0,'durationMs':0,'keep':false,'path':'/music/B & C/untagged.ogg','sampleRate':0,'sha256':'','sizeBytes':1536,'title':''}],'id':1,'matchType':'Same recording','reclaimableBytes':4001536},{'confidence':1,'files':[\n"
                       "{'album':'','artist':'Solo','audioSha256':'','bitrateKbps':0,'channels':0,'durationMs':1,'keep':false,'path':'/music/x/two.wav','sampleRate':0,'sha256':'','sizeBytes':5000000000,'title':'One'},\n"
                       "{'album':'','artist':'Solo','audioSha256':'','bitrateKbps':0,'channels':0,'durationMs':60000,'keep':true,'path':'/music/x/also.wav','sampleRate':0,'sha256':'','sizeBytes':7,'title':'Live'}],'id':2,'matchType':'Identical file','reclaimableBytes':5000000000}],'filesScanned':6,'generated':'<now>','groups':2,'reclaimableBytes':5004001536,'roots':['/music/<main>','/music/B & C'],'version':'1.0.0'}");
        QTest::addRow("m3u8") << int(ReportWriter::M3u8)
            << QString("m3u8 M3U playlist (*.m3u8)\n"
                       "#EXTM3U\n# Ravelwick 1.0.0 - proposed duplicates, <now>\n"
                       "#EXTINF:3661,Smith, 'Jo' - Line one line two\n"
                       "/music/<main>/Artist, The/a 'live'.mp3\n"
                       "#EXTINF:0,Band Injected - untagged\n"
                       "/music/B & C/untagged.ogg\n"
                       "#EXTINF:0,Solo - One\n"
                       "/music/x/two.wav\n");
        QTest::addRow("unknown format, empty") << 7 << QString("txt All files (*)\n");
        // clang-format on
    }
    void formats()
    {
        QFETCH(int, format);
        const auto f = ReportWriter::Format(format);
        QString text = report(format, m_tracks, m_groups);
        if (format == ReportWriter::Json)
            text = QJsonDocument::fromJson(text.toUtf8()).toJson(QJsonDocument::Compact);
        static const QRegularExpression moment(
            "\\d\\d [A-Z][a-z]{2} \\d{4} \\d\\d:\\d\\d:\\d\\d [+-]\\d{4}|"
            "(?<=\"generated\":\")\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d([+-]\\d\\d:\\d\\d|Z)?(?=\")");
        text.replace(moment, "<now>")
            .replace("\r", "\\r")
            .replace("{\"album", "\n{\"album")
            .replace('"', '\'');
        text.replace(QRegularExpression("<style>[^<]*</style>"), "<style/>");
        QTEST(ReportWriter::suffixForFormat(f) + ' ' + ReportWriter::filterForFormat(f) + '\n' + text,
              "expected");
    }

    // Seeded random names, tags and sizes: the CSV and the JSON give each back as it went in, none
    // adds markup to the HTML or a line to the playlist, and members naming no track are skipped.
    void anyTextSurvives()
    {
        QRandomGenerator rng(20240305);
        const QString oneLine = ",\"'\t<>&;=+-@# aZ9\u00e9\u2713", any = oneLine + "\r\n\r";
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
            tracks << track(QString("/r/%1%2/f").arg(i).arg(text(any)), size, text(any), text(any));
            std::tie(tracks.last().fileName, tracks.last().album) = std::make_tuple(text(any), text(any));
            plain << track(QString("/r/%1/f").arg(i), size, "x", "x");
            g.members << i;
        }
        g.members << 60 << 1000000;
        const QList<QStringList> csv = parseCsv(report(ReportWriter::Csv, tracks, {g}));
        const QJsonDocument json = QJsonDocument::fromJson(report(ReportWriter::Json, tracks, {g}).toUtf8());
        const QJsonArray files = json["duplicateGroups"][0]["files"].toArray();
        const QStringList m3u = report(ReportWriter::M3u8, tracks, {g}).split(u'\n');
        QCOMPARE((QList<qsizetype>{csv.size(), files.size(), m3u.size()}),
                 (QList<qsizetype>{61, 60, 2 + 2 * 59 + 1}));
        for (int i = 0; i < 60; ++i) {
            const TrackInfo &t = tracks.at(i);
            const QString size = QString::number(t.size);
            QStringList back = csv.at(i + 1).mid(4, 5)
                               << csv.at(i + 1).at(14) << QString::number(files[i]["sizeBytes"].toInteger());
            for (const char *key : {"path", "artist", "title", "album"})
                back << files[i][key].toString();
            // A spreadsheet would run a cell starting like a formula: such text is kept as text.
            const auto cell = [](const QString &s) {
                return QString("=+-@\t\r").contains(s.left(1)) && !s.isEmpty() ? '\'' + s : s;
            };
            QCOMPARE(back,
                     (QStringList{cell(t.fileName), QFileInfo(t.path).path(), cell(t.artist), cell(t.title),
                                  cell(t.album), size, size, t.path, t.artist, t.title, t.album}));
            // A path that would break the playlist's lines is written as a file URL.
            const bool oneLinePath = !t.path.contains('\n') && !t.path.contains('\r');
            QVERIFY(i == 0 ||
                    (m3u.at(2 * i).startsWith("#EXTINF:") &&
                     m3u.at(2 * i + 1) ==
                         (oneLinePath ? t.path : QUrl::fromLocalFile(t.path).toString(QUrl::FullyEncoded))));
        }
        const auto marks = [](const QString &h) { return QList{h.count('<'), h.count('>'), h.count('"')}; };
        QCOMPARE(marks(report(ReportWriter::Html, tracks, {g})),
                 marks(report(ReportWriter::Html, plain, {g})));
    }

    void writing_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("sizeLimit"); // on the files this process writes, as a full disk sets
        QTest::addColumn<bool>("ok");
        QTest::addRow("replaces a report") << "previous" << -1 << true;
        QTest::addRow("missing folder") << "no/such/folder/report" << -1 << false;
        QTest::addRow("a folder") << "folder" << -1 << false;
        QTest::addRow("full device") << "/dev/full" << -1 << false;
        QTest::addRow("disk full part-way") << "previous" << 64 << false;
    }
    // A report is written whole or not at all: a failure gives an error text and leaves the
    // folder, an earlier report and a device as they were.
    void writing()
    {
        QFETCH(QString, path);
        QFETCH(int, sizeLimit);
        QFETCH(bool, ok);
        QTemporaryDir dir;
        path = QDir(dir.path()).absoluteFilePath(path);
        if (path.startsWith("/dev/") && !QFileInfo::exists(path))
            QSKIP("no such device here");
        QFile previous(dir.filePath("previous"));
        QVERIFY(QDir(dir.path()).mkdir("folder") && previous.open(QIODevice::WriteOnly) &&
                previous.write(QByteArray(1000, 'x')));
        previous.close();
        const auto state = [&] {
            const auto all = QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot;
            return (QDir(dir.path()).entryList(all) + QDir(dir.filePath("folder")).entryList(all)).join(' ') +
                   readAll(previous.fileName());
        };
        const QString before = state(), header = report(ReportWriter::Csv, {}, {});
        rlimit saved;
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        const rlimit limited{sizeLimit < 0 ? saved.rlim_cur : rlim_t(sizeLimit), saved.rlim_max};
        std::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails instead of ending the process
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limited), 0);
        const auto restore = qScopeGuard([&] { ::setrlimit(RLIMIT_FSIZE, &saved); });
        QString error = "untouched";
        QCOMPARE(ReportWriter::write(path, ReportWriter::Csv, m_tracks, {}, m_options, &error), ok);
        QCOMPARE(ReportWriter::write(path, ReportWriter::Csv, m_tracks, {}, m_options), ok);
        QVERIFY2(ok ? error == u"untouched" : !error.isEmpty() && error != u"untouched", qPrintable(error));
        QCOMPARE(ok ? QString::fromUtf8(readAll(path)) : state(), ok ? header : before);
    }
};

QTEST_MAIN(TestReportWriter)
#include "tst_reportwriter.moc"

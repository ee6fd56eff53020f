#include "scan/FileScanner.h"

#include <QDir>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <ftw.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace rvw;

namespace {

bool writeFile(const QString &path, qint64 bytes = 10)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(QByteArray(int(bytes), 'x')) == bytes;
}

// Creates a file under a name given as raw bytes, which need not be valid UTF-8.
bool writeRawFile(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    return fd >= 0 && ::write(fd, "xxxxxxxxxx", 10) == 10 && ::close(fd) == 0;
}

bool makeSocket(const QString &path)
{
    sockaddr_un address{AF_UNIX, {}};
    const QByteArray raw = QFile::encodeName(path).left(sizeof(address.sun_path) - 1);
    memcpy(address.sun_path, raw.constData(), size_t(raw.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0); // the socket file outlives the socket
    const bool bound =
        fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) == 0;
    ::close(fd);
    return bound && QFileInfo::exists(path);
}

// QDir cannot remove what it cannot name, such as a file whose name is not valid UTF-8.
void removeTree(const QString &path)
{
    const auto remove = [](const char *entry, const struct stat *, int, struct FTW *) {
        return ::remove(entry), 0;
    };
    ::nftw(QFile::encodeName(path).constData(), remove, 16, FTW_DEPTH | FTW_PHYS);
}

ScanOptions optionsFor(const QStringList &folders)
{
    ScanOptions o;
    o.folders = folders;
    o.minBytes = 0;
    return o;
}

// A walk that blocks (reading a FIFO or a device) ends the test run instead of hanging it.
Discovery discover(const ScanOptions &options)
{
    ::alarm(120);
    const Discovery d = FileScanner::discover(options, QAtomicInt(0));
    ::alarm(0);
    return d;
}

} // namespace

class TestFileScanner : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString root() const { return QFileInfo(m_dir.path()).canonicalFilePath(); }
    QString at(const QString &relative) const { return root() + '/' + relative; }
    QStringList rel(const QStringList &paths, bool sort = true) const
    {
        QStringList out;
        for (const QString &p : paths)
            out << QDir(root()).relativeFilePath(p);
        if (sort)
            out.sort();
        return out;
    }
    QStringList found(const ScanOptions &o, bool sort = true) const { return rel(discover(o).files, sort); }

private slots:
    void cleanupTestCase() { removeTree(m_dir.path()); }
    void init()
    {
        QVERIFY(m_dir.isValid());
        removeTree(m_dir.path());
        QDir().mkpath(m_dir.path());
    }

    void walkOptions_data()
    {
        QTest::addColumn<QStringList>("extensions");
        QTest::addColumn<qint64>("minBytes");
        QTest::addColumn<bool>("hidden");
        QTest::addColumn<QStringList>("extraExcludes");
        QTest::addColumn<QStringList>("expected");
        const QStringList plain{"lib/Quarterly/c.mp3", "lib/Song.MP3", "lib/b.flac", "lib/big.wav"};
        QTest::newRow("defaults") << ScanOptions().extensions << qint64(0) << false << QStringList{} << plain;
        QTest::newRow("extensions trimmed, any case")
            << QStringList{"mp3", "  FLAC "} << qint64(0) << false << QStringList{}
            << QStringList{"lib/Quarterly/c.mp3", "lib/Song.MP3", "lib/b.flac"};
        QTest::newRow("no extensions")
            << QStringList{} << qint64(0) << false << QStringList{} << QStringList{};
        QTest::newRow("minimum size is inclusive") << ScanOptions().extensions << qint64(1000) << false
                                                   << QStringList{} << QStringList{"lib/big.wav"};
        QTest::newRow("hidden included, trash still not")
            << ScanOptions().extensions << qint64(0) << true << QStringList{}
            << QStringList{"lib/.hidden.mp3", "lib/.secret/in.mp3", "lib/Quarterly/c.mp3",
                           "lib/Song.MP3",    "lib/b.flac",         "lib/big.wav"};
        QTest::newRow("exclude pattern")
            << ScanOptions().extensions << qint64(0) << false << QStringList{"*/b*"}
            << QStringList{"lib/Quarterly/c.mp3", "lib/Song.MP3"};
    }
    // A later scan must never offer a quarantined or trashed copy as the keeper of a group.
    void walkOptions()
    {
        QFETCH(QStringList, extensions);
        QFETCH(qint64, minBytes);
        QFETCH(bool, hidden);
        QFETCH(QStringList, extraExcludes);
        for (const char *name : {"b.flac", "c.txt", "noext", "d.mp3.bak", ".hidden.mp3", ".secret/in.mp3",
                                 "Quar/20261207-101010/q.mp3", "Quarterly/c.mp3", ".Trash-1000/files/t.mp3",
                                 "Ravelwick Quarantine/20261207-101010/r.mp3"})
            QVERIFY(writeFile(at(QString("lib/") + name)));
        QVERIFY(writeFile(at("lib/Song.MP3"), 999));
        QVERIFY(writeFile(at("lib/big.wav"), 1000));
        QVERIFY(QFile::link(at("lib/Quar/20261207-101010/q.mp3"), at("lib/alias.mp3")));
        ScanOptions o = optionsFor({at("lib")});
        o.extensions = extensions;
        o.minBytes = minBytes;
        o.includeHidden = hidden;
        o.excludes += extraExcludes;
        o.quarantineRoot = at("lib/Quar");
        QTEST(found(o), "expected");
    }

    void overlappingRelativeAndRepeatedRoots()
    {
        QVERIFY(writeFile(at("lib/x.mp3")) && writeFile(at("lib/inner/y.mp3")) &&
                writeFile(at("other/z.mp3")));
        const QString saved = QDir::currentPath();
        QDir::setCurrent(root());
        const Discovery d = FileScanner::discover(optionsFor({"lib/inner", at("lib"), at("lib/inner"),
                                                              at("missing"), at("lib/x.mp3"), at("other")}),
                                                  QAtomicInt(0));
        QDir::setCurrent(saved);
        // The first root's files come first, each file once, every path absolute.
        QCOMPARE(rel(d.files, false), QStringList({"lib/inner/y.mp3", "lib/x.mp3", "other/z.mp3"}));
        for (const QString &f : d.files)
            QVERIFY2(QFileInfo(f).isAbsolute(), qPrintable(f));
    }

    void symlinks()
    {
        QVERIFY(writeFile(at("lib/a.mp3")) && writeFile(at("elsewhere/b.mp3")));
        QVERIFY(QFile::link(at("lib"), at("lib/loop")));
        QVERIFY(QFile::link(at("elsewhere"), at("lib/ext")));
        QVERIFY(QFile::link(at("lib/a.mp3"), at("lib/alias.mp3")));
        ScanOptions o = optionsFor({at("lib")});
        const QStringList plain = found(o); // the file link names a.mp3, which counts once
        QVERIFY(plain == QStringList{"lib/a.mp3"} || plain == QStringList{"lib/alias.mp3"});
        o.followSymlinks = true;
        const QStringList followed = found(o); // the loop ends
        QCOMPARE(followed.size(), 2);
        QVERIFY(followed.contains("lib/ext/b.mp3"));

        // A cycle through two folders, each also a root, and a link to itself.
        QVERIFY(QFile::link(at("lib"), at("elsewhere/back")));
        QVERIFY(QFile::link(at("elsewhere/self"), at("elsewhere/self")));
        o.folders = {at("elsewhere"), at("lib")};
        const QStringList viaCycle = found(o);
        QCOMPARE(viaCycle.size(), 2);
        QCOMPARE(viaCycle.first(), QStringLiteral("elsewhere/b.mp3"));
        QVERIFY(viaCycle.last() == "elsewhere/back/a.mp3" || viaCycle.last() == "elsewhere/back/alias.mp3");
    }

    // Reading a device or a FIFO never ends (or reads what is no file), so a name that looks like
    // audio must not bring one into a scan, whichever way it is met.
    void specialFilesSkippedAndCounted_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("link to /dev/zero") << "/dev/zero";
        QTest::newRow("link to /dev/urandom") << "/dev/urandom";
        QTest::newRow("fifo") << "fifo";
        QTest::newRow("link to a fifo") << "fifo link";
        QTest::newRow("fifo behind a followed folder link") << "fifo in linked folder";
        QTest::newRow("socket") << "socket";
    }
    void specialFilesSkippedAndCounted()
    {
        QFETCH(QString, kind);
        const QString special = at("lib/special.mp3");
        QVERIFY(writeFile(at("lib/ok.mp3")) && QDir().mkpath(at("elsewhere")));
        const auto fifo = [](const QString &path) {
            return ::mkfifo(QFile::encodeName(path).constData(), 0644) == 0;
        };
        if (kind.startsWith('/') && !QFileInfo::exists(kind))
            QSKIP("This system has no such device.");
        const bool made =
            kind.startsWith('/')  ? QFile::link(kind, special)
            : kind == "fifo"      ? fifo(special)
            : kind == "fifo link" ? fifo(at("elsewhere/pipe")) && QFile::link(at("elsewhere/pipe"), special)
            : kind == "socket"
                ? makeSocket(special)
                : fifo(at("elsewhere/pipe.mp3")) && QFile::link(at("elsewhere"), at("lib/linked"));
        QVERIFY(made);
        ScanOptions o = optionsFor({at("lib")});
        o.followSymlinks = kind == "fifo in linked folder";
        const Discovery d = discover(o);
        QCOMPARE(rel(d.files), QStringList({"lib/ok.mp3"}));
        QCOMPARE(d.specialFiles, 1);
    }

    // Names written by old Samba shares or FAT media in Latin-1 cannot be opened through a
    // QString path; they must show up as not checked rather than disappear.
    void undecodableNames_data()
    {
        QTest::addColumn<QList<QByteArray>>("badPaths");
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("folders");
        QTest::newRow("latin-1 file name") << QList<QByteArray>{"Caf\xe9.mp3"} << 1 << QStringList{"lib"};
        QTest::newRow("latin-1 folder name")
            << QList<QByteArray>{"Fran\347ais/a.mp3", "Fran\347ais/Live/b.flac"} << 2 << QStringList{"lib"};
        QTest::newRow("two folders") << QList<QByteArray>{"Old/Bj\xf6rk.flac", "Caf\xe9.mp3"} << 2
                                     << QStringList{"lib", "lib/Old"};
        QTest::newRow("only audio names count") << QList<QByteArray>{"Caf\xe9.txt"} << 0 << QStringList{};
    }
    void undecodableNames()
    {
        QFETCH(QList<QByteArray>, badPaths);
        QVERIFY(writeFile(at("lib/plain.mp3")) && writeFile(at("lib/Old/keep.mp3")));
        QVERIFY(writeFile(at(QString::fromUtf8("lib/Beyonc\xc3\xa9.mp3"))));
        for (const QByteArray &bad : badPaths) {
            const QByteArray raw = QFile::encodeName(at("lib")) + '/' + bad;
            QVERIFY(QFile::encodeName(QFile::decodeName(raw)) != raw);
            for (qsizetype slash = raw.indexOf('/', 1); slash > 0; slash = raw.indexOf('/', slash + 1))
                ::mkdir(raw.left(slash).constData(), 0755); // most exist already
            QVERIFY(writeRawFile(raw));
        }
        const Discovery d = discover(optionsFor({at("lib")}));
        QCOMPARE(rel(d.files), QStringList({QString::fromUtf8("lib/Beyonc\xc3\xa9.mp3"), "lib/Old/keep.mp3",
                                            "lib/plain.mp3"}));
        QTEST(d.undecodableFiles, "count");
        QTEST(rel(d.undecodableFolders), "folders");
    }

    // A hard link is another name for the same bytes: grouping it would offer to "free" space that
    // removing it never frees.
    void hardLinksCountOnce_data()
    {
        QTest::addColumn<QStringList>("roots");
        QTest::addColumn<QString>("original");
        QTest::addColumn<QStringList>("links");
        QTest::addColumn<QString>("kept");
        QTest::newRow("same folder, first name kept")
            << QStringList{"lib"} << "lib/z.mp3" << QStringList{"lib/a.mp3"} << "lib/a.mp3";
        QTest::newRow("files before subfolders")
            << QStringList{"lib"} << "lib/sub/a.mp3" << QStringList{"lib/z.mp3", "lib/sub/deeper/b.mp3"}
            << "lib/z.mp3";
        QTest::newRow("first root wins")
            << QStringList{"two", "one"} << "one/a.mp3" << QStringList{"two/z.mp3"} << "two/z.mp3";
    }
    void hardLinksCountOnce()
    {
        QFETCH(QStringList, roots);
        QFETCH(QString, original);
        QFETCH(QStringList, links);
        QFETCH(QString, kept);
        QVERIFY(writeFile(at(original)));
        for (const QString &link : links) {
            QVERIFY(QDir().mkpath(QFileInfo(at(link)).absolutePath()));
            QCOMPARE(
                ::link(QFile::encodeName(at(original)).constData(), QFile::encodeName(at(link)).constData()),
                0);
        }
        for (QString &r : roots)
            r = at(r);
        const Discovery d = discover(optionsFor(roots));
        QCOMPARE(rel(d.files), QStringList({kept}));
        QCOMPARE(d.repeatedNames, int(links.size()));
    }

    void unreadableFoldersReported_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("no permissions") << 0000;
        QTest::newRow("names readable, entries not") << 0444;
        QTest::newRow("enterable, not listable") << 0111;
    }
    void unreadableFoldersReported()
    {
        QFETCH(int, mode);
        if (::geteuid() == 0)
            QSKIP("Running as root, which reads every folder whatever its permissions.");
        QVERIFY(writeFile(at("lib/ok.mp3")) && writeFile(at("lib/locked/in.mp3")) &&
                writeFile(at("lib/locked/deeper/x.mp3")));
        const QByteArray raw = QFile::encodeName(at("lib/locked"));
        QCOMPARE(::chmod(raw.constData(), mode_t(mode)), 0);
        const auto restore = qScopeGuard([raw] { ::chmod(raw.constData(), 0755); });
        const Discovery d = discover(optionsFor({at("lib")}));
        QCOMPARE(rel(d.files), QStringList({"lib/ok.mp3"}));
        QCOMPARE(d.unreadableFolders, QStringList({at("lib/locked")}));
    }

    void tooDeepFoldersReported()
    {
        QString deepest = at("lib");
        for (int level = 0; level < FileScanner::kMaxDepth; ++level)
            deepest += "/d";
        QVERIFY(writeFile(at("lib/top.mp3")) && writeFile(deepest + "/edge.mp3") &&
                writeFile(deepest + "/d/x.mp3"));
        const Discovery d = discover(optionsFor({at("lib")}));
        QCOMPARE(d.files.size(), 2);
        QVERIFY(d.files.contains(deepest + "/edge.mp3"));
        QCOMPARE(d.tooDeepFolders, QStringList({deepest + "/d"}));
    }

    void exclusionPatterns_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("patterns");
        QTest::addColumn<bool>("excluded");
        QTest::newRow("default: trash at any depth")
            << "D:/Music/.Trash/a.mp3" << ScanOptions().excludes << true;
        QTest::newRow("leading star crosses folders") << "/m/x.tmp.mp3" << QStringList{"*.tmp.mp3"} << true;
        QTest::newRow("folder pattern covers its subtree")
            << "/m/Ravelwick Quarantine/s/a.mp3" << QStringList{"*/Ravelwick Quarantine"} << true;
        QTest::newRow("case") << "D:/Music/x.tmp.mp3" << QStringList{"D:/Music/*.TMP.mp3"} << true;
        QTest::newRow("inner star stays in its folder")
            << "D:/Music/Old/x.tmp.mp3" << QStringList{"D:/Music/*.TMP.mp3"} << false;
        QTest::newRow("question mark") << "/a/b1.mp3" << QStringList{"/a/b?.mp3"} << true;
        QTest::newRow("question mark no slash") << "/a/b/.mp3" << QStringList{"/a/b?.mp3"} << false;
        QTest::newRow("brackets") << "/a/t3.mp3" << QStringList{"/a/t[0-4].mp3"} << true;
        QTest::newRow("brackets miss") << "/a/t7.mp3" << QStringList{"/a/t[0-4].mp3"} << false;
        QTest::newRow("blank patterns ignored") << "/a/b.mp3" << QStringList{"", "   "} << false;
        QTest::newRow("second pattern") << "/x/y.mp3" << QStringList{"/q/*", "/x/*"} << true;
        QTest::newRow("whole path anchored") << "/base/x/y.mp3" << QStringList{"/x/*"} << false;
    }
    void exclusionPatterns()
    {
        QFETCH(QString, path);
        QFETCH(QStringList, patterns);
        QTEST(FileScanner::isExcluded(path, patterns), "excluded");
    }

    void progressAndCancel()
    {
        using Reports = QList<QPair<int, QString>>;
        Reports reports;
        QAtomicInt cancel(0);
        int cancelAt = -1;
        const auto record = [&](int count, const QString &folder) {
            reports.append({count, folder});
            if (count == cancelAt)
                cancel.storeRelaxed(1);
        };
        QVERIFY(FileScanner::discover(optionsFor({}), cancel, record).files.isEmpty());
        QCOMPARE(reports, Reports({{0, QString()}}));
        for (int i = 0; i < 130; ++i)
            QVERIFY(writeFile(at(QString("one/f%1.mp3").arg(i, 3, 10, QChar('0'))), 1));
        QVERIFY(writeFile(at("two/g.mp3"), 1));
        reports.clear();
        QCOMPARE(FileScanner::discover(optionsFor({at("one"), at("two")}), cancel, record).files.size(), 131);
        // first file (folder change), every 64th, folder change, final
        QCOMPARE(reports,
                 Reports({{1, at("one")}, {64, at("one")}, {128, at("one")}, {131, at("two")}, {131, {}}}));
        cancelAt = 64;
        QCOMPARE(FileScanner::discover(optionsFor({at("one"), at("two")}), cancel, record).files.size(), 64);
        QCOMPARE(reports.last(), qMakePair(64, QString()));
        QVERIFY(FileScanner::discover(optionsFor({at("one")}), cancel)
                    .files.isEmpty()); // cancelled before it starts
    }
};

QTEST_GUILESS_MAIN(TestFileScanner)
#include "tst_filescanner.moc"

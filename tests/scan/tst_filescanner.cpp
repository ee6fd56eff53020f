#include "scan/FileScanner.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <memory>

#include <fcntl.h>
#include <ftw.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace rvw;

namespace {

bool writeFile(const QString &path, qint64 bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    return f.write(QByteArray(int(bytes), 'x')) == bytes;
}

ScanOptions optionsFor(const QStringList &folders)
{
    ScanOptions o;
    o.folders = folders;
    o.minBytes = 0;
    return o;
}

QStringList relative(const QString &root, const QStringList &paths)
{
    QStringList out;
    for (const QString &p : paths)
        out << QDir(root).relativeFilePath(p);
    return out;
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

// Creates a file under a name given as raw bytes, which need not be valid UTF-8.
bool writeRawFile(const QByteArray &path, qint64 bytes)
{
    const int fd = ::open(path.constData(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    const QByteArray data(int(bytes), 'x');
    const bool ok = ::write(fd, data.constData(), size_t(data.size())) == ssize_t(data.size());
    return ::close(fd) == 0 && ok;
}

// QDir cannot remove what it cannot name, such as a file whose name is not valid UTF-8.
void removeTree(const QString &path)
{
    ::nftw(
        QFile::encodeName(path).constData(),
        [](const char *entry, const struct stat *, int, struct FTW *) {
            ::remove(entry);
            return 0; // what cannot be removed shows up in the test that comes next
        },
        16, FTW_DEPTH | FTW_PHYS);
}

bool makeSocket(const QString &path)
{
    const QByteArray raw = QFile::encodeName(path);
    sockaddr_un address{};
    if (size_t(raw.size()) >= sizeof(address.sun_path))
        return false;
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path, raw.constData(), size_t(raw.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    // The socket file stays in the folder after the socket is closed.
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) == 0;
    ::close(fd);
    return bound;
}

// Runs discovery on a thread of its own, so that a walk which blocks (reading a FIFO or a device)
// fails the test instead of hanging it. The generous wait is a safety net, not a speed check.
bool discoverSafely(const ScanOptions &options, Discovery *out)
{
    struct Shared
    {
        ScanOptions options;
        QAtomicInt cancel;
        Discovery result;
    };
    auto shared = std::make_shared<Shared>();
    shared->options = options;
    QThread *worker = QThread::create(
        [shared] { shared->result = FileScanner::discover(shared->options, shared->cancel); });
    worker->start();
    if (!worker->wait(QDeadlineTimer(120000))) {
        shared->cancel.storeRelaxed(1);
        if (!worker->wait(QDeadlineTimer(5000)))
            return false; // blocked for good: the thread is left behind, and ends with the process
    }
    delete worker;
    *out = shared->result;
    return true;
}

} // namespace

class TestFileScanner : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString root() const { return QFileInfo(m_dir.path()).canonicalFilePath(); }

private slots:
    void cleanupTestCase() { removeTree(m_dir.path()); }

    void init()
    {
        QVERIFY(m_dir.isValid());
        removeTree(m_dir.path());
        QDir().mkpath(m_dir.path());
    }

    void suffixCaseAndWhitespace()
    {
        QVERIFY(writeFile(root() + "/a/Song.MP3", 10));
        QVERIFY(writeFile(root() + "/a/b.flac", 10));
        QVERIFY(writeFile(root() + "/a/c.txt", 10));
        QVERIFY(writeFile(root() + "/a/noext", 10));
        QVERIFY(writeFile(root() + "/a/d.mp3.bak", 10));
        ScanOptions o = optionsFor({root()});
        o.extensions = {"mp3", "  FLAC "};
        QStringList found = relative(root(), FileScanner::discover(o, QAtomicInt(0)).files);
        found.sort();
        QCOMPARE(found, QStringList({"a/Song.MP3", "a/b.flac"}));

        o.extensions.clear();
        QVERIFY(FileScanner::discover(o, QAtomicInt(0)).files.isEmpty());
    }

    void sizeBoundary()
    {
        QVERIFY(writeFile(root() + "/exact.mp3", 1000));
        QVERIFY(writeFile(root() + "/short.mp3", 999));
        ScanOptions o = optionsFor({root()});
        o.minBytes = 1000;
        QCOMPARE(relative(root(), FileScanner::discover(o, QAtomicInt(0)).files), QStringList({"exact.mp3"}));
    }

    void overlappingAndRepeatedRoots()
    {
        QVERIFY(writeFile(root() + "/lib/x.mp3", 10));
        QVERIFY(writeFile(root() + "/lib/inner/y.mp3", 10));
        QVERIFY(writeFile(root() + "/other/z.mp3", 10));
        ScanOptions o = optionsFor({root() + "/lib/inner", root() + "/lib", root() + "/lib/inner",
                                    root() + "/missing", root() + "/lib/x.mp3", root() + "/other"});
        const QStringList found = relative(root(), FileScanner::discover(o, QAtomicInt(0)).files);
        // y first (first root), then x from the outer root; z from the last root; each once.
        QCOMPARE(found.size(), 3);
        QCOMPARE(found.first(), QStringLiteral("lib/inner/y.mp3"));
        QVERIFY(found.contains("lib/x.mp3"));
        QCOMPARE(found.last(), QStringLiteral("other/z.mp3"));
    }

    void resultsAreAbsolute()
    {
        QVERIFY(writeFile(root() + "/r/a.mp3", 10));
        const QString saved = QDir::currentPath();
        QDir::setCurrent(root());
        const QStringList found = FileScanner::discover(optionsFor({"r"}), QAtomicInt(0)).files;
        QDir::setCurrent(saved);
        QCOMPARE(found.size(), 1);
        QVERIFY2(QFileInfo(found.first()).isAbsolute(), qPrintable(found.first()));
    }

    void symlinkLoop()
    {
        QVERIFY(writeFile(root() + "/lib/a.mp3", 10));
        QVERIFY(writeFile(root() + "/elsewhere/b.mp3", 10));
        QVERIFY(QFile::link(root() + "/lib", root() + "/lib/loop"));
        QVERIFY(QFile::link(root() + "/elsewhere", root() + "/lib/ext"));
        QVERIFY(QFile::link(root() + "/lib/a.mp3", root() + "/lib/alias.mp3"));

        ScanOptions o = optionsFor({root() + "/lib"});
        o.followSymlinks = false;
        QStringList plain = relative(root(), FileScanner::discover(o, QAtomicInt(0)).files);
        plain.sort();
        // The file link is a file entry; it points at a.mp3, which counts once.
        QCOMPARE(plain.size(), 1);
        QVERIFY(plain.first() == "lib/a.mp3" || plain.first() == "lib/alias.mp3");

        o.followSymlinks = true;
        QStringList followed = relative(root(), FileScanner::discover(o, QAtomicInt(0)).files);
        followed.sort();
        QCOMPARE(followed.size(), 2); // a.mp3 once, b.mp3 through the link; the loop ends
        QVERIFY(followed.contains("lib/ext/b.mp3"));

        // A cycle through two folders, each also a root, and a link to itself.
        QVERIFY(QFile::link(root() + "/lib", root() + "/elsewhere/back"));
        QVERIFY(QFile::link(root() + "/elsewhere/self", root() + "/elsewhere/self"));
        o.folders = {root() + "/elsewhere", root() + "/lib"};
        Discovery cycle;
        QVERIFY2(discoverSafely(o, &cycle), "discovery did not end");
        const QStringList viaCycle = sorted(relative(root(), cycle.files));
        QCOMPARE(viaCycle.size(), 2); // b.mp3, and a.mp3 under one of its two names
        QCOMPARE(viaCycle.first(), QStringLiteral("elsewhere/b.mp3"));
        QVERIFY(viaCycle.last() == "elsewhere/back/a.mp3" || viaCycle.last() == "elsewhere/back/alias.mp3");
    }

    // Reading a device or a FIFO never ends (or reads what is no file), so a name that looks like
    // audio must not bring one into a scan, whichever way it is met.
    void specialFilesSkippedAndCounted_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("followSymlinks");
        QTest::newRow("link to /dev/zero") << "/dev/zero" << false;
        QTest::newRow("link to /dev/urandom") << "/dev/urandom" << false;
        QTest::newRow("fifo") << "fifo" << false;
        QTest::newRow("link to a fifo") << "fifo link" << false;
        QTest::newRow("fifo behind a followed folder link") << "fifo in linked folder" << true;
        QTest::newRow("socket") << "socket" << false;
    }
    void specialFilesSkippedAndCounted()
    {
        QFETCH(QString, kind);
        QFETCH(bool, followSymlinks);
        const QString lib = root() + "/lib";
        QVERIFY(writeFile(lib + "/ok.mp3", 10));
        const QString special = lib + "/special.mp3";
        if (kind.startsWith('/')) {
            if (!QFileInfo::exists(kind))
                QSKIP("This system has no such device.");
            QVERIFY(QFile::link(kind, special));
        } else if (kind == "fifo") {
            QCOMPARE(::mkfifo(QFile::encodeName(special).constData(), 0644), 0);
        } else if (kind == "fifo link") {
            QVERIFY(QDir().mkpath(root() + "/elsewhere"));
            QCOMPARE(::mkfifo(QFile::encodeName(root() + "/elsewhere/pipe").constData(), 0644), 0);
            QVERIFY(QFile::link(root() + "/elsewhere/pipe", special));
        } else if (kind == "fifo in linked folder") {
            QVERIFY(QDir().mkpath(root() + "/elsewhere"));
            QCOMPARE(::mkfifo(QFile::encodeName(root() + "/elsewhere/pipe.mp3").constData(), 0644), 0);
            QVERIFY(QFile::link(root() + "/elsewhere", lib + "/linked"));
        } else {
            QVERIFY(makeSocket(special));
        }
        ScanOptions o = optionsFor({lib});
        o.followSymlinks = followSymlinks;
        Discovery d;
        QVERIFY2(discoverSafely(o, &d), "discovery did not end");
        QCOMPARE(relative(root(), d.files), QStringList({"lib/ok.mp3"}));
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
        QFETCH(int, count);
        QFETCH(QStringList, folders);
        const QString lib = root() + "/lib";
        QVERIFY(writeFile(lib + "/plain.mp3", 10));
        QVERIFY(writeFile(lib + QString::fromUtf8("/Beyonc\xc3\xa9.mp3"), 10));
        QVERIFY(writeFile(lib + "/Old/keep.mp3", 10));
        for (const QByteArray &bad : badPaths) {
            const QByteArray raw = QFile::encodeName(lib) + '/' + bad;
            QVERIFY(QFile::encodeName(QFile::decodeName(raw)) != raw);
            for (qsizetype slash = raw.indexOf('/', 1); slash > 0; slash = raw.indexOf('/', slash + 1))
                ::mkdir(raw.left(slash).constData(), 0755); // most exist already
            QVERIFY(writeRawFile(raw, 10));
        }
        const Discovery d = FileScanner::discover(optionsFor({lib}), QAtomicInt(0));
        QCOMPARE(sorted(relative(root(), d.files)), QStringList({QString::fromUtf8("lib/Beyonc\xc3\xa9.mp3"),
                                                                 "lib/Old/keep.mp3", "lib/plain.mp3"}));
        QCOMPARE(d.undecodableFiles, count);
        QCOMPARE(sorted(relative(root(), d.undecodableFolders)), folders);
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
        QVERIFY(writeFile(root() + "/" + original, 10));
        for (const QString &link : links) {
            QVERIFY(QDir().mkpath(QFileInfo(root() + "/" + link).absolutePath()));
            QCOMPARE(::link(QFile::encodeName(root() + "/" + original).constData(),
                            QFile::encodeName(root() + "/" + link).constData()),
                     0);
        }
        QStringList folders;
        for (const QString &r : roots)
            folders << root() + "/" + r;
        const Discovery d = FileScanner::discover(optionsFor(folders), QAtomicInt(0));
        QCOMPARE(relative(root(), d.files), QStringList({kept}));
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
        const QString locked = root() + "/lib/locked";
        QVERIFY(writeFile(root() + "/lib/ok.mp3", 10));
        QVERIFY(writeFile(locked + "/in.mp3", 10));
        QVERIFY(writeFile(locked + "/deeper/x.mp3", 10));
        const QByteArray raw = QFile::encodeName(locked);
        QCOMPARE(::chmod(raw.constData(), mode_t(mode)), 0);
        const auto restore = qScopeGuard([raw] { ::chmod(raw.constData(), 0755); });
        const Discovery d = FileScanner::discover(optionsFor({root() + "/lib"}), QAtomicInt(0));
        QCOMPARE(relative(root(), d.files), QStringList({"lib/ok.mp3"}));
        QCOMPARE(d.unreadableFolders, QStringList({locked}));
    }

    void tooDeepFoldersReported()
    {
        QString deep = root() + "/lib";
        for (int level = 0; level <= FileScanner::kMaxDepth; ++level)
            deep += "/d";
        QVERIFY(writeFile(root() + "/lib/top.mp3", 10));
        QVERIFY(writeFile(deep + "/bottom.mp3", 10));
        const Discovery d = FileScanner::discover(optionsFor({root() + "/lib"}), QAtomicInt(0));
        QCOMPARE(relative(root(), d.files), QStringList({"lib/top.mp3"}));
        QCOMPARE(d.tooDeepFolders, QStringList({deep}));
    }

    void hiddenFilesAndFolders()
    {
        QVERIFY(writeFile(root() + "/.hidden.mp3", 10));
        QVERIFY(writeFile(root() + "/.secret/in.mp3", 10));
        QVERIFY(writeFile(root() + "/seen.mp3", 10));
        ScanOptions o = optionsFor({root()});
        QCOMPARE(relative(root(), FileScanner::discover(o, QAtomicInt(0)).files), QStringList({"seen.mp3"}));
        o.includeHidden = true;
        QStringList all = relative(root(), FileScanner::discover(o, QAtomicInt(0)).files);
        all.sort();
        QCOMPARE(all, QStringList({".hidden.mp3", ".secret/in.mp3", "seen.mp3"}));
    }

    void exclusionPatterns_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("patterns");
        QTest::addColumn<bool>("excluded");
        const QStringList defaults = ScanOptions().excludes;
        QTest::newRow("trash at top") << "D:/.Trash/a.mp3" << defaults << true;
        QTest::newRow("trash deeper") << "D:/Music/.Trash/a.mp3" << defaults << true;
#ifdef Q_OS_WIN
        QTest::newRow("backslashes") << "D:\\.Trash\\a.mp3" << defaults << true;
        QTest::newRow("native pattern") << "/x/y.mp3" << QStringList{"\\x\\*"} << true;
#else
        // A back slash is an ordinary file-name character here.
        QTest::newRow("backslash is a name character") << "D:\\.Trash\\a.mp3" << defaults << false;
#endif
        QTest::newRow("quarantine") << "E:/Ravelwick Quarantine/x.flac" << defaults << true;
        QTest::newRow("recycle") << "/#recycle/x.flac" << defaults << true;
        QTest::newRow("leading star crosses folders") << "/m/x.tmp.mp3" << QStringList{"*.tmp.mp3"} << true;
        QTest::newRow("folder pattern covers its subtree")
            << "/m/Ravelwick Quarantine/s/a.mp3" << QStringList{"*/Ravelwick Quarantine"} << true;
        QTest::newRow("folder pattern, case")
            << "D:/Music/x.tmp.mp3" << QStringList{"D:/Music/*.TMP.mp3"} << true;
        QTest::newRow("folder pattern, deeper")
            << "D:/Music/Old/x.tmp.mp3" << QStringList{"D:/Music/*.TMP.mp3"} << false;
        QTest::newRow("question mark") << "/a/b1.mp3" << QStringList{"/a/b?.mp3"} << true;
        QTest::newRow("question mark no slash") << "/a/b/.mp3" << QStringList{"/a/b?.mp3"} << false;
        QTest::newRow("brackets") << "/a/t3.mp3" << QStringList{"/a/t[0-4].mp3"} << true;
        QTest::newRow("brackets miss") << "/a/t7.mp3" << QStringList{"/a/t[0-4].mp3"} << false;
        QTest::newRow("blank patterns ignored") << "/a/b.mp3" << QStringList{"", "   "} << false;
        QTest::newRow("empty list") << "/a/b.mp3" << QStringList{} << false;
        QTest::newRow("second pattern") << "/x/y.mp3" << QStringList{"/q/*", "/x/*"} << true;
        QTest::newRow("whole path anchored") << "/base/x/y.mp3" << QStringList{"/x/*"} << false;
    }
    void exclusionPatterns()
    {
        QFETCH(QString, path);
        QFETCH(QStringList, patterns);
        QFETCH(bool, excluded);
        QCOMPARE(FileScanner::isExcluded(path, patterns), excluded);
    }

    void excludesApplyDuringWalk()
    {
        QVERIFY(writeFile(root() + "/lib/keep.mp3", 10));
        QVERIFY(writeFile(root() + "/lib/skip.mp3", 10));
        ScanOptions o = optionsFor({root() + "/lib"});
        o.excludes = {root() + "/lib/skip*"};
        QCOMPARE(relative(root(), FileScanner::discover(o, QAtomicInt(0)).files),
                 QStringList({"lib/keep.mp3"}));
    }

    // A later scan must never offer a quarantined or trashed copy as the keeper of a group.
    void quarantineAndTrashNeverScanned()
    {
        const QString lib = root() + "/lib";
        QVERIFY(writeFile(lib + "/Pop/a.mp3", 10));
        QVERIFY(writeFile(lib + "/Ravelwick Quarantine/20261207-101010/Music/Pop/a.mp3", 10));
        QVERIFY(writeFile(lib + "/.Trash-1000/files/x.mp3", 10));
        QVERIFY(writeFile(lib + "/Quar/20261207-101010/Music/b.mp3", 10));
        QVERIFY(writeFile(lib + "/Quarterly/c.mp3", 10));
        QVERIFY(QFile::link(lib + "/Quar/20261207-101010/Music/b.mp3", lib + "/alias.mp3"));
        ScanOptions o = optionsFor({lib});
        o.includeHidden = true;
        o.quarantineRoot = lib + "/Quar";
        QStringList found = relative(root(), FileScanner::discover(o, QAtomicInt(0)).files);
        found.sort();
        QCOMPARE(found, QStringList({"lib/Pop/a.mp3", "lib/Quarterly/c.mp3"}));
    }

    void progressContract()
    {
        for (int i = 0; i < 130; ++i)
            QVERIFY(writeFile(root() + QString("/one/f%1.mp3").arg(i, 3, 10, QChar('0')), 1));
        QVERIFY(writeFile(root() + "/two/g.mp3", 1));
        QList<QPair<int, QString>> reports;
        const QStringList found =
            FileScanner::discover(optionsFor({root() + "/one", root() + "/two"}), QAtomicInt(0),
                                  [&](int count, const QString &folder) {
                                      reports.append({count, folder});
                                  })
                .files;
        QCOMPARE(found.size(), 131);
        // first file (folder change), 64, 128, folder change to two, final
        QCOMPARE(reports.size(), 5);
        QCOMPARE(reports[0], qMakePair(1, root() + "/one"));
        QCOMPARE(reports[1].first, 64);
        QCOMPARE(reports[2].first, 128);
        QCOMPARE(reports[3], qMakePair(131, root() + "/two"));
        QCOMPARE(reports[4], qMakePair(131, QString()));
    }

    void emptyFolders()
    {
        QList<QPair<int, QString>> reports;
        const QStringList found =
            FileScanner::discover(optionsFor({}), QAtomicInt(0), [&](int c, const QString &f) {
                reports.append({c, f});
            }).files;
        QVERIFY(found.isEmpty());
        QCOMPARE(reports.size(), 1);
        QCOMPARE(reports.first(), qMakePair(0, QString()));
    }

    void cancelMidWalk()
    {
        for (int i = 0; i < 200; ++i)
            QVERIFY(writeFile(root() + QString("/c/f%1.mp3").arg(i), 1));
        QVERIFY(writeFile(root() + "/d/later.mp3", 1));
        QAtomicInt cancel(0);
        QList<QPair<int, QString>> reports;
        const QStringList found = FileScanner::discover(optionsFor({root() + "/c", root() + "/d"}), cancel,
                                                        [&](int c, const QString &f) {
                                                            reports.append({c, f});
                                                            if (c == 64)
                                                                cancel.storeRelaxed(1);
                                                        })
                                      .files;
        QCOMPARE(found.size(), 64);
        QCOMPARE(reports.last(), qMakePair(64, QString()));

        QAtomicInt already(1);
        QVERIFY(FileScanner::discover(optionsFor({root() + "/c"}), already).files.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestFileScanner)
#include "tst_filescanner.moc"

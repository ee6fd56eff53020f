#include "scan/FileScanner.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

using namespace rvw;

using Tweak = std::function<void(ScanOptions &)>;
Q_DECLARE_METATYPE(Tweak)

namespace {

// QDir cannot remove what it cannot name, such as a file whose name is not valid UTF-8.
void removeTree(const QString &path)
{
    const auto remove = [](const char *entry, const struct stat *, int, struct FTW *) {
        return ::remove(entry), 0;
    };
    ::nftw(QFile::encodeName(path).constData(), remove, 16, FTW_DEPTH | FTW_PHYS);
}

} // namespace

class TestFileScanner : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QList<QByteArray> m_locked;
    const QString m_root = QFileInfo(m_dir.path()).canonicalFilePath();

    QString rel(const QStringList &paths) const
    {
        QStringList out;
        for (const QString &p : paths)
            out << (QFileInfo(p).isAbsolute() ? QDir(m_root).relativeFilePath(p) : "relative:" + p);
        return out.join(u' ').replace(QString("/d").repeated(FileScanner::kMaxDepth), "/d{max}");
    }
    // Everything a walk reports, with the files in the order found; parts with nothing to say left out.
    QString snapshot(const Discovery &d) const
    {
        static const QRegularExpression nothing(" \\| [a-z]+ (0 in )?0?(?= \\||$)");
        return QString("%1 | unreadable %2 | deep %3 | undecodable %4 in %5 | special %6 | repeated %7")
            .arg(rel(d.files), rel(d.unreadableFolders), rel(d.tooDeepFolders))
            .arg(d.undecodableFiles)
            .arg(rel(d.undecodableFolders))
            .arg(d.specialFiles)
            .arg(d.repeatedNames)
            .remove(nothing);
    }
    // Entries separated by ';', each a path below the root, taken as raw bytes, and then: nothing
    // (a 10-byte file), "=N" (N bytes), ">target" (a symbolic link), "+target" (a hard link), "|" (a
    // FIFO), "/" (a folder), ":mode" (permissions of a folder).
    bool make(const QByteArray &tree)
    {
        const QByteArray top = QFile::encodeName(m_root) + '/';
        for (const QByteArray &entry : tree.split(';')) {
            qsizetype cut = 0;
            while (cut < entry.size() && !QByteArray("=>+|:").contains(entry.at(cut)))
                ++cut;
            const QByteArray path = top + entry.left(cut), arg = entry.mid(cut + 1),
                             target = arg.startsWith('/') ? arg : top + arg;
            for (qsizetype slash = path.indexOf('/', top.size()); slash > 0;
                 slash = path.indexOf('/', slash + 1))
                ::mkdir(path.left(slash).constData(), 0755);
            const char kind = cut < entry.size() ? entry.at(cut) : 0;
            const bool file = (!kind || kind == '=') && !path.endsWith('/');
            const int fd = file ? ::open(path.constData(), O_CREAT | O_WRONLY, 0644) : -1;
            const QByteArray bytes(kind == '=' ? arg.toInt() : 10, 'x');
            if (kind == ':')
                m_locked << path;
            if (!(kind == '>'   ? ::symlink(target.constData(), path.constData()) == 0
                  : kind == '+' ? ::link(target.constData(), path.constData()) == 0
                  : kind == '|' ? ::mkfifo(path.constData(), 0644) == 0
                  : kind == ':' ? ::chmod(path.constData(), mode_t(arg.toInt(nullptr, 8))) == 0
                  : fd >= 0     ? ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size() &&
                                  ::close(fd) == 0
                            : path.endsWith('/')))
                return false;
        }
        return true;
    }
private slots:
    void cleanupTestCase() { init(); }
    void init()
    {
        for (const QByteArray &path : std::as_const(m_locked))
            ::chmod(path.constData(), 0755);
        m_locked.clear();
        removeTree(m_root);
        QVERIFY(m_dir.isValid() && QDir().mkpath(m_root) && QDir::setCurrent(m_root));
    }

    void walk_data()
    {
        QTest::addColumn<QByteArray>("tree");
        QTest::addColumn<Tweak>("tweak");
        QTest::addColumn<QString>("expected");
        const QByteArray filters =
            "lib/b.flac;lib/c.txt;lib/noext;lib/d.mp3.bak;lib/.hidden.mp3;lib/.secret/in.mp3;"
            "lib/Quar/1/q.mp3;lib/Quar/\xe9.mp3;lib/Quarterly/c.mp3;lib/.Trash-1000/files/t.mp3;"
            "lib/Ravelwick Quarantine/1/r.mp3;lib/Song.MP3=999;lib/big.wav=1000;"
            "lib/alias.mp3>lib/Quar/1/q.mp3";
        const QByteArray links =
            "lib/a.mp3;elsewhere/b.mp3;lib/loop>lib;lib/ext>elsewhere;lib/alias.mp3>lib/a.mp3";
        const QByteArray deep = "lib" + QByteArray("/d").repeated(FileScanner::kMaxDepth);
        const QByteArray locked = "lib/ok.mp3;lib/locked/in.mp3;lib/locked/deeper/x.mp3;lib/locked:";
        const Tweak follow = [](ScanOptions &o) { o.followSymlinks = true; };
        // clang-format off
        // Nothing in the quarantine (lib/Quar) or a trash folder, whatever the way in.
        QTest::addRow("defaults") << filters << Tweak() << "lib/Song.MP3 lib/b.flac lib/big.wav lib/Quarterly/c.mp3";
        QTest::addRow("hidden included") << filters << Tweak([](ScanOptions &o) { o.includeHidden = true; }) << "lib/.hidden.mp3 lib/Song.MP3 lib/b.flac lib/big.wav lib/.secret/in.mp3 lib/Quarterly/c.mp3";
        QTest::addRow("extensions trimmed, any case") << filters << Tweak([](ScanOptions &o) { o.extensions = {"mp3", "  FLAC "}; }) << "lib/Song.MP3 lib/b.flac lib/Quarterly/c.mp3";
        QTest::addRow("minimum size, at and below") << filters << Tweak([](ScanOptions &o) { o.minBytes = 1000; }) << "lib/big.wav";
        QTest::addRow("exclude pattern") << filters << Tweak([](ScanOptions &o) { o.excludes << "*/b*"; }) << "lib/Song.MP3 lib/Quarterly/c.mp3";
        QTest::addRow("links not followed") << links << Tweak() << "lib/a.mp3 | repeated 1";
        QTest::addRow("links followed, loop ends") << links << follow << "lib/a.mp3 lib/ext/b.mp3 | repeated 1";
        QTest::addRow("cycle through two roots") << links + ";elsewhere/back>lib;elsewhere/self>elsewhere/self" << Tweak([](ScanOptions &o) { o.folders = {"elsewhere", "lib"}; o.followSymlinks = true; }) << "elsewhere/b.mp3 elsewhere/back/a.mp3 | repeated 1";
        QTest::addRow("followed link into the quarantine") << QByteArray("lib/a.mp3;lib/Quar/1/q.mp3;lib/in>lib/Quar/1") << follow << "lib/a.mp3";
        QTest::addRow("overlapping, relative and repeated roots") << QByteArray("lib/x.mp3;lib/inner/y.mp3;other/z.mp3") << Tweak([](ScanOptions &o) { o.folders = {"lib/inner", QDir::currentPath() + "/lib", "lib/inner/", "no", "lib/x.mp3", "other"}; }) << "lib/inner/y.mp3 lib/x.mp3 other/z.mp3";
        // A hard link is another name for the same bytes: removing it would free nothing.
        QTest::addRow("hard link, first name kept") << QByteArray("lib/z.mp3;lib/a.mp3+lib/z.mp3") << Tweak() << "lib/a.mp3 | repeated 1";
        QTest::addRow("hard links, files before subfolders") << QByteArray("lib/sub/a.mp3;lib/z.mp3+lib/sub/a.mp3;lib/sub/deeper/b.mp3+lib/sub/a.mp3") << Tweak() << "lib/z.mp3 | repeated 2";
        QTest::addRow("hard link, first root wins") << QByteArray("one/a.mp3;two/z.mp3+one/a.mp3") << Tweak([](ScanOptions &o) { o.folders = {"two", "one"}; }) << "two/z.mp3 | repeated 1";
        // Reading a device or a FIFO never ends or reads what is no file.
        QTest::addRow("fifo") << QByteArray("lib/ok.mp3;lib/special.mp3|") << Tweak() << "lib/ok.mp3 | special 1";
        QTest::addRow("link to a device") << QByteArray("lib/ok.mp3;lib/special.mp3>/dev/zero") << Tweak() << "lib/ok.mp3 | special 1";
        // Names in Latin-1 (old Samba shares, FAT media) cannot be opened through a QString path;
        // they show as not checked rather than disappear.
        QTest::addRow("undecodable names") << QByteArray("lib/plain.mp3;lib/Beyonc\xc3\xa9.mp3;lib/Caf\xe9.mp3;lib/Caf\xe9.txt;lib/Fran\xe7" "ais/a.mp3;lib/Fran\xe7" "ais/Live/b.flac;lib/Old/Bj\xf6rk.flac") << Tweak() << QString::fromUtf8("lib/Beyonc\xc3\xa9.mp3 lib/plain.mp3 | undecodable 4 in lib lib/Old");
        QTest::addRow("depth, at and past the limit") << "lib/top.mp3;" + deep + "/edge.mp3;" + deep + "/d/x.mp3" << Tweak() << "lib/top.mp3 lib/d{max}/edge.mp3 | deep lib/d{max}/d";
        for (const char *mode : {"000", "444", "111"})
            QTest::addRow("unreadable folder, mode %s", mode) << locked + mode << Tweak() << "lib/ok.mp3 | unreadable lib/locked";
        // clang-format on
    }
    void walk()
    {
        QFETCH(QByteArray, tree);
        QFETCH(Tweak, tweak);
        if (tree.contains(':') && ::geteuid() == 0)
            QSKIP("Running as root, which reads every folder whatever its permissions.");
        QVERIFY(make(tree));
        ScanOptions o;
        std::tie(o.folders, o.minBytes, o.quarantineRoot) =
            std::make_tuple(QStringList{"lib"}, 0, "lib/Quar");
        if (tweak)
            tweak(o);
        ::alarm(120); // a walk that blocks (reading a FIFO or a device) ends the run instead of hanging it
        const QString seen = snapshot(FileScanner::discover(o, QAtomicInt(0)));
        ::alarm(0);
        QTEST(seen, "expected");
    }

    // Each row's paths checked against its patterns, '1' for excluded.
    void exclusionPatterns_data()
    {
        QTest::addColumn<QStringList>("patterns");
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<QString>("excluded");
        // clang-format off
        QTest::addRow("default: trash at any depth") << ScanOptions().excludes << QStringList{"D:/Music/.Trash/a.mp3"} << "1";
        // A folder pattern covers its subtree; blank patterns match nothing.
        QTest::addRow("stars, question mark, blanks") << QStringList{"*.tmp.mp3", "*/Ravelwick Quarantine", "/a/b?.mp3", "", "   "} << QStringList{"/m/x.tmp.mp3", "/m/Ravelwick Quarantine/s/a.mp3", "/a/b1.mp3", "/a/b/.mp3", "/a/b.mp3"} << "11100";
        QTest::addRow("case, inner star stays in its folder") << QStringList{"D:/Music/*.TMP.mp3"} << QStringList{"D:/Music/x.tmp.mp3", "D:/Music/Old/x.tmp.mp3"} << "10";
        QTest::addRow("second pattern, whole path anchored") << QStringList{"/q/*", "/x/*"} << QStringList{"/x/y.mp3", "/base/x/y.mp3"} << "10";
        // clang-format on
    }
    void exclusionPatterns()
    {
        QFETCH(QStringList, patterns);
        QFETCH(QStringList, paths);
        QString excluded;
        for (const QString &path : paths)
            excluded += FileScanner::isExcluded(path, patterns) ? '1' : '0';
        QTEST(excluded, "excluded");
    }

    // Progress comes with the first file of each folder, every 64th file and once at the end; a
    // cancel keeps what was found. A folder removed during the walk is gone, not unreadable.
    void progressAndCancel()
    {
        QAtomicInt cancel(0);
        int cancelAt = -1;
        QStringList reports;
        const auto record = [&](int count, const QString &folder) {
            reports << QString::number(count) + folder.section(u'/', -1);
            if (count == 64)
                QDir().rmdir("one/f063"); // listed, not yet entered
            if (count == cancelAt)
                cancel.storeRelaxed(1);
        };
        ScanOptions o;
        o.minBytes = 0;
        QVERIFY(FileScanner::discover(o, cancel, record).files.isEmpty());
        QByteArray tree = "one/f063/;two/g.mp3";
        for (int i = 0; i < 130; ++i)
            tree += QStringLiteral(";one/f%1.mp3").arg(i, 3, 10, QChar('0')).toLatin1();
        QVERIFY(make(tree));
        o.folders = {"one", "two"};
        const Discovery d = FileScanner::discover(o, cancel, record);
        reports << QString::number(d.files.size()) + snapshot(d).section(" | ", 1);
        cancelAt = 64;
        reports << QString::number(FileScanner::discover(o, cancel, record).files.size());
        reports << QString::number(
            FileScanner::discover(o, cancel).files.size()); // cancelled before it starts
        QCOMPARE(reports, (QStringList{"0", "1one", "64one", "128one", "131two", "131", "131", "1one",
                                       "64one", "64", "64", "0"}));
    }
};

QTEST_GUILESS_MAIN(TestFileScanner)
#include "tst_filescanner.moc"
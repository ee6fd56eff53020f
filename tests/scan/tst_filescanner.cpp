#include "scan/FileScanner.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

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

} // namespace

class TestFileScanner : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString root() const { return QFileInfo(m_dir.path()).canonicalFilePath(); }

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        QDir(m_dir.path()).removeRecursively();
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
        QStringList found = relative(root(), FileScanner::discover(o, QAtomicInt(0)));
        found.sort();
        QCOMPARE(found, QStringList({"a/Song.MP3", "a/b.flac"}));

        o.extensions.clear();
        QVERIFY(FileScanner::discover(o, QAtomicInt(0)).isEmpty());
    }

    void sizeBoundary()
    {
        QVERIFY(writeFile(root() + "/exact.mp3", 1000));
        QVERIFY(writeFile(root() + "/short.mp3", 999));
        ScanOptions o = optionsFor({root()});
        o.minBytes = 1000;
        QCOMPARE(relative(root(), FileScanner::discover(o, QAtomicInt(0))), QStringList({"exact.mp3"}));
    }

    void overlappingAndRepeatedRoots()
    {
        QVERIFY(writeFile(root() + "/lib/x.mp3", 10));
        QVERIFY(writeFile(root() + "/lib/inner/y.mp3", 10));
        QVERIFY(writeFile(root() + "/other/z.mp3", 10));
        ScanOptions o = optionsFor({root() + "/lib/inner", root() + "/lib", root() + "/lib/inner",
                                    root() + "/missing", root() + "/lib/x.mp3", root() + "/other"});
        const QStringList found = relative(root(), FileScanner::discover(o, QAtomicInt(0)));
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
        const QStringList found = FileScanner::discover(optionsFor({"r"}), QAtomicInt(0));
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
        QStringList plain = relative(root(), FileScanner::discover(o, QAtomicInt(0)));
        plain.sort();
        // The file link is a file entry; it points at a.mp3, which counts once.
        QCOMPARE(plain.size(), 1);
        QVERIFY(plain.first() == "lib/a.mp3" || plain.first() == "lib/alias.mp3");

        o.followSymlinks = true;
        QStringList followed = relative(root(), FileScanner::discover(o, QAtomicInt(0)));
        followed.sort();
        QCOMPARE(followed.size(), 2); // a.mp3 once, b.mp3 through the link; the loop ends
        QVERIFY(followed.contains("lib/ext/b.mp3"));
    }

    void hiddenFilesAndFolders()
    {
        QVERIFY(writeFile(root() + "/.hidden.mp3", 10));
        QVERIFY(writeFile(root() + "/.secret/in.mp3", 10));
        QVERIFY(writeFile(root() + "/seen.mp3", 10));
        ScanOptions o = optionsFor({root()});
        QCOMPARE(relative(root(), FileScanner::discover(o, QAtomicInt(0))), QStringList({"seen.mp3"}));
        o.includeHidden = true;
        QStringList all = relative(root(), FileScanner::discover(o, QAtomicInt(0)));
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
        QTest::newRow("folder pattern, case") << "D:/Music/x.tmp.mp3" << QStringList{"D:/Music/*.TMP.mp3"} << true;
        QTest::newRow("folder pattern, deeper") << "D:/Music/Old/x.tmp.mp3" << QStringList{"D:/Music/*.TMP.mp3"}
                                                << false;
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
        QCOMPARE(relative(root(), FileScanner::discover(o, QAtomicInt(0))), QStringList({"lib/keep.mp3"}));
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
        QStringList found = relative(root(), FileScanner::discover(o, QAtomicInt(0)));
        found.sort();
        QCOMPARE(found, QStringList({"lib/Pop/a.mp3", "lib/Quarterly/c.mp3"}));
    }

    void progressContract()
    {
        for (int i = 0; i < 130; ++i)
            QVERIFY(writeFile(root() + QString("/one/f%1.mp3").arg(i, 3, 10, QChar('0')), 1));
        QVERIFY(writeFile(root() + "/two/g.mp3", 1));
        QList<QPair<int, QString>> reports;
        const QStringList found = FileScanner::discover(
            optionsFor({root() + "/one", root() + "/two"}), QAtomicInt(0),
            [&](int count, const QString &folder) { reports.append({count, folder}); });
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
        const QStringList found = FileScanner::discover(optionsFor({}), QAtomicInt(0),
                                                        [&](int c, const QString &f) { reports.append({c, f}); });
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
        const QStringList found =
            FileScanner::discover(optionsFor({root() + "/c", root() + "/d"}), cancel, [&](int c, const QString &f) {
                reports.append({c, f});
                if (c == 64)
                    cancel.storeRelaxed(1);
            });
        QCOMPARE(found.size(), 64);
        QCOMPARE(reports.last(), qMakePair(64, QString()));

        QAtomicInt already(1);
        QVERIFY(FileScanner::discover(optionsFor({root() + "/c"}), already).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestFileScanner)
#include "tst_filescanner.moc"

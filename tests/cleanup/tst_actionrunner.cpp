#include "app/Translations.h"
#include "cleanup/ActionRunner.h"
#include "cleanup/FileOps.h"

#include <QCryptographicHash>
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
#include <QStandardPaths>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <memory>

using rvw::ActionRunner;
namespace FileOps = rvw::FileOps;

namespace {

QByteArray sha256(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray fileHash(const QString &path)
{
    return QFileInfo::exists(path) ? sha256(readFile(path)) : QByteArray();
}

QJsonObject readManifest(const QString &path)
{
    return QJsonDocument::fromJson(readFile(path)).object();
}

// A single file the run could not move, with no undo record left behind.
void verifyNotMoved(const ActionRunner::Result &r, const QString &source, const QString &message)
{
    QCOMPARE(r.succeeded, 0);
    QCOMPARE(r.failed, 1);
    QCOMPARE(r.errors.size(), 1);
    QVERIFY2(r.errors.first().startsWith(message.arg(source)), qPrintable(r.errors.first()));
    QVERIFY(r.manifestPath.isEmpty());
    QVERIFY(ActionRunner::manifests().isEmpty());
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

} // namespace

class TestActionRunner : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;
    std::unique_ptr<QTemporaryDir> m_work;
    std::unique_ptr<QTemporaryDir> m_shm;
    // Content hash of every file a test made, to check that each exists exactly once.
    QList<QByteArray> m_made;

    QString work(const QString &rel) const { return m_work->filePath(rel); }

    // Makes a file of unique content (so copies can be told apart by hash).
    QString make(const QString &path, int size = 3000)
    {
        QByteArray bytes = path.toUtf8() + '\n';
        while (bytes.size() < size)
            bytes.append(char(QRandomGenerator::global()->bounded(256)));
        bytes.truncate(qMax(size, 1));
        if (!writeBytes(path, bytes))
            return QString();
        m_made << sha256(bytes);
        return path;
    }

    QStringList searchedFolders() const
    {
        QStringList folders{m_work->path(), m_home.path()};
        if (m_shm)
            folders << m_shm->path();
        return folders;
    }

    // Every file made by the test exists exactly once across the test's folders.
    void verifyEachFileOnce()
    {
        QHash<QByteArray, int> seen;
        for (const QString &folder : searchedFolders()) {
            QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
            while (it.hasNext())
                ++seen[fileHash(it.next())];
        }
        for (const QByteArray &hash : std::as_const(m_made))
            QVERIFY2(
                seen.value(hash) == 1,
                qPrintable(QStringLiteral("a file exists %1 times instead of once").arg(seen.value(hash))));
    }

    QString quarantine() const { return work(QStringLiteral("Q")); }

    static QString batchOf(const ActionRunner::Result &result)
    {
        return readManifest(result.manifestPath).value(QStringLiteral("quarantineRoot")).toString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        // The recycle bin, the documents folder and the manifests all live below this home,
        // so the user's own trash and data are never touched.
        qputenv("HOME", m_home.path().toUtf8());
        qputenv("XDG_DATA_HOME", m_home.filePath(QStringLiteral("xdg-data")).toUtf8());
        qputenv("XDG_CONFIG_HOME", m_home.filePath(QStringLiteral("xdg-config")).toUtf8());
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("RavelwickTests"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_actionrunner"));
    }

    void init()
    {
        m_work = std::make_unique<QTemporaryDir>();
        QVERIFY(m_work->isValid());
        m_made.clear();
        QDir(ActionRunner::manifestDirectory()).removeRecursively();
    }

    void cleanup()
    {
        m_shm.reset();
        m_work.reset();
    }

    void modeName_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("name");
        QTest::newRow("quarantine") << 0 << "Move to quarantine";
        QTest::newRow("recycle") << 1 << "Move to recycle bin";
        QTest::newRow("delete") << 2 << "Delete permanently";
        QTest::newRow("unknown") << 3 << "";
        QTest::newRow("negative") << -1 << "";
    }

    void modeName()
    {
        QFETCH(int, mode);
        QFETCH(QString, name);
        QCOMPARE(ActionRunner::modeName(ActionRunner::Mode(mode)), name);
    }

    void locations()
    {
        const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        QCOMPARE(ActionRunner::defaultQuarantineRoot(), documents + QStringLiteral("/Ravelwick Quarantine"));
        const QString appData = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        QVERIFY(appData.startsWith(m_home.path()));
        QDir(appData).removeRecursively();
        QCOMPARE(ActionRunner::manifestDirectory(), appData + QStringLiteral("/undo"));
        QVERIFY(QFileInfo(appData + QStringLiteral("/undo")).isDir());
    }

    void quarantineKeepsStructureAndWritesManifest()
    {
        const QString music = work(QStringLiteral("lib/Music"));
        const QString jingles = work(QStringLiteral("lib/Jingles"));
        const QString a = make(music + QStringLiteral("/Pop/a.mp3"), 5000);
        const QString b = make(jingles + QStringLiteral("/b.flac"), 7000);
        const QString outside = make(work(QStringLiteral("elsewhere/deep/c.ogg")), 1100);
        const QString gone = music + QStringLiteral("/Pop/vanished.mp3");
        const QString oddFolder = make(music + QStringLiteral("/..Odd/d.wav"), 900);
        const QByteArray hashA = fileHash(a);

        const auto r = ActionRunner::execute({a, gone, b, outside, oddFolder}, ActionRunner::Quarantine,
                                             quarantine(), {music, jingles});
        QCOMPARE(r.succeeded, 4);
        QCOMPARE(r.failed, 1);
        QCOMPARE(r.bytesFreed, qint64(5000 + 7000 + 1100 + 900));
        QCOMPARE(r.errors, QStringList{gone + QStringLiteral(" no longer exists")});
        QVERIFY(!r.manifestPath.isEmpty());
        QCOMPARE(ActionRunner::manifests(), QStringList{r.manifestPath});

        const QJsonObject manifest = readManifest(r.manifestPath);
        QCOMPARE(manifest.value("manifestVersion").toDouble(), 1.0);
        QCOMPARE(manifest.value("mode").toString(), QStringLiteral("Move to quarantine"));
        QVERIFY(QDateTime::fromString(manifest.value("createdAt").toString(), Qt::ISODate).isValid());
        const QString batch = manifest.value("quarantineRoot").toString();
        QCOMPARE(QFileInfo(batch).absolutePath(), quarantine());
        QVERIFY2(QFileInfo(batch).fileName().contains(QRegularExpression("^\\d{8}-\\d{6}(_\\d{3})?$")),
                 qPrintable(batch));
        QCOMPARE(QFileInfo(r.manifestPath).fileName(),
                 QStringLiteral("undo-%1.json").arg(QFileInfo(batch).fileName()));

        const QJsonArray entries = manifest.value("entries").toArray();
        QCOMPARE(entries.size(), 4);
        const QStringList expectedTo{batch + "/Music/Pop/a.mp3", batch + "/Jingles/b.flac", batch + "/c.ogg",
                                     batch + "/Music/..Odd/d.wav"};
        const QStringList expectedFrom{a, b, outside, oddFolder};
        const QList<qint64> sizes{5000, 7000, 1100, 900};
        for (int i = 0; i < entries.size(); ++i) {
            const QJsonObject e = entries.at(i).toObject();
            QCOMPARE(e.value("from").toString(), expectedFrom.at(i));
            QCOMPARE(e.value("to").toString(), expectedTo.at(i));
            QCOMPARE(e.value("size").toInteger(-1), sizes.at(i));
        }
        QCOMPARE(fileHash(batch + "/Music/Pop/a.mp3"), hashA);
        verifyEachFileOnce();
    }

    void quarantineTargetRules_data()
    {
        QTest::addColumn<QStringList>("roots");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("target");
        QTest::newRow("first qualifying root wins")
            << QStringList{"lib/Music/Pop", "lib/Music"} << QString("lib/Music/Pop/a.mp3") << "Pop/a.mp3";
        QTest::newRow("list order, not depth") << QStringList{"lib/Music", "lib/Music/Pop"}
                                               << QString("lib/Music/Pop/a.mp3") << "Music/Pop/a.mp3";
        QTest::newRow("root with trailing slash")
            << QStringList{"lib/Music/"} << QString("lib/Music/x/a.mp3") << "Music/x/a.mp3";
        QTest::newRow("name prefix is not a parent")
            << QStringList{"lib/Mus"} << QString("lib/Music/a.mp3") << "a.mp3";
        QTest::newRow("sibling root") << QStringList{"lib/Jingles"} << QString("lib/Music/a.mp3") << "a.mp3";
        QTest::newRow("no roots") << QStringList{} << QString("lib/Music/a.mp3") << "a.mp3";
        QTest::newRow("blank root skipped")
            << QStringList{"", "lib/Music"} << QString("lib/Music/a.mp3") << "Music/a.mp3";
    }

    void quarantineTargetRules()
    {
        QFETCH(QStringList, roots);
        QFETCH(QString, file);
        QFETCH(QString, target);
        for (QString &root : roots) {
            if (!root.isEmpty())
                root = work(root);
        }
        const QString source = make(work(file));
        const auto r = ActionRunner::execute({source}, ActionRunner::Quarantine, quarantine(), roots);
        QCOMPARE(r.succeeded, 1);
        QCOMPARE(
            readManifest(r.manifestPath).value("entries").toArray().at(0).toObject().value("to").toString(),
            batchOf(r) + QLatin1Char('/') + target);
        verifyEachFileOnce();
    }

    void collisions_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("targets");
        QTest::newRow("suffix") << "x.mp3" << QStringList{"x.mp3", "x (2).mp3", "x (3).mp3"};
        QTest::newRow("no suffix") << "README" << QStringList{"README", "README (2)", "README (3)"};
        QTest::newRow("several dots") << "Song.Live.mp3" << QStringList{"Song.Live.mp3", "Song.Live (2).mp3"};
        QTest::newRow("placeholder text in name")
            << "%2 mix.flac" << QStringList{"%2 mix.flac", "%2 mix (2).flac"};
    }

    void collisions()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, targets);
        QStringList sources;
        QList<QByteArray> hashes;
        for (int i = 0; i < targets.size(); ++i) {
            sources << make(work(QStringLiteral("src%1/%2").arg(i).arg(name)));
            hashes << fileHash(sources.last());
        }
        // No roots: every file lands directly in the batch folder under its own name.
        const auto r = ActionRunner::execute(sources, ActionRunner::Quarantine, quarantine(), {});
        QCOMPARE(r.succeeded, targets.size());
        const QString batch = batchOf(r);
        for (int i = 0; i < targets.size(); ++i)
            QCOMPARE(fileHash(batch + QLatin1Char('/') + targets.at(i)), hashes.at(i));
        verifyEachFileOnce();
    }

    void collisionNamesRunOut()
    {
        // 10000 files of one name: the first 9999 take "n.mp3" .. "n (9999).mp3", the last
        // has no free name and stays where it is.
        const int count = 10000;
        QStringList sources;
        for (int i = 0; i < count; ++i) {
            const QString path = work(QStringLiteral("many/%1/n.mp3").arg(i));
            QVERIFY(writeBytes(path, QByteArray::number(i)));
            sources << path;
        }
        const auto r = ActionRunner::execute(sources, ActionRunner::Quarantine, quarantine(), {});
        QCOMPARE(r.succeeded, count - 1);
        QCOMPARE(r.failed, 1);
        QCOMPARE(r.errors, QStringList{QStringLiteral("Could not move %1").arg(sources.last())});
        QVERIFY(QFileInfo::exists(sources.last()));
        const QString batch = batchOf(r);
        QCOMPARE(readFile(batch + QStringLiteral("/n (9999).mp3")), QByteArray::number(count - 2));
    }

    void sameSecondKeepsEarlierManifest()
    {
        // Occupy the manifest names of this second and the next two, as if an earlier call
        // of the same second had written them.
        const QDateTime now = QDateTime::currentDateTime();
        const QByteArray sentinel("{\"entries\": [], \"earlier\": true}");
        QStringList earlier;
        for (int s = 0; s < 3; ++s) {
            const QString stamp = now.addSecs(s).toString(QStringLiteral("yyyyMMdd-HHmmss"));
            earlier << QDir(ActionRunner::manifestDirectory())
                           .filePath(QStringLiteral("undo-%1.json").arg(stamp));
            QVERIFY(writeBytes(earlier.last(), sentinel));
        }
        const QString source = make(work(QStringLiteral("lib/a.mp3")));
        const auto r = ActionRunner::execute({source}, ActionRunner::Quarantine, quarantine(), {});
        QCOMPARE(r.succeeded, 1);
        QVERIFY2(r.manifestPath.endsWith(QStringLiteral("_002.json")), qPrintable(r.manifestPath));
        QVERIFY(batchOf(r).endsWith(QStringLiteral("_002")));
        for (const QString &path : std::as_const(earlier))
            QCOMPARE(readFile(path), sentinel);
        // Within the second, the later call is listed first.
        const QStringList listed = ActionRunner::manifests();
        const QString plain =
            QString(r.manifestPath).replace(QStringLiteral("_002.json"), QStringLiteral(".json"));
        QVERIFY(listed.indexOf(r.manifestPath) >= 0);
        QVERIFY(listed.indexOf(r.manifestPath) < listed.indexOf(plain));
        verifyEachFileOnce();
    }

    void quickSuccessiveCallsKeepBothManifests()
    {
        const QString a = make(work(QStringLiteral("lib/a.mp3")));
        const QString b = make(work(QStringLiteral("lib/b.mp3")));
        const auto first = ActionRunner::execute({a}, ActionRunner::Quarantine, quarantine(), {});
        const auto second = ActionRunner::execute({b}, ActionRunner::Quarantine, quarantine(), {});
        QVERIFY(!first.manifestPath.isEmpty());
        QVERIFY(!second.manifestPath.isEmpty());
        QVERIFY(first.manifestPath != second.manifestPath);
        QVERIFY(batchOf(first) != batchOf(second));
        QCOMPARE(ActionRunner::manifests(), (QStringList{second.manifestPath, first.manifestPath}));
        // Both undo on their own.
        QCOMPARE(ActionRunner::undo(first.manifestPath).succeeded, 1);
        QCOMPARE(ActionRunner::undo(second.manifestPath).succeeded, 1);
        QVERIFY(QFileInfo::exists(a) && QFileInfo::exists(b));
        verifyEachFileOnce();
    }

    void unwritableManifestMovesNothing()
    {
        const QString undoDir = ActionRunner::manifestDirectory();
        QVERIFY(QDir(undoDir).removeRecursively());
        // A plain file where the manifest folder belongs: it can be neither made nor written,
        // even by an all-powerful user.
        QVERIFY(writeBytes(undoDir, "in the way"));
        const QString source = make(work(QStringLiteral("lib/Music/a.mp3")), 4096);
        const QByteArray hash = fileHash(source);
        const auto r =
            ActionRunner::execute({source}, ActionRunner::Quarantine, quarantine(), {work("lib/Music")});
        QVERIFY(QFile::remove(undoDir));
        verifyNotMoved(r, source, QStringLiteral("Nothing was moved: the undo manifest cannot be written"));
        QCOMPARE(fileHash(source), hash);
        QVERIFY(QDir(quarantine()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
        verifyEachFileOnce();
    }

    void unwritableDestinationLeavesFiles()
    {
        // /proc takes no new folders, whoever asks.
        if (!QFileInfo(QStringLiteral("/proc/self")).isDir())
            QSKIP("no /proc file system on this system");
        const QString source = make(work(QStringLiteral("lib/a.mp3")));
        const QByteArray hash = fileHash(source);
        const auto r = ActionRunner::execute({source}, ActionRunner::Quarantine,
                                             QStringLiteral("/proc/rvw-quarantine"), {work("lib")});
        verifyNotMoved(r, source, QStringLiteral("Nothing was moved: cannot create the quarantine folder"));
        QCOMPARE(fileHash(source), hash);
        verifyEachFileOnce();
    }

    // Every way a move can fail part way, forced through the file layer's fault hook: the
    // file stays whole in the library and the quarantine keeps no part of it.
    void faultsDuringMove_data()
    {
        QTest::addColumn<int>("renameError"); // the plain rename fails with this
        QTest::addColumn<int>("op");          // then this operation of the copy fails
        QTest::addColumn<qint64>("after");    // once a write would pass this many bytes
        QTest::addColumn<int>("error");
        QTest::addColumn<bool>("moves");
        const int write = int(FileOps::Op::Write);
        QTest::newRow("rename refused across devices: copied") << EXDEV << -1 << qint64(0) << 0 << true;
        QTest::newRow("rename refused, other reason: copied") << EPERM << -1 << qint64(0) << 0 << true;
        QTest::newRow("disk full part way") << EXDEV << write << qint64(1 << 20) << ENOSPC << false;
        QTest::newRow("quota exceeded at once") << EXDEV << write << qint64(0) << EDQUOT << false;
        QTest::newRow("sync fails") << EXDEV << int(FileOps::Op::Sync) << qint64(0) << EIO << false;
        QTest::newRow("copy cannot be put in place")
            << EXDEV << int(FileOps::Op::Place) << qint64(0) << EIO << false;
        QTest::newRow("original cannot be removed")
            << EXDEV << int(FileOps::Op::Remove) << qint64(0) << EACCES << false;
    }

    void faultsDuringMove()
    {
        QFETCH(int, renameError);
        QFETCH(int, op);
        QFETCH(qint64, after);
        QFETCH(int, error);
        QFETCH(bool, moves);
        const QString source = make(work(QStringLiteral("lib/Music/a.flac")), 3 << 20);
        const QByteArray hash = fileHash(source);
        const QDateTime old = QDateTime::currentDateTimeUtc().addDays(-400);
        {
            QFile file(source);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(old, QFileDevice::FileModificationTime));
        }
        const QString manifestDir = ActionRunner::manifestDirectory();
        FileOps::setFaultHook([&](FileOps::Op o, const QString &path, qint64 position) {
            if (path.startsWith(manifestDir))
                return 0; // the manifest itself is written normally
            if (o == FileOps::Op::Rename)
                return renameError;
            return int(o) == op && position >= after ? error : 0;
        });
        const auto r =
            ActionRunner::execute({source}, ActionRunner::Quarantine, quarantine(), {work("lib/Music")});
        FileOps::setFaultHook({});
        const QString target = quarantine() + QLatin1Char('/');
        if (moves) {
            QCOMPARE(r.succeeded, 1);
            QVERIFY(r.manifestComplete);
            const QString moved = batchOf(r) + QStringLiteral("/Music/a.flac");
            QCOMPARE(fileHash(moved), hash);
            QCOMPARE(QFileInfo(moved).lastModified().toSecsSinceEpoch(), old.toSecsSinceEpoch());
            // Back the same way, through a copy.
            FileOps::setFaultHook(
                [](FileOps::Op o, const QString &, qint64) { return o == FileOps::Op::Rename ? EXDEV : 0; });
            const auto back = ActionRunner::undo(r.manifestPath);
            FileOps::setFaultHook({});
            QCOMPARE(back.succeeded, 1);
            QCOMPARE(fileHash(source), hash);
        } else {
            verifyNotMoved(r, source, QStringLiteral("Could not move %1: "));
            QCOMPARE(fileHash(source), hash);
            QDirIterator left(quarantine(), QDir::Files | QDir::Hidden | QDir::System,
                              QDirIterator::Subdirectories);
            QVERIFY2(!left.hasNext(), "a part of the copy stayed in the quarantine");
            QVERIFY(QFileInfo(quarantine()).isDir()); // only the batch's own folders go
        }
        verifyEachFileOnce();
    }

    // The manifest is a journal: on disk before the first file moves, and final when the
    // batch stops, also when it is stopped part way.
    void manifestIsWrittenBeforeTheFirstMove()
    {
        const QString lib = work(QStringLiteral("lib"));
        const QStringList sources{make(lib + QStringLiteral("/a.mp3")), make(lib + QStringLiteral("/b.mp3")),
                                  make(lib + QStringLiteral("/c.mp3"))};
        QAtomicInt cancel;
        int renames = 0;
        QStringList manifestsSeen;
        FileOps::setFaultHook([&](FileOps::Op o, const QString &path, qint64) {
            if (o == FileOps::Op::Rename && path.startsWith(lib)) {
                const QStringList listed = ActionRunner::manifests();
                const QJsonObject m = listed.isEmpty() ? QJsonObject() : readManifest(listed.first());
                manifestsSeen << QStringLiteral("%1 planned, complete %2")
                                     .arg(m.value("entries").toArray().size())
                                     .arg(m.value("complete").toBool(true));
                if (++renames == 2)
                    cancel.storeRelaxed(1);
            }
            return 0;
        });
        QStringList told;
        const auto tell = [&told](int done, int total) {
            told << QStringLiteral("%1/%2").arg(done).arg(total);
        };
        const auto r =
            ActionRunner::execute(sources, ActionRunner::Quarantine, quarantine(), {lib}, &cancel, tell);
        FileOps::setFaultHook({});
        QCOMPARE(manifestsSeen, (QStringList{"3 planned, complete 0", "3 planned, complete 0"}));
        QCOMPARE(told, (QStringList{"0/3", "1/3", "2/3"}));
        QVERIFY(r.cancelled);
        QCOMPARE(r.succeeded, 2);
        QVERIFY(r.manifestComplete);
        const QJsonObject manifest = readManifest(r.manifestPath);
        QCOMPARE(manifest.value("entries").toArray().size(), 2);
        QVERIFY(manifest.value("complete").toBool());
        QVERIFY(QFileInfo::exists(sources.at(2)));

        // An undo stopped after its first file keeps the manifest, and a second one finishes.
        told.clear();
        cancel.storeRelaxed(0);
        const auto stopAfterOne = [&](int done, int total) {
            tell(done, total);
            if (done == 1)
                cancel.storeRelaxed(1);
        };
        const auto partly = ActionRunner::undo(r.manifestPath, nullptr, &cancel, stopAfterOne);
        QVERIFY(partly.cancelled);
        QCOMPARE(partly.succeeded, 1);
        QCOMPARE(told, (QStringList{"0/2", "1/2"}));
        QVERIFY(QFileInfo::exists(r.manifestPath));
        const auto rest = ActionRunner::undo(r.manifestPath);
        QCOMPARE(rest.succeeded, 2);
        QVERIFY(!QFileInfo::exists(r.manifestPath));
        verifyEachFileOnce();
    }

    void crossFileSystemMoveAndUndo()
    {
        m_shm = std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/rvw-actionrunner-XXXXXX"));
        if (!m_shm->isValid())
            QSKIP("no /dev/shm on this system");
        if (QStorageInfo(m_shm->path()).rootPath() == QStorageInfo(m_work->path()).rootPath())
            QSKIP("/dev/shm is on the same file system as the temporary folder");

        // From the temporary folder to /dev/shm, and from /dev/shm back to the temporary folder.
        const QString here = make(work(QStringLiteral("lib/Music/a.flac")), 200000);
        const QString there = make(m_shm->filePath(QStringLiteral("Station/b.mp3")), 65537);
        const QDateTime old = QDateTime::currentDateTimeUtc().addDays(-400);
        for (const QString &path : {here, there}) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(old, QFileDevice::FileModificationTime));
        }
        const QByteArray hashHere = fileHash(here);
        const QByteArray hashThere = fileHash(there);

        const QString shmQuarantine = m_shm->filePath(QStringLiteral("Q"));
        const auto toShm =
            ActionRunner::execute({here}, ActionRunner::Quarantine, shmQuarantine, {work("lib/Music")});
        const auto fromShm = ActionRunner::execute({there}, ActionRunner::Quarantine, quarantine(),
                                                   {m_shm->filePath("Station")});
        QCOMPARE(toShm.succeeded, 1);
        QCOMPARE(fromShm.succeeded, 1);
        QCOMPARE(toShm.bytesFreed, qint64(200000));
        const QString movedHere = batchOf(toShm) + QStringLiteral("/Music/a.flac");
        const QString movedThere = batchOf(fromShm) + QStringLiteral("/Station/b.mp3");
        QCOMPARE(fileHash(movedHere), hashHere);
        QCOMPARE(fileHash(movedThere), hashThere);
        QCOMPARE(QFileInfo(movedHere).lastModified().toSecsSinceEpoch(), old.toSecsSinceEpoch());
        QVERIFY(!QFileInfo::exists(here) && !QFileInfo::exists(there));
        verifyEachFileOnce();

        QCOMPARE(ActionRunner::undo(toShm.manifestPath).succeeded, 1);
        QCOMPARE(ActionRunner::undo(fromShm.manifestPath).succeeded, 1);
        QCOMPARE(fileHash(here), hashHere);
        QCOMPARE(fileHash(there), hashThere);
        QCOMPARE(QFileInfo(here).lastModified().toSecsSinceEpoch(), old.toSecsSinceEpoch());
        verifyEachFileOnce();
    }

    void recycleBin()
    {
        const QString a = make(work(QStringLiteral("lib/a.mp3")), 1234);
        const QString gone = work(QStringLiteral("lib/gone.mp3"));
        const QByteArray hash = fileHash(a);
        const auto r =
            ActionRunner::execute({gone, a}, ActionRunner::RecycleBin, quarantine(), {work("lib")});
        QCOMPARE(r.failed, 1);
        QCOMPARE(r.errors, QStringList{gone + QStringLiteral(" no longer exists")});
        QCOMPARE(r.succeeded, 1);
        QCOMPARE(r.bytesFreed, qint64(1234));
        QVERIFY(r.manifestPath.isEmpty());
        QVERIFY(!QFileInfo::exists(a));
        QVERIFY(!QFileInfo::exists(quarantine()));
        QVERIFY(ActionRunner::manifests().isEmpty());
        // The copy sits in a freedesktop trash below the test's own home.
        bool found = false;
        QDirIterator it(m_home.path(), {QStringLiteral("a*.mp3")}, QDir::Files | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (fileHash(path) == hash)
                found = path.contains(QStringLiteral("/Trash/files/"));
        }
        QVERIFY2(found, "the recycled file is not in the test's trash");
        verifyEachFileOnce();
    }

    void deletePermanently()
    {
        const QString a = make(work(QStringLiteral("lib/a.mp3")), 100);
        const QString b = make(work(QStringLiteral("lib/b.mp3")), 200);
        m_made.clear();
        const auto r = ActionRunner::execute({a, a, b}, ActionRunner::Delete, quarantine(), {});
        QCOMPARE(r.succeeded, 2);
        QCOMPARE(r.failed, 1);
        QCOMPARE(r.bytesFreed, qint64(300));
        QCOMPARE(r.errors, QStringList{a + QStringLiteral(" no longer exists")});
        QVERIFY(r.manifestPath.isEmpty());
        QVERIFY(!QFileInfo::exists(a) && !QFileInfo::exists(b));
        QVERIFY(ActionRunner::manifests().isEmpty());
    }

    void manifestThatCannotBeFinishedStillUndoes()
    {
        const QString lib = work(QStringLiteral("lib"));
        const QStringList sources{make(lib + QStringLiteral("/a.mp3")), make(lib + QStringLiteral("/b.mp3"))};
        const QString manifestDir = ActionRunner::manifestDirectory();
        int placed = 0;
        // The planned manifest is written; its final rewrite is not.
        FileOps::setFaultHook([&](FileOps::Op o, const QString &path, qint64) {
            return o == FileOps::Op::Place && path.startsWith(manifestDir) && ++placed > 1 ? EIO : 0;
        });
        const auto r = ActionRunner::execute(sources, ActionRunner::Quarantine, quarantine(), {lib});
        FileOps::setFaultHook({});
        QCOMPARE(r.succeeded, 2);
        QVERIFY(!r.manifestComplete);
        QVERIFY(!r.manifestPath.isEmpty());
        QVERIFY2(r.errors.value(0).contains("could not be completed"), qPrintable(r.errors.value(0)));
        QVERIFY(ActionRunner::describeManifest(r.manifestPath)
                    .endsWith(QStringLiteral("2 file(s), interrupted")));
        const auto back = ActionRunner::undo(r.manifestPath);
        QCOMPARE(back.succeeded, 2);
        QCOMPARE(back.failed, 0);
        QVERIFY(ActionRunner::manifests().isEmpty());
        verifyEachFileOnce();
    }

    void undoRestoresEverything()
    {
        const QString music = work(QStringLiteral("lib/Music"));
        const QString a = make(music + QStringLiteral("/Pop/a.mp3"));
        const QString b = make(music + QStringLiteral("/Rock/Live/b.mp3"));
        const QByteArray hashA = fileHash(a);
        const QByteArray hashB = fileHash(b);
        const auto done = ActionRunner::execute({a, b}, ActionRunner::Quarantine, quarantine(), {music});
        QCOMPARE(done.succeeded, 2);
        // The original folder vanished meanwhile: undo makes it again.
        QVERIFY(QDir(music + QStringLiteral("/Rock")).removeRecursively());

        QString error = QStringLiteral("untouched");
        const auto r = ActionRunner::undo(done.manifestPath, &error);
        QCOMPARE(r.succeeded, 2);
        QVERIFY(r.errors.isEmpty());
        QCOMPARE(error, QStringLiteral("untouched"));
        QCOMPARE(fileHash(a), hashA);
        QCOMPARE(fileHash(b), hashB);
        QVERIFY(!QFileInfo::exists(done.manifestPath));
        QVERIFY(ActionRunner::manifests().isEmpty());
        verifyEachFileOnce();
    }

    void undoPartialFailureKeepsManifest()
    {
        const QString lib = work(QStringLiteral("lib"));
        const QString a = make(lib + QStringLiteral("/a.mp3"));
        const QString b = make(lib + QStringLiteral("/b.mp3"));
        const QString c = make(lib + QStringLiteral("/c.mp3"));
        const auto done = ActionRunner::execute({a, b, c}, ActionRunner::Quarantine, quarantine(), {lib});
        QCOMPARE(done.succeeded, 3);
        const QString batch = batchOf(done);
        const QByteArray manifestBytes = readFile(done.manifestPath);

        // a's place is taken again by a new file; c's quarantined copy was deleted by hand.
        const QString newA = make(a, 777);
        const QByteArray hashNewA = fileHash(newA);
        const QString cCopy = batch + QStringLiteral("/lib/c.mp3");
        QVERIFY(QFile::remove(cCopy));
        m_made.removeAt(2); // c is gone for good

        const auto r = ActionRunner::undo(done.manifestPath, nullptr);
        QCOMPARE(r.succeeded, 1);
        QCOMPARE(r.failed, 2);
        QCOMPARE(r.errors, (QStringList{QStringLiteral("A file already exists at %1").arg(a),
                                        QStringLiteral("Quarantined copy missing: %1").arg(cCopy)}));
        QCOMPARE(fileHash(a), hashNewA);
        QVERIFY(QFileInfo::exists(b));
        QCOMPARE(readFile(done.manifestPath), manifestBytes);
        QCOMPARE(ActionRunner::manifests(), QStringList{done.manifestPath});
        verifyEachFileOnce();

        // Clearing a's place lets a second attempt finish it; b, back already, counts as restored.
        QVERIFY(QFile::rename(a, work(QStringLiteral("newA.mp3"))));
        const auto again = ActionRunner::undo(done.manifestPath, nullptr);
        QCOMPARE(again.succeeded, 2);
        QCOMPARE(again.errors, QStringList{QStringLiteral("Quarantined copy missing: %1").arg(cCopy)});
        QVERIFY(QFileInfo::exists(done.manifestPath));
        verifyEachFileOnce();
    }

    void undoCountsFilesAlreadyBack()
    {
        const QString lib = work(QStringLiteral("lib"));
        const QString a = make(lib + QStringLiteral("/x/a.mp3"));
        const QString b = make(lib + QStringLiteral("/b.mp3"));
        const auto done = ActionRunner::execute({a, b}, ActionRunner::Quarantine, quarantine(), {lib});
        const QString batch = batchOf(done);
        QVERIFY(QFile::rename(batch + QStringLiteral("/lib/x/a.mp3"), a));
        QVERIFY(QFile::rename(batch + QStringLiteral("/lib/b.mp3"), b));
        // The quarantined places get other files, which undo must not move over the originals.
        make(batch + QStringLiteral("/lib/x/a.mp3"));
        make(batch + QStringLiteral("/lib/b.mp3"));
        const auto r = ActionRunner::undo(done.manifestPath, nullptr);
        QCOMPARE(r.succeeded, 2);
        QCOMPARE(r.failed, 0);
        QVERIFY(!QFileInfo::exists(done.manifestPath));
        verifyEachFileOnce();
    }

    // A manifest is read back from disk, where anyone may have edited it: each entry that
    // points anywhere but at its own quarantined file is refused and touches nothing.
    void undoRefusesForeignEntries_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value"); // %1 the batch folder, %2 the victim, %3 the work folder
        QTest::newRow("copy outside the batch") << "to"
                                                << "%2";
        QTest::newRow("copy reached through ..") << "to"
                                                 << "%1/../../victim/song.mp3";
        QTest::newRow("copy is a link out of the batch") << "to"
                                                         << "%1/link.mp3";
        QTest::newRow("copy is a folder") << "to"
                                          << "%1/lib";
        QTest::newRow("copy of another size") << "size"
                                              << "1";
        QTest::newRow("relative original") << "from"
                                           << "lib/a.mp3";
        QTest::newRow("original with ..") << "from"
                                          << "%3/lib/../lib/a.mp3";
        QTest::newRow("batch folder rewritten") << "quarantineRoot"
                                                << "%3";
    }

    void undoRefusesForeignEntries()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        const QString lib = work(QStringLiteral("lib"));
        const QString a = make(lib + QStringLiteral("/a.mp3"));
        const QString victim = make(work(QStringLiteral("victim/song.mp3")));
        const QByteArray victimHash = fileHash(victim);
        const auto done = ActionRunner::execute({a}, ActionRunner::Quarantine, quarantine(), {lib});
        const QString batch = batchOf(done);
        QVERIFY(QFile::link(victim, batch + QStringLiteral("/link.mp3")));

        QJsonObject manifest = readManifest(done.manifestPath);
        // Not arg(): it would number the markers of a row from the lowest one present.
        const QString text = QString(value)
                                 .replace(QLatin1String("%1"), batch)
                                 .replace(QLatin1String("%2"), victim)
                                 .replace(QLatin1String("%3"), m_work->path());
        if (key == QLatin1String("quarantineRoot")) {
            manifest.insert(key, text);
        } else {
            QJsonArray entries = manifest.value("entries").toArray();
            QJsonObject entry = entries.at(0).toObject();
            entry.insert(key, key == QLatin1String("size") ? QJsonValue(text.toDouble()) : QJsonValue(text));
            entries.replace(0, entry);
            manifest.insert("entries", entries);
        }
        QVERIFY(writeBytes(done.manifestPath, QJsonDocument(manifest).toJson()));

        const auto r = ActionRunner::undo(done.manifestPath, nullptr);
        QCOMPARE(r.succeeded, 0);
        QCOMPARE(r.failed, 1);
        QVERIFY2(r.errors.first().startsWith(QStringLiteral("Refused")), qPrintable(r.errors.first()));
        QCOMPARE(fileHash(victim), victimHash);
        QVERIFY(!QFileInfo::exists(a));
        QVERIFY(QFileInfo::exists(done.manifestPath));
        QVERIFY(QFile::remove(batch + QStringLiteral("/link.mp3")));
        verifyEachFileOnce();
    }

    void undoOfUnusableManifests()
    {
        const QString missing = work(QStringLiteral("undo-19990101-000000.json"));
        QString error;
        const auto r = ActionRunner::undo(missing, &error);
        QCOMPARE(r.succeeded + r.failed, 0);
        QVERIFY(r.errors.isEmpty());
        QVERIFY2(error.startsWith(QStringLiteral("Cannot read manifest: ")) &&
                     error.size() > int(qstrlen("Cannot read manifest: ")),
                 qPrintable(error));
        ActionRunner::undo(missing, nullptr); // no error pointer: nothing to fill

        // Skipped entries count neither way; a manifest with only those is done and deleted.
        const QString skips = work(QStringLiteral("skips.json"));
        QVERIFY(
            writeBytes(skips, R"({"entries":[{"from":"","to":"/x"},{"to":"/x"},7,{"from":3,"to":"/y"}]})"));
        const auto s = ActionRunner::undo(skips, &error);
        QCOMPARE(s.succeeded + s.failed, 0);
        QVERIFY(!QFileInfo::exists(skips));

        // A damaged manifest is no record of a finished undo: it stays.
        const QString damaged = work(QStringLiteral("damaged.json"));
        QVERIFY(writeBytes(damaged, R"({"entries":[{"from":"/a","to":"/b"})"));
        const auto d = ActionRunner::undo(damaged, &error);
        QCOMPARE(d.succeeded + d.failed, 0);
        QVERIFY(QFileInfo::exists(damaged));
    }

    void describeManifest_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("label");
        const QByteArray three = R"({"createdAt":"2026-12-05T14:03:09","entries":[{},{},{}]})";
        const QByteArray one = R"({"createdAt":"2027-01-31T09:30:00","entries":[{}]})";
        QTest::newRow("afternoon") << "en_GB" << three << "05/12/2026 14:03 - 3 files";
        QTest::newRow("morning, one file") << "en_GB" << one << "31/01/2027 09:30 - 1 file";
        QTest::newRow("no entries") << "en_GB" << QByteArray(R"({"createdAt":"2026-07-26T00:00:00"})")
                                    << "26/07/2026 00:00 - 0 files";
        QTest::newRow("American") << "en_US" << three << "12/5/26 2:03 PM - 3 files";
        QTest::newRow("German") << "de_DE" << three << "05.12.26 14:03 - 3 Dateien";
        QTest::newRow("German, one file") << "de_DE" << one << "31.01.27 09:30 - 1 Datei";
        QTest::newRow("unopenable: the file name") << "en_GB" << QByteArray() << "undo-20261205-140309.json";
    }

    // In the user's language: the date as the locale writes it, the count with its plural.
    void describeManifest()
    {
        QFETCH(QString, locale);
        QFETCH(QByteArray, content);
        QFETCH(QString, label);
        rvw::Translations::install(QLocale(locale));
        const auto back = qScopeGuard([] { rvw::Translations::install(QLocale::c()); });
        const QString path = work(QStringLiteral("undo-20261205-140309.json"));
        if (!content.isNull())
            QVERIFY(writeBytes(path, content));
        QCOMPARE(ActionRunner::describeManifest(path), label);
    }

    void manifestListing()
    {
        const QDir dir(ActionRunner::manifestDirectory());
        for (const char *name :
             {"undo-20261205-100000.json", "undo-20261206-090000.json", "undo-20261206-090000_002.json",
              "undo-20261206-090000_010.json", "other.json", "undo-20261206-090000.json.bak"})
            QVERIFY(writeBytes(dir.filePath(QLatin1String(name)), "{}"));
        QVERIFY(dir.mkpath(QStringLiteral("undo-20270101-000000.json")));
        QCOMPARE(ActionRunner::manifests(), (QStringList{dir.filePath("undo-20261206-090000_010.json"),
                                                         dir.filePath("undo-20261206-090000_002.json"),
                                                         dir.filePath("undo-20261206-090000.json"),
                                                         dir.filePath("undo-20261205-100000.json")}));
    }
};

QTEST_MAIN(TestActionRunner)
#include "tst_actionrunner.moc"

#include "app/Translations.h"
#include "cleanup/ActionRunner.h"
#include "cleanup/FileOps.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <memory>

using rvw::ActionRunner;
using Op = rvw::FileOps::Op;

class TestActionRunner : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    std::unique_ptr<QTemporaryDir> m_work;
    QHash<QByteArray, QString> m_origin; // content hash -> where the file was made

    static QByteArray sha(const QByteArray &bytes) { return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256); }
    static QByteArray readFile(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    static bool writeBytes(const QString &path, const QByteArray &bytes)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
    }
    static QJsonObject manifestOf(const QString &path) { return QJsonDocument::fromJson(readFile(path)).object(); }
    static QString batchOf(const ActionRunner::Result &r) { return manifestOf(r.manifestPath)["quarantineRoot"].toString(); }
    // The hook goes again however the test ends.
    static auto injectFaults(rvw::FileOps::FaultHook hook)
    {
        rvw::FileOps::setFaultHook(std::move(hook));
        return qScopeGuard([] { rvw::FileOps::setFaultHook({}); });
    }

    QString work(const QString &rel) const { return m_work->filePath(rel); }
    QString quarantine() const { return work("Q"); }

    // A file whose content tells where it was made (`origin`, by default its own place).
    QString make(const QString &rel, int size = 3000, const QString &origin = QString())
    {
        const QString name = origin.isEmpty() ? rel : origin;
        const QByteArray bytes = (name.toUtf8() + '\n').leftJustified(size, 'x', true);
        m_origin.insert(sha(bytes), name);
        return writeBytes(work(rel), bytes) ? work(rel) : QString();
    }

    QString normalise(QString text, int error = 0) const
    {
        text.replace(QString::fromLocal8Bit(std::strerror(error)), "E").replace(ActionRunner::manifestDirectory(), "U");
        text.replace(m_work->path(), "W");
        return text.replace(QRegularExpression("\\d{8}-\\d{6}(_\\d{3})?"), "B");
    }

    // Everything below the work folder and in the trash ("trash/"), sorted: each file as
    // "place<-origin" ("place" alone where it was made), each empty folder as "folder/"; then
    // the undo folder. A file twice, a left-over part, a cut copy or a stray folder shows here.
    QString state() const
    {
        QStringList out;
        const QString trash = m_home.filePath(".qttest/share/Trash/files");
        for (const QString &root : {m_work->path(), trash}) {
            QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QString path = it.next();
                const QString place = normalise(root == trash ? "trash/" + it.fileName() : path).remove(QRegularExpression("^W/"));
                const QString origin = m_origin.value(sha(readFile(path)), "?");
                if (!it.fileInfo().isDir() || QDir(path).isEmpty())
                    out << (it.fileInfo().isDir() ? place + '/' : place == origin ? place : place + "<-" + origin);
            }
        }
        out.sort();
        QStringList undo = normalise(QDir(ActionRunner::manifestDirectory()).entryList(QDir::Files | QDir::Hidden).join(' ')).split(' ');
        undo.sort();
        return out.join(' ') + " | " + undo.join(' ');
    }

    QString summary(const ActionRunner::Result &r, int error = 0) const
    {
        return normalise(QStringLiteral("%1 ok %2 B, %3 failed%4%5 [%6]")
                             .arg(QString::number(r.succeeded), QString::number(r.bytesFreed), QString::number(r.failed),
                                  r.manifestPath.isEmpty() ? "" : r.manifestComplete ? ", manifest" : ", manifest incomplete",
                                  r.cancelled ? ", cancelled" : "", r.errors.join("; ")),
                         error);
    }

private slots:
    void initTestCase()
    {
        // The trash, the documents folder and the manifests all live below this home.
        QVERIFY(m_home.isValid() && qputenv("HOME", m_home.path().toUtf8()));
        QStandardPaths::setTestModeEnabled(true);
    }

    void init()
    {
        m_work = std::make_unique<QTemporaryDir>();
        // Relative roots are below the work folder then, and a blank root would hold every file.
        QVERIFY(m_work->isValid() && QDir::setCurrent(m_work->path()));
        QDir(ActionRunner::manifestDirectory()).removeRecursively();
        QDir(m_home.filePath(".qttest/share/Trash")).removeRecursively();
    }

    void quarantineKeepsStructureAndRecordsEveryMove()
    {
        const QStringList paths{make("lib/Music/Pop/a.mp3", 5000), work("lib/Music/Pop/vanished.mp3"), make("lib/Jingles/b.flac", 700),
                                make("elsewhere/deep/c.ogg", 1100), make("lib/Music/..Odd/d.wav", 900)};
        const auto r = ActionRunner::execute(paths, ActionRunner::Quarantine, quarantine(), {work("lib/Music"), work("lib/Jingles")});
        QCOMPARE(summary(r), "4 ok 7700 B, 1 failed, manifest [W/lib/Music/Pop/vanished.mp3 no longer exists]");
        QCOMPARE(state(), "Q/B/Jingles/b.flac<-lib/Jingles/b.flac Q/B/Music/..Odd/d.wav<-lib/Music/..Odd/d.wav "
                          "Q/B/Music/Pop/a.mp3<-lib/Music/Pop/a.mp3 Q/B/c.ogg<-elsewhere/deep/c.ogg elsewhere/deep/ "
                          "lib/Jingles/ lib/Music/..Odd/ lib/Music/Pop/ | undo-B.json");
        // Where each file went and its size are what undo reads back, and are checked there.
        const QJsonObject m = manifestOf(r.manifestPath);
        QCOMPARE(normalise(QStringLiteral("%1 %2 %3 %4 %5").arg(m["manifestVersion"].toInt()).arg(m["mode"].toString(), m["quarantineRoot"].toString())
                     .arg(m["complete"].toBool()).arg(QDateTime::fromString(m["createdAt"].toString(), Qt::ISODate).isValid())), "1 Move to quarantine W/Q/B 1 1");
    }

    // Below the last folder name of the first root that holds a file, else under its bare
    // name; a name taken in the batch gets " (n)" before its suffix.
    void quarantinePlaces_data()
    {
        QTest::addColumn<QStringList>("roots");
        QTest::addColumn<QStringList>("moves"); // "file>place in the batch folder"
        QTest::newRow("first root that holds it") << QStringList{"lib/Music/Pop", "lib/Music"} << QStringList{"lib/Music/Pop/a.mp3>Pop/a.mp3"};
        QTest::newRow("list order, not depth") << QStringList{"lib/Music", "lib/Music/Pop"} << QStringList{"lib/Music/Pop/a.mp3>Music/Pop/a.mp3"};
        QTest::newRow("root with trailing slash") << QStringList{"lib/Music/"} << QStringList{"lib/Music/x/a.mp3>Music/x/a.mp3"};
        QTest::newRow("name prefix is not a parent") << QStringList{"lib/Mus"} << QStringList{"lib/Music/a.mp3>a.mp3"};
        QTest::newRow("blank root skipped") << QStringList{"", "lib/Music"} << QStringList{"lib/Music/a.mp3>Music/a.mp3"};
        QTest::newRow("name clashes") << QStringList{} << QStringList{"1/x.mp3>x.mp3", "2/x.mp3>x (2).mp3", "3/x.mp3>x (3).mp3", "1/README>README", "2/README>README (2)",
            "3/README>README (3)", "1/S.Live.mp3>S.Live.mp3", "2/S.Live.mp3>S.Live (2).mp3", "1/%2 mix.flac>%2 mix.flac", "2/%2 mix.flac>%2 mix (2).flac"};
    }

    void quarantinePlaces()
    {
        QFETCH(QStringList, roots);
        QFETCH(QStringList, moves);
        QStringList paths;
        for (const QString &move : std::as_const(moves))
            paths << make(move.section('>', 0, 0));
        const auto r = ActionRunner::execute(paths, ActionRunner::Quarantine, quarantine(), roots);
        for (const QString &move : std::as_const(moves))
            QCOMPARE(m_origin.value(sha(readFile(batchOf(r) + '/' + move.section('>', 1)))), move.section('>', 0, 0));
    }

    void collisionNamesRunOut()
    {
        // One file named 10000 times: the last finds no free name. Stopped before the first
        // move, the batch shows its plan in the manifest, at the cost of one file.
        const QStringList paths(10000, make("lib/n.mp3", 100));
        QByteArray planned;
        const auto faults = injectFaults([&](Op op, const QString &path, qint64) { planned = op == Op::Place ? readFile(path) : planned; return 0; });
        const QAtomicInt cancel(1);
        const auto r = ActionRunner::execute(paths, ActionRunner::Quarantine, quarantine(), {}, &cancel);
        const QJsonArray entries = QJsonDocument::fromJson(planned)["entries"].toArray();
        QCOMPARE(summary(r) + " / " + QString::number(entries.size()) + ' ' + normalise(entries.at(9998)["to"].toString()),
                 "0 ok 0 B, 1 failed, cancelled [Could not move W/lib/n.mp3] / 9999 W/Q/B/n (9999).mp3");
        QCOMPARE(state(), "Q/ lib/n.mp3 | ");
    }

    void batchesOfOneSecondNeverShareANameOrManifest()
    {
        // Earlier calls of this second and the next two left their manifests; the rest is no manifest.
        const QDir dir(ActionRunner::manifestDirectory());
        const QDateTime now = QDateTime::currentDateTime();
        QStringList earlier;
        for (int s = 0; s < 3; ++s) {
            earlier << dir.filePath("undo-" + now.addSecs(s).toString("yyyyMMdd-HHmmss") + ".json");
            QVERIFY(writeBytes(earlier.last(), "earlier"));
        }
        QVERIFY(writeBytes(dir.filePath("other.json"), "{}") && writeBytes(earlier.first() + ".bak", "{}") && dir.mkpath("undo-2.json"));
        const auto first = ActionRunner::execute({make("a.mp3")}, ActionRunner::Quarantine, quarantine(), {});
        QVERIFY2(batchOf(first).endsWith("_002") && first.manifestPath.endsWith("_002.json"), qPrintable(first.manifestPath));
        QCOMPARE(state(), "Q/B/a.mp3<-a.mp3 | other.json undo-B.json undo-B.json undo-B.json undo-B.json undo-B.json.bak");
        // Newest first, the later calls of a second before the first.
        const QStringList listed = ActionRunner::manifests();
        const qsizetype at = listed.indexOf(first.manifestPath);
        QVERIFY(listed.size() == 4 && listed.indexOf(earlier.at(2)) < at && at < listed.indexOf(QString(first.manifestPath).remove("_002")));
        QCOMPARE(ActionRunner::undo(first.manifestPath).succeeded, 1);
    }

    // Each row fails one file operation (the nth call of that kind on a path matching `on`)
    // while a file is quarantined; `outcome` is the result, then the state. EXDEV on the
    // plain rename makes the move a copy that is synced and verified before the original goes.
    void faults_data()
    {
        QTest::addColumn<int>("rename");
        QTest::addColumn<int>("op");
        QTest::addColumn<QString>("on"); // with no operation: a file stands there beforehand
        QTest::addColumn<int>("nth");
        QTest::addColumn<int>("error"); // no failure but at that moment -1: the original changes, -2: the copy goes bad
        QTest::addColumn<QString>("outcome");
        const QString part = "a\\.flac\\.rvw-partial";
        const QString moved = "1 ok 1052676 B, 0 failed, manifest%1 => Q/B/Music/a.flac<-lib/Music/a.flac lib/Music/ | undo-B.json";
        const QString kept = "0 ok 0 B, 1 failed [Could not move W/lib/Music/a.flac: %1] => Q/ lib/Music/a.flac | ";
        const QString noManifest = "0 ok 0 B, 1 failed [Nothing was moved: the undo manifest cannot be written (cannot write U/undo-B.json: E).] => Q/ lib/Music/a.flac | ";
        QTest::newRow("rename across devices: copy, sync, remove") << EXDEV << -1 << "" << 0 << 0 << moved.arg(" []");
        QTest::newRow("quarantine folder blocked") << 0 << -1 << "Q" << 0 << 0 << "0 ok 0 B, 1 failed [Nothing was moved: cannot create the quarantine folder W/Q.] => Q lib/Music/a.flac | ";
        QTest::newRow("target taken when renaming") << EEXIST << -1 << "" << 0 << 0 << kept.arg("W/Q/B/Music/a.flac already exists");
        QTest::newRow("write cut short after 1 MiB") << EXDEV << int(Op::Write) << part << 2 << ENOSPC << kept.arg("write error in W/Q/B/Music: E");
        QTest::newRow("copy not synced") << EXDEV << int(Op::Sync) << part << 1 << EIO << kept.arg("the copy could not be written to the disk: E");
        QTest::newRow("copy not put in place") << EXDEV << int(Op::Place) << part << 1 << EIO << kept.arg("the copy could not be put in place: E");
        QTest::newRow("folder not synced after placing") << EXDEV << int(Op::Sync) << "Q/.*/Music$" << 1 << EIO << kept.arg("the copy could not be written to the disk: E");
        QTest::newRow("folder sync not supported: as durable as it gets") << EXDEV << int(Op::Sync) << "Q/.*/Music$" << 1 << EINVAL << moved.arg(" []");
        QTest::newRow("original not removable") << EXDEV << int(Op::Remove) << "lib/Music/a\\.flac$" << 1 << EACCES << kept.arg("cannot remove W/lib/Music/a.flac: E");
        QTest::newRow("copy reads back wrong") << EXDEV << int(Op::Sync) << part << 1 << -2 << kept.arg("the copy read back differs from the original");
        QTest::newRow("original changed while copied") << EXDEV << int(Op::Sync) << part << 1 << -1 << kept.arg("the file changed while it was copied");
        QTest::newRow("planned manifest cut short") << 0 << int(Op::Write) << "undo-" << 1 << ENOSPC << noManifest;
        QTest::newRow("planned manifest not synced") << 0 << int(Op::Sync) << "undo-" << 1 << EIO << noManifest;
        QTest::newRow("manifest folder not synced") << 0 << int(Op::Sync) << "/undo$" << 1 << EIO << noManifest;
        const QString incomplete = moved.arg(" incomplete [The undo manifest U/undo-B.json could not be completed (cannot write U/undo-B.json: E); it still restores every moved file.]").replace("| undo", "| undo-B.journal undo");
        QTest::newRow("final manifest not put in place") << 0 << int(Op::Place) << "undo-" << 2 << EIO << incomplete;
        // Placed but not synced: a new manifest is taken back, a replacing one has nothing to go back to.
        QTest::newRow("final manifest's folder not synced") << 0 << int(Op::Sync) << "/undo$" << 3 << EIO << incomplete;
    }

    void faults()
    {
        QFETCH(int, rename);
        QFETCH(int, op);
        QFETCH(QString, on);
        QFETCH(int, nth);
        QFETCH(int, error);
        QFETCH(QString, outcome);
        // A block and a bit: a write cut after the first block leaves a real part to clean up.
        const QString source = make("lib/Music/a.flac", (1 << 20) + 4100);
        if (op < 0 && !on.isEmpty())
            make(on, 100);
        const QDateTime old = QDateTime::currentDateTime().addDays(-400);
        QFile original(source);
        QVERIFY(original.open(QIODevice::ReadWrite) && original.setFileTime(old, QFileDevice::FileModificationTime));
        QVERIFY(original.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        int calls = 0;
        const auto faults = injectFaults([&](Op o, const QString &path, qint64) {
            if (o == Op::Rename)
                return path == source ? rename : 0;
            if (int(o) != op || !path.contains(QRegularExpression(on)) || ++calls != nth)
                return 0;
            QFile file(error == -1 ? source : path);
            if (error < 0 && file.open(QIODevice::ReadWrite))
                file.write(error == -1 ? "l" : "L"); // the same first byte again, or another
            return qMax(error, 0);
        });
        const auto r = ActionRunner::execute({source}, ActionRunner::Quarantine, quarantine(), {work("lib/Music")});
        QCOMPARE(summary(r, error) + " => " + normalise(state(), error), outcome);
        if (r.succeeded == 0)
            return;
        // A copy keeps the time and the permissions of the original.
        const QFileInfo moved(batchOf(r) + "/Music/a.flac");
        QVERIFY(moved.lastModified().toSecsSinceEpoch() == old.toSecsSinceEpoch() && moved.permissions() == (QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser | QFile::ReadGroup));
        if (!r.manifestComplete && op == int(Op::Place)) // the planned manifest stayed
            QVERIFY(ActionRunner::describeManifest(r.manifestPath).contains(QRegularExpression(" 1 file.*, interrupted$")));
        // Back the same way; an unfinished manifest restores as well.
        const auto back = injectFaults([rename](Op o, const QString &, qint64) { return o == Op::Rename ? rename : 0; });
        const QString undone = summary(ActionRunner::undo(r.manifestPath));
        QCOMPARE(undone + " => " + state(), "1 ok 0 B, 0 failed [] => Q/B/Music/ lib/Music/a.flac | ");
    }

    // Some file systems lack the rename that never replaces, some hard links too (exFAT, some
    // network shares): a move and its undo go by a hard link, else by a look and a rename, and a
    // file that took the place in between stays where it is.
    void withoutExclusiveRename_data()
    {
        QTest::addColumn<int>("exclusive");
        QTest::addColumn<int>("link");
        QTest::addColumn<bool>("taken");
        QTest::addColumn<QString>("outcome");
        const QString moved = "1 ok 3000 B, 0 failed, manifest [] => Q/B/a.mp3<-a.mp3 | undo-B.json";
        QTest::newRow("hard link, then unlink") << ENOSYS << 0 << false << moved;
        QTest::newRow("no hard links either: look, then rename") << ENOTSUP << EPERM << false << moved;
        QTest::newRow("no hard links, place taken in between")
            << ENOTSUP << EPERM << true << "0 ok 0 B, 1 failed [Could not move W/a.mp3: W/Q/B/a.mp3 already exists] => Q/B/a.mp3<-other a.mp3 a.mp3 | ";
        // The undo manifest goes first, the same way, so nothing moves.
        QTest::newRow("hard link failing for another reason") << ENOSYS << EIO << false << "0 ok 0 B, 1 failed [Nothing was moved: the undo manifest cannot be written (cannot write U/undo-B.json: E).] => Q/ a.mp3 | ";
    }

    void withoutExclusiveRename()
    {
        QFETCH(int, exclusive);
        QFETCH(int, link);
        QFETCH(bool, taken);
        QFETCH(QString, outcome);
        const QString a = make("a.mp3");
        const auto faults = injectFaults([&](Op o, const QString &path, qint64) {
            if (taken && o == Op::Link && path.endsWith("/a.mp3"))
                make(QDir(m_work->path()).relativeFilePath(path), 100, "other a.mp3");
            return o == Op::Exclusive ? exclusive : o == Op::Link ? link : 0;
        });
        const auto r = ActionRunner::execute({a}, ActionRunner::Quarantine, quarantine(), {});
        QCOMPARE(summary(r, link) + " => " + normalise(state(), link), outcome);
        if (r.succeeded == 0)
            return;
        const QString undone = summary(ActionRunner::undo(r.manifestPath));
        QCOMPARE(undone + " => " + state(), "1 ok 0 B, 0 failed [] => Q/B/ a.mp3 | ");
    }

    // The manifest is on disk with every planned move before the first file moves, and holds
    // the moves made once the batch is stopped part way; so does a stopped undo.
    void stoppedBatchAndStoppedUndo()
    {
        const QStringList paths{make("a.mp3"), make("b.mp3"), make("c.mp3")};
        QAtomicInt cancel;
        QJsonObject seen; // the manifest as the first file moves
        const auto faults = injectFaults([&](Op o, const QString &, qint64) { seen = o == Op::Rename && seen.isEmpty() ? manifestOf(ActionRunner::manifests().value(0)) : seen; return 0; });
        QStringList told;
        // Stops before the last file, whatever the call.
        const auto tell = [&](int done, int total) {
            told << QStringLiteral("%1/%2").arg(done).arg(total);
            cancel.storeRelaxed(done == total - 1);
        };
        const auto r = ActionRunner::execute(paths, ActionRunner::Quarantine, quarantine(), {}, &cancel, tell);
        QCOMPARE(QStringLiteral("%1 planned, complete %2 / ").arg(seen["entries"].toArray().size()).arg(seen["complete"].toBool(true)) + summary(r),
                 "3 planned, complete 0 / 2 ok 6000 B, 0 failed, manifest, cancelled []");
        QCOMPARE(state(), "Q/B/a.mp3<-a.mp3 Q/B/b.mp3<-b.mp3 c.mp3 | undo-B.json");
        const QString stopped = summary(ActionRunner::undo(r.manifestPath, nullptr, &cancel, tell));
        QCOMPARE(stopped + " / " + told.join(' '), "1 ok 0 B, 0 failed, cancelled [] / 0/3 1/3 2/3 0/2 1/2");
        QCOMPARE(state(), "Q/B/b.mp3<-b.mp3 a.mp3 c.mp3 | undo-B.json");
        QCOMPARE(summary(ActionRunner::undo(r.manifestPath)), "2 ok 0 B, 0 failed []");
        QCOMPARE(state(), "Q/B/ a.mp3 b.mp3 c.mp3 | ");
    }

    void removeModes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("error"); // of every unlink
        QTest::addColumn<QString>("outcome");
        const QString refused = "Could not delete W/%1.mp3: cannot remove W/%1.mp3: E";
        QTest::newRow("recycle bin") << 1 << 0 << "Move to recycle bin: 2 ok 300 B, 1 failed [W/a.mp3 no longer exists] => trash/a.mp3<-a.mp3 trash/b.mp3<-b.mp3 |  / 0/3 1/3 2/3 3/3";
        QTest::newRow("delete, stopped before the last file") << 2 << 0 << "Delete permanently: 1 ok 100 B, 1 failed, cancelled [W/a.mp3 no longer exists] => b.mp3 |  / 0/3 1/3 2/3";
        QTest::newRow("delete refused") << 2 << EACCES << "Delete permanently: 0 ok 0 B, 3 failed [" + refused.arg("a") + "; " + refused.arg("a") + "; " + refused.arg("b") + "] => a.mp3 b.mp3 |  / 0/3 1/3 2/3 3/3";
        QTest::newRow("unknown mode") << 3 << 0 << ": 0 ok 0 B, 3 failed [Could not move W/a.mp3; Could not move W/a.mp3; Could not move W/b.mp3] => a.mp3 b.mp3 |  / 0/3 1/3 2/3 3/3";
    }

    void removeModes()
    {
        QFETCH(int, mode);
        QFETCH(int, error);
        QFETCH(QString, outcome);
        const QString a = make("a.mp3", 100);
        const auto faults = injectFaults([error](Op o, const QString &, qint64) { return o == Op::Remove ? error : 0; });
        QStringList told;
        QAtomicInt cancel;
        const auto tell = [&](int done, int total) { told << QStringLiteral("%1/%2").arg(done).arg(total); cancel.storeRelaxed(mode == 2 && !error && done == 2); };
        const auto r = ActionRunner::execute({a, a, make("b.mp3", 200)}, ActionRunner::Mode(mode), quarantine(), {}, &cancel, tell);
        QCOMPARE(ActionRunner::modeName(ActionRunner::Mode(mode)) + ": " + summary(r, error) + " => " + state() + " / " + told.join(' '), outcome);
    }

    void undoRestoresWhatItCanAndKeepsTheManifestForTheRest()
    {
        const QStringList paths{make("lib/a.mp3"), make("lib/b.mp3"), make("lib/c.mp3"), make("lib/x/d.mp3")};
        const auto done = ActionRunner::execute(paths, ActionRunner::Quarantine, quarantine(), {work("lib")});
        const QString batch = QDir(m_work->path()).relativeFilePath(batchOf(done));
        // a's place is taken by a new file; c's quarantined copy is gone; b was put back by hand
        // and another file took its quarantine place; d's folder went.
        make("lib/a.mp3", 777, "new a");
        QVERIFY(QFile::remove(work(batch + "/lib/c.mp3")));
        QVERIFY(QFile::rename(work(batch + "/lib/b.mp3"), paths.at(1)));
        make(batch + "/lib/b.mp3", 3000, "other b");
        QVERIFY(QDir(work("lib/x")).removeRecursively());
        QString error;
        const QString first = summary(ActionRunner::undo(done.manifestPath, &error));
        QCOMPARE(first + error, "2 ok 0 B, 2 failed [A file already exists at W/lib/a.mp3; Quarantined copy missing: W/Q/B/lib/c.mp3]");
        QCOMPARE(state(), "Q/B/lib/a.mp3<-lib/a.mp3 Q/B/lib/b.mp3<-other b Q/B/lib/x/ lib/a.mp3<-new a lib/b.mp3 lib/x/d.mp3 | undo-B.json");
        // With a's place cleared a second attempt restores it; b and d, back already, count.
        QVERIFY(QFile::rename(paths.at(0), work("new-a.mp3")));
        QCOMPARE(summary(ActionRunner::undo(done.manifestPath)), "3 ok 0 B, 1 failed [Quarantined copy missing: W/Q/B/lib/c.mp3]");
        QCOMPARE(state(), "Q/B/lib/b.mp3<-other b Q/B/lib/x/ lib/a.mp3 lib/b.mp3 lib/x/d.mp3 new-a.mp3<-new a | undo-B.json");
    }

    // A manifest is read back from disk, where anyone may have edited it: each entry that
    // points anywhere but at its own quarantined file is refused on its own and touches nothing.
    void undoRefusesForeignEntries()
    {
        const QString victim = make("victim/song.mp3");
        QStringList paths;
        for (int i = 0; i < 8; ++i)
            paths << make(QStringLiteral("lib/%1.mp3").arg(i));
        const auto done = ActionRunner::execute(paths, ActionRunner::Quarantine, quarantine(), {work("lib")});
        const QString batch = batchOf(done);
        QVERIFY(QFile::link(victim, batch + "/link.mp3"));
        const QByteArray original = readFile(done.manifestPath);
        QJsonObject manifest = manifestOf(done.manifestPath);
        QJsonArray entries = manifest["entries"].toArray();
        // The last entry stays as it was.
        const QList<QPair<QString, QJsonValue>> edits{{"to", victim}, {"to", batch + "/../../victim/song.mp3"}, {"to", batch + "/link.mp3"},
            {"to", batch + "/lib"}, {"size", 1}, {"from", "lib/5.mp3"}, {"from", work("lib/../lib/6.mp3")}};
        for (int i = 0; i < edits.size(); ++i) {
            QJsonObject entry = entries[i].toObject();
            entry.insert(edits[i].first, edits[i].second);
            entries[i] = entry;
        }
        manifest.insert("entries", entries);
        QVERIFY(writeBytes(done.manifestPath, QJsonDocument(manifest).toJson()));
        QCOMPARE(summary(ActionRunner::undo(done.manifestPath)),
                 "1 ok 0 B, 7 failed [Refused to restore W/victim/song.mp3: it is not inside the clean-up's quarantine folder; "
                 "Refused to restore W/Q/B/../../victim/song.mp3: it is not inside the clean-up's quarantine folder; Refused to "
                 "restore W/Q/B/link.mp3: it is not inside the clean-up's quarantine folder; Refused to restore W/Q/B/lib: it is not "
                 "a regular file; Refused to restore W/Q/B/lib/4.mp3: its size changed since the clean-up; Refused to restore "
                 "lib/5.mp3: the original place is not a plain absolute path; Refused to restore W/lib/../lib/6.mp3: the original "
                 "place is not a plain absolute path]");
        // The batch folder rewritten, or written relative to wherever the program happens to
        // run: every entry is foreign now.
        manifest = QJsonDocument::fromJson(original).object();
        for (const QString &root : {m_work->path(), QDir(m_work->path()).relativeFilePath(batch)}) {
            manifest.insert("quarantineRoot", root);
            QVERIFY(writeBytes(done.manifestPath, QJsonDocument(manifest).toJson()));
            QCOMPARE(summary(ActionRunner::undo(done.manifestPath)).count("not inside the clean-up's quarantine folder"), 8);
        }
        QVERIFY(writeBytes(done.manifestPath, original));
        QCOMPARE(summary(ActionRunner::undo(done.manifestPath)), "8 ok 0 B, 0 failed []");
        QCOMPARE(state(), "Q/B/lib/ Q/B/link.mp3<-victim/song.mp3 lib/0.mp3 lib/1.mp3 lib/2.mp3 lib/3.mp3 lib/4.mp3 lib/5.mp3 "
                          "lib/6.mp3 lib/7.mp3 victim/song.mp3 | ");
    }

    void unusableManifestsAndLabels()
    {
        QString error;
        QCOMPARE(summary(ActionRunner::undo(work("undo-1.json"), &error)), "0 ok 0 B, 0 failed []");
        QVERIFY2(error.startsWith("Cannot read manifest: ") && error.size() > 22, qPrintable(error));
        ActionRunner::undo(work("undo-1.json")); // no error to fill
        QCOMPARE(ActionRunner::describeManifest(work("undo-1.json")), "undo-1.json");
        // Entries without both places count neither way; a manifest of only those is done and goes.
        QVERIFY(writeBytes(work("skips.json"), R"({"entries":[{"from":"","to":"/x"},{"to":"/x"},7,{"from":3,"to":"/y"}]})"));
        QCOMPARE(summary(ActionRunner::undo(work("skips.json"))), "0 ok 0 B, 0 failed []");
        // A damaged manifest is the only record of where its files went: it stays.
        QVERIFY(writeBytes(work("damaged.json"), R"({"entries":[{"from":"/a","to":"/b"})"));
        error.clear();
        QCOMPARE(summary(ActionRunner::undo(work("damaged.json"), &error)), "0 ok 0 B, 0 failed []");
        QVERIFY2(error.contains("damaged"), qPrintable(error));
        QCOMPARE(state(), "damaged.json<-? | ");
        QCOMPARE(ActionRunner::defaultQuarantineRoot(), QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + "/Ravelwick Quarantine");
        // Labels: the date as the user's locale writes it, the count with its plural.
        const auto back = qScopeGuard([] { rvw::Translations::install(QLocale::c()); });
        QVERIFY(writeBytes(work("undo-1.json"), R"({"createdAt":"2026-12-05T14:03:09","entries":[{},{},{}]})"));
        QVERIFY(writeBytes(work("undo-2.json"), R"({"createdAt":"2027-01-31T09:30:00","entries":[{}]})"));
        rvw::Translations::install(QLocale("de_DE"));
        QCOMPARE(ActionRunner::describeManifest(work("undo-1.json")) + " | " + ActionRunner::describeManifest(work("undo-2.json")),
                 "05.12.26 14:03 - 3 Dateien | 31.01.27 09:30 - 1 Datei");
    }
};

QTEST_MAIN(TestActionRunner)
#include "tst_actionrunner.moc"

#include "cleanup/RemovalGuard.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using rvw::RemovalGuard;

class TestRemovalGuard : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid() && QDir().mkpath(m_dir.filePath("sub")));
        for (const char *name : {"a.mp3", "b.mp3", "c.mp3", "d.mp3"}) {
            QFile file(m_dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(1000 * (name[0] - 'a' + 1), 'x')) > 0);
        }
        QVERIFY(QFile::link(m_dir.filePath("a.mp3"), m_dir.filePath("link-to-a.mp3")));
        QCOMPARE(::link(QFile::encodeName(m_dir.filePath("a.mp3")).constData(), QFile::encodeName(m_dir.filePath("hard-a.mp3")).constData()), 0);
    }

    // A group is "file,file,...": "-" before a name marks a copy to remove, "!" after it a copy
    // whose scanned size no longer matches the disk, "?" one of unknown size. The caller's check
    // rejects the file named `vetoed`. a.mp3 to d.mp3 hold 1000 to 4000 bytes. The outcome is
    // "removals bytes refused-groups notes".
    void plan_data()
    {
        QTest::addColumn<QStringList>("groups");
        QTest::addColumn<QString>("vetoed");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("keeper on disk") << QStringList{"a.mp3,-b.mp3"} << "" << "b.mp3 2000 QList() 0";
        QTest::newRow("every copy ticked") << QStringList{"-a.mp3,-b.mp3", "c.mp3,-d.mp3"} << "" << "d.mp3 4000 QList(0) 1";
        QTest::newRow("keeper gone since the scan") << QStringList{"gone.mp3,-b.mp3"} << "" << "0 QList(0) 1";
        QTest::newRow("keeper changed size") << QStringList{"a.mp3!,-b.mp3"} << "" << "0 QList(0) 1";
        QTest::newRow("keeper of unknown size") << QStringList{"a.mp3?,-b.mp3"} << "" << "b.mp3 2000 QList() 0";
        QTest::newRow("one intact keeper is enough") << QStringList{"gone.mp3,a.mp3,-b.mp3"} << "" << "b.mp3 2000 QList() 0";
        QTest::newRow("nothing to remove") << QStringList{"gone.mp3", "a.mp3,b.mp3"} << "" << "0 QList() 0";
        QTest::newRow("groups keep each other's removals") << QStringList{"a.mp3,-b.mp3", "b.mp3,-a.mp3"} << "" << "0 QList() 2";
        QTest::newRow("keeper named again through ..") << QStringList{"a.mp3,-b.mp3", "c.mp3,-sub/../a.mp3"} << "" << "b.mp3 2000 QList() 1";
        QTest::newRow("keeper named again through a link") << QStringList{"a.mp3,-b.mp3", "c.mp3,-link-to-a.mp3"} << "" << "b.mp3 2000 QList() 1";
        QTest::newRow("keeper named again through a hard link") << QStringList{"a.mp3,-b.mp3", "c.mp3,-hard-a.mp3"} << "" << "b.mp3 2000 QList() 1";
        QTest::newRow("removal listed twice") << QStringList{"a.mp3,-b.mp3,-c.mp3", "d.mp3,-b.mp3,-sub/../c.mp3"} << "" << "b.mp3,c.mp3 5000 QList() 0";
        QTest::newRow("caller's check vetoes a removal") << QStringList{"a.mp3,-b.mp3,-c.mp3"} << "c.mp3" << "b.mp3 2000 QList() 1";
        QTest::newRow("caller's check vetoes the keeper") << QStringList{"a.mp3,-b.mp3"} << "a.mp3" << "0 QList(0) 1";
    }

    void plan()
    {
        QFETCH(QStringList, groups);
        QFETCH(QString, vetoed);
        QFETCH(QString, outcome);
        QList<RemovalGuard::Group> input;
        for (const QString &group : std::as_const(groups)) {
            input.append(RemovalGuard::Group{int(input.size()) + 1, {}});
            for (QString name : group.split(',')) {
                const bool keep = !name.startsWith('-'), resized = name.endsWith('!'), unknown = name.endsWith('?');
                const QFileInfo info(m_dir.filePath(name.remove(QRegularExpression("^-|[!?]$"))));
                input.last().files.append(RemovalGuard::File{info.filePath(), keep, unknown ? -1 : info.isFile() ? info.size() + resized : 1000});
            }
        }
        const auto check = [&vetoed](const RemovalGuard::File &file, QString &) { return !file.path.endsWith('/' + vetoed); };
        const RemovalGuard::Plan plan = RemovalGuard::plan(input, vetoed.isEmpty() ? RemovalGuard::Check() : check);
        QString result;
        QDebug(&result).noquote() << plan.paths.join(',').remove(m_dir.path() + '/') << plan.bytes << plan.refused << plan.notes.size();
        QCOMPARE(result.trimmed(), outcome);
    }
};

QTEST_GUILESS_MAIN(TestRemovalGuard)
#include "tst_removalguard.moc"

#include "cleanup/RemovalGuard.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using rvw::RemovalGuard;

class TestRemovalGuard : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString path(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir().mkpath(path("lib/sub")));
        for (const char *name : {"lib/a.mp3", "lib/b.mp3", "lib/c.mp3", "lib/d.mp3"}) {
            QFile file(path(QLatin1String(name)));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(1000, 'x') + name);
        }
        QVERIFY(QFile::link(path("lib/a.mp3"), path("lib/link-to-a.mp3")));
        QVERIFY(QDir().mkpath(path("lib/folder.mp3")));
    }

    // Each group is "file[,file...]" where a leading "-" marks a copy to remove and a
    // trailing "!" a copy whose scanned size no longer matches the disk.
    void plan_data()
    {
        QTest::addColumn<QStringList>("groups");
        QTest::addColumn<QStringList>("removed");
        QTest::addColumn<QList<int>>("refused");
        QTest::newRow("keeper on disk") << QStringList{"a.mp3,-b.mp3"} << QStringList{"b.mp3"} << QList<int>{};
        QTest::newRow("every copy ticked") << QStringList{"-a.mp3,-b.mp3", "c.mp3,-d.mp3"}
                                           << QStringList{"d.mp3"} << QList<int>{0};
        QTest::newRow("keeper gone since the scan") << QStringList{"gone.mp3,-b.mp3"} << QStringList{}
                                                    << QList<int>{0};
        QTest::newRow("keeper changed size") << QStringList{"a.mp3!,-b.mp3"} << QStringList{} << QList<int>{0};
        QTest::newRow("keeper is now a folder") << QStringList{"folder.mp3,-b.mp3"} << QStringList{}
                                                << QList<int>{0};
        QTest::newRow("one intact keeper is enough") << QStringList{"gone.mp3,a.mp3,-b.mp3"}
                                                     << QStringList{"b.mp3"} << QList<int>{};
        QTest::newRow("groups keep each other's removals")
            << QStringList{"a.mp3,-b.mp3", "b.mp3,-a.mp3"} << QStringList{} << QList<int>{};
        QTest::newRow("keeper named again through ..")
            << QStringList{"a.mp3,-b.mp3", "c.mp3,-sub/../a.mp3"} << QStringList{"b.mp3"} << QList<int>{};
        QTest::newRow("keeper named again through a link")
            << QStringList{"a.mp3,-b.mp3", "c.mp3,-link-to-a.mp3"} << QStringList{"b.mp3"} << QList<int>{};
        QTest::newRow("removal listed twice") << QStringList{"a.mp3,-b.mp3", "c.mp3,-b.mp3,-sub/../b.mp3"}
                                              << QStringList{"b.mp3"} << QList<int>{};
    }

    void plan()
    {
        QFETCH(QStringList, groups);
        QFETCH(QStringList, removed);
        QFETCH(QList<int>, refused);
        QList<RemovalGuard::Group> input;
        for (int g = 0; g < groups.size(); ++g) {
            RemovalGuard::Group group;
            group.id = g + 1;
            for (QString name : groups.at(g).split(QLatin1Char(','))) {
                RemovalGuard::File file;
                file.keep = !name.startsWith(QLatin1Char('-'));
                const bool resized = name.endsWith(QLatin1Char('!'));
                name = name.mid(file.keep ? 0 : 1);
                name.chop(resized ? 1 : 0);
                file.path = path(QStringLiteral("lib/") + name);
                file.size = QFileInfo(file.path).isFile() ? QFileInfo(file.path).size() + (resized ? 1 : 0) : 1000;
                group.files.append(file);
            }
            input.append(group);
        }
        const RemovalGuard::Plan plan = RemovalGuard::plan(input);
        QStringList names;
        for (const QString &p : plan.paths)
            names << QDir(path("lib")).relativeFilePath(QDir::cleanPath(p));
        QCOMPARE(names, removed);
        QCOMPARE(plan.refused, refused);
    }

    void callersCheckVetoesKeepersAndRemovals()
    {
        const RemovalGuard::Group group{1, {{path("lib/a.mp3"), true, -1}, {path("lib/b.mp3"), false, -1},
                                           {path("lib/c.mp3"), false, -1}}};
        const auto notC = [](const RemovalGuard::File &f, QString &why) {
            why = QStringLiteral("%1 changed").arg(f.path);
            return !f.path.endsWith(QLatin1String("c.mp3"));
        };
        RemovalGuard::Plan plan = RemovalGuard::plan({group}, notC);
        QCOMPARE(plan.paths, QStringList{path("lib/b.mp3")});
        QCOMPARE(plan.notes, QStringList{path("lib/c.mp3") + QStringLiteral(" changed; skipped")});

        const auto notA = [](const RemovalGuard::File &f, QString &) { return !f.path.endsWith(QLatin1String("a.mp3")); };
        plan = RemovalGuard::plan({group}, notA);
        QVERIFY(plan.paths.isEmpty());
        QCOMPARE(plan.refused, QList<int>{0});
    }
};

QTEST_GUILESS_MAIN(TestRemovalGuard)
#include "tst_removalguard.moc"

#include "app/AppInfo.h"
#include "app/CommandLine.h"
#include "ui/MainWindow.h"

#include <QCommandLineParser>
#include <QFile>
#include <QProcess>
#include <QtTest>

using namespace rvw;

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
};

Run runProgram(const QStringList &args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("QT_QPA_PLATFORM"); // help and version must not need a display
    env.remove("DISPLAY");
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(RVW_APP_BINARY), args);
    Run r;
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished(1000);
        return r;
    }
    r.exitCode = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    return r;
}

} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QCoreApplication::setApplicationName(AppInfo::applicationName());
        QCoreApplication::setApplicationVersion(AppInfo::versionString());
    }

    void versionOutput()
    {
        const Run r = runProgram({"--version"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out.trimmed(), QStringLiteral("Ravelwick 1.0.0"));
    }

    void helpOutput()
    {
        const Run r = runProgram({"--help"});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.contains("Ravelwick - find duplicate music in a station library."), qPrintable(r.out));
        QVERIFY(r.out.contains("-s, --scan <folder>"));
        QVERIFY(r.out.contains("Add <folder> to the scan list on startup."));
        QVERIFY(r.out.contains("-a, --autostart"));
        QVERIFY(r.out.contains("Begin scanning immediately."));
        QVERIFY(r.out.contains("--version"));
    }

    void unknownOptionFails()
    {
        QProcess p;
        p.start(QStringLiteral(RVW_APP_BINARY), {"--no-such-option"});
        QVERIFY(p.waitForFinished(30000));
        QVERIFY(p.exitCode() != 0);
        QVERIFY(QString::fromUtf8(p.readAllStandardError()).contains("no-such-option"));
    }

    void requests_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<bool>("autostart");
        QTest::newRow("none") << QStringList{} << QStringList{} << false;
        QTest::newRow("two in order") << QStringList{"-s", "D:/Music", "--scan", "E:/Jingles", "-a"}
                                      << QStringList{"D:/Music", "E:/Jingles"} << true;
        QTest::newRow("order kept") << QStringList{"--scan=/b", "--autostart", "--scan=/a"}
                                    << QStringList{"/b", "/a"} << true;
        QTest::newRow("autostart alone") << QStringList{"-a"} << QStringList{} << true;
        QTest::newRow("folders as arguments") << QStringList{"/srv/music", "/srv/jingles"}
                                              << QStringList{"/srv/music", "/srv/jingles"} << false;
        QTest::newRow("options before arguments") << QStringList{"/a", "-s", "/b", "-a"}
                                                  << QStringList{"/b", "/a"} << true;
    }
    void requests()
    {
        QFETCH(QStringList, args);
        QFETCH(QStringList, folders);
        QFETCH(bool, autostart);
        QCommandLineParser parser;
        CommandLine::configure(parser);
        QVERIFY(parser.parse(QStringList{"ravelwick"} + args));
        const StartupRequest r = CommandLine::request(parser);
        QCOMPARE(r.scanFolders, folders);
        QCOMPARE(r.autostart, autostart);
    }

    void foldersReachTheWindowInOrder()
    {
        QCommandLineParser parser;
        CommandLine::configure(parser);
        // The window only lists folders that exist.
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath("music") && QDir(root.path()).mkpath("jingles"));
        const QStringList folders{root.filePath("music"), root.filePath("jingles")};
        QVERIFY(parser.parse({"ravelwick", "-s", folders[0], "-s", folders[1]}));
        MainWindow window;
        for (const QString &f : CommandLine::request(parser).scanFolders)
            window.addScanFolder(f);
        QCOMPARE(window.scanFolders(), folders);
    }

    void styleSheetResource()
    {
        QFile f(":/style/app.qss");
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QCOMPARE(bytes.size(), 498);
        const QString text = QString::fromUtf8(bytes).remove(QChar(0xFEFF));
        const QStringList lines = text.split(QRegularExpression("\\r?\\n"), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 8);
        QCOMPARE(lines[0], QStringLiteral("/* Ravelwick - shared Tessaline suite styling */"));
        const QStringList selectors{"QToolBar",   "QToolButton", "QTreeView",       "QTreeView::item",
                                    "QStatusBar", "QGroupBox",   "QGroupBox::title"};
        for (int i = 0; i < selectors.size(); ++i) {
            const QString &line = lines[i + 1];
            QCOMPARE(line.left(20).trimmed(), selectors[i]);
            QCOMPARE(line.at(20), QChar('{'));
            QVERIFY(line.endsWith('}'));
        }
        QVERIFY(lines[6].contains("font-weight: 600; margin-top: 10px; padding-top: 8px;"));
    }

    void imageResources()
    {
        const QImage icon(":/icons/appicon.png");
        QCOMPARE(icon.size(), QSize(256, 256));
        QVERIFY(icon.hasAlphaChannel());
        const QImage logo(":/icons/logo.png");
        QCOMPARE(logo.size(), QSize(520, 173));
        QVERIFY(logo.hasAlphaChannel());
    }
};

QTEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"

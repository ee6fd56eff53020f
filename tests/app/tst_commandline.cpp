#include "app/CommandLine.h"
#include "ui/MainWindow.h"

#include <QtTest>
#include <QtWidgets>

#include <cstdio>

// The program's own start, run in a child copy of this test so that the window it opens can be
// looked at from inside.
#define main ravelwickMain
#include "app/main.cpp"
#undef main

using namespace rvw;

namespace {

const char kAsProgram[] = "RVW_TEST_RUN_PROGRAM";

// In the child: once the window is shown, print what it was given and end the program.
void reportTheWindow()
{
    if (!qEnvironmentVariableIsSet(kAsProgram))
        return;
    // The text-only start makes a QCoreApplication, so qApp (a QApplication) is not used here.
    auto *poll = new QTimer(QCoreApplication::instance());
    QObject::connect(poll, &QTimer::timeout, QCoreApplication::instance(), [] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *window = qobject_cast<MainWindow *>(w); window && window->isVisible()) {
                std::printf("window %s sheet:%s icon:%d\n", qPrintable(window->scanFolders().join(',')),
                            qPrintable(qApp->styleSheet().left(2)), !QApplication::windowIcon().isNull());
                QCoreApplication::quit();
            }
        }
    });
    poll->start(10);
}
Q_COREAPP_STARTUP_FUNCTION(reportTheWindow)

} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT
    QTemporaryDir m_home;

private slots:
    void requests_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("request"); // the folders in order, and whether the scan starts
        // clang-format off
        QTest::addRow("options in order") << QStringList{"-s", "/m", "--scan=/j", "-a"} << "/m,/j autostart";
        QTest::addRow("arguments after options") << QStringList{"/a", "-s", "/b", "--autostart"} << "/b,/a autostart";
        QTest::addRow("arguments only") << QStringList{"/a", "/b"} << "/a,/b";
        // clang-format on
    }
    void requests()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, request);
        QCommandLineParser parser;
        CommandLine::configure(parser);
        QVERIFY(parser.parse(QStringList{"ravelwick"} + args));
        const StartupRequest r = CommandLine::request(parser);
        QCOMPARE(r.scanFolders.join(',') + (r.autostart ? " autostart" : ""), request);
    }

    // Help and version need no window system; everything else opens the window, which does.
    void program_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("env"); // without QT_QPA_PLATFORM there is no window system at all
        QTest::addColumn<int>("code");    // -1: the program crashed
        QTest::addColumn<QString>("output");
        // clang-format off
        QTest::addRow("version") << QStringList{"--version"} << "" << 0 << "Ravelwick 1.0.0\n";
        QTest::addRow("help") << QStringList{"-h"} << "" << 0 << "-s, --scan <folder>  Add <folder> to the scan list on startup.";
        QTest::addRow("help in German") << QStringList{"--help"} << "LANG=de_DE.UTF-8" << 0 << "findet doppelte Musik";
        QTest::addRow("unknown option") << QStringList{"--no-such-option"} << "QT_QPA_PLATFORM=offscreen" << 1 << "no-such-option";
        QTest::addRow("a window needs a display") << QStringList{"-s", "/"} << "" << -1 << "platform plugin";
        QTest::addRow("window") << QStringList{"-s", "@a", "@b"} << "QT_QPA_PLATFORM=offscreen" << 0 << "window @a,@b sheet:/* icon:1\n";
        // clang-format on
    }
    void program()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, env);
        QFETCH(int, code);
        QFETCH(QString, output);
        QVERIFY(QDir(m_home.path()).mkpath("a") && QDir(m_home.path()).mkpath("b"));
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        for (const char *name :
             {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "LANGUAGE", "LC_ALL", "LC_MESSAGES"})
            e.remove(name);
        const QString vars =
            "LANG=C.UTF-8 HOME=@ XDG_CONFIG_HOME=@ XDG_DATA_HOME=@ XDG_CACHE_HOME=@ %1=1 " + env;
        for (const QString &pair : vars.arg(kAsProgram).split(' ', Qt::SkipEmptyParts))
            e.insert(pair.section('=', 0, 0), pair.section('=', 1).replace("@", m_home.path()));
        QProcess p;
        p.setProcessEnvironment(e);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QCoreApplication::applicationFilePath(), args.replaceInStrings("@", m_home.path() + '/'));
        QVERIFY(p.waitForFinished(30000));
        const QString out = QString::fromLocal8Bit(p.readAll());
        QCOMPARE(p.exitStatus() == QProcess::CrashExit ? -1 : p.exitCode(), code);
        QVERIFY2(out.contains(output.replace("@", m_home.path() + '/')), qPrintable(out));
    }
};

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsSet(kAsProgram))
        return ravelwickMain(argc, argv);
    QApplication app(argc, argv);
    TestCommandLine test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_commandline.moc"

// The window as a user whose system speaks German sees it: the program's catalogue and Qt's
// are found for the system locale at start, every menu and command reads German with its own
// Alt letters, counts take the German plural and dates the German order.
#include "app/Translations.h"
#include "cleanup/ActionRunner.h"
#include "ui/MainWindow.h"
#include "ui/Mnemonics.h"

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace rvw;

namespace {

// Every menu title and command of a fresh window, in menu order.
QStringList commandTexts()
{
    MainWindow w;
    QStringList texts;
    for (QAction *menu : w.menuBar()->actions()) {
        texts << menu->text();
        texts << rvwtest::menuTexts(menu->menu());
    }
    return texts;
}

} // namespace

class tst_Translations : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("RavelwickTests"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_translations"));
    }

    void germanSystemLocale()
    {
        QCOMPARE(QLocale::system().language(), QLocale::German);
        const QStringList loaded = Translations::install(QLocale::system());
        if (!loaded.contains(QStringLiteral("qt_de")))
            QSKIP("Qt's own German catalogue is not installed (Debian: qt6-translations-l10n)");
        QCOMPARE(loaded, (QStringList{"qt_de", "ravelwick_de"}));

        const QStringList german = commandTexts();
        QVERIFY(german.contains(QStringLiteral("&Datei")));
        MainWindow w;
        QStringList menuBar;
        for (QAction *menu : w.menuBar()->actions()) {
            menuBar << menu->text();
            QCOMPARE(rvwtest::mnemonicProblems(rvwtest::menuTexts(menu->menu())), QStringList());
        }
        QCOMPARE(rvwtest::mnemonicProblems(menuBar + rvwtest::keyboardTexts(&w)), QStringList());

        // Qt's standard buttons come from Qt's catalogue.
        QDialogButtonBox box(QDialogButtonBox::Cancel);
        QCOMPARE(box.button(QDialogButtonBox::Cancel)->text().remove(QLatin1Char('&')),
                 QStringLiteral("Abbrechen"));

        // No command is left in English.
        Translations::install(QLocale::c());
        const QStringList english = commandTexts();
        Translations::install(QLocale::system());
        QCOMPARE(german.size(), english.size());
        for (qsizetype i = 0; i < german.size(); ++i)
            QVERIFY2(german.at(i) != english.at(i), qPrintable(english.at(i)));
    }

    // The programs as started from a German session: the window's help is German, the command
    // line's stays English for the scripts that read it.
    void programsUnderTheGermanLocale()
    {
        const auto run = [](const char *program) {
            QProcess p;
            p.setProcessChannelMode(QProcess::MergedChannels);
            p.start(QString::fromLocal8Bit(program), {QStringLiteral("--help")});
            return p.waitForFinished(30000) ? QString::fromUtf8(p.readAll()) : QStringLiteral("did not end");
        };
        const QString window = run(RVW_APP_BINARY);
        // Ours (the description) and Qt's (the headings).
        QVERIFY2(window.contains(QStringLiteral("findet doppelte Musik")) &&
                     window.contains(QStringLiteral("Optionen:")),
                 qPrintable(window));
        const QString cli = run(RVW_CLI_BINARY);
        QVERIFY2(cli.startsWith(QStringLiteral("Usage:")), qPrintable(cli));
    }

    void germanCountsAndDates()
    {
        Translations::install(QLocale::system());
        QTemporaryDir dir;
        const QString manifest = dir.filePath(QStringLiteral("undo-20261205-140309.json"));
        QFile f(manifest);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(R"({"createdAt":"2026-12-05T14:03:09","entries":[{}]})");
        f.close();
        QCOMPARE(ActionRunner::describeManifest(manifest), QStringLiteral("05.12.26 14:03 - 1 Datei"));
    }
};

int main(int argc, char *argv[])
{
    // As the desktop session of a German user sets it, before anything reads the locale.
    qputenv("LANG", "de_DE.UTF-8");
    qputenv("LANGUAGE", "de_DE:de");
    qunsetenv("LC_ALL");
    qunsetenv("LC_MESSAGES");
    QApplication app(argc, argv);
    tst_Translations test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_translations.moc"

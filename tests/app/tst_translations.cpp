// The window as a user whose system speaks German sees it: the program's catalogue and Qt's
// are found for the system locale, every menu and command reads German with its own Alt letters.
#include "app/Translations.h"
#include "cleanup/ActionRunner.h"
#include "ui/MainWindow.h"
#include "ui/Mnemonics.h"

#include <QtTest>
#include <QtWidgets>

using namespace rvw;

class tst_Translations : public QObject
{
    Q_OBJECT

private slots:
    void germanSystemLocale()
    {
        QCOMPARE(QLocale::system().language(), QLocale::German);
        const QStringList loaded = Translations::install(QLocale::system());
        if (!loaded.contains(QStringLiteral("qt_de")))
            QSKIP("Qt's own German catalogue is not installed (Debian: qt6-translations-l10n)");
        QCOMPARE(loaded, (QStringList{"qt_de", "ravelwick_de"}));
        // Every menu title and command of a fresh window, in menu order; each menu with its own
        // Alt letters, and the menu bar's with those of the window's other controls.
        QStringList problems;
        const auto commandTexts = [&problems] {
            MainWindow w;
            QStringList texts, menuBar;
            for (QAction *menu : w.menuBar()->actions()) {
                menuBar << menu->text();
                texts << menu->text() << rvwtest::menuTexts(menu->menu());
                problems << rvwtest::mnemonicProblems(rvwtest::menuTexts(menu->menu()));
            }
            problems << rvwtest::mnemonicProblems(menuBar + rvwtest::keyboardTexts(&w));
            return texts;
        };
        const QStringList german = commandTexts();
        QCOMPARE(problems, QStringList());
        QDialogButtonBox box(QDialogButtonBox::Cancel); // from Qt's catalogue
        QVERIFY(german.contains("&Datei") &&
                box.button(QDialogButtonBox::Cancel)->text().remove('&') == "Abbrechen");
        Translations::install(QLocale::c());
        const QStringList english = commandTexts();
        QCOMPARE(german.size(), english.size());
        for (qsizetype i = 0; i < german.size(); ++i)
            QVERIFY2(german.at(i) != english.at(i), qPrintable(english.at(i) + " is left in English"));
    }

    // Counts take the plural and dates the order of the installed language, also when it is not
    // the system's.
    void countsAndDates()
    {
        QTemporaryDir dir;
        QFile f(dir.filePath(QStringLiteral("undo-20261205-140309.json")));
        QVERIFY(f.open(QIODevice::WriteOnly) &&
                f.write(R"({"createdAt":"2026-12-05T14:03:09","entries":[{}]})") > 0);
        f.close();
        QStringList texts;
        for (const QLocale &locale : {QLocale::system(), QLocale(QLocale::English, QLocale::UnitedKingdom)}) {
            Translations::install(locale);
            texts << ActionRunner::describeManifest(f.fileName());
        }
        QCOMPARE(texts, (QStringList{"05.12.26 14:03 - 1 Datei", "05/12/2026 14:03 - 1 file"}));
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
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("RavelwickTests"));
    tst_Translations test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_translations.moc"

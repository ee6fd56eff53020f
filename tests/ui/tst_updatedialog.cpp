#include "ui/Mnemonics.h"
#include "ui/UpdateDialog.h"

#include <QtTest>

using namespace rvw;

namespace {

// The dialog as one line: title|heading|summary|notes|link|buttons ("-" when it has none of a
// part; "(rich)" before a label that would read markup; "(off)" and "*" after a disabled and the
// default button).
QString shown(const UpdateDialog &d)
{
    QStringList out{d.windowTitle()};
    for (const char *name : {"heading", "summary", "notesLink"}) {
        const auto *label = d.findChild<QLabel *>(name);
        out << (!label ? "-" : (label->textFormat() == Qt::PlainText ? "" : "(rich)") + label->text());
    }
    const auto *notes = d.findChild<QPlainTextEdit *>("notes");
    out.insert(3, notes ? notes->toPlainText() : "-");
    QStringList buttons;
    for (const QPushButton *b : d.findChildren<QPushButton *>())
        buttons << b->objectName().chopped(6) + (b->isEnabled() ? "" : "(off)") + (b->isDefault() ? "*" : "");
    return out.join('|') + '|' + buttons.join(' ');
}

} // namespace

class tst_UpdateDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName("RavelwickTests");
        QCoreApplication::setApplicationName("tst_updatedialog");
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    }

    void init() { QSettings().clear(); }

    // Version, date and addresses come from the network: shown as plain text, and only web pages
    // may be opened. A critical release cannot be skipped. Only exactly year-month-day reads as a
    // date in the program's language; any other date is shown as sent.
    void states_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("critical");
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("expected");
        const QString running = "You are running version 1.0.0.",
                      link = "(rich)<a href=\"%1\">Full release notes</a>";
        const QString notes = "|Faster scans.\nFewer surprises.|", buttons = "|skip later download*";
        const QString ordinary = "Update available|Ravelwick 1.1.0 is available|" + running;
        const QString web = "https://example.invalid/notes?a=1&b=2";
        QTest::addRow("ordinary") << "1.1.0" << false << "2026-12-05" << web
                                  << ordinary + " Released Saturday, 5 December 2026." + notes +
                                         link.arg("https://example.invalid/notes?a=1&amp;b=2") + buttons;
        QTest::addRow("critical") << "2.0.0" << true << "2026-12-05T10:00" << web.left(23)
                                  << "Important update|Important update|Ravelwick 2.0.0 is available. " +
                                         running + " Released 2026-12-05T10:00." + notes +
                                         link.arg(web.left(23)) + "|later download*";
        QTest::addRow("bare") << "1.1.0" << false << "2026-02-30"
                              << "" << ordinary + " Released 2026-02-30.|-|-|skip later download(off)*";
        QTest::addRow("markup from the server")
            << "<b>9</b>" << false << "<img src=x>"
            << "HTTP://example.invalid/get"
            << "Update available|Ravelwick <b>9</b> is available|" + running + " Released <img src=x>." +
                   notes + link.arg("HTTP://example.invalid/get") + buttons;
        for (const QString url :
             {"file:///usr/bin/xterm", "steam://run/1", "https:///path", "download it soon"})
            QTest::addRow("%s", qPrintable(url))
                << "1.1.0" << false << "" << url << ordinary + notes + "-" + "|skip later download(off)*";
    }
    void states()
    {
        QFETCH(QString, version);
        QFETCH(bool, critical);
        QFETCH(QString, date);
        QFETCH(QString, url);
        QFETCH(QString, expected);
        UpdateChecker::Release r;
        r.version = version;
        r.critical = critical;
        r.releaseDate = date;
        r.downloadUrl = r.notesUrl = url;
        r.notes = url.isEmpty() ? QString() : "Faster scans.\nFewer surprises.";
        const UpdateDialog dialog(r, nullptr);
        QCOMPARE(shown(dialog), expected);
        QCOMPARE(rvwtest::mnemonicProblems(rvwtest::keyboardTexts(&dialog)), QStringList());
    }

    // Skipping remembers the version, "later" nothing; a critical release forgets a skip.
    void answers()
    {
        UpdateChecker::Release r;
        r.version = "1.2.0";
        QString skipped;
        for (const char *button : {"laterButton", "skipButton"}) {
            UpdateDialog dialog(r, nullptr);
            dialog.show();
            dialog.findChild<QPushButton *>(button)->click();
            QVERIFY(dialog.result() == QDialog::Rejected && dialog.isHidden());
            skipped += UpdateChecker::skippedVersion() + '|';
        }
        r.critical = true;
        const UpdateDialog critical(r, nullptr);
        QCOMPARE(skipped + UpdateChecker::skippedVersion(), "|1.2.0|");
    }
};

QTEST_MAIN(tst_UpdateDialog)
#include "tst_updatedialog.moc"

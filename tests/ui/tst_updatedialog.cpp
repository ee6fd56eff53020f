#include "ui/Mnemonics.h"
#include "ui/UpdateDialog.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

using namespace rvw;

namespace {

UpdateChecker::Release release(const QString &version, bool critical)
{
    UpdateChecker::Release r;
    r.version = version;
    r.critical = critical;
    r.releaseDate = QStringLiteral("2026-12-05");
    r.downloadUrl = QStringLiteral("https://example.invalid/download");
    r.notesUrl = QStringLiteral("https://example.invalid/notes?a=1&b=2");
    r.notes = QStringLiteral("Faster scans.\nFewer surprises.");
    return r;
}

QString labelText(QWidget &w, const char *name)
{
    auto *label = w.findChild<QLabel *>(QString::fromLatin1(name));
    return label ? label->text() : QStringLiteral("<missing %1>").arg(QString::fromLatin1(name));
}

} // namespace

class tst_UpdateDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("RavelwickTests"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_updatedialog"));
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    }

    void init() { QSettings().clear(); }

    void ordinaryRelease()
    {
        UpdateDialog dialog(release("1.1.0", false), nullptr);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Update available"));
        QCOMPARE(labelText(dialog, "heading"), QStringLiteral("Ravelwick 1.1.0 is available"));
        QVERIFY(dialog.findChild<QLabel *>("heading")->font().bold());
        QCOMPARE(labelText(dialog, "summary"),
                 QStringLiteral("You are running version 1.0.0. Released Saturday, 5 December 2026."));
        QCOMPARE(dialog.findChild<QPlainTextEdit *>("notes")->toPlainText(),
                 QStringLiteral("Faster scans.\nFewer surprises."));
        QCOMPARE(
            labelText(dialog, "notesLink"),
            QStringLiteral("<a href=\"https://example.invalid/notes?a=1&amp;b=2\">Full release notes</a>"));
        QVERIFY(dialog.findChild<QPushButton *>("skipButton"));
        auto *download = dialog.findChild<QPushButton *>("downloadButton");
        QVERIFY(download->isEnabled());
        QVERIFY(download->isDefault());
        QCOMPARE(rvwtest::mnemonicProblems(rvwtest::keyboardTexts(&dialog)), QStringList());
        QCOMPARE(dialog.minimumSize(), QSize(520, 360));
    }

    void criticalRelease()
    {
        UpdateChecker::setSkippedVersion("2.0.0");
        UpdateDialog dialog(release("2.0.0", true), nullptr);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Important update"));
        QCOMPARE(labelText(dialog, "heading"), QStringLiteral("Important update"));
        QCOMPARE(labelText(dialog, "summary"),
                 QStringLiteral("Ravelwick 2.0.0 is available. You are running version 1.0.0. "
                                "Released Saturday, 5 December 2026."));
        QVERIFY(!dialog.findChild<QPushButton *>("skipButton"));
        QVERIFY(UpdateChecker::skippedVersion().isEmpty());
    }

    void skipStoresTheVersion()
    {
        UpdateDialog dialog(release("1.2.0", false), nullptr);
        dialog.show();
        dialog.findChild<QPushButton *>("skipButton")->click();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(UpdateChecker::skippedVersion(), QStringLiteral("1.2.0"));
    }

    void remindLaterStoresNothing()
    {
        UpdateDialog dialog(release("1.2.0", false), nullptr);
        dialog.show();
        dialog.findChild<QPushButton *>("laterButton")->click();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(UpdateChecker::skippedVersion().isEmpty());
    }

    // Addresses come from the network: only web pages may be opened.
    void addresses_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("offered");
        QTest::newRow("https") << "https://example.invalid/get" << true;
        QTest::newRow("http, capital scheme") << "HTTP://example.invalid/get" << true;
        QTest::newRow("none") << "" << false;
        QTest::newRow("local file") << "file:///usr/bin/xterm" << false;
        QTest::newRow("custom scheme") << "steam://run/1" << false;
        QTest::newRow("no host") << "https:///path" << false;
        QTest::newRow("not an address") << "download it soon" << false;
    }
    void addresses()
    {
        QFETCH(QString, url);
        QFETCH(bool, offered);
        UpdateChecker::Release r = release("1.1.0", false);
        r.downloadUrl = url;
        r.notesUrl = url;
        UpdateDialog dialog(r, nullptr);
        QCOMPARE(dialog.findChild<QPushButton *>("downloadButton")->isEnabled(), offered);
        QCOMPARE(dialog.findChild<QLabel *>("notesLink") != nullptr, offered);
    }

    void serverTextIsNotMarkup()
    {
        UpdateChecker::Release r = release("<b>9</b>", false);
        r.releaseDate = QStringLiteral("<img src=x>");
        UpdateDialog dialog(r, nullptr);
        for (const char *name : {"heading", "summary"})
            QCOMPARE(dialog.findChild<QLabel *>(name)->textFormat(), Qt::PlainText);
        QCOMPARE(labelText(dialog, "heading"), QStringLiteral("Ravelwick <b>9</b> is available"));
    }

    void bareRelease()
    {
        UpdateChecker::Release r;
        r.version = QStringLiteral("1.0.1");
        UpdateDialog dialog(r, nullptr);
        QCOMPARE(labelText(dialog, "summary"), QStringLiteral("You are running version 1.0.0."));
        QVERIFY(!dialog.findChild<QPlainTextEdit *>("notes"));
        QVERIFY(!dialog.findChild<QLabel *>("notesLink"));
        // heading, summary and nothing else among the labels
        QCOMPARE(dialog.findChildren<QLabel *>().size(), 2);
    }

    void dates_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("iso") << "2026-12-05"
                             << "Saturday, 5 December 2026";
        QTest::newRow("single-digit month") << "2027-01-31"
                                            << "Sunday, 31 January 2027";
        QTest::newRow("not a date") << "early 2027"
                                    << "early 2027";
        QTest::newRow("impossible day") << "2026-02-30"
                                        << "2026-02-30";
        QTest::newRow("with a time") << "2026-12-05T10:00"
                                     << "2026-12-05T10:00";
        QTest::newRow("other separators") << "2026/12/05"
                                          << "2026/12/05";
    }
    void dates()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(UpdateDialog::displayDate(text), shown);
        UpdateChecker::Release r = release("1.1.0", false);
        r.releaseDate = text;
        UpdateDialog dialog(r, nullptr);
        QVERIFY(labelText(dialog, "summary").endsWith(QStringLiteral("Released %1.").arg(shown)));
    }
};

QTEST_MAIN(tst_UpdateDialog)
#include "tst_updatedialog.moc"

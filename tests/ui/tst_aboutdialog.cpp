#include "app/AppInfo.h"
#include "ui/AboutDialog.h"
#include "ui/Mnemonics.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace rvw;

class tst_AboutDialog : public QObject
{
    Q_OBJECT

private slots:
    void linksOpenAndOkAccepts()
    {
        AboutDialog dialog;
        auto *links = dialog.findChild<QLabel *>("links");
        QVERIFY(links->openExternalLinks());
        QVERIFY(links->textInteractionFlags() & Qt::LinksAccessibleByKeyboard);
        for (const QString &url : {AppInfo::authorUrl(), AppInfo::websiteUrl()})
            QVERIFY(links->text().contains(QStringLiteral("<a href=\"%1\">%1</a>").arg(url)));
        QCOMPARE(rvwtest::mnemonicProblems(rvwtest::keyboardTexts(&dialog)), QStringList());
        dialog.show();
        dialog.findChild<QPushButton *>("okButton")->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(!dialog.findChild<QLabel *>("logo")->pixmap().isNull());
    }

    // The logo stays 380 pixels wide on any screen, drawn with the screen's own pixels.
    void logoScaledForPixelRatio_data()
    {
        QTest::addColumn<qreal>("ratio");
        QTest::addColumn<int>("devicePixels");
        QTest::newRow("1x") << qreal(1.0) << 380;
        QTest::newRow("1.5x") << qreal(1.5) << 570;
        QTest::newRow("no ratio reported") << qreal(0.0) << 380;
    }

    void logoScaledForPixelRatio()
    {
        QFETCH(qreal, ratio);
        QFETCH(int, devicePixels);
        const QPixmap logo = AboutDialog::scaledLogo(":/icons/logo.png", ratio);
        QCOMPARE(logo.width(), devicePixels);
        QCOMPARE(qRound(logo.deviceIndependentSize().width()), 380);
    }

    void withoutLogoShowsTheName()
    {
        QVERIFY(AboutDialog::scaledLogo(":/icons/no-such-logo.png", 1.0).isNull());
        Q_CLEANUP_RESOURCE(resources); // take the compiled-in logo away for this one dialog
        AboutDialog dialog;
        Q_INIT_RESOURCE(resources);
        const QLabel *logo = dialog.findChild<QLabel *>("logo");
        QVERIFY(logo->pixmap().isNull());
        QCOMPARE(logo->text(), AppInfo::applicationName());
        QVERIFY(logo->font().pointSizeF() > dialog.findChild<QLabel *>("version")->font().pointSizeF());
    }
};

QTEST_MAIN(tst_AboutDialog)
#include "tst_aboutdialog.moc"

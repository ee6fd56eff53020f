#include "app/AppInfo.h"
#include "ui/AboutDialog.h"
#include "ui/Mnemonics.h"

#include <QtTest>

using namespace rvw;

class tst_AboutDialog : public QObject
{
    Q_OBJECT

private slots:
    // Both web addresses, each shown as a link that opens by mouse or keyboard; OK accepts. The
    // logo stays 380 pixels wide on any screen, drawn with the screen's own pixels; without it
    // the name shows instead.
    void linksLogoAndOk()
    {
        AboutDialog dialog;
        auto *links = dialog.findChild<QLabel *>("links");
        QVERIFY(links->openExternalLinks() && links->textInteractionFlags() & Qt::LinksAccessibleByKeyboard);
        for (const QString &url : {AppInfo::authorUrl(), AppInfo::websiteUrl()})
            QVERIFY2(QUrl(url).scheme() == "https" &&
                         links->text().contains(QStringLiteral("<a href=\"%1\">%1</a>").arg(url)),
                     qPrintable(url));
        QCOMPARE(rvwtest::mnemonicProblems(rvwtest::keyboardTexts(&dialog)), QStringList());
        dialog.show();
        dialog.findChild<QPushButton *>("okButton")->click();
        QVERIFY(dialog.result() == QDialog::Accepted &&
                !dialog.findChild<QLabel *>("logo")->pixmap().isNull());
        for (const qreal ratio : {1.5, 0.0}) { // a screen reporting no ratio is taken as 1
            const QPixmap logo = AboutDialog::scaledLogo(":/icons/logo.png", ratio);
            QCOMPARE(QSize(logo.width(), qRound(logo.deviceIndependentSize().width())),
                     QSize(ratio > 0 ? 570 : 380, 380));
        }
        QVERIFY(AboutDialog::scaledLogo(":/icons/no-such-logo.png", 1.0).isNull());
        Q_CLEANUP_RESOURCE(resources); // take the compiled-in logo away for one dialog
        AboutDialog bare;
        Q_INIT_RESOURCE(resources);
        const QLabel *logo = bare.findChild<QLabel *>("logo");
        QVERIFY(logo->pixmap().isNull() && logo->text() == AppInfo::applicationName());
    }
};

QTEST_MAIN(tst_AboutDialog)
#include "tst_aboutdialog.moc"

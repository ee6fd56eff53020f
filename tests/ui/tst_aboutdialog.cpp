#include "app/AppInfo.h"
#include "ui/AboutDialog.h"

#include <QtTest>
#include <QtWidgets>

using namespace rvw;

class tst_AboutDialog : public QObject
{
    Q_OBJECT

private slots:
    // Both web addresses, each shown as a link that opens by mouse or keyboard. The logo stays
    // 380 pixels wide on any screen, drawn with the screen's own pixels; without it the name
    // shows instead.
    void linksAndLogo()
    {
        AboutDialog dialog;
        auto *links = dialog.findChild<QLabel *>("links");
        QVERIFY(links->openExternalLinks() && links->textInteractionFlags() & Qt::LinksAccessibleByKeyboard);
        for (const QString &url : {AppInfo::authorUrl(), AppInfo::websiteUrl()})
            QVERIFY2(links->text().contains(QStringLiteral("<a href=\"%1\">%1</a>").arg(url)),
                     qPrintable(url));
        QVERIFY(!dialog.findChild<QLabel *>("logo")->pixmap().isNull());
        for (const qreal ratio : {1.5, 0.0}) { // a screen reporting no ratio is taken as 1
            const QPixmap logo = AboutDialog::scaledLogo(":/icons/logo.png", ratio);
            QCOMPARE(QSize(logo.width(), qRound(logo.deviceIndependentSize().width())),
                     QSize(ratio > 0 ? 570 : 380, 380));
        }
        Q_CLEANUP_RESOURCE(resources); // take the compiled-in logo away for one dialog
        AboutDialog bare;
        Q_INIT_RESOURCE(resources);
        const QLabel *logo = bare.findChild<QLabel *>("logo");
        QVERIFY(logo->pixmap().isNull() && logo->text() == AppInfo::applicationName());
    }
};

QTEST_MAIN(tst_AboutDialog)
#include "tst_aboutdialog.moc"

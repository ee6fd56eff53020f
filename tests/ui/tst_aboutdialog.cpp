#include "app/AppInfo.h"
#include "ui/Mnemonics.h"
#include "ui/AboutDialog.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace rvw;

class tst_AboutDialog : public QObject
{
    Q_OBJECT

private slots:
    void texts()
    {
        AboutDialog dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("About Ravelwick"));
        QVERIFY(!(dialog.windowFlags() & Qt::WindowContextHelpButtonHint));
        QCOMPARE(dialog.minimumWidth(), 505);
        QCOMPARE(dialog.findChild<QLabel *>("version")->text(), QStringLiteral("Version 1.0.0"));
        QVERIFY(dialog.findChild<QLabel *>("version")->font().bold());
        QCOMPARE(dialog.findChild<QLabel *>("description")->text(), AppInfo::descriptionLine());
        QCOMPARE(dialog.findChild<QLabel *>("copyright")->text(), AppInfo::copyrightLine());
        auto *links = dialog.findChild<QLabel *>("links");
        QVERIFY(links->openExternalLinks());
        QVERIFY(links->text().contains(QStringLiteral("<a href=\"%1\">%1</a>").arg(AppInfo::authorUrl())));
        QVERIFY(links->text().contains(QStringLiteral("<a href=\"%1\">%1</a>").arg(AppInfo::websiteUrl())));
        QVERIFY(links->textInteractionFlags() & Qt::LinksAccessibleByKeyboard);
        auto *ok = dialog.findChild<QPushButton *>("okButton");
        QVERIFY(ok->isDefault());
        QCOMPARE(rvwtest::mnemonicProblems(rvwtest::keyboardTexts(&dialog)), QStringList());
        QCOMPARE(dialog.size(), QSize(505, 340));
    }

    void okAccepts()
    {
        AboutDialog dialog;
        dialog.show();
        dialog.findChild<QPushButton *>("okButton")->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }

    void logoWithResource()
    {
        AboutDialog dialog;
        const QLabel *logo = dialog.findChild<QLabel *>("logo");
        QVERIFY(!logo->pixmap().isNull());
        QCOMPARE(logo->pixmap().deviceIndependentSize().width(), 380.0);
    }

    void logoScaledForPixelRatio_data()
    {
        QTest::addColumn<qreal>("ratio");
        QTest::addColumn<int>("devicePixels");
        QTest::newRow("1x") << qreal(1.0) << 380;
        QTest::newRow("2x") << qreal(2.0) << 760;
        QTest::newRow("1.5x") << qreal(1.5) << 570;
    }
    void logoScaledForPixelRatio()
    {
        QFETCH(qreal, ratio);
        QFETCH(int, devicePixels);
        const QPixmap logo = AboutDialog::scaledLogo(":/icons/logo.png", ratio);
        QCOMPARE(logo.width(), devicePixels);
        QCOMPARE(logo.devicePixelRatio(), ratio);
        QCOMPARE(qRound(logo.deviceIndependentSize().width()), 380);
    }

    void withoutLogoShowsTheName()
    {
        QVERIFY(AboutDialog::scaledLogo(":/icons/no-such-logo.png", 1.0).isNull());
        // Take the compiled-in resources away for this one dialog.
        Q_CLEANUP_RESOURCE(resources);
        QVERIFY(QPixmap(":/icons/logo.png").isNull());
        AboutDialog dialog;
        Q_INIT_RESOURCE(resources);
        const QLabel *logo = dialog.findChild<QLabel *>("logo");
        QVERIFY(logo->pixmap().isNull());
        QCOMPARE(logo->text(), QStringLiteral("Ravelwick"));
        QVERIFY(logo->font().bold());
        const QLabel *version = dialog.findChild<QLabel *>("version");
        QCOMPARE(logo->font().pointSizeF(), version->font().pointSizeF() + 12);
    }
};

QTEST_MAIN(tst_AboutDialog)
#include "tst_aboutdialog.moc"

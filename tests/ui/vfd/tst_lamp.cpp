#include "ui/vfd/Lamp.h"
#include "ui/vfd/RenderHelpers.h"
#include "ui/vfd/SevenSegment.h"

#include <QApplication>
#include <QEnterEvent>
#include <QFontMetrics>
#include <QSignalSpy>
#include <QTest>

using rvw::test::describe;
using rvw::test::renderTransparent;
using rvw::test::sameColour;
using rvw::vfd::Badge;
using rvw::vfd::Lamp;

namespace {

const QColor kTeal = rvw::test::expected::teal;

QColor withAlpha(QColor c, int alpha)
{
    c.setAlpha(alpha);
    return c;
}

void hover(QWidget &widget, bool inside)
{
    if (inside) {
        QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), widget.mapToGlobal(QPointF(2, 2)));
        QApplication::sendEvent(&widget, &enter);
    } else {
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(&widget, &leave);
    }
}

// Inside the border, left of the centred text.
QColor fillOf(const QImage &image)
{
    return image.pixelColor(3, image.height() / 2);
}

QColor borderOf(const QImage &image)
{
    return image.pixelColor(0, image.height() / 2);
}

} // namespace

class tst_Lamp : public QObject
{
    Q_OBJECT

private slots:
    void sizeHints()
    {
        const QFontMetrics metrics(rvw::vfd::legendFont(8, true));
        Lamp single(QStringLiteral("A"));
        QCOMPARE(single.sizeHint(), QSize(46, metrics.height() + 10));
        const QString longText = QStringLiteral("A MUCH LONGER KEY");
        Lamp wide(longText);
        QVERIFY(metrics.horizontalAdvance(longText) + 18 > 46);
        QCOMPARE(wide.sizeHint().width(), metrics.horizontalAdvance(longText) + 18);

        Badge badge;
        badge.setText(QStringLiteral("FLAC"));
        QCOMPARE(badge.sizeHint(),
                 QSize(metrics.horizontalAdvance(QStringLiteral("FLAC")) + 14, metrics.height() + 6));
    }

    void checkableClicks()
    {
        Lamp lamp(QStringLiteral("LINK"));
        lamp.setCheckable(true);
        QStringList log;
        connect(&lamp, &Lamp::toggled, this,
                [&](bool on) { log << (on ? "toggled(true)" : "toggled(false)"); });
        connect(&lamp, &Lamp::clicked, this, [&] { log << "clicked"; });
        QTest::mousePress(&lamp, Qt::LeftButton);
        QVERIFY(lamp.isOn());
        QTest::mousePress(&lamp, Qt::LeftButton);
        QVERIFY(!lamp.isOn());
        QCOMPARE(log, (QStringList{"toggled(true)", "clicked", "toggled(false)", "clicked"}));
    }

    void plainClicks()
    {
        Lamp lamp(QStringLiteral("PLAY"));
        QSignalSpy clicked(&lamp, &Lamp::clicked);
        QSignalSpy toggled(&lamp, &Lamp::toggled);
        QTest::mousePress(&lamp, Qt::LeftButton);
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(toggled.count(), 0);
        QVERIFY(!lamp.isOn());
        QTest::mousePress(&lamp, Qt::RightButton);
        QTest::mousePress(&lamp, Qt::MiddleButton);
        QCOMPARE(clicked.count(), 1);
    }

    void disabledIgnoresPresses()
    {
        Lamp lamp(QStringLiteral("A"));
        lamp.setCheckable(true);
        QCOMPARE(lamp.cursor().shape(), Qt::PointingHandCursor);
        lamp.setEnabledLamp(false);
        QCOMPARE(lamp.cursor().shape(), Qt::ArrowCursor);
        QSignalSpy clicked(&lamp, &Lamp::clicked);
        QSignalSpy toggled(&lamp, &Lamp::toggled);
        QTest::mousePress(&lamp, Qt::LeftButton);
        QCOMPARE(clicked.count(), 0);
        QCOMPARE(toggled.count(), 0);
        QVERIFY(!lamp.isOn());
        lamp.setEnabledLamp(true);
        QCOMPARE(lamp.cursor().shape(), Qt::PointingHandCursor);
        QTest::mousePress(&lamp, Qt::LeftButton);
        QCOMPARE(clicked.count(), 1);
    }

    void setOnIsSilent()
    {
        rvw::test::PaintCounter<Lamp> lamp(QStringLiteral("A"));
        lamp.setCheckable(true);
        QSignalSpy toggled(&lamp, &Lamp::toggled);
        QSignalSpy clicked(&lamp, &Lamp::clicked);
        lamp.resize(46, 24);
        lamp.show();
        QVERIFY(QTest::qWaitForWindowExposed(&lamp));
        lamp.setOn(true);
        QTRY_VERIFY_WITH_TIMEOUT(lamp.paints > 0, 2000);
        QCoreApplication::processEvents();
        const int before = lamp.paints;
        lamp.setOn(true);
        QTest::qWait(50);
        QCOMPARE(lamp.paints, before);
        QCOMPARE(toggled.count(), 0);
        QCOMPARE(clicked.count(), 0);
    }

    void lampFills_data()
    {
        QTest::addColumn<bool>("on");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("hovered");
        QTest::addColumn<QColor>("border");
        QTest::addColumn<QColor>("fill");
        const QColor dark = kTeal.darker(260);
        QTest::newRow("off") << false << true << false << kTeal << withAlpha(kTeal, 22);
        QTest::newRow("off, hovered") << false << true << true << kTeal.lighter(130) << withAlpha(kTeal, 46);
        QTest::newRow("on") << true << true << false << kTeal << kTeal;
        QTest::newRow("on, hovered") << true << true << true << kTeal.lighter(130) << kTeal;
        QTest::newRow("disabled") << false << false << false << dark << withAlpha(dark, 22);
        QTest::newRow("disabled, hovered") << false << false << true << dark << withAlpha(dark, 22);
        QTest::newRow("disabled, on") << true << false << false << dark << dark;
    }

    void lampFills()
    {
        QFETCH(bool, on);
        QFETCH(bool, enabled);
        QFETCH(bool, hovered);
        QFETCH(QColor, border);
        QFETCH(QColor, fill);
        Lamp lamp(QStringLiteral("A"));
        lamp.resize(60, 24);
        lamp.setOn(on);
        lamp.setEnabledLamp(enabled);
        hover(lamp, hovered);
        QCOMPARE(lamp.isHovered(), hovered);
        const QImage image = renderTransparent(lamp);
        QVERIFY2(sameColour(fillOf(image), fill), qPrintable(describe(fillOf(image))));
        QVERIFY2(sameColour(borderOf(image), border), qPrintable(describe(borderOf(image))));
        hover(lamp, false);
        QVERIFY(!lamp.isHovered());
    }

    void lampColour()
    {
        Lamp lamp(QStringLiteral("LINK"));
        lamp.resize(60, 24);
        const QColor orange(0xe0, 0x8a, 0x2b);
        lamp.setColour(orange);
        lamp.setOn(true);
        QVERIFY(sameColour(fillOf(renderTransparent(lamp)), orange));
    }

    void badgeFills_data()
    {
        QTest::addColumn<bool>("active");
        QTest::addColumn<QColor>("fill");
        QTest::newRow("inactive") << false << withAlpha(kTeal, 28);
        QTest::newRow("active") << true << kTeal;
    }

    void badgeFills()
    {
        QFETCH(bool, active);
        QFETCH(QColor, fill);
        Badge badge;
        QVERIFY(badge.testAttribute(Qt::WA_TransparentForMouseEvents));
        badge.setText(QStringLiteral("MP3"));
        badge.setActive(active);
        badge.resize(60, 20);
        const QImage image = renderTransparent(badge);
        QVERIFY2(sameColour(fillOf(image), fill), qPrintable(describe(fillOf(image))));
        QVERIFY2(sameColour(borderOf(image), kTeal), qPrintable(describe(borderOf(image))));
    }

    void emptyBadgePaintsNothing()
    {
        Badge badge;
        badge.setActive(true);
        badge.resize(60, 20);
        const QImage image = renderTransparent(badge);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                QCOMPARE(image.pixelColor(x, y).alpha(), 0);
    }
};

QTEST_MAIN(tst_Lamp)
#include "tst_lamp.moc"

#include "ui/vfd/RenderHelpers.h"
#include "ui/vfd/SevenSegment.h"

#include <QFontDatabase>
#include <QTest>

using rvw::test::describe;
using rvw::test::renderTransparent;
using rvw::test::sameColour;
using rvw::vfd::SevenSegment;

namespace {

const QColor kTeal = rvw::test::expected::teal;
const QColor kGhost = rvw::test::expected::ghost;

// Centre of segment a..g of a digit whose cell starts at x0, for digit height H.
QPoint segmentCentre(char segment, double x0, double height)
{
    const double w = 0.56 * height;
    const double h = 0.135 * height / 2.0;
    const double xL = x0 + h, xR = x0 + w - h, xMid = (xL + xR) / 2.0;
    const double yTop = h, yMid = height / 2.0, yBot = height - h;
    QPointF p;
    switch (segment) {
    case 'a':
        p = {xMid, yTop};
        break;
    case 'b':
        p = {xR, (yTop + yMid) / 2.0};
        break;
    case 'c':
        p = {xR, (yMid + yBot) / 2.0};
        break;
    case 'd':
        p = {xMid, yBot};
        break;
    case 'e':
        p = {xL, (yMid + yBot) / 2.0};
        break;
    case 'f':
        p = {xL, (yTop + yMid) / 2.0};
        break;
    default:
        p = {xMid, yMid};
        break;
    }
    return QPoint(int(p.x()), int(p.y()));
}

} // namespace

class tst_SevenSegment : public QObject
{
    Q_OBJECT

private slots:
    void legendFont()
    {
        const QFont bold = rvw::vfd::legendFont(7, true);
        QCOMPARE(bold.pointSize(), 7);
        QCOMPARE(bold.weight(), QFont::Bold);
        QCOMPARE(bold.letterSpacingType(), QFont::PercentageSpacing);
        QCOMPARE(bold.letterSpacing(), 112.0);
        QCOMPARE(bold.family(), QFontDatabase::systemFont(QFontDatabase::FixedFont).family());
        QCOMPARE(rvw::vfd::legendFont(6, false).weight(), QFont::Normal);
    }

    void defaults()
    {
        SevenSegment display;
        QCOMPARE(display.text(), QStringLiteral("0:00:00"));
        QCOMPARE(display.digitHeight(), 34);
        QCOMPARE(display.colour(), kTeal);
        QVERIFY(!display.isDimmed());
        QVERIFY(display.testAttribute(Qt::WA_TransparentForMouseEvents));
    }

    void sizeHint_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("height");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("clock at 34") << "0:00:00" << 34 << QSize(144, 34);
        // Five digits of 20.7 and two colons of 11.628.
        QTest::newRow("clock at 30") << "0:00:00" << 30 << QSize(127, 30);
        QTest::newRow("empty") << "" << 34 << QSize(0, 34);
        QTest::newRow("space is half a digit") << " " << 20 << QSize(9, 20);  // 2.6 + 5.6
        QTest::newRow("dot") << "." << 20 << QSize(8, 20);                    // 2.6 + 5.152
        QTest::newRow("below the minimum height") << "8" << 4 << QSize(6, 8); // 1.04 + 4.48
    }

    void sizeHint()
    {
        QFETCH(QString, text);
        QFETCH(int, height);
        QFETCH(QSize, expected);
        SevenSegment display;
        display.setText(text);
        display.setDigitHeight(height);
        QCOMPARE(display.sizeHint(), expected);
    }

    void advances()
    {
        SevenSegment display;
        display.setDigitHeight(100);
        QCOMPARE(display.advanceFor(QLatin1Char('8')), 69.0);
        QCOMPARE(display.advanceFor(QLatin1Char('E')), 69.0);
        QCOMPARE(display.advanceFor(QLatin1Char(':')), 13.0 + 0.46 * 56.0);
        QCOMPARE(display.advanceFor(QLatin1Char(' ')), 41.0);
    }

    void segments_data()
    {
        QTest::addColumn<QString>("character");
        QTest::addColumn<QString>("lit");
        QTest::newRow("0") << "0"
                           << "abcdef";
        QTest::newRow("1") << "1"
                           << "bc";
        QTest::newRow("2") << "2"
                           << "abdeg";
        QTest::newRow("4") << "4"
                           << "bcfg";
        QTest::newRow("6") << "6"
                           << "acdefg";
        QTest::newRow("7") << "7"
                           << "abc";
        QTest::newRow("8") << "8"
                           << "abcdefg";
        QTest::newRow("9") << "9"
                           << "abcdfg";
        QTest::newRow("minus") << "-"
                               << "g";
        QTest::newRow("underscore") << "_"
                                    << "d";
        QTest::newRow("letter is an unlit 8") << "E"
                                              << "";
        QTest::newRow("space is an unlit 8") << " "
                                             << "";
    }

    // The second character sits after a full digit cell, so its placement is checked too.
    void segments()
    {
        QFETCH(QString, character);
        QFETCH(QString, lit);
        SevenSegment display;
        display.setText(QStringLiteral("8") + character);
        display.resize(display.sizeHint().width() + 20, 34);
        const QImage image = renderTransparent(display);
        const double x0 = display.advanceFor(QLatin1Char('8'));
        for (const char s : QByteArray("abcdefg")) {
            const QColor expected = lit.contains(QLatin1Char(s)) ? kTeal : kGhost;
            const QColor actual = image.pixelColor(segmentCentre(s, x0, 34));
            QVERIFY2(sameColour(actual, expected),
                     qPrintable(QStringLiteral("segment %1: %2").arg(QLatin1Char(s)).arg(describe(actual))));
        }
    }

    void verticallyCentred()
    {
        SevenSegment display;
        display.setText(QStringLiteral("1"));
        display.resize(40, 54); // 10 pixels above and below the digit
        const QImage image = renderTransparent(display);
        const QPoint top = segmentCentre('a', 0, 34) + QPoint(0, 10);
        QVERIFY(sameColour(image.pixelColor(top), kGhost));
        QCOMPARE(image.pixelColor(top - QPoint(0, 5)).alpha(), 0);
    }

    void dimmedLowersOnlyAlpha()
    {
        SevenSegment display;
        display.setText(QStringLiteral("1"));
        display.resize(30, 34);
        const QImage bright = renderTransparent(display);
        display.setDimmed(true);
        const QImage dim = renderTransparent(display);

        const QColor litDim = dim.pixelColor(segmentCentre('b', 0, 34));
        const QColor ghostDim = dim.pixelColor(segmentCentre('a', 0, 34));
        QVERIFY2(sameColour(litDim, QColor(0x3b, 0xeb, 0xd3, 120)), qPrintable(describe(litDim)));
        QVERIFY2(sameColour(ghostDim, QColor(0x11, 0x33, 0x2e, 70), 3), qPrintable(describe(ghostDim)));

        // Same geometry: the same pixels are covered, only fainter.
        for (int y = 0; y < bright.height(); ++y)
            for (int x = 0; x < bright.width(); ++x)
                QCOMPARE(dim.pixelColor(x, y).alpha() > 0, bright.pixelColor(x, y).alpha() > 0);
    }

    void colonAndDot()
    {
        SevenSegment display;
        display.setText(QStringLiteral("8:8."));
        display.resize(display.sizeHint());
        const QImage image = renderTransparent(display);
        const double w = 0.56 * 34;
        const double colonX = display.advanceFor(QLatin1Char('8')) + 0.23 * w;
        QVERIFY(sameColour(image.pixelColor(int(colonX), int(0.34 * 34)), kTeal));
        QVERIFY(sameColour(image.pixelColor(int(colonX), int(0.68 * 34)), kTeal));
        // No ghost segments between or around the dots.
        QCOMPARE(image.pixelColor(int(colonX), 17).alpha(), 0);
        QCOMPARE(image.pixelColor(int(colonX), 2).alpha(), 0);

        const double dotX =
            2 * display.advanceFor(QLatin1Char('8')) + display.advanceFor(QLatin1Char(':')) + 0.23 * w;
        const double radius = 0.55 * 0.135 * 34;
        QVERIFY(sameColour(image.pixelColor(int(dotX), int(34 - radius)), kTeal));
        QCOMPARE(image.pixelColor(int(dotX), 17).alpha(), 0);
    }

    void colourChange()
    {
        SevenSegment display;
        display.setText(QStringLiteral("1"));
        display.resize(30, 34);
        display.setColour(QColor(0xe0, 0x8a, 0x2b));
        const QImage image = renderTransparent(display);
        QVERIFY(sameColour(image.pixelColor(segmentCentre('c', 0, 34)), QColor(0xe0, 0x8a, 0x2b)));
    }

    void repaintsOnlyOnChange()
    {
        rvw::test::PaintCounter<SevenSegment> display;
        display.resize(150, 34);
        display.show();
        QVERIFY(QTest::qWaitForWindowExposed(&display));
        QTRY_VERIFY_WITH_TIMEOUT(display.paints > 0, 2000);
        QCoreApplication::processEvents();
        const int before = display.paints;

        display.setText(QStringLiteral("0:00:00"));
        display.setDimmed(false);
        QTest::qWait(50);
        QCOMPARE(display.paints, before);

        display.setText(QStringLiteral("0:00:01"));
        QTRY_VERIFY_WITH_TIMEOUT(display.paints > before, 2000);
    }
};

QTEST_MAIN(tst_SevenSegment)
#include "tst_sevensegment.moc"

#include "ui/vfd/RenderHelpers.h"
#include "ui/vfd/SevenSegment.h"

#include <QTest>

using namespace rvw::test;
using rvw::vfd::SevenSegment;

namespace {

const QColor kTeal = expected::teal, kGhost = expected::ghost;

// Centre of segment a..g of a 34-pixel digit whose cell starts at x0.
QPoint segmentCentre(char segment, double x0)
{
    const double h = 0.135 * 34 / 2.0, xL = x0 + h, xR = x0 + 0.56 * 34 - h;
    const double x = segment == 'b' || segment == 'c'   ? xR
                     : segment == 'e' || segment == 'f' ? xL
                                                        : (xL + xR) / 2;
    const double y = segment == 'a'                       ? h
                     : QByteArray("bf").contains(segment) ? (h + 17) / 2
                     : QByteArray("ce").contains(segment) ? (17 + 34 - h) / 2
                     : segment == 'd'                     ? 34 - h
                                                          : 17;
    return QPoint(int(x), int(y));
}

QImage rendered(SevenSegment &display, const QString &text, int width)
{
    display.setText(text);
    display.resize(width, 34);
    return renderTransparent(display);
}

} // namespace

class tst_SevenSegment : public QObject
{
    Q_OBJECT

private slots:
    void sizeHint_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("height");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("clock at 30") << "0:00:00" << 30 << QSize(127, 30); // 5 x 20.7 + 2 x 11.628
        QTest::newRow("empty") << "" << 34 << QSize(0, 34);
        QTest::newRow("space is half a digit") << " " << 20 << QSize(9, 20);  // 2.6 + 5.6
        QTest::newRow("dot") << "." << 20 << QSize(8, 20);                    // 2.6 + 5.152
        QTest::newRow("colon") << ":" << 100 << QSize(39, 100);               // 13 + 25.76
        QTest::newRow("below the minimum height") << "8" << 7 << QSize(6, 8); // 1.04 + 4.48
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

    void segments_data()
    {
        QTest::addColumn<QString>("character");
        QTest::addColumn<QString>("lit");
        const char *const rows[][2] = {{"0", "abcdef"},  {"1", "bc"},     {"2", "abdeg"},  {"3", "abcdg"},
                                       {"4", "bcfg"},    {"5", "acdfg"},  {"6", "acdefg"}, {"7", "abc"},
                                       {"8", "abcdefg"}, {"9", "abcdfg"}, {"-", "g"},      {"_", "d"},
                                       {"E", ""},        {" ", ""}};
        for (const auto &row : rows)
            QTest::newRow(row[0]) << QString::fromLatin1(row[0]) << QString::fromLatin1(row[1]);
    }

    // The second character sits after a full digit cell, so its placement is checked too.
    void segments()
    {
        QFETCH(QString, character);
        QFETCH(QString, lit);
        SevenSegment display;
        const QImage image = rendered(display, QStringLiteral("8") + character, 80);
        for (const char s : QByteArray("abcdefg")) {
            const QColor actual = image.pixelColor(segmentCentre(s, display.advanceFor(QLatin1Char('8'))));
            QVERIFY2(sameColour(actual, lit.contains(QLatin1Char(s)) ? kTeal : kGhost),
                     qPrintable(QStringLiteral("segment %1: %2").arg(QLatin1Char(s)).arg(describe(actual))));
        }
    }

    void verticallyCentred()
    {
        SevenSegment display;
        display.setText(QStringLiteral("1"));
        display.resize(40, 54); // 10 pixels above and below the digit
        const QImage image = renderTransparent(display);
        QVERIFY(sameColour(image.pixelColor(segmentCentre('a', 0) + QPoint(0, 10)), kGhost));
        QCOMPARE(image.pixelColor(segmentCentre('a', 0) + QPoint(0, 5)).alpha(), 0);
    }

    void dimmedColour()
    {
        SevenSegment display;
        display.setColour(expected::orange);
        display.setDimmed(true);
        const QImage image = rendered(display, QStringLiteral("1"), 30);
        const QColor lit = image.pixelColor(segmentCentre('b', 0)),
                     ghost = image.pixelColor(segmentCentre('a', 0));
        QVERIFY2(sameColour(lit, QColor(0xe0, 0x8a, 0x2b, 120)), qPrintable(describe(lit)));
        QVERIFY2(sameColour(ghost, QColor(0x11, 0x33, 0x2e, 70), 3), qPrintable(describe(ghost)));
    }

    void colonAndDot()
    {
        SevenSegment display;
        const QImage image = rendered(display, QStringLiteral("8:8."), 80);
        const double eight = display.advanceFor(QLatin1Char('8')), inset = 0.23 * 0.56 * 34;
        const int colonX = int(eight + inset),
                  dotX = int(2 * eight + display.advanceFor(QLatin1Char(':')) + inset);
        for (const QPoint p :
             {QPoint(colonX, 11), QPoint(colonX, 23), QPoint(dotX, int(34 - 0.55 * 0.135 * 34))})
            QVERIFY2(sameColour(image.pixelColor(p), kTeal), qPrintable(describe(image.pixelColor(p))));
        // No ghost segments between or around the dots.
        for (const QPoint p : {QPoint(colonX, 17), QPoint(colonX, 2), QPoint(dotX, 17)})
            QCOMPARE(image.pixelColor(p).alpha(), 0);
    }

    // The clock ticks through setText: a new time must reach the screen.
    void repaintsOnChange()
    {
        PaintCounter<SevenSegment> display;
        display.resize(150, 34);
        display.show();
        QVERIFY(QTest::qWaitForWindowExposed(&display));
        QTRY_VERIFY(display.paints > 0);
        const int before = display.paints;
        display.setText(QStringLiteral("0:00:01"));
        QTRY_VERIFY(display.paints > before);
    }
};

QTEST_MAIN(tst_SevenSegment)
#include "tst_sevensegment.moc"

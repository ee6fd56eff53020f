#include "ui/vfd/LevelMeter.h"
#include "ui/vfd/RenderHelpers.h"

#include <QPainter>
#include <QTest>

#include <functional>

using rvw::test::describe;
using rvw::test::sameColour;
using rvw::vfd::LevelMeter;

namespace {

const QColor kTeal = rvw::test::expected::teal;
const QColor kAmber = rvw::test::expected::amber;
const QColor kRed = rvw::test::expected::red;

// One row drawn 320.5 pixels wide makes every segment exactly 10 pixels with 1.5 between.
QImage drawRowImage(double level, double peak)
{
    LevelMeter meter;
    QImage image(330, 10, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    meter.drawRow(painter, QRectF(0, 0, 320.5, 10), level, peak);
    return image;
}

QColor rowSegment(const QImage &image, int index)
{
    return image.pixelColor(int(index * 11.5 + 5), 5);
}

QColor fullColour(int index)
{
    return index < 18 ? kTeal : index < 24 ? kAmber : kRed;
}

QList<int> litSegments(const QImage &image, const std::function<QColor(const QImage &, int)> &segment)
{
    QList<int> lit;
    for (int i = 0; i < 28; ++i) {
        if (sameColour(segment(image, i), fullColour(i)))
            lit << i;
    }
    return lit;
}

QList<int> range(int from, int to)
{
    QList<int> r;
    for (int i = from; i <= to; ++i)
        r << i;
    return r;
}

} // namespace

class tst_LevelMeter : public QObject
{
    Q_OBJECT

private slots:
    void litCount_data()
    {
        QTest::addColumn<double>("level");
        QTest::addColumn<double>("peak");
        QTest::addColumn<QList<int>>("lit");
        QTest::newRow("silence") << 0.0 << 0.0 << QList<int>();
        QTest::newRow("half") << 0.5 << 0.0 << range(0, 13);
        QTest::newRow("0.49 rounds up to 14") << 0.49 << 0.0 << range(0, 13);
        QTest::newRow("10.5 rounds away from zero") << 0.375 << 0.0 << range(0, 10);
        QTest::newRow("1.75 rounds to 2") << 0.0625 << 0.0 << range(0, 1);
        QTest::newRow("0.28 rounds to none") << 0.01 << 0.0 << QList<int>();
        QTest::newRow("full") << 1.0 << 1.0 << range(0, 27);
        QTest::newRow("peak marker alone") << 0.0 << 0.5 << QList<int>{13};
        QTest::newRow("peak marker above the bar") << 0.25 << 1.0 << (range(0, 6) << 27);
        QTest::newRow("peak inside the bar") << 0.5 << 0.25 << range(0, 13);
    }

    void litCount()
    {
        QFETCH(double, level);
        QFETCH(double, peak);
        QFETCH(QList<int>, lit);
        QCOMPARE(litSegments(drawRowImage(level, peak), rowSegment), lit);
    }

    void segmentColours()
    {
        const QImage lit = drawRowImage(1.0, 0.0);
        const QImage unlit = drawRowImage(0.0, 0.0);
        for (const int i : {0, 17, 18, 23, 24, 27}) {
            QVERIFY2(sameColour(rowSegment(lit, i), fullColour(i)),
                     qPrintable(QStringLiteral("segment %1: %2").arg(i).arg(describe(rowSegment(lit, i)))));
            QColor dark = fullColour(i).darker(320);
            dark.setAlpha(150);
            QVERIFY2(sameColour(rowSegment(unlit, i), dark),
                     qPrintable(QStringLiteral("segment %1: %2").arg(i).arg(describe(rowSegment(unlit, i)))));
        }
        // The gaps stay empty.
        QCOMPARE(lit.pixelColor(10, 5).alpha(), 0);
    }

    void clampsLevels()
    {
        LevelMeter meter;
        meter.setLevels(1.4, -0.2);
        QCOMPARE(meter.leftLevel(), 1.0);
        QCOMPARE(meter.rightLevel(), 0.0);
        QCOMPARE(meter.leftPeak(), 1.0);
        QCOMPARE(meter.rightPeak(), 0.0);
        meter.setLevels(qQNaN(), 0.5);
        QCOMPARE(meter.leftLevel(), 0.0);
    }

    void peakHoldFalls()
    {
        LevelMeter meter;
        meter.setLevels(1.0, 0.5);
        for (int call = 1; call <= 33; ++call) {
            meter.setLevels(0.0, 0.0);
            QVERIFY2(qAbs(meter.leftPeak() - (1.0 - 0.03 * call)) < 1e-9, qPrintable(QString::number(call)));
        }
        QVERIFY(meter.leftPeak() > 0.0);
        meter.setLevels(0.0, 0.0);
        QCOMPARE(meter.leftPeak(), 0.0);
        QCOMPARE(meter.rightPeak(), 0.0);

        // A new level above the falling marker lifts it at once.
        meter.setLevels(0.2, 0.2);
        meter.setLevels(0.6, 0.0);
        QCOMPARE(meter.leftPeak(), 0.6);
        QVERIFY(qAbs(meter.rightPeak() - 0.17) < 1e-9);
        meter.reset();
        QCOMPARE(meter.leftPeak(), 0.0);
        QCOMPARE(meter.leftLevel(), 0.0);
    }

    // The whole widget: rows below the scale, left on top, the falling marker drawn.
    void paintsBothRows()
    {
        LevelMeter meter;
        meter.resize(220, 34);
        meter.setLevels(1.0, 1.0);
        for (int i = 0; i < 10; ++i)
            meter.setLevels(0.5, 0.25); // peak-hold now 0.7: segment 19
        const QImage image = rvw::test::grabImage(meter);

        // top 11, row height 10.5, rows 206 wide from x 13: segments 5.91 wide every 7.41.
        const auto leftRow = [](const QImage &img, int i) {
            return img.pixelColor(int(13 + i * (206 - 40.5) / 28 + i * 1.5 + 3), 16);
        };
        const auto rightRow = [](const QImage &img, int i) {
            return img.pixelColor(int(13 + i * (206 - 40.5) / 28 + i * 1.5 + 3), 28);
        };
        QCOMPARE(litSegments(image, leftRow), range(0, 13) << 19);
        QCOMPARE(litSegments(image, rightRow), range(0, 6) << 19);
    }

    void sizeHintFollowsScale()
    {
        LevelMeter meter;
        QVERIFY(meter.isScaleVisible());
        QCOMPARE(meter.sizeHint(), QSize(220, 34));
        meter.setScaleVisible(false);
        QCOMPARE(meter.sizeHint(), QSize(220, 22));
        QVERIFY(meter.testAttribute(Qt::WA_TransparentForMouseEvents));
    }

    void rowsStartAtTopWithoutScale()
    {
        LevelMeter meter;
        meter.setScaleVisible(false);
        meter.resize(220, 22);
        meter.setLevels(1.0, 0.0);
        // Row height 10: the left row spans y 1..9, the right one 13..21.
        const QImage image = rvw::test::grabImage(meter);
        QVERIFY(sameColour(image.pixelColor(16, 4), kTeal));
        QVERIFY(!sameColour(image.pixelColor(16, 17), kTeal));
    }
};

QTEST_MAIN(tst_LevelMeter)
#include "tst_levelmeter.moc"

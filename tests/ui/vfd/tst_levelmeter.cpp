#include "ui/vfd/LevelMeter.h"
#include "ui/vfd/RenderHelpers.h"

#include <QPainter>
#include <QTest>

using namespace rvw::test;
using rvw::vfd::LevelMeter;

namespace {

QList<int> range(int from, int to)
{
    QList<int> r;
    for (int i = from; i <= to; ++i)
        r << i;
    return r;
}

// The segments shown at full colour (teal, then amber from 18, red from 24) along row y,
// for segments of the given width and pitch starting at x0.
QList<int> litSegments(const QImage &image, double x0, double pitch, int y)
{
    QList<int> lit;
    for (int i = 0; i < 28; ++i) {
        const QColor full = i < 18 ? expected::teal : i < 24 ? expected::amber : expected::red;
        if (sameColour(image.pixelColor(int(x0 + i * pitch), y), full))
            lit << i;
    }
    return lit;
}

} // namespace

class tst_LevelMeter : public QObject
{
    Q_OBJECT

private slots:
    void litSegments_data()
    {
        QTest::addColumn<double>("level");
        QTest::addColumn<double>("peak");
        QTest::addColumn<QList<int>>("lit");
        QTest::newRow("silence") << 0.0 << 0.0 << QList<int>();
        QTest::newRow("0.49 rounds up to 14") << 0.49 << 0.0 << range(0, 13);
        QTest::newRow("10.5 rounds away from zero") << 0.375 << 0.0 << range(0, 10);
        QTest::newRow("0.28 rounds to none") << 0.01 << 0.0 << QList<int>();
        QTest::newRow("full") << 1.0 << 1.0 << range(0, 27);
        QTest::newRow("peak marker alone") << 0.0 << 0.5 << QList<int>{13};
        QTest::newRow("peak marker above the bar") << 0.25 << 1.0 << (range(0, 6) << 27);
    }

    // One row drawn 320.5 pixels wide makes every segment exactly 10 pixels with 1.5 between.
    void litSegments()
    {
        QFETCH(double, level);
        QFETCH(double, peak);
        QFETCH(QList<int>, lit);
        QImage image(330, 10, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        LevelMeter().drawRow(painter, QRectF(0, 0, 320.5, 10), level, peak);
        QCOMPARE(::litSegments(image, 5, 11.5, 5), lit);
        QCOMPARE(image.pixelColor(10, 5).alpha(), 0); // the gaps stay empty
    }

    void levelsClampAndPeaksFall()
    {
        LevelMeter meter;
        meter.setLevels(1.4, -0.2);
        QCOMPARE(QList<double>({meter.leftLevel(), meter.rightLevel(), meter.leftPeak(), meter.rightPeak()}),
                 QList<double>({1.0, 0.0, 1.0, 0.0}));
        for (int call = 1; call <= 33; ++call) {
            meter.setLevels(qQNaN(), 0.0);
            QCOMPARE(meter.leftLevel(), 0.0);
            QVERIFY2(qAbs(meter.leftPeak() - (1.0 - 0.03 * call)) < 1e-9, qPrintable(QString::number(call)));
        }
        meter.setLevels(0.0, 0.0);
        QCOMPARE(meter.leftPeak(), 0.0);
        // A new level above the falling marker lifts it at once.
        meter.setLevels(0.2, 0.2);
        meter.setLevels(0.6, 0.0);
        QCOMPARE(meter.leftPeak(), 0.6);
        QVERIFY(qAbs(meter.rightPeak() - 0.17) < 1e-9);
        meter.reset();
        QCOMPARE(QList<double>({meter.leftLevel(), meter.rightLevel(), meter.leftPeak(), meter.rightPeak()}),
                 QList<double>({0.0, 0.0, 0.0, 0.0}));
    }

    // The whole widget: left row above the right, both below the scale unless it is hidden.
    void paintsBothRows_data()
    {
        QTest::addColumn<bool>("scale");
        QTest::addColumn<int>("leftY");
        QTest::addColumn<int>("rightY");
        QTest::newRow("with scale") << true << 16 << 28;
        QTest::newRow("without scale") << false << 5 << 17;
    }

    void paintsBothRows()
    {
        QFETCH(bool, scale);
        QFETCH(int, leftY);
        QFETCH(int, rightY);
        LevelMeter meter;
        meter.setScaleVisible(scale);
        QCOMPARE(meter.sizeHint().height(), scale ? 34 : 22);
        meter.resize(220, meter.sizeHint().height());
        meter.setLevels(1.0, 1.0);
        for (int i = 0; i < 10; ++i)
            meter.setLevels(0.5, 0.25); // peak-hold now 0.7: segment 19
        const QImage image = grabImage(meter);
        // Rows 206 wide from x 13: segments 5.91 wide every 7.41.
        const double pitch = (206 - 40.5) / 28 + 1.5;
        QCOMPARE(::litSegments(image, 16, pitch, leftY), range(0, 13) << 19);
        QCOMPARE(::litSegments(image, 16, pitch, rightY), range(0, 6) << 19);
    }
};

QTEST_MAIN(tst_LevelMeter)
#include "tst_levelmeter.moc"

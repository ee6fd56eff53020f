#include "ui/vfd/LevelMeter.h"
#include "ui/vfd/RenderHelpers.h"

#include <QTest>

using rvw::vfd::LevelMeter;

namespace {

// The 28 segments along row y, '#' lit at full strength and '.' unlit, for segments every
// `pitch` pixels from x0.
QString segments(const QImage &image, double x0, double pitch, int y)
{
    QString row;
    for (int i = 0; i < LevelMeter::kSegments; ++i)
        row += image.pixelColor(int(x0 + i * pitch), y).alpha() == 255 ? '#' : '.';
    return row;
}

} // namespace

class tst_LevelMeter : public QObject
{
    Q_OBJECT

private slots:
    void levelsClampAndPeaksFall()
    {
        LevelMeter meter;
        QStringList states;
        const auto state = [&] {
            states << QString::asprintf("%g %g %g %g", meter.leftLevel(), meter.rightLevel(),
                                        meter.leftPeak(), meter.rightPeak());
        };
        meter.setLevels(1.4, -0.2);
        state();
        for (int call = 1; call <= 34; ++call) {
            meter.setLevels(qQNaN(), 0.0);
            if (call >= 32) // 0.03 per call: 0.04, 0.01, then nothing left to fall
                state();
        }
        meter.setLevels(0.2, 0.2);
        meter.setLevels(0.6, 0.0); // a level above the falling marker lifts it at once
        state();
        meter.reset();
        state();
        QCOMPARE(states.join(" | "),
                 "1 0 1 0 | 0 0 0.04 0 | 0 0 0.01 0 | 0 0 0 0 | 0.6 0 0.6 0.17 | 0 0 0 0");
    }

    // The whole widget: the left row above the right, both below the scale unless it is hidden;
    // a level lights the nearest number of segments, 0.49 x 28 = 13.72 rounding up and 10.5
    // away from zero, and the falling peak-hold marker its own.
    void paintsBothRows()
    {
        LevelMeter meter;
        meter.setLevels(1.0, 1.0);
        for (int i = 0; i < 10; ++i)
            meter.setLevels(0.49, 0.375); // peak-hold now 0.7: segment 19
        QStringList rows;
        for (const bool scale : {true, false}) {
            meter.setScaleVisible(scale);
            meter.resize(220, meter.sizeHint().height());
            const QImage image = rvw::test::render(meter);
            // Rows 206 wide from x 13: segments 5.91 wide every 7.41.
            for (const int y : {5, 16, 20})
                rows << segments(image, 16, (206 - 40.5) / 28 + 1.5, y);
        }
        const QString left = "##############.....#........", right = "###########........#........";
        const QString none(28, '.');
        QCOMPARE(rows.join(' '), QStringList({none, left, left, left, right, right}).join(' '));
    }
};

QTEST_MAIN(tst_LevelMeter)
#include "tst_levelmeter.moc"

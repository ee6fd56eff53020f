#include "ui/vfd/Palette.h"
#include "ui/vfd/RenderHelpers.h"
#include "ui/vfd/SevenSegment.h"

#include <QHBoxLayout>
#include <QTest>

using rvw::vfd::SevenSegment;

namespace {

// Centre of segment a..g of a 34-pixel digit whose cell starts at x0.
QPoint segmentCentre(char segment, double x0)
{
    const double h = 0.135 * 34 / 2.0, xs[3] = {x0 + h, x0 + 0.28 * 34, x0 + 0.56 * 34 - h};
    const double ys[5] = {h, (h + 17) / 2, 17, (17 + 34 - h) / 2, 34 - h};
    // Column (left, middle, right) and row (top, upper half, middle, lower half, bottom) of a..g.
    const int i = segment - 'a', column[7] = {1, 2, 2, 1, 0, 0, 1}, row[7] = {0, 1, 3, 4, 3, 1, 2};
    return QPoint(int(xs[column[i]]), int(ys[row[i]]));
}

} // namespace

class tst_SevenSegment : public QObject
{
    Q_OBJECT

private slots:
    // Each character drawn after an 8, so its placement is checked too; unlit segments stay
    // faintly visible, and dimmed both fade.
    void segments()
    {
        SevenSegment display;
        display.resize(80, 34);
        QStringList lit;
        for (const QChar c : QStringLiteral("0123456789-_E ")) {
            display.setText(QStringLiteral("8") + c);
            const QImage image = rvw::test::render(display);
            QString on;
            for (const char s : QByteArray("abcdefg")) {
                const QColor pixel = image.pixelColor(segmentCentre(s, display.advanceFor('8')));
                QVERIFY(pixel.alpha() == 255);
                if (qAbs(pixel.green() - rvw::vfd::colour::teal().green()) < 3)
                    on += s;
            }
            lit << on;
        }
        QCOMPARE(lit.join(' '), "abcdef bc abdeg abcdg bcfg acdfg acdefg abc abcdefg abcdfg g d  ");
        display.setText(QStringLiteral("1"));
        display.setDimmed(true);
        const QImage dim = rvw::test::render(display);
        QVERIFY(dim.pixelColor(segmentCentre('b', 0)).alpha() == 120 &&
                dim.pixelColor(segmentCentre('a', 0)).alpha() == 70);
    }

    // The clock ticks through setText: a new time reaches the screen, and a longer one (past
    // ten hours) gets room in the layout at once.
    void growsAndRepaints()
    {
        QWidget window;
        auto *display = new rvw::test::PaintCounter<SevenSegment>(&window);
        auto *layout = new QHBoxLayout(&window);
        layout->addWidget(display);
        layout->addStretch();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_VERIFY(display->paints > 0);
        QCoreApplication::processEvents(); // no repaint left waiting
        const int paints = display->paints, width = display->width();
        display->setText(QStringLiteral("0:00:01"));
        QTRY_VERIFY(display->paints > paints);
        display->setText(QStringLiteral("10:00:01"));
        QTRY_VERIFY(display->width() > width && display->width() == display->sizeHint().width());
    }
};

QTEST_MAIN(tst_SevenSegment)
#include "tst_sevensegment.moc"

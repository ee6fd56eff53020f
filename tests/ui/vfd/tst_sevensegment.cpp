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
    const double h = 0.135 * 34 / 2.0, xL = x0 + h, xR = x0 + 0.56 * 34 - h;
    const double x = QByteArray("bc").contains(segment)   ? xR
                     : QByteArray("ef").contains(segment) ? xL
                                                          : (xL + xR) / 2;
    const double y = segment == 'a'                       ? h
                     : QByteArray("bf").contains(segment) ? (h + 17) / 2
                     : QByteArray("ce").contains(segment) ? (17 + 34 - h) / 2
                     : segment == 'd'                     ? 34 - h
                                                          : 17;
    return QPoint(int(x), int(y));
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
        const QImage dimmed = rvw::test::render(display);
        QCOMPARE(QStringLiteral("%1 %2")
                     .arg(dimmed.pixelColor(segmentCentre('b', 0)).alpha())
                     .arg(dimmed.pixelColor(segmentCentre('a', 0)).alpha()),
                 "120 70");
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
        display->setDigitHeight(7);
        QCOMPARE(display->digitHeight(), 8);
    }
};

QTEST_MAIN(tst_SevenSegment)
#include "tst_sevensegment.moc"

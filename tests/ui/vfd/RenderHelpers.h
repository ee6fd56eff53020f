#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <QWidget>

namespace rvw::test {

// The display palette as the widgets must show it, written out independently of the code.
namespace expected {
const QColor teal(0x3b, 0xeb, 0xd3);
const QColor amber(0xe0, 0xa3, 0x2b);
const QColor red(0xe0, 0x45, 0x2f);
const QColor unplayed(0x1e, 0x7d, 0x70);
const QColor ghost(0x11, 0x33, 0x2e);
const QColor scrubberBackground(0x03, 0x0b, 0x0a);
const QColor orange(0xe0, 0x8a, 0x2b);
} // namespace expected

// Counts paint events, to tell whether a setter asked for a repaint.
template <typename Widget> class PaintCounter : public Widget
{
public:
    using Widget::Widget;
    int paints = 0;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        ++paints;
        Widget::paintEvent(event);
    }
};

// The widget alone on a fully transparent image, so alpha values can be read back.
inline QImage renderTransparent(QWidget &widget)
{
    QImage image(widget.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

inline QImage grabImage(QWidget &widget)
{
    return widget.grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

// Colours compared channel by channel, with a little room for antialiasing round-off. Faint
// colours are stored premultiplied, so their red, green and blue come back coarser.
inline bool sameColour(const QColor &actual, const QColor &expected, int tolerance = 2)
{
    const int rgbTolerance = expected.alpha() > 0 ? qMax(tolerance, 300 / expected.alpha()) : 255;
    return qAbs(actual.red() - expected.red()) <= rgbTolerance &&
           qAbs(actual.green() - expected.green()) <= rgbTolerance &&
           qAbs(actual.blue() - expected.blue()) <= rgbTolerance &&
           qAbs(actual.alpha() - expected.alpha()) <= tolerance;
}

inline QString describe(const QColor &c)
{
    return QStringLiteral("rgba(%1,%2,%3,%4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alpha());
}

} // namespace rvw::test

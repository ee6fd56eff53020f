#pragma once

#include <QImage>
#include <QWidget>

namespace rvw::test {

// The widget alone on a fully transparent image, so alpha values can be read back.
inline QImage render(QWidget &widget)
{
    QImage image(widget.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// Counts paint events, to tell whether a change reaches the screen.
template <typename Widget> struct PaintCounter : Widget
{
    using Widget::Widget;
    int paints = 0;
    void paintEvent(QPaintEvent *event) override
    {
        ++paints;
        Widget::paintEvent(event);
    }
};

} // namespace rvw::test

#pragma once

#include <QColor>
#include <QPainter>
#include <QPen>
#include <QRectF>
#include <QString>
#include <QWidget>

// Colours and small painting helpers shared by the display widgets.
namespace rvw::vfd {

namespace colour {
inline QColor teal()
{
    return QColor(0x3b, 0xeb, 0xd3);
}
inline QColor amber()
{
    return QColor(0xe0, 0xa3, 0x2b);
}
inline QColor red()
{
    return QColor(0xe0, 0x45, 0x2f);
}
inline QColor legend()
{
    return QColor(0x17, 0xa0, 0x8e);
}
inline QColor unplayed()
{
    return QColor(0x1e, 0x7d, 0x70);
}
inline QColor ghost()
{
    return QColor(0x11, 0x33, 0x2e);
}
inline QColor scrubberBackground()
{
    return QColor(0x03, 0x0b, 0x0a);
}
inline QColor playhead()
{
    return QColor(0xe0, 0x8a, 0x2b);
}
inline QColor darkBackground()
{
    return QColor(0x04, 0x10, 0x0e);
}
inline QColor panelBorder()
{
    return QColor(0x12, 0x3a, 0x34);
}
} // namespace colour

// A 1-pixel border drawn on this rectangle lands on whole pixels.
inline QRectF frameOf(const QWidget *widget)
{
    return QRectF(0.5, 0.5, widget->width() - 1.0, widget->height() - 1.0);
}

inline QPen hairPen(const QColor &c)
{
    return QPen(c, 1.0, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
}

// The rounded, bordered box behind keys, badges and panels, with optional centred text.
void paintBox(QPainter &painter, const QRectF &frame, qreal radius, const QColor &border, const QColor &fill,
              const QString &text = QString(), const QColor &textColour = QColor());

// A dotted frame just inside `widget` when it has the keyboard focus, so a user working by
// keyboard sees which key Space would press.
void paintFocusRing(QPainter &painter, const QWidget *widget);

} // namespace rvw::vfd

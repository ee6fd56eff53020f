#include "ui/vfd/Palette.h"

#include "ui/vfd/SevenSegment.h"

namespace rvw::vfd {

void paintBox(QPainter &painter, const QRectF &frame, qreal radius, const QColor &border, const QColor &fill,
              const QString &text, const QColor &textColour)
{
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(hairPen(border));
    painter.setBrush(fill);
    painter.drawRoundedRect(frame, radius, radius);
    if (text.isEmpty())
        return;
    painter.setFont(legendFont(8, true));
    painter.setPen(textColour);
    painter.drawText(frame, Qt::AlignCenter, text);
}

void paintFocusRing(QPainter &painter, const QWidget *widget)
{
    if (!widget->hasFocus())
        return;
    painter.save();
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(colour::playhead(), 1.0, Qt::DotLine));
    painter.drawRect(frameOf(widget).adjusted(2.0, 2.0, -2.0, -2.0));
    painter.restore();
}

} // namespace rvw::vfd

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

} // namespace rvw::vfd

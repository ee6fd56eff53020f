#include "ui/vfd/Panel.h"

#include "ui/vfd/Palette.h"
#include "ui/vfd/SevenSegment.h"

#include <QFontMetrics>
#include <QPainter>

namespace rvw::vfd {

ElidingLabel::ElidingLabel(QWidget *parent) : QWidget(parent), m_colour(colour::teal())
{
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void ElidingLabel::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    setToolTip(text);
    update();
}

void ElidingLabel::setColour(const QColor &colour)
{
    m_colour = colour;
    update();
}

void ElidingLabel::setPointSize(int pointSize)
{
    m_pointSize = pointSize;
    updateGeometry();
    update();
}

QSize ElidingLabel::sizeHint() const
{
    const QFontMetrics metrics(legendFont(m_pointSize, true));
    return QSize(metrics.horizontalAdvance(m_text), metrics.height() + 2);
}

QSize ElidingLabel::minimumSizeHint() const
{
    const QFontMetrics metrics(legendFont(m_pointSize, true));
    return QSize(40, metrics.height() + 2);
}

void ElidingLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QFont font = legendFont(m_pointSize, true);
    painter.setFont(font);
    painter.setPen(m_colour);
    const QString shown = QFontMetrics(font).elidedText(m_text, Qt::ElideMiddle, width());
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, shown);
}

Panel::Panel(QWidget *parent) : QWidget(parent)
{
    setAutoFillBackground(false);
}

void Panel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintBox(painter, frameOf(this), 4.0, colour::panelBorder(), colour::darkBackground());
}

} // namespace rvw::vfd

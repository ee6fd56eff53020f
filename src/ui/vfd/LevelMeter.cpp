#include "ui/vfd/LevelMeter.h"

#include "ui/vfd/Palette.h"
#include "ui/vfd/SevenSegment.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace rvw::vfd {

namespace {

double clampLevel(double value)
{
    if (std::isnan(value))
        return 0.0;
    return std::clamp(value, 0.0, 1.0);
}

QColor segmentColour(int index)
{
    const double position = index / double(LevelMeter::kSegments);
    if (position < 0.62)
        return colour::teal();
    if (position < 0.85)
        return colour::amber();
    return colour::red();
}

} // namespace

LevelMeter::LevelMeter(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void LevelMeter::setLevels(double left, double right)
{
    m_left = clampLevel(left);
    m_right = clampLevel(right);
    m_leftPeak = std::max(m_leftPeak - kPeakFall, m_left);
    m_rightPeak = std::max(m_rightPeak - kPeakFall, m_right);
    update();
}

void LevelMeter::setScaleVisible(bool visible)
{
    m_scaleVisible = visible;
    updateGeometry();
    update();
}

void LevelMeter::reset()
{
    m_left = m_right = m_leftPeak = m_rightPeak = 0.0;
    update();
}

QSize LevelMeter::sizeHint() const
{
    return QSize(220, m_scaleVisible ? 34 : 22);
}

void LevelMeter::drawRow(QPainter &painter, const QRectF &rect, double level, double peak) const
{
    const double gap = 1.5;
    const double s = (rect.width() - gap * (kSegments - 1)) / kSegments;
    const long litCount = std::lround(level * kSegments);
    const long peakIndex = std::lround(peak * kSegments) - 1;
    for (int i = 0; i < kSegments; ++i) {
        const QRectF segment(rect.x() + i * (s + gap), rect.y(), s, rect.height());
        QColor c = segmentColour(i);
        if (!(i < litCount || i == peakIndex)) {
            c = c.darker(320);
            c.setAlpha(150);
        }
        painter.fillRect(segment, c);
    }
}

void LevelMeter::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, false);
    const double w = width();
    double top = 0.0;
    if (m_scaleVisible) {
        static const char *const labels[10] = {"\u221e", "30", "20", "15", "10", "7", "5", "3", "1", "0"};
        painter.setFont(legendFont(6, false));
        painter.setPen(colour::legend());
        for (int i = 0; i < 10; ++i) {
            const double x = 14.0 + std::pow(i / 9.0, 0.8) * (w - 14.0);
            painter.drawText(QRectF(x - 9.0, 0.0, 18.0, 10.0), Qt::AlignCenter, QString::fromUtf8(labels[i]));
        }
        top = 11.0;
    }
    const double h = (height() - top - 2.0) * 0.5;

    painter.setFont(legendFont(6, true));
    painter.setPen(colour::legend());
    painter.drawText(QRectF(0.0, top, 11.0, h), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("L"));
    painter.drawText(QRectF(0.0, top + h + 2.0, 11.0, h), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("R"));

    drawRow(painter, QRectF(13.0, top + 1.0, w - 14.0, h - 2.0), m_left, m_leftPeak);
    drawRow(painter, QRectF(13.0, top + h + 3.0, w - 14.0, h - 2.0), m_right, m_rightPeak);
}

} // namespace rvw::vfd

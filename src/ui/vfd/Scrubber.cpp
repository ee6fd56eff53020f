#include "ui/vfd/Scrubber.h"

#include "ui/vfd/Palette.h"
#include "ui/vfd/SevenSegment.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace rvw::vfd {

Scrubber::Scrubber(QWidget *parent) : QWidget(parent)
{
    setCursor(Qt::PointingHandCursor);
    setMouseTracking(false);
}

void Scrubber::setEnvelope(const QList<float> &peaks, qint64 durationMs)
{
    m_waveform = peaks;
    m_durationMs = durationMs;
    m_busy = false;
    update();
}

void Scrubber::setPosition(qint64 ms)
{
    if (ms == m_positionMs)
        return;
    m_positionMs = ms;
    update();
}

void Scrubber::setBusy(bool busy)
{
    m_busy = busy;
    update();
}

void Scrubber::clear()
{
    m_waveform.clear();
    m_durationMs = 0;
    m_positionMs = 0;
    m_busy = false;
    update();
}

void Scrubber::emitSeek(int x)
{
    if (m_durationMs < 1 || width() < 1)
        return;
    const double fraction = std::clamp(double(x) / width(), 0.0, 1.0);
    emit seekRequested(qint64(double(m_durationMs) * fraction));
}

void Scrubber::mousePressEvent(QMouseEvent *event)
{
    emitSeek(int(event->position().x()));
}

void Scrubber::mouseMoveEvent(QMouseEvent *event)
{
    if (event->buttons() & Qt::LeftButton)
        emitSeek(int(event->position().x()));
}

void Scrubber::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const int w = width();
    const double mid = height() * 0.5;
    painter.fillRect(rect(), colour::scrubberBackground());

    if (m_waveform.isEmpty()) {
        painter.setFont(legendFont(7, true));
        painter.setPen(colour::legend());
        painter.drawText(rect(), Qt::AlignCenter,
                         m_busy ? QStringLiteral("ANALYSING\u2026") : QStringLiteral("NO SIGNAL"));
        painter.setPen(hairPen(colour::ghost()));
        painter.drawLine(QPointF(0.0, mid), QPointF(w, mid));
        return;
    }

    const qint64 n = m_waveform.size();
    const double playX =
        m_durationMs > 0 ? std::clamp(double(m_positionMs) / double(m_durationMs), 0.0, 1.0) * w : 0.0;
    const QPen played = hairPen(colour::teal());
    const QPen unplayed = hairPen(colour::unplayed());
    for (int i = 0; i < w; ++i) {
        const qint64 start = qint64(i) * n / w;
        const qint64 end = std::min(std::max(qint64(i + 1) * n / w, start + 1), n);
        float v = 0.0f;
        for (qint64 b = start; b < end; ++b)
            v = std::max(v, m_waveform.at(b));
        const double half = std::max((height() - 4) * double(v) * 0.5, 1.0);
        painter.setPen(i <= playX ? played : unplayed);
        painter.drawLine(QPointF(i + 0.5, mid - half), QPointF(i + 0.5, mid + half));
    }

    if (m_durationMs > 0) {
        painter.setPen(hairPen(colour::playhead()));
        painter.drawLine(QPointF(playX, 0.0), QPointF(playX, height()));
    }
}

} // namespace rvw::vfd

#include "ui/vfd/Scrubber.h"

#include "ui/vfd/Palette.h"
#include "ui/vfd/SevenSegment.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace rvw::vfd {

Scrubber::Scrubber(QWidget *parent) : QWidget(parent)
{
    setCursor(Qt::PointingHandCursor);
    setMouseTracking(false);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(tr("Position"));
}

void Scrubber::setEnvelope(const QList<float> &peaks, qint64 durationMs, int bucketMs)
{
    m_waveform = peaks;
    m_bucketMs = std::max(0, bucketMs);
    m_durationMs = durationMs;
    m_busy = false;
    update();
}

void Scrubber::setTimeSpan(qint64 ms)
{
    if (ms == m_spanMs)
        return;
    m_spanMs = ms;
    update();
}

qint64 Scrubber::timeSpan() const
{
    return std::max(m_spanMs, m_durationMs);
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
    m_bucketMs = 0;
    m_positionMs = 0;
    m_busy = false;
    update();
}

void Scrubber::emitSeek(int x)
{
    const qint64 span = timeSpan();
    if (span < 1 || width() < 1)
        return;
    const double fraction = std::clamp(double(x) / width(), 0.0, 1.0);
    emit seekRequested(qint64(double(span) * fraction));
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

void Scrubber::keyPressEvent(QKeyEvent *event)
{
    constexpr qint64 kStepMs = 5000;
    const qint64 end = timeSpan();
    qint64 target = -1;
    switch (event->key()) {
    case Qt::Key_Left:
        target = m_positionMs - kStepMs;
        break;
    case Qt::Key_Right:
        target = m_positionMs + kStepMs;
        break;
    case Qt::Key_Home:
        target = 0;
        break;
    case Qt::Key_End:
        target = end;
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    if (end > 0)
        emit seekRequested(std::clamp<qint64>(target, 0, end));
}

void Scrubber::focusInEvent(QFocusEvent *event)
{
    QWidget::focusInEvent(event);
    update();
}

void Scrubber::focusOutEvent(QFocusEvent *event)
{
    QWidget::focusOutEvent(event);
    update();
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
        paintFocusRing(painter, this);
        return;
    }

    const qint64 n = m_waveform.size();
    const double bucketMs = m_bucketMs > 0     ? double(m_bucketMs)
                            : m_durationMs > 0 ? double(m_durationMs) / double(n)
                                               : 0.0;
    // A truncated copy still carries the buckets of what is there; the axis covers them all.
    const double span = std::max(double(timeSpan()), double(n) * bucketMs);
    const double playX = span > 0.0 ? std::clamp(double(m_positionMs) / span, 0.0, 1.0) * w : 0.0;
    const QPen played = hairPen(colour::teal());
    const QPen unplayed = hairPen(colour::unplayed());
    // With no time known at all the buckets fill the width.
    const double bucketsPerPixel = span > 0.0 ? span / bucketMs / double(w) : double(n) / double(w);
    for (int i = 0; i < w; ++i) {
        const qint64 start = qint64(std::floor(i * bucketsPerPixel + 1e-9));
        if (start >= n)
            break; // the audio ended before this column's time
        const qint64 end =
            std::min(std::max(qint64(std::floor((i + 1) * bucketsPerPixel + 1e-9)), start + 1), n);
        float v = 0.0f;
        for (qint64 b = start; b < end; ++b)
            v = std::max(v, m_waveform.at(b));
        const double half = std::max((height() - 4) * double(v) * 0.5, 1.0);
        painter.setPen(i <= playX ? played : unplayed);
        painter.drawLine(QPointF(i + 0.5, mid - half), QPointF(i + 0.5, mid + half));
    }

    if (span > 0.0) {
        painter.setPen(hairPen(colour::playhead()));
        painter.drawLine(QPointF(playX, 0.0), QPointF(playX, height()));
    }
    paintFocusRing(painter, this);
}

} // namespace rvw::vfd

#include "ui/vfd/Lamp.h"

#include "ui/vfd/Palette.h"
#include "ui/vfd/SevenSegment.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace rvw::vfd {

namespace {

QColor withAlpha(QColor c, int alpha)
{
    c.setAlpha(alpha);
    return c;
}

} // namespace

Lamp::Lamp(const QString &text, QWidget *parent) : QWidget(parent), m_text(text), m_colour(colour::teal())
{
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(text);
}

void Lamp::setText(const QString &text)
{
    m_text = text;
    setAccessibleName(text);
    updateGeometry();
    update();
}

void Lamp::setReservedText(const QString &text)
{
    m_reservedText = text;
    updateGeometry();
}

void Lamp::setOn(bool on)
{
    if (on == m_on)
        return;
    m_on = on;
    update();
}

void Lamp::setColour(const QColor &colour)
{
    m_colour = colour;
    update();
}

void Lamp::setEnabledLamp(bool enabled)
{
    m_enabled = enabled;
    setCursor(enabled ? Qt::PointingHandCursor : Qt::ArrowCursor);
    update();
}

QSize Lamp::sizeHint() const
{
    const QFontMetrics metrics(legendFont(8, true));
    const int textWidth =
        std::max(metrics.horizontalAdvance(m_text), metrics.horizontalAdvance(m_reservedText));
    return QSize(std::max(textWidth + 18, 46), metrics.height() + 10);
}

void Lamp::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_enabled) {
        event->ignore();
        return;
    }
    press();
}

void Lamp::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    if ((key != Qt::Key_Space && key != Qt::Key_Return && key != Qt::Key_Enter) || event->isAutoRepeat() ||
        !m_enabled) {
        QWidget::keyPressEvent(event);
        return;
    }
    press();
}

void Lamp::focusInEvent(QFocusEvent *event)
{
    QWidget::focusInEvent(event);
    update();
}

void Lamp::focusOutEvent(QFocusEvent *event)
{
    QWidget::focusOutEvent(event);
    update();
}

void Lamp::press()
{
    if (m_checkable) {
        m_on = !m_on;
        update();
        emit toggled(m_on);
    }
    emit clicked();
}

void Lamp::enterEvent(QEnterEvent *)
{
    m_hovered = true;
    update();
}

void Lamp::leaveEvent(QEvent *)
{
    m_hovered = false;
    update();
}

void Lamp::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QColor c = m_enabled ? m_colour : m_colour.darker(260);
    const bool highlighted = m_enabled && m_hovered;
    const QColor border = highlighted ? c.lighter(130) : c;
    const QColor fill = m_on ? c : withAlpha(c, highlighted ? 46 : 22);
    paintBox(painter, frameOf(this), 3.0, border, fill, m_text, m_on ? colour::darkBackground() : c);
    paintFocusRing(painter, this);
}

Badge::Badge(QWidget *parent) : QWidget(parent), m_colour(colour::teal())
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void Badge::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    updateGeometry();
    update();
}

void Badge::setColour(const QColor &colour)
{
    m_colour = colour;
    update();
}

void Badge::setActive(bool active)
{
    m_active = active;
    update();
}

QSize Badge::sizeHint() const
{
    const QFontMetrics metrics(legendFont(8, true));
    return QSize(metrics.horizontalAdvance(m_text) + 14, metrics.height() + 6);
}

void Badge::paintEvent(QPaintEvent *)
{
    if (m_text.isEmpty())
        return;
    QPainter painter(this);
    paintBox(painter, frameOf(this), 2.0, m_colour, m_active ? m_colour : withAlpha(m_colour, 28), m_text,
             m_active ? colour::darkBackground() : m_colour);
}

} // namespace rvw::vfd

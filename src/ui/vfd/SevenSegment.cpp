#include "ui/vfd/SevenSegment.h"

#include "ui/vfd/Palette.h"

#include <QFontDatabase>
#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace rvw::vfd {

namespace {

// Segments a..g as bits 0..6.
int segmentsFor(QChar c)
{
    switch (c.unicode()) {
    case '0':
        return 0b0111111;
    case '1':
        return 0b0000110;
    case '2':
        return 0b1011011;
    case '3':
        return 0b1001111;
    case '4':
        return 0b1100110;
    case '5':
        return 0b1101101;
    case '6':
        return 0b1111101;
    case '7':
        return 0b0000111;
    case '8':
        return 0b1111111;
    case '9':
        return 0b1101111;
    case '-':
        return 0b1000000;
    case '_':
        return 0b0001000;
    default:
        return 0;
    }
}

QPolygonF verticalSegment(double x, double y1, double y2, double h)
{
    return QPolygonF({QPointF(x, y1), QPointF(x + h, y1 + h), QPointF(x + h, y2 - h), QPointF(x, y2),
                      QPointF(x - h, y2 - h), QPointF(x - h, y1 + h)});
}

QPolygonF horizontalSegment(double y, double x1, double x2, double h)
{
    return QPolygonF({QPointF(x1, y), QPointF(x1 + h, y - h), QPointF(x2 - h, y - h), QPointF(x2, y),
                      QPointF(x2 - h, y + h), QPointF(x1 + h, y + h)});
}

} // namespace

QFont legendFont(int pointSize, bool bold)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(std::max(1, pointSize));
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    font.setLetterSpacing(QFont::PercentageSpacing, 112.0);
    return font;
}

SevenSegment::SevenSegment(QWidget *parent) : QWidget(parent), m_colour(colour::teal())
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void SevenSegment::setText(const QString &text)
{
    if (text == m_text)
        return;
    const bool lengthChanged = text.size() != m_text.size();
    m_text = text;
    if (lengthChanged)
        updateGeometry();
    update();
}

void SevenSegment::setDigitHeight(int height)
{
    m_digitHeight = std::max(8, height);
    updateGeometry();
    update();
}

void SevenSegment::setColour(const QColor &colour)
{
    m_colour = colour;
    update();
}

void SevenSegment::setDimmed(bool dimmed)
{
    if (dimmed == m_dimmed)
        return;
    m_dimmed = dimmed;
    update();
}

double SevenSegment::advanceFor(QChar c) const
{
    const double w = 0.56 * m_digitHeight;
    const double gap = 0.13 * m_digitHeight;
    if (c == QLatin1Char('.') || c == QLatin1Char(':'))
        return gap + 0.46 * w;
    if (c == QLatin1Char(' '))
        return gap + 0.5 * w;
    return gap + w;
}

QSize SevenSegment::sizeHint() const
{
    double width = 0.0;
    for (const QChar c : m_text)
        width += advanceFor(c);
    // The small allowance keeps rounding noise in the sum from adding a whole pixel.
    return QSize(int(std::ceil(width - 1e-9)), m_digitHeight);
}

void SevenSegment::drawDigit(QPainter &painter, QChar c, double x, double y) const
{
    const double hgt = m_digitHeight;
    const double w = 0.56 * hgt;
    const double t = 0.135 * hgt;
    const double r = 0.55 * t;

    QColor lit = m_colour;
    QColor ghost = colour::ghost();
    if (m_dimmed) {
        lit.setAlpha(120);
        ghost.setAlpha(70);
    }
    painter.setPen(Qt::NoPen);

    if (c == QLatin1Char(':')) {
        painter.setBrush(lit);
        painter.drawEllipse(QPointF(x + 0.23 * w, y + 0.34 * hgt), r, r);
        painter.drawEllipse(QPointF(x + 0.23 * w, y + 0.68 * hgt), r, r);
        return;
    }
    if (c == QLatin1Char('.')) {
        painter.setBrush(lit);
        painter.drawEllipse(QPointF(x + 0.23 * w, y + hgt - r), r, r);
        return;
    }

    const double h = t / 2.0;
    const double xL = x + h;
    const double xR = x + w - h;
    const double yTop = y + h;
    const double yMid = y + hgt / 2.0;
    const double yBot = y + hgt - h;
    const QPolygonF segments[7] = {
        horizontalSegment(yTop, xL, xR, h), // a
        verticalSegment(xR, yTop, yMid, h), // b
        verticalSegment(xR, yMid, yBot, h), // c
        horizontalSegment(yBot, xL, xR, h), // d
        verticalSegment(xL, yMid, yBot, h), // e
        verticalSegment(xL, yTop, yMid, h), // f
        horizontalSegment(yMid, xL, xR, h), // g
    };
    const int litSet = segmentsFor(c);
    for (int i = 0; i < 7; ++i) {
        painter.setBrush((litSet & (1 << i)) ? lit : ghost);
        painter.drawPolygon(segments[i], Qt::OddEvenFill);
    }
}

void SevenSegment::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const double y = (height() - m_digitHeight) * 0.5;
    double x = 0.0;
    for (const QChar c : m_text) {
        drawDigit(painter, c, x, y);
        x += advanceFor(c);
    }
}

} // namespace rvw::vfd

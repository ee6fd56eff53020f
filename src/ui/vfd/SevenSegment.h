#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QWidget>

class QPainter;

namespace rvw::vfd {

// The fixed-pitch font of every legend and label of the display: bold is weight 700,
// regular 400, letters spaced to 112 percent.
QFont legendFont(int pointSize, bool bold);

// Draws a short text (clock readouts) as seven-segment digits with vector geometry, so it
// scales to any digit height. Unlit segments stay faintly visible, as on a real display.
// Paints no background and lets clicks through to what lies beneath.
class SevenSegment : public QWidget
{
    Q_OBJECT
public:
    explicit SevenSegment(QWidget *parent = nullptr);

    void setText(const QString &text);
    QString text() const { return m_text; }
    // Never below 8 pixels.
    void setDigitHeight(int height);
    int digitHeight() const { return m_digitHeight; }
    void setColour(const QColor &colour);
    QColor colour() const { return m_colour; }
    void setDimmed(bool dimmed);
    bool isDimmed() const { return m_dimmed; }

    double advanceFor(QChar c) const;
    QSize sizeHint() const override;
    // A readout with a digit cut off would show a wrong time, so layouts may not squeeze it.
    QSize minimumSizeHint() const override { return sizeHint(); }
    // Draws one character with its cell's top-left corner at (x, y).
    void drawDigit(QPainter &painter, QChar c, double x, double y) const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text = QStringLiteral("0:00:00");
    int m_digitHeight = 34;
    QColor m_colour;
    bool m_dimmed = false;
};

} // namespace rvw::vfd

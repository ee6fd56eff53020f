#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

namespace rvw::vfd {

// One line of text shortened in the middle to fit; the full text is always in the tool
// tip. A long text never widens the layout.
class ElidingLabel : public QWidget
{
    Q_OBJECT
public:
    explicit ElidingLabel(QWidget *parent = nullptr);

    void setText(const QString &text);
    QString text() const { return m_text; }
    void setColour(const QColor &colour);
    QColor colour() const { return m_colour; }
    void setPointSize(int pointSize);
    int pointSize() const { return m_pointSize; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
    QColor m_colour;
    int m_pointSize = 9;
};

// The dark rounded display window behind a deck or the console.
class Panel : public QWidget
{
    Q_OBJECT
public:
    explicit Panel(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace rvw::vfd

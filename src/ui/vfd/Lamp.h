#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

namespace rvw::vfd {

// An illuminated push-button, or a latching key when checkable. "Enabled" here is the
// lamp's own state: a disabled lamp stays visible in a darker colour and ignores presses.
// It takes the keyboard focus like any button; Space or Enter presses it.
class Lamp : public QWidget
{
    Q_OBJECT
public:
    explicit Lamp(const QString &text, QWidget *parent = nullptr);

    void setText(const QString &text);
    QString text() const { return m_text; }
    // The lamp keeps room for this text too, so switching between the two legends does not
    // resize it and push its neighbours about.
    void setReservedText(const QString &text);
    // Emits nothing; only a click by the user signals.
    void setOn(bool on);
    bool isOn() const { return m_on; }
    void setColour(const QColor &colour);
    QColor colour() const { return m_colour; }
    void setEnabledLamp(bool enabled);
    bool isEnabledLamp() const { return m_enabled; }
    void setCheckable(bool checkable) { m_checkable = checkable; }
    bool isCheckable() const { return m_checkable; }
    bool isHovered() const { return m_hovered; }

    QSize sizeHint() const override;
    // A squeezed lamp would cut its legend in half ("PLAY" showing as "PLA").
    QSize minimumSizeHint() const override { return sizeHint(); }

signals:
    void clicked();
    void toggled(bool on);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void press();

    QString m_text;
    QString m_reservedText;
    QColor m_colour;
    bool m_on = false;
    bool m_checkable = false;
    bool m_hovered = false;
    bool m_enabled = true;
};

// A small indicator tag; paints nothing while its text is empty.
class Badge : public QWidget
{
    Q_OBJECT
public:
    explicit Badge(QWidget *parent = nullptr);

    void setText(const QString &text);
    QString text() const { return m_text; }
    // The lamp keeps room for this text too, so switching between the two legends does not
    // resize it and push its neighbours about.
    void setReservedText(const QString &text);
    void setColour(const QColor &colour);
    QColor colour() const { return m_colour; }
    void setActive(bool active);
    bool isActive() const { return m_active; }

    QSize sizeHint() const override;
    // Squeezed, the tag would cut its text off.
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
    QColor m_colour;
    bool m_active = false;
};

} // namespace rvw::vfd

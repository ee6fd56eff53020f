#pragma once

#include <QList>
#include <QWidget>

namespace rvw::vfd {

// Waveform overview of the loaded file with the play position; a click or a drag asks
// to seek there. The waveform is one 0..1 peak per time bucket of bucketMs. Both are drawn
// against a time axis that may be longer than the file (the longer of two compared copies),
// so a shorter copy ends early instead of being stretched. With the keyboard focus, Left and
// Right step 5 s back and on, Home and End go to either end.
class Scrubber : public QWidget
{
    Q_OBJECT
public:
    explicit Scrubber(QWidget *parent = nullptr);

    // Also ends the busy state.
    // bucketMs 0: the buckets share durationMs evenly.
    void setEnvelope(const QList<float> &peaks, qint64 durationMs, int bucketMs = 0);
    // The time the full width stands for; below the file's own duration that duration is used.
    void setTimeSpan(qint64 ms);
    qint64 timeSpan() const;
    void setPosition(qint64 ms);
    void setBusy(bool busy);
    void clear();

    QList<float> waveform() const { return m_waveform; }
    qint64 duration() const { return m_durationMs; }
    qint64 position() const { return m_positionMs; }
    bool isBusy() const { return m_busy; }

    // Emits seekRequested for pixel column x; x outside the widget seeks to the nearer end.
    void emitSeek(int x);

signals:
    void seekRequested(qint64 ms);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    QList<float> m_waveform;
    int m_bucketMs = 0;
    qint64 m_durationMs = 0;
    qint64 m_spanMs = 0;
    qint64 m_positionMs = 0;
    bool m_busy = false;
};

} // namespace rvw::vfd

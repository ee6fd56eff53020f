#pragma once

#include <QList>
#include <QWidget>

namespace rvw::vfd {

// Waveform overview of the loaded file with the play position; a click or a drag asks
// to seek there. The waveform is one 0..1 peak per time bucket.
class Scrubber : public QWidget
{
    Q_OBJECT
public:
    explicit Scrubber(QWidget *parent = nullptr);

    // Also ends the busy state.
    void setEnvelope(const QList<float> &peaks, qint64 durationMs);
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

private:
    QList<float> m_waveform;
    qint64 m_durationMs = 0;
    qint64 m_positionMs = 0;
    bool m_busy = false;
};

} // namespace rvw::vfd

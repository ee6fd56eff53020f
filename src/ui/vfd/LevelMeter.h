#pragma once

#include <QWidget>

class QPainter;

namespace rvw::vfd {

// Two-row (left/right) segmented bar meter with a falling peak-hold marker and an
// optional attenuation scale above the rows. Levels are 0..1 of full scale.
class LevelMeter : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kSegments = 28;
    // How far the peak-hold marker falls per setLevels call, in full scale.
    static constexpr double kPeakFall = 0.03;

    explicit LevelMeter(QWidget *parent = nullptr);

    // Values are clamped to 0..1; each peak-hold becomes max(peak - 0.03, level).
    void setLevels(double left, double right);
    void setScaleVisible(bool visible);
    bool isScaleVisible() const { return m_scaleVisible; }
    void reset();

    double leftLevel() const { return m_left; }
    double rightLevel() const { return m_right; }
    double leftPeak() const { return m_leftPeak; }
    double rightPeak() const { return m_rightPeak; }

    QSize sizeHint() const override;
    void drawRow(QPainter &painter, const QRectF &rect, double level, double peak) const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    double m_left = 0.0;
    double m_right = 0.0;
    double m_leftPeak = 0.0;
    double m_rightPeak = 0.0;
    bool m_scaleVisible = true;
};

} // namespace rvw::vfd

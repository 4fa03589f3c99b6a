#pragma once

#include <QWidget>

// A vertical bar gauge with the range 0 to 5: the red bar rises from the bottom edge and value v
// fills v fifths of the height, so each step lines up with a digit of the scale beside it.
class Gauge : public QWidget
{
    Q_OBJECT
public:
    static constexpr qint16 Min = 0;
    static constexpr qint16 Max = 5;

    explicit Gauge(QWidget *parent = nullptr);

    // A value outside the range is a run-time error, as with any control property.
    void setValue(qint16 value);
    qint16 value() const { return m_value; }

    // Top edge of the bar for `value`, in the gauge's own pixels.
    int fillLine(int value) const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    qint16 m_value = 0;
};

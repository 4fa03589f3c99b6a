#pragma once

#include <QLabel>

// The digits 5 down to 0 beside the gauge. The caption is a string of digits and runs of spaces
// that a narrow label once wrapped into one digit every four lines; word wrap here treats spaces
// differently, so each digit is drawn at the height of its gauge step instead.
class ScaleLabel : public QLabel
{
    Q_OBJECT
public:
    // `firstMiddle` is the middle of the first digit's line and `step` the distance between
    // digits, both in the label's own pixels.
    ScaleLabel(const QString &caption, double firstMiddle, double step, QWidget *parent = nullptr);

    // Middle of the line on which the digit at position `row` (0 for the top) stands.
    double digitMiddle(int row) const { return m_firstMiddle + row * m_step; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    double m_firstMiddle;
    double m_step;
};

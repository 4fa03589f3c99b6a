#include "quiz/scalelabel.h"

#include <QFontMetricsF>
#include <QPainter>

ScaleLabel::ScaleLabel(const QString &caption, double firstMiddle, double step, QWidget *parent)
    : QLabel(caption, parent), m_firstMiddle(firstMiddle), m_step(step)
{
    setFocusPolicy(Qt::NoFocus);
}

void ScaleLabel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Window));
    p.setPen(palette().color(QPalette::WindowText));
    p.setFont(font());
    const QFontMetricsF fm(font());
    int row = 0;
    for (const QString &word : text().split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        // Ascent and descent around the line's middle, as a wrapped line would stand.
        const double baseline = digitMiddle(row) + (fm.ascent() - fm.descent()) / 2.0;
        p.drawText(QPointF(0, baseline), word);
        ++row;
    }
}

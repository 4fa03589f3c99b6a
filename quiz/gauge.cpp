#include "quiz/gauge.h"

#include "common/look.h"
#include "common/runtimeerror.h"

#include <QPainter>

Gauge::Gauge(QWidget *parent) : QWidget(parent)
{
    setFocusPolicy(Qt::NoFocus);
}

void Gauge::setValue(qint16 value)
{
    if (value < Min || value > Max) {
        throw RuntimeError(
            ErrorNumber::InvalidPropertyValue,
            QStringLiteral("Mätaren kan inte visa värdet %1 (0 till 5).").arg(value));
    }
    m_value = value;
    // A screen reader reads the name, so the count goes into it.
    setAccessibleName(QStringLiteral("Kvar att svara: %1").arg(value));
    update();
}

int Gauge::fillLine(int value) const
{
    return height() - (height() * value + Max / 2) / Max;
}

void Gauge::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), PanelGrey);
    const int top = fillLine(m_value);
    p.fillRect(QRect(0, top, width(), height() - top), QColor(255, 0, 0));
}

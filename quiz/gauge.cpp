#include "quiz/gauge.h"

#include "common/look.h"
#include "common/runtimeerror.h"

#include <QAccessibleWidget>
#include <QPainter>

namespace {

// The gauge as a screen reader meets it: a progress bar whose value is the number of answers
// still to give, announced whenever it changes.
class GaugeAccessible : public QAccessibleWidget, public QAccessibleValueInterface
{
public:
    explicit GaugeAccessible(Gauge *gauge) : QAccessibleWidget(gauge, QAccessible::ProgressBar) {}

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Value ? QString::number(gauge()->value())
                                       : QAccessibleWidget::text(t);
    }
    QVariant currentValue() const override { return gauge()->value(); }
    // Only the quiz sets the count.
    void setCurrentValue(const QVariant &) override {}
    QVariant maximumValue() const override { return Gauge::Max; }
    QVariant minimumValue() const override { return Gauge::Min; }
    QVariant minimumStepSize() const override { return 1; }

private:
    const Gauge *gauge() const { return static_cast<const Gauge *>(widget()); }
};

QAccessibleInterface *gaugeAccessible(const QString &className, QObject *object)
{
    auto *gauge = qobject_cast<Gauge *>(object);
    return className == QLatin1String("Gauge") && gauge ? new GaugeAccessible(gauge) : nullptr;
}

} // namespace

Gauge::Gauge(QWidget *parent) : QWidget(parent)
{
    static const bool factoryInstalled = (QAccessible::installFactory(gaugeAccessible), true);
    Q_UNUSED(factoryInstalled);
    setFocusPolicy(Qt::NoFocus);
    setAccessibleName(QStringLiteral("Kvar att svara"));
}

void Gauge::setValue(qint16 value)
{
    if (value < Min || value > Max) {
        throw RuntimeError(
            ErrorNumber::InvalidPropertyValue,
            QStringLiteral("Mätaren kan inte visa värdet %1 (0 till 5).").arg(value));
    }
    m_value = value;
    QAccessibleValueChangeEvent changed(this, value);
    QAccessible::updateAccessibility(&changed);
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

#include "editor/checkbox.h"

#include "common/runtimeerror.h"

CheckBox::CheckBox(const QString &text, QWidget *parent) : QCheckBox(text, parent) {}

qint16 CheckBox::Value() const
{
    switch (checkState()) {
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    default:
        return 0;
    }
}

void CheckBox::setValue(qint16 value)
{
    switch (value) {
    case 0:
        setTristate(false);
        setCheckState(Qt::Unchecked);
        break;
    case 1:
        setTristate(false);
        setCheckState(Qt::Checked);
        break;
    case 2:
        setTristate(true);
        setCheckState(Qt::PartiallyChecked);
        break;
    default:
        throw RuntimeError(ErrorNumber::InvalidPropertyValue,
                           QStringLiteral("Värdet %1 kan inte ges till kryssrutan %2 (0, 1 "
                                          "eller 2 väntades).")
                               .arg(value)
                               .arg(objectName()));
    }
}

void CheckBox::nextCheckState()
{
    // A greyed box reads as ticked once the tristate flag is off, so decide first.
    const Qt::CheckState next = checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked;
    setTristate(false);
    setCheckState(next);
}

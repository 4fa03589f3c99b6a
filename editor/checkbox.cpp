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
        // The only value that comes from outside is the last line of pirvel.ini.
        throw RuntimeError(ErrorNumber::InvalidPropertyValue,
                           QStringLiteral("Rutan \"%1\" kan inte visa värdet %2: bara 0, 1 och 2 "
                                          "går.")
                               .arg(text(), QString::number(value)),
                           QStringLiteral("rätta sista raden i filen \"pirvel.ini\" till 0 eller "
                                          "1"));
    }
}

void CheckBox::nextCheckState()
{
    // A greyed box reads as ticked once the tristate flag is off, so decide first.
    const Qt::CheckState next = checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked;
    setTristate(false);
    setCheckState(next);
}

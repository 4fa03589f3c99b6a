#pragma once

#include <QCheckBox>

// A check box with a numeric Value: 0 clear, 1 ticked, 2 greyed. Only code can grey it; a
// click from the user always toggles between clear and ticked.
class CheckBox : public QCheckBox
{
    Q_OBJECT
public:
    explicit CheckBox(const QString &text, QWidget *parent = nullptr);

    qint16 Value() const;
    // Any other value is refused with a run-time error, so that a damaged pairing file cannot
    // leave the box in a state that saving would write back as something else.
    void setValue(qint16 value);

protected:
    void nextCheckState() override;
};

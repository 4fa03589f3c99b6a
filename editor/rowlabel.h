#pragma once

#include <QLabel>

// A label whose caption wraps word by word into centred lines set a fixed distance apart, so
// that the digits "1 2 3 4 5 " beside a list box stand level with its rows. An ordinary label
// would set the lines at the font's own line spacing, which differs from face to face.
class RowLabel : public QLabel
{
    Q_OBJECT
public:
    RowLabel(const QString &text, int lineHeight, QWidget *parent = nullptr);

    int lineHeight() const { return m_lineHeight; }
    // The wrapped lines as they are drawn.
    QStringList lines() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_lineHeight;
};

#include "editor/rowlabel.h"

#include <QPainter>

RowLabel::RowLabel(const QString &text, int lineHeight, QWidget *parent)
    : QLabel(text, parent), m_lineHeight(lineHeight)
{
    setTextFormat(Qt::PlainText);
}

QStringList RowLabel::lines() const
{
    const QFontMetrics metrics(font());
    const int width = contentsRect().width();
    QStringList result;
    QString line;
    for (const QString &word : text().split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString longer = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
        // The space after a word counts, as the caption ends every word with one: "1 2 "
        // does not fit the narrow label even where "1 2" would.
        if (!line.isEmpty() && metrics.horizontalAdvance(longer + QLatin1Char(' ')) > width) {
            result << line;
            line = word;
        } else {
            line = longer;
        }
    }
    if (!line.isEmpty())
        result << line;
    return result;
}

void RowLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    QRect row(contentsRect().left(), contentsRect().top(), contentsRect().width(), m_lineHeight);
    for (const QString &line : lines()) {
        painter.drawText(row, Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextDontClip, line);
        row.translate(0, m_lineHeight);
    }
}

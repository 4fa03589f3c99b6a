#pragma once

#include <QListWidget>

// A list box as the handlers know it: entries added at the end and removed by index, the index
// of the selected entry, and one Click for every pick the user makes, by mouse or by keys.
//
// Rows have a fixed height so that the numbered labels beside the chosen lists can put their
// digits level with the rows whatever font the platform substitutes.
class ListBox : public QListWidget
{
    Q_OBJECT
public:
    static constexpr int RowHeight = 16; // 240 twips

    explicit ListBox(QWidget *parent = nullptr);

    void AddItem(const QString &text);
    // An index outside the entries is a run-time error, as for the form arrays.
    void RemoveItem(int index);
    QString List(int index) const;
    int ListCount() const { return count(); }
    // The selected entry, -1 when none is selected.
    int ListIndex() const;

signals:
    void Click();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void checkEntry(int index) const;

    // The current row while the focus is elsewhere (see focusOutEvent).
    QPersistentModelIndex m_currentWhileAway;
};

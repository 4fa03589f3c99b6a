#include "editor/listbox.h"

#include "common/runtimeerror.h"
#include "common/swedish.h"

#include <QKeyEvent>
#include <QMouseEvent>

ListBox::ListBox(QWidget *parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(1);
    // Names are shown as they are, never as rich text or with their middle dropped.
    setTextElideMode(Qt::ElideNone);
}

void ListBox::AddItem(const QString &text)
{
    auto *item = new QListWidgetItem(text);
    item->setSizeHint(QSize(1, RowHeight));
    // The lists are narrow, and a long name is cut at their edge: hovering shows it whole.
    item->setToolTip(text);
    addItem(item);
}

void ListBox::checkEntry(int index) const
{
    if (index < 0 || index >= count()) {
        throw RuntimeError(
            ErrorNumber::InvalidPropertyValue,
            // The list is named as a screen reader names it, never by its inner name.
            QStringLiteral("Listan%1 har ingen rad %2; den har %3.")
                .arg(accessibleName().isEmpty() ? QString()
                                                : QStringLiteral(" \"%1\"").arg(accessibleName()),
                     QString::number(index + 1),
                     countOf(count(), QStringLiteral("rad"), QStringLiteral("rader"))));
    }
}

void ListBox::RemoveItem(int index)
{
    checkEntry(index);
    delete takeItem(index);
    // Qt would move the selection to the next entry; the handlers expect none to be selected.
    clearSelection();
    setCurrentItem(nullptr);
    m_currentWhileAway = QPersistentModelIndex();
}

QString ListBox::List(int index) const
{
    checkEntry(index);
    return item(index)->text();
}

int ListBox::ListIndex() const
{
    const QList<QListWidgetItem *> selected = selectedItems();
    return selected.isEmpty() ? -1 : row(selected.first());
}

void ListBox::keyPressEvent(QKeyEvent *event)
{
    const int before = ListIndex();
    QListWidget::keyPressEvent(event);
    if (ListIndex() >= 0 && ListIndex() != before)
        emit Click();
}

void ListBox::mouseReleaseEvent(QMouseEvent *event)
{
    QListWidget::mouseReleaseEvent(event);
    // A pick counts also when it lands on the entry already selected, so that clicking it
    // again previews it again.
    if (event->button() != Qt::LeftButton)
        return;
    const QModelIndex picked = indexAt(event->position().toPoint());
    if (picked.isValid() && picked.row() == ListIndex())
        emit Click();
}

// A screen reader takes the current row of every list for a focused one. With four lists side
// by side it would hear a focus in each, so a list keeps its current row only while it has the
// focus, and gets it back with the focus. The selection, which the handlers read, stays.
void ListBox::focusOutEvent(QFocusEvent *event)
{
    m_currentWhileAway = currentIndex();
    if (currentIndex().isValid())
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    QListWidget::focusOutEvent(event);
}

void ListBox::focusInEvent(QFocusEvent *event)
{
    if (!currentIndex().isValid() && m_currentWhileAway.isValid()) {
        // Without scrolling to it: a click that brings the focus must land where it was aimed.
        const bool scrolls = hasAutoScroll();
        setAutoScroll(false);
        selectionModel()->setCurrentIndex(m_currentWhileAway, QItemSelectionModel::NoUpdate);
        setAutoScroll(scrolls);
    }
    m_currentWhileAway = QPersistentModelIndex();
    QListWidget::focusInEvent(event);
}

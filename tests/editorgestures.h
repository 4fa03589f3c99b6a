#pragma once

// The editor's exercise folder and a user's gestures on its lists and buttons.

#include "tests/support/testsupport.h"

#include "common/program.h"
#include "editor/filelistbox.h"
#include "editor/form1.h"

#include <QTest>

// Start-up as main() runs it; false when it ended the program.
inline bool load(editor::Form1 &form)
{
    guarded([&] { form.Form_Load(); });
    if (program().ended)
        return false;
    form.show();
    return true;
}

// The entries of a list box, in order.
inline QStringList entries(const ListBox *list)
{
    QStringList names;
    for (int i = 0; i < list->count(); ++i)
        names << list->item(i)->text();
    return names;
}

// A user's mouse pick of the entry at `row`: press and release on it.
inline void pickRow(ListBox *list, int row)
{
    list->scrollToItem(list->item(row));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(row)).center());
}

inline void pick(ListBox *list, const QString &name)
{
    const QList<QListWidgetItem *> found =
        list->findItems(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
    QVERIFY2(found.size() == 1, qPrintable(name));
    pickRow(list, list->row(found.first()));
}

inline void press(QWidget *button)
{
    QTest::mouseClick(button, Qt::LeftButton);
}

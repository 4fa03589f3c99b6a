#pragma once

// The editor's exercise folder and a user's gestures on its lists and buttons.

#include "tests/support/testsupport.h"

#include "common/program.h"
#include "editor/filelistbox.h"
#include "editor/form1.h"

#include <QLabel>
#include <QPushButton>
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

// One side of the window as a user sees it: 0 the signs', 1 the pictures'.
struct EditorSide
{
    FileListBox *files;
    ListBox *chosen;
    QPushButton *button;
    QLabel *label;
    const qint16 *mode;
    const qint16 *count;
    QString fresh; // a file of the folder that is not chosen yet
};

inline EditorSide side(editor::Form1 &form, int which)
{
    if (which == 0)
        return {form.File1,     form.List1,      form.Command3, form.Label3[0],
                &form.SignMode, &form.SignCount, "ny.avi"};
    return {form.File2,        form.List2,         form.Command4, form.Label3[1],
            &form.PictureMode, &form.PictureCount, "ny.gif"};
}

// Takes entry `row` out of a side's chosen list and adds `name` at its end, as a user does.
inline void replaceEntry(const EditorSide &s, int row, const QString &name)
{
    pickRow(s.chosen, row);
    press(s.button);
    pick(s.files, name);
    press(s.button);
}

// The exercise's pirvel.ini with one side's names in place of the folder's.
inline QByteArray iniWith(int which, const QStringList &names, const QByteArray &flag = "1")
{
    return which == 0 ? ExerciseFolder::iniBytes(names, ExerciseFolder::pictures(), flag)
                      : ExerciseFolder::iniBytes(ExerciseFolder::signs(), names, flag);
}

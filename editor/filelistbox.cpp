#include "filelistbox.h"

#include "pairingfile.h"

#include <QDir>

FileListBox::FileListBox(const QString &pattern, QWidget *parent)
    : ListBox(parent), m_pattern(pattern), m_path(QDir::currentPath())
{
    Refresh();
}

QString FileListBox::FileName() const
{
    const int index = ListIndex();
    return index < 0 ? QString() : List(index);
}

void FileListBox::Refresh()
{
    clear();
    QDir dir(m_path);
    dir.setNameFilters(m_pattern.split(QLatin1Char(';'), Qt::SkipEmptyParts));
    // Without QDir::CaseSensitive the patterns ignore case; without QDir::Hidden and
    // QDir::System hidden files, sockets and devices stay out.
    dir.setFilter(QDir::Files);
    dir.setSorting(QDir::Name | QDir::IgnoreCase);
    const QStringList names = dir.entryList();
    for (const QString &name : names) {
        if (isStorableName(name))
            AddItem(name);
    }
}

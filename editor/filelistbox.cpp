#include "editor/filelistbox.h"

#include "common/exercisefile.h"
#include "common/pairingfile.h"

#include <QDir>

#include <algorithm>

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
    dir.setSorting(QDir::Unsorted);
    QStringList names = dir.entryList();
    // Alphabetical without regard to case, and names that differ only in case in a fixed
    // order (capitals first) rather than in the directory's own order.
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int folded = a.compare(b, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : a.compare(b, Qt::CaseSensitive) < 0;
    });
    for (const QString &name : names) {
        // QDir lists a symbolic link by the link, whatever it leads to; a link to a FIFO or a
        // device would then be offered as a picture or a video.
        if (isStorableName(name) && isRegularFile(dir.filePath(name)))
            AddItem(name);
    }
}

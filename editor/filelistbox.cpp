#include "editor/filelistbox.h"

#include "common/exercisefile.h"
#include "common/pairingfile.h"

#include <QDir>
#include <QFileInfo>
#include <QScrollBar>

#include <algorithm>

namespace {

// Marks a row that is listed but cannot be chosen.
constexpr int UnusableRole = Qt::UserRole + 1;

} // namespace

FileListBox::FileListBox(const QString &pattern, const QStringList &unusable, QWidget *parent)
    : ListBox(parent), m_pattern(pattern), m_unusable(unusable), m_path(QDir::currentPath())
{
    Refresh();
    m_watcher.addPath(m_path);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &FileListBox::followFolder);
}

QString FileListBox::FileName() const
{
    const int index = ListIndex();
    return index < 0 ? QString() : List(index);
}

bool FileListBox::isUsable(int index) const
{
    return index >= 0 && index < count() && !item(index)->data(UnusableRole).toBool();
}

int FileListBox::usableCount() const
{
    int n = 0;
    for (int i = 0; i < count(); ++i)
        n += isUsable(i) ? 1 : 0;
    return n;
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
        if (!isRegularFile(dir.filePath(name)))
            continue;
        AddItem(name);
        if (isStorableName(name) && !m_unusable.contains(QFileInfo(name).suffix().toLower()))
            continue;
        QListWidgetItem *row = item(count() - 1);
        row->setData(UnusableRole, true);
        row->setForeground(palette().color(QPalette::Disabled, QPalette::Text));
        const QString why = whyNotStorable(name);
        if (!why.isEmpty())
            row->setToolTip(QStringLiteral("%1: %2").arg(name, why));
    }
}

void FileListBox::followFolder()
{
    const QString selected = FileName();
    const int scrolled = verticalScrollBar()->value();
    {
        // The selection is put back by name, so a side armed with a file stays armed while
        // other files come and go.
        const QSignalBlocker quiet(this);
        Refresh();
        const QList<QListWidgetItem *> found =
            findItems(selected, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (!selected.isEmpty() && !found.isEmpty())
            setCurrentItem(found.first());
        verticalScrollBar()->setValue(scrolled);
    }
    // The file the side was armed with is gone or renamed: the side has nothing to add.
    if (!selected.isEmpty() && FileName() != selected)
        emit itemSelectionChanged();
    emit folderChanged();
}

QString FileListBox::whyNotStorable(const QString &name)
{
    if (isStorableName(name))
        return {};
    if (name.contains(QLatin1Char('"')))
        return QStringLiteral("namnet har ett citattecken (\"), som pirvel.ini inte kan spara");
    if (name.contains(QLatin1Char('\r')) || name.contains(QLatin1Char('\n')))
        return QStringLiteral("namnet har en radbrytning, som pirvel.ini inte kan spara");
    if (name.contains(QLatin1Char('\\')))
        return QStringLiteral("namnet har ett bakstreck (\\), som pirvel.ini inte kan spara");
    for (const uint c : name.toUcs4()) {
        const QString letter = QString::fromUcs4(reinterpret_cast<const char32_t *>(&c), 1);
        if (!isStorableName(letter + QLatin1Char('x'))) {
            return QStringLiteral("namnet har bokstaven \"%1\", som pirvel.ini inte kan spara")
                .arg(letter);
        }
    }
    return QStringLiteral("pirvel.ini kan inte spara namnet");
}

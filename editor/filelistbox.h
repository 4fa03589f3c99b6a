#pragma once

#include "editor/listbox.h"

#include <QFileSystemWatcher>
#include <QString>
#include <QStringList>

// A file list: the files of one directory whose names match a pattern list such as
// "*.avi;*.mov", in alphabetical order. The directory is the working directory at the moment
// the list is made and never changes, so the names it shows are bare names that the media
// window, the picture loader and the pairing file all resolve against that same directory.
// The list follows the directory while the program runs: a teacher copies files in, renames or
// removes them with the editor open, and the list shows them at once.
//
// Patterns match without regard to letter case ("*.avi" lists CLIP.AVI), as supervisors copy
// media from cameras and other systems that write upper-case extensions. Hidden files and files
// that are not regular files once symbolic links are followed are left out. A file that cannot
// go into the exercise (a name the pairing file cannot store, such as one with a quote or a
// letter outside Windows-1252, or an ending such as .heic that no installed reader can show) is
// listed greyed, so that the teacher sees it was found and can pick it to learn why.
class FileListBox : public ListBox
{
    Q_OBJECT
public:
    // `unusable` lists endings (lower case, no dot) that match the pattern but cannot be used.
    FileListBox(const QString &pattern, const QStringList &unusable = {},
                QWidget *parent = nullptr);

    QString Pattern() const { return m_pattern; }
    QString Path() const { return m_path; }
    // The bare name of the selected file, empty when none is selected.
    QString FileName() const;
    // How many of the listed files can go into the exercise.
    int usableCount() const;
    bool isUsable(int index) const;

    // Reads the directory again.
    void Refresh();

    // Why the pairing file cannot store `name`, in words a teacher can act on; empty when it can.
    static QString whyNotStorable(const QString &name);

signals:
    // The directory's files changed and the list with them.
    void folderChanged();

private:
    void followFolder();

    QString m_pattern;
    QStringList m_unusable;
    QString m_path;
    QFileSystemWatcher m_watcher;
};

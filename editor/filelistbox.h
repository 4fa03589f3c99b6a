#pragma once

#include "editor/listbox.h"

#include <QString>
#include <QStringList>

// A file list: the files of one directory whose names match a pattern list such as
// "*.avi;*.mov", in alphabetical order. The directory is the working directory at the moment
// the list is made and never changes, so the names it shows are bare names that the media
// window, the picture loader and the pairing file all resolve against that same directory.
//
// Patterns match without regard to letter case ("*.avi" lists CLIP.AVI), as supervisors copy
// media from cameras and other systems that write upper-case extensions. Hidden files, files
// that are not regular files once symbolic links are followed, and names that the pairing file
// cannot store (a quote, a line break, a '\', a character outside Windows-1252), are left out:
// offering them would only let the supervisor save an exercise that the quiz can never open.
class FileListBox : public ListBox
{
    Q_OBJECT
public:
    FileListBox(const QString &pattern, QWidget *parent = nullptr);

    QString Pattern() const { return m_pattern; }
    QString Path() const { return m_path; }
    // The bare name of the selected file, empty when none is selected.
    QString FileName() const;

    // Reads the directory again.
    void Refresh();

private:
    QString m_pattern;
    QString m_path;
};

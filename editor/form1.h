#pragma once

// The editor window. The supervisor previews the folder's videos and pictures and builds two
// numbered lists of five, signs on the left and their pictures on the right, row i of each
// forming pair i of pirvel.ini.
//
// Each side is a small state machine over its mode: a click in the file list arms adding that
// file, a click in the chosen list arms removing that entry, and the side's "Lägg till/Ta bort"
// button then does what is armed. Every action is one handler run to completion; the only
// yield point is the event pass in a video preview.
//
// A side acts only on what the user sees: the row that armed it must still be the one
// selected, or the side falls idle. A file that cannot be shown is not armed for adding; its
// preview's place says why instead, and the teacher's work goes on.

#include "common/pairingfile.h"
#include "common/runtimeerror.h"

#include <QRect>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class CheckBox;
class FileListBox;
class Form2;
class ImageBox;
class ListBox;
class MediaWindow;
class QFrame;
class QLabel;
class QPushButton;
class RowLabel;

namespace editor {

inline constexpr qint16 AddMode = 0;
inline constexpr qint16 RemoveMode = 1;
inline constexpr qint16 IdleMode = 2;

class Form1 : public QWidget
{
    Q_OBJECT
public:
    Form1();
    ~Form1() override;

    QLabel *Label2[2] = {};
    QPushButton *Command3 = nullptr;
    QLabel *Label3[2] = {};
    QPushButton *Command4 = nullptr;
    FileListBox *File1 = nullptr;
    RowLabel *Label1[2] = {};
    ListBox *List1 = nullptr;
    FileListBox *File2 = nullptr;
    ListBox *List2 = nullptr;
    MediaWindow *MCIWnd1 = nullptr;
    ImageBox *Image1 = nullptr;
    // Over each preview, shown only when the last file picked on that side could not be shown.
    QLabel *Label4[2] = {};
    // Under Label4, in the same places: what to put in a folder that has fewer than five usable
    // files on that side, until the side's first preview.
    QLabel *Label5[2] = {};
    QFrame *Picture1 = nullptr;
    CheckBox *Check1 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;

private:
    // One side of the window, the signs' or the pictures'. The two work alike; they differ
    // only in their preview and in where an addition takes its name (see the constructor).
    struct Side
    {
        FileListBox *files = nullptr;
        ListBox *chosen = nullptr;
        QLabel *name = nullptr;    // Label3 of the side
        QLabel *problem = nullptr; // Label4 of the side
        QLabel *guide = nullptr;   // Label5 of the side
        QWidget *preview = nullptr;
        QRect place;                               // the preview's place in the layout
        std::function<void(const QString &)> load; // opens a file in the preview, or throws
        std::function<void()> play;                // may yield to the event loop
        std::function<QString()> nameToAdd;        // read when the button adds
        qint16 count = 0;
        qint16 mode = 0;
        qint16 removeIndex = 0;
        // Counts the previews begun, so that one interrupted at its yield by a newer one
        // leaves the verdict to the newer.
        quint64 previews = 0;
    };
    Side m_sign;
    Side m_picture;

public:
    QString SelectedName;
    qint16 &SignCount = m_sign.count;
    qint16 &PictureCount = m_picture.count;
    qint16 ClickedIndex = 0;
    qint16 &SignMode = m_sign.mode;
    qint16 &PictureMode = m_picture.mode;
    qint16 &SignRemoveIndex = m_sign.removeIndex;
    qint16 &PictureRemoveIndex = m_picture.removeIndex;

    void Form_Load();
    // The cancel flag is left as it is, so closing always goes ahead.
    void Form_Unload(qint16 &Cancel);
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void File1_Click();
    void File2_Click();
    void List1_Click();
    void List2_Click();

    // Shows the window centred on the screen with the focus in File1, as at program start.
    void showCentred();

    // The backdrop while it is loaded.
    Form2 *backdrop() const { return m_backdrop.get(); }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void LoadPairingFile();
    void buildControls();
    void nameForScreenReaders();
    void connectHandlers();
    void previewSign();
    void fileClicked(Side &side);
    void chosenClicked(Side &side);
    void buttonPressed(Side &side);
    void showProblem(Side &side, const QString &name, const RuntimeError &error);
    void showProblem(Side &side, const QString &heading, const QString &name, const QString &cause,
                     const QString &detail);
    void updateGuidance();
    void followSelection();

    std::unique_ptr<Form2> m_backdrop;
    // What pirvel.ini was when it was read; "Spara" writes that file only.
    PairingFileState m_pairingFile;
};

} // namespace editor

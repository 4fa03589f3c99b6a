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

#include "runtimeerror.h"

#include <QString>
#include <QWidget>

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
    QFrame *Picture1 = nullptr;
    CheckBox *Check1 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;

    QString SelectedName;
    qint16 SignCount = 0;
    qint16 PictureCount = 0;
    qint16 ClickedIndex = 0;
    qint16 SignMode = 0;
    qint16 PictureMode = 0;
    qint16 SignRemoveIndex = 0;
    qint16 PictureRemoveIndex = 0;

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
    void connectHandlers();
    void previewSign();
    void showProblem(int side, const QString &name, const RuntimeError &error);
    void followSelection();

    std::unique_ptr<Form2> m_backdrop;
    // Counts the sign previews begun, so that one interrupted at its yield by a newer one
    // leaves the verdict to the newer.
    quint64 m_signPreviews = 0;
};

} // namespace editor

#pragma once

#include <QPointer>
#include <QWidget>

// The black window that covers the screen behind the main window of either program, so a
// learner sees nothing but the exercise. It has no controls and no handlers: the main window
// loads and shows it at start-up and unloads it when it closes itself.
//
// Everything that depends on the desktop's window system lives here, behind these few calls:
// which window system the program talks to, the task-bar states, the stacking of the two
// windows, the activation and where the main window stands.
class Form2 : public QWidget
{
    Q_OBJECT
public:
    Form2();
    ~Form2() override;

    // Visible over the whole screen; it keeps `mainWindow` in front of itself, hands it the
    // activation whenever the black is clicked and brings it back when it is minimised. Call
    // it before `mainWindow` is shown.
    void showBackdrop(QWidget *mainWindow);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    void holdMainWindowAbove();
    void handActivationBack();
    void holdMainWindowInside();
    void placeMainWindowInside();

    QPointer<QWidget> m_mainWindow;
    QWidget *m_caption = nullptr; // the main window's title bar, where the backdrop holds it
};

// Call first in main(), before the QApplication exists: chooses the window system the program
// talks to and names the desktop entry (without ".desktop") that the program's windows belong
// to, so that a desktop shows that entry's name and icon for them.
void chooseWindowSystem(const QString &desktopEntry);

// Asks the window manager to show no task-bar or pager entry for the top-level `window`; call
// it before the window is first shown. Does nothing where there is no X server.
void keepOffTaskBar(QWidget *window);

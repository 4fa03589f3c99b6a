#pragma once

#include <QPointer>
#include <QWidget>

// The black window that covers the screen behind the main window of either program, so a
// learner sees nothing but the exercise. It has no controls and no handlers: the main window
// loads and shows it at start-up and unloads it when it closes itself.
class Form2 : public QWidget
{
    Q_OBJECT
public:
    Form2();

    // Visible, maximised over the screen; it keeps `mainWindow` in front of itself and hands
    // it the activation whenever the black is clicked. Call it before `mainWindow` is shown.
    void showBackdrop(QWidget *mainWindow);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void holdMainWindowAbove();

    QPointer<QWidget> m_mainWindow;
};

// Asks the window manager to show no task-bar or pager entry for the top-level `window`; call
// it before the window is first shown. Does nothing where there is no X server.
void keepOffTaskBar(QWidget *window);

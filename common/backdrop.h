#pragma once

#include <QWidget>

// The black window that covers the screen behind the main window of either program, so a
// learner sees nothing but the exercise. It has no controls and no handlers: the main window
// loads and shows it at start-up and unloads it when it closes itself.
class Form2 : public QWidget
{
    Q_OBJECT
public:
    Form2();

    // Visible, maximised over the screen, without taking the activation from the main window,
    // which it keeps in front of itself.
    void showBackdrop(QWidget *mainWindow);
};

// Asks the window manager to show no task-bar or pager entry for the top-level `window`; call
// it before the window is first shown. Does nothing where there is no X server.
void keepOffTaskBar(QWidget *window);

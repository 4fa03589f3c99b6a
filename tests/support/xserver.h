#pragma once

// A private X server for the tests that run a real program on a real display: Xvfb on a free
// display number and, when asked, one of the window managers that users have, started as
// their desktops start it. DISPLAY is set for this process and whatever it starts. Both go
// away with the object.
//
// "wayland" and "wayland-no-x11" start a Wayland session instead: mutter as a nested
// compositor drawing on the Xvfb, with its Xwayland or without any X server, and the
// environment set as such a session sets it. The screen the user sees is then the Xvfb's,
// named in PIRVEL_SCREEN_DISPLAY; DISPLAY names the Xwayland, or is unset.

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QRect>
#include <QString>
#include <QStringList>
#include <sys/types.h>

class XServer
{
public:
    XServer() = default;
    ~XServer() { stop(); }
    XServer(const XServer &) = delete;
    XServer &operator=(const XServer &) = delete;

    // An empty name starts a bare server. With a window manager, returns once it manages
    // windows.
    bool start(const QString &windowManager = QString(), const QByteArray &screen = "1024x768x24");
    void stop();
    QString error() const { return m_error; }

private:
    bool startCompositor(bool withX);
    void startWindowManager(const QList<QByteArray> &args);
    void removeCompositorLeftovers(pid_t group);

    pid_t m_xvfb = -1;
    pid_t m_windowManager = -1; // leader of its own process group, with its session bus
    int m_reaper = -1;          // ends them should this process end without stop()
    QString m_error;
    QByteArray m_runtimeDir;
    QList<int> m_xwaylandDisplays; // numbers whose socket and lock the compositor leaves
    pid_t m_compositor = -1;       // as its lock files name it
};

// The X display whose screen the user sees (where clicks go and pictures are taken).
QByteArray screenDisplay();
// That screen as it is now; a null image without a connection.
QImage grabScreen();

// What a user sees of a program that shows its main window in front of a black backdrop on
// the current DISPLAY, under a window manager: the program `pid` has a window whose title
// begins with `mainTitle` and one more top-level window, the backdrop. Checked: the main window is
// shown in front (its light-yellow fill on the screen where it lies, black around it), it is the
// active window, the backdrop covers the screen (or the window manager's work area) and has no
// task-bar button, and the main window has one exactly when `mainHasTaskBarButton`. Returns the
// faults found, and where the main window's client area lies on the screen in `mainRect`.
// Without an X server only the screen tells: the light-yellow client area must stand whole in
// the middle of the black.
QStringList checkMainInFront(qint64 pid, const QString &mainTitle, bool mainHasTaskBarButton,
                             QRect *mainRect = nullptr);

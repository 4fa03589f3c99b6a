#include "common/backdrop.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include <xcb/xcb.h>

#include "common/twips.h"

namespace {

xcb_atom_t internAtom(xcb_connection_t *c, const char *name)
{
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(qstrlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    free(reply);
    return atom;
}

} // namespace

// Window managers read a window's initial states when it is first mapped; Qt adds its own
// (maximised, below) to what is already there.
void keepOffTaskBar(QWidget *window)
{
    // The offscreen platform offers the same interface without a connection.
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *c = x11 ? x11->connection() : nullptr;
    if (!c)
        return;
    const xcb_atom_t states[] = {internAtom(c, "_NET_WM_STATE_SKIP_TASKBAR"),
                                 internAtom(c, "_NET_WM_STATE_SKIP_PAGER")};
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, xcb_window_t(window->winId()),
                        internAtom(c, "_NET_WM_STATE"), XCB_ATOM_ATOM, 32, 2, states);
    xcb_flush(c);
}

Form2::Form2()
    // An ordinary top-level window, so that it covers the other programs' windows. A Qt::Tool,
    // a dialog or a splash screen would be made transient for the whole application, and
    // several window managers keep such a window above all of the application's windows: the
    // learner would see black. It is activated when it is shown, since some window managers
    // put a window that is not below the active one, behind the other programs' windows.
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QString());
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    setGeometry(twipsRect(0, 0, 4680, 3195));
    keepOffTaskBar(this);
}

void Form2::showBackdrop(QWidget *mainWindow)
{
    // Without a window manager a maximise request is not acted on, so take the size at once.
    if (QScreen *screen = QGuiApplication::primaryScreen())
        setGeometry(screen->geometry());
    showMaximized();
    // Every window manager keeps a window above the one it is transient for; a window kept
    // below all others instead would let other programs' windows show around the exercise.
    // The offscreen platform of the in-process tests has no window manager to stack anything,
    // and it would hand the activation back to the backdrop.
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        return;
    mainWindow->winId();
    mainWindow->windowHandle()->setTransientParent(windowHandle());
}

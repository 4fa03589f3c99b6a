#include "common/backdrop.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <vector>

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

xcb_connection_t *xcbConnection()
{
    // The offscreen platform offers the same interface without a connection.
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

// The kit's windows keep one size, so synchronised resizing has nothing to smooth for them. Under
// mutter on a busy machine the editor's still window showed black inside its frame in about one
// start in seven while it took part, and in one in thirty-six once it no longer did; the repaint
// after showing does the rest.
void leaveResizeSync(QWidget *window)
{
    xcb_connection_t *c = xcbConnection();
    if (!c)
        return;
    const auto id = xcb_window_t(window->winId());
    const xcb_atom_t protocols = internAtom(c, "WM_PROTOCOLS");
    const xcb_atom_t sync = internAtom(c, "_NET_WM_SYNC_REQUEST");
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, id, protocols, XCB_ATOM_ATOM, 0, 32), nullptr);
    if (!reply)
        return;
    const auto *first = static_cast<const xcb_atom_t *>(xcb_get_property_value(reply));
    std::vector<xcb_atom_t> kept(first, first + xcb_get_property_value_length(reply) / 4);
    free(reply);
    std::erase(kept, sync);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, protocols, XCB_ATOM_ATOM, 32,
                        uint32_t(kept.size()), kept.data());
    xcb_delete_property(c, id, internAtom(c, "_NET_WM_SYNC_REQUEST_COUNTER"));
    xcb_flush(c);
}

} // namespace

// Window managers read a window's initial states when it is first mapped; Qt adds its own
// (maximised, below) to what is already there.
void keepOffTaskBar(QWidget *window)
{
    xcb_connection_t *c = xcbConnection();
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
    leaveResizeSync(this);
}

void Form2::showBackdrop(QWidget *mainWindow)
{
    // Without a window manager a maximise request is not acted on, so take the size at once.
    if (QScreen *screen = QGuiApplication::primaryScreen())
        setGeometry(screen->geometry());
    m_mainWindow = mainWindow;
    leaveResizeSync(mainWindow);
    mainWindow->installEventFilter(this);
    showMaximized();
}

bool Form2::eventFilter(QObject *watched, QEvent *event)
{
    // Every window manager keeps a window above the one it is transient for, so a click on the
    // black can never bring the backdrop over the exercise; a window kept below all others
    // instead would let other programs' windows show around it. Qt clears WM_TRANSIENT_FOR of
    // an ordinary window each time it maps it, so the property is written once the main window
    // has been mapped: the manager follows the change.
    if (watched == m_mainWindow && event->type() == QEvent::Show)
        QMetaObject::invokeMethod(this, &Form2::holdMainWindowAbove, Qt::QueuedConnection);
    return QWidget::eventFilter(watched, event);
}

void Form2::holdMainWindowAbove()
{
    if (!m_mainWindow || !m_mainWindow->isVisible())
        return;
    // Without a window manager windows stack in the order they were made, and the main window's
    // may be the older one.
    m_mainWindow->raise();
    xcb_connection_t *c = xcbConnection();
    if (!c)
        return;
    const xcb_window_t parent = xcb_window_t(winId());
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, xcb_window_t(m_mainWindow->winId()),
                        XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 32, 1, &parent);
    xcb_flush(c);
    // Under mutter on a busy machine the compositor now and then kept showing black where a still
    // window had already painted, until the window painted again: it paints again a little later.
    for (int ms : {1000, 3000})
        QTimer::singleShot(ms, m_mainWindow, [window = m_mainWindow.data()] { window->update(); });
}

void Form2::changeEvent(QEvent *event)
{
    // A click on the black activates it under most window managers; the keys belong to the
    // exercise, so the activation goes straight back to it.
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && m_mainWindow &&
        m_mainWindow->isVisible())
        m_mainWindow->activateWindow();
    QWidget::changeEvent(event);
}

#include "common/backdrop.h"

#include <QBoxLayout>
#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
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

// The desktop entry's name on the window itself, where a desktop looks for it before it guesses
// from WM_CLASS: KDE Plasma reads the first property, GNOME Shell the second.
void nameDesktopEntry(QWidget *window)
{
    xcb_connection_t *c = xcbConnection();
    const QByteArray entry = QGuiApplication::desktopFileName().toUtf8();
    if (!c || entry.isEmpty())
        return;
    for (const char *name : {"_KDE_NET_WM_DESKTOP_FILE", "_GTK_APPLICATION_ID"})
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, xcb_window_t(window->winId()),
                            internAtom(c, name), internAtom(c, "UTF8_STRING"), 8,
                            uint32_t(entry.size()), entry.constData());
    xcb_flush(c);
}

// A Wayland compositor keeps the stacking, the activation and the place of a window to itself:
// a click on the black raised the backdrop over the exercise (mutter and weston), a main window
// made transient for the backdrop stood where the compositor liked and vanished behind it when
// minimised from Qt's own title bar. So there the backdrop is one full-screen window that holds
// the main window inside itself, in the middle.
bool compositorPlacesWindows()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

bool xServerAnswers()
{
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    const bool up = !xcb_connection_has_error(c);
    xcb_disconnect(c);
    return up;
}

// The server's present time, from a property change on a window of a connection of its own (Qt
// reads the events of its connection itself).
xcb_timestamp_t serverTimeNow()
{
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    xcb_timestamp_t now = XCB_CURRENT_TIME;
    if (!xcb_connection_has_error(c)) {
        const xcb_window_t probe = xcb_generate_id(c);
        const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(c, XCB_COPY_FROM_PARENT, probe,
                          xcb_setup_roots_iterator(xcb_get_setup(c)).data->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                          &events);
        xcb_change_property(c, XCB_PROP_MODE_APPEND, probe, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 0,
                            nullptr);
        xcb_flush(c);
        while (xcb_generic_event_t *event = xcb_wait_for_event(c)) {
            const bool changed = (event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY;
            if (changed)
                now = reinterpret_cast<xcb_property_notify_event_t *>(event)->time;
            free(event);
            if (changed)
                break;
        }
    }
    xcb_disconnect(c);
    return now;
}

// Qt asks the window manager for the activation with the time of the last event it has seen.
// When the manager has just moved the focus itself, that time can be older than the move and
// the request is refused: under xfwm4 on a busy machine the black kept the activation after the
// exercise was minimised and came back, in 3 runs of 30. The same request with the server's
// present time is not older than anything the manager did before it.
void activate(QWidget *window)
{
    window->activateWindow();
    xcb_connection_t *c = xcbConnection();
    if (!c)
        return;
    xcb_client_message_event_t ask{};
    ask.response_type = XCB_CLIENT_MESSAGE;
    ask.format = 32;
    ask.window = xcb_window_t(window->winId());
    ask.type = internAtom(c, "_NET_ACTIVE_WINDOW");
    ask.data.data32[0] = 1; // from an application
    ask.data.data32[1] = serverTimeNow();
    xcb_send_event(c, 0, xcb_setup_roots_iterator(xcb_get_setup(c)).data->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char *>(&ask));
    xcb_flush(c);
}

} // namespace

// The platform plugin is picked while the QApplication is built, from QT_QPA_PLATFORM, so the
// choice is made here, before it, and in the program itself rather than in its desktop entry
// or a launcher: the programs are also started from a terminal, by "Open with" and by the
// tests. An X server (Xwayland on a Wayland desktop) lets the kit keep the backdrop behind the
// main window on every desktop; a native Wayland client cannot, so a session-wide
// QT_QPA_PLATFORM=wayland (or "wayland;xcb") gives way when an X server answers. Any other
// value was set on purpose (offscreen, xcb, eglfs, vnc) and stands.
void chooseWindowSystem(const QString &desktopEntry)
{
    QGuiApplication::setDesktopFileName(desktopEntry);
    const QByteArray asked = qgetenv("QT_QPA_PLATFORM");
    if (!asked.isEmpty() && !asked.startsWith("wayland"))
        return;
    if (xServerAnswers())
        qputenv("QT_QPA_PLATFORM", "xcb");
    else if (asked.isEmpty() && (qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ||
                                 qgetenv("XDG_SESSION_TYPE") == "wayland"))
        qputenv("QT_QPA_PLATFORM", "wayland");
}

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
    nameDesktopEntry(this);
}

Form2::~Form2()
{
    // The main window held inside goes on after its backdrop: it unloads the backdrop itself
    // and the program ends when it closes.
    if (m_mainWindow && m_mainWindow->parentWidget() == this) {
        m_mainWindow->hide();
        m_mainWindow->setParent(nullptr);
    }
}

void Form2::showBackdrop(QWidget *mainWindow)
{
    // Without a window manager a maximise request is not acted on, so take the size at once.
    if (QScreen *screen = QGuiApplication::primaryScreen())
        setGeometry(screen->geometry());
    m_mainWindow = mainWindow;
    mainWindow->installEventFilter(this);
    if (compositorPlacesWindows()) {
        holdMainWindowInside();
        showFullScreen();
        return;
    }
    leaveResizeSync(mainWindow);
    nameDesktopEntry(mainWindow);
    showMaximized();
}

void Form2::holdMainWindowInside()
{
    // A plain title bar with the window's icon, caption and close box, since the main window
    // loses its frame here.
    m_caption = new QWidget(this);
    m_caption->setObjectName(QStringLiteral("caption"));
    m_caption->setAutoFillBackground(true);
    QPalette pal = m_caption->palette();
    pal.setColor(QPalette::Window, QColor(214, 214, 214));
    pal.setColor(QPalette::WindowText, Qt::black);
    m_caption->setPalette(pal);
    auto *row = new QHBoxLayout(m_caption);
    row->setContentsMargins(6, 3, 3, 3);
    auto *icon = new QLabel(m_caption);
    icon->setPixmap(m_mainWindow->windowIcon().pixmap(16, 16));
    auto *title = new QLabel(m_mainWindow->windowTitle(), m_caption);
    title->setAlignment(Qt::AlignCenter);
    auto *close = new QToolButton(m_caption);
    close->setText(QStringLiteral("\u2715"));
    close->setAutoRaise(true);
    close->setFocusPolicy(Qt::NoFocus);
    connect(close, &QToolButton::clicked, m_mainWindow, &QWidget::close);
    row->addWidget(icon);
    row->addWidget(title, 1);
    row->addWidget(close);
    m_caption->hide();
    m_mainWindow->setParent(this, Qt::Widget);
}

void Form2::placeMainWindowInside()
{
    if (!m_mainWindow || m_mainWindow->parentWidget() != this)
        return;
    const int captionHeight = m_caption->sizeHint().height();
    QRect frame(0, 0, m_mainWindow->width(), m_mainWindow->height() + captionHeight);
    frame.moveCenter(rect().center());
    m_caption->setGeometry(frame.x(), frame.y(), frame.width(), captionHeight);
    m_caption->setVisible(m_mainWindow->isVisible());
    const QPoint place(frame.x(), frame.y() + captionHeight);
    if (m_mainWindow->pos() != place)
        m_mainWindow->move(place);
}

void Form2::resizeEvent(QResizeEvent *event)
{
    placeMainWindowInside();
    QWidget::resizeEvent(event);
}

bool Form2::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_mainWindow)
        return QWidget::eventFilter(watched, event);
    if (m_mainWindow->parentWidget() == this) {
        // Each program places its main window on the screen as it shows it; held inside, it
        // stands in the middle of the black whatever it asked for.
        if (event->type() == QEvent::Show || event->type() == QEvent::Hide ||
            event->type() == QEvent::Move)
            QMetaObject::invokeMethod(this, &Form2::placeMainWindowInside, Qt::QueuedConnection);
        return QWidget::eventFilter(watched, event);
    }
    // Window managers that offer to minimise a window of fixed size anyway (openbox has the
    // button on every ordinary window) would leave only the black: the window comes back.
    if (event->type() == QEvent::WindowStateChange && m_mainWindow->isMinimized())
        QTimer::singleShot(0, m_mainWindow, [window = m_mainWindow.data()] {
            window->showNormal();
            activate(window);
        });
    // Every window manager keeps a window above the one it is transient for, so a click on the
    // black can never bring the backdrop over the exercise; a window kept below all others
    // instead would let other programs' windows show around it. Qt clears WM_TRANSIENT_FOR of
    // an ordinary window each time it maps it, so the property is written once the main window
    // has been mapped: the manager follows the change.
    if (event->type() == QEvent::Show)
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

void Form2::handActivationBack()
{
    if (m_mainWindow && m_mainWindow->isWindow() && m_mainWindow->isVisible())
        activate(m_mainWindow);
}

// Once in sixteen runs under mutter on Xwayland the black kept the activation after a click
// (none in nineteen since). The hand-back can come before Qt has seen the click and then asks
// with an older time than the click's, which a window manager may refuse; asked again at the
// click, it carries the click's own time.
void Form2::mousePressEvent(QMouseEvent *event)
{
    handActivationBack();
    QWidget::mousePressEvent(event);
}

void Form2::changeEvent(QEvent *event)
{
    // A click on the black activates it under most window managers; the keys belong to the
    // exercise, so the activation goes straight back to it.
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        handActivationBack();
    // Openbox minimises a window together with the one it is transient for.
    if (event->type() == QEvent::WindowStateChange && isMinimized())
        QTimer::singleShot(0, this, &QWidget::showMaximized);
    QWidget::changeEvent(event);
}

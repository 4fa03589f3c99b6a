#include "tests/support/xserver.h"

#include "tests/support/testsupport.h"

#include <QElapsedTimer>
#include <QImage>
#include <QList>
#include <QThread>

#include <xcb/xcb.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

template <typename T> std::unique_ptr<T, decltype(&free)> owned(T *reply)
{
    return {reply, &free};
}

// Starts `args` with its output on `out` and its errors on `err` (-1: as ours). A window
// manager gets a process group of its own, so that it ends together with its session bus.
pid_t spawn(QList<QByteArray> args, int out, int err, bool group)
{
    std::vector<char *> argv;
    for (QByteArray &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (group)
            ::setpgid(0, 0);
        if (out >= 0)
            ::dup2(out, 1);
        if (err >= 0)
            ::dup2(err, 2);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    if (pid > 0 && group)
        ::setpgid(pid, pid);
    return pid;
}

void endProcess(pid_t &pid, bool group)
{
    if (pid <= 0)
        return;
    ::kill(group ? -pid : pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    pid = -1;
}

// One connection to the server named by DISPLAY, with the few requests the checks need.
struct Connection
{
    Connection() : c(xcb_connect(nullptr, nullptr))
    {
        if (!xcb_connection_has_error(c))
            screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        root = screen ? screen->root : XCB_NONE;
    }
    ~Connection() { xcb_disconnect(c); }

    xcb_atom_t atom(const char *name)
    {
        auto r = owned(
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr));
        return r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    }
    QByteArray property(xcb_window_t w, const char *name)
    {
        auto r = owned(xcb_get_property_reply(
            c, xcb_get_property(c, 0, w, atom(name), XCB_GET_PROPERTY_TYPE_ANY, 0, 4096), nullptr));
        if (!r)
            return QByteArray();
        return QByteArray(static_cast<const char *>(xcb_get_property_value(r.get())),
                          xcb_get_property_value_length(r.get()));
    }
    QList<quint32> values(xcb_window_t w, const char *name) // a 32-bit property
    {
        const QByteArray bytes = property(w, name);
        QList<quint32> out(bytes.size() / 4);
        memcpy(out.data(), bytes.constData(), size_t(out.size()) * 4);
        return out;
    }
    bool viewable(xcb_window_t w)
    {
        auto r =
            owned(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr));
        return r && r->map_state == XCB_MAP_STATE_VIEWABLE;
    }
    QRect rectOnScreen(xcb_window_t w)
    {
        auto g = owned(xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr));
        auto t = owned(xcb_translate_coordinates_reply(
            c, xcb_translate_coordinates(c, w, root, 0, 0), nullptr));
        return g && t ? QRect(t->dst_x, t->dst_y, g->width, g->height) : QRect();
    }

    xcb_connection_t *const c;
    xcb_screen_t *screen = nullptr;
    xcb_window_t root;
};

// Xvfb on a display it picks, named in DISPLAY.
bool startXvfb(const QByteArray &screen, pid_t &xvfb)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    xvfb =
        spawn({"Xvfb", "-displayfd", "1", "-screen", "0", screen, "-nolisten", "tcp", "-noreset"},
              fds[1], -1, false);
    ::close(fds[1]);
    FILE *in = ::fdopen(fds[0], "r");
    char number[32] = {};
    const bool told = in && std::fgets(number, sizeof number, in) && number[0] != '\n';
    if (in)
        std::fclose(in);
    if (!told) {
        endProcess(xvfb, false);
        return false;
    }
    ::setenv("DISPLAY", (":" + QByteArray(number).trimmed()).constData(), 1);
    return true;
}

// Empty once the window manager `wm` manages windows: it has mapped and framed a probe window
// of ours (which goes with the connection), since several of them announce themselves on the
// root window before they handle a new window as they will later. Else what went wrong.
QString awaitManaged(pid_t &wm)
{
    Connection x;
    if (!x.screen || wm < 0)
        return QStringLiteral("no window manager, or no connection to %1")
            .arg(qEnvironmentVariable("DISPLAY"));
    const xcb_window_t probe = xcb_generate_id(x.c);
    xcb_create_window(x.c, XCB_COPY_FROM_PARENT, probe, x.root, 0, 0, 40, 30, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_map_window(x.c, probe);
    xcb_flush(x.c);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 30000) {
        int status = 0;
        if (::waitpid(wm, &status, WNOHANG) == wm) {
            wm = -1;
            return QStringLiteral("the window manager ended at start-up (status %1)").arg(status);
        }
        const QList<quint32> check = x.values(x.root, "_NET_SUPPORTING_WM_CHECK");
        if (!check.isEmpty() && x.values(check.first(), "_NET_SUPPORTING_WM_CHECK") == check &&
            !x.property(probe, "WM_STATE").isEmpty() &&
            x.values(x.root, "_NET_CLIENT_LIST").contains(probe))
            return QString();
        QThread::msleep(50);
    }
    return QStringLiteral("the window manager did not manage a window within 30 s");
}

} // namespace

bool XServer::start(const QString &windowManager, const QByteArray &screen)
{
    // Two servers starting at once may race for the same display number and one of them
    // gives up; the loser simply tries again.
    bool up = false;
    for (int attempt = 0; attempt < 5 && !(up = startXvfb(screen, m_xvfb)); ++attempt)
        ::usleep(200000);
    if (!up) {
        m_error = QStringLiteral("Xvfb could not be started");
        return false;
    }
    if (windowManager.isEmpty())
        return true;
    QList<QByteArray> args = {"dbus-run-session", "--", windowManager.toLocal8Bit()};
    if (windowManager == QLatin1String("mutter"))
        args << "--x11";
    args << "--replace";
    if (QStringList{"mutter", "metacity", "openbox"}.contains(windowManager))
        args << "--sm-disable";
    // Window managers talk a lot on a bare server; PIRVEL_WM_LOG keeps it for a look.
    const char *log = std::getenv("PIRVEL_WM_LOG");
    const int out =
        ::open(log ? log : "/dev/null", O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    m_windowManager = spawn(args, out, out, true);
    ::close(out);
    m_error = awaitManaged(m_windowManager);
    if (!m_error.isEmpty())
        stop();
    return m_error.isEmpty();
}

void XServer::stop()
{
    endProcess(m_windowManager, true);
    endProcess(m_xvfb, false);
}

QStringList checkMainInFront(qint64 pid, const QString &mainTitle, bool mainHasTaskBarButton,
                             QRect *mainRect)
{
    Connection x;
    if (!x.screen)
        return {QStringLiteral("no connection to the X server")};
    // The program's windows that the window manager manages and shows.
    const QList<quint32> listed = x.values(x.root, "_NET_CLIENT_LIST");
    xcb_window_t main = 0;
    xcb_window_t backdrop = 0;
    QRect backdropRect;
    for (xcb_window_t w : listed) {
        if (x.values(w, "_NET_WM_PID").value(0) != pid || !x.viewable(w))
            continue;
        const QRect r = x.rectOnScreen(w);
        if (QString::fromUtf8(x.property(w, "_NET_WM_NAME")).startsWith(mainTitle))
            main = w;
        else if (r.width() * r.height() > backdropRect.width() * backdropRect.height())
            backdrop = w, backdropRect = r;
    }
    if (!main || !backdrop)
        return {QStringLiteral("the main window or the backdrop is not on the screen")};

    QStringList faults;
    const QRect rect = x.rectOnScreen(main);
    if (mainRect)
        *mainRect = rect;
    const QRect whole(0, 0, x.screen->width_in_pixels, x.screen->height_in_pixels);
    QRect area = whole;
    const QList<quint32> work = x.values(x.root, "_NET_WORKAREA");
    if (work.size() >= 4)
        area = QRect(int(work[0]), int(work[1]), int(work[2]), int(work[3]));
    if (!backdropRect.contains(area))
        faults << QString::asprintf("the backdrop lies at %d,%d %dx%d, not over the screen",
                                    backdropRect.x(), backdropRect.y(), backdropRect.width(),
                                    backdropRect.height());
    const QList<quint32> active = x.values(x.root, "_NET_ACTIVE_WINDOW");
    if (active.value(0) != main)
        faults << QStringLiteral("the active window is 0x%1, not the main window 0x%2")
                      .arg(active.value(0), 0, 16)
                      .arg(main, 0, 16);
    // Said apart from the screen's colours, so that a black main window tells whether the
    // window manager stacked it below the backdrop or has not yet drawn what it stacked right.
    const QList<quint32> stacking = x.values(x.root, "_NET_CLIENT_LIST_STACKING");
    if (stacking.indexOf(main) < stacking.indexOf(backdrop))
        faults << QStringLiteral("the window manager stacks the main window below the backdrop");
    const xcb_atom_t skip = x.atom("_NET_WM_STATE_SKIP_TASKBAR");
    if (!x.values(backdrop, "_NET_WM_STATE").contains(skip))
        faults << QStringLiteral("the backdrop has a task-bar button");
    if (x.values(main, "_NET_WM_STATE").contains(skip) == mainHasTaskBarButton)
        faults << QStringLiteral("the main window has %1 task-bar button")
                      .arg(mainHasTaskBarButton ? "no" : "a");

    // Fill colour at three corners inside the main window, black in the screen around it.
    auto shot = owned(
        xcb_get_image_reply(x.c,
                            xcb_get_image(x.c, XCB_IMAGE_FORMAT_Z_PIXMAP, x.root, 0, 0,
                                          uint16_t(whole.width()), uint16_t(whole.height()), ~0u),
                            nullptr));
    if (!shot || shot->depth != 24)
        return faults << QStringLiteral("no screenshot of depth 24");
    const QImage screen(xcb_get_image_data(shot.get()), whole.width(), whole.height(),
                        QImage::Format_RGB32);
    const QRect inner = rect.adjusted(3, 3, -4, -4);
    const QPoint middle = rect.center();
    const QColor fill(255, 255, 128);
    const QList<QPair<QPoint, QColor>> expected = {
        {inner.topLeft(), fill},
        {inner.bottomLeft(), fill},
        {inner.bottomRight(), fill},
        {QPoint(rect.left() - 40, middle.y()), Qt::black},
        {QPoint(rect.right() + 40, middle.y()), Qt::black},
        {QPoint(middle.x(), rect.top() - 60), Qt::black}};
    for (const auto &[p, colour] : expected) {
        const bool seen = screen.rect().contains(p);
        if (!seen || !nearColour(screen.pixelColor(p), colour, 12))
            faults << QString::asprintf("at %d,%d the screen shows %s, not %s", p.x(), p.y(),
                                        seen ? qPrintable(screen.pixelColor(p).name()) : "nothing",
                                        qPrintable(colour.name()));
    }
    return faults;
}

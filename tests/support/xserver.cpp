#include "tests/support/xserver.h"

#include "tests/support/testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QList>
#include <QThread>

#include <xcb/xcb.h>

#include <algorithm>
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

// A watcher outside our process tree that ends what we started should we end without stop(),
// as a test killed at its time-out does: it learns each process (a negative number: a process
// group) through a pipe, forgets them all on a 0, and ends those it knows when the pipe closes.
// It keeps no other descriptor of ours open, so nobody waits on it for the test's output.
int startReaper()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    const pid_t middle = ::fork();
    if (middle == 0) {
        // Only async-signal-safe calls from here on: the test may have threads.
        if (::fork() != 0)
            ::_exit(0);
        ::setsid();
        const int in = fds[0];
        ::close_range(0, unsigned(in) - 1, 0);
        ::close_range(unsigned(in) + 1, ~0u, 0);
        pid_t known[16];
        int count = 0;
        long value = 0;
        bool negative = false;
        char c;
        while (::read(in, &c, 1) == 1) {
            if (c == '-') {
                negative = true;
            } else if (c >= '0' && c <= '9') {
                value = value * 10 + (c - '0');
            } else if (c == '\n') {
                if (value == 0)
                    count = 0;
                else if (count < 16)
                    known[count++] = pid_t(negative ? -value : value);
                value = 0;
                negative = false;
            }
        }
        for (int signal : {SIGTERM, SIGKILL}) {
            for (int i = 0; i < count; ++i)
                ::kill(known[i], signal);
            if (signal == SIGTERM && count > 0)
                ::sleep(2);
        }
        ::_exit(0);
    }
    ::close(fds[0]);
    if (middle > 0)
        ::waitpid(middle, nullptr, 0);
    return fds[1];
}

void tellReaper(int reaper, pid_t pid, bool group)
{
    if (reaper < 0 || pid <= 0)
        return;
    const QByteArray line = QByteArray::number(group ? -pid : pid) + '\n';
    [[maybe_unused]] const ssize_t n = ::write(reaper, line.constData(), size_t(line.size()));
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
    explicit Connection(const char *display = nullptr) : c(xcb_connect(display, nullptr))
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
        // An empty list has no storage to copy into.
        if (!out.isEmpty())
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

QStringList checkShownAt(const QRect &rect);
QStringList checkShownAlone(QRect *mainRect);

} // namespace

bool XServer::start(const QString &windowManager, const QByteArray &screen)
{
    // Two servers starting at once may race for the same display number and one of them
    // gives up; the loser simply tries again.
    if (m_reaper < 0)
        m_reaper = startReaper();
    bool up = false;
    for (int attempt = 0; attempt < 5 && !(up = startXvfb(screen, m_xvfb)); ++attempt)
        ::usleep(200000);
    tellReaper(m_reaper, m_xvfb, false);
    if (!up) {
        m_error = QStringLiteral("Xvfb could not be started");
        return false;
    }
    if (windowManager.isEmpty())
        return true;
    if (windowManager.startsWith(QLatin1String("wayland")))
        return startCompositor(windowManager == QLatin1String("wayland"));
    QList<QByteArray> args = {"dbus-run-session", "--", windowManager.toLocal8Bit()};
    if (windowManager == QLatin1String("mutter"))
        args << "--x11";
    args << "--replace";
    if (QStringList{"mutter", "metacity", "openbox"}.contains(windowManager))
        args << "--sm-disable";
    startWindowManager(args);
    m_error = awaitManaged(m_windowManager);
    if (!m_error.isEmpty())
        stop();
    return m_error.isEmpty();
}

// Window managers and compositors talk a lot on a bare server; PIRVEL_WM_LOG keeps it for a
// look. Each runs in a process group of its own, which the watcher ends should the test not.
void XServer::startWindowManager(const QList<QByteArray> &args)
{
    const char *log = std::getenv("PIRVEL_WM_LOG");
    const int out =
        ::open(log ? log : "/dev/null", O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    m_windowManager = spawn(args, out, out, true);
    tellReaper(m_reaper, m_windowManager, true);
    ::close(out);
}

void XServer::stop()
{
    const pid_t group = m_windowManager;
    endProcess(m_windowManager, true);
    removeCompositorLeftovers(group);
    endProcess(m_xvfb, false);
    if (m_reaper >= 0) {
        // All ended: the watcher forgets them, since their numbers may be given out again.
        [[maybe_unused]] const ssize_t n = ::write(m_reaper, "0\n", 2);
        ::close(m_reaper);
        m_reaper = -1;
    }
}

// The session's environment as a Wayland desktop sets it: WAYLAND_DISPLAY, XDG_SESSION_TYPE, and
// DISPLAY with XAUTHORITY for its Xwayland. Its Qt programs are told to use Wayland
// (PIRVEL_PROGRAM_PLATFORM), as some desktops tell every program, where there is an X server;
// without one nothing is said.
bool XServer::startCompositor(bool withX)
{
    const QByteArray screen = qgetenv("DISPLAY");
    char dir[] = "/tmp/pirvel-session-XXXXXX";
    if (!::mkdtemp(dir)) {
        m_error = QStringLiteral("no runtime folder");
        stop();
        return false;
    }
    m_runtimeDir = dir;
    ::setenv("XDG_RUNTIME_DIR", dir, 1);
    ::setenv("MUTTER_DEBUG_DUMMY_MODE_SPECS", "1024x768", 1);
    QList<QByteArray> args = {"dbus-run-session",  "--",       "mutter",
                              "--wayland",         "--nested", "--sm-disable",
                              "--wayland-display", "pirvel-0"};
    if (!withX)
        args << "--no-x11";
    startWindowManager(args);

    // Mutter takes the first free display numbers for its Xwayland (the lowest is the one for
    // programs) and writes its own pid into their lock files.
    QElapsedTimer clock;
    clock.start();
    QString auth;
    for (bool up = false; !up; QThread::msleep(100)) {
        if (clock.elapsed() > 30000 || ::waitpid(m_windowManager, nullptr, WNOHANG) != 0) {
            m_error = QStringLiteral("the nested compositor did not come up");
            stop();
            return false;
        }
        m_xwaylandDisplays.clear();
        const QDir tmp(QStringLiteral("/tmp"));
        for (const QString &lock : tmp.entryList({".X*-lock"}, QDir::Files | QDir::Hidden)) {
            QFile f(tmp.filePath(lock));
            const pid_t owner = f.open(QIODevice::ReadOnly) ? f.readAll().trimmed().toInt() : 0;
            if (owner > 0 && ::getpgid(owner) == m_windowManager) {
                m_xwaylandDisplays << lock.mid(2, lock.size() - 7).toInt();
                m_compositor = owner;
            }
        }
        const QStringList auths =
            QDir(QString::fromLocal8Bit(dir))
                .entryList({".mutter-Xwaylandauth.*"}, QDir::Files | QDir::Hidden);
        auth = auths.isEmpty() ? QString() : QString::fromLocal8Bit(dir) + '/' + auths.first();
        up = QFile::exists(QString::fromLocal8Bit(dir) + "/pirvel-0") &&
             (!withX || (!m_xwaylandDisplays.isEmpty() && !auth.isEmpty()));
    }
    ::setenv("PIRVEL_SCREEN_DISPLAY", screen.constData(), 1);
    ::setenv("WAYLAND_DISPLAY", "pirvel-0", 1);
    ::setenv("XDG_SESSION_TYPE", "wayland", 1);
    ::setenv("PIRVEL_PROGRAM_PLATFORM", withX ? "wayland" : "", 1);
    if (!withX) {
        ::unsetenv("DISPLAY");
        QThread::msleep(1000); // the compositor maps its output once its socket is there
        return true;
    }
    std::sort(m_xwaylandDisplays.begin(), m_xwaylandDisplays.end());
    ::setenv("DISPLAY", (':' + QByteArray::number(m_xwaylandDisplays.first())).constData(), 1);
    ::setenv("XAUTHORITY", auth.toLocal8Bit().constData(), 1);
    m_error = awaitManaged(m_windowManager);
    if (!m_error.isEmpty())
        stop();
    return m_error.isEmpty();
}

// Ended, mutter leaves the socket and the lock file of each of its Xwayland displays behind.
void XServer::removeCompositorLeftovers(pid_t group)
{
    // The compositor may outlive the session bus that started it by a moment, and would write
    // into its runtime folder while that goes.
    for (int i = 0; i < 100 && group > 0 && ::kill(-group, 0) == 0; ++i)
        QThread::msleep(50);
    for (int n : std::exchange(m_xwaylandDisplays, {})) {
        // Unless another server has taken the number since.
        QFile lock(QStringLiteral("/tmp/.X%1-lock").arg(n));
        if (!lock.open(QIODevice::ReadOnly) || lock.readAll().trimmed().toInt() != m_compositor)
            continue;
        lock.remove();
        QFile::remove(QStringLiteral("/tmp/.X11-unix/X%1").arg(n));
    }
    if (!m_runtimeDir.isEmpty())
        QDir(QString::fromLocal8Bit(std::exchange(m_runtimeDir, {}))).removeRecursively();
}

QByteArray screenDisplay()
{
    const QByteArray screen = qgetenv("PIRVEL_SCREEN_DISPLAY");
    return screen.isEmpty() ? qgetenv("DISPLAY") : screen;
}

QImage grabScreen()
{
    Connection x(screenDisplay().constData());
    if (!x.screen)
        return QImage();
    const int w = x.screen->width_in_pixels;
    const int h = x.screen->height_in_pixels;
    auto shot = owned(xcb_get_image_reply(
        x.c,
        xcb_get_image(x.c, XCB_IMAGE_FORMAT_Z_PIXMAP, x.root, 0, 0, uint16_t(w), uint16_t(h), ~0u),
        nullptr));
    if (!shot || shot->depth != 24)
        return QImage();
    return QImage(xcb_get_image_data(shot.get()), w, h, QImage::Format_RGB32).copy();
}

QStringList checkMainInFront(qint64 pid, const QString &mainTitle, bool mainHasTaskBarButton,
                             QRect *mainRect)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return checkShownAlone(mainRect);
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

    return faults << checkShownAt(rect);
}

namespace {

// Fill colour at three corners inside the main window's client area `rect`, black in the screen
// around it.
QStringList checkShownAt(const QRect &rect)
{
    const QImage screen = grabScreen();
    if (screen.isNull())
        return {QStringLiteral("no screenshot of depth 24")};
    QStringList faults;
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

// Without an X server: the rows where the fill colour makes up most of a window's width (a
// picture or an icon holds a few such pixels, never a whole row).
// Where the main window's fill stands on the screen.
QRect fillOnScreen(const QImage &screen)
{
    const QColor fill(255, 255, 128);
    QRect rect;
    for (int y = 0; y < screen.height(); ++y) {
        int left = -1, right = -1, count = 0;
        for (int x = 0; x < screen.width(); ++x)
            if (nearColour(screen.pixelColor(x, y), fill, 12)) {
                right = x, ++count;
                if (left < 0)
                    left = x;
            }
        if (count > 200)
            rect |= QRect(left, y, right - left + 1, 1);
    }
    return rect;
}

QStringList checkShownAlone(QRect *mainRect)
{
    const QImage screen = grabScreen();
    if (screen.isNull())
        return {QStringLiteral("no screenshot of the screen")};
    const QRect rect = fillOnScreen(screen);
    // A loaded compositor may show a frame of the window before its last paint: only a picture
    // that holds still is what the user sees.
    QThread::msleep(150);
    if (fillOnScreen(grabScreen()) != rect)
        return {QStringLiteral("the main window is still being drawn")};
    if (mainRect)
        *mainRect = rect;
    if (rect.isEmpty())
        return {QStringLiteral("no main window on the screen")};
    QStringList faults = checkShownAt(rect);
    // Its title bar stands above it, so the client area stands a little below the middle.
    const QPoint off = rect.center() - screen.rect().center();
    if (qAbs(off.x()) > 2 || off.y() < 0 || off.y() > 30)
        faults << QString::asprintf("the main window stands %d,%d from the middle", off.x(),
                                    off.y());
    return faults;
}

} // namespace

#include "tests/support/xserver.h"

#include <QColor>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QThread>

#include <xcb/xcb.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

void endProcess(pid_t &pid, bool group)
{
    if (pid <= 0)
        return;
    ::kill(group ? -pid : pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    pid = -1;
}

// One connection to the server named by DISPLAY, with the few requests the checks need.
class Connection
{
public:
    Connection() : m_c(xcb_connect(nullptr, nullptr))
    {
        if (!xcb_connection_has_error(m_c))
            m_screen = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data;
    }
    ~Connection() { xcb_disconnect(m_c); }
    bool ok() const { return m_screen != nullptr; }
    xcb_connection_t *c() const { return m_c; }
    xcb_window_t root() const { return m_screen->root; }
    QSize screenSize() const
    {
        return QSize(m_screen->width_in_pixels, m_screen->height_in_pixels);
    }

    xcb_atom_t atom(const char *name)
    {
        if (auto it = m_atoms.constFind(name); it != m_atoms.constEnd())
            return *it;
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&free)> r(
            xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, 0, uint16_t(strlen(name)), name),
                                  nullptr),
            &free);
        const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
        m_atoms.insert(name, a);
        return a;
    }

    // A property as 32-bit values, or as bytes for 8-bit formats.
    QList<quint32> values(xcb_window_t w, const char *name, QByteArray *bytes = nullptr)
    {
        std::unique_ptr<xcb_get_property_reply_t, decltype(&free)> r(
            xcb_get_property_reply(
                m_c, xcb_get_property(m_c, 0, w, atom(name), XCB_GET_PROPERTY_TYPE_ANY, 0, 4096),
                nullptr),
            &free);
        QList<quint32> out;
        if (!r || r->type == XCB_ATOM_NONE)
            return out;
        const int len = xcb_get_property_value_length(r.get());
        const char *data = static_cast<const char *>(xcb_get_property_value(r.get()));
        if (r->format == 32) {
            for (int i = 0; i + 4 <= len; i += 4) {
                quint32 v;
                memcpy(&v, data + i, 4);
                out << v;
            }
        } else if (bytes) {
            *bytes = QByteArray(data, len);
        }
        if (r->format != 32)
            out << 0; // present
        return out;
    }
    bool has(xcb_window_t w, const char *name) { return !values(w, name).isEmpty(); }

    QList<xcb_window_t> children(xcb_window_t w)
    {
        std::unique_ptr<xcb_query_tree_reply_t, decltype(&free)> r(
            xcb_query_tree_reply(m_c, xcb_query_tree(m_c, w), nullptr), &free);
        QList<xcb_window_t> out;
        if (r) {
            const xcb_window_t *kids = xcb_query_tree_children(r.get());
            out = QList<xcb_window_t>(kids, kids + xcb_query_tree_children_length(r.get()));
        }
        return out;
    }
    bool viewable(xcb_window_t w)
    {
        std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&free)> r(
            xcb_get_window_attributes_reply(m_c, xcb_get_window_attributes(m_c, w), nullptr),
            &free);
        return r && r->map_state == XCB_MAP_STATE_VIEWABLE;
    }
    QRect rectOnScreen(xcb_window_t w)
    {
        std::unique_ptr<xcb_get_geometry_reply_t, decltype(&free)> g(
            xcb_get_geometry_reply(m_c, xcb_get_geometry(m_c, w), nullptr), &free);
        std::unique_ptr<xcb_translate_coordinates_reply_t, decltype(&free)> t(
            xcb_translate_coordinates_reply(m_c, xcb_translate_coordinates(m_c, w, root(), 0, 0),
                                            nullptr),
            &free);
        if (!g || !t)
            return QRect();
        return QRect(t->dst_x, t->dst_y, g->width, g->height);
    }
    QString title(xcb_window_t w)
    {
        QByteArray b;
        if (!values(w, "_NET_WM_NAME", &b).isEmpty())
            return QString::fromUtf8(b);
        values(w, "WM_NAME", &b);
        return QString::fromLatin1(b);
    }
    // Every window of the process that is on the screen and not one of a window manager's own.
    QList<xcb_window_t> windowsOf(qint64 pid, xcb_window_t w)
    {
        QList<xcb_window_t> out;
        for (xcb_window_t child : children(w)) {
            if (!viewable(child))
                continue;
            const QList<quint32> p = values(child, "_NET_WM_PID");
            if (!p.isEmpty() && qint64(p.first()) == pid)
                out << child;
            else
                out << windowsOf(pid, child);
        }
        return out;
    }

private:
    xcb_connection_t *m_c;
    xcb_screen_t *m_screen = nullptr;
    QHash<QByteArray, xcb_atom_t> m_atoms;
};

QString hex(quint32 w)
{
    return QStringLiteral("0x%1").arg(w, 0, 16);
}

} // namespace

XServer::~XServer()
{
    stop();
}

QStringList XServer::windowManagers()
{
    return {QStringLiteral("mutter"), QStringLiteral("metacity"), QStringLiteral("xfwm4"),
            QStringLiteral("openbox"), QStringLiteral("icewm")};
}

bool XServer::start(const QString &windowManager, const QByteArray &screen)
{
    // Two servers starting at once may race for the same display number and one of them
    // gives up; the loser simply tries again.
    bool up = false;
    for (int attempt = 0; attempt < 5 && !up; ++attempt) {
        up = startXvfb(screen);
        if (!up)
            ::usleep(200000);
    }
    if (!up) {
        m_error = QStringLiteral("Xvfb could not be started");
        return false;
    }
    if (windowManager.isEmpty())
        return true;
    if (!startWindowManager(windowManager) || !awaitManagedProbe()) {
        stop();
        return false;
    }
    return true;
}

void XServer::stop()
{
    endProcess(m_windowManager, true);
    endProcess(m_xvfb, false);
}

bool XServer::startXvfb(const QByteArray &screen)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return false;
    m_xvfb = ::fork();
    if (m_xvfb == 0) {
        ::close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.constData(),
                 "-nolisten", "tcp", "-noreset", static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    QByteArray number;
    char c;
    while (m_xvfb > 0) {
        const ssize_t n = ::read(fds[0], &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || c == '\n')
            break;
        number += c;
    }
    ::close(fds[0]);
    if (m_xvfb < 0)
        return false;
    if (number.isEmpty()) {
        endProcess(m_xvfb, false);
        return false;
    }
    m_display = ":" + number;
    ::setenv("DISPLAY", m_display.constData(), 1);
    return true;
}

bool XServer::startWindowManager(const QString &name)
{
    QList<QByteArray> args = {"dbus-run-session", "--", name.toLocal8Bit()};
    if (name == QLatin1String("mutter"))
        args << "--x11";
    args << "--replace";
    if (name == QLatin1String("mutter") || name == QLatin1String("metacity") ||
        name == QLatin1String("openbox"))
        args << "--sm-disable";
    std::vector<char *> argv;
    for (QByteArray &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    m_windowManager = ::fork();
    if (m_windowManager < 0) {
        m_error = QStringLiteral("fork failed");
        return false;
    }
    if (m_windowManager == 0) {
        ::setpgid(0, 0);
        // Window managers talk a lot on a bare server; PIRVEL_WM_LOG keeps it for a look.
        const char *log = std::getenv("PIRVEL_WM_LOG");
        const int out = ::open(log ? log : "/dev/null", O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (out >= 0) {
            ::dup2(out, 1);
            ::dup2(out, 2);
        }
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::setpgid(m_windowManager, m_windowManager);
    return true;
}

bool XServer::awaitManagedProbe()
{
    Connection x;
    if (!x.ok()) {
        m_error = QStringLiteral("no connection to %1").arg(QString::fromLatin1(m_display));
        return false;
    }
    const xcb_window_t probe = xcb_generate_id(x.c());
    xcb_create_window(x.c(), XCB_COPY_FROM_PARENT, probe, x.root(), 0, 0, 40, 30, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_map_window(x.c(), probe);
    xcb_flush(x.c());
    QElapsedTimer clock;
    clock.start();
    bool managed = false;
    while (!managed && clock.elapsed() < 30000) {
        int status = 0;
        if (::waitpid(m_windowManager, &status, WNOHANG) == m_windowManager) {
            m_windowManager = -1;
            m_error =
                QStringLiteral("the window manager ended at start-up (status %1)").arg(status);
            return false;
        }
        const QList<quint32> check = x.values(x.root(), "_NET_SUPPORTING_WM_CHECK");
        managed =
            !check.isEmpty() && x.values(check.first(), "_NET_SUPPORTING_WM_CHECK") == check &&
            x.has(probe, "WM_STATE") && x.values(x.root(), "_NET_CLIENT_LIST").contains(probe);
        if (!managed)
            QThread::msleep(50);
    }
    xcb_destroy_window(x.c(), probe);
    xcb_flush(x.c());
    if (!managed)
        m_error = QStringLiteral("the window manager did not manage a window within 30 s");
    return managed;
}

QStringList checkMainInFront(qint64 pid, const QString &mainTitle, bool mainHasTaskBarButton)
{
    Connection x;
    if (!x.ok())
        return {QStringLiteral("no connection to the X server")};
    xcb_window_t main = 0;
    xcb_window_t backdrop = 0;
    QRect backdropRect;
    for (xcb_window_t w : x.windowsOf(pid, x.root())) {
        const QRect r = x.rectOnScreen(w);
        if (x.title(w).startsWith(mainTitle))
            main = w;
        else if (r.width() * r.height() > backdropRect.width() * backdropRect.height())
            backdrop = w, backdropRect = r;
    }
    if (!main || !backdrop)
        return {QStringLiteral("the main window or the backdrop is not on the screen")};

    QStringList faults;
    const QRect mainRect = x.rectOnScreen(main);
    const bool managed = x.has(x.root(), "_NET_SUPPORTING_WM_CHECK");
    QRect area(QPoint(0, 0), x.screenSize());
    const QList<quint32> work = x.values(x.root(), "_NET_WORKAREA");
    if (managed && work.size() >= 4)
        area = QRect(int(work[0]), int(work[1]), int(work[2]), int(work[3]));
    if (!backdropRect.contains(area)) {
        faults << QStringLiteral("the backdrop lies at %1,%2 %3x%4, not over the screen")
                      .arg(backdropRect.x())
                      .arg(backdropRect.y())
                      .arg(backdropRect.width())
                      .arg(backdropRect.height());
    }

    if (managed) {
        const QList<quint32> active = x.values(x.root(), "_NET_ACTIVE_WINDOW");
        if (active.isEmpty() || active.first() != main)
            faults << QStringLiteral("the active window is %1, not the main window %2")
                          .arg(active.isEmpty() ? QStringLiteral("none") : hex(active.first()))
                          .arg(hex(main));
        const QList<quint32> listed = x.values(x.root(), "_NET_CLIENT_LIST");
        const xcb_atom_t skip = x.atom("_NET_WM_STATE_SKIP_TASKBAR");
        auto hasButton = [&](xcb_window_t w) {
            return listed.contains(w) && !x.values(w, "_NET_WM_STATE").contains(skip);
        };
        if (hasButton(backdrop))
            faults << QStringLiteral("the backdrop has a task-bar button");
        if (hasButton(main) != mainHasTaskBarButton)
            faults << (mainHasTaskBarButton
                           ? QStringLiteral("the main window has no task-bar button")
                           : QStringLiteral("the main window has a task-bar button"));
    }

    // Fill colour at three corners inside the main window, black in the screen around it.
    std::unique_ptr<xcb_get_image_reply_t, decltype(&free)> shot(
        xcb_get_image_reply(x.c(),
                            xcb_get_image(x.c(), XCB_IMAGE_FORMAT_Z_PIXMAP, x.root(), 0, 0,
                                          uint16_t(x.screenSize().width()),
                                          uint16_t(x.screenSize().height()), ~0u),
                            nullptr),
        &free);
    if (!shot || shot->depth != 24)
        return faults << QStringLiteral("no screenshot of depth 24");
    const uint8_t *pixels = xcb_get_image_data(shot.get());
    auto colourAt = [&](QPoint p) {
        const uint8_t *px = pixels + (p.y() * x.screenSize().width() + p.x()) * 4;
        return QColor(px[2], px[1], px[0]);
    };
    auto near = [](QColor a, QColor b) {
        return qAbs(a.red() - b.red()) < 12 && qAbs(a.green() - b.green()) < 12 &&
               qAbs(a.blue() - b.blue()) < 12;
    };
    const QRect inner = mainRect.adjusted(3, 3, -4, -4);
    for (QPoint p : {inner.topLeft(), inner.bottomLeft(), inner.bottomRight()}) {
        if (!near(colourAt(p), QColor(255, 255, 128)))
            faults << QStringLiteral("at %1,%2 in the main window the screen shows %3")
                          .arg(p.x())
                          .arg(p.y())
                          .arg(colourAt(p).name());
    }
    const QPoint middle = mainRect.center();
    for (QPoint p :
         {QPoint(mainRect.left() - 40, middle.y()), QPoint(mainRect.right() + 40, middle.y()),
          QPoint(middle.x(), mainRect.top() - 60)}) {
        if (!QRect(QPoint(0, 0), x.screenSize()).contains(p) || !near(colourAt(p), Qt::black))
            faults << QStringLiteral("at %1,%2 beside the main window the screen shows %3")
                          .arg(p.x())
                          .arg(p.y())
                          .arg(colourAt(p).name());
    }
    return faults;
}

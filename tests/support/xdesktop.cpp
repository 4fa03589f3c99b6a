// For the shell tests of the real programs:
//   xdesktop WM|none COMMAND [ARG...]    runs COMMAND on a private X server (XServer) with the
//                                        window manager WM and ends with its status;
//   xdesktop --check PID TITLE [--task-bar-button]
//                                        checkMainInFront on $DISPLAY; prints where the main
//                                        window's client area lies: X= Y= WIDTH= HEIGHT=.

#include "tests/support/xserver.h"

#include <cstdio>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
    if (argc >= 4 && std::strcmp(argv[1], "--check") == 0) {
        const bool button = argc > 4 && std::strcmp(argv[4], "--task-bar-button") == 0;
        QRect r;
        const QStringList faults = checkMainInFront(QByteArray(argv[2]).toLongLong(),
                                                    QString::fromUtf8(argv[3]), button, &r);
        for (const QString &f : faults)
            std::fprintf(stderr, "%s\n", f.toLocal8Bit().constData());
        std::printf("X=%d Y=%d WIDTH=%d HEIGHT=%d\n", r.x(), r.y(), r.width(), r.height());
        return faults.isEmpty() ? 0 : 1;
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: xdesktop WM|none COMMAND [ARG...]\n"
                             "       xdesktop --check PID TITLE [--task-bar-button]\n");
        return 2;
    }
    XServer x;
    if (!x.start(std::strcmp(argv[1], "none") == 0 ? QString() : QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "xdesktop: %s\n", x.error().toLocal8Bit().constData());
        return 1;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::execvp(argv[2], argv + 2);
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

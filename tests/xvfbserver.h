#pragma once

// A private X server for the tests that run a real program on a real display. It picks a free
// display number itself and goes away with the test, so nothing is needed from the machine.

#include <QByteArray>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

class XvfbServer
{
public:
    bool start(const char *screen = "1024x768x24")
    {
        // Two servers starting at once may race for the same display number and one of them
        // gives up; the loser simply tries again.
        for (int attempt = 0; attempt < 5; ++attempt) {
            if (tryStart(screen))
                return true;
            ::usleep(200000);
        }
        return false;
    }
    ~XvfbServer()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    QByteArray display() const { return m_display; }

private:
    bool tryStart(const char *screen)
    {
        int fds[2];
        if (::pipe(fds) != 0)
            return false;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen, "-nolisten",
                     "tcp", "-noreset", static_cast<char *>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        QByteArray number;
        char c;
        while (m_pid > 0) {
            const ssize_t n = ::read(fds[0], &c, 1);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0 || c == '\n')
                break;
            number += c;
        }
        ::close(fds[0]);
        if (m_pid < 0)
            return false;
        if (number.isEmpty()) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
            return false;
        }
        m_display = ":" + number;
        ::setenv("DISPLAY", m_display.constData(), 1);
        return true;
    }

    pid_t m_pid = -1;
    QByteArray m_display;
};

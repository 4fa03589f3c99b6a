// Loaded with LD_PRELOAD, this makes files under the folder named by ENOSPC_DIR behave as on a
// full disk. By default writes (write, pwrite) fail once a file would grow past
// ENOSPC_AFTER bytes (0 when unset): the write that crosses the limit is cut short, as a real
// disk fills part-way, and every later one fails with ENOSPC. With ENOSPC_SYNC=1 every write
// goes through and fsync and fdatasync fail instead, as a full quota or a network share reports
// the lack of room only when the data is flushed. With ENOSPC_DIR unset nothing is touched, so a
// test can turn the fault on and off by setting the variable in its own environment.
//
// With KILL_AT=n the process kills itself with SIGKILL just before its n-th step: a write,
// flush or truncation of a file under the folder named by KILL_DIR, or a link or rename. So a
// test sees what a kill -9 leaves between any two steps of a save.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Whether fd is a regular file under the folder named by `var`.
bool underFolder(int fd, const char *var = "ENOSPC_DIR")
{
    const char *dir = std::getenv(var);
    if (!dir || !*dir)
        return false;
    char link[64];
    char path[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = ::readlink(link, path, sizeof path - 1);
    if (n <= 0)
        return false;
    path[n] = '\0';
    const std::string prefix = std::string(dir) + "/";
    struct stat st;
    return std::strncmp(path, prefix.c_str(), prefix.size()) == 0 && ::fstat(fd, &st) == 0 &&
           S_ISREG(st.st_mode);
}

bool syncFails()
{
    const char *sync = std::getenv("ENOSPC_SYNC");
    return sync && std::strcmp(sync, "1") == 0;
}

// How many of `wanted` bytes may still go to fd at offset `at` (-1: its current offset); -1 when
// all may. The file counts as full once it would grow past the limit, wherever the write starts.
long allowance(int fd, size_t wanted, off_t at = -1)
{
    if (!wanted || syncFails() || !underFolder(fd))
        return -1;
    const char *after = std::getenv("ENOSPC_AFTER");
    const long limit = after ? std::atol(after) : 0;
    if (at < 0)
        at = ::lseek(fd, 0, SEEK_CUR);
    const long left = at >= 0 && limit > at ? limit - long(at) : 0;
    return long(wanted) < left ? long(wanted) : left;
}

template <typename Fn> Fn real(const char *name)
{
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

// Counts one step; the n-th one never returns.
void step()
{
    static long steps = 0;
    const char *at = std::getenv("KILL_AT");
    if (at && ++steps == std::atol(at))
        ::raise(SIGKILL);
}

void step(int fd)
{
    if (underFolder(fd, "KILL_DIR"))
        step();
}

ssize_t full()
{
    errno = ENOSPC;
    return -1;
}

} // namespace

extern "C" ssize_t write(int fd, const void *buf, size_t count)
{
    using Fn = ssize_t (*)(int, const void *, size_t);
    static const Fn next = real<Fn>("write");
    step(fd);
    const long granted = allowance(fd, count);
    return granted == 0 ? full() : next(fd, buf, granted < 0 ? count : size_t(granted));
}

extern "C" ssize_t pwrite(int fd, const void *buf, size_t count, off_t offset)
{
    using Fn = ssize_t (*)(int, const void *, size_t, off_t);
    static const Fn next = real<Fn>("pwrite");
    step(fd);
    const long granted = allowance(fd, count, offset);
    return granted == 0 ? full() : next(fd, buf, granted < 0 ? count : size_t(granted), offset);
}

extern "C" ssize_t pwrite64(int fd, const void *buf, size_t count, off64_t offset)
{
    return pwrite(fd, buf, count, off_t(offset));
}

extern "C" int fsync(int fd)
{
    static const auto next = real<int (*)(int)>("fsync");
    step(fd);
    return syncFails() && underFolder(fd) ? int(full()) : next(fd);
}

extern "C" int fdatasync(int fd)
{
    static const auto next = real<int (*)(int)>("fdatasync");
    step(fd);
    return syncFails() && underFolder(fd) ? int(full()) : next(fd);
}

extern "C" int ftruncate(int fd, off_t length)
{
    static const auto next = real<int (*)(int, off_t)>("ftruncate");
    step(fd);
    return next(fd, length);
}

extern "C" int rename(const char *from, const char *to)
{
    static const auto next = real<int (*)(const char *, const char *)>("rename");
    step();
    return next(from, to);
}

extern "C" int linkat(int fromDir, const char *from, int toDir, const char *to, int flags)
{
    using Fn = int (*)(int, const char *, int, const char *, int);
    static const Fn next = real<Fn>("linkat");
    step();
    return next(fromDir, from, toDir, to, flags);
}

// Loaded with LD_PRELOAD, this makes writes (write, writev, pwrite) to files under the folder
// named by ENOSPC_DIR fail as on a full disk once a file would grow past ENOSPC_AFTER bytes (0 when
// unset): the write that crosses the limit is cut short, as a real disk fills part-way, and every
// later one fails with ENOSPC. With ENOSPC_DIR unset every write goes through untouched, so a test
// can turn the fault on and off by setting the variable in its own environment.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

using WriteFn = ssize_t (*)(int, const void *, size_t);
using WritevFn = ssize_t (*)(int, const struct iovec *, int);
using PwriteFn = ssize_t (*)(int, const void *, size_t, off_t);

// How many of `wanted` bytes may still go to fd at offset `at` (-1: its current offset); -1 when
// fd is not a file under the folder. The file counts as full once it would grow past the limit,
// wherever the write starts.
long allowance(int fd, size_t wanted, off_t at = -1)
{
    const char *dir = std::getenv("ENOSPC_DIR");
    if (!dir || !*dir)
        return -1;
    char link[64];
    char path[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = ::readlink(link, path, sizeof path - 1);
    if (n <= 0)
        return -1;
    path[n] = '\0';
    const std::string prefix = std::string(dir) + "/";
    if (std::strncmp(path, prefix.c_str(), prefix.size()) != 0)
        return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    const char *after = std::getenv("ENOSPC_AFTER");
    const long limit = after ? std::atol(after) : 0;
    if (at < 0)
        at = ::lseek(fd, 0, SEEK_CUR);
    const long left = at >= 0 && limit > at ? limit - long(at) : 0;
    return long(wanted) < left ? long(wanted) : left;
}

ssize_t realWrite(int fd, const void *buf, size_t count)
{
    static const WriteFn real = reinterpret_cast<WriteFn>(dlsym(RTLD_NEXT, "write"));
    return real(fd, buf, count);
}

} // namespace

extern "C" ssize_t write(int fd, const void *buf, size_t count)
{
    const long granted = count ? allowance(fd, count) : -1;
    if (granted < 0)
        return realWrite(fd, buf, count);
    if (granted == 0) {
        errno = ENOSPC;
        return -1;
    }
    return realWrite(fd, buf, size_t(granted));
}

extern "C" ssize_t writev(int fd, const struct iovec *iov, int iovcnt)
{
    static const WritevFn real = reinterpret_cast<WritevFn>(dlsym(RTLD_NEXT, "writev"));
    size_t total = 0;
    for (int i = 0; i < iovcnt; ++i)
        total += iov[i].iov_len;
    const long granted = total ? allowance(fd, total) : -1;
    if (granted < 0)
        return real(fd, iov, iovcnt);
    if (granted == 0) {
        errno = ENOSPC;
        return -1;
    }
    std::string head;
    for (int i = 0; i < iovcnt && long(head.size()) < granted; ++i)
        head.append(static_cast<const char *>(iov[i].iov_base), iov[i].iov_len);
    head.resize(size_t(granted));
    return realWrite(fd, head.data(), head.size());
}

extern "C" ssize_t pwrite(int fd, const void *buf, size_t count, off_t offset)
{
    static const PwriteFn real = reinterpret_cast<PwriteFn>(dlsym(RTLD_NEXT, "pwrite"));
    const long granted = count ? allowance(fd, count, offset) : -1;
    if (granted < 0)
        return real(fd, buf, count, offset);
    if (granted == 0) {
        errno = ENOSPC;
        return -1;
    }
    return real(fd, buf, size_t(granted), offset);
}

extern "C" ssize_t pwrite64(int fd, const void *buf, size_t count, off64_t offset)
{
    return pwrite(fd, buf, count, off_t(offset));
}

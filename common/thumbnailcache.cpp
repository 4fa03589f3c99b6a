#include "common/thumbnailcache.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ThumbnailCache {
namespace {

// The standard entry sizes: an entry fits a square of this edge, keeping its proportions.
struct Folder
{
    const char *name;
    int edge;
};
constexpr Folder Folders[] = {
    {"normal", 128}, {"large", 256}, {"x-large", 512}, {"xx-large", 1024}};

QString cacheRoot()
{
    // A relative XDG_CACHE_HOME is not valid and is ignored, as every desktop program does.
    const QByteArray xdg = qgetenv("XDG_CACHE_HOME");
    if (xdg.startsWith('/'))
        return QFile::decodeName(xdg) + QStringLiteral("/thumbnails");
    const QByteArray home = qgetenv("HOME");
    if (home.startsWith('/'))
        return QFile::decodeName(home) + QStringLiteral("/.cache/thumbnails");
    return QString();
}

QByteArray uriOf(const QString &path)
{
    return QUrl::fromLocalFile(path).toEncoded();
}

QString entryName(const QByteArray &uri)
{
    return QString::fromLatin1(QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex()) +
           QStringLiteral(".png");
}

// Only a regular file, and an open that never waits: the cache is the user's, but whatever
// lies there must not hang a start.
bool openRegular(QFile &file)
{
    const int fd = ::open(QFile::encodeName(file.fileName()).constData(),
                          O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

// Each missing folder on the way to `path`, private to the user as desktops make them.
bool makeFolders(const QString &path)
{
    const QByteArray p = QFile::encodeName(path);
    for (qsizetype at = 1; at <= p.size(); ++at) {
        if (at < p.size() && p[at] != '/')
            continue;
        if (::mkdir(p.left(at).constData(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st;
    return ::stat(p.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

} // namespace

bool mayHold(const QString &path)
{
    const QString root = cacheRoot();
    if (root.isEmpty())
        return false;
    const QString name = entryName(uriOf(path));
    return std::any_of(std::begin(Folders), std::end(Folders), [&](const Folder &folder) {
        struct stat st;
        const QString entry =
            root + QLatin1Char('/') + QLatin1String(folder.name) + QLatin1Char('/') + name;
        return ::stat(QFile::encodeName(entry).constData(), &st) == 0;
    });
}

QImage find(const QString &path, Stamp stamp, QSize box)
{
    const QString root = cacheRoot();
    if (root.isEmpty() || box.isEmpty())
        return QImage();
    const QByteArray uri = uriOf(path);
    const QString name = entryName(uri);
    for (const Folder &folder : Folders) {
        if (folder.edge < std::max(box.width(), box.height()))
            continue;
        QFile file(QStringLiteral("%1/%2/%3").arg(root, QLatin1String(folder.name), name));
        if (!openRegular(file))
            continue;
        QImageReader reader(&file, "png");
        // The size comes first, so an oversized file that only claims to be an entry is never
        // decoded. The keys are read from the image: the reader's own text() splits them at
        // their colons.
        const QSize size = reader.size();
        if (size.width() < box.width() || size.height() < box.height() ||
            size.width() > folder.edge || size.height() > folder.edge)
            continue;
        const QImage image = reader.read();
        bool timeRead = false;
        if (image.size() != size || image.text(QStringLiteral("Thumb::URI")).toLatin1() != uri ||
            image.text(QStringLiteral("Thumb::MTime")).toLongLong(&timeRead) != stamp.modified ||
            !timeRead)
            continue;
        const QString recordedSize = image.text(QStringLiteral("Thumb::Size"));
        if (recordedSize.isEmpty() || recordedSize.toLongLong() == stamp.size)
            return image;
    }
    return QImage();
}

QSize entrySize(QSize picture, QSize box)
{
    for (const Folder &folder : Folders) {
        if (picture.width() <= folder.edge && picture.height() <= folder.edge)
            break;
        const QSize reduced = picture.scaled(folder.edge, folder.edge, Qt::KeepAspectRatio);
        if (reduced.width() >= box.width() && reduced.height() >= box.height())
            return reduced;
    }
    return QSize();
}

void store(const QString &path, Stamp stamp, QSize picture, const QImage &reduced)
{
    const QString root = cacheRoot();
    const int edge = std::max(reduced.width(), reduced.height());
    const Folder *folder = std::find_if(std::begin(Folders), std::end(Folders),
                                        [edge](const Folder &f) { return f.edge == edge; });
    if (root.isEmpty() || folder == std::end(Folders))
        return;
    const QString dir = root + QLatin1Char('/') + QLatin1String(folder->name);
    if (!makeFolders(dir))
        return;

    // The keys go on the image, not the writer: the writer would split them at their colons.
    QImage entry = reduced.convertToFormat(reduced.hasAlphaChannel() ? QImage::Format_ARGB32
                                                                     : QImage::Format_RGB32);
    const QByteArray uri = uriOf(path);
    entry.setText(QStringLiteral("Thumb::URI"), QString::fromLatin1(uri));
    entry.setText(QStringLiteral("Thumb::MTime"), QString::number(stamp.modified));
    entry.setText(QStringLiteral("Thumb::Size"), QString::number(stamp.size));
    entry.setText(QStringLiteral("Thumb::Image::Width"), QString::number(picture.width()));
    entry.setText(QStringLiteral("Thumb::Image::Height"), QString::number(picture.height()));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    // Written while the first sign opens: a light compression costs a third of the default's
    // time for a file an eighth larger.
    QImageWriter writer(&buffer, "png");
    writer.setQuality(50);
    if (!writer.write(entry))
        return;

    // Written beside its place and renamed into it, so that a reader (this kit, a file manager)
    // sees the whole entry or none; mkostemp makes the file readable by the user alone.
    const QByteArray target = QFile::encodeName(dir + QLatin1Char('/') + entryName(uri));
    QByteArray temporary = target + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return;
    const bool written = writeAll(fd, png);
    if (::close(fd) != 0 || !written || ::rename(temporary.constData(), target.constData()) != 0)
        ::unlink(temporary.constData());
}

} // namespace ThumbnailCache
